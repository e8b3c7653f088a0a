#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "HelperKit/HelperEndpoint.h"
#include "HelperKit/HelperError.h"
#include "TestSupport.h"

// A private dbus-daemon standing in for the system bus, in a temporary folder: the system bus's
// default policy, the shipped policy of app.brimvale.helper, a service folder from which the bus
// itself starts brimvale-helper (and the test authority, bus-stand-in) on demand. While it
// exists, DBUS_SYSTEM_BUS_ADDRESS of this process points at it, so nothing reaches the real one.
namespace helperkit::testing {

struct PrivateBusOptions {
    double helperIdleSeconds = 60;
    // A test-only policy that lets uid 65534 own the helper's name, as the shipped one must not.
    bool letNobodyOwnHelperName = false;
    // False: the bus knows no helper service (as where it was never installed).
    bool installHelper = true;
};

class PrivateBus {
public:
    explicit PrivateBus(PrivateBusOptions options = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return daemon_ > 0; }
    const std::string& address() const { return address_; }

    // What the test authority answers from now on: "yes", "no", "yes 1.5" (after 1.5 s).
    void setAuthorityAnswer(const std::string& answer);
    // The calls the authority received, one "kind name action flags" line each.
    std::vector<std::string> authorityCalls() const;
    // The cancellations the authority received, one "cancel ID" line each.
    std::vector<std::string> authorityCancels() const;

    // The pid of the process owning name on this bus, if any (asked with dbus-send).
    std::optional<pid_t> ownerPid(const std::string& name) const;

    // Starts `bus-stand-in impostor`; its standard output is readable from the returned fd.
    pid_t startImpostor(int& stdoutFd);

private:
    quenwick::testing::TempDir dir_;
    std::string address_;
    std::optional<std::string> previousAddress_;
    pid_t daemon_ = -1;
};

// The endpoint of the helper on this bus.
HelperEndpoint endpointOn(const PrivateBus& bus);

// A small folder the helper can scan: files "one" and "sub/two" below root.
bool makeSmallTree(const std::string& root);

// A scan's error as the user reads it, or "(N bytes)" for a snapshot.
std::string errorText(const std::variant<std::vector<uint8_t>, HelperError>& result);

// Waits for a child of this process to end, up to timeoutMs; its exit status, or nothing.
std::optional<int> waitForExit(pid_t pid, int timeoutMs);

// True while a process with this pid exists (and is not a zombie of ours already reaped).
bool processAlive(pid_t pid);

}  // namespace helperkit::testing
