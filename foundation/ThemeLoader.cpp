#include "foundation/ThemeLoader.h"

#include "foundation/BookCommonDevice.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/BookCommonText.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"

namespace {

std::string themesFolder() {
    return sys::Path::stringByAppendingPathComponent(BookCommonPaths::getSettingsFolder(), ".theme");
}

}  // namespace

ThemeLoader::ThemeLoader() { loadThemeRect(); }

std::optional<std::vector<std::string>> ThemeLoader::getInstalledThemeList() {
    auto entries = sys::FileManager::entriesOfDirectory(themesFolder());
    if (!entries) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& e : *entries) {
        bool isDir = false;
        if (sys::FileManager::fileExists(sys::Path::stringByAppendingPathComponent(themesFolder(), e.name), &isDir) &&
            isDir)
            names.push_back(e.name);
    }
    return names;
}

void ThemeLoader::loadSetting() {
    themeList_.clear();
    std::string record = sys::Path::stringByAppendingPathComponent(BookCommonPaths::getSettingsFolder(), ".theme.lbs");
    if (auto choice = sys::PropertyList::readArray(record); choice && choice->size() >= 3) {
        themeType_ = static_cast<int>((*choice)[0].integerValue());
        themeNo_ = (*choice)[1].integerValue();
        themeName_ = (*choice)[2].asString();
    }
    themeList_ = getInstalledThemeList().value_or(std::vector<std::string>{});
    loadThemeRect();
}

void ThemeLoader::loadThemeRect() {
    bool pad = BookCommonDevice::getDeviceDisplayType() == 1;
    bool folderStyle = themeType_ == 0 && themeNo_ == 1;
    if (pad) {
        bookLabelRect_ = gfx::Rect(18, 22, 95, 110);
        folderLabelRect_ = folderStyle ? gfx::Rect(18, 58, 95, 80) : gfx::Rect(18, 102, 95, 60);
        bookImageRect_ = folderStyle ? gfx::Rect(14, 17, 104, 134) : gfx::Rect(15, 11, 104, 134);
        folderImageRect_ = gfx::Rect(18, 12, 66, 86);
    } else {
        bookLabelRect_ = gfx::Rect(13, 15, 69, 90);
        folderLabelRect_ = folderStyle ? gfx::Rect(13, 40, 69, 56) : gfx::Rect(13, 70, 69, 46);
        bookImageRect_ = folderStyle ? gfx::Rect(10, 11, 74, 96) : gfx::Rect(11, 8, 74, 96);
        folderImageRect_ = gfx::Rect(14, 8, 48, 66);
    }
    if (themeType_ != 1) return;
    auto name = BookCommonPaths::confinePathComponent(themeName_);
    if (!name) return;
    std::string file = sys::Path::stringByAppendingPathComponent(
        sys::Path::stringByAppendingPathComponent(themesFolder(), *name), pad ? "theme_ipad.txt" : "theme.txt");
    auto text = sys::FileManager::contentsOfFile(file, 1 << 20);
    if (!text) return;
    auto value = [&](const char* key) {
        return static_cast<double>(BookCommonText::getIntValueFromTextConfFile(*text, key));
    };
    bookImageRect_.origin = gfx::Point{value("BookImagePosX"), value("BookImagePosY")};
    folderImageRect_ = gfx::Rect(value("FolderImagePosX"), value("FolderImagePosY"), value("FolderImageWidth"),
                                 value("FolderImageHeight"));
    bookLabelRect_ = gfx::Rect(value("BookLabelPosX"), value("BookLabelPosY"), value("BookLabelWidth"),
                               value("BookLabelHeight"));
    folderLabelRect_ = gfx::Rect(value("FolderLabelPosX"), value("FolderLabelPosY"), value("FolderLabelWidth"),
                                 value("FolderLabelHeight"));
}
