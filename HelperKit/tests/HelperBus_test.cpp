// The helper, its client and the shipped bus files working together on a private dbus-daemon
// that stands in for the system bus (see support/PrivateBus.h). The polkit authority on that bus
// is the test stand-in of support/BusStandIn.cpp, because the real polkitd needs the real system
// bus and the installed action files.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>
#include <random>
#include <thread>
#include <tuple>

#include "HelperKit/AdminScan.h"
#include "HelperKit/HelperClient.h"
#include "HelperKit/HelperIdentity.h"
#include "PrivateBus.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/JournalRecorder.h"
#include "QuenwickCore/Snapshot.h"
#include "TestSupport.h"

namespace helperkit {
namespace {

using namespace std::chrono_literals;
using quenwick::testing::TempDir;
using testing::errorText;
using testing::PrivateBus;
using testing::PrivateBusOptions;

using Row = std::tuple<std::string, uint64_t, int64_t, uint64_t, uint16_t>;

// Every node as (path, size, mtime, inode, flags), in path order: scans number nodes in the
// order their workers happen to finish, so only this is comparable between two scans.
std::vector<Row> rows(const quenwick::FileTree& tree) {
    std::vector<Row> all;
    for (quenwick::FileTree::Node n = 0; n < tree.count(); ++n) {
        all.emplace_back(tree.path(n), tree.size(n), tree.mtime(n), tree.inode(n),
                         tree.flags(n).rawValue());
    }
    std::sort(all.begin(), all.end());
    return all;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(HelperBus, BusStartsTheHelperOnFirstCallAndTheVersionsMustMatch) {
    PrivateBus bus;
    ASSERT_TRUE(bus.running());
    EXPECT_FALSE(bus.ownerPid(std::string(HelperIdentity::machService)))
        << "nobody owns the name before the first call";

    HelperClient client(testing::endpointOn(bus));
    auto version = client.version();
    ASSERT_TRUE(std::holds_alternative<std::string>(version))
        << std::get<HelperError>(version).describe();
    EXPECT_EQ(std::get<std::string>(version),
              HelperIdentity::versionString(HelperIdentity::installedBuild()));

    const auto pid = bus.ownerPid(std::string(HelperIdentity::machService));
    ASSERT_TRUE(pid);
    char exe[4096] = {};
    ASSERT_GT(readlink(("/proc/" + std::to_string(*pid) + "/exe").c_str(), exe, sizeof(exe) - 1),
              0);
    EXPECT_EQ(std::string(exe), BRIMVALE_HELPER_PATH);

    EXPECT_EQ(client.handshake(HelperIdentity::installedBuild()), std::nullopt);
    const auto mismatch = client.handshake("999");
    ASSERT_TRUE(mismatch);
    EXPECT_EQ(mismatch->kind, HelperError::Kind::connection);
    EXPECT_NE(mismatch->text.find("1/999"), std::string::npos) << mismatch->text;
}

TEST(HelperBus, RootOnlyFolderArrivesInBatchesAsTheSameTreeAsADirectScan) {
    TempDir dir;
    // A folder name that is not UTF-8, so the path must travel as bytes.
    const std::string root = dir / "scan\xff";
    const std::string vault = root + "/vault";
    ASSERT_TRUE(quenwick::testing::makeDirs(vault + "/deeper"));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(vault + "/secret", 123456));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(vault + "/deeper/more", 777));
    ASSERT_EQ(link((vault + "/secret").c_str(), (root + "/hardlink").c_str()), 0);
    // Names of random bytes do not compress, so the snapshot is well over one batch.
    std::mt19937 random(12);
    for (int i = 0; i < 6000; ++i) {
        std::string name(200, 'x');
        for (char& c : name)
            c = char(1 + random() % 255);
        std::replace(name.begin(), name.end(), '/', '_');
        ASSERT_TRUE(quenwick::testing::writeFile(root + "/" + name, "x"));
    }
    ASSERT_EQ(chmod(vault.c_str(), 0700), 0);

    const auto unprivileged = quenwick::testing::runInChild([&] {
        if (!quenwick::testing::dropPrivileges()) return std::string("still privileged");
        quenwick::DiskScanner scanner;
        auto tree = scanner.scan(root);
        auto node = tree->nodeAtPath(vault);
        return node && tree->flags(*node).contains(quenwick::NodeFlags::unreadable)
                   ? std::string("unreadable")
                   : std::string("readable");
    });
    ASSERT_EQ(unprivileged, "unreadable") << "the folder must be one only root can read";

