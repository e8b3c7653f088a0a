#include "Lzfse/Lzfse.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

#include "BlockDecoder.h"
#include "Encoders.h"
#include "Format.h"

namespace lzfse {

using namespace detail;

std::string_view describe(Error error) {
    switch (error) {
        case Error::truncated:
            return "stream truncated";
        case Error::badMagic:
            return "bad block magic";
        case Error::trailingBytes:
            return "bytes after the end-of-stream block";
        case Error::badBlockSize:
            return "block size differs from the bytes the block produces";
        case Error::badCount:
            return "literal or match count over the block limit";
        case Error::badHeaderSize:
            return "header size does not match its frequency tables";
        case Error::badBitCount:
            return "bit count field out of range";
        case Error::badState:
            return "entropy coder state out of range";
        case Error::badTable:
            return "frequency table does not sum to its state count";
        case Error::badPadding:
            return "padding bits above a bit stream are not zero";
        case Error::payloadTooShort:
            return "payload too short for the bit reader";
        case Error::bitStreamExhausted:
            return "bit stream exhausted";
        case Error::badLiteralCount:
            return "matches use more literals than the block holds";
        case Error::badMatchDistance:
            return "bad match distance";
        case Error::badOpcode:
            return "undefined LZVN opcode";
        case Error::instructionOverrun:
            return "LZVN instruction runs past its payload";
        case Error::badEndInstruction:
            return "LZVN payload does not end with its end instruction";
        case Error::outputLimit:
            return "decoded size exceeds the output limit";
    }
    return "unknown error";
}

namespace {

constexpr std::size_t kLzvnThreshold = 4096;
constexpr std::size_t kRawThreshold = 8;
// Parallel parts smaller than this gain little against the cost of a thread and the matches
// an independent part cannot make.
constexpr std::size_t kMinEncodePart = std::size_t{512} << 10;
constexpr std::uint64_t kMinDecodePart = std::uint64_t{256} << 10;
// Snapshots and the like shrink to a few times less; a stream claiming far more than this many
// times its size is decoded strictly as it goes (a bomb costs what it really yields).
constexpr std::uint64_t kTrustedExpansion = 32;
// Large inputs are cut into parts of at least this size, up to this many a thread.
constexpr std::size_t kBalancePart = std::size_t{4} << 20;
constexpr std::size_t kPartsPerWorker = 8;
// More threads than this would only add overhead, whatever a caller asks for.
constexpr unsigned kMaxThreads = 64;

void appendEnd(std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    storeLe(out.data() + at, kMagicEnd);
}

// A block boundary: where a block starts in the stream and in the output.
struct Boundary {
    std::size_t streamOffset = 0;
    std::uint64_t outputOffset = 0;
};

// Checks the block structure of the whole stream and sums the block sizes, without decoding.
// `total` and `stop` end up at the block where the walk stopped: the end block, or the block
// that failed.
std::optional<DecodeError> walk(std::span<const std::uint8_t> stream, std::uint64_t limit,
                                std::uint64_t& total, std::size_t& stop) {
    std::size_t pos = 0;
    total = 0;
    for (;;) {
        stop = pos;
        BlockExtent extent;
        if (auto e = readExtent(stream.subspan(pos), extent)) return DecodeError{*e, pos};
        if (extent.magic == kMagicEnd) {
            if (pos + 4 != stream.size()) return DecodeError{Error::trailingBytes, pos + 4};
            return std::nullopt;
        }
        if (extent.nRaw > limit - total) return DecodeError{Error::outputLimit, pos};
        total += extent.nRaw;
        pos += extent.size;
    }
}

// Decodes the blocks in [from.streamOffset, toStreamOffset) of a stream that walk() accepted.
// Matches may reach back to `history`; nothing is written at or past `writeLimit`.
std::optional<DecodeError> decodeBlocks(std::span<const std::uint8_t> stream, Boundary from,
                                        std::size_t toStreamOffset, std::uint8_t* output,
                                        std::uint8_t* history, std::uint8_t* writeLimit,
                                        DecoderScratch& scratch) {
    std::size_t pos = from.streamOffset;
    std::uint8_t* dst = output + from.outputOffset;
    while (pos < toStreamOffset) {
        BlockExtent extent;
        if (auto e = readExtent(stream.subspan(pos), extent)) return DecodeError{*e, pos};
        std::uint8_t* const blockEnd = dst + extent.nRaw;
        const OutputWindow window{history, dst, blockEnd, writeLimit};
        if (auto e = decodeBlock(stream.data() + pos, extent, window, scratch)) {
            return DecodeError{*e, pos};
        }
        dst = blockEnd;
        pos += extent.size;
    }
    return std::nullopt;
}

// Decodes the blocks before toStreamOffset in order, growing `output` by one block at a time, so
// what a header claims is only ever made room for once every block before it has really
// decoded; a claim that is never made good costs one block's worth, not the whole stream's.
std::optional<DecodeError> decodeGrowing(std::span<const std::uint8_t> stream,
                                         std::size_t toStreamOffset,
                                         std::vector<std::uint8_t>& output,
                                         DecoderScratch& scratch) {
    output.clear();
    std::size_t pos = 0;
    while (pos < toStreamOffset) {
        BlockExtent extent;
        if (auto e = readExtent(stream.subspan(pos), extent)) return DecodeError{*e, pos};
        const std::size_t at = output.size();
        try {
            output.resize(at + static_cast<std::size_t>(extent.nRaw));
        } catch (const std::bad_alloc&) {
            return DecodeError{Error::outputLimit, pos};
        }
        std::uint8_t* const base = output.data();
        std::uint8_t* const blockEnd = base + output.size();
        const OutputWindow window{base, base + at, blockEnd, blockEnd};
        if (auto e = decodeBlock(stream.data() + pos, extent, window, scratch)) {
            return DecodeError{*e, pos};
        }
        pos += extent.size;
    }
    return std::nullopt;
}

// Block boundaries nearest to equal shares of the output, for `parts` parts.
std::vector<Boundary> splitPoints(std::span<const std::uint8_t> stream, std::size_t endOffset,
                                  std::uint64_t total, unsigned parts) {
    std::vector<Boundary> points{Boundary{}};
    Boundary previous;
    Boundary current;
    unsigned next = 1;
    while (next < parts) {
        const std::uint64_t target = total / parts * next;
        if (current.outputOffset >= target || current.streamOffset == endOffset) {
            const bool takePrevious =
                target - previous.outputOffset < current.outputOffset - target;
            const Boundary chosen = takePrevious ? previous : current;
            if (chosen.outputOffset > points.back().outputOffset && chosen.outputOffset < total) {
                points.push_back(chosen);
            }
            ++next;
            continue;
        }
        BlockExtent extent;
        if (readExtent(stream.subspan(current.streamOffset), extent)) break;
        previous = current;
        current.streamOffset += extent.size;
        current.outputOffset += extent.nRaw;
    }
    points.push_back(Boundary{endOffset, total});
    return points;
}

// Runs work(k) for every part k on up to `workers` threads, the calling thread among them, each
// taking the next part not yet taken (as far as the system grants threads). An exception thrown
// by any part (memory exhaustion) is rethrown here once all parts are done.
template <class Work>
void runParts(std::size_t parts, std::size_t workers, Work&& work) {
    std::vector<std::exception_ptr> failures(parts);
    std::atomic<std::size_t> next{0};
    auto drain = [&] {
        for (std::size_t k = next++; k < parts; k = next++) {
            try {
                work(k);
            } catch (...) {
                failures[k] = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> threads;
        try {
            for (std::size_t t = 1; t < std::min(workers, parts); ++t)
                threads.emplace_back(drain);
        } catch (const std::system_error&) {
            // No more threads: those that started and this one share the parts.
        }
        drain();
    }
    for (const auto& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

// Decodes the parts in parallel, each as if its output were the start of the stream. A part
// whose matches reach into an earlier part fails that way and is decoded again in order.
std::optional<DecodeError> decodeParallel(std::span<const std::uint8_t> stream,
                                          const std::vector<Boundary>& points,
                                          std::uint8_t* output) {
    const std::size_t parts = points.size() - 1;
    std::vector<std::optional<DecodeError>> results(parts);
    runParts(parts, parts, [&](std::size_t k) {
        DecoderScratch scratch;
        results[k] = decodeBlocks(stream, points[k], points[k + 1].streamOffset, output,
                                  output + points[k].outputOffset,
                                  output + points[k + 1].outputOffset, scratch);
    });
    if (results[0]) return results[0];
    DecoderScratch scratch;
    for (std::size_t k = 1; k < parts; ++k) {
        if (!results[k]) continue;
        if (auto e = decodeBlocks(stream, points[k], points[k + 1].streamOffset, output, output,
                                  output + points[k + 1].outputOffset, scratch)) {
            return e;
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> encode(std::span<const std::uint8_t> input, Options options) {
    std::vector<std::uint8_t> out;
    const std::size_t size = input.size();
    if (size < kRawThreshold) {
        appendRawBlock(input, out);
    } else if (size < kLzvnThreshold) {
        if (!appendLzvnBlock(input, out)) appendRawBlock(input, out);
    } else {
        const std::size_t workers = std::clamp<std::size_t>(
            size / kMinEncodePart, 1, std::clamp(options.threads, 1u, kMaxThreads));
        // Parts compress at different speeds (a snapshot's names take twice as long as its
        // numbers), so a large input is cut finer than one part a thread and the threads share.
        const std::size_t parts =
            workers == 1
                ? 1
                : std::max(workers, std::min(size / kBalancePart, workers * kPartsPerWorker));
        if (parts == 1) {
            appendLzfseBlocks(input, out);
        } else {
            // Independent parts: each part's matches stay inside it, so any decoder reads the
            // concatenated blocks as one stream.
            std::vector<std::vector<std::uint8_t>> encoded(parts);
            runParts(parts, workers, [&](std::size_t k) {
                const std::size_t begin = size / parts * k;
                const std::size_t length = k + 1 == parts ? size - begin : size / parts;
                appendLzfseBlocks(input.subspan(begin, length), encoded[k]);
            });
            std::size_t total = 4;
            for (const auto& e : encoded)
                total += e.size();
            out.reserve(total);
            for (const auto& e : encoded)
                out.insert(out.end(), e.begin(), e.end());
        }
    }
    appendEnd(out);
    return out;
}

std::optional<DecodeError> decodeInto(std::span<const std::uint8_t> stream,
                                      std::uint64_t outputLimit, std::vector<std::uint8_t>& output,
                                      Options options) {
    std::uint64_t total = 0;
    std::size_t endOffset = 0;
    const std::uint64_t limit = std::min<std::uint64_t>(outputLimit, output.max_size());
    const auto structural = walk(stream, limit, total, endOffset);
    if (structural && structural->error == Error::outputLimit) return structural;
    // Never a null buffer, even for empty output: blocks copy to it with memcpy. Room is set
    // aside (not filled) only for as much as a stream of this size plausibly yields; more is
    // added as it is really decoded.
    const std::uint64_t plausible = std::min<std::uint64_t>(
        total, std::uint64_t{stream.size()} * kTrustedExpansion + kMinDecodePart);
    try {
        output.reserve(std::max<std::size_t>(static_cast<std::size_t>(plausible), 1));
    } catch (const std::bad_alloc&) {
        return DecodeError{Error::outputLimit, 0};
    }
    DecoderScratch scratch;
    if (structural) {
        // Report problems in stream order: a damaged block before the one the walk stopped
        // at says more than, say, the missing end block behind it.
        if (auto e = decodeGrowing(stream, endOffset, output, scratch)) return e;
        return structural;
    }
    // Parallel parts need the whole output in place before they start, so only a stream whose
    // claimed size is plausible for its length is decoded that way.
    const unsigned threads = std::clamp(options.threads, 1u, kMaxThreads);
    const auto parts = static_cast<unsigned>(
        std::min<std::uint64_t>(threads, std::max<std::uint64_t>(total / kMinDecodePart, 1)));
    if (parts > 1 && total == plausible) {
        const auto points = splitPoints(stream, endOffset, total, parts);
        if (points.size() > 2) {
            try {
                output.resize(static_cast<std::size_t>(total));
            } catch (const std::bad_alloc&) {
                return DecodeError{Error::outputLimit, 0};
            }
            return decodeParallel(stream, points, output.data());
        }
    }
    return decodeGrowing(stream, endOffset, output, scratch);
}

Decoded decode(std::span<const std::uint8_t> stream, std::uint64_t outputLimit, Options options) {
    Decoded result;
    result.error = decodeInto(stream, outputLimit, result.bytes, options);
    if (result.error) {
        result.bytes.clear();
        result.bytes.shrink_to_fit();
    }
    return result;
}

std::optional<DecodeError> decodePrefix(std::span<const std::uint8_t> stream, std::uint64_t wanted,
                                        std::uint64_t outputLimit,
                                        std::vector<std::uint8_t>& output) {
    std::size_t pos = 0;
    std::uint64_t total = 0;
    const std::uint64_t limit = std::min<std::uint64_t>(outputLimit, output.max_size());
    while (total < wanted) {
        BlockExtent extent;
        if (auto e = readExtent(stream.subspan(pos), extent)) return DecodeError{*e, pos};
        if (extent.magic == kMagicEnd) break;
        if (extent.nRaw > limit - total) return DecodeError{Error::outputLimit, pos};
        total += extent.nRaw;
        pos += extent.size;
    }
    try {
        output.reserve(std::max<std::size_t>(static_cast<std::size_t>(total), 1));
        output.resize(static_cast<std::size_t>(total));
    } catch (const std::bad_alloc&) {
        return DecodeError{Error::outputLimit, 0};
    }
    DecoderScratch scratch;
    std::uint8_t* const out = output.data();
    return decodeBlocks(stream, Boundary{}, pos, out, out, out + total, scratch);
}

}  // namespace lzfse
