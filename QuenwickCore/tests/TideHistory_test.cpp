#include "QuenwickCore/TideHistory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"

using quenwick::FileTree;
using quenwick::Growth;
using quenwick::NodeFlags;
using quenwick::TideHistory;
using quenwick::TideSummary;
using quenwick::VolumeInfo;
using quenwick::testing::TempDir;
using quenwick::testing::writeFile;

namespace {

constexpr double kDay = 86400;
constexpr double kHour = 3600;
constexpr uint64_t GB = 1'000'000'000;
constexpr uint64_t MB = 1'000'000;
// Wednesday 2026-12-09 12:00:00 UTC.
constexpr double kNoon = 1796817600;

// Runs the test in a fixed zone (POSIX TZ strings need no zone database) and restores the caller's.
class TideHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        useZone("UTC0");
    }
    void TearDown() override {
        if (savedTz_) {
            setenv("TZ", savedTz_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void useZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(history.directory(), error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir temp;
    TideHistory history{temp / "Brimvale/History"};

private:
    std::optional<std::string> savedTz_;
};

TideSummary at(double date, uint64_t used = 0, uint64_t total = 500 * GB) {
    TideSummary s;
    s.date = date;
    s.volumeTotal = total;
    s.volumeUsed = used;
    s.folders["/home/ann"] = used / 2;
    return s;
}

TEST_F(TideHistoryTest, TwoSavesOnOneLocalDayLeaveOneFileHoldingTheSecond) {
    ASSERT_FALSE(history.save(at(kNoon - 3 * kHour, 1 * GB)));
    ASSERT_FALSE(history.save(at(kNoon + 5 * kHour, 2 * GB)));
    EXPECT_EQ(files(), std::vector<std::string>{"2026-12-09.json"});
    const auto loaded = history.load(kNoon + kDay);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], at(kNoon + 5 * kHour, 2 * GB));
}

TEST_F(TideHistoryTest, SavesEitherSideOfLocalMidnightGiveTwoDays) {
    useZone("CET-1");  // UTC+1: local midnight of 12-10 is 23:00 UTC on 12-09
    ASSERT_FALSE(history.save(at(kNoon + 11 * kHour - 1)));
    ASSERT_FALSE(history.save(at(kNoon + 11 * kHour)));
    EXPECT_EQ(files(), (std::vector<std::string>{"2026-12-09.json", "2026-12-10.json"}));
}

TEST_F(TideHistoryTest, FileNameFollowsTheZoneInForceAtEachCall) {
    const double lateEvening = kNoon + 10 * kHour;  // 22:00 UTC
    EXPECT_EQ(TideHistory::fileName(lateEvening), "2026-12-09.json");
    useZone("JST-9");
    EXPECT_EQ(TideHistory::fileName(lateEvening), "2026-12-10.json");
    useZone("HST10");
    EXPECT_EQ(TideHistory::fileName(kNoon + 1 * kHour), "2026-12-09.json");
    EXPECT_EQ(TideHistory::fileName(kNoon - 3 * kHour), "2026-12-08.json");
    EXPECT_EQ(TideHistory::fileName(1e300), std::nullopt);
    EXPECT_EQ(TideHistory::fileName(std::nan("")), std::nullopt);
}

TEST_F(TideHistoryTest, SummaryNearTwoToThe64RoundTripsExactly) {
    TideSummary big;
    big.date = kNoon + 0.123456;
    big.volumeTotal = UINT64_MAX;
    big.volumeUsed = UINT64_MAX - 1;
    big.purgeable = (uint64_t{1} << 63) + 1;
    big.folders["/home/ann"] = UINT64_MAX;
    big.folders["/home/ann/Movies"] = 9'007'199'254'740'993;  // 2^53 + 1: lost by doubles
    ASSERT_FALSE(history.save(big));
    const auto loaded = history.load(kNoon + kDay);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], big);
}

