#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QVariantMap>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "AppTestFixture.h"
#include "PrivateSessionBus.h"
#include "QuenwickCore/Preferences.h"
#include "lifecycle/LoginItem.h"
#include "lifecycle/Migration.h"
#include "lifecycle/SingleInstance.h"
#include "lifecycle/TrayWatch.h"

namespace brimvale::testing {

// The desktop's notification server, served by the test itself on its private bus: the model
// posts from a thread of the library's own and never waits, so the test's loop can answer.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationServer(const QString& address)
        : connection_(QDBusConnection::connectToBus(address, "test-notification-server")) {
        connection_.registerObject(
            "/org/freedesktop/Notifications", this,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        connection_.registerService("org.freedesktop.Notifications");
    }
    ~NotificationServer() override {
        QDBusConnection::disconnectFromBus("test-notification-server");
    }

    int calls = 0;
    QString lastTitle;

    void click(uint id) { emit ActionInvoked(id, "default"); }

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& title, const QString&,
                const QStringList&, const QVariantMap&, int) {
        ++calls;
        lastTitle = title;
        return 40 + uint(calls);
    }

signals:
    void ActionInvoked(uint id, const QString& action);

private:
    QDBusConnection connection_;
};

namespace {

using quenwick::testing::makeDirs;
using quenwick::testing::writeFile;

class LifecycleTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (!bus.running()) GTEST_SKIP() << "needs dbus-daemon";
    }
    std::unique_ptr<AppModel> modelOnBus() {
        auto s = services();
        s.notificationBus = bus.address().toStdString();
        return makeModel(std::move(s));
    }
    PrivateSessionBus bus;
};

TEST_F(LifecycleTest, AlertIsPostedOnceADayAndItsClickOpensItsSection) {
    NotificationServer server(bus.address());
    auto model = modelOnBus();
    QSignalSpy settled(model.get(), &AppModel::alertSettled);
    model->post(quenwick::TideAlert::lowSpace(1000));
    // A second evaluation before the server answered must not post it twice.
    model->post(quenwick::TideAlert::lowSpace(1000));
    ASSERT_TRUE(waitFor([&] { return settled.count() == 1; }));
    EXPECT_TRUE(settled.first().at(1).toBool());
    EXPECT_EQ(server.calls, 1);
    auto prefs = quenwick::Preferences::atFile(model->settings().file());
    EXPECT_TRUE(prefs.timestamp("lastAlert.lowSpace").has_value());

    model->post(quenwick::TideAlert::lowSpace(1000));
    QTest::qWait(100);
    EXPECT_EQ(server.calls, 1);

    // A low-space alert opens the suggestions; a big growth the history.
    model->setSection(AppSection::explorer);
    server.click(41);
    ASSERT_TRUE(waitFor([&] { return model->section() == AppSection::shoreline; }));
    model->post(quenwick::TideAlert::bigGrowth(home + "/work", 5'000'000'000));
    ASSERT_TRUE(waitFor([&] { return settled.count() == 2; }));
    server.click(42);
    ASSERT_TRUE(waitFor([&] { return model->section() == AppSection::history; }));
    // Somebody else's notification changes nothing.
    model->setSection(AppSection::explorer);
    server.click(7);
    QTest::qWait(100);
    EXPECT_EQ(model->section(), AppSection::explorer);
}

TEST_F(LifecycleTest, AlertNobodyAnsweredIsNotCounted) {
    auto model = modelOnBus();
    QSignalSpy settled(model.get(), &AppModel::alertSettled);
    model->post(quenwick::TideAlert::fillingFast(3));
    ASSERT_TRUE(waitFor([&] { return settled.count() == 1; }));
    EXPECT_FALSE(settled.first().at(1).toBool());
    auto prefs = quenwick::Preferences::atFile(model->settings().file());
    EXPECT_FALSE(prefs.timestamp("lastAlert.fillingFast").has_value());

    NotificationServer server(bus.address());
    model->post(quenwick::TideAlert::fillingFast(3));
    ASSERT_TRUE(waitFor([&] { return settled.count() == 2; }));
    EXPECT_EQ(server.calls, 1);
}

TEST(NotificationSection, ShorelineOpensSuggestionsAnythingElseHistory) {
    EXPECT_EQ(AppModel::sectionForNotification("shoreline"), AppSection::shoreline);
    EXPECT_EQ(AppModel::sectionForNotification("history"), AppSection::history);
    EXPECT_EQ(AppModel::sectionForNotification(""), AppSection::history);
    EXPECT_EQ(AppModel::sectionForNotification("Shoreline"), AppSection::history);
}

TEST_F(LifecycleTest, SecondLaunchActivatesTheFirstAndIsToldToExit) {
    SingleInstance first(bus.address());
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    QSignalSpy activated(&first, &SingleInstance::activated);
    SingleInstance second(bus.address());
    ASSERT_EQ(second.claim(), SingleInstance::Role::secondary);
    std::optional<bool> answered;
    second.activateOwner([&](bool ok) { answered = ok; });
    ASSERT_TRUE(waitFor([&] { return answered.has_value(); }));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(activated.count(), 1);
}

TEST(SingleInstanceTest, WithoutABusTheAppRunsAlone) {
    SingleInstance alone(QStringLiteral("unix:path=/nonexistent/bus"));
    EXPECT_EQ(alone.claim(), SingleInstance::Role::only);
}

TEST_F(LifecycleTest, TrayFollowsTheStatusNotifierWatcher) {
    auto panel = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(bus.address(), "test-panel"));
    TrayWatch tray(bus.address());
    QTest::qWait(100);
    EXPECT_FALSE(tray.available());
    EXPECT_TRUE(TrayWatch::shouldQuitOnLastWindowClosed(true, tray.available()));
    ASSERT_TRUE(panel->registerService(TrayWatch::watcherName));
    ASSERT_TRUE(waitFor([&] { return tray.available(); }));
    EXPECT_FALSE(TrayWatch::shouldQuitOnLastWindowClosed(true, tray.available()));
    EXPECT_TRUE(TrayWatch::shouldQuitOnLastWindowClosed(false, tray.available()));
    panel->unregisterService(TrayWatch::watcherName);
    ASSERT_TRUE(waitFor([&] { return !tray.available(); }));
    panel.reset();
    QDBusConnection::disconnectFromBus("test-panel");
}

TEST_F(LifecycleTest, TourStepsSwitchSectionsAndTheEndMarksItSeen) {
    auto model = makeModel();
    model->showTourStep(4);
    EXPECT_EQ(model->section(), AppSection::shoreline);
    EXPECT_EQ(model->tourStep(), 4);
    model->showTourStep(5);
    EXPECT_EQ(model->section(), AppSection::history);
    EXPECT_FALSE(model->settings().tourSeen());
    model->showTourStep(7);
    EXPECT_EQ(model->tourStep(), std::nullopt);
    EXPECT_EQ(model->section(), AppSection::explorer);
    EXPECT_TRUE(model->settings().tourSeen());

    model->showTourStep(1);
    model->endTour();
    EXPECT_EQ(model->tourStep(), std::nullopt);
}

TEST_F(LifecycleTest, LoginItemIsAnAutostartEntryWithTheFlag) {
    EXPECT_FALSE(LoginItem::isEnabled(config));
    ASSERT_FALSE(LoginItem::set(true, config, "/opt/my apps/brimvale"));
    ASSERT_TRUE(LoginItem::isEnabled(config));
    std::ifstream in(LoginItem::entryPath(config));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Exec=\"/opt/my apps/brimvale\" --autostart\n"), std::string::npos);
    EXPECT_TRUE(LoginItem::startedAtLogin(true, config, 99999));
    // The entry passes the flag, so a launch without it is the user's own, whatever the uptime.
    EXPECT_FALSE(LoginItem::startedAtLogin(false, config, 10));

    ASSERT_FALSE(LoginItem::set(false, config, "brimvale"));
    EXPECT_FALSE(LoginItem::isEnabled(config));
    ASSERT_FALSE(LoginItem::set(false, config, "brimvale"));

    // An entry written without the flag: the uptime decides.
    ASSERT_TRUE(quenwick::testing::writeFile(LoginItem::entryPath(config),
                                             "[Desktop Entry]\nExec=brimvale\n"));
    EXPECT_TRUE(LoginItem::startedAtLogin(false, config, 120));
    EXPECT_FALSE(LoginItem::startedAtLogin(false, config, 700));
    EXPECT_FALSE(LoginItem::startedAtLogin(false, config, std::nullopt));
}

