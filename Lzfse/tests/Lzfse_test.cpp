#include "Lzfse/Lzfse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "VectorSupport.h"

namespace lzfse::test {
namespace {

constexpr std::uint64_t kGenerousLimit = std::uint64_t{1} << 32;

std::uint32_t magicAt(const Bytes& stream, std::size_t offset) {
    std::uint32_t v = 0;
    std::memcpy(&v, stream.data() + offset, 4);
    return v;
}

constexpr std::uint32_t kRaw = 0x2d787662;
constexpr std::uint32_t kLzvn = 0x6e787662;
constexpr std::uint32_t kV2 = 0x32787662;
constexpr std::uint32_t kEnd = 0x24787662;

Bytes roundTrip(const Bytes& input, unsigned threads = 1) {
    const Bytes stream = encode(input, Options{threads});
    Decoded decoded = decode(stream, input.size(), Options{threads});
    EXPECT_TRUE(decoded.ok()) << (decoded.ok() ? "" : describe(decoded.error->error));
    return decoded.bytes;
}

Bytes randomBytes(std::size_t n, std::uint64_t seed) {
    Random random(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(random.next());
    return b;
}

// Words, numbers and repeated records: compressible the way real payloads are.
Bytes textLike(std::size_t n, std::uint64_t seed) {
    static const char* const words[] = {"the ",    "folder ", "size ", "of ",     "a ",
                                        "file ",   "cache ",  "disk ", "space ",  "is ",
                                        "large\n", "small ",  "user ", "Library", "/"};
    Random random(seed);
    Bytes b;
    while (b.size() < n) {
        const std::string w = words[random.below(std::size(words))];
        b.insert(b.end(), w.begin(), w.end());
        if (random.below(8) == 0) {
            const auto v = static_cast<std::uint32_t>(random.below(1u << 20));
            b.insert(b.end(), reinterpret_cast<const std::uint8_t*>(&v),
                     reinterpret_cast<const std::uint8_t*>(&v) + 4);
        }
    }
    b.resize(n);
    return b;
}

// ---------------------------------------------------------------- shared vectors

TEST(LzfseVectors, EveryValidVectorDecodesToItsManifestBytes) {
    int checked = 0;
    for (const auto& v : manifest()) {
        if (!v.valid) continue;
        SCOPED_TRACE(v.file);
        const Bytes stream = readFile(vectorPath(v.file));
        for (unsigned threads : {1u, 2u}) {
            Decoded decoded = decode(stream, v.size, Options{threads});
            ASSERT_TRUE(decoded.ok()) << describe(decoded.error->error) << " at block offset "
                                      << decoded.error->blockOffset;
            EXPECT_EQ(decoded.bytes.size(), v.size);
            EXPECT_EQ(sha256Hex(decoded.bytes), v.expectation);
        }
        ++checked;
    }
    EXPECT_GE(checked, 29);
}

// What each rejection in the manifest means in our terms.
std::set<Error> expectedErrors(const std::string& why) {
    const std::pair<const char*, std::set<Error>> table[] = {
        {"truncated", {Error::truncated}},
        {"bad block magic", {Error::badMagic}},
        {"bytes after the end-of-stream block", {Error::trailingBytes}},
        {"literal or match count over the block limit", {Error::badCount}},
        {"state out of range", {Error::badState}},
        {"v2 header size below 32", {Error::badHeaderSize}},
        {"packed tables", {Error::badHeaderSize}},
        {"frequencies sum", {Error::badTable}},
        {"padding bits", {Error::badPadding}},
        {"payload too short", {Error::payloadTooShort}},
        {"match distance", {Error::badMatchDistance}},
        {"repeat distance", {Error::badMatchDistance}},
        {"literals used exceed", {Error::badLiteralCount}},
        {"bit stream exhausted", {Error::bitStreamExhausted}},
        {"block produced", {Error::badBlockSize}},
        {"bit count field", {Error::badBitCount}},
        {"undefined LZVN opcode", {Error::badOpcode}},
        {"end instruction", {Error::badEndInstruction}},
        {"LZVN block produces", {Error::badBlockSize}},
        {"LZVN block with no output", {Error::badBlockSize}},
        {"literal runs past the payload", {Error::instructionOverrun}},
        {"bad match distance", {Error::badMatchDistance}},
        {"no previous distance", {Error::badMatchDistance}},
    };
    for (const auto& [text, errors] : table) {
        if (why.find(text) != std::string::npos) return errors;
    }
    return {};
}

TEST(LzfseVectors, EveryInvalidVectorIsRejectedForItsOwnReason) {
    int checked = 0;
    for (const auto& v : manifest()) {
        if (v.valid) continue;
        SCOPED_TRACE(v.file + ": " + v.expectation);
        const Bytes stream = readFile(vectorPath(v.file));
        Decoded decoded = decode(stream, kGenerousLimit);
        ASSERT_FALSE(decoded.ok());
        EXPECT_TRUE(decoded.bytes.empty());
        const auto expected = expectedErrors(v.expectation);
        ASSERT_FALSE(expected.empty()) << "no mapping for this rejection";
        EXPECT_TRUE(expected.count(decoded.error->error))
            << "got: " << describe(decoded.error->error);
        EXPECT_FALSE(decode(stream, kGenerousLimit, Options{2}).ok());
        ++checked;
    }
    EXPECT_GE(checked, 70);
}

TEST(LzfseVectors, EncoderMatchesReferenceSizesWithinOnePercent) {
    for (const auto& v : manifest()) {
        if (!v.valid || v.file.rfind("ref/", 0) != 0) continue;
        SCOPED_TRACE(v.file);
        const std::string base = v.file.substr(0, v.file.size() - 6);
        const Bytes input = readFile(vectorPath(base + ".bin"));
        const Bytes reference = readFile(vectorPath(v.file));
        ASSERT_EQ(input.size(), v.size);
        const Bytes stream = encode(input);
        EXPECT_LE(stream.size(), reference.size() * 101 / 100 + 4);
        Decoded back = decode(stream, input.size());
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(back.bytes == input);
    }
}

TEST(LzfseVectors, TinyInputsEncodeExactlyLikeTheReference) {
    for (const char* name :
         {"ref/empty", "ref/one-byte", "ref/seven-bytes", "ref/eight-bytes", "ref/nine-bytes"}) {
        SCOPED_TRACE(name);
        const Bytes input = readFile(vectorPath(std::string(name) + ".bin"));
        EXPECT_EQ(encode(input), readFile(vectorPath(std::string(name) + ".lzfse")));
    }
}

TEST(LzfseVectors, ThreadedEncodingOfLargeInputsStaysWithinOnePercentAndDecodesAnywhere) {
    for (const char* name : {"ref/snapshot-2m", "ref/mixed-4m"}) {
        SCOPED_TRACE(name);
        const Bytes input = readFile(vectorPath(std::string(name) + ".bin"));
        const Bytes reference = readFile(vectorPath(std::string(name) + ".lzfse"));
        const Bytes stream = encode(input, Options{2});
        EXPECT_LE(stream.size(), reference.size() * 101 / 100);
        EXPECT_NE(stream, encode(input));  // really split
        for (unsigned threads : {1u, 2u, 3u}) {
            Decoded back = decode(stream, input.size(), Options{threads});
            ASSERT_TRUE(back.ok());
            EXPECT_TRUE(back.bytes == input);
        }
    }
}

// ---------------------------------------------------------------- encoder choices

TEST(LzfseEncode, InputsUnderEightBytesAreStoredRaw) {
    for (std::size_t n : {0, 1, 7}) {
        const Bytes input(n, 'x');
        const Bytes stream = encode(input);
        ASSERT_EQ(stream.size(), n + 12);
        EXPECT_EQ(magicAt(stream, 0), kRaw);
        EXPECT_EQ(magicAt(stream, 8 + n), kEnd);
        EXPECT_EQ(roundTrip(input), input);
    }
}

TEST(LzfseEncode, SmallCompressibleInputsUseOneLzvnBlock) {
    for (std::size_t n : {300, 1000, 4095}) {
        const Bytes input = textLike(n, n);
        const Bytes stream = encode(input);
        EXPECT_EQ(magicAt(stream, 0), kLzvn) << n;
        EXPECT_LT(stream.size(), n + 12);
        EXPECT_EQ(roundTrip(input), input);
    }
}

TEST(LzfseEncode, SmallIncompressibleInputsFallBackToRaw) {
    for (std::size_t n : {8, 300, 4095}) {
        const Bytes input = randomBytes(n, n);
        const Bytes stream = encode(input);
        EXPECT_EQ(magicAt(stream, 0), kRaw) << n;
        EXPECT_EQ(stream.size(), n + 12);
        EXPECT_EQ(roundTrip(input), input);
    }
}

TEST(LzfseEncode, InputsFromFourKilobytesUseLzfseBlocks) {
    for (std::size_t n : {4096, 4097, 100000}) {
        const Bytes input = textLike(n, n);
        const Bytes stream = encode(input);
        EXPECT_EQ(magicAt(stream, 0), kV2) << n;
        EXPECT_LT(stream.size(), n / 2);
        EXPECT_EQ(roundTrip(input), input);
    }
}

TEST(LzfseEncode, IncompressibleBlocksAreStoredRawNotExpanded) {
    const Bytes input = randomBytes(1 << 20, 7);
    const Bytes stream = encode(input);
    EXPECT_LE(stream.size(), input.size() + input.size() / 1000 + 12);
    EXPECT_EQ(roundTrip(input), input);
}

TEST(LzfseEncode, WorkedExampleOfRepeatedPatternIsReproducedByteForByte) {
    Bytes input;
    for (int i = 0; i < 1024; ++i)
        input.insert(input.end(), {'a', 'b', 'c', 'd'});
    const Bytes stream = encode(input);
    // Sizes from the format notes: header 137, literal payload 3, L/M/D payload 13, end 4.
    ASSERT_EQ(stream.size(), 157u);
    EXPECT_EQ(magicAt(stream, 0), kV2);
    const std::uint8_t lmd[] = {0xa8, 0xb0, 0xf2, 0xff, 0x01};
    EXPECT_EQ(0, std::memcmp(stream.data() + 148, lmd, sizeof lmd));
    EXPECT_EQ(roundTrip(input), input);
}

TEST(LzfseEncode, RoundTripsEverySizeClassAndShape) {
    std::vector<Bytes> inputs;
    for (std::size_t n : {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 4095, 4096, 4097, 4104, 65536}) {
        inputs.push_back(textLike(n, n + 1));
        inputs.push_back(randomBytes(n, n + 2));
        inputs.push_back(Bytes(n, 0));
    }
    // Long runs: matches longer than one triple and than the encoder's length cap.
    Bytes runs;
    for (std::size_t len : {1u, 2359u, 2360u, 5000u, 235900u, 300001u, 3u}) {
        runs.insert(runs.end(), len, static_cast<std::uint8_t>(len));
    }
    inputs.push_back(runs);
    // Repeats at the largest distance a match may have, and just beyond it.
    const Bytes unit = randomBytes(262139, 11);
    Bytes far = unit;
    far.insert(far.end(), unit.begin(), unit.begin() + 5000);
    far.insert(far.end(), 1, 0);
    far.insert(far.end(), unit.begin(), unit.begin() + 5000);
    inputs.push_back(far);
    // Mixed content over many blocks, including short-period patterns.
    Bytes mixed = textLike(1 << 20, 3);
    const Bytes noise = randomBytes(200000, 4);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    for (int i = 0; i < 100000; ++i)
        mixed.push_back(static_cast<std::uint8_t>(i % 3));
    for (std::uint32_t i = 0; i < 100000; ++i) {
        mixed.insert(mixed.end(), reinterpret_cast<const std::uint8_t*>(&i),
                     reinterpret_cast<const std::uint8_t*>(&i) + 4);
    }
    inputs.push_back(mixed);

    for (const Bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        EXPECT_EQ(roundTrip(input), input);
    }
    EXPECT_EQ(roundTrip(mixed, 2), mixed);
}

TEST(LzfseEncode, LzvnRoundTripsMatchesOfEveryDistanceAndLengthClass) {
    // Below 4096 bytes the encoder writes LZVN: small (< 1536), medium (< 16384) and large
    // distance forms, previous-distance and match-only continuations, 0 to 3 leading literals.
    Random random(21);
    for (int round = 0; round < 40; ++round) {
        Bytes input = randomBytes(1000 + random.below(500), 100 + round);
        while (input.size() < 4000) {
            const std::size_t distance =
                1 + random.below(std::min<std::size_t>(input.size(), 3500));
            const std::size_t length = 3 + random.below(round % 2 ? 40 : 300);
            for (std::size_t k = 0; k < length; ++k)
                input.push_back(input[input.size() - distance]);
            for (std::size_t k = random.below(5); k > 0; --k) {
                input.push_back(static_cast<std::uint8_t>(random.next()));
            }
        }
        input.resize(4000);
        const Bytes stream = encode(input);
        ASSERT_EQ(magicAt(stream, 0), kLzvn);
        Decoded back = decode(stream, input.size());
        ASSERT_TRUE(back.ok()) << describe(back.error->error);
        ASSERT_EQ(back.bytes, input) << "round " << round;
    }
}

TEST(LzfseEncode, AbsurdThreadCountsAreCappedAndStillGiveOneValidStream) {
    const Bytes input = textLike(3 << 20, 22);
    for (unsigned threads : {0u, 1000u}) {
        const Bytes stream = encode(input, Options{threads});
        Decoded back = decode(stream, input.size(), Options{threads});
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(back.bytes == input);
    }
}

TEST(LzfseEncode, InputCutIntoMorePartsThanThreadsIsOneStreamOfAboutTheSameSize) {
    // 13 MiB with 2 threads: three parts shared by two threads, the last one shorter.
    Bytes input = textLike(13 << 20, 23);
    for (size_t i = 0; i < input.size(); i += 4096)
        input[i] = static_cast<std::uint8_t>(i >> 12);  // no two parts alike
    const Bytes single = encode(input);
    const Bytes stream = encode(input, Options{2});
    EXPECT_NE(stream, single);
    EXPECT_LE(stream.size(), single.size() * 101 / 100);
    for (unsigned threads : {1u, 2u, 4u}) {
        Decoded back = decode(stream, input.size(), Options{threads});
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(back.bytes == input);
    }
}

TEST(LzfseEncode, HighlyRepetitiveInputShrinksByOrdersOfMagnitude) {
    const Bytes zeros(8 << 20, 0);
    const Bytes stream = encode(zeros);
    EXPECT_LT(stream.size(), zeros.size() / 1000);
    EXPECT_EQ(roundTrip(zeros), zeros);
}

// ---------------------------------------------------------------- decoder limits and streams

Bytes rawBlock(const Bytes& data) {
    Bytes b(8 + data.size());
    const auto n = static_cast<std::uint32_t>(data.size());
    std::memcpy(b.data(), "bvx-", 4);
    std::memcpy(b.data() + 4, &n, 4);
    std::copy(data.begin(), data.end(), b.begin() + 8);
    return b;
}

Bytes withEnd(Bytes stream) {
    stream.insert(stream.end(), {'b', 'v', 'x', '$'});
    return stream;
}

TEST(LzfseDecode, OutputLimitIsHonouredBeforeAnythingIsDecoded) {
    const Bytes input = textLike(100000, 5);
    const Bytes stream = encode(input);
    Decoded tooSmall = decode(stream, input.size() - 1);
    ASSERT_FALSE(tooSmall.ok());
    EXPECT_EQ(tooSmall.error->error, Error::outputLimit);
    EXPECT_TRUE(decode(stream, input.size()).ok());
    EXPECT_EQ(decode(stream, 0).error->error, Error::outputLimit);
}

TEST(LzfseDecode, HugeDeclaredSizesFailWithoutAllocating) {
    // An LZVN block claiming 4 GiB from a 9-byte payload.
    Bytes lzvn = {'b', 'v',  'x',  'n',  0xff, 0xff, 0xff, 0xff, 9, 0, 0,
                  0,   0xF0, 0xff, 0x06, 0,    0,    0,    0,    0, 0, 0};
    Decoded a = decode(withEnd(lzvn), std::uint64_t{1} << 40);
    ASSERT_FALSE(a.ok());
    EXPECT_EQ(a.error->error, Error::badBlockSize);
    // Many raw blocks whose sizes add up past the limit.
    Bytes many;
    for (int i = 0; i < 1000; ++i) {
        const Bytes b = rawBlock(Bytes(100, 1));
        many.insert(many.end(), b.begin(), b.end());
    }
    Decoded b = decode(withEnd(many), 50000);
    ASSERT_FALSE(b.ok());
    EXPECT_EQ(b.error->error, Error::outputLimit);
    EXPECT_EQ(b.error->blockOffset, 500u * 108);
}

TEST(LzfseDecode, BlocksClaimingMoreThanTheyYieldCostOnlyWhatIsReallyDecoded) {
    // A megabyte of real data, then LZFSE v2 headers of 32 bytes each claiming the most a block
    // may (10000 matches of the longest length) without the tables to make it good: about 1 GB
    // claimed, 1 MB yielded.
    Bytes stream = rawBlock(Bytes(1000000, 7));
    for (int i = 0; i < 44; ++i) {
        Bytes v2(32, 0);
        std::memcpy(v2.data(), "bvx2", 4);
        const std::uint32_t nRaw = 10000u * 2359u;
        std::memcpy(v2.data() + 4, &nRaw, 4);
        const std::uint64_t w0 = std::uint64_t{10000} << 40, headerSize = 32;
        std::memcpy(v2.data() + 8, &w0, 8);
        std::memcpy(v2.data() + 24, &headerSize, 8);
        stream.insert(stream.end(), v2.begin(), v2.end());
    }
    for (const unsigned threads : {1u, 4u}) {
        std::vector<std::uint8_t> out;
        const auto error = decodeInto(withEnd(stream), std::uint64_t{1} << 34, out, {threads});
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->blockOffset, 1000008u);
        EXPECT_LT(out.capacity(), std::size_t{64} << 20) << threads << " threads";
    }
}

TEST(LzfseDecode, EmptyStreamAndEndOnlyStream) {
    EXPECT_EQ(decode({}, 100).error->error, Error::truncated);
    Decoded end = decode(withEnd({}), 100);
    ASSERT_TRUE(end.ok());
    EXPECT_TRUE(end.bytes.empty());
}

TEST(LzfseDecode, LzvnBlockCopiesFromAnEarlierRawBlock) {
    const Bytes head = textLike(50000, 9);
    Bytes stream = rawBlock(head);
    // LZVN: large-distance match of 10 bytes reaching 40000 back, then end.
    const Bytes lzvn = {'b',  'v',  'x',  'n',  10, 0, 0, 0, 11, 0, 0, 0,
                        0x3F, 0x40, 0x9C, 0x06, 0,  0, 0, 0, 0,  0, 0};
    stream.insert(stream.end(), lzvn.begin(), lzvn.end());
    Decoded d = decode(withEnd(stream), 1 << 20);
    ASSERT_TRUE(d.ok()) << describe(d.error->error);
    Bytes expected = head;
    expected.insert(expected.end(), head.end() - 40000, head.end() - 40000 + 10);
    EXPECT_EQ(d.bytes, expected);
}

TEST(LzfseDecode, DecodeIntoReusesTheCallersBuffer) {
    const Bytes input = textLike(300000, 10);
    const Bytes stream = encode(input);
    std::vector<std::uint8_t> out;
    out.reserve(input.size());
    const auto* before = out.data();
    ASSERT_FALSE(decodeInto(stream, input.size(), out).has_value());
    EXPECT_EQ(out.data(), before);
    EXPECT_EQ(out, input);
}

TEST(LzfseDecode, ParallelDecodingFallsBackWhenPartsDependOnEachOther) {
    // A reference-style stream whose blocks match into each other.
    const Bytes input = readFile(vectorPath("ref/mixed-4m.bin"));
    const Bytes stream = readFile(vectorPath("ref/mixed-4m.lzfse"));
    Decoded d = decode(stream, input.size(), Options{2});
    ASSERT_TRUE(d.ok());
    EXPECT_TRUE(d.bytes == input);
    // A damaged block late in the stream is still reported, with its offset.
    Bytes damaged = stream;
    damaged[damaged.size() - 4] = 'X';
    Decoded bad = decode(damaged, input.size(), Options{2});
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error->error, Error::badMagic);
    EXPECT_EQ(bad.error->blockOffset, stream.size() - 4);
}

TEST(LzfseDecode, DamageInALaterPartIsReportedAlikeWithOneOrTwoThreads) {
    const Bytes input = textLike(3 << 20, 12);
    Bytes stream = encode(input, Options{2});
    // The last LZFSE block gets an L state beyond its 64 states.
    const auto starts = blockStarts(stream);
    const std::size_t last = starts[starts.size() - 2];
    ASSERT_EQ(magicAt(stream, last), kV2);
    stream[last + 28] = 0xFF;  // the low 8 bits of the L state
    for (unsigned threads : {1u, 2u}) {
        Decoded d = decode(stream, input.size(), Options{threads});
        ASSERT_FALSE(d.ok());
        EXPECT_EQ(d.error->error, Error::badState);
        EXPECT_EQ(d.error->blockOffset, last);
    }
}

TEST(LzfseDecode, PlainTableBlockWithAWholePaddingByteIsRejected) {
    // A literal bit count of -8 would mean a whole byte of padding; only -7..0 are accepted.
    Bytes stream = readFile(vectorPath("handmade/v1-text.lzfse"));
    ASSERT_TRUE(decode(stream, 1 << 20).ok());
    const std::int32_t minusEight = -8;
    std::memcpy(stream.data() + 28, &minusEight, 4);
    Decoded d = decode(stream, 1 << 20);
    ASSERT_FALSE(d.ok());
    EXPECT_EQ(d.error->error, Error::badBitCount);
}

TEST(LzfseErrors, EveryErrorHasItsOwnDescription) {
    std::set<std::string_view> seen;
    for (int e = 0; e <= static_cast<int>(Error::outputLimit); ++e) {
        const auto text = describe(static_cast<Error>(e));
        EXPECT_FALSE(text.empty());
        EXPECT_NE(text, "unknown error");
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
}

}  // namespace
}  // namespace lzfse::test
