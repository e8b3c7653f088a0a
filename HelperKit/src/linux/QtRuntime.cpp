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
        // The context and what hangs on it die in their own thread, before it stops.
        QObject* context = context_.release();
        QMetaObject::invokeMethod(
            context, [context] { delete context; }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
    }

    QObject* context() const { return context_.get(); }

private:
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> context_;
};

std::mutex runtimeMutex;
std::unique_ptr<Runtime> current;

// Runs while the application object is being destroyed: the thread goes with the application
// whose loop machinery it uses, not at some later point of process exit.
void stopRuntime() {
    std::unique_ptr<Runtime> stopping;
    {
        std::lock_guard lock(runtimeMutex);
        stopping = std::move(current);
    }
}

}  // namespace

QObject* eventContext() {
    // A QThread's event loop needs the process's application object.
    if (QCoreApplication::instance() == nullptr) return nullptr;
    std::lock_guard lock(runtimeMutex);
    if (!current) {
        current = std::make_unique<Runtime>();
        qAddPostRoutine(stopRuntime);
    }
    return current->context();
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
