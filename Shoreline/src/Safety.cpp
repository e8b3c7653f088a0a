#include "Shoreline/Safety.h"

namespace shoreline {

std::string_view safetyName(Safety safety) {
    switch (safety) {
        case Safety::safe:
            return "safe";
        case Safety::review:
            return "review";
        case Safety::caution:
            return "caution";
    }
    return "caution";
}

}  // namespace shoreline
