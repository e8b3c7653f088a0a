#pragma once

#include "Shoreline/Rule.h"

// Items of at least 1 MiB directly in Downloads (and the XDG download folder) idle for 90 days or
// more, folders judged by their own size and dates; review. Stateless; candidates() may run on any
// thread.
namespace shoreline {

class OldDownloadsRule : public Rule {
public:
    OldDownloadsRule()
        : Rule("downloads", "Forgotten downloads", "arrow.down.circle",
               "Things in Downloads you haven't opened in three months.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;
};

}  // namespace shoreline
