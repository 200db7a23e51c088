#include "foundation/BookCommonPaths.h"

#include "foundation/BookCommonDevice.h"
#include "foundation/BookCommonLocks.h"
#include "foundation/BookCommonText.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/CheckDocumentsDirectory.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LibMD5.h"
#include "foundation/QNKeyChain.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/QNUrl.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/Unicode.h"
#include "platform/core/UserDefaults.h"

#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <unistd.h>
#include <set>

namespace {

using sys::FileManager;
using sys::Path;

std::string join(const std::string& a, const std::string& b) { return Path::stringByAppendingPathComponent(a, b); }
std::string parentOf(const std::string& p) { return Path::stringByDeletingLastPathComponent(p); }
std::string lastOf(const std::string& p) { return Path::lastPathComponent(p); }

bool exists(const std::string& p, bool* isDir = nullptr) { return FileManager::fileExists(p, isDir); }
void mkdirs(const std::string& p) { FileManager::createDirectory(p, true); }
void removeQuietly(const std::string& p) { FileManager::removeItem(p); }

bool iequal(const std::string& a, const std::string& b) { return sys::Unicode::caseInsensitiveCompare(a, b) == 0; }

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string trimTrailingSlashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

// The part of `path` after `folder` ("" for the folder itself, "/x" below
// it); nothing when the path is not in the folder.
std::optional<std::string> restBelow(const std::string& path, const std::string& folder) {
    std::string f = trimTrailingSlashes(folder);
    if (f.empty()) return std::nullopt;
    if (f == "/") return path.empty() || path[0] != '/' ? std::nullopt : std::optional<std::string>(path);
    if (path.size() < f.size() || path.compare(0, f.size(), f) != 0) return std::nullopt;
    if (path.size() == f.size()) return std::string();
    if (path[f.size()] != '/') return std::nullopt;
    return path.substr(f.size());
}

std::string md5Upper(const std::string& s) { return LibMD5::getMD5StringHexWithBytes(s.data(), s.size()); }

struct ExtensionPair {
    const char* book;
    const char* setting;
};
const ExtensionPair kSettingExtensions[] = {
    {"zip", "lbsz"}, {"cbz", "lbscz"},   {"rar", "lbsr"},      {"cbr", "lbscbr"},
    {"7z", "lbs7z"}, {"cb7", "lbscb7"}, {"pdf", "lbscpdf"}, {"epub", "lbscepub"},
};

bool isURL(const std::string& s) { return BookCommonTypes::isURL(s); }

// The book a setting file names (without its hidden-file dot): "N.lbsz" ->
// "N.zip"; nothing when the extension is not one of the mapped eight.
std::optional<std::string> bookNameForSettingName(const std::string& settingName) {
    auto bookExt = BookCommonPaths::getBookExtensionFromSettingFile(Path::pathExtension(settingName));
    if (!bookExt) return std::nullopt;
    return Path::stringByDeletingPathExtension(settingName) + "." + *bookExt;
}

std::string settingDirAsSettingName(const std::string& dirName) {
    std::string n = dirName;
    if (!n.empty() && n[0] == '.') n.erase(0, 1);
    if (endsWith(n, "_config")) n.erase(n.size() - 7);
    return n;
}

// The special directory's folder that a folder under the special books'
// setting folder mirrors.
std::string specialFolderFor(const std::string& settingFolder) {
    auto rest = restBelow(settingFolder, BookCommonPaths::getSpecialBookSettingDir());
    return BookCommonPaths::getSpecialDirectory() + rest.value_or("");
}

std::string decodeUrlPathPart(const std::string& raw) {
    std::string bytes = QNUrl::getCStringWithEncodedUrl(raw);
    if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    // A NUL inside a name would cut it short as a C string.
    std::replace(bytes.begin(), bytes.end(), '\0', '_');
    if (sys::Unicode::isValidUtf8(bytes)) return bytes;
    if (auto text = QNTextEncoding::stringWithCString(bytes.c_str())) return *text;
    return {};
}

std::mt19937& randomEngine() {
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

bool isSkippedSettingName(const std::string& name) {
    return name == "directory.plist" || name == ".history.lbs" || name == ".thumbs.dat";
}

}  // namespace

// ---- Folders ----

std::string BookCommonPaths::getBooksDocumentsFolder() { return sys::AppPaths::documents(); }
std::string BookCommonPaths::getBooksRootFolder() { return getBooksDocumentsFolder(); }
std::string BookCommonPaths::getInboxPath() { return join(getBooksDocumentsFolder(), "Inbox"); }

std::string BookCommonPaths::getBooksTempRoot() {
    if (BookCommonDevice::checkOSVersionWithString("5.0.1")) return join(sys::AppPaths::library(), "downloads");
    return join(join(sys::AppPaths::library(), "Caches"), "Books");
}

std::string BookCommonPaths::getSettingsFolder() { return join(sys::AppPaths::library(), "lbconfigs"); }
std::string BookCommonPaths::getGlobalSettingDirectory() { return join(sys::AppPaths::library(), "Preferences"); }
std::string BookCommonPaths::getOnlineBookConfingBaseFolder() { return join(sys::AppPaths::library(), "st"); }
std::string BookCommonPaths::getSpecialBookSettingDir() { return join(getSettingsFolder(), ".SpecialDir"); }
std::string BookCommonPaths::getSpecialDirectory() { return join(sys::AppPaths::home(), "Pictures"); }

bool BookCommonPaths::isLeafbrightLibraryDownloadDirectory(const std::string& path) {
    return isPathInFolder(path, join(getBooksTempRoot(), ".BookLibrary"));
}

bool BookCommonPaths::isPathInFolder(const std::string& path, const std::string& folder) {
    return restBelow(path, folder).has_value();
}

// ---- Files of the settings folder ----

std::string BookCommonPaths::getLastBookSettingFilePath() { return join(getSettingsFolder(), ".last.lbs"); }
std::string BookCommonPaths::getCurrenctViewSettingFilePath() { return join(getSettingsFolder(), ".current.lbs"); }
std::string BookCommonPaths::getHistoryFilePath() { return join(getSettingsFolder(), ".readinghistory.lbs"); }

void BookCommonPaths::updateCurrentView(const std::optional<std::string>& path, bool isHome) {
    std::string folder = path ? *path : getCurrentViewSetting();
    mkdirs(getSettingsFolder());
    sys::PlistArray record{sys::PlistValue(folder), sys::PlistValue(static_cast<int64_t>(isHome ? 0 : 1))};
    sys::PropertyList::writeFile(sys::PlistValue(record), getCurrenctViewSettingFilePath());
}

std::string BookCommonPaths::getCurrentViewSetting(bool* isHome) {
    auto record = sys::PropertyList::readArray(getCurrenctViewSettingFilePath());
    if (!record || record->size() < 2) return "";
    if (isHome) *isHome = (*record)[1].integerValue() == 0;
    return (*record)[0].asString();
}

// ---- Paths relative to the library root ----

bool BookCommonPaths::isTempBooksSaveDirectory(const std::string& path) {
    return isPathInFolder(path, getBooksTempRoot());
}

bool BookCommonPaths::isDocumentsDirectory(const std::string& path) {
    return isPathInFolder(path, getBooksDocumentsFolder());
}

std::string BookCommonPaths::getPathFromBooksTempRootDir(const std::string& path) {
    return restBelow(path, getBooksTempRoot()).value_or("");
}

std::string BookCommonPaths::getPathFromSpecialDir(const std::string& path) {
    return restBelow(path, getSpecialDirectory()).value_or("");
}

std::optional<std::string> BookCommonPaths::fromBooksToFromRoot(const std::optional<std::string>& rel) {
    if (!rel) return std::nullopt;
    if (rel->empty()) return getBooksRootFolder();
    if ((*rel)[0] == '?') return getSpecialDirectory() + rel->substr(1);
    if ((*rel)[0] == '*') return getBooksTempRoot() + rel->substr(1);
    return join(getBooksRootFolder(), *rel);
}

std::string BookCommonPaths::fromRootToFromBooks(const std::string& path) {
    if (auto rest = restBelow(path, getBooksTempRoot())) return "*" + *rest;
    if (auto rest = restBelow(path, getBooksRootFolder())) {
        if (!rest->empty() && (*rest)[0] == '/') rest->erase(0, 1);
        return *rest;
    }
    return "";
}

std::string BookCommonPaths::getBookFromPathFromSpecialFullPath(const std::string& path) {
    return "?" + getPathFromSpecialDir(path);
}

std::string BookCommonPaths::getRelativePath(const std::string& path) {
    auto rest = restBelow(path, sys::AppPaths::home());
    if (rest && !rest->empty()) return *rest;
    return path;
}

std::string BookCommonPaths::getAbsolutePath(const std::string& relativePath) {
    return join(sys::AppPaths::home(), relativePath);
}

std::string BookCommonPaths::getBookPathFromSpecialSetting(const std::string& settingFile,
                                                           const std::string& extension) {
    std::string name = lastOf(settingFile);
    if (!name.empty() && name[0] == '.') name.erase(0, 1);
    std::string visible = join(parentOf(settingFile), name);
    std::string rest = restBelow(visible, getSpecialBookSettingDir()).value_or("");
    rest = Path::stringByAppendingPathExtension(Path::stringByDeletingPathExtension(rest), extension);
    return getSpecialDirectory() + rest;
}

// ---- Per-book side files ----

std::string BookCommonPaths::addHideCharFile(const std::string& path) {
    return join(parentOf(path), "." + lastOf(path));
}

std::string BookCommonPaths::settingExtensionForBookExtension(const std::string& ext) {
    for (const auto& p : kSettingExtensions)
        if (iequal(ext, p.book)) return p.setting;
    if (BookCommonTypes::isImageFileWithExtension(ext)) return "lbsi";
    return "lbscbr";
}

std::optional<std::string> BookCommonPaths::getBookExtensionFromSettingFile(const std::string& settingExtension) {
    for (const auto& p : kSettingExtensions)
        if (iequal(settingExtension, p.setting)) return std::string(p.book);
    return std::nullopt;
}

std::string BookCommonPaths::getBookSettingFile(const std::string& bookPath, bool createDirectory) {
    if (isURL(bookPath)) {
        std::string folder = getOnlineBookConfigSaveFolder(bookPath);
        if (createDirectory) mkdirs(folder);
        return join(folder, ".onlinebook");
    }
    std::string folder = parentOf(bookPath);
    // The special directory is not ours to write in: its books keep their
    // settings in a mirror of it under the settings folder.
    if (auto rest = restBelow(folder, getSpecialDirectory())) {
        folder = getSpecialBookSettingDir() + *rest;
        if (createDirectory) mkdirs(folder);
    }
    std::string name = lastOf(bookPath);
    std::string ext = Path::pathExtension(name);
    if (BookCommonTypes::isImageFileWithExtension(ext)) return addHideCharFile(join(folder, ".imagesequence.lbsi"));
    return join(folder, "." + Path::stringByDeletingPathExtension(name) + "." + settingExtensionForBookExtension(ext));
}

std::string BookCommonPaths::getBookSettingDir(const std::string& bookPath, bool createDirectory) {
    std::string dir = getBookSettingFile(bookPath, createDirectory) + "_config";
    if (createDirectory) mkdirs(dir);
    return dir;
}

std::string BookCommonPaths::getBookCacheDirOld(const std::string& bookPath, bool createDirectory) {
    std::string dir = join(getBookSettingDir(bookPath, createDirectory), "c");
    if (createDirectory) mkdirs(dir);
    return dir;
}

std::string BookCommonPaths::getBookMarkIndexFile(const std::string& bookPath, bool createDirectory) {
    return join(getBookSettingDir(bookPath, createDirectory), "bookmark.lbs");
}

bool BookCommonPaths::isExistBookMark(const std::string& bookPath) {
    bool isDir = false;
    return exists(getBookMarkIndexFile(bookPath, false), &isDir) && !isDir;
}

std::optional<std::string> BookCommonPaths::getAliasTarget(const std::string& aliasFile) {
    auto record = sys::PropertyList::readArray(aliasFile);
    if (!record || record->empty() || !(*record)[0].isString()) return std::nullopt;
    return (*record)[0].asString();
}

std::string BookCommonPaths::getBookSettingDirWithAliasFunction(const std::string& bookPath, bool createDirectory) {
    std::string path = bookPath;
    if (iequal(Path::pathExtension(path), "alias")) {
        auto target = getAliasTarget(path);
        if (!target) return "";
        path = *target;
    }
    return getBookSettingDir(path, createDirectory);
}

std::string BookCommonPaths::getBookSettingsFilename(const std::string& bookPath, bool createDirectory, bool isOld) {
    const char* name = isOld ? "booksettings.lbs" : "booksettings.dict";
    auto ext = BookCommonTypes::getExtensionFromStringOrURL(bookPath);
    if (!ext || ext->empty()) return "";
    if (isURL(bookPath)) {
        std::string folder = getOnlineBookConfigSaveFolder(bookPath);
        mkdirs(folder);
        return join(folder, name);
    }
    std::string dir = getBookSettingDirWithAliasFunction(bookPath, createDirectory);
    if (dir.empty()) return "";
    return join(dir, name);
}

std::string BookCommonPaths::getBookCacheDir(const std::string& bookPath, bool createDirectory) {
    std::string settingDir = getBookSettingDir(bookPath, false);
    std::string caches = sys::AppPaths::caches();
    std::string dir;
    if (isURL(bookPath)) {
        auto rest = restBelow(settingDir, getOnlineBookConfingBaseFolder()).value_or("/unknown");
        dir = join(join(caches, "_st") + rest, "cache");
    } else if (auto rest = restBelow(settingDir, getBooksRootFolder())) {
        dir = join(join(caches, "_book") + *rest, "cache");
    } else if (auto inSettings = restBelow(settingDir, getSettingsFolder())) {
        dir = join(join(join(caches, "_book") + *inSettings, "cache"), ".SpecialDir");
    } else {
        dir = join(settingDir, "cache");
    }
    if (createDirectory) mkdirs(dir);
    return dir;
}

std::string BookCommonPaths::withoutControlCharacters(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '_';
        } else if (c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(name[i + 1]) <= 0x9F) {
            out += '_';
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::optional<std::string> BookCommonPaths::confinePathComponent(const std::string& name) {
    std::string out = withoutControlCharacters(name);
    for (char& c : out)
        if (c == '/') c = '_';
    if (out.empty() || out == "." || out == "..") return std::nullopt;
    return out;
}

std::string BookCommonPaths::getOnlineBookConfigSaveFolder(const std::string& url) {
    return join(getOnlineBookConfingBaseFolder(), getOnlineBookConfigFolderName(url));
}

std::string BookCommonPaths::getOnlineBookConfigFolderName(const std::string& url) {
    auto parsed = QNUrl::URLWithString(url);
    if (!parsed) return "unknown";
    std::string component;
    if (BookCommonTypes::isImageFileWithFile(url)) {
        // Every image of a remote folder shares the folder's settings.
        component = decodeUrlPathPart(parentOf(parsed->path()));
        if (component.empty()) component = parsed->lastPathComponent();
    } else {
        component = decodeUrlPathPart(parsed->lastPathComponent());
        if (component.empty()) component = parsed->lastPathComponent();
    }
    return confinePathComponent(component).value_or("unknown");
}

// ---- Per-folder files ----

std::string BookCommonPaths::getDirectrySettingFile(const std::string& folder, bool, const std::string& filename) {
    if (!isURL(folder)) return join(folder, filename);
    std::string url = folder;
    if (url.empty() || url.back() != '/') url += "/";
    // The folder's own place under the remote-book settings, named by its
    // whole address as the remote last-read and sort files are: folders of
    // one name on different servers or paths keep their locks and orders
    // apart. Whoever writes the file makes the place.
    const std::string place = join(getOnlineBookConfingBaseFolder(), md5Upper(url));
    return join(place, confinePathComponent(filename).value_or("unknown"));
}

std::string BookCommonPaths::getLastReadingFileStoreFile(const std::string& folder) {
    if (isURL(folder)) return join(getOnlineBookConfingBaseFolder(), md5Upper(folder) + ".history");
    return join(folder, ".history.lbs");
}

std::string BookCommonPaths::getSortSettingFile(const std::string& folder) {
    if (isURL(folder)) return join(getOnlineBookConfingBaseFolder(), md5Upper(folder) + ".sort");
    return join(folder, ".local.sort");
}

std::string BookCommonPaths::getSortUserListFile(const std::string& folder) {
    return getDirectrySettingFile(folder, false, ".userlist.sort");
}

std::optional<std::string> BookCommonPaths::getThumbsFilenameForFolder(const std::string& folder, bool createDirectory) {
    if (isURL(folder)) {
        if (createDirectory) mkdirs(getOnlineBookConfingBaseFolder());
        return join(getOnlineBookConfingBaseFolder(), md5Upper(folder) + ".png");
    }
    if (BookCommonLocks::isFolderLocked(folder)) return std::nullopt;
    return join(folder, ".thumbs.dat");
}

bool BookCommonPaths::isFolderScanFiles(const std::string& folder) {
    return sys::PropertyList::readDictionary(join(folder, ".scan.lbs")).has_value();
}

// ---- Thumbnails ----

std::string BookCommonPaths::getThumbsFilename(const std::string& bookPath, bool createDirectory) {
    std::string path = bookPath;
    if (!isURL(path) && iequal(Path::pathExtension(path), "alias")) {
        auto target = getAliasTarget(path);
        if (!target) return "";
        path = *target;
    }
    auto ext = BookCommonTypes::getExtensionFromStringOrURL(path);
    if (!ext || ext->empty()) return "";
    std::string prefix;
    std::string fileName;
    if (isURL(path)) {
        auto parsed = QNUrl::URLWithString(path);
        if (!parsed || parsed->path().empty()) return "";
        prefix = md5Upper(parsed->path());
        fileName = parsed->lastPathComponent();
    } else {
        fileName = lastOf(path);
    }
    std::string dir = getBookSettingDir(path, createDirectory);
    if (BookCommonTypes::isImageFileWithExtension(*ext)) {
        std::string name = "thumb_" + prefix + fileName + ".jpg";
        return join(dir, confinePathComponent(name).value_or("thumb_.jpg"));
    }
    return join(dir, prefix + "thumbnail_1x.jpg");
}

std::optional<std::string> BookCommonPaths::getFirstThumbsFilenameForFolder(const std::string& folder) {
    auto record = sys::PropertyList::readArray(getLastReadingFileStoreFile(folder));
    if (record && !record->empty() && (*record)[0].isString() && !(*record)[0].asString().empty()) {
        const std::string& last = (*record)[0].asString();
        std::string book = isURL(last) ? last : join(folder, last);
        if (BookCommonTypes::isBookorPDFFileWithFilename(book)) {
            std::string thumb = getThumbsFilename(book, false);
            if (!thumb.empty() && exists(thumb)) return thumb;
        }
    }
    if (isURL(folder)) return std::nullopt;
    auto names = FileManager::contentsOfDirectory(folder);
    if (!names) return std::nullopt;
    for (const auto& name : *names) {
        if (!BookCommonTypes::isBookorPDFFileWithFilename(name)) continue;
        std::string thumb = getThumbsFilename(join(folder, name), false);
        if (!thumb.empty() && exists(thumb)) return thumb;
    }
    return std::nullopt;
}

std::optional<std::string> BookCommonPaths::getThumbsFilenameInArchive(const std::optional<std::string>& name) {
    if (!name || name->empty()) return std::nullopt;
    return Path::stringByDeletingPathExtension(*name) + ".plist";
}

// ---- Alias files ----

bool BookCommonPaths::createAliasFrom(const std::string& source, const std::string& destination) {
    std::string aliasPath = Path::stringByDeletingPathExtension(destination) + ".alias";
    return sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(source)}), aliasPath);
}

