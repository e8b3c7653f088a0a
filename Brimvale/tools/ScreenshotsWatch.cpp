#include "tools/ScreenshotsWatch.h"

#include <QEventLoop>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>

#include "QuenwickCore/TideSummary.h"
#include "model/AppModel.h"
#include "tools/ScreenshotsMain.h"
#include "watch/Glyph.h"

namespace brimvale {
namespace {

// A panel as dark as the common desktops' dark panels.
const QColor kDarkPanel(0x24, 0x24, 0x28);

void pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// 40 days of a 500 GB disk filling by about 3 GB a day over the last two weeks, with a few
// folders that grew.
History madeUpHistory(const std::string& home) {
    History history;
    const double newest = std::floor(quenwick::TideSummary::now());
    const std::vector<std::pair<std::string, double>> folders{
        {home + "/Videos", 2.1e9},
        {home + "/Projects/atlas/node_modules", 1.2e9},
        {home + "/.cache/pip", 0.6e9},
        {home + "/Downloads", 0.45e9},
        {home + "/.local/share/Steam", 0.9e9},
        {home + "/Pictures/2026", 0.25e9},
        {home + "/.var/app", 0.15e9}};
    for (int i = 0; i < 40; ++i) {
        quenwick::TideSummary s;
        const int back = 39 - i;
        s.date = newest - back * 86'400.0;
        s.volumeTotal = 500'000'000'000;
        const double early = 372e9 + 0.8e9 * i + 2e9 * std::sin(i * 1.3);
        const double late = 388e9 + 3e9 * (i - 26) + 0.6e9 * std::sin(i * 2.1);
        s.volumeUsed = static_cast<uint64_t>(i < 26 ? early : late);
        for (size_t f = 0; f < folders.size(); ++f)
            s.folders[folders[f].first] =
                static_cast<uint64_t>(4e9 + f * 1e9 + folders[f].second * std::max(0, i - 28));
        history.push_back(s);
    }
    return history;
}

bool saveTray(double fullness, const QString& path) {
    return screenshots::saveFlattened(Glyph::image(fullness, 48, Glyph::Panel::dark), kDarkPanel,
                                      path);
}

}  // namespace

bool saveWatchScreenshots(AppModel& model, const QString& outDir) {
    model.setStartupVolume(quenwick::VolumeInfo{500'000'000'000, 70'400'000'000, 70'400'000'000});
    model.setHistory(madeUpHistory(model.environment().home));

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty("appModel", &model);
    QObject* theme = engine.singletonInstance<QObject*>(qmlTypeId("Brimvale", 1, 0, "Theme"));

    QQmlComponent popoverComponent(&engine, QUrl("qrc:/qml/TideWatchPopover.qml"));
    std::unique_ptr<QQuickWindow> popover(qobject_cast<QQuickWindow*>(popoverComponent.create()));
    QQmlComponent historyComponent(&engine, QUrl("qrc:/qml/HistoryView.qml"));
    std::unique_ptr<QQuickItem> history(qobject_cast<QQuickItem*>(historyComponent.create()));
    if (!popover || !history || !theme) {
        std::fprintf(stderr, "%s%s\n", qPrintable(popoverComponent.errorString()),
                     qPrintable(historyComponent.errorString()));
        return false;
    }
    // Shown as an ordinary window: nothing takes its focus away while it is grabbed.
    popover->setFlags(Qt::Window | Qt::FramelessWindowHint);
    QQuickWindow historyWindow;
    history->setParentItem(historyWindow.contentItem());
    historyWindow.resize(1040, 760);
    history->setSize(QSizeF(1040, 760));
    popover->show();
    historyWindow.show();

    for (const bool dark : {false, true}) {
        theme->setProperty("dark", dark);
        const QColor window = theme->property("window").value<QColor>();
        const QColor surface = theme->property("surface").value<QColor>();
        historyWindow.setColor(window);
        // Qt Charts paints a moment after a change.
        pump(900);
        const QString suffix = dark ? "-dark.png" : ".png";
        if (!screenshots::saveFlattened(historyWindow.grabWindow(), window,
                                        outDir + "/history" + suffix) ||
            !screenshots::saveFlattened(popover->grabWindow(), surface,
                                        outDir + "/popover" + suffix))
            return false;
    }
    // The first day: every empty state.
    theme->setProperty("dark", false);
    historyWindow.setColor(theme->property("window").value<QColor>());
    model.setHistory({});
    pump(300);
    if (!screenshots::saveFlattened(historyWindow.grabWindow(),
                                    theme->property("window").value<QColor>(),
                                    outDir + "/history-empty.png") ||
        !screenshots::saveFlattened(popover->grabWindow(),
                                    theme->property("surface").value<QColor>(),
                                    outDir + "/popover-empty.png"))
        return false;
    return saveTray(0.25, outDir + "/tray-25.png") && saveTray(0.9, outDir + "/tray-90.png");
}

}  // namespace brimvale
