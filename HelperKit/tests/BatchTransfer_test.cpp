#include "HelperKit/BatchTransfer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "HelperKit/HelperError.h"
#include "HelperKit/HelperIdentity.h"

namespace helperkit {
namespace {

using namespace std::chrono_literals;
constexpr int64_t MiB = HelperIdentity::batchSize;

std::vector<uint8_t> pattern(size_t length) {
    std::vector<uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), uint8_t(7));
    return bytes;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, BatchRange range) {
    return {bytes.begin() + range.offset, bytes.begin() + range.offset + range.length};
}

// What the helper sends for `bytes`, delivered to an assembler in the given order of batches.
std::variant<std::vector<uint8_t>, HelperError> transfer(const std::vector<uint8_t>& bytes,
                                                         std::vector<size_t> order) {
    const auto ranges = batchRanges(int64_t(bytes.size()), MiB);
    BatchAssembler assembler;
    for (size_t i : order)
        assembler.receive(ranges[i].offset, slice(bytes, ranges[i]));
    return assembler.waitAndJoin(int64_t(bytes.size()), 10ms);
}

TEST(BatchTransfer, ExactlyOneMebibyteTravelsAsOneBatchAndOneMoreByteAsTwo) {
    EXPECT_EQ(batchRanges(MiB, MiB), (std::vector<BatchRange>{{0, MiB}}));
    EXPECT_EQ(batchRanges(MiB + 1, MiB), (std::vector<BatchRange>{{0, MiB}, {MiB, 1}}));
    EXPECT_EQ(batchRanges(3 * MiB - 5, MiB),
              (std::vector<BatchRange>{{0, MiB}, {MiB, MiB}, {2 * MiB, MiB - 5}}));
    EXPECT_TRUE(batchRanges(0, MiB).empty());

    for (int64_t length : {MiB, MiB + 1}) {
        const auto bytes = pattern(size_t(length));
        const auto ranges = batchRanges(length, MiB);
        std::vector<size_t> order(ranges.size());
        std::iota(order.begin(), order.end(), 0);
        auto joined = transfer(bytes, order);
        ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(joined)) << length;
        EXPECT_EQ(std::get<std::vector<uint8_t>>(joined), bytes) << length;
    }
}

TEST(BatchTransfer, BatchesOutOfOrderAreJoinedByOffset) {
    const auto bytes = pattern(size_t(3 * MiB + 17));
    auto joined = transfer(bytes, {3, 1, 0, 2});
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(joined));
    EXPECT_EQ(std::get<std::vector<uint8_t>>(joined), bytes);
}

TEST(BatchTransfer, BatchDeliveredTwiceIsCountedOnce) {
    const auto bytes = pattern(size_t(2 * MiB));
    BatchAssembler assembler;
    assembler.receive(0, slice(bytes, {0, MiB}));
    assembler.receive(0, std::vector<uint8_t>(size_t(MiB), 0xEE));  // a stray copy: ignored
    EXPECT_EQ(assembler.received(), MiB);
    assembler.receive(MiB, slice(bytes, {MiB, MiB}));
    auto joined = assembler.waitAndJoin(2 * MiB, 10ms);
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(joined));
    EXPECT_EQ(std::get<std::vector<uint8_t>>(joined), bytes);
}

TEST(BatchTransfer, MissingBatchEndsIncompleteAfterTheTimeoutNotBefore) {
    const auto bytes = pattern(size_t(2 * MiB));
    BatchAssembler assembler;
    assembler.receive(MiB, slice(bytes, {MiB, MiB}));
    const auto started = std::chrono::steady_clock::now();
    auto joined = assembler.waitAndJoin(2 * MiB, 200ms);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 200ms);
    ASSERT_TRUE(std::holds_alternative<HelperError>(joined));
    EXPECT_EQ(std::get<HelperError>(joined), HelperError::incomplete());
    EXPECT_EQ(assembler.received(), 0) << "joining takes the batches";
}

TEST(BatchTransfer, WaitEndsAsSoonAsTheLastBatchArrives) {
    const auto bytes = pattern(size_t(MiB + 1));
    BatchAssembler assembler;
    assembler.receive(0, slice(bytes, {0, MiB}));
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        assembler.receive(MiB, slice(bytes, {MiB, 1}));
    });
    const auto started = std::chrono::steady_clock::now();
    auto joined = assembler.waitAndJoin(MiB + 1, 30s);
    late.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(joined));
    EXPECT_EQ(std::get<std::vector<uint8_t>>(joined), bytes);
}

TEST(BatchTransfer, GapsOverlapsAndWrongTotalsAreIncomplete) {
    const auto incomplete =
        std::variant<std::vector<uint8_t>, HelperError>(HelperError::incomplete());
    {
        BatchAssembler overlap;  // right byte count, but the second batch overlaps the first
        overlap.receive(0, pattern(10));
        overlap.receive(5, pattern(5));
        EXPECT_EQ(overlap.waitAndJoin(15, 10ms), incomplete);
    }
    {
        BatchAssembler gap;  // a hole between the batches, made up by a stray batch at the end
        gap.receive(0, pattern(10));
        gap.receive(12, pattern(3));
        EXPECT_EQ(gap.waitAndJoin(15, 10ms), incomplete);
    }
    {
        BatchAssembler tooMuch;  // more bytes than announced
        tooMuch.receive(0, pattern(10));
        tooMuch.receive(10, pattern(10));
        EXPECT_EQ(tooMuch.waitAndJoin(15, 10ms), incomplete);
    }
    {
        BatchAssembler hostile;  // an absurd total must not be believed (nor allocated)
        hostile.receive(0, pattern(10));
        EXPECT_EQ(hostile.waitAndJoin(int64_t(1) << 62, 10ms), incomplete);
        hostile.receive(-4, pattern(4));
        EXPECT_EQ(hostile.waitAndJoin(4, 10ms), incomplete);
    }
}

TEST(BatchTransfer, EmptyTotalWithNoBatchesJoinsToNothingAtOnce) {
    BatchAssembler assembler;
    auto joined = assembler.waitAndJoin(0, 30s);
    ASSERT_TRUE(std::holds_alternative<std::vector<uint8_t>>(joined));
    EXPECT_TRUE(std::get<std::vector<uint8_t>>(joined).empty());
}

TEST(HelperErrorTexts, EachCaseReadsAsTheUserSeesIt) {
    EXPECT_EQ(HelperError::connection("bad proxy").describe(),
              "Couldn't reach the administrator helper (bad proxy).");
    EXPECT_EQ(HelperError::helper("A scan is already running.").describe(),
              "A scan is already running.");
    EXPECT_EQ(HelperError::incomplete().describe(), "The administrator scan arrived incomplete.");
    EXPECT_NE(HelperError::helper("x"), HelperError::connection("x"));
    EXPECT_NE(HelperError::helper("x"), HelperError::helper("y"));
}

TEST(HelperIdentityVersion, VersionStringJoinsProtocolAndBuild) {
    EXPECT_EQ(HelperIdentity::versionString("42"), "1/42");
    EXPECT_EQ(HelperIdentity::versionString("0"), "1/0");
    EXPECT_FALSE(HelperIdentity::installedBuild().empty());
}

}  // namespace
}  // namespace helperkit