// ---- Setting files whose book is gone ----

bool BookCommonPaths::isSettingDir(const std::string& path) {
    std::string name = lastOf(path);
    return sys::Unicode::utf16Length(name) > 7 && name[0] == '.' && endsWith(name, "_config");
}

bool BookCommonPaths::isFileExistNoLetterSize(const std::string& folder, const std::string& file) {
    auto names = FileManager::contentsOfDirectory(folder);
    if (!names || names->empty()) return false;
    for (const auto& n : *names)
        if (iequal(n, file)) return true;
    return false;
}

bool BookCommonPaths::isExistBookFromSettingfile(const std::string& settingFile) {
    std::string name = lastOf(settingFile);
    if (name.empty() || name[0] != '.') return true;
    auto book = bookNameForSettingName(name.substr(1));
    if (!book) return true;
    return isFileExistNoLetterSize(parentOf(settingFile), *book);
}

bool BookCommonPaths::isExistBookFromSettingDir(const std::string& settingDir) {
    auto book = bookNameForSettingName(settingDirAsSettingName(lastOf(settingDir)));
    if (!book) return true;
    return isFileExistNoLetterSize(parentOf(settingDir), *book);
}

bool BookCommonPaths::isExistBookFromSettingfileInSpecial(const std::string& settingFile) {
    std::string name = lastOf(settingFile);
    if (name.empty() || name[0] != '.') return true;
    auto book = bookNameForSettingName(name.substr(1));
    if (!book) return true;
    return isFileExistNoLetterSize(specialFolderFor(parentOf(settingFile)), *book);
}

