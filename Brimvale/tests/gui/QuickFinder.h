#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QTest>

#include <vector>

// Finding the items of a loaded view by objectName through the visual tree (delegates of list
// views and repeaters are reachable there, not always as QObject children), and clicking them.
namespace brimvale::testing {

inline void collect(QQuickItem* item, const QString& name, bool visibleOnly,
                    std::vector<QQuickItem*>& out) {
    if (!item || (visibleOnly && !item->isVisible())) return;
    if (item->objectName() == name) out.push_back(item);
    for (QQuickItem* child : item->childItems())
        collect(child, name, visibleOnly, out);
}

// Every visible item called name below root.
inline std::vector<QQuickItem*> visibleItems(QQuickItem* root, const QString& name) {
    std::vector<QQuickItem*> out;
    collect(root, name, true, out);
    return out;
}

inline QQuickItem* visibleItem(QQuickItem* root, const QString& name) {
    const auto all = visibleItems(root, name);
    return all.empty() ? nullptr : all.front();
}

// The text of the first visible item called name, or "<missing>".
inline QString textOf(QQuickItem* root, const QString& name) {
    QQuickItem* item = visibleItem(root, name);
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
}

inline void click(QQuickItem* item) {
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

}  // namespace brimvale::testing
