#pragma once

#include <memory>
#include <vector>

#include "Shoreline/Rule.h"
#include "Shoreline/ShorelineCategory.h"
#include "Shoreline/ShorelineContext.h"

// The suggestion engine. analyze() asks every rule in registry order, drops a proposal that
// overlaps an earlier finding (or one of the app's own folders) or that the guard blocks, and
// returns one category per rule that found anything, largest total first.
//
// analyze() is synchronous and may take seconds (the duplicate finder reads files): never call it
// on a thread that must stay responsive. Any thread; the tree must not change meanwhile.
namespace shoreline::Shoreline {

// The ten rules in their fixed order, built once; read-only and shared by every thread.
[[nodiscard]] const std::vector<std::unique_ptr<Rule>>& rules();

[[nodiscard]] std::vector<ShorelineCategory> analyze(const ShorelineContext& ctx);

// The same over a list of rules of the caller's choosing, in that order.
[[nodiscard]] std::vector<ShorelineCategory> analyze(const ShorelineContext& ctx,
                                                     const std::vector<const Rule*>& rules);

}  // namespace shoreline::Shoreline
