#include <QMetaProperty>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AppTestFixture.h"
#include "QuenwickCore/DeletionGuard.h"

namespace brimvale {
namespace {

using quenwick::VolumeInfo;
using testing::AppTest;

class AppModelStateTest : public AppTest {};

TEST_F(AppModelStateTest, FreshModelStartsIdleOnTheStartupDiskWithNothingListed) {
    auto model = makeModel();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->target(), ScanTarget::startupDisk());
    EXPECT_EQ(model->focus(), 0u);
    EXPECT_EQ(model->section(), AppSection::explorer);
    EXPECT_EQ(model->shorelinePhase(), ShorelinePhase::idle);
    EXPECT_TRUE(model->lowTide().empty());
    EXPECT_FALSE(model->notice());
    EXPECT_FALSE(model->tourStep());
    EXPECT_EQ(model->erasingBytes(), 0u);
    EXPECT_TRUE(model->segments().empty());
    // Free space moves while other programs write; the volume's size does not.
    ASSERT_TRUE(model->startupVolume());
    EXPECT_EQ(model->startupVolume()->total, VolumeInfo::containing("/")->total);
}

TEST_F(AppModelStateTest, EveryChangingPropertyHasANotifySignal) {
    auto model = makeModel();
    const QMetaObject* meta = model->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        EXPECT_TRUE(p.isConstant() || p.hasNotifySignal()) << p.name();
    }
}

// Each observed field written twice with the same value: the first write notifies once, the
// second notifies nobody.
TEST_F(AppModelStateTest, EqualWriteNotifiesNobody) {
    auto model = makeModel();
    AppModel& m = *model;
    quenwick::ScanProgress progress;
    progress.files = 3;
    progress.bytes = 4096;
    quenwick::TideSummary day;
    day.date = 1e9;
    shoreline::ShorelineCategory category;
    category.id = "logs";
    const VolumeInfo volume{1000, 400, 400};
    const Notice notice = Notice::make("Hello", false);
    struct Case {
        const char* property;
        std::function<void()> write;
    };
    const std::vector<Case> cases = {
        {"section", [&] { m.setSection(AppSection::history); }},
        {"tourStep", [&] { m.setTourStep(2); }},
        {"trashBytes", [&] { m.setTrashBytes(77); }},
        {"adminScan", [&] { m.setAdminScan(true); }},
        {"history", [&] { m.setHistory({day}); }},
        {"startupVolume", [&] { m.setStartupVolume(volume); }},
        {"target", [&] { m.setTarget(ScanTarget::home()); }},
        {"phase", [&] { m.setPhase(Phase::scanning); }},
        {"progress", [&] { m.setProgress(progress); }},
        {"hovered", [&] { m.setHovered(ringkit::RingSegment::Kind::hidden()); }},
        {"volume", [&] { m.setVolume(volume); }},
        {"notice", [&] { m.setNotice(notice); }},
        {"hasFullDiskAccess", [&] { m.setHasFullDiskAccess(false); }},
        {"shoreline", [&] { m.setShoreline({category}); }},
        {"shorelinePhase", [&] { m.setShorelinePhase(ShorelinePhase::analyzing); }},
    };
    const QMetaObject* meta = m.metaObject();
    for (const auto& c : cases) {
        const QMetaProperty p = meta->property(meta->indexOfProperty(c.property));
        ASSERT_TRUE(p.hasNotifySignal()) << c.property;
        QSignalSpy spy(&m, p.notifySignal());
        c.write();
        EXPECT_EQ(spy.count(), 1) << c.property << ": a change notifies";
        c.write();
        EXPECT_EQ(spy.count(), 1) << c.property << ": an equal write notifies nobody";
    }
}

