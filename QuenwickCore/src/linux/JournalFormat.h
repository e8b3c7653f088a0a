#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/ChangeJournal.h"

// The journal's files as bytes (their layout: journal_format.md beside this file): the record
// codec, the state file's codec, and the segment files of a journal folder. Shared by the reader
// and the writer; stateless and thread-safe.
namespace quenwick::journal {

constexpr uint32_t kRecordMarker = 0x524A5751;  // "QWJR"
constexpr uint32_t kStateMarker = 0x534A5751;   // "QWJS"
constexpr uint32_t kStateVersion = 1;
constexpr size_t kRecordHeader = 20;
constexpr size_t kRecordOverhead = kRecordHeader + 4;
constexpr uint32_t kMaxPayload = 1u << 20;
// Nothing the recorder writes comes near this; a bigger file is not ours to read whole.
constexpr uint64_t kMaxFileBytes = 256ull << 20;

// A path as the journal stores it: absolute, without NUL.
[[nodiscard]] bool isAbsolutePath(std::string_view path);

// Appends the record's bytes (header, payload, CRC) to out.
void encodeRecord(std::string& out, const JournalRecord& r);

// The record at data[offset] with its length in bytes, when every check passes.
[[nodiscard]] std::optional<JournalRecord> decodeRecord(std::string_view data, size_t offset,
                                                        size_t& length);

// Calls visit for every valid record of a segment, in file order; damaged stretches are skipped
// by looking for the next marker.
void forEachRecord(std::string_view data, const std::function<void(JournalRecord&)>& visit);

[[nodiscard]] std::string encodeState(const JournalState& s);
[[nodiscard]] std::optional<JournalState> decodeState(std::string_view data);

// Opens a journal file for reading without following a link and without blocking (a FIFO or a
// device named like a journal file must not hold the reader); -1 with errno on failure.
[[nodiscard]] int openJournalFile(const std::string& path);

// The contents of a regular file of at most kMaxFileBytes (links not followed); false for
// anything else.
[[nodiscard]] bool readWholeFile(const std::string& path, std::string& out);

// Exactly 16 lower-case hexadecimal digits.
[[nodiscard]] bool parseHex16(std::string_view text, uint64_t& value);

struct Segment {
    uint64_t first;  // the first position its name claims
    std::string name;
};

[[nodiscard]] std::string segmentName(uint64_t first);

// The segment files in the folder, ordered by the first position their names claim.
[[nodiscard]] std::vector<Segment> listSegments(const std::string& directory);

// Writes all of data, retrying short writes.
[[nodiscard]] bool writeAll(int fd, std::string_view data);

// Microseconds since 1970 by the system clock.
[[nodiscard]] uint64_t nowMicros();

}  // namespace quenwick::journal
