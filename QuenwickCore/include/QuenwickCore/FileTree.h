#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuenwickCore/NodeFlags.h"
#include "QuenwickCore/PodArray.h"

// FileTree: the result of one scan, every item below one root folder, as a struct of arrays.
// A node is a 32-bit index; 0 is the root and `none` means no node. Nodes are only appended;
// a removed node stays, flagged dead, until compacted() builds a renumbered copy.
//
// Names and paths are bytes: `nameBytes`, `path` and `nodeAtPath` work on the exact bytes the
// file system gave (use them to touch the disk); `name` and `displayPath` decode for display,
// with U+FFFD for every invalid UTF-8 sequence.
//
// Shared by std::shared_ptr between threads. It has no lock. What may overlap:
// - any number of const operations (readers) on one tree, from any threads;
// - anything on one tree with anything on another, including a tree and its clone(): they
//   share no storage;
// - nothing else: a non-const operation (append, update, setFlags, remove, removeChildren,
//   propagateSizes, reserve, mutableStorage, DiskScanner::rescan) must not overlap any other
//   operation on the same tree.
// So a window never refreshes the tree it shows: it refreshes a clone() on a worker thread while
// it keeps reading the shown one, then replaces the shown shared_ptr with the clone on its own
// thread (or drops the clone when the refresh was cancelled). A scan builds a new tree anyway.
// Passing an index >= count() where a node is expected is a programming error.
namespace quenwick {

class FileTree {
public:
    using Node = uint32_t;
    static constexpr Node root = 0;
    static constexpr Node none = 0xFFFFFFFF;
    static constexpr size_t maxNameLength = 65535;

    // The per-node arrays, all of length count(), plus the shared name buffer. Only the core
    // library's serialisers (snapshots, helper batches) touch these directly.
    struct Storage {
        PodArray<uint32_t> parents;
        PodArray<uint32_t> firstChildren;
        PodArray<uint32_t> nextSiblings;
        PodArray<uint64_t> sizes;
        PodArray<int64_t> mtimes;
        PodArray<uint64_t> inodes;
        PodArray<uint16_t> flagBits;
        PodArray<uint32_t> nameOffsets;
        PodArray<uint16_t> nameLengths;
        PodArray<char> names;
    };

    // A tree holding just the root node. One trailing "/" is removed when the path has 2 or more
    // characters.
    explicit FileTree(std::string rootPath);

    // A tree with no nodes and rootPath kept exactly as given; its arrays are to be filled.
    struct EmptyTag {};
    FileTree(std::string rootPath, EmptyTag);

    const std::string& rootPath() const { return rootPath_; }
    size_t count() const { return s_.parents.size(); }

    // Room for n nodes in every array and 22 bytes of name per node. n <= 0 reserves nothing.
    void reserve(int64_t n);

    // Adds a node as the first child of parent (or parentless when parent is none). A directory's
    // size is stored as 0; the name keeps at most its first 65535 bytes.
    Node append(Node parent, std::string_view name, uint64_t size, int64_t mtime, uint64_t inode,
                NodeFlags flags);

    // Child list in list order (most recently appended first), and sorted by size, largest
    // first, stable. Both build a fresh vector.
    std::vector<Node> children(Node n) const;
    std::vector<Node> childrenBySize(Node n) const;

    Node parent(Node n) const { return s_.parents[n]; }
    Node firstChild(Node n) const { return s_.firstChildren[n]; }
    Node nextSibling(Node n) const { return s_.nextSiblings[n]; }
    uint64_t size(Node n) const { return s_.sizes[n]; }
    int64_t mtime(Node n) const { return s_.mtimes[n]; }
    uint64_t inode(Node n) const { return s_.inodes[n]; }
    NodeFlags flags(Node n) const { return NodeFlags(s_.flagBits[n]); }
    void setFlags(Node n, NodeFlags flags) { s_.flagBits[n] = flags.rawValue(); }
    bool isDirectory(Node n) const { return flags(n).contains(NodeFlags::directory); }

    // The exact stored bytes of a node's name; for the root, the last component of rootPath.
    std::string_view nameBytes(Node n) const;
    // The name for display: for the root the last component of rootPath ("/" for "/").
    std::string name(Node n) const;
    // The absolute path as exact bytes, for touching the disk.
    std::string path(Node n) const;
    // The absolute path for display.
    std::string displayPath(Node n) const;

    // The node at an absolute path, or nothing. Each component matches a child by exact bytes
    // first; only when no child matches exactly does canonical equivalence (NFC) decide.
    std::optional<Node> nodeAtPath(std::string_view path) const;

    // Overwrites a non-directory's size, and any node's mtime. Ancestors are not adjusted.
    void update(Node n, uint64_t size, int64_t mtime);
    // Rolls directory sizes up from scratch in one descending pass.
    void propagateSizes();
    // Marks a node dead, unlinks it and subtracts its size from every ancestor (clamped at 0).
    // Does nothing for the root, or for a node that is dead or lies below a dead folder.
    void remove(Node n);
    // Marks every child dead, empties the list and subtracts the directory's size upwards.
    void removeChildren(Node n);
    // A deep copy with the same node numbers: one copy of each array, no per-node work.
    [[nodiscard]] std::shared_ptr<FileTree> clone() const;
    // A renumbered, breadth-first copy of what is reachable from the root; child lists come out
    // reversed and sizes are copied, not recomputed.
    FileTree compacted() const;

    const Storage& storage() const { return s_; }
    Storage& mutableStorage() { return s_; }

private:
    void unlink(Node n, Node from);
    void subtractFromAncestors(uint64_t amount, Node startingAt);
    Node appendRaw(Node parent, const FileTree& from, Node node);
    Node pushNode(Node parent, std::string_view nameBytes, uint64_t size, int64_t mtime,
                  uint64_t inode, uint16_t flags);

    std::string rootPath_;
    Storage s_;
};

}  // namespace quenwick
