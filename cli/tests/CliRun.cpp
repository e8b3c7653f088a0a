#include "CliRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace brimvale::cli::testing {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

std::string quoted(const std::string& argument) {
    std::string out = "'";
    for (const char c : argument) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

CliRun runCli(const std::string& arguments, const std::string& prefix) {
    return runShell(prefix + " " + BRIMVALE_CLI_PATH + " " + arguments);
}

CliRun runShell(const std::string& commandLine) {
    char folder[] = "/tmp/cli-run-XXXXXX";
    if (mkdtemp(folder) == nullptr) return {};
    const std::string out = std::string(folder) + "/out", err = std::string(folder) + "/err";
    const std::string command = "{ " + commandLine + "\n} >" + out + " 2>" + err + " </dev/null";
    const int raw = std::system(command.c_str());
    CliRun run;
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    unlink(out.c_str());
    unlink(err.c_str());
    rmdir(folder);
    return run;
}

}  // namespace brimvale::cli::testing
