#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "Shoreline/Rule.h"

// Dependency folders (node_modules, Pods, ...) of at least 10 MiB inside projects below the home
// folder whose other contents have not changed for 30 days. The search goes depth first to depth
// 8 and never enters dependency folders, hidden folders, packages or ~/snap app folders.
// Stateless; any thread.
namespace shoreline {

class ProjectDependenciesRule : public Rule {
public:
    struct Kind {
        std::string_view marker;  // must sit beside the folder; empty when none is needed
        std::string_view hint;
        Safety safety;
    };

    ProjectDependenciesRule()
        : Rule("deps", "Old project dependencies", "folder.badge.gearshape",
               "Installed dependencies in projects you haven't touched for a month. Reinstall "
               "with one command.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;

    // Dependency folder name → what marks it and how it comes back.
    [[nodiscard]] static const std::map<std::string, Kind, std::less<>>& kinds();

    // Whole days since the newest modification in project, leaving out `excluding`; at most
    // 20,000 nodes are examined.
    [[nodiscard]] static int64_t idleDays(const ShorelineContext& ctx,
                                          quenwick::FileTree::Node project,
                                          quenwick::FileTree::Node excluding);
};

}  // namespace shoreline
