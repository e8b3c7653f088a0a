#include "QuenwickCore/DeletionGuard.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "GuardPolicy.h"
#include "PercentEncoding.h"

namespace quenwick {
namespace detail {
namespace {

constexpr std::string_view kNotAbsolute = "Not an absolute path";
constexpr std::string_view kWholeVolume = "A whole volume can't be moved to the Trash";
constexpr std::string_view kTopLevel = "Top-level system folder";
constexpr std::string_view kSystem = "Part of the system";
constexpr std::string_view kStandardHome = "Standard folder in your home";
constexpr std::string_view kSecrets = "Holds passwords or keys";
constexpr std::string_view kItself = "Brimvale itself";
constexpr std::string_view kRunning = "This app is running — quit it first";
constexpr std::string_view kInLibrary =
    "Inside a Photos or Music library — remove items from within that app";
constexpr std::string_view kInApp =
    "Part of an app — removing it would break the app. Remove the whole app instead";
constexpr std::string_view kStructural = "Structural system folder";
constexpr std::string_view kInsideLibrary =
    "Structural folder inside Library — clean what's inside it instead";
constexpr std::string_view kCloudRoot = "A cloud storage provider's root folder";
constexpr std::string_view kOwnFolder = "Brimvale's own folder — it holds deletions in progress";
constexpr std::string_view kUnresolvable = "Can't be reached: a link on the way leads nowhere";

constexpr std::string_view kCloudCaution =
    "Stored in the cloud — deleting it also removes it from your other devices";
constexpr std::string_view kAppData = "App data — the app may lose settings, documents or history";
constexpr std::string_view kUninstalls = "Uninstalls this app";
constexpr std::string_view kShared = "Shared system-wide software or settings";
constexpr std::string_view kToolFolder = "Settings or data for a developer tool";
constexpr std::string_view kHistory =
    "Version history of a project. Anything not pushed elsewhere is lost";
constexpr std::string_view kSettingsFile = "A settings file for your shell or developer tools";

const std::vector<std::string_view> kTopLevelFolders = {
    "/Applications", "/Users", "/Library", "/private", "/var",   "/Volumes", "/opt",
    "/home",         "/root",  "/srv",     "/mnt",     "/media", "/tmp",     "/var/tmp"};

// Each location with everything inside it.
const std::vector<std::string_view> kSystemLocations = {
    "/System",      "/bin",       "/sbin",          "/usr",     "/private/var/db", "/var/db",
    "/private/etc", "/etc",       "/Library/Apple", "/dev",     "/cores",          "/boot",
    "/efi",         "/lib",       "/lib32",         "/lib64",   "/libx32",         "/proc",
    "/sys",         "/run",       "/snap",          "/var/lib", "/var/run",        "/var/lock",
    "/var/log",     "/var/spool", "/var/mail"};

const std::vector<std::string_view> kStandardHomeNames = {
    "Library",   "Documents", "Desktop", "Downloads",    "Movies",
    "Music",     "Pictures",  "Public",  "Applications", "Library/Mobile Documents",
    "Templates", "Videos",    ".config", ".local",       ".local/share",
    ".cache"};

const std::vector<std::string_view> kSecretNames = {".ssh",
                                                    ".gnupg",
                                                    "Library/Keychains",
                                                    ".local/share/keyrings",
                                                    ".local/share/kwalletd",
                                                    ".password-store",
                                                    ".pki",
                                                    ".aws",
                                                    ".kube"};

const std::vector<std::string_view> kRebuildableLibrary = {"Caches",
                                                           "Logs",
                                                           "Developer/Xcode/DerivedData",
                                                           "Developer/Xcode/iOS DeviceSupport",
                                                           "Developer/Xcode/Archives",
                                                           "Developer/CoreSimulator/Caches",
                                                           "pnpm/store"};

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// ".Trash", ".Trash-1000" and ".Trash/1000", the trash folders at the top of a volume.
bool isTopTrashName(const std::vector<std::string_view>& parts, size_t last) {
    const auto name = parts[last];
    if (name == ".Trash") return true;
    if (startsWith(name, ".Trash-") && allDigits(name.substr(7))) return true;
    return last > 0 && parts[last - 1] == ".Trash" && allDigits(name);
}

}  // namespace

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const auto piece = path.substr(0, slash);
        if (!piece.empty()) parts.push_back(piece);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

GuardPolicy::GuardPolicy(std::string_view homeIn, std::string_view bundleIn,
                         DeletionGuard::RunningAppTest running, DeletionGuard::UserFolders folders)
    : home(DeletionGuard::normalise(homeIn.empty() ? "/" : homeIn)),
      appBundle(bundleIn.empty() ? std::string() : DeletionGuard::normalise(bundleIn)),
      isRunningApp(std::move(running)) {
    // Every protected folder is kept in each spelling that can reach it: as written and, where a
    // link leads there, as its real path.
    const auto spellings = [](std::string_view path) {
        std::vector<std::string> out{DeletionGuard::normalise(path)};
        if (auto real = PathRules::realPath(out.front()); real && *real != out.front())
            out.push_back(*real);
        return out;
    };
    homes_ = spellings(home);
    const auto normalisedOr = [&](const std::string& path, std::string_view fallback) {
        return !path.empty() && path.front() == '/' ? DeletionGuard::normalise(path)
                                                    : PathRules::join(home, fallback);
    };
    const std::string dataHome = normalisedOr(folders.dataHome, ".local/share");
    const std::string configHome = normalisedOr(folders.configHome, ".config");
    const std::string cacheHome = normalisedOr(folders.cacheHome, ".cache");

    std::vector<std::string> standard;
    for (const auto& h : homes_) {
        standard.push_back(h);
        for (auto name : kStandardHomeNames)
            standard.push_back(PathRules::join(h, name));
        for (auto name : kSecretNames)
            for (auto& s : spellings(PathRules::join(h, name)))
                secretStores_.push_back(s);
        for (auto name : {"Library/Containers", "Library/Group Containers", "Library/CloudStorage"})
            structuralFolders_.insert(PathRules::join(h, name));
        libraryFolders_.insert(PathRules::join(h, "Library"));
        cloudFolders_.insert(PathRules::join(h, "Library/Mobile Documents"));
        cloudFolders_.insert(PathRules::join(h, "Library/CloudStorage"));
        homeLibraries_.push_back(PathRules::join(h, "Library"));
    }
    // Other users' secrets are no less secret to a tool running as root.
    for (const auto& other : folders.otherHomes) {
        if (other.empty() || other.front() != '/') continue;
        for (auto name : kSecretNames)
            for (auto& s : spellings(PathRules::join(DeletionGuard::normalise(other), name)))
                secretStores_.push_back(s);
    }
    libraryFolders_.insert("/Library");
    standard.insert(standard.end(), {dataHome, configHome, cacheHome});
    for (const auto& dir : folders.userDirs)
        if (!dir.empty() && dir.front() == '/') standard.push_back(dir);
    for (const auto& folder : standard)
        for (auto& s : spellings(folder))
            standardFolders_.insert(s);
    // Every folder that holds the home or one of its data folders would take them along.
    for (const auto& folder : standardFolders_) {
        const bool holdsUserData =
            std::find(homes_.begin(), homes_.end(), folder) != homes_.end() || folder == dataHome ||
            folder == configHome || folder == cacheHome;
        if (!holdsUserData) continue;
        for (auto parts = splitPath(folder); !parts.empty();) {
            parts.pop_back();
            if (parts.empty()) break;
            std::string ancestor;
            for (auto part : parts)
                ancestor += "/" + std::string(part);
            homeAncestors_.insert(ancestor);
        }
    }
    for (auto name : {"keyrings", "kwalletd"})
        for (auto& s : spellings(PathRules::join(dataHome, name)))
            secretStores_.push_back(s);
    for (const auto& trash : spellings(PathRules::join(dataHome, "Trash"))) {
        homeTrashes_.push_back(trash);
        homeTrashFolders_.insert({trash, trash + "/files", trash + "/info"});
    }
    for (const auto& d : {configHome, dataHome})
        for (auto& s : spellings(d))
            appDataFolders_.push_back(s);
    ownFolders_ = spellings(PathRules::join(cacheHome, "Brimvale"));
    erasingFolders_ = spellings(PathRules::join(cacheHome, "Brimvale/Erasing"));

    // A bind mount or another spelling the lists above cannot foresee still leads to the same
    // inode: remember what each protected location is, not only what it is called.
    for (const auto* list : {&homes_, &secretStores_, &ownFolders_, &erasingFolders_})
        for (const auto& path : *list)
            rememberIdentity(path);
    for (const auto* set : {&standardFolders_, &homeAncestors_, &structuralFolders_,
                            &homeTrashFolders_, &libraryFolders_, &cloudFolders_})
        for (const auto& path : *set)
            rememberIdentity(path);
    for (const auto* list : {&kSystemLocations, &kTopLevelFolders})
        for (auto path : *list)
            rememberIdentity(std::string(path));
}

bool GuardPolicy::isTrashFolder(const std::string& p,
                                const std::vector<std::string_view>& parts) const {
    if (homeTrashFolders_.count(p) != 0) return true;
    if (parts.empty()) return false;
    const size_t last = parts.size() - 1;
    if (isTopTrashName(parts, last)) return true;
    return (parts[last] == "files" || parts[last] == "info") && last > 0 &&
           isTopTrashName(parts, last - 1);
}

std::optional<std::string> GuardPolicy::blockReason(
    const std::string& p, const std::vector<std::string_view>& parts) const {
    if (p == "/" || (parts.size() == 2 && parts[0] == "Volumes")) return std::string(kWholeVolume);
    for (auto top : kTopLevelFolders)
        if (p == top) return std::string(kTopLevel);
    if (!startsWith(p, "/usr/local/")) {
        // Removable drives are mounted below /run/media/<user>/; what lies there is the user's.
        const bool onRemovableDrive = startsWith(p, "/run/media/") && parts.size() >= 4;
        for (auto location : kSystemLocations) {
            if (location == "/run" && onRemovableDrive) continue;
            if (PathRules::isAtOrBelow(p, location)) return std::string(kSystem);
        }
    }
    if (standardFolders_.count(p) != 0) return std::string(kStandardHome);
    if (homeAncestors_.count(p) != 0) return std::string(kStructural);
    for (const auto& secret : secretStores_)
        if (PathRules::isAtOrBelow(p, secret)) return std::string(kSecrets);
    for (const auto& own : ownFolders_)
        if (p == own) return std::string(kOwnFolder);
    for (const auto& erasing : erasingFolders_)
        if (PathRules::isAtOrBelow(p, erasing)) return std::string(kOwnFolder);
    if (!appBundle.empty() && PathRules::isAtOrBelow(p, appBundle)) return std::string(kItself);
    if (isRunningApp && isRunningApp(p)) return std::string(kRunning);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (endsWith(parts[i], ".photoslibrary") || endsWith(parts[i], ".musiclibrary"))
            return std::string(kInLibrary);
        if (endsWith(parts[i], ".app") && (parts[i + 1] == "Contents" || parts[i + 1] == "Wrapper"))
            return std::string(kInApp);
    }
    if (structuralFolders_.count(p) != 0 || isTrashFolder(p, parts))
        return std::string(kStructural);
    const std::string parent(PathRules::parentOf(p));
    if (libraryFolders_.count(parent) != 0) return std::string(kInsideLibrary);
    if (cloudFolders_.count(parent) != 0) return std::string(kCloudRoot);
    return std::nullopt;
}

std::optional<std::string> GuardPolicy::cautionFor(const std::string& p,
                                                   const std::string& parent) const {
    for (const auto& cloud : cloudFolders_)
        if (startsWith(p, cloud + "/")) return std::string(kCloudCaution);
    if (const std::string_view name = PathRules::lastComponent(p);
        name == ".git" || name == ".hg" || name == ".svn")
        return std::string(kHistory);
    for (const auto& library : homeLibraries_) {
        if (!startsWith(p, library + "/")) continue;
        const std::string rel = p.substr(library.size() + 1);
        const auto parts = splitPath(rel);
        const bool sandboxCache = parts.size() >= 5 && parts[0] == "Containers" &&
                                  parts[2] == "Data" && parts[3] == "Library" &&
                                  parts[4] == "Caches";
        bool rebuildable = sandboxCache;
        for (auto location : kRebuildableLibrary)
            rebuildable = rebuildable || PathRules::isAtOrBelow(rel, location);
        if (!rebuildable) return std::string(kAppData);
        break;
    }
    // Linux keeps what the Library's settings and support folders hold in the XDG folders; the
    // Trash lives there too, and what lies in it is no app's data.
    bool inTrash = false;
    for (const auto& trash : homeTrashes_)
        inTrash = inTrash || startsWith(p, trash + "/");
    for (const auto& folder : appDataFolders_)
        if (!inTrash && startsWith(p, folder + "/")) return std::string(kAppData);
    if (startsWith(p, "/Applications/") && endsWith(p, ".app")) return std::string(kUninstalls);
    if (parent == "/opt" || endsWith(p, ".AppImage")) return std::string(kUninstalls);
    if (startsWith(p, "/Library/") || startsWith(p, "/usr/local/") || startsWith(p, "/opt/"))
        return std::string(kShared);
    for (const auto& h : homes_) {
        if (parent != h) continue;
        const std::string name = std::string(PathRules::lastComponent(p));
        if (name.empty() || name.front() != '.') break;
        if (DeletionGuard::regenerableDotFolders().count(name) != 0) return std::nullopt;
        return std::string(isDirectory(p) ? kToolFolder : kSettingsFile);
    }
    return std::nullopt;
}

GuardPolicy::TextVerdict GuardPolicy::judgeText(const std::string& p) const {
    const auto parts = splitPath(p);
    if (auto reason = blockReason(p, parts)) return {std::move(reason), std::nullopt};
    return {std::nullopt, cautionFor(p, std::string(PathRules::parentOf(p)))};
}

GuardVerdict GuardPolicy::check(std::string_view path) const {
    // A NUL byte would cut the path short at the system call, far from what was judged.
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos)
        return GuardVerdict(GuardVerdict::Blocked{std::string(kNotAbsolute)});
    // ".." after a link is applied as the kernel applies it, so the path judged here is the path
    // the removal acts on.
    const auto resolved = resolveDotDot(path);
    if (!resolved) return GuardVerdict(GuardVerdict::Blocked{std::string(kUnresolvable)});
    const std::string& p = *resolved;
    auto verdict = judgeText(p);
    if (verdict.blocked) return GuardVerdict(GuardVerdict::Blocked{*verdict.blocked});
    if (p != "/") {
        const auto judgeAlso = [&](const std::string& spelling) {
            const auto other = judgeText(spelling);
            if (!verdict.caution) verdict.caution = other.caution;
            return other.blocked;
        };
        // Links before the last component are followed: the real place is judged as well.
        const std::string parent(PathRules::parentOf(p));
        if (auto real = PathRules::realPath(parent); real && *real != parent)
            if (auto reason = judgeAlso(PathRules::join(*real, PathRules::lastComponent(p))))
                return GuardVerdict(GuardVerdict::Blocked{*reason});
        // A protected location under another name (a bind mount) is judged as that location.
        if (auto same = sameAsProtected(p); same && *same != p)
            if (auto reason = judgeAlso(*same)) return GuardVerdict(GuardVerdict::Blocked{*reason});
        if (isMountPoint(p)) return GuardVerdict(GuardVerdict::Blocked{std::string(kWholeVolume)});
    }
    return GuardVerdict(GuardedRemoval(p, std::move(verdict.caution), shared_from_this()));
}

}  // namespace detail