    PrivateBus bus;
    HelperClient client(testing::endpointOn(bus));
    auto before = std::chrono::system_clock::now();
    auto result = client.scan(root);
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(result)) << errorText(result);
    const auto& bytes = std::get<std::vector<uint8_t>>(result);
    EXPECT_GT(int64_t(bytes.size()), HelperIdentity::batchSize);

    auto decoded = quenwick::Snapshot::decode(bytes);
    ASSERT_TRUE(std::holds_alternative<quenwick::LoadedSnapshot>(decoded));
    const auto& loaded = std::get<quenwick::LoadedSnapshot>(decoded);
    EXPECT_EQ(loaded.meta.rootPath, root);
    EXPECT_EQ(loaded.meta.fsEventID, 0u) << "the journal position is the client's to set";
    EXPECT_GE(loaded.meta.scannedAt,
              std::chrono::duration<double>(before.time_since_epoch()).count() - 1);

    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(root));
    const auto direct = scanner.scan(root);
    EXPECT_EQ(rows(*loaded.tree), rows(*direct));
    const auto secret = loaded.tree->nodeAtPath(vault + "/secret");
    ASSERT_TRUE(secret);
    EXPECT_EQ(loaded.tree->size(*secret), direct->size(*direct->nodeAtPath(vault + "/secret")));
}

TEST(HelperBus, AuthorityIsAskedAboutTheCallersBusNameAndItsRefusalIsReported) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("no");
    HelperClient client(testing::endpointOn(bus));
    std::atomic<int> progressCalls{0};
    auto result = client.scan(dir.path(), [&](int64_t, int64_t) { ++progressCalls; });
    ASSERT_TRUE(std::holds_alternative<HelperError>(result));
    EXPECT_EQ(std::get<HelperError>(result),
              HelperError::helper("Not authorized to scan as administrator."));
    EXPECT_EQ(progressCalls, 0);

    const auto calls = bus.authorityCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "system-bus-name " + client.uniqueName() + " app.brimvale.helper.scan 1");

    bus.setAuthorityAnswer("yes");
    auto allowed = client.scan(dir.path());
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(allowed)) << errorText(allowed);
    EXPECT_EQ(bus.authorityCalls().size(), 2u) << "every scan is authorized anew";
}

TEST(HelperBus, PathThatIsNotAFolderIsRefusedWithoutCallbacks) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "file", "data"));
    PrivateBus bus;
    HelperClient client(testing::endpointOn(bus));
    for (const std::string& path : {dir / "file", std::string("relative/path"), dir / "missing"}) {
        std::atomic<int> progressCalls{0};
        auto result = client.scan(path, [&](int64_t, int64_t) { ++progressCalls; });
        ASSERT_TRUE(std::holds_alternative<HelperError>(result)) << path;
        EXPECT_EQ(std::get<HelperError>(result), HelperError::helper("Not a folder: " + path));
        EXPECT_EQ(progressCalls, 0);
    }
}

TEST(HelperBus, CallerMayAskAgainAsSoonAsItHasTheReply) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "file", "data"));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes");
    HelperClient client(testing::endpointOn(bus));
    // Each request ends at once; the next one must never find the last still "running".
    int refusedAsBusy = 0;
    for (int i = 0; i < 200; ++i) {
        const auto result = client.scan(dir / "file");
        ASSERT_TRUE(std::holds_alternative<HelperError>(result));
        refusedAsBusy +=
            std::get<HelperError>(result) == HelperError::helper("A scan is already running.");
    }
    EXPECT_EQ(refusedAsBusy, 0);
}

