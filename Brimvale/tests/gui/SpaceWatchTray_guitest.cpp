#include <unistd.h>
#include <xcb/xcb.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "AppTestFixture.h"
#include "PrivateSessionBus.h"
#include "lifecycle/TrayWatch.h"
#include "watch/SpaceWatchTray.h"

// The tray item for real: Debian's status-notifier-watcher on a private session bus stands in for
// the panel's watcher, and the test registers itself as the panel's host. Qt's tray code talks
// to the process's session bus, so that bus is this suite's own from before Qt starts.
namespace brimvale::testing {
namespace {

PrivateSessionBus& sessionBus() {
    static PrivateSessionBus bus;
    return bus;
}

// Runs before main(), so Qt's first look at the session bus finds the private one.
const bool sessionBusReady = [] {
    if (!sessionBus().running()) return false;
    setenv("DBUS_SESSION_BUS_ADDRESS", sessionBus().address().toUtf8().constData(), 1);
    return true;
}();

class SpaceWatchTrayTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (!sessionBusReady) GTEST_SKIP() << "no private bus";
        if (QStandardPaths::findExecutable("status-notifier-watcher").isEmpty())
            GTEST_SKIP() << "status-notifier-watcher is missing (scripts/install-deps.sh)";
        model = makeModel();
        model->setStartupVolume(quenwick::VolumeInfo{1000, 750, 750});
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->rootContext()->setContextProperty("appModel", model.get());
    }
    void TearDown() override {
        tray.reset();
        watch.reset();
        engine.reset();
        model.reset();
        stopWatcher();
        if (hostConnected) QDBusConnection::disconnectFromBus("test-host");
        AppTest::TearDown();
    }

    // The panel's watcher comes up, and the panel registers as its host.
    void startPanel() {
        watcher = std::make_unique<QProcess>();
        watcher->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        watcher->start("status-notifier-watcher", {});
        ASSERT_TRUE(watcher->waitForStarted());
        ASSERT_TRUE(waitFor([] {
            return !busCall({"--dest=org.freedesktop.DBus", "/",
                             "org.freedesktop.DBus.GetNameOwner",
                             QString("string:") + TrayWatch::watcherName})
                        .isEmpty();
        }));
        QDBusConnection host = QDBusConnection::connectToBus(sessionBus().address(), "test-host");
        hostConnected = true;
        const QString hostName = "org.kde.StatusNotifierHost-" + QString::number(getpid());
        host.registerService(hostName);
        const auto call =
            QDBusMessage::createMethodCall(TrayWatch::watcherName, TrayWatch::watcherPath,
                                           TrayWatch::watcherName, "RegisterStatusNotifierHost")
            << hostName;
        host.asyncCall(call);
    }
    void stopWatcher() {
        if (!watcher) return;
        watcher->kill();
        watcher->waitForFinished();
        watcher.reset();
    }

