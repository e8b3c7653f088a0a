#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The helper's side: owns HelperIdentity::machService on the system bus, exports the helper
// object, authorizes every scan with polkit (the caller's unique bus name as the subject), runs
// at most one scan per caller, streams the snapshot to that caller alone, and ends the process's
// event loop after `idle` without a request or a running scan. Runs on the calling thread, which
// becomes the Qt event loop of the process; one service per process.
namespace helperkit {

struct HelperServiceOptions {
    std::string busAddress;  // empty: the system bus
    std::string build;       // reported in the version handshake
    int64_t batchSize = 1048576;
    std::chrono::milliseconds idle{120000};
    // The idle check's period after its first firing (which comes after `idle`).
    std::chrono::milliseconds idleTick{15000};
    unsigned encodeThreads = 1;  // threads for compressing the snapshot
};

// Runs the service until it has been idle for options.idle, or until the bus goes away.
// Returns the process's exit status: 0 after an idle exit, 1 when the bus or the name could not
// be had, 2 when the bus connection was lost.
[[nodiscard]] int runHelperService(int argc, char** argv, const HelperServiceOptions& options);

}  // namespace helperkit
