#pragma once

#include <optional>
#include <string>
#include <string_view>

// File names on Linux are bytes, not necessarily UTF-8. These helpers keep the two worlds apart:
// exact bytes are what touch the disk; the display form, with U+FFFD for every invalid sequence,
// is what people (and JSON) see. All functions are pure and thread-safe.
namespace quenwick::utf8 {

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or code points above
// U+10FFFF).
[[nodiscard]] bool isValid(std::string_view bytes);

// The bytes decoded for display: each maximal invalid subsequence becomes one U+FFFD.
[[nodiscard]] std::string display(std::string_view bytes);

// The canonical composition (NFC) of valid UTF-8, or nothing for invalid input.
[[nodiscard]] std::optional<std::string> nfc(std::string_view bytes);

// True when both are valid UTF-8 and canonically equivalent (byte-equal inputs are always equal).
[[nodiscard]] bool canonicallyEqual(std::string_view a, std::string_view b);

// Standard base64 (RFC 4648, with padding); used where exact bytes must travel in JSON.
[[nodiscard]] std::string base64(std::string_view bytes);

// The inverse of base64(); nothing for malformed input.
[[nodiscard]] std::optional<std::string> fromBase64(std::string_view text);

}  // namespace quenwick::utf8
