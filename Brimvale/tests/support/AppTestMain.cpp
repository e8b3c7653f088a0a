#include <sys/stat.h>

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

// Every suite runs inside one Qt application, without a display, with HOME and the XDG folders
// in a temporary folder (each test's fixture then points them at a folder of its own).
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    quenwick::testing::TempDir session;
    const std::string home = session / "home";
    const std::string runtime = session / "run";
    mkdir(home.c_str(), 0755);
    mkdir(runtime.c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
