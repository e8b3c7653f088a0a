#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

// Fixed-width values as little-endian bytes, whatever the host's order: the one encoding of every
// file format the core writes (journal segments, the journal's state, snapshots). Loads and
// stores are unaligned-safe. Header-only and stateless; a Reader belongs to one thread.
namespace quenwick::LittleEndian {

template <class T>
concept Value = (std::integral<T> || std::floating_point<T>)&&(sizeof(T) == 1 || sizeof(T) == 2 ||
                                                               sizeof(T) == 4 || sizeof(T) == 8);

namespace detail {

template <class T>
using Bits =
    std::conditional_t<sizeof(T) == 1, uint8_t,
                       std::conditional_t<sizeof(T) == 2, uint16_t,
                                          std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;

template <class U>
constexpr U swapped(U v) {
    if constexpr (sizeof(U) == 1) return v;
    if constexpr (sizeof(U) == 2) return static_cast<U>(__builtin_bswap16(v));
    if constexpr (sizeof(U) == 4) return static_cast<U>(__builtin_bswap32(v));
    if constexpr (sizeof(U) == 8) return static_cast<U>(__builtin_bswap64(v));
}

inline constexpr bool kNative = std::endian::native == std::endian::little;

}  // namespace detail

// The value whose little-endian bytes start at p.
template <Value T>
[[nodiscard]] T load(const void* p) {
    detail::Bits<T> bits;
    std::memcpy(&bits, p, sizeof bits);
    if constexpr (!detail::kNative) bits = detail::swapped(bits);
    return std::bit_cast<T>(bits);
}

// Writes value's little-endian bytes at p.
template <Value T>
void store(void* p, T value) {
    auto bits = std::bit_cast<detail::Bits<T>>(value);
    if constexpr (!detail::kNative) bits = detail::swapped(bits);
    std::memcpy(p, &bits, sizeof bits);
}

// Appends value to a byte container (std::string or std::vector<uint8_t>).
template <Value T, class Bytes>
void append(Bytes& out, T value) {
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    store<T>(out.data() + at, value);
}

// Appends n values from values, in order.
template <Value T, class Bytes>
void appendArray(Bytes& out, const T* values, size_t n) {
    if (n == 0) return;
    const size_t at = out.size();
    out.resize(at + n * sizeof(T));
    if constexpr (detail::kNative) {
        std::memcpy(out.data() + at, values, n * sizeof(T));
    } else {
        for (size_t i = 0; i < n; ++i)
            store<T>(out.data() + at + i * sizeof(T), values[i]);
    }
}

// Reads values from the front of a byte range, never past its end: a read that does not fit
// fails and consumes nothing.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> data) : data_(data) {}
    explicit Reader(std::string_view data)
        : data_(reinterpret_cast<const uint8_t*>(data.data()), data.size()) {}

    [[nodiscard]] size_t remaining() const { return data_.size() - cursor_; }
    [[nodiscard]] bool atEnd() const { return remaining() == 0; }

    template <Value T>
    [[nodiscard]] bool read(T& value) {
        if (remaining() < sizeof(T)) return false;
        value = load<T>(data_.data() + cursor_);
        cursor_ += sizeof(T);
        return true;
    }

    // n raw bytes into out.
    [[nodiscard]] bool readBytes(std::string& out, uint64_t n) {
        if (remaining() < n) return false;
        out.assign(reinterpret_cast<const char*>(data_.data() + cursor_), static_cast<size_t>(n));
        cursor_ += static_cast<size_t>(n);
        return true;
    }

    // Replaces array's contents with n values. Array offers resize(), data() and
    // append(const T*, n), as PodArray does.
    template <class Array, Value T = std::remove_cvref_t<decltype(*std::declval<Array&>().data())>>
    [[nodiscard]] bool readArray(Array& array, uint64_t n) {
        if (remaining() / sizeof(T) < n) return false;
        array.resize(0);
        array.append(reinterpret_cast<const T*>(data_.data() + cursor_), static_cast<size_t>(n));
        if constexpr (!detail::kNative) {
            for (size_t i = 0; i < n; ++i)
                array.data()[i] = load<T>(data_.data() + cursor_ + i * sizeof(T));
        }
        cursor_ += static_cast<size_t>(n) * sizeof(T);
        return true;
    }

private:
    std::span<const uint8_t> data_;
    size_t cursor_ = 0;
};

}  // namespace quenwick::LittleEndian
