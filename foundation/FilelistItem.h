#pragma once

#include "platform/core/Date.h"
#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// One row of a local or remote file list: a book, a folder or another file.
// The list screens make and fill the items; cells, thumbnails, downloads and
// the last-state store read them. Data only.
//
// A remote folder may hold hundreds of thousands of rows: what its rows
// leave unset (the local path and key, a saved folder inside the book, the
// server's extension, the credentials) is kept apart and made only for the
// rows that set it.
class FilelistItem {
public:
    enum Location : int32_t { kLocal = 0, kRemote = 1 };

    // The folder is locked by a passcode.
    bool isFolderLocked() const { return isFolderLocked_; }
    void setIsFolderLocked(bool v) { isFolderLocked_ = v; }
    // Folder flag set from the folder's file information.
    bool isFolderScanFiles() const { return isFolderScanFiles_; }
    void setIsFolderScanFiles(bool v) { isFolderScanFiles_ = v; }
    // Second folder flag set from the same information.
    bool isFolderNoBackupFlag() const { return isFolderNoBackupFlag_; }
    void setIsFolderNoBackupFlag(bool v) { isFolderNoBackupFlag_ = v; }
    // The book is the one read last.
    bool isLastReadingFile() const { return isLastReadingFile_; }
    void setIsLastReadingFile(bool v) { isLastReadingFile_ = v; }
    // The book has a saved reading position.
    bool isExistBookmark() const { return isExistBookmark_; }
    void setIsExistBookmark(bool v) { isExistBookmark_ = v; }
    // Two-page state of the saved reading position.
    bool is2Pageloaded() const { return is2Pageloaded_; }
    void setIs2Pageloaded(bool v) { is2Pageloaded_ = v; }
    // The row is selected (multiple selection).
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool v) { isSelected_ = v; }
    // The remote book can be read by streaming.
    bool remoteCanStreaming() const { return remoteCanStreaming_; }
    void setRemoteCanStreaming(bool v) { remoteCanStreaming_ = v; }
    // The item is being moved by a long-press drag.
    bool dragging() const { return dragging_; }
    void setDragging(bool v) { dragging_ = v; }
    // The remote thumbnail waits for a manual load.
    bool remoteThumbsManualReload() const { return remoteThumbsManualReload_; }
    void setRemoteThumbsManualReload(bool v) { remoteThumbsManualReload_ = v; }
    // 0 local, 1 remote.
    int32_t location() const { return location_; }
    void setLocation(int32_t v) { location_ = v; }
    // Image kind, as the local list sets it.
    int32_t imageType() const { return imageType_; }
    void setImageType(int32_t v) { imageType_ = v; }
    // Kind of entry, as the lists define it.
    int32_t type() const { return type_; }
    void setType(int32_t v) { type_ = v; }
    // Name shown.
    const std::optional<std::string>& filename() const { return filename_; }
    void setFilename(std::optional<std::string> v) { filename_ = std::move(v); }
    // Path relative to the books folder (local items).
    const std::optional<std::string>& pathFromBooks() const { return rare_.p ? rare_.p->pathFromBooks : none(); }
    void setPathFromBooks(std::optional<std::string> v) {
        if (v || rare_.p) rare().pathFromBooks = std::move(v);
    }
    // Digest string of the name, set by the lists.
    const std::optional<std::string>& nameHash() const { return rare_.p ? rare_.p->nameHash : none(); }
    void setNameHash(std::optional<std::string> v) {
        if (v || rare_.p) rare().nameHash = std::move(v);
    }
    // File date.
    const std::optional<sys::Date>& creationDate() const { return creationDate_; }
    void setCreationDate(std::optional<sys::Date> v) { creationDate_ = std::move(v); }
    // Status number set by the lists.
    int64_t cacheStatus() const { return cacheStatus_; }
    void setCacheStatus(int64_t v) { cacheStatus_ = v; }
    // Date of the saved reading position.
    const std::optional<sys::Date>& bookmarkDate() const { return bookmarkDate_; }
    void setBookmarkDate(std::optional<sys::Date> v) { bookmarkDate_ = std::move(v); }
    // Pages of the book.
    int64_t numberOfPages() const { return numberOfPages_; }
    void setNumberOfPages(int64_t v) { numberOfPages_ = v; }
    // Saved page number.
    int64_t readingPageNo() const { return readingPageNo_; }
    void setReadingPageNo(int64_t v) { readingPageNo_ = v; }
    // Saved folder inside the book.
    const std::optional<std::string>& readingFolder() const { return rare_.p ? rare_.p->readingFolder : none(); }
    void setReadingFolder(std::optional<std::string> v) {
        if (v || rare_.p) rare().readingFolder = std::move(v);
    }
    // Absolute URL of a remote entry.
    const std::optional<std::string>& remoteURL() const { return remoteURL_; }
    void setRemoteURL(std::optional<std::string> v) { remoteURL_ = std::move(v); }
    // File extension reported by the server.
    const std::optional<std::string>& remoteExtension() const { return rare_.p ? rare_.p->remoteExtension : none(); }
    void setRemoteExtension(std::optional<std::string> v) {
        if (v || rare_.p) rare().remoteExtension = std::move(v);
    }
    // The remote listing's info dictionary of the entry (nullptr when none).
    // Shared, not copied: a folder of many entries keeps each one once, for
    // its list screen and its rows alike.
    const sys::PlistDictionary* remoteInfo() const { return remoteInfo_.get(); }
    const std::shared_ptr<const sys::PlistDictionary>& sharedRemoteInfo() const { return remoteInfo_; }
    void setRemoteInfo(std::shared_ptr<const sys::PlistDictionary> v) { remoteInfo_ = std::move(v); }
    void setRemoteInfo(sys::PlistDictionary v) { remoteInfo_ = std::make_shared<const sys::PlistDictionary>(std::move(v)); }
    // The same, an empty dictionary when none.
    const sys::PlistDictionary& remoteInfoOrEmpty() const { return remoteInfo_ ? *remoteInfo_ : noDictionary(); }
    // Position of the entry in the server's listing.
    int64_t remoteOriginalIndexNo() const { return remoteOriginalIndexNo_; }
    void setRemoteOriginalIndexNo(int64_t v) { remoteOriginalIndexNo_ = v; }
    // Password to reach the entry.
    const std::optional<std::string>& remotePassword() const { return rare_.p ? rare_.p->remotePassword : none(); }
    void setRemotePassword(std::optional<std::string> v) {
        if (v || rare_.p) rare().remotePassword = std::move(v);
    }
    // User name to reach the entry.
    const std::optional<std::string>& remoteUsername() const { return rare_.p ? rare_.p->remoteUsername : none(); }
    void setRemoteUsername(std::optional<std::string> v) {
        if (v || rare_.p) rare().remoteUsername = std::move(v);
    }
    // The site's protocol options (nullptr when none); shared by the rows of
    // a list.
    const sys::PlistDictionary* remoteOtherSettings() const { return remoteOtherSettings_.get(); }
    void setRemoteOtherSettings(std::shared_ptr<const sys::PlistDictionary> v) { remoteOtherSettings_ = std::move(v); }
    const sys::PlistDictionary& remoteOtherSettingsOrEmpty() const {
        return remoteOtherSettings_ ? *remoteOtherSettings_ : noDictionary();
    }

