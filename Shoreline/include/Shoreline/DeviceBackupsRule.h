#pragma once

#include "Shoreline/Rule.h"

// Device backups in the home Library/Application Support/MobileSync/Backup last changed 365 or more
// days ago; caution. Stateless; candidates() may run on any thread.
namespace shoreline {

class DeviceBackupsRule : public Rule {
public:
    DeviceBackupsRule()
        : Rule("backups", "Old device backups", "iphone",
               "iPhone and iPad backups more than a year old.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;
};

}  // namespace shoreline
