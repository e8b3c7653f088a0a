#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// What every verb shares: absolute paths, JSON that keeps exact path bytes, terminal progress,
// aligned tables and the one-line failure. Used from the main thread unless said otherwise.
namespace brimvale::cli {

// The argument made absolute against the working directory (bytes kept; "." dropped, ".." applied
// as the kernel applies it, repeated slashes collapsed, no trailing slash except for "/"); as
// given, made absolute, when a link before a ".." leads nowhere.
[[nodiscard]] std::string absolutePath(std::string_view argument);

// Sets json[key] to the display form of the bytes, and, when they are not valid UTF-8, also
// json[key + "Bytes"] to their base64 form, so the exact path survives the trip through JSON.
void putPath(nlohmann::ordered_json& json, const std::string& key, std::string_view bytes);

// Text as a terminal should get it: every control character (C0, DEL, and U+0080 to U+009F) shown
// escaped as ls does, tab, newline and carriage return as "\t", "\n", "\r" and the others as
// octal bytes ("\033" for escape), so that a name cannot move the cursor or change colours.
// Every name or path in human output passes through it (printTable and fail() do so themselves);
// JSON output never does.
[[nodiscard]] std::string terminalText(std::string_view text);

// "1 file", "2 files": the count with the word that fits it.
[[nodiscard]] std::string counted(uint64_t count, std::string_view one, std::string_view many);

// Prints a JSON document on standard output, followed by a newline.
void printJson(const nlohmann::ordered_json& json);

// Prints "brimvale-cli: <message>" (through terminalText) on standard error; returns kExitFailed
// for `return fail(...)`.
int fail(std::string_view message);

// Prints "brimvale-cli: warning: <message>" (through terminalText) on standard error.
void warn(std::string_view message);

// True when standard error is a terminal (progress is only shown there).
[[nodiscard]] bool stderrIsTerminal();

// Rewrites one status line on standard error, at most ten times a second; thread-safe. Silent
// when standard error is not a terminal or quiet is set.
class ProgressLine {
public:
    explicit ProgressLine(bool quiet);
    ~ProgressLine();
    void update(const std::string& text);
    void finish();

private:
    std::mutex mutex_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// A check for a whole-number option that says what is wrong in words ("abc: not a whole number",
// "0: must be at least 1") instead of quoting the range of the type.
[[nodiscard]] CLI::Validator wholeNumber(int64_t min, int64_t max);

// The options several verbs share, under one name (and short form) wherever they appear:
// -q/--quiet (no progress) and -j/--workers (the scan's parallel workers, 0 for one per core).
void addQuietFlag(CLI::App& verb, bool& quiet);
CLI::Option* addWorkersOption(CLI::App& verb, int& workers);

// Prints rows with columns padded to the widest cell; `rightAligned[i]` aligns column i right.
// Cells pass through terminalText.
void printTable(const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& rightAligned);

}  // namespace brimvale::cli
