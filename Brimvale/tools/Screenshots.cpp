// brimvale-screenshots [--demo [--docs DOCSDIR]] OUTDIR: pictures of the app's views made from a
// generated tree (with --demo, from the fictional computer of demo mode, tools/ScreenshotDemo.h),
// for the documentation and for looking at changes: ring-light.png and ring-dark.png, then the
// main window's (tools/ScreenshotsMain.h), the Space Watch pictures (tools/ScreenshotsWatch.h)
// and the panels' (tools/ScreenshotsPanels.h), 1280 × 800, each on the window's opaque
// background. Needs a display (the screenshots script brings Xvfb). --docs also writes small
// copies into DOCSDIR.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "RingKit/Theme.h"
#include "model/AppModel.h"
#include "ring/RingItem.h"
#include "ring/RingSampling.h"
#include "tools/SampleTree.h"
#include "tools/ScreenshotDemo.h"
#include "tools/ScreenshotsMain.h"
#include "tools/ScreenshotsPanels.h"
#include "tools/ScreenshotsWatch.h"

namespace {

using namespace brimvale;

QColor backgroundOf(bool dark) {
    const auto c = ringkit::Theme::background(dark);
    return QColor::fromRgbF(c.r, c.g, c.b);
}

// Grabs once the ring has settled, flattened onto the background (a grab may carry alpha).
bool save(QQuickView& view, const RingItem& ring, bool dark, const QString& path) {
    view.setColor(backgroundOf(dark));
    view.rootObject()->setProperty("dark", dark);
    if (!QTest::qWaitFor([&] { return !ring.animating(); }, 5000)) {
        std::fprintf(stderr, "the ring did not settle for %s\n", qPrintable(path));
        return false;
    }
    QTest::qWait(300);
    return screenshots::saveFlattened(view.grabWindow(), backgroundOf(dark), path);
}

}  // namespace

int main(int argc, char** argv) {
    // [--demo [--docs DOCSDIR]] OUTDIR
    const bool demo = argc >= 3 && std::string_view(argv[1]) == "--demo";
    const bool docs = argc == 5 && demo && std::string_view(argv[2]) == "--docs";
    if (!(argc == 2 || (demo && argc == 3) || docs)) {
        std::fprintf(stderr, "usage: brimvale-screenshots [--demo [--docs DOCSDIR]] OUTDIR\n");
        return 2;
    }
    const char* outArg = argv[argc - 1];
    // Nothing of the real user's is read or written: the model lives in a home of its own.
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    const QByteArray h = home.path().toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    setenv("QSG_RHI_BACKEND", "opengl", 0);

    QApplication app(argc, argv);
    const QString outDir = QDir(QString::fromLocal8Bit(outArg)).absolutePath();
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", outArg);
        return 1;
    }
    AppModel::registerQmlTypes();
    RingItem::registerQmlType();
    RingSampling::applyToDefaultFormat();

    screenshots::setDemo(demo);
    AppModel model(screenshots::services());
    if (!screenshots::showDemoIn(model)) {
        if (demo) return 1;
        model.setTarget(ScanTarget::folder("/home/sample"));
        const uint64_t total = 1000000, used = 620000;
        model.installTree(sampleTree(), quenwick::VolumeInfo{total, total - used, total - used});
    }

    QQuickView view;
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl("qrc:/qml/RingView.qml"));
    if (!view.rootObject()) return 1;
    view.rootObject()->setProperty("model", QVariant::fromValue(&model));
    view.rootObject()->setProperty("reducedMotion", true);
    view.resize(1280, 800);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) return 1;
    auto* ring = view.rootObject()->findChild<RingItem*>();
    if (!ring || !ring->available()) {
        std::fprintf(stderr, "no GPU path for the ring on this display\n");
        return 1;
    }
    for (const bool dark : {false, true}) {
        const QString path = outDir + (dark ? "/ring-dark.png" : "/ring-light.png");
        if (!save(view, *ring, dark, path)) return 1;
    }
    view.close();
    if (!saveMainWindowScreenshots(outDir)) return 1;
    if (!saveWatchScreenshots(model, outDir)) return 1;
    if (!savePanelScreenshots(outDir)) return 1;
    if (docs && !screenshots::saveDocumentationCopies(
                    outDir, QDir(QString::fromLocal8Bit(argv[3])).absolutePath()))
        return 1;
    return 0;
}
