// The main of test programs that need the process's Qt application object, as the app and the
// command-line tool have one: made here, on the main thread, before any test runs. Tests that
// need its event loop turn it with QCoreApplication::processEvents or a QEventLoop.
#include <QtCore/QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
