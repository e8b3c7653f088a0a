#pragma once

#include <string>
#include <utility>
#include <vector>

// What the change journal says about a folder since a stored position: either the directories in
// which something changed (absolute paths as exact bytes, each once, sorted ascending; possibly
// none), or that it cannot say precisely and only a full scan gives a correct tree. A plain value.
namespace quenwick {

class ChangeSet {
public:
    [[nodiscard]] static ChangeSet directories(std::vector<std::string> paths) {
        ChangeSet set;
        set.paths_ = std::move(paths);
        return set;
    }
    [[nodiscard]] static ChangeSet fullRescanNeeded() {
        ChangeSet set;
        set.full_ = true;
        return set;
    }

    bool needsFullRescan() const { return full_; }
    // The changed directories; empty when a full rescan is needed.
    const std::vector<std::string>& paths() const { return paths_; }

    bool operator==(const ChangeSet&) const = default;

private:
    ChangeSet() = default;
    std::vector<std::string> paths_;
    bool full_ = false;
};

}  // namespace quenwick