TEST_F(TideHistoryTest, DailyFileIsCompactWithKeysInFixedOrder) {
    TideSummary s;
    s.date = 1.5;
    s.volumeTotal = 10;
    s.volumeUsed = 4;
    s.purgeable = 0;
    s.folders["/b"] = 2;
    s.folders["/a"] = 1;
    EXPECT_EQ(s.toJson(), R"({"date":1.5,"volumeTotal":10,"volumeUsed":4,"purgeable":0,)"
                          R"("folders":{"/a":1,"/b":2}})");
}

TEST_F(TideHistoryTest, DecodingRejectsEveryMalformedShape) {
    const auto good = R"({"date":1,"volumeTotal":1,"volumeUsed":1,"purgeable":0,"folders":{}})";
    EXPECT_TRUE(TideSummary::fromJson(good));
    for (
        const char* bad : {
            R"({"date":1,"volumeTotal":1,"volumeUsed":1,"purgeable":0})",
            R"({"date":"1","volumeTotal":1,"volumeUsed":1,"purgeable":0,"folders":{}})",
            R"({"date":1,"volumeTotal":-1,"volumeUsed":1,"purgeable":0,"folders":{}})",
            R"({"date":1,"volumeTotal":1.5,"volumeUsed":1,"purgeable":0,"folders":{}})",
            R"({"date":1,"volumeTotal":18446744073709551616,"volumeUsed":1,"purgeable":0,"folders":{}})",
            R"({"date":1,"volumeTotal":1,"volumeUsed":1,"purgeable":0,"folders":{"/a":"x"}})",
            R"({"date":1,"volumeTotal":1,"volumeUsed":1,"purgeable":0,"folders":[]})",
            R"({"date":1e999,"volumeTotal":1,"volumeUsed":1,"purgeable":0,"folders":{}})",
            R"([1,2,3])",
            R"({"date":1,"volumeTotal":1,"volumeUsed":1,"purg)",
            "",
        }) {
        EXPECT_FALSE(TideSummary::fromJson(bad)) << bad;
    }
}

TEST_F(TideHistoryTest, LoadSkipsDamagedForeignHalfWrittenAndFutureFiles) {
    ASSERT_FALSE(history.save(at(kNoon - 2 * kDay, 7 * GB)));
    ASSERT_FALSE(history.save(at(kNoon - 1 * kDay, 8 * GB)));
    const std::string dir = history.directory();
    const auto complete = at(kNoon - 3 * kDay).toJson();
    ASSERT_TRUE(writeFile(dir + "/2026-12-06.json", complete.substr(0, complete.size() / 2)));
    ASSERT_TRUE(writeFile(dir + "/2026-12-05.json", "\x89PNG\r\n\x1a\n garbage \xff\xfe"));
    ASSERT_TRUE(writeFile(dir + "/notes.json", R"({"hello": "world"})"));
    ASSERT_TRUE(writeFile(dir + "/.2026-12-04.json.tmp-abc123", complete));
    ASSERT_TRUE(writeFile(dir + "/2026-12-04.txt", complete));
    ASSERT_TRUE(writeFile(dir + "/2026-12-31.json", at(kNoon + 22 * kDay).toJson()));
    ASSERT_EQ(mkdir((dir + "/folder.json").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir + "/pipe.json").c_str(), 0644), 0);  // must not block the load

    const auto loaded = history.load(kNoon);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].volumeUsed, 7 * GB);
    EXPECT_EQ(loaded[1].volumeUsed, 8 * GB);
    // Once its day has come, the summary written ahead of time takes part like any other.
    EXPECT_EQ(history.load(kNoon + 30 * kDay).size(), 3u);
}

