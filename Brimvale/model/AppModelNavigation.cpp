// Navigation and listing: the focus, the ring laid out for it, the item list, the breadcrumbs, the
// centre arc and the storage summary.
#include <algorithm>

#include "RingKit/RingLabel.h"
#include "RingKit/RingLayout.h"
#include "model/AppModel.h"

namespace brimvale {

using quenwick::FileTree;
using ringkit::RingLayout;
using ringkit::RingSegment;

void AppModel::focusOn(quint32 node) {
    if (!tree_ || node == focus_ || node >= tree_->count()) return;
    // A removed folder (or anything inside one) cannot be shown.
    for (Node a = node; a != FileTree::none; a = tree_->parent(a))
        if (tree_->flags(a).contains(quenwick::NodeFlags::dead)) return;
    setFocusValue(node);
    setHovered(std::nullopt);
    relayout();
    emit listingChanged(false);
}

void AppModel::goUp() {
    if (tree_ && focus_ != FileTree::root) focusOn(tree_->parent(focus_));
}

std::vector<AppModel::Node> AppModel::breadcrumbs() const {
    std::vector<Node> trail;
    if (!tree_) return trail;
    for (Node n = focus_; n != FileTree::none; n = tree_->parent(n))
        trail.push_back(n);
    std::reverse(trail.begin(), trail.end());
    return trail;
}

std::vector<AppModel::Node> AppModel::listItems() const {
    if (!tree_ || phase_ != Phase::ready) return {};
    std::vector<Node> children = tree_->childrenBySize(focus_);
    if (children.size() > maxListItems) children.resize(maxListItems);
    return children;
}

void AppModel::relayout() {
    previousSegments_ = segments_;
    previousPaths_.clear();
    // The previous segments' node indices mean nothing in another tree: keep their paths.
    if (segmentsTree_ && segmentsTree_ != tree_) {
        previousPaths_.reserve(previousSegments_.size());
        for (const auto& s : previousSegments_) {
            const bool hasNode =
                (s.kind.isNode() || s.kind.isSmaller()) && s.kind.index < segmentsTree_->count();
            previousPaths_.push_back(hasNode ? segmentsTree_->path(s.kind.index) : std::string());
        }
    }
    segmentsTree_ = tree_;

    Segments next;
    if (tree_ && phase_ == Phase::ready) {
        std::vector<RingLayout::Extra> extras;
        if (focus_ == FileTree::root && target_.kind() == ScanTarget::Kind::startupDisk && volume_)
            extras = RingLayout::volumeExtras(*volume_, tree_->size(FileTree::root));
        next = RingLayout::layout(*tree_, focus_, maxDepth, RingLayout::defaultMinAngle, extras);
    }
    assign(segments_, std::move(next), &AppModel::segmentsChanged);
    layoutID_ += 1;
    emit layoutIDChanged();
}

ringkit::RingMorph::Result AppModel::morph() const {
    ringkit::RingMorph::ParentLookup parent;
    if (tree_)
        parent = [tree = tree_](uint32_t n) {
            return n < tree->count() ? tree->parent(n) : Kind::noNode;
        };
    if (previousPaths_.size() != previousSegments_.size())
        return ringkit::RingMorph::pair(previousSegments_, segments_, parent);
    // Arcs of another tree: their nodes are found again by path, or fade out.
    Segments translated = previousSegments_;
    for (size_t i = 0; i < translated.size(); ++i) {
        auto& kind = translated[i].kind;
        if (!kind.isNode() && !kind.isSmaller()) continue;
        const auto again = tree_ ? tree_->nodeAtPath(previousPaths_[i]) : std::nullopt;
        kind.index = again.value_or(Kind::noNode);
    }
    return ringkit::RingMorph::pair(translated, segments_, parent);
}

uint64_t AppModel::size(const Kind& kind) const {
    for (const auto& s : segments_)
        if (s.kind == kind) return s.bytes;
    return 0;
}

QString AppModel::nodeTitle(Node node) const {
    if (!tree_ || node >= tree_->count()) return {};
    if (node == FileTree::root) return targetTitle();
    return QString::fromStdString(tree_->name(node));
}

QString AppModel::label(const Kind& kind) const {
    if (kind.isNode()) return nodeTitle(kind.index);
    static const FileTree noTree("/", FileTree::EmptyTag{});
    return QString::fromStdString(ringkit::ringLabel(tree_ ? *tree_ : noTree, kind, {}));
}

double AppModel::fullness() const {
    if (phase_ == Phase::scanning && progress_ && volume_ && volume_->used() != 0) {
        const uint64_t used = volume_->used();
        const uint64_t expected = target_.kind() == ScanTarget::Kind::startupDisk
                                      ? used
                                      : std::max<uint64_t>(used, 3) / 2;
        return std::min(static_cast<double>(progress_->bytes) / static_cast<double>(expected),
                        0.98);
    }
    if (tree_ && phase_ == Phase::ready) {
        if (focus_ == FileTree::root && volume_ && volume_->total != 0)
            return static_cast<double>(volume_->used()) / static_cast<double>(volume_->total);
        const uint64_t rootBytes = tree_->size(FileTree::root);
        if (rootBytes != 0)
            return std::max(
                static_cast<double>(tree_->size(focus_)) / static_cast<double>(rootBytes), 0.02);
    }
    return 0;
}

std::optional<StorageSummary> AppModel::storage() const {
    if (!startupVolume_) return std::nullopt;
    const FileTree* tree = tree_ && phase_ == Phase::ready ? tree_.get() : nullptr;
    return StorageSummary::compute(storageCategories_, *startupVolume_, tree, trashBytes_,
                                   env_.startupDiskName);
}

QVariant AppModel::storageValue() const {
    const auto summary = storage();
    return summary ? QVariant::fromValue(*summary) : QVariant();
}

}  // namespace brimvale
