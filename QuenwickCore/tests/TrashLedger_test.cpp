#include "QuenwickCore/TrashLedger.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "RemovalFixture.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using namespace std::chrono_literals;
using testing::writeFile;
using Entry = TrashLedger::Entry;

// 2024-01-02 03:04:05.25 UTC.
const std::chrono::system_clock::time_point kMoment =
    std::chrono::system_clock::time_point(1704164645s + 250ms);

class TrashLedgerTest : public testing::RemovalTest {
protected:
    std::string file() const { return data + "/Brimvale/trash-ledger.json"; }
    TrashLedger ledger() const { return TrashLedger(file()); }
    // A ledger whose idea of the disk is the set of paths given.
    TrashLedger ledgerSeeing(std::set<std::string> paths) const {
        return TrashLedger(file(), [paths](const std::string& p) { return paths.count(p) != 0; });
    }
};

TEST_F(TrashLedgerTest, NoFileReadsEmptyAndRefreshWritesNothing) {
    const auto state = ledger().load();
    EXPECT_TRUE(state.entries.empty());
    EXPECT_EQ(state.freedBytes, 0u);
    EXPECT_EQ(ledger().refresh(true), TrashLedger::State{});
    EXPECT_FALSE(exists(file()));
    EXPECT_EQ(TrashLedger::standard().path(), file());
}

TEST_F(TrashLedgerTest, RecordedEntriesHaveExactlyTheDocumentedKeysInOrder) {
    const uint64_t huge = std::numeric_limits<uint64_t>::max() - 1;
    ledger().record({Entry("/t/a", "/o/a", 100, kMoment), Entry("/t/b", "/o/b", huge, kMoment)});
    const std::string text = readAll(file());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find(": "), std::string::npos);
    const auto json = nlohmann::ordered_json::parse(text);
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"entries", "freedBytes"}));
    ASSERT_EQ(json["entries"].size(), 2u);
    keys.clear();
    for (auto it = json["entries"][0].begin(); it != json["entries"][0].end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"trashed", "original", "bytes", "date"}));
    EXPECT_EQ(json["entries"][1]["bytes"].get<uint64_t>(), huge);
    // Seconds since 2001-01-01 UTC.
    EXPECT_DOUBLE_EQ(json["entries"][0]["date"].get<double>(), 1704164645.25 - 978307200.0);

    const auto state = ledger().load();
    ASSERT_EQ(state.entries.size(), 2u);
    EXPECT_EQ(state.entries[0], Entry("/t/a", "/o/a", 100, kMoment));
    EXPECT_EQ(state.entries[1].bytes, huge);
    EXPECT_EQ(state.waitingBytes(), std::numeric_limits<uint64_t>::max());  // saturates
    // Appending keeps the older entries first.
    const auto after = ledger().record({Entry("/t/c", "/o/c", 1, kMoment)});
    EXPECT_EQ(after.entries.back().trashed, "/t/c");
    EXPECT_EQ(after.entries.front().trashed, "/t/a");
}

TEST_F(TrashLedgerTest, PathsThatAreNotUtf8KeepTheirExactBytes) {
    const std::string trashed = "/t/a\xFF";
    const std::string twin = "/t/a\xEF\xBF\xBD";  // its display form
    ledger().record({Entry(trashed, "/o/\xC3(", 5, kMoment)});
    const auto json = nlohmann::json::parse(readAll(file()));
    EXPECT_EQ(json["entries"][0]["trashed"], twin);
    EXPECT_TRUE(json["entries"][0].contains("trashedBytes"));
    EXPECT_TRUE(json["entries"][0].contains("originalBytes"));
    const auto state = ledger().load();
    EXPECT_EQ(state.entries[0].trashed, trashed);
    EXPECT_EQ(state.entries[0].original, "/o/\xC3(");
    // Settling by the exact bytes removes it; the display form names another file.
    EXPECT_EQ(ledger().addFreed(0, {twin}).entries.size(), 1u);
    EXPECT_TRUE(ledger().addFreed(0, {trashed}).entries.empty());
}

