#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "QuenwickCore/TideAlerts.h"

class QObject;

// DesktopNotifications: shows notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus, or on a bus address given for tests). Each
// carries a default action and the hints "x-brimvale-section" (what a click opens) and
// "x-brimvale-identifier"; a second notification with the same identifier replaces the one this
// object showed before.
//
// Two forms: post() blocks its caller until the server answers or 3 seconds pass (the command
// line); postAsync() returns at once and answers on a context object's thread (a window). Posts of
// one process go out one after another, in the order they were made, from a thread of the
// library's own. Thread-safe. Destroying the object drops nothing already posted: a post under
// way still reaches the server, and its answer still reaches a living context.
namespace quenwick {

class DesktopNotifications {
public:
    struct Posted {
        TideAlerts::Delivery delivery = TideAlerts::Delivery::unanswered;
        std::optional<uint32_t> id;  // the server's id when it showed the notification
    };
    using PostCallback = std::function<void(Posted)>;
    // The server's id of a notification this object showed and the action's key ("default" for
    // a click on the notification itself).
    using ActionCallback = std::function<void(uint32_t id, const std::string& action)>;

    // An empty address means the session bus.
    explicit DesktopNotifications(std::string busAddress = {});
    ~DesktopNotifications();
    DesktopNotifications(const DesktopNotifications&) = delete;
    DesktopNotifications& operator=(const DesktopNotifications&) = delete;

    [[nodiscard]] Posted post(const TideNotification& notification);

    // Posts without waiting. Call it from context's thread, which must run a Qt event loop: done
    // runs there once, from that loop, unless context is destroyed first.
    void postAsync(const TideNotification& notification, QObject* context, PostCallback done);

    // From now on, while context lives, calls onAction on context's thread (from its event loop)
    // whenever the server reports an action invoked on a notification this object showed. Call
    // it from context's thread; the subscription is made without waiting for the bus.
    void watchActions(QObject* context, ActionCallback onAction);

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace quenwick