bool BookCommonPaths::isExistBookFromSettingDirInSpecial(const std::string& settingDir) {
    auto book = bookNameForSettingName(settingDirAsSettingName(lastOf(settingDir)));
    if (!book) return true;
    return isFileExistNoLetterSize(specialFolderFor(parentOf(settingDir)), *book);
}

// ---- Where downloads go ----

std::optional<std::string> BookCommonPaths::checkSaveFolder(const std::optional<std::string>& path) {
    if (!path) return std::nullopt;
    if (path->empty()) return getBooksTempRoot();
    if (isInNotBackupFolder(*path) || !isDocumentsDirectory(*path)) return path;
    return getBooksTempRoot();
}

std::string BookCommonPaths::getTempFolderName() {
    auto name = sys::UserDefaults::standard().stringForKey("TempFolderDispName");
    if (name && !name->empty()) return *name;
    return BookCommonText::localizedStringWithOnOff("Downloads");
}

void BookCommonPaths::setTempFolderName(const std::string& name) {
    auto& defaults = sys::UserDefaults::standard();
    if (name.empty())
        defaults.removeObjectForKey("TempFolderDispName");
    else
        defaults.setObject(sys::PlistValue(name), "TempFolderDispName");
    defaults.synchronize();
}

int BookCommonPaths::getFilesInDownloads() {
    std::string root = getBooksTempRoot();
    auto names = FileManager::contentsOfDirectory(root);
    if (!names) return 0;
    int count = 0;
    for (const auto& name : *names) {
        bool isDir = false;
        if (!exists(join(root, name), &isDir)) continue;
        if (isDir) {
            if (name[0] != '.' || name == ".BookLibrary") ++count;
        } else if (BookCommonTypes::isBookorPDFFileorThemeWithFilename(name)) {
            ++count;
        }
    }
    return count;
}

