#include "Shoreline/DuplicatesRule.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "FileContents.h"
#include "PathText.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/Utf8.h"
#include "Shoreline/CreativeProjects.h"
#include "Shoreline/UserFiles.h"

namespace shoreline {
namespace {

using detail::Digest;
using detail::FileIdentity;
using quenwick::FileTree;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 4'194'304;

struct File {
    FileTree::Node node;
    std::string path;
    FileIdentity identity;
    std::optional<detail::ContentDigest> content;
};

using Group = std::vector<size_t>;  // indices into the file list

// Runs work(i, buffer) for i in [0, count) on up to `threads` threads, each with its own read
// buffer, taking indices in the given order.
void forEachInParallel(const std::vector<size_t>& order, int threads,
                       const std::function<void(size_t, char*)>& work) {
    std::atomic<size_t> next{0};
    const auto worker = [&] {
        const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
        for (size_t k = next++; k < order.size(); k = next++)
            work(order[k], buffer.get());
    };
    const size_t n = std::min(order.size(), static_cast<size_t>(std::max(threads, 1)));
    if (n <= 1) {
        worker();
        return;
    }
    std::vector<std::jthread> pool;
    try {
        for (size_t t = 1; t < n; ++t)
            pool.emplace_back(worker);
    } catch (const std::system_error&) {
        // Out of threads: the ones that started, and this one, share the work.
    }
    worker();
}

// Splits each group by a key, keeping subgroups of two or more in order of first appearance.
template <typename Key, typename KeyOf>
std::vector<Group> splitGroups(const std::vector<Group>& groups, KeyOf keyOf) {
    std::vector<Group> out;
    for (const auto& group : groups) {
        std::map<Key, size_t> slot;
        std::vector<Group> parts;
        for (size_t i : group) {
            const std::optional<Key> key = keyOf(i);
            if (!key) continue;
            const auto [it, added] = slot.try_emplace(*key, parts.size());
            if (added) parts.emplace_back();
            parts[it->second].push_back(i);
        }
        for (auto& part : parts)
            if (part.size() >= 2) out.push_back(std::move(part));
    }
    return out;
}

// The keeper order: a managed library first, then the user's filing folders, then the rest of
// home, Downloads last; newest first within a tier.
struct Ranker {
    const ShorelineContext& ctx;
    std::vector<std::string> filing;
    std::vector<std::string> downloads;

    explicit Ranker(const ShorelineContext& c) : ctx(c) {
        const std::pair<const char*, const char*> folders[] = {
            {"Documents", "DOCUMENTS"}, {"Desktop", "DESKTOP"}, {"Pictures", "PICTURES"},
            {"Movies", "VIDEOS"},       {"Music", "MUSIC"},     {"Videos", "VIDEOS"}};
        for (const auto& [name, key] : folders)
            for (auto& f : ctx.standardFolders(name, key))
                filing.push_back(f + "/");
        for (auto& f : ctx.standardFolders("Downloads", "DOWNLOAD"))
            downloads.push_back(f + "/");
    }

    int tier(const std::string& path) const {
        if (DuplicatesRule::inManagedLibrary(path, ctx)) return -1;
        const auto below = [&](const std::string& f) { return detail::startsWith(path, f); };
        if (std::any_of(filing.begin(), filing.end(), below)) return 0;
        if (std::any_of(downloads.begin(), downloads.end(), below)) return 2;
        return 1;
    }
};

// The keeper's path as the reason shows it: the home folder written "~".
std::string shortPath(const std::string& path, const std::string& home) {
    return quenwick::utf8::display(quenwick::PathRules::abbreviatingHome(path, home));
}

class Progress {
public:
    Progress(const ShorelineContext& ctx, Clock::time_point started)
        : callback_(ctx.onHashProgress), started_(started) {}

    void begin(HashProgress::Stage stage, uint64_t files, uint64_t bytes) {
        stage_ = stage;
        filesTotal_ = files;
        bytesTotal_ = bytes;
        filesDone_ = 0;
        bytesDone_ = 0;
        report(false);
    }
    void addBytes(uint64_t n) {
        bytesDone_ += n;
        report(false);
    }
    void fileDone() {
        ++filesDone_;
        report(false);
    }
    void finish() { report(true); }

private:
    void report(bool finished) {
        if (!callback_) return;
        callback_(HashProgress{
            stage_, filesDone_.load(), filesTotal_, bytesDone_.load(), bytesTotal_,
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started_),
            finished});
    }

    const std::function<void(const HashProgress&)>& callback_;
    const Clock::time_point started_;
    HashProgress::Stage stage_ = HashProgress::Stage::samples;
    uint64_t filesTotal_ = 0;
    uint64_t bytesTotal_ = 0;
    std::atomic<uint64_t> filesDone_{0};
    std::atomic<uint64_t> bytesDone_{0};
};

// The files of every group, largest first, so that the longest reads start early.
std::vector<size_t> largestFirst(const std::vector<Group>& groups, const std::vector<File>& files) {
    std::vector<size_t> order;
    for (const auto& g : groups)
        order.insert(order.end(), g.begin(), g.end());
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return files[a].identity.length > files[b].identity.length;
    });
    return order;
}

