#pragma once

#include "Shoreline/Rule.h"

// The user's own files of at least ctx.largeFileMinBytes idle for 180 days or more, outside managed
// media libraries; caution. Stateless; candidates() may run on any thread.
namespace shoreline {

class LargeOldFilesRule : public Rule {
public:
    LargeOldFilesRule()
        : Rule("large", "Large, untouched files", "doc.badge.clock",
               "Big files you haven't opened in six months. Worth a look before you remove "
               "anything.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;
};

}  // namespace shoreline
