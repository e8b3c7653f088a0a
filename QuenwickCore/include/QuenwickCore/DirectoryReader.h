#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "QuenwickCore/DirEntry.h"

// DirectoryReader lists one open directory in bulk: every entry but "." and "..", with the
// attributes of DirEntry, in the order the file system delivered them. On Linux it reads names
// with getdents64 into a 256 KiB buffer and takes each entry's attributes with statx relative to
// the open directory, never following links and never triggering an automount.
//
// One reader per thread: it reuses its buffer and entry storage across calls, and the entries of
// one read() stay valid until the next. The caller opens and closes the descriptor.
namespace quenwick {

class DirectoryReader {
public:
    static constexpr size_t bufferSize = 262144;

    struct ReadError {
        int32_t errnum = 0;
        bool operator==(const ReadError&) const = default;
    };
    using Result = std::variant<std::span<const DirEntry>, ReadError>;

    DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    // Lists the whole directory open as fd. A failing listing call gives ReadError with its errno,
    // and the entries gathered so far are dropped; a problem with one entry comes back in that
    // entry's `error` instead.
    [[nodiscard]] Result read(int fd);

private:
    std::unique_ptr<unsigned char[]> buffer_;
    std::vector<DirEntry> entries_;
    std::vector<uint32_t> nameOffsets_;
    std::string names_;
};

}  // namespace quenwick
