#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "SessionHome.h"
#include "TestSupport.h"

// Every suite runs inside one Qt application, without a display, with HOME and the XDG folders
// in a temporary folder (each test's fixture then points them at a folder of its own).
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    quenwick::testing::TempDir session;
    brimvale::testing::pointHomeInto(session);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
