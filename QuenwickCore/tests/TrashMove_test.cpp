#include "QuenwickCore/TrashMove.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/DiskScanner.h"
#include "RemovalFixture.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using testing::makeDirs;
using testing::writeFileOfSize;

class TrashMoveTest : public testing::RemovalTest {
protected:
    void SetUp() override {
        RemovalTest::SetUp();
        work = home + "/work";
        ASSERT_TRUE(makeDirs(work));
    }

    static uint64_t allocated(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return static_cast<uint64_t>(st.st_blocks) * 512;
    }

    std::string work;
};

TEST_F(TrashMoveTest, MovedItemsAreMeasuredLikeAScanAndRecordedOnceInTheLedger) {
    ASSERT_TRUE(makeDirs(work + "/project/src"));
    ASSERT_TRUE(writeFileOfSize(work + "/project/src/big", 200000));
    // A hard link inside the same folder is counted once, as a scan counts it.
    ASSERT_EQ(link((work + "/project/src/big").c_str(), (work + "/project/twin").c_str()), 0);
    ASSERT_TRUE(writeFileOfSize(work + "/notes.txt", 30000));
    const uint64_t bigBytes = allocated(work + "/project/src/big");
    const uint64_t folderBytes =
        DiskScanner(ScanOptions::forVolume(work)).scan(work + "/project")->size(FileTree::root);
    ASSERT_GE(folderBytes, bigBytes);
    ASSERT_LT(folderBytes, 2 * bigBytes);
    const uint64_t fileBytes = allocated(work + "/notes.txt");

    const TrashLedger ledger(data + "/Brimvale/trash-ledger.json");
    const auto result = TrashMove::moveToTrash(
        {allow(work + "/project"), allow(work + "/notes.txt"), allow(work + "/project")}, ledger);
    ASSERT_EQ(result.outcomes.size(), 3u);
    for (const auto& o : result.outcomes)
        EXPECT_FALSE(o.error) << o.original << ": " << o.error->message;
    EXPECT_EQ(result.bytes[0], folderBytes);
    EXPECT_EQ(result.bytes[1], fileBytes);

    const auto state = ledger.load();
    ASSERT_EQ(state.entries.size(), 2u);  // the path given twice moved once
    EXPECT_EQ(state.entries[0].original, work + "/project");
    EXPECT_EQ(state.entries[0].trashed, *result.outcomes[0].trashed);
    EXPECT_EQ(state.entries[0].bytes, folderBytes);
    EXPECT_EQ(state.entries[1].original, work + "/notes.txt");
    EXPECT_EQ(state.entries[1].bytes, fileBytes);
    EXPECT_TRUE(exists(*result.outcomes[0].trashed + "/twin"));
}

TEST_F(TrashMoveTest, ItemThatDidNotMoveIsNotRecordedAndKnownSizesAreTakenAsGiven) {
    ASSERT_TRUE(writeFileOfSize(work + "/kept", 5000));
    ASSERT_TRUE(writeFileOfSize(work + "/vanishing", 5000));
    const auto vanishing = allow(work + "/vanishing");
    ASSERT_EQ(unlink((work + "/vanishing").c_str()), 0);

    const TrashLedger ledger(data + "/Brimvale/trash-ledger.json");
    // Sizes a tree already shows are recorded as they are, not measured again.
    const auto result =
        TrashMove::moveToTrash({vanishing, allow(work + "/kept")}, {111, 222}, ledger);
    ASSERT_EQ(result.outcomes.size(), 2u);
    EXPECT_TRUE(result.outcomes[0].error);
    EXPECT_FALSE(result.outcomes[1].error);
    const auto state = ledger.load();
    ASSERT_EQ(state.entries.size(), 1u);
    EXPECT_EQ(state.entries[0].original, work + "/kept");
    EXPECT_EQ(state.entries[0].bytes, 222u);
    EXPECT_EQ(result.ledger, state);
}

}  // namespace
}  // namespace quenwick
