#pragma once

#include "platform/core/PlistDictionary.h"

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
    // Not owned; must outlive the holder.
    Settings* settings() const { return settings_; }
    void setSettings(Settings* s) { settings_ = s; }

    // Gives `other` the same access as this one.
    void copyAccessTo(RemoteAccess& other) const { other = *this; }

protected:
    RemoteAccess() = default;
    RemoteAccess(const RemoteAccess&) = default;
    RemoteAccess& operator=(const RemoteAccess&) = default;
    ~RemoteAccess() = default;

private:
    std::string userName_, password_;
    sys::PlistDictionary otherSettingForRemote_, fileInfo_;
    Settings* settings_ = nullptr;
};
