#include "TreeRemoval.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "RemovalTarget.h"

namespace quenwick::detail {
namespace {

// Folders deeper than this keep their ancestors' descriptors closed, so a deep chain cannot run
// the process out of descriptors; an ancestor is opened again through ".." and its identity
// compared with what was seen on the way down.
constexpr size_t kMaxOpenFolders = 48;

struct MountIdentity {
    dev_t device = 0;
    uint64_t mountId = 0;
    bool hasMountId = false;

    static bool of(int fd, MountIdentity& out) {
        struct statx sx;
        if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MNT_ID, &sx) != 0) return false;
        out.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        out.hasMountId = (sx.stx_mask & STATX_MNT_ID) != 0;
        out.mountId = sx.stx_mnt_id;
        return true;
    }

    bool contains(int fd) const {
        MountIdentity other;
        if (!of(fd, other) || other.device != device) return false;
        return !hasMountId || !other.hasMountId || other.mountId == mountId;
    }
};

bool isFolderType(unsigned char type) {
    return type == DT_DIR || type == DT_UNKNOWN;
}

// Adds owner rwx to a folder of ours so its contents can be listed and removed.
bool makeWritable(int dirFd) {
    struct stat st;
    if (fstat(dirFd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & S_IRWXU) == S_IRWXU) return false;
    return fchmod(dirFd, (st.st_mode & 07777) | S_IRWXU) == 0;
}

// The same for a folder we cannot open yet: reached through an O_PATH descriptor that did not
// follow a link, and changed through /proc so the change lands on exactly that folder.
bool makeWritableAt(int parentFd, const char* name) {
    const int fd = openat(parentFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    UniqueFd handle(fd);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & S_IRWXU) == S_IRWXU) return false;
    const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
    return chmod(viaProc.c_str(), (st.st_mode & 07777) | S_IRWXU) == 0;
}

int openFolderAt(int parentFd, const char* name) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parentFd, name, flags);
    if (fd < 0 && errno == EACCES && makeWritableAt(parentFd, name))
        fd = openat(parentFd, name, flags);
    return fd;
}

bool unlinkFile(int dirFd, const char* name) {
    if (unlinkat(dirFd, name, 0) == 0 || errno == ENOENT) return true;
    if (errno == EACCES && makeWritable(dirFd)) return unlinkat(dirFd, name, 0) == 0;
    return false;
}

