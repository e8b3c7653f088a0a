#include "QuenwickCore/DeletionGuard.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "RemovalFixture.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using testing::makeDirs;
using testing::RemovalTest;
using testing::writeFile;

constexpr const char* kNotAbsolute = "Not an absolute path";
constexpr const char* kWholeVolume = "A whole volume can't be moved to the Trash";
constexpr const char* kTopLevel = "Top-level system folder";
constexpr const char* kSystem = "Part of the system";
constexpr const char* kStandard = "Standard folder in your home";
constexpr const char* kSecrets = "Holds passwords or keys";
constexpr const char* kItself = "Brimvale itself";
constexpr const char* kRunning = "This app is running — quit it first";
constexpr const char* kInLibrary =
    "Inside a Photos or Music library — remove items from within that app";
constexpr const char* kInApp =
    "Part of an app — removing it would break the app. Remove the whole app instead";
constexpr const char* kStructural = "Structural system folder";
constexpr const char* kInsideLibrary =
    "Structural folder inside Library — clean what's inside it instead";
constexpr const char* kCloudRoot = "A cloud storage provider's root folder";
constexpr const char* kCloud =
    "Stored in the cloud — deleting it also removes it from your other devices";
constexpr const char* kAppData = "App data — the app may lose settings, documents or history";
constexpr const char* kUninstalls = "Uninstalls this app";
constexpr const char* kShared = "Shared system-wide software or settings";
constexpr const char* kToolFolder = "Settings or data for a developer tool";
constexpr const char* kHistory =
    "Version history of a project. Anything not pushed elsewhere is lost";
constexpr const char* kSettingsFile = "A settings file for your shell or developer tools";
constexpr const char* kOwnFolder = "Brimvale's own folder — it holds deletions in progress";
constexpr const char* kUnresolvable = "Can't be reached: a link on the way leads nowhere";

// "blocked: reason", "allowed" or "allowed: caution", so a table of expectations reads plainly.
std::string describe(const GuardVerdict& v) {
    if (const auto* reason = v.blockedReason()) return "blocked: " + *reason;
    const auto& caution = v.allowed()->caution();
    return caution ? "allowed: " + *caution : "allowed";
}

std::string blocked(const char* reason) {
    return std::string("blocked: ") + reason;
}

std::string allowed(const char* caution = nullptr) {
    return caution ? std::string("allowed: ") + caution : "allowed";
}

// A guard for a home that does not exist here, so only the rules' text matters.
class PathRules : public ::testing::Test {
protected:
    DeletionGuard guard{"/Users/ann", "/Applications/Brimvale.app",
                        [](const std::string& p) { return p == "/Applications/Running.app"; }};

    void expect(const std::vector<std::pair<std::string, std::string>>& cases) {
        for (const auto& [path, expected] : cases)
            EXPECT_EQ(describe(guard.check(path)), expected) << path;
    }
};

TEST_F(PathRules, RelativePathsAreRefused) {
    expect({{"Documents/report.pdf", blocked(kNotAbsolute)},
            {"", blocked(kNotAbsolute)},
            {"./x", blocked(kNotAbsolute)},
            {std::string("/Users/ann/.ssh\0/x", 18), blocked(kNotAbsolute)}});
}

TEST_F(PathRules, WholeVolumesAndTopLevelFolders) {
    expect({{"/", blocked(kWholeVolume)},
            {"/Volumes/Backup", blocked(kWholeVolume)},
            {"/Volumes", blocked(kTopLevel)},
            {"/Volumes/Backup/old", allowed()},
            {"/Applications", blocked(kTopLevel)},
            {"/opt", blocked(kTopLevel)},
            {"/home", blocked(kTopLevel)},
            {"/root", blocked(kTopLevel)},
            {"/srv", blocked(kTopLevel)},
            {"/mnt", blocked(kTopLevel)},
            {"/media", blocked(kTopLevel)},
            {"/tmp", blocked(kTopLevel)},
            {"/var/tmp", blocked(kTopLevel)},
            {"/var/tmp/build-output", allowed()}});
}

