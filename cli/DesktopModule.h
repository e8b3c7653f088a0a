#pragma once

#include <functional>
#include <string_view>

// The verbs that need Qt, the system bus or libcrypto (alerts, suggest, scan --admin) live in a
// module, brimvale-cli-desktop.so beside the program, loaded only when one of them runs or when
// help lists every verb: the other verbs start without loading those libraries at all, which is
// most of the cost of starting (scripts call them thousands of times). Loading runs the module's
// verb registrations into this program's CommandRegistry and fills in desktopHooks(). Main
// thread only.
namespace brimvale::cli {

struct ScanArgs;

struct DesktopHooks {
    std::function<int(const ScanArgs&)> adminScan;
};

// The hooks the module fills in when it loads.
[[nodiscard]] DesktopHooks& desktopHooks();

// Loads the module once. kExitOk, or a failure reported in one line that names `needer`, what
// wanted it.
[[nodiscard]] int loadDesktopModule(std::string_view needer);

// Loads the module once without reporting a failure; true when it is loaded.
bool tryLoadDesktopModule();

}  // namespace brimvale::cli
