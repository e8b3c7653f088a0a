// The administrator scan end to end: the model asks the real brimvale-helper, started by a private
// system bus (with a stand-in polkit authority), and shows its tree or, when the helper is missing,
// outdated, refused or killed, the regular scan with the notice.
#include <signal.h>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <set>

#include "AppTestFixture.h"
#include "PrivateBus.h"
#include "QuenwickCore/Snapshot.h"

namespace brimvale::testing {
namespace {

using namespace std::chrono_literals;
using helperkit::testing::PrivateBus;
using helperkit::testing::PrivateBusOptions;
using quenwick::testing::makeDirs;
using quenwick::testing::writeFile;

const QString kRegular = "). Showing your regular scan.";

class AdminScanTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(makeDirs(work + "/disk/sub"));
        ASSERT_TRUE(writeFile(work + "/disk/one", "1"));
        ASSERT_TRUE(writeFile(work + "/disk/sub/two", "22"));
        ASSERT_TRUE(makeDirs(work + "/elsewhere"));
    }

    // A model whose administrator scan reaches the helper on bus and scans the small disk.
    std::unique_ptr<AppModel> modelOn(const PrivateBus& bus, const std::string& build = {}) {
        auto s = services();
        s.admin.endpoint = helperkit::testing::endpointOn(bus);
        s.admin.scanRoot = work + "/disk";
        s.admin.exitWait = 10s;
        if (!build.empty()) s.admin.build = build;
        return makeModel(std::move(s));
    }

    // The notice is the one expected and the regular startup-disk load has begun (it is stopped
    // again: the test has no business scanning the whole machine).
    static void expectRegularScanWith(AppModel& model, const QString& notice) {
        ASSERT_TRUE(waitFor([&] { return model.notice().has_value(); }, 30s));
        EXPECT_EQ(model.notice()->text, notice);
        EXPECT_TRUE(model.notice()->isWarning);
        EXPECT_EQ(model.target(), ScanTarget::startupDisk());
        EXPECT_TRUE(model.phase() == Phase::updating || model.phase() == Phase::scanning);
        EXPECT_FALSE(model.adminScan());
        QSignalSpy settled(&model, &AppModel::scanSettled);
        model.stopScan();
        EXPECT_TRUE(waitFor([&] { return settled.count() > 0; }, 30s));
    }
};

TEST_F(AdminScanTest, ReadyHelperScansShowsTheTreeAndReplacesTheStartupSnapshot) {
    PrivateBus bus;
    ASSERT_TRUE(bus.running());
    auto model = modelOn(bus);
    model->setTarget(ScanTarget::folder(work + "/elsewhere"));
    model->scanAsAdministrator();
    EXPECT_EQ(model->target(), ScanTarget::startupDisk());
    EXPECT_EQ(model->phase(), Phase::scanning);
    EXPECT_FALSE(model->tree());
    ASSERT_TRUE(waitFor([&] { return model->adminScan(); }, 30s));
    EXPECT_EQ(model->phase(), Phase::ready);
    EXPECT_FALSE(model->notice());
    ASSERT_TRUE(model->tree());
    EXPECT_TRUE(model->tree()->nodeAtPath(work + "/disk/sub/two"));
    EXPECT_EQ(bus.authorityCalls().size(), 1u);

    auto saved = quenwick::Snapshot::load(data + "/Brimvale/Snapshots/_root.qws");
    ASSERT_TRUE(std::holds_alternative<quenwick::LoadedSnapshot>(saved));
    EXPECT_TRUE(std::get<quenwick::LoadedSnapshot>(saved).tree->nodeAtPath(work + "/disk/one"));

    // Any later full scan is the user's own again.
    model->choose(ScanTarget::folder(work + "/elsewhere"));
    model->rescan();
    EXPECT_FALSE(model->adminScan());
}

