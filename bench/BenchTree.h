#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace brimvale::bench {

// The 1,000,000-file tree that bench/make-bench-tree.sh builds: BRIMVALE_BENCH_TREE, or the
// cached copy under BRIMVALE_BENCH_DIR (default /tmp/brimvale-bench). Empty when it is missing,
// so a benchmark can skip itself with a clear message.
inline std::string benchTreePath() {
    if (const char* p = std::getenv("BRIMVALE_BENCH_TREE")) return p;
    const char* dir = std::getenv("BRIMVALE_BENCH_DIR");
    const std::string path =
        std::string(dir != nullptr ? dir : "/tmp/brimvale-bench") + "/tree-home-1000000";
    struct stat st;
    return stat((path + "/.tree-manifest.json").c_str(), &st) == 0 ? path : std::string();
}

}  // namespace brimvale::bench
