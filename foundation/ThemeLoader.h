#pragma once

#include "platform/graphics/Geometry.h"
#include "platform/graphics/Rgba.h"
#include "platform/ui/Image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The chosen bookshelf theme and its layout: one of two presets (0 "Default
// Style", 1 "Folder Style") or a theme installed under the settings folder's
// ".theme". The choice is recorded in the settings folder's ".theme.lbs" as
// [type, number, name]. The settings store makes a new loader at every load.
//
// Pictures: an installed theme's own files, else the built-in asset of the
// same name. Where neither exists the getters answer nullptr and the shelf
// draws its own picture, so a theme with missing files still shows shelves.
// Main thread only.
class ThemeLoader {
public:
    // Installer results.
    static constexpr int kInstalled = 0;
    static constexpr int kNoThemeText = 1;
    static constexpr int kNoThemeName = 2;
    static constexpr int kCannotOpen = 3;

    // Caps on what a package may hand the installer: one entry, and the
    // whole of one install.
    static constexpr size_t kMaxEntryBytes = 4u << 20;
    static constexpr size_t kMaxInstallBytes = 48u << 20;
    // The theme text is read whole from its folder.
    static constexpr size_t kMaxThemeTextBytes = 1u << 20;

    ThemeLoader();

    // Reads the recorded choice (fewer than 3 entries: preset 0), lists the
    // installed themes again and loads the layout rectangles.
    void loadSetting();
    void didReceiveMemoryWarning() { releaseAllImage(); }

    // The default rectangles of the device and theme, then, for an installed
    // theme, the values of its theme text file (a missing key gives 0).
    void loadThemeRect();

    // Names of the installed themes (subfolders of ".theme", in listing
    // order); nothing when the folder cannot be listed.
    static std::optional<std::vector<std::string>> getInstalledThemeList();

    // ---- Choice ---------------------------------------------------------------------------
    // Switches to a preset (type 0) or to entry `number` of the installed
    // list (type 1) and records the choice.
    bool changeTheme(int type, int64_t number);
    int getThemeType() const { return themeType_; }
    // Presets: the number; installed: the index of the theme's name in a
    // fresh listing (0 when absent).
    int64_t getThemeNo() const;
    int64_t getNumTheme(int type) const;
    std::string getThemeName(int type, int64_t number) const;
    // Removes entry `index` of the installed list from disk and the list.
    bool uninstallTheme(int64_t index);

    int64_t themeNo() const { return themeNo_; }
    const std::string& themeName() const { return themeName_; }
    const std::vector<std::string>& installedThemes() const { return themeList_; }

    // ---- Packages ---------------------------------------------------------------------------
    // Copies the theme's files out of the package at `path` into
    // ".theme"/ThemeName; one of the results above. `installedName` gets the
    // package's "ThemeName" (nothing when it has none). A name that would
    // leave ".theme" counts as none.
    static int installTheme(const std::string& path, std::optional<std::string>* installedName);
    // The whole entry `name` (exact, case-sensitive) of an open minizip
    // handle; nothing when missing, unreadable, empty or above `cap` bytes.
    static std::optional<std::string> newLoadFromZip(void* zip, const std::string& name,
                                                     size_t cap = kMaxEntryBytes);
    // The names an installer takes from a package, in order.
    static const std::vector<std::string>& packageFileNames();
    // A "ThemeName" usable as one folder name under ".theme".
    static bool isAcceptableThemeName(const std::string& name);
    static std::string themesFolder();

    // ---- Layout -----------------------------------------------------------------------------
    gfx::Rect getBookShelfBookPos() const { return bookImageRect_; }
    gfx::Rect getBookShelfFolderPos() const { return folderImageRect_; }
    gfx::Rect getBookLabelRect() const { return bookLabelRect_; }
    gfx::Rect getFolderLabelRect() const { return folderLabelRect_; }
    // Folder covers show the folder's own picture (all but "Folder Style").
    bool isFolderImage() const { return themeNo_ == 0 || themeType_ == 1; }
    // Installed: the theme's "TintColor" (may be nothing); presets: light grey.
    std::optional<gfx::Rgba> getBookshelfBarColor() const;

    // ---- Pictures ---------------------------------------------------------------------------
    ui::ImageRef getBookshelfBGImageNew(double width);
    ui::ImageRef getBookshelfFolderImage();
    ui::ImageRef getBookshelfRemoteFolderImage();
    ui::ImageRef getBookshelfBookImage();
    ui::ImageRef getBookshelfNoLoadImage();
    ui::ImageRef getBookshelfNavigationbarBGImage(bool landscape);
    ui::ImageRef getBookshelfTookbarBGImage(bool landscape);
    // On a pad "_ipad" goes before the extension.
    static std::string getFilenameWithDeviceSelect(const std::string& name);
    ui::ImageRef loadImageFromTheme(const std::string& name, bool loadDefault = true) const;
    // The built-in picture of that name, or nullptr (the shelf draws its own).
    static ui::ImageRef builtInImage(const std::string& name);
    void releaseAllImage();

private:
    ui::ImageRef themedImage(const std::string& presetName, const std::string& folderStyleName) const;
    ui::ImageRef barImage(const std::string& name, const std::string& fallback) const;
    std::string themeFolder() const;

    ui::ImageRef imageBookshelfBG_;
    ui::ImageRef imageBookshelfBGLandscape_;
    ui::ImageRef imageBookshelfFolder_;
    ui::ImageRef imageBookshelfFolderRemote_;
    ui::ImageRef imageBookshelfBook_;
    ui::ImageRef imageBookshelfNoLoad_;
    ui::ImageRef imageBookshelfNavbar_;
    ui::ImageRef imageBookshelfToolbar_;
    ui::ImageRef imageBookshelfNavbarLandscape_;
    ui::ImageRef imageBookshelfToolbarLandscape_;
    int themeType_ = 0;
    int64_t themeNo_ = 0;
    std::string themeName_;
    std::vector<std::string> themeList_;
    gfx::Rect bookLabelRect_;
    gfx::Rect folderLabelRect_;
    gfx::Rect bookImageRect_;
    gfx::Rect folderImageRect_;
    std::optional<gfx::Rgba> tintColor_;
    ui::ImageRef navigationBarImageCache_;
    std::string loadedBGName_;
};
