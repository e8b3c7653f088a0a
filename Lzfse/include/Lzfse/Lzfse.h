#pragma once

// LZFSE stream codec: encode bytes into a stream of "bvx" blocks ending with "bvx$", and decode
// any such stream (raw, LZVN, LZFSE v1 and v2 blocks in any mix).
//
// Contract
// - encode() always succeeds for any input (only memory exhaustion throws std::bad_alloc). The
//   stream it writes is a plain LZFSE stream that any conforming decoder reads.
// - decode() never reads outside the given stream, never writes outside the buffer it returns,
//   always terminates, and never allocates more output than the caller's limit. Output grows as
//   blocks really decode: room for a block is made only once every block before it decoded, so
//   a stream whose headers claim more than it yields (a decompression bomb) costs about what it
//   yields plus one block (at most some 24 MB), never what it claims. Every malformed stream is
//   rejected with an Error naming what was wrong; no exception escapes for bad input.
// - The caller owns every buffer passed in; results are returned by value.
// - All functions are thread-safe: they keep no shared state. With `threads` above 1 a call uses
//   up to that many threads of its own and joins them before it returns.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace lzfse {

// Why a stream was rejected.
enum class Error : std::uint8_t {
    truncated,           // the stream ends inside a block or before its end-of-stream block
    badMagic,            // a block starts with an unknown magic
    trailingBytes,       // bytes follow the end-of-stream block
    badBlockSize,        // a block produces a different byte count than its header states
    badCount,            // literal or match count above the block limit
    badHeaderSize,       // a v2 header size that does not fit its packed tables
    badBitCount,         // a bit-stream bit count field outside -7..0
    badState,            // an initial entropy-coder state outside its table
    badTable,            // a frequency table that does not sum to its state count
    badPadding,          // non-zero padding bits above a bit stream
    payloadTooShort,     // an L/M/D payload too short for the bit reader
    bitStreamExhausted,  // decoding needs bits before the start of a payload
    badLiteralCount,     // matches use more literals than the block holds
    badMatchDistance,    // a match distance that is zero, unset or before the output start
    badOpcode,           // an undefined LZVN opcode
    instructionOverrun,  // an LZVN instruction or its literal runs past the payload
    badEndInstruction,   // an LZVN payload that does not end with exactly its end instruction
    outputLimit,         // the decoded size would exceed the caller's limit
};

// A short English description of the error, e.g. "bad block magic".
[[nodiscard]] std::string_view describe(Error error);

struct DecodeError {
    Error error;
    // Where in the stream: the start of the rejected block (for trailingBytes, the first byte
    // after the end block). The first problem in stream order is reported, except that the
    // output limit is checked before anything is decoded.
    std::uint64_t blockOffset = 0;
};

struct Options {
    // Threads a call may use (at most 64). Encoding with 2 or more splits an input of 1 MiB or
    // more into up to that many independent parts (one valid stream either way, a little
    // larger); decoding with 2 or more decodes parts of a large stream in parallel where its
    // blocks allow it, and in order where they do not.
    unsigned threads = 1;
};

// Compresses `input` into a complete LZFSE stream.
[[nodiscard]] std::vector<std::uint8_t> encode(std::span<const std::uint8_t> input,
                                               Options options = {});

struct Decoded {
    std::vector<std::uint8_t> bytes;  // the decoded data; empty when `error` is set
    std::optional<DecodeError> error;

    [[nodiscard]] bool ok() const { return !error.has_value(); }
};

// Decodes a complete stream, producing at most `outputLimit` bytes.
[[nodiscard]] Decoded decode(std::span<const std::uint8_t> stream, std::uint64_t outputLimit,
                             Options options = {});

// As decode(), but into `output` (resized to the decoded size, its capacity reused). On failure
// `output` holds unspecified bytes.
[[nodiscard]] std::optional<DecodeError> decodeInto(std::span<const std::uint8_t> stream,
                                                    std::uint64_t outputLimit,
                                                    std::vector<std::uint8_t>& output,
                                                    Options options = {});

// Decodes whole blocks from the start of the stream until at least `wanted` bytes are out or the
// end-of-stream block is reached, producing at most `outputLimit` bytes, into `output` (resized
// to what was decoded). For reading a header inside the stream before deciding how much of the
// rest to allow; the blocks after those decoded are not looked at.
[[nodiscard]] std::optional<DecodeError> decodePrefix(std::span<const std::uint8_t> stream,
                                                      std::uint64_t wanted,
                                                      std::uint64_t outputLimit,
                                                      std::vector<std::uint8_t>& output);

}  // namespace lzfse
