#pragma once

#include <cstdint>
#include <string>

// Growth: how much one folder grew between two daily summaries. A plain value.
namespace quenwick {

struct Growth {
    std::string path;   // absolute folder path, display form
    int64_t bytes = 0;  // growth in bytes (negative when it shrank)

    bool operator==(const Growth&) const = default;
};

}  // namespace quenwick
