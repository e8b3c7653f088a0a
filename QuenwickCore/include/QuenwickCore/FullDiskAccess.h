#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Whether the process holds the system's blanket privilege to read protected user data, found
// by trying to open files that only such a process may open. Linux has no such privilege and
// none of the probe files, so on Linux the answer is `unknown`. Stateless; any thread.
namespace quenwick::FullDiskAccess {

enum class Status { granted, denied, unknown };

// The probe paths for a home folder, in the order they are tried.
[[nodiscard]] std::vector<std::string> probes(const std::string& home);

// The error code of opening path read-only and non-blocking, or 0 when it opened.
[[nodiscard]] int32_t tryOpen(const std::string& path);

// granted when any probe opens; else denied when any was refused (EPERM, EACCES); else unknown.
[[nodiscard]] Status status(const std::vector<std::string>& paths,
                            const std::function<int32_t(const std::string&)>& open);

// status() over probes() of the user's home folder with tryOpen.
[[nodiscard]] Status current();

}  // namespace quenwick::FullDiskAccess
