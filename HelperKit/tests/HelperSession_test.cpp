// The asynchronous helper session against the real helper on a private bus (support/PrivateBus.h),
// driven from this test's main-thread event loop as a window would drive it.
#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>

#include <chrono>
#include <thread>

#include "HelperKit/HelperIdentity.h"
#include "HelperKit/HelperSession.h"
#include "PrivateBus.h"
#include "QuenwickCore/Snapshot.h"
#include "TestSupport.h"

namespace helperkit {
namespace {

using namespace std::chrono_literals;
using quenwick::testing::TempDir;
using testing::PrivateBus;
using ScanResult = std::variant<std::vector<uint8_t>, HelperError>;

HelperEndpoint on(const PrivateBus& bus) {
    HelperEndpoint endpoint;
    endpoint.busAddress = bus.address();
    return endpoint;
}

void makeSmallTree(const std::string& root) {
    ASSERT_TRUE(quenwick::testing::makeDirs(root + "/sub"));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(root + "/one", 5000));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(root + "/sub/two", 9000));
}

// Turns this thread's event loop until done() or the timeout, with a 10 ms heartbeat timer.
// Returns the beats seen and the longest gap between two of them: a loop that was blocked
// shows a long gap.
struct Turns {
    int beats = 0;
    std::chrono::milliseconds longestGap{0};
};
Turns turnUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    Turns turns;
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        ++turns.beats;
        turns.longestGap =
            std::max(turns.longestGap, std::chrono::milliseconds(sinceBeat.restart()));
    });
    heartbeat.start(10);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return turns;
}

std::string errorText(const ScanResult& result) {
    if (auto* error = std::get_if<HelperError>(&result)) return error->describe();
    return "(" + std::to_string(std::get<std::vector<uint8_t>>(result).size()) + " bytes)";
}

TEST(HelperSession, ScanAnswersInTheCallersLoopWhichKeepsTurningMeanwhile) {
    TempDir dir;
    makeSmallTree(dir.path());
    PrivateBus bus;
    // The authority takes a second: the loop must keep turning all that time.
    bus.setAuthorityAnswer("yes 1");
    HelperSession session(on(bus));

    std::optional<std::optional<HelperError>> handshake;
    session.handshake(HelperIdentity::installedBuild(), [&](auto error) { handshake = error; });
    EXPECT_FALSE(handshake) << "never answered from inside the call";

    std::optional<ScanResult> result;
    const auto callerThread = std::this_thread::get_id();
    // The helper reports progress every 100 ms, which a tree this small may not last.
    bool callbacksOnCaller = true;
    session.scan(
        dir.path(),
        [&](int64_t, int64_t) {
            callbacksOnCaller = callbacksOnCaller && std::this_thread::get_id() == callerThread;
        },
        [&](ScanResult r) {
            callbacksOnCaller = callbacksOnCaller && std::this_thread::get_id() == callerThread;
            result = std::move(r);
        });
    const auto turns = turnUntil([&] { return handshake && result; }, 20s);

    ASSERT_TRUE(handshake);
    EXPECT_EQ(*handshake, std::nullopt);
    ASSERT_TRUE(result);
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(*result)) << errorText(*result);
    auto decoded = quenwick::Snapshot::decode(std::get<std::vector<uint8_t>>(*result));
    ASSERT_TRUE(std::holds_alternative<quenwick::LoadedSnapshot>(decoded));
    EXPECT_TRUE(std::get<quenwick::LoadedSnapshot>(decoded).tree->nodeAtPath(dir / "sub/two"));
    EXPECT_TRUE(callbacksOnCaller);
    EXPECT_GE(turns.beats, 50) << "the loop turned while the authority thought";
    EXPECT_LT(turns.longestGap, 500ms) << "the loop was blocked";
    EXPECT_FALSE(session.uniqueName().empty());
}

