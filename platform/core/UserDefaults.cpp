#include "platform/core/UserDefaults.h"

#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"

namespace sys {

UserDefaults& UserDefaults::standard() {
    static UserDefaults* defaults = new UserDefaults();  // never destroyed: used until exit
    return *defaults;
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {}

std::string UserDefaults::pathLocked() const {
    if (!path_.empty()) return path_;
    if (loaded_) return loadedPath_;
    return Path::stringByAppendingPathComponent(AppPaths::preferences(), "leafbright.plist");
}

std::string UserDefaults::path() const {
    std::lock_guard lock(mutex_);
    return pathLocked();
}

void UserDefaults::loadLocked() const {
    if (loaded_) return;
    loadedPath_ = pathLocked();
    values_ = PropertyList::readDictionary(loadedPath_).value_or(PlistDictionary{});
    loaded_ = true;
}

PlistValue UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    loadLocked();
    return values_.get(key);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    PlistValue v = objectForKey(key);
    if (!v.isString()) return std::nullopt;
    return v.asString();
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const { return objectForKey(key).integerValue(); }

bool UserDefaults::boolForKey(std::string_view key) const { return objectForKey(key).boolValue(); }

double UserDefaults::doubleForKey(std::string_view key) const { return objectForKey(key).doubleValue(); }

std::optional<PlistData> UserDefaults::dataForKey(std::string_view key) const {
    PlistValue v = objectForKey(key);
    if (!v.isData()) return std::nullopt;
    return v.asData();
}

std::optional<PlistArray> UserDefaults::arrayForKey(std::string_view key) const {
    PlistValue v = objectForKey(key);
    if (!v.isArray()) return std::nullopt;
    return v.asArray();
}

std::optional<PlistDictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    PlistValue v = objectForKey(key);
    if (!v.isDictionary()) return std::nullopt;
    return v.asDictionary();
}

void UserDefaults::setObject(PlistValue value, std::string_view key) {
    std::lock_guard lock(mutex_);
    loadLocked();
    values_.set(key, std::move(value));
    dirty_ = true;
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    loadLocked();
    if (values_.remove(key)) dirty_ = true;
}

PlistDictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    loadLocked();
    return values_;
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (!dirty_) return true;
    std::string file = pathLocked();
    std::string folder = Path::stringByDeletingLastPathComponent(file);
    if (!folder.empty()) FileManager::createDirectory(folder, true);
    if (!PropertyList::writeFile(PlistValue(values_), file)) return false;
    dirty_ = false;
    return true;
}

void UserDefaults::reload() {
    std::lock_guard lock(mutex_);
    loaded_ = false;
    dirty_ = false;
    values_.clear();
}

}  // namespace sys
