#pragma once

#include <string>

// What the folder information screen asks of the list that opened it.
class FolderDetailViewControllerExDelegate {
public:
    virtual ~FolderDetailViewControllerExDelegate() = default;
    // Gives the folder the last path component `name`; true when it now
    // bears that name (renamed, or already so named).
    virtual bool changeDirectoryName(const std::string& name) = 0;
    // The folder's lock record changed (`path` is its full path after any rename).
    virtual void changePasscodeSetting(const std::string& path) = 0;
};
