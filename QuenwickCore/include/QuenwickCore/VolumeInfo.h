#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The capacity figures of the volume holding a path, in bytes, and what follows from them.
// A plain value; reading the figures is one statvfs call, safe from any thread.
namespace quenwick {

struct VolumeInfo {
    // What the user can ever have: on Linux the blocks kept back for root are not counted, as df
    // counts them neither as used nor as available.
    uint64_t total = 0;
    uint64_t available = 0;
    // Free for important writes, purgeable space included. Nothing is purgeable on Linux, so the
    // figures read here carry `available` in this field.
    uint64_t availableForImportantUsage = 0;

    bool operator==(const VolumeInfo&) const = default;

    // The figures of the volume containing path, or nothing when they cannot be read.
    [[nodiscard]] static std::optional<VolumeInfo> containing(const std::string& path);

    uint64_t used() const { return total - (available < total ? available : total); }
    uint64_t purgeable() const {
        return availableForImportantUsage >= available ? availableForImportantUsage - available : 0;
    }
    // Space in use that a scan accounting for `scanned` bytes could not see.
    uint64_t hidden(uint64_t scanned) const { return used() >= scanned ? used() - scanned : 0; }
};

}  // namespace quenwick
