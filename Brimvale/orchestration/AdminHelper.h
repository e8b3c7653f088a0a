#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HelperKit/HelperEndpoint.h"

// Whether the privileged helper can scan for the app now. The helper counts as registered when the
// system bus lists its name among the names it can start; a helper of another build gets one more
// handshake once the running one has exited (the bus then starts the installed program again).
//
// GUI thread: every member is called there and every callback runs there, later, from the event
// loop, never from inside the call. The bus is asked on worker threads. Destroying the object
// drops the callbacks still due.
namespace brimvale {

class AdminHelper : public QObject {
    Q_OBJECT

public:
    struct Readiness {
        enum class Kind { ready, unavailable };
        Kind kind = Kind::ready;
        QString reason;  // for unavailable

        static Readiness ready() { return {}; }
        static Readiness unavailable(QString why) { return {Kind::unavailable, std::move(why)}; }
        bool operator==(const Readiness&) const = default;
    };

    struct Options {
        helperkit::HelperEndpoint endpoint;  // the installed helper on the system bus by default
        std::string build = appBuild();      // what the helper must answer to
        std::string scanRoot = "/";          // tests scan a small tree instead of the whole disk
        // How long an outdated helper may take to exit (it leaves after two idle minutes).
        std::chrono::milliseconds exitWait{std::chrono::seconds(150)};
    };

    explicit AdminHelper(Options options, QObject* parent = nullptr);
    ~AdminHelper() override;

    const Options& options() const { return options_; }

    // This app's build, which the helper of the same package reports too.
    [[nodiscard]] static std::string appBuild();
    // The version string the helper must answer: HelperIdentity::versionString of the build.
    [[nodiscard]] std::string expectedVersion() const;

    // Nothing when the helper is registered, else unavailable("the helper isn't installed").
    void registration(std::function<void(std::optional<Readiness>)> done);
    // Registered and answering with expectedVersion().
    void prepare(std::function<void(Readiness)> done);

private:
    void askVersion(std::function<void(bool matches)> done);
    void waitForExit(std::function<void()> done);
    // Runs work on a worker thread, then done(result) here unless this object is gone.
    template <class Work, class Done>
    void offThread(Work work, Done done);

    Options options_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace brimvale
