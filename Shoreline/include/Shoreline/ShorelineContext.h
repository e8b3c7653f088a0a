#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <locale>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/FileTree.h"

// Everything a suggestion rule may look at: the scanned tree, the user's folders, the guard, the
// reference time and the thresholds, plus the look-ups the rules share. Every field may be set
// after construction. Paths are absolute, exact bytes, without a trailing "/".
//
// A value; the tree is shared and must not change while an analysis reads it. The const look-ups
// may be called from any thread as long as nobody assigns to the fields meanwhile. `lastUsed` and
// `onHashProgress` may be called from worker threads.
namespace shoreline {

// How far the duplicate finder's reading has come. `finished` is set on the last report, whose
// `elapsed` is the whole time spent reading and hashing.
struct HashProgress {
    enum class Stage { samples, contents };
    Stage stage = Stage::samples;
    uint64_t filesDone = 0;
    uint64_t filesTotal = 0;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    std::chrono::nanoseconds elapsed{0};
    bool finished = false;
};

class ShorelineContext {
public:
    using Node = quenwick::FileTree::Node;
    using Clock = std::chrono::system_clock;
    // When the user last opened the file at a path (exact bytes), if known.
    using LastUsedFunction = std::function<std::optional<Clock::time_point>(const std::string&)>;

    // The given fields, `now` read from the clock once, `lastUsed` = LastUsed::spotlight(), the
    // XDG folders at their defaults below home, and the environment's locale.
    ShorelineContext(std::shared_ptr<const quenwick::FileTree> tree, std::string_view home,
                     quenwick::DeletionGuard guardian);

    // The same for the current user: home, $XDG_CACHE_HOME, $XDG_DATA_HOME and the user folders
    // named in user-dirs.dirs read from the environment.
    [[nodiscard]] static ShorelineContext forCurrentUser(
        std::shared_ptr<const quenwick::FileTree> tree, quenwick::DeletionGuard guardian);

    std::shared_ptr<const quenwick::FileTree> tree;
    std::string home;
    quenwick::DeletionGuard guardian;
    Clock::time_point now;
    // Names of running applications (executable names and Flatpak ids); their caches stay.
    std::set<std::string> runningBundleIDs;
    LastUsedFunction lastUsed;
    uint64_t duplicateMinBytes = 52'428'800;
    uint64_t largeFileMinBytes = 524'288'000;

    // Where Linux keeps per-user caches and application data ($XDG_CACHE_HOME, $XDG_DATA_HOME).
    std::string cacheHome;
    std::string dataHome;
    // The user folders by their user-dirs.dirs key ("DOWNLOAD", "VIDEOS", ...), translated names
    // included. Only the keys that are set; the folders' usual English names work regardless.
    std::map<std::string, std::string> userDirs;
    // The app's own folders ($XDG_CACHE_HOME/Brimvale, $XDG_DATA_HOME/Brimvale): never findings,
    // nor anything that holds them.
    std::vector<std::string> ownFolders;
    // Grouping of the numbers in reason texts.
    std::locale locale;
    // Threads that hash files at once; 0 means one per processor.
    int hashThreads = 0;
    std::function<void(const HashProgress&)> onHashProgress;

    // The node at an absolute path, or none.
    [[nodiscard]] Node nodeAt(std::string_view absolutePath) const;
    // The node at home + "/" + relativePath, or none.
    [[nodiscard]] Node node(std::string_view relativePath) const;
    // The live children of the node at home + "/" + relativePath; empty when it is not in the tree.
    [[nodiscard]] std::vector<Node> children(std::string_view relativePath) const;
    // The live children of the node at an absolute path; empty when it is not in the tree.
    [[nodiscard]] std::vector<Node> childrenAt(std::string_view absolutePath) const;

    // Whole days from the node's modification time to `now`, truncated toward zero (negative for
    // a time in the future).
    [[nodiscard]] int64_t ageInDays(Node n) const;
    // Whole days from a time (seconds since 1970) to `now`, truncated toward zero.
    [[nodiscard]] int64_t daysSince(int64_t secondsSince1970) const;
    // The smaller of the days since `lastUsed` says the node was opened and its age; its age alone
    // when `lastUsed` has no answer.
    [[nodiscard]] int64_t idleDays(Node n) const;

    // A whole number with the locale's digit grouping ("1,204" in English).
    [[nodiscard]] std::string groupedNumber(int64_t n) const;
    // "1 day", or the grouped number followed by " days".
    [[nodiscard]] std::string agePhrase(int64_t days) const;

    // The folders that play a standard folder's part: home + "/" + englishName, then the XDG user
    // folder of that key when it is set to another place than the home folder itself.
    [[nodiscard]] std::vector<std::string> standardFolders(std::string_view englishName,
                                                           std::string_view xdgKey) const;
    // home + "/" + relativePath ("/" + relativePath for a home of "/").
    [[nodiscard]] std::string inHome(std::string_view relativePath) const;
};

}  // namespace shoreline