bool BookCommonPaths::isExistItemsInDocumentsFolder() {
    std::string root = getBooksDocumentsFolder();
    auto names = FileManager::contentsOfDirectory(root);
    if (!names) return false;
    for (const auto& name : *names) {
        std::string full = join(root, name);
        bool isDir = false;
        if (!exists(full, &isDir)) continue;
        if (isDir) {
            if (!CheckDocumentsDirectory::isDontMoveItemsInDocuments(full)) return true;
        } else if (BookCommonTypes::isBookorPDFFileorThemeWithFilename(name)) {
            return true;
        }
    }
    return false;
}

// ---- Backup exclusion ----

bool BookCommonPaths::setBackupFlag(const std::string& path, bool isBackup) {
    if (!BookCommonDevice::checkOSVersionWithString("5.0.1")) return false;
    return FileManager::setExcludedFromBackup(path, !isBackup);
}

bool BookCommonPaths::getBackupFlag(const std::string& path) {
    if (!BookCommonDevice::checkOSVersionWithString("5.0.1")) return true;
    return !FileManager::isExcludedFromBackup(path);
}

bool BookCommonPaths::isInNotBackupFolder(const std::string& path) {
    if (!BookCommonDevice::checkOSVersionWithString("5.0.1")) return false;
    std::string home = trimTrailingSlashes(sys::AppPaths::home());
    std::string p = trimTrailingSlashes(path);
    while (!p.empty() && p != home) {
        if (!getBackupFlag(p)) return true;
        std::string up = parentOf(p);
        if (up == p) break;
        p = up;
    }
    return false;
}

