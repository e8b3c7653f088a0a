#include "PrivateBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace helperkit::testing {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The system bus's own default policy (as Debian ships it): nobody owns names, method calls
// are denied unless a service's policy allows them, replies and signals flow.
const char* kDefaultPolicy = R"(
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Properties"/>
    <deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
          send_member="UpdateActivationEnvironment"/>
  </policy>
)";

// What polkit's own bus policy allows, for the test authority that stands in for it.
const char* kAuthorityPolicy = R"(<busconfig>
  <policy user="root"><allow own="org.freedesktop.PolicyKit1"/></policy>
  <policy context="default">
    <allow send_destination="org.freedesktop.PolicyKit1"
           send_interface="org.freedesktop.PolicyKit1.Authority"/>
  </policy>
</busconfig>
)";

const char* kNobodyOwnsPolicy = R"(<busconfig>
  <policy user="nobody"><allow own="app.brimvale.helper"/></policy>
</busconfig>
)";

void writeText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(quenwick::testing::writeFile(path, text)) << path;
}

pid_t spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool canConnect(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof(addr.sun_path) - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

}  // namespace

PrivateBus::PrivateBus(PrivateBusOptions options) {
    const std::string root = dir_.path();
    quenwick::testing::makeDirs(root + "/services");
    quenwick::testing::makeDirs(root + "/system.d");
    quenwick::testing::makeDirs(root + "/authority");
    const std::string socket = root + "/bus";
    address_ = "unix:path=" + socket;

    writeText(root + "/bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
              "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n  <type>system</type>\n  <listen>" +
                  address_ + "</listen>\n  <auth>EXTERNAL</auth>\n  <servicedir>" + root +
                  "/services</servicedir>\n" + kDefaultPolicy + "  <includedir>" + root +
                  "/system.d</includedir>\n</busconfig>\n");

    // The shipped policy as it stands, and the shipped service file with only Exec changed.
    writeText(root + "/system.d/app.brimvale.helper.conf",
              readFile(BRIMVALE_DIST_DIR "/dbus-1/system.d/app.brimvale.helper.conf"));
    writeText(root + "/system.d/authority.conf", kAuthorityPolicy);
    if (options.letNobodyOwnHelperName) {
        writeText(root + "/system.d/test-nobody-owns.conf", kNobodyOwnsPolicy);
    }
    std::istringstream shipped(
        readFile(BRIMVALE_DIST_DIR "/dbus-1/system-services/app.brimvale.helper.service"));
    std::string service;
    for (std::string line; std::getline(shipped, line);) {
        if (line.rfind("Exec=", 0) == 0) {
            line = std::string("Exec=") + BRIMVALE_HELPER_PATH + " --idle-seconds " +
                   std::to_string(options.helperIdleSeconds);
        }
        service += line + "\n";
    }
    if (options.installHelper) writeText(root + "/services/app.brimvale.helper.service", service);
    writeText(root + "/services/org.freedesktop.PolicyKit1.service",
              std::string("[D-BUS Service]\nName=org.freedesktop.PolicyKit1\nExec=") +
                  BRIMVALE_STAND_IN_PATH + " authority " + root + "/authority\nUser=root\n");
    setAuthorityAnswer("yes");

    if (const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) previousAddress_ = previous;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);

    const int log = open((root + "/daemon.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    daemon_ = spawn({"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + root + "/bus.conf"},
                    log, log);
    close(log);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (daemon_ > 0 && !canConnect(socket)) {
        if (std::chrono::steady_clock::now() > deadline || waitForExit(daemon_, 0)) {
            ADD_FAILURE() << "dbus-daemon did not start: " << readFile(root + "/daemon.log");
            daemon_ = -1;
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
}

PrivateBus::~PrivateBus() {
    // The bus started these; they would otherwise outlive it until their own idle checks.
    for (const char* name : {"app.brimvale.helper", "org.freedesktop.PolicyKit1"}) {
        if (auto pid = ownerPid(name)) kill(*pid, SIGKILL);
    }
    if (daemon_ > 0) {
        kill(daemon_, SIGTERM);
        if (!waitForExit(daemon_, 5000)) {
            kill(daemon_, SIGKILL);
            waitForExit(daemon_, 5000);
        }
    }
    // The bus passes its services' standard error on to its own: a sanitizer report from the
    // helper (in the sanitizer build) lands there.
    const std::string log = readFile(dir_.path() + "/daemon.log");
    if (log.find("Sanitizer") != std::string::npos ||
        log.find("runtime error") != std::string::npos) {
        ADD_FAILURE() << "a bus service reported:\n" << log;
    }
    if (previousAddress_) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", previousAddress_->c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

void PrivateBus::setAuthorityAnswer(const std::string& answer) {
    writeText(dir_.path() + "/authority/answer", answer);
}

namespace {

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

std::vector<std::string> PrivateBus::authorityCalls() const {
    return linesOf(dir_.path() + "/authority/calls");
}

std::vector<std::string> PrivateBus::authorityCancels() const {
    return linesOf(dir_.path() + "/authority/cancels");
}

std::optional<pid_t> PrivateBus::ownerPid(const std::string& name) const {
    const std::string command = "dbus-send --bus=" + address_ +
                                " --print-reply=literal --dest=org.freedesktop.DBus "
                                "/org/freedesktop/DBus "
                                "org.freedesktop.DBus.GetConnectionUnixProcessID string:" +
                                name + " 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) return std::nullopt;
    char line[256] = {};
    const bool read = std::fgets(line, sizeof(line), out) != nullptr;
    pclose(out);
    unsigned pid = 0;
    if (!read || std::sscanf(line, " uint32 %u", &pid) != 1 || pid == 0) return std::nullopt;
    return pid_t(pid);
}

pid_t PrivateBus::startImpostor(int& stdoutFd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = spawn({BRIMVALE_STAND_IN_PATH, "impostor"}, fds[1], -1);
    close(fds[1]);
    stdoutFd = fds[0];
    return pid;
}

std::optional<int> waitForExit(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
}

bool processAlive(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return false;
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

HelperEndpoint endpointOn(const PrivateBus& bus) {
    HelperEndpoint endpoint;
    endpoint.busAddress = bus.address();
    return endpoint;
}

bool makeSmallTree(const std::string& root) {
    return quenwick::testing::makeDirs(root + "/sub") &&
           quenwick::testing::writeFileOfSize(root + "/one", 5000) &&
           quenwick::testing::writeFileOfSize(root + "/sub/two", 9000);
}

std::string errorText(const std::variant<std::vector<uint8_t>, HelperError>& result) {
    if (auto* error = std::get_if<HelperError>(&result)) return error->describe();
    return "(" + std::to_string(std::get<std::vector<uint8_t>>(result).size()) + " bytes)";
}

}  // namespace helperkit::testing
