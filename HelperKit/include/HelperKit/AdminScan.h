#pragma once

#include <string>
#include <variant>

#include "HelperKit/HelperClient.h"
#include "HelperKit/HelperError.h"
#include "QuenwickCore/Snapshot.h"

// A scan of a folder as administrator, kept as a snapshot: checks that the helper answers with
// the expected build, takes this user's change-journal position (the helper's own snapshot
// knows no journal of ours), has the helper scan and stream the snapshot back, and decodes it.
// The tree then belongs to the caller, who may save it with Snapshot::save.
//
// Blocks its caller, as the blocking HelperClient does (never on a GUI thread). Stateless; calls
// may come from any thread, each with clients of its own.
namespace helperkit {

struct AdminScanError {
    enum class Kind {
        unavailable,     // no helper, or one of another build (helper set)
        failed,          // the helper refused or the connection broke (helper set)
        damaged,         // the snapshot arrived damaged (snapshot set)
        unreadableRoot,  // even the helper cannot list the root
    };
    Kind kind = Kind::failed;
    std::string root;
    HelperError helper;
    quenwick::SnapshotError snapshot;

    // One line, e.g. "administrator scan of /srv failed: Not authorized ...".
    [[nodiscard]] std::string describe() const;
};

namespace AdminScan {

// Scans root (absolute) through the helper at endpoint (by default the installed one on the
// system bus, owned by root). progress runs on the client's messaging thread.
[[nodiscard]] std::variant<quenwick::LoadedSnapshot, AdminScanError> run(
    const std::string& root, const std::string& expectedBuild,
    HelperClient::ProgressCallback progress = nullptr, const HelperEndpoint& endpoint = {});

}  // namespace AdminScan
}  // namespace helperkit
