#pragma once

#include <memory>
#include <optional>
#include <string>

// Preferences: the user's settings store, the one the app uses (QSettings in its native format,
// organisation "Brimvale", application "Brimvale": $XDG_CONFIG_HOME/Brimvale/Brimvale.conf), or an
// INI file of the caller's choosing for tests and tools.
//
// Values written are visible at once to this object and reach the file on sync() or destruction
// (QSettings replaces the file atomically). A value of the wrong type reads as absent. Move-only;
// one object must not be used from two threads at once, but separate objects over the same file
// may live on different threads and in different processes.
namespace quenwick {

class Preferences {
public:
    [[nodiscard]] static Preferences standard();
    [[nodiscard]] static Preferences atFile(const std::string& path);

    ~Preferences();
    Preferences(Preferences&&) noexcept;
    Preferences& operator=(Preferences&&) noexcept;

    [[nodiscard]] std::optional<bool> boolean(const std::string& key) const;
    void setBoolean(const std::string& key, bool value);

    // A moment in seconds since 1970 (finite values only).
    [[nodiscard]] std::optional<double> timestamp(const std::string& key) const;
    void setTimestamp(const std::string& key, double value);

    // Writes pending changes; false when the store could not be written.
    [[nodiscard]] bool sync();

private:
    struct Impl;
    explicit Preferences(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quenwick
