#include "qm_controllerAssignments.h"

#include <algorithm>
#include <cstdio>
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

qm_controllerAssignments::qm_controllerAssignments(std::string filePath) : path(std::move(filePath)), slots(kSlots) {
    for (auto& h : hazards) h.store(-1);
    for (auto& c : claimed) c.store(false);
    changes.reserve(kQueueCapacity);
}

qm_controllerAssignments::~qm_controllerAssignments() {
    try {
        if (hasPendingWrite()) {
            std::lock_guard<std::mutex> control(controlMutex);
            collectQueuedBinds();
            writeChanges(Attempt::kLastChance);
        }
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

template <class Edit>
bool qm_controllerAssignments::change(Role role, Edit edit, uint64_t* version) {
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
    const bool added = change(
        kAudio, [&](Table& t) { return t.bind(controller, parameter); }, &version);
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
    change(
        kControl,
        [&](Table& t) {
            t.removeParameter(parameter);
            return true;
        },
        &version);
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

bool qm_controllerAssignments::writeChanges(Attempt attempt) {
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
        // Called from a host's call: wait briefly, and not at all while the
        // holder that kept the lock last time may still have it.
        const bool lastChance = attempt == Attempt::kLastChance;
        platform::SettingsLock lock(path, lockWasBusy && !lastChance ? std::chrono::milliseconds(0) : kLockWait);
        lockWasBusy = lock.busy();
        if (!lock.busy() || lastChance) {
            if (lock.held()) platform::removeStaleTemporaries(path);
            std::string text;
            const platform::ReadResult got = platform::readRegularFile(path, kMaxFileBytes + 1, text);
            // A longer file holds more than we read; rewriting it would cut it.
            if (got == platform::ReadResult::kMissing ||
                (got == platform::ReadResult::kRead && text.size() <= kMaxFileBytes)) {
                FileText file(text);
                for (const FileChange& c : changes) {
                    if (c.kind == FileChange::kBind) file.bind(c.controller, c.parameter);
                    else file.removeParameter(c.parameter);
                }
                if (mergeWholeTable) {
                    const Table& own = slots[static_cast<size_t>(acquire(kControl))];
                    for (uint32_t i = 0; i < own.count; ++i)
                        file.bind(own.entries[i].controller, own.entries[i].parameter);
                    release(kControl);
                }
                const std::string edited = file.text();
                written = edited == text || writeFile(path, edited);
            }
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
    // No lock: files are replaced in one step, and instance creation must not
    // wait for another process.
    if (path.empty() || !readFile(path, *fresh)) return false;
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

namespace {

#if defined(_WIN32)
constexpr const char* kSystemNewline = "\r\n";  // as Windows' text files have it
#else
constexpr const char* kSystemNewline = "\n";
#endif

size_t byteOrderMarkLength(const char* text, size_t size) {
    return size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

// The line that starts at `at`: its content runs to *contentEnd, the next line
// starts at *next; returns its line end.
const char* splitLine(const char* text, size_t size, size_t at, size_t* contentEnd, size_t* next) {
    size_t i = at;
    while (i < size && text[i] != '\n' && text[i] != '\r') ++i;
    *contentEnd = i;
    if (i == size) {
        *next = i;
        return "";
    }
    if (text[i] == '\n') {
        *next = i + 1;
        return "\n";
    }
    if (i + 1 < size && text[i + 1] == '\n') {
        *next = i + 2;
        return "\r\n";
    }
    *next = i + 1;
    return "\r";
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

size_t skipBlanks(const char* s, size_t n, size_t i) {
    while (i < n && isBlank(s[i])) ++i;
    return i;
}

// A decimal integer that fits 32 bits, with an optional sign, from s[*i] on.
bool scanInteger(const char* s, size_t n, size_t* i, int32_t* out) {
    size_t k = *i;
    const bool negative = k < n && s[k] == '-';
    if (k < n && (s[k] == '-' || s[k] == '+')) ++k;
    const size_t digits = k;
    int64_t value = 0;
    for (; k < n && s[k] >= '0' && s[k] <= '9'; ++k) {
        value = value * 10 + (s[k] - '0');
        if (value > int64_t{INT32_MAX} + 1) return false;
    }
    if (k == digits) return false;
    if (negative) value = -value;
    if (value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    *i = k;
    return true;
}

// The pair a line's content holds, if it holds one to bind.
bool pairOnLine(const char* s, size_t n, qm_controllerAssignment* pair) {
    int32_t parameter = 0, controller = 0;
    // Files joined together keep their marks; a line is read the same wherever
    // it ends up (a write may remove the lines in front of it).
    size_t i = skipBlanks(s, n, byteOrderMarkLength(s, n));
    if (!scanInteger(s, n, &i, &parameter)) return false;
    const size_t gap = i;
    i = skipBlanks(s, n, i);
    if (i == gap || !scanInteger(s, n, &i, &controller)) return false;
    i = skipBlanks(s, n, i);
    if (i != n && s[i] != '#') return false;
    // Any parameter index is kept; the controller keeps its low 8 bits. -1
    // marks a pair to skip, also when it is what those bits give (255), or the
    // entry would be written back as a pair the next read skips.
    *pair = {static_cast<int8_t>(static_cast<uint8_t>(controller & 0xFF)), parameter};
    return pair->controller != -1;
}

}  // namespace

void qm_controllerAssignments::parse(const char* text, size_t size, Table& table) {
    table.count = 0;
    size_t at = byteOrderMarkLength(text, size);
    while (at < size && table.count < kCapacity) {
        size_t end = 0, next = 0;
        splitLine(text, size, at, &end, &next);
        qm_controllerAssignment entry{};
        const bool holdsPair = pairOnLine(text + at, end - at, &entry);
        at = next;
        if (!holdsPair) continue;
        if (std::find(table.entries, table.entries + table.count, entry) != table.entries + table.count) continue;
        uint32_t place = table.count;
        while (place > 0 && table.entries[place - 1].controller > entry.controller) --place;
        std::memmove(&table.entries[place + 1], &table.entries[place], (table.count - place) * sizeof entry);
        table.entries[place] = entry;
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
    std::string text;
    if (platform::readRegularFile(filePath, kMaxFileBytes, text) != platform::ReadResult::kRead) return false;
    // A cut at the limit must not turn "1 23" into "1 2": an unfinished last line is dropped.
    size_t size = text.size();
    if (size == kMaxFileBytes)
        while (size > 0 && text[size - 1] != '\n' && text[size - 1] != '\r') --size;
    parse(text.data(), size, table);
    return true;
}

bool qm_controllerAssignments::writeFile(const std::string& filePath, std::string_view text) {
    // Binary: kept lines keep their own line ends.
    return platform::writeWholeFile(filePath, text);
}

qm_controllerAssignments::FileText::FileText(std::string_view text) : newline(kSystemNewline) {
    const size_t mark = byteOrderMarkLength(text.data(), text.size());
    byteOrderMark = text.substr(0, mark);
    bool newlineSeen = false;
    for (size_t at = mark; at < text.size();) {
        size_t end = 0, next = 0;
        Line line{};
        line.ending = splitLine(text.data(), text.size(), at, &end, &next);
        line.content = text.substr(at, end - at);
        line.holdsPair = pairOnLine(line.content.data(), line.content.size(), &line.pair);
        if (line.holdsPair) ++holders[key(line.pair)];
        if (!newlineSeen && *line.ending) {
            newline = line.ending;
            newlineSeen = true;
        }
        lines.push_back(std::move(line));
        at = next;
    }
}

uint64_t qm_controllerAssignments::FileText::key(qm_controllerAssignment pair) {
    return uint64_t{static_cast<uint8_t>(pair.controller)} << 32 | static_cast<uint32_t>(pair.parameter);
}

void qm_controllerAssignments::FileText::forget(const Line& line) {
    if (!line.holdsPair) return;
    const auto held = holders.find(key(line.pair));
    if (--held->second == 0) holders.erase(held);
}

bool qm_controllerAssignments::FileText::bind(int8_t controller, int32_t parameter) {
    const qm_controllerAssignment pair{controller, parameter};
    auto holds = [&](const Line& line) { return line.holdsPair && line.pair == pair; };
    const auto first = std::find_if(lines.begin(), lines.end(), holds);
    std::string content;
    if (first != lines.end()) {
        const bool followed = std::any_of(first + 1, lines.end(), [&](const Line& line) {
            return line.holdsPair && line.pair.controller == controller && line.pair.parameter != parameter;
        });
        if (!followed) return true;
        content = first->content;
        for (const Line& line : lines)
            if (holds(line)) forget(line);
        lines.erase(std::remove_if(lines.begin(), lines.end(), holds), lines.end());
    } else {
        if (holders.size() >= kCapacity) return false;
        content = std::to_string(parameter) + " " + std::to_string(controller);
    }
    if (!lines.empty() && !*lines.back().ending) lines.back().ending = newline;
    lines.push_back({std::move(content), newline, true, pair});
    ++holders[key(pair)];
    return true;
}

void qm_controllerAssignments::FileText::removeParameter(int32_t parameter) {
    auto holds = [&](const Line& line) { return line.holdsPair && line.pair.parameter == parameter; };
    for (const Line& line : lines)
        if (holds(line)) forget(line);
    lines.erase(std::remove_if(lines.begin(), lines.end(), holds), lines.end());
}

std::string qm_controllerAssignments::FileText::text() const {
    std::string text = byteOrderMark;
    for (const Line& line : lines) {
        text += line.content;
        text += line.ending;
    }
    return text;
}
