#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/TideSummary.h"
#include "QuenwickCore/VolumeInfo.h"
#include "Shoreline/ShorelineCategory.h"
#include "model/AppEnvironment.h"

// A fictional computer for demonstrations and screenshots: a 500 GB startup disk 80 % full, with
// a home of projects, build folders, dependencies, videos, photos, caches, old installers,
// duplicates and a Trash; 90 days of daily summaries growing towards a fill date; and a guard
// that judges the fictional paths. None of it exists on this machine: nothing here reads or
// writes the disk, and everything follows from the reference time alone, so two machines made
// for the same time are the same.
//
// Immutable after make(); any thread. tree() hands out a fresh copy each time, which the caller
// owns and may change.
namespace brimvale {

class DemoMachine {
public:
    using Clock = std::chrono::system_clock;

    // The fictional user's home folder.
    static constexpr const char* home = "/home/robin";
    static constexpr uint64_t diskBytes = 500'000'000'000;
    static constexpr double fullness = 0.8;
    static constexpr int historyDays = 90;

    // The machine as it is at `now` (file times and summaries are counted back from it).
    [[nodiscard]] static std::shared_ptr<const DemoMachine> make(Clock::time_point now);

    Clock::time_point now() const { return now_; }
    // The folders of the fictional user, all below home.
    [[nodiscard]] AppEnvironment environment() const;
    // A fresh copy of the startup disk's tree, rooted at "/".
    [[nodiscard]] std::shared_ptr<quenwick::FileTree> tree() const;
    // A fresh copy of the folder at root (a tree rooted there), or of the whole disk when the
    // fictional machine has no such folder.
    [[nodiscard]] std::shared_ptr<quenwick::FileTree> tree(const std::string& root) const;
    // The startup disk's figures while `removed` bytes have been taken off the tree.
    [[nodiscard]] quenwick::VolumeInfo volume(uint64_t removed = 0) const;
    // Daily summaries, oldest first, the last one taken from the tree at now.
    const std::vector<quenwick::TideSummary>& history() const { return history_; }
    // The guard of the fictional user (no program of theirs is running).
    [[nodiscard]] quenwick::DeletionGuard guard() const;
    // The suggestion engine's findings over a demo tree (possibly with removals), the duplicates
    // taken from what the fictional files are known to hold rather than read from disk.
    [[nodiscard]] std::vector<shoreline::ShorelineCategory> suggestions(
        std::shared_ptr<const quenwick::FileTree> tree) const;
    // The bytes in the fictional Trash.
    [[nodiscard]] uint64_t trashBytes(const quenwick::FileTree& tree) const;

    // Pairs of (kept, copy): paths of files with the same contents.
    struct Duplicate {
        std::string kept;
        std::string copy;
    };
    const std::vector<Duplicate>& duplicates() const { return duplicates_; }

private:
    DemoMachine() = default;

    Clock::time_point now_;
    std::shared_ptr<const quenwick::FileTree> tree_;
    std::vector<quenwick::TideSummary> history_;
    std::vector<Duplicate> duplicates_;
    uint64_t hiddenBytes_ = 0;  // used space the tree does not account for
};

}  // namespace brimvale
