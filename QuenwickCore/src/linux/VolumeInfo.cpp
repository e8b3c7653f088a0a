#include "QuenwickCore/VolumeInfo.h"

#include <sys/statvfs.h>

namespace quenwick {

std::optional<VolumeInfo> VolumeInfo::containing(const std::string& path) {
    struct statvfs st;
    if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
    VolumeInfo info;
    info.total = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
    info.available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    info.availableForImportantUsage = info.available;
    return info;
}

}  // namespace quenwick
