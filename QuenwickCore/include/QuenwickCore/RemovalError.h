#pragma once

#include <string>

// Why one item was not moved to the Trash or erased. A plain value.
namespace quenwick {

struct RemovalError {
    enum class Kind {
        blocked,   // the deletion guard refused it when the removal was about to happen
        notFound,  // nothing (not even a dangling link) exists at the path
        failed,    // the file system refused (code holds errno)
    };

    Kind kind = Kind::failed;
    int code = 0;         // errno for notFound and failed, 0 for blocked
    std::string message;  // for the user: the guard's reason or the system's description

    bool operator==(const RemovalError&) const = default;

    [[nodiscard]] static RemovalError blocked(std::string reason);
    // From an errno value; ENOENT gives notFound.
    [[nodiscard]] static RemovalError fromErrno(int code);
    // A file-system failure with a message of our own.
    [[nodiscard]] static RemovalError failed(int code, std::string message);
};

}  // namespace quenwick
