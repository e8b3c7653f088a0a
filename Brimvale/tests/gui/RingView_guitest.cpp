#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

#include "AppTestFixture.h"
#include "RingKit/Theme.h"
#include "ring/RingItem.h"
#include "ring/RingRenderer.h"
#include "tools/SampleTree.h"

namespace brimvale {
namespace {

using ringkit::Rgba;
using ringkit::RingSegment;
using ringkit::Theme;

constexpr int kSide = 400;

QColor toColor(const Rgba& c) {
    return QColor::fromRgbF(c.r, c.g, c.b);
}

::testing::AssertionResult near(QColor got, QColor want, int tolerance = 3) {
    const int d = std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                            std::abs(got.blue() - want.blue())});
    if (d <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << got.name().toStdString() << ", want " << want.name().toStdString();
}

class RingViewTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        model = makeModel();
        view = std::make_unique<QQuickView>();
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->setColor(toColor(Theme::background(false)));
        view->setSource(QUrl("qrc:/qml/RingView.qml"));
        ASSERT_NE(view->rootObject(), nullptr);
        view->resize(kSide, kSide);
        view->rootObject()->setProperty("model", QVariant::fromValue(model.get()));
        view->rootObject()->setProperty("reducedMotion", true);
        ring = view->rootObject()->findChild<RingItem*>();
        ASSERT_NE(ring, nullptr);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    void TearDown() override {
        view.reset();
        model.reset();
        AppTest::TearDown();
    }

    // Shows the sample tree with a volume `fullness` full.
    void showSample(double fullness = 0.5) {
        model->setTarget(ScanTarget::folder("/home/sample"));
        const uint64_t total = 1000000;
        const auto used = static_cast<uint64_t>(std::llround(fullness * total));
        model->installTree(sampleTree(), quenwick::VolumeInfo{total, total - used, total - used});
        settle();
    }
    void setDark(bool dark) {
        view->setColor(toColor(Theme::background(dark)));
        view->rootObject()->setProperty("dark", dark);
        settle();
    }
    // Waits until the ring drew its last frame.
    void settle() {
        QTest::qWait(50);
        ASSERT_TRUE(waitFor([&] { return !ring->animating(); }));
        QTest::qWait(100);
    }
    // RING_TEST_SAVE=DIR keeps every grab as a numbered PNG there, for looking at a failure.
    QImage grab() {
        QImage i = view->grabWindow();
        if (const char* d = std::getenv("RING_TEST_SAVE")) {
            static int n = 0;
            i.save(QString(d) + "/grab" + QString::number(n++) + ".png");
        }
        return i;
    }

    // The pixel of a point given in ring units.
    QPoint pixel(double r, double angle) const {
        const double unit = RingRenderer::unitPx(kSide, kSide);
        return {static_cast<int>(std::floor(kSide / 2.0 + r * std::sin(angle) * unit)),
                static_cast<int>(std::floor(kSide / 2.0 - r * std::cos(angle) * unit))};
    }
    static double midRadius(int depth) {
        const ringkit::RingGeometry g;
        return (g.inner(depth) + g.outer(depth)) / 2;
    }
    static double trackRadius() {
        const double R = 0.3 * 0.94, w = R * 0.085;
        return R - w / 2 - R * 0.035;
    }
    const RingSegment& firstWith(int depth) const {
        for (const auto& s : model->segments())
            if (s.depth == depth && s.kind.isNode() && s.span() > 0.3) return s;
        return model->segments().front();
    }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickView> view;
    RingItem* ring = nullptr;
};

TEST_F(RingViewTest, KnownArcsShowTheirColoursInLightAndDark) {
    showSample();
    ASSERT_TRUE(ring->available());
    const auto first = firstWith(1);
    const auto second = firstWith(2);
    for (bool dark : {false, true}) {
        setDark(dark);
        const QImage image = grab();
        const double a1 = (first.start + first.end) / 2, a2 = (second.start + second.end) / 2;
        EXPECT_TRUE(
            near(image.pixelColor(pixel(midRadius(1), a1)), toColor(Theme::color(first, dark))))
            << "dark " << dark;
        EXPECT_TRUE(
            near(image.pixelColor(pixel(midRadius(2), a2)), toColor(Theme::color(second, dark))))
            << "dark " << dark;
        EXPECT_TRUE(near(image.pixelColor(pixel(0.99, a1)), toColor(Theme::background(dark))))
            << "nothing outside the ring";
        EXPECT_TRUE(near(image.pixelColor(pixel(0.1, 1)), toColor(Theme::centerDisc(dark))));
    }
}

