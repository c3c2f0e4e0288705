// qm_controllerAssignments: which MIDI controllers drive which parameters, kept
// safe for an audio thread that reads and changes it while a control thread
// (the editor's, a host's) changes it too, and kept in a text file that every
// instance of every process shares.
//
// The table is ordered by controller number (a signed byte), entries with equal
// numbers in the order they were added; one controller may drive several
// parameters and one parameter may follow several controllers; a pair is never
// held twice.
//
// Threads. Published tables are immutable. A change copies the published table
// into a free slot of a fixed pool, edits the copy and publishes it with one
// compare-and-swap; a reader announces the slot it reads (a hazard pointer) so
// no writer reuses it meanwhile. Nothing allocates, locks or waits on the audio
// thread, and no thread of our own is started: a host may unload the library
// without closing the instance.
//
// File. One binding per line, "%d %d\n": the parameter index, a blank, the
// controller number. People edit it by hand, so reading skips a UTF-8
// byte-order mark and every line that holds no pair (blank lines, comments,
// anything else), and a write keeps every line it does not own byte for byte
// where it was. The audio thread's binds are queued for the file; a control
// thread (the editor's idle, the learn toggle, the host's closing call) writes
// them with writePending(). A write takes a lock shared with every other
// instance and process, re-reads the file, applies only this instance's changes
// in the order they were made, and replaces the file in one step (a temporary
// file in the same folder, synced, then renamed), so nothing another instance
// learned is lost and a crash or a full disk never destroys what is already
// there; a write that would change no byte leaves the file alone. Readers take
// no lock: they see the old file or the new one. No call waits on another
// process: a write waits for the lock a few tens of milliseconds at most (and
// not again while the lock stays busy), and reading opens nothing that could
// block (a FIFO or a device at the path is not read). A write that fails, or
// that could not have the lock, stays pending and is tried again on the next
// call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
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
    // A file is read no further than this: a full table written by us takes
    // under 18 KiB. A longer file is never rewritten (that would cut it): its
    // changes stay pending.
    static constexpr size_t kMaxFileBytes = 64 * 1024;
    // How long a write waits for another holder of the file's lock.
    static constexpr std::chrono::milliseconds kLockWait{50};

    struct Table {
        uint64_t version = 0;  // one more with each published change
        uint32_t count = 0;
        qm_controllerAssignment entries[kCapacity];

        // Moves (controller, parameter) behind the other entries of that
        // controller, adding it when new. False when the table is full.
        bool bind(int8_t controller, int32_t parameter);
        // Removes every entry of the parameter.
        void removeParameter(int32_t parameter);
    };

    // The file to read and write; empty means none (learning still works).
    explicit qm_controllerAssignments(std::string filePath);
    // Writes what is still pending. There is no later call to retry at: when
    // the lock stays busy the file is edited without it rather than lose the
    // change (a change made elsewhere at that very moment may then be lost).
    ~qm_controllerAssignments();

    // --- audio thread -------------------------------------------------------
    // Calls visit(parameter) for every entry of the controller, in table order.
    template <class Visit>
    void forEachParameterOf(int8_t controller, Visit visit);
    // Binds the pair in the table and queues it for the file. False when the
    // table is full. One audio thread at a time.
    bool bind(int8_t controller, int32_t parameter);

    // --- control threads ----------------------------------------------------
    // Replaces the table with the file's content. False (table unchanged) when
    // the file cannot be read. Takes no lock and never waits.
    bool read();
    // Removes every entry of the parameter and writes the file before returning,
    // even when nothing was removed; when the file's lock is busy the write
    // stays pending instead.
    void removeParameter(int32_t parameter);
    // A copy of the published table.
    std::vector<qm_controllerAssignment> entries();
    // Whether a change still waits for the file (cheap: atomics only).
    bool hasPendingWrite() const;
    // Writes the pending changes; true when none is left pending.
    bool writePending();
    const std::string& filePath() const { return path; }

    // The file format, for the table and for tools that list the bindings.
    // A UTF-8 byte-order mark at the start is skipped, and one at the start of
    // a line too (files joined together). Lines end in LF, CR LF or CR. A line
    // holds a pair when it is: blanks or tabs, an integer (decimal, optional
    // sign, 32 bits), blanks or tabs, an integer, blanks or tabs, and optionally
    // a comment from '#' to the line's end. Every other line (blank, a comment,
    // a lone number, a pair split over two lines, two pairs on one line, a pair
    // followed by other text) is ignored and reading goes on. Pairs whose
    // controller is -1 (or 255, the same low 8 bits) are skipped, as are pairs
    // already in the table; reading stops when the table is full.
    static void parse(const char* text, size_t size, Table& table);
    static std::string format(const qm_controllerAssignment* entries, uint32_t count);
    // False when the file is missing, no regular file, or unreadable. Reads at
    // most kMaxFileBytes; a line cut there is not read.
    static bool readFile(const std::string& path, Table& table);
    // Writes `text` under a temporary name, syncs it and renames it over
    // `path`; false (and the old file untouched) on any failure.
    static bool writeFile(const std::string& path, std::string_view text);

    // The file's text as a write edits it. Only lines that hold a pair (as
    // parse() reads them) are ever removed or moved; every other line, the
    // byte-order mark and each kept line's own line end stay as they were.
    class FileText {
    public:
        explicit FileText(std::string_view text);
        // Puts the pair behind every other line of its controller, as the
        // table does: a new pair is appended as "%d %d" with the file's line
        // end (its first line's; for a file without one LF, on Windows CR LF);
        // a pair already there stays on its line unless a line of the same
        // controller follows, and then its line (comment and all) moves to the
        // end. False, and nothing changed, when the pair is new and the file
        // already holds kCapacity pairs (the rest would never be read).
        bool bind(int8_t controller, int32_t parameter);
        // Removes every line that holds a pair of the parameter.
        void removeParameter(int32_t parameter);
        std::string text() const;

    private:
        struct Line {
            std::string content;  // without its line end
            const char* ending;   // "\n", "\r\n", "\r", or "" for a last line without one
            bool holdsPair;
            qm_controllerAssignment pair;
        };
        static uint64_t key(qm_controllerAssignment pair);
        void forget(const Line& line);

        std::string byteOrderMark;
        std::vector<Line> lines;
        const char* newline;                   // the first line's end, or the system's
        std::map<uint64_t, uint32_t> holders;  // lines per distinct pair
    };

