#include "Crc32c.h"
#include "JournalFormat.h"
#include "QuenwickCore/LittleEndian.h"

namespace quenwick::journal {

namespace LE = LittleEndian;

namespace {

void putStrings(std::string& out, const std::vector<std::string>& list) {
    LE::append<uint32_t>(out, static_cast<uint32_t>(list.size()));
    for (const auto& s : list) {
        LE::append<uint32_t>(out, static_cast<uint32_t>(s.size()));
        out += s;
    }
}

// The state's values, with its length-prefixed strings and lists of absolute paths.
class StateReader : public LE::Reader {
public:
    using LE::Reader::read;
    using LE::Reader::Reader;
    bool read(std::string& s) {
        uint32_t n = 0;
        return read(n) && readBytes(s, n);
    }
    bool read(std::vector<std::string>& list) {
        uint32_t n = 0;
        if (!read(n) || n > remaining() / 4) return false;
        list.resize(n);
        for (auto& s : list)
            if (!read(s) || !isAbsolutePath(s)) return false;
        return true;
    }
};

}  // namespace

std::string encodeState(const JournalState& s) {
    std::string payload;
    LE::append<uint32_t>(payload, kStateVersion);
    LE::append<int64_t>(payload, s.pid);
    LE::append<uint64_t>(payload, s.sessionStart);
    LE::append<uint64_t>(payload, s.watchedDirectories);
    LE::append<uint8_t>(payload, s.incomplete ? 1 : 0);
    LE::append<uint32_t>(payload, static_cast<uint32_t>(s.mode.size()));
    payload += s.mode;
    putStrings(payload, s.roots);
    putStrings(payload, s.lostRoots);
    putStrings(payload, s.unwatchable);
    std::string out;
    LE::append<uint32_t>(out, kStateMarker);
    LE::append<uint32_t>(out, static_cast<uint32_t>(payload.size()));
    out += payload;
    LE::append<uint32_t>(out, detail::crc32c(out.data(), out.size()));
    return out;
}

std::optional<JournalState> decodeState(std::string_view data) {
    if (data.size() < 12 || LE::load<uint32_t>(data.data()) != kStateMarker) return std::nullopt;
    const uint32_t size = LE::load<uint32_t>(data.data() + 4);
    if (data.size() - 12 != size) return std::nullopt;
    if (LE::load<uint32_t>(data.data() + 8 + size) != detail::crc32c(data.data(), 8 + size)) {
        return std::nullopt;
    }
    StateReader in(data.substr(8, size));
    JournalState s;
    uint32_t version = 0;
    uint8_t incomplete = 0;
    if (!in.read(version) || version != kStateVersion || !in.read(s.pid) ||
        !in.read(s.sessionStart) || !in.read(s.watchedDirectories) || !in.read(incomplete) ||
        !in.read(s.mode) || !in.read(s.roots) || !in.read(s.lostRoots) || !in.read(s.unwatchable) ||
        !in.atEnd()) {
        return std::nullopt;
    }
    s.incomplete = incomplete != 0;
    return s;
}

}  // namespace quenwick::journal
