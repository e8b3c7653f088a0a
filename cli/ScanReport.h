#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>

#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/FileTree.h"

// The report that `scan`, `load` and `refresh` print for a tree: totals, what could not be read,
// and the biggest items below the root (`depth` levels deep, at most `top` per folder, each with
// its share of its folder), as aligned text or as JSON. Reads the tree only.
namespace brimvale::cli {

struct ScanReport {
    const quenwick::FileTree& tree;
    int top = 20;
    int64_t elapsedMs = 0;
    int depth = 1;
    quenwick::ByteUnits units = quenwick::ByteUnits::decimal;

    [[nodiscard]] nlohmann::ordered_json json() const;
    void print() const;

    // Live nodes flagged unreadable, by path (the root included when it is).
    [[nodiscard]] std::vector<quenwick::FileTree::Node> unreadable() const;
};

// The listing options every verb that prints a report shares: -n/--top, -d/--depth, --bytes,
// --binary.
struct ListingArgs {
    int top = 20;
    int depth = 1;
    bool bytes = false;
    bool binary = false;

    void addTo(CLI::App& verb);
    [[nodiscard]] ScanReport reportOf(const quenwick::FileTree& tree, int64_t elapsedMs) const;
};

// How many paths the text report names before it sums up the rest.
inline constexpr size_t kUnreadableShown = 20;

}  // namespace brimvale::cli
