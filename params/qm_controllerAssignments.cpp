#include "qm_controllerAssignments.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "SettingsFolder.h"

bool qm_controllerAssignments::Table::bind(int8_t controller, int32_t parameter) {
    for (uint32_t i = 0; i < count; ++i) {
        if (entries[i].controller == controller && entries[i].parameter == parameter) {
            std::memmove(&entries[i], &entries[i + 1], (count - i - 1) * sizeof entries[0]);
            --count;
            break;
        }
    }
    if (count == kCapacity) return false;
    // After the last entry whose controller is not greater.
    uint32_t at = 0;
    while (at < count && entries[at].controller <= controller) ++at;
    std::memmove(&entries[at + 1], &entries[at], (count - at) * sizeof entries[0]);
    entries[at] = {controller, parameter};
    ++count;
    return true;
}

void qm_controllerAssignments::Table::removeParameter(int32_t parameter) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (entries[i].parameter != parameter) entries[kept++] = entries[i];
    count = kept;
}

qm_controllerAssignments::qm_controllerAssignments(std::string filePath)
    : path(std::move(filePath)), slots(kSlots) {
    for (auto& h : hazards) h.store(-1);
    for (auto& c : claimed) c.store(false);
    changes.reserve(kQueueCapacity);
}

qm_controllerAssignments::~qm_controllerAssignments() {
    try {
        writePending();
    } catch (...) {
        // Out of memory while closing: the bindings stay in the old file.
    }
}

int qm_controllerAssignments::acquire(Role role) {
    // Announce the slot, then make sure it is still the published one: a writer
    // that retired it meanwhile may not have seen the announcement.
    for (;;) {
        const int slot = published.load();
        hazards[role].store(slot);
        if (published.load() == slot) return slot;
    }
}

int qm_controllerAssignments::claimFreeSlot() {
    for (;;) {
        for (int s = 0; s < kSlots; ++s) {
            if (claimed[s].exchange(true)) continue;
            bool inUse = published.load() == s;
            for (const auto& h : hazards) inUse = inUse || h.load() == s;
            if (!inUse) return s;
            claimed[s].store(false);
        }
        // Unreachable with the slot count above; spinning here would only mean
        // that every slot is held, for an instant, by the other threads.
    }
}

template <class Edit> bool qm_controllerAssignments::change(Role role, Edit edit, uint64_t* version) {
    for (;;) {
        const int source = acquire(role);
        const int target = claimFreeSlot();
        Table& copy = slots[static_cast<size_t>(target)];
        const Table& original = slots[static_cast<size_t>(source)];
        copy.version = original.version + 1;
        copy.count = original.count;
        std::memcpy(copy.entries, original.entries, original.count * sizeof(qm_controllerAssignment));
        const bool edited = edit(copy);
        int expected = source;
        // The source stays announced until here, so it cannot be reused and
        // republished under our feet (no ABA).
        const bool swapped = !edited || published.compare_exchange_strong(expected, target);
        if (version) *version = copy.version;
        claimed[target].store(false);
        release(role);
        if (swapped) return edited;
    }
}

bool qm_controllerAssignments::bind(int8_t controller, int32_t parameter) {
    audioPublishing.store(true);
    uint64_t version = 0;
    const bool added = change(kAudio, [&](Table& t) { return t.bind(controller, parameter); }, &version);
    if (added) {
        const uint32_t head = queueHead.load(std::memory_order_relaxed);
        if (head - queueTail.load(std::memory_order_acquire) < kQueueCapacity) {
            queue[head % kQueueCapacity] = {FileChange::kBind, controller, parameter, version};
            queueHead.store(head + 1, std::memory_order_release);
        } else {
            queueOverflowed.store(true);
        }
    }
    audioPublishing.store(false);
    return added;
}

void qm_controllerAssignments::collectQueuedBinds() {
    const uint32_t tail = queueTail.load(std::memory_order_relaxed);
    const uint32_t head = queueHead.load(std::memory_order_acquire);
    for (uint32_t i = tail; i != head; ++i) changes.push_back(queue[i % kQueueCapacity]);
    queueTail.store(head, std::memory_order_release);
    if (queueOverflowed.exchange(false)) mergeWholeTable = true;
    // The audio thread's binds and this thread's removals, in the order the
    // table saw them.
    std::stable_sort(changes.begin(), changes.end(),
                     [](const FileChange& a, const FileChange& b) { return a.version < b.version; });
}

void qm_controllerAssignments::removeParameter(int32_t parameter) {
    std::lock_guard<std::mutex> control(controlMutex);
    uint64_t version = 0;
    change(kControl, [&](Table& t) {
        t.removeParameter(parameter);
        return true;
    }, &version);
    // Every bind published before this removal must be queued before it is
    // ordered against it; the audio thread is at most a table copy away.
    while (audioPublishing.load()) std::this_thread::yield();
    changes.push_back({FileChange::kRemove, 0, parameter, version});
    collectQueuedBinds();
    writeChanges();
}

bool qm_controllerAssignments::hasPendingWrite() const {
    return controlPending.load() || queueHead.load() != queueTail.load() || queueOverflowed.load();
}

bool qm_controllerAssignments::writePending() {
    if (!hasPendingWrite()) return true;
    std::lock_guard<std::mutex> control(controlMutex);
    collectQueuedBinds();
    return writeChanges();
}

