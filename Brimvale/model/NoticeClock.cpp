#include "model/NoticeClock.h"

#include "model/AppModel.h"

namespace brimvale {

NoticeClock::NoticeClock(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setInterval(defaultInterval);
    connect(&timer_, &QTimer::timeout, this, &NoticeClock::expire);
}

void NoticeClock::setModel(AppModel* model) {
    if (model_ == model) return;
    disconnect(connection_);
    model_ = model;
    if (model_)
        connection_ = connect(model_, &AppModel::noticeChanged, this, &NoticeClock::noticeChanged);
    noticeChanged();
    emit modelChanged();
}

void NoticeClock::setInterval(int ms) {
    if (ms == timer_.interval()) return;
    timer_.setInterval(ms);
    emit intervalChanged();
}

void NoticeClock::noticeChanged() {
    const auto& notice = model_ ? model_->notice() : std::nullopt;
    if (!notice) {
        timer_.stop();
        showing_ = {};
        return;
    }
    if (notice->id == showing_) return;
    showing_ = notice->id;
    timer_.start();
}

void NoticeClock::expire() {
    if (model_ && model_->notice() && model_->notice()->id == showing_)
        model_->setNotice(std::nullopt);
}

}  // namespace brimvale
