#include "app/BrimvaleApp.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

#include <iostream>
#include <string>
#include <vector>

#include "app/LaunchOptions.h"
#include "model/AppModel.h"
#include "platform/DesktopAppearance.h"
#include "ring/RingItem.h"
#include "ring/RingSampling.h"

namespace brimvale {

int BrimvaleApp::run(int argc, char** argv) {
    const LaunchOptions options = LaunchOptions::parse(std::vector<std::string>(argv, argv + argc));
    switch (options.action) {
        case LaunchOptions::Action::printVersion:
            std::cout << LaunchOptions::versionText();
            return 0;
        case LaunchOptions::Action::printHelp:
            std::cout << LaunchOptions::helpText();
            return 0;
        case LaunchOptions::Action::run:
            break;
    }

    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName("Brimvale");
    QGuiApplication::setApplicationName("Brimvale");
    QGuiApplication::setApplicationVersion(BRIMVALE_VERSION);
    AppModel::registerQmlTypes();
    RingItem::registerQmlType();
    RingSampling::applyToDefaultFormat();
    DesktopAppearance appearance;

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty("appearance", &appearance);
    engine.rootContext()->setContextProperty("appModel", &AppModel::shared());
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl("qrc:/qml/Main.qml"));
    return app.exec();
}

}  // namespace brimvale