TEST(HelperSession, CancelEndsAScanWithTheHelperAndOneStillFindingIt) {
    TempDir dir;
    makeSmallTree(dir.path());
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    HelperSession session(on(bus));

    // Cancelled before the helper was even found: it never reaches the helper.
    std::optional<ScanResult> early;
    session.scan(dir.path(), nullptr, [&](ScanResult r) { early = std::move(r); });
    session.cancel();
    turnUntil([&] { return early.has_value(); }, 10s);
    ASSERT_TRUE(early);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*early)) << errorText(*early);
    EXPECT_EQ(std::get<HelperError>(*early), HelperError::helper("Cancelled"));
    EXPECT_TRUE(bus.authorityCalls().empty());

    // Cancelled while the helper waits for the authority.
    std::optional<ScanResult> underway;
    session.scan(dir.path(), nullptr, [&](ScanResult r) { underway = std::move(r); });
    turnUntil([&] { return !bus.authorityCalls().empty(); }, 10s);
    ASSERT_FALSE(bus.authorityCalls().empty());
    session.cancel();
    turnUntil([&] { return underway.has_value(); }, 10s);
    ASSERT_TRUE(underway);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*underway)) << errorText(*underway);
    EXPECT_EQ(std::get<HelperError>(*underway), HelperError::helper("Cancelled"));

    // The cancel belonged to those scans only.
    bus.setAuthorityAnswer("yes");
    std::optional<ScanResult> again;
    session.scan(dir.path(), nullptr, [&](ScanResult r) { again = std::move(r); });
    turnUntil([&] { return again.has_value(); }, 10s);
    ASSERT_TRUE(again);
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(*again)) << errorText(*again);
}

TEST(HelperSession, HelperAnsweringAfterTheCallerGaveUpReachesNobody) {
    TempDir dir;
    makeSmallTree(dir.path());
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    int callbacks = 0;
    {
        HelperSession leaving(on(bus));
        leaving.scan(
            dir.path(), [&](int64_t, int64_t) { ++callbacks; }, [&](ScanResult) { ++callbacks; });
        turnUntil([&] { return !bus.authorityCalls().empty(); }, 10s);
        ASSERT_FALSE(bus.authorityCalls().empty());
    }
    // The authority answers and the helper scans for a caller that is gone.
    turnUntil([] { return false; }, 1500ms);
    EXPECT_EQ(callbacks, 0);

    bus.setAuthorityAnswer("yes");
    HelperSession staying(on(bus));
    std::optional<ScanResult> served;
    staying.scan(dir.path(), nullptr, [&](ScanResult r) { served = std::move(r); });
    turnUntil([&] { return served.has_value(); }, 10s);
    ASSERT_TRUE(served);
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(*served)) << errorText(*served);
}

TEST(HelperSession, UnreachableBusAndClosedSessionEndEveryRequestWithAConnectionError) {
    TempDir dir;
    HelperEndpoint nowhere;
    nowhere.busAddress = "unix:path=" + dir / "no-such-bus";
    HelperSession lost(nowhere);
    std::optional<std::variant<std::string, HelperError>> version;
    lost.version([&](auto answer) { version = std::move(answer); });
    turnUntil([&] { return version.has_value(); }, 10s);
    ASSERT_TRUE(version);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*version));
    EXPECT_EQ(std::get<HelperError>(*version).kind, HelperError::Kind::connection);

    PrivateBus bus;
    bus.setAuthorityAnswer("yes 5");
    HelperSession closing(on(bus));
    std::optional<ScanResult> result;
    closing.scan(dir.path(), nullptr, [&](ScanResult r) { result = std::move(r); });
    turnUntil([&] { return !bus.authorityCalls().empty(); }, 10s);
    closing.close();
    ASSERT_TRUE(result);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*result));
    EXPECT_EQ(std::get<HelperError>(*result).kind, HelperError::Kind::connection);
    EXPECT_TRUE(closing.uniqueName().empty());
}

}  // namespace
}  // namespace helperkit
