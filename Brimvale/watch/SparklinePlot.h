#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QVariantList>

// SparklinePlot: a small area-and-line plot without axes. `points` are QPointF (x any increasing
// measure, y in the units of `low` ... `high`, the y domain); x spans the points. The area runs
// from the domain's bottom up to the line, in `color` at 25 % opacity; the line is opaque.
// Fewer than 2 points draw nothing. GUI thread (painted through the scene graph).
namespace brimvale {

class SparklinePlot : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QVariantList points READ points WRITE setPoints NOTIFY changed)
    Q_PROPERTY(double low READ low WRITE setLow NOTIFY changed)
    Q_PROPERTY(double high READ high WRITE setHigh NOTIFY changed)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY changed)

public:
    explicit SparklinePlot(QQuickItem* parent = nullptr);

    const QVariantList& points() const { return points_; }
    void setPoints(QVariantList points);
    double low() const { return low_; }
    void setLow(double low);
    double high() const { return high_; }
    void setHigh(double high);
    QColor color() const { return color_; }
    void setColor(QColor color);

    void paint(QPainter* painter) override;

signals:
    void changed();

private:
    QVariantList points_;
    double low_ = 0;
    double high_ = 1;
    QColor color_ = Qt::blue;
};

}  // namespace brimvale
