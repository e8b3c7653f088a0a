#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

#include "AppTestFixture.h"
#include "QuenwickCore/ChangeJournal.h"
#include "QuenwickCore/JournalRecorder.h"
#include "QuenwickCore/Snapshot.h"
#include "lifecycle/AppSettings.h"
#include "orchestration/AppJournalRecorder.h"

namespace brimvale::testing {
namespace {

using quenwick::testing::makeDirs;
using quenwick::testing::writeFile;
using Path = AppModel::LoadPath;

// The change journal's recorder over some roots, on a thread of its own, for as long as it lives.
class Recorder {
public:
    explicit Recorder(std::vector<std::string> roots) {
        quenwick::JournalRecorder::Options options;
        options.roots = std::move(roots);
        options.flushInterval = std::chrono::milliseconds(10);
        auto started = quenwick::JournalRecorder::start(std::move(options));
        if (auto* r = std::get_if<std::unique_ptr<quenwick::JournalRecorder>>(&started)) {
            recorder_ = std::move(*r);
            thread_ = std::thread([this] { (void)recorder_->run(); });
        } else {
            ADD_FAILURE() << std::get<quenwick::JournalRecorder::StartError>(started).describe();
        }
    }
    ~Recorder() {
        if (!recorder_) return;
        recorder_->stop();
        thread_.join();
    }

private:
    std::unique_ptr<quenwick::JournalRecorder> recorder_;
    std::thread thread_;
};

class OrchestrationTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(makeDirs(work + "/a/b"));
        ASSERT_TRUE(writeFile(work + "/a/b/one.txt", "one"));
        ASSERT_TRUE(writeFile(work + "/top.txt", "top"));
    }

    // Loads the target as a user's choice would and waits until its tree is on screen.
    static bool chooseAndWait(AppModel& model, const ScanTarget& target) {
        QSignalSpy settled(&model, &AppModel::scanSettled);
        model.choose(target);
        return waitFor([&] { return settled.count() > 0 && model.phase() == Phase::ready; });
    }
    static bool loadAndWait(AppModel& model, bool quiet) {
        QSignalSpy settled(&model, &AppModel::scanSettled);
        model.load(model.target(), quiet);
        return waitFor([&] { return settled.count() > 0; });
    }
};

TEST_F(OrchestrationTest, FirstLoadScansThenLaterLoadsUseTheSnapshotAndCatchUp) {
    Recorder recorder({work});
    const auto target = ScanTarget::folder(work);
    {
        auto model = makeModel();
        ASSERT_TRUE(chooseAndWait(*model, target));
        EXPECT_EQ(model->lastLoadPath(), Path::fullScan);
        EXPECT_TRUE(exists(model->snapshotURL(target)));
        EXPECT_EQ(model->settings().itemCount(work), int64_t(model->tree()->count()));
    }
    {
        auto model = makeModel();
        ASSERT_TRUE(chooseAndWait(*model, target));
        EXPECT_EQ(model->lastLoadPath(), Path::snapshot);
        EXPECT_TRUE(model->tree()->nodeAtPath(work + "/a/b/one.txt"));
    }
    ASSERT_TRUE(writeFile(work + "/a/b/two.txt", "two"));
    auto model = makeModel();
    ASSERT_TRUE(chooseAndWait(*model, target));
    EXPECT_EQ(model->lastLoadPath(), Path::incremental);
    EXPECT_TRUE(model->tree()->nodeAtPath(work + "/a/b/two.txt"));
}

TEST_F(OrchestrationTest, UnusableSnapshotsGiveAFullScan) {
    Recorder recorder({work});
    const auto target = ScanTarget::folder(work);
    auto model = makeModel();
    const std::string url = model->snapshotURL(target);
    // Another root's snapshot under this target's name (the folder moved, say).
    ASSERT_TRUE(makeDirs(home + "/elsewhere"));
    ASSERT_FALSE(quenwick::Snapshot::save(*scan(home + "/elsewhere"), {home + "/elsewhere", 1, 1},
                                          url, 1, quenwick::Snapshot::MissingFolder::create));
    ASSERT_TRUE(chooseAndWait(*model, target));
    EXPECT_EQ(model->lastLoadPath(), Path::fullScan);
    EXPECT_EQ(model->tree()->rootPath(), work);

    for (const std::string& damaged : {std::string("QWS1\x01"), std::string("not a snapshot")}) {
        ASSERT_TRUE(writeFile(url, damaged));
        auto again = makeModel();
        ASSERT_TRUE(chooseAndWait(*again, target));
        EXPECT_EQ(again->lastLoadPath(), Path::fullScan);
        EXPECT_TRUE(again->tree()->nodeAtPath(work + "/top.txt"));
    }
}

