#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

#include "model/AppEnums.h"

// The guided tour's seven steps: what the card says, the symbol it shows, the part of the main
// window it points at and the section shown meanwhile, in the words this platform uses. Pure.
namespace brimvale {

struct TourStep {
    // Which part of the window the card points at; none centres it.
    enum class Target { none, ring, list, lowTide, content };

    QString title;
    QString body;
    QString symbol;
    Target target = Target::none;
    AppSection section = AppSection::explorer;

    static constexpr int count = 7;
    // Step index (0 to 6), or nothing outside that range.
    [[nodiscard]] static std::optional<TourStep> at(int index);

    // The card's texts for index: title, body, symbol, target ("", "ring", "list", "lowTide",
    // "content"), progress ("Step 1 of 7"), primary ("Show Me", "Next" or "Done"), canSkip and
    // canGoBack. Empty outside the range.
    [[nodiscard]] static QVariantMap card(int index);
};

}  // namespace brimvale
