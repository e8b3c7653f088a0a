#include "QuenwickCore/Preferences.h"

#include <QtCore/QDateTime>
#include <QtCore/QSettings>

#include <cmath>

namespace quenwick {

struct Preferences::Impl {
    std::unique_ptr<QSettings> settings;
};

Preferences::Preferences(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Preferences::~Preferences() = default;
Preferences::Preferences(Preferences&&) noexcept = default;
Preferences& Preferences::operator=(Preferences&&) noexcept = default;

Preferences Preferences::standard() {
    auto impl = std::make_unique<Impl>();
    impl->settings =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                    QStringLiteral("Brimvale"), QStringLiteral("Brimvale"));
    return Preferences(std::move(impl));
}

Preferences Preferences::atFile(const std::string& path) {
    auto impl = std::make_unique<Impl>();
    impl->settings = std::make_unique<QSettings>(
        QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())),
        QSettings::IniFormat);
    return Preferences(std::move(impl));
}

std::optional<bool> Preferences::boolean(const std::string& key) const {
    const QVariant value = impl_->settings->value(QString::fromStdString(key));
    if (!value.isValid()) return std::nullopt;
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    // INI files hold text; only the two spellings QSettings writes count.
    const QString text = value.toString();
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
    return std::nullopt;
}

void Preferences::setBoolean(const std::string& key, bool value) {
    impl_->settings->setValue(QString::fromStdString(key), value);
}

std::optional<double> Preferences::timestamp(const std::string& key) const {
    const QVariant value = impl_->settings->value(QString::fromStdString(key));
    if (!value.isValid()) return std::nullopt;
    if (value.typeId() == QMetaType::QDateTime) {
        const QDateTime moment = value.toDateTime();
        if (!moment.isValid()) return std::nullopt;
        return static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0;
    }
    bool ok = false;
    const double seconds = value.toString().toDouble(&ok);
    if (!ok || !std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

void Preferences::setTimestamp(const std::string& key, double value) {
    if (!std::isfinite(value)) return;
    impl_->settings->setValue(QString::fromStdString(key), value);
}

bool Preferences::sync() {
    impl_->settings->sync();
    return impl_->settings->status() == QSettings::NoError;
}

}  // namespace quenwick
