#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "QuenwickCore/ScanOptions.h"

// What a person's exclude values mean for a scan, as du and its kin read them: a value with a "/"
// in it is a path (absolute, or relative to the working directory), any other value is a shell
// pattern matched against the name of every entry. Plain values; any thread.
namespace quenwick {

class ScanExcludes {
public:
    // Adds one value. `absolute` is the value made absolute (the caller resolves it against its
    // working directory); it is used only when the value is a path. Returns an empty string, or
    // why the value cannot be used (empty, or a pattern ending in an escape that escapes nothing).
    [[nodiscard]] std::string add(std::string_view value, const std::string& absolute);

    // The values of an exclude file, one per line: blank lines and lines starting with "#" are
    // skipped, and a line's final "\r" is dropped. A pattern may start with "\#" to mean a name
    // that starts with "#". Fails with why the file cannot be read.
    [[nodiscard]] static std::variant<std::vector<std::string>, std::string> readFile(
        const std::string& path);

    // Adds the rules to options.
    void applyTo(ScanOptions& options) const;

    // The path rules that name nothing on disk (no link followed), in the order given.
    [[nodiscard]] std::vector<std::string> missingPaths() const;

    [[nodiscard]] const std::vector<std::string>& paths() const { return paths_; }
    [[nodiscard]] const std::vector<std::string>& names() const { return names_; }

private:
    std::vector<std::string> paths_;
    std::vector<std::string> names_;
};

}  // namespace quenwick
