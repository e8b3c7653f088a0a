#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/GuardVerdict.h"
#include "QuenwickCore/PathRules.h"

// The guard's lists, built once per guard and shared by its copies and by every removal it allowed.
namespace quenwick::detail {

struct GuardPolicy : std::enable_shared_from_this<GuardPolicy> {
    GuardPolicy(std::string_view home, std::string_view appBundle,
                DeletionGuard::RunningAppTest isRunningApp, DeletionGuard::UserFolders folders);

    [[nodiscard]] GuardVerdict check(std::string_view path) const;

    std::string home;
    std::string appBundle;
    DeletionGuard::RunningAppTest isRunningApp;

private:
    struct TextVerdict {
        std::optional<std::string> blocked;
        std::optional<std::string> caution;
    };
    // Every rule that reads the path as text (the caution's folder test aside).
    TextVerdict judgeText(const std::string& p) const;
    std::optional<std::string> blockReason(const std::string& p,
                                           const std::vector<std::string_view>& parts) const;
    std::optional<std::string> cautionFor(const std::string& p, const std::string& parent) const;
    bool isTrashFolder(const std::string& p, const std::vector<std::string_view>& parts) const;
    // The protected location the target or one of its ancestors is (same device and inode,
    // whatever the spelling: a bind mount or a hard-linked folder), with the rest of the path
    // appended; nullopt when none is.
    std::optional<std::string> sameAsProtected(const std::string& p) const;
    void rememberIdentity(const std::string& path);

    std::vector<std::string> homes_;  // the home as given, and its real path when that differs
    std::set<std::string> standardFolders_;
    std::set<std::string> homeAncestors_;
    std::vector<std::string> secretStores_;
    std::set<std::string> structuralFolders_;
    std::set<std::string> homeTrashFolders_;
    std::set<std::string> libraryFolders_;
    std::set<std::string> cloudFolders_;
    std::vector<std::string> homeLibraries_;   // home + "/Library" for every spelling
    std::vector<std::string> appDataFolders_;  // $XDG_CONFIG_HOME, $XDG_DATA_HOME
    std::vector<std::string> homeTrashes_;     // $XDG_DATA_HOME/Trash
    std::vector<std::string> ownFolders_;      // $XDG_CACHE_HOME/Brimvale
    std::vector<std::string> erasingFolders_;  // $XDG_CACHE_HOME/Brimvale/Erasing
    // Device and inode of every protected location that exists, with the location's path.
    std::map<std::pair<dev_t, ino_t>, std::string> identities_;
};

// Path helpers shared by the guard, the Trash mover and the eraser.
// The path with "." and repeated slashes dropped and each ".." applied the way the kernel applies
// it: after a symbolic link, to the parent of the link's target. nullopt when such a link leads
// nowhere (the kernel would not resolve the path either).
std::optional<std::string> resolveDotDot(std::string_view absolutePath);
// The guard's own split of a path into its components (empty ones dropped).
std::vector<std::string_view> splitPath(std::string_view path);

// Platform probes (src/linux).
bool isMountPoint(const std::string& path);  // the root of a mount other than its parent's
bool isDirectory(const std::string& path);   // following links, as the caution rule asks

}  // namespace quenwick::detail