TEST_F(TideHistoryTest, DeeplyNestedOrOversizedDailyFilesAreSkipped) {
    ASSERT_FALSE(history.save(at(kNoon - 1 * kDay, 8 * GB)));
    const std::string dir = history.directory();
    auto deep = at(kNoon - 2 * kDay).toJson();
    deep.insert(deep.size() - 1, R"(,"x":)" + std::string(200000, '[') + std::string(200000, ']'));
    ASSERT_TRUE(writeFile(dir + "/2026-12-07.json", deep));
    auto large = at(kNoon - 3 * kDay).toJson();
    large.insert(large.size() - 1, std::string(20 << 20, ' '));
    ASSERT_TRUE(writeFile(dir + "/2026-12-06.json", large));
    const auto loaded = history.load(kNoon);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].volumeUsed, 8 * GB);
}

TEST_F(TideHistoryTest, DailyFilesAndTheirFoldersAreTheUsersAlone) {
    const mode_t saved = umask(022);
    const auto error = history.save(at(kNoon));
    umask(saved);
    ASSERT_FALSE(error);
    struct stat st {};
    ASSERT_EQ(stat((history.directory() + "/2026-12-09.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const auto& folder : {history.directory(), temp / "Brimvale"}) {
        ASSERT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
}

TEST_F(TideHistoryTest, HiddenDailyFilesCountAndLoadSortsByDateNotName) {
    const std::string dir = history.directory();
    ASSERT_TRUE(quenwick::testing::makeDirs(dir));
    ASSERT_TRUE(writeFile(dir + "/.b.json", at(kNoon - 1 * kDay, 2).toJson()));
    ASSERT_TRUE(writeFile(dir + "/a.json", at(kNoon - 2 * kDay, 1).toJson()));
    ASSERT_TRUE(writeFile(dir + "/0.json", at(kNoon - 0.5 * kDay, 3).toJson()));
    const auto loaded = history.load(kNoon);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].volumeUsed, 1u);
    EXPECT_EQ(loaded[1].volumeUsed, 2u);
    EXPECT_EQ(loaded[2].volumeUsed, 3u);
}

TEST_F(TideHistoryTest, MissingFolderLoadsEmptyAndUncreatableFolderFailsTheSave) {
    EXPECT_TRUE(history.load(kNoon).empty());
    ASSERT_TRUE(writeFile(temp / "blocker", "a file where a folder should be"));
    TideHistory blocked(temp / "blocker/History");
    EXPECT_TRUE(blocked.save(at(kNoon)));
    EXPECT_TRUE(blocked.load(kNoon).empty());
    EXPECT_TRUE(history.save(at(std::nan(""))));
    EXPECT_TRUE(files().empty());
}

TEST_F(TideHistoryTest, PruneKeepsThirtyDaysThenTheNewestOfEachIsoWeek) {
    for (int k = 0; k < 40; ++k)
        ASSERT_FALSE(history.save(at(kNoon - k * kDay, static_cast<uint64_t>(k))));
    history.prune(kNoon);
    const auto kept = files();
    ASSERT_EQ(kept.size(), 33u);
    // Ages 30 (Mon, week 46), 31 (Sun, week 45) and 38 (Sun, week 44) remain.
    EXPECT_EQ(kept[0], "2026-11-01.json");
    EXPECT_EQ(kept[1], "2026-11-08.json");
    EXPECT_EQ(kept[2], "2026-11-09.json");
    EXPECT_EQ(kept[3], "2026-11-10.json");
    EXPECT_EQ(kept.back(), "2026-12-09.json");
}

TEST_F(TideHistoryTest, PruneBoundariesAreExactAges) {
    const double midnight = kNoon + 12 * kHour;  // Thu 2026-12-10 00:00 UTC
    int run = 0;
    const auto survivors = [&](std::vector<double> ages) {
        TideHistory h(temp / ("run" + std::to_string(run++)));
        for (double age : ages)
            EXPECT_FALSE(h.save(at(midnight - age * kDay, 0)));
        h.prune(midnight);
        std::vector<std::string> names;
        for (const auto& s : h.load(midnight))
            names.push_back(*TideHistory::fileName(s.date));
        return names;
    };
    // Same ISO week (Mon and Tue of week 46): from age 30 on only the newer stays...
    EXPECT_EQ(survivors({30.5, 30.0}), std::vector<std::string>{"2026-11-10.json"});
    // ...but a summary younger than 30 days does not claim its week.
    EXPECT_EQ(survivors({30.5, 29.99}),
              (std::vector<std::string>{"2026-11-09.json", "2026-11-10.json"}));
    EXPECT_EQ(survivors({365.0}), std::vector<std::string>{"2025-12-10.json"});
    EXPECT_TRUE(survivors({365.001}).empty());
}

TEST_F(TideHistoryTest, OldFileIsDeletedEvenWhenAloneInItsWeek) {
    ASSERT_FALSE(history.save(at(kNoon - 400 * kDay)));
    history.prune(kNoon);
    EXPECT_TRUE(files().empty());
}

TEST_F(TideHistoryTest, IsoWeekSpansTheTurnOfTheYear) {
    // Thu 2026-12-31 and Fri 2027-01-01 are both in ISO week 2026-53; Mon 2027-01-04 is 2027-1.
    const double march1 = 1803902400;
    ASSERT_FALSE(history.save(at(1798718400)));
    ASSERT_FALSE(history.save(at(1798804800)));
    ASSERT_FALSE(history.save(at(1799064000)));
    history.prune(march1);
    EXPECT_EQ(files(), (std::vector<std::string>{"2027-01-01.json", "2027-01-04.json"}));
}

TEST_F(TideHistoryTest, PruneLeavesUndecodableAndForeignNamedFilesAlone) {
    const std::string dir = history.directory();
    ASSERT_TRUE(quenwick::testing::makeDirs(dir));
    ASSERT_TRUE(writeFile(dir + "/2024-01-01.json", "{broken"));
    ASSERT_TRUE(writeFile(dir + "/backup.json", at(kNoon - 500 * kDay).toJson()));
    history.prune(kNoon);
    EXPECT_EQ(files(), (std::vector<std::string>{"2024-01-01.json", "backup.json"}));
}

TEST_F(TideHistoryTest, PruneAfterZoneChangeDeletesTheFileItReadNotANeighbour) {
    // Two summaries of ISO week 45, saved in UTC-11...
    useZone("XXX11");
    const double older = kNoon - 36 * kDay + 2 * kHour;  // Tue 2026-11-03 14:00 UTC
    const double newer = kNoon - 35 * kDay;              // Wed 2026-11-04 12:00 UTC
    ASSERT_FALSE(history.save(at(older, 1)));
    ASSERT_FALSE(history.save(at(newer, 2)));
    ASSERT_EQ(files(), (std::vector<std::string>{"2026-11-03.json", "2026-11-04.json"}));
    // ...pruned in UTC+11, where the older one's day is the newer one's file name.
    useZone("YYY-11");
    ASSERT_EQ(TideHistory::fileName(older), "2026-11-04.json");
    history.prune(kNoon);
    EXPECT_EQ(files(), std::vector<std::string>{"2026-11-04.json"});
    const auto left = history.load(kNoon);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].volumeUsed, 2u);
}

