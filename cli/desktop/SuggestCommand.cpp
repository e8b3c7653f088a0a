#include <chrono>
#include <iostream>
#include <memory>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/UserFolders.h"
#include "QuenwickCore/Utf8.h"
#include "Shoreline/RunningApps.h"
#include "Shoreline/Shoreline.h"

namespace brimvale::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct SuggestArgs {
    std::string path;
    std::string snapshot;
    bool json = false;
    bool quiet = false;
    int workers = 0;
};

int64_t millisecondsOf(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

nlohmann::ordered_json categoriesJson(const std::vector<shoreline::ShorelineCategory>& categories) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& category : categories) {
        nlohmann::ordered_json item;
        item["id"] = category.id;
        item["title"] = category.title;
        item["total"] = category.total();
        item["safeTotal"] = category.safeTotal();
        auto findings = nlohmann::ordered_json::array();
        for (const auto& f : category.findings) {
            nlohmann::ordered_json finding;
            putPath(finding, "path", f.path);
            putPath(finding, "name", f.name);
            finding["bytes"] = f.bytes;
            finding["safety"] = shoreline::safetyName(f.safety);
            finding["reason"] = f.reason;
            if (f.removal.caution()) finding["caution"] = *f.removal.caution();
            findings.push_back(std::move(finding));
        }
        item["findings"] = std::move(findings);
        list.push_back(std::move(item));
    }
    return list;
}

void printCategories(const std::vector<shoreline::ShorelineCategory>& categories) {
    if (categories.empty()) std::cout << "No suggestions.\n";
    for (const auto& category : categories) {
        std::cout << terminalText(category.title) << ": "
                  << quenwick::formatBytes(category.total());
        if (category.safeTotal() != 0)
            std::cout << " (" << quenwick::formatBytes(category.safeTotal()) << " safe)";
        std::cout << '\n';
        std::vector<std::vector<std::string>> rows;
        for (const auto& f : category.findings) {
            std::string reason = f.reason;
            if (f.removal.caution()) reason += " (" + *f.removal.caution() + ")";
            rows.push_back({"  " + std::string(shoreline::safetyName(f.safety)),
                            quenwick::formatBytes(f.bytes), quenwick::utf8::display(f.path),
                            reason});
        }
        printTable(rows, {false, true, false, false});
    }
}

int runSuggest(const SuggestArgs& args) {
    std::shared_ptr<const quenwick::FileTree> tree;
    const auto loadStarted = Clock::now();
    if (!args.snapshot.empty()) {
        auto loaded = loadSnapshotFile(absolutePath(args.snapshot));
        if (auto* status = std::get_if<int>(&loaded)) return *status;
        tree = std::get<quenwick::LoadedSnapshot>(std::move(loaded)).tree;
    } else {
        const std::string root =
            args.path.empty() ? quenwick::userFolders::home() : absolutePath(args.path);
        auto scanned = scanFolder(root, args.quiet, args.workers);
        if (auto* status = std::get_if<int>(&scanned)) return *status;
        tree = std::get<std::shared_ptr<quenwick::FileTree>>(std::move(scanned));
    }
    const int64_t scanMs = millisecondsOf(Clock::now() - loadStarted);

    auto ctx = shoreline::ShorelineContext::forCurrentUser(tree, quenwick::DeletionGuard::live());
    ctx.runningBundleIDs = shoreline::RunningApps::identifiers();
    ProgressLine progress(args.quiet);
    std::chrono::nanoseconds hashing{0};
    ctx.onHashProgress = [&](const shoreline::HashProgress& p) {
        if (p.finished) {
            hashing = p.elapsed;  // reported once, on the analysis thread
            return;
        }
        if (p.stage == shoreline::HashProgress::Stage::samples) {
            progress.update("Comparing " + std::to_string(p.filesTotal) + " files of equal size");
        } else {
            progress.update("Comparing contents: " + quenwick::formatBytes(p.bytesDone) + " of " +
                            quenwick::formatBytes(p.bytesTotal) + " (" +
                            std::to_string(p.filesDone) + " of " + std::to_string(p.filesTotal) +
                            " files)");
        }
    };
    const auto analysisStarted = Clock::now();
    const auto categories = shoreline::Shoreline::analyze(ctx);
    const auto analysis = Clock::now() - analysisStarted;
    progress.finish();
    const int64_t hashMs = millisecondsOf(hashing);
    const int64_t analysisMs = std::max<int64_t>(millisecondsOf(analysis) - hashMs, 0);

    if (args.json) {
        nlohmann::ordered_json json;
        json["categories"] = categoriesJson(categories);
        json["scanMs"] = scanMs;
        json["analysisMs"] = analysisMs;
        json["hashMs"] = hashMs;
        printJson(json);
    } else {
        printCategories(categories);
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<SuggestArgs>();
    auto* cmd = app.add_subcommand(
        "suggest", "Find caches, leftovers, old downloads, large files and duplicates to remove");
    auto* path = cmd->add_option("PATH", args->path, "Folder to scan (default: the home folder)");
    cmd->add_option("--snapshot", args->snapshot, "Analyse a snapshot file instead of scanning")
        ->excludes(path);
    cmd->add_flag("--json", args->json, "Print one JSON document");
    addQuietFlag(*cmd, args->quiet);
    addWorkersOption(*cmd, args->workers);
    return [args] { return runSuggest(*args); };
});

}  // namespace
}  // namespace brimvale::cli
