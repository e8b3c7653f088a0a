#include "QuenwickCore/NcduExport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "QuenwickCore/DiskScanner.h"
#include "TestSupport.h"

using quenwick::DiskScanner;
using quenwick::FileTree;
using quenwick::LoadedSnapshot;
using quenwick::NodeFlags;
using quenwick::testing::makeDirs;
using quenwick::testing::TempDir;
using quenwick::testing::writeFile;
using quenwick::testing::writeFileOfSize;
namespace NcduExport = quenwick::NcduExport;

namespace {

// Every live node by path: size, flags, inode and time. Which link of a hard-linked file carries
// its size is the first one a reader meets, not necessarily the one the scan met first, so links
// and the folders above them are compared without their sizes (the totals are compared apart).
std::map<std::string, std::tuple<uint64_t, uint16_t, uint64_t, int64_t>> byPath(
    const FileTree& tree) {
    std::set<uint64_t> linked;
    for (FileTree::Node n = 0; n < tree.count(); ++n) {
        if (tree.flags(n).contains(NodeFlags::hardlinkDuplicate)) linked.insert(tree.inode(n));
    }
    std::map<std::string, std::tuple<uint64_t, uint16_t, uint64_t, int64_t>> out;
    std::vector<FileTree::Node> stack{FileTree::root};
    while (!stack.empty()) {
        const auto n = stack.back();
        stack.pop_back();
        NodeFlags flags = tree.flags(n);
        flags.remove(NodeFlags::hardlinkDuplicate);
        const bool sized =
            !(linked.empty() ? false : tree.isDirectory(n) || linked.contains(tree.inode(n)));
        out[tree.path(n)] = {sized ? tree.size(n) : 0, flags.rawValue(), tree.inode(n),
                             tree.mtime(n)};
        for (auto c = tree.firstChild(n); c != FileTree::none; c = tree.nextSibling(c))
            stack.push_back(c);
    }
    return out;
}

LoadedSnapshot decoded(std::string_view text) {
    auto result = NcduExport::decode(text);
    if (auto* why = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << *why << "\n" << text;
        return {std::make_shared<FileTree>("/"), {}};
    }
    return std::get<LoadedSnapshot>(std::move(result));
}

std::string failure(std::string_view text) {
    auto result = NcduExport::decode(text);
    if (auto* why = std::get_if<std::string>(&result)) return *why;
    return "decoded";
}

const std::string kHead = R"([1,2,{"progname":"ncdu","progver":"1.18","timestamp":1700000000},)";

TEST(NcduExport, ScanSurvivesTheRoundTripWithLinksOddNamesAndFlags) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "a/b/c"));
    ASSERT_TRUE(makeDirs(dir / "App.app/Contents"));
    ASSERT_TRUE(writeFileOfSize(dir / "a/big", 70000));
    ASSERT_EQ(link((dir / "a/big").c_str(), (dir / "a/b/c/twin").c_str()), 0);
    ASSERT_EQ(symlink("big", (dir / "a/link").c_str()), 0);
    ASSERT_TRUE(writeFileOfSize(dir / "bad\xff\xfe name", 5000));
    ASSERT_TRUE(writeFile(dir / "quote\" back\\slash\ttab\x01", "x"));
    const auto scanned = DiskScanner({}, 2).scan(dir.path());
    // What a scan cannot make here: an unreadable folder and another file system's mount point.
    const FileTree::Node locked = scanned->append(FileTree::root, "locked", 0, 5, 77,
                                                  NodeFlags::directory | NodeFlags::unreadable);
    scanned->append(FileTree::root, "mnt", 0, 6, 78, NodeFlags::directory | NodeFlags::mountPoint);
    ASSERT_NE(locked, FileTree::none);

    const std::string text = NcduExport::encode(*scanned, 1700000000);
    EXPECT_NE(text.find("bad\xff\xfe name"), std::string::npos);
    EXPECT_NE(text.find(R"("quote\" back\\slash\u0009tab\u0001")"), std::string::npos) << text;
    const auto back = decoded(text);
    EXPECT_EQ(byPath(*back.tree), byPath(*scanned));
    EXPECT_EQ(back.meta.rootPath, scanned->rootPath());
    EXPECT_EQ(back.meta.scannedAt, 1700000000.0);
    EXPECT_EQ(back.tree->size(FileTree::root), scanned->size(FileTree::root));
    const auto big = back.tree->nodeAtPath(dir / "a/big");
    const auto twin = back.tree->nodeAtPath(dir / "a/b/c/twin");
    ASSERT_TRUE(big && twin);
    EXPECT_EQ(back.tree->size(*big) + back.tree->size(*twin),
              scanned->size(*scanned->nodeAtPath(dir / "a")));
    EXPECT_NE(back.tree->flags(*big).contains(NodeFlags::hardlinkDuplicate),
              back.tree->flags(*twin).contains(NodeFlags::hardlinkDuplicate));
}

