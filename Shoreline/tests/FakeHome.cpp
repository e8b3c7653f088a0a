#include "FakeHome.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Packages.h"
#include "Shoreline/LastUsed.h"

namespace shoreline::testing {

FakeHome::FakeHome()
    : now_(std::chrono::system_clock::time_point(
          std::chrono::seconds(std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count()))) {}

void FakeHome::folder(std::string_view relative) {
    ASSERT_TRUE(quenwick::testing::makeDirs(dir_ / relative));
}

void FakeHome::file(std::string_view relative, uint64_t bytes, uint32_t seed) {
    const std::string path = dir_ / relative;
    const auto slash = path.rfind('/');
    ASSERT_TRUE(quenwick::testing::makeDirs(path.substr(0, slash)));
    // Sizes at a limit must be exact, but a file in more than four pieces gets an extent block on
    // ext4 that counts as allocated: reserve the space in one go, and write again if it still
    // came out fragmented.
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        if (bytes > 0) (void)::posix_fallocate(fd, 0, static_cast<off_t>(bytes));
        std::vector<uint32_t> block(1 << 16);
        uint32_t x = seed * 2654435761u + 1;
        uint64_t written = 0;
        while (written < bytes) {
            for (auto& w : block) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                w = x;
            }
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>(bytes - written, block.size() * sizeof(uint32_t)));
            ASSERT_EQ(::write(fd, block.data(), n), static_cast<ssize_t>(n));
            written += n;
        }
        ASSERT_EQ(::fsync(fd), 0);
        struct stat st {};
        const bool exact = ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_blocks) * 512 ==
                                                        (bytes + 4095) / 4096 * 4096;
        ::close(fd);
        if (exact || attempt == 4) break;
        ::unlink(path.c_str());
    }
}

void FakeHome::setTimes(std::string_view relative, const int64_t* accessDays,
                        const int64_t* modDays) {
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(now_.time_since_epoch()).count();
    const auto at = [&](const int64_t* days) {
        if (days == nullptr) return timespec{0, UTIME_OMIT};
        return timespec{static_cast<time_t>(now - *days * kDay - 60), 0};
    };
    const timespec times[2] = {at(accessDays), at(modDays)};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / relative).c_str(), times, AT_SYMLINK_NOFOLLOW), 0)
        << relative;
}

void FakeHome::age(std::string_view relative, int64_t days) {
    setTimes(relative, &days, &days);
}

void FakeHome::ageAccess(std::string_view relative, int64_t days) {
    setTimes(relative, &days, nullptr);
}

void FakeHome::ageModification(std::string_view relative, int64_t days) {
    setTimes(relative, nullptr, &days);
}

ShorelineContext FakeHome::context() const {
    quenwick::DiskScanner scanner(quenwick::ScanOptions{}, 2);
    std::shared_ptr<const quenwick::FileTree> tree = scanner.scan(path());
    quenwick::DeletionGuard guard(path(), "/nonexistent/brimvale",
                                  [](const std::string&) { return false; });
    ShorelineContext ctx(tree, path(), guard);
    ctx.now = now_;
    ctx.locale = std::locale::classic();
    ctx.hashThreads = 2;
    return ctx;
}

TreeBuilder::TreeBuilder(std::string home)
    : tree_(std::make_shared<quenwick::FileTree>(home)),
      home_(std::move(home)),
      now_(std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000))) {}

quenwick::FileTree::Node TreeBuilder::folder(std::string_view relative) {
    quenwick::FileTree::Node at = quenwick::FileTree::root;
    std::string path = home_;
    size_t start = 0;
    while (start < relative.size()) {
        const size_t slash = std::min(relative.find('/', start), relative.size());
        const auto piece = relative.substr(start, slash - start);
        path += "/" + std::string(piece);
        if (auto found = tree_->nodeAtPath(path)) {
            at = *found;
        } else {
            auto flags = quenwick::NodeFlags::directory;
            if (quenwick::Packages::isPackageName(piece))
                flags.insert(quenwick::NodeFlags::package);
            at = tree_->append(at, piece, 0, 1'700'000'000 - 5000 * kDay, 0, flags);
        }
        start = slash + 1;
    }
    return at;
}

quenwick::FileTree::Node TreeBuilder::add(std::string_view relative, uint64_t bytes,
                                          int64_t daysOld, bool directory) {
    const auto slash = relative.rfind('/');
    const auto parent = slash == std::string_view::npos ? quenwick::FileTree::root
                                                        : folder(relative.substr(0, slash));
    const auto name = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
    const int64_t mtime = 1'700'000'000 - daysOld * kDay - 60;
    return tree_->append(parent, name, bytes, mtime, 0,
                         directory ? quenwick::NodeFlags::directory : quenwick::NodeFlags());
}

quenwick::FileTree::Node TreeBuilder::addIn(quenwick::FileTree::Node parent, std::string_view name,
                                            uint64_t bytes, int64_t daysOld,
                                            quenwick::NodeFlags flags) {
    return tree_->append(parent, name, bytes, 1'700'000'000 - daysOld * kDay - 60, 0, flags);
}

ShorelineContext TreeBuilder::context() {
    tree_->propagateSizes();
    quenwick::DeletionGuard guard(home_, "/nonexistent/brimvale",
                                  [](const std::string&) { return false; });
    ShorelineContext ctx(tree_, home_, guard);
    ctx.now = now_;
    ctx.lastUsed = LastUsed::unknown();
    ctx.locale = std::locale::classic();
    return ctx;
}

namespace {
std::string relativeTo(const ShorelineContext& ctx, const std::string& path) {
    return path.rfind(ctx.home + "/", 0) == 0 ? path.substr(ctx.home.size() + 1) : path;
}
}  // namespace

std::vector<std::string> relativePaths(const ShorelineContext& ctx,
                                       const std::vector<Candidate>& candidates) {
    std::vector<std::string> out;
    for (const auto& c : candidates)
        out.push_back(relativeTo(ctx, ctx.tree->path(c.node)));
    return out;
}

const ShorelineCategory* categoryOf(const std::vector<ShorelineCategory>& categories,
                                    std::string_view id) {
    for (const auto& c : categories)
        if (c.id == id) return &c;
    return nullptr;
}

std::vector<std::string> findingPaths(const ShorelineContext& ctx,
                                      const std::vector<ShorelineCategory>& categories,
                                      std::string_view id) {
    std::vector<std::string> out;
    if (const auto* c = categoryOf(categories, id))
        for (const auto& f : c->findings)
            out.push_back(relativeTo(ctx, f.path));
    return out;
}

}  // namespace shoreline::testing
