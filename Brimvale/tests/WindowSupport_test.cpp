#include <QClipboard>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestFixture.h"
#include "PrivateSessionBus.h"
#include "Shoreline/Shoreline.h"
#include "model/NoticeClock.h"
#include "model/WindowCommands.h"
#include "model/WindowTexts.h"
#include "platform/DesktopActions.h"
#include "platform/IconProvider.h"
#include "platform/SymbolIcons.h"

namespace brimvale::testing {

// The desktop's file manager, served by the test on its private bus.
class FileManagerStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit FileManagerStandIn(const QString& address)
        : connection_(QDBusConnection::connectToBus(address, "test-file-manager")) {
        connection_.registerObject("/org/freedesktop/FileManager1", this,
                                   QDBusConnection::ExportAllSlots);
        connection_.registerService("org.freedesktop.FileManager1");
    }
    ~FileManagerStandIn() override { QDBusConnection::disconnectFromBus("test-file-manager"); }

    QStringList items, folders;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { items << uris; }
    void ShowFolders(const QStringList& uris, const QString&) { folders << uris; }

private:
    QDBusConnection connection_;
};

namespace {

using quenwick::testing::makeDirs;
using quenwick::testing::writeFile;
using quenwick::testing::writeFileOfSize;

class WindowSupportTest : public AppTest {};

TEST_F(WindowSupportTest, DroppedFilesAreStagedByTheirExactBytesAndOtherDropsAreIgnored) {
    auto model = makeModel();
    WindowCommands commands(model.get());
    const std::string drop = work + "/drop";
    ASSERT_TRUE(makeDirs(drop));
    QList<QUrl> urls;
    for (int i = 0; i < 1000; ++i) {
        const std::string path = drop + "/f" + std::to_string(i);
        ASSERT_TRUE(writeFile(path, "x"));
        urls << DesktopActions::fileUrl(path);
    }
    const std::string latin1 = work + "/caf\xE9.txt";
    ASSERT_TRUE(writeFile(latin1, "bytes"));
    urls << DesktopActions::fileUrl(latin1);

    const QList<QUrl> notFiles{QUrl("https://example.org/file.txt"), QUrl("mailto:a@b.c"),
                               QUrl::fromLocalFile(QString::fromStdString(drop + "/f1"))
                                   .adjusted(QUrl::None)
                                   .resolved(QUrl("?q=1"))};
    EXPECT_FALSE(commands.dropHasFiles(notFiles));
    EXPECT_EQ(commands.stageDrop(notFiles), 0);
    EXPECT_TRUE(commands.dropHasFiles(urls));

    EXPECT_EQ(commands.stageDrop(urls + notFiles), 1001);
    ASSERT_TRUE(waitFor([&] { return model->lowTide().size() == 1001; }, std::chrono::seconds(30)));
    EXPECT_EQ(model->lowTide().front().path, drop + "/f0");
    EXPECT_EQ(model->lowTide().back().path, latin1) << "the name's exact bytes";
    EXPECT_EQ(model->lowTide().back().name, QString("caf\uFFFD.txt"));
}

TEST_F(WindowSupportTest, RingMenuStagesANodeByItsExactBytesAndNeverUnstages) {
    // The ring's menu once staged the path shown on screen, whose U+FFFD named another file.
    const std::string odd = work + "/caf\xE9";
    ASSERT_TRUE(makeDirs(odd));
    ASSERT_TRUE(writeFile(odd + "/menu.txt", "x"));
    auto model = makeModel();
    show(*model, work);
    const auto node = *model->tree()->nodeAtPath(odd);
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->stageNode(node);
    ASSERT_TRUE(waitFor([&] { return model->lowTide().size() == 1; }));
    EXPECT_EQ(model->lowTide().front().path, odd);
    model->stageNode(node);
    ASSERT_TRUE(waitFor([&] { return model->notice().has_value(); }));
    EXPECT_EQ(model->lowTide().size(), 1u) << "a second time only says it is listed";
}

TEST_F(WindowSupportTest, ChosenFolderBecomesTheTargetAndACancelledChoiceChangesNothing) {
    auto model = makeModel();
    WindowCommands commands(model.get());
    const ScanTarget before = model->target();
    commands.chooseFolder(QUrl());
    EXPECT_EQ(model->target(), before);
    const std::string folder = work + "/Projects \xFF";
    ASSERT_TRUE(makeDirs(folder));
    commands.chooseFolder(DesktopActions::fileUrl(folder + "/"));
    EXPECT_EQ(model->target(), ScanTarget::folder(folder));
    ASSERT_TRUE(waitFor([&] { return model->phase() == Phase::ready; }));
}

TEST_F(WindowSupportTest, FileManagerIsAskedWithExactBytesElseTheFolderOpens) {
    PrivateSessionBus bus;
    if (!bus.running()) GTEST_SKIP() << "needs dbus-daemon";
    auto model = makeModel();
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "test-actions");
    QList<QUrl> opened;
    DesktopActions actions(model.get(), connection, [&](const QUrl& url) { opened << url; });
    QSignalSpy shown(&actions, &DesktopActions::shown);
    const std::string file = work + "/r\xE9sum\xE9.pdf";

