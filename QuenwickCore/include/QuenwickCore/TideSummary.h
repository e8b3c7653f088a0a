#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/VolumeInfo.h"

// TideSummary: one day's small record of the startup disk: the volume's figures and the rolled-up
// sizes of the big folders under a few roots. A plain value (copy freely, any thread).
//
// Folder paths are kept for display only, never to touch the disk: a path that is not valid UTF-8
// is stored with U+FFFD for each invalid sequence, so every summary can be written as JSON.
namespace quenwick {

struct TideSummary {
    // When the summary was taken, in seconds since 1970-01-01 00:00:00 UTC, with fraction.
    double date = 0;
    // The volume's capacity in bytes; 0 when the volume was unknown.
    uint64_t volumeTotal = 0;
    // total - min(total, available).
    uint64_t volumeUsed = 0;
    // availableForImportantUsage - available, 0 when negative.
    uint64_t purgeable = 0;
    // Rolled-up size of every recorded folder, keyed by absolute path (display form).
    std::map<std::string, uint64_t> folders;

    bool operator==(const TideSummary&) const = default;

    // What the app records: folders of at least 10 MB, down to 6 levels below each root.
    static constexpr uint64_t recordMinBytes = 10'000'000;
    static constexpr int recordMaxDepth = 6;

    // Builds a summary from a scanned tree. For each root in order (roots not in the tree are
    // skipped), walks depth first and records every folder of at least minBytes, entering it
    // while its depth below the root is under maxDepth. A path met twice keeps the size last
    // recorded. Without a volume the three figures are 0. Never touches the disk.
    [[nodiscard]] static TideSummary make(const FileTree& tree,
                                          const std::vector<std::string>& roots,
                                          const std::optional<VolumeInfo>& volume, double date,
                                          uint64_t minBytes, int maxDepth);

    // The roots the app records on this system: the home folder, then the apps roots that exist
    // ("/Applications", "/usr", "/opt", "/var/lib/flatpak"). Reads the disk to test existence.
    [[nodiscard]] static std::vector<std::string> standardRoots(const std::string& home);

    // The daily file's content: one compact JSON object with the keys "date", "volumeTotal",
    // "volumeUsed", "purgeable", "folders" in that order, byte counts as exact integers.
    [[nodiscard]] std::string toJson() const;

    // Decodes a daily file's content; nothing unless it is such an object with every key of the
    // right type (integers within 0 ... 2^64 - 1, a finite date). Unknown keys are ignored.
    [[nodiscard]] static std::optional<TideSummary> fromJson(std::string_view text);

    // The current time in the form of `date`.
    [[nodiscard]] static double now();
};

}  // namespace quenwick
