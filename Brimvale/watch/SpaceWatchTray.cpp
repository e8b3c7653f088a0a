#include "watch/SpaceWatchTray.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QScreen>

#include <algorithm>

#include "lifecycle/TrayWatch.h"
#include "model/AppModel.h"
#include "platform/DesktopAppearance.h"
#include "watch/Glyph.h"
#include "watch/TideWatchContent.h"

namespace brimvale {

SpaceWatchTray::SpaceWatchTray(AppModel& model, TrayWatch& watch, QQmlEngine& engine,
                               const DesktopAppearance* appearance, QObject* parent)
    : QObject(parent),
      model_(model),
      watch_(watch),
      engine_(engine),
      appearance_(appearance),
      enabled_(model.settings().showMenuBar()) {
    connect(menu_.addAction("Open Brimvale"), &QAction::triggered, this,
            [this] { model_.show(AppSection::explorer); });
    connect(menu_.addAction("Suggestions"), &QAction::triggered, this,
            [this] { model_.show(AppSection::shoreline); });
    menu_.addSeparator();
    connect(menu_.addAction("Quit Brimvale"), &QAction::triggered, this, [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    });
    model_.setOpenMainWindow([this] { openMainWindow(); });

    connect(&watch_, &TrayWatch::readyForItems, this, &SpaceWatchTray::rebuild);
    connect(&watch_, &TrayWatch::availableChanged, this, [this](bool available) {
        if (!available) drop();
    });
    connect(&model_, &AppModel::startupVolumeChanged, this, &SpaceWatchTray::refreshIcon);
    if (appearance_)
        connect(appearance_, &DesktopAppearance::darkChanged, this, &SpaceWatchTray::refreshIcon);
    if (watch_.hostReady()) rebuild();
}

SpaceWatchTray::~SpaceWatchTray() {
    model_.setOpenMainWindow({});
    drop();
    delete popover_.data();
}

void SpaceWatchTray::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!enabled) {
        drop();
        if (popover_) popover_->hide();
    } else if (watch_.hostReady()) {
        rebuild();
    }
}

void SpaceWatchTray::rebuild() {
    // Asking Qt before a host exists would fix its answer to "no tray" for good.
    if (!enabled_ || !watch_.hostReady()) return;
    item_.reset();
    item_ = std::make_unique<QSystemTrayIcon>();
    item_->setContextMenu(&menu_);
    connect(item_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) togglePopover();
            });
    refreshIcon();
    item_->show();
    emit itemChanged();
}

void SpaceWatchTray::drop() {
    if (!item_) return;
    item_.reset();
    emit itemChanged();
}

void SpaceWatchTray::refreshIcon() {
    if (!item_) return;
    const double fullness = TideWatchContent::fullness(model_.startupVolume());
    const auto panel = Glyph::panelFor(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                                       !appearance_ || appearance_->dark());
    const QScreen* screen = QGuiApplication::primaryScreen();
    item_->setIcon(Glyph::icon(fullness, panel, screen ? screen->devicePixelRatio() : 1));
    item_->setToolTip(Glyph::description(fullness));
}

void SpaceWatchTray::togglePopover() {
    if (popover_ && popover_->isVisible()) {
        popover_->hide();
        return;
    }
    if (sinceHidden_.isValid() && sinceHidden_.elapsed() < 400) return;
    openPopover();
}

void SpaceWatchTray::openPopover() {
    if (!popover_) {
        QQmlComponent component(&engine_, QUrl("qrc:/qml/TideWatchPopover.qml"));
        QObject* made = component.create(engine_.rootContext());
        popover_ = qobject_cast<QQuickWindow*>(made);
        if (!popover_) {
            delete made;
            return;
        }
        QQmlEngine::setObjectOwnership(popover_, QQmlEngine::CppOwnership);
        connect(popover_, &QWindow::visibleChanged, this, [this](bool visible) {
            if (!visible) sinceHidden_.start();
        });
    }
    const QRect itemRect = item_ ? item_->geometry() : QRect();
    const QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(itemRect.isValid() ? itemRect.center() : pointer);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    popover_->setPosition(popoverPlacement(itemRect, pointer, popover_->size(), area));
    popover_->show();
    popover_->raise();
    popover_->requestActivate();
    emit popoverShown();
}

QPoint SpaceWatchTray::popoverPlacement(const QRect& trayItem, const QPoint& pointer,
                                        const QSize& popover, const QRect& screen) {
    constexpr int gap = 6;
    QPoint at;
    if (trayItem.isValid() && !trayItem.isEmpty()) {
        const bool bottomPanel = trayItem.center().y() > screen.center().y();
        at = {trayItem.center().x() - popover.width() / 2,
              bottomPanel ? trayItem.top() - gap - popover.height() : trayItem.bottom() + gap};
    } else {
        const bool lowerHalf = pointer.y() > screen.center().y();
        at = {pointer.x() - popover.width() / 2,
              lowerHalf ? pointer.y() - gap - popover.height() : pointer.y() + gap};
    }
    const int maxX = std::max(screen.left(), screen.right() + 1 - popover.width());
    const int maxY = std::max(screen.top(), screen.bottom() + 1 - popover.height());
    return {std::clamp(at.x(), screen.left(), maxX), std::clamp(at.y(), screen.top(), maxY)};
}

void SpaceWatchTray::openMainWindow() {
    QWindow* main = nullptr;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (w->objectName() == "main") main = w;
    if (auto* app = qobject_cast<QQmlApplicationEngine*>(&engine_); !main && app)
        for (QObject* o : app->rootObjects())
            if (auto* w = qobject_cast<QWindow*>(o); w && !main) main = w;
    if (!main) return;
    if (popover_) popover_->hide();
    main->show();
    main->raise();
    main->requestActivate();
}

}  // namespace brimvale
