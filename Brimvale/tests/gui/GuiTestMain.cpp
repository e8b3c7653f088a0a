#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "SessionHome.h"
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
    brimvale::testing::pointHomeInto(session);
    QApplication app(argc, argv);
    brimvale::AppModel::registerQmlTypes();
    brimvale::RingItem::registerQmlType();
    return RUN_ALL_TESTS();
}
