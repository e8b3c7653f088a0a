// Exports read by the real ncdu and gdu, and their exports read by us, with the same totals.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
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

bool installed(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// What a shell command prints on standard output.
std::string output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

void makeTree(const TempDir& dir, bool hardLink) {
    ASSERT_TRUE(makeDirs(dir / "tree/a/b"));
    ASSERT_TRUE(makeDirs(dir / "tree/empty"));
    ASSERT_TRUE(writeFileOfSize(dir / "tree/a/b/big", 300000));
    ASSERT_TRUE(writeFileOfSize(dir / "tree/a/small", 5000));
    ASSERT_TRUE(writeFileOfSize(dir / "tree/odd \xff\xfe name", 20000));
    ASSERT_EQ(symlink("a/small", (dir / "tree/link").c_str()), 0);
    if (hardLink) {
        ASSERT_EQ(link((dir / "tree/a/b/big").c_str(), (dir / "tree/twin").c_str()), 0);
    }
}

nlohmann::json report(const std::string& arguments) {
    const auto run = runCli(arguments + " --json");
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
    return nlohmann::json::parse(run.out, nullptr, false);
}

TEST(CliExport, OurExportLoadsBackAsTheScanAndNcduAndGduReadTheSameTotal) {
    TempDir dir;
    makeTree(dir, true);
    const std::string exported = dir / "tree.json";
    // One worker: which of two links carries the size is then the one a reader meets first.
    const auto scan =
        report("scan -q -j 1 -d 4 " + quoted(dir / "tree") + " -o " + quoted(exported));
    const auto loaded = report("load -d 4 " + quoted(exported));
    for (const char* key : {"root", "nodes", "files", "bytes", "unreadable", "top"})
        EXPECT_EQ(loaded[key], scan[key]) << key;
    EXPECT_EQ(scan["bytes"], 300000 / 4096 * 4096 + 4096 + 8192 + 20480) << scan.dump();

    if (!installed("ncdu") || !installed("gdu")) GTEST_SKIP() << "ncdu or gdu is not installed";
    // ncdu has no batch total; what it re-exports after reading ours is what it understood.
    const std::string again = dir / "again.json";
    ASSERT_EQ(std::system(("ncdu -f " + quoted(exported) + " -o " + quoted(again)).c_str()), 0);
    const auto viaNcdu = report("load " + quoted(again));
    EXPECT_EQ(viaNcdu["bytes"], scan["bytes"]);
    EXPECT_EQ(viaNcdu["files"], scan["files"]);
    // gdu charges every folder 4096 bytes of its own when it reads an export.
    const uint64_t folders = scan["nodes"].get<uint64_t>() - scan["files"].get<uint64_t>();
    const std::string total =
        output("gdu -f " + quoted(exported) + " -n -p -s --no-prefix 2>/dev/null");
    EXPECT_EQ(std::strtoull(total.c_str(), nullptr, 10),
              scan["bytes"].get<uint64_t>() + 4096 * folders)
        << total;
}

TEST(CliExport, ExportsWrittenByNcduAndGduLoadWithOurScansTotals) {
    if (!installed("ncdu") || !installed("gdu")) GTEST_SKIP() << "ncdu or gdu is not installed";
    TempDir dir;
    makeTree(dir, true);
    const auto scan = report("scan -q " + quoted(dir / "tree"));
    ASSERT_EQ(std::system(("ncdu -o " + quoted(dir / "ncdu.json") + " " + quoted(dir / "tree") +
                           " >/dev/null 2>&1")
                              .c_str()),
              0);
    const auto fromNcdu = report("load " + quoted(dir / "ncdu.json"));
    for (const char* key : {"root", "nodes", "files", "bytes"})
        EXPECT_EQ(fromNcdu[key], scan[key]) << key;

    // gdu marks only the second link of a pair in its export, so its reader counts both: the
    // tree for it has no hard link.
    TempDir plain;
    makeTree(plain, false);
    const auto plainScan = report("scan -q " + quoted(plain / "tree"));
    ASSERT_EQ(std::system(("gdu -n -p -o " + quoted(plain / "gdu.json") + " " +
                           quoted(plain / "tree") + " >/dev/null 2>&1")
                              .c_str()),
              0);
    const auto fromGdu = report("load " + quoted(plain / "gdu.json"));
    for (const char* key : {"root", "nodes", "files", "bytes"})
        EXPECT_EQ(fromGdu[key], plainScan[key]) << key;
}

TEST(CliExport, BadExportsFailInOneLineAndLeaveNothingBehind) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "cut.json",
                                             R"([1,2,{"progname":"x"},[{"name":"/r"},[{"name":)"));
    const auto cut =
        runCli("load " + quoted(dir / "cut.json") + " --save " + quoted(dir / "out.qws"));
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.err.find("ends too early"), std::string::npos) << cut.err;
    EXPECT_EQ(std::count(cut.err.begin(), cut.err.end(), '\n'), 1) << cut.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.qws"));

    const auto toMissing =
        runCli("scan -q " + quoted(dir.path()) + " -o " + quoted(dir / "no/such/folder.json"));
    EXPECT_EQ(toMissing.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST(CliExport, ASnapshotBecomesAnExportAndAnExportASnapshot) {
    TempDir dir;
    makeTree(dir, true);
    const auto scan =
        report("scan -q " + quoted(dir / "tree") + " --save " + quoted(dir / "s.qws"));
    EXPECT_EQ(runCli("load " + quoted(dir / "s.qws") + " -o " + quoted(dir / "s.json")).status, 0);
    EXPECT_EQ(runCli("load " + quoted(dir / "s.json") + " --save " + quoted(dir / "t.qws")).status,
              0);
    const auto back = report("load " + quoted(dir / "t.qws"));
    for (const char* key : {"root", "nodes", "files", "bytes"})
        EXPECT_EQ(back[key], scan[key]) << key;
}

}  // namespace
}  // namespace brimvale::cli