TEST_F(OrchestrationTest, QuietCatchUpThatNeedsAFullScanChangesNothing) {
    // No recorder runs, so the journal cannot say what changed.
    const auto target = ScanTarget::folder(work);
    auto model = makeModel();
    ASSERT_TRUE(chooseAndWait(*model, target));
    const auto shown = model->tree();
    const qint64 revision = model->revision();
    QSignalSpy phases(model.get(), &AppModel::phaseChanged);
    ASSERT_TRUE(loadAndWait(*model, true));
    EXPECT_EQ(model->tree(), shown);
    EXPECT_EQ(model->revision(), revision);
    EXPECT_EQ(phases.count(), 0);
    EXPECT_EQ(model->phase(), Phase::ready);
}

TEST_F(OrchestrationTest, CatchUpKeepsTheFocusByPathOrReturnsToTheRoot) {
    Recorder recorder({work});
    auto model = makeModel();
    ASSERT_TRUE(chooseAndWait(*model, ScanTarget::folder(work)));
    model->focusOn(*model->tree()->nodeAtPath(work + "/a/b"));

    ASSERT_TRUE(makeDirs(work + "/new/deeper"));
    ASSERT_TRUE(writeFile(work + "/a/three.txt", "three"));
    const auto before = model->tree();
    ASSERT_TRUE(loadAndWait(*model, false));
    ASSERT_NE(model->tree(), before);
    EXPECT_EQ(model->lastLoadPath(), Path::incremental);
    EXPECT_TRUE(model->tree()->nodeAtPath(work + "/new/deeper"));
    EXPECT_EQ(model->tree()->path(model->focus()), work + "/a/b");

    quenwick::testing::removeTree(work + "/a");
    ASSERT_TRUE(loadAndWait(*model, true));
    EXPECT_FALSE(model->tree()->nodeAtPath(work + "/a"));
    EXPECT_EQ(model->focus(), quenwick::FileTree::root);
}

TEST_F(OrchestrationTest, LateResultOfAnAbandonedTargetIsDropped) {
    auto model = makeModel();
    QSignalSpy settled(model.get(), &AppModel::scanSettled);
    model->choose(ScanTarget::startupDisk());
    model->choose(ScanTarget::home());
    ASSERT_TRUE(waitFor([&] { return settled.count() >= 2 && model->phase() == Phase::ready; },
                        std::chrono::seconds(60)));
    bool dropped = false;
    for (const auto& call : settled)
        dropped = dropped || !call.first().toBool();
    EXPECT_TRUE(dropped);
    EXPECT_EQ(model->target(), ScanTarget::home());
    EXPECT_EQ(model->tree()->rootPath(), home);
}

