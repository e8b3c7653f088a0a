#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "JournalFormat.h"
#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/ChangeJournal.h"

namespace quenwick {

using namespace journal;

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
    (void)createPrivateFolders(directory);
    const std::string lockPath = directory + "/" + std::string(lockFileName);
    UniqueFd fd(
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!fd) return OpenError{OpenError::Kind::cannotCreate, errno, 0};
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return OpenError{OpenError::Kind::cannotCreate, EINVAL, 0};
    }
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
    if (!startSegment(JournalRecord::Kind::start)) {
        next_ += 2;
        return false;
    }
    ++next_;
    return true;
}

bool ChangeJournal::Writer::startSegment(JournalRecord::Kind kind) {
    JournalRecord head;
    head.position = next_;
    head.kind = kind;
    head.session = session_;
    head.roots = roots_;
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
        if (!startSegment(JournalRecord::Kind::session)) {
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
            if (!startSegment(JournalRecord::Kind::session)) {
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
