// `scan` as a shell user meets it: excludes, what could not be read, the listing and --save.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "CliRun.h"
#include "TestSupport.h"

namespace brimvale::cli {
namespace {

using quenwick::testing::makeDirs;
using quenwick::testing::TempDir;
using quenwick::testing::writeFileOfSize;
using testing::quoted;
using testing::runCli;

std::set<std::string> topNames(const nlohmann::json& report) {
    std::set<std::string> names;
    for (const auto& item : report["top"])
        names.insert(item["name"].get<std::string>());
    return names;
}

TEST(CliScan, EachExcludeTakesOneValueSoThePathMayFollowAndPatternsMatchNames) {
    TempDir dir;
    for (const char* f : {"usr/lib/a.so", "usr/lib/b", "usr/share/c.so", "usr/bin/lib/d"})
        ASSERT_TRUE(makeDirs(std::filesystem::path(dir / f).parent_path()) &&
                    writeFileOfSize(dir / f, 5000));
    const auto byPath =
        runCli("scan --exclude " + quoted(dir / "usr/lib") + " " + quoted(dir / "usr") + " --json");
    ASSERT_EQ(byPath.status, 0) << byPath.err;
    EXPECT_EQ(topNames(nlohmann::json::parse(byPath.out)), (std::set<std::string>{"share", "bin"}));

    const auto byName = runCli("scan -e '*.so' -e lib -q --json -d 3 " + quoted(dir / "usr"));
    ASSERT_EQ(byName.status, 0) << byName.err;
    const auto report = nlohmann::json::parse(byName.out);
    EXPECT_EQ(topNames(report), (std::set<std::string>{"share", "bin"}));
    EXPECT_EQ(report["files"], 0) << byName.out;

    ASSERT_TRUE(quenwick::testing::writeFile(dir / "list", "# libraries\n\n*.so\n"));
    const auto fromFile = runCli("scan --exclude-from " + quoted(dir / "list") + " -e ./gone " +
                                 quoted(dir / "usr") + " --json");
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(nlohmann::json::parse(fromFile.out)["files"], 2);
    EXPECT_NE(fromFile.err.find("warning: --exclude"), std::string::npos) << fromFile.err;
    EXPECT_NE(fromFile.err.find("/gone"), std::string::npos) << fromFile.err;

    const auto lone = runCli("scan -e 'x\\' " + quoted(dir.path()));
    EXPECT_EQ(lone.status, 2);
    EXPECT_EQ(std::count(lone.err.begin(), lone.err.end(), '\n'), 1) << lone.err;
    const auto missingList =
        runCli("scan --exclude-from " + quoted(dir / "nolist") + " " + quoted(dir.path()));
    EXPECT_EQ(missingList.status, 2);
    EXPECT_NE(missingList.err.find("nolist"), std::string::npos) << missingList.err;
}

TEST(CliScan, UnreadableItemsAreListedMarkedAndMakeTheExitStatusThree) {
    TempDir dir;
    for (int i = 0; i < 23; ++i) {
        const std::string locked = dir / ("big/locked" + std::to_string(100 + i));
        ASSERT_TRUE(makeDirs(locked));
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    }
    ASSERT_TRUE(writeFileOfSize(dir / "big/readable", 9000));
    ASSERT_TRUE(makeDirs(dir / "fine"));
    // Root reads everything; the scan runs as nobody.
    const std::string asNobody =
        geteuid() == 0 ? "setpriv --reuid 65534 --regid 65534 --clear-groups" : "";

    const auto text = runCli("scan " + quoted(dir.path()), asNobody);
    EXPECT_EQ(text.status, 3) << text.err;
    EXPECT_NE(text.out.find("23 items could not be read:\n  " + dir.path() + "/big/locked100\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("locked119\n  \u2026and 3 more\n"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("locked120"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("big/  [23 items inside could not be read]"), std::string::npos)
        << text.out;

    const auto deep = runCli("scan -d 2 " + quoted(dir.path()), asNobody);
    EXPECT_NE(deep.out.find("locked100/  [could not be read]"), std::string::npos) << deep.out;

    const auto json = runCli("scan --json " + quoted(dir.path()), asNobody);
    EXPECT_EQ(json.status, 3);
    const auto report = nlohmann::json::parse(json.out);
    EXPECT_EQ(report["unreadable"], 23);
    ASSERT_EQ(report["unreadablePaths"].size(), 23u);
    EXPECT_EQ(report["unreadablePaths"][22]["path"], dir / "big/locked122");

    const auto readable = runCli("scan --json " + quoted(dir / "fine"), asNobody);
    EXPECT_EQ(readable.status, 0);
    EXPECT_EQ(nlohmann::json::parse(readable.out)["unreadablePaths"].size(), 0u);
}

TEST(CliScan, SaveIntoAMissingFolderFailsAndCreatesNothing) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "tree"));
    const auto run = runCli("scan -q " + quoted(dir / "tree") + " --save " +
                            quoted(dir / "nowhere/deeper/x.qws"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));

    const auto saved =
        runCli("scan -q " + quoted(dir / "tree") + " --save " + quoted(dir / "x.qws"));
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "x.qws"));
}

TEST(CliScan, DepthListsNestedItemsWithTheirShareInTheChosenUnits) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "a/b"));
    ASSERT_TRUE(writeFileOfSize(dir / "a/b/big", 3 * 1024 * 1024));
    ASSERT_TRUE(writeFileOfSize(dir / "a/small", 1024 * 1024));
    struct stat big {
    }, small{};
    ASSERT_EQ(stat((dir / "a/b/big").c_str(), &big), 0);
    ASSERT_EQ(stat((dir / "a/small").c_str(), &small), 0);
    const uint64_t bigBytes = uint64_t(big.st_blocks) * 512;
    const uint64_t total = bigBytes + uint64_t(small.st_blocks) * 512;

    const auto exact = runCli("scan --bytes -d 3 " + quoted(dir.path()));
    ASSERT_EQ(exact.status, 0) << exact.err;
    EXPECT_NE(exact.out.find(std::to_string(total) + "  100.0%  a/\n"), std::string::npos)
        << exact.out;
    EXPECT_NE(exact.out.find("    big\n"), std::string::npos) << exact.out;
    EXPECT_NE(exact.out.find("  b/\n"), std::string::npos) << exact.out;

    const auto shallow = runCli("scan -d 1 " + quoted(dir.path()));
    EXPECT_EQ(shallow.out.find("b/"), std::string::npos) << shallow.out;

    const auto binary = runCli("scan --binary -d 2 " + quoted(dir.path()));
    EXPECT_NE(binary.out.find("MiB"), std::string::npos) << binary.out;

    const auto json = nlohmann::json::parse(runCli("scan --json -d 2 " + quoted(dir.path())).out);
    const auto& a = json["top"][0];
    ASSERT_EQ(a["children"].size(), 2u) << json.dump();
    EXPECT_EQ(a["children"][0]["name"], "b");
    EXPECT_DOUBLE_EQ(a["children"][0]["share"].get<double>(), double(bigBytes) / double(total));
    EXPECT_FALSE(a["children"][0].contains("children"));
}

}  // namespace
}  // namespace brimvale::cli