// The fields that only operations write: an operation that leaves them as they were notifies
// nobody; relayout always counts a new layout.
TEST_F(AppModelStateTest, OperationsThatChangeNothingNotifyNobody) {
    auto model = makeModel();
    ASSERT_TRUE(quenwick::testing::makeDirs(work + "/sub"));
    ASSERT_TRUE(quenwick::testing::writeFileOfSize(work + "/sub/f", 5000));
    model->setTarget(ScanTarget::folder(work));
    model->installTree(scan(work), std::nullopt);
    const auto sub = *model->tree()->nodeAtPath(work + "/sub");
    shoreline::ShorelineCategory category{"c", "C", "", "", {}};
    category.findings = {{work + "/sub/f", "f", 5000, shoreline::Safety::safe, "",
                          *quenwick::DeletionGuard::live().check(work + "/sub/f").allowed()}};
    model->setShoreline({category});
    model->setAll(category, true);
    model->focusOn(sub);

    std::vector<std::unique_ptr<QSignalSpy>> quiet;
    for (auto signal : {&AppModel::focusChanged, &AppModel::segmentsChanged,
                        &AppModel::lowTideChanged, &AppModel::shorelineCheckedChanged,
                        &AppModel::revisionChanged, &AppModel::trashLedgerChanged,
                        &AppModel::erasingBytesChanged, &AppModel::removingChanged})
        quiet.push_back(std::make_unique<QSignalSpy>(model.get(), signal));
    QSignalSpy layout(model.get(), &AppModel::layoutIDChanged);
    model->focusOn(sub);
    model->relayout();
    model->setAll(category, true);
    model->unstage(QUuid::createUuid());
    EXPECT_FALSE(model->moveToTrash()) << "an empty list starts nothing";
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->refreshTrashLedger();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    for (const auto& spy : quiet)
        EXPECT_EQ(spy->count(), 0) << spy->signal().toStdString();
    EXPECT_EQ(layout.count(), 1);
}

TEST_F(AppModelStateTest, NoticesWithTheSameTextButNewIdsAreShownInTurn) {
    auto model = makeModel();
    QSignalSpy spy(model.get(), &AppModel::noticeChanged);
    const Notice first = Notice::make("Added 1 item (4.1 kB) to the Cleanup List.", false);
    model->setNotice(first);
    model->setNotice(first);
    EXPECT_EQ(spy.count(), 1);
    model->setNotice(Notice::make(first.text, false));
    EXPECT_EQ(spy.count(), 2);
    EXPECT_NE(model->notice()->id, first.id);
    EXPECT_EQ(model->noticeValue().value<Notice>().text, first.text);
}

TEST_F(AppModelStateTest, FolderCalledHomeIsTitledHomeButIsNotTheHomeTarget) {
    const ScanTarget folder = ScanTarget::folder("/srv/Home");
    EXPECT_EQ(folder.title("Startup Disk"), "Home");
    EXPECT_NE(folder, ScanTarget::home());
    EXPECT_EQ(ScanTarget::home().title("x"), "Home");
    EXPECT_EQ(ScanTarget::home().rootPath("/home/ann"), "/home/ann");
    EXPECT_EQ(ScanTarget::startupDisk().rootPath("/home/ann"), "/");
    EXPECT_EQ(folder, ScanTarget::folder("/srv/Home"));
    EXPECT_NE(folder, ScanTarget::folder("/srv/home"));
    // A name that is not UTF-8 shows with a replacement character.
    EXPECT_EQ(ScanTarget::folder("/srv/caf\xE9").title({}), QString::fromUtf8("caf\uFFFD"));
}

TEST_F(AppModelStateTest, StartupDiskWithoutALabelIsTitledStartupDisk) {
    EXPECT_EQ(AppEnvironment::startupDiskNameFor(""), "Startup Disk");
    EXPECT_EQ(AppEnvironment::startupDiskNameFor("  "), "Startup Disk");
    EXPECT_EQ(AppEnvironment::startupDiskNameFor("debian-root"), "debian-root");

    auto services = this->services();
    services.environment.startupDiskName = AppEnvironment::startupDiskNameFor("");
    AppModel model(services);
    ASSERT_TRUE(waitFor([&] { return model.startupVolume().has_value(); }));
    ASSERT_TRUE(quenwick::testing::writeFile(work + "/f", "x"));
    model.installTree(scan(work), std::nullopt);
    EXPECT_EQ(model.targetTitle(), "Startup Disk");
    EXPECT_EQ(model.label(ringkit::RingSegment::Kind::node(0)), "Startup Disk");
    ASSERT_TRUE(model.storage());
    EXPECT_EQ(model.storage()->name, "Startup Disk");
}

}  // namespace
}  // namespace brimvale
