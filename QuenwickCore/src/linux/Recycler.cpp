#include "QuenwickCore/Recycler.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <variant>

#include "GuardPolicy.h"
#include "PercentEncoding.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/UserFolders.h"
#include "RemovalTarget.h"

namespace quenwick {

using detail::PinnedItem;

namespace {

constexpr size_t kNameMax = 255;
constexpr std::string_view kInfoSuffix = ".trashinfo";

struct Trash {
    std::string path;    // the Trash folder as reported to the caller
    std::string topdir;  // the volume's top folder; empty for the home Trash (absolute paths)
    UniqueFd files;
    UniqueFd info;
};

using TrashOrError = std::variant<Trash, RemovalError>;

// Creates name in dirFd if missing and opens it as a folder.
int openOrMakeFolder(int dirFd, const char* name, bool followLink) {
    if (mkdirat(dirFd, name, 0700) != 0 && errno != EEXIST) return -1;
    return openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
}

// A per-user Trash on a shared volume must be a real folder of this user, not a link.
bool ownedFolder(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

TrashOrError openFilesAndInfo(int trashFd, std::string path, std::string topdir, bool followLinks) {
    Trash trash{std::move(path), std::move(topdir), {}, {}};
    trash.files = UniqueFd(openOrMakeFolder(trashFd, "files", followLinks));
    if (!trash.files.valid()) return RemovalError::fromErrno(errno);
    trash.info = UniqueFd(openOrMakeFolder(trashFd, "info", followLinks));
    if (!trash.info.valid()) return RemovalError::fromErrno(errno);
    return trash;
}

// $XDG_DATA_HOME/Trash. Links to it or inside it are the user's own arrangement and are followed.
TrashOrError homeTrash() {
    const std::string dataHome = userFolders::dataHome();
    std::error_code ec;
    std::filesystem::create_directories(dataHome, ec);
    const int dataFd = open(dataHome.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dataFd < 0) return RemovalError::fromErrno(errno);
    UniqueFd data(dataFd);
    UniqueFd trash(openOrMakeFolder(dataFd, "Trash", true));
    if (!trash.valid()) return RemovalError::fromErrno(errno);
    return openFilesAndInfo(trash.get(), PathRules::join(dataHome, "Trash"), {}, true);
}

// The top folder of the file system holding the real folder path.
std::string topFolderOf(std::string path) {
    while (path != "/" && !detail::isMountPoint(path))
        path = std::string(PathRules::parentOf(path));
    return path;
}

// $topdir/.Trash/$uid when an administrator prepared $topdir/.Trash (a sticky folder, not a
// link), otherwise $topdir/.Trash-$uid.
TrashOrError volumeTrash(const std::string& topdir) {
    const int topFd = open(topdir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (topFd < 0) return RemovalError::fromErrno(errno);
    UniqueFd top(topFd);
    const std::string uid = std::to_string(getuid());
    struct stat st;
    if (fstatat(topFd, ".Trash", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_ISVTX)) {
        UniqueFd shared(openat(topFd, ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (shared.valid()) {
            UniqueFd mine(openOrMakeFolder(shared.get(), uid.c_str(), false));
            if (mine.valid() && ownedFolder(mine.get())) {
                auto trash = openFilesAndInfo(mine.get(), PathRules::join(topdir, ".Trash/" + uid),
                                              topdir, false);
                if (std::holds_alternative<Trash>(trash)) return trash;
            }
        }
    }
    const std::string name = ".Trash-" + uid;
    UniqueFd mine(openOrMakeFolder(topFd, name.c_str(), false));
    if (!mine.valid()) return RemovalError::fromErrno(errno);
    if (!ownedFolder(mine.get())) return RemovalError::fromErrno(EACCES);
    return openFilesAndInfo(mine.get(), PathRules::join(topdir, name), topdir, false);
}

TrashOrError trashFor(const PinnedItem& item) {
    auto home = homeTrash();
    if (auto* trash = std::get_if<Trash>(&home)) {
        struct stat st;
        if (fstat(trash->files.get(), &st) == 0 && st.st_dev == item.status.st_dev) return home;
    } else {
        // Items on the home's file system belong in the home Trash and nowhere else.
        struct stat st;
        if (stat(userFolders::dataHome().c_str(), &st) != 0 || st.st_dev == item.status.st_dev)
            return home;
    }
    auto other = volumeTrash(topFolderOf(item.realParent));
    if (auto* trash = std::get_if<Trash>(&other)) {
        struct stat st;
        if (fstat(trash->files.get(), &st) != 0 || st.st_dev != item.status.st_dev)
            return RemovalError::failed(EXDEV, "There is no Trash on this item's volume");
    }
    return other;
}

// "name", then "name.2.ext", "name.3.ext", ...; short enough for its record's name.
std::string candidateName(const std::string& name, int attempt) {
    const size_t room = kNameMax - kInfoSuffix.size();
    if (attempt == 1 && name.size() <= room) return name;
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= 16;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const std::string counter = attempt == 1 ? std::string() : "." + std::to_string(attempt);
    const size_t keep = room - counter.size() - extension.size();
    if (stem.size() > keep) stem.resize(keep);
    return stem + counter + extension;
}

std::string deletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    return buffer;
}

std::string randomSuffix() {
    unsigned char bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const auto t = static_cast<unsigned long>(std::time(nullptr)) ^ getpid();
        for (auto& b : bytes)
            b = static_cast<unsigned char>(t >> (&b - bytes));
    }
    std::string out;
    for (unsigned char b : bytes)
        out += "0123456789abcdef"[b & 0xF];
    return out;
}

// Moves from (dirFd, name) to (toFd, toName) unless something already has that name.
int renameNoReplace(int fromFd, const char* from, int toFd, const char* to) {
    if (renameat2(fromFd, from, toFd, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    struct stat st;
    if (fstatat(toFd, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    return renameat(fromFd, from, toFd, to) == 0 ? 0 : errno;
}

// Writes the record to a temporary file and moves it to its name only if the name is free, so a
// record is never half written and never replaces another item's record.
class InfoFile {
public:
    InfoFile(int infoFd, std::string contents) : infoFd_(infoFd) {
        tempName_ = ".brimvale-" + randomSuffix() + ".tmp";
        const int fd = openat(infoFd, tempName_.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error_ = errno;
            tempName_.clear();
            return;
        }
        UniqueFd out(fd);
        size_t done = 0;
        while (done < contents.size()) {
            const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : ENOSPC;
                return;
            }
            done += static_cast<size_t>(n);
        }
        if (fsync(fd) != 0) error_ = errno;
    }
    ~InfoFile() {
        if (!tempName_.empty()) unlinkat(infoFd_, tempName_.c_str(), 0);
    }
    InfoFile(const InfoFile&) = delete;
    InfoFile& operator=(const InfoFile&) = delete;

    int error() const { return error_; }

    // 0, EEXIST when the name is taken, or another errno.
    int claim(const std::string& name) {
        const int result = renameNoReplace(infoFd_, tempName_.c_str(), infoFd_, name.c_str());
        if (result == 0) tempName_.clear();
        return result;
    }

private:
    int infoFd_;
    std::string tempName_;
    int error_ = 0;
};

RecycleOutcome recycleOne(const GuardedRemoval& removal) {
    RecycleOutcome outcome{removal.path(), std::nullopt, std::nullopt};
    auto pinned = detail::pinForRemoval(removal);
    if (auto* error = std::get_if<RemovalError>(&pinned)) {
        outcome.error = std::move(*error);
        return outcome;
    }
    const auto& item = std::get<PinnedItem>(pinned);
    auto trashOrError = trashFor(item);
    if (auto* error = std::get_if<RemovalError>(&trashOrError)) {
        outcome.error = std::move(*error);
        return outcome;
    }
    const auto& trash = std::get<Trash>(trashOrError);

    const std::string realPath = PathRules::join(item.realParent, item.name);
    std::string recorded = realPath;
    if (!trash.topdir.empty())
        recorded =
            trash.topdir == "/" ? realPath.substr(1) : realPath.substr(trash.topdir.size() + 1);
    const std::string record = "[Trash Info]\nPath=" + detail::percentEncode(recorded) +
                               "\nDeletionDate=" + deletionDate() + "\n";
    for (int attempt = 1; attempt <= 10000; ++attempt) {
        const std::string name = candidateName(item.name, attempt);
        const std::string infoName = name + std::string(kInfoSuffix);
        InfoFile info(trash.info.get(), record);
        if (info.error() != 0) {
            outcome.error = RemovalError::fromErrno(info.error());
            return outcome;
        }
        const int claimed = info.claim(infoName);
        if (claimed == EEXIST) continue;
        if (claimed != 0) {
            outcome.error = RemovalError::fromErrno(claimed);
            return outcome;
        }
        const int moved =
            renameNoReplace(item.parent->get(), item.name.c_str(), trash.files.get(), name.c_str());
        if (moved == 0) {
            outcome.trashed = trash.path + "/files/" + name;
            return outcome;
        }
        unlinkat(trash.info.get(), infoName.c_str(), 0);
        // A stray item in files/ without a record takes the name: try the next one.
        if (moved == EEXIST) continue;
        outcome.error = moved == EXDEV
                            ? RemovalError::failed(EXDEV, "There is no Trash on this item's volume")
                            : RemovalError::fromErrno(moved);
        return outcome;
    }
    outcome.error = RemovalError::fromErrno(EEXIST);
    return outcome;
}

}  // namespace

std::vector<RecycleOutcome> Recycler::recycle(const std::vector<GuardedRemoval>& removals) {
    std::vector<RecycleOutcome> outcomes(removals.size());
    const auto order = detail::removalOrder(removals);
    for (size_t index : order.order)
        outcomes[index] = recycleOne(removals[index]);
    for (size_t i = 0; i < removals.size(); ++i)
        if (order.firstOf[i] != i) outcomes[i] = outcomes[order.firstOf[i]];
    return outcomes;
}

}  // namespace quenwick
