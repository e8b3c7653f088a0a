// Every input is decoded as a stream (it must be rejected or decoded within the limit), and
// its first 16 KiB (enough for every block kind the encoder writes) go through the encoder and
// back (they must come back unchanged).

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

    const auto original = input.first(std::min<std::size_t>(size, 16384));
    const auto stream = lzfse::encode(original);
    const lzfse::Decoded back = lzfse::decode(stream, original.size());
    if (!back.ok() || back.bytes.size() != original.size() ||
        !std::equal(back.bytes.begin(), back.bytes.end(), original.begin())) {
        std::abort();
    }
    return 0;
}
