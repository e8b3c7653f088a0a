#include "QuenwickCore/TideHistory.h"
#include "QuenwickCore/PathRules.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/BoundedJson.h"
#include "QuenwickCore/UserFolders.h"

namespace quenwick {
namespace {

constexpr double kDay = 86400;
// Daily files hold a few thousand folders at most; anything far bigger is not one of ours, and
// reading it would cost seconds and hundreds of megabytes.
constexpr size_t kMaxFileBytes = 16 << 20;
constexpr int64_t kRecentGrowthMinDelta = 100'000'000;

struct Entry {
    TideSummary summary;
    std::string file;
};

// Summaries as read, each with the file it came from, oldest first.
std::vector<Entry> loadEntries(const std::string& directory, double now) {
    std::vector<Entry> entries;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return entries;
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, &closedir);
    while (const dirent* item = readdir(dir)) {
        const std::string_view name = item->d_name;
        // "x.json" has the extension "json"; ".json" alone is a hidden name without one.
        if (name.size() <= 5 || !name.ends_with(".json")) continue;
        const auto text = boundedJson::readFileAt(dirfd(dir), item->d_name, kMaxFileBytes);
        const auto* contents = std::get_if<std::string>(&text);
        if (contents == nullptr) continue;
        auto summary = TideSummary::fromJson(*contents);
        // A summary dated after now was written while the clock ran ahead; taking it in would
        // make it "the latest" for as long as the clock needs to catch up.
        if (!summary || summary->date > now) continue;
        entries.push_back({std::move(*summary), std::string(name)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.summary.date < b.summary.date;
    });
    return entries;
}

std::optional<std::tm> localCalendar(double date) {
    // Far outside any calendar we print; also keeps the conversion to time_t defined.
    if (!(date > -1e14 && date < 1e14)) return std::nullopt;
    // Re-read the zone each time: the machine may have travelled since the last call.
    tzset();
    const auto seconds = static_cast<time_t>(std::floor(date));
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    return local;
}

bool isDailyFileName(std::string_view name) {
    if (name.size() != 15 || !name.ends_with(".json")) return false;
    for (size_t i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash != (name[i] == '-')) return false;
        if (!dash && (name[i] < '0' || name[i] > '9')) return false;
    }
    return true;
}

int64_t saturatingDelta(uint64_t to, uint64_t from) {
    if (to >= from) {
        const uint64_t grew = to - from;
        return grew > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(grew);
    }
    const uint64_t shrank = from - to;
    return shrank > static_cast<uint64_t>(INT64_MAX) ? INT64_MIN : -static_cast<int64_t>(shrank);
}

using PathRules::parentOf;

}  // namespace

TideHistory::TideHistory(std::string directory) : directory_(std::move(directory)) {}

TideHistory TideHistory::standard() {
    return TideHistory(userFolders::dataHome() + "/Brimvale/History");
}

std::optional<std::string> TideHistory::fileName(double date) {
    const auto local = localCalendar(date);
    if (!local) return std::nullopt;
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.json", local->tm_year + 1900,
                  local->tm_mon + 1, local->tm_mday);
    return name;
}

std::error_code TideHistory::save(const TideSummary& summary) const {
    const auto name = fileName(summary.date);
    if (!name) return std::make_error_code(std::errc::invalid_argument);
    if (const auto error = createPrivateFolders(directory_)) return error;
    return writeFileAtomically(directory_ + "/" + *name, summary.toJson());
}

std::vector<TideSummary> TideHistory::load(double now) const {
    auto entries = loadEntries(directory_, now);
    std::vector<TideSummary> history;
    history.reserve(entries.size());
    for (auto& entry : entries)
        history.push_back(std::move(entry.summary));
    return history;
}

