#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "AppTestFixture.h"
#include "app/MainWindowSupport.h"
#include "model/NoticeClock.h"
#include "platform/DesktopActions.h"
#include "platform/DesktopAppearance.h"

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::testing::makeDirs;
using quenwick::testing::writeFileOfSize;

// The real main window over a model of a real tree in the temporary home:
//   work/Movies/{big.mkv, small.mkv}, work/Photos/a.jpg, work/notes.txt, work/site/.git/pack
class MainWindowTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        for (const char* d : {"/Movies", "/Photos", "/site/.git"})
            ASSERT_TRUE(makeDirs(work + d));
        ASSERT_TRUE(writeFileOfSize(work + "/Movies/big.mkv", 96 * 1024));
        ASSERT_TRUE(writeFileOfSize(work + "/Movies/small.mkv", 32 * 1024));
        ASSERT_TRUE(writeFileOfSize(work + "/Photos/a.jpg", 40 * 1024));
        ASSERT_TRUE(writeFileOfSize(work + "/notes.txt", 8 * 1024));
        ASSERT_TRUE(writeFileOfSize(work + "/site/.git/pack", 16 * 1024));
        model = makeModel();
        // The tour would start over the window with the first tree; its own tests cover it.
        model->settings().setTourSeen(true);
        show(*model, work, quenwick::VolumeInfo{volumeTotal, volumeFree, volumeFree});

        appearance = std::make_unique<DesktopAppearance>(false);
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->rootContext()->setContextProperty("appearance", appearance.get());
        engine->rootContext()->setContextProperty("appModel", model.get());
        installMainWindow(*engine, *model);
        // Nothing opens on the test's desktop: what would open is recorded.
        actions = new DesktopActions(
            model.get(), QDBusConnection("none"), [this](const QUrl& url) { opened << url; },
            engine.get());
        engine->rootContext()->setContextProperty("desktop", actions);
        engine->load(QUrl("qrc:/qml/Main.qml"));
        ASSERT_FALSE(engine->rootObjects().isEmpty());
        window = qobject_cast<QQuickWindow*>(engine->rootObjects().first());
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        // Shortcuts go to the active window only.
        window->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }
    void TearDown() override {
        engine.reset();
        model.reset();
        AppTest::TearDown();
    }

    // Every item on screen, popups included (delegates are not QObject children of their view).
    static void collect(QQuickItem* item, QList<QQuickItem*>& out) {
        out << item;
        for (QQuickItem* child : item->childItems())
            collect(child, out);
    }
    QList<QQuickItem*> items() const {
        QList<QQuickItem*> out;
        QQuickItem* top = window->contentItem();
        while (top->parentItem())
            top = top->parentItem();
        collect(top, out);
        return out;
    }
    QList<QQuickItem*> named(const QString& name) const {
        QList<QQuickItem*> out;
        for (QQuickItem* i : items())
            if (i->objectName() == name) out << i;
        return out;
    }
    QObject* find(const char* name) const {
        if (QObject* o = window->findChild<QObject*>(name)) return o;
        const auto found = named(name);
        return found.isEmpty() ? nullptr : found.first();
    }
    QString text(const char* name) const {
        QObject* o = find(name);
        EXPECT_NE(o, nullptr) << name;
        return o ? o->property("text").toString() : QString();
    }
    bool visible(const char* name) const {
        auto* item = qobject_cast<QQuickItem*>(find(name));
        return item && item->isVisible();
    }
    void click(QQuickItem* item, Qt::MouseButton button = Qt::LeftButton) {
        ASSERT_NE(item, nullptr);
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window, button, {}, centre.toPoint());
    }
    void click(const char* name) { click(qobject_cast<QQuickItem*>(find(name))); }
    // The item list's delegate showing a name, or null.
    QQuickItem* row(const QString& name) const {
        for (QQuickItem* box : named("stageBox"))
            for (QQuickItem* p = box; p; p = p->parentItem())
                if (p->property("node").isValid() && p->property("name").toString() == name)
                    return p;
        return nullptr;
    }
    QQuickItem* boxOf(const QString& name) const {
        QQuickItem* r = row(name);
        if (!r) return nullptr;
        QList<QQuickItem*> inside;
        collect(r, inside);
        for (QQuickItem* i : inside)
            if (i->objectName() == "stageBox") return i;
        return nullptr;
    }
    FileTree::Node node(const std::string& relative) const {
        return *model->tree()->nodeAtPath(work + relative);
    }
    bool inRing(FileTree::Node n) const {
        for (const auto& s : model->segments())
            if (s.kind.isNode() && s.kind.index == n) return true;
        return false;
    }
    // The destructive button of an open confirmation.
    QQuickItem* confirmButton(QObject* dialog) const {
        for (QQuickItem* b : named("confirmButton"))
            if (b->isVisible() && dialog->property("opened").toBool()) return b;
        return nullptr;
    }
    QObject* review() const { return qvariant_cast<QObject*>(window->property("review")); }
    void openReview() {
        click("reviewButton");
        ASSERT_TRUE(waitFor([&] { return review()->property("opened").toBool(); }));
    }

    static constexpr uint64_t volumeTotal = 20'000'000'000'000ull;  // 20 TB
    static constexpr uint64_t volumeFree = 7'500'000'000'000ull;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<DesktopAppearance> appearance;
    std::unique_ptr<QQmlApplicationEngine> engine;
    DesktopActions* actions = nullptr;
    QList<QUrl> opened;
    QQuickWindow* window = nullptr;
};