TEST_F(OrchestrationTest, StopWhileTheSnapshotIsReadStartsNoFullScan) {
    auto model = makeModel();
    QSignalSpy settled(model.get(), &AppModel::scanSettled);
    QSignalSpy phases(model.get(), &AppModel::phaseChanged);
    model->choose(ScanTarget::folder(work));
    // The load's answer is still on its way back to this thread.
    model->stopScan();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    waitFor([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(settled.count(), 1);
    EXPECT_EQ(settled.first().first().toBool(), false);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_FALSE(model->tree());
    EXPECT_EQ(phases.count(), 2) << "updating, then idle again: never scanning";
}

TEST_F(OrchestrationTest, FolderOutsideHomeLeavesHistoryAloneAndSuggestionsUnavailable) {
    const std::string outside = root / "outside";
    ASSERT_TRUE(makeDirs(outside + "/x"));
    auto model = makeModel();
    ASSERT_TRUE(chooseAndWait(*model, ScanTarget::folder(outside)));
    EXPECT_EQ(model->shorelinePhase(), ShorelinePhase::unavailable);
    EXPECT_TRUE(model->shoreline().empty());
    QTest::qWait(200);
    EXPECT_FALSE(exists(data + "/Brimvale/History"));

    ASSERT_TRUE(chooseAndWait(*model, ScanTarget::home()));
    EXPECT_TRUE(waitFor([&] { return model->shorelinePhase() == ShorelinePhase::ready; }));
    EXPECT_TRUE(waitFor([&] { return !model->history().empty(); }));
    EXPECT_TRUE(exists(data + "/Brimvale/History"));
}

TEST_F(OrchestrationTest, RescanDropsTheTreeAndStartsFromTheRoot) {
    auto model = makeModel();
    ASSERT_TRUE(chooseAndWait(*model, ScanTarget::folder(work)));
    model->focusOn(*model->tree()->nodeAtPath(work + "/a"));
    QSignalSpy settled(model.get(), &AppModel::scanSettled);
    QSignalSpy phases(model.get(), &AppModel::phaseChanged);
    model->rescan();
    EXPECT_EQ(model->phase(), Phase::scanning);
    EXPECT_FALSE(model->tree());
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    EXPECT_EQ(model->phase(), Phase::ready);
    EXPECT_EQ(model->focus(), quenwick::FileTree::root);
    EXPECT_FALSE(model->progress().has_value());
}

TEST(AppSettingsTest, ItemCountsOfAnyRootReadBackExactly) {
    quenwick::testing::TempDir dir;
    const std::vector<std::string> roots = {"/", "/home/ann", "/srv/a b=c;d%e", "/tmp/\xff\xfe",
                                            "/x/[group]/y"};
    {
        AppSettings settings(dir.path());
        for (size_t i = 0; i < roots.size(); ++i)
            settings.setItemCount(roots[i], int64_t(1000 + i));
        ASSERT_TRUE(settings.sync());
    }
    AppSettings settings(dir.path());
    for (size_t i = 0; i < roots.size(); ++i)
        EXPECT_EQ(settings.itemCount(roots[i]), 1000 + i);
    EXPECT_EQ(settings.itemCount("/home"), 0);
    // No root was split into QSettings groups.
    QSettings raw(QString::fromStdString(settings.file()), QSettings::IniFormat);
    EXPECT_TRUE(raw.childGroups().isEmpty());
    EXPECT_EQ(raw.childKeys().size(), qsizetype(roots.size()));
}

TEST(AppSettingsTest, DefaultsAndWrongTypes) {
    quenwick::testing::TempDir dir;
    ASSERT_TRUE(makeDirs(dir / "Brimvale"));
    ASSERT_TRUE(writeFile(dir / "Brimvale/Brimvale.conf",
                          "[General]\nshowMenuBar=maybe\nalertLowSpace=false\ntourSeen=3\n"
                          "itemCount%3A%252F=lots\n"));
    AppSettings settings(dir.path());
    EXPECT_TRUE(settings.showMenuBar());
    EXPECT_FALSE(settings.alertEnabled(quenwick::TideAlert::lowSpace(1)));
    EXPECT_TRUE(settings.alertEnabled(quenwick::TideAlert::fillingFast(2)));
    EXPECT_TRUE(settings.alertEnabled(quenwick::TideAlert::bigGrowth("/x", 3)));
    EXPECT_FALSE(settings.tourSeen());
    EXPECT_EQ(settings.itemCount("/"), 0);
}

}  // namespace
}  // namespace brimvale::testing

