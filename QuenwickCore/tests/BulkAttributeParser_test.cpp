#include "QuenwickCore/BulkAttributeParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using quenwick::BulkAttributeParser;
using P = BulkAttributeParser;

namespace {

// Packs one entry the way the bulk listing lays it out: length, five returned masks, optional
// error, then the attributes in mask-bit order, with the name's bytes after the fixed part.
struct EntrySpec {
    uint32_t common = P::kCommonAttrs & ~P::kError;
    uint32_t file = P::kFileAttrs;
    int32_t error = 0;
    std::string name = "file";
    bool nameOnlyNul = false;
    uint32_t objType = 1;
    int64_t mtime = 1700000000;
    uint32_t flags = 0;
    uint64_t inode = 42;
    uint32_t links = 1;
    int64_t alloc = 4096;
};

template <typename T>
void put(std::vector<unsigned char>& out, T value) {
    const auto* p = reinterpret_cast<const unsigned char*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}

std::vector<unsigned char> pack(const EntrySpec& e) {
    std::vector<unsigned char> out;
    put<uint32_t>(out, 0);  // length, patched below
    put<uint32_t>(out, e.common);
    put<uint32_t>(out, 0);
    put<uint32_t>(out, 0);
    put<uint32_t>(out, e.file);
    put<uint32_t>(out, 0);
    if (e.common & P::kError) put<int32_t>(out, e.error);
    size_t nameRef = 0;
    if (e.common & P::kName) {
        nameRef = out.size();
        put<int32_t>(out, 0);
        put<uint32_t>(out, 0);
    }
    if (e.common & P::kObjType) put<uint32_t>(out, e.objType);
    if (e.common & P::kModTime) {
        put<int64_t>(out, e.mtime);
        put<int64_t>(out, 123456789);  // nanoseconds, ignored
    }
    if (e.common & P::kFlags) put<uint32_t>(out, e.flags);
    if (e.common & P::kFileId) put<uint64_t>(out, e.inode);
    if (e.file & P::kFileLinkCount) put<uint32_t>(out, e.links);
    if (e.file & P::kFileAllocSize) put<int64_t>(out, e.alloc);
    if (e.common & P::kName) {
        const auto offset = static_cast<int32_t>(out.size() - nameRef);
        const uint32_t length = e.nameOnlyNul ? 1 : static_cast<uint32_t>(e.name.size() + 1);
        std::memcpy(out.data() + nameRef, &offset, 4);
        std::memcpy(out.data() + nameRef + 4, &length, 4);
        if (!e.nameOnlyNul) out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
    }
    while (out.size() % 8)
        out.push_back(0);
    const auto length = static_cast<uint32_t>(out.size());
    std::memcpy(out.data(), &length, 4);
    return out;
}

std::vector<unsigned char> batch(const std::vector<EntrySpec>& specs) {
    std::vector<unsigned char> out;
    for (const auto& s : specs) {
        const auto bytes = pack(s);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

TEST(BulkAttributeParser, EmptyBatchGivesNothing) {
    std::vector<P::Entry> entries;
    EXPECT_TRUE(P::parse(nullptr, 0, 0, entries));
    EXPECT_TRUE(entries.empty());
}

TEST(BulkAttributeParser, ReadsEveryAttributeOfFilesDirectoriesAndLinks) {
    EntrySpec file;
    EntrySpec dir;
    dir.name = "Folder";
    dir.objType = 2;
    dir.file = 0;  // directories return no file attributes
    dir.flags = P::kDatalessFlag;
    EntrySpec link;
    link.name = "link";
    link.objType = 5;
    link.links = 3;
    const auto buf = batch({file, dir, link});
    std::vector<P::Entry> entries;
    ASSERT_TRUE(P::parse(buf.data(), buf.size(), 3, entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "file");
    EXPECT_FALSE(entries[0].attributes.isDir);
    EXPECT_EQ(entries[0].attributes.allocSize, 4096u);
    EXPECT_EQ(entries[0].attributes.mtime, 1700000000);
    EXPECT_EQ(entries[0].attributes.inode, 42u);
    EXPECT_EQ(entries[1].name, "Folder");
    EXPECT_TRUE(entries[1].attributes.isDir);
    EXPECT_TRUE(entries[1].attributes.dataless);
    EXPECT_EQ(entries[1].attributes.allocSize, 0u);
    EXPECT_EQ(entries[1].attributes.linkCount, 1u);
    EXPECT_TRUE(entries[2].attributes.isSymlink);
    EXPECT_EQ(entries[2].attributes.linkCount, 3u);
}

TEST(BulkAttributeParser, SeveralBatchesAccumulateInDeliveryOrder) {
    std::vector<P::Entry> entries;
    for (int b = 0; b < 3; ++b) {
        std::vector<EntrySpec> specs(4);
        for (int i = 0; i < 4; ++i)
            specs[i].name = "n" + std::to_string(b * 4 + i);
        const auto buf = batch(specs);
        ASSERT_TRUE(P::parse(buf.data(), buf.size(), 4, entries));
    }
    ASSERT_EQ(entries.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(entries[i].name, "n" + std::to_string(i));
}

TEST(BulkAttributeParser, ErrorBitShiftsTheAttributesByFourBytes) {
    EntrySpec e;
    e.common = P::kCommonAttrs;
    e.error = 13;
    e.inode = 77;
    const auto buf = batch({e});
    std::vector<P::Entry> entries;
    ASSERT_TRUE(P::parse(buf.data(), buf.size(), 1, entries));
    EXPECT_EQ(entries[0].attributes.error, 13);
    EXPECT_EQ(entries[0].name, "file");
    EXPECT_EQ(entries[0].attributes.inode, 77u);
}

TEST(BulkAttributeParser, NameOfOnlyTheTerminatorIsEmptyAndOneByteNamesWork) {
    EntrySpec empty;
    empty.nameOnlyNul = true;
    EntrySpec one;
    one.name = "x";
    const auto buf = batch({empty, one});
    std::vector<P::Entry> entries;
    ASSERT_TRUE(P::parse(buf.data(), buf.size(), 2, entries));
    EXPECT_EQ(entries[0].name, "");
    EXPECT_EQ(entries[1].name, "x");
}

TEST(BulkAttributeParser, NegativeAllocatedSizeIsClampedToZero) {
    EntrySpec e;
    e.alloc = -4096;
    const auto buf = batch({e});
    std::vector<P::Entry> entries;
    ASSERT_TRUE(P::parse(buf.data(), buf.size(), 1, entries));
    EXPECT_EQ(entries[0].attributes.allocSize, 0u);
}

TEST(BulkAttributeParser, MissingAttributesKeepTheirDefaults) {
    EntrySpec e;
    e.common = P::kReturnedAttrs | P::kName;
    e.file = 0;
    const auto buf = batch({e});
    std::vector<P::Entry> entries;
    ASSERT_TRUE(P::parse(buf.data(), buf.size(), 1, entries));
    EXPECT_EQ(entries[0].name, "file");
    EXPECT_EQ(entries[0].attributes.linkCount, 1u);
    EXPECT_EQ(entries[0].attributes.inode, 0u);
    EXPECT_FALSE(entries[0].attributes.isDir);
}

TEST(BulkAttributeParser, HostileBuffersAreRejectedWithoutReadingOutside) {
    EntrySpec e;
    auto buf = batch({e});
    std::vector<P::Entry> entries;
    // More entries claimed than present.
    EXPECT_FALSE(P::parse(buf.data(), buf.size(), 2, entries));
    // A length of zero would never advance.
    auto zero = buf;
    std::memset(zero.data(), 0, 4);
    EXPECT_FALSE(P::parse(zero.data(), zero.size(), 1, entries));
    // A name reference pointing past the entry.
    auto far = buf;
    const int32_t offset = 1 << 20;
    std::memcpy(far.data() + 24, &offset, 4);
    EXPECT_FALSE(P::parse(far.data(), far.size(), 1, entries));
    // Every truncation fails cleanly.
    for (size_t cut = 0; cut < buf.size(); ++cut) {
        EXPECT_FALSE(P::parse(buf.data(), cut, 1, entries)) << cut;
    }
    EXPECT_TRUE(entries.empty());
}

}  // namespace
