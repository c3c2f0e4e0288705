// The assignments file as any bytes: parsed without overflow, the table ordered
// by controller and free of duplicate pairs, what is written reads back, and a
// write's edit of the text (a learn, then a cancel) reads back as the same
// edit of the table.
#include <cstdlib>
#include <memory>

#include "qm_controllerAssignments.h"

using Table = qm_controllerAssignments::Table;

static void requireEqual(const Table& a, const Table& b) {
    if (a.count != b.count) std::abort();
    for (uint32_t i = 0; i < a.count; ++i)
        if (!(a.entries[i] == b.entries[i])) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto table = std::make_unique<Table>();
    static auto again = std::make_unique<Table>();
    qm_controllerAssignments::parse(reinterpret_cast<const char*>(data), size, *table);
    if (table->count > qm_controllerAssignments::kCapacity) std::abort();
    for (uint32_t i = 1; i < table->count; ++i)
        if (table->entries[i - 1].controller > table->entries[i].controller) std::abort();
    const std::string text = qm_controllerAssignments::format(table->entries, table->count);
    qm_controllerAssignments::parse(text.data(), text.size(), *again);
    requireEqual(*again, *table);

    // A full table stops reading, and pairs beyond it come into view once
    // others go: the edits agree only below that.
    if (size < 2 || table->count + 1 >= qm_controllerAssignments::kCapacity) return 0;
    const auto controller = static_cast<int8_t>(data[0] & 0x7F);
    const int32_t parameter = data[1] % 8, cancelled = data[1] / 8 % 8;
    qm_controllerAssignments::FileText file(std::string_view(reinterpret_cast<const char*>(data), size));
    file.bind(controller, parameter);
    file.removeParameter(cancelled);
    table->bind(controller, parameter);
    table->removeParameter(cancelled);
    const std::string edited = file.text();
    qm_controllerAssignments::parse(edited.data(), edited.size(), *again);
    requireEqual(*again, *table);
    return 0;
}
