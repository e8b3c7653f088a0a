#include "Shoreline/AppCachesRule.h"

#include <algorithm>

#include "PathText.h"
#include "Shoreline/PackageCachesRule.h"

namespace shoreline {
namespace {

using quenwick::FileTree;

constexpr uint64_t kMiB = 1'048'576;
constexpr uint64_t kContainerCacheMin = 5 * kMiB;

// Folders that tools keep in the cache folder although they hold the user's data or machine
// images, not a cache; no cache rule proposes them.
const std::vector<std::string_view> kUserDataNames = {"containers", "gnome-boxes", "libvirt",
                                                      "VirtualBox VMs"};

bool isRunning(const ShorelineContext& ctx, std::string_view name) {
    return ctx.runningBundleIDs.contains(std::string(name));
}

// The children of the XDG cache folder that are plain app caches: not owned by another rule, not
// holding the user's data or folders, not the cache of a running app.
void linuxCaches(const ShorelineContext& ctx, std::vector<Candidate>& out) {
    const FileTree& tree = *ctx.tree;
    const std::string& cache = ctx.cacheHome;
    // $XDG_CACHE_HOME set to the home folder (or above it, or to the data folder) would make the
    // user's own folders look like caches.
    std::vector<std::string> protectedFolders{ctx.home, ctx.dataHome};
    for (const auto& [key, dir] : ctx.userDirs)
        protectedFolders.push_back(dir);
    for (const auto& p : protectedFolders)
        if (detail::isAtOrBelow(p, cache)) return;

    std::vector<std::string> owned;
    for (const auto& entry : PackageCachesRule::entries(ctx))
        owned.push_back(entry.path);
    for (const FileTree::Node child : ctx.childrenAt(cache)) {
        if (tree.size(child) < kMiB) continue;
        const auto name = tree.nameBytes(child);
        if (isRunning(ctx, name)) continue;
        if (std::find(kUserDataNames.begin(), kUserDataNames.end(), name) != kUserDataNames.end())
            continue;
        const std::string path = detail::join(cache, name);
        const auto holds = [&](const std::string& p) { return detail::isAtOrBelow(p, path); };
        if (std::any_of(owned.begin(), owned.end(), holds)) continue;
        out.push_back({child, Safety::safe, "Cache — the app rebuilds it when it needs it."});
    }
}

}  // namespace

std::vector<Candidate> AppCachesRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    const FileTree& tree = *ctx.tree;
    for (const FileTree::Node child : ctx.children("Library/Caches")) {
        if (tree.size(child) < kMiB) continue;
        const auto name = tree.nameBytes(child);
        if (isRunning(ctx, name)) continue;
        if (name.starts_with("com.apple.")) {
            out.push_back({child, Safety::review,
                           "macOS cache — safe to clear, but macOS often rebuilds it straight "
                           "away."});
        } else {
            out.push_back({child, Safety::safe, "Cache — the app rebuilds it when it needs it."});
        }
    }
    for (const FileTree::Node container : ctx.children("Library/Containers")) {
        const auto name = tree.nameBytes(container);
        if (isRunning(ctx, name)) continue;
        const FileTree::Node caches = ctx.nodeAt(tree.path(container) + "/Data/Library/Caches");
        if (caches == FileTree::none || tree.size(caches) < kContainerCacheMin) continue;
        if (name.starts_with("com.apple.")) {
            out.push_back({caches, Safety::review,
                           "Cache for a macOS service — safe to clear, but it often rebuilds "
                           "straight away."});
        } else {
            out.push_back({caches, Safety::safe,
                           "Cache for " + tree.name(container) + " — rebuilt when needed."});
        }
    }
    linuxCaches(ctx, out);
    // A Flatpak app keeps its cache in ~/.var/app/<id>/cache, as a sandboxed container does.
    for (const FileTree::Node app : ctx.children(".var/app")) {
        const auto name = tree.nameBytes(app);
        if (isRunning(ctx, name)) continue;
        const FileTree::Node caches = ctx.nodeAt(tree.path(app) + "/cache");
        if (caches == FileTree::none || tree.size(caches) < kContainerCacheMin) continue;
        out.push_back(
            {caches, Safety::safe, "Cache for " + tree.name(app) + " — rebuilt when needed."});
    }
    return out;
}

}  // namespace shoreline
