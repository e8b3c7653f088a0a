#include "RingKit/RingLabel.h"

namespace ringkit {

std::string ringLabel(const quenwick::FileTree& tree, const RingSegment::Kind& kind,
                      std::string_view rootTitle) {
    using Case = RingSegment::Kind::Case;
    switch (kind.which) {
        case Case::node:
            if (kind.index == quenwick::FileTree::root) return std::string(rootTitle);
            return kind.index < tree.count() ? tree.name(kind.index) : std::string();
        case Case::smaller:
            return formatCount(kind.count) + " smaller items";
        case Case::hidden:
            return "Hidden & system space";
        case Case::purgeable:
            return "Purgeable (the system frees this itself)";
    }
    return {};
}

std::string formatCount(int64_t count) {
    // Through the unsigned magnitude, so the most negative value does not overflow.
    uint64_t magnitude = count < 0 ? 0 - static_cast<uint64_t>(count) : count;
    std::string digits;
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            digits.insert(digits.begin(), ',');
            inGroup = 0;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
        ++inGroup;
    } while (magnitude > 0);
    return count < 0 ? "-" + digits : digits;
}

}  // namespace ringkit