// ---- Identity, certificates, key chain ----

std::string BookCommonPaths::createUUID() {
    std::random_device rd;
    unsigned char b[16];
    for (int i = 0; i < 16; i += 4) {
        uint32_t r = rd();
        for (int k = 0; k < 4; ++k) b[i + k] = static_cast<unsigned char>(r >> (8 * k));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // the standard variant
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

std::string BookCommonPaths::getDeviceIDOfThisDevice() {
    auto& defaults = sys::UserDefaults::standard();
    auto id = defaults.stringForKey("DEVICE_ID");
    if (id && !id->empty()) return *id;
    std::string fresh = createUUID();
    defaults.setObject(sys::PlistValue(fresh), "DEVICE_ID");
    defaults.synchronize();
    return fresh;
}

std::vector<std::string> BookCommonPaths::getSslCertificateArray() {
    std::vector<std::string> certificates;
    std::string root = getBooksDocumentsFolder();
    auto names = FileManager::contentsOfDirectory(root);
    if (!names) return certificates;
    for (const auto& name : *names) {
        std::string ext = sys::Unicode::lowercase(Path::pathExtension(name));
        if (ext != "der" && ext != "cer") continue;
        auto bytes = FileManager::contentsOfFile(join(root, name), 1 << 20);
        if (!bytes || bytes->empty()) continue;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes->data());
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(bytes->size()));
        if (!cert) continue;
        X509_free(cert);
        certificates.push_back(*bytes);
    }
    return certificates;
}

