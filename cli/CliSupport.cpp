#include "CliSupport.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <iostream>

#include "CommandRegistry.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/Utf8.h"

namespace brimvale::cli {

std::string absolutePath(std::string_view argument) {
    std::string joined(argument);
    if (argument.empty() || argument.front() != '/') {
        std::vector<char> cwd(4096);
        while (getcwd(cwd.data(), cwd.size()) == nullptr && cwd.size() < (1u << 20)) {
            cwd.resize(cwd.size() * 2);
        }
        joined = std::string(cwd.data()) + "/" + joined;
    }
    // Kept as given when it cannot be resolved: whoever uses it meets the same failure.
    return quenwick::DeletionGuard::resolve(joined).value_or(joined);
}

void putPath(nlohmann::ordered_json& json, const std::string& key, std::string_view bytes) {
    json[key] = quenwick::utf8::display(bytes);
    if (!quenwick::utf8::isValid(bytes)) json[key + "Bytes"] = quenwick::utf8::base64(bytes);
}

std::string terminalText(std::string_view text) {
    const auto octal = [](std::string& out, unsigned char c) {
        out += '\\';
        out += static_cast<char>('0' + (c >> 6));
        out += static_cast<char>('0' + ((c >> 3) & 7));
        out += static_cast<char>('0' + (c & 7));
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            octal(out, c);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: the 8-bit controls, CSI among them.
            octal(out, c);
            octal(out, static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string counted(uint64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

void printJson(const nlohmann::ordered_json& json) {
    std::cout << json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
}

int fail(std::string_view message) {
    std::cerr << "brimvale-cli: " << terminalText(quenwick::utf8::display(message)) << '\n';
    return kExitFailed;
}

void warn(std::string_view message) {
    std::cerr << "brimvale-cli: warning: " << terminalText(quenwick::utf8::display(message))
              << '\n';
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

ProgressLine::ProgressLine(bool quiet) : enabled_(!quiet && stderrIsTerminal()) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::update(const std::string& text) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

void ProgressLine::finish() {
    std::lock_guard lock(mutex_);
    if (!enabled_ || !shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
}

CLI::Validator wholeNumber(int64_t min, int64_t max) {
    return CLI::Validator(
        [min, max](std::string& text) -> std::string {
            int64_t value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            const bool digits = !text.empty() && stop == end;
            if (!digits || (error != std::errc() && error != std::errc::result_out_of_range))
                return text + ": not a whole number";
            const bool negative = text.front() == '-';
            if (error == std::errc::result_out_of_range ? negative : value < min)
                return text + ": must be at least " + std::to_string(min);
            if (error == std::errc::result_out_of_range || value > max)
                return text + ": must be at most " + std::to_string(max);
            return {};
        },
        "N");
}

void addQuietFlag(CLI::App& verb, bool& quiet) {
    verb.add_flag("-q,--quiet", quiet, "No progress on standard error");
}

CLI::Option* addWorkersOption(CLI::App& verb, int& workers) {
    return verb
        .add_option("-j,--workers", workers, "Parallel workers of the scan (default: one per core)")
        ->check(wholeNumber(1, 4096));
}

void printTable(const std::vector<std::vector<std::string>>& shownRows,
                const std::vector<bool>& rightAligned) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(shownRows.size());
    for (const auto& row : shownRows) {
        auto& escaped = rows.emplace_back();
        for (const auto& cell : row)
            escaped.push_back(terminalText(cell));
    }
    std::vector<size_t> widths;
    const auto width = [](const std::string& s) {
        size_t w = 0;  // code points, a fair stand-in for columns
        for (unsigned char c : s)
            w += (c & 0xC0) != 0x80;
        return w;
    };
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], width(row[i]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - width(row[i]), ' ');
            const bool right = i < rightAligned.size() && rightAligned[i];
            if (i > 0) line += "  ";
            // The last column is left unpadded so lines carry no trailing blanks.
            if (right) {
                line += pad + row[i];
            } else {
                line += row[i];
                if (i + 1 < row.size()) line += pad;
            }
        }
        std::cout << line << '\n';
    }
}

}  // namespace brimvale::cli
