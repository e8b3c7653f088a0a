#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32C (Castagnoli), the checksum that frames change-journal records. Pure; thread-safe.
namespace quenwick::detail {

[[nodiscard]] uint32_t crc32c(const void* data, size_t size, uint32_t crc = 0);

}  // namespace quenwick::detail
