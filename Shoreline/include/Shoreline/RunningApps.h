#pragma once

#include <set>
#include <string>

// The names by which the current user's running applications own their caches: each process's
// executable name (the last component of /proc/<pid>/exe) and, for a Flatpak app, its
// application id. Read from /proc once per call; any thread.
namespace shoreline::RunningApps {

[[nodiscard]] std::set<std::string> identifiers();

}  // namespace shoreline::RunningApps
