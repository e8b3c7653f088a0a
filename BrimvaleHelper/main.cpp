#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "HelperKit/HelperIdentity.h"
#include "HelperKit/HelperSandbox.h"
#include "HelperKit/HelperService.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Version.h"

// brimvale-helper: the privileged scan helper, started by the system bus on demand. It takes no
// options in service. Tests and benchmarks run it on a private bus and may pass
// --idle-seconds S (the idle check then ticks every S/8 seconds, as 15 is to 120) and
// --encode-threads N. --version prints the version and exits.
int main(int argc, char** argv) {
    // Printing the version touches nothing, so it needs no capability dropped first.
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
        std::printf("brimvale-helper %s\n", quenwick::productVersion());
        return 0;
    }
    // Before anything else, and before any thread: whoever started it, it keeps no more.
    if (const auto error = helperkit::keepOnlyReadSearchCapability()) {
        std::fprintf(stderr, "brimvale-helper: cannot drop its capabilities: %s\n", error->c_str());
        return 1;
    }
    helperkit::HelperServiceOptions options;
    options.build = helperkit::HelperIdentity::installedBuild();
    options.batchSize = helperkit::HelperIdentity::batchSize;
    options.encodeThreads = unsigned(quenwick::DiskScanner::defaultWorkers());
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--idle-seconds") {
            const double seconds = std::strtod(value, nullptr);
            if (seconds > 0 && seconds < 86400) {
                options.idle = std::chrono::milliseconds(long(seconds * 1000));
                options.idleTick = std::max(std::chrono::milliseconds(10), options.idle / 8);
            }
        } else if (flag == "--encode-threads") {
            const long threads = std::strtol(value, nullptr, 10);
            if (threads >= 1 && threads <= 64) options.encodeThreads = unsigned(threads);
        }
    }
    return helperkit::runHelperService(argc, argv, options);
}
