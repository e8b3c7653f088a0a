#include <sys/stat.h>

#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/NcduExport.h"
#include "QuenwickCore/Version.h"

namespace quenwick::NcduExport {
namespace {

// A JSON string of the exact bytes: what is not UTF-8 is passed through, as ncdu does, so the
// name survives; only what JSON cannot hold raw is escaped.
void appendString(std::string& out, std::string_view bytes) {
    out += '"';
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    out += '"';
}

void appendField(std::string& out, const char* key, uint64_t value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

struct Link {
    uint64_t size = 0;  // the counted twin's
    uint64_t count = 0;
};

// Every inode the scan met more than once, with the size its counted link carries and how many
// links the tree holds: the duplicates keep 0 bytes in the tree, but the format wants each link
// with its full size.
std::unordered_map<uint64_t, Link> linkedInodes(const FileTree& tree) {
    std::unordered_map<uint64_t, Link> links;
    for (FileTree::Node n = 0; n < tree.count(); ++n) {
        const auto f = tree.flags(n);
        if (f.contains(NodeFlags::hardlinkDuplicate) && !f.contains(NodeFlags::dead))
            links.try_emplace(tree.inode(n));
    }
    if (links.empty()) return links;
    for (FileTree::Node n = 0; n < tree.count(); ++n) {
        const auto f = tree.flags(n);
        if (f.contains(NodeFlags::directory) || f.contains(NodeFlags::dead)) continue;
        const auto it = links.find(tree.inode(n));
        if (it == links.end()) continue;
        ++it->second.count;
        if (!f.contains(NodeFlags::hardlinkDuplicate)) it->second.size = tree.size(n);
    }
    return links;
}

void appendInfo(std::string& out, const FileTree& tree, FileTree::Node n,
                const std::unordered_map<uint64_t, Link>& links) {
    const auto f = tree.flags(n);
    out += "{\"name\":";
    appendString(out, n == FileTree::root ? std::string_view(tree.rootPath()) : tree.nameBytes(n));
    const bool directory = f.contains(NodeFlags::directory);
    const auto link = directory ? links.end() : links.find(tree.inode(n));
    if (!directory) {
        const uint64_t size = link != links.end() ? link->second.size : tree.size(n);
        appendField(out, "asize", size);
        appendField(out, "dsize", size);
    }
    if (tree.inode(n) != 0) appendField(out, "ino", tree.inode(n));
    if (link != links.end()) {
        out += ",\"hlnkc\":true";
        appendField(out, "nlink", link->second.count);
    }
    if (tree.mtime(n) > 0) appendField(out, "mtime", static_cast<uint64_t>(tree.mtime(n)));
    if (f.contains(NodeFlags::unreadable)) out += ",\"read_error\":true";
    if (f.contains(NodeFlags::mountPoint)) out += ",\"excluded\":\"otherfs\"";
    if (f.contains(NodeFlags::symlink)) {
        out += ",\"notreg\":true";
        appendField(out, "mode", S_IFLNK | 0777);
    }
    out += '}';
}

}  // namespace

std::string encode(const FileTree& tree, int64_t timestamp) {
    std::string out = "[1,2,{\"progname\":\"brimvale\",\"progver\":";
    appendString(out, productVersion());
    out += ",\"timestamp\":" + std::to_string(timestamp < 0 ? 0 : timestamp) + "},\n";
    if (tree.count() == 0) return out + "[{\"name\":\"/\"}]]\n";
    out.reserve(out.size() + tree.count() * 64 + tree.storage().names.size());
    const auto links = linkedInodes(tree);

    // Depth first without recursion, so no depth of tree can exhaust the stack. Children go out
    // in the order they were appended (a child list runs newest first), so that a reader that
    // appends them in turn rebuilds the same lists, and ties in size keep their order.
    struct Open {
        std::vector<FileTree::Node> children;  // newest first; written from the back
    };
    std::vector<Open> open;
    const auto opened = [&](FileTree::Node n) {
        Open o;
        for (auto c = tree.firstChild(n); c != FileTree::none; c = tree.nextSibling(c))
            o.children.push_back(c);
        return o;
    };
    out += '[';
    appendInfo(out, tree, FileTree::root, links);
    open.push_back(opened(FileTree::root));
    while (!open.empty()) {
        auto& children = open.back().children;
        if (children.empty()) {
            out += ']';
            open.pop_back();
            continue;
        }
        const FileTree::Node n = children.back();
        children.pop_back();
        out += ",\n";
        // A mount point is written as ncdu writes one: an excluded item, not a folder.
        if (tree.isDirectory(n) && !tree.flags(n).contains(NodeFlags::mountPoint)) {
            out += '[';
            appendInfo(out, tree, n, links);
            open.push_back(opened(n));
        } else {
            appendInfo(out, tree, n, links);
        }
    }
    out += "]\n";
    return out;
}

std::string save(const FileTree& tree, int64_t timestamp, const std::string& path) {
    if (const auto ec = writeFileAtomically(path, encode(tree, timestamp), kOrdinaryFileMode))
        return ec.message();
    return {};
}

}  // namespace quenwick::NcduExport