TEST(HelperBus, SecondScanOnOneConnectionIsRefusedAndTheFirstCompletes) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    HelperClient client(testing::endpointOn(bus));
    auto first = std::async(std::launch::async, [&] { return client.scan(dir.path()); });
    ASSERT_TRUE(waitUntil([&] { return !bus.authorityCalls().empty(); }, 10s));

    const auto started = std::chrono::steady_clock::now();
    auto second = client.scan(dir.path());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 900ms) << "refused at once";
    ASSERT_TRUE(std::holds_alternative<HelperError>(second));
    EXPECT_EQ(std::get<HelperError>(second), HelperError::helper("A scan is already running."));

    auto result = first.get();
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(result)) << errorText(result);
    auto decoded = quenwick::Snapshot::decode(std::get<std::vector<uint8_t>>(result));
    ASSERT_TRUE(std::holds_alternative<quenwick::LoadedSnapshot>(decoded));
    EXPECT_TRUE(std::get<quenwick::LoadedSnapshot>(decoded).tree->nodeAtPath(dir / "sub/two"));

    // Another connection is another caller: it may scan while this one does.
    bus.setAuthorityAnswer("yes 1");
    HelperClient other(testing::endpointOn(bus));
    auto mine = std::async(std::launch::async, [&] { return client.scan(dir.path()); });
    auto theirs = other.scan(dir.path());
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(theirs)) << errorText(theirs);
    auto minesResult = mine.get();
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(minesResult))
        << errorText(minesResult);
}

TEST(HelperBus, CancelWhileTheScanIsUnderwayRepliesCancelled) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    HelperClient client(testing::endpointOn(bus));
    auto scan = std::async(std::launch::async, [&] { return client.scan(dir.path()); });
    ASSERT_TRUE(waitUntil([&] { return !bus.authorityCalls().empty(); }, 10s));
    client.cancel();
    auto result = scan.get();
    ASSERT_TRUE(std::holds_alternative<HelperError>(result)) << errorText(result);
    EXPECT_EQ(std::get<HelperError>(result), HelperError::helper("Cancelled"));

    // The cancel belonged to that scan only.
    bus.setAuthorityAnswer("yes");
    auto again = client.scan(dir.path());
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(again)) << errorText(again);
}

TEST(HelperBus, CallerThatVanishesMidScanLeavesTheHelperServingOthers) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    HelperClient leaving(testing::endpointOn(bus));
    auto scan = std::async(std::launch::async, [&] { return leaving.scan(dir.path()); });
    ASSERT_TRUE(waitUntil([&] { return !bus.authorityCalls().empty(); }, 10s));
    const auto helper = bus.ownerPid(std::string(HelperIdentity::machService));
    ASSERT_TRUE(helper);
    leaving.invalidate();
    auto result = scan.get();
    ASSERT_TRUE(std::holds_alternative<HelperError>(result));
    EXPECT_EQ(std::get<HelperError>(result).kind, HelperError::Kind::connection);

    bus.setAuthorityAnswer("yes");
    HelperClient staying(testing::endpointOn(bus));
    auto served = staying.scan(dir.path());
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(served)) << errorText(served);
    EXPECT_EQ(bus.ownerPid(std::string(HelperIdentity::machService)), helper)
        << "the same helper, still running";
}

// A "Name:\tvalue" line of /proc/PID/status.
std::string procStatus(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
    return {};
}

TEST(HelperBus, RequestsWaitingForAuthorizationHoldNoThreadAndEndWithTheirCallers) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 60");
    HelperClient first(testing::endpointOn(bus));
    ASSERT_TRUE(std::holds_alternative<std::string>(first.version()));
    const auto helper = bus.ownerPid(std::string(HelperIdentity::machService));
    ASSERT_TRUE(helper);
    const std::string threadsBefore = procStatus(*helper, "Threads");

    // Sixteen callers wait for a slow authority; a seventeenth is turned away at once.
    constexpr int kWaiting = 16;
    std::vector<std::unique_ptr<HelperClient>> clients;
    std::vector<std::future<std::variant<std::vector<uint8_t>, HelperError>>> scans;
    for (int i = 0; i < kWaiting; ++i) {
        clients.push_back(std::make_unique<HelperClient>(testing::endpointOn(bus)));
        scans.push_back(std::async(std::launch::async, [&, client = clients.back().get()] {
            return client->scan(dir.path());
        }));
    }
    ASSERT_TRUE(waitUntil([&] { return bus.authorityCalls().size() == size_t(kWaiting); }, 20s));
    HelperClient extra(testing::endpointOn(bus));
    const auto refused = extra.scan(dir.path());
    ASSERT_TRUE(std::holds_alternative<HelperError>(refused)) << errorText(refused);
    EXPECT_EQ(std::get<HelperError>(refused),
              HelperError::helper("Too many requests are waiting for authorization."));
    EXPECT_EQ(procStatus(*helper, "Threads"), threadsBefore) << "no thread before authorization";

    // Callers that go away take their pending authorization with them.
    for (auto& client : clients)
        client->invalidate();
    for (auto& scan : scans)
        EXPECT_TRUE(std::holds_alternative<HelperError>(scan.get()));
    EXPECT_TRUE(waitUntil([&] { return bus.authorityCancels().size() == size_t(kWaiting); }, 10s))
        << bus.authorityCancels().size() << " cancellations";
    // And the helper serves the next caller as usual.
    bus.setAuthorityAnswer("yes");
    auto served = first.scan(dir.path());
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(served)) << errorText(served);
}

