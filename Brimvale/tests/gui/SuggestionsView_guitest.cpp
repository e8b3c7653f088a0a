#include <fcntl.h>
#include <unistd.h>

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestFixture.h"
#include "QuickFinder.h"
#include "app/MainWindowSupport.h"

namespace brimvale {
namespace {

constexpr uint64_t kMiB = 1u << 20;

// A file whose blocks are really allocated (what the scan counts), without writing them.
bool allocate(const std::string& path, uint64_t bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = posix_fallocate(fd, 0, static_cast<off_t>(bytes)) == 0;
    ::close(fd);
    return ok;
}

class SuggestionsViewTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        model = makeModel();
        view = std::make_unique<QQuickView>();
        view->engine()->rootContext()->setContextProperty("appModel", model.get());
        installMainWindow(*view->engine(), *model);
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->setSource(QUrl("qrc:/qml/SuggestionsView.qml"));
        ASSERT_NE(view->rootObject(), nullptr);
        view->resize(1000, 1400);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    void TearDown() override {
        view.reset();
        model.reset();
        AppTest::TearDown();
    }

    QQuickItem* top() const { return view->rootObject(); }
    QString text(const char* name) const { return testing::textOf(top(), name); }

    // A cache folder of the XDG cache with one allocated file.
    void makeCache(const std::string& name, uint64_t bytes) {
        ASSERT_TRUE(quenwick::testing::makeDirs(cache + "/" + name));
        ASSERT_TRUE(allocate(cache + "/" + name + "/blob", bytes));
    }
    // Shows the home folder and runs the real analysis to its end.
    void analyzeHome() {
        show(*model, home);
        model->analyzeShoreline();
        ASSERT_TRUE(waitFor([&] { return model->shorelinePhase() == ShorelinePhase::ready; }));
        QTest::qWait(50);
    }
    QString sendText(int count, uint64_t bytes) const {
        return "Send " + QString::number(count) + " to the Cleanup List (" +
               model->formatBytes(bytes) + ")";
    }
    void openFirstCard() {
        QQuickItem* header = testing::visibleItem(top(), "cardHeader");
        ASSERT_NE(header, nullptr);
        testing::click(header);
        ASSERT_TRUE(waitFor([&] { return !testing::visibleItems(top(), "findingName").empty(); }));
    }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickView> view;
};

TEST_F(SuggestionsViewTest, WaitingAnalyzingEmptyAndUnavailableStatesSayWhatIsGoingOn) {
    EXPECT_EQ(text("stateLine"), "Waiting for the scan to finish…");
    EXPECT_EQ(testing::visibleItem(top(), "stateTitle"), nullptr);
    model->setShorelinePhase(ShorelinePhase::analyzing);
    EXPECT_EQ(text("stateLine"), "Looking for things you can safely remove…");

    // A home with nothing worth clearing.
    ASSERT_TRUE(quenwick::testing::writeFile(home + "/notes.txt", "hello"));
    analyzeHome();
    EXPECT_EQ(text("stateTitle"), "Nothing to clean up");
    EXPECT_EQ(text("stateLine"),
              "Brimvale didn't find caches, leftovers or duplicates worth removing.");
    EXPECT_EQ(testing::visibleItem(top(), "sendButton"), nullptr);

    const std::string outside = root / "outside";
    ASSERT_TRUE(quenwick::testing::makeDirs(outside + "/x"));
    show(*model, outside);
    model->analyzeShoreline();
    ASSERT_TRUE(waitFor([&] { return model->shorelinePhase() == ShorelinePhase::unavailable; }));
    EXPECT_EQ(text("stateTitle"), "Suggestions need your home folder");
    EXPECT_EQ(text("stateLine"),
              "Scan your Startup Disk or Home folder to see cleanup suggestions.");
}

TEST_F(SuggestionsViewTest, HeaderTotalsAndSendButtonFollowTheTickedFindings) {
    makeCache("app-one", 2 * kMiB);
    makeCache("app-two", 3 * kMiB);
    ASSERT_TRUE(quenwick::testing::makeDirs(data + "/Trash/files"));
    ASSERT_TRUE(allocate(data + "/Trash/files/old.iso", 4 * kMiB));
    analyzeHome();
    ASSERT_FALSE(model->shoreline().empty());
    const uint64_t safe = model->shorelineSafeBytes();
    ASSERT_GE(safe, 5 * kMiB);

    EXPECT_EQ(text("headerLead"), "Brimvale can free up to");
    EXPECT_EQ(text("headerSafe"), " " + model->formatBytes(safe) + " safely");
    EXPECT_EQ(text("headerAnother"),
              "Another " + model->formatBytes(model->shorelineTotalBytes() - safe) +
                  " is worth a look. Safe items are ticked for you; nothing is removed until you "
                  "confirm in the Cleanup List.");
    EXPECT_EQ(text("headerTrash"), "Your Trash already holds " +
                                       model->formatBytes(model->trashBytes()) +
                                       ". Empty it in your file manager to get that space back.");
    const auto ticked = model->checkedFindings();
    ASSERT_EQ(ticked.size(), 2u);
    EXPECT_EQ(text("sendButton"), sendText(2, ticked[0].bytes + ticked[1].bytes));

    // Unticking one finding by its checkbox takes it out of the count and the bytes.
    openFirstCard();
    const auto names = testing::visibleItems(top(), "findingName");
    const auto boxes = testing::visibleItems(top(), "findingCheck");
    ASSERT_EQ(boxes.size(), 2u);
    const QString firstName = names.front()->property("text").toString();
    testing::click(boxes.front());
    ASSERT_TRUE(waitFor([&] { return model->checkedFindings().size() == 1; }));
    const auto left = model->checkedFindings().front();
    EXPECT_NE(QString::fromStdString(left.name), firstName);
    EXPECT_EQ(text("sendButton"), sendText(1, left.bytes));
    EXPECT_EQ(text("cardTicked"), "1 of 2 ticked");
    // Paths under home are shown from "~".
    EXPECT_TRUE(testing::textOf(top(), "findingPath").startsWith("~/.cache/app-"));

    // Sending stages the ticked one: its row says so and the button has nothing left to send.
    testing::click(testing::visibleItem(top(), "sendButton"));
    ASSERT_TRUE(waitFor([&] { return model->lowTide().size() == 1; }));
    EXPECT_TRUE(waitFor([&] { return text("findingStaged") == "In the Cleanup List"; }));
    EXPECT_EQ(testing::visibleItems(top(), "findingCheck").size(), 1u);
    EXPECT_EQ(text("sendButton"), sendText(0, 0));
    EXPECT_FALSE(testing::visibleItem(top(), "sendButton")->property("enabled").toBool());
}

TEST_F(SuggestionsViewTest, CardListsAtMostTwoHundredFindingsThenHowManyMore) {
    for (int i = 0; i < 203; ++i)
        makeCache("cache-" + std::to_string(i), kMiB + 4096);
    analyzeHome();
    ASSERT_EQ(model->shoreline().size(), 1u);
    ASSERT_EQ(model->shoreline().front().findings.size(), 203u);
    EXPECT_EQ(text("cardTicked"), "203 of 203 ticked");
    EXPECT_EQ(testing::visibleItem(top(), "moreLine"), nullptr);
    openFirstCard();
    EXPECT_EQ(testing::visibleItems(top(), "findingName").size(), 200u);
    EXPECT_EQ(text("moreLine"), "…and 3 more");
    // The send button counts every ticked finding, listed or not.
    uint64_t all = 0;
    for (const auto& f : model->shoreline().front().findings)
        all += f.bytes;
    EXPECT_EQ(text("sendButton"), sendText(203, all));
}

TEST_F(SuggestionsViewTest, SafetyBadgesNameTheirLevel) {
    // The other platform's cache layout still counts; its system caches are only worth a look.
    ASSERT_TRUE(quenwick::testing::makeDirs(home + "/Library/Caches/com.apple.helpd"));
    ASSERT_TRUE(allocate(home + "/Library/Caches/com.apple.helpd/db", 2 * kMiB));
    makeCache("app-one", 3 * kMiB);
    analyzeHome();
    const auto headers = testing::visibleItems(top(), "cardHeader");
    for (QQuickItem* header : headers) {
        testing::click(header);
        QTest::qWait(30);
    }
    QStringList labels;
    for (QQuickItem* label : testing::visibleItems(top(), "safetyLabel"))
        labels << label->property("text").toString();
    labels.sort();
    EXPECT_EQ(labels, (QStringList{"Review", "Safe"}));
}

}  // namespace
}  // namespace brimvale