bool removeFolderEntry(int dirFd, const char* name) {
    if (unlinkat(dirFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
    if (errno == EACCES && makeWritable(dirFd)) return unlinkat(dirFd, name, AT_REMOVEDIR) == 0;
    return false;
}

struct Entry {
    std::string name;
    unsigned char type = DT_UNKNOWN;
    ino_t inode = 0;
};

std::vector<Entry> listFolder(int dirFd) {
    std::vector<Entry> entries;
    UniqueFd fd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return entries;
    DIR* dir = fdopendir(fd.get());
    if (dir == nullptr) return entries;
    (void)fd.release();  // the stream owns it now
    while (const dirent* e = readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back({std::string(name), e->d_type, e->d_ino});
    }
    closedir(dir);
    // Removing in inode order keeps the writes to the inode table close together.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.inode < b.inode; });
    return entries;
}

class Walker {
public:
    Walker(MountIdentity mount, const std::atomic<bool>* cancel) : mount_(mount), cancel_(cancel) {}

    // Removes one entry of the folder open as parentFd, with everything below it.
    bool remove(int parentFd, const std::string& name, unsigned char type) const {
        if (!isFolderType(type)) {
            if (unlinkFile(parentFd, name.c_str())) return true;
            if (errno != EISDIR) return false;
        }
        const int fd = openFolderAt(parentFd, name.c_str());
        if (fd < 0) {
            if (errno == ENOTDIR || errno == ELOOP) return unlinkFile(parentFd, name.c_str());
            return errno == ENOENT;
        }
        return removeFolder(parentFd, name, fd);
    }

private:
    struct Frame {
        UniqueFd fd;       // closed at times to spare descriptors
        std::string name;  // the folder's name in the frame below it
        dev_t device = 0;
        ino_t inode = 0;
        std::vector<Entry> entries;  // listed once, when the folder is entered
        size_t next = 0;
        bool relisted = false;
    };

    bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

    // Walks the folder open as fd (owned) depth first and removes it from parentFd at the end.
    bool removeFolder(int parentFd, const std::string& name, int fd) const {
        std::vector<Frame> stack;
        size_t open = 0;
        const auto closeAll = [&] { stack.clear(); };
        const auto push = [&](int childFd, std::string childName) {
            UniqueFd owned(childFd);
            struct stat st;
            // Another file system, or a mount of this one: left alone.
            if (fstat(childFd, &st) != 0 || !mount_.contains(childFd)) return;
            stack.push_back({std::move(owned), std::move(childName), st.st_dev, st.st_ino,
                             listFolder(childFd), 0, false});
            if (++open > kMaxOpenFolders) {
                for (auto& f : stack) {
                    if (!f.fd) continue;
                    f.fd.reset();
                    --open;
                    break;
                }
            }
        };
        push(fd, name);
        if (stack.empty()) return false;

        while (!stack.empty()) {
            if (cancelled()) {
                closeAll();
                return false;
            }
            Frame& top = stack.back();
            if (top.next < top.entries.size()) {
                const Entry& entry = top.entries[top.next++];
                const char* entryName = entry.name.c_str();
                if (!isFolderType(entry.type)) {
                    if (unlinkFile(top.fd.get(), entryName) || errno != EISDIR) continue;
                }
                const int child = openFolderAt(top.fd.get(), entryName);
                if (child < 0) {
                    if (errno == ENOTDIR || errno == ELOOP) unlinkFile(top.fd.get(), entryName);
                    continue;
                }
                push(child, entry.name);
                continue;
            }
            // The top folder is empty as far as it could be emptied: remove it from its parent,
            // opening the parent again first if its descriptor was closed.
            int holderFd = parentFd;
            if (stack.size() >= 2) {
                Frame& below = stack[stack.size() - 2];
                if (!below.fd) {
                    below.fd.reset(reopenParent(top.fd.get(), below));
                    if (!below.fd) {
                        closeAll();
                        return false;
                    }
                    ++open;
                }
                holderFd = below.fd.get();
            }
            if (!removeFolderEntry(holderFd, top.name.c_str()) && errno == ENOTEMPTY &&
                !top.relisted) {
                // Something was added while the folder was being emptied: one more pass.
                top.relisted = true;
                top.entries = listFolder(top.fd.get());
                top.next = 0;
                continue;
            }
            --open;
            stack.pop_back();
        }
        struct stat st;
        return fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    }

    // Opens the parent of the folder open as childFd and accepts it only if it is the folder that
    // was seen there on the way down. Returns the descriptor or -1.
    static int reopenParent(int childFd, const Frame& frame) {
        UniqueFd fd(openat(childFd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return -1;
        struct stat st;
        if (fstat(fd.get(), &st) != 0 || st.st_dev != frame.device || st.st_ino != frame.inode)
            return -1;
        return fd.release();
    }

    MountIdentity mount_;
    const std::atomic<bool>* cancel_;
};

}  // namespace

std::vector<std::string> namesInFolder(int dirFd) {
    std::vector<std::string> names;
    for (auto& entry : listFolder(dirFd))
        names.push_back(std::move(entry.name));
    return names;
}

TreeRemains surveyRemains(int parentFd, const std::string& name, size_t maxPaths) {
    TreeRemains remains;
    struct stat st;
    if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return remains;
    struct Pending {
        std::shared_ptr<UniqueFd> holder;
        std::string name;
        std::string path;
    };
    // Depth first from a stack: a folder's descriptor lives while entries of it wait, so only the
    // folders on the current branch are open, and a deep chain costs no call stack.
    std::vector<Pending> stack;
    auto parent = std::make_shared<UniqueFd>(fcntl(parentFd, F_DUPFD_CLOEXEC, 0));
    if (!parent->valid()) return remains;
    stack.push_back({parent, name, name});
    MountIdentity mount;
    bool haveMount = false;
    while (!stack.empty()) {
        const Pending item = std::move(stack.back());
        stack.pop_back();
        ++remains.entries;
        const auto leaf = [&] {
            if (remains.firstPaths.size() < maxPaths) remains.firstPaths.push_back(item.path);
        };
        const int fd = openat(item.holder->get(), item.name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            leaf();
            continue;
        }
        auto folder = std::make_shared<UniqueFd>(fd);
        if (!haveMount) haveMount = MountIdentity::of(fd, mount);
        if (!haveMount || !mount.contains(fd)) {
            leaf();
            continue;
        }
        auto children = listFolder(fd);
        if (children.empty()) leaf();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back({folder, it->name, item.path + "/" + it->name});
    }
    return remains;
}

bool removeTreeAt(int parentFd, const std::string& name, int threads,
                  const std::atomic<bool>* cancel) {
    struct stat st;
    if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkFile(parentFd, name.c_str());
    const int fd = openFolderAt(parentFd, name.c_str());
    if (fd < 0) {
        if (errno == ENOTDIR || errno == ELOOP) return unlinkFile(parentFd, name.c_str());
        return errno == ENOENT;
    }
    UniqueFd root(fd);
    MountIdentity mount;
    if (!MountIdentity::of(fd, mount)) return false;
    const Walker walker(mount, cancel);
    if (threads <= 1) return walker.remove(parentFd, name, DT_DIR);

    // Spread the work: list a level or two until there are enough pieces for every thread to
    // stay busy, delete the pieces in parallel, then remove the listed folders deepest first.
    struct Unit {
        std::shared_ptr<UniqueFd> folder;
        std::string name;
        unsigned char type;
    };
    auto rootFolder = std::make_shared<UniqueFd>(root.release());
    std::vector<Unit> units;
    for (auto& e : listFolder(rootFolder->get()))
        units.push_back({rootFolder, std::move(e.name), e.type});
    std::vector<Unit> expanded;
    const size_t enough = static_cast<size_t>(threads) * 32;
    for (int level = 0; level < 3 && units.size() < enough; ++level) {
        std::vector<Unit> next;
        for (auto& unit : units) {
            if (unit.type != DT_DIR) {
                next.push_back(std::move(unit));
                continue;
            }
            UniqueFd childFd(openFolderAt(unit.folder->get(), unit.name.c_str()));
            if (!childFd || !mount.contains(childFd.get())) {
                next.push_back(std::move(unit));
                continue;
            }
            auto child = std::make_shared<UniqueFd>(std::move(childFd));
            for (auto& e : listFolder(child->get()))
                next.push_back({child, std::move(e.name), e.type});
            expanded.push_back(std::move(unit));
        }
        units = std::move(next);
    }

    std::atomic<size_t> nextUnit{0};
    const auto work = [&] {
        for (size_t i; (i = nextUnit.fetch_add(1)) < units.size();) {
            if (cancel && cancel->load(std::memory_order_relaxed)) return;
            walker.remove(units[i].folder->get(), units[i].name, units[i].type);
        }
    };
    std::vector<std::thread> helpers;
    const size_t helperCount =
        units.size() > 1 ? std::min(units.size(), static_cast<size_t>(threads)) - 1 : 0;
    for (size_t i = 0; i < helperCount; ++i)
        helpers.emplace_back(work);
    work();
    for (auto& t : helpers)
        t.join();
    units.clear();
    for (auto it = expanded.rbegin(); it != expanded.rend(); ++it)
        walker.remove(it->folder->get(), it->name, DT_DIR);
    expanded.clear();
    rootFolder.reset();
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    return walker.remove(parentFd, name, DT_DIR);
}

}  // namespace quenwick::detail