private:
    enum Role { kAudio, kControl, kRoleCount };
    // One published table, one per role being read, one per role editing.
    static constexpr int kSlots = 6;
    // Binds the audio thread may queue between two writes; beyond that the
    // next write merges the whole table.
    static constexpr uint32_t kQueueCapacity = 256;

    struct FileChange {
        enum Kind : int32_t { kBind, kRemove } kind;
        int8_t controller;
        int32_t parameter;
        uint64_t version;  // of the table the change published
    };

    int acquire(Role role);
    void release(Role role) { hazards[role].store(-1); }
    int claimFreeSlot();
    // Copies the published table, applies edit(Table&) -> bool (false: leave it)
    // and publishes the result. Returns what edit returned; *version is the
    // published table's version.
    template <class Edit>
    bool change(Role role, Edit edit, uint64_t* version = nullptr);
    // Moves the audio thread's queued binds into `changes`, in version order.
    // Control thread, under controlMutex.
    void collectQueuedBinds();
    // Under controlMutex. The last chance (closing) waits the full time and
    // then writes without the lock.
    enum class Attempt { kRetryLater, kLastChance };
    bool writeChanges(Attempt attempt = Attempt::kRetryLater);

    std::string path;
    std::vector<Table> slots;  // kSlots tables, allocated once
    std::atomic<int> published{0};
    std::atomic<int> hazards[kRoleCount];
    std::atomic<bool> claimed[kSlots];

    // The audio thread's binds on their way to the file: a single-producer,
    // single-consumer ring. `audioPublishing` is set from before a bind's
    // compare-and-swap until its entry is queued, so a control thread can tell
    // that every bind older than its own change is in the ring.
    FileChange queue[kQueueCapacity];
    std::atomic<uint32_t> queueHead{0}, queueTail{0};
    std::atomic<bool> queueOverflowed{false};
    std::atomic<bool> audioPublishing{false};

    std::mutex controlMutex;          // control threads only
    std::vector<FileChange> changes;  // not yet in the file; under controlMutex
    bool mergeWholeTable = false;     // under controlMutex
    bool lockWasBusy = false;         // the last write found the lock held elsewhere; under controlMutex
    std::atomic<bool> controlPending{false};
};

template <class Visit>
void qm_controllerAssignments::forEachParameterOf(int8_t controller, Visit visit) {
    const Table& table = slots[static_cast<size_t>(acquire(kAudio))];
    for (uint32_t i = 0; i < table.count; ++i) {
        if (table.entries[i].controller > controller) break;
        if (table.entries[i].controller == controller) visit(table.entries[i].parameter);
    }
    release(kAudio);
}
