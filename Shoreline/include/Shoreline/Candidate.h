#pragma once

#include <string>

#include "QuenwickCore/FileTree.h"
#include "Shoreline/Safety.h"

// What a rule proposes: a node of the context's tree, how safe removing it is, and the sentence
// shown under it. A plain value; the engine still has to accept it.
namespace shoreline {

struct Candidate {
    quenwick::FileTree::Node node = quenwick::FileTree::none;
    Safety safety = Safety::review;
    std::string reason;

    bool operator==(const Candidate&) const = default;
};

}  // namespace shoreline
