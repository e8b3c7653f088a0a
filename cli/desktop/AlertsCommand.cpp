#include <iostream>
#include <variant>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QtApplication.h"
#include "QuenwickCore/DesktopNotifications.h"
#include "QuenwickCore/TideAlerts.h"
#include "QuenwickCore/TideHistory.h"
#include "QuenwickCore/UserFolders.h"

namespace brimvale::cli {
namespace {

struct AlertsArgs {
    bool json = false;
    bool post = false;
};

std::string status(const quenwick::TideAlerts::Outcome& outcome, bool posting) {
    using Gate = quenwick::TideAlerts::Gate;
    switch (outcome.gate) {
        case Gate::disabled:
            return "disabled";
        case Gate::rateLimited:
            return "rateLimited";
        case Gate::due:
            break;
    }
    if (!posting) return "wouldPost";
    if (outcome.delivered) return "posted";
    // Nobody answered: the daily limit was not recorded, the next evaluation tries again.
    return outcome.answered ? "notDelivered" : "noServer";
}

nlohmann::ordered_json alertJson(const quenwick::TideAlerts::Outcome& outcome, bool posting) {
    nlohmann::ordered_json json;
    json["kind"] = outcome.alert.kind();
    if (const auto* low = std::get_if<quenwick::TideAlert::LowSpace>(&outcome.alert.value)) {
        json["free"] = low->free;
    } else if (const auto* fast =
                   std::get_if<quenwick::TideAlert::FillingFast>(&outcome.alert.value)) {
        json["days"] = fast->days;
    } else if (const auto* big =
                   std::get_if<quenwick::TideAlert::BigGrowth>(&outcome.alert.value)) {
        json["path"] = big->path;
        json["bytes"] = big->bytes;
    }
    json["title"] = outcome.notification.title;
    json["body"] = outcome.notification.body;
    json["identifier"] = outcome.notification.identifier;
    json["section"] = outcome.notification.section;
    json["status"] = status(outcome, posting);
    return json;
}

int runAlerts(const AlertsArgs& args) {
    const QtApplication qt;
    const auto volume = quenwick::VolumeInfo::containing("/");
    if (!volume) return fail("cannot read the figures of the startup volume");
    const double now = quenwick::TideSummary::now();
    const auto alerts =
        quenwick::TideAlerts::evaluate(*volume, quenwick::TideHistory::standard().load(now), now);
    const std::string home = quenwick::userFolders::home();
    auto preferences = quenwick::Preferences::standard();

    std::vector<quenwick::TideAlerts::Outcome> outcomes;
    if (args.post) {
        quenwick::DesktopNotifications notifications;
        outcomes = quenwick::TideAlerts::post(
            alerts, preferences, now, home,
            [&](const quenwick::TideNotification& n) { return notifications.post(n).delivery; });
    } else {
        outcomes = quenwick::TideAlerts::preview(alerts, preferences, now, home);
    }

    if (args.json) {
        auto list = nlohmann::ordered_json::array();
        for (const auto& outcome : outcomes)
            list.push_back(alertJson(outcome, args.post));
        printJson(list);
        return kExitOk;
    }
    if (outcomes.empty()) std::cout << "No alerts.\n";
    for (const auto& outcome : outcomes) {
        std::cout << terminalText(outcome.notification.title) << " (" << status(outcome, args.post)
                  << ")\n  " << terminalText(outcome.notification.body) << '\n';
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<AlertsArgs>();
    auto* cmd = app.add_subcommand(
        "alerts", "Evaluate the Space Watch alerts now and show what would be posted");
    cmd->add_flag("--json", args->json, "Print one JSON document");
    cmd->add_flag("--post", args->post,
                  "Post the due alerts as desktop notifications and record the daily limit");
    return [args] { return runAlerts(*args); };
});

}  // namespace
}  // namespace brimvale::cli
