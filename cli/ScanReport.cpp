#include "ScanReport.h"

#include <cstdio>
#include <iostream>

#include "CliSupport.h"

namespace brimvale::cli {
namespace {

using quenwick::FileTree;
using quenwick::NodeFlags;

struct Counts {
    uint64_t nodes = 0, files = 0, mountPoints = 0;
    std::vector<FileTree::Node> unreadable;
};

// Counts what is reachable from the root, so removed nodes never inflate the figures.
Counts countLive(const FileTree& tree) {
    Counts c;
    std::vector<FileTree::Node> stack{FileTree::root};
    while (!stack.empty()) {
        const auto n = stack.back();
        stack.pop_back();
        const auto f = tree.flags(n);
        ++c.nodes;
        if (!f.contains(NodeFlags::directory)) ++c.files;
        if (f.contains(NodeFlags::unreadable)) c.unreadable.push_back(n);
        if (f.contains(NodeFlags::mountPoint)) ++c.mountPoints;
        for (auto k = tree.firstChild(n); k != FileTree::none; k = tree.nextSibling(k)) {
            stack.push_back(k);
        }
    }
    // By path, so a listing reads like ls -R however the workers happened to meet them.
    std::vector<std::pair<std::string, FileTree::Node>> byPath;
    for (const auto n : c.unreadable)
        byPath.emplace_back(tree.path(n), n);
    std::sort(byPath.begin(), byPath.end());
    for (size_t i = 0; i < byPath.size(); ++i)
        c.unreadable[i] = byPath[i].second;
    return c;
}

std::vector<FileTree::Node> biggestChildren(const FileTree& tree, FileTree::Node n, int top) {
    auto children = tree.childrenBySize(n);
    if (children.size() > static_cast<size_t>(top)) children.resize(static_cast<size_t>(top));
    return children;
}

// The fraction of its folder's size, 0 to 1; a folder of 0 bytes gives every item 0.
double shareOfParent(const FileTree& tree, FileTree::Node n) {
    const uint64_t whole = tree.size(tree.parent(n));
    if (whole == 0) return 0.0;
    return static_cast<double>(static_cast<long double>(tree.size(n)) /
                               static_cast<long double>(whole));
}

std::string percent(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", share * 100.0);
    return text;
}

// For every node, how many unreadable nodes lie strictly below it.
std::vector<uint32_t> unreadableBelow(const FileTree& tree,
                                      const std::vector<FileTree::Node>& unreadable) {
    std::vector<uint32_t> below(unreadable.empty() ? 0 : tree.count(), 0);
    for (const auto n : unreadable) {
        for (auto a = tree.parent(n); a != FileTree::none; a = tree.parent(a))
            ++below[a];
    }
    return below;
}

}  // namespace

std::vector<FileTree::Node> ScanReport::unreadable() const {
    return countLive(tree).unreadable;
}

nlohmann::ordered_json ScanReport::json() const {
    const Counts c = countLive(tree);
    nlohmann::ordered_json out;
    putPath(out, "root", tree.rootPath());
    out["nodes"] = c.nodes;
    out["files"] = c.files;
    out["bytes"] = tree.size(FileTree::root);
    out["elapsedMs"] = elapsedMs;
    out["unreadable"] = c.unreadable.size();
    out["mountPoints"] = c.mountPoints;
    auto paths = nlohmann::ordered_json::array();
    for (const auto n : c.unreadable) {
        nlohmann::ordered_json item;
        putPath(item, "path", tree.path(n));
        paths.push_back(std::move(item));
    }
    out["unreadablePaths"] = std::move(paths);
    const auto items = [&](const auto& self, FileTree::Node parent,
                           int level) -> nlohmann::ordered_json {
        auto list = nlohmann::ordered_json::array();
        for (const auto n : biggestChildren(tree, parent, top)) {
            nlohmann::ordered_json item;
            putPath(item, "name", tree.nameBytes(n));
            putPath(item, "path", tree.path(n));
            item["bytes"] = tree.size(n);
            item["directory"] = tree.isDirectory(n);
            item["share"] = shareOfParent(tree, n);
            if (tree.flags(n).contains(NodeFlags::unreadable)) item["unreadable"] = true;
            if (level < depth && tree.isDirectory(n)) item["children"] = self(self, n, level + 1);
            list.push_back(std::move(item));
        }
        return list;
    };
    out["top"] = items(items, FileTree::root, 1);
    return out;
}

void ListingArgs::addTo(CLI::App& verb) {
    verb.add_option("-n,--top", top, "How many of the biggest items to list in each folder")
        ->default_val(20)
        ->check(wholeNumber(0, 1'000'000'000));
    verb.add_option("-d,--depth", depth,
                    "List the biggest items this many levels deep, each with its share of its "
                    "folder (like du -d)")
        ->default_val(1)
        ->check(wholeNumber(1, 256));
    auto* exact = verb.add_flag("--bytes", bytes, "Sizes as exact byte counts");
    verb.add_flag("--binary", binary, "Sizes in binary units (KiB, MiB, GiB)")->excludes(exact);
}

ScanReport ListingArgs::reportOf(const quenwick::FileTree& tree, int64_t elapsedMs) const {
    const auto units = bytes    ? quenwick::ByteUnits::exact
                       : binary ? quenwick::ByteUnits::binary
                                : quenwick::ByteUnits::decimal;
    return ScanReport{tree, top, elapsedMs, depth, units};
}

void ScanReport::print() const {
    const Counts c = countLive(tree);
    const uint64_t folders = c.nodes - c.files;
    std::cout << terminalText(tree.displayPath(FileTree::root)) << ": "
              << quenwick::formatBytes(tree.size(FileTree::root), units) << " in "
              << counted(c.files, "file", "files") << " and "
              << counted(folders, "folder", "folders");
    if (elapsedMs > 0) std::cout << ", scanned in " << elapsedMs << " ms";
    std::cout << '\n';
    if (c.mountPoints > 0) {
        std::cout << counted(c.mountPoints, "other file system", "other file systems")
                  << " not entered\n";
    }
    if (!c.unreadable.empty()) {
        std::cout << counted(c.unreadable.size(), "item", "items") << " could not be read:\n";
        for (size_t i = 0; i < c.unreadable.size() && i < kUnreadableShown; ++i)
            std::cout << "  " << terminalText(tree.displayPath(c.unreadable[i])) << '\n';
        if (c.unreadable.size() > kUnreadableShown)
            std::cout << "  \u2026and " << c.unreadable.size() - kUnreadableShown << " more\n";
    }
    const auto below = unreadableBelow(tree, c.unreadable);
    std::vector<std::vector<std::string>> rows;
    const auto addRows = [&](const auto& self, FileTree::Node parent, int level) -> void {
        for (const auto n : biggestChildren(tree, parent, top)) {
            std::string name(static_cast<size_t>(2 * (level - 1)), ' ');
            name += tree.name(n);
            if (tree.isDirectory(n)) name += "/";
            if (tree.flags(n).contains(NodeFlags::unreadable)) {
                name += "  [could not be read]";
            } else if (!below.empty() && below[n] > 0) {
                name += "  [" + counted(below[n], "item", "items") + " inside could not be read]";
            }
            rows.push_back({quenwick::formatBytes(tree.size(n), units),
                            percent(shareOfParent(tree, n)), name});
            if (level < depth && tree.isDirectory(n)) self(self, n, level + 1);
        }
    };
    addRows(addRows, FileTree::root, 1);
    if (!rows.empty()) std::cout << '\n';
    printTable(rows, {true, true, false});
}

}  // namespace brimvale::cli
