#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "GuardPolicy.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/UserFolders.h"

namespace quenwick {
namespace detail {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::optional<std::string> readLink(const std::string& path) {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The executables and AppImages of the current user's processes, normalised.
std::set<std::string> runningPrograms() {
    std::set<std::string> programs;
    const uid_t uid = getuid();
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) return programs;
    while (const dirent* entry = readdir(proc.get())) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string base = "/proc/" + pid;
        struct stat st;
        if (stat(base.c_str(), &st) != 0 || st.st_uid != uid) continue;
        if (auto exe = readLink(base + "/exe")) {
            // A program whose file was replaced or deleted no longer has a path to protect.
            constexpr std::string_view kDeleted = " (deleted)";
            const bool deleted =
                exe->size() > kDeleted.size() &&
                exe->compare(exe->size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0;
            if (!deleted && exe->front() == '/') programs.insert(DeletionGuard::normalise(*exe));
        }
        // An AppImage runs from a FUSE mount; the file the user sees is named in its environment.
        const std::string env = readWhole(base + "/environ");
        for (size_t at = 0; at < env.size();) {
            const size_t end = env.find('\0', at);
            const std::string_view var(env.data() + at,
                                       (end == std::string::npos ? env.size() : end) - at);
            if (var.substr(0, 9) == "APPIMAGE=" && var.size() > 10 && var[9] == '/')
                programs.insert(DeletionGuard::normalise(var.substr(9)));
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    return programs;
}

// Every home folder of the password database and every folder directly in /home.
std::vector<std::string> allHomes() {
    std::set<std::string> homes;
    setpwent();
    while (const passwd* entry = getpwent()) {
        if (entry->pw_dir != nullptr && entry->pw_dir[0] == '/' &&
            std::string_view(entry->pw_dir) != "/")
            homes.insert(DeletionGuard::normalise(entry->pw_dir));
    }
    endpwent();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/home"), closedir);
    while (dir) {
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = "/home/" + name;
        if (isDirectory(path)) homes.insert(path);
    }
    return {homes.begin(), homes.end()};
}

}  // namespace

std::optional<std::string> resolveDotDot(std::string_view path) {
    std::string out;  // empty for "/"
    for (auto piece : splitPath(path)) {
        if (piece == ".") continue;
        if (piece != "..") {
            out += '/';
            out += piece;
            continue;
        }
        if (out.empty()) continue;
        struct stat st;
        if (lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            auto real = PathRules::realPath(out);
            if (!real) return std::nullopt;
            out = *real == "/" ? std::string() : *real;
        }
        out.erase(std::min(out.size(), out.rfind('/')));
    }
    return out.empty() ? std::string("/") : out;
}

void GuardPolicy::rememberIdentity(const std::string& path) {
    struct stat st;
    if (path == "/" || stat(path.c_str(), &st) != 0) return;
    identities_.emplace(std::make_pair(st.st_dev, st.st_ino), path);
}

std::optional<std::string> GuardPolicy::sameAsProtected(const std::string& p) const {
    if (identities_.empty()) return std::nullopt;
    const auto find = [&](const struct stat& st) -> const std::string* {
        const auto it = identities_.find({st.st_dev, st.st_ino});
        return it == identities_.end() ? nullptr : &it->second;
    };
    struct stat st;
    // The target itself is what it is, link or not; the folders above it are followed.
    if (lstat(p.c_str(), &st) == 0)
        if (const auto* location = find(st)) return *location;
    for (std::string folder(PathRules::parentOf(p)); folder != "/";
         folder = std::string(PathRules::parentOf(folder))) {
        if (stat(folder.c_str(), &st) != 0) continue;
        if (const auto* location = find(st)) return *location + p.substr(folder.size());
    }
    return std::nullopt;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace detail

DeletionGuard::UserFolders DeletionGuard::UserFolders::current(const std::string& home) {
    UserFolders folders = defaultsFor(home);
    folders.dataHome = normalise(userFolders::dataHome());
    folders.configHome = normalise(userFolders::configHome());
    folders.cacheHome = normalise(userFolders::cacheHome());
    for (const auto& [key, dir] : userFolders::userDirs(folders.configHome, home))
        folders.userDirs.push_back(normalise(dir));
    if (geteuid() == 0) {
        for (auto& other : detail::allHomes())
            if (other != home) folders.otherHomes.push_back(std::move(other));
    }
    return folders;
}

DeletionGuard DeletionGuard::live() {
    const std::string home = normalise(userFolders::home());
    std::string bundle = detail::environment("APPIMAGE");
    if (bundle.empty() || bundle.front() != '/')
        bundle = detail::readLink("/proc/self/exe").value_or(std::string());
    auto running = std::make_shared<const std::set<std::string>>(detail::runningPrograms());
    return DeletionGuard(
        home, bundle, [running](const std::string& path) { return running->count(path) != 0; },
        UserFolders::current(home));
}

}  // namespace quenwick
