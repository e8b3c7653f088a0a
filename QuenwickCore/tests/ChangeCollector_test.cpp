#include "ChangeCollector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using quenwick::ChangeSet;
using quenwick::detail::ChangeCollector;
namespace Flags = quenwick::detail::JournalFlags;

namespace {

using Clock = std::chrono::steady_clock;

// Other bits the platform's event streams carry (item created, removed, renamed, is a file,
// own event): they describe the item and never mean lost precision.
constexpr uint32_t kItemCreated = 0x100;
constexpr uint32_t kItemRemoved = 0x200;
constexpr uint32_t kItemRenamed = 0x800;
constexpr uint32_t kItemIsFile = 0x10000;
constexpr uint32_t kOwnEvent = 0x80000;

ChangeSet collect(const std::vector<std::pair<std::string, uint32_t>>& events) {
    ChangeCollector collector;
    std::vector<std::string_view> paths;
    std::vector<uint32_t> flags;
    for (const auto& [path, flag] : events) {
        paths.push_back(path);
        flags.push_back(flag);
    }
    collector.deliver(paths, flags);
    const bool done = collector.waitUntilDone(Clock::now() + std::chrono::milliseconds(50));
    return collector.result(!done);
}

TEST(ChangeCollector, TrailingSlashDroppedEachPathOnceAndSorted) {
    EXPECT_EQ(collect({{"/b/", 0},
                       {"/a/x", kItemCreated | kItemIsFile},
                       {"/", 0},
                       {"/b", kItemRemoved},
                       {"/a/x/", kItemRenamed},
                       {"/a", kOwnEvent},
                       {"/a//", 0},
                       {"/", Flags::historyDone}}),
              ChangeSet::directories({"/", "/a", "/a/", "/a/x", "/b"}));
}

TEST(ChangeCollector, EveryLostPrecisionBitForcesAFullRescanAnywhereInTheReplay) {
    for (const uint32_t bit : {Flags::mustScanSubDirs, Flags::userDropped, Flags::kernelDropped,
                               Flags::eventIdsWrapped, Flags::rootChanged}) {
        SCOPED_TRACE(bit);
        EXPECT_EQ(
            collect({{"/a", 0}, {"/b", bit | kItemIsFile}, {"/c", 0}, {"/", Flags::historyDone}}),
            ChangeSet::fullRescanNeeded());
    }
    // The same bits on the history-done event itself are not looked at.
    EXPECT_EQ(collect({{"/a", 0}, {"/", Flags::historyDone | Flags::kernelDropped}}),
              ChangeSet::directories({"/a"}));
}

TEST(ChangeCollector, EmptyReplayEndingInHistoryDoneIsAnEmptyList) {
    EXPECT_EQ(collect({{"/ignored", Flags::historyDone}}), ChangeSet::directories({}));
}

TEST(ChangeCollector, NoHistoryDoneBeforeTheDeadlineMeansFullRescan) {
    EXPECT_EQ(collect({{"/a", 0}, {"/b", 0}}), ChangeSet::fullRescanNeeded());
}

TEST(ChangeCollector, EventsDeliveredFromAnotherThreadInBatches) {
    ChangeCollector collector;
    std::jthread delivery([&] {
        for (int batch = 0; batch < 50; ++batch) {
            const std::string path = "/d" + std::to_string(batch % 10);
            collector.deliver(path, kItemCreated);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        collector.deliver("/", Flags::historyDone);
    });
    ASSERT_TRUE(collector.waitUntilDone(Clock::now() + std::chrono::seconds(20)));
    delivery.join();
    const auto result = collector.result(false);
    ASSERT_FALSE(result.needsFullRescan());
    EXPECT_EQ(result.paths().size(), 10u);
    EXPECT_TRUE(std::is_sorted(result.paths().begin(), result.paths().end()));
}

}  // namespace
