#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestFixture.h"
#include "QuickFinder.h"
#include "app/MainWindowSupport.h"

namespace brimvale {
namespace {

// A stand-in for the main window's layout: four target areas and the overlay loaded the way the
// window loads it.
constexpr const char* kWindow = R"(
import QtQuick
Item {
    width: 1240; height: 800
    Item { objectName: "ring"; id: ring; x: 220; y: 60; width: 520; height: 520 }
    Item { objectName: "list"; id: list; x: 760; y: 60; width: 460; height: 600 }
    Item { objectName: "cleanup"; id: cleanup; x: 220; y: 700; width: 1000; height: 80 }
    Item { objectName: "content"; id: content; x: 200; y: 40; width: 1040; height: 760 }
    Loader {
        anchors.fill: parent
        source: "qrc:/qml/TourOverlay.qml"
        onLoaded: {
            item.ringTarget = ring
            item.listTarget = list
            item.cleanupTarget = cleanup
            item.contentTarget = content
            item.model = appModel
        }
    }
}
)";

class TourOverlayTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        model = makeModel();
        const std::string file = work + "/Window.qml";
        ASSERT_TRUE(quenwick::testing::writeFile(file, kWindow));
        view = std::make_unique<QQuickView>();
        view->engine()->rootContext()->setContextProperty("appModel", model.get());
        installMainWindow(*view->engine(), *model);
        view->setSource(QUrl::fromLocalFile(QString::fromStdString(file)));
        ASSERT_NE(view->rootObject(), nullptr);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        ASSERT_TRUE(waitFor([&] { return testing::visibleItem(top(), "tourCard") == nullptr; }));
    }
    void TearDown() override {
        view.reset();
        model.reset();
        AppTest::TearDown();
    }

    QQuickItem* top() const { return view->rootObject(); }
    QString text(const char* name) const { return testing::textOf(top(), name); }
    bool shown(const char* name) const { return testing::visibleItem(top(), name) != nullptr; }
    void press(const char* button) {
        QQuickItem* item = testing::visibleItem(top(), button);
        ASSERT_NE(item, nullptr) << button;
        testing::click(item);
        QTest::qWait(20);
    }
    int step() const { return model->tourStep().value_or(-1); }
    // The outline sits around the named target area.
    bool outlines(const char* name) const {
        QQuickItem* highlight = testing::visibleItem(top(), "tourHighlight");
        QQuickItem* target = top()->findChild<QQuickItem*>(name);
        if (!highlight || !target) return false;
        const QRectF h = highlight->mapRectToScene(highlight->boundingRect());
        const QRectF t = target->mapRectToScene(target->boundingRect());
        return h.contains(t) && h.adjusted(6, 6, -6, -6).width() <= t.width();
    }
    // The card does not cover the target area it points at.
    bool besides(const char* name) const {
        QQuickItem* card = testing::visibleItem(top(), "tourCard");
        QQuickItem* target = top()->findChild<QQuickItem*>(name);
        return card && target &&
               !card->mapRectToScene(card->boundingRect())
                    .intersects(target->mapRectToScene(target->boundingRect()));
    }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickView> view;
};

TEST_F(TourOverlayTest, StartsOnceATreeIsReadyAndSkipEndsItForGood) {
    ASSERT_TRUE(quenwick::testing::writeFile(work + "/a.txt", "a"));
    show(*model, work);
    ASSERT_TRUE(waitFor([&] { return step() == 0; }));
    EXPECT_EQ(text("tourTitle"), "Welcome to Brimvale");
    EXPECT_EQ(text("tourBody"),
              "A quick look around: where your space went, how to clear it safely, and how "
              "Brimvale keeps watch. About a minute.");
    EXPECT_EQ(text("tourProgress"), "Step 1 of 7");
    EXPECT_EQ(text("tourPrimary"), "Show Me");
    EXPECT_FALSE(shown("tourBack"));
    EXPECT_FALSE(shown("tourHighlight"));

    press("tourSkip");
    EXPECT_FALSE(model->tourStep().has_value());
    EXPECT_FALSE(shown("tourCard"));
    EXPECT_TRUE(model->settings().tourSeen());
    // Another tree later does not bring it back.
    model->setPhase(Phase::updating);
    show(*model, work);
    QTest::qWait(50);
    EXPECT_FALSE(model->tourStep().has_value());
}

TEST_F(TourOverlayTest, NextBackAndDoneWalkTheStepsAndPointAtTheirAreas) {
    model->showTourStep(0);
    ASSERT_TRUE(waitFor([&] { return shown("tourCard"); }));
    press("tourPrimary");
    EXPECT_EQ(step(), 1);
    EXPECT_EQ(text("tourTitle"), "Your disk, as a ring");
    EXPECT_EQ(text("tourPrimary"), "Next");
    EXPECT_TRUE(outlines("ring"));
    EXPECT_TRUE(besides("ring"));
    press("tourBack");
    EXPECT_EQ(step(), 0);
    EXPECT_EQ(text("tourTitle"), "Welcome to Brimvale");

    press("tourPrimary");
    press("tourPrimary");
    EXPECT_TRUE(outlines("list"));
    press("tourPrimary");
    ASSERT_EQ(step(), 3);
    EXPECT_EQ(text("tourProgress"), "Step 4 of 7");
    EXPECT_EQ(text("tourTitle"), "Cleanup List");
    EXPECT_EQ(text("tourBody"),
              "Everything you tick waits here. Nothing moves until you review it. Then it goes "
              "to the Trash, where Restore works, or, if you choose Delete Immediately and "
              "confirm, it's deleted for good at once.");
    EXPECT_TRUE(outlines("cleanup"));
    EXPECT_TRUE(besides("cleanup"));

    press("tourPrimary");
    EXPECT_EQ(model->section(), AppSection::shoreline);
    EXPECT_TRUE(outlines("content"));
    press("tourPrimary");
    EXPECT_EQ(model->section(), AppSection::history);
    press("tourPrimary");
    ASSERT_EQ(step(), 6);
    EXPECT_EQ(model->section(), AppSection::explorer);
    EXPECT_EQ(text("tourProgress"), "Step 7 of 7");
    EXPECT_EQ(text("tourTitle"), "Space Watch, in your system tray");
    EXPECT_EQ(text("tourBody"),
              "The small ring in your system tray fills as your disk does. Click it for free "
              "space and what grew this week. Alerts and the system tray ring can be changed in "
              "Settings.");
    EXPECT_EQ(text("tourPrimary"), "Done");
    EXPECT_FALSE(shown("tourSkip"));
    EXPECT_FALSE(shown("tourHighlight"));
    EXPECT_FALSE(model->settings().tourSeen());

    press("tourPrimary");
    EXPECT_FALSE(model->tourStep().has_value());
    EXPECT_FALSE(shown("tourCard"));
    EXPECT_TRUE(model->settings().tourSeen());
    EXPECT_EQ(model->section(), AppSection::explorer);
}

}  // namespace
}  // namespace brimvale