TEST_F(TrashLedgerTest, RefreshCountsEmptiedItemsAndDropsRestoredOnes) {
    ledger().record({Entry("/t/a", "/o/a", 10, kMoment), Entry("/t/b", "/o/b", 20, kMoment),
                     Entry("/t/c", "/o/c", 40, kMoment)});
    // a was emptied from the Trash, b was put back, c is still there.
    const auto state = ledgerSeeing({"/o/b", "/t/c"}).refresh(true);
    ASSERT_EQ(state.entries.size(), 1u);
    EXPECT_EQ(state.entries[0].trashed, "/t/c");
    EXPECT_EQ(state.freedBytes, 10u);
    EXPECT_EQ(state.waitingBytes(), 40u);
    EXPECT_EQ(ledger().load(), state);
    // Everything emptied.
    const auto emptied = ledgerSeeing({}).refresh(true);
    EXPECT_TRUE(emptied.entries.empty());
    EXPECT_EQ(emptied.freedBytes, 50u);
    EXPECT_EQ(emptied.waitingBytes(), 0u);
}

TEST_F(TrashLedgerTest, UnreadableTrashChangesNothing) {
    ledger().record({Entry("/t/a", "/o/a", 10, kMoment)});
    const std::string before = readAll(file());
    const auto state = ledgerSeeing({}).refresh(false);
    EXPECT_EQ(state.entries.size(), 1u);
    EXPECT_EQ(readAll(file()), before);
}

