#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <numbers>
#include <optional>
#include <variant>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/VolumeInfo.h"
#include "RingKit/RingLabel.h"
#include "RingKit/RingLayout.h"
#include "RingKit/RingSvg.h"

namespace brimvale::cli {
namespace {

using quenwick::FileTree;
using ringkit::RingLayout;
using ringkit::RingSegment;

struct RingArgs {
    std::string path;
    std::string snapshot;
    std::string focus;
    std::string svg;
    int size = 512;
    bool dark = false;
    bool json = false;
    bool quiet = false;
    int workers = 0;
};

// How full the centre disc shows: the disk itself at the root, else the focus's share of it.
double fullness(const FileTree& tree, FileTree::Node focus,
                const std::optional<quenwick::VolumeInfo>& volume) {
    if (focus == FileTree::root && volume && volume->total != 0) {
        return static_cast<double>(volume->used()) / static_cast<double>(volume->total);
    }
    const uint64_t rootSize = tree.size(FileTree::root);
    if (rootSize == 0) return 0;
    return std::max(static_cast<double>(tree.size(focus)) / static_cast<double>(rootSize), 0.02);
}

nlohmann::ordered_json segmentsJson(const FileTree& tree,
                                    const std::vector<RingSegment>& segments) {
    static const char* const kKinds[] = {"node", "smaller", "hidden", "purgeable"};
    auto out = nlohmann::ordered_json::array();
    for (const auto& s : segments) {
        nlohmann::ordered_json item;
        item["kind"] = kKinds[static_cast<int>(s.kind.which)];
        if (s.kind.isNode()) putPath(item, "path", tree.path(s.kind.index));
        if (s.kind.isSmaller()) {
            putPath(item, "parent", tree.path(s.kind.index));
            item["count"] = s.kind.count;
        }
        item["depth"] = s.depth;
        item["start"] = s.start;
        item["end"] = s.end;
        item["bytes"] = s.bytes;
        item["branch"] = s.branch;
        out.push_back(std::move(item));
    }
    return out;
}

void printSegments(const FileTree& tree, FileTree::Node focus,
                   const std::vector<RingSegment>& segments, const std::string& rootTitle) {
    std::cout << terminalText(tree.displayPath(focus)) << ": "
              << quenwick::formatBytes(tree.size(focus)) << ", " << segments.size() << " arcs\n";
    if (segments.empty()) return;
    const auto degrees = [](double radians) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f\xC2\xB0", radians * 180 / std::numbers::pi);
        return std::string(text);
    };
    std::vector<std::vector<std::string>> rows{{"ring", "from", "to", "size", "item"}};
    for (const auto& s : segments) {
        std::string name = ringkit::ringLabel(tree, s.kind, rootTitle);
        if (s.kind.isNode() && tree.isDirectory(s.kind.index)) name += "/";
        // Indented by ring, so the nesting reads at a glance.
        const std::string shown = std::string(2 * static_cast<size_t>(s.depth - 1), ' ') + name;
        rows.push_back({std::to_string(s.depth), degrees(s.start), degrees(s.end),
                        quenwick::formatBytes(s.bytes), shown});
    }
    std::cout << '\n';
    printTable(rows, {true, true, true, true, false});
}

int runRing(const RingArgs& args) {
    std::shared_ptr<FileTree> tree;
    if (args.snapshot.empty()) {
        auto scanned = scanFolder(absolutePath(args.path), args.quiet, args.workers);
        if (const int* status = std::get_if<int>(&scanned)) return *status;
        tree = std::get<std::shared_ptr<FileTree>>(std::move(scanned));
    } else {
        auto loaded = loadSnapshotFile(absolutePath(args.snapshot));
        if (const int* status = std::get_if<int>(&loaded)) return *status;
        tree = std::get<quenwick::LoadedSnapshot>(std::move(loaded)).tree;
    }
    const std::string& root = tree->rootPath();

    FileTree::Node focus = FileTree::root;
    if (!args.focus.empty()) {
        const std::string wanted = absolutePath(args.focus);
        const auto node = tree->nodeAtPath(wanted);
        if (!node || !tree->isDirectory(*node)) {
            return fail("cannot focus on " + wanted + ": not a folder of the tree of " + root);
        }
        focus = *node;
    }

    // The volume's unseen space is shown only at the root of a scan of the whole startup disk.
    std::vector<RingLayout::Extra> extras;
    if (focus == FileTree::root && tree->rootPath() == "/") {
        if (const auto startup = quenwick::VolumeInfo::containing("/")) {
            extras = RingLayout::volumeExtras(*startup, tree->size(FileTree::root));
        }
    }
    const auto segments = RingLayout::layout(*tree, focus, RingLayout::defaultMaxDepth,
                                             RingLayout::defaultMinAngle, extras);
    const std::string rootTitle = tree->name(FileTree::root);

    if (!args.svg.empty()) {
        const std::string out = absolutePath(args.svg);
        ringkit::RingSvg::Options options;
        options.size = args.size;
        options.dark = args.dark;
        options.labels = true;
        options.fullness = fullness(*tree, focus, quenwick::VolumeInfo::containing(root));
        options.centerTitle = ringkit::ringLabel(*tree, RingSegment::Kind::node(focus), rootTitle) +
                              " \xE2\x80\x94 " + quenwick::formatBytes(tree->size(focus));
        const std::string svg = ringkit::RingSvg::render(
            segments, ringkit::RingGeometry{},
            [&](const RingSegment& s) { return ringkit::ringLabel(*tree, s.kind, rootTitle); },
            options);
        if (const auto error =
                quenwick::writeFileAtomically(out, svg, quenwick::kOrdinaryFileMode)) {
            return fail("cannot write " + out + ": " + error.message());
        }
    }
    if (args.json) {
        nlohmann::ordered_json doc;
        putPath(doc, "focus", tree->path(focus));
        doc["segments"] = segmentsJson(*tree, segments);
        printJson(doc);
    } else if (args.svg.empty()) {
        printSegments(*tree, focus, segments, rootTitle);
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<RingArgs>();
    auto* cmd = app.add_subcommand(
        "ring", "Lay out the ring of a folder: print its arcs, or draw it as an SVG picture");
    auto* source = cmd->add_option_group("source", "What to lay out: PATH or --snapshot FILE");
    source->add_option("PATH", args->path, "Folder to scan");
    source->add_option("--snapshot", args->snapshot, "Snapshot file to load instead of scanning");
    source->require_option(1);
    cmd->add_option("--focus", args->focus,
                    "Folder inside PATH at the ring's centre (default PATH)");
    cmd->add_option("--svg", args->svg, "Write the ring as an SVG picture to this file");
    cmd->add_option("--size", args->size, "Width and height of the picture in pixels")
        ->default_val(512)
        ->check(wholeNumber(16, 16384));
    cmd->add_flag("--dark", args->dark, "Draw the picture in the dark theme");
    cmd->add_flag("--json", args->json, "Print one JSON document");
    addQuietFlag(*cmd, args->quiet);
    addWorkersOption(*cmd, args->workers);
    return [args] { return runRing(*args); };
});

}  // namespace
}  // namespace brimvale::cli
