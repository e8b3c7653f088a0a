#include <chrono>
#include <memory>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/TrashMove.h"
#include "RemovalSupport.h"

namespace brimvale::cli {
namespace {

int runTrash(const RemovalArgs& args) {
    const auto plan = planRemovals(args.paths, quenwick::DeletionGuard::live());
    const auto removals = allowedRemovals(plan);
    const std::string question =
        "Move " + counted(removals.size(), "item", "items") + " to the Trash";
    if (!confirmRemoval(plan, question, args)) return kExitFailed;

    const auto started = std::chrono::steady_clock::now();
    const auto outcomes =
        quenwick::TrashMove::moveToTrash(removals, quenwick::TrashLedger::standard()).outcomes;

    std::vector<RemovalResult> results;
    size_t next = 0;
    for (const auto& p : plan) {
        if (!p.verdict.isAllowed()) {
            results.push_back(refusedResult(p));
            continue;
        }
        const auto& o = outcomes[next++];
        results.push_back({o.original,
                           p.verdict.allowed()->caution(),
                           o.trashed,
                           o.error ? std::optional<std::string>(o.error->message) : std::nullopt,
                           std::nullopt,
                           std::nullopt,
                           {}});
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    return reportRemoval(results, elapsed.count(), args,
                         "moved to the Trash:", "not moved to the Trash");
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<RemovalArgs>();
    auto* cmd = app.add_subcommand("trash", "Move files or folders to the Trash, after the guard");
    addRemovalOptions(*cmd, *args);
    return [args] { return runTrash(*args); };
});

}  // namespace
}  // namespace brimvale::cli
