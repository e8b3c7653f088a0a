#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "QuenwickCore/TideSummary.h"

// Histories for the Space Watch suites: daily summaries whose used space follows a line, so that
// the fill estimate comes out at an exact number of days.
namespace brimvale::testing {

// `count` summaries one day apart, the newest now (in whole seconds); used space rises by
// `slope` bytes a day and ends `daysLeft` × slope below the total (a forecast of daysLeft days
// when count ≥ 3 and slope > 0).
inline std::vector<quenwick::TideSummary> linearHistory(size_t count, double daysLeft,
                                                        uint64_t slope = 1'000'000'000,
                                                        uint64_t total = 500'000'000'000) {
    const double newest = std::floor(quenwick::TideSummary::now());
    const auto lastUsed = total - static_cast<uint64_t>(daysLeft * static_cast<double>(slope));
    std::vector<quenwick::TideSummary> history;
    for (size_t i = 0; i < count; ++i) {
        quenwick::TideSummary s;
        const size_t back = count - 1 - i;
        s.date = newest - static_cast<double>(back) * 86'400;
        s.volumeTotal = total;
        s.volumeUsed = lastUsed - back * slope;
        history.push_back(s);
    }
    return history;
}

// Two summaries a day apart in which the folders /home/u/f1 ... /home/u/fN grew by 1 GB, 2 GB,
// ... N GB.
inline std::vector<quenwick::TideSummary> grownHistory(int folders) {
    auto history = linearHistory(2, 200, 0);
    for (int i = 1; i <= folders; ++i) {
        const std::string path = "/home/u/f" + std::to_string(i);
        history[0].folders[path] = 5'000'000'000;
        history[1].folders[path] = 5'000'000'000 + static_cast<uint64_t>(i) * 1'000'000'000;
    }
    return history;
}

}  // namespace brimvale::testing
