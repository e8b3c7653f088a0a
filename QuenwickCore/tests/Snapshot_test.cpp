#include "QuenwickCore/Snapshot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <Lzfse/Lzfse.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "QuenwickCore/DiskScanner.h"
#include "TestSupport.h"

using quenwick::FileTree;
using quenwick::LoadedSnapshot;
using quenwick::NodeFlags;
using quenwick::SnapshotError;
using quenwick::SnapshotMeta;
using quenwick::testing::TempDir;
namespace Snapshot = quenwick::Snapshot;
using Kind = SnapshotError::Kind;

namespace {

std::vector<uint8_t> header(uint16_t version = 1) {
    return {'Q', 'W', 'S', '1', static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8)};
}

// A snapshot around a payload of our own making, for the checks that follow decompression.
std::vector<uint8_t> wrap(const std::vector<uint8_t>& payload) {
    auto out = header();
    const auto stream = lzfse::encode(payload);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::vector<uint8_t> payloadOf(const std::vector<uint8_t>& snapshot) {
    const auto decoded = lzfse::decode(std::span(snapshot).subspan(6), 1ull << 30);
    EXPECT_TRUE(decoded.ok());
    return decoded.bytes;
}

std::optional<SnapshotError> errorOf(std::span<const uint8_t> data) {
    auto result = Snapshot::decode(data);
    if (auto* e = std::get_if<SnapshotError>(&result)) return *e;
    return std::nullopt;
}

std::set<std::string> livePaths(const FileTree& tree) {
    std::set<std::string> out;
    std::vector<FileTree::Node> stack{0};
    while (!stack.empty()) {
        const auto n = stack.back();
        stack.pop_back();
        out.insert(tree.path(n) + "|" + std::to_string(tree.size(n)) + "|" +
                   std::to_string(tree.flags(n).rawValue()) + "|" + std::to_string(tree.mtime(n)) +
                   "|" + std::to_string(tree.inode(n)));
        for (auto c : tree.children(n))
            stack.push_back(c);
    }
    return out;
}

FileTree sampleTree() {
    FileTree tree("/home/ann");
    const auto docs = tree.append(0, "Documents", 0, 100, 2, NodeFlags::directory);
    tree.append(docs, "report.pdf", 40960, 1700000000, 3, {});
    tree.append(docs, "caf\xC3\xA9 \xFF\n", 4096, -5, 4, NodeFlags::symlink);
    const auto app = tree.append(0, "Tool.app", 0, 7, 5, NodeFlags::directory | NodeFlags::package);
    tree.append(app, "binary", UINT64_MAX / 4, 1, UINT64_MAX, NodeFlags::hardlinkDuplicate);
    tree.append(0, "mnt", 0, 0, 6, NodeFlags::directory | NodeFlags::mountPoint);
    tree.propagateSizes();
    return tree;
}

TEST(Snapshot, FreshTreeRoundTripsWithItsMeta) {
    const FileTree tree("/");
    const SnapshotMeta meta{"/", 1733700000.5, 42};
    const auto bytes = Snapshot::encode(tree, meta);
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(std::memcmp(bytes.data(), "QWS1\x01\x00", 6), 0);
    const auto payload = payloadOf(bytes);
    // root path, date, id, N, M, then one element of each array and no names.
    EXPECT_EQ(payload.size(), 4u + 1 + 8 + 8 + 4 + 8 + 44);
    auto decoded = Snapshot::decode(bytes);
    ASSERT_EQ(decoded.index(), 0u);
    const auto& loaded = std::get<LoadedSnapshot>(decoded);
    EXPECT_EQ(loaded.meta, meta);
    EXPECT_EQ(loaded.tree->count(), 1u);
    EXPECT_EQ(loaded.tree->rootPath(), "/");
    EXPECT_EQ(loaded.tree->parent(0), FileTree::none);
}

TEST(Snapshot, EveryFieldAndExactNameBytesSurvive) {
    const FileTree tree = sampleTree();
    const SnapshotMeta meta{"/home/ann", 1.0e9, UINT64_MAX};
    auto decoded = Snapshot::decode(Snapshot::encode(tree, meta));
    ASSERT_EQ(decoded.index(), 0u);
    const auto& loaded = std::get<LoadedSnapshot>(decoded);
    EXPECT_EQ(loaded.meta, meta);
    EXPECT_EQ(livePaths(*loaded.tree), livePaths(tree));
    EXPECT_EQ(loaded.tree->size(0), tree.size(0));
}

TEST(Snapshot, DeadNodesAreCompactedAwayWithListsReversed) {
    FileTree tree = sampleTree();
    tree.remove(*tree.nodeAtPath("/home/ann/Documents/report.pdf"));
    tree.remove(*tree.nodeAtPath("/home/ann/Tool.app"));
    const auto expected = livePaths(tree);
    auto decoded = Snapshot::decode(Snapshot::encode(tree, {"/home/ann", 0, 0}));
    ASSERT_EQ(decoded.index(), 0u);
    const auto& restored = *std::get<LoadedSnapshot>(decoded).tree;
    EXPECT_EQ(restored.count(), tree.count() - 3);
    EXPECT_EQ(livePaths(restored), expected);
    std::vector<std::string> before, after;
    for (auto n : tree.children(0))
        before.push_back(tree.name(n));
    for (auto n : restored.children(0))
        after.push_back(restored.name(n));
    std::reverse(before.begin(), before.end());
    EXPECT_EQ(after, before);
}

TEST(Snapshot, StoredArraysAreExactlyThoseOfTheCompactedTree) {
    // Several levels, wide folders and removals at every depth, so that renumbering, list order
    // and name offsets all differ from the tree's own.
    FileTree tree("/r");
    std::vector<FileTree::Node> folders{0};
    for (int i = 0; i < 300; ++i) {
        const auto parent = folders[(i * 7) % folders.size()];
        const bool folder = i % 3 == 0;
        const auto n = tree.append(parent, "n" + std::to_string(i) + std::string(i % 11, 'x'),
                                   folder ? 0 : 4096 * (i + 1), i, 1000 + i,
                                   folder ? NodeFlags::directory : NodeFlags());
        if (folder) folders.push_back(n);
    }
    tree.propagateSizes();
    // Node i + 1 is the i-th appended; some of these lie below others already removed.
    for (int i : {3, 4, 9, 33, 120, 121, 299})
        tree.remove(FileTree::Node(i + 1));
    auto decoded = Snapshot::decode(Snapshot::encode(tree, {"/r", 0, 0}, 2));
    ASSERT_EQ(decoded.index(), 0u);
    const auto& a = std::get<LoadedSnapshot>(decoded).tree->storage();
    const FileTree compacted = tree.compacted();
    const auto& b = compacted.storage();
    auto same = [](const auto& x, const auto& y) {
        return x.size() == y.size() &&
               std::equal(x.data(), x.data() + x.size(), y.data(), y.data() + y.size());
    };
    EXPECT_TRUE(same(a.parents, b.parents));
    EXPECT_TRUE(same(a.firstChildren, b.firstChildren));
    EXPECT_TRUE(same(a.nextSiblings, b.nextSiblings));
    EXPECT_TRUE(same(a.sizes, b.sizes));
    EXPECT_TRUE(same(a.mtimes, b.mtimes));
    EXPECT_TRUE(same(a.inodes, b.inodes));
    EXPECT_TRUE(same(a.flagBits, b.flagBits));
    EXPECT_TRUE(same(a.nameOffsets, b.nameOffsets));
    EXPECT_TRUE(same(a.nameLengths, b.nameLengths));
    EXPECT_TRUE(same(a.names, b.names));
    EXPECT_LT(compacted.count(), tree.count());
}

TEST(Snapshot, RootPathThatIsNotUtf8KeepsItsExactBytes) {
    const std::string root = "/data/\xFF\xFEold";
    FileTree tree(root);
    tree.append(0, "x", 1, 0, 1, {});
    auto decoded = Snapshot::decode(Snapshot::encode(tree, {root, 0, 0}));
    ASSERT_EQ(decoded.index(), 0u);
    const auto& loaded = std::get<LoadedSnapshot>(decoded);
    EXPECT_EQ(loaded.meta.rootPath, root);
    EXPECT_EQ(loaded.tree->rootPath(), root);
    EXPECT_EQ(loaded.tree->path(1), root + "/x");
}

TEST(Snapshot, HeaderChecksComeInOrder) {
    EXPECT_EQ(errorOf({}), (SnapshotError{Kind::truncated}));
    const std::vector<uint8_t> five{'Q', 'W', 'S', '1', 1};
    EXPECT_EQ(errorOf(five), (SnapshotError{Kind::truncated}));
    const std::vector<uint8_t> wrong{'Q', 'W', 'S', '2', 1, 0};
    EXPECT_EQ(errorOf(wrong), (SnapshotError{Kind::badMagic}));
    EXPECT_EQ(errorOf(header(2)), (SnapshotError{Kind::unsupportedVersion, 2}));
    EXPECT_EQ(errorOf(header(0x0100)), (SnapshotError{Kind::unsupportedVersion, 0x0100}));
    auto garbage = header();
    for (char c : std::string("this is not an LZFSE stream"))
        garbage.push_back(c);
    EXPECT_EQ(errorOf(garbage), (SnapshotError{Kind::decompressionFailed}));
    EXPECT_EQ(errorOf(header()), (SnapshotError{Kind::decompressionFailed}));
}

TEST(Snapshot, PayloadCutAnywhereIsTruncated) {
    const auto payload = payloadOf(Snapshot::encode(sampleTree(), {"/home/ann", 0, 0}));
    for (size_t cut = 0; cut < payload.size(); ++cut) {
        const std::vector<uint8_t> part(payload.begin(), payload.begin() + cut);
        EXPECT_EQ(errorOf(wrap(part)), (SnapshotError{Kind::truncated})) << cut;
    }
    // Nor may it be longer than its counts say: the counts bound what is decompressed.
    auto longer = payload;
    longer.push_back(7);
    EXPECT_EQ(errorOf(wrap(longer)), (SnapshotError{Kind::truncated}));
}

// Offsets into the payload of a tree whose root path is "/r".
struct Layout {
    size_t count, names, parents, firstChildren, nextSiblings;
    explicit Layout(uint32_t n) {
        count = 4 + 2 + 8 + 8;
        names = count + 4;
        parents = names + 8;
        firstChildren = parents + 4 * n;
        nextSiblings = firstChildren + 4 * n;
    }
};

template <typename T>
void poke(std::vector<uint8_t>& payload, size_t offset, T value) {
    std::memcpy(payload.data() + offset, &value, sizeof(T));
}

std::vector<uint8_t> threeNodePayload() {
    FileTree tree("/r");
    tree.append(0, "a", 1, 0, 1, {});
    tree.append(0, "b", 1, 0, 2, {});
    return payloadOf(Snapshot::encode(tree, {"/r", 0, 0}));
}

TEST(Snapshot, BrokenStructureIsRejectedAsTruncated) {
    const auto good = threeNodePayload();
    ASSERT_EQ(errorOf(wrap(good)), std::nullopt);
    const Layout at(3);
    // After compaction: node 0 lists 2 then 1; both have parent 0.
    const auto broken = [&](auto change) {
        auto p = good;
        change(p);
        return errorOf(wrap(p));
    };
    const SnapshotError truncated{Kind::truncated};
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.parents, 0); }), truncated);
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.parents + 4, 1); }), truncated);
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.firstChildren + 4, 3); }), truncated);
    // A sibling list that loops back on itself.
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.nextSiblings + 4, 2); }), truncated);
    // A node linked into two lists, and the root listed as a child.
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.firstChildren + 4, 2); }), truncated);
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.firstChildren + 4, 0); }), truncated);
    // A node whose parent's list leaves it out: a tree that would lose it on the next save.
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.nextSiblings + 8, 0xFFFFFFFFu); }),
              truncated);
    // Counts far beyond the data, and a name reaching past the names.
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.count, 0xFFFFFFF0u); }), truncated);
    EXPECT_EQ(broken([&](auto& p) { poke<uint64_t>(p, at.names, 1ull << 63); }), truncated);
    EXPECT_EQ(broken([&](auto& p) { poke<uint64_t>(p, at.names, UINT64_MAX); }), truncated);
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, at.count, 0); }), truncated);
    const size_t nameOffsets = at.parents + 3 * (4 + 4 + 4 + 8 + 8 + 8 + 2);
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, nameOffsets + 4, 0xFFFFFFFFu); }), truncated);
    // A root path length beyond the data.
    EXPECT_EQ(broken([&](auto& p) { poke<uint32_t>(p, 0, 0xFFFFFFFFu); }), truncated);
}

