#include "QuenwickCore/ChangeJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "TestSupport.h"

using quenwick::ChangeJournal;
using quenwick::JournalRecord;
using quenwick::JournalState;
using quenwick::testing::TempDir;
using Writer = quenwick::ChangeJournal::Writer;

namespace {

std::unique_ptr<Writer> openWriter(const std::string& dir, Writer::Limits limits = {}) {
    auto opened = Writer::open(dir, limits);
    if (auto* error = std::get_if<Writer::OpenError>(&opened)) {
        ADD_FAILURE() << error->describe();
        return nullptr;
    }
    return std::move(std::get<0>(opened));
}

std::vector<std::string> segments(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const auto name = e.path().filename().string();
        if (name.starts_with("segment-")) names.push_back(e.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> changedPaths(const ChangeJournal::Replay& replay) {
    std::vector<std::string> paths;
    for (const auto& r : replay.records)
        if (r.kind == JournalRecord::Kind::changed) paths.push_back(r.path);
    return paths;
}

TEST(ChangeJournal, ReplayGivesTheRecordsAfterAPositionInOrder) {
    TempDir dir;
    auto writer = openWriter(dir.path());
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin({"/r"}));
    const uint64_t start = writer->position();
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/a", "/r/b"}));
    const uint64_t middle = writer->position();
    ASSERT_TRUE(writer->appendGap(JournalRecord::Gap::rootLost, "/r"));
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/c"}));

    const ChangeJournal journal(dir.path());
    EXPECT_EQ(journal.lastPosition(), writer->position());
    auto replay = journal.readSince(start);
    ASSERT_TRUE(replay.complete);
    EXPECT_EQ(changedPaths(replay), (std::vector<std::string>{"/r/a", "/r/b", "/r/c"}));
    ASSERT_EQ(replay.records.size(), 4u);
    EXPECT_EQ(replay.records[2].kind, JournalRecord::Kind::gap);
    EXPECT_EQ(replay.records[2].reason, JournalRecord::Gap::rootLost);
    EXPECT_EQ(replay.records[2].path, "/r");
    for (size_t i = 0; i < replay.records.size(); ++i)
        EXPECT_EQ(replay.records[i].position, start + 1 + i);

    replay = journal.readSince(middle);
    ASSERT_TRUE(replay.complete);
    EXPECT_EQ(changedPaths(replay), std::vector<std::string>{"/r/c"});
    // Nothing after the newest record, and a position from the future is unknown.
    EXPECT_TRUE(journal.readSince(writer->position()).complete);
    EXPECT_TRUE(journal.readSince(writer->position()).records.empty());
    EXPECT_FALSE(journal.readSince(writer->position() + 5).complete);
    EXPECT_FALSE(journal.readSince(0).complete);
}

TEST(ChangeJournal, PositionsOnlyGrowAcrossSessionsEvenWhenTheFilesAreLost) {
    TempDir dir;
    const ChangeJournal journal(dir.path());
    uint64_t last = 0;
    for (int session = 0; session < 3; ++session) {
        auto writer = openWriter(dir.path());
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->begin({"/r"}));
        EXPECT_GT(writer->position(), last);
        EXPECT_EQ(writer->sessionStart(), writer->position());
        // Nothing reads seamlessly across a session's start.
        if (last != 0) {
            EXPECT_FALSE(journal.readSince(last).complete);
        }
        ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/x"}));
        const auto replay = journal.readSince(writer->sessionStart());
        ASSERT_TRUE(replay.complete);
        EXPECT_EQ(changedPaths(replay), std::vector<std::string>{"/r/x"});
        last = writer->position();
        if (session == 1) {
            writer.reset();
            for (const auto& s : segments(dir.path()))
                std::filesystem::remove(s);
            EXPECT_EQ(journal.lastPosition(), 0u);
        }
    }
}

TEST(ChangeJournal, SegmentsAreBoundedAndOldPositionsAreLost) {
    TempDir dir;
    auto writer = openWriter(dir.path(), {4096, 3});
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin({"/root"}));
    const uint64_t first = writer->position();
    std::vector<uint64_t> positions;
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(
            writer->appendChanged(std::vector<std::string>{"/root/folder" + std::to_string(i)}));
        positions.push_back(writer->position());
    }
    EXPECT_LE(segments(dir.path()).size(), 3u);
    uint64_t bytes = 0;
    for (const auto& s : segments(dir.path()))
        bytes += std::filesystem::file_size(s);
    EXPECT_LT(bytes, 4u * 4096);

    const ChangeJournal journal(dir.path());
    EXPECT_FALSE(journal.readSince(first).complete);
    const auto recent = journal.readSince(positions[480]);
    ASSERT_TRUE(recent.complete);
    // Each segment repeats the session's roots; those heads are no changes.
    EXPECT_EQ(changedPaths(recent).size(), 19u);
    EXPECT_EQ(changedPaths(recent).back(), "/root/folder499");
    for (const auto& r : recent.records) {
        if (r.kind == JournalRecord::Kind::session) {
            EXPECT_EQ(r.session, first);
        }
    }
}

