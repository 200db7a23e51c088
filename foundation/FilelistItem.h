#pragma once

#include "platform/core/Date.h"
#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <optional>
#include <string>

// One row of a local or remote file list: a book, a folder or another file.
// The list screens make and fill the items; cells, thumbnails, downloads and
// the last-state store read them. Data only.
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
    const std::optional<std::string>& pathFromBooks() const { return pathFromBooks_; }
    void setPathFromBooks(std::optional<std::string> v) { pathFromBooks_ = std::move(v); }
    // Digest string of the name, set by the lists.
    const std::optional<std::string>& nameHash() const { return nameHash_; }
    void setNameHash(std::optional<std::string> v) { nameHash_ = std::move(v); }
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
    const std::optional<std::string>& readingFolder() const { return readingFolder_; }
    void setReadingFolder(std::optional<std::string> v) { readingFolder_ = std::move(v); }
    // Absolute URL of a remote entry.
    const std::optional<std::string>& remoteURL() const { return remoteURL_; }
    void setRemoteURL(std::optional<std::string> v) { remoteURL_ = std::move(v); }
    // File extension reported by the server.
    const std::optional<std::string>& remoteExtension() const { return remoteExtension_; }
    void setRemoteExtension(std::optional<std::string> v) { remoteExtension_ = std::move(v); }
    // The remote listing's info dictionary of the entry.
    const std::optional<sys::PlistDictionary>& remoteInfo() const { return remoteInfo_; }
    void setRemoteInfo(std::optional<sys::PlistDictionary> v) { remoteInfo_ = std::move(v); }
    // Position of the entry in the server's listing.
    int64_t remoteOriginalIndexNo() const { return remoteOriginalIndexNo_; }
    void setRemoteOriginalIndexNo(int64_t v) { remoteOriginalIndexNo_ = v; }
    // Password to reach the entry.
    const std::optional<std::string>& remotePassword() const { return remotePassword_; }
    void setRemotePassword(std::optional<std::string> v) { remotePassword_ = std::move(v); }
    // User name to reach the entry.
    const std::optional<std::string>& remoteUsername() const { return remoteUsername_; }
    void setRemoteUsername(std::optional<std::string> v) { remoteUsername_ = std::move(v); }
    // The site's protocol options.
    const std::optional<sys::PlistDictionary>& remoteOtherSettings() const { return remoteOtherSettings_; }
    void setRemoteOtherSettings(std::optional<sys::PlistDictionary> v) { remoteOtherSettings_ = std::move(v); }

private:
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
    std::optional<std::string> pathFromBooks_;
    std::optional<std::string> nameHash_;
    std::optional<sys::Date> creationDate_;
    int64_t cacheStatus_ = 0;
    std::optional<sys::Date> bookmarkDate_;
    int64_t numberOfPages_ = 0;
    int64_t readingPageNo_ = 0;
    std::optional<std::string> readingFolder_;
    std::optional<std::string> remoteURL_;
    std::optional<std::string> remoteExtension_;
    std::optional<sys::PlistDictionary> remoteInfo_;
    int64_t remoteOriginalIndexNo_ = 0;
    std::optional<std::string> remotePassword_;
    std::optional<std::string> remoteUsername_;
    std::optional<sys::PlistDictionary> remoteOtherSettings_;
};
