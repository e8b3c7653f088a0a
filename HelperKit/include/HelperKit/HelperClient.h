#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "HelperKit/HelperError.h"

// The app's end of the helper connection. Each client has a connection of its own to the bus
// (so the helper sees it as one caller), finds the owner of the helper's name (asking the bus to
// start the helper when nobody owns it), accepts it only when it runs as uid 0, and talks to that
// owner's unique name alone. It exports the callback object on its connection and accepts
// callbacks only from that owner.
//
// One version request or one scan at a time per client; they block the calling thread (never
// call them from the thread of a Qt event loop the client needs: the client brings its own).
// cancel() and invalidate() may be called from any thread while a scan waits. Progress callbacks
// run on the client's messaging thread. A client is used for one handshake or one scan, then
// invalidated; destroying it invalidates it too.
namespace helperkit {

struct HelperEndpoint {
    std::string busAddress;  // empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the default)
    std::string serviceName = "app.brimvale.helper";
    std::optional<uint32_t> requiredOwnerUid = 0;  // absent: any owner is accepted
    std::chrono::milliseconds batchTimeout{30000};
};

class HelperClient {
public:
    using ProgressCallback = std::function<void(int64_t files, int64_t bytes)>;

    explicit HelperClient(HelperEndpoint endpoint);
    ~HelperClient();
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;

    // The helper on the system bus, which must be owned by root.
    [[nodiscard]] static std::unique_ptr<HelperClient> privileged();

    // The helper's version string.
    [[nodiscard]] std::variant<std::string, HelperError> version();

    // Nothing when the helper answers HelperIdentity::versionString(expectedBuild); otherwise
    // a connection error that says what was found.
    [[nodiscard]] std::optional<HelperError> handshake(const std::string& expectedBuild);

    // Asks the helper to scan path (absolute, exact bytes) and returns the snapshot bytes.
    [[nodiscard]] std::variant<std::vector<uint8_t>, HelperError> scan(
        const std::string& path, ProgressCallback progress = nullptr);

    // Asks the helper to stop this client's scan; fire and forget.
    void cancel();

    // Closes the connection; a scan waiting on it ends with a connection error.
    void invalidate();

    // This client's unique name on the bus (the caller the helper and polkit see); empty when
    // not connected.
    [[nodiscard]] std::string uniqueName() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace helperkit
