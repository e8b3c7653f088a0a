#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Encoders.h"
#include "Fse.h"

namespace lzfse::detail {

namespace {

constexpr int kHashBits = 14;
constexpr std::uint32_t kHashMultiplier = 2654435761u;
// A literal run this long with nothing to match is sent on in kMaxL pieces.
constexpr std::size_t kMaxPendingLiterals = 8 * kMaxL;
// Matches this long are taken at once instead of waiting for a better one.
constexpr std::size_t kGoodMatch = 40;
constexpr std::size_t kMaxMatchLength = 100 * kMaxM;
// Block limits, a little below the format's so a match's triples always fit.
constexpr std::uint32_t kTripleReserve = 9;
constexpr std::uint32_t kLiteralReserve = 16;
// Hash entries hold positions relative to a window start plus this offset, so that the empty
// entry (0) is always farther back than any distance a match may have.
constexpr std::uint32_t kPositionOffset = kMaxD + 1;
constexpr std::size_t kWindow = std::size_t{1} << 31;
constexpr std::size_t kPrefetchAhead = 4;  // at most 4: positions stop 8 bytes before the end

std::uint32_t lSymbol(std::uint32_t v) {
    if (v < 16) return v;
    return v < 20 ? 16 : v < 28 ? 17 : v < 60 ? 18 : 19;
}

std::uint32_t mSymbol(std::uint32_t v) {
    if (v < 16) return v;
    return v < 24 ? 16 : v < 56 ? 17 : v < 312 ? 18 : 19;
}

// D symbols come in groups of four per extra-bit count: base(4g + j) = 2^g * (4 + j) - 4.
std::uint32_t dSymbol(std::uint32_t v) {
    const std::uint32_t x = v + 4;
    const int g = floorLog2(x) - 2;
    return static_cast<std::uint32_t>(4 * g) + ((x >> g) & 3);
}

// Length of the match of a and b known to share their first 4 bytes, compared 8 bytes at a
// time while the length stays below `limit` (reads up to 7 bytes past a + limit).
inline std::size_t matchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
    std::size_t len = 4;
    while (len < limit) {
        const std::uint64_t diff = load64(a + len) ^ load64(b + len);
        if (diff != 0) return len + (static_cast<std::size_t>(std::countr_zero(diff)) >> 3);
        len += 8;
    }
    return len;
}

// Writes the packed frequency codes of a v2 header; returns their byte count.
std::size_t packFrequencies(const std::uint16_t* freq, std::uint8_t* out) {
    ForwardBitWriter bits(out);
    for (int i = 0; i < kTableValues; ++i) {
        const std::uint32_t v = freq[i];
        if (v < 2) {
            bits.put(v << 1, 2);
        } else if (v < 4) {
            bits.put(((v - 2) << 2) | 1, 3);
        } else if (v < 8) {
            bits.put(((v - 4) << 3) | 3, 5);
        } else if (v < 24) {
            bits.put(((v - 8) << 4) | 7, 8);
        } else {
            bits.put(((v - 24) << 4) | 15, 14);
        }
        bits.flush();
    }
    int padding = 0;
    return bits.finish(padding);
}

inline std::uint32_t hashOf(std::uint32_t x) {
    return (x * kHashMultiplier) >> (32 - kHashBits);
}

// The 4 most recent positions with one hash, and the 4 bytes found at each, newest first.
struct alignas(32) Bucket {
    std::uint32_t pos[4];
    std::uint32_t value[4];
};

// Bit e set when entry e holds the value x.
inline unsigned equalValues(const Bucket& b, std::uint32_t x) {
#if defined(__SSE2__)
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(b.value));
    return static_cast<unsigned>(
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_set1_epi32(static_cast<int>(x))))));
#else
    return unsigned{b.value[0] == x} | unsigned{b.value[1] == x} << 1 |
           unsigned{b.value[2] == x} << 2 | unsigned{b.value[3] == x} << 3;
#endif
}

inline void push(Bucket& b, std::uint32_t pos, std::uint32_t x) {
#if defined(__SSE2__)
    auto* p = reinterpret_cast<__m128i*>(b.pos);
    auto* v = reinterpret_cast<__m128i*>(b.value);
    _mm_store_si128(p, _mm_or_si128(_mm_slli_si128(_mm_load_si128(p), 4),
                                    _mm_cvtsi32_si128(static_cast<int>(pos))));
    _mm_store_si128(v, _mm_or_si128(_mm_slli_si128(_mm_load_si128(v), 4),
                                    _mm_cvtsi32_si128(static_cast<int>(x))));
#else
    b.pos[3] = b.pos[2];
    b.pos[2] = b.pos[1];
    b.pos[1] = b.pos[0];
    b.pos[0] = pos;
    b.value[3] = b.value[2];
    b.value[2] = b.value[1];
    b.value[1] = b.value[0];
    b.value[0] = x;
#endif
}

