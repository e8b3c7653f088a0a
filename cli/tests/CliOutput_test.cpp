// What the command line prints for names a terminal would otherwise obey.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "CliRun.h"
#include "CliSupport.h"
#include "TestSupport.h"

namespace brimvale::cli {
namespace {

using quenwick::testing::TempDir;

TEST(TerminalText, ControlCharactersAreEscapedAndEverythingElseKept) {
    const std::pair<std::string, std::string> table[] = {
        {"esc\033[31mred", "esc\\033[31mred"},
        {"tab\tname", "tab\\tname"},
        {"line\nnext\r", "line\\nnext\\r"},
        {std::string("nul\0x", 5), "nul\\000x"},
        {"bell\a del\x7f", "bell\\007 del\\177"},
        {"csi\xc2\x9b"
         "2J",
         "csi\\302\\2332J"},
        {"caf\xc3\xa9 \xe2\x98\x95 \xc2\xa0 back\\slash",
         "caf\xc3\xa9 \xe2\x98\x95 \xc2\xa0 back\\slash"},
        {"", ""},
        {"\xc2", "\xc2"},
    };
    for (const auto& [raw, shown] : table)
        EXPECT_EQ(terminalText(raw), shown) << raw;
}

std::string run(const std::string& arguments) {
    const auto done = testing::runCli(arguments);
    return done.out + done.err;
}

TEST(TerminalText, ScanShowsHostileNamesEscapedAndJsonKeepsThemExact) {
    TempDir dir;
    const std::string hostile = "esc\033[31mred";
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / hostile));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(dir / (hostile + "/x"), 9000));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(dir / "tab\there", 5000));

    const std::string human = run("scan '" + dir.path() + "'");
    EXPECT_EQ(human.find('\033'), std::string::npos) << human;
    EXPECT_EQ(human.find('\t'), std::string::npos) << human;
    EXPECT_NE(human.find("esc\\033[31mred/"), std::string::npos) << human;
    EXPECT_NE(human.find("tab\\there"), std::string::npos) << human;

    const std::string missing = run("scan '" + dir.path() + "/gone\033]0;title\a'");
    EXPECT_EQ(missing.find('\033'), std::string::npos) << missing;
    EXPECT_NE(missing.find("gone\\033]0;title\\007"), std::string::npos) << missing;

    const auto json = nlohmann::json::parse(run("scan --json '" + dir.path() + "'"));
    std::vector<std::string> names;
    for (const auto& item : json["top"])
        names.push_back(item["name"].get<std::string>());
    EXPECT_NE(std::find(names.begin(), names.end(), hostile), names.end()) << json.dump();
}

}  // namespace
}  // namespace brimvale::cli
