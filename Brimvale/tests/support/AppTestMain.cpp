#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// Every suite runs inside one Qt application, without a display.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
