#include "QuenwickCore/ByteFormat.h"

#include <array>
#include <cstdio>

namespace quenwick {

namespace {

std::string scaled(uint64_t bytes, long double base, const std::array<const char*, 6>& units) {
    if (bytes == 1) return "1 byte";
    if (bytes < base) return std::to_string(bytes) + " bytes";
    size_t unit = 0;
    long double value = static_cast<long double>(bytes) / base;
    // Round first so 999,950 bytes reads "1.0 MB", not "1000.0 kB".
    while (unit + 1 < units.size() && value >= base - 0.05L) {
        value /= base;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1Lf %s", value, units[unit]);
    return text;
}

}  // namespace

std::string formatBytes(uint64_t bytes) {
    return scaled(bytes, 1000.0L, {"kB", "MB", "GB", "TB", "PB", "EB"});
}

std::string formatBytes(uint64_t bytes, ByteUnits units) {
    switch (units) {
        case ByteUnits::binary:
            return scaled(bytes, 1024.0L, {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"});
        case ByteUnits::exact:
            return std::to_string(bytes);
        case ByteUnits::decimal:
            break;
    }
    return formatBytes(bytes);
}

}  // namespace quenwick
