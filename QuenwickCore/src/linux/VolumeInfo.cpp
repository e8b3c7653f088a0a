#include "QuenwickCore/VolumeInfo.h"

#include <sys/statvfs.h>

namespace quenwick {

std::optional<VolumeInfo> VolumeInfo::containing(const std::string& path) {
    struct statvfs st;
    if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
    VolumeInfo info;
    // Blocks kept back for root are neither free to the user nor in use: leaving them out of the
    // total makes used and fullness agree with df.
    const uint64_t reserved = st.f_bfree > st.f_bavail ? st.f_bfree - st.f_bavail : 0;
    const uint64_t blocks = st.f_blocks > reserved ? st.f_blocks - reserved : 0;
    info.total = blocks * st.f_frsize;
    info.available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    info.availableForImportantUsage = info.available;
    return info;
}

}  // namespace quenwick
