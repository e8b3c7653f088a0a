#include "tools/ScreenshotDemo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

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

namespace {

// The 256 commonest colours (at 5 bits a channel): views are mostly flat colours, so this palette
// keeps them exact where a fixed colour cube would shift them.
QList<QRgb> commonColours(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++counts[line[x] & 0xfff8f8f8u];
    }
    std::vector<std::pair<int, QRgb>> ranked;
    for (const auto& [colour, count] : counts)
        ranked.emplace_back(count, colour);
    std::sort(ranked.rbegin(), ranked.rend());
    QList<QRgb> table;
    for (size_t i = 0; i < ranked.size() && i < 256; ++i)
        table.push_back(ranked[i].second | 0xff000000u);
    return table;
}

}  // namespace

bool saveDocumentationCopies(const QString& outDir, const QString& docsDir) {
    if (!QDir().mkpath(docsDir)) return false;
    for (const QString name : {"main-light.png", "main-dark.png", "review.png"}) {
        const QImage full(outDir + "/" + name);
        if (full.isNull()) return false;
        const QImage scaled =
            full.scaledToWidth(800, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
        const QImage small = scaled.convertToFormat(QImage::Format_Indexed8, commonColours(scaled),
                                                    Qt::ThresholdDither);
        if (!small.save(docsDir + "/" + name, "PNG", 9)) return false;
        std::printf("%s\n", qPrintable(docsDir + "/" + name));
    }
    return true;
}

std::string inHome(const std::string& relative) {
    return std::string(demoMode ? DemoMachine::home : "/home/sample") + "/" + relative;
}

}  // namespace brimvale::screenshots
