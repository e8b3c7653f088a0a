#pragma once

// The product's version, the same for every program of one build ("0.1.0").
namespace quenwick {

[[nodiscard]] const char* productVersion();

}  // namespace quenwick
