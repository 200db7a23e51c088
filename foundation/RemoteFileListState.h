#pragma once

#include "platform/core/PlistValue.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the last-state store reads from and restores into a remote folder
// list screen. The remote list screen implements it; the foundation cannot
// know the screen class itself.
class RemoteFileListState {
public:
    virtual ~RemoteFileListState() = default;

    virtual std::optional<std::string> targetURL() const = 0;
    virtual void setTargetURL(const std::optional<std::string>& url) = 0;
    // Absolute URL strings of the entries.
    virtual std::optional<sys::PlistArray> fileListArray() const = 0;
    virtual void setFileListArray(const std::optional<sys::PlistArray>& list) = 0;
    // The entries' info dictionaries, parallel to the file list.
    virtual std::optional<sys::PlistArray> infoListArray() const = 0;
    virtual void setInfoListArray(const std::optional<sys::PlistArray>& list) = 0;
    // Each entry's URL and info in list order, without copying the lists;
    // false when the screen has none.
    using EntryVisitor = std::function<void(const std::string& url, const sys::PlistDictionary& info)>;
    virtual bool forEachListEntry(const EntryVisitor& visit) const;
    virtual std::optional<std::string> listTitle() const = 0;
    virtual void setListTitle(const std::optional<std::string>& title) = 0;
    virtual std::optional<sys::PlistDictionary> otherSetting() const = 0;
    virtual void setOtherSetting(const std::optional<sys::PlistDictionary>& options) = 0;
    virtual std::optional<std::string> fixUsername() const = 0;
    virtual void setFixUsername(const std::optional<std::string>& name) = 0;
    virtual std::optional<std::string> fixID() const = 0;
    virtual void setFixID(const std::optional<std::string>& id) = 0;
    virtual std::optional<std::string> rawUsername() const = 0;
    virtual void setRawUsername(const std::optional<std::string>& name) = 0;
    virtual bool useRawPassword() const = 0;
    virtual void setUseRawPassword(bool use) = 0;
    virtual std::optional<std::string> rawPassword() const = 0;
    virtual void setRawPassword(const std::optional<std::string>& password) = 0;
    // Whether the typed password may outlive the program's run: false when
    // the user typed it with "Remember My Password" off, so that a restart
    // asks for it again.
    virtual bool keepsRawPassword() const { return true; }
    virtual void setKeepsRawPassword(bool) {}
    // The address whose origin (scheme, host, port) the credentials belong
    // to; none means the screen's own address.
    virtual std::optional<std::string> siteURL() const { return std::nullopt; }
    virtual void setSiteURL(const std::optional<std::string>&) {}

    // The screens of this screen's navigation stack, bottom first, with a
    // null entry for every screen that is not a remote list.
    virtual std::vector<const RemoteFileListState*> navigationStackForStatus() const = 0;
};
