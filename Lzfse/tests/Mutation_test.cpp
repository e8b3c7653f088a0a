// Damaged streams: every valid vector truncated, bit-flipped and overwritten thousands of times.
// The decoder must answer each with an error or with bytes within the limit, never crash (the
// sanitizer build turns any stray access into a failure), and answer the same with 2 threads.

#include <gtest/gtest.h>

#include <cstring>

#include "Lzfse/Lzfse.h"
#include "VectorSupport.h"

namespace lzfse::test {
namespace {

// The stream cut down to its first blocks (at most about `maxBytes` of stream), still valid:
// blocks only ever copy from blocks before them.
Bytes leadingBlocks(const Bytes& stream, std::size_t maxBytes) {
    const auto starts = blockStarts(stream);
    std::size_t cut = starts.back();
    for (std::size_t i = 1; i < starts.size(); ++i) {
        if (starts[i] > maxBytes) {
            cut = starts[i - 1] == 0 ? starts[i] : starts[i - 1];
            break;
        }
    }
    Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    prefix.insert(prefix.end(), {'b', 'v', 'x', '$'});
    return prefix;
}

constexpr std::size_t kDecodeBudget = 100'000'000;

struct Base {
    std::string name;
    Bytes stream;
    std::uint64_t decodedSize = 0;
};

std::vector<Base> mutationBases() {
    std::vector<Base> bases;
    for (const auto& v : manifest()) {
        if (!v.valid) continue;
        Bytes stream = readFile(vectorPath(v.file));
        // Large streams are cut to their first blocks so the sweep stays quick.
        if (v.size > 256 * 1024 || stream.size() > 300 * 1024) {
            stream = leadingBlocks(stream, 64 * 1024);
        }
        Decoded d = decode(stream, std::uint64_t{1} << 32);
        EXPECT_TRUE(d.ok()) << v.file;
        bases.push_back({v.file, stream, d.bytes.size()});
    }
    return bases;
}

TEST(LzfseMutation, EveryTruncationOfAValidStreamIsRejected) {
    for (const auto& base : mutationBases()) {
        SCOPED_TRACE(base.name);
        const Bytes& s = base.stream;
        // Every cut of small streams; of large ones 64 spread out, those next to each block
        // start and the last 16.
        std::vector<std::size_t> cuts;
        if (s.size() <= 4096) {
            for (std::size_t n = 0; n < s.size(); ++n)
                cuts.push_back(n);
        } else {
            for (std::size_t k = 0; k < 64; ++k)
                cuts.push_back(s.size() * k / 64);
            for (std::size_t start : blockStarts(s)) {
                for (std::size_t n = start; n < start + 12 && n < s.size(); ++n)
                    cuts.push_back(n);
            }
            for (std::size_t n = s.size() - 16; n < s.size(); ++n)
                cuts.push_back(n);
        }
        for (std::size_t n : cuts) {
            const Bytes cut(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
            Decoded d = decode(cut, base.decodedSize);
            ASSERT_FALSE(d.ok()) << "accepted a cut at " << n;
        }
        Bytes longer = s;
        longer.push_back(0);
        EXPECT_EQ(decode(longer, base.decodedSize).error->error, Error::trailingBytes);
    }
}

TEST(LzfseMutation, DamagedStreamsAreRejectedOrDecodedWithinTheLimitNeverCrash) {
    std::size_t decodes = 0, accepted = 0;
    std::uint64_t seed = 1;
    for (const auto& base : mutationBases()) {
        SCOPED_TRACE(base.name);
        const Bytes& s = base.stream;
        const auto starts = blockStarts(s);
        // Budget: a few thousand mutations for each stream, fewer for the ones that decode to
        // a lot, so the sweep stays quick under the sanitizers.
        const std::size_t rounds =
            std::clamp<std::size_t>(kDecodeBudget / (base.decodedSize + 1), 200, 3000);
        const std::uint64_t limit = base.decodedSize * 4 + 4096;
        Random random(seed++);
        for (std::size_t r = 0; r < rounds; ++r) {
            Bytes m = s;
            switch (random.below(6)) {
                case 0:  // one bit anywhere
                    m[random.below(m.size())] ^= static_cast<std::uint8_t>(1u << random.below(8));
                    break;
                case 1:  // a few bits
                    for (int k = 0; k < 3; ++k) {
                        m[random.below(m.size())] ^=
                            static_cast<std::uint8_t>(1u << random.below(8));
                    }
                    break;
                case 2:  // a random byte
                    m[random.below(m.size())] = static_cast<std::uint8_t>(random.next());
                    break;
                case 3: {  // a header field: the first 48 bytes of some block
                    const std::size_t at = starts[random.below(starts.size())] + random.below(48);
                    if (at < m.size()) {
                        m[at] = random.below(2) ? static_cast<std::uint8_t>(random.next())
                                                : static_cast<std::uint8_t>(random.below(2) * 0xFF);
                    }
                    break;
                }
                case 4: {  // a byte dropped or inserted
                    const auto at = static_cast<std::ptrdiff_t>(random.below(m.size()));
                    if (random.below(2)) {
                        m.erase(m.begin() + at);
                    } else {
                        m.insert(m.begin() + at, static_cast<std::uint8_t>(random.next()));
                    }
                    break;
                }
                default:  // the bytes before the end block: bit stream padding and starts
                    if (m.size() > 5) {
                        m[m.size() - 5 - random.below(std::min<std::size_t>(m.size() - 5, 16))] ^=
                            static_cast<std::uint8_t>(1u << random.below(8));
                    }
                    break;
            }
            Decoded one = decode(m, limit);
            ++decodes;
            if (one.ok()) {
                ++accepted;
                EXPECT_LE(one.bytes.size(), limit);
            }
            if (r % 16 == 0) {
                Decoded two = decode(m, limit, Options{2});
                ASSERT_EQ(one.ok(), two.ok());
                if (one.ok()) {
                    ASSERT_TRUE(one.bytes == two.bytes);
                }
            }
        }
    }
    EXPECT_GT(decodes, 30000u);
    // Most damage must be noticed; flipped literal bits are the only silent kind.
    EXPECT_LT(accepted, decodes / 2);
}

}  // namespace
}  // namespace lzfse::test
