#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// BookCommon's operations for the folder layout and the per-book side files.
// Class operations only; reach them through BookCommon.
//
// Every folder lies under the application's home H (sys::AppPaths):
//   H/Documents                  library root ("books root")
//   H/Library/downloads          download folder (temporary books root)
//   H/Library/lbconfigs          settings folder
//   H/Library/st                 settings of remote books
//   H/Library/Caches/_book, _st  page caches of local and remote books
//   H/Pictures                   the special directory (the photo library)
//
// A book has a hidden setting file beside it (".N.lbsz" for N.zip), a
// setting directory (the setting file's name + "_config") and a page cache
// directory. Records keep book paths relative to the library root: "" is the
// root, "*..." lies in the download folder, "?..." in the special directory.
//
// Path operations are string work; a folder counts as containing a path only
// at a path boundary ("/x/Documents2" is not in "/x/Documents"). Names that
// come from servers and archives are confined to their folder. Operations
// that create folders ignore creation errors and return the path anyway.
class BookCommonPaths {
public:
    // ---- Folders ----
    static std::string getBooksDocumentsFolder();
    static std::string getBooksRootFolder();
    static std::string getInboxPath();
    static std::string getBooksTempRoot();
    static std::string getSettingsFolder();
    static std::string getGlobalSettingDirectory();
    static std::string getOnlineBookConfingBaseFolder();
    static std::string getSpecialBookSettingDir();
    static std::string getSpecialDirectory();
    // In the download folder's ".BookLibrary" (online-library downloads).
    static bool isLeafbrightLibraryDownloadDirectory(const std::string& path);

    // ---- Files of the settings folder ----
    static std::string getLastBookSettingFilePath();
    static std::string getCurrenctViewSettingFilePath();
    static std::string getHistoryFilePath();
    // ".current.lbs": [folder, 0 for the home view / 1 otherwise]. A missing
    // path keeps the folder stored now ("" when none).
    static void updateCurrentView(const std::optional<std::string>& path, bool isHome);
    // The stored folder, "" when missing; *isHome true when stored as home.
    static std::string getCurrentViewSetting(bool* isHome = nullptr);

    // ---- Paths relative to the library root ----
    static bool isTempBooksSaveDirectory(const std::string& path);
    static bool isDocumentsDirectory(const std::string& path);
    // The rest after the folder ("" when the path is not in it).
    static std::string getPathFromBooksTempRootDir(const std::string& path);
    static std::string getPathFromSpecialDir(const std::string& path);
    static std::optional<std::string> fromBooksToFromRoot(const std::optional<std::string>& pathFromBooks);
    // "*" + rest in the download folder; the rest without its "/" in the
    // library root; "" for any other path.
    static std::string fromRootToFromBooks(const std::string& path);
    static std::string getBookFromPathFromSpecialFullPath(const std::string& path);
    // Without the home prefix ("/Documents/a.zip"); other paths unchanged.
    static std::string getRelativePath(const std::string& path);
    static std::string getAbsolutePath(const std::string& relativePath);
    static std::string getBookPathFromSpecialSetting(const std::string& settingFile, const std::string& extension);

    // ---- Per-book side files ----
    static std::string addHideCharFile(const std::string& path);
    static std::string getBookSettingFile(const std::string& bookPath, bool createDirectory);
    static std::string getBookSettingDir(const std::string& bookPath, bool createDirectory);
    static std::string getBookCacheDirOld(const std::string& bookPath, bool createDirectory);
    static std::string getBookMarkIndexFile(const std::string& bookPath, bool createDirectory);
    static bool isExistBookMark(const std::string& bookPath);
    // "booksettings.dict" ("booksettings.lbs" for the old name); "" for a path
    // without extension; an alias file stands for its target.
    static std::string getBookSettingsFilename(const std::string& bookPath, bool createDirectory, bool isOld);
    static std::string getBookSettingDirWithAliasFunction(const std::string& bookPath, bool createDirectory);
    static std::string getBookCacheDir(const std::string& bookPath, bool createDirectory);
    // The book extension a setting extension stands for ("lbscz" -> "cbz").
    static std::optional<std::string> getBookExtensionFromSettingFile(const std::string& settingExtension);
    static std::string settingExtensionForBookExtension(const std::string& bookExtension);

