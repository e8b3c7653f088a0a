#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// One arc of the ring and what it stands for. A plain value: copy freely, any thread.
//
// Angles are radians in [0, 2π], 0 at 12 o'clock, growing clockwise. `depth` 1 is the innermost
// ring. `kind` is the arc's identity across layouts: two arcs are "the same" exactly when their
// kinds are equal, payloads included, so a `smaller` arc whose count changed is a new arc.
namespace ringkit {

struct RingSegment {
    struct Kind {
        enum class Case : uint8_t { node, smaller, hidden, purgeable };
        static constexpr uint32_t noNode = 0xFFFFFFFF;

        Case which = Case::hidden;
        // `node`: the item's node index; `smaller`: the folder whose small children it gathers.
        uint32_t index = noNode;
        // `smaller` only: how many children were folded into the arc.
        int64_t count = 0;

        static constexpr Kind node(uint32_t n) { return {Case::node, n, 0}; }
        static constexpr Kind smaller(uint32_t parent, int64_t count) {
            return {Case::smaller, parent, count};
        }
        static constexpr Kind hidden() { return {Case::hidden, noNode, 0}; }
        static constexpr Kind purgeable() { return {Case::purgeable, noNode, 0}; }

        constexpr bool isNode() const { return which == Case::node; }
        constexpr bool isSmaller() const { return which == Case::smaller; }
        constexpr bool operator==(const Kind&) const = default;
    };

    Kind kind;
    int depth = 1;
    double start = 0;
    double end = 0;  // end >= start
    uint64_t bytes = 0;
    // Position of the ring-1 ancestor among the focus's children; -1 for `smaller`, `hidden`
    // and `purgeable` arcs.
    int64_t branch = -1;

    constexpr double span() const { return end - start; }
    constexpr bool operator==(const RingSegment&) const = default;
};

}  // namespace ringkit

template <>
struct std::hash<ringkit::RingSegment::Kind> {
    size_t operator()(const ringkit::RingSegment::Kind& k) const noexcept {
        uint64_t h = (static_cast<uint64_t>(k.which) << 32) | k.index;
        h ^= static_cast<uint64_t>(k.count) * 0x9E3779B97F4A7C15ull;
        h *= 0xBF58476D1CE4E5B9ull;
        return static_cast<size_t>(h ^ (h >> 31));
    }
};