TEST_F(TideHistoryTest, ClockJumpingBackNeitherDeletesTodayNorBendsTheForecast) {
    for (int k = 0; k < 5; ++k)
        ASSERT_FALSE(history.save(at(kNoon - k * kDay, (100 - k) * GB)));
    // The clock falls back by two days, then by more than a year.
    for (double back : {2 * kDay, 400 * kDay}) {
        history.prune(kNoon - back);
        EXPECT_EQ(files().size(), 5u);
    }
    const auto seenEarlier = history.load(kNoon - 1.5 * kDay);
    ASSERT_EQ(seenEarlier.size(), 3u);
    EXPECT_LT(seenEarlier.back().date, kNoon - 1.5 * kDay);
    // Full history: 1 GB a day over 400 GB free. A summary ahead of "now" must not join in.
    const auto all = history.load(kNoon);
    ASSERT_EQ(all.size(), 5u);
    const auto estimate = TideHistory::forecastDaysToFull(all, kNoon - 1.5 * kDay);
    ASSERT_TRUE(estimate);
    EXPECT_NEAR(*estimate, 402.0, 1e-6);
}

TEST_F(TideHistoryTest, NonUtf8FolderPathIsSavedInReplacementForm) {
    TideSummary s = at(kNoon);
    s.folders["/home/ann/caf\xe9"] = 20 * MB;
    ASSERT_FALSE(history.save(s));
    const auto loaded = history.load(kNoon);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].folders.at("/home/ann/caf\xef\xbf\xbd"), 20 * MB);
}

