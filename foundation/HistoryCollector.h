#pragma once

#include "foundation/BookHistory.h"

#include <optional>
#include <vector>

// The reading history: the books last opened, newest first, kept in
// ".readinghistory.lbs" of the settings folder and at most
// maximumNumberOfHistories long. Class operations over one list in memory.
// Main thread only.
class HistoryCollector {
public:
    HistoryCollector() = delete;

    // Loads the list when needed and trims it (in memory only) to the limit
    // of the settings; nothing when no history was ever stored.
    static std::optional<std::vector<BookHistory>> getHistory();
    // Moves the book to the front (an earlier entry of it is dropped), dated
    // now, trims and writes the file.
    static void addHistory(const BookHistory& history);
    // In memory only.
    static void removeHistoryAtIndex(size_t index);
    static void removeAllHistory();
    // A book or folder of the library moved or renamed from `fromPath` to
    // `toPath` (full paths): the local entries of that book, or of the books
    // inside that folder, name the new place; the file is written when any
    // did. Paths outside the library change nothing.
    static void followMove(const std::string& fromPath, const std::string& toPath);
    static void relaseHistory();
    // Writes the list; nothing while none is in memory.
    static void writeToFile();
    // Replaces the list by the file's; an unreadable or missing file keeps
    // the list as it was.
    static void loadFromFile();
};