    // Nobody serves the file manager: the folder opens instead.
    actions.reveal(file);
    ASSERT_TRUE(waitFor([&] { return shown.count() == 1; }));
    EXPECT_FALSE(shown.last().at(0).toBool());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.last().toEncoded(), QByteArray("file://") + QByteArray(work.c_str()));
    actions.openTrash();
    ASSERT_TRUE(waitFor([&] { return shown.count() == 2; }));
    EXPECT_EQ(opened.last().toLocalFile().toStdString(), data + "/Trash/files");

    {
        FileManagerStandIn manager(bus.address());
        actions.reveal(file);
        ASSERT_TRUE(waitFor([&] { return shown.count() == 3; }));
        EXPECT_TRUE(shown.last().at(0).toBool());
        EXPECT_EQ(manager.items, QStringList{QString("file://") + QString::fromStdString(work) +
                                             "/r%E9sum%E9.pdf"});
        actions.openTrash();
        ASSERT_TRUE(waitFor([&] { return shown.count() == 4; }));
        EXPECT_EQ(manager.folders, QStringList{"trash:///"});
        EXPECT_EQ(opened.size(), 2) << "nothing opened besides";
    }
    QDBusConnection::disconnectFromBus("test-actions");
}

TEST_F(WindowSupportTest, CopyPathGivesTextAndTheExactUrl) {
    if (!QGuiApplication::clipboard()) GTEST_SKIP() << "no clipboard";
    DesktopActions actions(nullptr, QDBusConnection("none"));
    actions.copyPath(work + "/na\xEFve");
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text(), QString::fromStdString(work) + "/na\uFFFDve");
    ASSERT_EQ(data->urls().size(), 1);
    EXPECT_TRUE(data->urls().front().toEncoded().endsWith("/na%EFve"));
}

TEST_F(WindowSupportTest, EverySymbolHasABundledPictureDrawnInTheAskedColour) {
    for (const QString& symbol : SymbolIcons::symbols())
        EXPECT_FALSE(SymbolIcons::bundledFile(SymbolIcons::freedesktopName(symbol)).isEmpty())
            << symbol.toStdString();
    // Every suggestion category's card shows its symbol.
    for (const auto& rule : shoreline::Shoreline::rules()) {
        const QString symbol = QString::fromStdString(rule->symbol());
        EXPECT_TRUE(SymbolIcons::symbols().contains(symbol)) << rule->id();
    }
    EXPECT_EQ(SymbolIcons::freedesktopName("chevron.left"), "go-previous");
    EXPECT_EQ(SymbolIcons::freedesktopName("no.such.symbol"), "no.such.symbol");

    // Black becomes the colour, white becomes clear.
    QPixmap picture(2, 1);
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgb(0, 0, 0));
    image.setPixel(1, 0, qRgb(255, 255, 255));
    picture.convertFromImage(image);
    const QImage out = IconProvider::tinted(picture, QColor("#d13d3d"), true).toImage();
    EXPECT_EQ(out.pixelColor(0, 0), QColor("#d13d3d"));
    EXPECT_EQ(out.pixelColor(1, 0).alpha(), 0);

    IconProvider icons;
    EXPECT_EQ(icons.itemIconName("anything.png", true), "folder");
    QSize size;
    const QPixmap drawn = icons.requestPixmap("symbol/chevron.left/5b5bd6", &size, QSize(32, 32));
    EXPECT_EQ(size, QSize(32, 32));
    EXPECT_FALSE(drawn.isNull());
    EXPECT_TRUE(icons.requestPixmap("item/f/report%2F.pdf/5b5bd6", &size, {}).width() > 0)
        << "odd names still get a picture";
}

