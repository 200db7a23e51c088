#pragma once

#include <optional>
#include <string>

namespace ui {
class View;
}

// Who opens the book once an inner folder is chosen: nothing means the
// whole book; `isBookMarkded` says the folder is the one last read, so the
// book resumes at its saved page.
class IncludeFolderSelectViewControllerDelegate {
public:
    virtual ~IncludeFolderSelectViewControllerDelegate() = default;
    virtual void finishSelectIncludeFolder(const std::optional<std::string>& folder, ui::View* forView,
                                           bool isBookMarkded) = 0;
};
