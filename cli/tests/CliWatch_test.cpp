// `brimvale-cli watch` as the user service runs it: over the roots of the saved snapshots, and
// over a root whose snapshot is saved while it runs.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "QuenwickCore/ChangeJournal.h"
#include "QuenwickCore/PathRules.h"
#include "TestSupport.h"

namespace brimvale::cli {
namespace {

using namespace std::chrono_literals;
using quenwick::testing::TempDir;

bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return pred();
}

class CliWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = dir / "home";
        data = home + "/.local/share";
        ASSERT_TRUE(quenwick::testing::makeDirs(data));
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        snapshots = data + "/Brimvale/Snapshots";
        journal = quenwick::ChangeJournal(data + "/Brimvale/Journal");
    }
    void TearDown() override {
        if (watcher > 0) {
            kill(watcher, SIGKILL);
            waitpid(watcher, nullptr, 0);
        }
    }

    // A folder with a file, scanned and saved as the app names its snapshots.
    std::string savedRoot(const std::string& name) {
        const std::string root = quenwick::PathRules::realPath(dir.path()).value() + "/" + name;
        EXPECT_TRUE(quenwick::testing::makeDirs(root + "/sub"));
        EXPECT_TRUE(quenwick::testing::writeFile(root + "/sub/a", "a"));
        std::string file = root;
        std::replace(file.begin(), file.end(), '/', '_');
        const std::string command = std::string(BRIMVALE_CLI_PATH) + " scan --quiet '" + root +
                                    "' --save '" + snapshots + "/" + file + ".qws' >/dev/null";
        EXPECT_EQ(std::system(("mkdir -p '" + snapshots + "' && " + command).c_str()), 0);
        return root;
    }
    void startWatcher() {
        watcher = fork();
        if (watcher == 0) {
            execl(BRIMVALE_CLI_PATH, BRIMVALE_CLI_PATH, "watch", "--quiet", "--mode", "inotify",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(watcher, 0);
    }
    bool watching(const std::string& root) const {
        const auto state = journal.readState();
        return state &&
               std::find(state->roots.begin(), state->roots.end(), root) != state->roots.end();
    }
    // The recorder's position once it wrote out everything that happened so far.
    uint64_t position() const {
        return journal.synchronize(std::chrono::steady_clock::now() + 5s).value_or(0);
    }
    // Whether the journal holds a change inside folder after position since.
    bool recordsChangeIn(const std::string& folder, uint64_t since) const {
        if (position() == 0) return false;
        for (const auto& record : journal.readSince(since).records)
            if (record.kind == quenwick::JournalRecord::Kind::changed && record.path == folder)
                return true;
        return false;
    }
    int stopWatcher() {
        kill(watcher, SIGTERM);
        int status = 0;
        waitpid(watcher, &status, 0);
        watcher = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir;
    std::string home, data, snapshots;
    pid_t watcher = -1;
    quenwick::ChangeJournal journal{""};
};

TEST_F(CliWatchTest, SnapshotOfANewRootSavedWhileRunningIsWatchedFromThenOn) {
    const std::string first = savedRoot("first");
    startWatcher();
    ASSERT_TRUE(eventually([&] { return watching(first); }));
    const std::string second = savedRoot("second");
    ASSERT_TRUE(eventually([&] { return watching(second) && watching(first); }));

    const uint64_t before = position();
    ASSERT_NE(before, 0u);
    ASSERT_TRUE(quenwick::testing::writeFile(second + "/sub/new", "n"));
    ASSERT_TRUE(quenwick::testing::writeFile(first + "/sub/new", "n"));
    EXPECT_TRUE(recordsChangeIn(second + "/sub", before));
    EXPECT_TRUE(recordsChangeIn(first + "/sub", before));

    // Saving the first root again (what every catch-up does) changes nothing.
    const auto state = journal.readState();
    ASSERT_TRUE(state.has_value());
    (void)savedRoot("first");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(journal.readState()->sessionStart, state->sessionStart);
    EXPECT_EQ(stopWatcher(), 0);
}

}  // namespace
}  // namespace brimvale::cli
