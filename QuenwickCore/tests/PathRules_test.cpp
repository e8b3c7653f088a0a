#include "QuenwickCore/PathRules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "QuenwickCore/LittleEndian.h"
#include "QuenwickCore/UniqueFd.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

struct ContainmentCase {
    const char* path;
    const char* folder;
    bool atOrBelow;
};

TEST(PathRules, ContainmentEdgesDecidedOnce) {
    const ContainmentCase cases[] = {
        {"/a/b", "/a/b", true},        // equal paths
        {"/a/b/c", "/a/b", true},      // below
        {"/a/bc", "/a/b", false},      // a longer sibling name is not inside
        {"/a", "/a/b", false},         // the folder's parent
        {"/a/b/c", "/a/b/", true},     // a trailing slash on the folder is ignored
        {"/a/b", "/a/b/", true},       //
        {"/a/bc", "/a/b/", false},     //
        {"/a/b/", "/a/b", true},       // a trailing slash on the path
        {"/", "/", true},              // the root holds itself
        {"/anything", "/", true},      // and every absolute path
        {"/", "//", true},             // however many slashes it is written with
        {"relative", "/", false},      // but no relative one
        {"", "/", false},              // an empty path lies nowhere
        {"/a", "", false},             // an empty folder holds nothing
        {"Caches/x", "Caches", true},  // relative paths compare the same way
        {"Cachesx", "Caches", false},
        {"/A/b", "/a", false},  // exact bytes: no case folding
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathRules::isAtOrBelow(c.path, c.folder), c.atOrBelow)
            << "path \"" << c.path << "\" folder \"" << c.folder << "\"";
    }
    EXPECT_FALSE(PathRules::isBelow("/a/b", "/a/b"));
    EXPECT_FALSE(PathRules::isBelow("/a/b/", "/a/b"));
    EXPECT_TRUE(PathRules::isBelow("/a/b/c", "/a/b/"));
    EXPECT_FALSE(PathRules::isBelow("/a/bc", "/a/b"));
    EXPECT_TRUE(PathRules::isBelow("/a", "/"));
    EXPECT_FALSE(PathRules::isBelow("/", "/"));
    EXPECT_TRUE(PathRules::overlaps("/a", "/a/b"));
    EXPECT_TRUE(PathRules::overlaps("/a/b", "/a"));
    EXPECT_FALSE(PathRules::overlaps("/a/b", "/a/c"));
}

TEST(PathRules, HomeAbbreviatedOnlyAtAWholeComponent) {
    using PathRules::abbreviatingHome;
    EXPECT_EQ(abbreviatingHome("/home/ann", "/home/ann"), "~");
    EXPECT_EQ(abbreviatingHome("/home/ann/.cache/x", "/home/ann/"), "~/.cache/x");
    EXPECT_EQ(abbreviatingHome("/home/anna/x", "/home/ann"), "/home/anna/x");
    EXPECT_EQ(abbreviatingHome("/srv/x", "/home/ann"), "/srv/x");
    // A home of "/" or none would abbreviate everything.
    EXPECT_EQ(abbreviatingHome("/usr/lib", "/"), "/usr/lib");
    EXPECT_EQ(abbreviatingHome("/usr/lib", ""), "/usr/lib");
}

TEST(PathRules, JoinParentAndLastComponentAgree) {
    struct Case {
        const char* folder;
        const char* name;
        const char* joined;
    };
    const Case joins[] = {{"/", "a", "/a"}, {"/a", "b", "/a/b"}, {"/a/", "b", "/a/b"},
                          {"/a", "", "/a"}, {"", "a", "/a"},     {"/a", "b/c", "/a/b/c"}};
    for (const auto& c : joins)
        EXPECT_EQ(PathRules::join(c.folder, c.name), c.joined) << c.folder << " + " << c.name;

    struct Split {
        const char* path;
        const char* parent;
        const char* last;
    };
    const Split splits[] = {{"/a/b", "/a", "b"},  {"/a", "/", "a"},     {"/", "/", "/"},
                            {"/a/b/", "/a", "b"}, {"/a//b", "/a", "b"}, {"name", "", "name"}};
    for (const auto& c : splits) {
        EXPECT_EQ(PathRules::parentOf(c.path), c.parent) << c.path;
        EXPECT_EQ(PathRules::lastComponent(c.path), c.last) << c.path;
    }
}

TEST(PathRules, RealPathFollowsLinksAndReportsWhatIsMissing) {
    testing::TempDir dir;
    const auto base = PathRules::realPath(dir.path());
    ASSERT_TRUE(base);
    std::filesystem::create_directories(*base + "/real/inner");
    std::filesystem::create_directory_symlink(*base + "/real", *base + "/link");
    EXPECT_EQ(PathRules::realPath(*base + "/link/inner/../inner"), *base + "/real/inner");
    EXPECT_FALSE(PathRules::realPath(*base + "/missing"));
}

TEST(UniqueFd, ClosesOnceWhenDroppedOrReplaced) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        UniqueFd reader(fds[0]);
        UniqueFd moved(std::move(reader));
        EXPECT_FALSE(reader.valid());
        EXPECT_TRUE(moved.valid());
        moved.reset(fds[1]);  // closes the reading end, takes the writing end
        EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);
        EXPECT_NE(fcntl(fds[1], F_GETFD), -1);
    }
    EXPECT_EQ(fcntl(fds[1], F_GETFD), -1);
}

TEST(LittleEndian, ValuesRoundTripAsLittleEndianBytes) {
    std::string bytes;
    LittleEndian::append<uint32_t>(bytes, 0x11223344u);
    LittleEndian::append<uint16_t>(bytes, 0xA1B2);
    LittleEndian::append<double>(bytes, -2.5);
    LittleEndian::append<int64_t>(bytes, -2);
    const std::string head("\x44\x33\x22\x11\xB2\xA1", 6);
    EXPECT_EQ(bytes.substr(0, 6), head);

    LittleEndian::Reader in{std::string_view(bytes)};
    uint32_t a = 0;
    uint16_t b = 0;
    double c = 0;
    int64_t d = 0;
    ASSERT_TRUE(in.read(a) && in.read(b) && in.read(c) && in.read(d));
    EXPECT_EQ(a, 0x11223344u);
    EXPECT_EQ(b, 0xA1B2);
    EXPECT_EQ(c, -2.5);
    EXPECT_EQ(d, -2);
    EXPECT_TRUE(in.atEnd());
    uint8_t past = 0;
    EXPECT_FALSE(in.read(past));  // a read past the end fails
}

}  // namespace
}  // namespace quenwick
