#include "lifecycle/TourSteps.h"

#include <array>

namespace brimvale {

namespace {

using Target = TourStep::Target;

const std::array<TourStep, TourStep::count>& steps() {
    static const std::array<TourStep, TourStep::count> all{{
        {"Welcome to Brimvale",
         "A quick look around: where your space went, how to clear it safely, and how Brimvale "
         "keeps watch. About a minute.",
         "circle.dashed", Target::none, AppSection::explorer},
        {"Your disk, as a ring",
         "Each slice is a folder, sized by the space it really takes. The arc in the middle "
         "fills as the disk does. Click a slice to go in, and the middle to come back up.",
         "circle.circle", Target::ring, AppSection::explorer},
        {"The biggest things here",
         "Click a folder to open it. Tick the box beside anything you want gone. It goes to the "
         "Cleanup List, not straight to the Trash.",
         "checkmark.square", Target::list, AppSection::explorer},
        // File managers here call it Restore.
        {"Cleanup List",
         "Everything you tick waits here. Nothing moves until you review it. Then it goes to the "
         "Trash, where Restore works, or, if you choose Delete Immediately and confirm, it's "
         "deleted for good at once.",
         "tray.and.arrow.down", Target::lowTide, AppSection::explorer},
        {"Suggestions",
         "Finds what's safe to clear: caches, build leftovers, old installers, forgotten "
         "downloads. Each item says what it is and whether it comes back. Safe ones start "
         "ticked.",
         "sparkles", Target::content, AppSection::shoreline},
        {"History",
         "Brimvale notes your disk a little each day, so you can see what grew this week and "
         "roughly when the disk will be full.",
         "chart.line.uptrend.xyaxis", Target::content, AppSection::history},
        // Where the tray sits differs between desktops, so the body does not say.
        {"Space Watch, in your system tray",
         "The small ring in your system tray fills as your disk does. Click it for free space "
         "and what grew this week. Alerts and the system tray ring can be changed in Settings.",
         "menubar.rectangle", Target::none, AppSection::explorer},
    }};
    return all;
}

QString targetName(Target target) {
    switch (target) {
        case Target::ring:
            return "ring";
        case Target::list:
            return "list";
        case Target::lowTide:
            return "lowTide";
        case Target::content:
            return "content";
        case Target::none:
            break;
    }
    return {};
}

}  // namespace

std::optional<TourStep> TourStep::at(int index) {
    if (index < 0 || index >= count) return std::nullopt;
    return steps()[static_cast<size_t>(index)];
}

QVariantMap TourStep::card(int index) {
    const auto step = at(index);
    if (!step) return {};
    const bool last = index == count - 1;
    return {
        {"title", step->title},
        {"body", step->body},
        {"symbol", step->symbol},
        {"target", targetName(step->target)},
        {"progress", "Step " + QString::number(index + 1) + " of " + QString::number(count)},
        {"primary", index == 0 ? "Show Me"
                    : last     ? "Done"
                               : "Next"},
        {"canSkip", !last},
        {"canGoBack", index > 0},
    };
}

}  // namespace brimvale
