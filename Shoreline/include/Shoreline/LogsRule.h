#pragma once

#include "Shoreline/Rule.h"

// Each item of at least 1 MiB in the home Library/Logs, safe: apps start new logs by themselves.
// Stateless; candidates() may run on any thread.
namespace shoreline {

class LogsRule : public Rule {
public:
    LogsRule()
        : Rule("logs", "Logs", "doc.text",
               "Diagnostic logs apps write as they run. Only useful when troubleshooting.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;
};

}  // namespace shoreline
