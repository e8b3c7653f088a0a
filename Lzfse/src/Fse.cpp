#include "Fse.h"

#include <algorithm>

namespace lzfse::detail {

std::uint32_t frequencySum(const std::uint16_t* freq, int symbols) {
    std::uint32_t sum = 0;
    for (int s = 0; s < symbols; ++s)
        sum += freq[s];
    return sum;
}

namespace {

// Calls fn(symbol, state, bits, base) for every state of every used symbol.
template <class Fn>
void forEachState(const std::uint16_t* freq, int symbols, int states, Fn&& fn) {
    const int logStates = floorLog2(static_cast<std::uint32_t>(states));
    int state = 0;
    for (int s = 0; s < symbols; ++s) {
        const int f = freq[s];
        if (f == 0) continue;
        const int k = logStates - floorLog2(static_cast<std::uint32_t>(f));
        const int j0 = ((2 * states) >> k) - f;
        for (int j = 0; j < f; ++j, ++state) {
            if (j < j0) {
                fn(s, state, k, ((f + j) << k) - states);
            } else {
                fn(s, state, k - 1, (j - j0) << (k - 1));
            }
        }
    }
}

}  // namespace

void buildLiteralTable(const std::uint16_t* freq, LiteralEntry* table) {
    forEachState(freq, kLitSymbols, kLitStates, [&](int s, int state, int bits, int base) {
        table[state] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(s),
                        static_cast<std::uint16_t>(base)};
    });
}

void buildValueTable(const std::uint16_t* freq, int symbols, int states,
                     const std::uint8_t* extraBits, const std::uint32_t* valueBase, int firstState,
                     ValueEntry* table) {
    forEachState(freq, symbols, states, [&](int s, int state, int bits, int base) {
        table[state] = {static_cast<std::uint8_t>(bits + extraBits[s]), extraBits[s],
                        static_cast<std::uint16_t>(firstState + base), valueBase[s]};
    });
}

void buildEncoderTable(const std::uint16_t* freq, int symbols, int states, EncoderEntry* table) {
    const int logStates = floorLog2(static_cast<std::uint32_t>(states));
    int start = 0;
    for (int s = 0; s < symbols; ++s) {
        const int f = freq[s];
        if (f == 0) {
            table[s] = {};
            continue;
        }
        const int k = logStates - floorLog2(static_cast<std::uint32_t>(f));
        const int threshold = (f << k) - states;
        table[s].bitsBias = static_cast<std::uint32_t>((k << 16) - threshold);
        table[s].bits = static_cast<std::uint8_t>(k);
        table[s].delta[0] = static_cast<std::int16_t>(start - f + ((2 * states) >> k));
        table[s].delta[1] = static_cast<std::int16_t>(start - f + (states >> k));
        start += f;
    }
}

void normalizeCounts(const std::uint32_t* counts, int symbols, int states, std::uint16_t* freq) {
    std::uint32_t total = 0;
    for (int s = 0; s < symbols; ++s)
        total += counts[s];
    const std::uint32_t step = total != 0 ? (1u << 31) / total : 0;
    const int shift = 30 - floorLog2(static_cast<std::uint32_t>(states));
    int remaining = states;
    int largest = 0;
    int largestSymbol = 0;
    for (int s = 0; s < symbols; ++s) {
        int f = static_cast<int>((((counts[s] * step) >> shift) + 1) >> 1);
        if (f == 0 && counts[s] != 0) f = 1;
        freq[s] = static_cast<std::uint16_t>(f);
        remaining -= f;
        if (f > largest) {
            largest = f;
            largestSymbol = s;
        }
    }
    if (-remaining < (largest >> 2)) {
        freq[largestSymbol] = static_cast<std::uint16_t>(freq[largestSymbol] + remaining);
        return;
    }
    // Too many states handed out: take them back, first from the big symbols.
    int excess = -remaining;
    for (int q = 3; q >= 0 && excess > 0; --q) {
        for (int s = 0; s < symbols && excess > 0; ++s) {
            if (freq[s] <= 1) continue;
            const int take = std::min((freq[s] - 1) >> q, excess);
            freq[s] = static_cast<std::uint16_t>(freq[s] - take);
            excess -= take;
        }
    }
}

}  // namespace lzfse::detail
