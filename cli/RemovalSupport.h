#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"

// What `trash` and `erase` share: judging the paths, the review and confirmation before anything
// is removed, and the report of what happened.
namespace brimvale::cli {

struct RemovalArgs {
    std::vector<std::string> paths;
    bool yes = false;
    bool json = false;
};

// Adds PATH..., --yes and --json to a removal verb (PATH required unless pathsOptional).
void addRemovalOptions(CLI::App& command, RemovalArgs& args, bool pathsOptional = false);

// One requested path with the guard's verdict on it.
struct PlannedRemoval {
    std::string path;  // absolute and normalised
    quenwick::GuardVerdict verdict;
};

[[nodiscard]] std::vector<PlannedRemoval> planRemovals(const std::vector<std::string>& arguments,
                                                       const quenwick::DeletionGuard& guard);

// The allowed removals of a plan, in order.
[[nodiscard]] std::vector<quenwick::GuardedRemoval> allowedRemovals(
    const std::vector<PlannedRemoval>& plan);

// Shows what the guard refused and the cautions (on standard error, unless JSON was asked for
// together with --yes), then asks on the terminal unless --yes was given. question is the
// prompt's start ("Move 3 items to the Trash"). True when the removal may go ahead.
[[nodiscard]] bool confirmRemoval(const std::vector<PlannedRemoval>& plan,
                                  const std::string& question, const RemovalArgs& args);

// What happened to one requested path.
struct RemovalResult {
    std::string path;
    std::optional<std::string> caution;
    std::optional<std::string> trashed;
    std::optional<std::string> error;  // absent on success
    std::optional<int64_t> stagedMs;
    // What a deletion left behind: how many entries, and the first paths that could not go.
    std::optional<size_t> remainingEntries;
    std::vector<std::string> remainingPaths;
};

// The result of a path the guard refused.
[[nodiscard]] RemovalResult refusedResult(const PlannedRemoval& planned);

// Prints the results (a table, or {"results": [...], "elapsedMs": N}) and returns the exit
// status: 0 when every path was removed, 2 with one line on standard error otherwise.
int reportRemoval(const std::vector<RemovalResult>& results, int64_t elapsedMs,
                  const RemovalArgs& args, const std::string& doneText,
                  const std::string& failedText);

}  // namespace brimvale::cli