void BookCommonPaths::deleteAllHttpUrlKeyChain() {
    for (const auto& url : QNKeyChain::listAllURL()) {
        if (url.rfind("http", 0) == 0 || url.rfind("ftp", 0) == 0 || url.rfind("smb", 0) == 0)
            QNKeyChain::deleteAccountWithURL(url);
    }
}

// ---- Books with their side files ----

bool BookCommonPaths::deleteBook(const std::string& path) {
    std::string ext = Path::pathExtension(path);
    // An image stands for its folder's image book: its side files belong to
    // the folder and stay while other images remain.
    if (BookCommonTypes::isBookorPDFFileWithExtension(ext) && !BookCommonTypes::isImageFileWithExtension(ext)) {
        removeQuietly(getBookSettingFile(path, false));
        removeQuietly(getBookSettingDir(path, false));
        removeQuietly(getBookCacheDir(path, false));
    } else if (iequal(ext, "shortcut")) {
        if (auto site = sys::PropertyList::readDictionary(path)) {
            const sys::PlistValue& id = site->get("id");
            if (id.isString()) QNKeyChain::deletePasswordWithAccount(id.asString(), "MediaServer");
        }
    }
    return FileManager::removeItem(path);
}

bool BookCommonPaths::moveBook(const std::string& from, const std::string& to) {
    if (from == to || !exists(from)) return false;
    if (!FileManager::moveItem(from, to)) return false;
    bool isDir = false;
    // The reading history follows the book, or the books inside the folder.
    if (exists(to, &isDir) && isDir) {
        HistoryCollector::followMove(from, to);
        return true;
    }
    // The side files of an image belong to its folder, not to the image.
    if (BookCommonTypes::isImageFileWithExtension(Path::pathExtension(to))) return true;
    HistoryCollector::followMove(from, to);

    std::string oldSetting = getBookSettingFile(from, false);
    std::string newSetting = getBookSettingFile(to, false);
    std::string oldDir = getBookSettingDir(from, false);
    std::string newDir = getBookSettingDir(to, false);
    std::string oldCache = getBookCacheDir(from, false);
    std::string newCache = getBookCacheDir(to, true);
    removeQuietly(newCache);
    std::string temp = join(sys::AppPaths::tmp(), "cache_copy_temp");
    removeQuietly(temp);

    FileManager::moveItem(oldCache, temp);
    // What the new name had (a book of that name deleted earlier) gives way
    // to what the book brings.
    if (exists(oldSetting)) removeQuietly(newSetting);
    FileManager::moveItem(oldSetting, newSetting);
    removeQuietly(newDir);
    FileManager::moveItem(oldDir, newDir);
    removeQuietly(newCache);
    mkdirs(parentOf(newCache));
    if (!FileManager::moveItem(temp, newCache)) removeQuietly(temp);
    // The cache's own folder of the old name goes once it is empty (it
    // held nothing but the cache), and so does a setting folder that could
    // not be moved: nothing is left under a name no book has.
    if (parentOf(oldCache) != oldDir) ::rmdir(parentOf(oldCache).c_str());
    if (exists(oldDir)) removeQuietly(oldDir);
    if (exists(oldSetting)) removeQuietly(oldSetting);
    return true;
}

