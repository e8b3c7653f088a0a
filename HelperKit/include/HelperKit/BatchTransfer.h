#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "HelperKit/HelperError.h"

// How a snapshot travels from the helper to the client: cut into consecutive batches of at most
// batchSize bytes, each sent with the offset of its first byte, all before the reply that
// announces the total; joined again by offset on the other side.
namespace helperkit {

struct BatchRange {
    int64_t offset = 0;
    int64_t length = 0;
    bool operator==(const BatchRange&) const = default;
};

// The batches of a byte string of `length` bytes, in increasing offset order; none for 0 bytes.
// batchSize must be positive.
[[nodiscard]] std::vector<BatchRange> batchRanges(int64_t length, int64_t batchSize);

// The client's side: collects batches (from any thread), waits for an announced total, joins.
// Batches are keyed by offset; a second batch at a stored offset is ignored. All members are
// thread-safe; waitFor may be woken by the last batch or by its own timeout.
class BatchAssembler {
public:
    // Forgets every batch and any announced total.
    void reset();

    // Stores a batch unless its offset is already stored.
    void receive(int64_t offset, std::vector<uint8_t> batch);

    // The bytes of all stored batches.
    [[nodiscard]] int64_t received() const;

    // Announces the total and waits until at least that many bytes arrived or timeout passed;
    // then takes the batches (the assembler is reset) and joins them. A gap, an overlap or a
    // total other than `total` gives HelperError::incomplete.
    [[nodiscard]] std::variant<std::vector<uint8_t>, HelperError> waitAndJoin(
        int64_t total, std::chrono::milliseconds timeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<int64_t, std::vector<uint8_t>> batches_;
    int64_t received_ = 0;
};

}  // namespace helperkit
