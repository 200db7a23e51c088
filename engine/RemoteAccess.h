#pragma once

#include "platform/core/PlistDictionary.h"

#include <memory>
#include <mutex>
#include <string>

class Settings;

// What a book on a server is reached with: the user's credentials, the
// book's settings for remote reading (the site's options), its file
// information and the program's settings. The page readers, the remote
// streams and the URL-list streams carry it, and a reader hands its own to
// every stream it makes.
class RemoteAccess {
public:
    const std::string& userName() const { return userName_; }
    void setUserName(const std::string& v) { userName_ = v; }
    const std::string& password() const { return password_; }
    void setPassword(const std::string& v) { password_ = v; }
    const sys::PlistDictionary& otherSettingForRemote() const { return otherSettingForRemote_; }
    void setOtherSettingForRemote(const sys::PlistDictionary& v) { otherSettingForRemote_ = v; }
    const sys::PlistDictionary& fileInfo() const { return fileInfo_; }
    void setFileInfo(const sys::PlistDictionary& v) { fileInfo_ = v; }
    // Shared: a reader thread, or a stream's loader left to finish, keeps
    // the settings it reads for as long as it runs. The session may hand
    // its reader other settings while a reading thread uses it.
    std::shared_ptr<Settings> settings() const {
        std::lock_guard lock(settingsMutex_);
        return settings_;
    }
    void setSettings(std::shared_ptr<Settings> s) {
        std::lock_guard lock(settingsMutex_);
        settings_ = std::move(s);
    }

    // Gives `other` the same access as this one.
    void copyAccessTo(RemoteAccess& other) const { other = *this; }

protected:
    RemoteAccess() = default;
    RemoteAccess(const RemoteAccess& other)
        : userName_(other.userName_), password_(other.password_),
          otherSettingForRemote_(other.otherSettingForRemote_), fileInfo_(other.fileInfo_),
          settings_(other.settings()) {}
    RemoteAccess& operator=(const RemoteAccess& other) {
        if (this == &other) return *this;
        userName_ = other.userName_;
        password_ = other.password_;
        otherSettingForRemote_ = other.otherSettingForRemote_;
        fileInfo_ = other.fileInfo_;
        setSettings(other.settings());
        return *this;
    }
    ~RemoteAccess() = default;

private:
    std::string userName_, password_;
    sys::PlistDictionary otherSettingForRemote_, fileInfo_;
    mutable std::mutex settingsMutex_;
    std::shared_ptr<Settings> settings_;
};
