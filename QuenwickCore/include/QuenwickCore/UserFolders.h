#pragma once

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

}  // namespace quenwick::userFolders
