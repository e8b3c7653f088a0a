#include <cstdio>
#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/TideHistory.h"

namespace brimvale::cli {
namespace {

int runForecast(bool json) {
    const double now = quenwick::TideSummary::now();
    const auto days =
        quenwick::TideHistory::forecastDaysToFull(quenwick::TideHistory::standard().load(now), now);
    if (json) {
        nlohmann::ordered_json out;
        out["daysToFull"] = days ? nlohmann::ordered_json(*days) : nlohmann::ordered_json();
        printJson(out);
    } else if (!days) {
        std::cout << "No estimate: it needs 3 summaries from the last 14 days, spanning 2 days or "
                     "more, with use rising.\n";
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f", *days);
        std::cout << "At this rate the disk will be full in about " << text << " days.\n";
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto json = std::make_shared<bool>(false);
    auto* cmd = app.add_subcommand("forecast", "Estimate in how many days the disk will be full");
    cmd->add_flag("--json", *json, "Print one JSON document");
    return [json] { return runForecast(*json); };
});

}  // namespace
}  // namespace brimvale::cli
