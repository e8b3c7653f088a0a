#include "QuenwickCore/Recycler.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "RemovalFixture.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using testing::makeDirs;
using testing::writeFile;

class RecyclerTest : public testing::RemovalTest {
protected:
    void SetUp() override {
        RemovalTest::SetUp();
        work = home + "/work";
        ASSERT_TRUE(makeDirs(work));
    }

    std::string trashFiles() const { return data + "/Trash/files"; }
    std::string trashInfo() const { return data + "/Trash/info"; }

    std::string work;
};

TEST_F(RecyclerTest, RoundTripLeavesTheItemAndARecordFileManagersRead) {
    ASSERT_TRUE(makeDirs(work + "/old project/src"));
    ASSERT_TRUE(writeFile(work + "/old project/src/main.c", "int main() {}\n"));
    const auto outcomes = Recycler::recycle({allow(work + "/old project")});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].error) << outcomes[0].error->message;
    EXPECT_EQ(outcomes[0].original, work + "/old project");
    EXPECT_EQ(outcomes[0].trashed, trashFiles() + "/old project");
    EXPECT_FALSE(exists(work + "/old project"));
    EXPECT_EQ(readAll(trashFiles() + "/old project/src/main.c"), "int main() {}\n");
    const std::string info = readAll(trashInfo() + "/old project.trashinfo");
    const std::regex shape(
        "\\[Trash "
        "Info\\]\nPath=([^\n]*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(info, match, shape)) << info;
    EXPECT_EQ(match[1].str(), work + "/old%20project");
}

TEST_F(RecyclerTest, SameNameTwiceKeepsBothWithTheirRecords) {
    ASSERT_TRUE(makeDirs(work + "/a"));
    ASSERT_TRUE(makeDirs(work + "/b"));
    ASSERT_TRUE(writeFile(work + "/a/report.txt", "first"));
    ASSERT_TRUE(writeFile(work + "/b/report.txt", "second"));
    const auto outcomes =
        Recycler::recycle({allow(work + "/a/report.txt"), allow(work + "/b/report.txt")});
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].trashed, trashFiles() + "/report.txt");
    EXPECT_EQ(outcomes[1].trashed, trashFiles() + "/report.2.txt");
    EXPECT_EQ(readAll(trashFiles() + "/report.txt"), "first");
    EXPECT_EQ(readAll(trashFiles() + "/report.2.txt"), "second");
    EXPECT_NE(
        readAll(trashInfo() + "/report.2.txt.trashinfo").find("Path=" + work + "/b/report.txt\n"),
        std::string::npos);
}

TEST_F(RecyclerTest, InvalidUtf8NameMovesExactlyThatFileAndRecordsItsBytes) {
    const std::string invalid = work + "/a\xFF.txt";
    const std::string twin = work + "/a\xEF\xBF\xBD.txt";  // what a lossy decoding would produce
    ASSERT_TRUE(writeFile(invalid, "invalid"));
    ASSERT_TRUE(writeFile(twin, "twin"));
    const auto outcomes = Recycler::recycle({allow(invalid)});
    ASSERT_FALSE(outcomes[0].error) << outcomes[0].error->message;
    EXPECT_FALSE(exists(invalid));
    EXPECT_EQ(readAll(twin), "twin");
    EXPECT_EQ(readAll(trashFiles() + "/a\xFF.txt"), "invalid");
    EXPECT_NE(readAll(trashInfo() + "/a\xFF.txt.trashinfo").find("/a%FF.txt\n"), std::string::npos);
}