TEST_F(TideHistoryTest, RecordNeedsTheHomeFolderInTheTree) {
    FileTree tree("/");
    const auto home = tree.append(0, "home", 0, 0, 1, NodeFlags::directory);
    const auto ann = tree.append(home, "ann", 0, 0, 2, NodeFlags::directory);
    tree.append(ann, "big.iso", 50 * MB, 0, 3, {});
    tree.propagateSizes();
    const VolumeInfo volume{100 * GB, 40 * GB, 40 * GB};

    EXPECT_FALSE(history.record(tree, volume, kNoon, "/home/bob").summary);
    EXPECT_TRUE(files().empty());

    for (int k = 400; k > 0; k -= 100)
        ASSERT_FALSE(history.save(at(kNoon - k * kDay)));
    const auto recorded = history.record(tree, volume, kNoon, "/home/ann");
    ASSERT_TRUE(recorded.summary);
    EXPECT_FALSE(recorded.saveError);
    EXPECT_EQ(recorded.summary->volumeUsed, 60 * GB);
    EXPECT_EQ(recorded.summary->folders.at("/home/ann"), 50 * MB);
    // Recording prunes: the 400-day-old file is gone, the weekly ones and today's remain.
    EXPECT_EQ(files().size(), 4u);
    EXPECT_EQ(history.load(kNoon).back(), *recorded.summary);
}

// Growth ---------------------------------------------------------------------------------------

TideSummary withFolders(std::map<std::string, uint64_t> folders, double date = kNoon) {
    TideSummary s;
    s.date = date;
    s.folders = std::move(folders);
    return s;
}