void TideHistory::prune(double now) const {
    const auto entries = loadEntries(directory_, now);
    std::set<std::pair<int, int>> weeksSeen;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const double age = (now - it->summary.date) / kDay;
        if (age < 30) continue;
        if (age <= 365) {
            const auto local = localCalendar(it->summary.date);
            if (!local) continue;
            char week[32];
            std::strftime(week, sizeof week, "%G %V", &*local);
            int isoYear = 0, isoWeek = 0;
            if (std::sscanf(week, "%d %d", &isoYear, &isoWeek) != 2) continue;
            if (weeksSeen.insert({isoYear, isoWeek}).second) continue;
        }
        // The file the summary came from, not a name computed again from its date: after a change
        // of time zone that name can be a neighbouring day's file, even the one just kept.
        // Files with other names are not ours to delete.
        if (isDailyFileName(it->file)) unlink((directory_ + "/" + it->file).c_str());
    }
}

TideHistory::Recording TideHistory::record(const FileTree& tree,
                                           const std::optional<VolumeInfo>& volume, double now,
                                           const std::string& home) const {
    Recording recording;
    if (!tree.nodeAtPath(home)) return recording;
    recording.summary = TideSummary::make(tree, TideSummary::standardRoots(home), volume, now,
                                          TideSummary::recordMinBytes, TideSummary::recordMaxDepth);
    recording.saveError = save(*recording.summary);
    prune(now);
    return recording;
}

std::vector<Growth> TideHistory::growth(const TideSummary& from, const TideSummary& to,
                                        int64_t minDelta) {
    std::unordered_map<std::string_view, int64_t> delta;
    delta.reserve(to.folders.size());
    for (const auto& [path, size] : to.folders) {
        const auto before = from.folders.find(path);
        delta[path] = saturatingDelta(size, before == from.folders.end() ? 0 : before->second);
    }
    const auto deltaOf = [&](std::string_view path) { return delta.at(path); };
    // The older summary covered a folder when it recorded the folder or one of its ancestors. A
    // folder under a root it did not record at all (roots added later) would show its whole size
    // as growth.
    // Remembered per path (views into `to`'s keys), so a deep chain costs one walk, not one each.
    std::unordered_map<std::string_view, bool> coverage;
    const auto covered = [&](std::string_view path) {
        std::vector<std::string_view> chain;
        bool answer = false;
        for (;;) {
            if (const auto known = coverage.find(path); known != coverage.end()) {
                answer = known->second;
                break;
            }
            chain.push_back(path);
            if (from.folders.count(std::string(path)) != 0) {
                answer = true;
                break;
            }
            const auto parent = parentOf(path);
            if (parent == path) break;
            path = parent;
        }
        for (const auto p : chain)
            coverage.emplace(p, answer);
        return answer;
    };
    const auto isCandidate = [&](std::string_view path) {
        const auto it = delta.find(path);
        return it != delta.end() && it->second >= minDelta && covered(path);
    };

    std::unordered_map<std::string_view, std::vector<std::string_view>> children;
    for (const auto& entry : to.folders) {
        const std::string_view path = entry.first;
        const auto parent = parentOf(path);
        // "/" is its own parent; listing it as its own child would make the descent endless.
        if (parent != path) children[parent].push_back(path);
    }
    const auto grownChildren = [&](std::string_view path) {
        std::vector<std::string_view> grown;
        const auto it = children.find(path);
        if (it == children.end()) return grown;
        for (const auto child : it->second) {
            if (isCandidate(child)) grown.push_back(child);
        }
        std::stable_sort(grown.begin(), grown.end(), [&](std::string_view a, std::string_view b) {
            return deltaOf(a) > deltaOf(b);
        });
        return grown;
    };

    // The descent, with an explicit stack: a crafted file can nest thousands of folders, too
    // deep for recursion under a small thread stack.
    struct Frame {
        std::string_view path;
        int64_t bytes;
        std::vector<std::string_view> grown;
        size_t next = 0;
        std::vector<Growth> below;
    };
    std::vector<Growth> results;
    std::vector<Frame> stack;
    for (const auto& entry : to.folders) {
        const std::string_view top = entry.first;
        if (!isCandidate(top)) continue;
        const auto parent = parentOf(top);
        if (parent != top && isCandidate(parent)) continue;

        stack.push_back({top, deltaOf(top), grownChildren(top), 0, {}});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.grown.size()) {
                const auto child = frame.grown[frame.next++];
                stack.push_back({child, deltaOf(child), grownChildren(child), 0, {}});
                continue;
            }
            std::vector<Growth> outcome;
            const double d = static_cast<double>(frame.bytes);
            if (frame.grown.empty()) {
                outcome.push_back({std::string(frame.path), frame.bytes});
            } else if (static_cast<double>(deltaOf(frame.grown.front())) >= 0.8 * d) {
                // The children explain the growth; the folder itself says nothing more.
                outcome = std::move(frame.below);
            } else {
                outcome.push_back({std::string(frame.path), frame.bytes});
                for (auto& g : frame.below) {
                    if (static_cast<double>(g.bytes) >= 0.25 * d) outcome.push_back(std::move(g));
                }
            }
            stack.pop_back();
            auto& into = stack.empty() ? results : stack.back().below;
            if (into.empty()) {
                into = std::move(outcome);
            } else {
                into.insert(into.end(), std::make_move_iterator(outcome.begin()),
                            std::make_move_iterator(outcome.end()));
            }
        }
    }

    std::stable_sort(results.begin(), results.end(),
                     [](const Growth& a, const Growth& b) { return a.bytes > b.bytes; });
    std::unordered_set<std::string> seen;
    std::vector<Growth> unique;
    for (auto& g : results) {
        if (seen.insert(g.path).second) unique.push_back(std::move(g));
    }
    return unique;
}

