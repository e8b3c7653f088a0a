#include "watch/TideWatchContent.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/HomePath.h"

namespace brimvale {
namespace {

constexpr double kGB = 1e9;

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

// Whole days of a finite, non-negative estimate.
long long wholeDays(double days) {
    return static_cast<long long>(std::floor(days));
}

bool usable(std::optional<double> days) {
    return days && std::isfinite(*days) && *days >= 0;
}

}  // namespace

double TideWatchContent::fullness(const std::optional<quenwick::VolumeInfo>& volume) {
    if (!volume || volume->total == 0) return 0;
    return static_cast<double>(volume->used()) / static_cast<double>(volume->total);
}

int TideWatchContent::wholePercent(double fullness) {
    if (std::isnan(fullness) || fullness <= 0) return 0;
    if (fullness >= 1) return 100;
    return static_cast<int>(fullness * 100);
}

std::optional<TideWatchContent::Line> TideWatchContent::popoverForecast(
    std::optional<double> days) {
    if (!usable(days) || *days >= 60) return std::nullopt;
    const Tone tone = *days < 7 ? Tone::warning : Tone::secondary;
    if (*days < 1) return Line{"At this rate it fills within a day.", tone};
    return Line{"At this rate it fills in about " + QString::number(wholeDays(*days)) + " days.",
                tone};
}

QString TideWatchContent::historySubtitle(const std::vector<quenwick::TideSummary>& history,
                                          std::optional<double> days, const QLocale& locale) {
    if (history.empty()) return "History starts with your first scan.";
    QString text = "Recording since " + abbreviatedDate(history.front().date, locale);
    if (usable(days) && *days < 365)
        return text + ". At the current rate your disk fills in about " +
               QString::number(wholeDays(*days)) + " days.";
    return text + ". Usage isn't trending toward full.";
}

QString TideWatchContent::abbreviatedDate(double date, const QLocale& locale) {
    const QDate day = QDateTime::fromMSecsSinceEpoch(milliseconds(date)).date();
    return locale.toString(day, abbreviatedDateFormat(locale));
}

qint64 TideWatchContent::milliseconds(double date) {
    constexpr double limit = 1e13;  // about 300,000 years either side of 1970
    if (std::isnan(date)) return 0;
    return static_cast<qint64>(std::clamp(date, -limit, limit) * 1000);
}

QString TideWatchContent::abbreviatedDateFormat(const QLocale& locale) {
    // The locale's long form without the weekday and with the month's short name.
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(QRegularExpression("d{4}[,.]?\\s*"));
    format.replace("MMMM", "MMM");
    return format.trimmed();
}

std::vector<TideWatchContent::GrowthRow> TideWatchContent::growthRows(
    const std::vector<quenwick::Growth>& growth, size_t limit, const std::string& home) {
    std::vector<GrowthRow> rows;
    const size_t count = std::min(limit, growth.size());
    int64_t largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = std::max(largest, growth[i].bytes);
    for (size_t i = 0; i < count; ++i) {
        const auto& g = growth[i];
        const auto slash = g.path.find_last_of('/');
        std::string name = slash == std::string::npos ? g.path : g.path.substr(slash + 1);
        if (name.empty()) name = g.path;
        const uint64_t bytes = g.bytes > 0 ? static_cast<uint64_t>(g.bytes) : 0;
        const double fraction =
            largest > 0
                ? std::clamp(static_cast<double>(bytes) / static_cast<double>(largest), 0.0, 1.0)
                : 0.0;
        rows.push_back({fromStd(name), fromStd(g.path),
                        fromStd(quenwick::abbreviatingHome(g.path, home)),
                        "+" + fromStd(quenwick::formatBytes(bytes)), fraction});
    }
    return rows;
}

QString TideWatchContent::popoverGrowthEmpty(size_t summaries) {
    return summaries < 2 ? QString::fromUtf8(
                               "Brimvale records a little each day — check back "
                               "tomorrow.")
                         : QString("Nothing grew by more than 100 MB.");
}

QString TideWatchContent::historyGrowthEmpty(size_t summaries) {
    return summaries < 2 ? QString("Needs at least two days of history.")
                         : QString("Nothing grew by more than 100 MB in this window.");
}

std::optional<TideWatchContent::Sparkline> TideWatchContent::sparkline(
    const std::vector<quenwick::TideSummary>& history) {
    if (history.size() < 2) return std::nullopt;
    const size_t first =
        history.size() > sparklineSummaries ? history.size() - sparklineSummaries : 0;
    Sparkline line;
    double lo = 0, hi = 0;
    for (size_t i = first; i < history.size(); ++i) {
        const double used = static_cast<double>(history[i].volumeUsed);
        lo = i == first ? used : std::min(lo, used);
        hi = i == first ? used : std::max(hi, used);
        line.points.push_back({history[i].date, used});
    }
    line.low = lo * 0.995;
    line.high = std::max(hi * 1.005, line.low + 1);
    return line;
}

std::optional<TideWatchContent::Chart> TideWatchContent::chart(
    const std::vector<quenwick::TideSummary>& history) {
    if (history.size() < 2) return std::nullopt;
    Chart chart;
    double top = 0;
    chart.firstDate = history.front().date;
    chart.lastDate = history.front().date;
    for (const auto& s : history) {
        const double gb = static_cast<double>(s.volumeUsed) / kGB;
        chart.points.push_back({s.date, gb});
        top = std::max(top, gb);
        chart.firstDate = std::min(chart.firstDate, s.date);
        chart.lastDate = std::max(chart.lastDate, s.date);
    }
    if (history.back().volumeTotal != 0) {
        chart.capacity = static_cast<double>(history.back().volumeTotal) / kGB;
        top = std::max(top, *chart.capacity);
    }
    // Two summaries of the same moment still get a day to stand in.
    if (chart.lastDate - chart.firstDate < 3600) {
        chart.firstDate -= 43'200;
        chart.lastDate += 43'200;
    }
    // Headroom above the highest of the line and the rule, up to a round step (1, 2 or 5 times a
    // power of ten) that needs at most 6 of them.
    const double raw = std::max(top * 1.05, 1.0);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw / 6)));
    double step = magnitude * 10;
    for (const double m : {1.0, 2.0, 5.0})
        if (std::ceil(raw / (m * magnitude)) <= 6) {
            step = m * magnitude;
            break;
        }
    const double steps = std::ceil(raw / step);
    chart.axisMax = steps * step;
    chart.axisTicks = static_cast<int>(steps) + 1;
    return chart;
}

}  // namespace brimvale
