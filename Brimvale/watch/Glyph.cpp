#include "watch/Glyph.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

#include "watch/TideWatchContent.h"

namespace brimvale {

double Glyph::endAngle(double fullness) {
    if (!std::isfinite(fullness)) return 0;
    return std::clamp(fullness, 0.0, 1.0) * 360;
}

QImage Glyph::image(double fullness, int pixels, Panel panel) {
    pixels = std::clamp(pixels, 1, 4096);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double scale = pixels / canvas;
    p.scale(scale, scale);
    const QColor ink = panel == Panel::dark ? QColor(Qt::white) : QColor(Qt::black);
    const QRectF circle(canvas / 2 - radius, canvas / 2 - radius, 2 * radius, 2 * radius);

    QColor track = ink;
    track.setAlphaF(trackOpacity);
    p.setPen(QPen(track, lineWidth));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(circle);

    const double sweep = endAngle(fullness);
    if (sweep > 0) {
        // Painted over the track, so the arc must replace it rather than blend into it.
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.setPen(QPen(ink, lineWidth, Qt::SolidLine, sweep >= 360 ? Qt::FlatCap : Qt::RoundCap));
        if (sweep >= 360) {
            p.drawEllipse(circle);
        } else {
            // QPainter counts degrees counter-clockwise from 3 o'clock, in sixteenths.
            p.drawArc(circle, 90 * 16, -static_cast<int>(std::lround(sweep * 16)));
        }
    }
    return image;
}

QIcon Glyph::icon(double fullness, Panel panel, double devicePixelRatio) {
    if (!std::isfinite(devicePixelRatio) || devicePixelRatio < 1) devicePixelRatio = 1;
    devicePixelRatio = std::min(devicePixelRatio, 8.0);
    QIcon icon;
    for (const int size : traySizes) {
        QPixmap pixmap = QPixmap::fromImage(
            image(fullness, static_cast<int>(std::lround(size * devicePixelRatio)), panel));
        pixmap.setDevicePixelRatio(devicePixelRatio);
        icon.addPixmap(pixmap);
    }
    return icon;
}

Glyph::Panel Glyph::panelFor(const QString& currentDesktop, bool prefersDark) {
    if (prefersDark) return Panel::dark;
    for (const QString& desktop : currentDesktop.split(':', Qt::SkipEmptyParts))
        if (desktop.compare("KDE", Qt::CaseInsensitive) == 0 ||
            desktop.compare("LXQt", Qt::CaseInsensitive) == 0)
            return Panel::light;
    return Panel::dark;
}

QString Glyph::description(double fullness) {
    return "Disk " + QString::number(TideWatchContent::wholePercent(fullness)) + "% full";
}

}  // namespace brimvale