TEST_F(MainWindowTest, ExplorerShowsTheTreeWithItsExactTexts) {
    EXPECT_EQ(window->title(), "Brimvale");
    EXPECT_EQ(window->size(), QSize(1240, 800));
    EXPECT_EQ(window->property("subtitle").toString(), "work");
    model->setAdminScan(true);
    EXPECT_EQ(text("subtitle"), "work · scanned as administrator");

    EXPECT_EQ(text("centreTitle"), "work");
    EXPECT_EQ(text("centreDetail"), model->formatBytes(model->tree()->size(0)));
    EXPECT_EQ(text("centreFree"), model->formatBytes(volumeFree) + " free");
    EXPECT_EQ(text("listTitle"), "work");
    EXPECT_EQ(text("ringHint"),
              "Click a slice to open it · click the centre to go up · "
              "right-click to add to the Cleanup List");
    EXPECT_EQ(text("trayCount"), "Nothing staged");
    EXPECT_EQ(text("trayEmptyText"),
              "Tick the box beside an item, drag things here, or right-click a slice. Nothing is "
              "removed until you review and confirm. Then it goes to the Trash, unless you choose "
              "to delete it for good.");
    EXPECT_FALSE(find("reviewButton")->property("enabled").toBool());
    EXPECT_EQ(text("storageUsage"),
              model->formatBytes(model->storage()->total - model->storage()->available) + " of " +
                  model->formatBytes(model->storage()->total) + " used, " +
                  model->formatBytes(model->storage()->available) + " available");

    QObject* up = find("upButton");
    EXPECT_EQ(up->property("help").toString(), "Go up one level (Alt+Up)");
    EXPECT_FALSE(up->property("enabled").toBool()) << "at the root";
    EXPECT_EQ(text("scanButton"), "Rescan");
    EXPECT_EQ(find("scanButton")->property("help").toString(), "Scan again from scratch (Ctrl+R)");

    // A folder opened from its chevron: its name and size, no free space, Up available.
    ASSERT_TRUE(waitFor([&] { return row("Movies") != nullptr; }));
    model->focusOn(node("/Movies"));
    ASSERT_TRUE(waitFor([&] { return text("centreTitle") == "Movies"; }));
    EXPECT_EQ(text("centreDetail"), model->formatBytes(model->tree()->size(node("/Movies"))));
    EXPECT_FALSE(visible("centreFree"));
    EXPECT_TRUE(up->property("enabled").toBool());
    click("upButton");
    ASSERT_TRUE(waitFor([&] { return model->focus() == 0; }));

    // Hovering a row highlights its arc and says what it is.
    QQuickItem* photos = row("Photos");
    ASSERT_NE(photos, nullptr);
    QTest::mouseMove(window, photos->mapToScene(QPointF(60, photos->height() / 2)).toPoint());
    ASSERT_TRUE(waitFor([&] { return model->hovered() == AppModel::Kind::node(node("/Photos")); }));
    EXPECT_TRUE(visible("hoverInfo"));
    EXPECT_EQ(text("hoverLabel"), "Photos");

    // A scan: "Stop", and the bytes counted so far in the centre; a catch-up says so.
    model->setPhase(Phase::scanning);
    model->setProgress(quenwick::ScanProgress{10, 123456789, std::chrono::milliseconds(500)});
    EXPECT_EQ(text("scanButton"), "Stop");
    EXPECT_EQ(text("centreTitle"), "Scanning");
    EXPECT_EQ(text("centreDetail"), model->formatBytes(123456789));
    EXPECT_FALSE(visible("catchingUp"));
    model->setPhase(Phase::updating);
    EXPECT_TRUE(visible("catchingUp"));
    EXPECT_EQ(text("catchingUp"), "Catching up on changes…");
}

