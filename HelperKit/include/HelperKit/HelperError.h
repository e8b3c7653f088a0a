#pragma once

#include <string>

// The three ways an administrator scan fails, with the text shown to the user. A value with
// equality (case and text).
namespace helperkit {

struct HelperError {
    enum class Kind {
        connection,  // the helper could not be reached, was not genuine, or went away
        helper,      // the helper refused or failed; text is its reply message
        incomplete,  // batches were missing, overlapped or added up to the wrong total
    };
    Kind kind = Kind::connection;
    std::string text;

    static HelperError connection(std::string text) { return {Kind::connection, std::move(text)}; }
    static HelperError helper(std::string text) { return {Kind::helper, std::move(text)}; }
    static HelperError incomplete() { return {Kind::incomplete, {}}; }

    // "Couldn't reach the administrator helper (<text>).", the helper's text unchanged, or
    // "The administrator scan arrived incomplete."
    [[nodiscard]] std::string describe() const;

    bool operator==(const HelperError&) const = default;
};

}  // namespace helperkit
