#include <algorithm>
#include <cstring>
#include <memory>

#include "Encoders.h"
#include "Format.h"

namespace lzfse::detail {

namespace {

constexpr int kHashBits = 14;
constexpr std::size_t kMaxPendingLiterals = 400;
constexpr std::size_t kMaxLiteralRun = 271;
constexpr std::size_t kMaxDistance = 65535;
constexpr std::size_t kSmallDistanceLimit = 1536;
constexpr std::size_t kMediumDistanceLimit = 16384;
constexpr std::size_t kMediumMaxMatch = 34;

// Instruction writer; remembers the distance a decoder will hold.
class LzvnWriter {
public:
    explicit LzvnWriter(std::vector<std::uint8_t>& code) : code_(code) {}

    std::size_t previousDistance() const { return distance_; }

    // Literal-only instructions for n bytes at p.
    void literals(const std::uint8_t* p, std::size_t n) {
        while (n > 15) {
            const std::size_t part = std::min(n, kMaxLiteralRun);
            code_.push_back(0xE0);
            code_.push_back(static_cast<std::uint8_t>(part - 16));
            code_.insert(code_.end(), p, p + part);
            p += part;
            n -= part;
        }
        if (n > 0) {
            code_.push_back(static_cast<std::uint8_t>(0xE0 | n));
            code_.insert(code_.end(), p, p + n);
        }
    }

    // l literal bytes at lit, then a match of m >= 3 bytes from d back.
    void match(const std::uint8_t* lit, std::size_t l, std::size_t m, std::size_t d) {
        // Long runs go out first; 0..3 leftover literal bytes ride on the match instruction.
        while (l > 15) {
            const std::size_t part = std::min(l, kMaxLiteralRun);
            literals(lit, part);
            lit += part;
            l -= part;
        }
        if (l > 3) {
            literals(lit, l);
            lit += l;
            l = 0;
        }
        const std::size_t shortMax = 10 - 2 * l;
        const auto head = static_cast<std::uint8_t>(l << 6);
        std::size_t first;
        if (d == distance_) {
            if (l == 0) {
                first = 0;
            } else {
                first = std::min(m, shortMax);
                code_.push_back(static_cast<std::uint8_t>(head | ((first - 3) << 3) | 6));
            }
        } else if (d < kSmallDistanceLimit) {
            first = std::min(m, shortMax);
            code_.push_back(static_cast<std::uint8_t>(head | ((first - 3) << 3) | (d >> 8)));
            code_.push_back(static_cast<std::uint8_t>(d));
        } else if (d >= kMediumDistanceLimit || m <= shortMax || m > kMediumMaxMatch) {
            first = std::min(m, shortMax);
            code_.push_back(static_cast<std::uint8_t>(head | ((first - 3) << 3) | 7));
            code_.push_back(static_cast<std::uint8_t>(d));
            code_.push_back(static_cast<std::uint8_t>(d >> 8));
        } else {
            first = m;
            const std::size_t x = m - 3;
            const std::size_t w = (d << 2) | (x & 3);
            code_.push_back(static_cast<std::uint8_t>(0xA0 | (l << 3) | (x >> 2)));
            code_.push_back(static_cast<std::uint8_t>(w));
            code_.push_back(static_cast<std::uint8_t>(w >> 8));
        }
        code_.insert(code_.end(), lit, lit + l);
        std::size_t rest = m - first;
        while (rest > 15) {
            const std::size_t part = std::min<std::size_t>(rest, 271);
            code_.push_back(0xF0);
            code_.push_back(static_cast<std::uint8_t>(part - 16));
            rest -= part;
        }
        if (rest > 0) code_.push_back(static_cast<std::uint8_t>(0xF0 | rest));
        distance_ = d;
    }