TEST_F(MainWindowTest, CheckboxHelpTextsFollowTheCleanupList) {
    ASSERT_TRUE(waitFor([&] { return boxOf("Movies") != nullptr; }));
    EXPECT_EQ(boxOf("Movies")->property("help").toString(), "Add Movies to the Cleanup List");
    click(boxOf("Movies"));
    ASSERT_TRUE(waitFor([&] { return model->lowTide().size() == 1; }));
    ASSERT_TRUE(waitFor(
        [&] { return boxOf("Movies")->property("help").toString() == "In the Cleanup List"; }));
    EXPECT_EQ(text("trayCount"), "1 item · " + model->formatBytes(model->stagedBytes()));

    model->focusOn(node("/Movies"));
    ASSERT_TRUE(waitFor([&] { return boxOf("big.mkv") != nullptr; }));
    EXPECT_EQ(boxOf("big.mkv")->property("help").toString(),
              "Already in the Cleanup List as part of a folder you ticked");
    click(boxOf("big.mkv"));
    ASSERT_TRUE(waitFor([&] { return model->notice().has_value(); }));
    EXPECT_EQ(text("noticeText"),
              "\u201Cbig.mkv\u201D is already in the Cleanup List (or inside something that is).");
    EXPECT_EQ(model->lowTide().size(), 1u) << "ticking inside a ticked folder stages nothing";

    // Unticking takes it out again.
    model->goUp();
    ASSERT_TRUE(waitFor([&] { return boxOf("Movies") != nullptr; }));
    click(boxOf("Movies"));
    ASSERT_TRUE(waitFor([&] { return model->lowTide().empty(); }));
}

TEST_F(MainWindowTest, ToastHidesItsNoticeAfterItsTimeUnlessANewerOneReplacedIt) {
    auto* clock = qvariant_cast<NoticeClock*>(window->property("noticeClock"));
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->interval(), 5000);
    clock->setInterval(800);
    model->setNotice(Notice::make("First", false));
    EXPECT_TRUE(visible("noticeText"));
    EXPECT_EQ(text("noticeText"), "First");
    QTest::qWait(500);
    model->setNotice(Notice::make("Second", true));
    QTest::qWait(500);  // the first notice's time is over, the second's is not
    EXPECT_EQ(text("noticeText"), "Second");
    EXPECT_TRUE(waitFor([&] { return !visible("noticeText"); }, std::chrono::seconds(3)));
    EXPECT_FALSE(model->notice().has_value());
}

TEST_F(MainWindowTest, ReviewMovesTwoTickedItemsToTheRealTrash) {
    ASSERT_TRUE(waitFor([&] { return boxOf("notes.txt") != nullptr; }));
    click(boxOf("notes.txt"));
    click(boxOf("Photos"));
    ASSERT_TRUE(waitFor([&] { return model->lowTide().size() == 2; }));
    const QString bytes = model->formatBytes(model->stagedBytes());
    const auto notes = node("/notes.txt"), photos = node("/Photos");
    ASSERT_TRUE(inRing(photos));
    openReview();
    EXPECT_EQ(text("reviewTitle"), "Move 2 items to the Trash?");
    EXPECT_EQ(text("reviewSubtitle"),
              bytes +
                  " will be moved to the Trash. You can put anything back from the Trash in "
                  "your file manager until you empty it.");
    EXPECT_EQ(text("spaceAfterMove"), "Space available after moving: " +
                                          model->formatBytes(model->startupVolume()->available));
    EXPECT_FALSE(visible("cautionCheck")) << "no cautions, no checkbox";

    click("moveButton");
    ASSERT_TRUE(waitFor([&] { return !text("resultTitle").isEmpty(); }));
    EXPECT_EQ(text("resultTitle"), "Moved 2 items (" + bytes + ") to the Trash");
    EXPECT_EQ(text("resultBody"),
              "The space comes back once you empty the Trash. Until then, you "
              "can still put anything back.");
    EXPECT_FALSE(visible("notMovedTitle"));
    EXPECT_TRUE(exists(data + "/Trash/files/notes.txt"));
    EXPECT_TRUE(exists(data + "/Trash/files/Photos/a.jpg"));
    EXPECT_FALSE(exists(work + "/notes.txt"));
    // Rows of removed items go once the list has caught up, which a busy machine delays.
    EXPECT_TRUE(waitFor([&] { return row("notes.txt") == nullptr && row("Photos") == nullptr; }));
    EXPECT_TRUE(waitFor([&] { return !inRing(notes) && !inRing(photos); }));
    EXPECT_EQ(text("trayCount"), "Nothing staged");
    click("doneButton");
    EXPECT_TRUE(waitFor([&] { return !review()->property("opened").toBool(); }));
}

