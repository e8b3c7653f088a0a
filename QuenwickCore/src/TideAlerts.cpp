#include "QuenwickCore/TideAlerts.h"
#include "QuenwickCore/PathRules.h"

#include <algorithm>
#include <cmath>

#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/HomePath.h"
#include "QuenwickCore/TideHistory.h"

namespace quenwick {
namespace {

constexpr uint64_t kLowSpaceFloor = 20'000'000'000;
constexpr double kFillingFastDays = 7.0;
constexpr double kBigGrowthWindow = 129'600;  // 36 hours
constexpr int64_t kBigGrowthMinDelta = 5'000'000'000;
constexpr double kRateLimit = 86'400;

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

std::vector<TideAlert> TideAlerts::evaluate(const VolumeInfo& volume,
                                            const std::vector<TideSummary>& history, double now) {
    std::vector<TideAlert> alerts;
    const uint64_t threshold = std::max(volume.total / 10, kLowSpaceFloor);
    if (volume.availableForImportantUsage < threshold) {
        alerts.push_back(TideAlert::lowSpace(volume.availableForImportantUsage));
    }

    const auto days = TideHistory::forecastDaysToFull(history, now);
    if (days && *days < kFillingFastDays) {
        alerts.push_back(TideAlert::fillingFast(static_cast<int64_t>(std::floor(*days))));
    }

    if (history.size() >= 2) {
        const auto& previous = history[history.size() - 2];
        const auto& last = history.back();
        if (last.date - previous.date <= kBigGrowthWindow) {
            const auto grown = TideHistory::growth(previous, last, kBigGrowthMinDelta);
            if (!grown.empty())
                alerts.push_back(TideAlert::bigGrowth(grown[0].path, grown[0].bytes));
        }
    }
    return alerts;
}

TideNotification TideAlerts::notification(const TideAlert& alert, const std::string& home) {
    TideNotification n;
    n.identifier = std::string(alert.kind());
    std::visit(Overloaded{
                   [&](const TideAlert::LowSpace& a) {
                       n.title = "Your disk is nearly full";
                       n.body = "Only " + formatBytes(a.free) +
                                " left. Suggestions can show you what's safe to remove.";
                       n.section = "shoreline";
                   },
                   [&](const TideAlert::FillingFast& a) {
                       n.title = "Your disk is filling up fast";
                       n.body = a.days > 1 ? "At this rate it will be full in about " +
                                                 std::to_string(a.days) + " days."
                                           : "At this rate it will be full within a day.";
                       n.section = "history";
                   },
                   [&](const TideAlert::BigGrowth& a) {
                       const uint64_t shown = a.bytes > 0 ? static_cast<uint64_t>(a.bytes) : 0;
                       n.title = std::string(PathRules::lastComponent(a.path)) + " grew by " +
                                 formatBytes(shown) + " today";
                       n.body = PathRules::abbreviatingHome(a.path, home);
                       n.section = "history";
                   },
               },
               alert.value);
    return n;
}

std::string TideAlerts::settingKey(const TideAlert& alert) {
    std::string key = "alert" + std::string(alert.kind());
    key[5] = static_cast<char>(key[5] - 'a' + 'A');
    return key;
}

std::string TideAlerts::rateLimitKey(const TideAlert& alert) {
    return "lastAlert." + std::string(alert.kind());
}

TideAlerts::Gate TideAlerts::gate(const TideAlert& alert, const Preferences& preferences,
                                  double now) {
    if (!preferences.boolean(settingKey(alert)).value_or(true)) return Gate::disabled;
    const auto last = preferences.timestamp(rateLimitKey(alert));
    // A stamp more than a day ahead was written while the clock ran ahead; honouring it would
    // silence the alert until the clock caught up, so it counts as no stamp.
    if (last && now - *last < kRateLimit && *last - now < kRateLimit) return Gate::rateLimited;
    return Gate::due;
}

std::vector<TideAlerts::Outcome> TideAlerts::preview(const std::vector<TideAlert>& alerts,
                                                     const Preferences& preferences, double now,
                                                     const std::string& home) {
    std::vector<Outcome> outcomes;
    for (const auto& alert : alerts)
        outcomes.push_back({alert, notification(alert, home), gate(alert, preferences, now)});
    return outcomes;
}

std::vector<TideAlerts::Outcome> TideAlerts::post(
    const std::vector<TideAlert>& alerts, Preferences& preferences, double now,
    const std::string& home, const std::function<Delivery(const TideNotification&)>& deliver) {
    auto outcomes = preview(alerts, preferences, now, home);
    for (auto& outcome : outcomes) {
        if (outcome.gate != Gate::due || !deliver) continue;
        const Delivery delivery = deliver(outcome.notification);
        outcome.delivered = delivery == Delivery::shown;
        outcome.answered = delivery != Delivery::unanswered;
        // One notification a day per kind, even when the desktop refuses them; but one that
        // reached nobody was never seen, and is tried again at the next evaluation.
        if (outcome.answered) {
            preferences.setTimestamp(rateLimitKey(outcome.alert), now);
            (void)preferences.sync();
        }
    }
    return outcomes;
}

}  // namespace quenwick
