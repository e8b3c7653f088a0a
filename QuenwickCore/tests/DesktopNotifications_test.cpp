#include "QuenwickCore/DesktopNotifications.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtCore/QObject>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "QtTestLoop.h"
#include "TestSupport.h"

using quenwick::DesktopNotifications;
using quenwick::Preferences;
using quenwick::TideAlert;
using quenwick::TideAlerts;
using quenwick::TideNotification;
using quenwick::testing::TempDir;
using quenwick::testing::turnLoopUntil;
using quenwick::testing::writeFile;

namespace {

// A notification server for the test's own bus: owns org.freedesktop.Notifications, answers
// Notify with ids 41, 42, ... and logs every call as one JSON line. Written with the system's
// Python D-Bus bindings because the test cannot be its own server while it blocks in the call.
constexpr const char* kServer = R"PY(
import json, sys
import dbus, dbus.bus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib

address, log_path, ready_path, mode = sys.argv[1:5]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)

class Refused(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.AccessDenied"

class Server(dbus.service.Object):
    count = 0

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u", async_callbacks=("ok", "err"))
    def Notify(self, app, replaces, icon, title, body, actions, hints, timeout, ok, err):
        Server.count += 1
        with open(log_path, "a") as log:
            log.write(json.dumps({
                "app": str(app), "replaces": int(replaces), "icon": str(icon),
                "title": str(title), "body": str(body), "actions": [str(a) for a in actions],
                "hints": {str(k): str(v) for k, v in hints.items()}, "timeout": int(timeout),
            }) + "\n")
        id = dbus.UInt32(40 + Server.count)
        if mode == "refuse":
            err(Refused("notifications are off"))
        elif mode == "delay":
            GLib.timeout_add(1500, lambda: ok(id) and False)
        elif mode == "click":
            ok(id)
            # A click on ours, and one on somebody else's notification.
            GLib.timeout_add(100, lambda: self.ActionInvoked(dbus.UInt32(999), "default") and False)
            GLib.timeout_add(150, lambda: self.ActionInvoked(id, "default") and False)
        elif mode != "silent":
            ok(id)

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, id, action):
        pass

Server(bus, "/org/freedesktop/Notifications")
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
open(ready_path, "w").close()
GLib.MainLoop().run()
)PY";

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kDaemon = "/usr/bin/dbus-daemon";

pid_t spawn(std::vector<std::string> args, int addressFd = -1, bool quiet = false) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (addressFd >= 0) dup2(addressFd, 3);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        if (quiet) dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

bool pythonHasDbus() {
    const pid_t pid = spawn({kPython, "-c", "import dbus, dbus.mainloop.glib, gi.repository.GLib"});
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A private bus with the test server on it; nothing of the user's session is touched.
class DesktopNotificationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(kDaemon, X_OK) != 0 || !pythonHasDbus()) {
            GTEST_SKIP() << "needs dbus-daemon and python3-dbus with python3-gi";
        }
        ASSERT_TRUE(writeFile(temp / "bus.conf", R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" + temp / "bus" + R"(</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)"));
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        daemon_ =
            spawn({kDaemon, "--config-file=" + temp / "bus.conf", "--nofork", "--print-address=3"},
                  fds[1], /*quiet=*/true);
        close(fds[1]);
        char buffer[512];
        std::string line;
        for (ssize_t n; line.find('\n') == std::string::npos &&
                        (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
            line.append(buffer, static_cast<size_t>(n));
        }
        close(fds[0]);
        ASSERT_NE(line.find('\n'), std::string::npos) << "dbus-daemon printed no address";
        address = line.substr(0, line.find('\n'));

        ASSERT_TRUE(writeFile(temp / "server.py", kServer));
        startServer("answer");
    }

    // Answers at once ("answer"), after 1.5 s ("delay"), never ("silent"), with an error
    // ("refuse"), or at once followed by clicks ("click").
    void startServer(const std::string& mode) {
        stopServer();
        unlink((temp / "ready").c_str());
        server_ =
            spawn({kPython, temp / "server.py", address, temp / "calls.log", temp / "ready", mode});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (access((temp / "ready").c_str(), F_OK) != 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "server did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void TearDown() override {
        stopServer();
        stop(daemon_);
    }

    void stopServer() { stop(std::exchange(server_, -1)); }

    std::vector<nlohmann::json> calls() const {
        std::vector<nlohmann::json> logged;
        std::ifstream log(temp / "calls.log");
        for (std::string line; std::getline(log, line);)
            logged.push_back(nlohmann::json::parse(line));
        return logged;
    }

    TempDir temp;
    std::string address;

private:
    pid_t daemon_ = -1;
    pid_t server_ = -1;
};

TEST_F(DesktopNotificationsTest, PostCarriesTextsSectionAndDefaultAction) {
    DesktopNotifications notifications(address);
    const TideNotification low{"Your disk is nearly full", "Only 1.0 GB left.", "lowSpace",
                               "shoreline"};
    EXPECT_EQ(notifications.post(low).id, 41u);
    const auto logged = calls();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0]["app"], "Brimvale");
    EXPECT_EQ(logged[0]["replaces"], 0);
    EXPECT_EQ(logged[0]["title"], "Your disk is nearly full");
    EXPECT_EQ(logged[0]["body"], "Only 1.0 GB left.");
    EXPECT_EQ(logged[0]["actions"], nlohmann::json::array({"default", "Open"}));
    EXPECT_EQ(logged[0]["hints"]["x-brimvale-section"], "shoreline");
    EXPECT_EQ(logged[0]["hints"]["x-brimvale-identifier"], "lowSpace");
    EXPECT_EQ(logged[0]["timeout"], -1);
}

