#include "QuenwickCore/FileTree.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using quenwick::FileTree;
using quenwick::NodeFlags;

namespace {

constexpr NodeFlags kDir = NodeFlags::directory;

TEST(FileTree, NewTreeNormalisesOneTrailingSlash) {
    FileTree tree("/tmp/");
    EXPECT_EQ(tree.rootPath(), "/tmp");
    EXPECT_EQ(tree.count(), 1u);
    EXPECT_EQ(tree.name(0), "tmp");
    EXPECT_EQ(tree.path(0), "/tmp");
    EXPECT_EQ(tree.size(0), 0u);
    EXPECT_EQ(tree.parent(0), FileTree::none);
    EXPECT_TRUE(tree.flags(0).contains(NodeFlags::directory));
    EXPECT_EQ(FileTree("/").rootPath(), "/");
    EXPECT_EQ(FileTree("/a//").rootPath(), "/a/");
}

TEST(FileTree, RootOfFileSystemNamesAndResolves) {
    FileTree tree("/");
    const auto users = tree.append(0, "Users", 0, 0, 1, kDir);
    EXPECT_EQ(tree.name(0), "/");
    EXPECT_EQ(tree.path(users), "/Users");
    EXPECT_EQ(tree.nodeAtPath("/"), 0u);
    EXPECT_EQ(tree.nodeAtPath("/Users"), users);
    EXPECT_EQ(tree.nodeAtPath("//Users/"), users);
}

TEST(FileTree, PathLookupRespectsPrefixAndEmptyPieces) {
    FileTree tree("/a");
    const auto b = tree.append(0, "b", 0, 0, 1, kDir);
    const auto c = tree.append(b, "c.txt", 5, 0, 2, {});
    EXPECT_EQ(tree.nodeAtPath("/a/"), 0u);
    EXPECT_EQ(tree.nodeAtPath("/ab"), std::nullopt);
    EXPECT_EQ(tree.nodeAtPath("/a//b"), b);
    EXPECT_EQ(tree.nodeAtPath("/a/b/c.txt"), c);
    EXPECT_EQ(tree.nodeAtPath("/a/b/nothing"), std::nullopt);
    EXPECT_EQ(tree.nodeAtPath("/a/b/c.txt/deeper"), std::nullopt);
    EXPECT_EQ(tree.nodeAtPath("relative/a"), std::nullopt);
    EXPECT_EQ(tree.path(c), "/a/b/c.txt");
}

TEST(FileTree, ChildrenComeNewestFirstAndSortStably) {
    FileTree tree("/r");
    const auto x = tree.append(0, "x", 5, 0, 1, {});
    const auto y = tree.append(0, "y", 5, 0, 2, {});
    const auto z = tree.append(0, "z", 1, 0, 3, {});
    EXPECT_EQ(tree.children(0), (std::vector<FileTree::Node>{z, y, x}));
    EXPECT_EQ(tree.childrenBySize(0), (std::vector<FileTree::Node>{y, x, z}));
    EXPECT_TRUE(tree.children(x).empty());
}

TEST(FileTree, DirectorySizeIsNeverStoredOrOverwritten) {
    FileTree tree("/r");
    const auto d = tree.append(0, "d", 4096, 7, 1, kDir);
    EXPECT_EQ(tree.size(d), 0u);
    tree.update(d, 999, 42);
    EXPECT_EQ(tree.size(d), 0u);
    EXPECT_EQ(tree.mtime(d), 42);
    const auto f = tree.append(d, "f", 10, 1, 2, {});
    tree.update(f, 20, 3);
    EXPECT_EQ(tree.size(f), 20u);
    EXPECT_EQ(tree.mtime(f), 3);
}

TEST(FileTree, PropagateSizesSkipsDeadAndRecomputesFromScratch) {
    FileTree lone("/r");
    lone.propagateSizes();
    EXPECT_EQ(lone.size(0), 0u);

    FileTree tree("/r");
    const auto d = tree.append(0, "d", 0, 0, 1, kDir);
    tree.append(d, "a", 100, 0, 2, {});
    const auto b = tree.append(d, "b", 50, 0, 3, {});
    tree.append(0, "top", 7, 0, 4, {});
    tree.propagateSizes();
    EXPECT_EQ(tree.size(d), 150u);
    EXPECT_EQ(tree.size(0), 157u);
    tree.propagateSizes();  // a second run must not double anything
    EXPECT_EQ(tree.size(0), 157u);
    tree.remove(b);
    EXPECT_EQ(tree.size(d), 100u);
    EXPECT_EQ(tree.size(0), 107u);
    tree.propagateSizes();
    EXPECT_EQ(tree.size(0), 107u);
}

TEST(FileTree, RemovalIsIdempotentClampedAndSparesTheRoot) {
    FileTree tree("/r");
    const auto d = tree.append(0, "d", 0, 0, 1, kDir);
    const auto f = tree.append(d, "f", 4, 0, 2, {});
    tree.propagateSizes();
    const auto big = tree.append(d, "big", 10, 0, 3, {});  // parent still holds only 4
    tree.remove(0);
    EXPECT_FALSE(tree.flags(0).contains(NodeFlags::dead));
    tree.remove(big);
    EXPECT_EQ(tree.size(d), 0u);
    EXPECT_EQ(tree.size(0), 0u);
    EXPECT_TRUE(tree.flags(big).contains(NodeFlags::dead));
    tree.remove(big);
    EXPECT_EQ(tree.children(d), (std::vector<FileTree::Node>{f}));
}

TEST(FileTree, RemovingAMiddleSiblingKeepsTheRestOfTheList) {
    FileTree tree("/r");
    const auto a = tree.append(0, "a", 1, 0, 1, {});
    const auto b = tree.append(0, "b", 2, 0, 2, {});
    const auto c = tree.append(0, "c", 3, 0, 3, {});
    tree.propagateSizes();
    tree.remove(b);
    EXPECT_EQ(tree.children(0), (std::vector<FileTree::Node>{c, a}));
    EXPECT_EQ(tree.size(0), 4u);
    EXPECT_EQ(tree.nodeAtPath("/r/b"), std::nullopt);
}

TEST(FileTree, RemoveChildrenEmptiesAFolderAndItsTotals) {
    FileTree tree("/r");
    const auto d = tree.append(0, "d", 0, 0, 1, kDir);
    const auto e = tree.append(d, "e", 0, 0, 2, kDir);
    const auto g = tree.append(e, "g", 8, 0, 3, {});
    tree.append(d, "f", 2, 0, 4, {});
    tree.append(0, "keep", 1, 0, 5, {});
    tree.propagateSizes();
    tree.removeChildren(d);
    EXPECT_TRUE(tree.children(d).empty());
    EXPECT_EQ(tree.size(d), 0u);
    EXPECT_EQ(tree.size(0), 1u);
    EXPECT_TRUE(tree.flags(e).contains(NodeFlags::dead));
    EXPECT_FALSE(tree.flags(g).contains(NodeFlags::dead));  // unreachable, not marked
}

TEST(FileTree, OverlongNameKeepsFirst65535Bytes) {
    FileTree tree("/r");
    const auto n = tree.append(0, std::string(70000, 'a'), 1, 0, 1, {});
    EXPECT_EQ(tree.nameBytes(n).size(), 65535u);
    // A cut inside a multi-byte character is repaired for display only.
    const auto m = tree.append(0, std::string(65534, 'b') + "\xC3\xA9", 1, 0, 2, {});
    EXPECT_EQ(tree.nameBytes(m).size(), 65535u);
    EXPECT_EQ(tree.name(m).substr(65534), "\xEF\xBF\xBD");
}

TEST(FileTree, InvalidUtf8NamesKeepExactBytesForDiskPaths) {
    FileTree tree("/r\xFF");
    const std::string raw = "caf\xE9-\xFF\xFE\n";
    const auto n = tree.append(0, raw, 1, 0, 1, {});
    EXPECT_EQ(tree.nameBytes(n), raw);
    EXPECT_EQ(tree.path(n), "/r\xFF/" + raw);
    EXPECT_EQ(tree.name(n), "caf\xEF\xBF\xBD-\xEF\xBF\xBD\xEF\xBF\xBD\n");
    EXPECT_EQ(tree.displayPath(n), "/r\xEF\xBF\xBD/caf\xEF\xBF\xBD-\xEF\xBF\xBD\xEF\xBF\xBD\n");
    EXPECT_EQ(tree.nodeAtPath("/r\xFF/" + raw), n);
    // The display form names another file and must not resolve to this one.
    EXPECT_EQ(tree.nodeAtPath(tree.displayPath(n)), std::nullopt);
}

TEST(FileTree, NormalisationTwinsResolveByExactBytesFirst) {
    const std::string composed = "caf\xC3\xA9";     // é as one code point
    const std::string decomposed = "cafe\xCC\x81";  // e + combining acute
    FileTree tree("/r");
    const auto nfc = tree.append(0, composed, 1, 0, 1, {});
    const auto nfd = tree.append(0, decomposed, 2, 0, 2, {});
    EXPECT_EQ(tree.nodeAtPath("/r/" + composed), nfc);
    EXPECT_EQ(tree.nodeAtPath("/r/" + decomposed), nfd);

    FileTree single("/r");
    const auto only = single.append(0, decomposed, 1, 0, 1, {});
    EXPECT_EQ(single.nodeAtPath("/r/" + composed), only);  // canonical fallback
}

TEST(FileTree, CompactedDropsDeadNodesReversesListsAndKeepsPaths) {
    FileTree tree("/r");
    const auto a = tree.append(0, "a", 0, 0, 1, kDir);
    const auto b = tree.append(0, "b", 0, 0, 2, kDir);
    const auto c = tree.append(a, "c", 3, 0, 3, {});
    tree.append(b, "gone-child", 9, 0, 4, {});
    const auto d = tree.append(a, "d", 4, 0, 5, {});
    tree.propagateSizes();
    tree.remove(b);
    tree.remove(c);
    std::set<std::string> before;
    for (FileTree::Node n = 0; n < tree.count(); ++n) {
        if (n == b || n == c || n == 4) continue;
        before.insert(tree.path(n));
    }
    const FileTree copy = tree.compacted();
    EXPECT_EQ(copy.count(), tree.count() - 3);
    std::set<std::string> after;
    for (FileTree::Node n = 0; n < copy.count(); ++n) {
        EXPECT_FALSE(copy.flags(n).contains(NodeFlags::dead));
        if (n > 0) {
            EXPECT_LT(copy.parent(n), n);
        }
        after.insert(copy.path(n));
    }
    EXPECT_EQ(before, after);
    EXPECT_EQ(copy.size(0), tree.size(0));
    EXPECT_EQ(copy.size(*copy.nodeAtPath("/r/a/d")), tree.size(d));

    FileTree listed("/r");
    listed.append(0, "x", 1, 0, 1, {});
    listed.append(0, "y", 1, 0, 2, {});
    const FileTree reversed = listed.compacted();
    std::vector<std::string> names;
    for (auto n : reversed.children(0))
        names.push_back(reversed.name(n));
    EXPECT_EQ(names, (std::vector<std::string>{"x", "y"}));
}

TEST(FileTree, RandomTreesRollUpToTheSumOfTheirLiveFiles) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        FileTree tree("/r");
        std::vector<FileTree::Node> dirs{0};
        for (int i = 0; i < 300; ++i) {
            const auto parent = dirs[rng() % dirs.size()];
            if (rng() % 4 == 0) {
                dirs.push_back(tree.append(parent, "d" + std::to_string(i), 0, 0, i, kDir));
            } else {
                tree.append(parent, "f" + std::to_string(i), rng() % 1000, 0, i, {});
            }
        }
        tree.propagateSizes();
        for (int k = 0; k < 20; ++k)
            tree.remove(1 + rng() % (tree.count() - 1));
        const uint64_t afterRemovals = tree.size(0);
        tree.propagateSizes();
        EXPECT_EQ(tree.size(0), afterRemovals);
        uint64_t live = 0;
        for (FileTree::Node n = 1; n < tree.count(); ++n) {
            bool reachable = true;
            for (auto m = n; m != 0; m = tree.parent(m)) {
                if (tree.flags(m).contains(NodeFlags::dead)) reachable = false;
            }
            if (reachable && !tree.isDirectory(n)) live += tree.size(n);
        }
        EXPECT_EQ(tree.size(0), live);
    }
}

}  // namespace

namespace {

TEST(FileTree, RemovingAChildOfARemovedFolderDoesNotShrinkTotalsTwice) {
    FileTree tree("/r");
    const auto d = tree.append(0, "d", 0, 0, 1, kDir);
    const auto f = tree.append(d, "f", 10, 0, 2, {});
    tree.append(0, "keep", 5, 0, 3, {});
    tree.propagateSizes();
    tree.remove(d);
    EXPECT_EQ(tree.size(0), 5u);
    tree.remove(f);  // a Cleanup List may hold a folder and something inside it
    EXPECT_EQ(tree.size(0), 5u);
}

}  // namespace