TEST(Snapshot, StreamWrittenByAnIndependentEncoderIsRead) {
    const std::string vectors = BRIMVALE_SHARED_DIR "/lzfse/vectors";
    if (access((vectors + "/lzfse_writer.py").c_str(), R_OK) != 0) GTEST_SKIP() << "no writer";
    const FileTree tree = sampleTree();
    const auto payload = payloadOf(Snapshot::encode(tree, {"/home/ann", 5, 6}));
    TempDir dir;
    std::ofstream(dir / "payload", std::ios::binary)
        .write(reinterpret_cast<const char*>(payload.data()), payload.size());
    // A raw, an LZVN and an LZFSE block, written by the test vectors' own stream writer.
    const std::string script =
        "import sys; sys.path.insert(0, sys.argv[1]); import lzfse_writer as w\n"
        "d = open(sys.argv[2], 'rb').read(); a, b = len(d) // 3, 2 * len(d) // 3; o = w.Out()\n"
        "s = w.raw_block(o, d[:a]); n0 = len(o.data)\n"
        "p = w.lzvn_compress(o, d[a:b], 0) + w.LZVN_EOS; s += w.lzvn_block(p, len(o.data) - n0)\n"
        "s += w.lzfse_block(o, w.lz_triples(o, d[b:], 0)) + w.END\n"
        "assert bytes(o.data) == d\n"
        "open(sys.argv[3], 'wb').write(b'QWS1\\x01\\x00' + s)\n";
    std::ofstream(dir / "write.py") << script;
    const std::string command = "python3 " + dir / "write.py" + " " + vectors + " " +
                                dir / "payload" + " " + dir / "snapshot.qws";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto loaded = Snapshot::load(dir / "snapshot.qws");
    ASSERT_EQ(loaded.index(), 0u) << std::get<1>(loaded).describe();
    EXPECT_EQ(livePaths(*std::get<0>(loaded).tree), livePaths(tree));
    EXPECT_EQ(std::get<0>(loaded).meta, (SnapshotMeta{"/home/ann", 5, 6}));
}

