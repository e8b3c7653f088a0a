#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FakeHome.h"
#include "Shoreline/DeviceBackupsRule.h"
#include "Shoreline/InstallersRule.h"
#include "Shoreline/LargeOldFilesRule.h"
#include "Shoreline/LastUsed.h"
#include "Shoreline/OldDownloadsRule.h"
#include "Shoreline/Shoreline.h"

namespace shoreline {
namespace {

using testing::FakeHome;
using testing::findingPaths;
using testing::kDay;
using testing::kMiB;
using testing::relativePaths;
using testing::TreeBuilder;
using Paths = std::vector<std::string>;

constexpr uint64_t kBlock = 4096;

Paths sorted(Paths p) {
    std::sort(p.begin(), p.end());
    return p;
}

TEST(InstallersRule, FromFourteenDaysWhateverTheSizeAndCaseNeverAppImagesOrSubfolders) {
    FakeHome home;
    for (const char* name : {"thirteen.dmg", "fourteen.dmg", "LOUD.DMG", "tool.deb", "tool.rpm",
                             "disc.iso", "App.AppImage", "notes.txt", "sub/nested.dmg"}) {
        home.file(std::string("Downloads/") + name, kBlock);
        home.age(std::string("Downloads/") + name, 14);
    }
    home.age("Downloads/thirteen.dmg", 13);
    home.age("Downloads/sub", 100);
    auto ctx = home.context();
    const auto candidates = InstallersRule().candidates(ctx);
    EXPECT_EQ(sorted(relativePaths(ctx, candidates)),
              (Paths{"Downloads/LOUD.DMG", "Downloads/disc.iso", "Downloads/fourteen.dmg",
                     "Downloads/tool.deb", "Downloads/tool.rpm"}));
    for (const auto& c : candidates) {
        EXPECT_EQ(c.safety, Safety::review);
        EXPECT_EQ(c.reason,
                  "Installer downloaded 14 days ago — the app is probably installed by now.");
    }
}

TEST(InstallersRule, TranslatedDownloadsFolderCountsAndAHomeSettingIsIgnored) {
    FakeHome home;
    home.file("Téléchargements/setup.deb", kBlock);
    home.age("Téléchargements/setup.deb", 30);
    home.file("old.iso", kBlock);
    home.age("old.iso", 30);
    auto ctx = home.context();
    ctx.userDirs["DOWNLOAD"] = ctx.inHome("Téléchargements");
    EXPECT_EQ(relativePaths(ctx, InstallersRule().candidates(ctx)),
              Paths{"Téléchargements/setup.deb"});
    // xdg-user-dirs writes "$HOME" for a folder the user turned off: home is not Downloads.
    ctx.userDirs["DOWNLOAD"] = ctx.home;
    EXPECT_TRUE(InstallersRule().candidates(ctx).empty());
}

TEST(InstallersRule, UserDirsFileOfTheEnvironmentIsRead) {
    FakeHome home;
    home.file("Descargas/setup.rpm", kBlock);
    home.age("Descargas/setup.rpm", 30);
    home.file("config/user-dirs.dirs", 0);
    ASSERT_TRUE(quenwick::testing::writeFile(home / "config/user-dirs.dirs",
                                             "XDG_DOWNLOAD_DIR=\"$HOME/Descargas\"\n"));
    const auto found = quenwick::testing::runInChild([&] {
        setenv("HOME", home.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        auto scanned = home.context();
        auto ctx = ShorelineContext::forCurrentUser(scanned.tree, scanned.guardian);
        std::string out = ctx.cacheHome + "|" + ctx.dataHome + "|" + ctx.ownFolders[1];
        for (const auto& p : relativePaths(ctx, InstallersRule().candidates(ctx)))
            out += "|" + p;
        return out;
    });
    EXPECT_EQ(found.value_or("<child failed>"), home / "cache" + "|" + home / "data" + "|" +
                                                    home / "data/Brimvale" +
                                                    "|Descargas/setup.rpm");
}

TEST(OldDownloadsRule, FromNinetyIdleDaysAndOneMiBJudgedByTheLastOpening) {
    FakeHome home;
    home.file("Downloads/eightynine.pdf", kMiB);
    home.age("Downloads/eightynine.pdf", 89);
    home.file("Downloads/ninety.pdf", kMiB);
    home.age("Downloads/ninety.pdf", 90);
    home.file("Downloads/small.pdf", kMiB - kBlock);
    home.age("Downloads/small.pdf", 400);
    home.file("Downloads/opened.mp4", 2 * kMiB);
    home.ageModification("Downloads/opened.mp4", 200);
    home.ageAccess("Downloads/opened.mp4", 1);
    auto ctx = home.context();
    auto candidates = OldDownloadsRule().candidates(ctx);
    ASSERT_EQ(relativePaths(ctx, candidates), Paths{"Downloads/ninety.pdf"});
    EXPECT_EQ(candidates[0].reason, "Not opened in 90 days.");
    EXPECT_EQ(candidates[0].safety, Safety::review);
    // Without last-opened dates the modification age decides.
    ctx.lastUsed = LastUsed::unknown();
    EXPECT_EQ(sorted(relativePaths(ctx, OldDownloadsRule().candidates(ctx))),
              (Paths{"Downloads/ninety.pdf", "Downloads/opened.mp4"}));
}

TEST(OldDownloadsRule, AFolderIsJudgedByItsOwnSizeAndDateNotItsFilesAccess) {
    FakeHome home;
    home.file("Downloads/photos/a.jpg", kMiB);
    home.file("Downloads/photos/b.jpg", kMiB);
    home.age("Downloads/photos/a.jpg", 1);
    home.age("Downloads/photos", 100);
    auto ctx = home.context();
    // The scan just listed the folder, so its access time is fresh: it must not count.
    const auto candidates = OldDownloadsRule().candidates(ctx);
    ASSERT_EQ(relativePaths(ctx, candidates), Paths{"Downloads/photos"});
    EXPECT_EQ(candidates[0].reason, "Not opened in 100 days.");
}

TEST(OldDownloadsRule, AnOldLargeInstallerIsOnlyAnInstaller) {
    FakeHome home;
    home.file("Downloads/big.dmg", 2 * kMiB);
    home.age("Downloads/big.dmg", 120);
    auto ctx = home.context();
    const auto categories = Shoreline::analyze(ctx);
    EXPECT_EQ(findingPaths(ctx, categories, "installers"), Paths{"Downloads/big.dmg"});
    EXPECT_EQ(testing::categoryOf(categories, "downloads"), nullptr);
}

TEST(LargeOldFilesRule, FromHundredEightyIdleDaysOutsideManagedLibrariesAndTheLimitMoves) {
    FakeHome home;
    home.file("Documents/old.bin", 2 * kMiB);
    home.age("Documents/old.bin", 180);
    home.file("Documents/recent.bin", 2 * kMiB);
    home.age("Documents/recent.bin", 179);
    home.file("Documents/small.bin", 2 * kMiB - kBlock);
    home.age("Documents/small.bin", 400);
    home.file("Videos/film.mkv", 3 * kMiB);
    home.ageModification("Videos/film.mkv", 400);
    home.ageAccess("Videos/film.mkv", 10);
    home.file("Movies/TV/Media/show.mkv", 3 * kMiB);
    home.age("Movies/TV/Media/show.mkv", 400);
    for (const char* hidden : {"Library/x.bin", ".hidden/x.bin", "Projects/node_modules/x.bin",
                               "Tool.app/x.bin", "snap/app/12/x.bin", "Projects/.git/x.bin"}) {
        home.file(hidden, 3 * kMiB);
        home.age(hidden, 400);
    }
    auto ctx = home.context();
    ctx.largeFileMinBytes = 2 * kMiB;
    const auto candidates = LargeOldFilesRule().candidates(ctx);
    ASSERT_EQ(relativePaths(ctx, candidates), Paths{"Documents/old.bin"});
    EXPECT_EQ(candidates[0].safety, Safety::caution);
    EXPECT_EQ(candidates[0].reason, "Not opened in 180 days.");
    ctx.largeFileMinBytes = 2 * kMiB + kBlock;
    EXPECT_TRUE(LargeOldFilesRule().candidates(ctx).empty());
    ctx.largeFileMinBytes = 2 * kMiB - kBlock;
    EXPECT_EQ(sorted(relativePaths(ctx, LargeOldFilesRule().candidates(ctx))),
              (Paths{"Documents/old.bin", "Documents/small.bin"}));
}

TEST(LargeOldFilesRule, DefaultLimitIsFiveHundredMiB) {
    TreeBuilder home("/home/ann");
    home.add("Videos/a.mov", 500 * kMiB - 1, 400);
    home.add("Videos/b.mov", 500 * kMiB, 400);
    auto ctx = home.context();
    EXPECT_EQ(relativePaths(ctx, LargeOldFilesRule().candidates(ctx)), Paths{"Videos/b.mov"});
}

TEST(DeviceBackupsRule, FromThreeHundredSixtyFiveDaysWhateverTheSize) {
    FakeHome home;
    const std::string backups = "Library/Application Support/MobileSync/Backup/";
    home.file(backups + "00008030-young/Manifest.db", kBlock);
    home.file(backups + "00008030-old/Manifest.db", kBlock);
    home.age(backups + "00008030-young", 364);
    home.age(backups + "00008030-old", 365);
    auto ctx = home.context();
    const auto candidates = DeviceBackupsRule().candidates(ctx);
    ASSERT_EQ(relativePaths(ctx, candidates), Paths{backups + "00008030-old"});
    EXPECT_EQ(candidates[0].safety, Safety::caution);
    EXPECT_EQ(candidates[0].reason, "Device backup last updated 365 days ago.");
}

TEST(ShorelineContext, AgesTruncateTowardZeroAndPhrasesGroupDigits) {
    TreeBuilder home("/home/ann");
    const auto future = home.add("future.txt", 10, -3);
    const auto old = home.add("old.txt", 10, 1204);
    auto ctx = home.context();
    EXPECT_EQ(ctx.ageInDays(future), -2);  // 3 days ahead less a minute
    EXPECT_EQ(ctx.ageInDays(old), 1204);
    EXPECT_EQ(ctx.daysSince(1'700'000'000 - kDay), 1);
    EXPECT_EQ(ctx.daysSince(1'700'000'000 - kDay + 1), 0);
    ctx.locale = std::locale(std::locale::classic(), new testing::GroupedThousands);
    EXPECT_EQ(ctx.agePhrase(1), "1 day");
    EXPECT_EQ(ctx.agePhrase(0), "0 days");
    EXPECT_EQ(ctx.agePhrase(120), "120 days");
    EXPECT_EQ(ctx.agePhrase(1204), "1,204 days");
    // Dates from files can be anything: the difference saturates instead of overflowing.
    EXPECT_LT(ctx.daysSince(INT64_MAX), 0);
    EXPECT_GT(ctx.daysSince(INT64_MIN), 0);
}

TEST(ShorelineContext, LastUseNewerThanModificationShortensTheIdleTime) {
    TreeBuilder home("/home/ann");
    const auto file = home.add("Downloads/a.pdf", kMiB, 200);
    auto ctx = home.context();
    ctx.lastUsed =
        [&](const std::string& path) -> std::optional<ShorelineContext::Clock::time_point> {
        EXPECT_EQ(path, "/home/ann/Downloads/a.pdf");
        return ctx.now - std::chrono::hours(25);
    };
    EXPECT_EQ(ctx.idleDays(file), 1);
    // A last use older than the modification does not make the file look older.
    ctx.lastUsed = [&](const std::string&) -> std::optional<ShorelineContext::Clock::time_point> {
        return ctx.now - std::chrono::hours(24 * 900);
    };
    EXPECT_EQ(ctx.idleDays(file), 200);
}

}  // namespace
}  // namespace shoreline
