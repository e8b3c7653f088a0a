#include "QuenwickCore/Eraser.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/Recycler.h"
#include "RemovalFixture.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using namespace std::chrono_literals;
using testing::makeDirs;
using testing::writeFile;

const std::regex kStagedName(
    "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}-(.*)");

class EraserTest : public testing::RemovalTest {
protected:
    void SetUp() override {
        RemovalTest::SetUp();
        work = home + "/work";
        staging = cache + "/Brimvale/Erasing";
        ASSERT_TRUE(makeDirs(work));
    }

    std::vector<EraseOutcome> erase(Eraser& eraser, const std::vector<GuardedRemoval>& removals) {
        auto result = eraser.erase(removals);
        EXPECT_TRUE(std::holds_alternative<std::vector<EraseOutcome>>(result));
        if (auto* outcomes = std::get_if<std::vector<EraseOutcome>>(&result)) return *outcomes;
        return {};
    }

    static std::vector<std::string> entries(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // files spread over folders, with links pointing out of the tree.
    void makeTree(const std::string& top, int folders, int filesPerFolder) {
        ASSERT_TRUE(makeDirs(top));
        for (int d = 0; d < folders; ++d) {
            const std::string dir = top + "/d" + std::to_string(d % 7) + "/sub" + std::to_string(d);
            ASSERT_TRUE(makeDirs(dir));
            for (int f = 0; f < filesPerFolder; ++f)
                ASSERT_TRUE(writeFile(dir + "/f" + std::to_string(f), "data"));
        }
    }

    std::string work, staging;
};

TEST_F(EraserTest, FolderLeavesItsPlaceAtOnceAndIsGoneWhenIdle) {
    makeTree(work + "/build", 40, 20);
    ASSERT_TRUE(writeFile(work + "/keep.txt", "keep"));
    Eraser eraser(staging);
    const auto outcomes = erase(eraser, {allow(work + "/build")});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].error);
    EXPECT_FALSE(outcomes[0].deletedInPlace);
    EXPECT_EQ(outcomes[0].url, work + "/build");
    EXPECT_FALSE(exists(work + "/build"));
    eraser.waitUntilIdle();
    EXPECT_TRUE(entries(staging).empty());
    EXPECT_EQ(readAll(work + "/keep.txt"), "keep");
}

