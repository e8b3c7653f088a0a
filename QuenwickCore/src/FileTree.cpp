#include "QuenwickCore/FileTree.h"

#include <algorithm>
#include <deque>

#include "QuenwickCore/Utf8.h"

namespace quenwick {

FileTree::FileTree(std::string rootPath) : rootPath_(std::move(rootPath)) {
    if (rootPath_.size() >= 2 && rootPath_.back() == '/') rootPath_.pop_back();
    pushNode(none, {}, 0, 0, 0, NodeFlags::directory.rawValue());
}

FileTree::FileTree(std::string rootPath, EmptyTag) : rootPath_(std::move(rootPath)) {}

std::shared_ptr<FileTree> FileTree::clone() const {
    return std::make_shared<FileTree>(*this);
}

void FileTree::reserve(int64_t n) {
    if (n <= 0) return;
    const auto count = static_cast<size_t>(n);
    s_.parents.reserve(count);
    s_.firstChildren.reserve(count);
    s_.nextSiblings.reserve(count);
    s_.sizes.reserve(count);
    s_.mtimes.reserve(count);
    s_.inodes.reserve(count);
    s_.flagBits.reserve(count);
    s_.nameOffsets.reserve(count);
    s_.nameLengths.reserve(count);
    s_.names.reserve(count * 22);
}

FileTree::Node FileTree::pushNode(Node parent, std::string_view nameBytes, uint64_t size,
                                  int64_t mtime, uint64_t inode, uint16_t flags) {
    const auto n = static_cast<Node>(count());
    s_.parents.push_back(parent);
    s_.firstChildren.push_back(none);
    s_.sizes.push_back(size);
    s_.mtimes.push_back(mtime);
    s_.inodes.push_back(inode);
    s_.flagBits.push_back(flags);
    s_.nameOffsets.push_back(static_cast<uint32_t>(s_.names.size()));
    s_.nameLengths.push_back(static_cast<uint16_t>(nameBytes.size()));
    s_.names.append(nameBytes.data(), nameBytes.size());
    if (parent != none) {
        s_.nextSiblings.push_back(s_.firstChildren[parent]);
        s_.firstChildren[parent] = n;
    } else {
        s_.nextSiblings.push_back(none);
    }
    return n;
}

FileTree::Node FileTree::append(Node parent, std::string_view name, uint64_t size, int64_t mtime,
                                uint64_t inode, NodeFlags flags) {
    if (name.size() > maxNameLength) name = name.substr(0, maxNameLength);
    const uint64_t stored = flags.contains(NodeFlags::directory) ? 0 : size;
    return pushNode(parent, name, stored, mtime, inode, flags.rawValue());
}

std::vector<FileTree::Node> FileTree::children(Node n) const {
    std::vector<Node> out;
    for (Node c = s_.firstChildren[n]; c != none; c = s_.nextSiblings[c])
        out.push_back(c);
    return out;
}

std::vector<FileTree::Node> FileTree::childrenBySize(Node n) const {
    auto out = children(n);
    std::stable_sort(out.begin(), out.end(),
                     [this](Node a, Node b) { return s_.sizes[a] > s_.sizes[b]; });
    return out;
}

std::string_view FileTree::nameBytes(Node n) const {
    if (n == root) {
        if (rootPath_ == "/") return rootPath_;
        const auto slash = rootPath_.rfind('/');
        return slash == std::string::npos ? std::string_view(rootPath_)
                                          : std::string_view(rootPath_).substr(slash + 1);
    }
    return {s_.names.data() + s_.nameOffsets[n], s_.nameLengths[n]};
}

std::string FileTree::name(Node n) const {
    return utf8::display(nameBytes(n));
}

std::string FileTree::path(Node n) const {
    if (n == root) return rootPath_;
    std::vector<Node> chain;
    size_t length = rootPath_ == "/" ? 0 : rootPath_.size();
    for (Node m = n; m != root && m != none; m = s_.parents[m]) {
        chain.push_back(m);
        length += 1 + s_.nameLengths[m];
    }
    std::string out;
    out.reserve(length);
    if (rootPath_ != "/") out = rootPath_;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        out += '/';
        out += nameBytes(*it);
    }
    return out;
}

std::string FileTree::displayPath(Node n) const {
    return utf8::display(path(n));
}

