#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/PathRules.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <thread>

#include "ChangeCollector.h"
#include "QuenwickCore/ChangeJournal.h"

namespace quenwick::FSEventsHistory {
namespace {

using detail::ChangeCollector;
namespace Flags = detail::JournalFlags;

using PathRules::overlaps;
constexpr auto isUnder = PathRules::isAtOrBelow;

uint32_t flagsFor(JournalRecord::Gap reason) {
    switch (reason) {
        case JournalRecord::Gap::queueOverflow:
            return Flags::kernelDropped;
        case JournalRecord::Gap::watchLimit:
        case JournalRecord::Gap::mountsChanged:
            return Flags::mustScanSubDirs;
        case JournalRecord::Gap::rootLost:
            return Flags::rootChanged;
        case JournalRecord::Gap::none:
        case JournalRecord::Gap::cannotRecord:
            break;
    }
    return Flags::userDropped;
}

// The journal's side of the replay: everything it knows about `under` since `since`, delivered
// to the collector and closed with the history-done event. Runs on its own thread.
void replay(const ChangeJournal& journal, const std::string& under, uint64_t since,
            std::chrono::steady_clock::time_point deadline, ChangeCollector& collector) {
    const auto lost = [&](uint32_t flags) {
        collector.deliver(under, flags);
        collector.deliver(under, Flags::historyDone);
    };
    // Without a recorder now, nothing says what changed since its last record.
    if (!journal.recorderRunning()) return lost(Flags::userDropped);
    const auto written = journal.synchronize(deadline);
    if (!written) return lost(Flags::userDropped);
    const auto state = journal.readState();
    if (!state || since < state->sessionStart) return lost(Flags::userDropped);
    if (std::none_of(state->roots.begin(), state->roots.end(),
                     [&](const std::string& root) { return isUnder(under, root); })) {
        return lost(Flags::rootChanged);
    }
    for (const auto& root : state->lostRoots)
        if (overlaps(root, under)) return lost(Flags::rootChanged);
    if (state->incomplete) return lost(Flags::mustScanSubDirs);

    const auto history = journal.readSince(since);
    // Records the recorder says it wrote but that cannot be read were damaged or lost.
    if (!history.complete || history.last < *written) return lost(Flags::kernelDropped);
    std::vector<std::string_view> paths;
    std::vector<uint32_t> flags;
    for (const auto& r : history.records) {
        switch (r.kind) {
            case JournalRecord::Kind::changed:
                if (isUnder(r.path, under)) {
                    paths.push_back(r.path);
                    flags.push_back(0);
                }
                break;
            case JournalRecord::Kind::gap:
                if (r.path.empty() || overlaps(r.path, under)) {
                    paths.push_back(under);
                    flags.push_back(flagsFor(r.reason));
                }
                break;
            case JournalRecord::Kind::start:
            case JournalRecord::Kind::stop:
                paths.push_back(under);
                flags.push_back(Flags::userDropped);
                break;
            case JournalRecord::Kind::session:
                break;
        }
    }
    // What the recorder cannot watch, and the journal it writes itself, may have changed at
    // any time.
    for (const auto& dir : state->unwatchable) {
        if (isUnder(dir, under)) {
            paths.push_back(dir);
            flags.push_back(0);
        }
    }
    const std::string journalDir =
        PathRules::realPath(journal.directory()).value_or(journal.directory());
    if (isUnder(journalDir, under)) {
        paths.push_back(journalDir);
        flags.push_back(0);
    }
    paths.push_back(under);
    flags.push_back(Flags::historyDone);
    collector.deliver(paths, flags);
}

}  // namespace

uint64_t currentEventID() {
    const ChangeJournal journal(ChangeJournal::defaultDirectory());
    // Read before the recorder is asked: even when its answer comes too late, every change from
    // now on is recorded after this position.
    const uint64_t before = journal.lastPosition();
    if (!journal.recorderRunning()) return before;
    const auto written =
        journal.synchronize(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    return written.value_or(before);
}

ChangeSet changedDirectories(const std::string& under, uint64_t since, double timeout) {
    // Reported paths are real paths: compare against the folder's real path.
    const std::string real = PathRules::realPath(under).value_or(under);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::max(0.0, std::min(timeout, 1e6))));
    ChangeCollector collector;
    bool done = false;
    {
        const ChangeJournal journal(ChangeJournal::defaultDirectory());
        std::jthread delivery([&] { replay(journal, real, since, deadline, collector); });
        done = collector.waitUntilDone(deadline);
    }
    // The delivery thread has ended here, so nothing is delivered after the result is read.
    return collector.result(!done);
}

}  // namespace quenwick::FSEventsHistory
