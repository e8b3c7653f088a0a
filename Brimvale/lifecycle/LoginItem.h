#pragma once

#include <optional>
#include <string>

// LoginItem: "Open Brimvale at login" as an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/brimvale.desktop, whose Exec carries --autostart so that a start at
// login knows itself. Writes are atomic; a failure is written to standard error as
// "Brimvale login item: " and its description, and returned. Any thread; no state.
namespace brimvale::LoginItem {

[[nodiscard]] std::string entryPath(const std::string& configHome);
[[nodiscard]] bool isEnabled(const std::string& configHome);
// Writes (with program as the command) or removes the entry; the error's description on failure.
[[nodiscard]] std::optional<std::string> set(bool enabled, const std::string& configHome,
                                             const std::string& program);

// Whether this launch came from the login: the flag when the entry carries it; for an entry
// without it (written by hand or by an older version), a machine up for less than 600 seconds.
[[nodiscard]] bool startedAtLogin(bool autostartFlag, const std::string& configHome,
                                  std::optional<double> uptimeSeconds);
// The machine's uptime from /proc/uptime.
[[nodiscard]] std::optional<double> uptime();

}  // namespace brimvale::LoginItem
