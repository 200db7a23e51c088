#include "foundation/ThemeLoader.h"

#include "foundation/BookCommonDevice.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/BookCommonText.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/ImageDecoder.h"

#include <minizip/unzip.h>

#include <algorithm>

namespace {

using sys::Path;

bool isPad() { return BookCommonDevice::getDeviceDisplayType() == 1; }

std::string recordFile() { return Path::stringByAppendingPathComponent(BookCommonPaths::getSettingsFolder(), ".theme.lbs"); }

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "name.png" -> "name@2x.png".
std::string retinaName(const std::string& name) {
    const std::string ext = Path::pathExtension(name);
    if (ext.empty()) return name + "@2x";
    return Path::stringByDeletingPathExtension(name) + "@2x." + ext;
}

// A picture file of a theme folder, read through our own decoders with the
// entry cap (the files came out of a package anyone can make).
ui::ImageRef readThemePicture(const std::string& path) {
    auto bytes = sys::FileManager::contentsOfFile(path, ThemeLoader::kMaxEntryBytes);
    if (!bytes || bytes->empty()) return nullptr;
    auto bitmap = gfx::ImageDecoder::decode(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
    if (!bitmap) return nullptr;
    if (endsWith(path, "@2x.png")) bitmap = bitmap->withScale(2.0, bitmap->orientation());
    return ui::Image::withBitmap(bitmap);
}

}  // namespace

ThemeLoader::ThemeLoader() { loadThemeRect(); }

std::string ThemeLoader::themesFolder() {
    return Path::stringByAppendingPathComponent(BookCommonPaths::getSettingsFolder(), ".theme");
}

std::string ThemeLoader::themeFolder() const {
    if (!isAcceptableThemeName(themeName_)) return "";
    return Path::stringByAppendingPathComponent(themesFolder(), themeName_);
}

bool ThemeLoader::isAcceptableThemeName(const std::string& name) {
    if (name.empty() || name == ".") return false;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
    return name.find("..") == std::string::npos;
}

std::optional<std::vector<std::string>> ThemeLoader::getInstalledThemeList() {
    auto entries = sys::FileManager::entriesOfDirectory(themesFolder());
    if (!entries) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& e : *entries) {
        bool isDir = false;
        if (sys::FileManager::fileExists(Path::stringByAppendingPathComponent(themesFolder(), e.name), &isDir) && isDir)
            names.push_back(e.name);
    }
    return names;
}

void ThemeLoader::loadSetting() {
    releaseAllImage();
    themeList_.clear();
    if (auto choice = sys::PropertyList::readArray(recordFile()); choice && choice->size() >= 3) {
        themeType_ = static_cast<int>((*choice)[0].integerValue());
        themeNo_ = (*choice)[1].integerValue();
        themeName_ = (*choice)[2].asString();
    }
    themeList_ = getInstalledThemeList().value_or(std::vector<std::string>{});
    loadThemeRect();
}

void ThemeLoader::loadThemeRect() {
    const bool pad = isPad();
    const bool folderStyle = themeType_ == 0 && themeNo_ == 1;
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
    tintColor_.reset();
    if (themeType_ != 1) return;
    const std::string folder = themeFolder();
    if (folder.empty()) return;
    auto text = sys::FileManager::contentsOfFile(
        Path::stringByAppendingPathComponent(folder, pad ? "theme_ipad.txt" : "theme.txt"), kMaxThemeTextBytes);
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
    tintColor_ = BookCommonText::getIntColorFromTextConfFile(*text, "TintColor");
}

// ---- Choice -----------------------------------------------------------------------------------

bool ThemeLoader::changeTheme(int type, int64_t number) {
    releaseAllImage();
    themeType_ = type;
    themeNo_ = number;
    sys::PlistArray record;
    if (type == 1) {
        auto list = getInstalledThemeList().value_or(std::vector<std::string>{});
        themeName_ = number >= 0 && number < int64_t(list.size()) ? list[size_t(number)] : "";
        record = {sys::PlistValue(int64_t(type)), sys::PlistValue(number), sys::PlistValue(themeName_)};
    } else {
        record = {sys::PlistValue(int64_t(type)), sys::PlistValue(number), sys::PlistValue(std::string())};
    }
    loadThemeRect();
    sys::PropertyList::writeFile(record, recordFile());
    navigationBarImageCache_.reset();
    return true;
}

int64_t ThemeLoader::getThemeNo() const {
    if (themeType_ != 1) return themeNo_;
    auto list = getInstalledThemeList().value_or(std::vector<std::string>{});
    auto it = std::find(list.begin(), list.end(), themeName_);
    return it == list.end() ? 0 : int64_t(it - list.begin());
}

