#include "RemovalSupport.h"

#include <unistd.h>

#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/Utf8.h"

namespace brimvale::cli {

using quenwick::utf8::display;

void addRemovalOptions(CLI::App& command, RemovalArgs& args, bool pathsOptional) {
    auto* paths = command.add_option("PATH", args.paths, "Files or folders to remove");
    if (!pathsOptional) paths->required();
    command.add_flag("--yes,-y", args.yes, "Do not ask for confirmation");
    command.add_flag("--json", args.json, "Print one JSON document");
}

std::vector<PlannedRemoval> planRemovals(const std::vector<std::string>& arguments,
                                         const quenwick::DeletionGuard& guard) {
    std::vector<PlannedRemoval> plan;
    for (const auto& argument : arguments) {
        const std::string path = absolutePath(argument);
        plan.push_back({path, guard.check(path)});
    }
    return plan;
}

std::vector<quenwick::GuardedRemoval> allowedRemovals(const std::vector<PlannedRemoval>& plan) {
    std::vector<quenwick::GuardedRemoval> removals;
    for (const auto& p : plan)
        if (const auto* removal = p.verdict.allowed()) removals.push_back(*removal);
    return removals;
}

bool confirmRemoval(const std::vector<PlannedRemoval>& plan, const std::string& question,
                    const RemovalArgs& args) {
    const bool ask = !args.yes;
    if (ask || !args.json) {
        for (const auto& p : plan) {
            if (const auto* reason = p.verdict.blockedReason()) {
                std::cerr << "  " << terminalText(display(p.path))
                          << "\n      not removed: " << *reason << '\n';
            } else if (const auto& caution = p.verdict.allowed()->caution()) {
                std::cerr << "  " << terminalText(display(p.path))
                          << "\n      caution: " << *caution << '\n';
            } else {
                std::cerr << "  " << terminalText(display(p.path)) << '\n';
            }
        }
    }
    if (allowedRemovals(plan).empty() || !ask) return true;
    if (isatty(STDIN_FILENO) != 1) {
        fail("nothing removed: confirm on a terminal or pass --yes");
        return false;
    }
    std::cerr << question << "? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return true;
    fail("nothing removed");
    return false;
}

RemovalResult refusedResult(const PlannedRemoval& planned) {
    RemovalResult result;
    result.path = planned.path;
    result.error = *planned.verdict.blockedReason();
    return result;
}

int reportRemoval(const std::vector<RemovalResult>& results, int64_t elapsedMs,
                  const RemovalArgs& args, const std::string& doneText,
                  const std::string& failedText) {
    size_t failed = 0;
    for (const auto& r : results)
        failed += r.error.has_value();
    if (args.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& r : results) {
            nlohmann::ordered_json item;
            putPath(item, "path", r.path);
            item["ok"] = !r.error;
            if (r.trashed) putPath(item, "trashed", *r.trashed);
            if (r.error) item["error"] = *r.error;
            if (r.caution) item["caution"] = *r.caution;
            if (r.stagedMs) item["stagedMs"] = *r.stagedMs;
            if (r.remainingEntries) {
                item["remainingEntries"] = *r.remainingEntries;
                auto& paths = item["remainingPaths"] = nlohmann::ordered_json::array();
                for (const auto& path : r.remainingPaths)
                    paths.push_back(quenwick::utf8::display(path));
            }
            list.push_back(std::move(item));
        }
        nlohmann::ordered_json document;
        document["results"] = std::move(list);
        document["elapsedMs"] = elapsedMs;
        printJson(document);
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const auto& r : results) {
            std::string what = r.error ? failedText + ": " + *r.error : doneText;
            if (r.trashed) what += " " + display(*r.trashed);
            rows.push_back({display(r.path), what});
            for (const auto& path : r.remainingPaths)
                rows.push_back({"", "  left: " + display(path)});
        }
        printTable(rows, {false, false});
    }
    if (failed == 0) return kExitOk;
    return fail(std::to_string(failed) + " of " + counted(results.size(), "item", "items") + ": " +
                failedText);
}

}  // namespace brimvale::cli
