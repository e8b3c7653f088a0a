#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/Eraser.h"
#include "QuenwickCore/Utf8.h"
#include "RemovalSupport.h"

namespace brimvale::cli {
namespace {

using quenwick::utf8::display;

struct EraseArgs {
    RemovalArgs removal;
    bool pending = false;
    bool retry = false;
};

int64_t milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::string remainsText(const quenwick::EraseRemains& r) {
    return counted(r.entries, "item", "items") + " could not be deleted (left in " +
           display(r.location) + ")";
}

// Lists what waits in the erasing folder; with retry, tries every item of it again first.
int runPending(const EraseArgs& args) {
    auto eraser = quenwick::Eraser::standard();
    if (args.retry) {
        eraser->resumePending(quenwick::Eraser::Retry::remainsToo);
        eraser->waitUntilIdle();
        (void)eraser->takeRemains();  // listed below, as everything still pending
    }
    const auto items = eraser->pending();
    if (args.removal.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& item : items) {
            nlohmann::ordered_json entry;
            putPath(entry, "path", item.path);
            entry["state"] = item.remains ? "remains" : "interrupted";
            entry["entries"] = item.entries;
            auto& paths = entry["firstPaths"] = nlohmann::ordered_json::array();
            for (const auto& path : item.firstPaths)
                paths.push_back(display(path));
            list.push_back(std::move(entry));
        }
        nlohmann::ordered_json document;
        document["pending"] = std::move(list);
        printJson(document);
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const auto& item : items) {
            rows.push_back({display(item.path),
                            std::string(item.remains ? "could not be deleted: " : "interrupted: ") +
                                counted(item.entries, "item", "items")});
            for (const auto& path : item.firstPaths)
                rows.push_back({"", "  " + display(path)});
        }
        if (rows.empty()) std::cout << "nothing pending in " << display(eraser->staging()) << '\n';
        printTable(rows, {false, false});
    }
    // Remains after a retry are a failure of that retry; a plain listing only tells.
    if (args.retry && !items.empty())
        return fail(counted(items.size(), "item is", "items are") + " still pending");
    return kExitOk;
}

int runErase(const EraseArgs& eraseArgs) {
    if (eraseArgs.pending) return runPending(eraseArgs);
    if (eraseArgs.retry) return fail("--retry goes with --pending");
    const RemovalArgs& args = eraseArgs.removal;
    if (args.paths.empty()) return fail("PATH is required (or --pending)");
    const auto plan = planRemovals(args.paths, quenwick::DeletionGuard::live());
    const auto removals = allowedRemovals(plan);
    const std::string question =
        "Delete " + counted(removals.size(), "item", "items") + " for good (this cannot be undone)";
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
    std::map<std::string, quenwick::EraseRemains> remains;
    for (auto& r : eraser->takeRemains())
        remains.emplace(r.url, std::move(r));

    std::vector<RemovalResult> results;
    size_t next = 0;
    for (const auto& p : plan) {
        if (!p.verdict.isAllowed()) {
            results.push_back(refusedResult(p));
            continue;
        }
        const auto& o = outcomes[next++];
        RemovalResult result;
        result.path = o.url;
        result.caution = p.verdict.allowed()->caution();
        result.stagedMs = milliseconds(o.deletedInPlace ? elapsed : o.elapsed);
        if (o.error) {
            result.error = o.error->message;
        } else if (auto it = remains.find(o.url); it != remains.end()) {
            result.error = remainsText(it->second);
            result.remainingEntries = it->second.entries;
            result.remainingPaths = it->second.firstPaths;
            remains.erase(it);
        }
        results.push_back(std::move(result));
    }
    // What is left of earlier runs is not this run's failure, but it is said.
    if (!remains.empty() && !(args.json && args.yes))
        std::cerr << "brimvale-cli: " << counted(remains.size(), "item", "items")
                  << " of earlier erases could not be deleted; see erase --pending\n";
    return reportRemoval(results, milliseconds(elapsed), args, "erased", "not erased");
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<EraseArgs>();
    auto* cmd = app.add_subcommand("erase", "Delete files or folders for good, after the guard");
    addRemovalOptions(*cmd, args->removal, true);
    cmd->add_flag("--pending", args->pending,
                  "List what earlier erases left in the erasing folder instead of erasing");
    cmd->add_flag("--retry", args->retry, "With --pending: try to delete all of it again first");
    return [args] { return runErase(*args); };
});

}  // namespace
}  // namespace brimvale::cli
