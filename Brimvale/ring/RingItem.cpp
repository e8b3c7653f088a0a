#include "ring/RingItem.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QQuickWindow>
#include <QSGFlatColorMaterial>
#include <QSGGeometryNode>
#include <QSGTransformNode>
#include <QSGVertexColorMaterial>
#include <QUrl>
#include <QtQml>

#include <cstring>
#include <map>
#include <tuple>

#include "RingKit/RingLabelFit.h"
#include "RingKit/RingLayout.h"
#include "model/AppModel.h"
#include "ring/RingCenterMaterial.h"

namespace brimvale {
namespace {

using Kind = ringkit::RingSegment::Kind;

// The renderer's Vertex as the vertex-colour material reads it: the position with its spare
// floats as z and w, and the premultiplied colour as floats.
const QSGGeometry::AttributeSet& ringAttributes() {
    static const QSGGeometry::Attribute attributes[] = {
        QSGGeometry::Attribute::createWithAttributeType(0, 4, QSGGeometry::FloatType,
                                                        QSGGeometry::PositionAttribute),
        QSGGeometry::Attribute::createWithAttributeType(1, 4, QSGGeometry::FloatType,
                                                        QSGGeometry::ColorAttribute)};
    static const QSGGeometry::AttributeSet set = {2, sizeof(RingRenderer::Vertex), attributes};
    return set;
}

// Scene graph nodes of the ring: one transform from ring units to item pixels, under it the
// triangles of the arcs and the centre quad on top.
struct RingNode : QSGTransformNode {
    QSGGeometryNode* ring = nullptr;
    QSGGeometryNode* center = nullptr;
};

}  // namespace

RingItem::RingItem(QQuickItem* parent) : QQuickItem(parent), renderer_(0) {
    clock_.start();
    setFlag(ItemHasContents, true);
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
    connect(this, &RingItem::framed, this, &RingItem::placeLabels);
}

RingItem::~RingItem() = default;

void RingItem::registerQmlType() {
    qmlRegisterType<RingItem>("Brimvale", 1, 0, "RingItem");
}

double RingItem::now() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

void RingItem::setModel(AppModel* model) {
    if (model_ == model) return;
    for (const auto& c : connections_)
        disconnect(c);
    connections_.clear();
    model_ = model;
    layoutID_ = -1;
    if (model_) {
        connections_ << connect(model_, &AppModel::layoutIDChanged, this, &RingItem::sync)
                     << connect(model_, &AppModel::hoveredChanged, this, &RingItem::sync)
                     << connect(model_, &AppModel::fullnessChanged, this, &RingItem::sync);
    }
    emit modelChanged();
    sync();
}

void RingItem::setDark(bool dark) {
    if (dark_ == dark) return;
    dark_ = dark;
    emit darkChanged();
    sync();
}

void RingItem::setReducedMotion(bool reduced) {
    if (reducedMotion_ == reduced) return;
    reducedMotion_ = reduced;
    emit reducedMotionChanged();
}

// The binding to the model: a new layout starts the morph, a new colour scheme alone recolours,
// and the highlight and fullness follow on every change.
void RingItem::sync() {
    if (!available_) return;
    bool changed = false;
    if (model_ && model_->layoutID() != layoutID_) {
        layoutID_ = model_->layoutID();
        const auto morph = model_->morph();
        renderer_.setSegments(morph, dark_, now(), reducedMotion_);
        takeTexts(morph);
        hits_ = ringkit::RingHitIndex(model_->segments(), ringkit::RingGeometry());
        changed = true;
    } else if (!model_ && layoutID_ != -1) {
        layoutID_ = -1;
        renderer_.setSegments({}, dark_, now(), reducedMotion_);
        pairTexts_.clear();
        fadingTexts_.clear();
        hits_ = {};
        changed = true;
    } else if (dark_ != renderer_.dark()) {
        renderer_.recolor(model_ ? model_->segments() : Segments(), dark_);
        changed = true;
    }
    std::optional<size_t> highlight;
    if (model_ && model_->hovered()) {
        const auto& segments = model_->segments();
        for (size_t i = 0; i < segments.size(); ++i)
            if (segments[i].kind == *model_->hovered()) {
                highlight = i;
                break;
            }
    }
    changed |= renderer_.setHighlight(highlight);
    changed |= renderer_.setFullness(model_ ? model_->fullness() : 0, reducedMotion_);
    if (changed) update();
}

// The texts of the new layout's arcs; fading arcs keep the texts they had, found by place.
void RingItem::takeTexts(const ringkit::RingMorph::Result& morph) {
    const auto key = [](const ringkit::RingSegment& s) {
        return std::tuple(s.depth, s.start, s.end);
    };
    std::map<std::tuple<int, double, double>, Text> before;
    const auto& old = model_->previousSegments();
    for (size_t i = 0; i < old.size() && i < pairTexts_.size(); ++i)
        before[key(old[i])] = pairTexts_[i];
    fadingTexts_.clear();
    for (const auto& s : morph.fading) {
        const auto it = before.find(key(s));
        fadingTexts_.push_back(it != before.end() ? it->second : Text{});
    }
    pairTexts_.clear();
    for (const auto& p : morph.pairs) {
        const bool labelled = p.to.depth <= ringkit::RingLabelFit::deepestLabelledRing;
        pairTexts_.push_back(
            labelled ? Text{model_->label(p.to.kind), model_->formatBytes(p.to.bytes)} : Text{});
    }
}

void RingItem::placeLabels() {
    QVariantList out;
    const double unit = RingRenderer::unitPx(width(), height());
    const QFontMetricsF metrics(QGuiApplication::font());
    for (const auto& d : renderer_.drawn()) {
        if (d.shape.depth > ringkit::RingLabelFit::deepestLabelledRing + 0.5) continue;
        const auto& texts = d.fading ? fadingTexts_ : pairTexts_;
        if (d.index >= texts.size() || texts[d.index].name.isEmpty()) continue;
        const Text& t = texts[d.index];
        const double w =
            std::max(metrics.horizontalAdvance(t.name), metrics.horizontalAdvance(t.size));
        const auto at = ringkit::RingLabelFit::place(d.shape.start, d.shape.end, d.shape.depth,
                                                     unit, w, metrics.height() * 2);
        if (!at) continue;
        const auto c = ringkit::RingLabelFit::textColor(d.shape.color);
        QVariantMap label;
        label["x"] = width() / 2 + at->x * unit;
        label["y"] = height() / 2 - at->y * unit;
        label["rotation"] = at->rotation;
        label["name"] = t.name;
        label["size"] = t.size;
        label["color"] = QColor::fromRgbF(c.r, c.g, c.b);
        label["opacity"] = d.opacity;
        out << label;
    }
    if (out == labels_) return;
    labels_ = std::move(out);
    emit labelsChanged();
}

bool RingItem::animating() const {
    return renderer_.animating(now());
}

QPointF RingItem::toRing(const QPointF& point) const {
    if (!available_) return {};
    const auto p = RingRenderer::toRing(point.x(), point.y(), width(), height());
    return {p[0], p[1]};
}

int RingItem::segmentAt(const QPointF& point) const {
    if (!available_ || !model_) return -1;
    const QPointF r = toRing(point);
    const auto hit = hits_.hitTest(r.x(), r.y());
    if (hit.which != ringkit::RingHit::Case::segment) return -1;
    if (hit.index < 0 || static_cast<size_t>(hit.index) >= model_->segments().size()) return -1;
    return static_cast<int>(hit.index);
}

void RingItem::hoverAt(const QPointF& point) {
    if (!available_ || !model_) return;
    const int i = segmentAt(point);
    if (i < 0) {
        model_->clearHovered();
    } else {
        model_->setHovered(model_->segments()[static_cast<size_t>(i)].kind);
    }
}

void RingItem::clickAt(const QPointF& point) {
    if (!available_ || !model_) return;
    const QPointF r = toRing(point);
    const auto hit = hits_.hitTest(r.x(), r.y());
    if (hit.which == ringkit::RingHit::Case::center) {
        model_->goUp();
        return;
    }
    const int i = segmentAt(point);
    if (i < 0) return;
    const Kind kind = model_->segments()[static_cast<size_t>(i)].kind;
    const auto& tree = model_->tree();
    if (kind.isSmaller()) {
        model_->focusOn(kind.index);
    } else if (kind.isNode() && tree && kind.index < tree->count() &&
               tree->isDirectory(kind.index)) {
        model_->focusOn(kind.index);
    }
}

void RingItem::menuAt(const QPointF& point) {
    if (!available_ || !model_) return;
    const int i = segmentAt(point);
    if (i < 0) return;
    const Kind kind = model_->segments()[static_cast<size_t>(i)].kind;
    const auto& tree = model_->tree();
    if (!kind.isNode() || !tree || kind.index >= tree->count()) return;
    emit contextMenuRequested(kind.index, QString::fromStdString(tree->path(kind.index)),
                              tree->isDirectory(kind.index), point);
}

void RingItem::hoverMoveEvent(QHoverEvent* event) {
    hoverAt(event->position());
}

void RingItem::hoverLeaveEvent(QHoverEvent*) {
    if (available_ && model_ && model_->hovered()) model_->clearHovered();
}

void RingItem::mousePressEvent(QMouseEvent* event) {
    if (!available_) {
        event->ignore();
        return;
    }
    if (event->button() == Qt::RightButton) {
        menuAt(event->position());
    } else {
        clickAt(event->position());
    }
    event->accept();
}

void RingItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) update();
}

