#include "QuenwickCore/BoundedJson.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "QuenwickCore/UniqueFd.h"

namespace quenwick::boundedJson {

std::variant<std::string, ReadFailure> readFileAt(int dirFd, const char* name, size_t maxBytes) {
    const UniqueFd owned(openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!owned) return errno == ENOENT ? ReadFailure::missing : ReadFailure::unreadable;
    const int fd = owned.get();
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return ReadFailure::unreadable;
    if (static_cast<uint64_t>(st.st_size) > maxBytes) return ReadFailure::tooLarge;
    // One byte more than the cap is asked for, so a file that grew meanwhile is noticed.
    std::string data(static_cast<size_t>(st.st_size) + 1, '\0');
    size_t filled = 0;
    while (filled < data.size()) {
        const ssize_t n = read(fd, data.data() + filled, data.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadFailure::unreadable;
        if (n == 0) break;
        filled += static_cast<size_t>(n);
        if (filled > maxBytes) return ReadFailure::tooLarge;
        if (filled == data.size()) data.resize(std::min(data.size() * 2, maxBytes + 1));
    }
    data.resize(filled);
    return data;
}

std::variant<std::string, ReadFailure> readFile(const std::string& path, size_t maxBytes) {
    return readFileAt(AT_FDCWD, path.c_str(), maxBytes);
}

bool withinDepth(std::string_view text, size_t maxDepth) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

std::optional<nlohmann::json> parse(std::string_view text, size_t maxDepth) {
    if (!withinDepth(text, maxDepth)) return std::nullopt;
    auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return std::nullopt;
    return json;
}

}  // namespace quenwick::boundedJson
