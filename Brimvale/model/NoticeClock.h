#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>

// The toast's clock: clears the model's notice a while after it appeared, unless a newer notice
// replaced it meanwhile (each notice has an id of its own, and every new one starts the wait
// again). For QML: NoticeClock { model: appModel } (interval in milliseconds, 5000 unless a test
// shortens it). GUI thread.
namespace brimvale {

class AppModel;

class NoticeClock : public QObject {
    Q_OBJECT
    Q_PROPERTY(brimvale::AppModel* model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(int interval READ interval WRITE setInterval NOTIFY intervalChanged)

public:
    static constexpr int defaultInterval = 5000;

    explicit NoticeClock(QObject* parent = nullptr);

    AppModel* model() const { return model_; }
    void setModel(AppModel* model);
    int interval() const { return timer_.interval(); }
    void setInterval(int ms);

signals:
    void modelChanged();
    void intervalChanged();

private:
    void noticeChanged();
    void expire();

    QPointer<AppModel> model_;
    QMetaObject::Connection connection_;
    QTimer timer_;
    QUuid showing_;
};

}  // namespace brimvale