TEST_F(PathRules, SystemLocationsWithEverythingInside) {
    expect({{"/usr/local", blocked(kSystem)},
            {"/usr/local/bin/tool", allowed(kShared)},
            {"/usr/bin/ls", blocked(kSystem)},
            {"/Library/Apple/System", blocked(kSystem)},
            {"/private/var/db/receipts", blocked(kSystem)},
            {"/etc", blocked(kSystem)},
            {"/etc/passwd", blocked(kSystem)},
            {"/etcetera", allowed()},
            {"/dev/shm/x", blocked(kSystem)},
            {"/boot/vmlinuz", blocked(kSystem)},
            {"/efi", blocked(kSystem)},
            {"/lib64/ld-linux-x86-64.so.2", blocked(kSystem)},
            {"/proc/1", blocked(kSystem)},
            {"/sys/kernel", blocked(kSystem)},
            {"/snap/core", blocked(kSystem)},
            {"/var/lib/dpkg", blocked(kSystem)},
            {"/var/lib/flatpak/app/org.example", blocked(kSystem)},
            {"/var/run/x", blocked(kSystem)},
            {"/var/lock/x", blocked(kSystem)},
            {"/run/user/1000", blocked(kSystem)},
            {"/run/media", blocked(kSystem)},
            {"/run/media/ann", blocked(kSystem)},
            {"/run/media/ann/USB/old-backup", allowed()},
            {"/opt/tool", allowed(kUninstalls)},
            {"/opt/tool/share/data", allowed(kShared)}});
}

TEST_F(PathRules, LibraryFoldersAndTheirContents) {
    expect({{"/Library/Fonts", blocked(kInsideLibrary)},
            {"/Library/Caches/com.example/data", allowed(kShared)},
            {"/Users/ann/Library/Caches", blocked(kInsideLibrary)},
            {"/Users/ann/Library/Caches/com.example", allowed()},
            {"/Users/ann/Library/Application Support/Example", allowed(kAppData)},
            {"/Users/ann/Library/Keychains", blocked(kSecrets)},
            {"/Users/ann/Library/Keychains/login.keychain-db", blocked(kSecrets)},
            {"/Users/ann/Library/Containers", blocked(kStructural)},
            {"/Users/ann/Library/Containers/com.example", allowed(kAppData)},
            {"/Users/ann/Library/Containers/com.example/Data/Library/Caches/x", allowed()},
            {"/Users/ann/Library/Developer/Xcode/DerivedData/App-abc", allowed()},
            {"/Users/ann/Library/Mobile Documents/com~apple~CloudDocs", blocked(kCloudRoot)},
            {"/Users/ann/Library/Mobile Documents/com~apple~CloudDocs/notes.txt", allowed(kCloud)},
            {"/Users/ann/Library/CloudStorage", blocked(kStructural)},
            {"/Users/ann/Library/CloudStorage/Dropbox", blocked(kCloudRoot)},
            {"/Users/ann/Library/CloudStorage/Dropbox/a.txt", allowed(kCloud)}});
}

TEST_F(PathRules, HomeAndItsStandardFolders) {
    expect({{"/Users/ann", blocked(kStandard)},
            {"/Users/ann/Documents", blocked(kStandard)},
            {"/Users/ann/Documents/report.pdf", allowed()},
            {"/Users/ann/Templates", blocked(kStandard)},
            {"/Users/ann/Videos", blocked(kStandard)},
            {"/Users/ann/.config", blocked(kStandard)},
            {"/Users/ann/.local", blocked(kStandard)},
            {"/Users/ann/.local/share", blocked(kStandard)},
            {"/Users/ann/.cache", blocked(kStandard)},
            {"/Users/ann/.cache/pip", allowed()},
            {"/Users/ann/.config/example", allowed(kAppData)},
            {"/Users/ann/.local/share/example", allowed(kAppData)},
            {"/Users", blocked(kTopLevel)}});
}

TEST_F(PathRules, LinuxLogsSpoolAndMailArePartOfTheSystem) {
    expect({{"/var/log", blocked(kSystem)},
            {"/var/log/journal/abc/system.journal", blocked(kSystem)},
            {"/var/spool/cron/crontabs/ann", blocked(kSystem)},
            {"/var/mail", blocked(kSystem)},
            {"/var/mail/ann", blocked(kSystem)},
            {"/var/logs", allowed()},
            {"/var/cache/apt", allowed()}});
}

