#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QQuickItem>
#include <QVariantList>

#include <optional>

#include "RingKit/RingHitIndex.h"
#include "RingKit/RingSegment.h"
#include "ring/RingRenderer.h"

// The ring on the Qt Quick scene graph, bound to the app model: draws the model's segments with
// the morph from the previous layout, highlights the hovered arc, eases the fullness arc, and
// turns the pointer into the model's `hovered`, focus changes and context-menu requests.
//
// The frame loop sleeps: a frame is asked for only after a new layout, a setter or a resize, and
// then again only while a morph or the fullness easing still runs. Where the window draws with
// the software scene graph (no GPU path), `available` is false, nothing is drawn and the
// pointer is ignored. GUI thread; the render thread reads it only during the scene graph's sync.
namespace brimvale {

class AppModel;

class RingItem : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(brimvale::AppModel* model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(bool dark READ dark WRITE setDark NOTIFY darkChanged)
    Q_PROPERTY(
        bool reducedMotion READ reducedMotion WRITE setReducedMotion NOTIFY reducedMotionChanged)
    Q_PROPERTY(bool available READ available NOTIFY availableChanged)
    Q_PROPERTY(int vertexCount READ vertexCount NOTIFY framed)
    // The texts on arcs that have room, following the morph: maps with x and y (the text's centre
    // in item pixels), rotation (degrees), name, size, color and opacity.
    Q_PROPERTY(QVariantList labels READ labels NOTIFY labelsChanged)

public:
    explicit RingItem(QQuickItem* parent = nullptr);
    ~RingItem() override;

    static void registerQmlType();

    AppModel* model() const { return model_; }
    void setModel(AppModel* model);
    bool dark() const { return dark_; }
    void setDark(bool dark);
    bool reducedMotion() const { return reducedMotion_; }
    void setReducedMotion(bool reduced);
    bool available() const { return available_; }
    int vertexCount() const { return vertexCount_; }
    const QVariantList& labels() const { return labels_; }

    // A point of the item (pixels, y down) in ring units (y up).
    Q_INVOKABLE QPointF toRing(const QPointF& point) const;
    // The model's segment under a point of the item, -1 for the centre or nothing.
    Q_INVOKABLE int segmentAt(const QPointF& point) const;
    // True while a morph or the fullness easing runs.
    bool animating() const;

    const RingRenderer& renderer() const { return renderer_; }

signals:
    void modelChanged();
    void darkChanged();
    void reducedMotionChanged();
    void availableChanged();
    void labelsChanged();
    // After every frame built (tests and the benchmark count them).
    void framed();
    // A context menu for a `node` arc at a point of the item: the node, its path and whether it
    // is a folder. Misses and other kinds ask for no menu.
    void contextMenuRequested(quint32 node, const QString& path, bool folder, const QPointF& at);

protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData*) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;
    void hoverMoveEvent(QHoverEvent* event) override;
    void hoverLeaveEvent(QHoverEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    double now() const;
    void sync();
    void syncLayout();
    void syncHighlight();
    void hoverAt(const QPointF& point);
    void clickAt(const QPointF& point);
    void menuAt(const QPointF& point);
    void checkBackend();
    void takeTexts(const ringkit::RingMorph::Result& morph);
    void placeLabels();

    struct Text {
        QString name;
        QString size;
    };

    QPointer<AppModel> model_;
    QList<QMetaObject::Connection> connections_;
    QElapsedTimer clock_;
    RingRenderer renderer_;
    ringkit::RingHitIndex hits_;
    qint64 layoutID_ = -1;
    bool dark_ = false;
    bool reducedMotion_ = false;
    bool available_ = true;
    int vertexCount_ = 0;
    std::vector<Text> pairTexts_;
    std::vector<Text> fadingTexts_;
    QVariantList labels_;
};

}  // namespace brimvale
