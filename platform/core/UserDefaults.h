#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/PlistValue.h"

namespace sys {

// Small per-user settings by key, kept in one property-list file. The
// standard defaults live in Library/Preferences/leafbright.plist of the
// application's home (AppPaths). Changes stay in memory until synchronize()
// writes the file (atomically). Safe from any thread.
//
// The number and boolean getters read whatever is stored as the platform
// does (a string "YES" is true, "42" is 42) and give 0 / false when the key
// is absent; the container and string getters answer only for their type.
class UserDefaults {
public:
    static UserDefaults& standard();
    // Defaults kept in the property list at `path`.
    explicit UserDefaults(std::string path);

    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::string path() const;

    // Null when absent.
    PlistValue objectForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;
    bool boolForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    std::optional<PlistData> dataForKey(std::string_view key) const;
    std::optional<PlistArray> arrayForKey(std::string_view key) const;
    std::optional<PlistDictionary> dictionaryForKey(std::string_view key) const;

    // A null value removes the key.
    void setObject(PlistValue value, std::string_view key);
    void setInteger(std::int64_t value, std::string_view key) { setObject(PlistValue(value), key); }
    void setBool(bool value, std::string_view key) { setObject(PlistValue(value), key); }
    void setDouble(double value, std::string_view key) { setObject(PlistValue(value), key); }
    void removeObjectForKey(std::string_view key);

    PlistDictionary dictionaryRepresentation() const;

    // Writes pending changes. False when the file could not be written (the
    // changes stay pending).
    bool synchronize();
    // Forgets unsaved changes and reads the file again on next use (the
    // standard defaults also look up the home again).
    void reload();

private:
    UserDefaults() = default;
    void loadLocked() const;
    std::string pathLocked() const;

    std::string path_;  // empty for the standard defaults: resolved on load
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable std::string loadedPath_;
    mutable PlistDictionary values_;
    bool dirty_ = false;
};

}  // namespace sys