TEST_F(DesktopNotificationsTest, SameIdentifierReplacesTheEarlierNotification) {
    DesktopNotifications notifications(address);
    const TideNotification first{"a", "b", "bigGrowth", "history"};
    const TideNotification other{"c", "d", "fillingFast", "history"};
    const TideNotification again{"e", "f", "bigGrowth", "history"};
    ASSERT_EQ(notifications.post(first).id, 41u);
    ASSERT_EQ(notifications.post(other).id, 42u);
    ASSERT_EQ(notifications.post(again).id, 43u);
    const auto logged = calls();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[1]["replaces"], 0);
    EXPECT_EQ(logged[2]["replaces"], 41);
}

TEST_F(DesktopNotificationsTest, AlertsPostedThroughTheBusRecordTheirRateLimit) {
    DesktopNotifications notifications(address);
    Preferences preferences = Preferences::atFile(temp / "Brimvale.conf");
    const auto deliver = [&](const TideNotification& n) { return notifications.post(n).delivery; };
    const auto outcomes =
        TideAlerts::post({TideAlert::bigGrowth("/home/ann/Movies", 6'000'000'000)}, preferences,
                         1000.0, "/home/ann", deliver);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].delivered);
    EXPECT_EQ(preferences.timestamp("lastAlert.bigGrowth"), 1000.0);
    const auto logged = calls();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0]["title"], "Movies grew by 6.0 GB today");
    EXPECT_EQ(logged[0]["body"], "~/Movies");
    EXPECT_EQ(logged[0]["hints"]["x-brimvale-section"], "history");
}

TEST_F(DesktopNotificationsTest, NoServerOrNoBusMeansUnanswered) {
    constexpr auto Unanswered = quenwick::TideAlerts::Delivery::unanswered;
    stopServer();
    DesktopNotifications withoutServer(address);
    EXPECT_EQ(withoutServer.post({"t", "b", "lowSpace", "shoreline"}).delivery, Unanswered);
    DesktopNotifications withoutBus("unix:path=" + temp / "no-such-bus");
    EXPECT_EQ(withoutBus.post({"t", "b", "lowSpace", "shoreline"}).delivery, Unanswered);
    DesktopNotifications garbage("this is not an address");
    EXPECT_EQ(garbage.post({"t", "b", "lowSpace", "shoreline"}).delivery, Unanswered);
}

TEST_F(DesktopNotificationsTest, DefaultObjectPostsOnTheSessionBus) {
    // This process has not used the session bus before, so it connects to the one named here.
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    DesktopNotifications notifications;
    EXPECT_EQ(notifications.post({"t", "b", "fillingFast", "history"}).id, 41u);
    EXPECT_EQ(calls().size(), 1u);
}

TEST_F(DesktopNotificationsTest, AlertNobodyAnsweredIsTriedAgainButARefusalCounts) {
    const auto alerts = std::vector{TideAlert::fillingFast(3)};
    Preferences preferences = Preferences::atFile(temp / "Brimvale.conf");
    const auto postWith = [&](DesktopNotifications& notifications, double now) {
        return TideAlerts::post(
            alerts, preferences, now, "/home/ann",
            [&](const TideNotification& n) { return notifications.post(n).delivery; });
    };

    stopServer();
    DesktopNotifications notifications(address);
    auto outcomes = postWith(notifications, 1000.0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].delivered);
    EXPECT_FALSE(outcomes[0].answered);
    EXPECT_FALSE(preferences.timestamp("lastAlert.fillingFast"));
    EXPECT_EQ(TideAlerts::gate(alerts[0], preferences, 1060.0), TideAlerts::Gate::due);

    startServer("refuse");
    outcomes = postWith(notifications, 1060.0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].delivered);
    EXPECT_TRUE(outcomes[0].answered);
    EXPECT_EQ(preferences.timestamp("lastAlert.fillingFast"), 1060.0) << "a refusal must not nag";
    EXPECT_EQ(calls().size(), 1u);
}