bool qm_controllerAssignments::writeChanges() {
    if (changes.empty() && !mergeWholeTable) {
        controlPending.store(false);
        return true;
    }
    if (path.empty()) {
        // Nowhere to keep them: the table lives in memory only.
        changes.clear();
        mergeWholeTable = false;
        controlPending.store(false);
        return true;
    }
    bool written = false;
    {
        platform::SettingsLock lock(path);
        platform::removeStaleTemporaries(path);
        auto file = std::make_unique<Table>();
        const bool readable = readFile(path, *file) || !platform::fileExists(path);
        if (readable) {
            for (const FileChange& c : changes) {
                if (c.kind == FileChange::kBind) file->bind(c.controller, c.parameter);
                else file->removeParameter(c.parameter);
            }
            if (mergeWholeTable) {
                const Table& own = slots[static_cast<size_t>(acquire(kControl))];
                for (uint32_t i = 0; i < own.count; ++i) file->bind(own.entries[i].controller, own.entries[i].parameter);
                release(kControl);
            }
            written = writeFile(path, file->entries, file->count);
        }
    }
    if (written) {
        changes.clear();
        mergeWholeTable = false;
    }
    controlPending.store(!written);
    return written;
}

bool qm_controllerAssignments::read() {
    std::lock_guard<std::mutex> control(controlMutex);
    auto fresh = std::make_unique<Table>();
    if (path.empty()) return false;
    {
        platform::SettingsLock lock(path);
        if (!readFile(path, *fresh)) return false;
    }
    change(kControl, [&](Table& t) {
        t.count = fresh->count;
        std::memcpy(t.entries, fresh->entries, fresh->count * sizeof t.entries[0]);
        return true;
    });
    return true;
}

std::vector<qm_controllerAssignment> qm_controllerAssignments::entries() {
    std::lock_guard<std::mutex> control(controlMutex);
    const Table& t = slots[static_cast<size_t>(acquire(kControl))];
    std::vector<qm_controllerAssignment> copy(t.entries, t.entries + t.count);
    release(kControl);
    return copy;
}

static bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

// A whole decimal integer that fits 32 bits, with an optional sign.
static bool parseInteger(const char* text, size_t length, int32_t* out) {
    size_t i = 0;
    const bool negative = length > 0 && text[0] == '-';
    if (length > 0 && (text[0] == '-' || text[0] == '+')) ++i;
    if (i == length) return false;
    int64_t value = 0;
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) return false;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

void qm_controllerAssignments::parse(const char* text, size_t size, Table& table) {
    table.count = 0;
    bool haveFirst = false;
    int32_t first = 0;
    size_t i = 0;
    while (i < size && table.count < kCapacity) {
        while (i < size && isSeparator(text[i])) ++i;
        const size_t start = i;
        while (i < size && !isSeparator(text[i])) ++i;
        if (start == i) break;
        int32_t value = 0;
        // Anything else (a word, "12abc", a number too large) ends the file.
        if (!parseInteger(text + start, i - start, &value)) break;
        if (!haveFirst) {
            first = value;
            haveFirst = true;
            continue;
        }
        haveFirst = false;
        // Any parameter index is kept; the controller keeps its low 8 bits. -1
        // marks a pair to skip, also when it is what those bits give (255), or
        // the entry would be written back as a pair the next read skips.
        const qm_controllerAssignment entry{static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF)), first};
        if (entry.controller == -1) continue;
        if (std::find(table.entries, table.entries + table.count, entry) != table.entries + table.count) continue;
        uint32_t at = table.count;
        while (at > 0 && table.entries[at - 1].controller > entry.controller) --at;
        std::memmove(&table.entries[at + 1], &table.entries[at], (table.count - at) * sizeof entry);
        table.entries[at] = entry;
        ++table.count;
    }
}

std::string qm_controllerAssignments::format(const qm_controllerAssignment* entries, uint32_t count) {
    std::string text;
    char line[32];
    for (uint32_t i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%d %d\n", static_cast<int>(entries[i].parameter),
                      static_cast<int>(entries[i].controller));
        text += line;
    }
    return text;
}

bool qm_controllerAssignments::readFile(const std::string& filePath, Table& table) {
    std::FILE* f = std::fopen(filePath.c_str(), "r");
    if (!f) return false;
    std::unique_ptr<char[]> text(new char[kMaxFileBytes]);
    const size_t got = std::fread(text.get(), 1, kMaxFileBytes, f);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) return false;
    // A cut at the limit must not turn "123" into "12": the last token is dropped.
    size_t size = got;
    if (got == kMaxFileBytes)
        while (size > 0 && !isSeparator(text[size - 1])) --size;
    parse(text.get(), size, table);
    return true;
}

bool qm_controllerAssignments::writeFile(const std::string& filePath, const qm_controllerAssignment* entries,
                                         uint32_t count) {
    const std::string text = format(entries, count);
    const std::string temporary = platform::temporaryNameFor(filePath);
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = ok && platform::syncFile(f);
    ok = std::fclose(f) == 0 && ok;
    ok = ok && platform::replaceFile(temporary, filePath);
    if (!ok) std::remove(temporary.c_str());
    return ok;
}