TEST_F(RingViewTest, NeighbouringArcsAreSeparatedByAOnePixelGap) {
    showSample();
    const auto& s = model->segments();
    const RingSegment* left = nullptr;
    const RingSegment* right = nullptr;
    for (size_t i = 0; i + 1 < s.size() && !right; ++i)
        for (size_t j = i + 1; j < s.size(); ++j)
            if (s[j].depth == 1 && s[i].depth == 1 && s[j].start == s[i].end) {
                left = &s[i];
                right = &s[j];
                break;
            }
    ASSERT_NE(right, nullptr);
    const QImage image = grab();
    const double unit = RingRenderer::unitPx(kSide, kSide);
    const double r = midRadius(1);
    // Walk across the boundary a fifth of a pixel at a time.
    bool gap = false;
    for (double off = -2; off <= 2; off += 0.2) {
        const auto c = image.pixelColor(pixel(r, right->start + off / (unit * r)));
        gap |= near(c, toColor(Theme::background(false)), 6);
    }
    EXPECT_TRUE(gap);
    EXPECT_TRUE(near(image.pixelColor(pixel(r, right->start - 3 / (unit * r))),
                     toColor(Theme::color(*left, false))));
    EXPECT_TRUE(near(image.pixelColor(pixel(r, right->start + 3 / (unit * r))),
                     toColor(Theme::color(*right, false))));
}

TEST_F(RingViewTest, PointerMovesHoverAndHighlightAndClicksFocusAndGoUp) {
    showSample();
    const auto target = firstWith(1);
    const double a = (target.start + target.end) / 2;
    const QPoint at = pixel(midRadius(1), a);
    QTest::mouseMove(view.get(), at + QPoint(2, 0));
    QTest::mouseMove(view.get(), at);
    ASSERT_TRUE(waitFor([&] { return model->hovered() == target.kind; }, std::chrono::seconds(3)));
    settle();
    EXPECT_TRUE(
        near(grab().pixelColor(at), toColor(RingRenderer::highlight(Theme::color(target, false)))));

    QTest::mouseMove(view.get(), pixel(0.1, 0));
    ASSERT_TRUE(waitFor([&] { return !model->hovered(); }, std::chrono::seconds(3)));

    QTest::mouseClick(view.get(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(waitFor([&] { return model->focus() == target.kind.index; }));
    settle();
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, pixel(0.05, 0));
    EXPECT_TRUE(waitFor([&] { return model->focus() == 0; }));
}

TEST_F(RingViewTest, ContextMenuOnlyOnItemsAndOpenOnlyOnFolders) {
    showSample();
    QObject* menu = qvariant_cast<QObject*>(view->rootObject()->property("menu"));
    ASSERT_NE(menu, nullptr);
    const auto folder = firstWith(1);
    QTest::mouseClick(view.get(), Qt::RightButton, {}, pixel(0.1, 0));
    QTest::qWait(100);
    EXPECT_FALSE(menu->property("visible").toBool()) << "no menu on the centre";

    QTest::mouseClick(view.get(), Qt::RightButton, {},
                      pixel(midRadius(1), (folder.start + folder.end) / 2));
    ASSERT_TRUE(waitFor([&] { return menu->property("visible").toBool(); }));
    EXPECT_TRUE(menu->property("folder").toBool());
    EXPECT_EQ(menu->property("node").toUInt(), folder.kind.index);
    QStringList titles;
    for (int i = 0; i < menu->property("count").toInt(); ++i) {
        QQuickItem* item = nullptr;
        QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, item), Q_ARG(int, i));
        titles << (item ? item->property("text").toString() : QString());
    }
    EXPECT_EQ(titles, (QStringList{"Open", "Add to the Cleanup List", "", "Show in File Manager",
                                   "Copy Path"}));
    QMetaObject::invokeMethod(menu, "close");
    ASSERT_TRUE(waitFor([&] { return !menu->property("visible").toBool(); }));

    // A file: the same menu without "Open".
    const RingSegment* file = nullptr;
    for (const auto& s : model->segments())
        if (s.kind.isNode() && !model->tree()->isDirectory(s.kind.index) && s.span() > 0.05) {
            file = &s;
            break;
        }
    ASSERT_NE(file, nullptr);
    QTest::mouseClick(view.get(), Qt::RightButton, {},
                      pixel(midRadius(file->depth), (file->start + file->end) / 2));
    ASSERT_TRUE(waitFor([&] { return menu->property("visible").toBool(); }));
    EXPECT_FALSE(menu->property("folder").toBool());
}

