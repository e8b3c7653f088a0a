#pragma once

// Finite-state entropy tables (states not spread: each symbol owns a contiguous run of states)
// and the bit streams they read and write.

#include <cstddef>
#include <cstdint>

#include "Format.h"

namespace lzfse::detail {

// Decoding entry of a literal state: emit `symbol`, read `bits`, next state = base + bits read.
struct LiteralEntry {
    std::uint8_t bits;
    std::uint8_t symbol;
    std::uint16_t base;
};

// Decoding entry of an L, M or D state: one read of `totalBits` bits whose low `extraBits` add
// to `valueBase` and whose high bits add to `base` to give the next state.
struct ValueEntry {
    std::uint8_t totalBits;
    std::uint8_t extraBits;
    std::uint16_t base;
    std::uint32_t valueBase;
};

// Encoding entry of a symbol (see encodeSymbol).
struct EncoderEntry {
    // (state + bitsBias) >> 16 is the number of state bits to write: k for states at or above
    // the symbol's threshold (f << k) - N, else k - 1.
    std::uint32_t bitsBias;
    std::uint8_t bits;      // k
    std::int16_t delta[2];  // next-state offset after writing k - 1 and k bits
};

// Sum of `freq`; a table is usable only when this equals its state count.
std::uint32_t frequencySum(const std::uint16_t* freq, int symbols);

// Both builders need frequencies that sum exactly to `states` (a power of two).
void buildLiteralTable(const std::uint16_t* freq, LiteralEntry* table);
// The value table's next states are offset by `firstState`, so that several alphabets can
// share one table.
void buildValueTable(const std::uint16_t* freq, int symbols, int states,
                     const std::uint8_t* extraBits, const std::uint32_t* valueBase, int firstState,
                     ValueEntry* table);
void buildEncoderTable(const std::uint16_t* freq, int symbols, int states, EncoderEntry* table);

// Scales symbol counts to frequencies summing to `states`, every used symbol keeping at least
// one state; the rounding follows the widely used encoder so that ratios compare.
void normalizeCounts(const std::uint32_t* counts, int symbols, int states, std::uint16_t* freq);

// Reads a bit stream from its last real bit down to its first. The stream occupies
// [start, end) and holds 8 * (end - start) + bits real bits (bits in -7..0). The 8 bytes below
// `start` must be readable memory: they are fetched but never used when the stream is valid.
class BackwardBitReader {
public:
    BackwardBitReader(const std::uint8_t* start, const std::uint8_t* end, int bits)
        : start_(start), floor_(start - 8), window_(end - 8), used_(static_cast<unsigned>(-bits)) {
        value_ = load64(window_);
    }

    // Real bits not yet consumed; negative once reads went below the stream start.
    std::int64_t remaining() const {
        return 8 * (window_ - start_) + 64 - static_cast<std::int64_t>(used_);
    }

    // Moves the window down so at least 56 unread bits are in it. Fails once the window would
    // leave the stream; reads that went a few bits below its start show in remaining().
    [[nodiscard]] bool refill() {
        const std::uint8_t* const next = window_ - (used_ >> 3);
        if (next < floor_) return false;
        window_ = next;
        used_ &= 7;
        value_ = load64(window_);
        return true;
    }

    // Next n bits (0 <= n <= 56 - bits consumed since the last refill), as written.
    std::uint64_t read(unsigned n) {
        const std::uint64_t v = ((value_ << used_) >> 1) >> (63 - n);
        used_ += n;
        return v;
    }

private:
    const std::uint8_t* start_;
    const std::uint8_t* floor_;
    const std::uint8_t* window_;
    std::uint64_t value_ = 0;
    unsigned used_;
};

// Writes a bit stream forward: each value lands above the bits already written.
class ForwardBitWriter {
public:
    // `out` needs room for the stream plus 8 bytes.
    explicit ForwardBitWriter(std::uint8_t* out) : begin_(out), out_(out) {}

    // v < 2^n; at most 56 bits may be pending between flushes.
    void put(std::uint64_t v, unsigned n) {
        acc_ |= v << count_;
        count_ += n;
    }

    void flush() {
        storeLe(out_, acc_);
        const unsigned whole = count_ & ~7u;
        out_ += whole >> 3;
        acc_ = whole == 64 ? 0 : acc_ >> whole;
        count_ &= 7;
    }

    // Pads the last byte with zeros; returns the stream's byte count and sets `bits` to minus
    // the padding.
    std::size_t finish(int& bits) {
        flush();
        if (count_ != 0) {
            ++out_;
            bits = static_cast<int>(count_) - 8;
        } else {
            bits = 0;
        }
        count_ = 0;
        acc_ = 0;
        return static_cast<std::size_t>(out_ - begin_);
    }

private:
    std::uint8_t* begin_;
    std::uint8_t* out_;
    std::uint64_t acc_ = 0;
    unsigned count_ = 0;
};

// Encodes a symbol from `state`, writing the state bits above `extraBits` extra bits of
// `extra` in one put (extra first, so a decoder finds the state bits above it).
inline void encodeSymbol(ForwardBitWriter& out, const EncoderEntry& e, std::uint32_t& state,
                         std::uint32_t extra, unsigned extraBits) {
    const std::uint32_t n = (state + e.bitsBias) >> 16;
    out.put(extra | (std::uint64_t{state & ((1u << n) - 1)} << extraBits), extraBits + n);
    state =
        static_cast<std::uint32_t>(e.delta[n + 1 - e.bits] + static_cast<std::int32_t>(state >> n));
}

}  // namespace lzfse::detail
