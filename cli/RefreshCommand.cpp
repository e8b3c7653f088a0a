#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/SnapshotRefresh.h"
#include "QuenwickCore/Utf8.h"
#include "ScanReport.h"

namespace brimvale::cli {
namespace {

struct RefreshArgs {
    std::string file;
    int threads = 2;
    int workers = 0;
    ListingArgs listing;
    bool json = false;
};

int runRefresh(const RefreshArgs& args) {
    quenwick::RefreshOptions options;
    options.threads = static_cast<unsigned>(args.threads);
    if (args.workers > 0) options.workers = args.workers;
    quenwick::SnapshotRefresh refresh(options);
    auto outcome = refresh.run(absolutePath(args.file));
    if (auto* error = std::get_if<quenwick::RefreshError>(&outcome)) return fail(error->describe());
    const auto& r = std::get<quenwick::RefreshResult>(outcome);
    const std::string& root = r.meta.rootPath;
    const auto report = args.listing.reportOf(*r.tree, r.catchUpTime.count());
    if (args.json) {
        const auto totals = report.json();
        nlohmann::ordered_json out;
        putPath(out, "root", root);
        out["path"] = r.fullRescan ? "fullRescan" : "incremental";
        out["directories"] = r.foldersLookedAt;
        out["loadMs"] = r.loadTime.count();
        out["elapsedMs"] = r.catchUpTime.count();
        out["saveMs"] = r.saveTime.count();
        out["since"] = r.before.fsEventID;
        out["fsEventID"] = r.meta.fsEventID;
        out["bytesBefore"] = r.bytesBefore;
        for (const char* key : {"bytes", "nodes", "files", "unreadable", "mountPoints"})
            out[key] = totals[key];
        auto changed = nlohmann::ordered_json::array();
        for (const auto& d : r.changed) {
            nlohmann::ordered_json entry;
            putPath(entry, "path", d);
            changed.push_back(std::move(entry));
        }
        out["changed"] = std::move(changed);
        printJson(out);
        return kExitOk;
    }
    const uint64_t looked = r.foldersLookedAt;
    std::cout << "Caught up " << terminalText(quenwick::utf8::display(root))
              << (r.fullRescan ? " with a full scan (the change journal could not say what changed)"
                               : " from the change journal: " +
                                     counted(looked, "folder", "folders") + " looked at again")
              << '\n';
    std::cout << "Was " << quenwick::formatBytes(r.bytesBefore) << ", now "
              << quenwick::formatBytes(r.tree->size(quenwick::FileTree::root)) << "; load "
              << r.loadTime.count() << " ms, catch-up " << r.catchUpTime.count() << " ms, save "
              << r.saveTime.count() << " ms\n";
    report.print();
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<RefreshArgs>();
    auto* cmd = app.add_subcommand(
        "refresh",
        "Bring a snapshot up to date from the change journal (or a full scan) and save it");
    cmd->add_option("FILE", args->file, "Snapshot file")->required();
    args->listing.addTo(*cmd);
    addWorkersOption(*cmd, args->workers);
    cmd->add_option("--threads", args->threads,
                    "Threads of the snapshot file's compression, for decoding and encoding it "
                    "(the scan's own are --workers)")
        ->default_val(2)
        ->check(wholeNumber(1, 64));
    cmd->add_flag("--json", args->json, "Print one JSON document");
    return [args] { return runRefresh(*args); };
});

}  // namespace
}  // namespace brimvale::cli
