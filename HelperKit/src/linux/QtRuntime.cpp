#include "QtRuntime.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>

#include <memory>
#include <mutex>

namespace helperkit::detail {
namespace {

class Runtime {
public:
    Runtime() {
        thread_ = std::make_unique<QThread>();
        thread_->setObjectName(QStringLiteral("brimvale-helper-client"));
        thread_->start();
        context_ = std::make_unique<QObject>();
        context_->moveToThread(thread_.get());
    }

    ~Runtime() {
        QObject* context = context_.release();
        QMetaObject::invokeMethod(context, [context] { delete context; });
        thread_->quit();
        thread_->wait();
    }

    QObject* context() const { return context_.get(); }

private:
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> context_;
};

}  // namespace

QObject* eventContext() {
    // A QThread's event loop needs the process's application object.
    if (QCoreApplication::instance() == nullptr) return nullptr;
    static Runtime instance;
    return instance.context();
}

bool runInEventThread(const std::function<void()>& fn) {
    QObject* context = eventContext();
    if (context == nullptr) return false;
    if (QThread::currentThread() == context->thread()) {
        fn();
        return true;
    }
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
    return true;
}

}  // namespace helperkit::detail