TEST_F(RingViewTest, FullnessArcFromNothingToAFullCircle) {
    const double mid = trackRadius();
    const QColor arc = toColor(Theme::arc(false));
    const QColor track = toColor(Theme::track(false));
    const QColor disc = toColor(Theme::centerDisc(false));

    showSample(0);
    QImage image = grab();
    EXPECT_TRUE(near(image.pixelColor(pixel(mid, 0.02)), track, 12)) << "no dot at 0";
    EXPECT_TRUE(near(image.pixelColor(pixel(0.15, 0)), disc));

    showSample(0.001);
    image = grab();
    EXPECT_TRUE(near(image.pixelColor(pixel(mid, 0)), arc, 12)) << "the dot at the top";
    EXPECT_TRUE(near(image.pixelColor(pixel(mid, 1.57)), track, 12));

    showSample(0.5);
    image = grab();
    EXPECT_TRUE(near(image.pixelColor(pixel(mid, 1.57)), arc, 12));
    EXPECT_TRUE(near(image.pixelColor(pixel(mid, 4.71)), track, 12));

    showSample(1.0);
    image = grab();
    for (double a : {1.57, 3.14, 4.71, 6.0})
        EXPECT_TRUE(near(image.pixelColor(pixel(mid, a)), arc, 12)) << a;
}

TEST_F(RingViewTest, FrameLoopSleepsWhenIdleAndRunsOnlyWhileAMorphRuns) {
    view->rootObject()->setProperty("reducedMotion", false);
    showSample();
    int frames = 0;
    QObject::connect(view.get(), &QQuickWindow::frameSwapped, [&] { ++frames; });
    QTest::qWait(1000);
    EXPECT_EQ(frames, 0) << "an idle ring draws nothing";

    model->focusOn(firstWith(1).kind.index);
    QTest::qWait(300);
    EXPECT_GT(frames, 3) << "the morph draws frames";
    // The morph ends after 0.38 s, the fullness easing toward the folder's share a little later.
    EXPECT_TRUE(waitFor([&] { return !ring->animating(); }, std::chrono::seconds(5)));
    QTest::qWait(100);
    const int after = frames;
    QTest::qWait(500);
    EXPECT_EQ(frames, after) << "and stops once it ends";
}

}  // namespace
}  // namespace brimvale

namespace brimvale {
namespace {

// Run by the suite a second time with the software scene graph (QT_QUICK_BACKEND=software).
TEST_F(RingViewTest, WithoutAGpuPathTheViewSaysWhyAndIgnoresThePointer) {
    if (view->rendererInterface()->graphicsApi() != QSGRendererInterface::Software)
        GTEST_SKIP() << "only with the software scene graph";
    showSample();
    EXPECT_FALSE(ring->available());
    bool explained = false;
    for (QQuickItem* child : view->rootObject()->childItems())
        explained |= child->isVisible() && child->property("text").toString().contains("OpenGL");
    EXPECT_TRUE(explained);
    const auto first = firstWith(1);
    QTest::mouseMove(view.get(), pixel(midRadius(1), (first.start + first.end) / 2));
    QTest::mouseClick(view.get(), Qt::LeftButton, {},
                      pixel(midRadius(1), (first.start + first.end) / 2));
    QTest::qWait(200);
    EXPECT_FALSE(model->hovered().has_value());
    EXPECT_EQ(model->focus(), 0u);
    EXPECT_EQ(ring->toRing(QPointF(10, 10)), QPointF(0, 0));
}

}  // namespace
}  // namespace brimvale
