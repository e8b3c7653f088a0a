#include "Shoreline/UserFiles.h"

#include "Shoreline/ProjectDependenciesRule.h"

namespace shoreline::UserFiles {

using quenwick::FileTree;
using quenwick::NodeFlags;

FileTree::Node snapFolder(const ShorelineContext& ctx) {
    return ctx.node("snap");
}

std::vector<FileTree::Node> walk(const ShorelineContext& ctx, uint64_t minBytes) {
    std::vector<FileTree::Node> results;
    const FileTree::Node home = ctx.nodeAt(ctx.home);
    if (home == FileTree::none) return results;
    const FileTree& tree = *ctx.tree;
    const FileTree::Node snap = snapFolder(ctx);
    const auto& kinds = ProjectDependenciesRule::kinds();

    std::vector<FileTree::Node> stack;
    for (FileTree::Node c = tree.firstChild(home); c != FileTree::none; c = tree.nextSibling(c)) {
        const auto name = tree.nameBytes(c);
        if (name == "Library" || name.starts_with('.')) continue;
        stack.push_back(c);
    }
    while (!stack.empty()) {
        const FileTree::Node n = stack.back();
        stack.pop_back();
        // A folder smaller than the limit cannot hold a file that reaches it.
        if (tree.size(n) < minBytes) continue;
        const NodeFlags flags = tree.flags(n);
        if (flags.contains(NodeFlags::directory)) {
            if (flags.contains(NodeFlags::package) || kinds.contains(tree.nameBytes(n))) continue;
            if (snap != FileTree::none && tree.parent(n) == snap) continue;
            for (FileTree::Node c = tree.firstChild(n); c != FileTree::none;
                 c = tree.nextSibling(c)) {
                if (!tree.nameBytes(c).starts_with('.')) stack.push_back(c);
            }
            continue;
        }
        if (flags.contains(NodeFlags::symlink) || flags.contains(NodeFlags::hardlinkDuplicate) ||
            flags.contains(NodeFlags::dataless)) {
            continue;
        }
        results.push_back(n);
    }
    return results;
}

}  // namespace shoreline::UserFiles
