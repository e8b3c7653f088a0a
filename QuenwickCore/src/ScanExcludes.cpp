#include "QuenwickCore/ScanExcludes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "QuenwickCore/BoundedJson.h"

namespace quenwick {
namespace {

// Far more lines than anyone keeps in an exclude file, and little memory.
constexpr size_t kMaxExcludeFileBytes = 4u << 20;

}  // namespace

std::string ScanExcludes::add(std::string_view value, const std::string& absolute) {
    if (value.empty()) return "an empty exclude matches nothing";
    if (value.find('/') != std::string_view::npos) {
        paths_.push_back(absolute);
        return {};
    }
    size_t trailing = 0;
    for (auto it = value.rbegin(); it != value.rend() && *it == '\\'; ++it)
        ++trailing;
    if (trailing % 2 == 1) return "the pattern ends in a \"\\\" that escapes nothing";
    names_.emplace_back(value);
    return {};
}

std::variant<std::vector<std::string>, std::string> ScanExcludes::readFile(
    const std::string& path) {
    auto read = boundedJson::readFile(path, kMaxExcludeFileBytes);
    if (const auto* failure = std::get_if<boundedJson::ReadFailure>(&read)) {
        switch (*failure) {
            case boundedJson::ReadFailure::missing:
                return std::string("no such file");
            case boundedJson::ReadFailure::tooLarge:
                return std::string("larger than 4 MiB, too large for an exclude file");
            case boundedJson::ReadFailure::unreadable:
                break;
        }
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return std::string("not a regular file");
        if (access(path.c_str(), R_OK) != 0) return std::string(std::strerror(errno));
        return std::string("cannot be read");
    }
    const std::string& text = std::get<std::string>(read);
    if (text.find('\0') != std::string::npos)
        return std::string("holds a NUL byte: not a text file");
    std::vector<std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool blank = line.find_first_not_of(" \t") == std::string_view::npos;
        if (!blank && line.front() != '#') values.emplace_back(line);
        start = end + 1;
    }
    return values;
}

void ScanExcludes::applyTo(ScanOptions& options) const {
    options.excludedPaths.insert(paths_.begin(), paths_.end());
    options.excludedNames.insert(options.excludedNames.end(), names_.begin(), names_.end());
}

std::vector<std::string> ScanExcludes::missingPaths() const {
    std::vector<std::string> missing;
    for (const auto& p : paths_) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) missing.push_back(p);
    }
    return missing;
}

}  // namespace quenwick
