#pragma once

#include <chrono>
#include <locale>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "Shoreline/Candidate.h"
#include "Shoreline/ShorelineCategory.h"
#include "Shoreline/ShorelineContext.h"
#include "TestSupport.h"

// A home folder built for real in a temporary directory: files of chosen sizes (allocated on
// disk, so the scanner counts them) and dates, then scanned into a context whose `now` is fixed.
namespace shoreline::testing {

inline constexpr uint64_t kMiB = 1'048'576;
inline constexpr int64_t kDay = 86'400;

class FakeHome {
public:
    FakeHome();

    const std::string& path() const { return dir_.path(); }
    std::string operator/(std::string_view relative) const { return dir_ / relative; }

    // A file of exactly `bytes` allocated bytes (whole 4 KiB blocks are written), its parents
    // created. Contents are a pattern drawn from `seed`, so equal seeds and sizes make equal files.
    void file(std::string_view relative, uint64_t bytes, uint32_t seed = 0);
    void folder(std::string_view relative);
    // Sets access and modification time to `days` days (plus a minute) before now.
    void age(std::string_view relative, int64_t days);
    void ageAccess(std::string_view relative, int64_t days);
    void ageModification(std::string_view relative, int64_t days);

    // Scans the home folder and makes a context over it with the guard for this home, `now`
    // fixed, last-use dates from access times and the default thresholds.
    [[nodiscard]] ShorelineContext context() const;

    // The reference time of every context made here.
    std::chrono::system_clock::time_point now() const { return now_; }

private:
    void setTimes(std::string_view relative, const int64_t* accessDays, const int64_t* modDays);
    quenwick::testing::TempDir dir_;
    std::chrono::system_clock::time_point now_;
};

// Digit grouping as an English locale has it ("1,204"), whatever locales the machine has.
struct GroupedThousands : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
};

// A tree built by hand, for sizes no file system allocates (one byte under a limit). Paths are
// relative to the home folder, which is the root; missing folders are added on the way, dated
// long ago so that only what a test dates counts.
class TreeBuilder {
public:
    explicit TreeBuilder(std::string home);
    quenwick::FileTree::Node add(std::string_view relative, uint64_t bytes, int64_t daysOld = 0,
                                 bool directory = false);
    // A child of an existing node, without looking anything up (for folders of many files).
    quenwick::FileTree::Node addIn(quenwick::FileTree::Node parent, std::string_view name,
                                   uint64_t bytes, int64_t daysOld,
                                   quenwick::NodeFlags flags = quenwick::NodeFlags());
    // Rolls sizes up and makes a context whose `now` is fixed and whose last-use source knows
    // nothing.
    [[nodiscard]] ShorelineContext context();
    std::chrono::system_clock::time_point now() const { return now_; }

private:
    quenwick::FileTree::Node folder(std::string_view relative);
    std::shared_ptr<quenwick::FileTree> tree_;
    std::string home_;
    std::chrono::system_clock::time_point now_;
};

// The candidates' paths relative to the context's home folder, in order.
std::vector<std::string> relativePaths(const ShorelineContext& ctx,
                                       const std::vector<Candidate>& candidates);
// The findings of the category with that id, as paths relative to home; empty when absent.
std::vector<std::string> findingPaths(const ShorelineContext& ctx,
                                      const std::vector<ShorelineCategory>& categories,
                                      std::string_view id);
// The category with that id, or null.
const ShorelineCategory* categoryOf(const std::vector<ShorelineCategory>& categories,
                                    std::string_view id);

}  // namespace shoreline::testing
