#include "QuenwickCore/FullDiskAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quenwick::FullDiskAccess {

std::vector<std::string> probes(const std::string& home) {
    return {
        "/Library/Application Support/com.apple.TCC/TCC.db",
        home + "/Library/Application Support/com.apple.TCC/TCC.db",
        home + "/Library/Safari",
        home + "/Library/Mail",
        home + "/Library/Messages",
        home + "/Library/Cookies",
        home + "/Library/Containers/com.apple.stocks",
    };
}

int32_t tryOpen(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    close(fd);
    return 0;
}

Status status(const std::vector<std::string>& paths,
              const std::function<int32_t(const std::string&)>& open) {
    Status answer = Status::unknown;
    for (const auto& path : paths) {
        const int32_t code = open(path);
        if (code == 0) return Status::granted;
        if (code == EPERM || code == EACCES) answer = Status::denied;
    }
    return answer;
}

Status current() {
    const char* home = std::getenv("HOME");
    return status(probes(home ? home : ""), tryOpen);
}

}  // namespace quenwick::FullDiskAccess