void RingItem::checkBackend() {
    const QQuickWindow* w = window();
    if (!w || !w->rendererInterface()) return;
    const bool gpu = w->rendererInterface()->graphicsApi() != QSGRendererInterface::Software;
    if (gpu == available_) return;
    available_ = gpu;
    emit availableChanged();
}

void RingItem::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange && value.window) {
        checkBackend();
        connect(value.window, &QQuickWindow::sceneGraphInitialized, this, &RingItem::checkBackend,
                Qt::QueuedConnection);
        sync();
        update();
    }
}

QSGNode* RingItem::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
    auto* root = static_cast<RingNode*>(old);
    const QQuickWindow* w = window();
    if (!available_ || !w ||
        w->rendererInterface()->graphicsApi() == QSGRendererInterface::Software) {
        delete root;
        return nullptr;
    }
    const bool moving = renderer_.frame(now(), width(), height());
    const double unit = RingRenderer::unitPx(width(), height());
    if (!root) {
        root = new RingNode;
        root->ring = new QSGGeometryNode;
        auto* ringGeometry = new QSGGeometry(ringAttributes(), 0);
        ringGeometry->setDrawingMode(QSGGeometry::DrawTriangles);
        root->ring->setGeometry(ringGeometry);
        root->ring->setFlag(QSGNode::OwnsGeometry);
        auto* ringMaterial = new QSGVertexColorMaterial;
        // Merging would move the four-component positions on the CPU; one draw call it is.
        ringMaterial->setFlag(QSGMaterial::NoBatching);
        root->ring->setMaterial(ringMaterial);
        root->ring->setFlag(QSGNode::OwnsMaterial);
        root->appendChildNode(root->ring);

        root->center = new QSGGeometryNode;
        auto* quad = new QSGGeometry(QSGGeometry::defaultAttributes_TexturedPoint2D(), 4);
        quad->setDrawingMode(QSGGeometry::DrawTriangleStrip);
        root->center->setGeometry(quad);
        root->center->setFlag(QSGNode::OwnsGeometry);
        root->center->setMaterial(new RingCenterMaterial);
        root->center->setFlag(QSGNode::OwnsMaterial);
        root->appendChildNode(root->center);
    }
    QMatrix4x4 m;
    m.translate(static_cast<float>(width() / 2), static_cast<float>(height() / 2));
    m.scale(static_cast<float>(unit), static_cast<float>(-unit));
    root->setMatrix(m);

    const auto& vertices = renderer_.vertices();
    QSGGeometry* g = root->ring->geometry();
    g->allocate(static_cast<int>(vertices.size()));
    if (!vertices.empty())
        std::memcpy(g->vertexData(), vertices.data(), vertices.size() * sizeof vertices[0]);
    root->ring->markDirty(QSGNode::DirtyGeometry);

    auto* quad = root->center->geometry()->vertexDataAsTexturedPoint2D();
    const auto r = static_cast<float>(unit > 0 ? renderer_.uniforms().centerR : 0);
    quad[0].set(-r, -r, -r, -r);
    quad[1].set(r, -r, r, -r);
    quad[2].set(-r, r, -r, r);
    quad[3].set(r, r, r, r);
    root->center->markDirty(QSGNode::DirtyGeometry);
    auto* material = static_cast<RingCenterMaterial*>(root->center->material());
    material->setUniforms(renderer_.uniforms());
    root->center->markDirty(QSGNode::DirtyMaterial);

    vertexCount_ = static_cast<int>(vertices.size());
    QMetaObject::invokeMethod(this, &RingItem::framed, Qt::QueuedConnection);
    if (moving) update();
    return root;
}

}  // namespace brimvale
