#include "Shoreline/UserFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "FakeHome.h"

namespace shoreline {
namespace {

using quenwick::NodeFlags;
using testing::FakeHome;
using testing::kMiB;
using testing::relativePaths;
using testing::TreeBuilder;
using Paths = std::vector<std::string>;

Paths walked(const ShorelineContext& ctx, uint64_t minBytes) {
    std::vector<Candidate> asCandidates;
    for (auto n : UserFiles::walk(ctx, minBytes))
        asCandidates.push_back({n, Safety::review, ""});
    auto paths = relativePaths(ctx, asCandidates);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(UserFiles, WalkKeepsTheUsersOwnRegularFilesFromTheLimitUp) {
    FakeHome home;
    home.file("Documents/a.bin", 2 * kMiB);
    home.file("Documents/deep/er/b.bin", 3 * kMiB);
    home.file("Documents/small.bin", kMiB);
    home.file("top.bin", 2 * kMiB);
    home.file("Library/Caches/x.bin", 2 * kMiB);
    home.file(".local/share/x.bin", 2 * kMiB);
    home.file("Documents/.hidden/x.bin", 2 * kMiB);
    home.file("Documents/.x.bin", 2 * kMiB);
    home.file("Projects/node_modules/x.bin", 2 * kMiB);
    home.file("Projects/Pods/x.bin", 2 * kMiB);
    home.file("Projects/target/x.bin", 2 * kMiB);
    home.file("Projects/.venv/x.bin", 2 * kMiB);
    home.file("Editor.app/Contents/x.bin", 2 * kMiB);
    home.file("snap/firefox/4242/x.bin", 2 * kMiB);
    home.file("snap/firefox/common/x.bin", 2 * kMiB);
    ASSERT_EQ(symlink("a.bin", (home / "Documents/link.bin").c_str()), 0);
    ASSERT_EQ(link((home / "top.bin").c_str(), (home / "Documents/hard.bin").c_str()), 0);
    auto ctx = home.context();
    // Exactly one of the two names of the hard-linked file is counted.
    const auto paths = walked(ctx, 2 * kMiB);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], "Documents/a.bin");
    EXPECT_EQ(paths[1], "Documents/deep/er/b.bin");
    EXPECT_TRUE(paths[2] == "top.bin" || paths[2] == "Documents/hard.bin") << paths[2];
}

TEST(UserFiles, FoldersBelowTheLimitAreNotEntered) {
    TreeBuilder home("/home/ann");
    home.add("a/x.bin", 10);
    home.add("a/y.bin", 10);
    home.add("b/z.bin", 30);
    // A folder's rolled-up size that is wrong (too small) hides what is inside: the walk trusts
    // sizes to prune, so the file that is too small for the limit is never reached either.
    auto ctx = home.context();
    EXPECT_EQ(walked(ctx, 20), Paths{"b/z.bin"});
    EXPECT_EQ(walked(ctx, 25), Paths{"b/z.bin"});
    EXPECT_EQ(walked(ctx, 31), Paths{});
    EXPECT_EQ(walked(ctx, 10), (Paths{"a/x.bin", "a/y.bin", "b/z.bin"}));
}

TEST(UserFiles, NoHomeInTheTreeMeansNoFiles) {
    TreeBuilder home("/srv/data");
    home.add("big.bin", 10 * kMiB);
    auto ctx = home.context();
    ctx.home = "/home/ann";
    EXPECT_TRUE(UserFiles::walk(ctx, 1).empty());
}

}  // namespace
}  // namespace shoreline