int64_t ThemeLoader::getNumTheme(int type) const { return type == 0 ? 2 : int64_t(themeList_.size()); }

std::string ThemeLoader::getThemeName(int type, int64_t number) const {
    if (type != 0)
        return number >= 0 && number < int64_t(themeList_.size()) ? themeList_[size_t(number)] : std::string();
    if (number == 0) return BookCommonText::localizedStringWithOnOff("Default Style");
    if (number == 1) return BookCommonText::localizedStringWithOnOff("Folder Style");
    return "";
}

bool ThemeLoader::uninstallTheme(int64_t index) {
    if (index < 0 || index >= int64_t(themeList_.size())) return false;
    const std::string& name = themeList_[size_t(index)];
    if (!isAcceptableThemeName(name)) return false;
    if (!sys::FileManager::removeItem(Path::stringByAppendingPathComponent(themesFolder(), name))) return false;
    themeList_.erase(themeList_.begin() + index);
    return true;
}

// ---- Packages -----------------------------------------------------------------------------------

const std::vector<std::string>& ThemeLoader::packageFileNames() {
    static const std::vector<std::string> names{
        "bookshelf_bg.png", "bookshelf_bg@2x.png", "bookshelf_bg_ipad.png", "bookshelf_bg_ipad@2x.png",
        "bookshelf_bg_long.png", "bookshelf_bg_long@2x.png", "bookshelf_bg_long_ipad.png",
        "bookshelf_bg_long_ipad@2x.png", "bookshelf_bgfolder.png", "bookshelf_bgfolder_remote.png",
        "bookshelf_bgfolder_remote@2x.png", "bookshelf_bgfolder_remote_ipad.png",
        "bookshelf_bgfolder_remote_ipad@2x.png", "bookshelf_bgfolder@2x.png", "bookshelf_bgfolder_ipad.png",
        "bookshelf_bgfolder_ipad@2x.png", "bookshelf_book.png", "bookshelf_book@2x.png", "bookshelf_book_ipad.png",
        "bookshelf_book_ipad@2x.png", "bookshelf_noload.png", "bookshelf_noload@2x.png", "bookshelf_noload_ipad.png",
        "bookshelf_noload_ipad@2x.png", "bookshelf_bg_long_4inch.png", "bookshelf_bg_long_4inch@2x.png",
        "bookshelf_nv_l.png", "bookshelf_nv_l4inch.png", "bookshelf_nv_p.png", "bookshelf_tb_l.png",
        "bookshelf_tb_l4inch.png", "bookshelf_tb_p.png", "bookshelf_tb_p@2x.png", "bookshelf_tb_l@2x.png",
        "bookshelf_tb_l4inch@2x.png", "bookshelf_nv_p@2x.png", "bookshelf_nv_l4inch@2x.png", "bookshelf_nv_l@2x.png",
        "bookshelf_nv_l_ipad.png", "bookshelf_tb_l_ipad.png", "bookshelf_tb_l_ipad@2x.png",
        "bookshelf_nv_l_ipad@2x.png", "bookshelf_bg_375@2x.png", "bookshelf_nv_375@2x.png", "bookshelf_tb_375@2x.png",
        "bookshelf_bg_667@2x.png", "bookshelf_nv_667@2x.png", "bookshelf_tb_667@2x.png", "bookshelf_bg_414@2x.png",
        "bookshelf_bg_736@2x.png", "bookshelf_nv_736@2x.png", "bookshelf_tb_736@2x.png",
        "bookshelf_bg_1024_ipad@2x.png", "bookshelf_bg_1366_ipad@2x.png", "bookshelf_nv_375X_up.png", "theme.txt",
        "theme_ipad.txt"};
    return names;
}

std::optional<std::string> ThemeLoader::newLoadFromZip(void* zip, const std::string& name, size_t cap) {
    unzFile uf = static_cast<unzFile>(zip);
    if (!uf || unzLocateFile(uf, name.c_str(), 1) != UNZ_OK) return std::nullopt;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return std::nullopt;
    // The declared size is only a first refusal: the reading below counts too.
    if (info.uncompressed_size > cap) return std::nullopt;
    if (unzOpenCurrentFile(uf) != UNZ_OK) return std::nullopt;
    std::string data;
    char chunk[10250];
    bool ok = true;
    for (;;) {
        const int n = unzReadCurrentFile(uf, chunk, sizeof chunk);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (data.size() + size_t(n) > cap) {
            ok = false;
            break;
        }
        data.append(chunk, size_t(n));
    }
    // A CRC mismatch is reported by the close.
    if (unzCloseCurrentFile(uf) != UNZ_OK) ok = false;
    if (!ok || data.empty()) return std::nullopt;
    return data;
}

