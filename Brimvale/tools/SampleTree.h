#pragma once

#include <cstdint>
#include <memory>

#include "QuenwickCore/FileTree.h"

// A made-up home folder for screenshots, pixel tests and benchmarks: a handful of big folders
// with named children several levels deep, crowds of small files, and the same tree for the same
// seed. The sizes are rolled up.
namespace brimvale {

[[nodiscard]] std::shared_ptr<quenwick::FileTree> sampleTree(uint64_t seed = 7,
                                                             int crowdPerFolder = 40);

}  // namespace brimvale
