#include "QuenwickCore/ChangeJournal.h"

#include <dirent.h>
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
#include <cstring>
#include <filesystem>

#include "Crc32c.h"
#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/LittleEndian.h"
#include "QuenwickCore/UserFolders.h"

namespace quenwick {
namespace {

constexpr uint32_t kRecordMarker = 0x524A5751;  // "QWJR"
constexpr uint32_t kStateMarker = 0x534A5751;   // "QWJS"
constexpr uint32_t kStateVersion = 1;
constexpr size_t kRecordHeader = 20;
constexpr size_t kRecordOverhead = kRecordHeader + 4;
constexpr uint32_t kMaxPayload = 1u << 20;
// Nothing the recorder writes comes near this; a bigger file is not ours to read whole.
constexpr uint64_t kMaxFileBytes = 256ull << 20;

namespace LE = LittleEndian;

bool isKind(uint8_t kind) {
    return kind >= static_cast<uint8_t>(JournalRecord::Kind::start) &&
           kind <= static_cast<uint8_t>(JournalRecord::Kind::stop);
}

bool isAbsolutePath(std::string_view path) {
    return !path.empty() && path[0] == '/' && path.find('\0') == std::string_view::npos;
}

void encodeRecord(std::string& out, const JournalRecord& r) {
    std::string payload;
    switch (r.kind) {
        case JournalRecord::Kind::start:
        case JournalRecord::Kind::session:
            LE::append<uint64_t>(payload, r.session);
            for (size_t i = 0; i < r.roots.size(); ++i) {
                if (i > 0) payload.push_back('\0');
                payload += r.roots[i];
            }
            break;
        case JournalRecord::Kind::changed:
        case JournalRecord::Kind::gap:
            payload = r.path;
            break;
        case JournalRecord::Kind::stop:
            break;
    }
    const size_t begin = out.size();
    LE::append<uint32_t>(out, kRecordMarker);
    LE::append<uint32_t>(out, static_cast<uint32_t>(payload.size()));
    LE::append<uint64_t>(out, r.position);
    LE::append<uint8_t>(out, static_cast<uint8_t>(r.kind));
    LE::append<uint8_t>(out, static_cast<uint8_t>(r.reason));
    LE::append<uint16_t>(out, 0);
    out += payload;
    LE::append<uint32_t>(out, detail::crc32c(out.data() + begin, out.size() - begin));
}

// The record at data[offset], when every check passes.
std::optional<JournalRecord> decodeRecord(std::string_view data, size_t offset, size_t& length) {
    if (data.size() - offset < kRecordOverhead) return std::nullopt;
    const char* p = data.data() + offset;
    if (LE::load<uint32_t>(p) != kRecordMarker) return std::nullopt;
    const uint32_t payloadSize = LE::load<uint32_t>(p + 4);
    if (payloadSize > kMaxPayload || data.size() - offset - kRecordOverhead < payloadSize) {
        return std::nullopt;
    }
    const uint8_t kind = LE::load<uint8_t>(p + 16);
    const uint8_t reason = LE::load<uint8_t>(p + 17);
    if (!isKind(kind) || reason > static_cast<uint8_t>(JournalRecord::Gap::cannotRecord) ||
        LE::load<uint16_t>(p + 18) != 0) {
        return std::nullopt;
    }
    if (LE::load<uint32_t>(p + kRecordHeader + payloadSize) !=
        detail::crc32c(p, kRecordHeader + payloadSize)) {
        return std::nullopt;
    }
    JournalRecord r;
    r.position = LE::load<uint64_t>(p + 8);
    r.kind = static_cast<JournalRecord::Kind>(kind);
    r.reason = static_cast<JournalRecord::Gap>(reason);
    const std::string_view payload(p + kRecordHeader, payloadSize);
    switch (r.kind) {
        case JournalRecord::Kind::start:
        case JournalRecord::Kind::session: {
            if (payload.size() < 8) return std::nullopt;
            r.session = LE::load<uint64_t>(payload.data());
            std::string_view rest = payload.substr(8);
            while (!rest.empty()) {
                const size_t end = std::min(rest.find('\0'), rest.size());
                if (!isAbsolutePath(rest.substr(0, end))) return std::nullopt;
                r.roots.emplace_back(rest.substr(0, end));
                rest.remove_prefix(std::min(end + 1, rest.size()));
            }
            break;
        }
        case JournalRecord::Kind::changed:
            if (!isAbsolutePath(payload)) return std::nullopt;
            r.path = payload;
            break;
        case JournalRecord::Kind::gap:
            if (!payload.empty() && !isAbsolutePath(payload)) return std::nullopt;
            r.path = payload;
            break;
        case JournalRecord::Kind::stop:
            if (!payload.empty()) return std::nullopt;
            break;
    }
    length = kRecordOverhead + payloadSize;
    return r;
}

// Every valid record of a segment in file order; damaged stretches are skipped by looking for
// the next marker.
template <typename Visit>
void parseSegment(std::string_view data, Visit&& visit) {
    static constexpr char kMarker[4] = {'Q', 'W', 'J', 'R'};
    size_t offset = 0;
    while (offset < data.size()) {
        size_t length = 0;
        if (auto record = decodeRecord(data, offset, length)) {
            visit(*record);
            offset += length;
            continue;
        }
        const auto next = data.find(std::string_view(kMarker, 4), offset + 1);
        if (next == std::string_view::npos) break;
        offset = next;
    }
}

bool readWholeFile(const std::string& path, std::string& out) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
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

// Exactly 16 lower-case hexadecimal digits.
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

struct Segment {
    uint64_t first;
    std::string name;
};

std::string segmentName(uint64_t first) {
    char name[64];
    std::snprintf(name, sizeof name, "segment-%016" PRIx64 ".qwj", first);
    return name;
}

// The segment files in the folder, ordered by the first position their names claim.
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

uint64_t nowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

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

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void putStrings(std::string& out, const std::vector<std::string>& list) {
    LE::append<uint32_t>(out, static_cast<uint32_t>(list.size()));
    for (const auto& s : list) {
        LE::append<uint32_t>(out, static_cast<uint32_t>(s.size()));
        out += s;
    }
}

// The state's values, with its length-prefixed strings and lists of absolute paths.
class StateReader : public LE::Reader {
public:
    using LE::Reader::read;
    using LE::Reader::Reader;
    bool read(std::string& s) {
        uint32_t n = 0;
        return read(n) && readBytes(s, n);
    }
    bool read(std::vector<std::string>& list) {
        uint32_t n = 0;
        if (!read(n) || n > remaining() / 4) return false;
        list.resize(n);
        for (auto& s : list)
            if (!read(s) || !isAbsolutePath(s)) return false;
        return true;
    }
};

std::string encodeState(const JournalState& s) {
    std::string payload;
    LE::append<uint32_t>(payload, kStateVersion);
    LE::append<int64_t>(payload, s.pid);
    LE::append<uint64_t>(payload, s.sessionStart);
    LE::append<uint64_t>(payload, s.watchedDirectories);
    LE::append<uint8_t>(payload, s.incomplete ? 1 : 0);
    LE::append<uint32_t>(payload, static_cast<uint32_t>(s.mode.size()));
    payload += s.mode;
    putStrings(payload, s.roots);
    putStrings(payload, s.lostRoots);
    putStrings(payload, s.unwatchable);
    std::string out;
    LE::append<uint32_t>(out, kStateMarker);
    LE::append<uint32_t>(out, static_cast<uint32_t>(payload.size()));
    out += payload;
    LE::append<uint32_t>(out, detail::crc32c(out.data(), out.size()));
    return out;
}

std::optional<JournalState> decodeState(std::string_view data) {
    if (data.size() < 12 || LE::load<uint32_t>(data.data()) != kStateMarker) return std::nullopt;
    const uint32_t size = LE::load<uint32_t>(data.data() + 4);
    if (data.size() - 12 != size) return std::nullopt;
    if (LE::load<uint32_t>(data.data() + 8 + size) != detail::crc32c(data.data(), 8 + size)) {
        return std::nullopt;
    }
    StateReader in(data.substr(8, size));
    JournalState s;
    uint32_t version = 0;
    uint8_t incomplete = 0;
    if (!in.read(version) || version != kStateVersion || !in.read(s.pid) ||
        !in.read(s.sessionStart) || !in.read(s.watchedDirectories) || !in.read(incomplete) ||
        !in.read(s.mode) || !in.read(s.roots) || !in.read(s.lostRoots) || !in.read(s.unwatchable) ||
        !in.atEnd()) {
        return std::nullopt;
    }
    s.incomplete = incomplete != 0;
    return s;
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
        parseSegment(data, [&](const JournalRecord& r) { last = r.position; });
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
        parseSegment(data, [&](JournalRecord& r) {
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
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
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

std::string ChangeJournal::Writer::OpenError::describe() const {
    if (kind == Kind::alreadyRunning) {
        return otherPid > 0
                   ? "another recorder is already running (pid " + std::to_string(otherPid) + ")"
                   : std::string("another recorder is already running");
    }
    return std::string("cannot open the change journal: ") + std::strerror(errnum);
}

std::variant<std::unique_ptr<ChangeJournal::Writer>, ChangeJournal::Writer::OpenError>
ChangeJournal::Writer::open(const std::string& directory, Limits limits) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const std::string lockPath = directory + "/" + std::string(lockFileName);
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return OpenError{OpenError::Kind::cannotCreate, errno, 0};
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
        const int err = errno;
        if (err == EAGAIN || err == EACCES) {
            const auto state = ChangeJournal(directory).readState();
            return OpenError{OpenError::Kind::alreadyRunning, err, state ? state->pid : 0};
        }
        return OpenError{OpenError::Kind::cannotCreate, err, 0};
    }
    limits.segments = std::max(limits.segments, 1);
    limits.segmentBytes = std::max<uint64_t>(limits.segmentBytes, 4096);
    return std::unique_ptr<Writer>(new Writer(directory, limits, std::move(fd)));
}

ChangeJournal::Writer::Writer(std::string directory, Limits limits, UniqueFd lock)
    : directory_(std::move(directory)), limits_(limits), lock_(std::move(lock)) {}

bool ChangeJournal::Writer::begin(const std::vector<std::string>& roots) {
    if (DIR* dir = opendir(directory_.c_str())) {
        std::vector<std::string> stale;
        while (const dirent* e = readdir(dir)) {
            const std::string_view name = e->d_name;
            // Requests, answers, and answers half written when a recorder stopped.
            if (name.starts_with(requestPrefix) ||
                (name.starts_with(".") && name.substr(1).starts_with(requestPrefix))) {
                stale.emplace_back(name);
            }
        }
        closedir(dir);
        for (const auto& name : stale)
            unlink((directory_ + "/" + name).c_str());
    }
    roots_ = roots;
    next_ = std::max({next_, ChangeJournal(directory_).lastPosition() + 1, nowMicros()});
    session_ = next_;
    JournalRecord head;
    head.position = next_;
    head.kind = JournalRecord::Kind::start;
    head.session = session_;
    head.roots = roots_;
    if (!startSegment(std::move(head))) {
        next_ += 2;
        return false;
    }
    ++next_;
    return true;
}

bool ChangeJournal::Writer::startSegment(JournalRecord head) {
    segment_.reset();
    segmentSize_ = 0;
    const std::string name = segmentName(head.position);
    const std::string temp = directory_ + "/." + name + ".tmp";
    unlink(temp.c_str());
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600));
    if (!fd) return false;
    std::string bytes;
    encodeRecord(bytes, head);
    // Renamed into place only once its first record is complete.
    if (!writeAll(fd.get(), bytes) ||
        rename(temp.c_str(), (directory_ + "/" + name).c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    segment_ = std::move(fd);
    segmentSize_ = bytes.size();
    dropOldSegments();
    return true;
}

void ChangeJournal::Writer::dropOldSegments() {
    auto segments = listSegments(directory_);
    const size_t keep = static_cast<size_t>(limits_.segments);
    for (size_t i = 0; i + keep < segments.size(); ++i)
        unlink((directory_ + "/" + segments[i].name).c_str());
}

bool ChangeJournal::Writer::append(std::vector<JournalRecord>& records) {
    if (records.empty()) return true;
    if (!segment_) {
        JournalRecord head;
        head.position = next_;
        head.kind = JournalRecord::Kind::session;
        head.session = session_;
        head.roots = roots_;
        if (!startSegment(std::move(head))) {
            next_ += records.size() + 2;
            return false;
        }
        ++next_;
    }
    std::string buffer;
    size_t failedFrom = records.size();
    for (size_t i = 0; i < records.size() && failedFrom == records.size(); ++i) {
        if (segmentSize_ + buffer.size() >= limits_.segmentBytes) {
            if (!writeAll(segment_.get(), buffer)) {
                failedFrom = i;
                break;
            }
            buffer.clear();
            JournalRecord head;
            head.position = next_;
            head.kind = JournalRecord::Kind::session;
            head.session = session_;
            head.roots = roots_;
            if (!startSegment(std::move(head))) {
                failedFrom = i;
                break;
            }
            ++next_;
        }
        records[i].position = next_++;
        encodeRecord(buffer, records[i]);
    }
    if (failedFrom == records.size()) {
        if (writeAll(segment_.get(), buffer)) {
            segmentSize_ += buffer.size();
            return true;
        }
        failedFrom = 0;
    }
    // Part of what was meant to be written may be on disk; skipping positions makes sure a
    // reader sees that something is missing rather than a seamless sequence.
    next_ += records.size() + 1;
    segment_.reset();
    return false;
}

bool ChangeJournal::Writer::appendChanged(std::span<const std::string> directories) {
    std::vector<JournalRecord> records;
    records.reserve(directories.size());
    for (const auto& d : directories) {
        // A path longer than a record may hold cannot be stored as it is.
        if (d.size() > kMaxPayload || !isAbsolutePath(d)) {
            JournalRecord gap;
            gap.kind = JournalRecord::Kind::gap;
            gap.reason = JournalRecord::Gap::cannotRecord;
            records.push_back(std::move(gap));
            continue;
        }
        JournalRecord r;
        r.kind = JournalRecord::Kind::changed;
        r.path = d;
        records.push_back(std::move(r));
    }
    return append(records);
}

bool ChangeJournal::Writer::appendGap(JournalRecord::Gap reason, std::string_view scope) {
    std::vector<JournalRecord> records(1);
    records[0].kind = JournalRecord::Kind::gap;
    records[0].reason = reason;
    if (scope.size() <= kMaxPayload && isAbsolutePath(scope)) records[0].path = scope;
    return append(records);
}

bool ChangeJournal::Writer::appendStop() {
    std::vector<JournalRecord> records(1);
    records[0].kind = JournalRecord::Kind::stop;
    return append(records);
}

bool ChangeJournal::Writer::publish(const JournalState& state) {
    std::string bytes = encodeState(state);
    if (writeFileAtomically(directory_ + "/" + std::string(stateFileName), bytes)) return false;
    published_ = std::move(bytes);
    return true;
}

bool ChangeJournal::Writer::statePublished() const {
    std::string bytes;
    return readWholeFile(directory_ + "/" + std::string(stateFileName), bytes) &&
           bytes == published_;
}

}  // namespace quenwick
