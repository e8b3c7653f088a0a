#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestFixture.h"
#include "PrivateSessionBus.h"
#include "QuickFinder.h"
#include "lifecycle/LoginItem.h"
#include "lifecycle/SettingsController.h"

namespace brimvale {
namespace {

// systemd's user manager cannot run in this container (no systemd as the system's manager), so
// the tests talk to this stand-in on a private bus: the Manager methods the app calls, over one
// unit whose file may be installed, enabled and running.
class ManagerStandIn : public QDBusVirtualObject {
public:
    bool installed = true;
    bool enabled = false;
    bool active = false;
    QStringList calls;

    // The calls that change something (state reads left out).
    QStringList switches() const {
        QStringList out;
        for (const QString& c : calls)
            if (c != "GetUnitFileState") out << c;
        return out;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString member = message.member();
        calls << member;
        const auto args = message.arguments();
        QVariantList reply;
        if (member == "GetUnitFileState") {
            if (!installed || args.value(0).toString() != "brimvale-watch.service") {
                bus.send(message.createErrorReply("org.freedesktop.DBus.Error.FileNotFound",
                                                  "No such file or directory"));
                return true;
            }
            reply << QString(enabled ? "enabled" : "disabled");
        } else if (member == "EnableUnitFiles") {
            enabled = true;
            reply << true;
        } else if (member == "DisableUnitFiles") {
            enabled = false;
            reply << QVariant();
        } else if (member == "StartUnit") {
            active = true;
            reply << QVariant::fromValue(QDBusObjectPath("/org/freedesktop/systemd1/job/1"));
        } else if (member == "StopUnit") {
            active = false;
            reply << QVariant::fromValue(QDBusObjectPath("/org/freedesktop/systemd1/job/2"));
        } else if (member != "Reload") {
            return false;
        }
        bus.send(reply.isEmpty() || !reply.front().isValid() ? message.createReply()
                                                             : message.createReply(reply));
        return true;
    }
};

class SettingsWindowTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(bus.running());
        model = makeModel();
    }
    void TearDown() override {
        closeWindow();
        if (standIn) {
            QDBusConnection::disconnectFromBus("manager-stand-in");
            standIn.reset();
        }
        model.reset();
        AppTest::TearDown();
    }

