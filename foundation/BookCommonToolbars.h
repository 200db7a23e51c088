#pragma once

#include "foundation/ShortcutItemModel.h"
#include "foundation/ToolbarItemModel.h"

#include <optional>
#include <string>
#include <vector>

// BookCommon's operations for the tool-bar models of the file lists and the
// program's quick actions. Class operations only; reach them through BookCommon.
class BookCommonToolbars {
public:
    // The facts the tool bars depend on; the operations below read them from
    // the device profile, the folder layout and the rotation lock.
    struct ToolbarFacts {
        bool isPad = false;
        double systemVersion = 17.0;
        bool cameraAvailable = false;
        bool isScanFolder = false;
        bool rotationLocked = false;
        bool rotationLockEnable = true;  // the pad allows the program's own lock
    };
    // The local file list's tool bar for a folder (nothing for no folder).
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItems(
        const std::optional<std::string>& currentFullPath, bool isRootView = false);
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItems(const ToolbarFacts& facts, bool hasPath);
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItemsForRemote();
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItemsForRemote(const ToolbarFacts& facts);

    // Replaces the program's quick actions: mode 2 the reading item, 1 the
    // reading item and the list item, anything else the list item.
    static void setShortcutMenu(int mode, const std::optional<std::string>& readingTitle);
    static std::vector<ShortcutItemModel> shortcutMenuItems();
    // The shortened title of the reading item (last element of a path or an address).
    static std::string shortcutTitleForBook(const std::string& pathOrUrl);

    // ---- Silent resume -----------------------------------------------------------
    static void setNextSilentResumeFlag();
    // YES once after the flag was set.
    static bool getNextSilentResumeFlag();


protected:
    BookCommonToolbars() = default;
};
