#include "HelperKit/HelperClient.h"

#include <QtCore/QObject>

#include <condition_variable>
#include <mutex>

#include "HelperKit/HelperSession.h"
#include "QtRuntime.h"

namespace helperkit {
namespace {

const char* const kNoApplication = "this process has no Qt application object";

}  // namespace

struct HelperClient::State {
    HelperEndpoint endpoint;
    std::unique_ptr<HelperSession> session;  // made, used and destroyed in the event thread

    std::mutex mutex;
    std::condition_variable changed;
    bool invalidated = false;
    std::string unique;

    // Starts a request on the session in the event thread and waits for its one answer.
    template <class Result, class Start>
    Result await(const Start& start) {
        std::optional<Result> result;
        const bool ran = detail::runInEventThread([&] {
            {
                std::lock_guard lock(mutex);
                if (invalidated) return;
            }
            if (!session) session = std::make_unique<HelperSession>(endpoint);
            start(*session, [this, &result](Result answer) {
                std::lock_guard lock(mutex);
                // A waiter that saw invalidate() is gone, and so is its result.
                if (invalidated) return;
                unique = session ? session->uniqueName() : std::string();
                result = std::move(answer);
                changed.notify_all();
            });
        });
        if (!ran) return Result(HelperError::connection(kNoApplication));
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return result.has_value() || invalidated; });
        // After invalidate() the session is gone and the callback can no longer run.
        if (!result) return Result(HelperError::connection("the connection was closed"));
        return std::move(*result);
    }
};

HelperClient::HelperClient(HelperEndpoint endpoint) : state_(std::make_shared<State>()) {
    state_->endpoint = std::move(endpoint);
}

HelperClient::~HelperClient() {
    invalidate();
}

std::unique_ptr<HelperClient> HelperClient::privileged() {
    return std::make_unique<HelperClient>(HelperEndpoint{});
}

std::variant<std::string, HelperError> HelperClient::version() {
    using Result = std::variant<std::string, HelperError>;
    return state_->await<Result>(
        [](HelperSession& session, auto done) { session.version(std::move(done)); });
}

std::optional<HelperError> HelperClient::handshake(const std::string& expectedBuild) {
    using Result = std::optional<HelperError>;
    // An absent error means success here, so the wait needs its own "answered" mark.
    auto answer =
        state_->await<std::variant<Result, HelperError>>([&](HelperSession& session, auto done) {
            session.handshake(expectedBuild, [done](Result r) { done(std::move(r)); });
        });
    if (auto* error = std::get_if<HelperError>(&answer)) return *error;
    return std::get<Result>(answer);
}

std::variant<std::vector<uint8_t>, HelperError> HelperClient::scan(const std::string& path,
                                                                   ProgressCallback progress) {
    using Result = std::variant<std::vector<uint8_t>, HelperError>;
    return state_->await<Result>([&](HelperSession& session, auto done) {
        session.scan(path, std::move(progress), std::move(done));
    });
}

void HelperClient::cancel() {
    QObject* context = detail::eventContext();
    if (context == nullptr) return;
    // Fire and forget: queued to the event thread, where the session lives.
    QMetaObject::invokeMethod(context, [state = state_] {
        if (state->session) state->session->cancel();
    });
}

void HelperClient::invalidate() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->invalidated) return;
        state_->invalidated = true;
        state_->unique.clear();
    }
    state_->changed.notify_all();
    (void)detail::runInEventThread([state = state_.get()] { state->session.reset(); });
}

std::string HelperClient::uniqueName() const {
    std::lock_guard lock(state_->mutex);
    return state_->invalidated ? std::string() : state_->unique;
}

}  // namespace helperkit
