#include "QuenwickCore/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"

namespace quenwick {
namespace {

using testing::TempDir;
using testing::writeFile;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override { savedMask_ = umask(022); }
    void TearDown() override { umask(savedMask_); }
    TempDir dir;

private:
    mode_t savedMask_ = 022;
};

TEST_F(AtomicFileTest, NewFilesAndFoldersAreTheUsersAloneUnlessAskedOtherwise) {
    ASSERT_FALSE(createPrivateFolders(dir / "a/b/c"));
    for (const auto* folder : {"a", "a/b", "a/b/c"})
        EXPECT_EQ(modeOf(dir / folder), 0700u) << folder;
    ASSERT_FALSE(writeFileAtomically(dir / "a/b/c/private", "p"));
    EXPECT_EQ(modeOf(dir / "a/b/c/private"), 0600u);
    ASSERT_FALSE(writeFileAtomically(dir / "export.svg", "<svg/>", kOrdinaryFileMode));
    EXPECT_EQ(modeOf(dir / "export.svg"), 0644u);
    // A folder that exists keeps its mode; a file in the way is an error.
    ASSERT_EQ(chmod((dir / "a").c_str(), 0755), 0);
    ASSERT_FALSE(createPrivateFolders(dir / "a/b/d"));
    EXPECT_EQ(modeOf(dir / "a"), 0755u);
    EXPECT_EQ(modeOf(dir / "a/b/d"), 0700u);
    EXPECT_TRUE(createPrivateFolders(dir / "export.svg/x"));
}

TEST_F(AtomicFileTest, ReplacedFileKeepsItsMode) {
    ASSERT_TRUE(writeFile(dir / "shared.snap", "old"));
    ASSERT_EQ(chmod((dir / "shared.snap").c_str(), 0640), 0);
    ASSERT_FALSE(writeFileAtomically(dir / "shared.snap", "new"));
    EXPECT_EQ(modeOf(dir / "shared.snap"), 0640u);
    EXPECT_EQ(contents(dir / "shared.snap"), "new");
    ASSERT_TRUE(writeFile(dir / "open.json", "old"));
    ASSERT_EQ(chmod((dir / "open.json").c_str(), 0664), 0);
    ASSERT_FALSE(writeFileAtomically(dir / "open.json", "new", kOrdinaryFileMode));
    EXPECT_EQ(modeOf(dir / "open.json"), 0664u);
}

TEST_F(AtomicFileTest, WritingThroughALinkReplacesItsTargetAndKeepsTheLink) {
    ASSERT_TRUE(testing::makeDirs(dir / "store"));
    ASSERT_TRUE(writeFile(dir / "store/home.snap", "old"));
    // A relative link to a relative link to the file.
    ASSERT_EQ(symlink("store/home.snap", (dir / "middle").c_str()), 0);
    ASSERT_EQ(symlink("middle", (dir / "latest.snap").c_str()), 0);
    ASSERT_FALSE(writeFileAtomically(dir / "latest.snap", "new"));
    struct stat st {};
    ASSERT_EQ(lstat((dir / "latest.snap").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat((dir / "middle").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(contents(dir / "store/home.snap"), "new");
    // A dangling link gets its target created.
    ASSERT_EQ(symlink((dir / "store/first.snap").c_str(), (dir / "first.snap").c_str()), 0);
    ASSERT_FALSE(writeFileAtomically(dir / "first.snap", "made"));
    EXPECT_EQ(contents(dir / "store/first.snap"), "made");
    ASSERT_EQ(lstat((dir / "first.snap").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace quenwick
