#include "QtRuntime.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>

#include <future>
#include <memory>
#include <thread>

namespace helperkit::detail {
namespace {

class Runtime {
public:
    Runtime() {
        if (QCoreApplication::instance() != nullptr) {
            thread_ = std::make_unique<QThread>();
            thread_->start();
            context_ = new QObject;
            context_->moveToThread(thread_.get());
            return;
        }
        std::promise<QObject*> ready;
        auto made = ready.get_future();
        appThread_ = std::thread([&ready] {
            static int argc = 1;
            static char name[] = "brimvale";
            static char* argv[] = {name, nullptr};
            QCoreApplication app(argc, argv);
            ready.set_value(&app);
            app.exec();
        });
        context_ = made.get();
    }

    ~Runtime() {
        if (thread_) {
            QMetaObject::invokeMethod(
                context_, [this] { delete context_; }, Qt::BlockingQueuedConnection);
            thread_->quit();
            thread_->wait();
        } else if (appThread_.joinable()) {
            QMetaObject::invokeMethod(context_, [] { QCoreApplication::quit(); });
            appThread_.join();
        }
    }

    QObject* context() const { return context_; }

private:
    std::unique_ptr<QThread> thread_;
    std::thread appThread_;
    QObject* context_ = nullptr;
};

Runtime& runtime() {
    static Runtime instance;
    return instance;
}

}  // namespace

QObject* eventContext() {
    return runtime().context();
}

void runInEventThread(const std::function<void()>& fn) {
    QObject* context = eventContext();
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}

}  // namespace helperkit::detail