TEST(NcduExport, EveryDepthOfTreeIsWrittenWithoutRecursionAndReadBack) {
    FileTree tree("/deep");
    FileTree::Node n = FileTree::root;
    for (int i = 0; i < 3000; ++i)
        n = tree.append(n, "d", 0, 0, 0, NodeFlags::directory);
    tree.append(n, "leaf", 4096, 0, 0, NodeFlags());
    tree.propagateSizes();
    const auto back = decoded(NcduExport::encode(tree, 0));
    EXPECT_EQ(back.tree->count(), tree.count());
    EXPECT_EQ(back.tree->size(FileTree::root), 4096u);
}

TEST(NcduExport, ExportsOfOtherToolsReadAsTheirFormatMeansIt) {
    const auto loaded = decoded(kHead + R"(
[{"name":"/r","asize":4096,"dsize":4096,"dev":7,"extra":{"nested":[1,[2,{"x":null}]]}},
 {"name":"one","asize":1,"dsize":4096,"ino":5,"hlnkc":true,"nlink":3},
 [{"name":"sub","asize":4096,"dsize":4096},
  {"name":"two","asize":1,"dsize":4096,"ino":5,"hlnkc":true,"nlink":3},
  {"name":"other","asize":1,"dsize":4096,"ino":5,"hlnkc":true,"nlink":3,"dev":8}],
 {"name":"skipped","excluded":"pattern"},
 [{"name":"skipped too","excluded":"pattern"},{"name":"inside","dsize":4096}],
 {"name":"proc","excluded":"otherfs"},
 {"name":"sym","asize":3,"notreg":true},
 {"name":"caf\u00e9 \ud83d\ude00 \ud800","dsize":8192},
 [{"name":"err","read_error":true}],
 {"name":"broken","read_error":true}
]])");
    const FileTree& tree = *loaded.tree;
    // Folders' own blocks do not count; the inode on device 7 counts once, the one on 8 too.
    EXPECT_EQ(tree.size(FileTree::root), 4096u * 2 + 8192u);
    EXPECT_EQ(loaded.meta.scannedAt, 1700000000.0);
    const auto flagsAt = [&](const std::string& path) {
        const auto n = tree.nodeAtPath(path);
        return n ? tree.flags(*n) : NodeFlags(0xffff);
    };
    EXPECT_TRUE(flagsAt("/r/sub/two").contains(NodeFlags::hardlinkDuplicate));
    EXPECT_FALSE(flagsAt("/r/sub/other").contains(NodeFlags::hardlinkDuplicate));
    EXPECT_FALSE(tree.nodeAtPath("/r/skipped"));
    EXPECT_FALSE(tree.nodeAtPath("/r/skipped too"));
    EXPECT_EQ(flagsAt("/r/proc"), NodeFlags::directory | NodeFlags::mountPoint);
    EXPECT_EQ(tree.size(*tree.nodeAtPath("/r/sym")), 0u);
    EXPECT_TRUE(tree.nodeAtPath("/r/caf\xc3\xa9 \xf0\x9f\x98\x80 \xef\xbf\xbd"));
    EXPECT_EQ(flagsAt("/r/err"), NodeFlags::directory | NodeFlags::unreadable);
    EXPECT_EQ(flagsAt("/r/broken"), NodeFlags::unreadable);
}

