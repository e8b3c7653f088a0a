#pragma once

// Constants of the stream format and the small helpers both directions share.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lzfse::detail {

inline constexpr std::uint32_t kMagicRaw = 0x2d787662;   // "bvx-"
inline constexpr std::uint32_t kMagicLzvn = 0x6e787662;  // "bvxn"
inline constexpr std::uint32_t kMagicV1 = 0x31787662;    // "bvx1"
inline constexpr std::uint32_t kMagicV2 = 0x32787662;    // "bvx2"
inline constexpr std::uint32_t kMagicEnd = 0x24787662;   // "bvx$"

inline constexpr std::size_t kRawHeaderSize = 8;
inline constexpr std::size_t kLzvnHeaderSize = 12;
inline constexpr std::size_t kV1HeaderSize = 772;
inline constexpr std::size_t kV2FixedHeaderSize = 32;

inline constexpr std::uint32_t kMaxMatches = 10000;
inline constexpr std::uint32_t kMaxLiterals = 40000;
inline constexpr std::uint32_t kMaxL = 315;
inline constexpr std::uint32_t kMaxM = 2359;
inline constexpr std::uint32_t kMaxD = 262139;

inline constexpr int kLSymbols = 20;
inline constexpr int kMSymbols = 20;
inline constexpr int kDSymbols = 64;
inline constexpr int kLitSymbols = 256;
inline constexpr int kLStates = 64;
inline constexpr int kMStates = 64;
inline constexpr int kDStates = 256;
inline constexpr int kLitStates = 1024;
inline constexpr int kTableValues = kLSymbols + kMSymbols + kDSymbols + kLitSymbols;

inline constexpr std::array<std::uint8_t, kLSymbols> kLExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                    0, 0, 0, 0, 0, 0, 2, 3, 5, 8};
inline constexpr std::array<std::uint32_t, kLSymbols> kLBase = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 20, 28, 60};
inline constexpr std::array<std::uint8_t, kMSymbols> kMExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                    0, 0, 0, 0, 0, 0, 3, 5, 8, 11};
inline constexpr std::array<std::uint32_t, kMSymbols> kMBase = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 24, 56, 312};

inline constexpr std::array<std::uint8_t, kDSymbols> kDExtraBits = [] {
    std::array<std::uint8_t, kDSymbols> bits{};
    for (int s = 0; s < kDSymbols; ++s)
        bits[s] = static_cast<std::uint8_t>(s >> 2);
    return bits;
}();
inline constexpr std::array<std::uint32_t, kDSymbols> kDBase = [] {
    std::array<std::uint32_t, kDSymbols> base{};
    for (int s = 1; s < kDSymbols; ++s)
        base[s] = base[s - 1] + (1u << kDExtraBits[s - 1]);
    return base;
}();
static_assert(kDBase[63] + (1u << 15) - 1 == kMaxD);
static_assert(kLBase[19] + 255 == kMaxL && kMBase[19] + 2047 == kMaxM);

template <class T>
inline T byteSwap(T v) {
    if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(v));
    if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(v));
    if constexpr (sizeof(T) == 8) return static_cast<T>(__builtin_bswap64(v));
}

// Little-endian loads and stores of unaligned values.
template <class T>
inline T loadLe(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = byteSwap(v);
    return v;
}

template <class T>
inline void storeLe(std::uint8_t* p, T v) {
    if constexpr (std::endian::native == std::endian::big) v = byteSwap(v);
    std::memcpy(p, &v, sizeof v);
}

inline std::uint16_t load16(const std::uint8_t* p) {
    return loadLe<std::uint16_t>(p);
}
inline std::uint32_t load32(const std::uint8_t* p) {
    return loadLe<std::uint32_t>(p);
}
inline std::uint64_t load64(const std::uint8_t* p) {
    return loadLe<std::uint64_t>(p);
}

// floor(log2(v)) for v > 0.
inline int floorLog2(std::uint32_t v) {
    return 31 - std::countl_zero(v);
}

}  // namespace lzfse::detail
