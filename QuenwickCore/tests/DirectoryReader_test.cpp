#include "QuenwickCore/DirectoryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "TestSupport.h"

using quenwick::DirectoryReader;
using quenwick::DirEntry;
using quenwick::testing::TempDir;

namespace {

// Reads a folder and copies the entries out (their names only live until the next read).
struct Copied {
    std::string name;
    DirEntry e;
};

std::variant<std::map<std::string, DirEntry>, DirectoryReader::ReadError> readAll(
    DirectoryReader& reader, const std::string& path, std::vector<std::string>* order = nullptr) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return DirectoryReader::ReadError{errno};
    auto result = reader.read(fd);
    close(fd);
    if (auto* err = std::get_if<DirectoryReader::ReadError>(&result)) return *err;
    std::map<std::string, DirEntry> out;
    for (const auto& e : std::get<std::span<const DirEntry>>(result)) {
        out.emplace(std::string(e.name), e);
        if (order) order->emplace_back(e.name);
    }
    return out;
}

TEST(DirectoryReader, EmptyFolderGivesNoEntries) {
    TempDir dir;
    DirectoryReader reader;
    auto got = readAll(reader, dir.path());
    ASSERT_EQ(got.index(), 0u);
    EXPECT_TRUE(std::get<0>(got).empty());
}

TEST(DirectoryReader, FolderLargerThanOneBufferComesBackWhole) {
    TempDir dir;
    const int dfd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    const std::string padding(48, 'p');
    const int count = 12000;  // ~80 bytes a record: well over 256 KiB of listing
    for (int i = 0; i < count; ++i) {
        const std::string name = padding + std::to_string(i);
        const int fd = openat(dfd, name.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    close(dfd);
    DirectoryReader reader;
    std::vector<std::string> order;
    auto got = readAll(reader, dir.path(), &order);
    ASSERT_EQ(std::get<0>(got).size(), static_cast<size_t>(count));
    EXPECT_EQ(order.size(), static_cast<size_t>(count));  // no entry twice
    EXPECT_TRUE(std::get<0>(got).contains(padding + "11999"));
}

TEST(DirectoryReader, EntriesCarryTypesSizesLinksAndExactNames) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(dir / "file", 10000));
    ASSERT_EQ(link((dir / "file").c_str(), (dir / "twin").c_str()), 0);
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
    const std::string odd = "bad\xFF name\nwith newline";
    ASSERT_TRUE(quenwick::testing::writeFile(dir / odd, "x"));

    DirectoryReader reader;
    auto got = std::get<0>(readAll(reader, dir.path()));
    ASSERT_EQ(got.size(), 6u);
    struct stat st;
    ASSERT_EQ(lstat((dir / "file").c_str(), &st), 0);
    EXPECT_EQ(got["file"].allocSize, static_cast<uint64_t>(st.st_blocks) * 512);
    EXPECT_EQ(got["file"].inode, st.st_ino);
    EXPECT_EQ(got["file"].mtime, st.st_mtim.tv_sec);
    EXPECT_EQ(got["file"].linkCount, 2u);
    EXPECT_EQ(got["twin"].inode, st.st_ino);
    EXPECT_TRUE(got["sub"].isDir);
    EXPECT_EQ(got["sub"].allocSize, 0u);
    EXPECT_EQ(got["sub"].linkCount, 1u);
    EXPECT_TRUE(got["dangling"].isSymlink);
    EXPECT_FALSE(got["dangling"].isDir);
    EXPECT_FALSE(got["pipe"].isDir);
    EXPECT_EQ(got["pipe"].error, 0);
    EXPECT_TRUE(got.contains(odd));
    EXPECT_EQ(got["sub"].device, got["file"].device);
    EXPECT_NE(got["file"].device, 0);
}

TEST(DirectoryReader, EntryThatCannotBeExaminedKeepsItsNameAndAnError) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "listable").c_str(), 0755), 0);
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "listable/secret", "x"));
    ASSERT_EQ(mkdir((dir / "listable/inner").c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir / "listable").c_str(), 0444), 0);  // read but no search permission
    const auto out = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::dropPrivileges()) return "cannot drop";
        DirectoryReader reader;
        auto got = readAll(reader, dir / "listable");
        if (!std::holds_alternative<std::map<std::string, DirEntry>>(got)) return "read failed";
        std::string report;
        for (const auto& [name, e] : std::get<0>(got)) {
            report += name + ":" + std::to_string(e.error) + ":" + (e.isDir ? "d" : "f") + ";";
        }
        return report;
    });
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out,
              "inner:" + std::to_string(EACCES) + ":d;secret:" + std::to_string(EACCES) + ":f;");
}

TEST(DirectoryReader, DescriptorThatIsNotAFolderFailsTheListing) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "plain", "x"));
    const int fd = open((dir / "plain").c_str(), O_RDONLY);
    DirectoryReader reader;
    auto result = reader.read(fd);
    close(fd);
    ASSERT_TRUE(std::holds_alternative<DirectoryReader::ReadError>(result));
    EXPECT_EQ(std::get<DirectoryReader::ReadError>(result).errnum, ENOTDIR);
}

TEST(DirectoryReader, ReaderIsReusableAcrossFolders) {
    TempDir a, b;
    ASSERT_TRUE(quenwick::testing::writeFile(a / "one", "1"));
    ASSERT_TRUE(quenwick::testing::writeFile(b / "two", "2"));
    ASSERT_TRUE(quenwick::testing::writeFile(b / "three", "3"));
    DirectoryReader reader;
    EXPECT_EQ(std::get<0>(readAll(reader, a.path())).size(), 1u);
    auto second = std::get<0>(readAll(reader, b.path()));
    EXPECT_EQ(second.size(), 2u);
    EXPECT_FALSE(second.contains("one"));
}

}  // namespace