TEST_F(RecyclerTest, LinksAreMovedAsThemselves) {
    ASSERT_TRUE(makeDirs(work + "/target"));
    ASSERT_TRUE(writeFile(work + "/target/keep.txt", "keep"));
    ASSERT_EQ(symlink((work + "/target").c_str(), (work + "/to-folder").c_str()), 0);
    ASSERT_EQ(symlink("/no/such/place", (work + "/dangling").c_str()), 0);
    const auto outcomes =
        Recycler::recycle({allow(work + "/to-folder"), allow(work + "/dangling")});
    EXPECT_FALSE(outcomes[0].error);
    EXPECT_FALSE(outcomes[1].error);
    EXPECT_EQ(readAll(work + "/target/keep.txt"), "keep");
    struct stat st;
    ASSERT_EQ(lstat((trashFiles() + "/to-folder").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat((trashFiles() + "/dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(RecyclerTest, FilesFolderThatIsALinkStillReceivesTheItem) {
    ASSERT_TRUE(makeDirs(data + "/Trash/info"));
    ASSERT_TRUE(makeDirs(data + "/real-files"));
    ASSERT_EQ(symlink((data + "/real-files").c_str(), trashFiles().c_str()), 0);
    ASSERT_TRUE(writeFile(work + "/f.txt", "x"));
    const auto outcomes = Recycler::recycle({allow(work + "/f.txt")});
    ASSERT_FALSE(outcomes[0].error) << outcomes[0].error->message;
    EXPECT_EQ(readAll(data + "/real-files/f.txt"), "x");
    EXPECT_TRUE(exists(trashInfo() + "/f.txt.trashinfo"));
}

TEST_F(RecyclerTest, EachBadInputGetsItsOwnOutcomeAndOthersStillMove) {
    ASSERT_TRUE(makeDirs(work + "/parent/child"));
    ASSERT_TRUE(writeFile(work + "/parent/child/c.txt", "c"));
    ASSERT_TRUE(writeFile(work + "/single.txt", "s"));
    const auto outcomes = Recycler::recycle(
        {allow(work + "/parent"), allow(work + "/missing"), allow(work + "/parent/child"),
         allow(work + "/single.txt"), allow(work + "//single.txt/")});
    ASSERT_EQ(outcomes.size(), 5u);
    EXPECT_FALSE(outcomes[0].error);
    ASSERT_TRUE(outcomes[1].error);
    EXPECT_EQ(outcomes[1].error->kind, RemovalError::Kind::notFound);
    EXPECT_FALSE(outcomes[1].trashed);
    // The child went first, so both moves succeeded and both can be restored.
    EXPECT_FALSE(outcomes[2].error);
    EXPECT_EQ(outcomes[2].trashed, trashFiles() + "/child");
    EXPECT_EQ(outcomes[0].trashed, trashFiles() + "/parent");
    EXPECT_FALSE(outcomes[3].error);
    EXPECT_EQ(outcomes[4].trashed, outcomes[3].trashed);
    EXPECT_EQ(readAll(trashFiles() + "/single.txt"), "s");
    EXPECT_FALSE(exists(trashFiles() + "/single.2.txt"));
}

TEST_F(RecyclerTest, FolderReplacedByALinkAfterTheCheckIsRefused) {
    ASSERT_TRUE(makeDirs(work + "/dir"));
    ASSERT_TRUE(writeFile(work + "/dir/id_rsa", "harmless"));
    ASSERT_TRUE(makeDirs(home + "/.ssh"));
    ASSERT_TRUE(writeFile(home + "/.ssh/id_rsa", "secret"));
    const auto removal = allow(work + "/dir/id_rsa");
    ASSERT_EQ(rename((work + "/dir").c_str(), (work + "/moved").c_str()), 0);
    ASSERT_EQ(symlink((home + "/.ssh").c_str(), (work + "/dir").c_str()), 0);
    const auto outcomes = Recycler::recycle({removal});
    ASSERT_TRUE(outcomes[0].error);
    EXPECT_EQ(outcomes[0].error->kind, RemovalError::Kind::blocked);
    EXPECT_EQ(outcomes[0].error->message, "Holds passwords or keys");
    EXPECT_EQ(readAll(home + "/.ssh/id_rsa"), "secret");
    EXPECT_FALSE(exists(trashFiles() + "/id_rsa"));
}

TEST_F(RecyclerTest, UnusableHomeTrashFailsWithoutLookingElsewhere) {
    ASSERT_TRUE(writeFile(data + "/Trash", "a file where the Trash should be"));
    ASSERT_TRUE(writeFile(work + "/keep.txt", "keep"));
    const std::string topTrash = "/.Trash-" + std::to_string(getuid());
    const bool topTrashBefore = exists(topTrash);
    const auto outcomes = Recycler::recycle({allow(work + "/keep.txt")});
    ASSERT_TRUE(outcomes[0].error);
    EXPECT_FALSE(outcomes[0].trashed);
    EXPECT_EQ(readAll(work + "/keep.txt"), "keep");
    EXPECT_EQ(exists(topTrash), topTrashBefore);
}

// The item lives on a tmpfs mounted in a private namespace of a child: a second file system.
class RecyclerOnOtherVolume : public RecyclerTest {
protected:
    void SetUp() override {
        RecyclerTest::SetUp();
        if (!testing::canMountPrivateTmpfs()) GTEST_SKIP() << "cannot mount a private tmpfs here";
        volume = root / "volume";
        ASSERT_TRUE(makeDirs(volume));
    }

    // Runs body after mounting the tmpfs; returns what it printed, or "child failed".
    std::string onVolume(const std::function<std::string()>& body) {
        const auto result = testing::runInChild([&] {
            if (!testing::mountPrivateTmpfs(volume)) return std::string("no mount");
            return body();
        });
        return result.value_or("child failed");
    }

    std::string volume;
};

std::string outcomeText(const RecycleOutcome& o) {
    if (o.error) return "error: " + o.error->message;
    return "trashed: " + o.trashed.value_or("?");
}

TEST_F(RecyclerOnOtherVolume, ItemGoesToTheVolumesOwnTrashWithARelativeRecord) {
    const std::string uid = std::to_string(getuid());
    const auto text = onVolume([&] {
        mkdir((volume + "/photos").c_str(), 0755);
        testing::writeFile(volume + "/photos/a b.jpg", "jpeg");
        const auto o = Recycler::recycle({allow(volume + "/photos/a b.jpg")});
        return outcomeText(o[0]) + "|" + readAll(volume + "/.Trash-" + uid + "/files/a b.jpg") +
               "|" + readAll(volume + "/.Trash-" + uid + "/info/a b.jpg.trashinfo").substr(0, 35);
    });
    EXPECT_EQ(text, "trashed: " + volume + "/.Trash-" + uid + "/files/a b.jpg|jpeg|" +
                        "[Trash Info]\nPath=photos/a%20b.jpg\n");
}

TEST_F(RecyclerOnOtherVolume, AnAdministratorsStickyTrashIsUsedPerUser) {
    const std::string uid = std::to_string(getuid());
    const auto text = onVolume([&] {
        mkdir((volume + "/.Trash").c_str(), 01777);
        chmod((volume + "/.Trash").c_str(), 01777);
        testing::writeFile(volume + "/x.bin", "x");
        const auto o = Recycler::recycle({allow(volume + "/x.bin")});
        return outcomeText(o[0]);
    });
    EXPECT_EQ(text, "trashed: " + volume + "/.Trash/" + uid + "/files/x.bin");
}

TEST_F(RecyclerOnOtherVolume, ReadOnlyVolumeFailsAndTouchesNothing) {
    const auto text = onVolume([&] {
        testing::writeFile(volume + "/keep.txt", "keep");
        const auto removal = allow(volume + "/keep.txt");
        if (mount(nullptr, volume.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return std::string("no remount");
        const auto o = Recycler::recycle({removal});
        return outcomeText(o[0]) + "|" + readAll(volume + "/keep.txt");
    });
    EXPECT_EQ(text, "error: Read-only file system|keep");
}

TEST_F(RecyclerOnOtherVolume, FullVolumeFailsAndNeverFallsBackToDeleting) {
    const auto text = onVolume([&] {
        testing::writeFile(volume + "/keep.txt", "keep");
        const auto removal = allow(volume + "/keep.txt");
        // Fill every block so the Trash's record cannot be written.
        const int fd = open((volume + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(1 << 20, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        const std::string tail(4096, 't');
        while (write(fd, tail.data(), tail.size()) > 0) {
        }
        close(fd);
        const auto o = Recycler::recycle({removal});
        return outcomeText(o[0]) + "|" + readAll(volume + "/keep.txt");
    });
    EXPECT_EQ(text, "error: No space left on device|keep");
}

// What file managers do with our items: gio (with its Trash backend) restores them. The name is
// plain ASCII because gio 2.74's --restore itself writes non-ASCII names back escaped.
TEST_F(RecyclerTest, GioRestoresWhatWeTrashed) {
    const bool haveGio =
        std::system("command -v gio >/dev/null 2>&1") == 0 &&
        std::system("command -v dbus-run-session >/dev/null 2>&1") == 0 &&
        (exists("/usr/libexec/gvfsd-trash") || exists("/usr/lib/gvfs/gvfsd-trash"));
    if (!haveGio) GTEST_SKIP() << "gio, dbus-run-session or the gvfs Trash backend is missing";
    ASSERT_TRUE(makeDirs(work + "/docs"));
    ASSERT_TRUE(writeFile(work + "/docs/old menu.txt", "menu"));
    const auto outcomes = Recycler::recycle({allow(work + "/docs/old menu.txt")});
    ASSERT_FALSE(outcomes[0].error);
    // The folder is gone too: restoring recreates it.
    testing::removeTree(work + "/docs");
    const std::string command =
        "cd / && timeout 60 dbus-run-session -- gio trash --restore "
        "'trash:///old%20menu.txt' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readAll(work + "/docs/old menu.txt"), "menu");
    EXPECT_FALSE(exists(trashFiles() + "/old menu.txt"));
    EXPECT_FALSE(exists(trashInfo() + "/old menu.txt.trashinfo"));
}

}  // namespace
}  // namespace quenwick
