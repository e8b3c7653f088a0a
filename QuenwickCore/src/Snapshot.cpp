#include "QuenwickCore/Snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Lzfse/Lzfse.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/LittleEndian.h"
#include "QuenwickCore/UniqueFd.h"

namespace quenwick {
namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kBytesPerNode = 4 + 4 + 4 + 8 + 8 + 8 + 2 + 4 + 2;
// A snapshot never decompresses to more than this multiple of its size (real ones to about 3x),
// so a hostile stream cannot make the decoder allocate without bound.
constexpr uint64_t kMaxExpansion = 1024;
constexpr uint64_t kMinOutputLimit = 64ull << 20;
// The fixed fields at the payload's head after the root path: time, position, counts.
constexpr uint64_t kHeadFields = 8 + 8 + 4 + 8;
// No root path a scan can open comes near this.
constexpr uint32_t kMaxRootPath = 1u << 20;
// Enough for the blocks that hold the head: the format bounds one block's output near 24 MB.
constexpr uint64_t kMaxHeadBlocks = 32ull << 20;
// Seconds either side of 1970 beyond which a scan time cannot be a date (year 5138).
constexpr double kMaxScanTime = 1e11;

// What a node's name may be: one path component, never one that leads elsewhere.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

namespace LE = LittleEndian;

template <typename T>
void putArray(std::vector<uint8_t>& out, const std::vector<T>& array) {
    LE::appendArray(out, array.data(), array.size());
}

// Appends value(i) for i in [0, n) as n values of T, grown once.
template <typename Value>
void putEach(std::vector<uint8_t>& out, size_t n, Value&& value) {
    using T = decltype(value(size_t{0}));
    const size_t at = out.size();
    out.resize(at + n * sizeof(T));
    uint8_t* to = out.data() + at;
    for (size_t i = 0; i < n; ++i, to += sizeof(T))
        LE::store<T>(to, value(i));
}

template <typename T>
void putGathered(std::vector<uint8_t>& out, const PodArray<T>& array,
                 const std::vector<uint32_t>& order) {
    putEach(out, order.size(), [&](size_t i) { return array[order[i]]; });
}

// The structural checks that make every tree operation safe: parents before children, links
// within the tree, plain names within the name bytes, and each node in at most one child list, that
// of its own parent (which also rules out lists that loop). Linear in the node count.
bool isSound(const FileTree& tree) {
    const auto& s = tree.storage();
    const size_t n = tree.count();
    if (n == 0 || s.parents[0] != FileTree::none) return false;
    const uint64_t names = s.names.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && s.parents[i] >= i) return false;
        if (s.firstChildren[i] != FileTree::none && s.firstChildren[i] >= n) return false;
        if (s.nextSiblings[i] != FileTree::none && s.nextSiblings[i] >= n) return false;
        if (static_cast<uint64_t>(s.nameOffsets[i]) + s.nameLengths[i] > names) return false;
        // The root is known by the root path; every other name is joined to its parent's path.
        const std::string_view name(s.names.data() + s.nameOffsets[i], s.nameLengths[i]);
        if (i == 0 ? !name.empty() : !isPlainName(name)) return false;
    }
    std::vector<bool> listed(n, false);
    for (size_t p = 0; p < n; ++p) {
        for (uint32_t c = s.firstChildren[p]; c != FileTree::none; c = s.nextSiblings[c]) {
            if (c == 0 || listed[c] || s.parents[c] != p) return false;
            listed[c] = true;
        }
    }
    // Every node below the root is in its parent's list, or a save would drop it.
    return std::all_of(listed.begin() + 1, listed.end(), [](bool b) { return b; });
}

}  // namespace

std::string SnapshotError::describe() const {
    switch (kind) {
        case Kind::unsupportedVersion:
            return "unsupported snapshot version " + std::to_string(version);
        case Kind::badMagic:
            return "not a snapshot file";
        case Kind::truncated:
            return "the snapshot is truncated or damaged";
        case Kind::decompressionFailed:
            return "the snapshot's data cannot be decompressed";
    }
    return "damaged snapshot";
}

std::string SnapshotFileError::describe() const {
    if (format) return format->describe();
    return std::strerror(errnum);
}