std::string GuardedRemoval::url() const {
    return "file://" + detail::percentEncode(path_);
}

GuardVerdict GuardedRemoval::recheck() const {
    return guard_->check(path_);
}

GuardVerdict GuardedRemoval::recheckAt(std::string_view path) const {
    return guard_->check(path);
}

DeletionGuard::DeletionGuard(std::string_view home, std::string_view appBundle,
                             RunningAppTest isRunningApp)
    : DeletionGuard(home, appBundle, std::move(isRunningApp),
                    UserFolders::defaultsFor(normalise(home.empty() ? "/" : home))) {}

DeletionGuard::DeletionGuard(std::string_view home, std::string_view appBundle,
                             RunningAppTest isRunningApp, UserFolders folders)
    : policy_(std::make_shared<detail::GuardPolicy>(home, appBundle, std::move(isRunningApp),
                                                    std::move(folders))) {}

GuardVerdict DeletionGuard::check(std::string_view path) const {
    return policy_->check(path);
}

const std::string& DeletionGuard::home() const {
    return policy_->home;
}

const std::string& DeletionGuard::appBundle() const {
    return policy_->appBundle;
}

std::string DeletionGuard::normalise(std::string_view path) {
    std::vector<std::string_view> parts;
    for (auto piece : detail::splitPath(path)) {
        if (piece == ".") continue;
        if (piece == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(piece);
    }
    if (parts.empty()) return "/";
    std::string out;
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    return out;
}

std::optional<std::string> DeletionGuard::resolve(std::string_view path) {
    return detail::resolveDotDot(path);
}

const std::set<std::string>& DeletionGuard::regenerableDotFolders() {
    static const std::set<std::string> names = {
        ".npm",  ".gradle",     ".cache", ".cocoapods", ".pub-cache",
        ".yarn", ".pnpm-store", ".nuget", ".m2",        ".bun"};
    return names;
}

DeletionGuard::UserFolders DeletionGuard::UserFolders::defaultsFor(const std::string& home) {
    const auto in = [&](std::string_view name) { return PathRules::join(home, name); };
    UserFolders folders{in(".local/share"), in(".config"), in(".cache"), {}, {}};
    for (auto name : {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Public",
                      "Templates", "Videos"})
        folders.userDirs.push_back(in(name));
    return folders;
}

}  // namespace quenwick
