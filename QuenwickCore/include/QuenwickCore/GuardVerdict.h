#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// The deletion guard's answer for one path. A GuardedRemoval is the only ticket the Trash mover
// (Recycler) and the Eraser accept: nothing but DeletionGuard can make one, so nothing reaches
// them that the guard has not judged. A removal keeps the guard that made it, and the mover and
// the eraser ask that guard again at the moment they touch the disk (the selection may be stale).
// Plain values; copies may travel between threads.
namespace quenwick {

namespace detail {
struct GuardPolicy;
}

class GuardVerdict;

class GuardedRemoval {
public:
    // The normalised absolute path that was allowed (exact bytes).
    const std::string& path() const { return path_; }
    // The same path as a file URL ("file://" + percent-encoded bytes).
    [[nodiscard]] std::string url() const;
    // A warning to show before the removal; absent when none is needed.
    const std::optional<std::string>& caution() const { return caution_; }

    // The guard's verdict on this path now, from the guard that allowed it.
    [[nodiscard]] GuardVerdict recheck() const;
    // The same guard's verdict on another spelling of this item (its real place, say).
    [[nodiscard]] GuardVerdict recheckAt(std::string_view path) const;

    // Equality and hashing over path and caution only.
    bool operator==(const GuardedRemoval& other) const {
        return path_ == other.path_ && caution_ == other.caution_;
    }

private:
    friend struct detail::GuardPolicy;
    GuardedRemoval(std::string path, std::optional<std::string> caution,
                   std::shared_ptr<const detail::GuardPolicy> guard)
        : path_(std::move(path)), caution_(std::move(caution)), guard_(std::move(guard)) {}

    std::string path_;
    std::optional<std::string> caution_;
    std::shared_ptr<const detail::GuardPolicy> guard_;
};

class GuardVerdict {
public:
    struct Blocked {
        std::string reason;  // shown to the user verbatim
        bool operator==(const Blocked&) const = default;
    };

    explicit GuardVerdict(GuardedRemoval removal) : value_(std::move(removal)) {}
    explicit GuardVerdict(Blocked blocked) : value_(std::move(blocked)) {}

    bool isAllowed() const { return std::holds_alternative<GuardedRemoval>(value_); }
    // The removal when allowed, otherwise null.
    const GuardedRemoval* allowed() const { return std::get_if<GuardedRemoval>(&value_); }
    // The reason when blocked, otherwise null.
    const std::string* blockedReason() const {
        const auto* b = std::get_if<Blocked>(&value_);
        return b ? &b->reason : nullptr;
    }

    bool operator==(const GuardVerdict&) const = default;

private:
    std::variant<GuardedRemoval, Blocked> value_;
};

}  // namespace quenwick

template <>
struct std::hash<quenwick::GuardedRemoval> {
    size_t operator()(const quenwick::GuardedRemoval& r) const noexcept {
        const size_t h = std::hash<std::string>{}(r.path());
        return r.caution() ? h ^ (std::hash<std::string>{}(*r.caution()) * 31 + 1) : h;
    }
};
