#pragma once

#include <set>
#include <string>

#include "Shoreline/Rule.h"

// Disk images and installer packages directly in Downloads (and the XDG download folder) that
// are 14 or more days old, whatever their size; review. An AppImage is the app itself and is
// never an installer. Stateless; any thread.
namespace shoreline {

class InstallersRule : public Rule {
public:
    InstallersRule()
        : Rule("installers", "Old installers", "shippingbox.and.arrow.backward",
               "Disk images and installer packages in Downloads. Once installed, you rarely need "
               "them.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;

    // The installer extensions, lower case.
    [[nodiscard]] static const std::set<std::string, std::less<>>& extensions();
};

}  // namespace shoreline