int ThemeLoader::installTheme(const std::string& path, std::optional<std::string>* installedName) {
    if (installedName) installedName->reset();
    unzFile uf = unzOpen64(path.c_str());
    if (!uf) return kCannotOpen;
    struct Closer {
        unzFile f;
        ~Closer() { unzClose(f); }
    } closer{uf};
    auto text = newLoadFromZip(uf, isPad() ? "theme_ipad.txt" : "theme.txt", kMaxThemeTextBytes);
    if (!text) return kNoThemeText;
    auto name = BookCommonText::getValueFromTextConfFile(*text, "ThemeName");
    if (installedName) *installedName = name;
    if (!name || !isAcceptableThemeName(*name)) return kNoThemeName;
    const std::string folder = Path::stringByAppendingPathComponent(themesFolder(), *name);
    if (!sys::FileManager::createDirectory(folder, true)) return kCannotOpen;
    size_t total = 0;
    for (const auto& file : packageFileNames()) {
        auto data = newLoadFromZip(uf, file);
        if (!data) continue;
        total += data->size();
        if (total > kMaxInstallBytes) break;
        sys::FileManager::writeFile(Path::stringByAppendingPathComponent(folder, file), *data, true);
    }
    return kInstalled;
}

// ---- Pictures -----------------------------------------------------------------------------------

std::optional<gfx::Rgba> ThemeLoader::getBookshelfBarColor() const {
    if (themeType_ == 1) return tintColor_;
    return gfx::Rgba::rgb(0.92, 0.92, 0.92);
}

std::string ThemeLoader::getFilenameWithDeviceSelect(const std::string& name) {
    if (!isPad()) return name;
    const std::string ext = Path::pathExtension(name);
    if (ext.empty()) return name + "_ipad";
    return Path::stringByDeletingPathExtension(name) + "_ipad." + ext;
}

ui::ImageRef ThemeLoader::builtInImage(const std::string& name) {
    // Only assets we ship count; an unknown name would give the placeholder.
    const std::string dir = ui::Image::resourceDirectory();
    const std::string base = Path::stringByDeletingPathExtension(name);
    for (const char* suffix : {".svg", "@2x.png", ".png"})
        if (sys::FileManager::fileExists(dir + "/" + base + suffix)) return ui::Image::named(base);
    return nullptr;
}

ui::ImageRef ThemeLoader::loadImageFromTheme(const std::string& name, bool loadDefault) const {
    const std::string folder = themeFolder();
    if (!folder.empty()) {
        // As the platform finds a picture: the double-density file first.
        for (const std::string& candidate : {retinaName(name), name}) {
            const std::string path = Path::stringByAppendingPathComponent(folder, candidate);
            if (!sys::FileManager::fileExists(path)) continue;
            if (auto image = readThemePicture(path)) return image;
        }
    }
    return loadDefault ? builtInImage(name) : nullptr;
}

ui::ImageRef ThemeLoader::themedImage(const std::string& presetName, const std::string& folderStyleName) const {
    const bool folderStyle = themeType_ == 0 && themeNo_ == 1;
    const std::string name = getFilenameWithDeviceSelect(folderStyle ? folderStyleName : presetName);
    return themeType_ == 1 ? loadImageFromTheme(name) : builtInImage(name);
}

ui::ImageRef ThemeLoader::getBookshelfFolderImage() {
    if (!imageBookshelfFolder_) imageBookshelfFolder_ = themedImage("bookshelf_bgfolder.png", "bookshelf2_bgfolder.png");
    return imageBookshelfFolder_;
}

ui::ImageRef ThemeLoader::getBookshelfRemoteFolderImage() {
    if (!imageBookshelfFolderRemote_)
        imageBookshelfFolderRemote_ = themedImage("bookshelf_bgfolder_remote.png", "bookshelf2_bgfolder.png");
    return imageBookshelfFolderRemote_;
}

ui::ImageRef ThemeLoader::getBookshelfBookImage() {
    if (!imageBookshelfBook_) imageBookshelfBook_ = themedImage("bookshelf_book.png", "bookshelf2_book.png");
    return imageBookshelfBook_;
}

ui::ImageRef ThemeLoader::getBookshelfNoLoadImage() {
    if (!imageBookshelfNoLoad_) imageBookshelfNoLoad_ = themedImage("bookshelf_noload.png", "bookshelf2_noload.png");
    return imageBookshelfNoLoad_;
}

