#pragma once

// The block writers behind lzfse::encode(). Each appends blocks to `out`, never the end block.

#include <cstdint>
#include <span>
#include <vector>

namespace lzfse::detail {

void appendRawBlock(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);

// Appends one LZVN block when it comes out smaller than the input (8..4095 bytes expected);
// returns false and appends nothing otherwise.
bool appendLzvnBlock(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);

// Appends LZFSE (bvx2) blocks for an input of at least 4096 bytes; a block that would not be
// smaller than its bytes stored raw is stored raw instead. Matches reach only into `input`.
void appendLzfseBlocks(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);

}  // namespace lzfse::detail