TEST_F(EraserTest, LinksAreErasedAndTheirTargetsKept) {
    makeTree(work + "/target", 3, 3);
    ASSERT_EQ(symlink((work + "/target").c_str(), (work + "/to-folder").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere", (work + "/dangling").c_str()), 0);
    // A link inside an erased folder is removed as a link too.
    ASSERT_TRUE(makeDirs(work + "/holder"));
    ASSERT_EQ(symlink((work + "/target").c_str(), (work + "/holder/inner-link").c_str()), 0);
    Eraser eraser(staging);
    const auto outcomes = erase(
        eraser, {allow(work + "/to-folder"), allow(work + "/dangling"), allow(work + "/holder")});
    for (const auto& o : outcomes)
        EXPECT_FALSE(o.error) << o.url;
    eraser.waitUntilIdle();
    EXPECT_FALSE(exists(work + "/to-folder"));
    EXPECT_FALSE(exists(work + "/dangling"));
    EXPECT_FALSE(exists(work + "/holder"));
    EXPECT_EQ(readAll(work + "/target/d0/sub0/f0"), "data");
    EXPECT_EQ(entries(work + "/target").size(), 3u);
}

TEST_F(EraserTest, MissingParentChildAndRepeatedPathsEachGetAnOutcome) {
    makeTree(work + "/parent", 2, 2);
    ASSERT_TRUE(writeFile(work + "/file.txt", "f"));
    Eraser eraser(staging);
    const auto outcomes = erase(
        eraser, {allow(work + "/missing"), allow(work + "/parent"), allow(work + "/parent/d0"),
                 allow(work + "/file.txt"), allow(work + "/./file.txt")});
    ASSERT_EQ(outcomes.size(), 5u);
    ASSERT_TRUE(outcomes[0].error);
    EXPECT_EQ(outcomes[0].error->kind, RemovalError::Kind::notFound);
    EXPECT_EQ(outcomes[0].error->message, "No such file or directory");
    for (size_t i = 1; i < outcomes.size(); ++i)
        EXPECT_FALSE(outcomes[i].error) << outcomes[i].url;
    eraser.waitUntilIdle();
    EXPECT_TRUE(entries(work).empty());
    EXPECT_TRUE(entries(staging).empty());
}

TEST_F(EraserTest, NothingScheduledMeansIdleAtOnce) {
    Eraser eraser(staging);
    EXPECT_TRUE(eraser.waitUntilIdle(0ms));
    const auto outcomes = erase(eraser, {allow(work + "/missing")});
    EXPECT_TRUE(outcomes[0].error);
    EXPECT_TRUE(eraser.waitUntilIdle(0ms));
}

TEST_F(EraserTest, FolderReplacedByALinkAfterTheCheckIsRefused) {
    ASSERT_TRUE(makeDirs(work + "/dir/id_rsa.d"));
    ASSERT_TRUE(makeDirs(home + "/.ssh/id_rsa.d"));
    ASSERT_TRUE(writeFile(home + "/.ssh/id_rsa.d/key", "secret"));
    const auto removal = allow(work + "/dir/id_rsa.d");
    ASSERT_EQ(rename((work + "/dir").c_str(), (work + "/moved").c_str()), 0);
    ASSERT_EQ(symlink((home + "/.ssh").c_str(), (work + "/dir").c_str()), 0);
    Eraser eraser(staging);
    const auto outcomes = erase(eraser, {removal});
    eraser.waitUntilIdle();
    ASSERT_TRUE(outcomes[0].error);
    EXPECT_EQ(outcomes[0].error->message, "Holds passwords or keys");
    EXPECT_EQ(readAll(home + "/.ssh/id_rsa.d/key"), "secret");
}

TEST_F(EraserTest, ChainsDeeperThanThePathLimitAreRemovedCompletely) {
    const std::string name(60, 'n');
    ASSERT_TRUE(makeDirs(work + "/deep"));
    int fd = open((work + "/deep").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int depth = 0; depth < 150; ++depth) {  // 150 * 61 bytes: well past PATH_MAX
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        const int file = openat(fd, "leaf", O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(file, 0);
        close(file);
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    close(fd);
    Eraser eraser(staging, 1);
    const auto outcomes = erase(eraser, {allow(work + "/deep")});
    EXPECT_FALSE(outcomes[0].error);
    eraser.waitUntilIdle();
    EXPECT_TRUE(entries(staging).empty());
}

TEST_F(EraserTest, LeftoversOfAnEarlierRunAreDeletedOnResume) {
    ASSERT_TRUE(makeDirs(staging + "/0F2B1C3D-0000-4000-8000-00000000ABCD-old build/x"));
    ASSERT_TRUE(writeFile(staging + "/0F2B1C3D-0000-4000-8000-00000000ABCD-old build/x/y", "y"));
    ASSERT_TRUE(writeFile(staging + "/1A2B3C4D-1111-4111-9111-111111111111-notes.txt", "n"));
    ASSERT_TRUE(writeFile(staging + "/not-ours.txt", "someone else's"));
    Eraser eraser(staging);
    eraser.resumePending();
    eraser.waitUntilIdle();
    EXPECT_EQ(entries(staging), std::vector<std::string>{"not-ours.txt"});
}

TEST_F(EraserTest, StagingFolderThatCannotBeMadeFailsTouchingNothing) {
    ASSERT_TRUE(writeFile(work + "/item", "i"));
    ASSERT_TRUE(writeFile(home + "/blocker", "a file where a folder should be"));
    Eraser eraser(home + "/blocker/Erasing");
    const auto result = eraser.erase({allow(work + "/item")});
    ASSERT_TRUE(std::holds_alternative<std::error_code>(result));
    EXPECT_EQ(readAll(work + "/item"), "i");
}

TEST_F(EraserTest, ErasingFromTheTrashTakesTheRestoreRecordAlong) {
    ASSERT_TRUE(writeFile(work + "/old.iso", "iso"));
    const auto moved = Recycler::recycle({allow(work + "/old.iso")});
    ASSERT_TRUE(moved[0].trashed);
    ASSERT_TRUE(exists(data + "/Trash/info/old.iso.trashinfo"));
    Eraser eraser(staging);
    const auto outcomes = erase(eraser, {allow(*moved[0].trashed)});
    EXPECT_FALSE(outcomes[0].error);
    eraser.waitUntilIdle();
    EXPECT_TRUE(entries(data + "/Trash/files").empty());
    EXPECT_TRUE(entries(data + "/Trash/info").empty());
}

TEST_F(EraserTest, FoldersTheOwnerMayNotWriteAreStillErased) {
    // As an ordinary user, like a module cache whose folders are read-only.
    const std::string shared = root / "shared";
    ASSERT_TRUE(makeDirs(shared));
    chmod(shared.c_str(), 01777);
    const auto result = testing::runInChild([&] {
        if (!testing::dropPrivileges()) return std::string("no drop");
        const std::string userHome = shared + "/user";
        mkdir(userHome.c_str(), 0755);
        setenv("HOME", userHome.c_str(), 1);
        setenv("XDG_CACHE_HOME", (userHome + "/.cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (userHome + "/.local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (userHome + "/.config").c_str(), 1);
        const std::string mod = userHome + "/go/pkg/mod/example@v1";
        std::filesystem::create_directories(mod + "/inner");
        testing::writeFile(mod + "/inner/a.go", "package a");
        chmod((mod + "/inner").c_str(), 0555);
        chmod(mod.c_str(), 0000);
        const auto verdict = DeletionGuard::live().check(userHome + "/go");
        if (!verdict.isAllowed()) return "blocked: " + *verdict.blockedReason();
        Eraser eraser(userHome + "/.cache/Brimvale/Erasing");
        auto outcomes = eraser.erase({*verdict.allowed()});
        eraser.waitUntilIdle();
        const auto& list = std::get<std::vector<EraseOutcome>>(outcomes);
        return std::string(list[0].error ? "error" : "ok") + "|" +
               (exists(userHome + "/go") ? "left" : "gone") + "|" +
               std::to_string(entries(userHome + "/.cache/Brimvale/Erasing").size());
    });
    EXPECT_EQ(result, std::optional<std::string>("ok|gone|0"));
}

TEST_F(EraserTest, DotDotAfterALinkErasesTheFileTheKernelNames) {
    // a/link -> b/c: "a/link/../f" names b/f, and a/f is someone else's file.
    ASSERT_TRUE(makeDirs(work + "/a"));
    ASSERT_TRUE(makeDirs(work + "/b/c"));
    ASSERT_TRUE(writeFile(work + "/a/f", "keep"));
    ASSERT_TRUE(writeFile(work + "/b/f", "erase"));
    ASSERT_EQ(symlink((work + "/b/c").c_str(), (work + "/a/link").c_str()), 0);
    Eraser eraser(staging);
    const auto outcomes = erase(eraser, {allow(work + "/a/link/../f")});
    eraser.waitUntilIdle();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].error);
    EXPECT_EQ(readAll(work + "/a/f"), "keep");
    EXPECT_FALSE(exists(work + "/b/f"));
}

TEST_F(EraserTest, WhatCannotBeDeletedIsReportedSetApartAndListed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder another user cannot empty";
    // An ordinary user erases a folder of theirs that holds a root-owned folder with a file.
    const std::string shared = root / "shared";
    ASSERT_TRUE(makeDirs(shared + "/user/.cache"));
    ASSERT_TRUE(makeDirs(shared + "/user/old/locked"));
    ASSERT_TRUE(writeFile(shared + "/user/old/locked/file", "root's"));
    ASSERT_TRUE(writeFile(shared + "/user/old/mine", "mine"));
    for (const auto* path : {"/user", "/user/.cache", "/user/old", "/user/old/mine"})
        ASSERT_EQ(chown((shared + path).c_str(), 65534, 65534), 0);
    const auto result = testing::runInChild([&] {
        if (!testing::dropPrivileges()) return std::string("no drop");
        const std::string userHome = shared + "/user";
        setenv("HOME", userHome.c_str(), 1);
        setenv("XDG_CACHE_HOME", (userHome + "/.cache").c_str(), 1);
        const auto verdict = DeletionGuard::live().check(userHome + "/old");
        if (!verdict.isAllowed()) return "blocked: " + *verdict.blockedReason();
        Eraser eraser(userHome + "/.cache/Brimvale/Erasing");
        auto outcomes = eraser.erase({*verdict.allowed()});
        eraser.waitUntilIdle();
        const auto& list = std::get<std::vector<EraseOutcome>>(outcomes);
        std::string out = list[0].error ? "error" : "staged";
        for (const auto& r : eraser.takeRemains()) {
            out +=
                "|" + std::to_string(r.entries) + "|" + std::to_string(r.url == userHome + "/old");
            for (const auto& path : r.firstPaths)
                out += "|" + path.substr(path.rfind("-old/") + 1);
        }
        // Set apart: a plain resume leaves it, the listing shows it.
        eraser.resumePending();
        eraser.waitUntilIdle();
        for (const auto& item : eraser.pending())
            out += "|pending " + std::to_string(item.remains) + " " + std::to_string(item.entries);
        return out;
    });
    EXPECT_EQ(result, std::optional<std::string>("staged|3|1|old/locked/file|pending 1 3"));
}

// A second file system: a tmpfs mounted in a private namespace of a child.
class EraserOnOtherVolume : public EraserTest {
protected:
    void SetUp() override {
        EraserTest::SetUp();
        if (!testing::canMountPrivateTmpfs()) GTEST_SKIP() << "cannot mount a private tmpfs here";
        volume = work + "/volume";
        ASSERT_TRUE(makeDirs(volume));
    }

    std::string onVolume(const std::function<std::string()>& body) {
        const auto result = testing::runInChild([&] {
            if (!testing::mountPrivateTmpfs(volume)) return std::string("no mount");
            return body();
        });
        return result.value_or("child failed");
    }

    std::string volume;
};

TEST_F(EraserOnOtherVolume, ItemOnAnotherVolumeIsDeletedInPlace) {
    const auto text = onVolume([&] {
        std::filesystem::create_directories(volume + "/old/a");
        testing::writeFile(volume + "/old/a/f", "f");
        testing::writeFile(volume + "/keep", "k");
        Eraser eraser(staging);
        auto result = eraser.erase({allow(volume + "/old")});
        const auto& o = std::get<std::vector<EraseOutcome>>(result)[0];
        eraser.waitUntilIdle();
        return std::string(o.error ? "error" : "ok") +
               (o.deletedInPlace ? "|in place" : "|staged") +
               (exists(volume + "/old") ? "|left" : "|gone") + "|" + readAll(volume + "/keep");
    });
    EXPECT_EQ(text, "ok|in place|gone|k");
}

TEST_F(EraserOnOtherVolume, FolderHoldingAMountIsRefusedAndKeepsIt) {
    ASSERT_TRUE(makeDirs(work + "/tree/sub"));
    ASSERT_TRUE(writeFile(work + "/tree/sub/f", "f"));
    // The volume is mounted inside the tree that is erased.
    volume = work + "/tree/mnt";
    ASSERT_TRUE(makeDirs(volume));
    const auto text = onVolume([&] {
        testing::writeFile(volume + "/precious", "precious");
        Eraser eraser(staging);
        auto result = eraser.erase({allow(work + "/tree")});
        const auto& o = std::get<std::vector<EraseOutcome>>(result)[0];
        eraser.waitUntilIdle();
        // Refused: the tree stays with its mount, nothing was carried into the staging folder.
        return (o.error ? o.error->message : std::string("ok")) + "|" +
               std::to_string(entries(staging).size()) + "|" + readAll(volume + "/precious") + "|" +
               readAll(work + "/tree/sub/f");
    });
    EXPECT_EQ(text, "Holds a mounted volume at " + volume + " — unmount it first|0|precious|f");
}

TEST_F(EraserOnOtherVolume, ReadOnlyVolumeIsReportedAndNothingIsDeleted) {
    const auto text = onVolume([&] {
        testing::writeFile(volume + "/keep", "keep");
        const auto removal = allow(volume + "/keep");
        if (mount(nullptr, volume.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return std::string("no remount");
        Eraser eraser(staging);
        auto result = eraser.erase({removal});
        const auto& o = std::get<std::vector<EraseOutcome>>(result)[0];
        eraser.waitUntilIdle();
        return (o.error ? o.error->message : std::string("ok")) + "|" + readAll(volume + "/keep");
    });
    EXPECT_EQ(text, "Read-only file system|keep");
}

TEST_F(EraserOnOtherVolume, FolderThatBecameAMountPointIsRefused) {
    const auto removal = allow(volume);  // an ordinary folder when it was checked
    const auto text = onVolume([&] {
        testing::writeFile(volume + "/keep", "keep");
        Eraser eraser(staging);
        auto result = eraser.erase({removal});
        const auto& o = std::get<std::vector<EraseOutcome>>(result)[0];
        eraser.waitUntilIdle();
        return (o.error ? o.error->message : std::string("ok")) + "|" + readAll(volume + "/keep");
    });
    EXPECT_EQ(text, "A whole volume can't be moved to the Trash|keep");
}

// Killed in the middle of a large erase, the next run finishes the job, and nothing outside the
// staged item is touched.
TEST_F(EraserTest, EraseInterruptedBySigkillIsFinishedByResume) {
    makeTree(work + "/big", 200, 60);
    makeTree(work + "/neighbour", 5, 5);
    const auto removal = allow(work + "/big");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(ready[0]);
        Eraser eraser(staging, 1);
        auto result = eraser.erase({removal});
        const bool ok = std::holds_alternative<std::vector<EraseOutcome>>(result) &&
                        !std::get<std::vector<EraseOutcome>>(result)[0].error;
        (void)!write(ready[1], ok ? "s" : "f", 1);
        eraser.waitUntilIdle();
        _exit(0);
    }
    close(ready[1]);
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(signal, 's');
    EXPECT_FALSE(exists(work + "/big"));
    const auto left = entries(staging);
    ASSERT_EQ(left.size(), 1u) << "the child finished before it was killed";
    std::smatch match;
    ASSERT_TRUE(std::regex_match(left[0], match, kStagedName)) << left[0];
    EXPECT_EQ(match[1].str(), "big");

    Eraser next(staging);
    next.resumePending();
    next.waitUntilIdle();
    EXPECT_TRUE(entries(staging).empty());
    EXPECT_EQ(entries(work), std::vector<std::string>{"neighbour"});
    EXPECT_EQ(entries(work + "/neighbour").size(), 5u);
    EXPECT_EQ(readAll(work + "/neighbour/d4/sub4/f4"), "data");
}

}  // namespace
}  // namespace quenwick
