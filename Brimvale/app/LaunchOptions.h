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
    bool demo = false;  // -BrimvaleDemo: the fictional machine's data instead of real scans

    [[nodiscard]] static LaunchOptions parse(const std::vector<std::string>& arguments);

    // The texts --version and --help print.
    [[nodiscard]] static std::string versionText();
    [[nodiscard]] static std::string helpText();
};

}  // namespace brimvale
