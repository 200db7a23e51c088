#pragma once

#include "platform/core/Date.h"
#include "platform/core/PlistValue.h"

#include <optional>
#include <string>

// Where the reader stopped in a book: kept as a 9-entry property-list array
// in the book's setting file, and mirrored to the cloud key-value store.
//   0 pageNo, 1 isSecound, 2 numPages, 3 targetFolder ("" for none),
//   4 is2PageLoaded, 5 isSubReadPage, 6 pageNoSub, 7 isSecoundSub,
//   8 date (whole seconds since 1970)
struct BookPageInfo {
    static constexpr size_t kEntryCount = 9;

    long pageNo = 0;
    bool isSecound = false;
    long numPages = 0;
    std::string targetFolder;  // "" for none
    bool is2PageLoaded = false;
    bool isSubReadPage = false;
    long pageNoSub = 0;
    bool isSecoundSub = false;
    std::optional<sys::Date> date;

    // Reads entries by position as far as the array reaches; missing entries,
    // and entries of the wrong type, read as 0, false, "" or no date.
    static BookPageInfo fromArray(const sys::PlistArray& array);
    // The full 9 entries. Without a date, now is written.
    sys::PlistArray toArray() const;

    // Whole seconds since 1970 as written in entry 8.
    static uint64_t secondsOf(sys::Date date);
};
