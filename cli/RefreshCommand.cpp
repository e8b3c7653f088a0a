#include <chrono>
#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/Utf8.h"
#include "ScanReport.h"

namespace brimvale::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct RefreshArgs {
    std::string file;
    int threads = 2;
    int top = 20;
    bool json = false;
};

// How long the app waits for the journal before it gives up and scans in full.
constexpr double kJournalTimeout = 20.0;

int64_t millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int runRefresh(const RefreshArgs& args) {
    const std::string file = absolutePath(args.file);
    const unsigned threads = static_cast<unsigned>(args.threads);
    const auto loadStart = Clock::now();
    auto loaded = loadSnapshotFile(file, threads);
    if (const int* exitCode = std::get_if<int>(&loaded)) return *exitCode;
    auto snapshot = std::get<quenwick::LoadedSnapshot>(std::move(loaded));
    const int64_t loadMs = millisecondsSince(loadStart);
    const std::string root = snapshot.tree->rootPath();
    const uint64_t bytesBefore = snapshot.tree->size(quenwick::FileTree::root);

    const auto catchUpStart = Clock::now();
    // Taken before the journal is read: what changes from here on is caught up next time.
    const uint64_t position = quenwick::FSEventsHistory::currentEventID();
    const auto changes = quenwick::FSEventsHistory::changedDirectories(
        root, snapshot.meta.fsEventID, kJournalTimeout);
    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(root));
    std::shared_ptr<quenwick::FileTree> tree = snapshot.tree;
    std::vector<std::string> directories;
    if (changes.needsFullRescan()) {
        tree = scanner.scan(root, static_cast<int64_t>(snapshot.tree->count()));
    } else {
        directories = changes.paths();
        for (auto& path : quenwick::DiskScanner::newlyReadable(*tree))
            directories.push_back(std::move(path));
        if (!directories.empty()) scanner.rescan(*tree, directories);
    }
    const int64_t elapsedMs = millisecondsSince(catchUpStart);

    if (tree->flags(quenwick::FileTree::root).contains(quenwick::NodeFlags::unreadable)) {
        return fail(unreadableRootMessage(root) + "; " + file + " left as it was");
    }

    const auto saveStart = Clock::now();
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const quenwick::SnapshotMeta meta{root, now, position};
    if (auto error = quenwick::Snapshot::save(*tree, meta, file, threads)) {
        return fail("cannot save " + file + ": " + error->describe());
    }
    const int64_t saveMs = millisecondsSince(saveStart);

    const bool full = changes.needsFullRescan();
    uint64_t looked = directories.size();
    if (full) {
        looked = 0;
        for (quenwick::FileTree::Node n = 0; n < tree->count(); ++n)
            if (tree->isDirectory(n)) ++looked;
    }
    const ScanReport report{*tree, args.top, elapsedMs};
    if (args.json) {
        const auto totals = report.json();
        nlohmann::ordered_json out;
        putPath(out, "root", root);
        out["path"] = full ? "fullRescan" : "incremental";
        out["directories"] = looked;
        out["loadMs"] = loadMs;
        out["elapsedMs"] = elapsedMs;
        out["saveMs"] = saveMs;
        out["since"] = snapshot.meta.fsEventID;
        out["fsEventID"] = position;
        out["bytesBefore"] = bytesBefore;
        for (const char* key : {"bytes", "nodes", "files", "unreadable", "mountPoints"})
            out[key] = totals[key];
        auto changed = nlohmann::ordered_json::array();
        for (const auto& d : directories) {
            nlohmann::ordered_json entry;
            putPath(entry, "path", d);
            changed.push_back(std::move(entry));
        }
        out["changed"] = std::move(changed);
        printJson(out);
        return kExitOk;
    }
    const uint64_t bytes = tree->size(quenwick::FileTree::root);
    std::cout << "Caught up " << terminalText(quenwick::utf8::display(root))
              << (full ? " with a full scan (the change journal could not say what changed)"
                       : " from the change journal: " + std::to_string(looked) +
                             (looked == 1 ? " folder" : " folders") + " looked at again")
              << '\n';
    std::cout << "Was " << quenwick::formatBytes(bytesBefore) << ", now "
              << quenwick::formatBytes(bytes) << "; load " << loadMs << " ms, catch-up "
              << elapsedMs << " ms, save " << saveMs << " ms\n";
    report.print();
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<RefreshArgs>();
    auto* cmd = app.add_subcommand(
        "refresh",
        "Bring a snapshot up to date from the change journal (or a full scan) and save it");
    cmd->add_option("FILE", args->file, "Snapshot file")->required();
    cmd->add_option("--top", args->top, "How many of the biggest items to list")
        ->default_val(20)
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--threads", args->threads, "Threads for decoding and encoding the snapshot")
        ->default_val(2)
        ->check(CLI::Range(1, 64));
    cmd->add_flag("--json", args->json, "Print one JSON document");
    return [args] { return runRefresh(*args); };
});

}  // namespace
}  // namespace brimvale::cli