    // The remote book's or remote folder's own folder under the remote-book
    // setting base: one confined component named after the address.
    static std::string getOnlineBookConfigSaveFolder(const std::string& url);
    // That folder's name alone (its last component), worked out without
    // touching the disk.
    static std::string getOnlineBookConfigFolderName(const std::string& url);
    // A name from a server or an archive as one path component: "/" and
    // control characters (NUL and the rest of C0, DEL, C1) become "_"; "",
    // "." and ".." are refused (nothing).
    static std::optional<std::string> confinePathComponent(const std::string& name);
    // The name with its control characters (C0, DEL, and C1 written as UTF-8)
    // made "_": a file name a list shows whole and a terminal prints as it is.
    static std::string withoutControlCharacters(const std::string& name);

    // ---- Per-folder files (local folder or folder address) ----
    // For an address, the file lies in a folder of its own under the
    // remote-book setting base, named by the upper-case MD5 of the address
    // (ending in "/"). Nothing is created here.
    static std::string getDirectrySettingFile(const std::string& folder, bool createDirectory,
                                              const std::string& filename);
    static std::string getLastReadingFileStoreFile(const std::string& folder);
    static std::string getSortSettingFile(const std::string& folder);
    static std::string getSortUserListFile(const std::string& folder);
    // Nothing for a locked folder.
    static std::optional<std::string> getThumbsFilenameForFolder(const std::string& folder, bool createDirectory);
    static bool isFolderScanFiles(const std::string& folder);

    // ---- Thumbnails ----
    static std::string getThumbsFilename(const std::string& bookPath, bool createDirectory);
    static std::optional<std::string> getFirstThumbsFilenameForFolder(const std::string& folder);
    static std::optional<std::string> getThumbsFilenameInArchive(const std::optional<std::string>& name);

    // ---- Alias files ----
    // Writes [source] to the destination with its extension replaced by "alias".
    static bool createAliasFrom(const std::string& source, const std::string& destination);
    // The target stored in an alias file; nothing when unreadable.
    static std::optional<std::string> getAliasTarget(const std::string& aliasFile);

    // ---- Setting files whose book is gone ----
    static bool isSettingDir(const std::string& path);
    static bool isFileExistNoLetterSize(const std::string& folder, const std::string& file);
    static bool isExistBookFromSettingfile(const std::string& settingFile);
    static bool isExistBookFromSettingDir(const std::string& settingDir);
    static bool isExistBookFromSettingfileInSpecial(const std::string& settingFile);
    static bool isExistBookFromSettingDirInSpecial(const std::string& settingDir);

    // ---- Where downloads go ----
    static std::optional<std::string> checkSaveFolder(const std::optional<std::string>& path);
    static std::string getTempFolderName();
    static void setTempFolderName(const std::string& name);
    static int getFilesInDownloads();
    static bool isExistItemsInDocumentsFolder();

    // ---- Backup exclusion ----
    static bool setBackupFlag(const std::string& path, bool isBackup);
    static bool getBackupFlag(const std::string& path);
    static bool isInNotBackupFolder(const std::string& path);

    // ---- Identity, certificates, key chain ----
    static std::string createUUID();
    static std::string getDeviceIDOfThisDevice();
    // DER bytes of the ".der"/".cer" certificates in the library root that parse.
    static std::vector<std::string> getSslCertificateArray();
    static void deleteAllHttpUrlKeyChain();

    // ---- Books with their side files ----
    // Removes the book (and, for books, its setting file, setting directory
    // and page cache; for a ".shortcut", its site password); the result is
    // that of removing the path itself.
    static bool deleteBook(const std::string& path);
    // Moves a book with its side files (a folder with what it holds); the
    // reading history names the new place. Never replaces an existing item:
    // NO when the source is missing, equal to the destination, or the move
    // itself fails.
    static bool moveBook(const std::string& from, const std::string& to);
    // Removes the setting files of books gone from the folder, examining at
    // most 30 entries per call (chosen at random in larger folders).
    static void removeSettingsInDocumentsDir(const std::string& folder);
    static int removeSpecialBookSettings(const std::string& folder);
    static void removeNoReferenceCacheInFolder(const std::string& folder);
    // Same size and eight equal 128-byte samples; small files are compared whole.
    static bool compairFileHalfway(const std::string& file1, const std::string& file2);

    // ---- Start-up version steps ----
    static constexpr int kLeafbrightVersion = 811;
    // Records this version and upgrades what older versions left. The stream
    // cache lives in a higher layer: its clearing is handed in.
    static void checkLeafbrightVersion(const std::function<void()>& removeStreamCache = {});

    // Whether `path` is `folder` itself or lies below it (a path boundary test).
    static bool isPathInFolder(const std::string& path, const std::string& folder);

protected:
    BookCommonPaths() = default;
};