TEST(ChangeJournal, TornTailIsNotARecordAndLaterRecordsShowTheHole) {
    TempDir dir;
    auto writer = openWriter(dir.path());
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin({"/r"}));
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/a"}));
    const uint64_t kept = writer->position();
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/torn"}));
    const std::string segment = segments(dir.path()).back();
    ASSERT_EQ(truncate(segment.c_str(), std::filesystem::file_size(segment) - 5), 0);

    const ChangeJournal journal(dir.path());
    EXPECT_EQ(journal.lastPosition(), kept);
    EXPECT_TRUE(journal.readSince(kept).complete);
    // The writer goes on from its own count: the reader sees the missing position.
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/after"}));
    EXPECT_FALSE(journal.readSince(kept).complete);
    const auto after = journal.readSince(writer->position() - 1);
    EXPECT_FALSE(after.complete);
    EXPECT_TRUE(journal.readSince(writer->position()).complete);
}

TEST(ChangeJournal, GarbageAndZerosNeverReadAsRecords) {
    TempDir dir;
    auto writer = openWriter(dir.path());
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin({"/r"}));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/d" + std::to_string(i)}));
    const uint64_t before = writer->position() - 10;
    const std::string segment = segments(dir.path()).back();
    const auto size = std::filesystem::file_size(segment);
    {
        // A crash can leave zeros where data was meant to be; a stray write leaves noise.
        const int fd = open(segment.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::string zeros(200, '\0');
        ASSERT_EQ(pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(size / 2)), 200);
        close(fd);
    }
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/later"}));
    const uint64_t later = writer->position();
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/last"}));

    const ChangeJournal journal(dir.path());
    EXPECT_FALSE(journal.readSince(before).complete);
    // The reader finds its footing again after the damage.
    const auto replay = journal.readSince(later);
    ASSERT_TRUE(replay.complete);
    EXPECT_EQ(changedPaths(replay), std::vector<std::string>{"/r/last"});

    // Random files under segment names, empty and huge-looking ones: no crash, nothing read.
    std::mt19937 random(7);
    for (int i = 0; i < 20; ++i) {
        std::string noise(static_cast<size_t>(random() % 5000), '\0');
        for (auto& c : noise)
            c = static_cast<char>(random());
        // Some of it starts like a record.
        if (i % 2 == 0 && noise.size() > 8) noise.replace(0, 4, "QWJR");
        ASSERT_TRUE(quenwick::testing::writeFile(
            dir / ("segment-" + std::string(15, 'f') + std::to_string(i % 10) + ".qwj"), noise));
        EXPECT_TRUE(journal.readSince(later).complete);
        EXPECT_EQ(journal.lastPosition(), writer->position());
    }
}

// 20-byte record headers back to back, each claiming a payload of the record limit that the
// file does hold: every header is a candidate record whose claim must be refuted cheaply.
std::string headersClaimingTheLimit(size_t bytes, uint8_t kind) {
    std::string data;
    for (uint64_t position = 1; data.size() + 20 <= bytes; ++position) {
        data += "QWJR";
        const uint32_t length = 1u << 20;
        data.append(reinterpret_cast<const char*>(&length), 4);
        data.append(reinterpret_cast<const char*>(&position), 8);
        data += static_cast<char>(kind);
        data.append(3, '\0');
    }
    return data;
}

TEST(ChangeJournal, CraftedSegmentOfOversizedClaimsIsRejectedInLinearTime) {
    TempDir dir;
    auto writer = openWriter(dir.path());
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin({"/r"}));
    ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/a"}));
    const uint64_t position = writer->position();
    writer.reset();

    // Named to come after the real segment, so every reader goes through it.
    const uint8_t kinds[] = {1, 3, 4};
    for (size_t i = 0; i < std::size(kinds); ++i) {
        ASSERT_TRUE(quenwick::testing::writeFile(
            dir / ("segment-" + std::string(15, 'f') + std::to_string(i) + ".qwj"),
            headersClaimingTheLimit(2 << 20, kinds[i])));
    }
    const ChangeJournal journal(dir.path());
    const auto started = std::chrono::steady_clock::now();
    const auto replay = journal.readSince(position);
    const uint64_t last = journal.lastPosition();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(replay.records.empty());
    EXPECT_EQ(last, position);  // nothing in the crafted files reads as a record
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(ChangeJournal, FifoNamedLikeAJournalFileIsSkippedWithoutBlocking) {
    TempDir dir;
    {
        auto writer = openWriter(dir.path());
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->begin({"/r"}));
        ASSERT_TRUE(writer->appendChanged(std::vector<std::string>{"/r/a"}));
    }
    const std::string fifoSegment = dir / ("segment-" + std::string(16, 'f') + ".qwj");
    ASSERT_EQ(mkfifo(fifoSegment.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "state").c_str(), 0600), 0);
    ASSERT_EQ(unlink((dir / "recorder.lock").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "recorder.lock").c_str(), 0600), 0);
    // In a child, so that an open that blocks shows as a failure rather than a hung suite.
    const auto outcome = quenwick::testing::runInChild([&] {
        alarm(5);
        const ChangeJournal journal(dir.path());
        const uint64_t last = journal.lastPosition();
        const bool state = journal.readState().has_value();
        const bool running = journal.recorderRunning();
        return std::to_string(last > 0) + std::to_string(state) + std::to_string(running);
    });
    ASSERT_TRUE(outcome) << "a reader blocked on a FIFO";
    EXPECT_EQ(*outcome, "100");
}

