#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AppTestFixture.h"
#include "QuenwickCore/DeletionGuard.h"

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::testing::makeDirs;
using quenwick::testing::writeFile;
using quenwick::testing::writeFileOfSize;
using testing::AppTest;

const QString kOpen = QString::fromUtf8("\u201C");
const QString kClose = QString::fromUtf8("\u201D");

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

size_t entriesIn(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        closedir(d);
    }
    return n;
}

// Sets or clears the immutable attribute, which keeps even root from renaming the file. False
// where the file system has no such attribute.
bool setImmutable(const std::string& path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return ok;
}

class RemovalTest : public AppTest {
protected:
    // work/old/locked with a file inside, immutable: even root cannot empty it. False where the
    // file system has no such attribute.
    bool lockFolderInOld() {
        const std::string locked = work + "/old/locked";
        return makeDirs(locked) && writeFile(locked + "/stuck", "x") && setImmutable(locked, true);
    }
    // Lets the test's folders go again once the remains sit in the erasing folder.
    void unlockRemains() {
        for (const auto& item : quenwick::Eraser(cache + "/Brimvale/Erasing").pending())
            setImmutable(item.path + "/locked", false);
    }

    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(makeDirs(work + "/old/logs"));
        ASSERT_TRUE(makeDirs(work + "/keep"));
        ASSERT_TRUE(writeFileOfSize(work + "/old/logs/a.log", 64'000));
        ASSERT_TRUE(writeFileOfSize(work + "/old/b.bin", 32'000));
        ASSERT_TRUE(writeFileOfSize(work + "/keep/c.bin", 16'000));
        ASSERT_TRUE(writeFileOfSize(work + "/loose.bin", 8'000));
        model = makeModel();
        show(*model, work);
    }

    FileTree::Node node(const std::string& relative) const {
        return model->tree()->nodeAtPath(work + "/" + relative).value_or(FileTree::none);
    }

    std::string trashFiles() const { return data + "/Trash/files"; }

    std::unique_ptr<AppModel> model;
};

TEST_F(RemovalTest, MoveToTrashRoundTripLandsInTheTrashAndTheLedgerAndShrinksTheTree) {
    QAbstractItemModelTester items(model->items(),
                                   QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester listed(model->cleanupList(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const uint64_t rootBefore = model->tree()->size(FileTree::root);
    const uint64_t oldBytes = model->tree()->size(node("old"));
    const auto revision = model->revision();
    const auto layout = model->layoutID();
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    QSignalSpy reset(model->items(), &QAbstractItemModel::modelReset);
    QSignalSpy removedRows(model->items(), &QAbstractItemModel::rowsRemoved);

    const auto result = removeAndWait(*model, false);
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->permanent);
    EXPECT_EQ(result->movedCount, 2);
    const uint64_t looseBytes = 8'192;
    EXPECT_EQ(result->movedBytes, oldBytes + looseBytes);
    EXPECT_TRUE(result->failures.isEmpty()) << result->failures.join("|").toStdString();

    EXPECT_FALSE(exists(work + "/old"));
    EXPECT_EQ(readAll(trashFiles() + "/old/logs/a.log").size(), 64'000u);
    const std::string info = readAll(data + "/Trash/info/old.trashinfo");
    EXPECT_NE(info.find("Path=" + work + "/old\n"), std::string::npos) << info;
    ASSERT_EQ(model->trashLedger().entries.size(), 2u);
    EXPECT_EQ(model->trashLedger().entries[0].trashed, trashFiles() + "/old");
    EXPECT_EQ(model->trashLedger().entries[0].original, work + "/old");
    EXPECT_EQ(model->trashLedger().entries[0].bytes, oldBytes);
    EXPECT_EQ(quenwick::TrashLedger(data + "/Brimvale/trash-ledger.json").load(),
              model->trashLedger());

    EXPECT_TRUE(model->lowTide().empty());
    EXPECT_EQ(model->trashBytes(), oldBytes + looseBytes);
    EXPECT_EQ(model->tree()->size(FileTree::root), rootBefore - oldBytes - looseBytes);
    EXPECT_EQ(node("old"), FileTree::none);
    EXPECT_GT(model->revision(), revision);
    EXPECT_GT(model->layoutID(), layout);
    EXPECT_EQ(model->items()->rowCount(), 1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_GE(removedRows.count(), 1);
    EXPECT_FALSE(model->removing());
}

TEST_F(RemovalTest, FindingsInsideARemovedFolderLeaveAndEmptyCategoriesGo) {
    auto allowed = [](const std::string& path) {
        return *quenwick::DeletionGuard::live().check(path).allowed();
    };
    shoreline::ShorelineCategory logs{"logs", "Logs", "", "", {}};
    logs.findings = {{work + "/old/logs", "logs", 64'000, shoreline::Safety::safe, "",
                      allowed(work + "/old/logs")}};
    shoreline::ShorelineCategory big{"big", "Big", "", "", {}};
    big.findings = {{work + "/old/b.bin", "b.bin", 32'000, shoreline::Safety::review, "",
                     allowed(work + "/old/b.bin")},
                    {work + "/keep/c.bin", "c.bin", 16'000, shoreline::Safety::review, "",
                     allowed(work + "/keep/c.bin")}};
    model->setShoreline({logs, big});
    model->setAll(logs, true);
    QAbstractItemModelTester tester(model->suggestions(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    stageAndWait(*model, work + "/old");
    ASSERT_TRUE(removeAndWait(*model, false));
    ASSERT_EQ(model->shoreline().size(), 1u);
    EXPECT_EQ(model->shoreline()[0].id, "big");
    ASSERT_EQ(model->shoreline()[0].findings.size(), 1u);
    EXPECT_EQ(model->shoreline()[0].findings[0].path, work + "/keep/c.bin");
    EXPECT_TRUE(model->shorelineChecked().empty());
    EXPECT_EQ(model->suggestions()->rowCount(), 1);
}

TEST_F(RemovalTest, RemovingTheFocusedFolderReturnsTheFocusToTheRoot) {
    model->focusOn(node("old/logs"));
    stageAndWait(*model, work + "/old");
    ASSERT_TRUE(removeAndWait(*model, false));
    EXPECT_EQ(model->focus(), FileTree::root);
    EXPECT_EQ(model->breadcrumbs(), std::vector<FileTree::Node>{FileTree::root});
}

TEST_F(RemovalTest, PermanentDeleteKeepsItsBytesInErasingUntilTheEraserIsIdle) {
    // Enough files that the background deletion is still running after the item left its place.
    ASSERT_TRUE(makeDirs(work + "/many"));
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(writeFile(work + "/many/f" + std::to_string(i), "x"));
    show(*model, work);
    const uint64_t bytes = model->tree()->size(node("many"));
    stageAndWait(*model, work + "/many");
    std::vector<quint64> erasingSeen;
    bool goneWhileErasing = false;
    QObject::connect(model.get(), &AppModel::erasingBytesChanged, [&] {
        erasingSeen.push_back(model->erasingBytes());
        if (model->erasingBytes() != 0) goneWhileErasing = !exists(work + "/many");
    });
    const auto result = removeAndWait(*model, true);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->permanent);
    EXPECT_EQ(result->movedCount, 1);
    EXPECT_TRUE(result->failures.empty());
    EXPECT_EQ(erasingSeen, (std::vector<quint64>{bytes, 0}));
    EXPECT_TRUE(goneWhileErasing);
    EXPECT_EQ(model->erasingBytes(), 0u);
    EXPECT_EQ(model->trashLedger().freedBytes, bytes);
    // The result came once the eraser was idle: nothing is left in its staging folder.
    EXPECT_EQ(entriesIn(cache + "/Brimvale/Erasing"), 0u);
    EXPECT_EQ(entriesIn(trashFiles()), 0u);
}

// What the deletion itself could not remove (here a folder even root may not empty) is a failure
// of the result, never counted as moved or freed.
TEST_F(RemovalTest, PermanentDeleteReportsWhatTheEraserLeftBehind) {
    if (!lockFolderInOld()) GTEST_SKIP() << "no immutable attribute on this file system";
    show(*model, work);
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    const uint64_t looseBytes = model->lowTide()[1].bytes;
    const auto result = removeAndWait(*model, true);
    // The remains wait in the staging folder: let the test's folders go again.
    const auto pending = quenwick::Eraser(cache + "/Brimvale/Erasing").pending();
    unlockRemains();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->movedCount, 1);
    EXPECT_EQ(result->movedBytes, looseBytes);
    ASSERT_EQ(result->failures.size(), 1);
    const std::string line = result->failures[0].toStdString();
    EXPECT_TRUE(result->failures[0].startsWith("old: 3 items could not be deleted (")) << line;
    EXPECT_NE(line.find("/locked/stuck"), std::string::npos) << line;
    EXPECT_NE(line.find("what is left waits in " + cache + "/Brimvale/Erasing/Remains-"),
              std::string::npos)
        << line;
    EXPECT_EQ(model->trashLedger().freedBytes, looseBytes);
    EXPECT_EQ(model->erasingBytes(), 0u);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_TRUE(pending[0].remains);
}

TEST_F(RemovalTest, EraserThatCannotStartRemovesNothingAndSaysSoForEveryItem) {
    ASSERT_TRUE(writeFile(root / "not-a-folder", "x"));
    auto services = this->services();
    services.eraser = std::make_shared<quenwick::Eraser>(root / "not-a-folder/Erasing");
    model = makeModel(services);
    show(*model, work);
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    const auto result = removeAndWait(*model, true);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->movedCount, 0);
    ASSERT_EQ(result->failures.size(), 2);
    EXPECT_TRUE(result->failures[0].startsWith("old: The erasing folder could not be prepared ("))
        << result->failures[0].toStdString();
    EXPECT_TRUE(result->failures[1].startsWith("loose.bin: ")) << result->failures[1].toStdString();
    EXPECT_EQ(model->lowTide().size(), 2u);
    EXPECT_TRUE(exists(work + "/old"));
    EXPECT_EQ(model->erasingBytes(), 0u);
    EXPECT_NE(node("old"), FileTree::none);
}

TEST_F(RemovalTest, FolderSwappedForAnotherOfTheSameNameIsNotRemoved) {
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/keep");
    ASSERT_EQ(rename((work + "/old").c_str(), (work + "/old-original").c_str()), 0);
    ASSERT_TRUE(makeDirs(work + "/old"));
    ASSERT_TRUE(writeFile(work + "/old/precious.txt", "not what you reviewed"));
    const auto result = removeAndWait(*model, false);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->failures.size(), 1);
    EXPECT_EQ(result->failures[0],
              kOpen + "old" + kClose + " changed since you added it. Review it again.");
    EXPECT_EQ(result->movedCount, 1);
    EXPECT_TRUE(exists(work + "/old/precious.txt"));
    EXPECT_FALSE(exists(work + "/keep"));
    ASSERT_EQ(model->lowTide().size(), 1u);
    EXPECT_EQ(model->lowTide()[0].path, work + "/old");
}

TEST_F(RemovalTest, FileRewrittenOrTurnedIntoALinkSinceStagingIsNotRemoved) {
    stageAndWait(*model, work + "/loose.bin");
    stageAndWait(*model, work + "/keep/c.bin");
    ASSERT_TRUE(writeFileOfSize(work + "/loose.bin", 9'000));
    ASSERT_EQ(unlink((work + "/keep/c.bin").c_str()), 0);
    ASSERT_EQ(symlink("/etc/hostname", (work + "/keep/c.bin").c_str()), 0);
    const auto result = removeAndWait(*model, true);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->movedCount, 0);
    ASSERT_EQ(result->failures.size(), 2);
    EXPECT_TRUE(result->failures[1].endsWith(" changed since you added it. Review it again."));
    EXPECT_TRUE(exists(work + "/loose.bin"));
    EXPECT_TRUE(exists(work + "/keep/c.bin"));
}

TEST_F(RemovalTest, ProgramStartedSinceStagingIsBlockedAtRemovalAndStaysListed) {
    const std::string tool = work + "/tool";
    {
        std::ifstream in("/bin/sleep", std::ios::binary);
        std::ofstream out(tool, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
    show(*model, work);
    stageAndWait(*model, tool);
    stageAndWait(*model, work + "/loose.bin");
    ASSERT_EQ(model->lowTide().size(), 2u);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(tool.c_str(), "tool", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(waitFor([&] { return !quenwick::DeletionGuard::live().check(tool).isAllowed(); }));
    const auto reason = *quenwick::DeletionGuard::live().check(tool).blockedReason();
    const auto result = removeAndWait(*model, false);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->failures.size(), 1);
    EXPECT_EQ(result->failures[0], "tool: " + QString::fromStdString(reason));
    EXPECT_EQ(result->movedCount, 1);
    EXPECT_TRUE(exists(tool));
    ASSERT_EQ(model->lowTide().size(), 1u);
    EXPECT_EQ(model->lowTide()[0].path, tool);
}

TEST_F(RemovalTest, RemovalThatFailsHalfWayReportsTheItemThatStayedAndRemovesTheRest) {
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    if (!setImmutable(work + "/loose.bin", true))
        GTEST_SKIP() << "no immutable attribute on this file system";
    const auto result = removeAndWait(*model, false);
    setImmutable(work + "/loose.bin", false);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->movedCount, 1);
    ASSERT_EQ(result->failures.size(), 1);
    EXPECT_EQ(result->failures[0], "loose.bin: " + QString::fromStdString(std::strerror(EPERM)));
    EXPECT_FALSE(exists(work + "/old"));
    EXPECT_TRUE(exists(work + "/loose.bin"));
    ASSERT_EQ(model->lowTide().size(), 1u);
    EXPECT_EQ(model->lowTide()[0].path, work + "/loose.bin");
    EXPECT_NE(node("loose.bin"), FileTree::none);
    EXPECT_EQ(node("old"), FileTree::none);
    EXPECT_EQ(model->trashLedger().entries.size(), 1u);
}

TEST_F(RemovalTest, PathThatVanishedBeforeTheRemovalGetsItsFailureLine) {
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    quenwick::testing::removeTree(work + "/old");
    const auto result = removeAndWait(*model, false);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->movedCount, 1);
    ASSERT_EQ(result->failures.size(), 1);
    EXPECT_TRUE(result->failures[0].startsWith("old: ")) << result->failures[0].toStdString();
    EXPECT_EQ(model->lowTide().size(), 1u);
}

TEST_F(RemovalTest, TreeReplacedWhileARemovalRunsIsLeftAlone) {
    stageAndWait(*model, work + "/old");
    ASSERT_TRUE(model->moveToTrash());
    EXPECT_FALSE(model->moveToTrash()) << "one removal at a time";
    EXPECT_TRUE(model->removing());
    // A new scan that still saw the folder arrives before the result.
    auto fresh = scan(work);
    const auto freshOld = fresh->nodeAtPath(work + "/old");
    ASSERT_TRUE(freshOld);
    const uint64_t freshRoot = fresh->size(FileTree::root);
    QSignalSpy finished(model.get(), &AppModel::removalFinished);
    model->installTree(fresh, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return finished.count() > 0; }));
    const auto result = finished.first().first().value<TrashResult>();
    EXPECT_EQ(result.movedCount, 1);
    EXPECT_FALSE(exists(work + "/old"));
    EXPECT_TRUE(model->lowTide().empty());
    EXPECT_EQ(model->trashLedger().entries.size(), 1u);
    // The new tree is untouched: its own next scan says what is there.
    EXPECT_EQ(model->tree(), fresh);
    EXPECT_EQ(fresh->size(FileTree::root), freshRoot);
    EXPECT_FALSE(fresh->flags(*freshOld).contains(quenwick::NodeFlags::dead));
}

TEST_F(RemovalTest, NameThatIsNotUtf8MovesTheExactItem) {
    const std::string odd = work + "/caf\xE9";
    const std::string twin = work + "/caf\xC3\xA9";
    ASSERT_TRUE(writeFile(odd, "latin-1 name"));
    ASSERT_TRUE(writeFile(twin, "utf-8 name"));
    show(*model, work);
    stageAndWait(*model, odd);
    const auto result = removeAndWait(*model, false);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->movedCount, 1);
    EXPECT_FALSE(exists(odd));
    EXPECT_EQ(readAll(twin), "utf-8 name");
}

TEST_F(RemovalTest, DeletingClearedTrashSettlesWhatWasErasedAndLowersTheTrash) {
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    ASSERT_TRUE(removeAndWait(*model, false));
    const uint64_t waiting = model->trashLedger().waitingBytes();
    ASSERT_GT(waiting, 0u);
    model->setTrashBytes(waiting + 1000);
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->deleteClearedTrashNow();
    ASSERT_TRUE(waitFor([&] { return model->trashLedger().entries.empty(); }));
    EXPECT_EQ(model->trashLedger().freedBytes, waiting);
    EXPECT_EQ(model->trashBytes(), 1000u);
    ASSERT_TRUE(waitFor([&] { return model->erasingBytes() == 0; }));
    EXPECT_EQ(entriesIn(trashFiles()), 0u);
    EXPECT_FALSE(model->notice());
}

TEST_F(RemovalTest, DeletingClearedTrashWithAnEmptyLedgerDoesNothing) {
    QSignalSpy erasing(model.get(), &AppModel::erasingBytesChanged);
    QSignalSpy ledger(model.get(), &AppModel::trashLedgerChanged);
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->setTrashBytes(500);
    model->deleteClearedTrashNow();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    EXPECT_EQ(erasing.count(), 0);
    EXPECT_EQ(ledger.count(), 0);
    EXPECT_EQ(model->trashBytes(), 500u);
}

TEST_F(RemovalTest, ClearedTrashTheEraserCouldNotTakeStaysInTheLedgerWithANotice) {
    stageAndWait(*model, work + "/old");
    stageAndWait(*model, work + "/loose.bin");
    ASSERT_TRUE(removeAndWait(*model, false));
    const auto before = model->trashLedger();
    ASSERT_EQ(before.entries.size(), 2u);

    ASSERT_TRUE(writeFile(root / "not-a-folder", "x"));
    auto services = this->services();
    services.eraser = std::make_shared<quenwick::Eraser>(root / "not-a-folder/Erasing");
    AppModel broken(services);
    ASSERT_TRUE(waitFor([&] { return broken.trashLedger() == before; }));
    broken.setTrashBytes(1'000'000);
    QSignalSpy settled(&broken, &AppModel::backgroundSettled);
    broken.deleteClearedTrashNow();
    ASSERT_TRUE(waitFor([&] { return broken.notice().has_value(); }));
    EXPECT_EQ(broken.notice()->text, "2 items in the Trash could not be deleted.");
    EXPECT_TRUE(broken.notice()->isWarning);
    EXPECT_EQ(broken.trashLedger(), before);
    EXPECT_EQ(quenwick::TrashLedger(data + "/Brimvale/trash-ledger.json").load(), before);
    EXPECT_EQ(broken.trashBytes(), 1'000'000u);
    EXPECT_EQ(broken.erasingBytes(), 0u);
    EXPECT_EQ(entriesIn(trashFiles()), 2u);
}

TEST_F(RemovalTest, ClearedTrashTheEraserLeftBehindIsNeitherFreedNorSettled) {
    if (!lockFolderInOld()) GTEST_SKIP() << "no immutable attribute on this file system";
    show(*model, work);
    stageAndWait(*model, work + "/old");
    ASSERT_TRUE(removeAndWait(*model, false));
    const auto before = model->trashLedger();
    ASSERT_EQ(before.entries.size(), 1u);
    model->deleteClearedTrashNow();
    const bool noticed = waitFor([&] { return model->notice().has_value(); });
    unlockRemains();
    ASSERT_TRUE(noticed);
    const std::string text = model->notice()->text.toStdString();
    EXPECT_EQ(
        text.rfind("1 item in the Trash could not be deleted. 3 items could not be deleted (", 0),
        0u)
        << text;
    EXPECT_TRUE(model->notice()->isWarning);
    ASSERT_TRUE(waitFor([&] { return model->erasingBytes() == 0; }));
    EXPECT_EQ(model->trashLedger().freedBytes, before.freedBytes);
    EXPECT_EQ(model->trashLedger().entries, before.entries);
}

TEST_F(RemovalTest, LedgerRefreshCountsItemsEmptiedFromTheTrashAsFreed) {
    stageAndWait(*model, work + "/loose.bin");
    ASSERT_TRUE(removeAndWait(*model, false));
    ASSERT_EQ(model->trashLedger().entries.size(), 1u);
    const uint64_t bytes = model->trashLedger().entries[0].bytes;
    // The user empties the Trash in the file manager.
    ASSERT_EQ(unlink((trashFiles() + "/loose.bin").c_str()), 0);
    model->refreshTrashLedger();
    ASSERT_TRUE(waitFor([&] { return model->trashLedger().entries.empty(); }));
    EXPECT_EQ(model->trashLedger().freedBytes, bytes);
}

}  // namespace
}  // namespace brimvale
