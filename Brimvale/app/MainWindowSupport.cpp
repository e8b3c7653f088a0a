#include "app/MainWindowSupport.h"

#include <QQmlContext>
#include <QQmlEngine>

#include "model/AppModel.h"
#include "model/NoticeClock.h"
#include "model/WindowCommands.h"
#include "model/WindowTexts.h"
#include "platform/DesktopActions.h"
#include "platform/IconProvider.h"

namespace brimvale {

void installMainWindow(QQmlEngine& engine, AppModel& model) {
    static const bool registered = [] {
        qmlRegisterType<NoticeClock>("Brimvale", 1, 0, "NoticeClock");
        qmlRegisterUncreatableType<WindowTexts>("Brimvale", 1, 0, "WindowTexts", "Use texts");
        return true;
    }();
    (void)registered;
    engine.addImageProvider(QStringLiteral("icons"), new IconProvider);
    QQmlContext* context = engine.rootContext();
    context->setContextProperty(
        "desktop", new DesktopActions(&model, QDBusConnection::sessionBus(), {}, &engine));
    context->setContextProperty("texts", new WindowTexts(&model, &engine));
    context->setContextProperty("commands", new WindowCommands(&model, &engine));
}

}  // namespace brimvale
