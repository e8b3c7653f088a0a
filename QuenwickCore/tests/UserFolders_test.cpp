#include "QuenwickCore/UserFolders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "QuenwickCore/TideHistory.h"
#include "TestSupport.h"

using quenwick::testing::runInChild;
namespace userFolders = quenwick::userFolders;

namespace {

// Each case changes the environment in a child so the test process keeps its own.
std::string inChild(const std::function<std::string()>& body) {
    return runInChild(body).value_or("<child failed>");
}

TEST(UserFolders, XdgVariablesWinAndLoseTheirTrailingSlashes) {
    EXPECT_EQ(inChild([] {
                  setenv("HOME", "/home/ann/", 1);
                  setenv("XDG_DATA_HOME", "/data//", 1);
                  setenv("XDG_CACHE_HOME", "/cache", 1);
                  setenv("XDG_CONFIG_HOME", "/config/", 1);
                  return userFolders::home() + " " + userFolders::dataHome() + " " +
                         userFolders::cacheHome() + " " + userFolders::configHome();
              }),
              "/home/ann /data /cache /config");
}

TEST(UserFolders, RelativeOrEmptyVariablesFallBackToTheHomeDefaults) {
    EXPECT_EQ(inChild([] {
                  setenv("HOME", "/home/ann", 1);
                  setenv("XDG_DATA_HOME", "relative/data", 1);
                  setenv("XDG_CACHE_HOME", "", 1);
                  unsetenv("XDG_CONFIG_HOME");
                  return userFolders::dataHome() + " " + userFolders::cacheHome() + " " +
                         userFolders::configHome() + " " +
                         quenwick::TideHistory::standard().directory();
              }),
              "/home/ann/.local/share /home/ann/.cache /home/ann/.config "
              "/home/ann/.local/share/Brimvale/History");
}

TEST(UserFolders, MissingHomeComesFromThePasswordDatabase) {
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    const std::string expected = entry->pw_dir;
    EXPECT_EQ(inChild([] {
                  unsetenv("HOME");
                  return userFolders::home();
              }),
              expected.size() > 1 && expected.back() == '/'
                  ? expected.substr(0, expected.size() - 1)
                  : expected);
    EXPECT_EQ(inChild([] {
                  setenv("HOME", "/", 1);
                  unsetenv("XDG_DATA_HOME");
                  return userFolders::dataHome();
              }),
              "/.local/share");
}

TEST(UserFolders, UserDirsAreReadByKeyWithTranslatedNamesAndHomeExpanded) {
    quenwick::testing::TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "user-dirs.dirs",
                                             "# written by xdg-user-dirs-update\n"
                                             "XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n"
                                             "XDG_VIDEOS_DIR=\"/srv/films\"\n"
                                             "XDG_DESKTOP_DIR=\"$HOME\"\n"
                                             "XDG_MUSIC_DIR=\"relative/music\"\n"
                                             "  XDG_PICTURES_DIR=\"$HOME/indented\"\n"
                                             "XDG_TEMPLATES_DIR=\n"));
    const auto dirs = userFolders::userDirs(dir.path(), "/home/ann");
    const std::map<std::string, std::string> expected = {{"DESKTOP", "/home/ann"},
                                                         {"DOWNLOAD", "/home/ann/Téléchargements"},
                                                         {"VIDEOS", "/srv/films"}};
    EXPECT_EQ(dirs, expected);
    EXPECT_TRUE(userFolders::userDirs(dir / "missing", "/home/ann").empty());
}

}  // namespace
