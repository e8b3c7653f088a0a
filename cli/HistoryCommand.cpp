#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/TideHistory.h"
#include "QuenwickCore/UserFolders.h"

namespace brimvale::cli {
namespace {

struct HistoryArgs {
    bool json = false;
    std::string path;
    bool recordJson = false;
    bool quiet = false;
    int workers = 0;
};

std::string localTime(double date) {
    const auto seconds = static_cast<time_t>(date);
    std::tm local{};
    char text[32] = "?";
    if (localtime_r(&seconds, &local) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    }
    return text;
}

int runHistory(const HistoryArgs& args) {
    const auto history = quenwick::TideHistory::standard().load();
    if (args.json) {
        // Each summary in its daily file's own shape (keys in order, exact integers), written as
        // it is encoded: building a JSON value of each first would cost time quadratic in the
        // folders of a summary.
        std::string list = "[";
        for (const auto& summary : history) {
            if (list.size() > 1) list += ',';
            list += summary.toJson();
        }
        std::cout << list << "]\n";
        return kExitOk;
    }
    if (history.empty()) {
        std::cout << "No summaries recorded yet in "
                  << terminalText(quenwick::TideHistory::standard().directory()) << '\n';
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows{{"Taken", "Used", "Total", "Folders"}};
    for (const auto& s : history) {
        rows.push_back({localTime(s.date), quenwick::formatBytes(s.volumeUsed),
                        quenwick::formatBytes(s.volumeTotal), std::to_string(s.folders.size())});
    }
    printTable(rows, {false, true, true, true});
    return kExitOk;
}

bool sameFileSystem(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

int runRecord(const HistoryArgs& args) {
    const std::string home = quenwick::userFolders::home();
    // A separate /home is common here; scanning "/" would then stop at its mount point.
    const std::string root = !args.path.empty()          ? absolutePath(args.path)
                             : sameFileSystem(home, "/") ? std::string("/")
                                                         : home;
    auto scanned = scanFolder(root, args.quiet, args.workers);
    if (const int* status = std::get_if<int>(&scanned)) return *status;
    const auto tree = std::get<std::shared_ptr<quenwick::FileTree>>(std::move(scanned));

    const auto history = quenwick::TideHistory::standard();
    const auto recording = history.record(*tree, quenwick::VolumeInfo::containing("/"),
                                          quenwick::TideSummary::now(), home);
    if (!recording.summary) {
        return fail("nothing recorded: the scan of " + root + " does not contain the home folder " +
                    home);
    }
    if (recording.saveError) {
        return fail("cannot save the summary in " + history.directory() + ": " +
                    recording.saveError.message());
    }
    const auto& summary = *recording.summary;
    if (args.recordJson) {
        std::cout << summary.toJson() << '\n';
    } else {
        std::cout << "Recorded " << localTime(summary.date) << ": "
                  << quenwick::formatBytes(summary.volumeUsed) << " used of "
                  << quenwick::formatBytes(summary.volumeTotal) << ", "
                  << counted(summary.folders.size(), "folder", "folders") << ", in "
                  << terminalText(history.directory()) << '/'
                  << quenwick::TideHistory::fileName(summary.date).value_or("?") << '\n';
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<HistoryArgs>();
    auto* cmd = app.add_subcommand("history", "List the recorded daily summaries of the disk");
    cmd->add_flag("--json", args->json, "Print one JSON document");
    cmd->require_subcommand(0, 1);
    auto* record = cmd->add_subcommand(
        "record",
        "Scan PATH (default \"/\", or the home folder when it is on its own file system) and "
        "record today's summary");
    record->add_option("PATH", args->path, "Folder to scan; its tree must contain the home folder");
    record->add_flag("--json", args->recordJson, "Print the recorded summary as JSON");
    addQuietFlag(*record, args->quiet);
    addWorkersOption(*record, args->workers);
    return [args, record] { return record->parsed() ? runRecord(*args) : runHistory(*args); };
});

}  // namespace
}  // namespace brimvale::cli
