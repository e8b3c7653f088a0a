#include "QuenwickCore/TideAlerts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TestSupport.h"

using quenwick::Preferences;
using quenwick::TideAlert;
using quenwick::TideAlerts;
using quenwick::TideNotification;
using quenwick::TideSummary;
using quenwick::VolumeInfo;
using quenwick::testing::TempDir;

namespace {

constexpr uint64_t GB = 1'000'000'000;
constexpr uint64_t MB = 1'000'000;
constexpr double kDay = 86400;
constexpr double kHour = 3600;
constexpr double kNow = 1796817600;

VolumeInfo roomy() {
    return {1000 * GB, 500 * GB, 500 * GB};
}

VolumeInfo withFree(uint64_t total, uint64_t free) {
    return {total, free, free};
}

// Three summaries over two days using `perDay` bytes a day, ending with `daysLeft` days of room.
std::vector<TideSummary> fillingAt(double daysLeft, uint64_t perDay = 1 * GB) {
    std::vector<TideSummary> history;
    const uint64_t lastUsed = 100 * GB;
    for (int k = 2; k >= 0; --k) {
        TideSummary s;
        s.date = kNow - k * kDay;
        s.volumeUsed = lastUsed - static_cast<uint64_t>(k) * perDay;
        s.volumeTotal = lastUsed + static_cast<uint64_t>(daysLeft * static_cast<double>(perDay));
        history.push_back(s);
    }
    return history;
}

std::vector<TideSummary> twoDays(double apart, uint64_t grownBy) {
    TideSummary before, after;
    before.date = kNow - apart;
    after.date = kNow;
    before.folders = {{"/home/ann", 50 * GB}, {"/home/ann/Movies", 10 * GB}};
    after.folders = {{"/home/ann", 50 * GB + grownBy}, {"/home/ann/Movies", 10 * GB + grownBy}};
    return {before, after};
}

TEST(TideAlertsEvaluate, LowSpaceThresholdIsATenthAboveTwoHundredGigabytes) {
    const auto eval = [](uint64_t total, uint64_t free) {
        return TideAlerts::evaluate(withFree(total, free), {}, kNow);
    };
    EXPECT_EQ(eval(256 * GB, 25 * GB), std::vector{TideAlert::lowSpace(25 * GB)});
    EXPECT_TRUE(eval(256 * GB, 26 * GB).empty());
    EXPECT_EQ(eval(128 * GB, 19'900 * MB), std::vector{TideAlert::lowSpace(19'900 * MB)});
    EXPECT_TRUE(eval(128 * GB, 20 * GB).empty());
    // 200,000,000,009 bytes still has the 20 GB floor; 10 bytes more lifts the threshold by one.
    EXPECT_TRUE(eval(200'000'000'009, 20 * GB).empty());
    EXPECT_EQ(eval(200'000'000'019, 20 * GB), std::vector{TideAlert::lowSpace(20 * GB)});
    EXPECT_EQ(eval(0, 0), std::vector{TideAlert::lowSpace(0)});
}

TEST(TideAlertsEvaluate, LowSpaceLooksAtSpaceForImportantUse) {
    const VolumeInfo volume{256 * GB, 10 * GB, 30 * GB};
    EXPECT_TRUE(TideAlerts::evaluate(volume, {}, kNow).empty());
}

TEST(TideAlertsEvaluate, FillingFastBelowSevenDaysRoundsDown) {
    EXPECT_EQ(TideAlerts::evaluate(roomy(), fillingAt(6.99), kNow),
              std::vector{TideAlert::fillingFast(6)});
    EXPECT_TRUE(TideAlerts::evaluate(roomy(), fillingAt(7.0), kNow).empty());
    EXPECT_EQ(TideAlerts::evaluate(roomy(), fillingAt(2.5), kNow),
              std::vector{TideAlert::fillingFast(2)});
    EXPECT_EQ(TideAlerts::evaluate(roomy(), fillingAt(0.4), kNow),
              std::vector{TideAlert::fillingFast(0)});
    EXPECT_TRUE(TideAlerts::evaluate(roomy(), {}, kNow).empty());
}

TEST(TideAlertsEvaluate, BigGrowthOnlyBetweenSummariesAtMostThirtySixHoursApart) {
    EXPECT_TRUE(TideAlerts::evaluate(roomy(), twoDays(37 * kHour, 60 * GB), kNow).empty());
    EXPECT_EQ(TideAlerts::evaluate(roomy(), twoDays(35 * kHour, 6 * GB), kNow),
              std::vector{TideAlert::bigGrowth("/home/ann/Movies", 6'000'000'000)});
    EXPECT_EQ(TideAlerts::evaluate(roomy(), twoDays(36 * kHour, 6 * GB), kNow).size(), 1u);
    EXPECT_TRUE(TideAlerts::evaluate(roomy(), twoDays(35 * kHour, 4'999 * MB), kNow).empty());
    EXPECT_TRUE(TideAlerts::evaluate(roomy(), {twoDays(1 * kHour, 9 * GB)[1]}, kNow).empty());
}

TEST(TideAlertsEvaluate, AllThreeComeInFixedOrder) {
    auto history = fillingAt(3.0);
    history[1].folders = {{"/srv", 1 * GB}};
    history[2].folders = {{"/srv", 9 * GB}};
    const auto alerts = TideAlerts::evaluate(withFree(100 * GB, 1 * GB), history, kNow);
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0].kind(), "lowSpace");
    EXPECT_EQ(alerts[1].kind(), "fillingFast");
    EXPECT_EQ(alerts[2], TideAlert::bigGrowth("/srv", 8'000'000'000));
}

TEST(TideAlertsText, EachAlertHasItsTitleBodyAndSection) {
    const std::string home = "/home/ann";
    EXPECT_EQ(
        TideAlerts::notification(TideAlert::lowSpace(12'300'000'000), home),
        (TideNotification{"Your disk is nearly full",
                          "Only 12.3 GB left. Suggestions can show you what's safe to remove.",
                          "lowSpace", "shoreline"}));
    EXPECT_EQ(TideAlerts::notification(TideAlert::fillingFast(2), home),
              (TideNotification{"Your disk is filling up fast",
                                "At this rate it will be full in about 2 days.", "fillingFast",
                                "history"}));
    for (int64_t days : {0, 1}) {
        EXPECT_EQ(TideAlerts::notification(TideAlert::fillingFast(days), home).body,
                  "At this rate it will be full within a day.");
    }
    EXPECT_EQ(
        TideAlerts::notification(TideAlert::bigGrowth("/home/ann/Movies", 6'000'000'000), home),
        (TideNotification{"Movies grew by 6.0 GB today", "~/Movies", "bigGrowth", "history"}));
}

TEST(TideAlertsText, HomeIsShortenedOnlyAtAWholeComponent) {
    const auto body = [](const std::string& path, const std::string& home) {
        return TideAlerts::notification(TideAlert::bigGrowth(path, 1), home).body;
    };
    EXPECT_EQ(body("/var/lib/docker", "/home/ann"), "/var/lib/docker");
    EXPECT_EQ(body("/home/annie/Movies", "/home/ann"), "/home/annie/Movies");
    EXPECT_EQ(body("/home/ann", "/home/ann/"), "~");
    EXPECT_EQ(body("/srv/x", "/"), "/srv/x");
    EXPECT_EQ(TideAlerts::notification(TideAlert::bigGrowth("/", 5), "/home/ann").title,
              "/ grew by 5 bytes today");
    EXPECT_EQ(TideAlerts::notification(TideAlert::bigGrowth("/srv/db", -7), "/home/ann").title,
              "db grew by 0 bytes today");
}

using Delivery = TideAlerts::Delivery;

class TideAlertsPosting : public ::testing::Test {
protected:
    TempDir temp;
    Preferences preferences = Preferences::atFile(temp / "Brimvale.conf");

    std::vector<TideNotification> postAt(double now, const std::vector<TideAlert>& alerts,
                                         Delivery delivery = Delivery::shown) {
        std::vector<TideNotification> shown;
        TideAlerts::post(alerts, preferences, now, "/home/ann", [&](const TideNotification& n) {
            shown.push_back(n);
            return delivery;
        });
        return shown;
    }
};

TEST_F(TideAlertsPosting, EachKindAtMostOncePerDayEvenWhenRefused) {
    const auto low = TideAlert::lowSpace(1 * GB);
    const auto fast = TideAlert::fillingFast(3);
    EXPECT_EQ(postAt(kNow, {low}, Delivery::refused).size(), 1u);
    EXPECT_TRUE(postAt(kNow + kDay - 1, {low}).empty());
    // Another kind has its own limit.
    EXPECT_EQ(postAt(kNow + 1, {low, fast}).size(), 1u);
    EXPECT_EQ(postAt(kNow + kDay, {low}).size(), 1u);
    // The limit lives in the settings file and outlasts this process's object.
    Preferences reopened = Preferences::atFile(temp / "Brimvale.conf");
    EXPECT_EQ(TideAlerts::gate(low, reopened, kNow + kDay + 60), TideAlerts::Gate::rateLimited);
    EXPECT_EQ(reopened.timestamp("lastAlert.lowSpace"), kNow + kDay);
    EXPECT_EQ(reopened.timestamp("lastAlert.fillingFast"), kNow + 1);
    std::ifstream file(temp / "Brimvale.conf");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(text.find("lastAlert.lowSpace="), std::string::npos) << text;
}

TEST_F(TideAlertsPosting, AlertNobodyAnsweredIsNotRecordedAndTriedAgain) {
    const auto low = TideAlert::lowSpace(1 * GB);
    const auto outcomes =
        TideAlerts::post({low}, preferences, kNow, "/home/ann",
                         [](const TideNotification&) { return Delivery::unanswered; });
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].delivered);
    EXPECT_FALSE(outcomes[0].answered);
    EXPECT_FALSE(preferences.timestamp("lastAlert.lowSpace"));
    EXPECT_EQ(postAt(kNow + 60, {low}).size(), 1u) << "tried again at the next evaluation";
    EXPECT_EQ(preferences.timestamp("lastAlert.lowSpace"), kNow + 60);
}

TEST_F(TideAlertsPosting, SwitchedOffKindIsNeitherPostedNorRecorded) {
    preferences.setBoolean("alertBigGrowth", false);
    const auto growth = TideAlert::bigGrowth("/home/ann/Movies", 6 * GB);
    const auto outcomes =
        TideAlerts::post({growth, TideAlert::lowSpace(1)}, preferences, kNow, "/home/ann",
                         [](const TideNotification&) { return Delivery::shown; });
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].gate, TideAlerts::Gate::disabled);
    EXPECT_FALSE(outcomes[0].delivered);
    EXPECT_EQ(outcomes[1].gate, TideAlerts::Gate::due);
    EXPECT_TRUE(outcomes[1].delivered);
    EXPECT_FALSE(preferences.timestamp("lastAlert.bigGrowth"));
    preferences.setBoolean("alertBigGrowth", true);
    EXPECT_EQ(postAt(kNow, {growth}).size(), 1u);
}

TEST_F(TideAlertsPosting, StampWrittenWhileTheClockRanAheadDoesNotSilenceForever) {
    preferences.setTimestamp("lastAlert.lowSpace", kNow + 365 * kDay);
    EXPECT_EQ(postAt(kNow, {TideAlert::lowSpace(1)}).size(), 1u);
    // A stamp just ahead (the clock stepped back a little) still counts.
    preferences.setTimestamp("lastAlert.lowSpace", kNow + kHour);
    EXPECT_TRUE(postAt(kNow, {TideAlert::lowSpace(1)}).empty());
}

TEST_F(TideAlertsPosting, DamagedSettingsReadAsDefaults) {
    ASSERT_TRUE(quenwick::testing::writeFile(
        temp / "damaged.conf",
        "[General]\nalertLowSpace=perhaps\nlastAlert.lowSpace=yesterday\n\x01\xff=\n"));
    Preferences damaged = Preferences::atFile(temp / "damaged.conf");
    EXPECT_EQ(damaged.boolean("alertLowSpace"), std::nullopt);
    EXPECT_EQ(damaged.timestamp("lastAlert.lowSpace"), std::nullopt);
    EXPECT_EQ(TideAlerts::gate(TideAlert::lowSpace(1), damaged, kNow), TideAlerts::Gate::due);
}

TEST_F(TideAlertsPosting, SettingsFileThatCannotBeWrittenReportsIt) {
    Preferences nowhere = Preferences::atFile(temp / "missing-folder/x/Brimvale.conf");
    ASSERT_TRUE(quenwick::testing::writeFile(temp / "missing-folder", "a file, not a folder"));
    nowhere.setTimestamp("lastAlert.lowSpace", kNow);
    EXPECT_FALSE(nowhere.sync());
}

}  // namespace
