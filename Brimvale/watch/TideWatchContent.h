#pragma once

#include <QLocale>
#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "QuenwickCore/Growth.h"
#include "QuenwickCore/TideSummary.h"
#include "QuenwickCore/VolumeInfo.h"

// TideWatchContent: what the tray's popover and the History section show, decided here so the
// views only lay it out: the fullness, the fill-estimate lines with their tone, the growth rows,
// the empty texts and the numbers the sparkline and the usage chart are drawn from. Every result
// is finite and non-negative whatever the history holds (a total of 0, used above capacity,
// negative growth, dates out of order). Pure functions of their arguments; any thread.
namespace brimvale {

class TideWatchContent {
public:
    TideWatchContent() = delete;

    static constexpr size_t sparklineSummaries = 30;
    static constexpr size_t popoverGrowthRows = 5;
    static constexpr size_t historyGrowthRows = 20;
    static constexpr int popoverGrowthDays = 7;

    // How a line is tinted: the secondary text colour, or the warning orange.
    enum class Tone { secondary, warning };
    struct Line {
        QString text;
        Tone tone = Tone::secondary;
        bool operator==(const Line&) const = default;
    };

    // used / total of the startup volume; 0 when it is unknown or its total is 0.
    [[nodiscard]] static double fullness(const std::optional<quenwick::VolumeInfo>& volume);
    // The whole percentage (truncated) of a fullness, within 0 ... 100.
    [[nodiscard]] static int wholePercent(double fullness);
    // Above this fullness the popover's bar turns orange.
    static constexpr double nearlyFull = 0.9;

    // The popover's estimate: nothing without one or at 60 days or more; within a day below 1;
    // else the truncated days, orange below 7.
    [[nodiscard]] static std::optional<Line> popoverForecast(std::optional<double> days);
    // The History section's subtitle: the first summary's date and where the trend leads.
    [[nodiscard]] static QString historySubtitle(const std::vector<quenwick::TideSummary>& history,
                                                 std::optional<double> days, const QLocale& locale);
    // A date in the locale's abbreviated form (month name shortened, no weekday, no time).
    [[nodiscard]] static QString abbreviatedDate(double date, const QLocale& locale);
    // Milliseconds since 1970 of a date in seconds, held within what a calendar can show (a
    // damaged file may hold any finite number).
    [[nodiscard]] static qint64 milliseconds(double date);
    // That form as a QDate format string ("MMM d, yyyy" in English).
    [[nodiscard]] static QString abbreviatedDateFormat(const QLocale& locale);

    struct GrowthRow {
        QString name;         // the folder's last path component
        QString path;         // the full path
        QString displayPath;  // with the home folder shown as "~"
        QString growthText;   // "+" and the size; a shrink shows as zero
        double fraction = 0;  // of the largest growth in the list, 0 ... 1
        bool operator==(const GrowthRow&) const = default;
    };
    // The first `limit` entries of a growth list as rows.
    [[nodiscard]] static std::vector<GrowthRow> growthRows(
        const std::vector<quenwick::Growth>& growth, size_t limit, const std::string& home);
    // What the growth lists say when they are empty, by how many summaries there are.
    [[nodiscard]] static QString popoverGrowthEmpty(size_t summaries);
    [[nodiscard]] static QString historyGrowthEmpty(size_t summaries);

    struct Point {
        double date = 0;   // seconds since 1970
        double value = 0;  // bytes (sparkline) or GB (chart)
        bool operator==(const Point&) const = default;
    };
    // The sparkline over the newest 30 summaries: nothing under 2 summaries; else the used bytes
    // and the y domain lo × 0.995 ... max(hi × 1.005, lo × 0.995 + 1).
    struct Sparkline {
        std::vector<Point> points;
        double low = 0;
        double high = 1;
    };
    [[nodiscard]] static std::optional<Sparkline> sparkline(
        const std::vector<quenwick::TideSummary>& history);

    // The usage chart over every summary, in GB: nothing under 2 summaries. capacity is the
    // newest summary's total when it is not 0; the axes span every point and the capacity, the
    // value axis in at most 6 round steps.
    struct Chart {
        std::vector<Point> points;
        std::optional<double> capacity;
        double firstDate = 0;
        double lastDate = 0;
        double axisMax = 1;
        int axisTicks = 2;  // labelled values 0, step, ... axisMax at a round step
    };
    [[nodiscard]] static std::optional<Chart> chart(
        const std::vector<quenwick::TideSummary>& history);
};

}  // namespace brimvale
