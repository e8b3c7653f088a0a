#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "QuenwickCore/Preferences.h"
#include "QuenwickCore/TideAlert.h"
#include "QuenwickCore/TideSummary.h"
#include "QuenwickCore/VolumeInfo.h"

// TideAlerts: when Space Watch warns, and with what words. evaluate() is a pure function of the
// volume's figures, the daily history and the time; the gate and post() add the user's switches
// ("alertLowSpace", "alertFillingFast", "alertBigGrowth", on unless set off) and a limit of one
// notification per kind per 24 hours, kept under "lastAlert." + kind in the Preferences.
// All functions are stateless; post() touches only the Preferences and the deliver callback.
namespace quenwick {

// What the desktop shows for one alert: `section` is the part of the app a click opens
// ("shoreline" for suggestions, "history" for Space Watch history).
struct TideNotification {
    std::string title;
    std::string body;
    std::string identifier;
    std::string section;
    bool operator==(const TideNotification&) const = default;
};

class TideAlerts {
public:
    // Alerts due now, in the order lowSpace, fillingFast, bigGrowth, each at most once. The history
    // is oldest first.
    [[nodiscard]] static std::vector<TideAlert> evaluate(const VolumeInfo& volume,
                                                         const std::vector<TideSummary>& history,
                                                         double now);

    // The texts of an alert; home is the user's home folder, shown as "~" at a path's start.
    [[nodiscard]] static TideNotification notification(const TideAlert& alert,
                                                       const std::string& home);

    // The preference keys of an alert's kind.
    [[nodiscard]] static std::string settingKey(const TideAlert& alert);
    [[nodiscard]] static std::string rateLimitKey(const TideAlert& alert);

    // Whether an alert would be posted now.
    enum class Gate { due, disabled, rateLimited };
    [[nodiscard]] static Gate gate(const TideAlert& alert, const Preferences& preferences,
                                   double now);

    // What became of a notification handed to the desktop: shown; refused by a notification
    // server that answered; or unanswered (no bus, no server, no answer in time).
    enum class Delivery { shown, refused, unanswered };

    // Posts each due alert: hands its notification to deliver, then records now as its kind's
    // last post when a server answered, whether it showed it or refused it (a refusal must not
    // nag). An unanswered alert is not recorded, so the next evaluation tries it again.
    struct Outcome {
        TideAlert alert;
        TideNotification notification;
        Gate gate = Gate::due;
        bool delivered = false;  // shown
        bool answered = false;   // shown or refused; false also when not handed over
    };
    // What post() would do now, without recording or delivering anything (delivered stays false).
    [[nodiscard]] static std::vector<Outcome> preview(const std::vector<TideAlert>& alerts,
                                                      const Preferences& preferences, double now,
                                                      const std::string& home);
    static std::vector<Outcome> post(
        const std::vector<TideAlert>& alerts, Preferences& preferences, double now,
        const std::string& home, const std::function<Delivery(const TideNotification&)>& deliver);
};

}  // namespace quenwick
