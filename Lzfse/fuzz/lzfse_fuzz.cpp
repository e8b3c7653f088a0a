// Every input is decoded as a stream (it must be rejected or decoded within the limit) and
// sent through the encoder and back (it must come back unchanged).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "Lzfse/Lzfse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);

    const std::uint64_t limit = std::uint64_t{1} << 24;
    const lzfse::Decoded decoded = lzfse::decode(input, limit);
    if (decoded.ok() ? decoded.bytes.size() > limit : !decoded.bytes.empty()) std::abort();

    const auto stream = lzfse::encode(input);
    const lzfse::Decoded back = lzfse::decode(stream, size);
    if (!back.ok() || back.bytes.size() != size ||
        !std::equal(back.bytes.begin(), back.bytes.end(), data)) {
        std::abort();
    }
    return 0;
}
