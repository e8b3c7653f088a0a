// Mistakes on the command line get one line in words, and every program tells its version.
#include <gtest/gtest.h>

#include <string>

#include "CliRun.h"
#include "QuenwickCore/Version.h"
#include "TestSupport.h"

namespace brimvale::cli {
namespace {

using testing::runCli;

TEST(CliUsage, MistakesGetOneLineInWordsAndAPointerToHelp) {
    const std::pair<std::string, std::string> cases[] = {
        {"scan --top abc /tmp", "brimvale-cli: --top abc: not a whole number\n"},
        {"scan -n 99999999999999999999999 /tmp", "brimvale-cli: --top 99999999999999999999999: "},
        {"scan -j 0 /tmp", "brimvale-cli: --workers 0: must be at least 1\n"},
        {"scna /tmp", "brimvale-cli: \"scna\" is not a verb; did you mean \"scan\"?\n"},
        {"histroy", "did you mean \"history\"?\n"},
        {"frobnicate", "brimvale-cli: \"frobnicate\" is not a verb\n"},
        {"", "brimvale-cli: a verb is required"},
        {"scan", "PATH is required\n"},
    };
    for (const auto& [arguments, start] : cases) {
        const auto run = runCli(arguments);
        EXPECT_EQ(run.status, 1) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_NE(run.err.find(start), std::string::npos) << arguments << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
        EXPECT_TRUE(run.err.ends_with("\nRun with --help for more information.\n")) << run.err;
    }
}

TEST(CliUsage, EveryProgramPrintsItsVersion) {
    const std::string version = quenwick::productVersion();
    EXPECT_FALSE(version.empty());
    const auto cli = runCli("--version");
    EXPECT_EQ(cli.status, 0);
    EXPECT_EQ(cli.out, "brimvale-cli " + version + "\n");
    EXPECT_EQ(runCli("-V").out, cli.out);
    const std::pair<const char*, const char*> programs[] = {
        {BRIMVALE_HELPER_PATH, "brimvale-helper"}, {BRIMVALE_PATH, "brimvale"}};
    for (const auto& [path, name] : programs) {
        if (std::string(path).empty()) continue;
        const auto run = testing::runShell(testing::quoted(path) + " --version");
        EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
                  std::string(name) + " " + version + "\n")
            << run.err;
    }
}

}  // namespace
}  // namespace brimvale::cli
