#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Reading files for the duplicate finder: what a file is right now, and SHA-256 digests of its
// ends and of its whole contents. Every read checks that the file is still the one examined
// (same device, inode, size and modification time) and leaves it out otherwise, and none of them
// moves the file's access time. Thread-safe: each call works on its own handle.
namespace shoreline::detail {

using Digest = std::array<unsigned char, 32>;

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t length = 0;  // apparent size in bytes
    int64_t mtimeSeconds = 0;
    uint32_t mtimeNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the regular file at path (links not followed); nothing for anything else.
[[nodiscard]] std::optional<FileIdentity> identify(const std::string& path);

// SHA-256 of up to the first 65,536 bytes and, for files longer than that, of the last 65,536.
[[nodiscard]] std::optional<Digest> sampleDigest(const std::string& path,
                                                 const FileIdentity& expected);

struct ContentDigest {
    Digest digest{};
    bool sharedExtents = false;  // some of its blocks are shared with another file (a reflink)
};

// SHA-256 of the whole contents, read in chunks of the buffer's size; onChunk gets the bytes of
// each chunk as it is read. Nothing when the file cannot be opened, a read fails, or the file
// changed before or while it was read.
[[nodiscard]] std::optional<ContentDigest> contentDigest(
    const std::string& path, const FileIdentity& expected, char* buffer, size_t bufferSize,
    const std::function<void(size_t)>& onChunk);

// True when the open file shares any extent with another file (FIEMAP); false when it does not
// or the file system cannot say.
[[nodiscard]] bool hasSharedExtents(int fd);

}  // namespace shoreline::detail
