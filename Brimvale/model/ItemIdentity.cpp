#include "model/ItemIdentity.h"

#include <sys/stat.h>

namespace brimvale {

std::optional<ItemIdentity> ItemIdentity::of(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return std::nullopt;
    ItemIdentity id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.isDirectory = S_ISDIR(st.st_mode);
    id.size = static_cast<int64_t>(st.st_size);
    id.mtimeSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    id.mtimeNanoseconds = static_cast<int64_t>(st.st_mtim.tv_nsec);
    id.allocatedBytes = static_cast<uint64_t>(st.st_blocks) * 512;
    return id;
}

bool ItemIdentity::sameItem(const ItemIdentity& other) const {
    if (device != other.device || inode != other.inode || isDirectory != other.isDirectory)
        return false;
    if (isDirectory) return true;
    return size == other.size && mtimeSeconds == other.mtimeSeconds &&
           mtimeNanoseconds == other.mtimeNanoseconds;
}

}  // namespace brimvale
