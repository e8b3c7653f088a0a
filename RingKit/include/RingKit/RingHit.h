#pragma once

#include <cstdint>

// What lies under a point of the ring: an arc (by its index in the tested list), the centre
// disc, or nothing. A plain value.
namespace ringkit {

struct RingHit {
    enum class Case : uint8_t { segment, center, none };

    Case which = Case::none;
    int64_t index = -1;  // `segment` only

    static constexpr RingHit segment(int64_t i) { return {Case::segment, i}; }
    static constexpr RingHit center() { return {Case::center, -1}; }
    static constexpr RingHit none() { return {Case::none, -1}; }

    constexpr bool operator==(const RingHit&) const = default;
};

}  // namespace ringkit
