#include "tools/SampleTree.h"

#include <random>
#include <string>

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::NodeFlags;

constexpr const char* kTop[] = {"Projects", "Videos",    "Photos",    ".cache",
                                "Music",    "Documents", "Downloads", "Games"};
constexpr const char* kInner[] = {"archive", "2024",    "2025",   "raw",
                                  "exports", "backups", "drafts", "build"};

struct Builder {
    FileTree& tree;
    std::mt19937_64 rng;
    int crowd;

    uint64_t pick(uint64_t lo, uint64_t hi) {
        return std::uniform_int_distribution<uint64_t>(lo, hi)(rng);
    }
    FileTree::Node dir(FileTree::Node parent, const std::string& name) {
        return tree.append(parent, name, 0, 0, tree.count(), NodeFlags::directory);
    }
    void file(FileTree::Node parent, const std::string& name, uint64_t size) {
        tree.append(parent, name, size, 0, tree.count(), {});
    }
    void fill(FileTree::Node folder, int depth, uint64_t weight) {
        const int folders = depth < 5 ? static_cast<int>(pick(2, 4)) : 0;
        for (int i = 0; i < folders; ++i)
            fill(dir(folder, std::string(kInner[pick(0, 7)]) + "-" + std::to_string(i)), depth + 1,
                 weight / pick(2, 5));
        for (int i = 0; i < 3; ++i)
            file(folder, "part-" + std::to_string(i) + ".bin", weight / pick(3, 12));
        for (int i = 0; i < crowd; ++i)
            file(folder, "note-" + std::to_string(i) + ".txt", pick(1, 4096));
    }
};

}  // namespace

std::shared_ptr<FileTree> sampleTree(uint64_t seed, int crowdPerFolder) {
    auto tree = std::make_shared<FileTree>("/home/sample");
    Builder b{*tree, std::mt19937_64(seed), crowdPerFolder};
    uint64_t weight = 90ull << 30;
    for (const char* top : kTop) {
        b.fill(b.dir(FileTree::root, top), 2, weight);
        weight = weight * 2 / 3;
    }
    tree->propagateSizes();
    return tree;
}

}  // namespace brimvale
