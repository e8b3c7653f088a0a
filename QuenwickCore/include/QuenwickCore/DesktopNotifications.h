#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "QuenwickCore/TideAlerts.h"

// DesktopNotifications: shows notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus, or on a bus address given for tests). Each
// carries a default action and the hints "x-brimvale-section" (what a click opens) and
// "x-brimvale-identifier"; a second notification with the same identifier replaces the one this
// object showed before. Thread-safe; each post() blocks until the server answers or 3 seconds pass.
namespace quenwick {

class DesktopNotifications {
public:
    // An empty address means the session bus.
    explicit DesktopNotifications(std::string busAddress = {});
    ~DesktopNotifications();
    DesktopNotifications(const DesktopNotifications&) = delete;
    DesktopNotifications& operator=(const DesktopNotifications&) = delete;

    // The server's id of the shown notification, or nothing when no server took it.
    [[nodiscard]] std::optional<uint32_t> post(const TideNotification& notification);

private:
    std::string busAddress_;
    std::string connectionName_;
    std::mutex mutex_;
    std::map<std::string, uint32_t> shownIds_;
};

}  // namespace quenwick
