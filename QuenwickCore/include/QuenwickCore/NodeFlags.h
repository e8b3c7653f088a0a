#pragma once

#include <cstdint>

// The 16-bit flag set of a tree node. A plain value: copy freely, any thread.
namespace quenwick {

class NodeFlags {
public:
    constexpr NodeFlags() = default;
    constexpr explicit NodeFlags(uint16_t raw) : raw_(raw) {}

    static const NodeFlags directory;
    static const NodeFlags package;
    static const NodeFlags symlink;
    static const NodeFlags dataless;
    static const NodeFlags unreadable;
    static const NodeFlags hardlinkDuplicate;
    static const NodeFlags mountPoint;
    static const NodeFlags dead;

    constexpr uint16_t rawValue() const { return raw_; }
    constexpr bool contains(NodeFlags other) const { return (raw_ & other.raw_) == other.raw_; }
    constexpr bool isEmpty() const { return raw_ == 0; }
    constexpr void insert(NodeFlags other) { raw_ |= other.raw_; }
    constexpr void remove(NodeFlags other) { raw_ &= static_cast<uint16_t>(~other.raw_); }
    constexpr NodeFlags operator|(NodeFlags other) const { return NodeFlags(raw_ | other.raw_); }
    constexpr NodeFlags operator&(NodeFlags other) const { return NodeFlags(raw_ & other.raw_); }
    constexpr bool operator==(const NodeFlags&) const = default;

private:
    uint16_t raw_ = 0;
};

inline constexpr NodeFlags NodeFlags::directory{0x0001};
inline constexpr NodeFlags NodeFlags::package{0x0002};
inline constexpr NodeFlags NodeFlags::symlink{0x0004};
inline constexpr NodeFlags NodeFlags::dataless{0x0008};
inline constexpr NodeFlags NodeFlags::unreadable{0x0010};
inline constexpr NodeFlags NodeFlags::hardlinkDuplicate{0x0020};
inline constexpr NodeFlags NodeFlags::mountPoint{0x0040};
inline constexpr NodeFlags NodeFlags::dead{0x0080};

}  // namespace quenwick
