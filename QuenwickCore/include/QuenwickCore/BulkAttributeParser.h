#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "QuenwickCore/DirEntry.h"

// Parses the packed buffer of the other platform's bulk attribute listing call: per entry a
// 32-bit length, the five returned attribute masks, an optional error code, then each returned
// attribute in mask-bit order (name reference, object type, modification time, BSD flags, file
// identifier, link count, allocated size). Portable: it runs on any platform over bytes, which
// keeps snapshots and tests of that layout meaningful here. Pure and thread-safe.
namespace quenwick {

class BulkAttributeParser {
public:
    static constexpr uint32_t kCommonAttrs = 0xA2040409;  // what the listing requests
    static constexpr uint32_t kFileAttrs = 0x00000005;
    static constexpr uint32_t kReturnedAttrs = 0x80000000;
    static constexpr uint32_t kError = 0x20000000;
    static constexpr uint32_t kFileId = 0x02000000;
    static constexpr uint32_t kFlags = 0x00040000;
    static constexpr uint32_t kModTime = 0x00000400;
    static constexpr uint32_t kObjType = 0x00000008;
    static constexpr uint32_t kName = 0x00000001;
    static constexpr uint32_t kFileLinkCount = 0x1;
    static constexpr uint32_t kFileAllocSize = 0x4;
    static constexpr uint32_t kDatalessFlag = 0x40000000;

    // One parsed entry: the name's exact bytes, and the other attributes (attributes.name is
    // left empty, since the buffer it came from is reused for the next batch).
    struct Entry {
        std::string name;
        DirEntry attributes;
    };

    // Appends the `count` entries packed in buffer[0, size). Returns false, appending nothing,
    // when an entry or a name reference would reach outside the buffer.
    [[nodiscard]] static bool parse(const unsigned char* buffer, size_t size, uint32_t count,
                                    std::vector<Entry>& entries);
};

}  // namespace quenwick
