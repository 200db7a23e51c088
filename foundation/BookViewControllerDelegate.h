#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the reading screen asks of the list it was opened from (the local or
// a remote file list). Every operation is optional: the defaults are those
// of a list that has no neighbouring books.
class BookViewControllerDelegate {
public:
    virtual ~BookViewControllerDelegate() = default;

    // The reading screen went away; the list reloads its rows.
    virtual void finishReadBook(const std::string& fileName) { (void)fileName; }

    // Opens the next (or previous) book of the list. *closeAnimation is
    // preset true; the list may clear it to close the reader without
    // animation. True when another book is being opened.
    virtual bool reOpenNextBook(const std::string& fileName, const std::optional<std::string>& targetFolder,
                                bool isNext, bool* closeAnimation) {
        (void)fileName, (void)targetFolder, (void)isNext, (void)closeAnimation;
        return false;
    }

    // The list index of the neighbouring book, -1 when there is none (the
    // reader only looks at the sign).
    virtual int64_t getNextBookIndex(const std::string& fileName, const std::optional<std::string>& targetFolder,
                                     bool isNext) {
        (void)fileName, (void)targetFolder, (void)isNext;
        return -1;
    }

    // The reader wrote a new cover; the list refreshes its thumbnails.
    virtual void changeBookThumbs() {}

    // The server refused the user name or password for a page of the book
    // read in place. True when the list asks for them and opens the book
    // again where it was with the answer: the reading screen then closes.
    virtual bool bookNeedsServerPassword(const std::string& fileName) {
        (void)fileName;
        return false;
    }
};
