#include "platform/DesktopAppearance.h"

#include <QDBusVariant>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace brimvale {
namespace {

const QString kAppearance = "org.freedesktop.appearance";

QVariant wrapped(const QVariant& v, int times) {
    QVariant out = v;
    for (int i = 0; i < times; ++i)
        out = QVariant::fromValue(QDBusVariant(out));
    return out;
}

TEST(DesktopAppearance, ColourSchemeFollowsThePortalHoweverOftenItIsWrapped) {
    DesktopAppearance a(false);
    QSignalSpy changed(&a, &DesktopAppearance::darkChanged);
    a.apply(kAppearance, "color-scheme", wrapped(uint(1), 2));
    EXPECT_TRUE(a.dark()) << "Read answers v(v(u))";
    a.apply(kAppearance, "color-scheme", wrapped(uint(2), 1));
    EXPECT_FALSE(a.dark()) << "SettingChanged carries v(u)";
    EXPECT_EQ(changed.count(), 2);
    a.apply(kAppearance, "color-scheme", wrapped(uint(2), 1));
    EXPECT_EQ(changed.count(), 2) << "an equal value notifies nobody";
}

TEST(DesktopAppearance, NoPreferenceOrAWrongTypeFallsBackToThePalette) {
    DesktopAppearance a(false);
    const bool fallback = a.dark();
    a.apply(kAppearance, "color-scheme", wrapped(uint(1), 1));
    a.apply(kAppearance, "color-scheme", wrapped(uint(0), 1));
    EXPECT_EQ(a.dark(), fallback);
    EXPECT_FALSE(DesktopAppearance::darkFromScheme(wrapped(QString("dark"), 1)).has_value());
    EXPECT_FALSE(DesktopAppearance::darkFromScheme(wrapped(uint(7), 1)).has_value());
}

TEST(DesktopAppearance, ReducedMotionFromGnomeOrKdeAndOnlyWhileEitherAsksForIt) {
    DesktopAppearance a(false);
    EXPECT_FALSE(a.reducedMotion()) << "motion stays on when no portal answers";
    a.apply("org.gnome.desktop.interface", "enable-animations", wrapped(false, 2));
    EXPECT_TRUE(a.reducedMotion());
    a.apply("org.kde.kdeglobals.KDE", "AnimationDurationFactor", wrapped(0.0, 1));
    a.apply("org.gnome.desktop.interface", "enable-animations", wrapped(true, 1));
    EXPECT_TRUE(a.reducedMotion()) << "KDE still asks for it";
    a.apply("org.kde.kdeglobals.KDE", "AnimationDurationFactor", wrapped(0.5, 1));
    EXPECT_FALSE(a.reducedMotion());
    a.apply("org.gnome.desktop.interface", "enable-animations", wrapped(QString("no"), 1));
    EXPECT_FALSE(a.reducedMotion()) << "a value of the wrong type changes nothing";
}

}  // namespace
}  // namespace brimvale
