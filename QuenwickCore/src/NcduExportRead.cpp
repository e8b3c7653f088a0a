#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "QuenwickCore/BoundedJson.h"
#include "QuenwickCore/NcduExport.h"
#include "QuenwickCore/Packages.h"

namespace quenwick::NcduExport {
namespace {

constexpr uint64_t kMaxSize = uint64_t(std::numeric_limits<int64_t>::max());
// Exports hold about 60 bytes a node; this is far beyond any disk and within a tree's node count.
constexpr size_t kMaxFileBytes = size_t(16) << 30;

// What one item's object says; absent numbers are 0.
struct Item {
    std::string name;
    bool named = false;
    uint64_t asize = 0, dsize = 0, ino = 0;
    std::optional<uint64_t> dev, mode;
    int64_t mtime = 0;
    bool hardLinked = false, readError = false;
    std::string excluded;
};

// A reader over the whole text that stops at the first fault and keeps why.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    const std::string& error() const { return error_; }
    bool failed() const { return !error_.empty(); }

    bool fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }
    bool malformed() {
        if (pos_ >= text_.size()) return fail("the export ends too early (truncated?)");
        return fail("malformed JSON at byte " + std::to_string(pos_));
    }

    void skipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\t'))
            ++pos_;
    }
    // The next character after blanks, or 0 at the end.
    char peek() {
        skipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    bool take(char c) {
        if (peek() != c) return malformed();
        ++pos_;
        return true;
    }
    bool atEnd() {
        skipBlanks();
        return pos_ == text_.size();
    }

    bool string(std::string& out);
    bool wholeNumber(uint64_t& out, bool& negative);
    bool literal(std::string_view word) {
        skipBlanks();
        if (text_.substr(pos_, word.size()) != word) return malformed();
        pos_ += word.size();
        return true;
    }
    bool boolean(bool& out) {
        const char c = peek();
        out = c == 't';
        return literal(c == 't' ? "true" : "false");
    }
    bool skipValue();
    bool item(Item& out);

private:
    std::string_view text_;
    size_t pos_ = 0;
    std::string error_;
};

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool Reader::string(std::string& out) {
    out.clear();
    if (!take('"')) return false;
    const auto hex4 = [&](uint32_t& value) {
        if (pos_ + 4 > text_.size()) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[pos_++];
            value <<= 4;
            if (h >= '0' && h <= '9') {
                value |= uint32_t(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                value |= uint32_t(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                value |= uint32_t(h - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    };
    while (pos_ < text_.size()) {
        const auto c = static_cast<unsigned char>(text_[pos_++]);
        if (c == '"') return true;
        if (c < 0x20) return fail("malformed JSON at byte " + std::to_string(pos_ - 1));
        // Bytes that are not UTF-8 are kept as they are: that is how a name that is not UTF-8
        // travels in this format.
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        if (pos_ >= text_.size()) break;
        const char e = text_[pos_++];
        switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp)) return malformed();
                if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                    pos_ += 2;
                    uint32_t low = 0;
                    if (!hex4(low)) return malformed();
                    cp = low >= 0xDC00 && low < 0xE000
                             ? 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)
                             : 0xFFFD;
                } else if (cp >= 0xD800 && cp < 0xE000) {
                    cp = 0xFFFD;
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                return malformed();
        }
    }
    return malformed();
}

bool Reader::wholeNumber(uint64_t& out, bool& negative) {
    skipBlanks();
    negative = pos_ < text_.size() && text_[pos_] == '-';
    if (negative) ++pos_;
    const size_t start = pos_;
    out = 0;
    bool overflow = false;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
        const uint64_t digit = uint64_t(text_[pos_++] - '0');
        if (out > (std::numeric_limits<uint64_t>::max() - digit) / 10) overflow = true;
        out = out * 10 + digit;
    }
    if (pos_ == start) return malformed();
    if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E'))
        return fail("a number that is not whole at byte " + std::to_string(start));
    if (overflow) out = std::numeric_limits<uint64_t>::max();
    return true;
}

