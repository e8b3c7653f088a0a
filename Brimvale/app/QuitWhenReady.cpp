#include "app/QuitWhenReady.h"

#include <QCoreApplication>

#include <iostream>

#include "model/AppModel.h"

namespace brimvale {

std::string QuitWhenReady::report(const AppModel& model, qint64 readyMs) {
    const char* path = "fullScan";
    switch (model.lastLoadPath()) {
        case AppModel::LoadPath::snapshot:
            path = "snapshot";
            break;
        case AppModel::LoadPath::incremental:
            path = "incremental";
            break;
        case AppModel::LoadPath::fullScan:
        case AppModel::LoadPath::none:
            break;
    }
    const auto nodes = model.tree() ? model.tree()->count() : 0;
    return "{\"readyMs\": " + std::to_string(readyMs) + ", \"path\": \"" + path +
           "\", \"nodes\": " + std::to_string(nodes) + "}";
}

void QuitWhenReady::arm(AppModel& model, QElapsedTimer clock) {
    QObject::connect(&model, &AppModel::phaseChanged, &model, [&model, clock] {
        if (model.phase() != Phase::ready) return;
        std::cout << report(model, clock.elapsed()) << std::endl;
        // Queued: the model's own handlers of this change run first.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    });
}

}  // namespace brimvale
