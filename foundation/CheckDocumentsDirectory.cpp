#include "foundation/CheckDocumentsDirectory.h"

#include "platform/core/Path.h"

bool CheckDocumentsDirectory::isDontMoveItemsInDocuments(const std::string& path) {
    return sys::Path::lastPathComponent(path) == ".DS_Store";
}
