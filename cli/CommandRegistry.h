#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace brimvale::cli {

// Exit statuses shared by every verb: 0 done, 1 wrong usage, 2 the work failed, 3 (scan only)
// finished, but some items could not be read.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitIncomplete = 3;

// A verb adds its subcommand to the app and returns the function that runs it once parsed.
// The function returns the process's exit status.
using CommandSetup = std::function<std::function<int()>(CLI::App& app)>;

// Verbs register themselves from their own translation unit through a static Registration,
// so adding a verb never touches another verb's file. Not thread-safe; used before main().
class CommandRegistry {
public:
    static std::vector<CommandSetup>& all() {
        static std::vector<CommandSetup> setups;
        return setups;
    }

    struct Registration {
        explicit Registration(CommandSetup setup) { all().push_back(std::move(setup)); }
    };
};

}  // namespace brimvale::cli
