#include <sys/stat.h>

#include <chrono>
#include <memory>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Recycler.h"
#include "QuenwickCore/TrashLedger.h"
#include "RemovalSupport.h"

namespace brimvale::cli {
namespace {

// The space the item takes, counted the way a scan counts it.
uint64_t bytesOf(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return static_cast<uint64_t>(st.st_blocks) * 512;
    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(path));
    return scanner.scan(path)->size(quenwick::FileTree::root);
}

int runTrash(const RemovalArgs& args) {
    const auto plan = planRemovals(args.paths, quenwick::DeletionGuard::live());
    const auto removals = allowedRemovals(plan);
    const std::string question = "Move " + std::to_string(removals.size()) +
                                 (removals.size() == 1 ? " item" : " items") + " to the Trash";
    if (!confirmRemoval(plan, question, args)) return kExitFailed;

    const auto started = std::chrono::steady_clock::now();
    std::vector<uint64_t> sizes;
    for (const auto& removal : removals)
        sizes.push_back(bytesOf(removal.path()));
    const auto outcomes = quenwick::Recycler::recycle(removals);

    std::vector<quenwick::TrashLedger::Entry> moved;
    const auto now = std::chrono::system_clock::now();
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const bool repeated = std::find_if(outcomes.begin(), outcomes.begin() + i, [&](auto& o) {
                                  return o.original == outcomes[i].original;
                              }) != outcomes.begin() + i;
        if (!outcomes[i].error && outcomes[i].trashed && !repeated)
            moved.emplace_back(*outcomes[i].trashed, outcomes[i].original, sizes[i], now);
    }
    if (!moved.empty()) (void)quenwick::TrashLedger::standard().record(moved);

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
