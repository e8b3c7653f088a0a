#include "QuenwickCore/ChangeJournal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "JournalFormat.h"
#include "QuenwickCore/UserFolders.h"

namespace quenwick {
namespace {

using namespace journal;

std::string uniqueRequestName() {
    static std::atomic<uint64_t> counter{0};
    uint64_t random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) random = nowMicros();
    char name[96];
    std::snprintf(name, sizeof name, "%.*s%d-%" PRIu64 "-%016" PRIx64,
                  static_cast<int>(ChangeJournal::requestPrefix.size()),
                  ChangeJournal::requestPrefix.data(), static_cast<int>(getpid()),
                  counter.fetch_add(1), random);
    return name;
}

bool createEmptyFile(const std::string& path) {
    return UniqueFd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)).valid();
}

}  // namespace

ChangeJournal::ChangeJournal(std::string directory) : directory_(std::move(directory)) {}

std::string ChangeJournal::defaultDirectory() {
    return userFolders::dataHome() + "/Brimvale/Journal";
}

uint64_t ChangeJournal::lastPosition() const {
    const auto segments = listSegments(directory_);
    std::string data;
    for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
        if (!readWholeFile(directory_ + "/" + it->name, data)) continue;
        uint64_t last = 0;
        forEachRecord(data, [&](const JournalRecord& r) { last = r.position; });
        if (last != 0) return last;
    }
    return 0;
}

ChangeJournal::Replay ChangeJournal::readSince(uint64_t since) const {
    Replay replay;
    const auto segments = listSegments(directory_);
    // Start at the newest segment that claims to begin at or before `since`; if its name lies,
    // the record at `since` is not found and the replay is incomplete, which is safe.
    size_t first = 0;
    for (size_t i = 0; i < segments.size(); ++i)
        if (segments[i].first <= since) first = i;

    bool found = false;
    bool broken = false;
    uint64_t expected = 0;
    std::string data;
    for (size_t i = first; i < segments.size(); ++i) {
        if (!readWholeFile(directory_ + "/" + segments[i].name, data)) continue;
        forEachRecord(data, [&](JournalRecord& r) {
            replay.last = r.position;
            if (r.position < since) return;
            if (r.position == since) {
                found = true;
                expected = since + 1;
                return;
            }
            if (!found || r.position != expected) broken = true;
            expected = r.position + 1;
            if (!broken) replay.records.push_back(std::move(r));
        });
    }
    replay.complete = found && !broken;
    if (!replay.complete) replay.records.clear();
    return replay;
}

std::optional<JournalState> ChangeJournal::readState() const {
    std::string data;
    if (!readWholeFile(directory_ + "/" + std::string(stateFileName), data)) return std::nullopt;
    return decodeState(data);
}

bool ChangeJournal::recorderRunning() const {
    const std::string path = directory_ + "/" + std::string(lockFileName);
    const UniqueFd fd(openJournalFile(path));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    struct flock probe {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    return fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

std::optional<uint64_t> ChangeJournal::synchronize(
    std::chrono::steady_clock::time_point deadline) const {
    if (!recorderRunning()) return std::nullopt;
    const UniqueFd watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!watch) return std::nullopt;
    // Watch first, so the recorder's answer cannot slip by before we look.
    if (inotify_add_watch(watch.get(), directory_.c_str(), IN_MOVED_TO | IN_ONLYDIR) < 0) {
        return std::nullopt;
    }
    const std::string name = uniqueRequestName();
    const std::string path = directory_ + "/" + name;
    const std::string done = path + std::string(doneSuffix);
    const std::string failed = path + std::string(failedSuffix);
    if (!createEmptyFile(path)) return std::nullopt;
    enum class Answer { none, done, failed } answer = Answer::none;
    alignas(inotify_event) char buffer[4096];
    while (answer == Answer::none) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        // Wake at least every 100 ms to notice a recorder that died meanwhile.
        const auto slice = std::min<std::chrono::steady_clock::duration>(
            deadline - now, std::chrono::milliseconds(100));
        pollfd pfd{watch.get(), POLLIN, 0};
        const int ready = poll(
            &pfd, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
        if (ready == 0) {
            if (!recorderRunning()) break;
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (;;) {
            const ssize_t n = read(watch.get(), buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t pos = 0; pos < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + pos);
                pos += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->len == 0) continue;
                const std::string_view answered(ev->name);
                if (answered == name + std::string(doneSuffix)) answer = Answer::done;
                if (answered == name + std::string(failedSuffix)) answer = Answer::failed;
            }
        }
    }
    std::optional<uint64_t> position;
    if (answer == Answer::done) {
        std::string text;
        uint64_t value = 0;
        if (readWholeFile(done, text) && parseHex16(text, value)) position = value;
    }
    unlink(path.c_str());
    unlink(done.c_str());
    unlink(failed.c_str());
    return position;
}

}  // namespace quenwick
