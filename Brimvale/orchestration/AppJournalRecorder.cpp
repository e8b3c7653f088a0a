#include "orchestration/AppJournalRecorder.h"

#include "QuenwickCore/ChangeJournal.h"
#include "QuenwickCore/JournalRecorder.h"

namespace brimvale {

AppJournalRecorder::AppJournalRecorder(std::string journalDirectory)
    : directory_(journalDirectory.empty() ? quenwick::ChangeJournal::defaultDirectory()
                                          : std::move(journalDirectory)),
      thread_([this] { loop(); }) {}

AppJournalRecorder::~AppJournalRecorder() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
        if (recorder_) recorder_->stop();
    }
    wake_.notify_all();
    thread_.join();
}

void AppJournalRecorder::cover(const std::string& root) {
    std::lock_guard lock(mutex_);
    if (!wanted_.insert(root).second) return;
    // The running recorder ends; the loop starts it again over the wider set.
    if (recorder_) recorder_->stop();
    wake_.notify_all();
}

AppJournalRecorder::State AppJournalRecorder::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::set<std::string> AppJournalRecorder::roots() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

void AppJournalRecorder::loop() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return quitting_ || wanted_ != recording_; });
        if (quitting_) return;
        const std::set<std::string> roots = wanted_;
        lock.unlock();
        State state = State::failed;
        std::shared_ptr<quenwick::JournalRecorder> recorder;
        if (quenwick::ChangeJournal(directory_).recorderRunning()) {
            state = State::leftToService;
        } else {
            quenwick::JournalRecorder::Options options;
            options.roots.assign(roots.begin(), roots.end());
            options.journalDirectory = directory_;
            auto started = quenwick::JournalRecorder::start(std::move(options));
            if (auto* r = std::get_if<std::unique_ptr<quenwick::JournalRecorder>>(&started)) {
                recorder = std::move(*r);
                state = State::recording;
            } else if (std::get<quenwick::JournalRecorder::StartError>(started).kind ==
                       quenwick::JournalRecorder::StartError::Kind::alreadyRunning) {
                state = State::leftToService;
            }
        }
        lock.lock();
        recording_ = roots;
        state_ = state;
        if (!recorder) continue;
        recorder_ = recorder;
        // A wish or a quit that came while the watches were being set up.
        if (quitting_ || wanted_ != recording_) recorder->stop();
        lock.unlock();
        (void)recorder->run();
        lock.lock();
        recorder_.reset();
        // Ended by itself (its journal went away): it is not restarted until a new root comes.
        state_ = State::idle;
    }
}

}  // namespace brimvale