TEST(HelperBus, HelperKeepsOnlyTheCapabilityToReadEverything) {
    PrivateBus bus;
    HelperClient client(testing::endpointOn(bus));
    ASSERT_TRUE(std::holds_alternative<std::string>(client.version()));
    const auto helper = bus.ownerPid(std::string(HelperIdentity::machService));
    ASSERT_TRUE(helper);
    // Bit 2 is CAP_DAC_READ_SEARCH; an unprivileged run may hold nothing at all.
    const std::string readSearch = getuid() == 0 ? "0000000000000004" : "0000000000000000";
    EXPECT_EQ(procStatus(*helper, "CapEff"), readSearch);
    EXPECT_EQ(procStatus(*helper, "CapPrm"), readSearch);
    EXPECT_EQ(procStatus(*helper, "CapInh"), "0000000000000000");
    EXPECT_EQ(procStatus(*helper, "CapAmb"), "0000000000000000");
    if (getuid() == 0) {
        EXPECT_EQ(procStatus(*helper, "CapBnd"), readSearch);
    }
    EXPECT_EQ(procStatus(*helper, "NoNewPrivs"), "1");
}

TEST(HelperBus, HelperThatDiesMidScanEndsTheScanWithAConnectionError) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 5");
    HelperClient client(testing::endpointOn(bus));
    auto scan = std::async(std::launch::async, [&] { return client.scan(dir.path()); });
    ASSERT_TRUE(waitUntil([&] { return !bus.authorityCalls().empty(); }, 10s));
    const auto helper = bus.ownerPid(std::string(HelperIdentity::machService));
    ASSERT_TRUE(helper);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(*helper, SIGKILL), 0);
    auto result = scan.get();
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 4s) << "no waiting for batches";
    ASSERT_TRUE(std::holds_alternative<HelperError>(result)) << errorText(result);
    EXPECT_EQ(std::get<HelperError>(result).kind, HelperError::Kind::connection)
        << errorText(result);
}

TEST(HelperBus, HelperExitsAfterItsIdleTimeButNotDuringALongRequest) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBusOptions options;
    options.helperIdleSeconds = 1.5;
    PrivateBus bus(options);
    const std::string name(HelperIdentity::machService);
    {
        HelperClient client(testing::endpointOn(bus));
        ASSERT_TRUE(std::holds_alternative<std::string>(client.version()));
    }
    const auto asked = std::chrono::steady_clock::now();
    const auto helper = bus.ownerPid(name);
    ASSERT_TRUE(helper);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(testing::processAlive(*helper)) << "ended before its idle time";
    ASSERT_TRUE(waitUntil([&] { return !testing::processAlive(*helper); }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 1500ms);
    EXPECT_FALSE(bus.ownerPid(name));

    // Started again on demand; a request that lasts longer than the idle time keeps it alive.
    bus.setAuthorityAnswer("yes 2.5");
    HelperClient client(testing::endpointOn(bus));
    auto result = client.scan(dir.path());
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(result)) << errorText(result);
}