ui::ImageRef ThemeLoader::getBookshelfBGImageNew(double width) {
    std::string name;
    if (isPad()) {
        name = width <= 765 ? "bookshelf_bg_ipad.png" : width <= 1024 ? "bookshelf_bg_1024_ipad.png"
                                                                      : "bookshelf_bg_1366_ipad.png";
    } else {
        name = width <= 375   ? "bookshelf_bg_375.png"
               : width <= 414 ? "bookshelf_bg_414.png"
               : width <= 568 ? "bookshelf_bg_long_4inch.png"
               : width <= 667 ? "bookshelf_bg_667.png"
                              : "bookshelf_bg_736.png";
    }
    // The shelf is drawn often: the file is read again only for another name.
    if (name == loadedBGName_) return imageBookshelfBG_;
    imageBookshelfBG_ = themeType_ == 1 ? loadImageFromTheme(name) : builtInImage(name);
    loadedBGName_ = name;
    return imageBookshelfBG_;
}

ui::ImageRef ThemeLoader::barImage(const std::string& name, const std::string& fallback) const {
    if (themeType_ != 1) return builtInImage(getFilenameWithDeviceSelect(name));
    if (auto image = loadImageFromTheme(getFilenameWithDeviceSelect(name), false)) return image;
    return loadImageFromTheme(getFilenameWithDeviceSelect(fallback), false);
}

ui::ImageRef ThemeLoader::getBookshelfNavigationbarBGImage(bool landscape) {
    if (navigationBarImageCache_) return navigationBarImageCache_;
    std::string name;
    if (landscape) {
        imageBookshelfNavbarLandscape_.reset();
        if (isPad()) name = "bookshelf_nv_l.png";
        else if (BookCommonDevice::isDeviceType4_7inch()) name = "bookshelf_nv_667.png";
        else if (BookCommonDevice::isDeviceType4inch()) name = "bookshelf_nv_l4inch.png";
        else if (BookCommonDevice::isDeviceType5_5inch()) name = "bookshelf_nv_736.png";
        else if (BookCommonDevice::isDeviceTypeX()) name = "bookshelf_nv_812.png";
        else name = "bookshelf_nv_896.png";
        imageBookshelfNavbarLandscape_ = barImage(name, "bookshelf_nv_l.png");
        return imageBookshelfNavbarLandscape_;
    }
    imageBookshelfNavbar_.reset();
    if (BookCommonDevice::isDeviceType4_7inch()) name = "bookshelf_nv_375.png";
    else if (BookCommonDevice::isDeviceType5_5inch()) name = "bookshelf_nv_414.png";
    else if (BookCommonDevice::isDeviceTypeX()) name = "bookshelf_nv_375X.png";
    else if (BookCommonDevice::isDeviceTypeXR_XMax()) name = "bookshelf_nv_414X.png";
    else name = "bookshelf_nv_375X_up.png";
    imageBookshelfNavbar_ = barImage(name, "bookshelf_nv_p.png");
    return imageBookshelfNavbar_;
}

ui::ImageRef ThemeLoader::getBookshelfTookbarBGImage(bool landscape) {
    std::string name;
    if (landscape) {
        if (imageBookshelfToolbarLandscape_) return imageBookshelfToolbarLandscape_;
        if (BookCommonDevice::isDeviceType4_7inch()) name = "bookshelf_tb_667.png";
        else if (BookCommonDevice::isDeviceType_Notch()) name = "bookshelf_tb_X.png";
        else if (BookCommonDevice::isDeviceType5_5inch()) name = "bookshelf_tb_736.png";
        else if (BookCommonDevice::isDeviceType4inch()) name = "bookshelf_tb_l4inch.png";
        else name = BookCommonDevice::hasSafeArea() ? "bookshelf_tb_l_new.png" : "bookshelf_tb_l.png";
        imageBookshelfToolbarLandscape_ = barImage(name, "bookshelf_tb_l.png");
        return imageBookshelfToolbarLandscape_;
    }
    imageBookshelfToolbar_.reset();
    if (BookCommonDevice::isDeviceType4_7inch()) name = "bookshelf_tb_375.png";
    else if (BookCommonDevice::isDeviceType_Notch()) name = "bookshelf_tb_375X.png";
    else if (BookCommonDevice::isDeviceType5_5inch()) name = "bookshelf_tb_414.png";
    else name = "bookshelf_tb_p.png";
    imageBookshelfToolbar_ = barImage(name, "bookshelf_tb_p.png");
    return imageBookshelfToolbar_;
}

void ThemeLoader::releaseAllImage() {
    for (auto* slot : {&imageBookshelfBG_, &imageBookshelfBGLandscape_, &imageBookshelfFolder_,
                       &imageBookshelfFolderRemote_, &imageBookshelfBook_, &imageBookshelfNoLoad_, &imageBookshelfNavbar_,
                       &imageBookshelfToolbar_, &imageBookshelfNavbarLandscape_, &imageBookshelfToolbarLandscape_})
        slot->reset();
    loadedBGName_.clear();
}