class LzfseEncoder {
public:
    LzfseEncoder(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out)
        : in_(input.data()),
          size_(input.size()),
          out_(out),
          table_(std::make_unique_for_overwrite<Bucket[]>(std::size_t{1} << kHashBits)),
          literals_(kMaxLiterals + 64),
          lengths_(kMaxMatches),
          matchLengths_(kMaxMatches),
          distances_(kMaxMatches),
          symbols_(3 * kMaxMatches),
          literalStream_(kMaxLiterals * 10 / 8 + 64),
          lmdStream_(8 + kMaxMatches * 7 + 64) {}

    void run();

private:
    struct Match {
        std::size_t start = 0;
        std::size_t length = 0;
        std::uint32_t distance = 0;
        std::size_t end() const { return start + length; }
    };

    void emitMatch(const Match& match);
    void emitLiterals(std::size_t count);
    void makeRoom(std::size_t literals, std::size_t triples);
    void addTriple(std::uint32_t l, std::uint32_t m, std::uint32_t d);
    void flushBlock();
    void writeBlock();

    const std::uint8_t* in_;
    std::size_t size_;
    std::vector<std::uint8_t>& out_;
    std::unique_ptr<Bucket[]> table_;

    std::size_t litStart_ = 0;    // first input byte not yet in a triple
    std::size_t blockStart_ = 0;  // first input byte of the block being collected
    std::vector<std::uint8_t> literals_;
    std::uint32_t nLiterals_ = 0;
    std::vector<std::uint16_t> lengths_;
    std::vector<std::uint16_t> matchLengths_;
    std::vector<std::uint32_t> distances_;
    std::uint32_t nTriples_ = 0;

    std::vector<std::uint8_t> symbols_;
    std::vector<std::uint8_t> literalStream_;
    std::vector<std::uint8_t> lmdStream_;
};

void LzfseEncoder::run() {
    Bucket* const table = table_.get();
    std::memset(static_cast<void*>(table), 0, sizeof(Bucket) << kHashBits);
    const std::size_t end = size_ - 8;  // no match starts in the last 8 bytes
    std::size_t windowStart = 0;
    Match pending;
    bool hasPending = false;

    std::uint32_t x = load32(in_);
    std::uint32_t h = hashOf(x);
    for (std::size_t i = 0; i < end; ++i) {
        if (i - windowStart >= kWindow) {
            std::memset(static_cast<void*>(table), 0, sizeof(Bucket) << kHashBits);
            windowStart = i;
        }
        // Buckets a few positions ahead are fetched while this one is worked on.
        const std::uint32_t xNext = load32(in_ + i + 1);
        const std::uint32_t hNext = hashOf(xNext);
        __builtin_prefetch(&table[hashOf(load32(in_ + i + kPrefetchAhead))]);
        Bucket& b = table[h];
        const std::uint32_t cur = static_cast<std::uint32_t>(i - windowStart) + kPositionOffset;

        if (i >= litStart_) {
            std::size_t bestLength = 0;
            std::uint32_t bestDistance = 0;
            for (unsigned mask = equalValues(b, x); mask != 0; mask &= mask - 1) {
                const int e = std::countr_zero(mask);
                const std::uint32_t d = cur - b.pos[e];
                if (d - 1 >= kMaxD) continue;
                const std::size_t len = matchLength(in_ + i, in_ + i - d, size_ - i - 8);
                if (len > bestLength) {
                    bestLength = len;
                    bestDistance = d;
                }
            }
            if (bestLength == 0) {
                if (i - litStart_ > kMaxPendingLiterals) {
                    if (hasPending) {
                        emitMatch(pending);
                        hasPending = false;
                    } else {
                        emitLiterals(kMaxL);
                    }
                }
            } else {
                Match c{i, std::min(bestLength, kMaxMatchLength), bestDistance};
                while (c.start > litStart_ && c.start > c.distance &&
                       in_[c.start - 1] == in_[c.start - 1 - c.distance]) {
                    --c.start;
                    ++c.length;
                }
                if (c.length >= kGoodMatch) {
                    hasPending = false;
                    emitMatch(c);
                } else if (!hasPending) {
                    pending = c;
                    hasPending = true;
                } else if (pending.end() <= c.start) {
                    emitMatch(pending);
                    pending = c;
                } else {
                    emitMatch(c.length > pending.length ? c : pending);
                    hasPending = false;
                }
            }
        }

        push(b, cur, x);
        x = xNext;
        h = hNext;
    }
    if (hasPending) emitMatch(pending);
    emitLiterals(size_ - litStart_);
    flushBlock();
}

