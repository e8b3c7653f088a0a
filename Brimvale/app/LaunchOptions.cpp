#include "app/LaunchOptions.h"

namespace brimvale {

LaunchOptions LaunchOptions::parse(const std::vector<std::string>& arguments) {
    LaunchOptions options;
    // arguments[0] is the program; "--" ends what the app looks at.
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--") break;
        if (a == "--version" || a == "-v") {
            options.action = Action::printVersion;
            return options;
        }
        if (a == "--help" || a == "-h") {
            options.action = Action::printHelp;
            return options;
        }
        if (a == "-BrimvaleDemo" || a == "--demo") options.demo = true;
        if (a == "--autostart") options.autostart = true;
        if (a == "--quit-when-ready") options.quitWhenReady = true;
        if (a == "--target") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                options.error = "--target needs a folder";
                return options;
            }
            options.target = arguments[++i];
        }
    }
    if (!options.target.empty() && !options.quitWhenReady)
        options.error = "--target goes with --quit-when-ready";
    return options;
}

std::string LaunchOptions::versionText() {
    return std::string("brimvale ") + BRIMVALE_VERSION + "\n";
}

std::string LaunchOptions::helpText() {
    return "Usage: brimvale [options]\n"
           "Shows where the space on your disks went and helps you get it back safely.\n"
           "\n"
           "Options:\n"
           "  -h, --help      Show this help and exit\n"
           "  -v, --version   Show the version and exit\n"
           "  --demo, -BrimvaleDemo\n"
           "                  Show a fictional computer instead of this one (nothing on\n"
           "                  this computer is read, changed or removed)\n"
           "\n"
           "Qt's own options (-platform, -style, ...) are accepted as well.\n";
}

}  // namespace brimvale
