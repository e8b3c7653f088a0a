#include "PrivateSessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace brimvale::testing {

PrivateSessionBus::PrivateSessionBus() {
    const std::string config = dir_ / "bus.conf";
    if (!quenwick::testing::writeFile(config,
                                      "<!DOCTYPE busconfig PUBLIC "
                                      "\"-//freedesktop//DTD D-Bus Bus Configuration "
                                      "1.0//EN\" \"http://www.freedesktop.org/standards/"
                                      "dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
                                      "  <type>session</type>\n  <listen>unix:path=" +
                                          (dir_ / "bus") +
                                          "</listen>\n  <policy context=\"default\">\n"
                                          "    <allow send_destination=\"*\"/>\n"
                                          "    <allow own=\"*\"/>\n"
                                          "    <allow receive_sender=\"*\"/>\n"
                                          "    <allow send_type=\"method_return\"/>\n"
                                          "    <allow send_type=\"signal\"/>\n"
                                          "    <allow send_type=\"error\"/>\n"
                                          "  </policy>\n"
                                          "</busconfig>\n"))
        return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 3);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        const std::string configArg = "--config-file=" + config;
        execl("/usr/bin/dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork",
              "--print-address=3", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    daemon_ = pid;
    std::string line;
    char buffer[512];
    for (ssize_t n;
         line.find('\n') == std::string::npos && (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        line.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    if (line.find('\n') != std::string::npos)
        address_ = QString::fromStdString(line.substr(0, line.find('\n')));
}

PrivateSessionBus::~PrivateSessionBus() {
    if (daemon_ <= 0) return;
    kill(daemon_, SIGTERM);
    int status = 0;
    waitpid(daemon_, &status, 0);
}

}  // namespace brimvale::testing