TEST(Snapshot, SaveCreatesFoldersOnlyWhenToldAndLoadReadsItBack) {
    TempDir dir;
    const FileTree tree = sampleTree();
    const std::string path = dir / "Brimvale/Snapshots/_home_ann.qws";
    const auto refused = Snapshot::save(tree, {"/home/ann", 9, 10}, path);
    ASSERT_NE(refused, std::nullopt);
    EXPECT_EQ(refused->errnum, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir / "Brimvale"));
    ASSERT_EQ(Snapshot::save(tree, {"/home/ann", 9, 10}, path, 1, Snapshot::MissingFolder::create),
              std::nullopt);
    auto loaded = Snapshot::load(path);
    ASSERT_EQ(loaded.index(), 0u);
    EXPECT_EQ(livePaths(*std::get<0>(loaded).tree), livePaths(tree));
    // No temporary file is left beside it.
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir / "Brimvale/Snapshots")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST(Snapshot, FailedSaveLeavesTheOldSnapshotUntouched) {
    TempDir dir;
    const std::string path = dir / "snap.qws";
    ASSERT_EQ(Snapshot::save(FileTree("/old"), {"/old", 1, 1}, path), std::nullopt);
    std::ifstream in(path, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const auto out = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::dropPrivileges()) return "cannot drop";
        const auto error = Snapshot::save(sampleTree(), {"/home/ann", 2, 2}, path);
        return error ? std::to_string(error->errnum) : "saved";
    });
    chmod(dir.path().c_str(), 0755);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, std::to_string(EACCES));
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), before);
    // A folder in the way of the file is an error too, not a crash.
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "taken.qws"));
    EXPECT_NE(Snapshot::save(sampleTree(), {"/", 0, 0}, dir / "taken.qws"), std::nullopt);
}