TEST(TideGrowth, ChildThatExplainsTheGrowthIsReportedInsteadOfItsParent) {
    const auto from = withFolders({{"/h", 10 * GB}, {"/h/a", 1 * GB}, {"/h/a/b", 1 * GB}});
    const auto to = withFolders({{"/h", 13 * GB}, {"/h/a", 4 * GB}, {"/h/a/b", 3'900 * MB}});
    EXPECT_EQ(TideHistory::growth(from, to, 100 * MB),
              (std::vector<Growth>{{"/h/a/b", 2'900'000'000}}));
}

TEST(TideGrowth, ParentKeepsItsGrowthAndOnlyMarkedChildrenFollow) {
    const auto from = withFolders({{"/h", 10 * GB}, {"/h/x", 1 * GB}, {"/h/y", 1 * GB}});
    const auto to = withFolders({{"/h", 13 * GB}, {"/h/x", 2'200 * MB}, {"/h/y", 1'300 * MB}});
    EXPECT_EQ(TideHistory::growth(from, to, 100 * MB),
              (std::vector<Growth>{{"/h", 3'000'000'000}, {"/h/x", 1'200'000'000}}));
}

TEST(TideGrowth, NewFolderCountsWholeAndVanishedOrSmallChangesDoNot) {
    const auto from = withFolders({{"/v", 55 * GB}, {"/v/gone", 50 * GB}, {"/v/same", 5 * GB}});
    const auto to =
        withFolders({{"/v", 7'099 * MB}, {"/v/new", 2 * GB}, {"/v/same", 5 * GB + 99 * MB}});
    EXPECT_EQ(TideHistory::growth(from, to, 100 * MB),
              (std::vector<Growth>{{"/v/new", 2'000'000'000}}));
    EXPECT_TRUE(TideHistory::growth(to, to, 100 * MB).empty());
    EXPECT_TRUE(
        TideHistory::growth(from, withFolders({{"/v", 5 * GB}, {"/v/same", 5 * GB}}), 100 * MB)
            .empty());
}

TEST(TideGrowth, ResultsComeLargestFirstAcrossSeparateTops) {
    const auto to = withFolders({{"/a", 1 * GB}, {"/b", 5 * GB}, {"/c", 3 * GB}});
    EXPECT_EQ(
        TideHistory::growth(withFolders({{"/a", 0}, {"/b", 0}, {"/c", 0}}), to, 100 * MB),
        (std::vector<Growth>{{"/b", 5'000'000'000}, {"/c", 3'000'000'000}, {"/a", 1'000'000'000}}));
}

TEST(TideGrowth, RootFolderIsNotItsOwnChild) {
    const auto small = withFolders({{"/", 9 * GB}, {"/usr", 1 * GB}});
    const auto before = withFolders({{"/", 0}});
    EXPECT_EQ(TideHistory::growth(before, small, 100 * MB),
              (std::vector<Growth>{{"/", 9'000'000'000}}));
    const auto explained = withFolders({{"/", 9 * GB}, {"/usr", 8 * GB}});
    EXPECT_EQ(TideHistory::growth(before, explained, 100 * MB),
              (std::vector<Growth>{{"/usr", 8'000'000'000}}));
}

TEST(TideGrowth, FolderUnderARootTheOlderSummaryDidNotCoverIsNeverACandidate) {
    // The history began with home-only records, then "/" was recorded too.
    const auto from = withFolders({{"/home/ann", 50 * GB}, {"/home/ann/Movies", 20 * GB}});
    const auto to = withFolders({{"/", 200 * GB},
                                 {"/usr", 30 * GB},
                                 {"/usr/lib", 25 * GB},
                                 {"/home", 57 * GB},
                                 {"/home/ann", 56 * GB},
                                 {"/home/ann/Movies", 26 * GB},
                                 {"/home/ann/New", 200 * MB}});
    EXPECT_EQ(
        TideHistory::growth(from, to, 100 * MB),
        (std::vector<Growth>{{"/home/ann/Movies", 6'000'000'000}, {"/home/ann/New", 200'000'000}}));
    // Nothing recorded before covers nothing.
    EXPECT_TRUE(TideHistory::growth(withFolders({}), to, 100 * MB).empty());
}

TEST(TideGrowth, DeltasNearTwoToThe64SaturateInsteadOfWrapping) {
    const auto from = withFolders({{"/a", 0}, {"/b", UINT64_MAX}});
    const auto to = withFolders({{"/a", UINT64_MAX}, {"/b", 0}});
    EXPECT_EQ(TideHistory::growth(from, to, INT64_MIN),
              (std::vector<Growth>{{"/a", INT64_MAX}, {"/b", INT64_MIN}}));
}

TEST(TideGrowth, LongChainOfGrownFoldersNarrowsToTheDeepest) {
    std::map<std::string, uint64_t> folders;
    std::string path;
    for (int depth = 0; depth < 3000; ++depth) {
        path += "/d";
        folders[path] = 1 * GB;
    }
    const auto grown =
        TideHistory::growth(withFolders({{"/d", 0}}), withFolders(std::move(folders)), 1);
    ASSERT_EQ(grown.size(), 1u);
    EXPECT_EQ(grown[0].path, path);
}

TEST(TideGrowth, RecentGrowthStartsNearestNDaysBackOrAtTheOldest) {
    std::vector<TideSummary> history;
    for (int k = 10; k >= 0; --k)
        history.push_back(withFolders({{"/h", (20 - k) * GB}}, kNoon - k * kDay));
    // Seven days back is exact; "at most 12 hours after" also admits nothing newer.
    EXPECT_EQ(TideHistory::growthOverDays(history, 7),
              (std::vector<Growth>{{"/h", 7'000'000'000}}));
    // Asking for more than the history holds starts at the oldest.
    EXPECT_EQ(TideHistory::growthOverDays(history, 30),
              (std::vector<Growth>{{"/h", 10'000'000'000}}));
    // A summary up to 12 hours after the target point still counts as that day; one later not.
    history[3].date = kNoon - 7 * kDay + 11 * kHour;
    EXPECT_EQ(TideHistory::growthOverDays(history, 7),
              (std::vector<Growth>{{"/h", 7'000'000'000}}));
    history[3].date = kNoon - 7 * kDay + 13 * kHour;
    EXPECT_EQ(TideHistory::growthOverDays(history, 7),
              (std::vector<Growth>{{"/h", 8'000'000'000}}));
    EXPECT_TRUE(TideHistory::growthOverDays({history.back()}, 7).empty());
    EXPECT_TRUE(TideHistory::growthOverDays({}, 7).empty());
}

// Forecast -------------------------------------------------------------------------------------

std::vector<TideSummary> usedOverDays(std::vector<std::pair<double, uint64_t>> points,
                                      uint64_t total = 1000 * GB) {
    std::vector<TideSummary> history;
    for (const auto& [day, used] : points)
        history.push_back(at(kNoon + day * kDay, used, total));
    return history;
}

TEST(TideForecast, LinearUseGivesTheDaysLeft) {
    const auto history = usedOverDays({{-4, 500 * GB}, {-2, 520 * GB}, {0, 540 * GB}});
    const auto days = TideHistory::forecastDaysToFull(history, kNoon);
    ASSERT_TRUE(days);
    EXPECT_NEAR(*days, 46.0, 1e-9);
}

TEST(TideForecast, TooFewOrTooCloseSummariesGiveNoEstimate) {
    EXPECT_FALSE(TideHistory::forecastDaysToFull(usedOverDays({{-3, 1 * GB}, {0, 9 * GB}}), kNoon));
    const double h47 = 47.0 / 24;
    EXPECT_FALSE(TideHistory::forecastDaysToFull(
        usedOverDays({{-h47, 1 * GB}, {-h47 / 2, 5 * GB}, {0, 9 * GB}}), kNoon));
    EXPECT_TRUE(TideHistory::forecastDaysToFull(
        usedOverDays({{-2, 1 * GB}, {-1, 5 * GB}, {0, 9 * GB}}), kNoon));
}

TEST(TideForecast, FlatOrFallingUseGivesNoEstimate) {
    EXPECT_FALSE(TideHistory::forecastDaysToFull(
        usedOverDays({{-4, 9 * GB}, {-2, 9 * GB}, {0, 9 * GB}}), kNoon));
    EXPECT_FALSE(TideHistory::forecastDaysToFull(
        usedOverDays({{-4, 9 * GB}, {-2, 5 * GB}, {0, 1 * GB}}), kNoon));
}

TEST(TideForecast, OverFullVolumeIsFullNow) {
    const auto history = usedOverDays({{-4, 980 * GB}, {-2, 1000 * GB}, {0, 1010 * GB}}, 1000 * GB);
    EXPECT_EQ(TideHistory::forecastDaysToFull(history, kNoon), 0.0);
}

TEST(TideForecast, OldAndUnknownVolumeSummariesTakeNoPart) {
    // Falling use outside the 14 days and on an unknown volume would make the slope negative.
    auto history = usedOverDays({{-20, 900 * GB}, {-4, 500 * GB}, {-2, 520 * GB}, {0, 540 * GB}});
    history.insert(history.begin() + 2, at(kNoon - 3 * kDay, 999 * GB, 0));
    const auto days = TideHistory::forecastDaysToFull(history, kNoon);
    ASSERT_TRUE(days);
    EXPECT_NEAR(*days, 46.0, 1e-9);
    EXPECT_FALSE(TideHistory::forecastDaysToFull(history, kNoon + 13 * kDay));
}

}  // namespace
