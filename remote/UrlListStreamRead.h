#pragma once

#include "platform/core/PlistDictionary.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RemoteStreamReadDelegate;
class Settings;

// Fetches a book page by page: a list of page addresses (a folder of images
// on a server, a companion-server book, or a remote PDF as a one-page list)
// into a per-page cache, for the image-folder and PDF readers. Configured
// before opening; one fetcher per open book.
//
// The protocol loaders arrive with the remote sources. Until then a fetcher
// cannot start streaming: openUrls answers false and no page is fetched, so
// a reader reports the book as unreadable instead of waiting.
class UrlListStreamRead {
public:
    UrlListStreamRead() = default;
    virtual ~UrlListStreamRead();
    UrlListStreamRead(const UrlListStreamRead&) = delete;
    UrlListStreamRead& operator=(const UrlListStreamRead&) = delete;

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    // The reader: receives the cache map and the progress of each page.
    void setDelegate(std::weak_ptr<RemoteStreamReadDelegate> delegate) { delegate_ = std::move(delegate); }
    void setUserName(std::optional<std::string> userName) { userName_ = std::move(userName); }
    void setPassword(std::optional<std::string> password) { password_ = std::move(password); }
    // The site's protocol options.
    void setOtherSettingForRemote(std::optional<sys::PlistDictionary> options) { otherSetting_ = std::move(options); }
    // The remote entry's info dictionary.
    void setFileInfo(std::optional<sys::PlistDictionary> info) { fileInfo_ = std::move(info); }
    // Pages only from the local page cache.
    void setIsOfflineMode(bool on) { isOfflineMode_ = on; }
    // Cache under the thumbnail set of the cache files.
    void setIsThumbsCreateMode(bool on) { isThumbsCreateMode_ = on; }

    bool isOfflineMode() const { return isOfflineMode_; }
    bool isThumbsCreateMode() const { return isThumbsCreateMode_; }
    const std::optional<std::string>& userName() const { return userName_; }
    const std::optional<sys::PlistDictionary>& fileInfo() const { return fileInfo_; }

    // The companion server's entry list of an archive ("<url>?archive=<name>"),
    // in the server's order; nothing when it cannot be fetched.
    virtual std::optional<std::vector<std::string>> getIndex(const std::string& indexUrl);
    // Prepares the cache for the list and starts fetching in the background;
    // false when streaming cannot start.
    virtual bool openUrls(const std::vector<std::string>& urls,
                          const std::optional<std::vector<int64_t>>& globalPageNoList, int64_t totalPage,
                          const std::string& infoURL, bool isLbExpand);
    // The local file of one page once all of it is there; nothing when it
    // cannot be fetched.
    virtual std::optional<std::string> getLocalCachePath(int64_t index);
    // Stops fetching; safe on a fetcher that never opened, and twice.
    virtual void closeUrls();
    // Cancels the running fetch; waiting calls return.
    virtual void cancelStreaming();

    bool isOpen() const { return isOpen_; }
    bool isCancelled() const { return isCancelled_.load(); }

private:
    std::shared_ptr<Settings> settings_;
    std::weak_ptr<RemoteStreamReadDelegate> delegate_;
    std::optional<std::string> userName_;
    std::optional<std::string> password_;
    std::optional<sys::PlistDictionary> otherSetting_;
    std::optional<sys::PlistDictionary> fileInfo_;
    bool isOfflineMode_ = false;
    bool isThumbsCreateMode_ = false;
    bool isOpen_ = false;
    std::atomic<bool> isCancelled_{false};
};
