#include "QuenwickCore/TrashLedger.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <variant>

#include "QuenwickCore/AtomicFile.h"
#include "QuenwickCore/BoundedJson.h"
#include "QuenwickCore/UserFolders.h"
#include "QuenwickCore/Utf8.h"

namespace quenwick {
namespace {

// Written in a fixed key order; read into sorted maps (logarithmic look-ups, linear reading).
using Json = nlohmann::ordered_json;
using ReadJson = nlohmann::json;
using Micro = std::chrono::microseconds;

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
constexpr int64_t kReferenceOffset = 978307200;
// About a hundred thousand entries; a larger file is not one this program wrote.
constexpr size_t kMaxFileBytes = 32 << 20;

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

void putPath(Json& object, const char* key, const std::string& bytes) {
    object[key] = utf8::display(bytes);
    if (!utf8::isValid(bytes)) object[std::string(key) + "Bytes"] = utf8::base64(bytes);
}

std::optional<std::string> readPath(const ReadJson& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    const auto exact = object.find(std::string(key) + "Bytes");
    if (exact != object.end()) {
        if (!exact->is_string()) return std::nullopt;
        return utf8::fromBase64(exact->get<std::string>());
    }
    return it->get<std::string>();
}

std::optional<uint64_t> readCount(const ReadJson& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) {
        if (it != object.end() && it->is_number_integer() && it->get<int64_t>() >= 0)
            return static_cast<uint64_t>(it->get<int64_t>());
        return std::nullopt;
    }
    return it->get<uint64_t>();
}

std::optional<std::string> readWhole(const std::string& path, bool& damaged) {
    auto read = boundedJson::readFile(path, kMaxFileBytes);
    if (auto* text = std::get_if<std::string>(&read)) return std::move(*text);
    damaged = std::get<boundedJson::ReadFailure>(read) != boundedJson::ReadFailure::missing;
    return std::nullopt;
}

bool somethingAt(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TrashLedger::Entry::Entry(std::string trashedPath, std::string originalPath, uint64_t size,
                          std::chrono::system_clock::time_point when)
    : trashed(std::move(trashedPath)),
      original(std::move(originalPath)),
      bytes(size),
      date(std::chrono::time_point_cast<Micro>(when)) {}

uint64_t TrashLedger::State::waitingBytes() const {
    uint64_t sum = 0;
    for (const auto& e : entries)
        sum = saturatingAdd(sum, e.bytes);
    return sum;
}

TrashLedger::TrashLedger(std::string path, ExistsTest exists)
    : path_(std::move(path)), exists_(exists ? std::move(exists) : ExistsTest(somethingAt)) {}

TrashLedger TrashLedger::standard() {
    return TrashLedger(userFolders::dataHome() + "/Brimvale/trash-ledger.json");
}

std::string TrashLedger::encode(const State& state) {
    Json entries = Json::array();
    for (const auto& e : state.entries) {
        Json entry = Json::object();
        putPath(entry, "trashed", e.trashed);
        putPath(entry, "original", e.original);
        entry["bytes"] = e.bytes;
        const auto micros = std::chrono::duration_cast<Micro>(e.date.time_since_epoch()).count();
        entry["date"] = static_cast<double>(micros - kReferenceOffset * 1000000) / 1e6;
        entries.push_back(std::move(entry));
    }
    Json root = Json::object();
    root["entries"] = std::move(entries);
    root["freedBytes"] = state.freedBytes;
    return root.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<TrashLedger::State> TrashLedger::decode(const std::string& contents) {
    const auto parsed = boundedJson::parse(contents);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const ReadJson& root = *parsed;
    const auto entries = root.find("entries");
    const auto freed = readCount(root, "freedBytes");
    if (entries == root.end() || !entries->is_array() || !freed) return std::nullopt;
    State state;
    state.freedBytes = *freed;
    // One bad entry is dropped on its own: the others still say what is in the Trash.
    for (const auto& item : *entries) {
        if (!item.is_object()) continue;
        auto trashed = readPath(item, "trashed");
        auto original = readPath(item, "original");
        const auto bytes = readCount(item, "bytes");
        const auto date = item.find("date");
        if (!trashed || !original || !bytes || date == item.end() || !date->is_number()) continue;
        const double seconds = date->get<double>();
        if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) continue;
        const auto micros =
            static_cast<int64_t>(std::llround(seconds * 1e6)) + kReferenceOffset * 1000000;
        state.entries.emplace_back(std::move(*trashed), std::move(*original), *bytes,
                                   std::chrono::system_clock::time_point(Micro(micros)));
    }
    return state;
}

TrashLedger::State TrashLedger::load() const {
    bool damaged = false;
    const auto contents = readWhole(path_, damaged);
    if (!contents) return {};
    return decode(*contents).value_or(State{});
}

void TrashLedger::save(const State& state) const {
    (void)createPrivateFolders(std::filesystem::path(path_).parent_path().string());
    // A damaged ledger is kept aside rather than silently replaced, each under its own name.
    bool damaged = false;
    const auto existing = readWhole(path_, damaged);
    if (damaged || (existing && !existing->empty() && !decode(*existing)))
        (void)setAsideDamaged(path_);
    (void)writeFileAtomically(path_, encode(state));
}

TrashLedger::State TrashLedger::record(const std::vector<Entry>& entries) const {
    State state = load();
    state.entries.insert(state.entries.end(), entries.begin(), entries.end());
    save(state);
    return state;
}

TrashLedger::State TrashLedger::addFreed(uint64_t bytes,
                                         const std::set<std::string>& settlingTrashed) const {
    State state = load();
    std::erase_if(state.entries,
                  [&](const Entry& e) { return settlingTrashed.count(e.trashed) != 0; });
    state.freedBytes = saturatingAdd(state.freedBytes, bytes);
    save(state);
    return state;
}

TrashLedger::State TrashLedger::refresh(bool trashReadable) const {
    State state = load();
    if (!trashReadable) return state;
    State next;
    next.freedBytes = state.freedBytes;
    for (const auto& e : state.entries) {
        if (exists_(e.trashed)) {
            next.entries.push_back(e);
        } else if (!exists_(e.original)) {
            next.freedBytes = saturatingAdd(next.freedBytes, e.bytes);
        }
    }
    if (next == state) return state;
    save(next);
    return next;
}

}  // namespace quenwick