TEST_F(PathRules, VersionControlFoldersAreAllowedWithTheirCaution) {
    expect({{"/Users/ann/src/app/.git", allowed(kHistory)},
            {"/Users/ann/src/app/.hg", allowed(kHistory)},
            {"/srv/repos/site/.svn", allowed(kHistory)},
            {"/Users/ann/.git", allowed(kHistory)},
            {"/Users/ann/src/app/.git/objects", allowed()},
            {"/Users/ann/src/app/.github", allowed()},
            {"/Users/ann/src/app/.gitignore", allowed()}});
}

TEST(GuardHomes, SecretStoresOfOtherHomesAreBlockedWhenGiven) {
    auto folders = DeletionGuard::UserFolders::defaultsFor("/home/ann");
    folders.otherHomes = {"/home/zoe", "/srv/git", "/root"};
    const DeletionGuard guard("/home/ann", "", nullptr, folders);
    for (const std::string path :
         {"/home/zoe/.ssh", "/home/zoe/.ssh/id_ed25519", "/home/zoe/.local/share/keyrings/x",
          "/root/.gnupg", "/srv/git/.aws/credentials", "/home/ann/.ssh"}) {
        EXPECT_EQ(describe(guard.check(path)), blocked(kSecrets)) << path;
    }
    EXPECT_EQ(describe(guard.check("/home/zoe/Documents/x")), allowed());
    const DeletionGuard ownOnly("/home/ann", "", nullptr,
                                DeletionGuard::UserFolders::defaultsFor("/home/ann"));
    EXPECT_EQ(describe(ownOnly.check("/home/zoe/Documents/x")), allowed());
}

TEST_F(PathRules, SecretStoresWithTheirContents) {
    expect({{"/Users/ann/.ssh", blocked(kSecrets)},
            {"/Users/ann/.ssh/id_ed25519", blocked(kSecrets)},
            {"/Users/ann/.gnupg/pubring.kbx", blocked(kSecrets)},
            {"/Users/ann/.local/share/keyrings/login.keyring", blocked(kSecrets)},
            {"/Users/ann/.local/share/kwalletd", blocked(kSecrets)},
            {"/Users/ann/.password-store/mail.gpg", blocked(kSecrets)},
            {"/Users/ann/.pki/nssdb", blocked(kSecrets)},
            {"/Users/ann/.aws/credentials", blocked(kSecrets)},
            {"/Users/ann/.kube/config", blocked(kSecrets)},
            {"/Users/ann/.sshx", allowed(kSettingsFile)}});
}

TEST_F(PathRules, AppsBundlesAndLibraries) {
    expect({{"/Applications/Brimvale.app", blocked(kItself)},
            {"/Applications/Brimvale.app/Contents/MacOS", blocked(kItself)},
            {"/Applications/Running.app", blocked(kRunning)},
            {"/Applications/Other.app", allowed(kUninstalls)},
            {"/Applications/Other.app/Contents", blocked(kInApp)},
            {"/Applications/Other.app/Contents/Info.plist", blocked(kInApp)},
            {"/Applications/Other.app/Wrapper/x", blocked(kInApp)},
            {"/Applications/Other.app/Extras", allowed()},
            {"/Users/ann/Pictures/Photos Library.photoslibrary", allowed()},
            {"/Users/ann/Pictures/Photos Library.photoslibrary/originals", blocked(kInLibrary)},
            {"/Users/ann/Music/Music Library.musiclibrary/db", blocked(kInLibrary)},
            {"/Users/ann/Apps/Tool.AppImage", allowed(kUninstalls)}});
}