std::vector<Growth> TideHistory::growthOverDays(const std::vector<TideSummary>& history,
                                                int64_t days) {
    if (history.empty()) return {};
    const TideSummary& latest = history.back();
    const double target = latest.date - static_cast<double>(days) * kDay;
    const TideSummary* start = nullptr;
    for (const auto& s : history) {
        if (s.date < latest.date && s.date <= target + kDay / 2 &&
            (start == nullptr || s.date >= start->date)) {
            start = &s;
        }
    }
    if (start == nullptr) {
        for (const auto& s : history) {
            if (s.date < latest.date && (start == nullptr || s.date < start->date)) start = &s;
        }
    }
    if (start == nullptr) return {};
    return growth(*start, latest, kRecentGrowthMinDelta);
}

std::optional<double> TideHistory::forecastDaysToFull(const std::vector<TideSummary>& history,
                                                      double now) {
    std::vector<const TideSummary*> taken;
    for (const auto& s : history) {
        // A summary dated after now comes from a clock that ran ahead; it would bend the line.
        if (now - s.date <= 14 * kDay && s.date <= now && s.volumeTotal != 0) taken.push_back(&s);
    }
    if (taken.size() < 3) return std::nullopt;
    const double first = taken.front()->date;
    if (taken.back()->date - first < 2 * kDay) return std::nullopt;

    double meanX = 0, meanY = 0;
    for (const auto* s : taken) {
        meanX += (s->date - first) / kDay;
        meanY += static_cast<double>(s->volumeUsed);
    }
    meanX /= static_cast<double>(taken.size());
    meanY /= static_cast<double>(taken.size());
    double covariance = 0, variance = 0;
    for (const auto* s : taken) {
        const double dx = (s->date - first) / kDay - meanX;
        covariance += dx * (static_cast<double>(s->volumeUsed) - meanY);
        variance += dx * dx;
    }
    if (variance == 0) return std::nullopt;
    const double slope = covariance / variance;
    if (!(slope > 0)) return std::nullopt;
    const auto* last = taken.back();
    const double remaining = std::max(
        0.0, static_cast<double>(last->volumeTotal) - static_cast<double>(last->volumeUsed));
    return remaining / slope;
}

}  // namespace quenwick
