#include "tools/ScreenshotsMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "app/MainWindowSupport.h"
#include "model/AppModel.h"
#include "platform/DesktopAppearance.h"
#include "ring/RingItem.h"
#include "tools/SampleTree.h"
#include "tools/ScreenshotDemo.h"

namespace brimvale {

namespace {

using namespace screenshots;
using quenwick::FileTree;
using quenwick::NodeFlags;

// The sample home with a project's version history in it, for a staged item with a caution.
std::shared_ptr<FileTree> treeWithHistory() {
    auto tree = sampleTree();
    for (const auto top : tree->childrenBySize(FileTree::root)) {
        if (tree->name(top) != "Projects") continue;
        const auto project =
            tree->append(top, "brimvale-site", 0, 0, tree->count(), NodeFlags::directory);
        const auto git = tree->append(project, ".git", 0, 0, tree->count(), NodeFlags::directory);
        tree->append(git, "pack-1.pack", 2'400'000'000ull, 0, tree->count(), {});
        tree->append(project, "index.html", 24'000, 0, tree->count(), {});
        break;
    }
    tree->propagateSizes();
    return tree;
}

}  // namespace

namespace screenshots {

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void pause(int ms) {
    waitUntil([] { return false; }, ms);
}

bool save(QQuickWindow& window, const QColor& background, const QString& path) {
    pause(400);
    return saveFlattened(window.grabWindow(), background, path);
}

bool saveFlattened(const QImage& picture, const QColor& background, const QString& path) {
    QImage out(picture.size(), QImage::Format_RGB32);
    out.fill(background);
    QPainter(&out).drawImage(0, 0, picture);
    if (!out.convertToFormat(QImage::Format_RGB888).save(path, "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace screenshots

bool saveMainWindowScreenshots(const QString& outDir) {
    AppModel model(screenshots::services());
    // The tour's own picture is taken elsewhere.
    model.settings().setTourSeen(true);
    DesktopAppearance appearance(false);
    appearance.apply("org.freedesktop.appearance", "color-scheme", 2u);
    if (!screenshots::showDemoIn(model)) {
        if (screenshots::demo()) return false;
        model.setTarget(ScanTarget::folder("/home/sample"));
        const uint64_t total = 512'000'000'000ull, available = 141'000'000'000ull;
        model.installTree(treeWithHistory(), quenwick::VolumeInfo{total, available, available});
        model.setStartupVolume(quenwick::VolumeInfo{total, available, available});
    }

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty("appearance", &appearance);
    engine.rootContext()->setContextProperty("appModel", &model);
    installMainWindow(engine, model);
    engine.load(QUrl("qrc:/qml/Main.qml"));
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects()[0]);
    if (!window) {
        std::fprintf(stderr, "the main window did not load\n");
        return false;
    }
    window->resize(1280, 800);
    if (!waitUntil([&] { return window->isExposed(); }, 5000)) return false;
    auto* ring = window->findChild<RingItem*>();
    if (!ring || !ring->available()) {
        std::fprintf(stderr, "no GPU path for the ring on this display\n");
        return false;
    }

    // One staged folder, the second biggest of the home (the demo's biggest are standard folders,
    // which the guard keeps: a project there instead).
    const auto top = model.tree()->childrenBySize(model.focus());
    if (screenshots::demo())
        model.stage(QString::fromStdString(screenshots::inHome("Projects/old-portfolio")));
    else
        model.toggleStaged(top.size() > 1 ? top[1] : top[0]);
    if (!waitUntil([&] { return model.lowTide().size() == 1; }, 5000)) {
        std::fprintf(stderr, "the sample item could not be staged\n");
        return false;
    }
    model.hoverNode(top[0]);
    const auto settled = [&] { return waitUntil([&] { return !ring->animating(); }, 5000); };
    settled();
    if (!save(*window, QColor("#f6f6f9"), outDir + "/main-light.png")) return false;
    appearance.apply("org.freedesktop.appearance", "color-scheme", 1u);
    settled();
    if (!save(*window, QColor("#1c1c22"), outDir + "/main-dark.png")) return false;

    // The review of a project's history beside the folder.
    appearance.apply("org.freedesktop.appearance", "color-scheme", 2u);
    model.clearHovered();
    model.stage(QString::fromStdString(screenshots::inHome(
        screenshots::demo() ? "Projects/storefront-web/.git" : "Projects/brimvale-site/.git")));
    if (!waitUntil([&] { return model.lowTide().size() == 2; }, 5000)) {
        std::fprintf(stderr, "the history folder could not be staged\n");
        return false;
    }
    QObject* review = qvariant_cast<QObject*>(window->property("review"));
    if (!review || !QMetaObject::invokeMethod(review, "openReview")) return false;
    settled();
    return save(*window, QColor("#f6f6f9"), outDir + "/review.png");
}

}  // namespace brimvale
