#include "Shoreline/ProjectDependenciesRule.h"

#include <algorithm>
#include <utility>

#include "Shoreline/UserFiles.h"

namespace shoreline {
namespace {

using quenwick::FileTree;
using quenwick::NodeFlags;

constexpr uint64_t kMinBytes = 10 * 1'048'576;
constexpr int kMaxDepth = 8;
constexpr size_t kMaxExamined = 20'000;

bool hasChildNamed(const FileTree& tree, FileTree::Node folder, std::string_view name) {
    for (FileTree::Node c = tree.firstChild(folder); c != FileTree::none; c = tree.nextSibling(c))
        if (tree.nameBytes(c) == name) return true;
    return false;
}

}  // namespace

const std::map<std::string, ProjectDependenciesRule::Kind, std::less<>>&
ProjectDependenciesRule::kinds() {
    static const std::map<std::string, Kind, std::less<>> table = {
        {"node_modules", {"", "npm install", Safety::safe}},
        {"Pods", {"Podfile", "pod install", Safety::safe}},
        {".build", {"Package.swift", "swift build", Safety::safe}},
        {"target", {"Cargo.toml", "cargo build", Safety::safe}},
        {".venv", {"", "recreate the virtual environment", Safety::review}},
    };
    return table;
}

int64_t ProjectDependenciesRule::idleDays(const ShorelineContext& ctx, FileTree::Node project,
                                          FileTree::Node excluding) {
    const FileTree& tree = *ctx.tree;
    const auto& table = kinds();
    int64_t newest = tree.mtime(project);
    std::vector<FileTree::Node> stack;
    for (FileTree::Node c = tree.firstChild(project); c != FileTree::none; c = tree.nextSibling(c))
        if (c != excluding) stack.push_back(c);
    size_t examined = 0;
    while (!stack.empty() && examined < kMaxExamined) {
        const FileTree::Node n = stack.back();
        stack.pop_back();
        ++examined;
        newest = std::max(newest, tree.mtime(n));
        if (table.contains(tree.nameBytes(n))) continue;
        for (FileTree::Node c = tree.firstChild(n); c != FileTree::none; c = tree.nextSibling(c))
            stack.push_back(c);
    }
    return ctx.daysSince(newest);
}

std::vector<Candidate> ProjectDependenciesRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    const FileTree::Node home = ctx.nodeAt(ctx.home);
    if (home == FileTree::none) return out;
    const FileTree& tree = *ctx.tree;
    const auto& table = kinds();
    const FileTree::Node snap = UserFiles::snapFolder(ctx);

    std::vector<std::pair<FileTree::Node, int>> stack;
    for (FileTree::Node c = tree.firstChild(home); c != FileTree::none; c = tree.nextSibling(c)) {
        const auto name = tree.nameBytes(c);
        if (name == "Library" || name.starts_with('.')) continue;
        stack.emplace_back(c, 1);
    }
    while (!stack.empty()) {
        const auto [n, depth] = stack.back();
        stack.pop_back();
        const NodeFlags flags = tree.flags(n);
        if (!flags.contains(NodeFlags::directory) || flags.contains(NodeFlags::package)) continue;
        const auto name = tree.nameBytes(n);
        if (const auto kind = table.find(name); kind != table.end()) {
            // Never descended into, whether proposed or not.
            const FileTree::Node project = tree.parent(n);
            if (!kind->second.marker.empty() && !hasChildNamed(tree, project, kind->second.marker))
                continue;
            if (tree.size(n) < kMinBytes) continue;
            const int64_t days = idleDays(ctx, project, n);
            if (days > 29)
                out.push_back({n, kind->second.safety,
                               tree.name(project) + " untouched for " + ctx.groupedNumber(days) +
                                   " days — " + std::string(kind->second.hint) +
                                   " brings it back."});
            continue;
        }
        if (depth > kMaxDepth - 1) continue;
        if (snap != FileTree::none && tree.parent(n) == snap) continue;
        for (FileTree::Node c = tree.firstChild(n); c != FileTree::none; c = tree.nextSibling(c)) {
            const auto childName = tree.nameBytes(c);
            if (!childName.starts_with('.') || table.contains(childName))
                stack.emplace_back(c, depth + 1);
        }
    }
    return out;
}

}  // namespace shoreline
