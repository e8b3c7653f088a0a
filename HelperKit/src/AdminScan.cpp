#include "HelperKit/AdminScan.h"

#include "QuenwickCore/SnapshotScan.h"

namespace helperkit {

std::string AdminScanError::describe() const {
    switch (kind) {
        case Kind::unavailable:
            return "administrator scan isn't available: " + helper.describe();
        case Kind::failed:
            return "administrator scan of " + root + " failed: " + helper.describe();
        case Kind::damaged:
            return "administrator scan of " + root + " arrived damaged: " + snapshot.describe();
        case Kind::unreadableRoot:
            return "cannot read " + root + " even as administrator";
    }
    return "administrator scan of " + root + " failed";
}

namespace AdminScan {

std::variant<quenwick::LoadedSnapshot, AdminScanError> run(const std::string& root,
                                                           const std::string& expectedBuild,
                                                           HelperClient::ProgressCallback progress,
                                                           const HelperEndpoint& endpoint) {
    using Kind = AdminScanError::Kind;
    {
        HelperClient probe(endpoint);
        if (auto error = probe.handshake(expectedBuild)) {
            return AdminScanError{Kind::unavailable, root, *error, {}};
        }
    }
    // This user's journal position, taken just before asking.
    const auto stamp = quenwick::SnapshotScan::stampBefore(root);
    HelperClient client(endpoint);
    auto received = client.scan(root, std::move(progress));
    client.invalidate();
    if (auto* error = std::get_if<HelperError>(&received)) {
        return AdminScanError{Kind::failed, root, *error, {}};
    }
    auto decoded = quenwick::Snapshot::decode(std::get<std::vector<uint8_t>>(received), 2);
    if (auto* error = std::get_if<quenwick::SnapshotError>(&decoded)) {
        return AdminScanError{Kind::damaged, root, {}, *error};
    }
    auto loaded = std::get<quenwick::LoadedSnapshot>(std::move(decoded));
    if (loaded.tree->flags(quenwick::FileTree::root).contains(quenwick::NodeFlags::unreadable)) {
        return AdminScanError{Kind::unreadableRoot, root, {}, {}};
    }
    loaded.meta.fsEventID = stamp.fsEventID;
    return loaded;
}

}  // namespace AdminScan
}  // namespace helperkit
