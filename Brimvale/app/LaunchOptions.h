#pragma once

#include <string>
#include <vector>

// What the command line asks of the app, read before any display is opened, so that --version and
// --help answer on a machine without one. Arguments the app does not know are left for Qt (which
// takes -platform, -style and the like). A plain value.
namespace brimvale {

struct LaunchOptions {
    enum class Action { run, printVersion, printHelp };

    Action action = Action::run;
    bool demo = false;  // --demo, -BrimvaleDemo: the fictional machine's data instead of real scans
    // --autostart: started by the desktop's login autostart entry.
    bool autostart = false;
    // --quit-when-ready [--target PATH]: runs the start-up without a window, prints how it went
    // as one JSON line and quits (for measuring and scripts).
    bool quitWhenReady = false;
    std::string target;  // a folder to load instead of the usual target; empty for that one
    std::string error;   // set when the arguments make no sense; the app then exits with it

    [[nodiscard]] static LaunchOptions parse(const std::vector<std::string>& arguments);

    // The texts --version and --help print.
    [[nodiscard]] static std::string versionText();
    [[nodiscard]] static std::string helpText();
};

}  // namespace brimvale
