#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "HelperKit/HelperEndpoint.h"
#include "HelperKit/HelperError.h"

// The app's asynchronous end of the helper connection, for a window: nothing it does waits.
// A session lives in the thread that creates it, which must run a Qt event loop (the app's own
// QCoreApplication/QGuiApplication loop, or a QThread's); every member is called from that thread
// and every callback runs there, from that loop, never from inside the call that started the
// request.
//
// Like HelperClient (its blocking form for the command line), a session has a connection of its
// own to the bus (the helper and polkit see it as one caller), finds the owner of the helper's
// name for each request (asking the bus to start the helper when nobody owns it), accepts it only
// when it runs as endpoint.requiredOwnerUid, talks to that unique name alone and accepts batches
// and progress from it alone.
//
// Each request ends with exactly one call of its `done` callback, unless the session is destroyed
// first: destroying a session drops every callback still due (the caller gave up), tells a running
// scan to stop and closes the connection, so a helper answering afterwards reaches nobody.
namespace helperkit {

class HelperSession {
public:
    using ProgressCallback = std::function<void(int64_t files, int64_t bytes)>;
    using VersionCallback = std::function<void(std::variant<std::string, HelperError>)>;
    using HandshakeCallback = std::function<void(std::optional<HelperError>)>;
    using ScanCallback = std::function<void(std::variant<std::vector<uint8_t>, HelperError>)>;

    // Starts connecting at once, off this thread.
    explicit HelperSession(HelperEndpoint endpoint);
    ~HelperSession();
    HelperSession(const HelperSession&) = delete;
    HelperSession& operator=(const HelperSession&) = delete;

    // The helper's version string.
    void version(VersionCallback done);

    // Nothing when the helper answers HelperIdentity::versionString(expectedBuild); otherwise a
    // connection error that says what was found.
    void handshake(const std::string& expectedBuild, HandshakeCallback done);

    // Asks the helper to scan path (absolute, exact bytes); done receives the snapshot bytes.
    // Progress reports arrive while the helper scans. One scan at a time per session: the helper
    // refuses a second one while the first runs.
    void scan(const std::string& path, ProgressCallback progress, ScanCallback done);

    // Stops this session's scans: one already with the helper ends when the helper answers
    // ("Cancelled"), one still finding the helper ends with HelperError::helper("Cancelled")
    // without reaching it.
    void cancel();

    // Closes the connection; every pending request ends with a connection error.
    void close();

    // This session's unique name on the bus (the caller the helper and polkit see); empty until
    // connected and after close().
    [[nodiscard]] std::string uniqueName() const;

    struct Core;

private:
    std::unique_ptr<Core> core_;
};

}  // namespace helperkit
