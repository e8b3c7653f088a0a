#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "QuenwickCore/Growth.h"
#include "QuenwickCore/TideSummary.h"

// TideHistory: the store of daily summaries, one JSON file per local calendar day
// ("YYYY-MM-DD.json") in one folder, thinned by prune() to one file per ISO week after 30 days and
// to nothing after a year; plus the computations over a loaded history (growth, fill estimate).
//
// A plain value naming a folder; it holds no state beyond the files. Each call is independent and
// may run on any thread; two processes saving the same day leave one complete file (atomic
// writes). Damaged, foreign or half-written files never make a call fail: they are ignored.
namespace quenwick {

class TideHistory {
public:
    explicit TideHistory(std::string directory);

    // $XDG_DATA_HOME/Brimvale/History (the counterpart of "Brimvale/History" in the app's data).
    [[nodiscard]] static TideHistory standard();

    const std::string& directory() const { return directory_; }

    // Writes the summary's daily file, replacing that day's earlier one; creates the folder
    // first. Returns the file system's error (empty on success); on failure nothing is written.
    [[nodiscard]] std::error_code save(const TideSummary& summary) const;

    // The day's record the app makes after accepting a tree. Nothing happens unless the tree
    // contains the home folder; otherwise the summary over standardRoots(home) with the record
    // limits is saved (its error reported in saveError) and the history pruned at `now`.
    struct Recording {
        std::optional<TideSummary> summary;
        std::error_code saveError;
    };
    [[nodiscard]] Recording record(const FileTree& tree, const std::optional<VolumeInfo>& volume,
                                   double now, const std::string& home) const;

    // Every summary in the folder, oldest first (stable). Files that cannot be read or decoded,
    // and summaries dated after `now` (written while the clock ran ahead), are skipped.
    [[nodiscard]] std::vector<TideSummary> load(double now) const;
    [[nodiscard]] std::vector<TideSummary> load() const { return load(TideSummary::now()); }

    // Keeps every summary younger than 30 days, the newest of each ISO week up to 365 days, and
    // nothing older. Deletes the daily file a pruned summary was read from; files that do not
    // decode (or lie in the future) take no part. Errors are ignored.
    void prune(double now) const;

    // The file name for a summary taken at `date`, from the local calendar day in the current time
    // zone (re-read on every call); nothing for a date no calendar can hold.
    [[nodiscard]] static std::optional<std::string> fileName(double date);

    // The folders that grew by at least minDelta from `from` to `to`, narrowed to the folders that
    // account for the growth, largest first, each path once. Folders present only in `from` never
    // appear, and neither does a folder `from` did not cover (neither it nor an ancestor of it
    // was recorded there: its root was added since). Deltas beyond the signed 64-bit range
    // saturate.
    [[nodiscard]] static std::vector<Growth> growth(const TideSummary& from, const TideSummary& to,
                                                    int64_t minDelta);

    // The growth shown for "the last N days": from the summary nearest to N days before the newest
    // (within 12 hours after that point, else the oldest) to the newest, with minDelta 100 MB.
    // Empty with fewer than two summaries.
    [[nodiscard]] static std::vector<Growth> growthOverDays(const std::vector<TideSummary>& history,
                                                            int64_t days);

    // Days until the volume is full, by a least-squares line through the used space of the last 14
    // days' summaries (those not dated after now). Nothing with fewer than 3 such summaries, when
    // they span less than 2 days, or when use is flat or falling; 0 for an over-full volume.
    [[nodiscard]] static std::optional<double> forecastDaysToFull(
        const std::vector<TideSummary>& history, double now);

private:
    std::string directory_;
};

}  // namespace quenwick
