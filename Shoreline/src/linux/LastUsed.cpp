#include "Shoreline/LastUsed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <map>
#include <mutex>

namespace shoreline::LastUsed {
namespace {

// Whether the file system holding a file keeps access times, asked once per device: a noatime
// mount never updates them, so the value only says when the file was created.
class AtimeMounts {
public:
    bool keepsAccessTimes(dev_t device, const std::string& path) {
        std::lock_guard lock(mutex_);
        if (const auto it = known_.find(device); it != known_.end()) return it->second;
        struct statvfs vfs;
        // A file system that cannot be asked is taken at its word: its access times count.
        const bool keeps = statvfs(path.c_str(), &vfs) != 0 || (vfs.f_flag & ST_NOATIME) == 0;
        known_.emplace(device, keeps);
        return keeps;
    }

private:
    std::mutex mutex_;
    std::map<dev_t, bool> known_;
};

}  // namespace

ShorelineContext::LastUsedFunction spotlight() {
    auto mounts = std::make_shared<AtimeMounts>();
    return [mounts](const std::string& path) -> std::optional<ShorelineContext::Clock::time_point> {
        struct statx stx;
        if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                  STATX_TYPE | STATX_ATIME, &stx) != 0) {
            return std::nullopt;
        }
        // Listing a folder moves its access time, and our own scan lists every folder.
        if ((stx.stx_mask & STATX_ATIME) == 0 || S_ISDIR(stx.stx_mode)) return std::nullopt;
        if (!mounts->keepsAccessTimes(makedev(stx.stx_dev_major, stx.stx_dev_minor), path))
            return std::nullopt;
        // Seconds far outside the clock's range are not a date anyone opened the file on.
        constexpr int64_t kLimit = int64_t{1} << 33;
        const int64_t seconds = stx.stx_atime.tv_sec;
        if (seconds > kLimit || seconds < -kLimit) return std::nullopt;
        return ShorelineContext::Clock::time_point(std::chrono::seconds(seconds));
    };
}

ShorelineContext::LastUsedFunction unknown() {
    return [](const std::string&) { return std::nullopt; };
}

}  // namespace shoreline::LastUsed