// The groups of files whose contents are identical, each in walk order.
std::vector<Group> identicalGroups(const ShorelineContext& ctx, std::vector<File>& files) {
    const FileTree& tree = *ctx.tree;
    const int threads =
        ctx.hashThreads > 0 ? ctx.hashThreads : quenwick::DiskScanner::defaultWorkers();
    const auto walked = UserFiles::walk(ctx, ctx.duplicateMinBytes);
    // From here on the files themselves are read: that is the hashing time.
    Progress progress(ctx, Clock::now());

    // What is on disk now: a file that is no longer the one scanned (changed, replaced, turned
    // into a link) takes no part.
    for (const FileTree::Node n : walked) {
        std::string path = tree.path(n);
        const auto identity = detail::identify(path);
        if (!identity || identity->mtimeSeconds != tree.mtime(n)) continue;
        files.push_back({n, std::move(path), *identity, std::nullopt});
    }

    // Equal contents have equal lengths. Hard links to one inode are one file, not copies.
    std::vector<Group> bySize = splitGroups<uint64_t>(
        {[&] {
            Group all(files.size());
            for (size_t i = 0; i < all.size(); ++i)
                all[i] = i;
            return all;
        }()},
        [&](size_t i) { return std::optional<uint64_t>(files[i].identity.length); });
    for (auto& group : bySize) {
        Group unique;
        for (size_t i : group) {
            const auto same = [&](size_t j) {
                return files[j].identity.device == files[i].identity.device &&
                       files[j].identity.inode == files[i].identity.inode;
            };
            if (std::none_of(unique.begin(), unique.end(), same)) unique.push_back(i);
        }
        group = std::move(unique);
    }
    std::erase_if(bySize, [](const Group& g) { return g.size() < 2; });

    std::vector<std::optional<Digest>> samples(files.size());
    {
        const auto order = largestFirst(bySize, files);
        progress.begin(HashProgress::Stage::samples, order.size(), 0);
        forEachInParallel(order, threads, [&](size_t i, char*) {
            samples[i] = detail::sampleDigest(files[i].path, files[i].identity);
            progress.fileDone();
        });
    }
    const auto bySample = splitGroups<Digest>(bySize, [&](size_t i) { return samples[i]; });

    {
        const auto order = largestFirst(bySample, files);
        uint64_t bytes = 0;
        for (size_t i : order)
            bytes += files[i].identity.length;
        progress.begin(HashProgress::Stage::contents, order.size(), bytes);
        forEachInParallel(order, threads, [&](size_t i, char* buffer) {
            files[i].content =
                detail::contentDigest(files[i].path, files[i].identity, buffer, kChunk,
                                      [&](size_t n) { progress.addBytes(n); });
            progress.fileDone();
        });
    }
    auto identical = splitGroups<Digest>(bySample, [&](size_t i) -> std::optional<Digest> {
        if (!files[i].content) return std::nullopt;
        return files[i].content->digest;
    });
    progress.finish();
    return identical;
}

}  // namespace

bool DuplicatesRule::inManagedLibrary(std::string_view path, const ShorelineContext& ctx) {
    for (const char* library : {"Music/Music/", "Music/iTunes/", "Movies/TV/",
                                "Pictures/Photos Library.photoslibrary/"}) {
        if (detail::startsWith(path, ctx.inHome(library))) return true;
    }
    return false;
}

std::vector<Candidate> DuplicatesRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    if (!ctx.tree) return out;
    const FileTree& tree = *ctx.tree;
    std::vector<File> files;
    auto groups = identicalGroups(ctx, files);
    const Ranker ranker(ctx);
    for (auto& group : groups) {
        std::vector<std::pair<size_t, int>> ranked;
        for (size_t i : group)
            ranked.emplace_back(i, ranker.tier(files[i].path));
        std::stable_sort(ranked.begin(), ranked.end(), [&](const auto& a, const auto& b) {
            if (a.second != b.second) return a.second < b.second;
            return tree.mtime(files[a.first].node) > tree.mtime(files[b.first].node);
        });
        const File& keeper = files[ranked.front().first];
        const std::string reason =
            "Identical to " + shortPath(keeper.path, ctx.home) + ", which is kept.";
        for (size_t k = 1; k < ranked.size(); ++k) {
            const File& copy = files[ranked[k].first];
            if (inManagedLibrary(copy.path, ctx)) continue;
            if (CreativeProjects::contains(copy.node, ctx)) continue;
            // A copy that shares its blocks with another file frees nothing when removed.
            if (copy.content->sharedExtents) continue;
            out.push_back({copy.node, Safety::review, reason});
        }
    }
    return out;
}

}  // namespace shoreline
