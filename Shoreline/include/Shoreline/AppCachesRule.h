#pragma once

#include "Shoreline/Rule.h"

// Application caches: the folders in the home Library/Caches and in $XDG_CACHE_HOME, the Caches
// folder of each sandboxed container and each Flatpak app's cache, skipping those of running
// apps. What another rule owns in the cache folder (package caches, downloaded models) and folders
// holding the user's data are left to that rule or to nobody, never proposed as a safe cache.
// Stateless; candidates() may run on any thread.
namespace shoreline {

class AppCachesRule : public Rule {
public:
    AppCachesRule()
        : Rule("caches", "App caches", "shippingbox",
               "Temporary files apps keep to load faster. They rebuild them as needed.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;
};

}  // namespace shoreline
