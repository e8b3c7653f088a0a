#include "watch/SparklinePlot.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointF>

#include <algorithm>
#include <cmath>

namespace brimvale {

SparklinePlot::SparklinePlot(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    connect(this, &SparklinePlot::changed, this, [this] { update(); });
}

void SparklinePlot::setPoints(QVariantList points) {
    if (points == points_) return;
    points_ = std::move(points);
    emit changed();
}

void SparklinePlot::setLow(double low) {
    if (low == low_ || !std::isfinite(low)) return;
    low_ = low;
    emit changed();
}

void SparklinePlot::setHigh(double high) {
    if (high == high_ || !std::isfinite(high)) return;
    high_ = high;
    emit changed();
}

void SparklinePlot::setColor(QColor color) {
    if (color == color_) return;
    color_ = color;
    emit changed();
}

void SparklinePlot::paint(QPainter* painter) {
    if (points_.size() < 2 || width() <= 2 || height() <= 2 || !(high_ > low_)) return;
    std::vector<QPointF> data;
    for (const auto& v : points_)
        data.push_back(v.toPointF());
    const double x0 = data.front().x(), x1 = data.back().x();
    const double spanX = x1 > x0 ? x1 - x0 : 1;
    // Half the line's width inside every edge, so the stroke is never clipped.
    const double inset = 1;
    const double w = width() - 2 * inset, h = height() - 2 * inset;
    auto map = [&](const QPointF& p) {
        const double y = std::clamp((p.y() - low_) / (high_ - low_), 0.0, 1.0);
        return QPointF(inset + (p.x() - x0) / spanX * w, inset + (1 - y) * h);
    };
    QPainterPath line;
    line.moveTo(map(data.front()));
    for (size_t i = 1; i < data.size(); ++i)
        line.lineTo(map(data[i]));
    QPainterPath area = line;
    area.lineTo(map(data.back()).x(), inset + h);
    area.lineTo(map(data.front()).x(), inset + h);
    area.closeSubpath();

    painter->setRenderHint(QPainter::Antialiasing);
    QColor fill = color_;
    fill.setAlphaF(0.25);
    painter->fillPath(area, fill);
    painter->setPen(QPen(color_, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->drawPath(line);
}

}  // namespace brimvale
