#pragma once

#include <string>

// What the library browser knows about the items of the documents folder.
class CheckDocumentsDirectory {
public:
    CheckDocumentsDirectory() = delete;

    // Items that are never the user's to move: the desktop's folder-view
    // file ".DS_Store".
    static bool isDontMoveItemsInDocuments(const std::string& path);
};
