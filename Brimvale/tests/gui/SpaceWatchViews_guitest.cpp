#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "AppTestFixture.h"
#include "HistoryFixture.h"
#include "QuenwickCore/TideHistory.h"

// The popover and the History section on a real display, over histories saved as daily files in
// the test's own data folder and loaded back as the app does.
namespace brimvale::testing {
namespace {

class SpaceWatchViewsTest : public AppTest {
protected:
    // The windows are made once for the suite (a chart's first paint is slow on a software
    // renderer); every test gives them a model of its own.
    static void SetUpTestSuite() {
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->rootContext()->setContextProperty("appModel", nullptr);
        theme = engine->singletonInstance<QObject*>(qmlTypeId("Brimvale", 1, 0, "Theme"));
        QQmlComponent popoverComponent(engine.get(), QUrl("qrc:/qml/TideWatchPopover.qml"));
        popover.reset(qobject_cast<QQuickWindow*>(popoverComponent.create()));
        if (!popover) std::fprintf(stderr, "%s\n", qPrintable(popoverComponent.errorString()));
        QQmlComponent historyComponent(engine.get(), QUrl("qrc:/qml/HistoryView.qml"));
        historyView.reset(qobject_cast<QQuickItem*>(historyComponent.create()));
        if (!historyView) std::fprintf(stderr, "%s\n", qPrintable(historyComponent.errorString()));
        history = std::make_unique<QQuickWindow>();
        if (popover) {
            popover->setFlags(popover->flags() & ~Qt::Tool);
            popover->show();
        }
        if (historyView) {
            historyView->setParentItem(history->contentItem());
            history->resize(1000, 720);
            historyView->setSize(QSizeF(1000, 720));
            history->show();
        }
    }
    static void TearDownTestSuite() {
        historyView.reset();
        history.reset();
        popover.reset();
        engine.reset();
    }
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_NE(theme, nullptr);
        ASSERT_NE(popover, nullptr);
        ASSERT_NE(historyView, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(popover.get()));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(history.get()));
        model = makeModel();
        model->setStartupVolume(
            quenwick::VolumeInfo{500'000'000'000, 60'000'000'000, 60'000'000'000});
        engine->rootContext()->setContextProperty("appModel", model.get());
        inHistory("tideWatch")->setProperty("window", 7);
    }
    void TearDown() override {
        engine->rootContext()->setContextProperty("appModel", nullptr);
        model.reset();
        AppTest::TearDown();
    }

    // Saves the summaries as daily files and gives the model what the store loads back.
    void record(const std::vector<quenwick::TideSummary>& summaries) {
        const quenwick::TideHistory store(data + "/Brimvale/History");
        std::filesystem::remove_all(store.directory());
        for (const auto& s : summaries)
            ASSERT_FALSE(store.save(s));
        model->setHistory(store.load());
        ASSERT_EQ(model->history().size(), summaries.size());
        QTest::qWait(20);
    }

    // Delegates and chart series are not always QObject children of the view: look through the
    // visual children too.
    static void collect(QObject* root, const QString& name, QList<QObject*>& found) {
        QList<QObject*> next = root->children();
        if (auto* item = qobject_cast<QQuickItem*>(root))
            for (QQuickItem* child : item->childItems())
                if (!next.contains(child)) next.push_back(child);
        for (QObject* child : next) {
            if (child->objectName() == name && !found.contains(child)) found.push_back(child);
            collect(child, name, found);
        }
    }
    static QList<QObject*> all(QObject* root, const char* name) {
        QList<QObject*> found;
        collect(root, name, found);
        return found;
    }
    QObject* inPopover(const char* name) const {
        const auto found = all(popover->contentItem(), name);
        return found.isEmpty() ? nullptr : found.front();
    }
    QObject* inHistory(const char* name) const {
        const auto found = all(historyView.get(), name);
        return found.isEmpty() ? nullptr : found.front();
    }
    static QString text(QObject* o) { return o ? o->property("text").toString() : "(missing)"; }
    static bool shown(QObject* o) { return o && o->property("visible").toBool(); }
    QColor themeColor(const char* name) const { return theme->property(name).value<QColor>(); }

    // No text of either view shows a number that went wrong.
    void expectSaneTexts() const {
        for (QQuickItem* root : {popover->contentItem(), historyView.get()})
            for (QObject* item : all(root, "")) {
                const QString t = item->property("text").toString().toLower();
                EXPECT_FALSE(t.contains("nan") || t.contains("inf") || t.contains("+-") ||
                             t.contains("about -"))
                    << t.toStdString();
            }
    }

    std::unique_ptr<AppModel> model;
    static inline std::unique_ptr<QQmlApplicationEngine> engine;
    static inline QObject* theme = nullptr;
    static inline std::unique_ptr<QQuickWindow> popover;
    static inline std::unique_ptr<QQuickWindow> history;
    static inline std::unique_ptr<QQuickItem> historyView;
};

TEST_F(SpaceWatchViewsTest, ForecastTextsAndColoursAtTheThresholds) {
    struct Case {
        double days;
        const char* popover;  // empty: none shown
        bool orange;
        const char* subtitleEnd;
    };
    const Case cases[] = {
        {0.5, "At this rate it fills within a day.", true, "fills in about 0 days."},
        {6.9, "At this rate it fills in about 6 days.", true, "fills in about 6 days."},
        {7, "At this rate it fills in about 7 days.", false, "fills in about 7 days."},
        {60, "", false, "fills in about 60 days."},
        {400, "", false, "Usage isn't trending toward full."},
    };
    for (const auto& c : cases) {
        record(linearHistory(10, c.days));
        QObject* forecast = inPopover("forecast");
        if (*c.popover == '\0') {
            EXPECT_FALSE(shown(forecast)) << c.days;
        } else {
            EXPECT_TRUE(shown(forecast)) << c.days;
            EXPECT_EQ(text(forecast), c.popover);
            EXPECT_EQ(forecast->property("color").value<QColor>(),
                      themeColor(c.orange ? "orange" : "secondaryText"))
                << c.days;
        }
        EXPECT_TRUE(text(inHistory("subtitle")).startsWith("Recording since "));
        EXPECT_TRUE(text(inHistory("subtitle")).endsWith(c.subtitleEnd))
            << text(inHistory("subtitle")).toStdString();
    }
}

TEST_F(SpaceWatchViewsTest, FortySummariesGiveThirtyInTheSparklineAndFortyInTheChart) {
    record(linearHistory(40, 100));
    QObject* plot = inPopover("sparklinePlot");
    ASSERT_TRUE(shown(plot));
    EXPECT_EQ(plot->property("points").toList().size(), 30);
    EXPECT_FALSE(shown(inPopover("sparklineEmpty")));
    ASSERT_TRUE(shown(inHistory("usageChart")));
    EXPECT_FALSE(shown(inHistory("chartEmpty")));
    QObject* chart = inHistory("usageChart");
    ASSERT_NE(chart, nullptr);
    // The chart keeps its series to itself; it reports their point counts.
    EXPECT_TRUE(waitFor([&] { return chart->property("usedCount").toInt() == 40; }));
    EXPECT_TRUE(chart->property("capacityShown").toBool());
    EXPECT_EQ(chart->property("capacityCount").toInt(), 2);
}

TEST_F(SpaceWatchViewsTest, EqualUsageGivesTheSparklineItsMinimumDomain) {
    record(linearHistory(6, 0, 0, 80));
    QObject* plot = inPopover("sparklinePlot");
    ASSERT_TRUE(shown(plot));
    EXPECT_DOUBLE_EQ(plot->property("low").toDouble(), 80 * 0.995);
    EXPECT_DOUBLE_EQ(plot->property("high").toDouble(), 80 * 0.995 + 1);
}

TEST_F(SpaceWatchViewsTest, EightGrowthEntriesShowFiveInThePopoverAndAllInHistory) {
    record(grownHistory(8));
    EXPECT_EQ(inPopover("popoverGrowth")->property("count").toInt(), 5);
    EXPECT_FALSE(shown(inPopover("popoverGrowthEmpty")));
    EXPECT_EQ(inHistory("historyGrowth")->property("count").toInt(), 8);
    EXPECT_FALSE(shown(inHistory("historyGrowthEmpty")));
    // Every bar shows, the largest fills the track.
    const auto bars = all(historyView.get(), "growthBar");
    ASSERT_EQ(bars.size(), 8);
    double widest = 0;
    for (QObject* bar : bars) {
        EXPECT_GE(bar->property("width").toDouble(), 2);
        widest = std::max(widest, bar->property("width").toDouble());
    }
    EXPECT_EQ(widest, qobject_cast<QQuickItem*>(bars.front())->parentItem()->width());
    EXPECT_EQ(all(historyView.get(), "revealButton").size(), 8);
}

TEST_F(SpaceWatchViewsTest, EmptyHistoryAndOneSummaryShowTheirTexts) {
    for (const size_t summaries : {0, 1}) {
        record(linearHistory(summaries, 10));
        EXPECT_TRUE(shown(inPopover("sparklineEmpty")));
        EXPECT_EQ(text(inPopover("sparklineEmpty")), "Usage history starts today");
        EXPECT_EQ(text(inPopover("popoverGrowthEmpty")),
                  QString::fromUtf8("Brimvale records a little each day — check back tomorrow."));
        EXPECT_TRUE(shown(inHistory("chartEmpty")));
        EXPECT_FALSE(shown(inHistory("usageChart")));
        EXPECT_EQ(text(inHistory("historyGrowthEmpty")), "Needs at least two days of history.");
    }
    EXPECT_EQ(text(inHistory("subtitle")).left(16), "Recording since ");
    record({});
    EXPECT_EQ(text(inHistory("subtitle")), "History starts with your first scan.");
    // Two summaries where nothing grew.
    record(linearHistory(2, 10));
    EXPECT_EQ(text(inPopover("popoverGrowthEmpty")), "Nothing grew by more than 100 MB.");
    EXPECT_EQ(text(inHistory("historyGrowthEmpty")),
              "Nothing grew by more than 100 MB in this window.");
}

TEST_F(SpaceWatchViewsTest, HeaderShowsFreeSpaceAndTurnsOrangeAboveNinetyPercent) {
    record(linearHistory(3, 10));
    EXPECT_EQ(text(inPopover("freeText")), "60.0 GB");
    EXPECT_EQ(text(inPopover("percentText")), "88% full");
    EXPECT_EQ(inPopover("usageBar")->property("tint").value<QColor>(), themeColor("accent"));
    model->setStartupVolume(quenwick::VolumeInfo{500'000'000'000, 40'000'000'000, 40'000'000'000});
    EXPECT_EQ(text(inPopover("percentText")), "92% full");
    EXPECT_EQ(inPopover("usageBar")->property("tint").value<QColor>(), themeColor("orange"));
    // An unmounted (unknown) volume: no header at all.
    model->setStartupVolume(std::nullopt);
    EXPECT_FALSE(shown(inPopover("freeText")));
    EXPECT_FALSE(shown(inPopover("forecast")));
}

TEST_F(SpaceWatchViewsTest, BadHistoriesNeverShowBrokenNumbers) {
    // 400 summaries, a total of 0, a day above capacity, shrinking folders, dates out of order.
    auto many = linearHistory(400, 3);
    many[100].volumeTotal = 0;
    many[398].volumeUsed = 900'000'000'000;
    // Handed over directly: 400 synced daily files would take seconds to write.
    model->setHistory(many);
    expectSaneTexts();
    auto shrunk = grownHistory(3);
    for (auto& [path, bytes] : shrunk[1].folders)
        bytes = 1;
    shrunk[0].volumeTotal = shrunk[1].volumeTotal = 0;
    record(shrunk);
    expectSaneTexts();
    EXPECT_EQ(inHistory("historyGrowth")->property("count").toInt(), 0);
    model->setStartupVolume(quenwick::VolumeInfo{0, 0, 0});
    EXPECT_EQ(text(inPopover("percentText")), "0% full");
    expectSaneTexts();
}

TEST_F(SpaceWatchViewsTest, WindowPickerChangesTheGrowthList) {
    auto summaries = grownHistory(4);
    // A third day on which nothing grew: the last day shows nothing, the last week all four.
    for (auto& s : summaries)
        s.date -= 86'400;
    summaries.push_back(summaries.back());
    summaries.back().date += 86'400;
    record(summaries);
    QObject* watch = inHistory("tideWatch");
    EXPECT_EQ(watch->property("window").toInt(), 7);
    EXPECT_EQ(inHistory("historyGrowth")->property("count").toInt(), 4);
    auto* lastDay = qobject_cast<QQuickItem*>(inHistory("window1"));
    ASSERT_NE(lastDay, nullptr);
    QTest::mouseClick(
        history.get(), Qt::LeftButton, {},
        lastDay->mapToScene(QPointF(lastDay->width() / 2, lastDay->height() / 2)).toPoint());
    EXPECT_TRUE(waitFor([&] { return watch->property("window").toInt() == 1; }));
    EXPECT_EQ(inHistory("historyGrowth")->property("count").toInt(), 0);
    EXPECT_EQ(text(inHistory("historyGrowthEmpty")),
              "Nothing grew by more than 100 MB in this window.");
}

}  // namespace
}  // namespace brimvale::testing
