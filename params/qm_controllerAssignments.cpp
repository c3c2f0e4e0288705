#include "qm_controllerAssignments.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "SettingsFolder.h"

qm_controllerAssignments::qm_controllerAssignments(std::string filePath)
    : path(std::move(filePath)), slots(kSlots) {
    for (auto& h : hazards) h.store(-1);
    for (auto& c : claimed) c.store(false);
    try {
        writer = std::thread([this] { writerLoop(); });
    } catch (...) {
        // No thread to be had: changes are then written by the control thread
        // on its next call (flush, removeParameter) and at destruction.
    }
}

qm_controllerAssignments::~qm_controllerAssignments() {
    if (writer.joinable()) {
        {
            std::lock_guard<std::mutex> lock(writerMutex);
            stopping = true;
        }
        writerWake.notify_one();
        writer.join();
    } else {
        writeLatest();
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

template <class Edit> bool qm_controllerAssignments::change(Role role, Edit edit) {
    for (;;) {
        const int source = acquire(role);
        const int target = claimFreeSlot();
        Table& copy = slots[static_cast<size_t>(target)];
        const Table& original = slots[static_cast<size_t>(source)];
        copy.count = original.count;
        std::memcpy(copy.entries, original.entries, original.count * sizeof(qm_controllerAssignment));
        const bool edited = edit(copy);
        int expected = source;
        // The source stays announced until here, so it cannot be reused and
        // republished under our feet (no ABA).
        const bool swapped = !edited || published.compare_exchange_strong(expected, target);
        claimed[target].store(false);
        release(role);
        if (swapped) return edited;
    }
}

bool qm_controllerAssignments::bind(int8_t controller, int32_t parameter) {
    const bool added = change(kAudio, [&](Table& t) {
        // Remove the first entry of this pair, if any.
        for (uint32_t i = 0; i < t.count; ++i) {
            if (t.entries[i].controller == controller && t.entries[i].parameter == parameter) {
                std::memmove(&t.entries[i], &t.entries[i + 1], (t.count - i - 1) * sizeof t.entries[0]);
                --t.count;
                break;
            }
        }
        if (t.count == kCapacity) return false;
        // After the last entry whose controller is not greater.
        uint32_t at = 0;
        while (at < t.count && t.entries[at].controller <= controller) ++at;
        std::memmove(&t.entries[at + 1], &t.entries[at], (t.count - at) * sizeof t.entries[0]);
        t.entries[at] = {controller, parameter};
        ++t.count;
        return true;
    });
    requestWrite();
    return added;
}

void qm_controllerAssignments::removeParameter(int32_t parameter) {
    std::lock_guard<std::mutex> control(controlMutex);
    change(kControl, [&](Table& t) {
        uint32_t kept = 0;
        for (uint32_t i = 0; i < t.count; ++i)
            if (t.entries[i].parameter != parameter) t.entries[kept++] = t.entries[i];
        t.count = kept;
        return true;
    });
    requestWrite();
    flush();
}

bool qm_controllerAssignments::read() {
    std::lock_guard<std::mutex> control(controlMutex);
    auto fresh = std::make_unique<Table>();
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

void qm_controllerAssignments::requestWrite() {
    // The audio thread only counts; the writer notices within its polling
    // interval even without a wake-up (no lock is taken here).
    changeGeneration.fetch_add(1);
}

void qm_controllerAssignments::flush() {
    const uint64_t wanted = changeGeneration.load();
    if (!writer.joinable()) {
        writeLatest();
        return;
    }
    std::unique_lock<std::mutex> lock(writerMutex);
    writerWake.notify_one();
    writerDone.wait(lock, [&] { return writtenGeneration >= wanted; });
}

void qm_controllerAssignments::writeLatest() {
    const uint64_t generation = changeGeneration.load();
    std::vector<qm_controllerAssignment> snapshot;
    {
        const Table& t = slots[static_cast<size_t>(acquire(kWriter))];
        snapshot.assign(t.entries, t.entries + t.count);
        release(kWriter);
    }
    if (!path.empty()) writeFile(path, snapshot.data(), static_cast<uint32_t>(snapshot.size()));
    std::lock_guard<std::mutex> lock(writerMutex);
    if (generation > writtenGeneration) writtenGeneration = generation;
}

void qm_controllerAssignments::writerLoop() {
    std::unique_lock<std::mutex> lock(writerMutex);
    for (;;) {
        const bool pending = changeGeneration.load() > writtenGeneration;
        if (pending) {
            lock.unlock();
            writeLatest();
            lock.lock();
            writerDone.notify_all();
            continue;
        }
        if (stopping) return;
        // Polled as well as woken: the audio thread raises its flag without a wake-up.
        writerWake.wait_for(lock, std::chrono::milliseconds(20));
    }
}

static bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
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
        // A token counts when it is a whole integer that fits 32 bits; anything
        // else (a word, "12abc", a number too large) is skipped.
        const std::string token(text + start, i - start);
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(token.c_str(), &end, 10);
        if (errno != 0 || end == token.c_str() || *end != '\0' || value < INT32_MIN || value > INT32_MAX) continue;
        if (!haveFirst) {
            first = static_cast<int32_t>(value);
            haveFirst = true;
            continue;
        }
        haveFirst = false;
        if (value == -1) continue;
        // Any parameter index is kept; the controller keeps its low 8 bits.
        const qm_controllerAssignment entry{static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF)), first};
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
    std::string text;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) return false;
    parse(text.data(), text.size(), table);
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
    ok = std::fclose(f) == 0 && ok;
    ok = ok && platform::replaceFile(temporary, filePath);
    if (!ok) std::remove(temporary.c_str());
    return ok;
}
