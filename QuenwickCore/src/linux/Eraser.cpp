#include "QuenwickCore/Eraser.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "GuardPolicy.h"
#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/UserFolders.h"
#include "RemovalTarget.h"
#include "TreeRemoval.h"

namespace quenwick {

using detail::PinnedItem;

struct Eraser::Task {
    std::shared_ptr<UniqueFd> folder;  // the staging folder, or the item's own folder
    std::string name;
    std::optional<GuardedRemoval> inPlace;  // set when the item is deleted where it is
    std::string url;                        // what the remains are reported as
};

namespace {

constexpr size_t kNameMax = 255;
constexpr size_t kUuidLength = 36;
constexpr size_t kRemainsPaths = 5;
constexpr std::string_view kRemainsPrefix = "Remains-";

std::string newUuid() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) got += static_cast<size_t>(n);
    }
    bytes[6] = (bytes[6] & 0x0F) | 0x40;
    bytes[8] = (bytes[8] & 0x3F) | 0x80;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
    }
    return out;
}

// Names this eraser gave: a UUID, a hyphen, the item's own name.
bool isStagedName(std::string_view name) {
    if (name.size() <= kUuidLength || name[kUuidLength] != '-') return false;
    for (size_t i = 0; i < kUuidLength; ++i) {
        const char c = name[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen != (c == '-')) return false;
        if (!hyphen && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

bool isRemainsName(std::string_view name) {
    return name.substr(0, kRemainsPrefix.size()) == kRemainsPrefix &&
           isStagedName(name.substr(kRemainsPrefix.size()));
}

std::vector<std::string> stagedNames(int stagingFd, bool withRemains) {
    auto names = detail::namesInFolder(stagingFd);
    std::erase_if(names, [&](const std::string& name) {
        return !isStagedName(name) && !(withRemains && isRemainsName(name));
    });
    std::sort(names.begin(), names.end());
    return names;
}

detail::TreeRemains remainsOf(int folderFd, const std::string& folder, const std::string& name) {
    auto remains = detail::surveyRemains(folderFd, name, kRemainsPaths);
    for (auto& path : remains.firstPaths)
        path = PathRules::join(folder, path);
    return remains;
}

bool isTrashFolderName(std::string_view path) {
    const std::string_view name = PathRules::lastComponent(path);
    return name == "Trash" || name.starts_with(".Trash-") ||
           PathRules::lastComponent(PathRules::parentOf(path)) == ".Trash";
}

// An item erased from a Trash's files folder takes its restore record with it.
void dropTrashInfo(const PinnedItem& item) {
    if (PathRules::lastComponent(item.realParent) != "files" ||
        !isTrashFolderName(PathRules::parentOf(item.realParent)))
        return;
    const int info =
        openat(item.parent->get(), "../info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (info < 0) return;
    UniqueFd infoFd(info);
    unlinkat(info, (item.name + ".trashinfo").c_str(), 0);
}

std::error_code openStaging(const std::string& staging, UniqueFd& fd) {
    if (auto ec = createPrivateFolders(staging)) return ec;
    const int raw = open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (raw < 0) return {errno, std::generic_category()};
    fd = UniqueFd(raw);
    return {};
}

}  // namespace

Eraser::Eraser(std::string staging, int threads)
    : staging_(DeletionGuard::normalise(staging)), threads_(std::max(1, threads)) {
    worker_ = std::thread([this] { run(); });
}

Eraser::~Eraser() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

int Eraser::defaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(n, 1u, 8u));
}

std::shared_ptr<Eraser> Eraser::standard() {
    static const std::shared_ptr<Eraser> eraser =
        std::make_shared<Eraser>(userFolders::cacheHome() + "/Brimvale/Erasing");
    return eraser;
}

std::variant<std::vector<EraseOutcome>, std::error_code> Eraser::erase(
    const std::vector<GuardedRemoval>& removals) {
    const auto start = std::chrono::steady_clock::now();
    UniqueFd stagingFd;
    if (auto ec = openStaging(staging_, stagingFd)) return ec;
    struct stat stagingStatus;
    const bool stagingKnown = fstat(stagingFd.get(), &stagingStatus) == 0;
    auto staging = std::make_shared<UniqueFd>(std::move(stagingFd));

    std::vector<EraseOutcome> outcomes(removals.size());
    std::vector<std::shared_ptr<Task>> tasks;
    const auto order = detail::removalOrder(removals);
    for (size_t index : order.order) {
        const GuardedRemoval& removal = removals[index];
        EraseOutcome& outcome = outcomes[index];
        outcome.url = removal.path();
        auto pinned = detail::pinForRemoval(removal);
        if (auto* error = std::get_if<RemovalError>(&pinned)) {
            outcome.error = std::move(*error);
            outcome.elapsed = std::chrono::steady_clock::now() - start;
            continue;
        }
        auto& item = std::get<PinnedItem>(pinned);
        const bool sameDevice = stagingKnown && item.status.st_dev == stagingStatus.st_dev;
        if (sameDevice) {
            const std::string stagedName = (newUuid() + "-" + item.name).substr(0, kNameMax);
            if (renameat(item.parent->get(), item.name.c_str(), staging->get(),
                         stagedName.c_str()) == 0) {
                dropTrashInfo(item);
                tasks.push_back(std::make_shared<Task>(
                    Task{staging, stagedName, std::nullopt, removal.path()}));
                outcome.elapsed = std::chrono::steady_clock::now() - start;
                continue;
            }
            // Only another mount of the same device justifies deleting in place; any other refusal
            // (read-only, no permission, busy) would refuse the deletion too, so it is reported.
            if (errno != EXDEV) {
                outcome.error = RemovalError::fromErrno(errno);
                outcome.elapsed = std::chrono::steady_clock::now() - start;
                continue;
            }
        }
        struct statvfs volume;
        if (fstatvfs(item.parent->get(), &volume) == 0 && (volume.f_flag & ST_RDONLY)) {
            outcome.error = RemovalError::fromErrno(EROFS);
        } else if (access(item.realParent.c_str(), W_OK) != 0 && errno == EACCES) {
            outcome.error = RemovalError::fromErrno(EACCES);
        } else {
            outcome.deletedInPlace = true;
            tasks.push_back(
                std::make_shared<Task>(Task{item.parent, item.name, removal, removal.path()}));
        }
        outcome.elapsed = std::chrono::steady_clock::now() - start;
    }
    for (size_t i = 0; i < removals.size(); ++i)
        if (order.firstOf[i] != i) outcomes[i] = outcomes[order.firstOf[i]];
    for (auto& task : tasks)
        schedule(std::move(task));
    return outcomes;
}

void Eraser::resumePending(Retry which) {
    const int raw = open(staging_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (raw < 0) return;
    auto staging = std::make_shared<UniqueFd>(raw);
    for (auto& name : stagedNames(raw, which == Retry::remainsToo)) {
        std::string url = PathRules::join(staging_, name);
        schedule(std::make_shared<Task>(Task{staging, std::move(name), std::nullopt, url}));
    }
}

std::vector<PendingErase> Eraser::pending() const {
    std::vector<PendingErase> items;
    const int raw = open(staging_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (raw < 0) return items;
    const UniqueFd staging(raw);
    for (const auto& name : stagedNames(raw, true)) {
        auto remains = remainsOf(raw, staging_, name);
        if (remains.entries == 0) continue;  // gone meanwhile
        items.push_back({PathRules::join(staging_, name), isRemainsName(name), remains.entries,
                         std::move(remains.firstPaths)});
    }
    return items;
}

std::vector<EraseRemains> Eraser::takeRemains() {
    std::lock_guard lock(mutex_);
    return std::exchange(remains_, {});
}

void Eraser::schedule(std::shared_ptr<Task> task) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
        ++pending_;
    }
    wake_.notify_one();
}

void Eraser::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return pending_ == 0; });
}