TEST_F(PathRules, TrashFoldersAreBlockedButTheirItemsAreNot) {
    expect({{"/Users/ann/.local/share/Trash", blocked(kStructural)},
            {"/Users/ann/.local/share/Trash/files", blocked(kStructural)},
            {"/Users/ann/.local/share/Trash/info", blocked(kStructural)},
            {"/Users/ann/.local/share/Trash/files/old.iso", allowed()},
            {"/mnt/data/.Trash-1000", blocked(kStructural)},
            {"/mnt/data/.Trash-1000/info", blocked(kStructural)},
            {"/mnt/data/.Trash-1000/files/a", allowed()},
            {"/mnt/data/.Trash", blocked(kStructural)},
            {"/mnt/data/.Trash/1000", blocked(kStructural)},
            {"/mnt/data/.Trash/1000/files", blocked(kStructural)},
            {"/mnt/data/.Trash/1000/files/b", allowed()}});
}

TEST_F(PathRules, PathsAreJudgedAfterNormalisation) {
    expect({{"//etc", blocked(kSystem)},
            {"/../etc", blocked(kSystem)},
            {"/tmp/../etc/./", blocked(kSystem)},
            {"/Users/ann//", blocked(kStandard)},
            {"/Users/ann/Documents/../Documents/", blocked(kStandard)},
            {"/Users/ann/./Documents/x/..", blocked(kStandard)}});
    const auto v = guard.check("/Users//ann/Documents/./old/../report.pdf/");
    ASSERT_TRUE(v.isAllowed());
    EXPECT_EQ(v.allowed()->path(), "/Users/ann/Documents/report.pdf");
    EXPECT_EQ(v.allowed()->url(), "file:///Users/ann/Documents/report.pdf");
}

TEST_F(PathRules, VerdictsCompareByPathAndCaution) {
    EXPECT_EQ(guard.check("/Users/ann/Documents/a"), guard.check("/Users/ann/Documents//a/"));
    EXPECT_NE(guard.check("/Users/ann/Documents/a"), guard.check("/Users/ann/Documents/b"));
    EXPECT_EQ(guard.check("/etc"), guard.check("/usr"));
    const DeletionGuard other("/Users/bob", "", nullptr);
    EXPECT_EQ(guard.check("/Users/ann/Documents/a"), other.check("/Users/ann/Documents/a"));
    const auto v = guard.check("/Users/ann/Documents/caf\xC3\xA9 \xFF.txt");
    ASSERT_TRUE(v.isAllowed());
    EXPECT_EQ(v.allowed()->path(), "/Users/ann/Documents/caf\xC3\xA9 \xFF.txt");
    EXPECT_EQ(v.allowed()->url(), "file:///Users/ann/Documents/caf%C3%A9%20%FF.txt");
}

// Rules that need a real file system: a temporary home with HOME and XDG folders pointed there.
class GuardOnDisk : public RemovalTest {
protected:
    DeletionGuard guard() const { return DeletionGuard::live(); }
};

TEST_F(GuardOnDisk, HiddenItemsInHomeGetTheirCautions) {
    ASSERT_TRUE(makeDirs(home + "/.npm/_cacache"));
    ASSERT_TRUE(makeDirs(home + "/.mytool"));
    ASSERT_TRUE(writeFile(home + "/.zshrc", "export A=1\n"));
    const auto g = guard();
    EXPECT_EQ(describe(g.check(home + "/.npm")), allowed());
    EXPECT_EQ(describe(g.check(home + "/.mytool")), allowed(kToolFolder));
    EXPECT_EQ(describe(g.check(home + "/.zshrc")), allowed(kSettingsFile));
    EXPECT_EQ(describe(g.check(home + "/.gone")), allowed(kSettingsFile));
    EXPECT_EQ(describe(g.check(home + "/.cache")), blocked(kStandard));
}

