#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "QuenwickCore/ChangeJournal.h"

// JournalRecorder watches folders and appends every directory in which something changed to the
// change journal (ChangeJournal). Unprivileged it puts an inotify watch on every directory below
// the roots (adding and removing them as directories come and go); with CAP_SYS_ADMIN and
// CAP_DAC_READ_SEARCH it marks each root's whole file system with fanotify instead, and resolves
// the reported directory handles to paths.
//
// Whatever makes the journal incomplete is written as a gap record: the kernel queue overflowed,
// the watch limit was reached, a root was deleted, moved, unmounted or replaced, or a file system
// was mounted or unmounted below a root. The start of a session is itself a gap (nothing was
// recorded before it), and a clean end writes a stop record. Directories it may not watch are
// published in the journal's state and reported as changed by every replay. Like the scanner it
// stays on each root's file system. The journal folder itself is never recorded (the recorder
// writes it all the time); replays report it as changed instead.
//
// One recorder per journal: start() fails with alreadyRunning while another one holds it. run()
// owns the recorder's thread until stop() (callable from any thread or a signal handler) or the
// given descriptor becomes readable. A recorder answers readers' requests (ChangeJournal::
// synchronize) only after everything that happened before the request is written.
namespace quenwick {

class JournalRecorder {
public:
    enum class Mode { automatic, inotify, fanotify };

    struct Options {
        std::vector<std::string> roots;
        std::string journalDirectory;  // empty: ChangeJournal::defaultDirectory()
        Mode mode = Mode::automatic;
        ChangeJournal::Writer::Limits limits;
        // How long a seen change may wait before it is written, so bursts become one record per
        // directory.
        std::chrono::milliseconds flushInterval{100};
        // How often a lost root is looked for again.
        std::chrono::milliseconds retryInterval{1000};
    };

    struct StartError {
        enum class Kind { alreadyRunning, cannotOpenJournal, noRoots, cannotWatch };
        Kind kind = Kind::cannotWatch;
        int errnum = 0;
        int64_t otherPid = 0;
        std::string detail;
        [[nodiscard]] std::string describe() const;
    };

    // Takes the journal, puts the watches in place, and only then writes the start record, so
    // that every change after the start record's position is seen.
    [[nodiscard]] static std::variant<std::unique_ptr<JournalRecorder>, StartError> start(
        Options options);
    ~JournalRecorder();
    JournalRecorder(const JournalRecorder&) = delete;
    JournalRecorder& operator=(const JournalRecorder&) = delete;

    // Records until stop() or until stopFd (when not -1) is readable, then writes the stop
    // record. False when the journal could no longer be written or its folder went away.
    [[nodiscard]] bool run(int stopFd = -1);
    void stop();

    Mode mode() const;  // inotify or fanotify, never automatic
    // Directories under an inotify watch right now (0 with fanotify).
    size_t watchedDirectories() const;
    // The roots as watched: real paths, without roots that lie inside other roots.
    std::vector<std::string> roots() const;

    struct Impl;

private:
    explicit JournalRecorder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quenwick