TEST(HelperBus, NameOwnedByNonRootIsRejectedByTheClient) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to start an impostor as another user";
    PrivateBusOptions options;
    options.letNobodyOwnHelperName = true;
    PrivateBus bus(options);
    int out = -1;
    const pid_t impostor = bus.startImpostor(out);
    ASSERT_GT(impostor, 0);
    char line[16] = {};
    ASSERT_GT(read(out, line, sizeof(line) - 1), 0);
    close(out);
    EXPECT_EQ(std::string(line), "owned\n");

    HelperClient client(testing::endpointOn(bus));
    auto version = client.version();
    ASSERT_TRUE(std::holds_alternative<HelperError>(version));
    EXPECT_EQ(std::get<HelperError>(version).kind, HelperError::Kind::connection);
    EXPECT_NE(std::get<HelperError>(version).text.find("uid 65534"), std::string::npos)
        << std::get<HelperError>(version).text;
    auto scan = client.scan("/");
    EXPECT_TRUE(std::holds_alternative<HelperError>(scan));

    // The impostor does answer: the refusal is the client's uid check, nothing else.
    HelperEndpoint trusting = testing::endpointOn(bus);
    trusting.requiredOwnerUid.reset();
    HelperClient fooled(trusting);
    EXPECT_TRUE(std::holds_alternative<std::string>(fooled.version()));

    kill(impostor, SIGTERM);
    testing::waitForExit(impostor, 5000);
}

TEST(HelperBus, ShippedPolicyRefusesTheHelperNameToNonRoot) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to start an impostor as another user";
    PrivateBus bus;
    int out = -1;
    const pid_t impostor = bus.startImpostor(out);
    ASSERT_GT(impostor, 0);
    close(out);
    const auto status = testing::waitForExit(impostor, 10000);
    if (!status) kill(impostor, SIGKILL), testing::waitForExit(impostor, 5000);
    EXPECT_EQ(status, 3) << "the bus must refuse the name";
}

// A recorder of root's changes into journalDirectory, running on a thread of its own so that
// every look at the journal is answered at once; stopped when it goes.
class RunningRecorder {
public:
    RunningRecorder(const std::string& root, const std::string& journalDirectory) {
        quenwick::JournalRecorder::Options options;
        options.roots = {root};
        options.journalDirectory = journalDirectory;
        auto started = quenwick::JournalRecorder::start(options);
        if (auto* made = std::get_if<std::unique_ptr<quenwick::JournalRecorder>>(&started)) {
            recorder_ = std::move(*made);
            thread_ = std::jthread([this] { (void)recorder_->run(); });
        }
    }
    ~RunningRecorder() {
        if (recorder_) recorder_->stop();
    }
    bool started() const { return recorder_ != nullptr; }

private:
    std::unique_ptr<quenwick::JournalRecorder> recorder_;
    std::jthread thread_;
};

TEST(HelperBus, AdminScanStampsTheCallersJournalPositionAndSaysWhyItFailed) {
    TempDir dir;
    const std::string root = dir / "tree";
    ASSERT_TRUE(testing::makeSmallTree(root));
    PrivateBus bus;
    const std::string build = HelperIdentity::installedBuild();
    // A journal of the caller's with a position past 0 (the helper's own snapshot says 0).
    TempDir data;
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> kept =
        previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    struct Restore {
        const std::optional<std::string>& kept;
        ~Restore() {
            if (kept) {
                setenv("XDG_DATA_HOME", kept->c_str(), 1);
            } else {
                unsetenv("XDG_DATA_HOME");
            }
        }
    } restore{kept};
    const RunningRecorder recorder(root, data.path() + "/Brimvale/Journal");
    ASSERT_TRUE(recorder.started());
    const uint64_t position = quenwick::FSEventsHistory::currentEventID();
    ASSERT_GT(position, 0u);

    auto scanned = AdminScan::run(root, build, nullptr, testing::endpointOn(bus));
    ASSERT_TRUE(std::holds_alternative<quenwick::LoadedSnapshot>(scanned))
        << std::get<AdminScanError>(scanned).describe();
    const auto& loaded = std::get<quenwick::LoadedSnapshot>(scanned);
    EXPECT_EQ(loaded.meta.rootPath, root);
    EXPECT_EQ(loaded.meta.fsEventID, position);
    EXPECT_EQ(rows(*loaded.tree), rows(*quenwick::DiskScanner().scan(root)));

    const auto wrongBuild = AdminScan::run(root, "999", nullptr, testing::endpointOn(bus));
    ASSERT_TRUE(std::holds_alternative<AdminScanError>(wrongBuild));
    EXPECT_EQ(std::get<AdminScanError>(wrongBuild).kind, AdminScanError::Kind::unavailable);

    bus.setAuthorityAnswer("no");
    const auto refused = AdminScan::run(root, build, nullptr, testing::endpointOn(bus));
    ASSERT_TRUE(std::holds_alternative<AdminScanError>(refused));
    const auto& error = std::get<AdminScanError>(refused);
    EXPECT_EQ(error.kind, AdminScanError::Kind::failed);
    EXPECT_NE(error.describe().find("administrator scan of " + root + " failed: "),
              std::string::npos)
        << error.describe();
}

