#include "Shoreline/RunningApps.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

namespace shoreline {
namespace {

std::string ownExecutableName() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    const std::string path(buffer, static_cast<size_t>(n));
    return path.substr(path.rfind('/') + 1);
}

TEST(RunningApps, ExecutableNamesAndFlatpakIdsOfTheUsersProcesses) {
    // A stand-in for a sandboxed app: the sandbox names the app in its processes' environment.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char* const argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
        char* const envp[] = {const_cast<char*>("FLATPAK_ID=org.example.Sandboxed"), nullptr};
        execve("/bin/sleep", argv, envp);
        _exit(127);
    }
    // Until the child has exec'd, it is still a copy of this process.
    std::set<std::string> names;
    for (int i = 0; i < 200 && !names.contains("org.example.Sandboxed"); ++i) {
        usleep(10'000);
        names = RunningApps::identifiers();
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(names.contains("org.example.Sandboxed"));
    EXPECT_TRUE(names.contains("sleep"));
    EXPECT_TRUE(names.contains(ownExecutableName())) << ownExecutableName();
    EXPECT_FALSE(names.contains(""));
}

}  // namespace
}  // namespace shoreline
