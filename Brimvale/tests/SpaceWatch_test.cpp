#include <QColor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QImage>
#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "AppTestFixture.h"
#include "HistoryFixture.h"
#include "PrivateSessionBus.h"
#include "QuenwickCore/TideHistory.h"
#include "watch/Glyph.h"
#include "watch/SpaceWatchTray.h"
#include "watch/TideWatchContent.h"
#include "watch/TideWatchView.h"

namespace brimvale::testing {
namespace {

using Content = TideWatchContent;
using quenwick::Growth;
using quenwick::TideSummary;

// The alpha of the glyph at a compass angle (degrees clockwise from 12 o'clock) on the ring's
// centre line, in a 180-pixel image.
int alphaAt(const QImage& image, double degrees) {
    const double scale = image.width() / Glyph::canvas;
    const double a = degrees * std::numbers::pi / 180;
    const double r = Glyph::radius * scale;
    const double c = image.width() / 2.0;
    return qAlpha(
        image.pixel(static_cast<int>(c + r * std::sin(a)), static_cast<int>(c - r * std::cos(a))));
}

constexpr int kTrack = 77;  // 30 % of 255

TEST(GlyphTest, EmptyDiskDrawsOnlyTheTrack) {
    const QImage image = Glyph::image(0, 180, Glyph::Panel::dark);
    for (double deg = 0; deg < 360; deg += 15)
        EXPECT_NEAR(alphaAt(image, deg), kTrack, 3) << deg;
    EXPECT_EQ(qAlpha(image.pixel(90, 90)), 0) << "the centre stays clear";
    EXPECT_EQ(qAlpha(image.pixel(2, 2)), 0);
}

TEST(GlyphTest, OverfullDiskDrawsAWholeOpaqueCircle) {
    const QImage image = Glyph::image(1.2, 180, Glyph::Panel::dark);
    for (double deg = 0; deg < 360; deg += 10)
        EXPECT_EQ(alphaAt(image, deg), 255) << deg;
    EXPECT_EQ(Glyph::endAngle(1.2), 360);
    EXPECT_EQ(Glyph::endAngle(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(GlyphTest, ArcRunsClockwiseFromTwelveToItsEndAngle) {
    for (const double fullness : {0.25, 0.75}) {
        const QImage image = Glyph::image(fullness, 180, Glyph::Panel::light);
        const double end = Glyph::endAngle(fullness);
        EXPECT_EQ(end, fullness * 360);
        EXPECT_EQ(alphaAt(image, 2), 255) << "starts at 12 o'clock";
        EXPECT_EQ(alphaAt(image, end - 20), 255) << fullness;
        // Past the round cap only the track is left.
        EXPECT_NEAR(alphaAt(image, end + 25), kTrack, 3) << fullness;
        EXPECT_NEAR(alphaAt(image, 345), kTrack, 3) << "not counter-clockwise";
    }
}

TEST(GlyphTest, PanelsGetWhiteOrBlackInk) {
    const QImage dark = Glyph::image(1, 48, Glyph::Panel::dark);
    const QImage light = Glyph::image(1, 48, Glyph::Panel::light);
    const QPoint top(24, static_cast<int>(24 - Glyph::radius * 48 / Glyph::canvas));
    EXPECT_EQ(QColor::fromRgba(dark.pixel(top)).rgb(), QColor(Qt::white).rgb());
    EXPECT_EQ(QColor::fromRgba(light.pixel(top)).rgb(), QColor(Qt::black).rgb());
}

TEST(GlyphTest, DarkInkOnlyWherePanelsFollowALightScheme) {
    EXPECT_EQ(Glyph::panelFor("KDE", false), Glyph::Panel::light);
    EXPECT_EQ(Glyph::panelFor("KDE", true), Glyph::Panel::dark);
    EXPECT_EQ(Glyph::panelFor("ubuntu:GNOME", false), Glyph::Panel::dark);
    EXPECT_EQ(Glyph::panelFor("X-Generic:LXQt", false), Glyph::Panel::light);
    EXPECT_EQ(Glyph::panelFor("", false), Glyph::Panel::dark);
    EXPECT_EQ(Glyph::panelFor("NotKDE", false), Glyph::Panel::dark);
}

TEST(GlyphTest, DescriptionTruncatesThePercentage) {
    EXPECT_EQ(Glyph::description(0.256), "Disk 25% full");
    EXPECT_EQ(Glyph::description(0.999), "Disk 99% full");
    EXPECT_EQ(Glyph::description(0), "Disk 0% full");
    EXPECT_EQ(Glyph::description(std::numeric_limits<double>::infinity()), "Disk 100% full");
    EXPECT_EQ(Glyph::description(-1), "Disk 0% full");
}

TEST(GlyphTest, IconCarriesEveryTraySizeAtTheScreensScale) {
    for (const double scale : {1.0, 1.25, 2.0}) {
        const QIcon icon = Glyph::icon(0.5, Glyph::Panel::dark, scale);
        for (const int size : Glyph::traySizes) {
            const QPixmap pixmap = icon.pixmap(QSize(size, size), scale);
            EXPECT_EQ(pixmap.width(), static_cast<int>(std::lround(size * scale)))
                << size << " at " << scale;
        }
    }
}

TEST(TideWatchContentTest, PopoverForecastThresholdsAndTones) {
    using Line = Content::Line;
    EXPECT_EQ(Content::popoverForecast(0.5),
              (Line{"At this rate it fills within a day.", Content::Tone::warning}));
    EXPECT_EQ(Content::popoverForecast(6.9),
              (Line{"At this rate it fills in about 6 days.", Content::Tone::warning}));
    EXPECT_EQ(Content::popoverForecast(7),
              (Line{"At this rate it fills in about 7 days.", Content::Tone::secondary}));
    EXPECT_EQ(Content::popoverForecast(59.9)->text, "At this rate it fills in about 59 days.");
    EXPECT_EQ(Content::popoverForecast(60), std::nullopt);
    EXPECT_EQ(Content::popoverForecast(std::nullopt), std::nullopt);
    EXPECT_EQ(Content::popoverForecast(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(Content::popoverForecast(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
}

TEST(TideWatchContentTest, HistorySubtitleGivesDaysBelowAYearElseNoTrend) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(Content::historySubtitle({}, 3, english), "History starts with your first scan.");
    TideSummary s;
    s.date = QDateTime(QDate(2026, 12, 7), QTime(12, 0)).toSecsSinceEpoch();
    EXPECT_EQ(Content::historySubtitle({s}, 60, english),
              "Recording since Dec 7, 2026. At the current rate your disk fills in about 60 days.");
    EXPECT_EQ(
        Content::historySubtitle({s}, 364.9, english),
        "Recording since Dec 7, 2026. At the current rate your disk fills in about 364 days.");
    EXPECT_EQ(Content::historySubtitle({s}, 365, english),
              "Recording since Dec 7, 2026. Usage isn't trending toward full.");
    EXPECT_EQ(Content::historySubtitle({s}, std::nullopt, english),
              "Recording since Dec 7, 2026. Usage isn't trending toward full.");
    EXPECT_EQ(Content::historySubtitle({s}, 1e300, english),
              "Recording since Dec 7, 2026. Usage isn't trending toward full.");
    EXPECT_EQ(Content::abbreviatedDate(s.date, QLocale(QLocale::German, QLocale::Germany)),
              "7. Dez. 2026");
    // A damaged file's date far outside any calendar still gives a text.
    s.date = -1e300;
    EXPECT_TRUE(Content::historySubtitle({s}, 3, english).startsWith("Recording since "));
    EXPECT_EQ(Content::milliseconds(1e300), 1e16);
}

TEST(TideWatchContentTest, FullnessOfUnknownEmptyAndOverfullVolumes) {
    EXPECT_EQ(Content::fullness(std::nullopt), 0);
    EXPECT_EQ(Content::fullness(quenwick::VolumeInfo{0, 0, 0}), 0);
    EXPECT_EQ(Content::fullness(quenwick::VolumeInfo{1000, 250, 250}), 0.75);
    EXPECT_EQ(Content::fullness(quenwick::VolumeInfo{1000, 5000, 5000}), 0);
}

TEST(TideWatchContentTest, GrowthRowsAbbreviateHomeAndNeverShowNegativeSizes) {
    const std::vector<Growth> growth{{"/home/ann/Movies", 2'000'000'000},
                                     {"/opt/big", 500'000'000},
                                     {"/home/ann/shrunk", -300'000'000},
                                     {"/", 100'000'000}};
    const auto rows = Content::growthRows(growth, 20, "/home/ann");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, "Movies");
    EXPECT_EQ(rows[0].displayPath, "~/Movies");
    EXPECT_EQ(rows[0].path, "/home/ann/Movies");
    EXPECT_EQ(rows[0].growthText, "+2.0 GB");
    EXPECT_EQ(rows[0].fraction, 1);
    EXPECT_EQ(rows[1].displayPath, "/opt/big");
    EXPECT_EQ(rows[1].fraction, 0.25);
    EXPECT_EQ(rows[2].growthText, "+0 bytes");
    EXPECT_EQ(rows[2].fraction, 0);
    EXPECT_EQ(rows[3].name, "/");
    EXPECT_EQ(Content::growthRows(growth, 2, "/home/ann").size(), 2u);
    // Nothing but shrinking folders: no bar is longer than its track.
    for (const auto& row : Content::growthRows({{"/a", -5}, {"/b", -9}}, 5, "/home/ann"))
        EXPECT_EQ(row.fraction, 0);
}

TEST(TideWatchContentTest, EmptyGrowthTextsDependOnTheHistorysLength) {
    EXPECT_EQ(Content::popoverGrowthEmpty(1),
              QString::fromUtf8("Brimvale records a little each day — check back tomorrow."));
    EXPECT_EQ(Content::popoverGrowthEmpty(2), "Nothing grew by more than 100 MB.");
    EXPECT_EQ(Content::historyGrowthEmpty(0), "Needs at least two days of history.");
    EXPECT_EQ(Content::historyGrowthEmpty(5), "Nothing grew by more than 100 MB in this window.");
}

TEST(TideWatchContentTest, SparklineTakesTheNewestThirtyAndPadsItsDomain) {
    EXPECT_EQ(Content::sparkline(linearHistory(1, 10)), std::nullopt);
    const auto history = linearHistory(40, 10);
    const auto line = Content::sparkline(history);
    ASSERT_TRUE(line);
    ASSERT_EQ(line->points.size(), 30u);
    EXPECT_EQ(line->points.front().date, history[10].date);
    EXPECT_EQ(line->points.back().date, history.back().date);
    const double lo = static_cast<double>(history[10].volumeUsed);
    const double hi = static_cast<double>(history.back().volumeUsed);
    EXPECT_DOUBLE_EQ(line->low, lo * 0.995);
    EXPECT_DOUBLE_EQ(line->high, hi * 1.005);
}

TEST(TideWatchContentTest, SparklineDomainOfEqualUsage) {
    auto tiny = linearHistory(5, 0, 0, 50);
    auto line = Content::sparkline(tiny);
    ASSERT_TRUE(line);
    EXPECT_DOUBLE_EQ(line->low, 49.75);
    EXPECT_DOUBLE_EQ(line->high, 50.75) << "lo x 0.995 + 1 beats hi x 1.005";
    line = Content::sparkline(linearHistory(5, 0, 0, 100'000'000'000));
    EXPECT_DOUBLE_EQ(line->low, 99.5e9);
    EXPECT_DOUBLE_EQ(line->high, 100.5e9);
    line = Content::sparkline(linearHistory(5, 0, 0, 0));
    EXPECT_EQ(line->low, 0);
    EXPECT_EQ(line->high, 1) << "a volume total of 0 still has a domain";
}

TEST(TideWatchContentTest, ChartTakesEverySummaryAndSpansTheCapacity) {
    EXPECT_EQ(Content::chart(linearHistory(1, 10)), std::nullopt);
    const auto chart = Content::chart(linearHistory(40, 10));
    ASSERT_TRUE(chart);
    EXPECT_EQ(chart->points.size(), 40u);
    EXPECT_EQ(chart->capacity, 500.0);
    EXPECT_EQ(chart->axisMax, 600.0) << "525 GB rounded up to a step of 100";
    EXPECT_EQ(chart->axisTicks, 7);
    EXPECT_EQ(chart->points.back().value, 490.0);

    // A day above capacity and an unknown total: the axis still holds every point, no rule.
    auto odd = linearHistory(3, 0);
    odd[1].volumeUsed = 700'000'000'000;
    odd[2].volumeTotal = 0;
    const auto oddChart = Content::chart(odd);
    EXPECT_EQ(oddChart->capacity, std::nullopt);
    EXPECT_EQ(oddChart->axisMax, 800.0);
    EXPECT_EQ(oddChart->axisTicks, 5);

    // Two summaries of one moment (a clock set back) still span some time.
    auto same = linearHistory(2, 10);
    same[0].date = same[1].date;
    const auto sameChart = Content::chart(same);
    EXPECT_GT(sameChart->lastDate, sameChart->firstDate);
}

TEST(SpaceWatchTrayTest, PopoverSitsBesideTheItemOrThePointerInsideTheScreen) {
    const QRect screen(0, 0, 1280, 800);
    const QSize size(320, 400);
    // A top panel: below the item, centred on it.
    EXPECT_EQ(SpaceWatchTray::popoverPlacement(QRect(600, 0, 24, 24), {}, size, screen),
              QPoint(451, 29));
    // A bottom panel at the right edge: above the item, pushed inside.
    EXPECT_EQ(SpaceWatchTray::popoverPlacement(QRect(1250, 776, 24, 24), {}, size, screen),
              QPoint(960, 370));
    // Where the tray does not tell: at the pointer.
    EXPECT_EQ(SpaceWatchTray::popoverPlacement({}, QPoint(100, 10), size, screen), QPoint(0, 16));
    // A screen smaller than the popover: its top left.
    EXPECT_EQ(SpaceWatchTray::popoverPlacement({}, QPoint(5, 5), size, QRect(0, 0, 200, 200)),
              QPoint(0, 0));
}

class TideWatchViewTest : public AppTest {};

TEST_F(TideWatchViewTest, FollowsTheModelsHistoryAndWindow) {
    auto model = makeModel();
    TideWatchView view;
    model->setStartupVolume(std::nullopt);
    view.setModel(model.get());
    EXPECT_FALSE(view.hasVolume());
    EXPECT_EQ(view.subtitle(), "History starts with your first scan.");
    EXPECT_FALSE(view.hasSparkline());
    EXPECT_FALSE(view.hasChart());

    model->setStartupVolume(quenwick::VolumeInfo{1000, 50, 50});
    EXPECT_TRUE(view.hasVolume());
    EXPECT_EQ(view.percent(), 95);
    EXPECT_TRUE(view.nearlyFull());

    auto history = grownHistory(8);
    model->setHistory(history);
    EXPECT_EQ(view.popoverGrowth().size(), 5);
    EXPECT_EQ(view.historyGrowth().size(), 8);
    EXPECT_EQ(view.chartPointCount(), 2);
    EXPECT_EQ(view.chartModel()->rowCount(), 2);
    EXPECT_EQ(view.chartModel()->index(1, 0).data().toDouble(), history[1].date * 1000);

    // The last day only: the newest summary has nothing a day before it but the older one.
    history.push_back(history.back());
    history.back().date += 86'400;
    model->setHistory(history);
    view.setWindow(1);
    EXPECT_EQ(view.historyGrowth().size(), 0);
    EXPECT_EQ(view.historyGrowthEmpty(), "Nothing grew by more than 100 MB in this window.");
    view.setWindow(7);
    EXPECT_EQ(view.historyGrowth().size(), 8);
}

}  // namespace
}  // namespace brimvale::testing
