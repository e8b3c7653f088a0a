#include <algorithm>

#include "Crc32c.h"
#include "JournalFormat.h"
#include "QuenwickCore/LittleEndian.h"

namespace quenwick::journal {

namespace LE = LittleEndian;

namespace {

bool isKind(uint8_t kind) {
    return kind >= static_cast<uint8_t>(JournalRecord::Kind::start) &&
           kind <= static_cast<uint8_t>(JournalRecord::Kind::stop);
}

}  // namespace

bool isAbsolutePath(std::string_view path) {
    return !path.empty() && path[0] == '/' && path.find('\0') == std::string_view::npos;
}

void encodeRecord(std::string& out, const JournalRecord& r) {
    std::string payload;
    switch (r.kind) {
        case JournalRecord::Kind::start:
        case JournalRecord::Kind::session:
            LE::append<uint64_t>(payload, r.session);
            for (size_t i = 0; i < r.roots.size(); ++i) {
                if (i > 0) payload.push_back('\0');
                payload += r.roots[i];
            }
            break;
        case JournalRecord::Kind::changed:
        case JournalRecord::Kind::gap:
            payload = r.path;
            break;
        case JournalRecord::Kind::stop:
            break;
    }
    const size_t begin = out.size();
    LE::append<uint32_t>(out, kRecordMarker);
    LE::append<uint32_t>(out, static_cast<uint32_t>(payload.size()));
    LE::append<uint64_t>(out, r.position);
    LE::append<uint8_t>(out, static_cast<uint8_t>(r.kind));
    LE::append<uint8_t>(out, static_cast<uint8_t>(r.reason));
    LE::append<uint16_t>(out, 0);
    out += payload;
    LE::append<uint32_t>(out, detail::crc32c(out.data() + begin, out.size() - begin));
}

std::optional<JournalRecord> decodeRecord(std::string_view data, size_t offset, size_t& length) {
    if (data.size() - offset < kRecordOverhead) return std::nullopt;
    const char* p = data.data() + offset;
    if (LE::load<uint32_t>(p) != kRecordMarker) return std::nullopt;
    const uint32_t payloadSize = LE::load<uint32_t>(p + 4);
    if (payloadSize > kMaxPayload || data.size() - offset - kRecordOverhead < payloadSize) {
        return std::nullopt;
    }
    const uint8_t kind = LE::load<uint8_t>(p + 16);
    const uint8_t reason = LE::load<uint8_t>(p + 17);
    if (!isKind(kind) || reason > static_cast<uint8_t>(JournalRecord::Gap::cannotRecord) ||
        LE::load<uint16_t>(p + 18) != 0) {
        return std::nullopt;
    }
    JournalRecord r;
    r.position = LE::load<uint64_t>(p + 8);
    r.kind = static_cast<JournalRecord::Kind>(kind);
    r.reason = static_cast<JournalRecord::Gap>(reason);
    const std::string_view payload(p + kRecordHeader, payloadSize);
    switch (r.kind) {
        case JournalRecord::Kind::start:
        case JournalRecord::Kind::session: {
            if (payload.size() < 8) return std::nullopt;
            r.session = LE::load<uint64_t>(payload.data());
            std::string_view rest = payload.substr(8);
            while (!rest.empty()) {
                const size_t end = std::min(rest.find('\0'), rest.size());
                if (!isAbsolutePath(rest.substr(0, end))) return std::nullopt;
                r.roots.emplace_back(rest.substr(0, end));
                rest.remove_prefix(std::min(end + 1, rest.size()));
            }
            break;
        }
        case JournalRecord::Kind::changed:
            if (!isAbsolutePath(payload)) return std::nullopt;
            r.path = payload;
            break;
        case JournalRecord::Kind::gap:
            if (!payload.empty() && !isAbsolutePath(payload)) return std::nullopt;
            r.path = payload;
            break;
        case JournalRecord::Kind::stop:
            if (!payload.empty()) return std::nullopt;
            break;
    }
    // Last, and only for a record whose length fits and whose payload is well formed: a damaged
    // or hostile stretch then costs no more than it is long. Any header whose CRC is checked
    // has no other such header inside its payload (their zero padding would end the path
    // early), so the CRCs a segment costs cover it about once.
    if (LE::load<uint32_t>(p + kRecordHeader + payloadSize) !=
        detail::crc32c(p, kRecordHeader + payloadSize)) {
        return std::nullopt;
    }
    length = kRecordOverhead + payloadSize;
    return r;
}

void forEachRecord(std::string_view data, const std::function<void(JournalRecord&)>& visit) {
    static constexpr char kMarker[4] = {'Q', 'W', 'J', 'R'};
    size_t offset = 0;
    while (offset < data.size()) {
        size_t length = 0;
        if (auto record = decodeRecord(data, offset, length)) {
            visit(*record);
            offset += length;
            continue;
        }
        const auto next = data.find(std::string_view(kMarker, 4), offset + 1);
        if (next == std::string_view::npos) break;
        offset = next;
    }
}

}  // namespace quenwick::journal
