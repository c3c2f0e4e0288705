// The assignments file as any bytes: parsed without overflow, the table ordered
// by controller and free of duplicate pairs, and what is written reads back.
#include <cstdlib>
#include <memory>

#include "qm_controllerAssignments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto table = std::make_unique<qm_controllerAssignments::Table>();
    static auto again = std::make_unique<qm_controllerAssignments::Table>();
    qm_controllerAssignments::parse(reinterpret_cast<const char*>(data), size, *table);
    if (table->count > qm_controllerAssignments::kCapacity) std::abort();
    for (uint32_t i = 1; i < table->count; ++i)
        if (table->entries[i - 1].controller > table->entries[i].controller) std::abort();
    const std::string text = qm_controllerAssignments::format(table->entries, table->count);
    qm_controllerAssignments::parse(text.data(), text.size(), *again);
    if (again->count != table->count) std::abort();
    for (uint32_t i = 0; i < table->count; ++i)
        if (!(again->entries[i] == table->entries[i])) std::abort();
    return 0;
}
