#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

namespace brimvale::testing {

// Points HOME and the XDG folders into `session` (before Qt starts), so a suite never reaches
// the real user's folders.
inline void pointHomeInto(const quenwick::testing::TempDir& session) {
    const std::string home = session / "home";
    const std::string runtime = session / "run";
    mkdir(home.c_str(), 0755);
    mkdir(runtime.c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

}  // namespace brimvale::testing
