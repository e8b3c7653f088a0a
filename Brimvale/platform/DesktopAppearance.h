#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QVariant>

#include <optional>

// What the desktop asks of the app's look: dark colours, and reduced motion. Read from the XDG
// desktop portal's settings (the appearance's `color-scheme`, GNOME's `enable-animations`,
// KDE's animation speed factor) and followed when they change. Until a portal answers, and
// where none does, dark follows the palette's window lightness and motion stays on.
//
// The bus is only ever called asynchronously. GUI thread.
namespace brimvale {

class DesktopAppearance : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)
    Q_PROPERTY(bool reducedMotion READ reducedMotion NOTIFY reducedMotionChanged)

public:
    // Asks the session bus's portal at once; `askPortal` false keeps to the fallbacks (tests).
    explicit DesktopAppearance(bool askPortal = true, QObject* parent = nullptr);

    bool dark() const { return dark_; }
    bool reducedMotion() const { return reducedMotion_; }

    // Applies one portal setting (namespace, key, value as the bus delivered it, variants
    // nested any number of times). Unknown settings and values of the wrong type change nothing.
    void apply(const QString& group, const QString& key, const QVariant& value);

    // The portal's color-scheme: 1 prefers dark, 2 light, 0 (or anything else) no preference.
    [[nodiscard]] static std::optional<bool> darkFromScheme(const QVariant& value);
    // A value with every QDBusVariant and QDBusArgument wrapper removed.
    [[nodiscard]] static QVariant unwrap(const QVariant& value);

signals:
    void darkChanged();
    void reducedMotionChanged();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void read(const QString& group, const QString& key);
    void setDark(bool dark);
    void setReducedMotion(bool reduced);
    bool paletteDark() const;

    bool dark_ = false;
    bool reducedMotion_ = false;
    bool schemeFromPortal_ = false;
    bool gnomeReduced_ = false;
    bool kdeReduced_ = false;
};

}  // namespace brimvale