private:
    struct Rare {
        std::optional<std::string> pathFromBooks;
        std::optional<std::string> nameHash;
        std::optional<std::string> readingFolder;
        std::optional<std::string> remoteExtension;
        std::optional<std::string> remotePassword;
        std::optional<std::string> remoteUsername;
    };
    static const std::optional<std::string>& none() {
        static const std::optional<std::string> nothing;
        return nothing;
    }
    static const sys::PlistDictionary& noDictionary() {
        static const sys::PlistDictionary empty;
        return empty;
    }
    // Copied with the item, as the other fields are.
    struct RareBox {
        std::unique_ptr<Rare> p;
        RareBox() = default;
        RareBox(const RareBox& o) : p(o.p ? std::make_unique<Rare>(*o.p) : nullptr) {}
        RareBox& operator=(const RareBox& o) {
            if (this != &o) p = o.p ? std::make_unique<Rare>(*o.p) : nullptr;
            return *this;
        }
        RareBox(RareBox&&) noexcept = default;
        RareBox& operator=(RareBox&&) noexcept = default;
    };
    Rare& rare() {
        if (!rare_.p) rare_.p = std::make_unique<Rare>();
        return *rare_.p;
    }

    bool isFolderLocked_ = false;
    bool isFolderScanFiles_ = false;
    bool isFolderNoBackupFlag_ = false;
    bool isLastReadingFile_ = false;
    bool isExistBookmark_ = false;
    bool is2Pageloaded_ = false;
    bool isSelected_ = false;
    bool remoteCanStreaming_ = false;
    bool dragging_ = false;
    bool remoteThumbsManualReload_ = false;
    int32_t location_ = 0;
    int32_t imageType_ = 0;
    int32_t type_ = 0;
    std::optional<std::string> filename_;
    std::optional<sys::Date> creationDate_;
    int64_t cacheStatus_ = 0;
    std::optional<sys::Date> bookmarkDate_;
    int64_t numberOfPages_ = 0;
    int64_t readingPageNo_ = 0;
    std::optional<std::string> remoteURL_;
    std::shared_ptr<const sys::PlistDictionary> remoteInfo_;
    int64_t remoteOriginalIndexNo_ = 0;
    std::shared_ptr<const sys::PlistDictionary> remoteOtherSettings_;
    RareBox rare_;
};
