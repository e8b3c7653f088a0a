#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestFixture.h"
#include "lifecycle/Updater.h"

namespace brimvale::testing {
namespace {

// A one-route HTTP server on 127.0.0.1 that answers every request with `body`, after `delayMs`.
class FeedServer {
public:
    FeedServer() { listening = server_.listen(QHostAddress::LocalHost, 0); }
    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/versions.json").arg(server_.serverPort()));
    }
    void serve(QByteArray body, int delayMs = 0) {
        QObject::disconnect(&server_, nullptr, nullptr, nullptr);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this, body, delayMs] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QTimer::singleShot(delayMs, socket, [socket, body] {
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n");
                socket->write(body);
                socket->disconnectFromHost();
            });
        });
    }
    bool listening = false;

private:
    QTcpServer server_;
};

std::optional<UpdateCheck> checkOnce(Updater& updater) {
    QSignalSpy checked(&updater, &Updater::checked);
    if (!updater.checkNow()) return std::nullopt;
    if (!checked.wait(5000)) return std::nullopt;
    return checked.first().first().value<UpdateCheck>();
}

const QByteArray kList = R"({"versions": [
    {"version": "0.9.0", "url": "https://example.invalid/0.9.0"},
    {"version": "1.2.0", "url": "https://example.invalid/1.2.0"},
    {"version": "1.10.0", "url": "https://example.invalid/1.10.0"},
    {"version": "2.0.0-beta", "url": "https://example.invalid/beta"},
    {"version": "3.0.0", "url": "file:///etc/passwd"}]})";

TEST(UpdaterTest, NewerSameAndOlderVersionsAgainstALocalFeed) {
    FeedServer server;
    ASSERT_TRUE(server.listening);
    server.serve(kList);
    Updater older(server.url(), "1.2.0");
    auto result = checkOnce(older);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, UpdateCheck::Outcome::newer);
    EXPECT_EQ(result->version, "1.10.0");
    EXPECT_EQ(result->link, QUrl("https://example.invalid/1.10.0"));

    Updater same(server.url(), "1.10.0");
    result = checkOnce(same);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, UpdateCheck::Outcome::upToDate);
    Updater newer(server.url(), "1.11");
    result = checkOnce(newer);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, UpdateCheck::Outcome::upToDate);
}

TEST(UpdaterTest, MalformedHugeOrSlowListsFailAndNoUrlChecksNothing) {
    FeedServer server;
    ASSERT_TRUE(server.listening);
    Updater updater(server.url(), "1.0.0", nullptr, std::chrono::milliseconds(500));
    for (const QByteArray& bad :
         {QByteArray("not json"), QByteArray(R"({"versions": 3})"), QByteArray("[]"),
          QByteArray(R"({"versions": [{"version": "9", "url": "https://x.invalid/"}], )") +
              QByteArray(Updater::maxBytes + 10, ' ') + "}"}) {
        server.serve(bad);
        const auto result = checkOnce(updater);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->outcome, UpdateCheck::Outcome::failed) << bad.left(40).toStdString();
    }
    server.serve(kList, 2000);
    const auto slow = checkOnce(updater);
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->outcome, UpdateCheck::Outcome::failed);

    Updater unset(QUrl(), "1.0.0");
    EXPECT_FALSE(unset.checkNow());
    unset.setAutomaticChecks(true, std::chrono::milliseconds(20));
    QSignalSpy checked(&unset, &Updater::checked);
    QTest::qWait(100);
    EXPECT_EQ(checked.count(), 0);
}

TEST(UpdaterTest, DailyCheckRunsOnItsTimer) {
    FeedServer server;
    ASSERT_TRUE(server.listening);
    server.serve(kList);
    Updater updater(server.url(), "1.0.0");
    QSignalSpy checked(&updater, &Updater::checked);
    updater.setAutomaticChecks(true, std::chrono::milliseconds(50));
    EXPECT_TRUE(checked.wait(3000));
    updater.setAutomaticChecks(false);
    EXPECT_FALSE(updater.automaticChecks());
}

class AppUpdatesTest : public AppTest {};

TEST_F(AppUpdatesTest, WithoutAUrlTheAppNeverChecks) {
    auto model = makeModel();
    QSignalSpy checked(model.get(), &AppModel::updateChecked);
    EXPECT_FALSE(model->checkForUpdates());
    model->startUpdateChecks(std::chrono::milliseconds(20));
    EXPECT_FALSE(model->automaticUpdateChecks());
    QTest::qWait(200);
    EXPECT_EQ(checked.count(), 0);
    EXPECT_FALSE(model->notice());
}

TEST_F(AppUpdatesTest, CheckForUpdatesTellsOfANewerVersionAndTheDailyCheckFollowsItsSetting) {
    FeedServer server;
    ASSERT_TRUE(server.listening);
    server.serve(kList);
    auto model = makeModel();
    model->settings().setUpdateFeedURL(server.url().toString());
    QSignalSpy checked(model.get(), &AppModel::updateChecked);
    ASSERT_TRUE(model->checkForUpdates());
    ASSERT_TRUE(checked.wait(5000));
    ASSERT_TRUE(model->notice());
    EXPECT_EQ(model->notice()->text,
              "Brimvale 1.10.0 is available: https://example.invalid/1.10.0");
    EXPECT_FALSE(model->notice()->isWarning);

    // Asked for, a list that cannot be read is said; the daily check keeps quiet about it.
    server.serve("{not json");
    model->setNotice(std::nullopt);
    ASSERT_TRUE(model->checkForUpdates());
    ASSERT_TRUE(checked.wait(5000));
    ASSERT_TRUE(model->notice());
    EXPECT_EQ(model->notice()->text,
              "Couldn't check for updates (the version list cannot be read).");
    model->setNotice(std::nullopt);
    model->startUpdateChecks(std::chrono::milliseconds(50));
    EXPECT_TRUE(model->automaticUpdateChecks()) << "on by default";
    ASSERT_TRUE(checked.wait(5000));
    EXPECT_FALSE(model->notice());

    model->setAutomaticUpdateChecks(false);
    EXPECT_FALSE(model->automaticUpdateChecks());
    EXPECT_FALSE(model->settings().automaticUpdateChecks());
    model->setAutomaticUpdateChecks(true);
    EXPECT_TRUE(model->automaticUpdateChecks());
}

}  // namespace
}  // namespace brimvale::testing