// The window's form: the answer comes on the context's thread while its loop keeps turning.
struct AsyncPost {
    std::optional<DesktopNotifications::Posted> posted;
    bool onCallerThread = false;
};

TEST_F(DesktopNotificationsTest, AsyncPostToASlowServerNeverBlocksTheLoop) {
    startServer("delay");
    DesktopNotifications notifications(address);
    QObject context;
    AsyncPost first;
    AsyncPost second;
    const auto caller = std::this_thread::get_id();
    const auto into = [&](AsyncPost& slot) {
        return [&slot, caller](DesktopNotifications::Posted p) {
            slot.onCallerThread = std::this_thread::get_id() == caller;
            slot.posted = p;
        };
    };
    notifications.postAsync({"a", "b", "lowSpace", "shoreline"}, &context, into(first));
    notifications.postAsync({"c", "d", "lowSpace", "shoreline"}, &context, into(second));
    EXPECT_FALSE(first.posted) << "never answered from inside the call";
    const auto turns =
        turnLoopUntil([&] { return first.posted && second.posted; }, std::chrono::seconds(10));
    ASSERT_TRUE(first.posted && second.posted);
    EXPECT_EQ(first.posted->delivery, quenwick::TideAlerts::Delivery::shown);
    EXPECT_EQ(first.posted->id, 41u);
    EXPECT_EQ(second.posted->id, 42u);
    EXPECT_TRUE(first.onCallerThread && second.onCallerThread);
    EXPECT_GE(turns.beats, 100) << "three seconds of waiting, and the loop turned all along";
    EXPECT_LT(turns.longestGap, std::chrono::milliseconds(500));
    const auto logged = calls();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[1]["replaces"], 41) << "posts keep their order";
}

TEST_F(DesktopNotificationsTest, AsyncPostToAServerThatNeverAnswersEndsUnanswered) {
    startServer("silent");
    DesktopNotifications notifications(address);
    QObject context;
    std::optional<DesktopNotifications::Posted> posted;
    notifications.postAsync({"a", "b", "fillingFast", "history"}, &context,
                            [&](DesktopNotifications::Posted p) { posted = p; });
    const auto turns = turnLoopUntil([&] { return posted.has_value(); }, std::chrono::seconds(10));
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->delivery, quenwick::TideAlerts::Delivery::unanswered);
    EXPECT_EQ(posted->id, std::nullopt);
    EXPECT_LT(turns.longestGap, std::chrono::milliseconds(500));
    EXPECT_EQ(calls().size(), 1u);
}

TEST_F(DesktopNotificationsTest, AsyncAnswerForAGoneContextIsDroppedAndThePostStillMade) {
    startServer("delay");
    DesktopNotifications notifications(address);
    int answers = 0;
    {
        QObject context;
        notifications.postAsync({"a", "b", "lowSpace", "shoreline"}, &context,
                                [&](DesktopNotifications::Posted) { ++answers; });
    }
    QObject later;
    std::optional<DesktopNotifications::Posted> posted;
    notifications.postAsync({"c", "d", "lowSpace", "shoreline"}, &later,
                            [&](DesktopNotifications::Posted p) { posted = p; });
    turnLoopUntil([&] { return posted.has_value(); }, std::chrono::seconds(10));
    ASSERT_TRUE(posted);
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(posted->id, 42u) << "the first post reached the server";
    EXPECT_EQ(calls().size(), 2u);
}

TEST_F(DesktopNotificationsTest, ClickOnAShownNotificationReachesTheWatcher) {
    startServer("click");
    DesktopNotifications notifications(address);
    QObject context;
    std::vector<std::pair<uint32_t, std::string>> clicks;
    notifications.watchActions(
        &context, [&](uint32_t id, const std::string& action) { clicks.emplace_back(id, action); });
    std::optional<DesktopNotifications::Posted> posted;
    notifications.postAsync({"a", "b", "lowSpace", "shoreline"}, &context,
                            [&](DesktopNotifications::Posted p) { posted = p; });
    turnLoopUntil([&] { return !clicks.empty(); }, std::chrono::seconds(10));
    // Somebody else's click (id 999) came first and was not ours to report.
    turnLoopUntil([] { return false; }, std::chrono::milliseconds(200));
    ASSERT_TRUE(posted);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].first, *posted->id);
    EXPECT_EQ(clicks[0].second, "default");
}

}  // namespace
