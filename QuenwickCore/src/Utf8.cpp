#include "QuenwickCore/Utf8.h"

#include <utf8proc.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace quenwick::utf8 {
namespace {

// Length of the valid sequence starting at s[i], or 0 when it is invalid. When invalid,
// `consumed` is the length of the maximal subpart that one U+FFFD replaces (at least 1).
size_t validSequenceLength(std::string_view s, size_t i, size_t& consumed) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    consumed = 1;
    if (b0 < 0x80) return 1;
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) return 0;
        const unsigned char b = byte(i + k);
        const unsigned char l = k == 1 ? lo : 0x80;
        const unsigned char h = k == 1 ? hi : 0xBF;
        if (b < l || b > h) return 0;
        consumed = k + 1;
    }
    return need + 1;
}

}  // namespace

bool isValid(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        size_t consumed;
        const size_t n = validSequenceLength(bytes, i, consumed);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string display(std::string_view bytes) {
    if (isValid(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    for (size_t i = 0; i < bytes.size();) {
        size_t consumed;
        const size_t n = validSequenceLength(bytes, i, consumed);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += consumed;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::optional<std::string> nfc(std::string_view bytes) {
    if (!isValid(bytes)) return std::nullopt;
    utf8proc_uint8_t* mapped = nullptr;
    const auto len =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(bytes.data()),
                     static_cast<utf8proc_ssize_t>(bytes.size()), &mapped,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (len < 0) return std::nullopt;
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<size_t>(len));
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    const auto na = nfc(a);
    if (!na) return false;
    const auto nb = nfc(b);
    return nb && *na == *nb;
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    const auto at = [&](size_t k) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[k]));
    };
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        const uint32_t v = at(i) << 16 | (rest == 2 ? at(i + 1) << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> fromBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    const auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (pad == 1 && text[i + 2] == '=') return std::nullopt;
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int d = 0;
            if (k >= 4 - pad) {
                if (c != '=') return std::nullopt;
            } else if ((d = value(c)) < 0) {
                return std::nullopt;
            }
            v = v << 6 | static_cast<uint32_t>(d);
        }
        out += static_cast<char>(v >> 16);
        if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
        if (pad < 1) out += static_cast<char>(v & 0xFF);
    }
    return out;
}

}  // namespace quenwick::utf8
