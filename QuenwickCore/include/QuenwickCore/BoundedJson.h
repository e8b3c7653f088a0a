#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// The one way this program reads the JSON files it keeps (trash ledger, daily summaries): a size
// cap checked before anything is read, only regular files (opened non-blocking, so a FIFO named
// like one cannot hang the reader), and a nesting limit checked in one linear pass before the
// parser sees the text, so no file can exhaust the stack or the memory. Objects are read into
// nlohmann::json (sorted keys: inserting n keys costs n log n, never n squared). Stateless;
// callable from any thread.
namespace quenwick::boundedJson {

// Deeper than any file of ours ever nests.
constexpr size_t kMaxDepth = 32;

enum class ReadFailure {
    missing,     // nothing at the path
    unreadable,  // not a regular file, or the file system refused
    tooLarge,    // larger than the cap: damaged as far as this program is concerned
};

// The whole file at path (or name inside dirFd), when it is a regular file of at most maxBytes.
[[nodiscard]] std::variant<std::string, ReadFailure> readFile(const std::string& path,
                                                              size_t maxBytes);
[[nodiscard]] std::variant<std::string, ReadFailure> readFileAt(int dirFd, const char* name,
                                                                size_t maxBytes);

// True when no array or object in text nests deeper than maxDepth (strings understood).
[[nodiscard]] bool withinDepth(std::string_view text, size_t maxDepth = kMaxDepth);

// The document, or nothing when it is malformed or nests deeper than maxDepth.
[[nodiscard]] std::optional<nlohmann::json> parse(std::string_view text,
                                                  size_t maxDepth = kMaxDepth);

}  // namespace quenwick::boundedJson
