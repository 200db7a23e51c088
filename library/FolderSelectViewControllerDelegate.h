#pragma once

#include <optional>
#include <string>

class FolderSelectViewController;

// Told how a walk through the folder picker ended.
class FolderSelectViewControllerDelegate {
public:
    virtual ~FolderSelectViewControllerDelegate() = default;
    // `picker` is the level the walk ended on (its userTag tells the
    // purpose); `folder` is the chosen folder's full path, nothing when the
    // walk was cancelled. The picker does not close itself.
    virtual void finishSelectFolder(FolderSelectViewController& picker, const std::optional<std::string>& folder) = 0;
};
