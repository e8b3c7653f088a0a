// The asynchronous helper session against the real helper on a private bus (support/PrivateBus.h),
// driven from this test's main-thread event loop as a window would drive it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "HelperKit/HelperIdentity.h"
#include "HelperKit/HelperSession.h"
#include "PrivateBus.h"
#include "QtTestLoop.h"
#include "QuenwickCore/Snapshot.h"
#include "TestSupport.h"

namespace helperkit {
namespace {

using namespace std::chrono_literals;
using quenwick::testing::TempDir;
using quenwick::testing::turnLoopUntil;
using testing::errorText;
using testing::PrivateBus;
using ScanResult = std::variant<std::vector<uint8_t>, HelperError>;

TEST(HelperSession, ScanAnswersInTheCallersLoopWhichKeepsTurningMeanwhile) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    // The authority takes a second: the loop must keep turning all that time.
    bus.setAuthorityAnswer("yes 1");
    HelperSession session(testing::endpointOn(bus));

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
    const auto turns = turnLoopUntil([&] { return handshake && result; }, 20s);

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
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    HelperSession session(testing::endpointOn(bus));

    // Cancelled before the helper was even found: it never reaches the helper.
    std::optional<ScanResult> early;
    session.scan(dir.path(), nullptr, [&](ScanResult r) { early = std::move(r); });
    session.cancel();
    turnLoopUntil([&] { return early.has_value(); }, 10s);
    ASSERT_TRUE(early);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*early)) << errorText(*early);
    EXPECT_EQ(std::get<HelperError>(*early), HelperError::helper("Cancelled"));
    EXPECT_TRUE(bus.authorityCalls().empty());

    // Cancelled while the helper waits for the authority.
    std::optional<ScanResult> underway;
    session.scan(dir.path(), nullptr, [&](ScanResult r) { underway = std::move(r); });
    turnLoopUntil([&] { return !bus.authorityCalls().empty(); }, 10s);
    ASSERT_FALSE(bus.authorityCalls().empty());
    session.cancel();
    turnLoopUntil([&] { return underway.has_value(); }, 10s);
    ASSERT_TRUE(underway);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*underway)) << errorText(*underway);
    EXPECT_EQ(std::get<HelperError>(*underway), HelperError::helper("Cancelled"));

    // The cancel belonged to those scans only.
    bus.setAuthorityAnswer("yes");
    std::optional<ScanResult> again;
    session.scan(dir.path(), nullptr, [&](ScanResult r) { again = std::move(r); });
    turnLoopUntil([&] { return again.has_value(); }, 10s);
    ASSERT_TRUE(again);
    EXPECT_TRUE(std::holds_alternative<std::vector<uint8_t>>(*again)) << errorText(*again);
}

TEST(HelperSession, HelperAnsweringAfterTheCallerGaveUpReachesNobody) {
    TempDir dir;
    ASSERT_TRUE(testing::makeSmallTree(dir.path()));
    PrivateBus bus;
    bus.setAuthorityAnswer("yes 1");
    int callbacks = 0;
    {
        HelperSession leaving(testing::endpointOn(bus));
        leaving.scan(
            dir.path(), [&](int64_t, int64_t) { ++callbacks; }, [&](ScanResult) { ++callbacks; });
        turnLoopUntil([&] { return !bus.authorityCalls().empty(); }, 10s);
        ASSERT_FALSE(bus.authorityCalls().empty());
    }
    // The authority answers and the helper scans for a caller that is gone.
    turnLoopUntil([] { return false; }, 1500ms);
    EXPECT_EQ(callbacks, 0);

    bus.setAuthorityAnswer("yes");
    HelperSession staying(testing::endpointOn(bus));
    std::optional<ScanResult> served;
    staying.scan(dir.path(), nullptr, [&](ScanResult r) { served = std::move(r); });
    turnLoopUntil([&] { return served.has_value(); }, 10s);
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
    turnLoopUntil([&] { return version.has_value(); }, 10s);
    ASSERT_TRUE(version);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*version));
    EXPECT_EQ(std::get<HelperError>(*version).kind, HelperError::Kind::connection);

    PrivateBus bus;
    bus.setAuthorityAnswer("yes 5");
    HelperSession closing(testing::endpointOn(bus));
    std::optional<ScanResult> result;
    closing.scan(dir.path(), nullptr, [&](ScanResult r) { result = std::move(r); });
    turnLoopUntil([&] { return !bus.authorityCalls().empty(); }, 10s);
    closing.close();
    ASSERT_TRUE(result);
    ASSERT_TRUE(std::holds_alternative<HelperError>(*result));
    EXPECT_EQ(std::get<HelperError>(*result).kind, HelperError::Kind::connection);
    EXPECT_TRUE(closing.uniqueName().empty());
}

}  // namespace
}  // namespace helperkit