TEST_F(AdminScanTest, HelperThatIsNotInstalledLeavesTheRegularScan) {
    PrivateBusOptions options;
    options.installHelper = false;
    PrivateBus bus(options);
    ASSERT_TRUE(bus.running());
    auto model = modelOn(bus);
    model->scanAsAdministrator();
    expectRegularScanWith(
        *model, "Administrator scan isn't available (the helper isn't installed" + kRegular);
    EXPECT_TRUE(bus.authorityCalls().empty());
}

TEST_F(AdminScanTest, HelperOfAnotherBuildGetsOneMoreHandshakeOnceItExited) {
    PrivateBusOptions options;
    options.helperIdleSeconds = 1;
    PrivateBus bus(options);
    ASSERT_TRUE(bus.running());
    auto model = modelOn(bus, "another-build");
    model->scanAsAdministrator();
    // Each handshake starts the helper anew: two processes in turn.
    std::set<pid_t> helpers;
    ASSERT_TRUE(waitFor(
        [&] {
            if (auto pid = bus.ownerPid("app.brimvale.helper")) helpers.insert(*pid);
            return model->notice().has_value();
        },
        30s));
    EXPECT_EQ(helpers.size(), 2u);
    expectRegularScanWith(
        *model, "Administrator scan isn't available (the helper didn't respond" + kRegular);
    EXPECT_TRUE(bus.authorityCalls().empty()) << "never asked to scan";
}

TEST_F(AdminScanTest, RefusedAuthorisationIsAFailedScanWithTheRegularOneShown) {
    PrivateBus bus;
    ASSERT_TRUE(bus.running());
    bus.setAuthorityAnswer("no");
    auto model = modelOn(bus);
    model->scanAsAdministrator();
    ASSERT_TRUE(waitFor([&] { return model->notice().has_value(); }, 30s));
    const QString text = model->notice()->text;
    EXPECT_TRUE(text.startsWith("The administrator scan stopped (")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(kRegular)) << text.toStdString();
    EXPECT_EQ(bus.authorityCalls().size(), 1u);
    expectRegularScanWith(*model, text);
}

TEST_F(AdminScanTest, HelperKilledMidScanEndsInTheRegularScan) {
    PrivateBus bus;
    ASSERT_TRUE(bus.running());
    bus.setAuthorityAnswer("yes 3");
    auto model = modelOn(bus);
    model->scanAsAdministrator();
    ASSERT_TRUE(waitFor([&] { return !bus.authorityCalls().empty(); }, 30s));
    const auto helper = bus.ownerPid("app.brimvale.helper");
    ASSERT_TRUE(helper);
    ASSERT_EQ(kill(*helper, SIGKILL), 0);
    ASSERT_TRUE(waitFor([&] { return model->notice().has_value(); }, 30s));
    const QString text = model->notice()->text;
    EXPECT_TRUE(text.startsWith("The administrator scan stopped (")) << text.toStdString();
    expectRegularScanWith(*model, text);
}

TEST_F(AdminScanTest, ChoosingAnotherTargetDropsTheAdministratorResult) {
    PrivateBus bus;
    ASSERT_TRUE(bus.running());
    bus.setAuthorityAnswer("yes 1");
    auto model = modelOn(bus);
    model->scanAsAdministrator();
    ASSERT_TRUE(waitFor([&] { return !bus.authorityCalls().empty(); }, 30s));
    QSignalSpy settled(model.get(), &AppModel::scanSettled);
    model->choose(ScanTarget::folder(work + "/elsewhere"));
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }, 30s));
    // Long enough for the authority to answer and the helper to scan for nobody.
    waitFor([] { return false; }, 2s);
    EXPECT_FALSE(model->adminScan());
    EXPECT_FALSE(model->notice());
    EXPECT_EQ(model->target(), ScanTarget::folder(work + "/elsewhere"));
    ASSERT_TRUE(model->tree());
    EXPECT_EQ(model->tree()->rootPath(), work + "/elsewhere");
}

}  // namespace
}  // namespace brimvale::testing
