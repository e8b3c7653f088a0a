#include "QuenwickCore/BulkAttributeParser.h"

#include <cstring>

namespace quenwick {
namespace {

template <typename T>
bool readAt(const unsigned char* buffer, size_t size, size_t offset, T& out) {
    if (offset > size || size - offset < sizeof(T)) return false;
    std::memcpy(&out, buffer + offset, sizeof(T));
    return true;
}

}  // namespace

bool BulkAttributeParser::parse(const unsigned char* buffer, size_t size, uint32_t count,
                                std::vector<Entry>& entries) {
    std::vector<Entry> batch;
    batch.reserve(count);
    size_t start = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0, common = 0, file = 0;
        if (!readAt(buffer, size, start, length) || !readAt(buffer, size, start + 4, common) ||
            !readAt(buffer, size, start + 16, file)) {
            return false;
        }
        if (length < 24 || length > size - start) return false;
        const size_t end = start + length;
        Entry e;
        size_t cursor = start + 24;
        if (common & kError) {
            if (!readAt(buffer, end, start + 24, e.attributes.error)) return false;
            cursor = start + 28;
        }
        if (common & kName) {
            const size_t ref = cursor;
            int32_t offset = 0;
            uint32_t nameLength = 0;
            if (!readAt(buffer, end, ref, offset) || !readAt(buffer, end, ref + 4, nameLength)) {
                return false;
            }
            if (nameLength >= 2) {
                const int64_t at = static_cast<int64_t>(ref) + offset;
                const uint64_t bytes = nameLength - 1;
                if (at < static_cast<int64_t>(start) || static_cast<uint64_t>(at) + bytes > end) {
                    return false;
                }
                e.name.assign(reinterpret_cast<const char*>(buffer) + at, bytes);
            }
            cursor += 8;
        }
        if (common & kObjType) {
            uint32_t type = 0;
            if (!readAt(buffer, end, cursor, type)) return false;
            e.attributes.isDir = type == 2;
            e.attributes.isSymlink = type == 5;
            cursor += 4;
        }
        if (common & kModTime) {
            if (!readAt(buffer, end, cursor, e.attributes.mtime)) return false;
            cursor += 16;
        }
        if (common & kFlags) {
            uint32_t flags = 0;
            if (!readAt(buffer, end, cursor, flags)) return false;
            e.attributes.dataless = (flags & kDatalessFlag) != 0;
            cursor += 4;
        }
        if (common & kFileId) {
            if (!readAt(buffer, end, cursor, e.attributes.inode)) return false;
            cursor += 8;
        }
        if (file & kFileLinkCount) {
            if (!readAt(buffer, end, cursor, e.attributes.linkCount)) return false;
            cursor += 4;
        }
        if (file & kFileAllocSize) {
            int64_t alloc = 0;
            if (!readAt(buffer, end, cursor, alloc)) return false;
            e.attributes.allocSize = alloc < 0 ? 0 : static_cast<uint64_t>(alloc);
            cursor += 8;
        }
        batch.push_back(std::move(e));
        start = end;
    }
    for (auto& e : batch)
        entries.push_back(std::move(e));
    return true;
}

}  // namespace quenwick
