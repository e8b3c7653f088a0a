#pragma once

#include <cstdint>
#include <string_view>

namespace quenwick {

// One entry of a directory listing, with the attributes the scanner needs. `name` holds the
// exact bytes of the name and points into the reader that produced it: it stays valid until
// that reader's next read(). Attributes that were not returned keep the defaults below.
struct DirEntry {
    std::string_view name;
    bool isDir = false;
    bool isSymlink = false;
    uint64_t allocSize = 0;  // allocated bytes; always 0 for directories
    int64_t mtime = 0;       // whole seconds since 1970
    uint64_t inode = 0;
    uint32_t linkCount = 1;  // always 1 for directories
    bool dataless = false;   // contents not present locally (never on Linux)
    int32_t error = 0;       // per-entry error code, 0 when none
    // Where the entry itself lives, in the 32-bit device encoding; 0 when not returned. A
    // directory on another device than its parent's is the root of a mount.
    int32_t device = 0;
    bool mountRoot = false;  // the file system reports the entry as the root of a mount
};

// The 32-bit encoding of a device number: (minor & 0xff) | (major << 8) | ((minor & ~0xff) << 12).
[[nodiscard]] constexpr int32_t encodeDevice(uint32_t major, uint32_t minor) {
    return static_cast<int32_t>((minor & 0xffu) | (major << 8) | ((minor & ~0xffu) << 12));
}

}  // namespace quenwick
