#pragma once

#include <string>

// Runs brimvale-cli as a shell runs it, for tests of what a user sees.
namespace brimvale::cli::testing {

struct CliRun {
    int status = -1;  // the exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs a command line through /bin/sh, standard input empty.
[[nodiscard]] CliRun runShell(const std::string& command);

// Runs `brimvale-cli <arguments>` through /bin/sh (arguments are shell text, quote them), with
// `prefix` put before the program (an environment assignment, setpriv, ...).
[[nodiscard]] CliRun runCli(const std::string& arguments, const std::string& prefix = {});

// The argument quoted for /bin/sh.
[[nodiscard]] std::string quoted(const std::string& argument);

}  // namespace brimvale::cli::testing
