#pragma once

#include "Shoreline/Rule.h"

// Xcode's build products, device symbols unused for 90 days, archives older than 180 days and the
// simulator cache, in the home Library/Developer. Stateless; candidates() may run on any thread.
namespace shoreline {

class XcodeRule : public Rule {
public:
    XcodeRule()
        : Rule("xcode", "Xcode", "hammer",
               "Build products, old archives and device symbols Xcode can recreate.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;
};

}  // namespace shoreline
