#include "BlockDecoder.h"

#include <cstring>

namespace lzfse::detail {

namespace {

#define LZFSE_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define LZFSE_LIKELY(x) __builtin_expect(!!(x), 1)

// The most an LZVN payload byte can expand to (a 2-byte long match copies 271 bytes).
constexpr std::uint64_t kLzvnMaxExpansion = 136;

struct LzfseHeader {
    std::uint64_t nRaw = 0;
    std::uint32_t nLiterals = 0;
    std::uint32_t nMatches = 0;
    std::uint32_t nLiteralPayload = 0;
    std::uint32_t nLmdPayload = 0;
    std::int32_t literalBits = 0;
    std::int32_t lmdBits = 0;
    std::uint16_t literalState[4] = {};
    std::uint16_t lState = 0;
    std::uint16_t mState = 0;
    std::uint16_t dState = 0;
    std::size_t headerSize = 0;
    std::uint16_t freq[kTableValues] = {};  // L, M, D, then literal frequencies
};

constexpr int kLFreq = 0;
constexpr int kMFreq = kLFreq + kLSymbols;
constexpr int kDFreq = kMFreq + kMSymbols;
constexpr int kLitFreq = kDFreq + kDSymbols;

// Unpacks the 360 variable-length frequency codes of a v2 header, which must fill
// [tables, tablesEnd) exactly (up to the last byte's padding).
std::optional<Error> unpackFrequencies(const std::uint8_t* tables, const std::uint8_t* tablesEnd,
                                       std::uint16_t* freq) {
    const std::size_t bytes = static_cast<std::size_t>(tablesEnd - tables);
    std::uint64_t acc = 0;
    unsigned accBits = 0;
    std::size_t next = 0;
    std::uint64_t bitsUsed = 0;
    for (int i = 0; i < kTableValues; ++i) {
        while (accBits <= 56) {
            const std::uint64_t byte = next < bytes ? tables[next] : 0;
            ++next;
            acc |= byte << accBits;
            accBits += 8;
        }
        unsigned len;
        std::uint32_t value;
        const auto b = static_cast<std::uint32_t>(acc);
        if ((b & 1) == 0) {
            len = 2;
            value = (b >> 1) & 1;
        } else if ((b & 3) == 1) {
            len = 3;
            value = 2 + ((b >> 2) & 1);
        } else if ((b & 7) == 3) {
            len = 5;
            value = 4 + ((b >> 3) & 3);
        } else if ((b & 15) == 7) {
            len = 8;
            value = 8 + ((b >> 4) & 15);
        } else {
            len = 14;
            value = 24 + ((b >> 4) & 1023);
        }
        acc >>= len;
        accBits -= len;
        bitsUsed += len;
        freq[i] = static_cast<std::uint16_t>(value);
    }
    if ((bitsUsed + 7) / 8 != bytes) return Error::badHeaderSize;
    return std::nullopt;
}

std::optional<Error> parseV1(const std::uint8_t* b, LzfseHeader& h) {
    h.nRaw = load32(b + 4);
    h.nLiterals = load32(b + 12);
    h.nMatches = load32(b + 16);
    h.nLiteralPayload = load32(b + 20);
    h.nLmdPayload = load32(b + 24);
    h.literalBits = static_cast<std::int32_t>(load32(b + 28));
    for (int i = 0; i < 4; ++i)
        h.literalState[i] = load16(b + 32 + 2 * i);
    h.lmdBits = static_cast<std::int32_t>(load32(b + 40));
    h.lState = load16(b + 44);
    h.mState = load16(b + 46);
    h.dState = load16(b + 48);
    for (int i = 0; i < kTableValues; ++i)
        h.freq[i] = load16(b + 50 + 2 * i);
    h.headerSize = kV1HeaderSize;
    return std::nullopt;
}

std::optional<Error> parseV2(const std::uint8_t* b, LzfseHeader& h) {
    const std::uint64_t w0 = load64(b + 8);
    const std::uint64_t w1 = load64(b + 16);
    const std::uint64_t w2 = load64(b + 24);
    h.nRaw = load32(b + 4);
    h.nLiterals = static_cast<std::uint32_t>(w0 & 0xFFFFF);
    h.nLiteralPayload = static_cast<std::uint32_t>((w0 >> 20) & 0xFFFFF);
    h.nMatches = static_cast<std::uint32_t>((w0 >> 40) & 0xFFFFF);
    h.literalBits = static_cast<std::int32_t>((w0 >> 60) & 7) - 7;
    for (int i = 0; i < 4; ++i)
        h.literalState[i] = static_cast<std::uint16_t>((w1 >> (10 * i)) & 0x3FF);
    h.nLmdPayload = static_cast<std::uint32_t>((w1 >> 40) & 0xFFFFF);
    h.lmdBits = static_cast<std::int32_t>((w1 >> 60) & 7) - 7;
    h.headerSize = static_cast<std::uint32_t>(w2);
    h.lState = static_cast<std::uint16_t>((w2 >> 32) & 0x3FF);
    h.mState = static_cast<std::uint16_t>((w2 >> 42) & 0x3FF);
    h.dState = static_cast<std::uint16_t>((w2 >> 52) & 0x3FF);
    // Without packed tables every frequency is zero, which checkHeader() rejects.
    if (h.headerSize == kV2FixedHeaderSize) return std::nullopt;
    return unpackFrequencies(b + kV2FixedHeaderSize, b + h.headerSize, h.freq);
}

std::optional<Error> checkHeader(const LzfseHeader& h) {
    if (h.nLiterals > kMaxLiterals || h.nMatches > kMaxMatches) return Error::badCount;
    if (h.literalBits < -7 || h.literalBits > 0 || h.lmdBits < -7 || h.lmdBits > 0) {
        return Error::badBitCount;
    }
    for (const auto s : h.literalState) {
        if (s >= kLitStates) return Error::badState;
    }
    if (h.lState >= kLStates || h.mState >= kMStates || h.dState >= kDStates) {
        return Error::badState;
    }
    if (frequencySum(h.freq + kLFreq, kLSymbols) != kLStates ||
        frequencySum(h.freq + kMFreq, kMSymbols) != kMStates ||
        frequencySum(h.freq + kDFreq, kDSymbols) != kDStates ||
        frequencySum(h.freq + kLitFreq, kLitSymbols) != kLitStates) {
        return Error::badTable;
    }
    const std::uint32_t lmdMinimum = h.lmdBits == 0 ? 7 : 8;
    if (h.nLmdPayload < lmdMinimum) return Error::payloadTooShort;
    return std::nullopt;
}

// The top -bits bits of a stream's last byte are padding and must be zero.
bool paddingIsZero(const std::uint8_t* end, std::uint32_t size, std::int32_t bits) {
    if (size == 0 || bits == 0) return true;
    return (end[-1] >> (8 + bits)) == 0;
}

inline void copy8(std::uint8_t* d, const std::uint8_t* s) {
    std::memcpy(d, s, 8);
}
inline void copy16(std::uint8_t* d, const std::uint8_t* s) {
    std::memcpy(d, s, 16);
}

// Copies n bytes in 16-byte steps (at least one); writes up to 16 bytes past d + n.
inline void wildCopy16(std::uint8_t* d, const std::uint8_t* s, std::size_t n) {
    std::uint8_t* const end = d + n;
    do {
        copy16(d, s);
        d += 16;
        s += 16;
    } while (d < end);
}

// Copies a match of n bytes from `distance` (1..15) back; writes up to 8 bytes past d + n.
inline void wildCopyShortMatch(std::uint8_t* d, std::size_t distance, std::size_t n) {
    const std::uint8_t* s = d - distance;
    std::uint8_t* const end = d + n;
    if (distance < 8) {
        // Lay down 8 bytes of the pattern, then move the source back by a whole number of
        // periods so that it trails the destination by at least 8 bytes.
        static constexpr std::uint8_t kSecondHalf[8] = {0, 1, 2, 1, 0, 4, 4, 4};
        static constexpr std::int8_t kRewind[8] = {0, 0, 0, -1, -4, 1, 2, 3};
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = s[3];
        s += kSecondHalf[distance];
        std::memcpy(d + 4, s, 4);
        s -= kRewind[distance];
        d += 8;
        if (d >= end) return;
    }
    do {
        copy8(d, s);
        d += 8;
        s += 8;
    } while (d < end);
}

// Exact copy of a match that may overlap its source.
inline void copyMatchExact(std::uint8_t* d, std::size_t distance, std::size_t n) {
    const std::uint8_t* s = d - distance;
    if (distance >= n) {
        std::memcpy(d, s, n);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            d[i] = s[i];
    }
}

// Room past a triple's output that the fast copies may scribble over.
constexpr std::size_t kWildSlack = 32;

std::optional<Error> decodeLzfseBlock(const std::uint8_t* block, bool v2, const OutputWindow& out,
                                      DecoderScratch::Tables& scratch) {
    LzfseHeader h;
    if (auto e = v2 ? parseV2(block, h) : parseV1(block, h)) return e;
    if (auto e = checkHeader(h)) return e;

    const std::uint8_t* const litStart = block + h.headerSize;
    const std::uint8_t* const litEnd = litStart + h.nLiteralPayload;
    const std::uint8_t* const lmdEnd = litEnd + h.nLmdPayload;
    if (!paddingIsZero(litEnd, h.nLiteralPayload, h.literalBits) ||
        !paddingIsZero(lmdEnd, h.nLmdPayload, h.lmdBits)) {
        return Error::badPadding;
    }

    // Literals first: four interleaved states.
    buildLiteralTable(h.freq + kLitFreq, scratch.literalTable.data());
    std::uint8_t* const literals = scratch.literals.data();
    {
        const LiteralEntry* const table = scratch.literalTable.data();
        BackwardBitReader in(litStart, litEnd, h.literalBits);
        std::uint32_t s0 = h.literalState[0], s1 = h.literalState[1], s2 = h.literalState[2],
                      s3 = h.literalState[3];
        // Streams from other encoders may hold a count that is not a multiple of 4; decode the
        // whole last group, as the count only limits what the matches may use.
        const std::uint32_t groups = (h.nLiterals + 3) / 4;
        std::uint8_t* lit = literals;
        std::uint8_t* const litEndOut = literals + 4 * std::size_t{groups};
        for (; lit != litEndOut; lit += 4) {
            if (LZFSE_UNLIKELY(!in.refill())) return Error::bitStreamExhausted;
            const LiteralEntry e0 = table[s0];
            s0 = e0.base + static_cast<std::uint32_t>(in.read(e0.bits));
            const LiteralEntry e1 = table[s1];
            s1 = e1.base + static_cast<std::uint32_t>(in.read(e1.bits));
            const LiteralEntry e2 = table[s2];
            s2 = e2.base + static_cast<std::uint32_t>(in.read(e2.bits));
            const LiteralEntry e3 = table[s3];
            s3 = e3.base + static_cast<std::uint32_t>(in.read(e3.bits));
            storeLe(lit, static_cast<std::uint32_t>(e0.symbol | e1.symbol << 8 | e2.symbol << 16 |
                                                    static_cast<std::uint32_t>(e3.symbol) << 24));
        }
        if (in.remaining() < 0) return Error::bitStreamExhausted;
    }

    constexpr int kMFirst = kLStates;
    constexpr int kDFirst = kLStates + kMStates;
    ValueEntry* const lmd = scratch.lmdTable.data();
    buildValueTable(h.freq + kLFreq, kLSymbols, kLStates, kLExtraBits.data(), kLBase.data(), 0,
                    lmd);
    buildValueTable(h.freq + kMFreq, kMSymbols, kMStates, kMExtraBits.data(), kMBase.data(),
                    kMFirst, lmd + kMFirst);
    buildValueTable(h.freq + kDFreq, kDSymbols, kDStates, kDExtraBits.data(), kDBase.data(),
                    kDFirst, lmd + kDFirst);

    BackwardBitReader in(litEnd, lmdEnd, h.lmdBits);
    std::uint32_t ls = h.lState, ms = kMFirst + h.mState, ds = kDFirst + h.dState;
    const std::uint8_t* lit = literals;
    const std::uint8_t* const litLimit = literals + h.nLiterals;
    std::uint8_t* dst = out.dst;
    std::uint8_t* const blockEnd = out.blockEnd;
    std::uint8_t* const writeLimit = out.writeLimit;
    const std::uint8_t* const history = out.history;
    std::uint32_t distance = 0;

    for (std::uint32_t n = h.nMatches; n != 0; --n) {
        if (LZFSE_UNLIKELY(!in.refill())) return Error::bitStreamExhausted;
        const ValueEntry le = lmd[ls];
        std::uint64_t x = in.read(le.totalBits);
        const std::size_t l = le.valueBase + (x & ((1u << le.extraBits) - 1));
        ls = le.base + static_cast<std::uint32_t>(x >> le.extraBits);
        const ValueEntry me = lmd[ms];
        x = in.read(me.totalBits);
        const std::size_t m = me.valueBase + (x & ((1u << me.extraBits) - 1));
        ms = me.base + static_cast<std::uint32_t>(x >> me.extraBits);
        const ValueEntry de = lmd[ds];
        x = in.read(de.totalBits);
        const std::uint32_t stored =
            de.valueBase + static_cast<std::uint32_t>(x & ((1u << de.extraBits) - 1));
        ds = de.base + static_cast<std::uint32_t>(x >> de.extraBits);
        if (stored != 0) distance = stored;

        if (LZFSE_UNLIKELY(l > static_cast<std::size_t>(litLimit - lit))) {
            return Error::badLiteralCount;
        }
        if (LZFSE_UNLIKELY(l + m > static_cast<std::size_t>(blockEnd - dst))) {
            return Error::badBlockSize;
        }
        if (LZFSE_UNLIKELY(distance == 0 ||
                           distance > static_cast<std::size_t>(dst - history) + l)) {
            return Error::badMatchDistance;
        }
        if (LZFSE_LIKELY(static_cast<std::size_t>(writeLimit - dst) >= l + m + kWildSlack)) {
            // Most literal runs and matches fit one 16-byte copy: no loop to mispredict.
            copy16(dst, lit);
            if (LZFSE_UNLIKELY(l > 16)) wildCopy16(dst + 16, lit + 16, l - 16);
            dst += l;
            lit += l;
            if (LZFSE_LIKELY(distance >= 16)) {
                const std::uint8_t* src = dst - distance;
                copy16(dst, src);
                if (LZFSE_UNLIKELY(m > 16)) wildCopy16(dst + 16, src + 16, m - 16);
            } else {
                wildCopyShortMatch(dst, distance, m);
            }
            dst += m;
        } else {
            std::memcpy(dst, lit, l);
            dst += l;
            lit += l;
            copyMatchExact(dst, distance, m);
            dst += m;
        }
    }
    if (in.remaining() < 0) return Error::bitStreamExhausted;
    if (dst != blockEnd) return Error::badBlockSize;
    return std::nullopt;
}

enum class Op : std::uint8_t {
    smallDistance,
    mediumDistance,
    largeDistance,
    previousDistance,
    shortLiteral,
    longLiteral,
    shortMatch,
    longMatch,
    nop,
    end,
    undefined,
};

constexpr std::array<Op, 256> kOps = [] {
    std::array<Op, 256> ops{};
    for (int b = 0; b < 256; ++b) {
        Op op;
        if (b == 0xE0) {
            op = Op::longLiteral;
        } else if (b >= 0xE1 && b <= 0xEF) {
            op = Op::shortLiteral;
        } else if (b == 0xF0) {
            op = Op::longMatch;
        } else if (b >= 0xF1) {
            op = Op::shortMatch;
        } else if (b >= 0xA0 && b <= 0xBF) {
            op = Op::mediumDistance;
        } else if ((b >= 0x70 && b <= 0x7F) || (b >= 0xD0 && b <= 0xDF)) {
            op = Op::undefined;
        } else if (b == 0x06) {
            op = Op::end;
        } else if (b == 0x0E || b == 0x16) {
            op = Op::nop;
        } else if (b == 0x1E || b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E) {
            op = Op::undefined;
        } else if ((b & 7) == 6) {
            op = Op::previousDistance;
        } else if ((b & 7) == 7) {
            op = Op::largeDistance;
        } else {
            op = Op::smallDistance;
        }
        ops[b] = op;
    }
    return ops;
}();

std::optional<Error> decodeLzvnBlock(const std::uint8_t* payload, std::size_t payloadSize,
                                     const OutputWindow& out) {
    const std::uint8_t* p = payload;
    const std::uint8_t* const pe = payload + payloadSize;
    std::uint8_t* dst = out.dst;
    std::uint8_t* const blockEnd = out.blockEnd;
    const std::uint8_t* const history = out.history;
    std::size_t distance = 0;  // unset until an instruction sets it

    for (;;) {
        if (p == pe) return Error::badEndInstruction;
        const std::uint8_t op = p[0];
        const std::size_t avail = static_cast<std::size_t>(pe - p);
        std::size_t opSize = 1, l = 0, m = 0, newDistance = 0;
        switch (kOps[op]) {
            case Op::smallDistance:
                if (avail < 2) return Error::instructionOverrun;
                opSize = 2;
                l = op >> 6;
                m = ((op >> 3) & 7) + 3;
                newDistance = (static_cast<std::size_t>(op & 7) << 8) | p[1];
                if (newDistance == 0) return Error::badMatchDistance;
                break;
            case Op::mediumDistance: {
                if (avail < 3) return Error::instructionOverrun;
                opSize = 3;
                const std::uint16_t w = load16(p + 1);
                l = (op >> 3) & 3;
                m = ((static_cast<std::size_t>(op & 7) << 2) | (w & 3)) + 3;
                newDistance = w >> 2;
                if (newDistance == 0) return Error::badMatchDistance;
                break;
            }
            case Op::largeDistance:
                if (avail < 3) return Error::instructionOverrun;
                opSize = 3;
                l = op >> 6;
                m = ((op >> 3) & 7) + 3;
                newDistance = load16(p + 1);
                if (newDistance == 0) return Error::badMatchDistance;
                break;
            case Op::previousDistance:
                l = op >> 6;
                m = ((op >> 3) & 7) + 3;
                break;
            case Op::shortLiteral:
                l = op & 15;
                break;
            case Op::longLiteral:
                if (avail < 2) return Error::instructionOverrun;
                opSize = 2;
                l = static_cast<std::size_t>(p[1]) + 16;
                break;
            case Op::shortMatch:
                m = op & 15;
                break;
            case Op::longMatch:
                if (avail < 2) return Error::instructionOverrun;
                opSize = 2;
                m = static_cast<std::size_t>(p[1]) + 16;
                break;
            case Op::nop:
                ++p;
                continue;
            case Op::end:
                if (avail != 8) return Error::badEndInstruction;
                if (dst != blockEnd) return Error::badBlockSize;
                return std::nullopt;
            case Op::undefined:
                return Error::badOpcode;
        }
        if (avail - opSize < l) return Error::instructionOverrun;
        if (l + m > static_cast<std::size_t>(blockEnd - dst)) return Error::badBlockSize;
        std::memcpy(dst, p + opSize, l);
        dst += l;
        p += opSize + l;
        if (m == 0) continue;
        if (newDistance != 0) {
            if (newDistance > static_cast<std::size_t>(dst - history)) {
                return Error::badMatchDistance;
            }
            distance = newDistance;
        } else if (distance == 0) {
            return Error::badMatchDistance;
        }
        copyMatchExact(dst, distance, m);
        dst += m;
    }
}

}  // namespace

std::optional<Error> readExtent(std::span<const std::uint8_t> rest, BlockExtent& extent) {
    const std::size_t avail = rest.size();
    if (avail < 4) return Error::truncated;
    const std::uint8_t* const b = rest.data();
    extent.magic = load32(b);
    switch (extent.magic) {
        case kMagicEnd:
            extent.size = 4;
            extent.nRaw = 0;
            return std::nullopt;
        case kMagicRaw: {
            if (avail < kRawHeaderSize) return Error::truncated;
            extent.nRaw = load32(b + 4);
            if (avail - kRawHeaderSize < extent.nRaw) return Error::truncated;
            extent.size = kRawHeaderSize + static_cast<std::size_t>(extent.nRaw);
            return std::nullopt;
        }
        case kMagicLzvn: {
            if (avail < kLzvnHeaderSize) return Error::truncated;
            extent.nRaw = load32(b + 4);
            const std::uint64_t payload = load32(b + 8);
            if (avail - kLzvnHeaderSize < payload) return Error::truncated;
            if (extent.nRaw == 0 || extent.nRaw > payload * kLzvnMaxExpansion) {
                return Error::badBlockSize;
            }
            extent.size = kLzvnHeaderSize + static_cast<std::size_t>(payload);
            return std::nullopt;
        }
        case kMagicV1:
        case kMagicV2: {
            std::uint64_t headerSize, nLiterals, nMatches, litPayload, lmdPayload;
            if (extent.magic == kMagicV1) {
                if (avail < kV1HeaderSize) return Error::truncated;
                headerSize = kV1HeaderSize;
                nLiterals = load32(b + 12);
                nMatches = load32(b + 16);
                litPayload = load32(b + 20);
                lmdPayload = load32(b + 24);
            } else {
                if (avail < kV2FixedHeaderSize) return Error::truncated;
                const std::uint64_t w0 = load64(b + 8);
                const std::uint64_t w1 = load64(b + 16);
                headerSize = static_cast<std::uint32_t>(load64(b + 24));
                if (headerSize < kV2FixedHeaderSize) return Error::badHeaderSize;
                if (avail < headerSize) return Error::truncated;
                nLiterals = w0 & 0xFFFFF;
                litPayload = (w0 >> 20) & 0xFFFFF;
                nMatches = (w0 >> 40) & 0xFFFFF;
                lmdPayload = (w1 >> 40) & 0xFFFFF;
            }
            extent.nRaw = load32(b + 4);
            if (nLiterals > kMaxLiterals || nMatches > kMaxMatches) return Error::badCount;
            if (avail - headerSize < litPayload + lmdPayload) return Error::truncated;
            if (extent.nRaw > nLiterals + nMatches * kMaxM) return Error::badBlockSize;
            extent.size = static_cast<std::size_t>(headerSize + litPayload + lmdPayload);
            return std::nullopt;
        }
        default:
            return Error::badMagic;
    }
}

std::optional<Error> decodeBlock(const std::uint8_t* block, const BlockExtent& extent,
                                 const OutputWindow& out, DecoderScratch& scratch) {
    switch (extent.magic) {
        case kMagicRaw:
            if (extent.nRaw != 0) {
                std::memcpy(out.dst, block + kRawHeaderSize, static_cast<std::size_t>(extent.nRaw));
            }
            return std::nullopt;
        case kMagicLzvn:
            return decodeLzvnBlock(block + kLzvnHeaderSize, extent.size - kLzvnHeaderSize, out);
        case kMagicV1:
            return decodeLzfseBlock(block, false, out, scratch.tables());
        case kMagicV2:
            return decodeLzfseBlock(block, true, out, scratch.tables());
        default:
            return std::nullopt;
    }
}

}  // namespace lzfse::detail
