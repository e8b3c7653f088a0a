#include "Shoreline/ShorelineContext.h"

#include <climits>
#include <sstream>

#include "PathText.h"
#include "QuenwickCore/UserFolders.h"
#include "Shoreline/LastUsed.h"

namespace shoreline {
namespace {

using quenwick::DeletionGuard;
using quenwick::FileTree;

constexpr int64_t kSecondsPerDay = 86'400;

std::locale environmentLocale() {
    try {
        return std::locale("");
    } catch (const std::exception&) {
        // An unknown LANG must not stop an analysis; the classic locale just skips grouping.
        return std::locale::classic();
    }
}

int64_t secondsSinceEpoch(ShorelineContext::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

// Whole days from one time to another, truncated toward zero. Times come from files and may be
// anything: the difference saturates instead of overflowing.
int64_t wholeDaysBetween(int64_t fromSeconds, int64_t toSeconds) {
    int64_t seconds = 0;
    if (__builtin_sub_overflow(toSeconds, fromSeconds, &seconds))
        seconds = toSeconds < fromSeconds ? INT64_MIN : INT64_MAX;
    return seconds / kSecondsPerDay;
}

}  // namespace

ShorelineContext::ShorelineContext(std::shared_ptr<const FileTree> treeIn, std::string_view homeIn,
                                   DeletionGuard guardianIn)
    : tree(std::move(treeIn)),
      home(DeletionGuard::normalise(homeIn.empty() ? "/" : homeIn)),
      guardian(std::move(guardianIn)),
      now(Clock::now()),
      lastUsed(LastUsed::spotlight()),
      cacheHome(detail::join(home, ".cache")),
      dataHome(detail::join(home, ".local/share")),
      ownFolders{detail::join(cacheHome, "Brimvale"), detail::join(dataHome, "Brimvale")},
      locale(environmentLocale()) {}

ShorelineContext ShorelineContext::forCurrentUser(std::shared_ptr<const FileTree> tree,
                                                  DeletionGuard guardian) {
    namespace folders = quenwick::userFolders;
    ShorelineContext ctx(std::move(tree), folders::home(), std::move(guardian));
    ctx.cacheHome = DeletionGuard::normalise(folders::cacheHome());
    ctx.dataHome = DeletionGuard::normalise(folders::dataHome());
    ctx.ownFolders = {detail::join(ctx.cacheHome, "Brimvale"),
                      detail::join(ctx.dataHome, "Brimvale")};
    for (const auto& [key, path] : folders::userDirs(folders::configHome(), ctx.home))
        ctx.userDirs[key] = DeletionGuard::normalise(path);
    return ctx;
}

ShorelineContext::Node ShorelineContext::nodeAt(std::string_view absolutePath) const {
    if (!tree) return FileTree::none;
    return tree->nodeAtPath(absolutePath).value_or(FileTree::none);
}

ShorelineContext::Node ShorelineContext::node(std::string_view relativePath) const {
    return nodeAt(inHome(relativePath));
}

std::vector<ShorelineContext::Node> ShorelineContext::children(
    std::string_view relativePath) const {
    return childrenAt(inHome(relativePath));
}

std::vector<ShorelineContext::Node> ShorelineContext::childrenAt(
    std::string_view absolutePath) const {
    const Node n = nodeAt(absolutePath);
    if (n == FileTree::none) return {};
    return tree->children(n);
}

int64_t ShorelineContext::ageInDays(Node n) const {
    return daysSince(tree->mtime(n));
}

int64_t ShorelineContext::daysSince(int64_t secondsSince1970) const {
    return wholeDaysBetween(secondsSince1970, secondsSinceEpoch(now));
}

int64_t ShorelineContext::idleDays(Node n) const {
    const int64_t age = ageInDays(n);
    if (!lastUsed) return age;
    const auto used = lastUsed(tree->path(n));
    if (!used) return age;
    return std::min(daysSince(secondsSinceEpoch(*used)), age);
}

std::string ShorelineContext::groupedNumber(int64_t n) const {
    std::ostringstream out;
    out.imbue(locale);
    out << n;
    return out.str();
}

std::string ShorelineContext::agePhrase(int64_t days) const {
    if (days == 1) return "1 day";
    return groupedNumber(days) + " days";
}

std::vector<std::string> ShorelineContext::standardFolders(std::string_view englishName,
                                                           std::string_view xdgKey) const {
    std::vector<std::string> folders{inHome(englishName)};
    const auto it = userDirs.find(std::string(xdgKey));
    // A user folder set to the home folder itself means "not used" to xdg-user-dirs; taking it
    // at its word would make the whole home folder look like Downloads.
    if (it != userDirs.end() && it->second != home && it->second != folders.front())
        folders.push_back(it->second);
    return folders;
}

std::string ShorelineContext::inHome(std::string_view relativePath) const {
    return detail::join(home, relativePath);
}

}  // namespace shoreline
