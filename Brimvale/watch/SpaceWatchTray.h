#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QSystemTrayIcon>

#include <memory>

class QQmlEngine;
#include <QQuickWindow>

// SpaceWatchTray: Space Watch in the system tray. While "showMenuBar" is on and the desktop has a
// tray (TrayWatch::hostReady), a tray item shows the ring glyph for the startup volume's fullness
// with "Disk N% full" as its tooltip, following the volume as it changes. A left click opens the
// popover (TideWatchPopover.qml, a frameless window beside the item, or at the pointer where the
// tray does not say where the item is); the context menu offers "Open Brimvale", "Suggestions"
// and "Quit Brimvale". Whenever a tray watcher (a restarted one included) becomes ready, the item
// is made anew, since Qt registers an item only once. It also gives the model its way to open
// the main window: the first window the engine loaded.
//
// Holds references to the model, the watch and the engine, which must outlive it; owns the item,
// its menu and the popover. GUI thread.
namespace brimvale {

class AppModel;
class DesktopAppearance;
class TrayWatch;

class SpaceWatchTray : public QObject {
    Q_OBJECT

public:
    // appearance (may be null: a dark panel) helps pick the glyph for a dark or a light panel.
    SpaceWatchTray(AppModel& model, TrayWatch& watch, QQmlEngine& engine,
                   const DesktopAppearance* appearance = nullptr, QObject* parent = nullptr);
    ~SpaceWatchTray() override;

    // The "showMenuBar" setting changed.
    void setEnabled(bool enabled);
    // The item while it is shown, else null.
    QSystemTrayIcon* item() const { return item_.get(); }
    // The popover window once it was opened the first time.
    QQuickWindow* popover() const { return popover_; }
    void openPopover();
    // A click on the item: opens the popover, or closes it. The click that took the focus from
    // an open popover (and so closed it a moment ago) leaves it closed.
    void togglePopover();

    // Where the popover's top left goes: below a known tray item (above it at the screen's
    // bottom), else beside the pointer; always inside the screen's available area.
    [[nodiscard]] static QPoint popoverPlacement(const QRect& trayItem, const QPoint& pointer,
                                                 const QSize& popover, const QRect& screen);

signals:
    // The item was made anew (for a new tray watcher) or dropped.
    void itemChanged();
    void popoverShown();

private:
    void rebuild();
    void drop();
    void refreshIcon();
    void openMainWindow();

    AppModel& model_;
    TrayWatch& watch_;
    QQmlEngine& engine_;
    QPointer<const DesktopAppearance> appearance_;
    bool enabled_ = true;
    QMenu menu_;
    std::unique_ptr<QSystemTrayIcon> item_;
    QPointer<QQuickWindow> popover_;
    QElapsedTimer sinceHidden_;
};

}  // namespace brimvale
