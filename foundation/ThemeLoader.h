#pragma once

#include "platform/graphics/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The chosen bookshelf theme and its layout: one of two presets (0 "Default
// Style", 1 "Folder Style") or a theme installed under the settings folder's
// ".theme". The choice is recorded in the settings folder's ".theme.lbs" as
// [type, number, name]. The settings store makes a new loader at every load.
class ThemeLoader {
public:
    ThemeLoader();

    // Reads the recorded choice (fewer than 3 entries: preset 0), lists the
    // installed themes again and loads the layout rectangles.
    void loadSetting();
    // Nothing is cached yet that a memory warning could free.
    void didReceiveMemoryWarning() {}

    // The default rectangles of the device and theme, then, for an installed
    // theme, the values of its theme text file (a missing key gives 0).
    void loadThemeRect();

    // Names of the installed themes (subfolders of ".theme", in listing
    // order); nothing when the folder cannot be listed.
    static std::optional<std::vector<std::string>> getInstalledThemeList();

    int getThemeType() const { return themeType_; }
    int64_t themeNo() const { return themeNo_; }
    const std::string& themeName() const { return themeName_; }
    const std::vector<std::string>& installedThemes() const { return themeList_; }

    gfx::Rect getBookShelfBookPos() const { return bookImageRect_; }
    gfx::Rect getBookShelfFolderPos() const { return folderImageRect_; }
    gfx::Rect getBookLabelRect() const { return bookLabelRect_; }
    gfx::Rect getFolderLabelRect() const { return folderLabelRect_; }

private:
    int themeType_ = 0;
    int64_t themeNo_ = 0;
    std::string themeName_;
    std::vector<std::string> themeList_;
    gfx::Rect bookLabelRect_;
    gfx::Rect folderLabelRect_;
    gfx::Rect bookImageRect_;
    gfx::Rect folderImageRect_;
};
