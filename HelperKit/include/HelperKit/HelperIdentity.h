#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the helper and its client must agree on: the bus name, the object and interfaces of the
// two message protocols, the polkit action that guards a scan, the batch size and the version
// handshake. Constants and pure functions; thread-safe.
namespace helperkit::HelperIdentity {

// The well-known system-bus name the helper owns; only root may own it (bus policy).
inline constexpr std::string_view machService = "app.brimvale.helper";

// The object the helper exports, and the interface of its methods (Version, Scan, Cancel).
inline constexpr std::string_view helperObjectPath = "/app/brimvale/helper";
inline constexpr std::string_view helperInterface = "app.brimvale.helper.QuenwickHelper";

// The object every client exports on its own connection, and the interface of the callbacks
// (Progress, Receive) the helper sends to the calling client alone.
inline constexpr std::string_view clientObjectPath = "/app/brimvale/helper/client";
inline constexpr std::string_view clientInterface = "app.brimvale.helper.QuenwickHelperClient";

// The polkit action the helper checks for the caller before every scan.
inline constexpr std::string_view scanAction = "app.brimvale.helper.scan";

// The only user that may own machService as far as the client is concerned.
inline constexpr uint32_t helperUid = 0;

inline constexpr int protocolVersion = 1;

// The helper program's batch size: 1 MiB.
inline constexpr int64_t batchSize = 1048576;

// "<protocolVersion>/<build>", e.g. "1/42".
[[nodiscard]] std::string versionString(std::string_view build);

// The installed version of this build, the same for the helper and the app of one package;
// "0" when the build carries none.
[[nodiscard]] std::string installedBuild();

}  // namespace helperkit::HelperIdentity