TEST(ChangeJournal, SecondWriterIsRefusedWithTheFirstOnesPid) {
    TempDir dir;
    auto writer = openWriter(dir.path());
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin({"/r"}));
    JournalState state;
    state.pid = 4242;
    state.sessionStart = writer->sessionStart();
    ASSERT_TRUE(writer->publish(state));
    const ChangeJournal journal(dir.path());
    EXPECT_TRUE(journal.recorderRunning());

    auto second = Writer::open(dir.path(), {});
    ASSERT_TRUE(std::holds_alternative<Writer::OpenError>(second));
    const auto& error = std::get<Writer::OpenError>(second);
    EXPECT_EQ(error.kind, Writer::OpenError::Kind::alreadyRunning);
    EXPECT_EQ(error.otherPid, 4242);
    EXPECT_EQ(error.describe(), "another recorder is already running (pid 4242)");

    writer.reset();
    EXPECT_FALSE(journal.recorderRunning());
    EXPECT_TRUE(openWriter(dir.path()));
}

TEST(ChangeJournal, StateRoundTripsAndDamageIsRejected) {
    TempDir dir;
    auto writer = openWriter(dir.path());
    ASSERT_TRUE(writer);
    JournalState state;
    state.pid = 77;
    state.sessionStart = 123456789;
    state.mode = "inotify";
    state.roots = {"/home/ann", "/srv/\xff\xfe"};
    state.lostRoots = {"/srv/\xff\xfe"};
    state.unwatchable = {"/home/ann/private"};
    state.incomplete = true;
    state.watchedDirectories = 99;
    ASSERT_TRUE(writer->publish(state));
    const ChangeJournal journal(dir.path());
    EXPECT_EQ(journal.readState(), state);
    EXPECT_TRUE(writer->statePublished());

    const std::string path = dir / "state";
    std::string bytes;
    {
        FILE* f = fopen(path.c_str(), "rb");
        ASSERT_TRUE(f);
        char buf[4096];
        bytes.assign(buf, fread(buf, 1, sizeof buf, f));
        fclose(f);
    }
    for (size_t cut : {size_t{0}, size_t{5}, bytes.size() / 2, bytes.size() - 1}) {
        ASSERT_TRUE(quenwick::testing::writeFile(path, bytes.substr(0, cut)));
        EXPECT_FALSE(journal.readState()) << cut;
    }
    std::string flipped = bytes;
    flipped[20] ^= 0x01;
    ASSERT_TRUE(quenwick::testing::writeFile(path, flipped));
    EXPECT_FALSE(journal.readState());
    EXPECT_FALSE(writer->statePublished());
}

TEST(ChangeJournal, FailedWriteLeavesAHoleReadersSee) {
    if (!quenwick::testing::canMountPrivateTmpfs()) GTEST_SKIP() << "no private mount namespace";
    TempDir dir;
    // A file system too small for what is written: the write fails part way.
    const auto result = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::mountPrivateTmpfs(dir.path(), "size=64k,mode=0755")) return "mount";
        const std::string ballast = dir / "ballast";
        if (!quenwick::testing::writeFileOfSize(ballast, 40 << 10)) return "ballast";
        auto opened = Writer::open(dir / "journal", {1 << 20, 4});
        if (!std::holds_alternative<std::unique_ptr<Writer>>(opened)) return "open";
        auto& writer = *std::get<0>(opened);
        if (!writer.begin({"/r"})) return "begin";
        if (!writer.appendChanged(std::vector<std::string>{"/r/before"})) return "before";
        const uint64_t before = writer.position();
        bool failed = false;
        for (int i = 0; i < 200 && !failed; ++i) {
            failed =
                !writer.appendChanged(std::vector<std::string>(10, "/r/" + std::string(400, 'x')));
        }
        if (!failed) return "never failed";
        // Room again: what follows is written, after a hole.
        std::filesystem::remove(ballast);
        if (!writer.appendChanged(std::vector<std::string>{"/r/after"})) return "no room";
        const ChangeJournal journal(dir / "journal");
        const bool holeSeen = !journal.readSince(before).complete;
        const bool freshReadable = journal.readSince(writer.position()).complete;
        return std::string(holeSeen ? "hole" : "seamless") + (freshReadable ? " fresh" : " stale");
    });
    EXPECT_EQ(result, std::optional<std::string>("hole fresh"));
}

}  // namespace
