#include "tools/ScreenshotsPanels.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "QuenwickCore/UserFolders.h"
#include "app/MainWindowSupport.h"
#include "lifecycle/SettingsController.h"
#include "model/AppModel.h"
#include "platform/DesktopAppearance.h"
#include "tools/ScreenshotsMain.h"

namespace brimvale {

namespace {

using namespace screenshots;

constexpr uint64_t kMiB = 1u << 20;

// A file of that many allocated bytes (what a scan counts) without writing them, optionally
// last touched that many days ago.
bool allocate(const std::string& path, uint64_t bytes, int daysOld = 0) {
    const auto slash = path.rfind('/');
    if (std::system(("mkdir -p '" + path.substr(0, slash) + "'").c_str()) != 0) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = posix_fallocate(fd, 0, static_cast<off_t>(bytes)) == 0;
    if (daysOld > 0) {
        timespec times[2];
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= daysOld * 86400L;
        times[1] = times[0];
        ok = ok && futimens(fd, times) == 0;
    }
    ::close(fd);
    return ok;
}

// A home worth cleaning: app caches, a package cache, an old installer and a full Trash.
bool fillHome() {
    const std::string home = quenwick::userFolders::home();
    const std::string cache = quenwick::userFolders::cacheHome();
    const std::string data = quenwick::userFolders::dataHome();
    return allocate(cache + "/chromium/Default/Cache/data_1", 96 * kMiB) &&
           allocate(cache + "/thumbnails/large/a.png", 18 * kMiB) &&
           allocate(cache + "/fontconfig/cache-9", 3 * kMiB) &&
           allocate(cache + "/spotify/Storage/index", 44 * kMiB) &&
           allocate(cache + "/pip/http/wheels", 30 * kMiB) &&
           allocate(home + "/Downloads/virtualbox-7.0_amd64.deb", 110 * kMiB, 200) &&
           allocate(home + "/Downloads/ubuntu-22.04-desktop.iso", 140 * kMiB, 300) &&
           allocate(home + "/Documents/thesis.odt", 2 * kMiB) &&
           allocate(data + "/Trash/files/old-backup.tar", 64 * kMiB);
}

QQuickWindow* windowNamed(QQmlApplicationEngine& engine, const QString& name) {
    for (QObject* root : engine.rootObjects())
        if (auto* w = qobject_cast<QQuickWindow*>(root); w && w->objectName() == name) return w;
    for (QObject* root : engine.rootObjects())
        if (auto* w = qobject_cast<QQuickWindow*>(root); w && name.isEmpty()) return w;
    return nullptr;
}

}  // namespace

bool savePanelScreenshots(const QString& outDir) {
    if (!fillHome()) {
        std::fprintf(stderr, "cannot build the sample home\n");
        return false;
    }
    AppModel model(AppModel::Services::current());
    model.settings().setTourSeen(true);
    DesktopAppearance appearance(false);
    appearance.apply("org.freedesktop.appearance", "color-scheme", 2u);
    model.choose(ScanTarget::home());
    if (!waitUntil([&] { return model.shorelinePhase() == ShorelinePhase::ready; }, 20000)) {
        std::fprintf(stderr, "the sample home was not analysed\n");
        return false;
    }
    const QColor light("#f6f6f9");

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty("appearance", &appearance);
    engine.rootContext()->setContextProperty("appModel", &model);
    installMainWindow(engine, model);
    SettingsController::install(engine, model);
    engine.load(QUrl("qrc:/qml/Main.qml"));
    QQuickWindow* main = nullptr;
    for (QObject* root : engine.rootObjects())
        if (auto* w = qobject_cast<QQuickWindow*>(root); w && w->objectName() != "settingsWindow")
            main = w;
    QQuickWindow* settingsWindow = windowNamed(engine, "settingsWindow");
    if (!main || !settingsWindow) {
        std::fprintf(stderr, "the windows did not load\n");
        return false;
    }
    main->resize(1280, 800);
    if (!waitUntil([&] { return main->isExposed(); }, 5000)) return false;

    model.show(AppSection::shoreline);
    auto* suggestions = main->findChild<QQuickItem*>("suggestionsView");
    if (!waitUntil([&] { return (suggestions = main->findChild<QQuickItem*>("suggestionsView")); },
                   5000) ||
        model.shoreline().empty()) {
        std::fprintf(stderr, "the Suggestions did not load\n");
        return false;
    }
    QMetaObject::invokeMethod(suggestions, "toggleExpanded",
                              Q_ARG(QVariant, QString::fromStdString(model.shoreline()[0].id)));
    if (!save(*main, light, outDir + "/suggestions.png")) return false;

    model.show(AppSection::explorer);
    model.showTourStep(1);
    if (!save(*main, light, outDir + "/tour.png")) return false;
    model.endTour();

    settingsWindow->resize(1280, 800);
    QMetaObject::invokeMethod(engine.rootContext()->contextProperty("settings").value<QObject*>(),
                              "open");
    if (!waitUntil([&] { return settingsWindow->isExposed(); }, 5000)) return false;
    return save(*settingsWindow, light, outDir + "/settings.png");
}

}  // namespace brimvale
