#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

// TideAlert: one Space Watch alert to post: low free space, a disk filling fast, or a folder that
// grew sharply. A plain value; equality compares the case and its payload.
namespace quenwick {

struct TideAlert {
    struct LowSpace {
        uint64_t free = 0;  // bytes available for important use
        bool operator==(const LowSpace&) const = default;
    };
    struct FillingFast {
        int64_t days = 0;  // whole days until full, rounded down
        bool operator==(const FillingFast&) const = default;
    };
    struct BigGrowth {
        std::string path;  // the folder, display form
        int64_t bytes = 0;
        bool operator==(const BigGrowth&) const = default;
    };

    std::variant<LowSpace, FillingFast, BigGrowth> value;

    static TideAlert lowSpace(uint64_t free) { return {LowSpace{free}}; }
    static TideAlert fillingFast(int64_t days) { return {FillingFast{days}}; }
    static TideAlert bigGrowth(std::string path, int64_t bytes) {
        return {BigGrowth{std::move(path), bytes}};
    }

    // "lowSpace", "fillingFast" or "bigGrowth": the notification's identifier and the last part
    // of the alert's preference keys.
    std::string_view kind() const {
        static constexpr std::string_view kNames[] = {"lowSpace", "fillingFast", "bigGrowth"};
        return kNames[value.index()];
    }

    bool operator==(const TideAlert&) const = default;
};

}  // namespace quenwick
