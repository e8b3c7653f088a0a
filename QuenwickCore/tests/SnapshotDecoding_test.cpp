// What a snapshot decoder must refuse or survive beyond the structure checks: hostile names,
// impossible times, streams that would swell beyond what their counts allow, and files that
// shrink while they are read. Also pins the payload's byte layout.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Lzfse/Lzfse.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "QuenwickCore/Snapshot.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using Kind = SnapshotError::Kind;
using testing::TempDir;

std::vector<uint8_t> wrap(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out{'Q', 'W', 'S', '1', 1, 0};
    const auto stream = lzfse::encode(payload);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::optional<SnapshotError> errorOf(std::span<const uint8_t> data) {
    auto result = Snapshot::decode(data);
    if (auto* e = std::get_if<SnapshotError>(&result)) return *e;
    return std::nullopt;
}

// Little-endian bytes written out by hand, independent of the code under test.
void le(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The payload of a root "/r" (size 4096) holding one file "ab" (size 4096, mtime -2, inode 9).
std::vector<uint8_t> handWrittenPayload(double scannedAt = 1.5) {
    std::vector<uint8_t> p;
    le(p, 2, 4);
    p.push_back('/');
    p.push_back('r');
    uint64_t timeBits = 0;
    std::memcpy(&timeBits, &scannedAt, 8);
    le(p, timeBits, 8);
    le(p, 77, 8);                                               // journal position
    le(p, 2, 4);                                                // nodes
    le(p, 2, 8);                                                // name bytes
    le(p, 0xFFFFFFFF, 4), le(p, 0, 4);                          // parents
    le(p, 1, 4), le(p, 0xFFFFFFFF, 4);                          // first children
    le(p, 0xFFFFFFFF, 4), le(p, 0xFFFFFFFF, 4);                 // next siblings
    le(p, 4096, 8), le(p, 4096, 8);                             // sizes
    le(p, 0, 8), le(p, static_cast<uint64_t>(int64_t{-2}), 8);  // mtimes
    le(p, 1, 8), le(p, 9, 8);                                   // inodes
    le(p, NodeFlags::directory.rawValue(), 2), le(p, 0, 2);     // flags
    le(p, 0, 4), le(p, 0, 4);                                   // name offsets
    le(p, 0, 2), le(p, 2, 2);                                   // name lengths
    p.push_back('a');
    p.push_back('b');
    return p;
}

TEST(SnapshotDecoding, PayloadIsLittleEndianAsDocumented) {
    // A file written by hand in the documented layout reads back as that tree...
    auto decoded = Snapshot::decode(wrap(handWrittenPayload()));
    ASSERT_TRUE(std::holds_alternative<LoadedSnapshot>(decoded))
        << std::get<SnapshotError>(decoded).describe();
    const auto& loaded = std::get<LoadedSnapshot>(decoded);
    EXPECT_EQ(loaded.meta, (SnapshotMeta{"/r", 1.5, 77}));
    const auto file = loaded.tree->nodeAtPath("/r/ab");
    ASSERT_TRUE(file);
    EXPECT_EQ(loaded.tree->size(*file), 4096u);
    EXPECT_EQ(loaded.tree->mtime(*file), -2);
    EXPECT_EQ(loaded.tree->inode(*file), 9u);

    // ...and the same tree is written as exactly those bytes.
    FileTree tree("/r");
    tree.append(FileTree::root, "ab", 4096, -2, 9, {});
    tree.mutableStorage().inodes[FileTree::root] = 1;
    tree.propagateSizes();
    const auto encoded = Snapshot::encode(tree, {"/r", 1.5, 77});
    const auto written = lzfse::decode(std::span(encoded).subspan(6), 1 << 20);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(written.bytes, handWrittenPayload());
}

TEST(SnapshotDecoding, NamesThatAreNotPlainNamesAreDamaged) {
    const SnapshotError damaged{Kind::truncated};
    for (const std::string& bad : {std::string(), std::string("."), std::string(".."),
                                   std::string("a/b"), std::string("/"), std::string("a\0b", 3)}) {
        FileTree tree("/r");
        const auto folder = tree.append(FileTree::root, "sub", 0, 0, 2, NodeFlags::directory);
        tree.append(folder, bad, 10, 0, 3, {});
        EXPECT_EQ(errorOf(Snapshot::encode(tree, {"/r", 0, 0})), damaged)
            << "name \"" << bad << "\"";
    }
    for (const char* fine : {"...", ".hidden", " ", "a\\b", "\xFF"}) {
        FileTree tree("/r");
        tree.append(FileTree::root, fine, 10, 0, 3, {});
        EXPECT_EQ(errorOf(Snapshot::encode(tree, {"/r", 0, 0})), std::nullopt) << fine;
    }
}

TEST(SnapshotDecoding, ScanTimeThatCannotBeADateIsDamaged) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double bad : {1e17, -1e17, nan, inf, -inf, 2e11}) {
        EXPECT_EQ(errorOf(wrap(handWrittenPayload(bad))), SnapshotError{Kind::truncated}) << bad;
    }
    for (const double fine : {0.0, 1.7e9, -1e9, 9e10})
        EXPECT_EQ(errorOf(wrap(handWrittenPayload(fine))), std::nullopt) << fine;
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(SnapshotDecoding, StreamSwellingBeyondItsCountsIsRefusedBeforeItIsDecoded) {
    // Two nodes' worth of payload followed by 60 MB that the counts do not account for: well
    // under a megabyte of stream that would decompress to all of it. The stream is put together
    // from self-contained blocks (each part encoded on its own), as encoding 60 MB takes long.
    const auto withoutEnd = [](std::vector<uint8_t> stream) {
        for (int i = 0; i < 4; ++i)  // the end-of-stream block, "bvx$"
            stream.pop_back();
        return stream;
    };
    std::vector<uint8_t> bomb{'Q', 'W', 'S', '1', 1, 0};
    const auto head = withoutEnd(lzfse::encode(handWrittenPayload()));
    bomb.insert(bomb.end(), head.begin(), head.end());
    const auto zeros = withoutEnd(lzfse::encode(std::vector<uint8_t>(1 << 20, 0)));
    for (int i = 0; i < 60; ++i)
        bomb.insert(bomb.end(), zeros.begin(), zeros.end());
    for (char c : {'b', 'v', 'x', '$'})
        bomb.push_back(static_cast<uint8_t>(c));
    ASSERT_LT(bomb.size(), 1u << 20);
    const auto grown = testing::runInChild([&] {
        const long before = peakKilobytes();
        const auto error = errorOf(bomb);
        return std::to_string(error.has_value()) + " " + std::to_string(peakKilobytes() - before);
    });
    ASSERT_TRUE(grown);
    const auto space = grown->find(' ');
    EXPECT_EQ(grown->substr(0, space), "1");
    // At most one block of the stream is decoded to read the counts.
    EXPECT_LT(std::stol(grown->substr(space + 1)), 32 * 1024) << "kilobytes";
}

TEST(SnapshotDecoding, FileShrinkingWhileReadIsAnErrorNotASignal) {
    TempDir dir;
    const std::string path = dir / "s.qws";
    FileTree tree("/r");
    for (int i = 0; i < 40000; ++i)
        tree.append(FileTree::root, "file number " + std::to_string(i * 7919), 4096, i, i, {});
    tree.propagateSizes();
    ASSERT_FALSE(Snapshot::save(tree, {"/r", 0, 0}, path));
    std::string bytes;
    {
        const auto encoded = Snapshot::encode(tree, {"/r", 0, 0});
        bytes.assign(encoded.begin(), encoded.end());
    }
    // In a child: a SIGBUS there shows as a failure rather than ending the suite.
    const auto outcome = testing::runInChild([&] {
        std::atomic<bool> done{false};
        std::thread shrinker([&] {
            while (!done) {
                // The same file, cut short and written again in place, as cp over it does.
                if (truncate(path.c_str(), 6) != 0) break;
                const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
                if (fd < 0) break;
                [[maybe_unused]] const ssize_t n = write(fd, bytes.data(), bytes.size());
                close(fd);
            }
        });
        int loaded = 0, failed = 0;
        for (int i = 0; i < 300; ++i) {
            auto result = Snapshot::load(path);
            ++(std::holds_alternative<LoadedSnapshot>(result) ? loaded : failed);
        }
        done = true;
        shrinker.join();
        return std::to_string(loaded + failed);
    });
    ASSERT_TRUE(outcome) << "load died while the file shrank";
    EXPECT_EQ(*outcome, "300");
}

}  // namespace
}  // namespace quenwick
