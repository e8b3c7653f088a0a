#include <memory>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/Utf8.h"
#include "RemovalSupport.h"

namespace brimvale::cli {
namespace {

struct CheckArgs {
    std::vector<std::string> paths;
    bool json = false;
};

int runCheck(const CheckArgs& args) {
    const auto plan = planRemovals(args.paths, quenwick::DeletionGuard::live());
    if (args.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& p : plan) {
            nlohmann::ordered_json item;
            if (const auto* removal = p.verdict.allowed()) {
                putPath(item, "path", removal->path());
                item["verdict"] = "allowed";
                if (removal->caution()) item["caution"] = *removal->caution();
            } else {
                putPath(item, "path", p.path);
                item["verdict"] = "blocked";
                item["reason"] = *p.verdict.blockedReason();
            }
            list.push_back(std::move(item));
        }
        printJson(list);
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& p : plan) {
        const std::string path = quenwick::utf8::display(p.path);
        if (const auto* reason = p.verdict.blockedReason()) {
            rows.push_back({path, "blocked", *reason});
        } else {
            const auto& caution = p.verdict.allowed()->caution();
            rows.push_back(caution ? std::vector<std::string>{path, "allowed", *caution}
                                   : std::vector<std::string>{path, "allowed"});
        }
    }
    printTable(rows, {false, false, false});
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<CheckArgs>();
    auto* cmd = app.add_subcommand("check", "Say whether paths may be removed, and why not");
    cmd->add_option("PATH", args->paths, "Paths to judge")->required();
    cmd->add_flag("--json", args->json, "Print one JSON document");
    return [args] { return runCheck(*args); };
});

}  // namespace
}  // namespace brimvale::cli