void BookCommonPaths::removeSettingsInDocumentsDir(const std::string& folder) {
    auto names = FileManager::contentsOfDirectory(folder);
    if (!names || names->empty()) return;
    std::vector<std::string> examined;
    if (names->size() >= 31) {
        std::uniform_int_distribution<size_t> pick(0, names->size() - 1);
        for (int i = 0; i < 30; ++i) examined.push_back((*names)[pick(randomEngine())]);
    } else {
        examined = *names;
    }
    for (const auto& name : examined) {
        if (isSkippedSettingName(name)) continue;
        std::string full = join(folder, name);
        bool isDir = false;
        if (!exists(full, &isDir)) continue;
        if (isDir) {
            if (isSettingDir(full) && !isExistBookFromSettingDir(full)) removeQuietly(full);
        } else if (!isExistBookFromSettingfile(full)) {
            removeQuietly(full);
        }
    }
}

int BookCommonPaths::removeSpecialBookSettings(const std::string& folder) {
    auto names = FileManager::contentsOfDirectory(folder);
    if (!names) return 0;
    int count = 0;
    for (const auto& name : *names) {
        if (isSkippedSettingName(name)) continue;
        ++count;
        std::string full = join(folder, name);
        bool isDir = false;
        if (!exists(full, &isDir)) continue;
        if (!isDir) {
            if (!isExistBookFromSettingfileInSpecial(full)) removeQuietly(full);
        } else if (isSettingDir(full)) {
            if (!isExistBookFromSettingDirInSpecial(full)) removeQuietly(full);
        } else if (removeSpecialBookSettings(full) == 0) {
            removeQuietly(full);
        }
    }
    return count;
}

