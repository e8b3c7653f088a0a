#pragma once

#include <optional>
#include <string>
#include <string_view>

// URI percent-encoding of path bytes: every byte outside the unreserved set and "/" becomes %XX,
// so any file name, valid UTF-8 or not, survives the trip exactly. Pure and thread-safe.
namespace quenwick::detail {

[[nodiscard]] std::string percentEncode(std::string_view bytes);
// The inverse; nothing when a "%" is not followed by two hexadecimal digits.
[[nodiscard]] std::optional<std::string> percentDecode(std::string_view text);

}  // namespace quenwick::detail