namespace Snapshot {
namespace {

// The payload of tree, renumbered breadth-first exactly as FileTree::compacted() does, but
// written straight into the payload: a compacted copy of a large tree would cost as much memory
// as the tree itself.
std::vector<uint8_t> payloadOf(const FileTree& tree, const SnapshotMeta& meta) {
    const auto& s = tree.storage();
    constexpr uint32_t none = FileTree::none;
    // order[i] is the old index of new node i; parents[i] its parent's new index.
    std::vector<uint32_t> order, parents;
    order.reserve(tree.count());
    parents.reserve(tree.count());
    uint64_t nameBytes = 0;
    if (tree.count() > 0) {
        order.push_back(FileTree::root);
        parents.push_back(none);
    }
    for (size_t i = 0; i < order.size(); ++i) {
        const uint32_t old = order[i];
        nameBytes += s.nameLengths[old];
        for (uint32_t c = s.firstChildren[old]; c != none; c = s.nextSiblings[c]) {
            order.push_back(c);
            parents.push_back(static_cast<uint32_t>(i));
        }
    }
    const size_t n = order.size();
    // Appending a child puts it at the head of its parent's list, so lists come out reversed.
    std::vector<uint32_t> firstChildren(n, none), nextSiblings(n, none);
    for (size_t i = 1; i < n; ++i) {
        nextSiblings[i] = firstChildren[parents[i]];
        firstChildren[parents[i]] = static_cast<uint32_t>(i);
    }

    std::vector<uint8_t> payload;
    payload.reserve(4 + meta.rootPath.size() + 8 + 8 + 4 + 8 + n * kBytesPerNode + nameBytes);
    LE::append<uint32_t>(payload, static_cast<uint32_t>(meta.rootPath.size()));
    payload.insert(payload.end(), meta.rootPath.begin(), meta.rootPath.end());
    LE::append<double>(payload, meta.scannedAt);
    LE::append<uint64_t>(payload, meta.fsEventID);
    LE::append<uint32_t>(payload, static_cast<uint32_t>(n));
    LE::append<uint64_t>(payload, nameBytes);
    putArray(payload, parents);
    putArray(payload, firstChildren);
    putArray(payload, nextSiblings);
    putGathered(payload, s.sizes, order);
    putGathered(payload, s.mtimes, order);
    putGathered(payload, s.inodes, order);
    putGathered(payload, s.flagBits, order);
    uint32_t offset = 0;
    putEach(payload, n, [&](size_t i) {
        const uint32_t at = offset;
        offset += s.nameLengths[order[i]];
        return at;
    });
    putGathered(payload, s.nameLengths, order);
    const size_t namesAt = payload.size();
    payload.resize(namesAt + nameBytes);
    uint8_t* to = payload.data() + namesAt;
    for (const uint32_t old : order) {
        // A tree of empty names may have no name buffer at all, and memcpy takes no null.
        if (s.nameLengths[old] == 0) continue;
        std::memcpy(to, s.names.data() + s.nameOffsets[old], s.nameLengths[old]);
        to += s.nameLengths[old];
    }
    return payload;
}

}  // namespace

std::vector<uint8_t> encode(const FileTree& tree, const SnapshotMeta& meta, unsigned threads) {
    const auto payload = payloadOf(tree, meta);
    lzfse::Options options;
    options.threads = threads;
    const auto compressed = lzfse::encode(payload, options);
    std::vector<uint8_t> out(kHeaderSize + compressed.size());
    std::memcpy(out.data(), magic, 4);
    LE::store<uint16_t>(out.data() + 4, version);
    std::memcpy(out.data() + kHeaderSize, compressed.data(), compressed.size());
    return out;
}

std::variant<LoadedSnapshot, SnapshotError> decode(std::span<const uint8_t> data,
                                                   unsigned threads) {
    using Kind = SnapshotError::Kind;
    if (data.size() < kHeaderSize) return SnapshotError{Kind::truncated};
    if (std::memcmp(data.data(), magic, 4) != 0) return SnapshotError{Kind::badMagic};
    const auto found = LE::load<uint16_t>(data.data() + 4);
    if (found != version) return SnapshotError{Kind::unsupportedVersion, found};

    const auto stream = data.subspan(kHeaderSize);
    // The counts at the payload's head say how long all of it may be: read them first, from the
    // fewest blocks that hold them, so that a stream claiming more is refused before anything
    // is allocated for it.
    std::vector<uint8_t> payload;
    if (lzfse::decodePrefix(stream, 4, kMaxHeadBlocks, payload)) {
        return SnapshotError{Kind::decompressionFailed};
    }
    if (payload.size() < 4) return SnapshotError{Kind::truncated};
    const uint32_t rootLength = LE::load<uint32_t>(payload.data());
    if (rootLength > kMaxRootPath) return SnapshotError{Kind::truncated};
    const uint64_t headBytes = 4 + uint64_t{rootLength} + kHeadFields;
    if (payload.size() < headBytes &&
        lzfse::decodePrefix(stream, headBytes, kMaxHeadBlocks + headBytes, payload)) {
        return SnapshotError{Kind::decompressionFailed};
    }
    SnapshotMeta meta;
    uint32_t count = 0;
    uint64_t nameBytes = 0;
    {
        LE::Reader head{std::span<const uint8_t>(payload)};
        uint32_t skipped = 0;
        if (!head.read(skipped) || !head.readBytes(meta.rootPath, rootLength) ||
            !head.read(meta.scannedAt) || !head.read(meta.fsEventID) || !head.read(count) ||
            !head.read(nameBytes)) {
            return SnapshotError{Kind::truncated};
        }
    }
    if (!std::isfinite(meta.scannedAt) || std::abs(meta.scannedAt) > kMaxScanTime) {
        return SnapshotError{Kind::truncated};
    }
    // No name is longer than 65535 bytes.
    if (count == 0 || nameBytes > uint64_t{count} * UINT16_MAX) {
        return SnapshotError{Kind::truncated};
    }
    const uint64_t expected = headBytes + uint64_t{count} * kBytesPerNode + nameBytes;
    if (expected > std::max<uint64_t>(kMinOutputLimit, stream.size() * kMaxExpansion)) {
        return SnapshotError{Kind::truncated};
    }
    lzfse::Options options;
    options.threads = threads;
    if (const auto error = lzfse::decodeInto(stream, expected, payload, options)) {
        // More than the counts allow is a damaged payload, not a damaged stream.
        return SnapshotError{error->error == lzfse::Error::outputLimit ? Kind::truncated
                                                                       : Kind::decompressionFailed};
    }
    if (payload.size() != expected) return SnapshotError{Kind::truncated};
    LE::Reader r{std::span<const uint8_t>(payload).subspan(headBytes)};
    auto tree = std::make_shared<FileTree>(meta.rootPath, FileTree::EmptyTag{});
    auto& s = tree->mutableStorage();
    const bool complete = r.readArray(s.parents, count) && r.readArray(s.firstChildren, count) &&
                          r.readArray(s.nextSiblings, count) && r.readArray(s.sizes, count) &&
                          r.readArray(s.mtimes, count) && r.readArray(s.inodes, count) &&
                          r.readArray(s.flagBits, count) && r.readArray(s.nameOffsets, count) &&
                          r.readArray(s.nameLengths, count) && r.readArray(s.names, nameBytes) &&
                          r.atEnd();
    if (!complete || !isSound(*tree)) return SnapshotError{Kind::truncated};
    return LoadedSnapshot{std::move(tree), std::move(meta)};
}

std::optional<SnapshotFileError> save(const FileTree& tree, const SnapshotMeta& meta,
                                      const std::string& path, unsigned threads,
                                      MissingFolder missing) {
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && missing == MissingFolder::create) {
        if (const auto ec = createPrivateFolders(parent.string()))
            return SnapshotFileError{ec.value(), std::nullopt};
    }
    const auto bytes = encode(tree, meta, threads);
    const auto ec = writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (ec) return SnapshotFileError{ec.value(), std::nullopt};
    return std::nullopt;
}

std::variant<LoadedSnapshot, SnapshotFileError> load(const std::string& path, unsigned threads) {
    // Read, not mapped: a file cut short while it is read (cp over it) must give a damaged
    // snapshot, not SIGBUS.
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return SnapshotFileError{errno, std::nullopt};
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return SnapshotFileError{errno, std::nullopt};
    if (S_ISDIR(st.st_mode)) return SnapshotFileError{EISDIR, std::nullopt};
    std::vector<uint8_t> bytes(S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 65536);
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t n = read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SnapshotFileError{errno, std::nullopt};
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    auto decoded = decode(bytes, threads);
    if (auto* error = std::get_if<SnapshotError>(&decoded)) return SnapshotFileError{0, *error};
    return std::move(std::get<LoadedSnapshot>(decoded));
}

}  // namespace Snapshot
}  // namespace quenwick
