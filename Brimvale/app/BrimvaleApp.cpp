#include "app/BrimvaleApp.h"

#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/LaunchOptions.h"
#include "app/MainWindowSupport.h"
#include "app/QuitWhenReady.h"
#include "lifecycle/Migration.h"
#include "lifecycle/SettingsController.h"
#include "lifecycle/SingleInstance.h"
#include "lifecycle/TrayWatch.h"
#include "model/AppModel.h"
#include "platform/DesktopAppearance.h"
#include "ring/RingItem.h"
#include "ring/RingSampling.h"
#include "watch/SpaceWatchTray.h"

namespace brimvale {

int BrimvaleApp::run(int argc, char** argv) {
    QElapsedTimer launched;
    launched.start();
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
    if (!options.error.empty()) {
        std::cerr << "brimvale: " << options.error << "\n";
        return 2;
    }

    QApplication app(argc, argv);
    QGuiApplication::setOrganizationName("Brimvale");
    QGuiApplication::setApplicationName("Brimvale");
    QGuiApplication::setApplicationVersion(BRIMVALE_VERSION);
    // Ties the windows to the installed menu entry (its name and icon on Wayland and in docks).
    QGuiApplication::setDesktopFileName("app.brimvale.Brimvale");
    AppModel::registerQmlTypes();
    RingItem::registerQmlType();
    RingSampling::applyToDefaultFormat();
    if (options.demo) {
        AppModel::useDemoData();
    } else {
        const AppEnvironment env = AppEnvironment::current();
        Migration::fromQuenwick(env.dataHome, env.configHome);
    }
    AppModel& model = AppModel::shared();

    if (options.quitWhenReady) {
        if (!options.target.empty()) {
            char* real = realpath(options.target.c_str(), nullptr);
            struct stat st;
            if (real == nullptr || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
                free(real);
                std::cerr << "brimvale: " << options.target << " is not a folder\n";
                return 2;
            }
            model.setTarget(ScanTarget::folder(real));
            free(real);
        }
        QuitWhenReady::arm(model, launched);
        model.start();
        return app.exec();
    }

    // Only one Brimvale per session: a second launch brings the first one forward and exits.
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::secondary) {
        int status = 0;
        instance.activateOwner([&status](bool answered) {
            status = answered ? 0 : 1;
            QCoreApplication::quit();
        });
        app.exec();
        return status;
    }
    QObject::connect(&instance, &SingleInstance::activated, &model,
                     [&model] { model.show(AppSection::explorer); });

    // Without a tray to live on, closing the last window quits.
    TrayWatch tray;
    auto quitRule = [&model, &tray] {
        QGuiApplication::setQuitOnLastWindowClosed(TrayWatch::shouldQuitOnLastWindowClosed(
            model.settings().showMenuBar(), tray.available()));
    };
    quitRule();
    QObject::connect(&tray, &TrayWatch::availableChanged, &model, quitRule);
    // Coming to the front: access may have been granted meanwhile, the Trash emptied elsewhere.
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &model,
                     [&model](Qt::ApplicationState state) {
                         if (state != Qt::ApplicationActive) return;
                         model.refreshFullDiskAccess();
                         model.refreshTrashLedger();
                     });

    DesktopAppearance appearance;
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty("appearance", &appearance);
    engine.rootContext()->setContextProperty("appModel", &model);
    installMainWindow(engine, model);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    // Before the main window, which may offer `settings.open()`.
    auto* settingsWindow = SettingsController::install(engine, model);
    QObject::connect(settingsWindow, &SettingsController::showMenuBarChanged, &model, quitRule);
    engine.load(QUrl("qrc:/qml/Main.qml"));
    SpaceWatchTray spaceWatch(model, tray, engine, &appearance);
    QObject::connect(
        settingsWindow, &SettingsController::showMenuBarChanged, &spaceWatch,
        [&spaceWatch, settingsWindow] { spaceWatch.setEnabled(settingsWindow->showMenuBar()); });
    model.start();
    model.startTideWatch();
    model.startUpdateChecks();
    return app.exec();
}

}  // namespace brimvale