    void end() {
        code_.push_back(0x06);
        code_.insert(code_.end(), 7, 0);
    }

private:
    std::vector<std::uint8_t>& code_;
    std::size_t distance_ = 0;
};

struct Candidate {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t distance = 0;
    std::ptrdiff_t score = 0;  // bytes saved, roughly: longer and cheaper-to-code is better
    std::size_t end() const { return start + length; }
};

}  // namespace

bool appendLzvnBlock(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
    const std::uint8_t* const in = input.data();
    const std::size_t size = input.size();
    if (size < 8 || size > 0xFFFF) return false;

    // The 4 most recent positions of each 3-byte hash, newest first; all start at position 0.
    // Inputs stay below 4096 bytes here, so positions fit 16 bits.
    struct Bucket {
        std::uint16_t pos[4];
    };
    auto table = std::make_unique<Bucket[]>(std::size_t{1} << kHashBits);

    std::vector<std::uint8_t> code;
    code.reserve(size + 16);
    LzvnWriter writer(code);
    std::size_t litStart = 0;
    Candidate pending;
    bool hasPending = false;

    auto emit = [&](const Candidate& c) {
        writer.match(in + litStart, c.start - litStart, c.length, c.distance);
        litStart = c.end();
    };

    for (std::size_t i = 0; i + 8 < size; ++i) {
        const std::uint32_t x = load32(in + i);
        Bucket& b = table[(((x & 0xFFFFFF) * 4161u) >> 12) & ((1u << kHashBits) - 1)];
        if (i >= litStart) {
            Candidate best;
            bool found = false;
            auto consider = [&](std::size_t d, bool previous) {
                if (d == 0 || d > kMaxDistance || d > i) return;
                const std::uint32_t y = load32(in + i - d);
                if (((x ^ y) & 0xFFFFFF) != 0) return;
                Candidate c{i, 3, d, 0};
                if (x == y) {
                    c.length = 4;
                    while (i + c.length + 4 <= size) {
                        const std::uint32_t diff =
                            load32(in + i + c.length) ^ load32(in + i + c.length - d);
                        if (diff != 0) {
                            c.length += static_cast<std::size_t>(std::countr_zero(diff)) >> 3;
                            break;
                        }
                        c.length += 4;
                    }
                }
                while (c.start > litStart && c.start > d &&
                       in[c.start - 1] == in[c.start - 1 - d]) {
                    --c.start;
                    ++c.length;
                }
                const auto m = static_cast<std::ptrdiff_t>(c.length);
                c.score = previous ? m - 1 : d < kSmallDistanceLimit ? m - 2 : m - 3;
                if (!found || c.score > best.score ||
                    (c.score == best.score && c.end() >= best.end() + 2)) {
                    best = c;
                    found = true;
                }
            };
            for (int e = 0; e < 4; ++e) {
                const std::size_t d = i - b.pos[e];
                consider(d, d == writer.previousDistance());
            }
            consider(writer.previousDistance(), true);

            if (!found) {
                if (i - litStart >= kMaxPendingLiterals) {
                    if (hasPending) {
                        emit(pending);
                        hasPending = false;
                    } else {
                        writer.literals(in + litStart, kMaxLiteralRun);
                        litStart += kMaxLiteralRun;
                    }
                }
            } else if (!hasPending) {
                pending = best;
                hasPending = true;
            } else if (pending.end() <= best.start) {
                emit(pending);
                pending = best;
            } else {
                emit(best.score > pending.score ? best : pending);
                hasPending = false;
            }
        }
        b.pos[3] = b.pos[2];
        b.pos[2] = b.pos[1];
        b.pos[1] = b.pos[0];
        b.pos[0] = static_cast<std::uint16_t>(i);
    }
    // A match still waiting at the end goes out as literals.
    writer.literals(in + litStart, size - litStart);
    writer.end();
    if (code.size() >= size) return false;

    const std::size_t at = out.size();
    out.resize(at + kLzvnHeaderSize + code.size());
    storeLe(out.data() + at, kMagicLzvn);
    storeLe(out.data() + at + 4, static_cast<std::uint32_t>(size));
    storeLe(out.data() + at + 8, static_cast<std::uint32_t>(code.size()));
    std::memcpy(out.data() + at + kLzvnHeaderSize, code.data(), code.size());
    return true;
}

}  // namespace lzfse::detail
