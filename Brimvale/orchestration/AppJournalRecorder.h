#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace quenwick {
class JournalRecorder;
}

// AppJournalRecorder: the change journal recorded by the app itself while it runs, over the roots
// of the trees it has saved, so that its periodic catch-ups need no full scan. When another
// recorder (the brimvale-watch user service) holds the journal, the recording is left to it.
//
// Putting the watches in place reads every folder below the roots, so it all happens on a thread
// of its own; cover() only records the wish and returns. A new root restarts the recording with
// the wider set (the journal shows the restart as a gap, as it must). The destructor stops the
// recorder cleanly (its stop record is written) and joins the thread. GUI thread for the calls.
namespace brimvale {

class AppJournalRecorder {
public:
    // journalDirectory: empty for the default one.
    explicit AppJournalRecorder(std::string journalDirectory = {});
    ~AppJournalRecorder();
    AppJournalRecorder(const AppJournalRecorder&) = delete;
    AppJournalRecorder& operator=(const AppJournalRecorder&) = delete;

    // Makes sure changes below root are recorded from now on.
    void cover(const std::string& root);

    // What the thread is doing, for tests.
    enum class State { idle, recording, leftToService, failed };
    [[nodiscard]] State state() const;
    [[nodiscard]] std::set<std::string> roots() const;

private:
    void loop();

    const std::string directory_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::set<std::string> wanted_;
    std::set<std::string> recording_;
    State state_ = State::idle;
    bool quitting_ = false;
    std::shared_ptr<quenwick::JournalRecorder> recorder_;
    std::thread thread_;
};

}  // namespace brimvale