TEST_F(GuardOnDisk, AsRootEveryHomesSecretsAreBlocked) {
    if (geteuid() != 0) GTEST_SKIP() << "the other homes are only protected for root";
    if (!testing::canMountPrivateTmpfs()) GTEST_SKIP() << "no private mount namespace";
    // A private /home, so the folders made here exist nowhere else.
    const auto verdicts = testing::runInChild([&]() -> std::string {
        if (!testing::mountPrivateTmpfs("/home")) return "no mount";
        if (!makeDirs("/home/zoe/.ssh") || !makeDirs("/home/sam/.gnupg")) return "no folders";
        const auto g = DeletionGuard::live();
        return describe(g.check("/home/zoe/.ssh/id_ed25519")) + "|" +
               describe(g.check("/home/sam/.gnupg")) + "|" +
               describe(g.check("/root/.ssh/authorized_keys")) + "|" +
               describe(g.check("/home/zoe/notes.txt"));
    });
    EXPECT_EQ(verdicts, blocked(kSecrets) + "|" + blocked(kSecrets) + "|" + blocked(kSecrets) +
                            "|" + allowed());
}

TEST_F(GuardOnDisk, XdgFoldersAreProtectedWhereverTheyPoint) {
    const std::string elsewhere = root / "elsewhere";
    ASSERT_TRUE(makeDirs(elsewhere + "/data/keyrings"));
    ASSERT_TRUE(makeDirs(elsewhere + "/cache/app"));
    ASSERT_TRUE(makeDirs(elsewhere + "/Music"));
    setEnv("XDG_DATA_HOME", elsewhere + "/data");
    setEnv("XDG_CACHE_HOME", elsewhere + "/cache");
    ASSERT_TRUE(writeFile(config + "/user-dirs.dirs",
                          "# written by xdg-user-dirs-update\n"
                          "XDG_MUSIC_DIR=\"" +
                              elsewhere +
                              "/Music\"\n"
                              "XDG_DOWNLOAD_DIR=\"$HOME/Incoming\"\n"));
    const auto g = guard();
    EXPECT_EQ(describe(g.check(elsewhere + "/Music")), blocked(kStandard));
    EXPECT_EQ(describe(g.check(elsewhere + "/Music/song.ogg")), allowed());
    EXPECT_EQ(describe(g.check(home + "/Incoming")), blocked(kStandard));
    EXPECT_EQ(describe(g.check(home + "/Downloads")), blocked(kStandard));
    EXPECT_EQ(describe(g.check(elsewhere + "/cache")), blocked(kStandard));
    EXPECT_EQ(describe(g.check(elsewhere + "/cache/app")), allowed());
    EXPECT_EQ(describe(g.check(elsewhere + "/data")), blocked(kStandard));
    EXPECT_EQ(describe(g.check(elsewhere + "/data/keyrings/login.keyring")), blocked(kSecrets));
    EXPECT_EQ(describe(g.check(elsewhere + "/data/Trash")), blocked(kStructural));
    EXPECT_EQ(describe(g.check(elsewhere + "/data/Trash/files/x")), allowed());
    EXPECT_EQ(describe(g.check(elsewhere + "/data/app")), allowed(kAppData));
    // The folders that hold them would take them along.
    EXPECT_EQ(describe(g.check(elsewhere)), blocked(kStructural));
}

TEST_F(GuardOnDisk, LinksBeforeTheLastComponentAreFollowed) {
    const std::string links = home + "/links";
    ASSERT_TRUE(makeDirs(links));
    ASSERT_EQ(symlink("/etc", (links + "/etc-link").c_str()), 0);
    ASSERT_EQ(symlink((home + "/.ssh").c_str(), (links + "/keys").c_str()), 0);
    ASSERT_TRUE(makeDirs(home + "/.ssh"));
    ASSERT_EQ(symlink("/nowhere/at/all", (links + "/dangling").c_str()), 0);
    const auto g = guard();
    // The link itself may go; its target is never made removable through it.
    EXPECT_EQ(describe(g.check(links + "/etc-link")), allowed());
    EXPECT_EQ(describe(g.check(links + "/etc-link/passwd")), blocked(kSystem));
    EXPECT_EQ(describe(g.check(links + "/keys/id_rsa")), blocked(kSecrets));
    EXPECT_EQ(describe(g.check(links + "/dangling")), allowed());
    EXPECT_EQ(describe(g.check(links + "/etc-link/../x")), allowed());
}

