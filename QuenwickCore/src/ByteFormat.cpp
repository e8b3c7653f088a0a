#include "QuenwickCore/ByteFormat.h"

#include <array>
#include <cstdio>

namespace quenwick {

std::string formatBytes(uint64_t bytes) {
    if (bytes == 1) return "1 byte";
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    static constexpr std::array<const char*, 6> kUnits = {"kB", "MB", "GB", "TB", "PB", "EB"};
    size_t unit = 0;
    long double value = static_cast<long double>(bytes) / 1000.0L;
    // Round first so 999,950 bytes reads "1.0 MB", not "1000.0 kB".
    while (unit + 1 < kUnits.size() && value >= 999.95L) {
        value /= 1000.0L;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1Lf %s", value, kUnits[unit]);
    return text;
}

}  // namespace quenwick