std::optional<FileTree::Node> FileTree::nodeAtPath(std::string_view p) const {
    if (p == rootPath_) return root;
    const std::string prefix = rootPath_ == "/" ? "/" : rootPath_ + "/";
    if (p.substr(0, prefix.size()) != prefix) return std::nullopt;
    std::string_view rest = p.substr(rootPath_.size());
    Node current = root;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view piece = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (piece.empty()) continue;
        Node found = none;
        for (Node c = s_.firstChildren[current]; c != none; c = s_.nextSiblings[c]) {
            if (nameBytes(c) == piece) {
                found = c;
                break;
            }
        }
        if (found == none) {
            // Two names that differ only in normalisation can coexist on Linux, so canonical
            // equivalence is only the fallback when no exact spelling exists.
            const auto wanted = utf8::nfc(piece);
            if (wanted) {
                for (Node c = s_.firstChildren[current]; c != none; c = s_.nextSiblings[c]) {
                    const auto candidate = utf8::nfc(nameBytes(c));
                    if (candidate && *candidate == *wanted) {
                        found = c;
                        break;
                    }
                }
            }
        }
        if (found == none) return std::nullopt;
        current = found;
    }
    return current;
}

void FileTree::update(Node n, uint64_t size, int64_t mtime) {
    if (!flags(n).contains(NodeFlags::directory)) s_.sizes[n] = size;
    s_.mtimes[n] = mtime;
}

void FileTree::propagateSizes() {
    const size_t total = count();
    for (size_t n = 0; n < total; ++n) {
        if (s_.flagBits[n] & NodeFlags::directory.rawValue()) s_.sizes[n] = 0;
    }
    for (size_t n = total; n-- > 1;) {
        if (s_.flagBits[n] & NodeFlags::dead.rawValue()) continue;
        const Node p = s_.parents[n];
        if (p != none) s_.sizes[p] += s_.sizes[n];
    }
}

void FileTree::unlink(Node n, Node from) {
    if (from == none) return;
    if (s_.firstChildren[from] == n) {
        s_.firstChildren[from] = s_.nextSiblings[n];
        return;
    }
    for (Node c = s_.firstChildren[from]; c != none; c = s_.nextSiblings[c]) {
        if (s_.nextSiblings[c] == n) {
            s_.nextSiblings[c] = s_.nextSiblings[n];
            return;
        }
    }
}

void FileTree::subtractFromAncestors(uint64_t amount, Node startingAt) {
    for (Node a = startingAt; a != none; a = s_.parents[a]) {
        s_.sizes[a] -= std::min(s_.sizes[a], amount);
    }
}

void FileTree::remove(Node n) {
    if (n == root) return;
    // A node below a removed folder left the totals with that folder; subtracting it again
    // would shrink live ancestors twice.
    for (Node a = n; a != none; a = s_.parents[a]) {
        if (flags(a).contains(NodeFlags::dead)) return;
    }
    const Node p = s_.parents[n];
    unlink(n, p);
    s_.flagBits[n] |= NodeFlags::dead.rawValue();
    subtractFromAncestors(s_.sizes[n], p);
}

void FileTree::removeChildren(Node n) {
    for (Node c = s_.firstChildren[n]; c != none; c = s_.nextSiblings[c]) {
        s_.flagBits[c] |= NodeFlags::dead.rawValue();
    }
    s_.firstChildren[n] = none;
    const uint64_t removed = isDirectory(n) ? s_.sizes[n] : 0;
    s_.sizes[n] = 0;
    subtractFromAncestors(removed, s_.parents[n]);
}

FileTree::Node FileTree::appendRaw(Node parent, const FileTree& from, Node node) {
    const std::string_view bytes{from.s_.names.data() + from.s_.nameOffsets[node],
                                 from.s_.nameLengths[node]};
    return pushNode(parent, bytes, from.s_.sizes[node], from.s_.mtimes[node], from.s_.inodes[node],
                    from.s_.flagBits[node]);
}

FileTree FileTree::compacted() const {
    FileTree copy(rootPath_, EmptyTag{});
    copy.reserve(static_cast<int64_t>(count()));
    if (count() == 0) return copy;
    std::deque<std::pair<Node, Node>> work{{root, none}};
    while (!work.empty()) {
        const auto [old, newParent] = work.front();
        work.pop_front();
        const Node created = copy.appendRaw(newParent, *this, old);
        for (Node c = s_.firstChildren[old]; c != none; c = s_.nextSiblings[c]) {
            work.emplace_back(c, created);
        }
    }
    return copy;
}

}  // namespace quenwick
