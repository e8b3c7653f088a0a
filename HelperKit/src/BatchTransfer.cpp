#include "HelperKit/BatchTransfer.h"

#include <algorithm>

namespace helperkit {

std::vector<BatchRange> batchRanges(int64_t length, int64_t batchSize) {
    std::vector<BatchRange> ranges;
    if (batchSize <= 0) return ranges;
    for (int64_t offset = 0; offset < length; offset += batchSize) {
        ranges.push_back({offset, std::min(batchSize, length - offset)});
    }
    return ranges;
}

void BatchAssembler::reset() {
    std::lock_guard lock(mutex_);
    batches_.clear();
    received_ = 0;
}

void BatchAssembler::receive(int64_t offset, std::vector<uint8_t> batch) {
    {
        std::lock_guard lock(mutex_);
        const int64_t length = static_cast<int64_t>(batch.size());
        if (!batches_.try_emplace(offset, std::move(batch)).second) return;
        received_ += length;
    }
    arrived_.notify_all();
}

int64_t BatchAssembler::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::variant<std::vector<uint8_t>, HelperError> BatchAssembler::waitAndJoin(
    int64_t total, std::chrono::milliseconds timeout) {
    std::map<int64_t, std::vector<uint8_t>> batches;
    int64_t received = 0;
    {
        std::unique_lock lock(mutex_);
        // One deadline for all outstanding batches together, not one per batch.
        arrived_.wait_for(lock, timeout, [&] { return received_ >= total; });
        batches.swap(batches_);
        received = received_;
        received_ = 0;
    }
    // The total is the helper's word; never reserve more than what actually arrived.
    if (total < 0 || received != total) return HelperError::incomplete();
    std::vector<uint8_t> joined;
    joined.reserve(static_cast<size_t>(total));
    for (auto& [offset, batch] : batches) {
        if (offset != static_cast<int64_t>(joined.size())) return HelperError::incomplete();
        if (static_cast<int64_t>(joined.size() + batch.size()) > total) {
            return HelperError::incomplete();
        }
        joined.insert(joined.end(), batch.begin(), batch.end());
    }
    if (static_cast<int64_t>(joined.size()) != total) return HelperError::incomplete();
    return joined;
}

}  // namespace helperkit