TEST_F(TrashLedgerTest, UnchangedRefreshDoesNotRewriteTheFile) {
    ledger().record({Entry("/t/a", "/o/a", 10, kMoment)});
    struct stat before;
    ASSERT_EQ(stat(file().c_str(), &before), 0);
    EXPECT_EQ(ledgerSeeing({"/t/a"}).refresh(true).entries.size(), 1u);
    struct stat after;
    ASSERT_EQ(stat(file().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // an atomic rewrite would bring a new inode
}

TEST_F(TrashLedgerTest, AddFreedCountsEvenWithoutAMatchingEntry) {
    ledger().record({Entry("/t/a", "/o/a", 10, kMoment), Entry("/t/b", "/o/b", 20, kMoment)});
    auto state = ledger().addFreed(500, {});
    EXPECT_EQ(state.entries.size(), 2u);
    EXPECT_EQ(state.freedBytes, 500u);
    state = ledger().addFreed(20, {"/t/b"});
    ASSERT_EQ(state.entries.size(), 1u);
    EXPECT_EQ(state.entries[0].trashed, "/t/a");
    EXPECT_EQ(state.freedBytes, 520u);
    state = ledger().addFreed(std::numeric_limits<uint64_t>::max(), {});
    EXPECT_EQ(state.freedBytes, std::numeric_limits<uint64_t>::max());
}

TEST_F(TrashLedgerTest, DamagedFilesReadEmptyAndAreKeptAsideBeforeTheNextWrite) {
    const auto damaged = {
        R"({"entries":[],"freedBytes":-1})",
        R"({"entries":[],"freedBytes":1.5})",
        R"({"entries":[],"freedBytes":18446744073709551616})",
        R"({"entries":{},"freedBytes":0})",
        R"({"entries":[],"freedBytes":0)",
        "{\"entries\":[{\"trashed\":\"/\xFF\",\"original\":\"/o\",\"bytes\":1,\"date\":0}],"
        "\"freedBytes\":0}",
        "",
    };
    for (const std::string contents : damaged) {
        ASSERT_TRUE(testing::makeDirs(data + "/Brimvale"));
        ASSERT_TRUE(writeFile(file(), contents));
        EXPECT_EQ(ledger().load(), TrashLedger::State{}) << contents;
    }
    ASSERT_TRUE(writeFile(file(), "not json at all"));
    ledger().record({Entry("/t/a", "/o/a", 1, kMoment)});
    EXPECT_EQ(readAll(file() + ".damaged"), "not json at all");
    EXPECT_EQ(ledger().load().entries.size(), 1u);
    // Unknown keys are ignored.
    ASSERT_TRUE(writeFile(
        file(),
        R"({"version":2,"entries":[{"date":1.5,"bytes":7,"original":"/o","trashed":"/t","x":0}],"freedBytes":9})"));
    const auto state = ledger().load();
    ASSERT_EQ(state.entries.size(), 1u);
    EXPECT_EQ(state.entries[0].bytes, 7u);
    EXPECT_EQ(state.freedBytes, 9u);
}

TEST_F(TrashLedgerTest, OneBadEntryIsSkippedAndTheOthersKept) {
    ASSERT_TRUE(testing::makeDirs(data + "/Brimvale"));
    ASSERT_TRUE(writeFile(file(), R"({"entries":[
        {"trashed":"/t/good","original":"/o/good","bytes":5,"date":1.5},
        {"trashed":"/t/a","original":"/o/a","bytes":-1,"date":0},
        {"trashed":"/t/b","original":"/o/b","bytes":2.5,"date":0},
        {"trashed":"/t/c","original":"/o/c","bytes":1,"date":1e14},
        {"trashed":"/t/d","original":"/o/d","bytes":1,"date":0,"trashedBytes":"%%"},
        {"trashed":"/t/e","original":"/o/e","bytes":1},
        [], "x",
        {"trashed":"/t/last","original":"/o/last","bytes":6,"date":2}],"freedBytes":40})"));
    const auto state = ledger().load();
    ASSERT_EQ(state.entries.size(), 2u);
    EXPECT_EQ(state.entries[0].trashed, "/t/good");
    EXPECT_EQ(state.entries[1].trashed, "/t/last");
    EXPECT_EQ(state.freedBytes, 40u);
}

TEST_F(TrashLedgerTest, TooDeepOrTooLargeLedgersAreDamagedAndEachCopyKept) {
    ASSERT_TRUE(testing::makeDirs(data + "/Brimvale"));
    // About 130,000 levels: deep enough to exhaust the stack of a recursive reader.
    const std::string deep = R"({"entries":[)" + std::string(130000, '[') +
                             std::string(130000, ']') + R"(],"freedBytes":1})";
    ASSERT_TRUE(writeFile(file(), deep));
    EXPECT_EQ(ledger().load(), TrashLedger::State{});
    ledger().record({Entry("/t/a", "/o/a", 1, kMoment)});
    EXPECT_EQ(readAll(file() + ".damaged"), deep);
    EXPECT_EQ(ledger().load().entries.size(), 1u);

    // Valid, but far larger than any ledger this program writes.
    const std::string large = R"({"entries":[],"freedBytes":7)" + std::string(40 << 20, ' ') + "}";
    ASSERT_TRUE(writeFile(file(), large));
    EXPECT_EQ(ledger().load(), TrashLedger::State{});
    ledger().record({Entry("/t/b", "/o/b", 2, kMoment)});
    EXPECT_EQ(readAll(file() + ".damaged"), deep);
    EXPECT_EQ(readAll(file() + ".damaged-2").size(), large.size());
    ASSERT_TRUE(writeFile(file(), "third"));
    ledger().record({});
    EXPECT_EQ(readAll(file() + ".damaged-3"), "third");
    EXPECT_EQ(ledger().load(), TrashLedger::State{});
}

TEST_F(TrashLedgerTest, LedgerAndItsFolderAreTheUsersAlone) {
    const mode_t saved = umask(022);
    ledger().record({Entry("/t/a", "/o/a", 1, kMoment)});
    umask(saved);
    struct stat st {};
    ASSERT_EQ(stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((data + "/Brimvale").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TrashLedgerTest, FailedWriteLeavesThePreviousFile) {
    ledger().record({Entry("/t/a", "/o/a", 1, kMoment)});
    const std::string before = readAll(file());
    // A folder where the temporary file would go makes the write fail.
    const std::string folder = data + "/Brimvale";
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const auto result = testing::runInChild([&] {
        if (!testing::dropPrivileges()) return std::string("no drop");
        TrashLedger(file()).save(TrashLedger::State{{}, 77});
        return std::string("done");
    });
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(result, std::optional<std::string>("done"));
    EXPECT_EQ(readAll(file()), before);
}

}  // namespace
}  // namespace quenwick