// Skips one value of any kind, without recursion; nesting counts towards the depth limit.
bool Reader::skipValue() {
    std::vector<char> kinds;  // '[' or '{' of each open container
    const auto key = [&] {
        std::string ignored;
        return string(ignored) && take(':');
    };
    for (;;) {
        const char c = peek();
        if (c == '[' || c == '{') {
            if (kinds.size() >= kMaxDepth)
                return fail("values nest deeper than " + std::to_string(kMaxDepth) + " levels");
            ++pos_;
            if (peek() != (c == '[' ? ']' : '}')) {
                kinds.push_back(c);
                if (c == '{' && !key()) return false;
                continue;
            }
            ++pos_;
        } else if (c == '"') {
            std::string ignored;
            if (!string(ignored)) return false;
        } else if (c == 't' || c == 'f') {
            bool ignored = false;
            if (!boolean(ignored)) return false;
        } else if (c == 'n') {
            if (!literal("null")) return false;
        } else {
            const size_t start = pos_;
            while (pos_ < text_.size() &&
                   std::string_view("0123456789.eE+-").find(text_[pos_]) != std::string_view::npos)
                ++pos_;
            if (pos_ == start) return malformed();
        }
        // After a value: the next element or key, or the end of one or more containers.
        for (;;) {
            if (kinds.empty()) return true;
            const char after = peek();
            if (after == ',') {
                ++pos_;
                if (kinds.back() == '{' && !key()) return false;
                break;
            }
            if (after != (kinds.back() == '[' ? ']' : '}')) return malformed();
            ++pos_;
            kinds.pop_back();
        }
    }
}

bool Reader::item(Item& out) {
    out = Item{};
    if (!take('{')) return false;
    if (peek() == '}') {
        ++pos_;
        return true;
    }
    std::string key;
    for (;;) {
        if (!string(key) || !take(':')) return false;
        bool negative = false;
        uint64_t number = 0;
        const auto size = [&](uint64_t& field) {
            if (!wholeNumber(number, negative)) return false;
            if (negative || number > kMaxSize)
                return fail("\"" + key + "\" of an item is not a size from 0 to 2^63 - 1");
            field = number;
            return true;
        };
        if (key == "name") {
            if (!string(out.name)) return false;
            out.named = true;
        } else if (key == "asize") {
            if (!size(out.asize)) return false;
        } else if (key == "dsize") {
            if (!size(out.dsize)) return false;
        } else if (key == "ino" || key == "dev" || key == "mode") {
            if (!wholeNumber(number, negative)) return false;
            if (negative) return fail("\"" + key + "\" of an item is negative");
            if (key == "ino") out.ino = number;
            if (key == "dev") out.dev = number;
            if (key == "mode") out.mode = number;
        } else if (key == "mtime") {
            if (!wholeNumber(number, negative)) return false;
            if (number > kMaxSize) return fail("\"mtime\" of an item is out of range");
            out.mtime = negative ? -int64_t(number) : int64_t(number);
        } else if (key == "hlnkc") {
            if (!boolean(out.hardLinked)) return false;
        } else if (key == "read_error") {
            if (!boolean(out.readError)) return false;
        } else if (key == "excluded") {
            if (peek() == '"') {
                if (!string(out.excluded)) return false;
            } else if (!skipValue()) {
                return false;
            }
        } else if (!skipValue()) {
            return false;
        }
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        if (!take(',')) return false;
    }
}

// Why a name cannot be one entry's name, or nothing.
std::optional<std::string> badName(const Item& item) {
    if (!item.named) return "an item without a \"name\"";
    if (item.name.empty()) return "an item with an empty name";
    if (item.name.find('\0') != std::string::npos) return "a name that holds a NUL byte";
    if (item.name.find('/') != std::string::npos)
        return "a name that holds a \"/\" (\"" + item.name + "\")";
    if (item.name.size() > FileTree::maxNameLength) return "a name longer than 65535 bytes";
    return std::nullopt;
}

}  // namespace

bool looksLikeExport(std::string_view head) {
    const size_t first = head.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && head[first] == '[';
}

