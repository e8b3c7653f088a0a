// The unmount watch: a volume that comes or goes shows at once, not at the next watch tick. The
// suite moves its process into a private mount namespace of its own, so its mounts reach nobody.
#include <sched.h>
#include <sys/mount.h>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "AppTestFixture.h"

namespace brimvale::testing {
namespace {

using namespace std::chrono_literals;

class MountWatchTest : public AppTest {};

TEST_F(MountWatchTest, MountAndUnmountReadTheStartupVolumeAtOnce) {
    // The main thread reads /proc/self/mountinfo: its namespace is the one the watch sees.
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "cannot make a private mount namespace here (needs CAP_SYS_ADMIN)";
    const std::string volume = work + "/volume";
    ASSERT_TRUE(quenwick::testing::makeDirs(volume));
    auto model = makeModel();
    // A tick far away: only the mount table's own notification can answer in time.
    model->startTideWatch({std::chrono::hours(1), std::chrono::seconds(21600)});
    QSignalSpy changed(model.get(), &AppModel::mountsChanged);
    QSignalSpy startup(model.get(), &AppModel::startupVolumeChanged);

    ASSERT_EQ(mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=8m"), 0);
    EXPECT_TRUE(waitFor([&] { return changed.count() >= 1; }, 3s)) << "the mount went unseen";
    const int afterMount = int(changed.count());
    ASSERT_EQ(umount(volume.c_str()), 0);
    EXPECT_TRUE(waitFor([&] { return changed.count() > afterMount; }, 3s))
        << "the unmount went unseen";
    EXPECT_TRUE(model->startupVolume().has_value());

    // Nothing more happens while the table stays as it is.
    const int settled = int(changed.count());
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(changed.count(), settled);
}

}  // namespace
}  // namespace brimvale::testing
