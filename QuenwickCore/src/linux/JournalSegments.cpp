#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "JournalFormat.h"
#include "QuenwickCore/UniqueFd.h"

namespace quenwick::journal {

bool readWholeFile(const std::string& path, std::string& out) {
    // Non-blocking, so that a FIFO or a device under a journal name cannot hold the reader in
    // open(); it is then refused as not a regular file.
    const UniqueFd fd(openJournalFile(path));
    if (!fd) return false;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
        return false;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = read(fd.get(), out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    // A file that grew meanwhile is read up to its size at fstat; one that shrank is cut.
    out.resize(done);
    return true;
}

int openJournalFile(const std::string& path) {
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
}

bool parseHex16(std::string_view text, uint64_t& value) {
    if (text.size() != 16) return false;
    value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    return true;
}

std::string segmentName(uint64_t first) {
    char name[64];
    std::snprintf(name, sizeof name, "segment-%016" PRIx64 ".qwj", first);
    return name;
}

std::vector<Segment> listSegments(const std::string& directory) {
    std::vector<Segment> segments;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return segments;
    while (const dirent* e = readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name.size() != 8 + 16 + 4 || !name.starts_with("segment-") || !name.ends_with(".qwj")) {
            continue;
        }
        uint64_t first = 0;
        if (parseHex16(name.substr(8, 16), first)) segments.push_back({first, std::string(name)});
    }
    closedir(dir);
    std::sort(segments.begin(), segments.end(),
              [](const Segment& a, const Segment& b) { return a.first < b.first; });
    return segments;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

uint64_t nowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace quenwick::journal