TEST_F(WindowSupportTest, NoticeClockClearsOnlyTheNoticeItStarted) {
    auto model = makeModel();
    NoticeClock clock;
    EXPECT_EQ(clock.interval(), 5000);
    clock.setInterval(600);
    clock.setModel(model.get());
    model->setNotice(Notice::make("first", false));
    QTest::qWait(400);
    const Notice newer = Notice::make("first", false);  // same text, a newer notice
    model->setNotice(newer);
    QTest::qWait(350);  // past the first notice's time
    ASSERT_TRUE(model->notice().has_value());
    EXPECT_EQ(model->notice()->id, newer.id);
    EXPECT_TRUE(waitFor([&] { return !model->notice(); }, std::chrono::seconds(2)));
}

TEST_F(WindowSupportTest, TextsCountItemsWarningsAndResults) {
    EXPECT_EQ(WindowTexts::items(1), "1 item");
    EXPECT_EQ(WindowTexts::items(0), "0 items");
    EXPECT_EQ(WindowTexts::items(500), "500 items");

    for (const char* d : {"/a/.git", "/b/.git", "/c"})
        ASSERT_TRUE(makeDirs(work + d));
    for (const char* p : {"/a/.git/HEAD", "/b/.git/HEAD", "/c/file"})
        ASSERT_TRUE(writeFile(work + p, "ref: refs/heads/main\n"));
    auto model = makeModel();
    show(*model, work);
    WindowTexts texts(model.get());
    EXPECT_EQ(texts.trayCount(), "Nothing staged");
    stageAndWait(*model, work + "/a/.git");
    EXPECT_EQ(texts.cautionCount(), 1);
    EXPECT_EQ(texts.cautionConfirm(), "I've read the 1 warning above and still want to remove it.");
    stageAndWait(*model, work + "/b/.git");
    stageAndWait(*model, work + "/c/file");
    EXPECT_EQ(texts.cautionConfirm(),
              "I've read the 2 warnings above and still want to remove them.");
    const QString bytes = model->formatBytes(model->stagedBytes());
    EXPECT_EQ(texts.trayCount(), "3 items · " + bytes);
    EXPECT_EQ(texts.reviewTitle(), "Move 3 items to the Trash?");
    EXPECT_EQ(texts.reviewSubtitle(), bytes +
                                          " will be moved to the Trash. You can put anything "
                                          "back from the Trash in your file manager until you "
                                          "empty it.");
    EXPECT_EQ(texts.deleteTitle(), "Delete 3 items permanently?");
    const uint64_t available = model->startupVolume()->available;
    EXPECT_EQ(texts.spaceAfterMove(),
              "Space available after moving: " + model->formatBytes(available));
    EXPECT_EQ(texts.spaceAfterDelete(), "Space available after deleting: " +
                                            model->formatBytes(available + model->stagedBytes()));

    TrashResult moved{false, 1, 4096, {}};
    EXPECT_EQ(texts.resultTitle(moved),
              "Moved 1 item (" + model->formatBytes(4096) + ") to the Trash");
    TrashResult deleted{true, 2, 8192, {"x: gone"}};
    EXPECT_EQ(texts.resultTitle(deleted), "Deleted 2 items (" + model->formatBytes(8192) + ")");
    EXPECT_TRUE(texts.resultBody(deleted).startsWith("They're gone from your computer."));

    EXPECT_EQ(texts.checkboxHelp(StageState::off, "Movies"), "Add Movies to the Cleanup List");
    EXPECT_EQ(texts.checkboxHelp(StageState::on, "Movies"), "In the Cleanup List");
    EXPECT_EQ(texts.checkboxHelp(StageState::insideStaged, "Movies"),
              "Already in the Cleanup List as part of a folder you ticked");
}

