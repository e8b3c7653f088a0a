#pragma once

#include <QSettings>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "QuenwickCore/TideAlert.h"

// AppSettings: the one home of the app's settings and their defaults. QSettings has no
// registration of defaults, so every read goes through here: "showMenuBar", "alertLowSpace",
// "alertFillingFast" and "alertBigGrowth" are true unless set, "tourSeen" false, an item count 0.
// A value of the wrong type reads as the default.
//
// The file is the one the core's Preferences::standard() uses ($XDG_CONFIG_HOME/Brimvale/
// Brimvale.conf), named explicitly so that a test's temporary home is honoured even after Qt has
// cached the user's configuration folder. Writes are visible at once to every QSettings over the
// same file in this process and reach the disk on sync() or destruction. GUI thread only.
namespace brimvale {

class AppSettings {
public:
    // configHome: $XDG_CONFIG_HOME.
    explicit AppSettings(const std::string& configHome);

    [[nodiscard]] static std::string fileFor(const std::string& configHome);
    const std::string& file() const { return file_; }

    [[nodiscard]] bool showMenuBar() const { return flag("showMenuBar", true); }
    void setShowMenuBar(bool on) { setFlag("showMenuBar", on); }
    // The user's switch for the alert's kind ("alertLowSpace", ...).
    [[nodiscard]] bool alertEnabled(const quenwick::TideAlert& alert) const;
    [[nodiscard]] bool tourSeen() const { return flag("tourSeen", false); }
    void setTourSeen(bool seen) { setFlag("tourSeen", seen); }
    // "Check for updates once a day": on unless switched off.
    [[nodiscard]] bool automaticUpdateChecks() const { return flag("checkForUpdatesDaily", true); }
    void setAutomaticUpdateChecks(bool on) { setFlag("checkForUpdatesDaily", on); }
    // Where the version list is fetched from ("updateFeedURL"); empty: no update checks at all.
    [[nodiscard]] QString updateFeedURL() const;
    void setUpdateFeedURL(const QString& url);

    // The node count of the last tree finished for a scan root (exact path bytes); 0 when absent.
    [[nodiscard]] int64_t itemCount(const std::string& root) const;
    void setItemCount(const std::string& root, int64_t count);
    // "itemCount:" followed by the root's bytes percent-encoded, "/" included: QSettings would
    // split a raw path into groups, and a QString key cannot carry bytes that are not UTF-8.
    [[nodiscard]] static QString itemCountKey(const std::string& root);

    [[nodiscard]] bool flag(const QString& key, bool fallback) const;
    void setFlag(const QString& key, bool value);
    // Writes pending changes; false when the file could not be written.
    [[nodiscard]] bool sync();

private:
    std::string file_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace brimvale
