#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/GuardVerdict.h"

// DeletionGuard decides, for one absolute path, whether the user may remove it at all and whether
// the removal deserves a warning. It never removes anything and never throws. Paths are judged
// after resolution ("." dropped, repeated slashes collapsed, no trailing "/", and ".." applied as
// the kernel applies it: after a symbolic link, to the parent of the link's target), and the
// allowed removal carries that resolved path, so verdict and removal concern the same item. A
// symbolic link as the last component is judged as the link itself, while links earlier in the
// path are followed and the real location is judged too, and a target or folder above it that is
// a protected location under another name (same device and inode: a bind mount) is judged as that
// location, so a harmless-looking spelling cannot reach a protected place. A mount point of
// another volume counts as a whole volume.
//
// A value type, immutable after construction; copies share their lists. check() may be called from
// any thread. live() reads the machine once (home, user folders, running programs): make a fresh
// guard when a current view is needed.
namespace quenwick {

namespace detail {
struct GuardPolicy;
}

class DeletionGuard {
public:
    // True when the given normalised path is a running application (its executable or AppImage).
    using RunningAppTest = std::function<bool(const std::string&)>;

    // The user's own folders that the guard protects beside the home folder. Paths absolute.
    struct UserFolders {
        std::string dataHome;    // $XDG_DATA_HOME, holds the Trash and the app's own data
        std::string configHome;  // $XDG_CONFIG_HOME
        std::string cacheHome;   // $XDG_CACHE_HOME
        std::vector<std::string> userDirs;  // Desktop, Documents, ... where they really are
        // Other users' home folders, whose secret stores are blocked as well.
        std::vector<std::string> otherHomes;

        // The defaults below home, without reading the environment or any file.
        [[nodiscard]] static UserFolders defaultsFor(const std::string& home);
        // From the XDG variables and the user-dirs.dirs file of the current environment, with the
        // default folders kept as well. When the process runs as root, otherHomes holds every
        // home folder of the password database and every folder directly in /home.
        [[nodiscard]] static UserFolders current(const std::string& home);
    };

    DeletionGuard(std::string_view home, std::string_view appBundle, RunningAppTest isRunningApp);
    DeletionGuard(std::string_view home, std::string_view appBundle, RunningAppTest isRunningApp,
                  UserFolders folders);

    // The guard for this machine now: $HOME, this program ($APPIMAGE when it runs as one, else its
    // executable), the current user's running programs, and the current user folders.
    [[nodiscard]] static DeletionGuard live();

    [[nodiscard]] GuardVerdict check(std::string_view path) const;

    const std::string& home() const;
    const std::string& appBundle() const;

    // Lexical normalisation of an absolute path: "." dropped, ".." folded as text, repeated
    // slashes collapsed. Bytes are kept as they are.
    [[nodiscard]] static std::string normalise(std::string_view absolutePath);

    // The resolution the guard judges (see above); nullopt when a link before a ".." leads
    // nowhere, so the kernel could not resolve the path either.
    [[nodiscard]] static std::optional<std::string> resolve(std::string_view absolutePath);

    // Hidden folders directly in the home folder that tools rebuild by themselves.
    static const std::set<std::string>& regenerableDotFolders();

private:
    std::shared_ptr<const detail::GuardPolicy> policy_;
};

}  // namespace quenwick