TEST_F(MainWindowTest, ResultListsWhatWasNotMoved) {
    stageAndWait(*model, work + "/notes.txt");
    stageAndWait(*model, work + "/Photos/a.jpg");
    ASSERT_EQ(model->lowTide().size(), 2u);
    const QString photo = model->formatBytes(model->lowTide().back().bytes);
    // Gone behind the app's back: it cannot be moved.
    ASSERT_EQ(::unlink((work + "/notes.txt").c_str()), 0);
    openReview();
    click("moveButton");
    ASSERT_TRUE(waitFor([&] { return !text("resultTitle").isEmpty(); }));
    EXPECT_EQ(text("resultTitle"), "Moved 1 item (" + photo + ") to the Trash");
    ASSERT_TRUE(visible("notMovedTitle"));
    EXPECT_EQ(text("notMovedTitle"), "Not moved:");
    const auto lines = named("failureLine");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first()->property("text").toString().startsWith("notes.txt: "));
}

TEST_F(MainWindowTest, CautionsMustBeReadAndDeletingForGoodAsksOnceMore) {
    stageAndWait(*model, work + "/site/.git");
    ASSERT_EQ(model->lowTide().size(), 1u);
    const QString bytes = model->formatBytes(model->stagedBytes());
    openReview();
    ASSERT_TRUE(visible("cautionCheck"));
    EXPECT_EQ(text("cautionCheck"), "I've read the 1 warning above and still want to remove it.");
    EXPECT_TRUE(text("cautionText").contains("Version history of a project"));
    EXPECT_FALSE(find("moveButton")->property("enabled").toBool());
    EXPECT_FALSE(find("deleteImmediatelyButton")->property("enabled").toBool());
    click("cautionCheck");
    ASSERT_TRUE(waitFor([&] { return find("moveButton")->property("enabled").toBool(); }));

    click("deleteImmediatelyButton");
    QObject* dialog = qvariant_cast<QObject*>(review()->property("deleteDialog"));
    ASSERT_TRUE(waitFor([&] { return dialog->property("opened").toBool(); }));
    EXPECT_EQ(dialog->property("title").toString(), "Delete 1 item permanently?");
    EXPECT_EQ(dialog->property("message").toString(),
              bytes +
                  " will be deleted right away. Nothing goes to the Trash, so you can't put "
                  "any of it back. This can't be undone.");
    EXPECT_TRUE(exists(work + "/site/.git")) << "nothing happens before the second yes";
    click(confirmButton(dialog));
    ASSERT_TRUE(waitFor([&] { return !text("resultTitle").isEmpty(); }));
    EXPECT_EQ(text("resultTitle"), "Deleted 1 item (" + bytes + ")");
    EXPECT_EQ(text("resultBody"),
              "They're gone from your computer. The space comes back over the "
              "next moments as Brimvale finishes deleting in the background.");
    EXPECT_FALSE(exists(work + "/site/.git"));
    EXPECT_FALSE(exists(data + "/Trash/files/.git")) << "not in the Trash";
    // Escape closes the sheet.
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !review()->property("opened").toBool(); }));
}

