#include "QuenwickCore/ScanExcludes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "QuenwickCore/DiskScanner.h"
#include "TestSupport.h"

using quenwick::DiskScanner;
using quenwick::FileTree;
using quenwick::ScanExcludes;
using quenwick::ScanOptions;
using quenwick::testing::makeDirs;
using quenwick::testing::TempDir;
using quenwick::testing::writeFile;

namespace {

std::set<std::string> names(const FileTree& tree) {
    std::set<std::string> out;
    for (FileTree::Node n = 1; n < tree.count(); ++n)
        out.insert(std::string(tree.nameBytes(n)));
    return out;
}

std::shared_ptr<FileTree> scanWith(const std::string& root,
                                   const std::vector<std::string>& values) {
    ScanExcludes excludes;
    for (const auto& v : values)
        EXPECT_EQ(excludes.add(v, root + "/" + v), "") << v;
    ScanOptions options;
    excludes.applyTo(options);
    return DiskScanner(options, 2).scan(root);
}

TEST(ScanExcludes, NamePatternsMatchEveryEntryAtAnyDepthWithBracketsAndEscapes) {
    TempDir dir;
    for (const char* f : {"lib.so", "sub/deep/x.so", "keep.c", "Cache/a", "cache/b", "star*",
                          "starry", ".hidden.so", "q?", "qx"}) {
        ASSERT_TRUE(makeDirs(std::string(dir / f).substr(0, (dir / f).rfind('/'))));
        ASSERT_TRUE(writeFile(dir / f, "x"));
    }
    const auto tree = scanWith(dir.path(), {"*.so", "[Cc]ache", "star\\*", "q\\?"});
    EXPECT_EQ(names(*tree), (std::set<std::string>{"sub", "deep", "keep.c", "starry", "qx"}));
}

TEST(ScanExcludes, ValuesWithASlashArePathsAndOthersNeverAre) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "a/lib"));
    ASSERT_TRUE(makeDirs(dir / "b/lib"));
    ASSERT_TRUE(writeFile(dir / "a/lib/x", "x"));
    ScanExcludes excludes;
    EXPECT_EQ(excludes.add("a/lib/", dir / "a/lib"), "");
    EXPECT_EQ(excludes.add("x", ""), "");
    EXPECT_EQ(excludes.paths(), std::vector<std::string>{dir / "a/lib"});
    EXPECT_EQ(excludes.names(), std::vector<std::string>{"x"});
    ScanOptions options;
    excludes.applyTo(options);
    const auto tree = DiskScanner(options, 1).scan(dir.path());
    EXPECT_EQ(names(*tree), (std::set<std::string>{"a", "b", "lib"}));
    EXPECT_TRUE(tree->nodeAtPath(dir / "b/lib"));
}

TEST(ScanExcludes, UnusableValuesAreRefusedWithAReason) {
    ScanExcludes excludes;
    EXPECT_NE(excludes.add("", ""), "");
    EXPECT_NE(excludes.add("trailing\\", ""), "");
    EXPECT_NE(excludes.add("three\\\\\\", ""), "");
    EXPECT_EQ(excludes.add("two\\\\", ""), "");
    EXPECT_EQ(excludes.add("[unclosed", ""), "");
    EXPECT_EQ(excludes.names(), (std::vector<std::string>{"two\\\\", "[unclosed"}));
}

TEST(ScanExcludes, MissingPathsAreReportedAndDanglingLinksAreNot) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "here"));
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    ScanExcludes excludes;
    for (const char* v : {"here", "gone", "dangling"})
        ASSERT_EQ(excludes.add(std::string("./") + v, dir / v), "");
    EXPECT_EQ(excludes.missingPaths(), std::vector<std::string>{dir / "gone"});
}

TEST(ScanExcludes, ExcludeFileSkipsBlankAndCommentLinesAndCarriageReturns) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir / "list", "# build output\n\n*.o\r\n   \n\\#keep\nsub/dir\nlast"));
    const auto values = ScanExcludes::readFile(dir / "list");
    ASSERT_EQ(values.index(), 0u) << std::get<1>(values);
    EXPECT_EQ(std::get<0>(values), (std::vector<std::string>{"*.o", "\\#keep", "sub/dir", "last"}));

    ASSERT_TRUE(writeFile(dir / "binary", std::string("a\0b", 3)));
    EXPECT_EQ(ScanExcludes::readFile(dir / "binary").index(), 1u);
    EXPECT_EQ(ScanExcludes::readFile(dir / "absent").index(), 1u);
    EXPECT_EQ(ScanExcludes::readFile(dir.path()).index(), 1u);
}

TEST(ScanExcludes, RescanKeepsNewEntriesThatMatchOut) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "src"));
    ASSERT_TRUE(writeFile(dir / "src/a.c", "x"));
    ScanOptions options;
    options.excludedNames = {"*.o"};
    DiskScanner scanner(options, 1);
    auto tree = scanner.scan(dir.path());
    ASSERT_TRUE(writeFile(dir / "src/a.o", "x"));
    ASSERT_TRUE(writeFile(dir / "src/b.c", "x"));
    scanner.rescan(*tree, {dir / "src"});
    EXPECT_EQ(names(*tree), (std::set<std::string>{"src", "a.c", "b.c"}));
}

}  // namespace