TEST_F(GuardOnDisk, DotDotAfterALinkIsJudgedWhereTheKernelGoes) {
    // a/link -> b/c: a/link/../f is b/f to the kernel, never a/f.
    const std::string a = home + "/work/a", b = home + "/work/b";
    ASSERT_TRUE(makeDirs(a));
    ASSERT_TRUE(makeDirs(b + "/c"));
    ASSERT_TRUE(writeFile(a + "/f", "a"));
    ASSERT_TRUE(writeFile(b + "/f", "b"));
    ASSERT_EQ(symlink((b + "/c").c_str(), (a + "/link").c_str()), 0);
    ASSERT_EQ(symlink((home + "/.ssh/keys").c_str(), (a + "/to-ssh").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere/at/all", (a + "/dangling").c_str()), 0);
    ASSERT_TRUE(makeDirs(home + "/.ssh/keys"));
    const auto g = guard();
    const auto v = g.check(a + "/link/../f");
    ASSERT_TRUE(v.isAllowed());
    EXPECT_EQ(v.allowed()->path(), b + "/f");
    EXPECT_EQ(describe(g.check(a + "/to-ssh/../id_rsa")), blocked(kSecrets));
    EXPECT_EQ(describe(g.check(a + "/dangling/../f")), blocked(kUnresolvable));
    // A ".." after an ordinary folder is still folded as text.
    EXPECT_EQ(g.check(a + "/x/../f").allowed()->path(), a + "/f");
    EXPECT_EQ(DeletionGuard::resolve(a + "/link/./../c/"), b + "/c");
}

TEST_F(GuardOnDisk, ProtectedFoldersBindMountedElsewhereAreJudgedAsThemselves) {
    if (!testing::canMountPrivateTmpfs()) GTEST_SKIP() << "cannot make a mount namespace here";
    ASSERT_TRUE(makeDirs(home + "/.ssh"));
    ASSERT_TRUE(writeFile(home + "/.ssh/id_rsa", "key"));
    ASSERT_TRUE(makeDirs(home + "/Documents/old"));
    const std::string mounts = root / "mounts";
    for (const auto* name : {"/ssh", "/docs", "/home", "/etc", "/plain"})
        ASSERT_TRUE(makeDirs(mounts + name));
    ASSERT_TRUE(makeDirs(root / "plain/sub"));
    const auto result = testing::runInChild([&]() -> std::string {
        for (const auto& [source, target] : std::vector<std::pair<std::string, std::string>>{
                 {home + "/.ssh", mounts + "/ssh"},
                 {home + "/Documents", mounts + "/docs"},
                 {home, mounts + "/home"},
                 {"/etc", mounts + "/etc"},
                 {root / "plain", mounts + "/plain"}})
            if (!testing::bindMountPrivately(source, target)) return "no bind mount";
        const auto g = DeletionGuard::live();
        std::string out;
        for (const auto* path : {"/ssh/id_rsa", "/docs", "/docs/old", "/home/Documents", "/home/x",
                                 "/etc/passwd", "/plain/sub"})
            out += describe(g.check(mounts + path)) + "|";
        return out;
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, blocked(kSecrets) + "|" + blocked(kStandard) + "|" + allowed() + "|" +
                           blocked(kStandard) + "|" + allowed() + "|" + blocked(kSystem) + "|" +
                           allowed() + "|");
}

TEST_F(GuardOnDisk, TheErasingFolderAndItsParentAreBrimvalesOwn) {
    ASSERT_TRUE(makeDirs(cache + "/Brimvale/Erasing/0-pending"));
    ASSERT_TRUE(makeDirs(cache + "/Brimvale/thumbnails"));
    const auto g = guard();
    EXPECT_EQ(describe(g.check(cache + "/Brimvale")), blocked(kOwnFolder));
    EXPECT_EQ(describe(g.check(cache + "/Brimvale/Erasing")), blocked(kOwnFolder));
    EXPECT_EQ(describe(g.check(cache + "/Brimvale/Erasing/0-pending")), blocked(kOwnFolder));
    EXPECT_EQ(describe(g.check(cache + "/Brimvale/thumbnails")), allowed());
}

TEST_F(GuardOnDisk, HomeReachedThroughALinkIsProtectedInBothSpellings) {
    const std::string realHome = root / "var/home/ann";
    ASSERT_TRUE(makeDirs(realHome + "/Documents/old"));
    ASSERT_EQ(symlink((root / "var/home").c_str(), (root / "home-link").c_str()), 0);
    const std::string linkedHome = root / "home-link/ann";
    const DeletionGuard g(linkedHome, "", nullptr);
    for (const auto& h : {linkedHome, realHome}) {
        EXPECT_EQ(describe(g.check(h)), blocked(kStandard)) << h;
        EXPECT_EQ(describe(g.check(h + "/Documents")), blocked(kStandard)) << h;
        EXPECT_EQ(describe(g.check(h + "/.ssh/id_rsa")), blocked(kSecrets)) << h;
        EXPECT_EQ(describe(g.check(h + "/Documents/old")), allowed()) << h;
    }
    // Every folder that holds the home would take it along.
    EXPECT_EQ(describe(g.check(root / "var/home")), blocked(kStructural));
    EXPECT_EQ(describe(g.check(root / "var")), blocked(kStructural));
    EXPECT_EQ(describe(g.check(root.path())), blocked(kStructural));
    EXPECT_EQ(describe(g.check(root / "home-link")), blocked(kStructural));
}

TEST_F(GuardOnDisk, RunningProgramsAndAppImagesAreFoundFromProc) {
    const std::string apps = home + "/Apps";
    ASSERT_TRUE(makeDirs(apps));
    const std::string program = apps + "/sleeper";
    std::filesystem::copy_file("/bin/sleep", program);
    const std::string appImage = apps + "/Tool.AppImage";
    ASSERT_TRUE(writeFile(appImage, "not really an image"));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("APPIMAGE", appImage.c_str(), 1);
        execl(program.c_str(), "sleeper", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the child runs the copied program rather than this test, and its environment
    // is in place: exec switches the program before it lays out the new environment.
    const std::string proc = "/proc/" + std::to_string(pid);
    auto started = [&] {
        std::error_code ec;
        if (std::filesystem::read_symlink(proc + "/exe", ec) != program) return false;
        std::ifstream environ(proc + "/environ", std::ios::binary);
        const std::string env((std::istreambuf_iterator<char>(environ)), {});
        return env.find("APPIMAGE=") != std::string::npos;
    };
    for (int i = 0; i < 500 && !started(); ++i)
        usleep(10000);
    const auto g = guard();
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(describe(g.check(program)), blocked(kRunning));
    EXPECT_EQ(describe(g.check(appImage)), blocked(kRunning));
    EXPECT_EQ(describe(g.check(apps)), allowed());
    // live() is a snapshot: a fresh guard sees that the program has quit.
    EXPECT_EQ(describe(guard().check(program)), allowed());
}

TEST_F(GuardOnDisk, ThisProgramIsItsOwnBundle) {
    const auto g = guard();
    ASSERT_FALSE(g.appBundle().empty());
    EXPECT_EQ(g.appBundle(), std::filesystem::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(describe(g.check(g.appBundle())), blocked(kItself));
}

TEST_F(GuardOnDisk, AMountedVolumeIsWholeButProcKeepsItsReason) {
    if (!testing::canMountPrivateTmpfs()) GTEST_SKIP() << "cannot mount a private tmpfs here";
    const std::string mountPoint = home + "/usb";
    ASSERT_TRUE(makeDirs(mountPoint));
    const auto result = testing::runInChild([&] {
        if (!testing::mountPrivateTmpfs(mountPoint)) return std::string("no mount");
        mkdir((mountPoint + "/photos").c_str(), 0755);
        const auto g = DeletionGuard::live();
        return describe(g.check(mountPoint)) + "|" + describe(g.check(mountPoint + "/photos")) +
               "|" + describe(g.check("/proc")) + "|" + describe(g.check(home + "/usb/")) + "|";
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, blocked(kWholeVolume) + "|" + allowed() + "|" + blocked(kSystem) + "|" +
                           blocked(kWholeVolume) + "|");
    // Once unmounted it is an ordinary folder again.
    EXPECT_EQ(describe(guard().check(mountPoint)), allowed());
}

}  // namespace
}  // namespace quenwick