TEST_F(WindowSupportTest, HoverShareIsTheHoveredSizeOverTheWholeInnerRing) {
    ASSERT_TRUE(writeFileOfSize(work + "/one", 4096));
    ASSERT_TRUE(writeFileOfSize(work + "/two", 8192));
    auto model = makeModel();
    show(*model, work, quenwick::VolumeInfo{1'000'000'000, 250'000'000, 250'000'000});
    WindowTexts texts(model.get());
    QSignalSpy hover(&texts, &WindowTexts::hoverChanged);
    QSignalSpy changed(&texts, &WindowTexts::changed);
    EXPECT_EQ(texts.hoverShare(), "");
    const auto one = *model->tree()->nodeAtPath(work + "/one");
    model->hoverNode(one);
    EXPECT_EQ(hover.count(), 1);
    EXPECT_EQ(changed.count(), 0) << "the pointer recomputes the hover info only";
    EXPECT_EQ(texts.hoverLabel(), "one");
    EXPECT_EQ(texts.hoverSize(), model->formatBytes(model->tree()->size(one)));
    const double share = 100.0 * static_cast<double>(model->tree()->size(one)) /
                         static_cast<double>(model->tree()->size(0));
    EXPECT_EQ(texts.hoverShare(), QString::number(std::llround(share)) + "%");
    EXPECT_EQ(texts.centreFree(), model->formatBytes(250'000'000) + " free");
    model->focusOn(*model->tree()->nodeAtPath(work));
    EXPECT_EQ(texts.subtitle(), "work");
    model->setAdminScan(true);
    EXPECT_EQ(texts.subtitle(), "work · scanned as administrator");
}

TEST_F(WindowSupportTest, SavingsLineFollowsTheTrashLedgerFromWaitingToErasingToFreed) {
    ASSERT_TRUE(writeFileOfSize(work + "/old.iso", 64 * 1024));
    auto model = makeModel();
    show(*model, work);
    WindowTexts texts(model.get());
    EXPECT_EQ(texts.savingsState(), WindowTexts::SavingsState::none);
    stageAndWait(*model, work + "/old.iso");
    const uint64_t bytes = model->stagedBytes();
    ASSERT_TRUE(removeAndWait(*model, false).has_value());
    ASSERT_EQ(texts.savingsState(), WindowTexts::SavingsState::waiting);
    const QString b = model->formatBytes(bytes);
    EXPECT_EQ(texts.savingsLong(), "Brimvale cleared <b>" + b + "</b>, waiting in the Trash");
    EXPECT_EQ(texts.savingsShort(), "Cleared <b>" + b + "</b>");
    EXPECT_TRUE(texts.emptyLong().startsWith("Empty it and you'll have <b>"));
    EXPECT_TRUE(texts.emptyShort().endsWith("</b> if emptied"));
    EXPECT_TRUE(texts.savingsTooltip().contains(
        b +
        " Brimvale moved to the Trash is still there. It counts as used until the Trash is "
        "emptied."));
    EXPECT_EQ(texts.deleteNowMessage(),
              "The " + b +
                  " Brimvale moved to the Trash will be deleted now, faster than "
                  "emptying the Trash. Nothing else in the Trash is touched. This can't "
                  "be undone.");

    QString whileErasing;
    QObject::connect(model.get(), &AppModel::erasingBytesChanged, [&] {
        if (model->erasingBytes() > 0) whileErasing = texts.savingsLong();
    });
    model->deleteClearedTrashNow();
    ASSERT_TRUE(waitFor([&] { return texts.savingsState() == WindowTexts::SavingsState::freed; }));
    EXPECT_EQ(whileErasing, "Deleting <b>" + b + "</b>");
    EXPECT_EQ(texts.savingsLong(), "Freed by Brimvale: <b>" + b + "</b>");
    EXPECT_EQ(texts.savingsShort(), "Freed <b>" + b + "</b>");
    EXPECT_TRUE(texts.savingsTooltip().startsWith(
        "Space freed so far by items Brimvale cleared: " + b + "."));
    EXPECT_FALSE(texts.savingsTooltip().contains("is still there"));
}

}  // namespace
}  // namespace brimvale::testing

#include "WindowSupport_test.moc"
