#include "QuenwickCore/DesktopNotifications.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "TestSupport.h"

using quenwick::DesktopNotifications;
using quenwick::Preferences;
using quenwick::TideAlert;
using quenwick::TideAlerts;
using quenwick::TideNotification;
using quenwick::testing::TempDir;
using quenwick::testing::writeFile;

namespace {

// A notification server for the test's own bus: owns org.freedesktop.Notifications, answers
// Notify with ids 41, 42, ... and logs every call as one JSON line. Written with the system's
// Python D-Bus bindings because the test cannot be its own server while it blocks in the call.
constexpr const char* kServer = R"PY(
import json, sys
import dbus, dbus.bus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib

address, log_path, ready_path = sys.argv[1:4]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)

class Server(dbus.service.Object):
    count = 0

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, title, body, actions, hints, timeout):
        Server.count += 1
        with open(log_path, "a") as log:
            log.write(json.dumps({
                "app": str(app), "replaces": int(replaces), "icon": str(icon),
                "title": str(title), "body": str(body), "actions": [str(a) for a in actions],
                "hints": {str(k): str(v) for k, v in hints.items()}, "timeout": int(timeout),
            }) + "\n")
        return dbus.UInt32(40 + Server.count)

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
        server_ = spawn({kPython, temp / "server.py", address, temp / "calls.log", temp / "ready"});
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
    EXPECT_EQ(notifications.post(low), 41u);
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
    ASSERT_EQ(notifications.post(first), 41u);
    ASSERT_EQ(notifications.post(other), 42u);
    ASSERT_EQ(notifications.post(again), 43u);
    const auto logged = calls();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[1]["replaces"], 0);
    EXPECT_EQ(logged[2]["replaces"], 41);
}

TEST_F(DesktopNotificationsTest, AlertsPostedThroughTheBusRecordTheirRateLimit) {
    DesktopNotifications notifications(address);
    Preferences preferences = Preferences::atFile(temp / "Brimvale.conf");
    const auto deliver = [&](const TideNotification& n) {
        return notifications.post(n).has_value();
    };
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

TEST_F(DesktopNotificationsTest, NoServerOrNoBusMeansNotDelivered) {
    stopServer();
    DesktopNotifications withoutServer(address);
    EXPECT_EQ(withoutServer.post({"t", "b", "lowSpace", "shoreline"}), std::nullopt);
    DesktopNotifications withoutBus("unix:path=" + temp / "no-such-bus");
    EXPECT_EQ(withoutBus.post({"t", "b", "lowSpace", "shoreline"}), std::nullopt);
    DesktopNotifications garbage("this is not an address");
    EXPECT_EQ(garbage.post({"t", "b", "lowSpace", "shoreline"}), std::nullopt);
}

TEST_F(DesktopNotificationsTest, DefaultObjectPostsOnTheSessionBus) {
    // This process has not used the session bus before, so it connects to the one named here.
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    DesktopNotifications notifications;
    EXPECT_EQ(notifications.post({"t", "b", "fillingFast", "history"}), 41u);
    EXPECT_EQ(calls().size(), 1u);
}

}  // namespace
