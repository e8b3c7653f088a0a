#pragma once

#include <cstdint>

// Byte sums that stop at 2^64 - 1 instead of wrapping. Pure.
namespace brimvale {

[[nodiscard]] constexpr uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

[[nodiscard]] constexpr uint64_t clampedSubtract(uint64_t a, uint64_t b) {
    return a >= b ? a - b : 0;
}

}  // namespace brimvale