    // dbus-send on the private bus, waited for while the event loop runs (the item answers from
    // this thread); its printed reply, empty on failure.
    static QString busCall(QStringList args) {
        QProcess p;
        args.prepend("--print-reply");
        args.prepend("--session");
        p.start("dbus-send", args);
        if (!p.waitForStarted()) return {};
        waitFor([&] { return p.state() == QProcess::NotRunning; });
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // The bus name of the item the watcher knows (Qt registers it from a connection of its own);
    // empty when there is none. Only this process registers items on the private bus.
    static QString itemService() {
        const auto match = QRegularExpression("string \"([^\"/]+)").match(registeredItems());
        return match.hasMatch() ? match.captured(1) : QString();
    }
    static QString item(const char* property) {
        return busCall({"--dest=" + itemService(), "/StatusNotifierItem",
                        "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierItem",
                        QString("string:") + property});
    }
    static QString registeredItems() {
        return busCall({QString("--dest=") + TrayWatch::watcherName, TrayWatch::watcherPath,
                        "org.freedesktop.DBus.Properties.Get",
                        QString("string:") + TrayWatch::watcherName,
                        "string:RegisteredStatusNotifierItems"});
    }
    static bool registered() { return !itemService().isEmpty(); }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQmlApplicationEngine> engine;
    std::unique_ptr<QProcess> watcher;
    std::unique_ptr<TrayWatch> watch;
    std::unique_ptr<SpaceWatchTray> tray;
    bool hostConnected = false;
};

// The bytes of the icon of one size from dbus-send's print of IconPixmap.
QByteArray pixmapBytes(const QString& printed, int size) {
    const QString head = QString("int32 %1\\s+int32 %1\\s+array of bytes \\[").arg(size);
    const auto match = QRegularExpression(head).match(printed);
    if (!match.hasMatch()) return {};
    const int end = printed.indexOf(']', match.capturedEnd());
    QByteArray bytes;
    for (const QString& hex : printed.mid(match.capturedEnd(), end - match.capturedEnd())
                                  .split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        bytes.push_back(static_cast<char>(hex.toInt(nullptr, 16)));
    return bytes;
}

TEST_F(SpaceWatchTrayTest, ItemShowsTheGlyphAndTooltipAndOpensThePopover) {
    startPanel();
    watch = std::make_unique<TrayWatch>();
    tray = std::make_unique<SpaceWatchTray>(*model, *watch, *engine);
    ASSERT_TRUE(waitFor([&] { return tray->item() != nullptr && registered(); }))
        << registeredItems().toStdString();

    EXPECT_TRUE(item("ToolTip").contains("\"Disk 25% full\"")) << item("ToolTip").toStdString();
    const QString pixmaps = item("IconPixmap");
    for (const int size : {16, 22, 24, 32, 48})
        EXPECT_EQ(pixmapBytes(pixmaps, size).size(), size * size * 4) << size;
    // ARGB in network order: the arc passes 12 o'clock, only the track 9 o'clock.
    const QByteArray big = pixmapBytes(pixmaps, 48);
    ASSERT_EQ(big.size(), 48 * 48 * 4);
    EXPECT_EQ(static_cast<uint8_t>(big[(7 * 48 + 24) * 4]), 255);
    EXPECT_NEAR(static_cast<uint8_t>(big[(24 * 48 + 7) * 4]), 77, 12);

    // The volume fills: the item follows.
    model->setStartupVolume(quenwick::VolumeInfo{1000, 100, 100});
    EXPECT_TRUE(waitFor([&] { return item("ToolTip").contains("\"Disk 90% full\""); }));

    ASSERT_FALSE(busCall({"--dest=" + itemService(), "/StatusNotifierItem",
                          "org.kde.StatusNotifierItem.Activate", "int32:200", "int32:10"})
                     .isEmpty());
    ASSERT_TRUE(waitFor([&] { return tray->popover() && tray->popover()->isVisible(); }));
    const QPoint at = tray->popover()->position();
    EXPECT_GE(at.x(), 0);
    EXPECT_GE(at.y(), 0);
}

TEST_F(SpaceWatchTrayTest, ItemRegistersAgainWhenThePanelRestarts) {
    // The app starts before the panel: nothing is shown, and Qt is not asked yet.
    watch = std::make_unique<TrayWatch>();
    tray = std::make_unique<SpaceWatchTray>(*model, *watch, *engine);
    QTest::qWait(200);
    EXPECT_EQ(tray->item(), nullptr);

    startPanel();
    ASSERT_TRUE(waitFor([&] { return tray->item() != nullptr && registered(); }));

    stopWatcher();
    ASSERT_TRUE(waitFor([&] { return tray->item() == nullptr; }));
    EXPECT_FALSE(watch->available());

    QDBusConnection::disconnectFromBus("test-host");
    hostConnected = false;
    startPanel();
    ASSERT_TRUE(waitFor([&] { return tray->item() != nullptr && registered(); }))
        << registeredItems().toStdString();
    EXPECT_TRUE(item("ToolTip").contains("\"Disk 25% full\""));

    // Switched off in the settings: the item goes, and comes back when switched on.
    tray->setEnabled(false);
    EXPECT_EQ(tray->item(), nullptr);
    tray->setEnabled(true);
    EXPECT_NE(tray->item(), nullptr);
}

TEST_F(SpaceWatchTrayTest, TrayGivesTheModelItsWayToTheMainWindow) {
    QQuickWindow main;
    main.setObjectName("main");
    watch = std::make_unique<TrayWatch>();
    tray = std::make_unique<SpaceWatchTray>(*model, *watch, *engine);
    ASSERT_TRUE(model->openMainWindow());
    model->show(AppSection::shoreline);
    EXPECT_EQ(model->section(), AppSection::shoreline);
    EXPECT_TRUE(waitFor([&] { return main.isVisible(); }));
    tray.reset();
    EXPECT_FALSE(model->openMainWindow()) << "no dangling action once the tray is gone";
}

TEST_F(SpaceWatchTrayTest, PopoverClosesWhenItLosesFocus) {
    watch = std::make_unique<TrayWatch>();
    tray = std::make_unique<SpaceWatchTray>(*model, *watch, *engine);
    tray->openPopover();
    ASSERT_NE(tray->popover(), nullptr);
    ASSERT_TRUE(waitFor([&] { return tray->popover()->isActive(); }));
    QQuickWindow other;
    other.resize(200, 200);
    other.show();
    other.requestActivate();
    EXPECT_TRUE(waitFor([&] { return !tray->popover()->isVisible(); }));
    // The click on the item that took the focus away does not open it again at once.
    tray->togglePopover();
    EXPECT_FALSE(tray->popover()->isVisible());
    // A later click opens it again, the next one closes it.
    QTest::qWait(450);
    tray->togglePopover();
    EXPECT_TRUE(tray->popover()->isVisible());
    tray->togglePopover();
    EXPECT_FALSE(tray->popover()->isVisible());
}

TEST_F(SpaceWatchTrayTest, AnXEmbedTrayAlsoCountsAndIsWatched) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* xcb = x11->connection();
    watch = std::make_unique<TrayWatch>();
    int ready = 0;
    QObject::connect(watch.get(), &TrayWatch::readyForItems, [&] { ++ready; });
    tray = std::make_unique<SpaceWatchTray>(*model, *watch, *engine);
    QTest::qWait(100);
    ASSERT_FALSE(watch->available());

    // A tray of our own: a window owning the selection, as an XEmbed panel does.
    auto cookie = xcb_intern_atom(xcb, 0, 19, "_NET_SYSTEM_TRAY_S0");
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(xcb, cookie, nullptr);
    ASSERT_NE(atom, nullptr);
    const xcb_window_t window = xcb_generate_id(xcb);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(xcb)).data;
    xcb_create_window(xcb, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(xcb, window, atom->atom, XCB_CURRENT_TIME);
    xcb_flush(xcb);
    watch->checkXEmbedTray();
    EXPECT_TRUE(watch->available());
    EXPECT_TRUE(watch->hostReady());
    EXPECT_EQ(ready, 1);
    EXPECT_NE(tray->item(), nullptr);

    // The panel quits: no tray, and closing the window would quit the app.
    xcb_destroy_window(xcb, window);
    xcb_flush(xcb);
    std::free(atom);
    EXPECT_TRUE(waitFor([&] {
        watch->checkXEmbedTray();
        return !watch->available();
    }));
    EXPECT_EQ(tray->item(), nullptr);
}

}  // namespace
}  // namespace brimvale::testing