TEST(NcduExport, DamagedOrHostileExportsFailWithOneReason) {
    const std::string nested = [] {
        std::string text = kHead + R"([{"name":"/r"})";
        for (int i = 0; i < 10000; ++i)
            text += R"(,[{"name":"d"})";
        for (int i = 0; i < 10000; ++i)
            text += "]";
        return text + "]]";
    }();
    const std::string deepMeta = R"([1,2,{"x":)" + std::string(10000, '[') +
                                 std::string(10000, ']') + R"(},[{"name":"/r"}]])";
    const std::pair<std::string, std::string> cases[] = {
        {R"([2,0,{},[{"name":"/r"}]])", "version 2.0"},
        {nested, "nest deeper"},
        {deepMeta, "nest deeper"},
        {kHead + R"([{"name":"/r"},{"name":"a/b","dsize":1}]])", "\"/\""},
        {kHead + R"([{"name":"/r"},{"name":"a\u0000b","dsize":1}]])", "NUL"},
        {kHead + R"([{"name":"/r"},{"name":"","dsize":1}]])", "empty name"},
        {kHead + R"([{"name":"/r"},{"dsize":1}]])", "without a \"name\""},
        {kHead + R"([{"name":"/r"},{"name":"a","dsize":9223372036854775808}]])", "2^63"},
        {kHead + R"([{"name":"/r"},{"name":"a","asize":99999999999999999999999}]])", "2^63"},
        {kHead + R"([{"name":"/r"},{"name":"a","dsize":-1}]])", "2^63"},
        {kHead + R"([{"name":"/r"},{"name":"a","dsize":9223372036854775807},)" +
             R"({"name":"b","dsize":1}]])",
         "add up"},
        {kHead + R"([{"name":"relative"}]])", "absolute"},
        {kHead + R"([{"name":"/r"}]] trailing)", "follows"},
        {kHead + "[{\"name\":\"/r\"},{\"name\":\"raw\ncontrol\"}]]", "malformed"},
        {kHead + R"([{"name":"/r"},{"name":"a","dsize":1.5}]])", "not whole"},
        {"", "too early"},
        {"{}", "malformed"},
    };
    for (const auto& [text, reason] : cases) {
        const std::string why = failure(text);
        EXPECT_NE(why.find(reason), std::string::npos) << why << " for " << text.substr(0, 120);
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
}

TEST(NcduExport, EveryTruncationOfAnExportFailsCleanly) {
    FileTree tree("/t");
    const auto sub = tree.append(FileTree::root, "sub", 0, 1, 2, NodeFlags::directory);
    tree.append(sub, "f\xff", 4096, 1, 3, NodeFlags());
    tree.append(FileTree::root, "g", 8192, 1, 4, NodeFlags::unreadable);
    tree.propagateSizes();
    const std::string text = NcduExport::encode(tree, 1);
    const size_t end = text.find_last_of(']');
    for (size_t cut = 0; cut < end; ++cut) {
        const std::string why = failure(std::string_view(text).substr(0, cut));
        EXPECT_NE(why, "decoded") << cut;
    }
    EXPECT_EQ(failure(text), "decoded");
}

TEST(NcduExport, SaveWritesAnOrdinaryFileAtomicallyAndLoadRefusesWhatIsNoFile) {
    TempDir dir;
    FileTree tree("/t");
    tree.append(FileTree::root, "f", 4096, 1, 3, NodeFlags());
    tree.propagateSizes();
    ASSERT_EQ(NcduExport::save(tree, 5, dir / "out.json"), "");
    struct stat st {};
    ASSERT_EQ(stat((dir / "out.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0044, 0044u);
    auto loaded = NcduExport::load(dir / "out.json");
    ASSERT_EQ(loaded.index(), 0u);
    EXPECT_EQ(std::get<0>(loaded).tree->size(FileTree::root), 4096u);
    EXPECT_NE(NcduExport::save(tree, 5, dir / "missing/out.json"), "");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(NcduExport::load(dir / "fifo").index(), 1u);
    EXPECT_EQ(NcduExport::load(dir / "absent").index(), 1u);
    EXPECT_TRUE(NcduExport::looksLikeExport(" \n[1,2"));
    EXPECT_FALSE(NcduExport::looksLikeExport("QWS1"));
}

}  // namespace
