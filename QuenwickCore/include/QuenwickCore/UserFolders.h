#pragma once

#include <map>
#include <string>

// Where the current user's files live, from the environment as the XDG base-directory rules say.
// A relative or empty variable is ignored, as those rules require. Pure functions of the
// environment; thread-safe as long as nobody changes the environment meanwhile.
namespace quenwick::userFolders {

// $HOME, or the password database's entry for the current user, or "/" as a last resort. Never
// ends in "/" unless it is "/".
[[nodiscard]] std::string home();

// $XDG_DATA_HOME, default home()/.local/share: where the app keeps its data ("Application
// Support").
[[nodiscard]] std::string dataHome();

// $XDG_CACHE_HOME, default home()/.cache.
[[nodiscard]] std::string cacheHome();

// $XDG_CONFIG_HOME, default home()/.config.
[[nodiscard]] std::string configHome();

// The user folders that configHome/user-dirs.dirs names, by the key between "XDG_" and "_DIR"
// ("DOWNLOAD", "VIDEOS", ...), as xdg-user-dir reads them: "$HOME" expands to home, and values
// that are not then absolute are left out. Folders the file does not name are absent (no
// defaults); an unreadable file gives an empty map. Paths are kept as written otherwise.
[[nodiscard]] std::map<std::string, std::string> userDirs(const std::string& configHome,
                                                          const std::string& home);

}  // namespace quenwick::userFolders
