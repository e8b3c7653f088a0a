#include "Shoreline/RunningApps.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

namespace shoreline::RunningApps {
namespace {

std::string readLink(const std::string& path) {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

// The value of FLATPAK_ID in a process's environment: the sandbox sets it for every process of
// a Flatpak app.
std::string flatpakId(const std::string& procDir) {
    std::ifstream in(procDir + "/environ", std::ios::binary);
    const std::string env((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::string_view kKey = "FLATPAK_ID=";
    for (size_t at = 0; at < env.size();) {
        size_t end = env.find('\0', at);
        if (end == std::string::npos) end = env.size();
        const std::string_view var(env.data() + at, end - at);
        if (var.starts_with(kKey) && var.size() > kKey.size())
            return std::string(var.substr(kKey.size()));
        at = end + 1;
    }
    return {};
}

}  // namespace

std::set<std::string> identifiers() {
    std::set<std::string> names;
    const uid_t uid = getuid();
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) return names;
    while (const dirent* entry = readdir(proc.get())) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string dir = "/proc/" + pid;
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || st.st_uid != uid) continue;
        std::string exe = readLink(dir + "/exe");
        constexpr std::string_view kDeleted = " (deleted)";
        if (exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
        if (const auto slash = exe.rfind('/'); slash != std::string::npos && slash + 1 < exe.size())
            names.insert(exe.substr(slash + 1));
        if (auto id = flatpakId(dir); !id.empty()) names.insert(std::move(id));
    }
    return names;
}

}  // namespace shoreline::RunningApps
