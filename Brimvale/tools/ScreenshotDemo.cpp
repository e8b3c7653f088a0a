#include "tools/ScreenshotDemo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <cstdio>

#include "demo/DemoMachine.h"

namespace brimvale::screenshots {
namespace {
bool demoMode = false;
}

void setDemo(bool demo) {
    demoMode = demo;
}

bool demo() {
    return demoMode;
}

AppModel::Services services() {
    if (!demoMode) return AppModel::Services::current();
    return AppModel::Services::demoMachine(DemoMachine::make(std::chrono::system_clock::now()));
}

bool showDemoIn(AppModel& model) {
    if (!demoMode || !model.demoMode()) return false;
    model.start();
    QDeadlineTimer deadline(20000);
    while (model.shorelinePhase() != ShorelinePhase::ready && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    if (model.shorelinePhase() != ShorelinePhase::ready) {
        std::fprintf(stderr, "the demo computer's suggestions did not get ready\n");
        return false;
    }
    if (const auto home = model.tree()->nodeAtPath(DemoMachine::home)) model.focusOn(*home);
    return true;
}

std::string inHome(const std::string& relative) {
    return std::string(demoMode ? DemoMachine::home : "/home/sample") + "/" + relative;
}

}  // namespace brimvale::screenshots