TEST_F(MainWindowTest, SavingsLineLongAndShortAndDeleteNowAsksFirst) {
    EXPECT_FALSE(visible("savingsLine")) << "nothing cleared yet";
    stageAndWait(*model, work + "/Movies/big.mkv");
    const QString bytes = model->formatBytes(model->stagedBytes());
    ASSERT_TRUE(removeAndWait(*model, false).has_value());
    ASSERT_TRUE(waitFor([&] { return visible("savingsLine"); }));
    EXPECT_EQ(text("savingsText"), "Brimvale cleared <b>" + bytes + "</b>, waiting in the Trash");
    EXPECT_EQ(text("deleteNowButton"), "Delete Now…");
    window->resize(600, 400);
    ASSERT_TRUE(waitFor([&] { return text("savingsText") == "Cleared <b>" + bytes + "</b>"; }));
    EXPECT_TRUE(text("savingsEmptyText").endsWith("</b> if emptied"));
    EXPECT_EQ(text("deleteNowButton"), "Delete…");

    click("deleteNowButton");
    QObject* dialog = find("deleteNowDialog");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(waitFor([&] { return dialog->property("opened").toBool(); }));
    EXPECT_EQ(dialog->property("title").toString(), "Delete what Brimvale cleared, for good?");
    QTest::keyClick(window, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !dialog->property("opened").toBool(); }));
    EXPECT_TRUE(exists(data + "/Trash/files/big.mkv")) << "cancelled: nothing erased";
    click("deleteNowButton");
    ASSERT_TRUE(waitFor([&] { return dialog->property("opened").toBool(); }));
    click(confirmButton(dialog));
    ASSERT_TRUE(waitFor([&] { return text("savingsText") == "Freed <b>" + bytes + "</b>"; }));
    EXPECT_FALSE(exists(data + "/Trash/files/big.mkv"));
}

TEST_F(MainWindowTest, KeyboardAloneOpensFoldersGoesUpTicksAndRescans) {
    QObject* list = find("itemListView");
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(waitFor([&] { return list->property("count").toInt() == 4; }));
    qobject_cast<QQuickItem*>(list)->forceActiveFocus(Qt::TabFocusReason);
    // The first row is the biggest: Movies. The row under the keyboard lights its arc.
    ASSERT_TRUE(waitFor([&] { return model->hovered() == AppModel::Kind::node(node("/Movies")); }));
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return model->focus() == node("/Movies"); }));
    QTest::keyClick(window, Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return model->focus() == 0; }));
    QTest::keyClick(window, Qt::Key_Down);
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return model->lowTide().size() == 1; }));

    // The sidebar: arrows change the section.
    QObject* sidebar = find("sidebarList");
    qobject_cast<QQuickItem*>(sidebar)->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(window, Qt::Key_Down);
    EXPECT_EQ(model->section(), AppSection::shoreline);
    QTest::keyClick(window, Qt::Key_Up);
    EXPECT_EQ(model->section(), AppSection::explorer);

    for (const auto& key : {QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::Key_F5)}) {
        QSignalSpy settled(model.get(), &AppModel::scanSettled);
        QTest::keySequence(window, key);
        EXPECT_TRUE(waitFor([&] { return settled.count() > 0; })) << key.toString().toStdString();
        ASSERT_TRUE(waitFor([&] { return model->phase() == Phase::ready; }));
    }
}

TEST_F(MainWindowTest, SmallWindowKeepsTheControlsOnScreen) {
    window->resize(600, 400);
    ASSERT_TRUE(waitFor([&] { return window->width() == 600 && window->height() == 400; }));
    const QRectF screen(0, 0, 600, 400);
    const auto names = {"upButton",  "scanButton",   "targetButton", "reviewButton",
                        "trayCount", "itemListView", "ringPane",     "storageBar"};
    auto sceneRect = [&](const char* name) {
        auto* item = qobject_cast<QQuickItem*>(find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    };
    // The layout settles a few polishes after the resize.
    waitFor([&] {
        return std::all_of(names.begin(), names.end(),
                           [&](const char* n) { return screen.contains(sceneRect(n)); });
    });
    for (const char* name : names) {
        auto* item = qobject_cast<QQuickItem*>(find(name));
        ASSERT_NE(item, nullptr) << name;
        const QRectF r = sceneRect(name);
        EXPECT_TRUE(screen.contains(r)) << name;
        EXPECT_GT(r.width(), 10) << name;
        EXPECT_GT(r.height(), 8) << name;
    }
    EXPECT_NE(row("Movies"), nullptr) << "the list still shows rows";
}

}  // namespace
}  // namespace brimvale