TEST(Snapshot, FilesThatAreNotSnapshotsAreRejectedWithTheirOwnError) {
    TempDir dir;
    quenwick::testing::writeFile(dir / "empty", "");
    auto empty = Snapshot::load(dir / "empty");
    ASSERT_EQ(empty.index(), 1u);
    EXPECT_EQ(std::get<1>(empty).format, (SnapshotError{Kind::truncated}));
    auto folder = Snapshot::load(dir.path());
    ASSERT_EQ(folder.index(), 1u);
    EXPECT_EQ(std::get<1>(folder).errnum, EISDIR);
    auto missing = Snapshot::load(dir / "missing");
    ASSERT_EQ(missing.index(), 1u);
    EXPECT_EQ(std::get<1>(missing).errnum, ENOENT);
    quenwick::testing::writeFile(dir / "secret", "QWS1");
    chmod((dir / "secret").c_str(), 0);
    const auto out = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::dropPrivileges()) return "cannot drop";
        auto r = Snapshot::load(dir / "secret");
        return r.index() == 1 ? std::to_string(std::get<1>(r).errnum) : "loaded";
    });
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, std::to_string(EACCES));
}

TEST(Snapshot, DamagedCopiesOfARealScanNeverCrashOrHang) {
    TempDir dir;
    for (int d = 0; d < 8; ++d) {
        const std::string folder = dir / ("dir" + std::to_string(d));
        quenwick::testing::makeDirs(folder + "/inner");
        for (int f = 0; f < 12; ++f) {
            quenwick::testing::writeFile(folder + "/f" + std::to_string(f),
                                         std::string(f * 300, 'x'));
        }
    }
    auto tree = quenwick::DiskScanner({}, 2).scan(dir.path());
    const auto good = Snapshot::encode(*tree, {dir.path(), 1, 2});
    std::mt19937 rng(11);
    const auto check = [&](const std::vector<uint8_t>& bytes) {
        auto result = Snapshot::decode(bytes);
        if (auto* loaded = std::get_if<LoadedSnapshot>(&result)) {
            // Whatever is accepted must be safe to walk.
            const auto& t = *loaded->tree;
            for (FileTree::Node n = 0; n < t.count(); ++n)
                (void)t.path(n);
            (void)livePaths(t);
        }
    };
    for (size_t cut = 0; cut < std::min<size_t>(200, good.size()); ++cut) {
        check(std::vector<uint8_t>(good.begin(), good.begin() + cut));
    }
    for (int i = 0; i < 300; ++i) {
        check(std::vector<uint8_t>(good.begin(), good.begin() + rng() % good.size()));
    }
    for (int i = 0; i < 3000; ++i) {
        auto bytes = good;
        const size_t at = 6 + rng() % (bytes.size() - 6);
        if (i % 2) {
            bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        } else {
            bytes[at] = static_cast<uint8_t>(rng());
        }
        check(bytes);
    }
    for (int i = 0; i < 200; ++i) {
        auto bytes = header();
        for (int k = 0; k < 64 + i * 8; ++k)
            bytes.push_back(static_cast<uint8_t>(rng()));
        EXPECT_NE(errorOf(bytes), std::nullopt);
    }
    // The payload itself damaged, re-compressed so that only the structure checks stand guard.
    const auto payload = payloadOf(good);
    for (int i = 0; i < 2000; ++i) {
        auto p = payload;
        p[rng() % p.size()] = static_cast<uint8_t>(rng());
        check(wrap(p));
    }
}

}  // namespace
