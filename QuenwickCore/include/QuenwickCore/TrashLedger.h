#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// TrashLedger remembers what this application moved to the Trash, so it can say how much of the
// Trash is its doing ("waiting in the Trash"), notice when those items finally leave, and keep a
// running total of the space it has really freed. It is one small JSON file, read and rewritten
// whole, atomically, on every change:
//   {"entries":[{"trashed":…,"original":…,"bytes":N,"date":S},…],"freedBytes":N}
// with byte counts as exact unsigned 64-bit integers and dates as seconds since 2001-01-01 UTC. A
// path that is not valid UTF-8 is written in its display form (U+FFFD for each invalid sequence)
// with its exact bytes in base64 beside it ("trashedBytes", "originalBytes"), and read back from
// those bytes, so an entry never points at the wrong file.
//
// A value type. Nothing ever fails: an unreadable or damaged file reads as the empty state (and is
// kept aside as "<file>.damaged" before the next write replaces it); write failures leave the old
// file as it was. Operations are not locked against each other: call them from one place at a time.
namespace quenwick {

class TrashLedger {
public:
    struct Entry {
        std::string trashed;   // absolute path of the item inside the Trash (exact bytes)
        std::string original;  // absolute path it had before (exact bytes)
        uint64_t bytes = 0;    // its size when it was moved
        std::chrono::system_clock::time_point date;  // when it was moved, kept to the microsecond

        Entry(std::string trashed, std::string original, uint64_t bytes,
              std::chrono::system_clock::time_point date);
        bool operator==(const Entry&) const = default;
    };

    struct State {
        std::vector<Entry> entries;  // oldest first
        uint64_t freedBytes = 0;

        // The sum of the entries' bytes (saturating).
        uint64_t waitingBytes() const;
        bool operator==(const State&) const = default;
    };

    // Whether anything (a dangling link included) exists at a path; callable from any thread.
    using ExistsTest = std::function<bool(const std::string&)>;

    // path: the ledger file. exists defaults to a look at the file system (links not followed).
    explicit TrashLedger(std::string path, ExistsTest exists = {});

    // $XDG_DATA_HOME/Brimvale/trash-ledger.json with the default test.
    [[nodiscard]] static TrashLedger standard();

    const std::string& path() const { return path_; }

    [[nodiscard]] State load() const;
    void save(const State& state) const;
    // Appends the entries at the end and saves; freedBytes is untouched.
    State record(const std::vector<Entry>& entries) const;
    // Drops the entries whose trashed path is listed, adds bytes to freedBytes (even when nothing
    // matched), and saves.
    State addFreed(uint64_t bytes, const std::set<std::string>& settlingTrashed) const;
    // Drops entries whose items left the Trash: counted as freed when they are gone from the
    // original place too, not counted when they are back there. Saves only when something changed.
    // With trashReadable false, returns the state as loaded without judging anything.
    State refresh(bool trashReadable) const;

    // The file's contents for a state, and the state for contents (nothing when they do not
    // decode).
    [[nodiscard]] static std::string encode(const State& state);
    [[nodiscard]] static std::optional<State> decode(const std::string& contents);

private:
    std::string path_;
    ExistsTest exists_;
};

}  // namespace quenwick