void LzfseEncoder::makeRoom(std::size_t literals, std::size_t triples) {
    if (nTriples_ + std::max<std::size_t>(triples, kTripleReserve) > kMaxMatches ||
        nLiterals_ + literals + kLiteralReserve > kMaxLiterals) {
        flushBlock();
    }
}

void LzfseEncoder::emitMatch(const Match& match) {
    std::size_t l = match.start - litStart_;
    std::size_t m = match.length;
    const std::size_t triples = (l == 0 ? 0 : (l - 1) / kMaxL) + (m + kMaxM - 1) / kMaxM;
    makeRoom(l, triples);
    while (l > kMaxL) {
        addTriple(kMaxL, 0, 1);
        l -= kMaxL;
    }
    const auto first = static_cast<std::uint32_t>(std::min<std::size_t>(m, kMaxM));
    addTriple(static_cast<std::uint32_t>(l), first, match.distance);
    m -= first;
    while (m > 0) {
        const auto part = static_cast<std::uint32_t>(std::min<std::size_t>(m, kMaxM));
        addTriple(0, part, match.distance);
        m -= part;
    }
}

void LzfseEncoder::emitLiterals(std::size_t count) {
    while (count > 0) {
        const auto part = static_cast<std::uint32_t>(std::min<std::size_t>(count, kMaxL));
        makeRoom(part, 1);
        addTriple(part, 0, 1);
        count -= part;
    }
}

void LzfseEncoder::addTriple(std::uint32_t l, std::uint32_t m, std::uint32_t d) {
    std::memcpy(literals_.data() + nLiterals_, in_ + litStart_, l);
    nLiterals_ += l;
    lengths_[nTriples_] = static_cast<std::uint16_t>(l);
    matchLengths_[nTriples_] = static_cast<std::uint16_t>(m);
    distances_[nTriples_] = d;
    ++nTriples_;
    litStart_ += l + m;
}

void LzfseEncoder::flushBlock() {
    if (nTriples_ == 0) return;
    writeBlock();
    nTriples_ = 0;
    nLiterals_ = 0;
    blockStart_ = litStart_;
}

