#pragma once

#include "platform/core/Date.h"
#include "platform/core/PlistDictionary.h"

#include <optional>
#include <string>

// One entry of the reading history: a local book (by its path below the
// books folder) or a remote one (by its URL and the folder it was found in).
class BookHistory {
public:
    bool isRemote() const { return isRemote_; }
    void setIsRemote(bool v) { isRemote_ = v; }
    // The local book lies in a locked folder.
    bool isLockedFolder() const { return isLockedFolder_; }
    void setIsLockedFolder(bool v) { isLockedFolder_ = v; }
    // When the book was last opened.
    const std::optional<sys::Date>& date() const { return date_; }
    void setDate(std::optional<sys::Date> v) { date_ = v; }
    const std::optional<std::string>& bookUrl() const { return bookUrl_; }
    void setBookUrl(std::optional<std::string> v) { bookUrl_ = std::move(v); }
    const std::optional<std::string>& folderUrl() const { return folderUrl_; }
    void setFolderUrl(std::optional<std::string> v) { folderUrl_ = std::move(v); }
    const std::optional<std::string>& remoteFolderTitle() const { return remoteFolderTitle_; }
    void setRemoteFolderTitle(std::optional<std::string> v) { remoteFolderTitle_ = std::move(v); }
    const std::optional<std::string>& bookTitle() const { return bookTitle_; }
    void setBookTitle(std::optional<std::string> v) { bookTitle_ = std::move(v); }
    // Local path relative to the books folder.
    const std::optional<std::string>& pathFromBooks() const { return pathFromBooks_; }
    void setPathFromBooks(std::optional<std::string> v) { pathFromBooks_ = std::move(v); }

    // Whether the two entries name the same book: remote entries by URL,
    // local ones by path; a remote and a local entry never do.
    bool isSameBook(const BookHistory& other) const;

    // The history file's form of the entry. A remote entry has "isRemote",
    // "bookUrl", "folderUrl", "remoteFolderTitle", "bookTitle", "date"; a
    // local one "isRemote", "isLockedFolder", "pathFromBooks", "date",
    // "bookTitle". Absent values are left out.
    sys::PlistDictionary toDictionary() const;
    // Takes every key that is present with the right type, for either kind.
    static BookHistory fromDictionary(const sys::PlistDictionary& dictionary);

private:
    bool isRemote_ = false;
    bool isLockedFolder_ = false;
    std::optional<sys::Date> date_;
    std::optional<std::string> bookUrl_;
    std::optional<std::string> folderUrl_;
    std::optional<std::string> remoteFolderTitle_;
    std::optional<std::string> bookTitle_;
    std::optional<std::string> pathFromBooks_;
};
