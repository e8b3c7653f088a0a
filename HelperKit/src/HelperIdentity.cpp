#include "HelperKit/HelperIdentity.h"

namespace helperkit::HelperIdentity {

std::string versionString(std::string_view build) {
    return std::to_string(protocolVersion) + "/" + std::string(build);
}

std::string installedBuild() {
#ifdef BRIMVALE_BUILD
    const std::string_view build = BRIMVALE_BUILD;
    if (!build.empty()) return std::string(build);
#endif
    return "0";
}

}  // namespace helperkit::HelperIdentity