bool Eraser::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [&] { return pending_ == 0; });
}

void Eraser::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        auto task = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        perform(*task);
        task.reset();
        lock.lock();
        if (--pending_ == 0) idle_.notify_all();
    }
}

void Eraser::perform(Task& task) {
    const int folder = task.folder->get();
    if (task.inPlace) {
        // The moment of deletion: ask the guard again, about the folder as it is now.
        const std::string realFolder = detail::pathOfDescriptor(folder);
        if (realFolder.empty()) return;
        if (!task.inPlace->recheck().isAllowed()) return;
        if (!task.inPlace->recheckAt(PathRules::join(realFolder, task.name)).isAllowed()) return;
        if (detail::isMountRootAt(folder, task.name)) return;
        PinnedItem item{task.folder, task.name, realFolder, {}};
        const bool gone = detail::removeTreeAt(folder, task.name, threads_, &stop_);
        dropTrashInfo(item);
        if (gone || stop_) return;
        auto left = remainsOf(folder, realFolder, task.name);
        if (left.entries == 0) return;
        std::lock_guard lock(mutex_);
        remains_.push_back({task.url, PathRules::join(realFolder, task.name), left.entries,
                            std::move(left.firstPaths)});
        return;
    }
    if (detail::removeTreeAt(folder, task.name, threads_, &stop_) || stop_) return;
    // What is left is set apart, so later runs do not retry it silently, and reported.
    std::string name = task.name;
    if (!isRemainsName(name)) {
        const std::string renamed = (std::string(kRemainsPrefix) + name).substr(0, kNameMax);
        if (renameat(folder, name.c_str(), folder, renamed.c_str()) == 0) name = renamed;
    }
    auto left = remainsOf(folder, staging_, name);
    if (left.entries == 0) return;
    std::lock_guard lock(mutex_);
    remains_.push_back(
        {task.url, PathRules::join(staging_, name), left.entries, std::move(left.firstPaths)});
}

}  // namespace quenwick
