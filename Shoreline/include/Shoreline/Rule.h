#pragma once

#include <string>
#include <vector>

#include "Shoreline/Candidate.h"
#include "Shoreline/ShorelineContext.h"

// The interface of a suggestion rule: its card texts and the candidates it proposes for a
// context. Rules hold no state beyond their texts; candidates() may run on any thread.
namespace shoreline {

class Rule {
public:
    Rule(std::string id, std::string title, std::string symbol, std::string blurb)
        : id_(std::move(id)),
          title_(std::move(title)),
          symbol_(std::move(symbol)),
          blurb_(std::move(blurb)) {}
    virtual ~Rule() = default;

    const std::string& id() const { return id_; }
    const std::string& title() const { return title_; }
    const std::string& symbol() const { return symbol_; }
    const std::string& blurb() const { return blurb_; }

    // The proposals, in the rule's own order; the engine filters and sorts them.
    [[nodiscard]] virtual std::vector<Candidate> candidates(const ShorelineContext& ctx) const = 0;

private:
    std::string id_;
    std::string title_;
    std::string symbol_;
    std::string blurb_;
};

}  // namespace shoreline
