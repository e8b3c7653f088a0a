#pragma once

#include <vector>

#include "QuenwickCore/FileTree.h"
#include "model/ListModelBase.h"

// A list of nodes of the tree on screen that follows its AppModel: a change of focus or a removal
// becomes row removals, moves and insertions, and only a new tree (whose indices mean other
// items) resets it. Subclasses say which nodes and what a row shows. GUI thread only.
namespace brimvale {

class AppModel;

class NodeListModel : public ListModelBase {
public:
    explicit NodeListModel(AppModel* model);

    int rowCount(const QModelIndex& parent = {}) const override;

protected:
    virtual std::vector<quenwick::FileTree::Node> currentNodes() const = 0;
    // The node of a valid row of the tree on screen, or none.
    quenwick::FileTree::Node nodeAt(const QModelIndex& index) const;
    int rows() const { return static_cast<int>(rows_.size()); }

    AppModel* model_;

private:
    void follow(bool treeReplaced);

    std::vector<quenwick::FileTree::Node> rows_;
};

}  // namespace brimvale
