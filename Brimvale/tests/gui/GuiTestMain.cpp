#include <sys/stat.h>

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "model/AppModel.h"
#include "ring/RingItem.h"

// The window tests run on a real display (Xvfb in the test suite) with the OpenGL backend and
// one sample per pixel, so that grabbed colours are exact; HOME and the XDG folders point into a
// temporary folder as in the other suites.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 77;
    }
    setenv("QSG_RHI_BACKEND", "opengl", 0);
    setenv("BRIMVALE_RING_SAMPLES", "1", 0);
    unsetenv("QT_QPA_PLATFORM");
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
    brimvale::AppModel::registerQmlTypes();
    brimvale::RingItem::registerQmlType();
    return RUN_ALL_TESTS();
}
