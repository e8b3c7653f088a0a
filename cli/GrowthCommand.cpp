#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/TideHistory.h"

namespace brimvale::cli {
namespace {

struct GrowthArgs {
    int64_t days = 7;
    bool json = false;
};

std::string signedBytes(int64_t bytes) {
    const uint64_t magnitude =
        bytes < 0 ? uint64_t{0} - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
    return (bytes < 0 ? "-" : "+") + quenwick::formatBytes(magnitude);
}

int runGrowth(const GrowthArgs& args) {
    const auto grown =
        quenwick::TideHistory::growthOverDays(quenwick::TideHistory::standard().load(), args.days);
    if (args.json) {
        auto list = nlohmann::ordered_json::array();
        for (const auto& g : grown)
            list.push_back({{"path", g.path}, {"bytes", g.bytes}});
        printJson(list);
        return kExitOk;
    }
    if (grown.empty()) {
        std::cout << "Nothing grew by 100 MB or more in the last " << args.days << " days.\n";
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& g : grown)
        rows.push_back({signedBytes(g.bytes), g.path});
    printTable(rows, {true, false});
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<GrowthArgs>();
    auto* cmd = app.add_subcommand("growth", "List the folders that grew in the last days");
    cmd->add_option("--days", args->days, "How many days back to compare with")
        ->default_val(7)
        ->check(wholeNumber(0, 100'000));
    cmd->add_flag("--json", args->json, "Print one JSON document");
    return [args] { return runGrowth(*args); };
});

}  // namespace
}  // namespace brimvale::cli
