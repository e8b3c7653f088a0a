#pragma once

#include <optional>
#include <string>

// The helper's own confinement, applied at start-up whoever launched it (systemd, or a bus
// without systemd that gives it full root): of all capabilities only CAP_DAC_READ_SEARCH stays
// (reading and listing what the user cannot), in the effective, permitted and bounding sets,
// none is inheritable or ambient, and no program it might run could gain privileges
// (no_new_privs). Call once, before any thread starts.
namespace helperkit {

// Nothing on success; otherwise what could not be dropped (the helper must then not serve).
[[nodiscard]] std::optional<std::string> keepOnlyReadSearchCapability();

}  // namespace helperkit