void BookCommonPaths::removeNoReferenceCacheInFolder(const std::string& folder) {
    std::string cacheParent = parentOf(parentOf(getBookCacheDir(join(folder, "test"), false)));
    auto candidates = FileManager::contentsOfDirectory(cacheParent);
    if (!candidates || candidates->empty()) return;
    std::set<std::string> left(candidates->begin(), candidates->end());

    auto names = FileManager::contentsOfDirectory(folder);
    if (names) {
        for (const auto& name : *names) {
            if (left.empty()) break;
            std::string full = join(folder, name);
            bool isDir = false;
            if (!exists(full, &isDir)) continue;
            if (!isDir && BookCommonTypes::isBookorPDFFileWithFilename(name)) {
                left.erase(lastOf(getBookSettingDir(full, false)));
            } else if (isDir && (sys::Unicode::utf16Length(name) < 6 || !endsWith(name, "_cache"))) {
                left.erase(name);
            }
        }
    }
    // Only a mirror under the caches folder is all cache; anywhere else (the
    // download folder and its subfolders) the books' own files live beside
    // the caches, so only "_cache" folders may go.
    bool inCaches = isPathInFolder(cacheParent, sys::AppPaths::caches());
    for (const auto& name : left) {
        if (!inCaches && !endsWith(name, "_cache")) continue;
        removeQuietly(join(cacheParent, name));
    }
}

bool BookCommonPaths::compairFileHalfway(const std::string& file1, const std::string& file2) {
    auto size1 = FileManager::fileSize(file1);
    auto size2 = FileManager::fileSize(file2);
    if (!size1 || !size2 || *size1 != *size2) return false;
    FILE* a = std::fopen(file1.c_str(), "rb");
    if (!a) return false;
    FILE* b = std::fopen(file2.c_str(), "rb");
    if (!b) {
        std::fclose(a);
        return false;
    }
    const uint64_t size = *size1;
    constexpr size_t kSample = 128;
    bool same = true;
    auto compareSample = [&]() {
        unsigned char x[kSample], y[kSample];
        size_t na = std::fread(x, 1, kSample, a);
        size_t nb = std::fread(y, 1, kSample, b);
        return na == nb && std::equal(x, x + na, y);
    };
    if (size < kSample) {
        // Too small for samples: the whole files are compared.
        same = compareSample();
    } else {
        same = compareSample();
        for (int i = 0; same && i < 6; ++i) {
            long step = static_cast<long>(size / 8);
            same = std::fseek(a, step, SEEK_CUR) == 0 && std::fseek(b, step, SEEK_CUR) == 0 && compareSample();
        }
        if (same) {
            long tail = static_cast<long>(size - kSample);
            same = std::fseek(a, tail, SEEK_SET) == 0 && std::fseek(b, tail, SEEK_SET) == 0 && compareSample();
        }
    }
    std::fclose(a);
    std::fclose(b);
    return same;
}

// ---- Start-up version steps ----

void BookCommonPaths::checkLeafbrightVersion(const std::function<void()>& removeStreamCache) {
    std::string settings = getSettingsFolder();
    std::string versionFile = join(settings, ".version.lbs");
    int64_t last = 0;
    auto readVersion = [](const std::string& file) -> int64_t {
        auto record = sys::PropertyList::readArray(file);
        if (!record || record->empty()) return 0;
        return (*record)[0].integerValue();
    };
    // Records already holding this version are not written again: this
    // runs on every start, and each write waits for the disk.
    bool recorded = false;
    if (exists(versionFile)) {
        last = readVersion(versionFile);
        recorded = last == kLeafbrightVersion;
    } else {
        std::string oldFile = join(getBooksDocumentsFolder(), ".version.lbs");
        if (exists(oldFile)) {
            last = readVersion(oldFile);
            removeQuietly(oldFile);
        }
    }
    auto& defaults = sys::UserDefaults::standard();
    const int64_t inDefaults = defaults.integerForKey("LastVersion");
    last = std::max(last, inDefaults);

    if (inDefaults != kLeafbrightVersion) defaults.setInteger(kLeafbrightVersion, "LastVersion");
    defaults.synchronize();
    if (!recorded) {
        mkdirs(settings);
        sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(int64_t{kLeafbrightVersion})}),
                                     versionFile);
    }

    // A first run adds no shortcut to an online library: there is no such
    // site to open yet, and a row that does nothing when tapped is no help.
    if (last == 0) return;
    if (last < 403) {
        removeQuietly(join(settings, ".current.lbs"));
        removeQuietly(join(settings, ".last.lbs"));
        updateCurrentView(std::string("*"), true);
    }
    if (last < 700 && removeStreamCache) removeStreamCache();
    if (last > 810) return;
    std::string globalFile = join(settings, ".globalsettings.lbs");
    auto global = sys::PropertyList::readDictionary(globalFile);
    if (!global) return;
    const sys::PlistValue& smblib = global->get("smblib");
    if (smblib.isString() && smblib.asString() == "cifsstack") global->set("smblib", sys::PlistValue("auto"));
    sys::PropertyList::writeFile(sys::PlistValue(*global), globalFile);
}
