#pragma once

#include <string_view>

// How sure a suggestion is that removing its item is harmless, ordered by the raw value: `safe`
// comes back by itself and starts ticked, `review` is likely fine but worth a look, `caution` is
// the user's own data. A plain value.
namespace shoreline {

enum class Safety : int { safe = 0, review = 1, caution = 2 };

// "safe", "review" or "caution": the word the command line and JSON use.
[[nodiscard]] std::string_view safetyName(Safety safety);

}  // namespace shoreline
