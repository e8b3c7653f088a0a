#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>

// Updater: "Check for Updates…", "Check Now" and the daily automatic check. It fetches a version
// list from the URL in the settings, a JSON object {"versions": [{"version": "1.2.0", "url":
// "https://..."}, ...]}, and says whether a version newer than this build exists, with its
// download link. With an empty URL nothing is ever fetched. A list larger than maxBytes, one that
// does not parse, or one that takes longer than the timeout is a failed check; nothing here
// waits: answers arrive as checked(). GUI thread.
namespace brimvale {

struct UpdateCheck {
    enum class Outcome { newer, upToDate, failed };
    Outcome outcome = Outcome::failed;
    QString version;  // newer: the newest version offered
    QUrl link;        // newer: where to get it
    QString error;    // failed: why
};

class Updater : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 maxBytes = 1 << 20;

    Updater(QUrl feed, QString currentVersion, QObject* parent = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(15));

    // Starts a check unless one runs or there is no URL; false when nothing was started.
    bool checkNow();
    // The daily check, first one a minute after it is switched on.
    void setAutomaticChecks(bool on, std::chrono::milliseconds period = std::chrono::hours(24));
    bool automaticChecks() const { return daily_.isActive(); }

    // What a version list says against the current version.
    [[nodiscard]] static UpdateCheck judge(const QByteArray& list, const QString& currentVersion);

signals:
    void checked(const brimvale::UpdateCheck& result);

private:
    QUrl feed_;
    QString current_;
    std::chrono::milliseconds timeout_;
    QNetworkAccessManager network_;
    QPointer<QNetworkReply> running_;
    QTimer daily_;
};

}  // namespace brimvale
