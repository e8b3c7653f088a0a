#pragma once

// Decoding of single blocks. The caller walks the stream with readExtent() first, so each
// decoder gets a block whose header and payloads are known to be present.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "Fse.h"
#include "Lzfse/Lzfse.h"

namespace lzfse::detail {

// What a block's header says about its place in the stream, read without decoding it.
struct BlockExtent {
    std::uint32_t magic = 0;
    std::size_t size = 0;    // bytes of the block in the stream (4 for the end block)
    std::uint64_t nRaw = 0;  // bytes it produces
};

// Reads the block header at the start of `rest` (the stream from that block on). Fails when
// the magic is unknown, the header or its payloads run past `rest`, or the header is
// implausible (counts over the limits, more output than the block could ever produce).
[[nodiscard]] std::optional<Error> readExtent(std::span<const std::uint8_t> rest,
                                              BlockExtent& extent);

// Where a block's bytes go: exactly [dst, blockEnd). Matches may copy from as far back as
// `history`; fast copies may scribble up to `writeLimit` (bytes past blockEnd belong to later
// blocks, which overwrite them).
struct OutputWindow {
    std::uint8_t* history;
    std::uint8_t* dst;
    std::uint8_t* blockEnd;
    std::uint8_t* writeLimit;
};

// Per-thread work space of the LZFSE block decoder, reused from block to block and allocated
// only once a stream turns out to hold LZFSE blocks.
class DecoderScratch {
public:
    struct Tables {
        std::vector<std::uint8_t> literals = std::vector<std::uint8_t>(kMaxLiterals + 64);
        std::array<LiteralEntry, kLitStates> literalTable;
        // L, M and D states in one table (fewer registers in the hot loop): M states are
        // numbered from kLStates, D states from kLStates + kMStates.
        std::array<ValueEntry, kLStates + kMStates + kDStates> lmdTable;
    };

    Tables& tables() {
        if (!tables_) tables_ = std::make_unique<Tables>();
        return *tables_;
    }

private:
    std::unique_ptr<Tables> tables_;
};

// Decodes the block at `block` (of extent `extent`, already checked by readExtent) into `out`.
[[nodiscard]] std::optional<Error> decodeBlock(const std::uint8_t* block, const BlockExtent& extent,
                                               const OutputWindow& out, DecoderScratch& scratch);

}  // namespace lzfse::detail