std::variant<LoadedSnapshot, std::string> decode(std::string_view text) {
    Reader r(text);
    const auto failure = [&]() -> std::variant<LoadedSnapshot, std::string> {
        return r.failed() ? r.error() : std::string("malformed export");
    };
    uint64_t major = 0, minor = 0;
    bool negative = false;
    if (!r.take('[') || !r.wholeNumber(major, negative) || !r.take(',') ||
        !r.wholeNumber(minor, negative) || !r.take(','))
        return failure();
    if (major != 1) {
        return "an export of format version " + std::to_string(major) + "." +
               std::to_string(minor) + " (only version 1 is read)";
    }
    // The metadata: only the time is kept.
    double timestamp = 0;
    if (!r.take('{')) return failure();
    for (std::string key; r.peek() != '}';) {
        if (!r.string(key) || !r.take(':')) return failure();
        uint64_t seconds = 0;
        if (key != "timestamp" ? !r.skipValue() : !r.wholeNumber(seconds, negative))
            return failure();
        if (key == "timestamp" && !negative && seconds <= kMaxSize) timestamp = double(seconds);
        if (r.peek() != '}' && !r.take(',')) return failure();
    }
    r.take('}');
    if (!r.take(',') || !r.take('[')) return failure();

    Item info;
    if (!r.item(info)) return failure();
    if (!info.named || info.name.empty() || info.name.front() != '/' ||
        info.name.find('\0') != std::string::npos)
        return std::string("the root's name is not an absolute path");
    auto tree = std::make_shared<FileTree>(info.name);
    tree->update(FileTree::root, 0, info.mtime);
    tree->mutableStorage().inodes[FileTree::root] = info.ino;
    if (info.readError)
        tree->setFlags(FileTree::root, NodeFlags::directory | NodeFlags::unreadable);

    struct Open {
        FileTree::Node node;  // none for a folder left out by a pattern
        uint64_t dev;
    };
    std::vector<Open> open{{FileTree::root, info.dev.value_or(0)}};
    std::set<std::pair<uint64_t, uint64_t>> inodes;
    uint64_t total = 0;
    for (;;) {
        const char c = r.peek();
        if (c == ']') {
            r.take(']');
            open.pop_back();
            if (open.empty()) break;
            continue;
        }
        if (c != ',') return r.malformed(), failure();
        r.take(',');
        const bool folder = r.peek() == '[';
        if (folder) {
            if (open.size() >= kMaxDepth)
                return "folders nest deeper than " + std::to_string(kMaxDepth) + " levels";
            r.take('[');
        }
        if (!r.item(info)) return failure();
        if (auto why = badName(info)) return *why;
        if (tree->count() >= size_t(FileTree::none) - 1) return std::string("too many items");
        const Open& parent = open.back();
        const uint64_t dev = info.dev.value_or(parent.dev);
        FileTree::Node node = FileTree::none;
        const bool left = info.excluded == "pattern" || parent.node == FileTree::none;
        if (!left) {
            NodeFlags flags;
            uint64_t size = 0;
            if (folder || !info.excluded.empty()) {
                flags.insert(NodeFlags::directory);
                if (Packages::isPackageName(info.name)) flags.insert(NodeFlags::package);
                if (!info.excluded.empty()) flags.insert(NodeFlags::mountPoint);
            } else {
                // The space used; an item without "dsize" (ncdu writes none for a symbolic link
                // that takes no block) uses none.
                size = info.dsize;
                if (info.hardLinked && !inodes.insert({dev, info.ino}).second) {
                    size = 0;
                    flags.insert(NodeFlags::hardlinkDuplicate);
                }
                if (info.mode && S_ISLNK(mode_t(*info.mode))) flags.insert(NodeFlags::symlink);
                if (size > kMaxSize - total)
                    return std::string("the sizes add up to more than 2^63 - 1 bytes");
                total += size;
            }
            if (info.readError) flags.insert(NodeFlags::unreadable);
            node = tree->append(parent.node, info.name, size, info.mtime, info.ino, flags);
        }
        if (folder) open.push_back({node, dev});
    }
    if (!r.take(']')) return failure();
    if (!r.atEnd()) return std::string("text follows the end of the export");
    tree->propagateSizes();
    const std::string root = tree->rootPath();
    return LoadedSnapshot{std::move(tree), SnapshotMeta{root, timestamp, 0}};
}

std::variant<LoadedSnapshot, std::string> load(const std::string& path) {
    auto read = boundedJson::readFile(path, kMaxFileBytes);
    if (const auto* failure = std::get_if<boundedJson::ReadFailure>(&read)) {
        switch (*failure) {
            case boundedJson::ReadFailure::missing:
                return std::string("no such file");
            case boundedJson::ReadFailure::tooLarge:
                return std::string("larger than 16 GiB, too large for an export");
            case boundedJson::ReadFailure::unreadable:
                break;
        }
        return std::string("not a readable regular file");
    }
    return decode(std::get<std::string>(read));
}

}  // namespace quenwick::NcduExport