namespace brimvale::testing {
namespace {

TEST_F(OrchestrationTest, RemovalDuringAnalysisChangesACopyAndTheAnalysisIsRedone) {
    // Large twins keep the duplicate finder hashing for a while.
    ASSERT_TRUE(makeDirs(home + "/Movies"));
    for (const char* name : {"/Movies/a.bin", "/Movies/b.bin", "/Movies/c.bin", "/Movies/d.bin"})
        ASSERT_TRUE(quenwick::testing::writeFileOfSize(home + name, 90u << 20));
    auto model = makeModel();
    stageAndWait(*model, work + "/top.txt");
    ASSERT_TRUE(model->isStaged(work + "/top.txt"));
    ASSERT_TRUE(chooseAndWait(*model, ScanTarget::home()));
    ASSERT_EQ(model->shorelinePhase(), ShorelinePhase::analyzing);
    const auto analysed = model->tree();
    const auto node = *analysed->nodeAtPath(work + "/top.txt");

    const auto result = removeAndWait(*model, false);
    ASSERT_TRUE(result);
    ASSERT_EQ(model->shorelinePhase(), ShorelinePhase::analyzing) << "analysis ended too soon";
    // The analysis still reads the tree it was given, exactly as it was.
    EXPECT_FALSE(analysed->flags(node).contains(quenwick::NodeFlags::dead));
    ASSERT_NE(model->tree(), analysed);
    EXPECT_EQ(model->tree()->count(), analysed->count());
    EXPECT_TRUE(model->tree()->flags(node).contains(quenwick::NodeFlags::dead));

    ASSERT_TRUE(waitFor([&] { return model->shorelinePhase() == ShorelinePhase::ready; },
                        std::chrono::seconds(30)));
    bool twins = false;
    for (const auto& c : model->shoreline())
        for (const auto& f : c.findings) {
            EXPECT_NE(f.path, work + "/top.txt");
            twins = twins || f.path.find("/Movies/") != std::string::npos;
        }
    EXPECT_TRUE(twins);
}

TEST_F(OrchestrationTest, WatchLoopCatchesUpQuietlyOnlyOnceTheTreeIsOld) {
    Recorder recorder({work});
    auto model = makeModel();
    ASSERT_TRUE(chooseAndWait(*model, ScanTarget::folder(work)));
    ASSERT_TRUE(writeFile(work + "/a/later.txt", "later"));
    const auto shown = model->tree();
    QSignalSpy phases(model.get(), &AppModel::phaseChanged);
    model->startTideWatch({std::chrono::milliseconds(30), std::chrono::seconds(3600)});
    QTest::qWait(300);
    EXPECT_EQ(model->tree(), shown);

    model->setLastRefresh(std::chrono::system_clock::now() - std::chrono::hours(7));
    ASSERT_TRUE(waitFor([&] { return model->tree() != shown; }));
    EXPECT_TRUE(model->tree()->nodeAtPath(work + "/a/later.txt"));
    EXPECT_EQ(model->lastLoadPath(), Path::incremental);
    // Quiet: the phase never left ready on the way.
    EXPECT_EQ(phases.count(), 0);
    EXPECT_GT(model->lastRefresh(), std::chrono::system_clock::now() - std::chrono::minutes(1));
}

TEST_F(OrchestrationTest, AppRecordsTheJournalItselfUnlessAServiceDoes) {
    const quenwick::ChangeJournal journal(quenwick::ChangeJournal::defaultDirectory());
    {
        AppJournalRecorder own;
        own.cover(work);
        ASSERT_TRUE(waitFor([&] { return own.state() == AppJournalRecorder::State::recording; }));
        EXPECT_TRUE(journal.recorderRunning());
        EXPECT_EQ(own.roots(), std::set<std::string>{work});
        own.cover(home + "/elsewhere-not-yet");
        ASSERT_TRUE(makeDirs(home + "/elsewhere-not-yet"));
        own.cover(home);
        ASSERT_TRUE(waitFor([&] {
            return own.roots().count(home) == 1 &&
                   own.state() == AppJournalRecorder::State::recording;
        }));
    }
    // Quitting ends the recording cleanly.
    EXPECT_FALSE(journal.recorderRunning());
    const uint64_t last = journal.lastPosition();
    ASSERT_GT(last, 1u);
    const auto replay = journal.readSince(last - 1);
    ASSERT_FALSE(replay.records.empty());
    EXPECT_EQ(replay.records.back().kind, quenwick::JournalRecord::Kind::stop);

    Recorder service({work});
    AppJournalRecorder app;
    app.cover(work);
    ASSERT_TRUE(waitFor([&] { return app.state() == AppJournalRecorder::State::leftToService; }));
}

}  // namespace
}  // namespace brimvale::testing