    void serveManager() {
        standIn = std::make_unique<ManagerStandIn>();
        auto connection = QDBusConnection::connectToBus(bus.address(), "manager-stand-in");
        ASSERT_TRUE(connection.registerService("org.freedesktop.systemd1"));
        ASSERT_TRUE(connection.registerVirtualObject("/org/freedesktop/systemd1", standIn.get()));
    }
    // Opens the window over a controller of its own, once the service's state is known.
    void openWindow() {
        SettingsController::Options options;
        options.configHome = config;
        options.program = "/usr/bin/brimvale";
        options.version = "1.2.3";
        options.busAddress = bus.address();
        controller = std::make_unique<SettingsController>(*model, options);
        QSignalSpy settled(controller->watchService(), &WatchService::settled);
        ASSERT_TRUE(settled.wait(5000));
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->rootContext()->setContextProperty("settings", controller.get());
        engine->load(QUrl("qrc:/qml/SettingsWindow.qml"));
        ASSERT_EQ(engine->rootObjects().size(), 1);
        window = qobject_cast<QQuickWindow*>(engine->rootObjects().front());
        ASSERT_NE(window, nullptr);
        controller->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    void closeWindow() {
        engine.reset();
        controller.reset();
        window = nullptr;
    }
    // The window's root item: the tab bar sits beside the content, not in it.
    QQuickItem* top() const {
        QQuickItem* root = window->contentItem();
        while (root->parentItem())
            root = root->parentItem();
        return root;
    }
    QQuickItem* item(const char* name) const { return testing::visibleItem(top(), name); }
    // Every text shown in the window's current tab.
    QStringList shownTexts() const {
        QStringList texts;
        std::function<void(QQuickItem*)> walk = [&](QQuickItem* i) {
            if (!i->isVisible()) return;
            const QString t = i->property("text").toString();
            if (!t.isEmpty()) texts << t;
            for (QQuickItem* c : i->childItems())
                walk(c);
        };
        walk(top());
        return texts;
    }
    bool toggleAndWait(const char* name) {
        QQuickItem* toggle = item(name);
        if (!toggle) return false;
        const bool before = toggle->property("checked").toBool();
        testing::click(toggle);
        return waitFor([&] { return toggle->property("checked").toBool() != before; });
    }

    testing::PrivateSessionBus bus;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<ManagerStandIn> standIn;
    std::unique_ptr<SettingsController> controller;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;
};

TEST_F(SettingsWindowTest, GeneralTabHasSpaceWatchAndAlertsAndNothingThatLeadsNowhere) {
    openWindow();
    const QStringList texts = shownTexts();
    for (const char* expected :
         {"General", "Space Watch", "Show Space Watch in the system tray", "Open Brimvale at login",
          "While Brimvale runs, it catches up on changes every 6 hours and records a small daily "
          "summary for History.",
          "Alerts", "When free space drops below 10% (or 20 GB)",
          "When the disk will fill within a week", "When a folder grows by 5 GB in a day"})
        EXPECT_TRUE(texts.contains(expected)) << expected;
    for (const QString& t : texts) {
        EXPECT_FALSE(t.contains("Access")) << t.toStdString();
        EXPECT_FALSE(t.contains("Login Items")) << t.toStdString();
        EXPECT_FALSE(t.contains("menu bar")) << t.toStdString();
    }
    // No user manager answers on this bus: the service toggle leads nowhere and is hidden.
    EXPECT_FALSE(controller->watchService()->available());
    EXPECT_EQ(item("watchServiceToggle"), nullptr);
    EXPECT_EQ(texts.contains("Updates"), SettingsController::updaterBuilt());
}

TEST_F(SettingsWindowTest, TogglesWriteTheAlertsSettingsAndTheLoginEntry) {
    openWindow();
    ASSERT_TRUE(toggleAndWait("fillingFastToggle"));
    EXPECT_FALSE(AppSettings(config).flag("alertFillingFast", true));
    EXPECT_TRUE(AppSettings(config).flag("alertLowSpace", true));
    ASSERT_TRUE(toggleAndWait("showMenuBarToggle"));
    EXPECT_FALSE(AppSettings(config).showMenuBar());

    ASSERT_TRUE(toggleAndWait("loginToggle"));
    EXPECT_TRUE(exists(LoginItem::entryPath(config)));
    ASSERT_TRUE(toggleAndWait("loginToggle"));
    EXPECT_FALSE(exists(LoginItem::entryPath(config)));
}

TEST_F(SettingsWindowTest, WatchServiceIsOnByDefaultOnceInstalledAndFollowsTheToggle) {
    serveManager();
    openWindow();
    // First sight of the installed, disabled unit: switched on once.
    ASSERT_TRUE(waitFor([&] { return standIn->enabled && standIn->active; }));
    EXPECT_EQ(standIn->calls.mid(0, 5), (QStringList{"GetUnitFileState", "EnableUnitFiles",
                                                     "Reload", "StartUnit", "GetUnitFileState"}));
    EXPECT_EQ(standIn->switches(), (QStringList{"EnableUnitFiles", "Reload", "StartUnit"}));
    ASSERT_NE(item("watchServiceToggle"), nullptr);
    EXPECT_EQ(testing::textOf(top(), "watchServiceToggle"),
              "Keep track of changes while Brimvale is closed");
    ASSERT_TRUE(waitFor([&] { return item("watchServiceToggle")->property("checked").toBool(); }));

    standIn->calls.clear();
    ASSERT_TRUE(toggleAndWait("watchServiceToggle"));
    ASSERT_TRUE(waitFor([&] { return !controller->watchService()->busy(); }));
    EXPECT_FALSE(standIn->enabled);
    EXPECT_FALSE(standIn->active);
    EXPECT_EQ(standIn->switches(), (QStringList{"StopUnit", "DisableUnitFiles", "Reload"}));

    // The user's "off" holds at the next start; the default is applied only once.
    closeWindow();
    standIn->calls.clear();
    openWindow();
    QTest::qWait(100);
    EXPECT_EQ(standIn->switches(), QStringList{});
    EXPECT_FALSE(item("watchServiceToggle")->property("checked").toBool());
    ASSERT_TRUE(toggleAndWait("watchServiceToggle"));
    EXPECT_TRUE(waitFor([&] { return standIn->enabled && standIn->active; }));
}

TEST_F(SettingsWindowTest, WatchToggleHiddenWhenTheUnitIsNotInstalled) {
    serveManager();
    standIn->installed = false;
    openWindow();
    EXPECT_FALSE(controller->watchService()->available());
    EXPECT_EQ(item("watchServiceToggle"), nullptr);
    EXPECT_EQ(standIn->switches(), QStringList{});
    // Nothing was switched on behalf of a unit that is not there.
    EXPECT_FALSE(AppSettings(config).flag(WatchService::defaultAppliedKey, false));
}

#ifdef BRIMVALE_HAS_UPDATER
TEST_F(SettingsWindowTest, UpdatesTabOffersTheDailyCheckAndCheckNow) {
    openWindow();
    testing::click(item("updatesTab"));
    ASSERT_TRUE(waitFor([&] { return item("checkNowButton") != nullptr; }));
    const QStringList texts = shownTexts();
    for (const char* expected :
         {"Updates", "Check for updates once a day",
          "Checking downloads a small list of versions from the Brimvale website. Nothing about "
          "your computer is sent.",
          "Brimvale 1.2.3", "Check Now"})
        EXPECT_TRUE(texts.contains(expected)) << expected;
    ASSERT_TRUE(toggleAndWait("automaticUpdatesToggle"));
    EXPECT_FALSE(AppSettings(config).automaticUpdateChecks());
}
#endif

}  // namespace
}  // namespace brimvale