TEST_F(LifecycleTest, LoginItemFailureIsReportedAndLogged) {
    const std::string blocked = root / "blocked";
    ASSERT_TRUE(quenwick::testing::writeFile(blocked, "a file where a folder should be"));
    ::testing::internal::CaptureStderr();
    const auto error = LoginItem::set(true, blocked, "brimvale");
    const std::string logged = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(error);
    EXPECT_EQ(logged.rfind("Brimvale login item: ", 0), 0u) << logged;
}

TEST_F(LifecycleTest, DataAndSettingsOfTheEarlierNameMoveOverOnce) {
    ASSERT_TRUE(makeDirs(data + "/Quenwick/History"));
    ASSERT_TRUE(writeFile(data + "/Quenwick/History/2026-01-01.json", "{}"));
    ASSERT_TRUE(makeDirs(config + "/Quenwick"));
    {
        QSettings old(QString::fromStdString(config + "/Quenwick/Quenwick.conf"),
                      QSettings::IniFormat);
        old.setValue("alertLowSpace", false);
        old.setValue("showMenuBar", 7);
        old.setValue("itemCount:/home/ann", 1234);
        old.setValue("unrelated", true);
    }
    ASSERT_TRUE(Migration::fromQuenwick(data, config));
    EXPECT_TRUE(exists(data + "/Brimvale/History/2026-01-01.json"));
    AppSettings settings(config);
    EXPECT_FALSE(settings.alertEnabled(quenwick::TideAlert::lowSpace(1)));
    EXPECT_TRUE(settings.showMenuBar());
    EXPECT_EQ(settings.itemCount("/home/ann"), 1234);
    EXPECT_FALSE(settings.flag("unrelated", false));

    // Once Brimvale's folder exists nothing is copied again.
    ASSERT_TRUE(writeFile(data + "/Quenwick/History/2026-01-02.json", "{}"));
    EXPECT_FALSE(Migration::fromQuenwick(data, config));
    EXPECT_FALSE(exists(data + "/Brimvale/History/2026-01-02.json"));
}

TEST_F(LifecycleTest, RelaunchStartsTheProgramAgainAfterTheAppHasQuit) {
    const std::string marker = root / "started";
    const std::string program = root / "program.sh";
    ASSERT_TRUE(writeFile(program, "#!/bin/sh\necho again > '" + marker + "'\n"));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    auto model = makeModel();
    ASSERT_TRUE(model->relaunch(QString::fromStdString(program)));
    // Not at once: the shell waits for this instance to be gone.
    EXPECT_FALSE(exists(marker));
    EXPECT_TRUE(waitFor([&] { return exists(marker); }, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace brimvale::testing

#include "Lifecycle_test.moc"