#ifdef BRIMVALE_CLI_PATH
struct CommandResult {
    int status = -1;
    std::string out;
};

CommandResult run(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string withoutElapsed(std::string json) {
    const auto at = json.find("\"elapsedMs\":");
    if (at == std::string::npos) return json;
    return json.erase(at, json.find(',', at) - at);
}

TEST(HelperBus, CliAdminScanReportsLikeAScanAndSavesTheSnapshot) {
    TempDir dir;
    TempDir home;
    const std::string root = dir / "tree";
    ASSERT_TRUE(quenwick::testing::makeDirs(root + "/locked/inner"));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(root + "/locked/inner/big", 300000));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(root + "/small", 1000));
    ASSERT_EQ(chmod((root + "/locked").c_str(), 0700), 0);
    PrivateBus bus;
    // The command inherits DBUS_SYSTEM_BUS_ADDRESS (the private bus) and a home of its own.
    const std::string env = "HOME=" + home.path() + " XDG_DATA_HOME=" + home.path() +
                            "/data XDG_CACHE_HOME=" + home.path() +
                            "/cache XDG_CONFIG_HOME=" + home.path() + "/config ";
    const std::string cli = env + BRIMVALE_CLI_PATH + " scan ";
    const std::string saved = home / "admin.qws";

    // A journal of the user's with a position past 0, which the saved snapshot must carry (the
    // helper's own snapshot says 0).
    const RunningRecorder recorder(root, home.path() + "/data/Brimvale/Journal");
    ASSERT_TRUE(recorder.started());
    auto journalPosition = [&] {
        const char* previous = std::getenv("XDG_DATA_HOME");
        const std::string kept = previous ? previous : "";
        setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1);
        const uint64_t position = quenwick::FSEventsHistory::currentEventID();
        if (previous) {
            setenv("XDG_DATA_HOME", kept.c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
        return position;
    };
    const uint64_t before = journalPosition();
    ASSERT_GT(before, 0u);

    const auto admin = run(cli + "--admin " + root + " --json --quiet --save " + saved);
    ASSERT_EQ(admin.status, 0) << admin.out;
    const auto direct = run(cli + root + " --json --quiet");
    ASSERT_EQ(direct.status, 0) << direct.out;
    EXPECT_EQ(withoutElapsed(admin.out), withoutElapsed(direct.out));
    EXPECT_NE(admin.out.find("\"elapsedMs\":"), std::string::npos);

    // The point of it all: a user who cannot read the folder gets the same report through the
    // helper (the shipped policy lets any user call it and lets the callbacks reach them).
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups env " + env +
                                 BRIMVALE_CLI_PATH + " scan ";
    const auto unprivileged = run(asNobody + root + " --json --quiet");
    EXPECT_NE(unprivileged.out.find("\"unreadable\":1,"), std::string::npos) << unprivileged.out;
    const auto nobodyAdmin = run(asNobody + "--admin " + root + " --json --quiet");
    ASSERT_EQ(nobodyAdmin.status, 0) << nobodyAdmin.out;
    EXPECT_EQ(withoutElapsed(nobodyAdmin.out), withoutElapsed(direct.out));

    auto loaded = quenwick::Snapshot::load(saved);
    ASSERT_TRUE(std::holds_alternative<quenwick::LoadedSnapshot>(loaded));
    const auto& snapshot = std::get<quenwick::LoadedSnapshot>(loaded);
    EXPECT_EQ(snapshot.meta.rootPath, root);
    EXPECT_GE(snapshot.meta.fsEventID, before);
    EXPECT_LE(snapshot.meta.fsEventID, journalPosition());
    EXPECT_TRUE(snapshot.tree->nodeAtPath(root + "/locked/inner/big"));

    bus.setAuthorityAnswer("no");
    const auto refused = run(cli + "--admin " + root + " --quiet 2>&1");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.out.find("Not authorized to scan as administrator."), std::string::npos)
        << refused.out;
    EXPECT_EQ(run(cli + "--admin " + root + " --workers 2 2>&1").status, 1);
}
#endif

}  // namespace
}  // namespace helperkit
