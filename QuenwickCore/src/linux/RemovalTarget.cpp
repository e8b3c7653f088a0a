#include "RemovalTarget.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "GuardPolicy.h"
#include "QuenwickCore/PathRules.h"

namespace quenwick {

RemovalError RemovalError::blocked(std::string reason) {
    return {Kind::blocked, 0, std::move(reason)};
}

RemovalError RemovalError::fromErrno(int code) {
    return {code == ENOENT ? Kind::notFound : Kind::failed, code, std::strerror(code)};
}

RemovalError RemovalError::failed(int code, std::string message) {
    return {Kind::failed, code, std::move(message)};
}

namespace detail {

std::string pathOfDescriptor(int fd) {
    std::string buffer(4096, '\0');
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n <= 0) return {};
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            break;
        }
        if (buffer.size() >= (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
    // A folder that was removed meanwhile is shown with this suffix; it is nowhere now.
    if (buffer.empty() || buffer.front() != '/') return {};
    constexpr std::string_view kDeleted = " (deleted)";
    if (buffer.size() > kDeleted.size() &&
        std::string_view(buffer).substr(buffer.size() - kDeleted.size()) == kDeleted)
        return {};
    return buffer;
}

bool isMountRootAt(int dirFd, const std::string& name) {
    struct statx item;
    if (statx(dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID,
              &item) != 0)
        return false;
    if (!S_ISDIR(item.stx_mode)) return false;
    if (item.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return (item.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    struct statx folder;
    if (statx(dirFd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MNT_ID, &folder) != 0) return false;
    if ((item.stx_mask & STATX_MNT_ID) && (folder.stx_mask & STATX_MNT_ID))
        return item.stx_mnt_id != folder.stx_mnt_id;
    return item.stx_dev_major != folder.stx_dev_major || item.stx_dev_minor != folder.stx_dev_minor;
}

std::optional<std::string> mountBelow(const std::string& folder) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point ...; the mount point escapes " \t\n\\" as octal.
        std::istringstream fields(line);
        std::string skip, escaped;
        if (!(fields >> skip >> skip >> skip >> skip >> escaped)) continue;
        std::string point;
        for (size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == '\\' && i + 3 < escaped.size()) {
                const std::string octal = escaped.substr(i + 1, 3);
                if (octal.find_first_not_of("01234567") == std::string::npos) {
                    point += static_cast<char>(std::stoi(octal, nullptr, 8));
                    i += 3;
                    continue;
                }
            }
            point += escaped[i];
        }
        if (point.size() > folder.size() && PathRules::isAtOrBelow(point, folder)) return point;
    }
    return std::nullopt;
}

bool isMountPoint(const std::string& path) {
    if (path == "/") return true;
    const int fd =
        ::open(std::string(PathRules::parentOf(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    UniqueFd parent(fd);
    return isMountRootAt(parent.get(), std::string(PathRules::lastComponent(path)));
}

std::variant<PinnedItem, RemovalError> pinForRemoval(const GuardedRemoval& removal) {
    const auto verdict = removal.recheck();
    if (const auto* reason = verdict.blockedReason()) return RemovalError::blocked(*reason);
    const std::string& path = removal.path();
    PinnedItem item;
    item.name = PathRules::lastComponent(path);
    const int fd =
        ::open(std::string(PathRules::parentOf(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return RemovalError::fromErrno(errno == ENOTDIR ? ENOENT : errno);
    item.parent = std::make_shared<UniqueFd>(fd);
    item.realParent = pathOfDescriptor(fd);
    if (item.realParent.empty()) return RemovalError::fromErrno(ENOENT);
    const auto real = removal.recheckAt(PathRules::join(item.realParent, item.name));
    if (const auto* reason = real.blockedReason()) return RemovalError::blocked(*reason);
    if (fstatat(fd, item.name.c_str(), &item.status, AT_SYMLINK_NOFOLLOW) != 0)
        return RemovalError::fromErrno(errno);
    if (S_ISDIR(item.status.st_mode) && isMountRootAt(fd, item.name))
        return RemovalError::blocked("A whole volume can't be moved to the Trash");
    // Moving a folder takes the mounts inside it along, and deleting cannot enter them.
    if (S_ISDIR(item.status.st_mode))
        if (auto mount = mountBelow(PathRules::join(item.realParent, item.name)))
            return RemovalError::blocked("Holds a mounted volume at " + *mount +
                                         " — unmount it first");
    return item;
}

RemovalOrder removalOrder(const std::vector<GuardedRemoval>& removals) {
    RemovalOrder result;
    result.firstOf.resize(removals.size());
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < removals.size(); ++i) {
        const auto [it, inserted] = seen.emplace(removals[i].path(), i);
        result.firstOf[i] = it->second;
        if (inserted) result.order.push_back(i);
    }
    const auto depth = [&](size_t i) {
        const auto& p = removals[i].path();
        return std::count(p.begin(), p.end(), '/');
    };
    std::stable_sort(result.order.begin(), result.order.end(),
                     [&](size_t a, size_t b) { return depth(a) > depth(b); });
    return result;
}

}  // namespace detail
}  // namespace quenwick
