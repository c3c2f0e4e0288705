// qm_controllerAssignments: which MIDI controllers drive which parameters, kept
// safe for an audio thread that reads and changes it while a control thread
// (the editor's, a host's) changes it too, and written to a text file.
//
// The table is ordered by controller number (a signed byte), entries with equal
// numbers in the order they were added; one controller may drive several
// parameters and one parameter may follow several controllers.
//
// Threads. Published tables are immutable. A change copies the published table
// into a free slot of a fixed pool, edits the copy and publishes it with one
// compare-and-swap; a reader announces the slot it reads (a hazard pointer) so
// no writer reuses it meanwhile. Nothing allocates, locks or waits on the audio
// thread. Control-thread calls are serialised among themselves by a mutex.
//
// File. "%d %d\n" per entry: the parameter index, a blank, the controller
// number. It is written by a small writer thread (the audio thread only raises
// a flag), under a temporary name in the same folder and then renamed over the
// old file, so a crash or a full disk never destroys the bindings already there.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct qm_controllerAssignment {
    int8_t controller;
    int32_t parameter;
    bool operator==(const qm_controllerAssignment&) const = default;
};

class qm_controllerAssignments {
public:
    // Far more than 128 controllers times every parameter; a file with more
    // entries keeps its first ones.
    static constexpr uint32_t kCapacity = 1024;

    struct Table {
        uint32_t count = 0;
        qm_controllerAssignment entries[kCapacity];
    };

    // The file to read and write; empty means none (learning still works).
    explicit qm_controllerAssignments(std::string filePath);
    // Writes any change not yet written, then stops the writer.
    ~qm_controllerAssignments();

    // --- audio thread -------------------------------------------------------
    // Calls visit(parameter) for every entry of the controller, in table order.
    template <class Visit> void forEachParameterOf(int8_t controller, Visit visit);
    // Moves (controller, parameter) behind the other entries of that controller,
    // adding it when new, then has the file written. False when the table is full.
    bool bind(int8_t controller, int32_t parameter);

    // --- control threads ----------------------------------------------------
    // Replaces the table with the file's content. False (table unchanged) when
    // the file cannot be read.
    bool read();
    // Removes every entry of the parameter and writes the file before returning,
    // even when nothing was removed.
    void removeParameter(int32_t parameter);
    // A copy of the published table.
    std::vector<qm_controllerAssignment> entries();
    // Returns once every change made so far has been written (or failed to be).
    void flush();
    const std::string& filePath() const { return path; }

    // The file format, for the table and for tools that list the bindings.
    // Tokens are separated by white space; a token that is not an integer is
    // skipped; pairs whose controller is -1 are skipped, as is a final lone number.
    static void parse(const char* text, size_t size, Table& table);
    static std::string format(const qm_controllerAssignment* entries, uint32_t count);
    // False when the file is missing or unreadable.
    static bool readFile(const std::string& path, Table& table);
    // Writes under a temporary name and renames it over `path`; false (and the
    // old file untouched) on any failure.
    static bool writeFile(const std::string& path, const qm_controllerAssignment* entries, uint32_t count);

private:
    enum Role { kAudio, kControl, kWriter, kRoleCount };
    // One published table, one per role being read, one per role editing: 6 at most.
    static constexpr int kSlots = 8;

    int acquire(Role role);
    void release(Role role) { hazards[role].store(-1); }
    int claimFreeSlot();
    // Copies the published table, applies edit(Table&) -> bool (false: leave it)
    // and publishes the result. Returns what edit returned.
    template <class Edit> bool change(Role role, Edit edit);
    void requestWrite();
    void writerLoop();
    void writeLatest();

    std::string path;
    std::vector<Table> slots;  // kSlots tables, allocated once
    std::atomic<int> published{0};
    std::atomic<int> hazards[kRoleCount];
    std::atomic<bool> claimed[kSlots];

    std::mutex controlMutex;  // control threads only
    std::atomic<uint64_t> changeGeneration{0};
    uint64_t writtenGeneration = 0;  // guarded by writerMutex
    std::mutex writerMutex;
    std::condition_variable writerWake, writerDone;
    bool stopping = false;
    std::thread writer;
};

template <class Visit> void qm_controllerAssignments::forEachParameterOf(int8_t controller, Visit visit) {
    const Table& table = slots[static_cast<size_t>(acquire(kAudio))];
    for (uint32_t i = 0; i < table.count; ++i) {
        if (table.entries[i].controller > controller) break;
        if (table.entries[i].controller == controller) visit(table.entries[i].parameter);
    }
    release(kAudio);
}
