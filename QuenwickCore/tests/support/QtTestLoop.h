#pragma once

#include <chrono>
#include <functional>

// Turning the main thread's Qt event loop in a test (programs linked with QuenwickQtTestMain).
namespace quenwick::testing {

// What a 10 ms heartbeat timer saw while the loop turned: how often it ran and the longest gap
// between two runs (a loop that was blocked shows a long one).
struct LoopTurns {
    int beats = 0;
    std::chrono::milliseconds longestGap{0};
};

// Turns the loop until done() holds or timeout passes.
LoopTurns turnLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace quenwick::testing
