#include "ScanReport.h"

#include <iostream>

#include "CliSupport.h"
#include "QuenwickCore/ByteFormat.h"

namespace brimvale::cli {
namespace {

using quenwick::FileTree;
using quenwick::NodeFlags;

struct Counts {
    uint64_t nodes = 0, files = 0, unreadable = 0, mountPoints = 0;
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
        if (f.contains(NodeFlags::unreadable)) ++c.unreadable;
        if (f.contains(NodeFlags::mountPoint)) ++c.mountPoints;
        for (auto k = tree.firstChild(n); k != FileTree::none; k = tree.nextSibling(k)) {
            stack.push_back(k);
        }
    }
    return c;
}

std::vector<FileTree::Node> topChildren(const FileTree& tree, int top) {
    auto children = tree.childrenBySize(FileTree::root);
    if (children.size() > static_cast<size_t>(top)) children.resize(static_cast<size_t>(top));
    return children;
}

}  // namespace

nlohmann::ordered_json ScanReport::json() const {
    const Counts c = countLive(tree);
    nlohmann::ordered_json out;
    putPath(out, "root", tree.rootPath());
    out["nodes"] = c.nodes;
    out["files"] = c.files;
    out["bytes"] = tree.size(FileTree::root);
    out["elapsedMs"] = elapsedMs;
    out["unreadable"] = c.unreadable;
    out["mountPoints"] = c.mountPoints;
    auto items = nlohmann::ordered_json::array();
    for (const auto n : topChildren(tree, top)) {
        nlohmann::ordered_json item;
        putPath(item, "name", tree.nameBytes(n));
        putPath(item, "path", tree.path(n));
        item["bytes"] = tree.size(n);
        item["directory"] = tree.isDirectory(n);
        items.push_back(std::move(item));
    }
    out["top"] = std::move(items);
    return out;
}

void ScanReport::print() const {
    const Counts c = countLive(tree);
    std::cout << terminalText(tree.displayPath(FileTree::root)) << ": "
              << quenwick::formatBytes(tree.size(FileTree::root)) << " in " << c.files
              << " files and " << (c.nodes - c.files) << " folders";
    if (elapsedMs > 0) std::cout << ", scanned in " << elapsedMs << " ms";
    std::cout << '\n';
    if (c.unreadable > 0) std::cout << c.unreadable << " items could not be read\n";
    if (c.mountPoints > 0) std::cout << c.mountPoints << " other file systems not entered\n";
    std::vector<std::vector<std::string>> rows;
    for (const auto n : topChildren(tree, top)) {
        std::string name = tree.name(n);
        if (tree.isDirectory(n)) name += "/";
        rows.push_back({quenwick::formatBytes(tree.size(n)), name});
    }
    if (!rows.empty()) std::cout << '\n';
    printTable(rows, {true, false});
}

}  // namespace brimvale::cli
