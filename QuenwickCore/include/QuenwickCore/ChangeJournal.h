#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "QuenwickCore/UniqueFd.h"

// The persistent change journal: a folder ($XDG_DATA_HOME/Brimvale/Journal by default) of
// segment files holding records, each with a 64-bit position. Positions only grow: every record
// takes the next one, and each recorder session starts above both the last position on disk and
// the wall clock in microseconds, so a position never comes back even after the files were lost.
//
// Records are framed with a marker, a length and a CRC-32C: a torn append, a truncated file or
// garbage never reads as a valid record, and a reader resynchronises at the next marker. Missing
// positions are what tells a reader that precision was lost. The folder is bounded: when the
// newest segment is full a new one starts, and the oldest are deleted beyond `segments`.
//
// Exactly one recorder writes, holding an open-file-description lock on "recorder.lock"; it also
// publishes its state (roots, directories it cannot watch) in the file "state", written
// atomically. Readers (ChangeJournal) never take the lock and may run in any process or thread at
// any time. A reader synchronises with the recorder by creating a request file in the folder: the
// recorder sees its creation in the same queue as the changes, so when it reaches the request
// everything that happened before is known; it writes that out, answers with its position, and
// from then on records every changed directory again even if it had a record already (between
// requests it writes each directory once).
namespace quenwick {

struct JournalRecord {
    enum class Kind : uint8_t {
        start = 1,    // a recorder session began; nothing before it is known
        session = 2,  // repeats the session's roots at the head of a segment
        changed = 3,  // something changed directly inside the directory `path`
        gap = 4,      // changes under `path` (everywhere when empty) may have been missed
        stop = 5,     // the recorder ended cleanly; nothing after it is known
    };
    enum class Gap : uint8_t {
        none = 0,
        queueOverflow = 1,  // the kernel's event queue overflowed
        watchLimit = 2,     // a directory could not be watched: the watch limit was reached
        rootLost = 3,       // a watched root was deleted, moved, unmounted or replaced
        mountsChanged = 4,  // a file system was mounted or unmounted below a root
        cannotRecord = 5,   // the recorder could not resolve or store what it saw
    };

    uint64_t position = 0;
    Kind kind = Kind::changed;
    Gap reason = Gap::none;
    uint64_t session = 0;            // start and session records: the session's start position
    std::string path;                // changed: the directory; gap: the scope
    std::vector<std::string> roots;  // start and session records: the watched roots
    bool operator==(const JournalRecord&) const = default;
};

// What the running recorder publishes besides the records.
struct JournalState {
    int64_t pid = 0;
    uint64_t sessionStart = 0;
    std::string mode;                      // "inotify" or "fanotify"
    std::vector<std::string> roots;        // watched roots, real paths
    std::vector<std::string> lostRoots;    // roots not watched right now
    std::vector<std::string> unwatchable;  // directories it cannot watch: changed in every replay
    bool incomplete = false;               // some directories have no watch (watch limit)
    uint64_t watchedDirectories = 0;
    bool operator==(const JournalState&) const = default;
};

class ChangeJournal {
public:
    explicit ChangeJournal(std::string directory);
    // $XDG_DATA_HOME/Brimvale/Journal.
    [[nodiscard]] static std::string defaultDirectory();
    const std::string& directory() const { return directory_; }

    // The position of the newest valid record, or 0 when there is none.
    [[nodiscard]] uint64_t lastPosition() const;

    struct Replay {
        // True when the journal holds the record at `since` and every record after it, without
        // a missing position, up to `last`.
        bool complete = false;
        uint64_t last = 0;                   // newest valid position read (0 when none)
        std::vector<JournalRecord> records;  // those after `since`, in order
    };
    [[nodiscard]] Replay readSince(uint64_t since) const;

    // The recorder's published state, or nothing when it is missing or damaged.
    [[nodiscard]] std::optional<JournalState> readState() const;

    // True while a recorder holds the lock.
    [[nodiscard]] bool recorderRunning() const;

    // Asks the running recorder to write out everything that happened before this call. Returns
    // the position of its last record once it has, or nothing when the deadline passed, no
    // recorder runs, or it could not write. Every directory that changes after this call gets a
    // record after that position, and after any position read before this call.
    [[nodiscard]] std::optional<uint64_t> synchronize(
        std::chrono::steady_clock::time_point deadline) const;

    // The one writer. Not thread-safe: the recorder's thread owns it.
    class Writer;

    static constexpr std::string_view lockFileName = "recorder.lock";
    static constexpr std::string_view stateFileName = "state";
    static constexpr std::string_view requestPrefix = "request-";
    static constexpr std::string_view doneSuffix = ".done";
    static constexpr std::string_view failedSuffix = ".failed";

private:
    std::string directory_;
};

class ChangeJournal::Writer {
public:
    struct Limits {
        uint64_t segmentBytes = 8u << 20;
        int segments = 4;
    };
    struct OpenError {
        enum class Kind { alreadyRunning, cannotCreate };
        Kind kind = Kind::cannotCreate;
        int errnum = 0;
        int64_t otherPid = 0;  // for alreadyRunning, when the other recorder published it
        [[nodiscard]] std::string describe() const;
    };

    // Creates the folder when missing and takes the recorder lock.
    [[nodiscard]] static std::variant<std::unique_ptr<Writer>, OpenError> open(
        const std::string& directory, Limits limits);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Starts a session: a new segment whose first record is the start record. Removes request
    // files nobody will answer any more.
    [[nodiscard]] bool begin(const std::vector<std::string>& roots);
    // One changed record per directory. On a failed write the positions jump, so that readers
    // see the loss.
    [[nodiscard]] bool appendChanged(std::span<const std::string> directories);
    [[nodiscard]] bool appendGap(JournalRecord::Gap reason, std::string_view scope);
    [[nodiscard]] bool appendStop();
    [[nodiscard]] bool publish(const JournalState& state);
    // True when the state file still holds what publish() last wrote.
    [[nodiscard]] bool statePublished() const;

    uint64_t position() const { return next_ - 1; }
    uint64_t sessionStart() const { return session_; }
    const std::string& directory() const { return directory_; }

private:
    Writer(std::string directory, Limits limits, UniqueFd lock);
    bool append(std::vector<JournalRecord>& records);
    // A new segment headed by a record of kind (start or session) at the next position.
    bool startSegment(JournalRecord::Kind kind);
    void dropOldSegments();

    std::string directory_;
    Limits limits_;
    UniqueFd lock_;
    UniqueFd segment_;
    uint64_t segmentSize_ = 0;
    uint64_t next_ = 1;
    uint64_t session_ = 0;
    std::vector<std::string> roots_;
    std::string published_;
};

}  // namespace quenwick
