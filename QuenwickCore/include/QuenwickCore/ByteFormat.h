#pragma once

#include <cstdint>
#include <string>

// Byte counts as people read them, the one way the app, the CLI and the pictures show sizes:
// decimal units ("999 bytes", "1 byte", "4.1 kB", "12.3 MB", "1.2 GB"), one decimal place from
// kilobytes up. Pure and thread-safe.
namespace quenwick {

[[nodiscard]] std::string formatBytes(uint64_t bytes);

// How a command line shows sizes when asked: the decimal units above, binary ones ("4.0 KiB",
// "1.5 MiB"), or the exact count of bytes ("4096").
enum class ByteUnits { decimal, binary, exact };

[[nodiscard]] std::string formatBytes(uint64_t bytes, ByteUnits units);

}  // namespace quenwick
