// Every input goes through each reader of a stored JSON file: the trash ledger, a daily summary,
// and the bounded parser under both. Each must reject the input or give a value that encodes and
// decodes to itself; none may crash, however deep or large the input.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "QuenwickCore/BoundedJson.h"
#include "QuenwickCore/TideSummary.h"
#include "QuenwickCore/TrashLedger.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)quenwick::boundedJson::parse(text);

    if (const auto state = quenwick::TrashLedger::decode(text)) {
        const auto again = quenwick::TrashLedger::decode(quenwick::TrashLedger::encode(*state));
        if (!again || again->entries.size() != state->entries.size() ||
            again->freedBytes != state->freedBytes)
            std::abort();
    }
    if (const auto summary = quenwick::TideSummary::fromJson(text)) {
        const auto again = quenwick::TideSummary::fromJson(summary->toJson());
        if (!again || again->volumeUsed != summary->volumeUsed) std::abort();
    }
    return 0;
}