void LzfseEncoder::writeBlock() {
    const std::size_t nRaw = litStart_ - blockStart_;
    std::uint32_t nLiterals = nLiterals_;
    while (nLiterals % 4 != 0)
        literals_[nLiterals++] = 0;

    // Symbols, with each distance equal to the previous triple's stored as 0.
    std::uint32_t lCounts[kLSymbols] = {};
    std::uint32_t mCounts[kMSymbols] = {};
    std::uint32_t dCounts[kDSymbols] = {};
    std::uint32_t litCounts[kLitSymbols] = {};
    std::uint8_t* const lSym = symbols_.data();
    std::uint8_t* const mSym = lSym + kMaxMatches;
    std::uint8_t* const dSym = mSym + kMaxMatches;
    std::uint32_t previous = 0;
    for (std::uint32_t i = 0; i < nTriples_; ++i) {
        const std::uint32_t d = distances_[i];
        distances_[i] = d == previous ? 0 : d;
        previous = d;
        lSym[i] = static_cast<std::uint8_t>(lSymbol(lengths_[i]));
        mSym[i] = static_cast<std::uint8_t>(mSymbol(matchLengths_[i]));
        dSym[i] = static_cast<std::uint8_t>(dSymbol(distances_[i]));
        ++lCounts[lSym[i]];
        ++mCounts[mSym[i]];
        ++dCounts[dSym[i]];
    }
    for (std::uint32_t i = 0; i < nLiterals; ++i)
        ++litCounts[literals_[i]];

    std::uint16_t freq[kTableValues];
    std::uint16_t* const lFreq = freq;
    std::uint16_t* const mFreq = lFreq + kLSymbols;
    std::uint16_t* const dFreq = mFreq + kMSymbols;
    std::uint16_t* const litFreq = dFreq + kDSymbols;
    normalizeCounts(lCounts, kLSymbols, kLStates, lFreq);
    normalizeCounts(mCounts, kMSymbols, kMStates, mFreq);
    normalizeCounts(dCounts, kDSymbols, kDStates, dFreq);
    normalizeCounts(litCounts, kLitSymbols, kLitStates, litFreq);

    EncoderEntry lEnc[kLSymbols], mEnc[kMSymbols], dEnc[kDSymbols], litEnc[kLitSymbols];
    buildEncoderTable(lFreq, kLSymbols, kLStates, lEnc);
    buildEncoderTable(mFreq, kMSymbols, kMStates, mEnc);
    buildEncoderTable(dFreq, kDSymbols, kDStates, dEnc);
    buildEncoderTable(litFreq, kLitSymbols, kLitStates, litEnc);

    // Literals, last group first, so that a decoder reads them first to last.
    std::uint32_t litState[4] = {0, 0, 0, 0};
    int literalBits = 0;
    std::size_t literalBytes;
    {
        ForwardBitWriter bits(literalStream_.data());
        const std::uint8_t* const lit = literals_.data();
        for (std::uint32_t i = nLiterals; i != 0;) {
            i -= 4;
            encodeSymbol(bits, litEnc[lit[i + 3]], litState[3], 0, 0);
            encodeSymbol(bits, litEnc[lit[i + 2]], litState[2], 0, 0);
            encodeSymbol(bits, litEnc[lit[i + 1]], litState[1], 0, 0);
            encodeSymbol(bits, litEnc[lit[i + 0]], litState[0], 0, 0);
            bits.flush();
        }
        literalBytes = bits.finish(literalBits);
    }

    // L/M/D triples, last first; 8 zero bytes ahead keep the payload long enough for every
    // decoder's bit reader.
    std::uint32_t lState = 0, mState = 0, dState = 0;
    int lmdBits = 0;
    std::size_t lmdBytes;
    {
        std::memset(lmdStream_.data(), 0, 8);
        ForwardBitWriter bits(lmdStream_.data() + 8);
        for (std::uint32_t i = nTriples_; i-- != 0;) {
            const std::uint32_t ds = dSym[i];
            encodeSymbol(bits, dEnc[ds], dState, distances_[i] - kDBase[ds], kDExtraBits[ds]);
            const std::uint32_t ms = mSym[i];
            encodeSymbol(bits, mEnc[ms], mState, matchLengths_[i] - kMBase[ms], kMExtraBits[ms]);
            const std::uint32_t ls = lSym[i];
            encodeSymbol(bits, lEnc[ls], lState, lengths_[i] - kLBase[ls], kLExtraBits[ls]);
            bits.flush();
        }
        lmdBytes = 8 + bits.finish(lmdBits);
    }

    std::uint8_t header[kV2FixedHeaderSize + 640];
    const std::size_t headerSize = kV2FixedHeaderSize + packFrequencies(freq, header + 32);
    const std::size_t blockSize = headerSize + literalBytes + lmdBytes;
    if (blockSize >= kRawHeaderSize + nRaw) {
        appendRawBlock({in_ + blockStart_, nRaw}, out_);
        return;
    }
    storeLe(header, kMagicV2);
    storeLe(header + 4, static_cast<std::uint32_t>(nRaw));
    storeLe(header + 8, std::uint64_t{nLiterals} | std::uint64_t{literalBytes} << 20 |
                            std::uint64_t{nTriples_} << 40 | std::uint64_t(literalBits + 7) << 60);
    storeLe(header + 16, std::uint64_t{litState[0]} | std::uint64_t{litState[1]} << 10 |
                             std::uint64_t{litState[2]} << 20 | std::uint64_t{litState[3]} << 30 |
                             std::uint64_t{lmdBytes} << 40 | std::uint64_t(lmdBits + 7) << 60);
    storeLe(header + 24, std::uint64_t{headerSize} | std::uint64_t{lState} << 32 |
                             std::uint64_t{mState} << 42 | std::uint64_t{dState} << 52);
    const std::size_t at = out_.size();
    out_.resize(at + blockSize);
    std::uint8_t* o = out_.data() + at;
    std::memcpy(o, header, headerSize);
    std::memcpy(o + headerSize, literalStream_.data(), literalBytes);
    std::memcpy(o + headerSize + literalBytes, lmdStream_.data(), lmdBytes);
}

}  // namespace

void appendRawBlock(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + kRawHeaderSize + input.size());
    storeLe(out.data() + at, kMagicRaw);
    storeLe(out.data() + at + 4, static_cast<std::uint32_t>(input.size()));
    if (!input.empty()) std::memcpy(out.data() + at + kRawHeaderSize, input.data(), input.size());
}

void appendLzfseBlocks(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
    LzfseEncoder(input, out).run();
}

}  // namespace lzfse::detail
