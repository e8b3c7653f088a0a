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

// The command line's end of the helper connection: the blocking form of HelperSession (see
// there for what a conversation with the helper checks), run in an event thread of the library's
// own. The process must have a QCoreApplication (made by the caller, on any thread; the library
// makes none); without one every request fails with a connection error.
//
// The requests block the calling thread; never call them from the thread of an event loop that
// should keep turning (a window uses HelperSession). cancel() and invalidate() may be called
// from any thread while a request waits. Progress callbacks run on the client's event thread.
// A client is used for one handshake or one scan, then invalidated; destroying it invalidates it.
namespace helperkit {

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
