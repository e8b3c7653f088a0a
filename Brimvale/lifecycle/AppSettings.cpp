#include "lifecycle/AppSettings.h"

#include <QByteArray>

#include "QuenwickCore/TideAlerts.h"

namespace brimvale {

AppSettings::AppSettings(const std::string& configHome)
    : file_(fileFor(configHome)),
      settings_(std::make_unique<QSettings>(
          QString::fromLocal8Bit(file_.data(), qsizetype(file_.size())), QSettings::IniFormat)) {}

std::string AppSettings::fileFor(const std::string& configHome) {
    return configHome + "/Brimvale/Brimvale.conf";
}

bool AppSettings::alertEnabled(const quenwick::TideAlert& alert) const {
    return flag(QString::fromStdString(quenwick::TideAlerts::settingKey(alert)), true);
}

bool AppSettings::flag(const QString& key, bool fallback) const {
    const QVariant value = settings_->value(key);
    if (!value.isValid()) return fallback;
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    // An INI file holds text; only the two spellings QSettings writes count.
    const QString text = value.toString();
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
    return fallback;
}

void AppSettings::setFlag(const QString& key, bool value) {
    settings_->setValue(key, value);
}

QString AppSettings::updateFeedURL() const {
    const QVariant value = settings_->value("updateFeedURL");
    // A list or a number where a URL belongs is no URL.
    return value.typeId() == QMetaType::QString ? value.toString().trimmed() : QString();
}

void AppSettings::setUpdateFeedURL(const QString& url) {
    settings_->setValue("updateFeedURL", url);
}

QString AppSettings::itemCountKey(const std::string& root) {
    const QByteArray bytes(root.data(), qsizetype(root.size()));
    return QStringLiteral("itemCount:") + QString::fromLatin1(bytes.toPercentEncoding());
}

int64_t AppSettings::itemCount(const std::string& root) const {
    bool ok = false;
    const qlonglong n = settings_->value(itemCountKey(root)).toString().toLongLong(&ok);
    return ok && n > 0 ? n : 0;
}

void AppSettings::setItemCount(const std::string& root, int64_t count) {
    settings_->setValue(itemCountKey(root), QString::number(count));
}

bool AppSettings::sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

}  // namespace brimvale
