#include "lifecycle/Updater.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QVersionNumber>

namespace brimvale {

Updater::Updater(QUrl feed, QString currentVersion, QObject* parent,
                 std::chrono::milliseconds timeout)
    : QObject(parent),
      feed_(std::move(feed)),
      current_(std::move(currentVersion)),
      timeout_(timeout) {
    connect(&daily_, &QTimer::timeout, this, [this] { checkNow(); });
}

bool Updater::checkNow() {
    if (feed_.isEmpty() || !feed_.isValid() || running_) return false;
    QNetworkRequest request(feed_);
    request.setTransferTimeout(int(timeout_.count()));
    QNetworkReply* reply = network_.get(request);
    running_ = reply;
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [reply, tooLarge](qint64 received, qint64 total) {
                if (received > maxBytes || total > maxBytes) {
                    *tooLarge = true;
                    reply->abort();
                }
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, tooLarge] {
        reply->deleteLater();
        running_ = nullptr;
        UpdateCheck result;
        if (*tooLarge) {
            result.error = QStringLiteral("the version list is too large");
        } else if (reply->error() != QNetworkReply::NoError) {
            result.error = reply->errorString();
        } else {
            result = judge(reply->readAll(), current_);
        }
        emit checked(result);
    });
    return true;
}

void Updater::setAutomaticChecks(bool on, std::chrono::milliseconds period) {
    if (!on) {
        daily_.stop();
        return;
    }
    daily_.start(period);
    QTimer::singleShot(std::min<std::chrono::milliseconds>(period, std::chrono::minutes(1)), this,
                       [this] {
                           if (daily_.isActive()) checkNow();
                       });
}

UpdateCheck Updater::judge(const QByteArray& list, const QString& currentVersion) {
    UpdateCheck result;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(list, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() ||
        !doc.object().value("versions").isArray()) {
        result.error = QStringLiteral("the version list cannot be read");
        return result;
    }
    const QVersionNumber current = QVersionNumber::fromString(currentVersion);
    QVersionNumber best = current;
    for (const auto& entry : doc.object().value("versions").toArray()) {
        const QJsonObject o = entry.toObject();
        qsizetype suffix = 0;
        const QString text = o.value("version").toString();
        const QVersionNumber v = QVersionNumber::fromString(text, &suffix);
        const QUrl link(o.value("url").toString());
        // Only a whole version number with a web link counts.
        if (v.isNull() || suffix != text.size() || !link.isValid() ||
            (link.scheme() != "https" && link.scheme() != "http"))
            continue;
        if (QVersionNumber::compare(v, best) > 0) {
            best = v;
            result.version = text;
            result.link = link;
        }
    }
    result.outcome =
        result.version.isEmpty() ? UpdateCheck::Outcome::upToDate : UpdateCheck::Outcome::newer;
    return result;
}

}  // namespace brimvale
