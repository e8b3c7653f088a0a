#include "DesktopModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "CliSupport.h"
#include "CommandRegistry.h"

namespace brimvale::cli {
namespace {

struct Loaded {
    void* handle = nullptr;
    std::string error;
};

// The module's path: beside the program's own file (a build folder), else in the private
// library folder of an installed layout (/usr/bin/brimvale-cli, /usr/lib/brimvale/).
std::string modulePath() {
    constexpr const char* name = "brimvale-cli-desktop.so";
    std::string self(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n <= 0) return name;
    self.resize(size_t(n));
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    const std::string beside = folder + name;
    if (access(beside.c_str(), F_OK) == 0) return beside;
    const std::string installed = folder + "../lib/brimvale/" + name;
    if (access(installed.c_str(), F_OK) == 0) return installed;
    return beside;
}

const Loaded& loaded() {
    static const Loaded once = [] {
        Loaded l;
        const std::string path = modulePath();
        // Never unloaded: its verbs and hooks stay registered for the life of the process.
        l.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (l.handle == nullptr) {
            const char* why = dlerror();
            l.error = why != nullptr ? why : "cannot load " + path;
        }
        return l;
    }();
    return once;
}

}  // namespace

DesktopHooks& desktopHooks() {
    static DesktopHooks hooks;
    return hooks;
}

int loadDesktopModule(std::string_view needer) {
    if (tryLoadDesktopModule()) return kExitOk;
    return fail(std::string(needer) +
                " needs brimvale-cli-desktop.so beside brimvale-cli: " + loaded().error);
}

bool tryLoadDesktopModule() {
    return loaded().handle != nullptr;
}

}  // namespace brimvale::cli
