#include "QuenwickCore/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace quenwick::userFolders {
namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return withoutTrailingSlashes(value);
}

std::string xdgOrDefault(const char* variable, const char* underHome) {
    auto path = absoluteVariable(variable);
    if (!path.empty()) return path;
    const auto base = home();
    return (base == "/" ? "" : base) + underHome;
}

}  // namespace

std::string home() {
    auto path = absoluteVariable("HOME");
    if (!path.empty()) return path;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return withoutTrailingSlashes(found->pw_dir);
    }
    return "/";
}

std::string dataHome() {
    return xdgOrDefault("XDG_DATA_HOME", "/.local/share");
}

std::string cacheHome() {
    return xdgOrDefault("XDG_CACHE_HOME", "/.cache");
}

std::string configHome() {
    return xdgOrDefault("XDG_CONFIG_HOME", "/.config");
}

std::map<std::string, std::string> userDirs(const std::string& configHome,
                                            const std::string& home) {
    // Lines read XDG_<NAME>_DIR="$HOME/..." or an absolute path.
    std::map<std::string, std::string> dirs;
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("XDG_", 0) != 0) continue;
        const auto eq = line.find("_DIR=\"");
        if (eq == std::string::npos) continue;
        const auto start = eq + 6;
        const auto end = line.rfind('"');
        if (end == std::string::npos || end < start) continue;
        std::string value = line.substr(start, end - start);
        if (value == "$HOME") {
            value = home;
        } else if (value.rfind("$HOME/", 0) == 0) {
            value = home + value.substr(5);
        }
        if (!value.empty() && value.front() == '/') dirs[line.substr(4, eq - 4)] = value;
    }
    return dirs;
}

}  // namespace quenwick::userFolders
