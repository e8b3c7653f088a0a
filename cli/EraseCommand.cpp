#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/Eraser.h"
#include "RemovalSupport.h"

namespace brimvale::cli {
namespace {

int64_t milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

int runErase(const RemovalArgs& args) {
    const auto plan = planRemovals(args.paths, quenwick::DeletionGuard::live());
    const auto removals = allowedRemovals(plan);
    const std::string question = "Delete " + std::to_string(removals.size()) +
                                 (removals.size() == 1 ? " item" : " items") +
                                 " for good (this cannot be undone)";
    if (!confirmRemoval(plan, question, args)) return kExitFailed;

    const auto started = std::chrono::steady_clock::now();
    auto eraser = quenwick::Eraser::standard();
    auto erased = eraser->erase(removals);
    if (const auto* error = std::get_if<std::error_code>(&erased))
        return fail("cannot create the erasing folder " + eraser->staging() + ": " +
                    error->message());
    const auto& outcomes = std::get<std::vector<quenwick::EraseOutcome>>(erased);
    // Whatever an interrupted earlier run left behind goes too, now that this one is under way.
    eraser->resumePending();
    eraser->waitUntilIdle();
    const auto elapsed = std::chrono::steady_clock::now() - started;

    std::vector<RemovalResult> results;
    size_t next = 0;
    for (const auto& p : plan) {
        if (!p.verdict.isAllowed()) {
            results.push_back(refusedResult(p));
            continue;
        }
        const auto& o = outcomes[next++];
        RemovalResult result{o.url, p.verdict.allowed()->caution(), std::nullopt, std::nullopt,
                             milliseconds(o.deletedInPlace ? elapsed : o.elapsed)};
        if (o.error) {
            result.error = o.error->message;
        } else if (o.deletedInPlace) {
            // Deleted where it lay: only the disk can tell whether all of it went.
            struct stat st;
            if (lstat(o.url.c_str(), &st) == 0) result.error = "Could not be deleted completely";
        }
        results.push_back(std::move(result));
    }
    return reportRemoval(results, milliseconds(elapsed), args, "erased", "not erased");
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<RemovalArgs>();
    auto* cmd = app.add_subcommand("erase", "Delete files or folders for good, after the guard");
    addRemovalOptions(*cmd, *args);
    return [args] { return runErase(*args); };
});

}  // namespace
}  // namespace brimvale::cli
