#include <gtest/gtest.h>

#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/LibMD5.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/Keychain.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/TestHome.h"

#include <fstream>
#include <regex>

namespace {

using sys::FileManager;
using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;
using sys::PropertyList;

// Every test runs on a fresh, private application home.
class BookCommonPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        sys::AppPaths::setHome(home_.path());
        sys::UserDefaults::standard().reload();
        sys::Keychain::setShared(sys::Keychain::inMemory());
        mkdir(docs());
    }
    void TearDown() override {
        sys::Keychain::setShared(nullptr);
        sys::AppPaths::setHome("");
        sys::UserDefaults::standard().reload();
    }

    std::string H() const { return home_.path(); }
    std::string docs() const { return H() + "/Documents"; }
    std::string downloads() const { return H() + "/Library/downloads"; }

    static void write(const std::string& path, const std::string& bytes = "x") {
        FileManager::createDirectory(sys::Path::stringByDeletingLastPathComponent(path), true);
        ASSERT_TRUE(FileManager::writeFile(path, bytes)) << path;
    }
    static void mkdir(const std::string& path) { ASSERT_TRUE(FileManager::createDirectory(path, true)) << path; }
    static bool exists(const std::string& path) { return FileManager::fileExists(path); }
    static std::string read(const std::string& path) { return FileManager::contentsOfFile(path).value_or("<none>"); }

    test::TempDir home_{"paths-home"};
};

TEST_F(BookCommonPathsTest, EveryRootLiesUnderTheHome) {
    EXPECT_EQ(BookCommon::getBooksDocumentsFolder(), docs());
    EXPECT_EQ(BookCommon::getBooksRootFolder(), docs());
    EXPECT_EQ(BookCommon::getInboxPath(), docs() + "/Inbox");
    EXPECT_EQ(BookCommon::getBooksTempRoot(), downloads());
    EXPECT_EQ(BookCommon::getSettingsFolder(), H() + "/Library/lbconfigs");
    EXPECT_EQ(BookCommon::getGlobalSettingDirectory(), H() + "/Library/Preferences");
    EXPECT_EQ(BookCommon::getOnlineBookConfingBaseFolder(), H() + "/Library/st");
    EXPECT_EQ(BookCommon::getSpecialBookSettingDir(), H() + "/Library/lbconfigs/.SpecialDir");
    EXPECT_EQ(BookCommon::getSpecialDirectory(), H() + "/Pictures");
    EXPECT_EQ(BookCommon::getLastBookSettingFilePath(), H() + "/Library/lbconfigs/.last.lbs");
    EXPECT_EQ(BookCommon::getCurrenctViewSettingFilePath(), H() + "/Library/lbconfigs/.current.lbs");
    EXPECT_EQ(BookCommon::getHistoryFilePath(), H() + "/Library/lbconfigs/.readinghistory.lbs");
}

TEST_F(BookCommonPathsTest, PrefixTestsStopAtAPathBoundary) {
    EXPECT_TRUE(BookCommon::isDocumentsDirectory(docs()));
    EXPECT_TRUE(BookCommon::isDocumentsDirectory(docs() + "/a/b.zip"));
    EXPECT_FALSE(BookCommon::isDocumentsDirectory(docs() + "2/b.zip"));
    EXPECT_FALSE(BookCommon::isDocumentsDirectory(H()));
    EXPECT_TRUE(BookCommon::isTempBooksSaveDirectory(downloads() + "/a.zip"));
    EXPECT_FALSE(BookCommon::isTempBooksSaveDirectory(downloads() + "-old/a.zip"));
    EXPECT_TRUE(BookCommon::isLeafbrightLibraryDownloadDirectory(downloads() + "/.BookLibrary/x.zip"));
    EXPECT_FALSE(BookCommon::isLeafbrightLibraryDownloadDirectory(downloads() + "/.BookLibraryX/x.zip"));
    EXPECT_EQ(BookCommon::getPathFromBooksTempRootDir(downloads() + "/a/b.zip"), "/a/b.zip");
    EXPECT_EQ(BookCommon::getPathFromBooksTempRootDir(downloads() + "X/b.zip"), "");
    EXPECT_EQ(BookCommon::getPathFromSpecialDir(H() + "/Pictures/DCIM/1.jpg"), "/DCIM/1.jpg");
    EXPECT_EQ(BookCommon::getPathFromSpecialDir(H() + "/Pictures2/1.jpg"), "");
    EXPECT_EQ(BookCommon::getBookFromPathFromSpecialFullPath(H() + "/Pictures/DCIM/1.jpg"), "?/DCIM/1.jpg");
    EXPECT_EQ(BookCommon::getRelativePath(docs() + "/a.zip"), "/Documents/a.zip");
    EXPECT_EQ(BookCommon::getRelativePath(H() + "x/a.zip"), H() + "x/a.zip");
    EXPECT_EQ(BookCommon::getRelativePath(H()), H());
    EXPECT_EQ(BookCommon::getAbsolutePath("/Documents/a.zip"), docs() + "/a.zip");
}

TEST_F(BookCommonPathsTest, RelativeFormsRoundTrip) {
    EXPECT_EQ(BookCommon::fromRootToFromBooks(downloads() + "/a.zip"), "*/a.zip");
    EXPECT_EQ(BookCommon::fromBooksToFromRoot(std::string("*/a.zip")), downloads() + "/a.zip");
    EXPECT_EQ(BookCommon::fromRootToFromBooks(docs()), "");
    EXPECT_EQ(BookCommon::fromBooksToFromRoot(std::string("")), docs());
    EXPECT_EQ(BookCommon::fromRootToFromBooks(docs() + "/sub/b.cbz"), "sub/b.cbz");
    EXPECT_EQ(BookCommon::fromBooksToFromRoot(std::string("sub/b.cbz")), docs() + "/sub/b.cbz");
    EXPECT_EQ(BookCommon::fromBooksToFromRoot(std::string("?/DCIM/1.jpg")), H() + "/Pictures/DCIM/1.jpg");
    EXPECT_EQ(BookCommon::fromBooksToFromRoot(std::nullopt), std::nullopt);
    // A neighbour of the library root is not in it.
    EXPECT_EQ(BookCommon::fromRootToFromBooks(docs() + "2/b.cbz"), "");
    EXPECT_EQ(BookCommon::fromRootToFromBooks("/"), "");
}

TEST_F(BookCommonPathsTest, SettingFilesOfLocalBooks) {
    EXPECT_EQ(BookCommon::getBookSettingFile(docs() + "/NOTES.CBZ", false), docs() + "/.NOTES.lbscz");
    EXPECT_EQ(BookCommon::getBookSettingFile(docs() + "/x.tar", false), docs() + "/.x.lbscbr");
    EXPECT_EQ(BookCommon::getBookSettingFile(docs() + "/a.b.Pdf", false), docs() + "/.a.b.lbscpdf");
    EXPECT_EQ(BookCommon::getBookSettingFile(docs() + "/F/001.jpg", false), docs() + "/F/..imagesequence.lbsi");
    EXPECT_EQ(BookCommon::getBookSettingDir(docs() + "/v.zip", false), docs() + "/.v.lbsz_config");
    EXPECT_EQ(BookCommon::getBookCacheDirOld(docs() + "/v.zip", false), docs() + "/.v.lbsz_config/c");
    EXPECT_EQ(BookCommon::getBookMarkIndexFile(docs() + "/v.zip", false), docs() + "/.v.lbsz_config/bookmark.lbs");
    EXPECT_EQ(BookCommon::getBookSettingsFilename(docs() + "/v.zip", false, false),
              docs() + "/.v.lbsz_config/booksettings.dict");
    EXPECT_EQ(BookCommon::getBookSettingsFilename(docs() + "/v.zip", false, true),
              docs() + "/.v.lbsz_config/booksettings.lbs");
    EXPECT_EQ(BookCommon::getBookSettingsFilename(docs() + "/noext", false, false), "");
    EXPECT_EQ(BookCommon::addHideCharFile("/a/b/c.zip"), "/a/b/.c.zip");

    EXPECT_FALSE(BookCommon::isExistBookMark(docs() + "/v.zip"));
    mkdir(docs() + "/.v.lbsz_config/bookmark.lbs");  // a folder is not a bookmark index
    EXPECT_FALSE(BookCommon::isExistBookMark(docs() + "/v.zip"));
    write(docs() + "/.w.lbsz_config/bookmark.lbs");
    EXPECT_TRUE(BookCommon::isExistBookMark(docs() + "/w.zip"));

    BookCommon::getBookSettingDir(docs() + "/made.zip", true);
    EXPECT_TRUE(exists(docs() + "/.made.lbsz_config"));

    for (auto [book, setting] : std::vector<std::pair<const char*, const char*>>{
             {"zip", "lbsz"}, {"cbz", "lbscz"}, {"rar", "lbsr"}, {"cbr", "lbscbr"},
             {"7z", "lbs7z"}, {"cb7", "lbscb7"}, {"pdf", "lbscpdf"}, {"epub", "lbscepub"}}) {
        EXPECT_EQ(BookCommon::settingExtensionForBookExtension(book), setting);
        EXPECT_EQ(BookCommon::getBookExtensionFromSettingFile(setting), book);
    }
    EXPECT_EQ(BookCommon::getBookExtensionFromSettingFile("lbsi"), std::nullopt);
    EXPECT_EQ(BookCommon::getBookExtensionFromSettingFile("txt"), std::nullopt);
}

TEST_F(BookCommonPathsTest, BooksOfTheSpecialDirectoryKeepTheirSettingsInTheSettingsFolder) {
    std::string book = H() + "/Pictures/DCIM/a.zip";
    std::string setting = BookCommon::getBookSettingFile(book, true);
    EXPECT_EQ(setting, H() + "/Library/lbconfigs/.SpecialDir/DCIM/.a.lbsz");
    EXPECT_TRUE(exists(H() + "/Library/lbconfigs/.SpecialDir/DCIM"));
    EXPECT_EQ(BookCommon::getBookPathFromSpecialSetting(setting, "zip"), book);
    EXPECT_EQ(BookCommon::getBookCacheDir(book, false),
              H() + "/Library/Caches/_book/.SpecialDir/DCIM/.a.lbsz_config/cache/.SpecialDir");
}

TEST_F(BookCommonPathsTest, AliasFilesStandForTheirTarget) {
    std::string target = docs() + "/real.zip";
    ASSERT_TRUE(BookCommon::createAliasFrom(target, docs() + "/link.zip"));
    ASSERT_TRUE(exists(docs() + "/link.alias"));
    EXPECT_EQ(BookCommon::getAliasTarget(docs() + "/link.alias"), target);
    EXPECT_EQ(BookCommon::getBookSettingsFilename(docs() + "/link.alias", false, false),
              docs() + "/.real.lbsz_config/booksettings.dict");
    EXPECT_EQ(BookCommon::getThumbsFilename(docs() + "/link.alias", false),
              docs() + "/.real.lbsz_config/thumbnail_1x.jpg");
    EXPECT_EQ(BookCommon::getBookSettingsFilename(docs() + "/broken.alias", false, false), "");
}

TEST_F(BookCommonPathsTest, PageCacheFolders) {
    EXPECT_EQ(BookCommon::getBookCacheDir(docs() + "/sub/v.zip", false),
              H() + "/Library/Caches/_book/sub/.v.lbsz_config/cache");
    EXPECT_EQ(BookCommon::getBookCacheDir(downloads() + "/v.zip", false), downloads() + "/.v.lbsz_config/cache");
    EXPECT_EQ(BookCommon::getBookCacheDir("http://srv/books/v.zip", false),
              H() + "/Library/Caches/_st/v.zip/.onlinebook_config/cache");
    std::string made = BookCommon::getBookCacheDir(docs() + "/m.cbz", true);
    EXPECT_TRUE(exists(made));
}

TEST_F(BookCommonPathsTest, RemoteBookFoldersAreConfinedToTheSettingBase) {
    std::string base = H() + "/Library/st";
    EXPECT_EQ(BookCommon::getOnlineBookConfigSaveFolder("http://srv/books/vol%201.zip"), base + "/vol 1.zip");
    EXPECT_EQ(BookCommon::getBookSettingFile("http://srv/books/v.zip", false), base + "/v.zip/.onlinebook");
    EXPECT_EQ(BookCommon::getBookSettingDir("http://srv/books/v.zip", false), base + "/v.zip/.onlinebook_config");
    // Images share their folder's place, named after the whole folder path.
    EXPECT_EQ(BookCommon::getOnlineBookConfigSaveFolder("http://srv/a/b%20c/001.jpg"), base + "/_a_b c");
    EXPECT_EQ(BookCommon::getOnlineBookConfigSaveFolder("no address"), base + "/unknown");

    // Names that would climb out of the base or cut the name short.
    for (const char* url : {"http://srv/a/..", "http://srv/a/%2E%2E", "http://srv/.", "http://srv"}) {
        EXPECT_EQ(BookCommon::getOnlineBookConfigSaveFolder(url), base + "/unknown") << url;
    }
    EXPECT_EQ(BookCommon::getOnlineBookConfigSaveFolder("http://srv/x/..%2F..%2Fetc"), base + "/.._.._etc");
    for (const char* url : {"http://srv/x/..%2F..%2Fetc", "http://srv/%2F", "ftp://h/a/%2e%2e%2f%2e%2e/1.png",
                            "http://srv/x/a%00b.zip", "http://srv/x/%00"}) {
        std::string folder = BookCommon::getOnlineBookConfigSaveFolder(url);
        EXPECT_EQ(sys::Path::stringByDeletingLastPathComponent(folder), base) << url;
        std::string last = sys::Path::lastPathComponent(folder);
        EXPECT_NE(last, "..");
        EXPECT_NE(last, ".");
        EXPECT_EQ(last.find('\0'), std::string::npos);
    }
    // Shift-JIS escapes decode to text.
    EXPECT_EQ(BookCommon::getOnlineBookConfigSaveFolder("smb://srv/share/%8A%BF%8E%9A.zip"), base + "/漢字.zip");

    EXPECT_EQ(BookCommon::confinePathComponent("a/b"), "a_b");
    EXPECT_EQ(BookCommon::confinePathComponent(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(BookCommon::confinePathComponent("e\x1b[1m\n\x7f\xC2\x9B\xC3\xA9.cbz"), "e_[1m___\xC3\xA9.cbz");
    EXPECT_EQ(BookCommon::confinePathComponent(".."), std::nullopt);
    EXPECT_EQ(BookCommon::confinePathComponent(""), std::nullopt);
    EXPECT_EQ(BookCommon::confinePathComponent("..."), "...");
}

TEST_F(BookCommonPathsTest, RemoteBookSettingsFileCreatesItsFolder) {
    std::string file = BookCommon::getBookSettingsFilename("http://srv/x/v.zip", false, false);
    EXPECT_EQ(file, H() + "/Library/st/v.zip/booksettings.dict");
    EXPECT_TRUE(exists(H() + "/Library/st/v.zip"));
}

TEST_F(BookCommonPathsTest, PerFolderFiles) {
    std::string url = "http://srv/books/";
    std::string md5 = LibMD5::getMD5StringHexWithString(url);
    EXPECT_EQ(BookCommon::getLastReadingFileStoreFile(docs() + "/f"), docs() + "/f/.history.lbs");
    EXPECT_EQ(BookCommon::getLastReadingFileStoreFile(url), H() + "/Library/st/" + md5 + ".history");
    EXPECT_EQ(BookCommon::getSortSettingFile(docs() + "/f"), docs() + "/f/.local.sort");
    EXPECT_EQ(BookCommon::getSortSettingFile(url), H() + "/Library/st/" + md5 + ".sort");
    EXPECT_EQ(BookCommon::getSortUserListFile(docs() + "/f"), docs() + "/f/.userlist.sort");
    EXPECT_EQ(BookCommon::getThumbsFilenameForFolder(docs() + "/f", false), docs() + "/f/.thumbs.dat");
    EXPECT_EQ(BookCommon::getThumbsFilenameForFolder(url, false), H() + "/Library/st/" + md5 + ".png");
    EXPECT_EQ(BookCommon::getDirectrySettingFile(docs() + "/f", false, "directory.plist"),
              docs() + "/f/directory.plist");

    // Each remote folder has its own place for its files, named by its whole
    // address: two folders called "comics" on different servers or paths
    // keep their locks and orders apart.
    const std::string comics = "http://h/a/comics/", namesake = "http://x/y/comics/";
    const std::string place = H() + "/Library/st/" + LibMD5::getMD5StringHexWithString(comics);
    std::string a = BookCommon::getDirectrySettingFile(comics, false, "directory.plist");
    EXPECT_EQ(a, place + "/directory.plist");
    EXPECT_NE(BookCommon::getDirectrySettingFile(namesake, false, "directory.plist"), a);
    EXPECT_EQ(BookCommon::getDirectrySettingFile("http://h/a/comics", false, "directory.plist"), a)
        << "with or without the final slash";
    EXPECT_EQ(BookCommon::getSortUserListFile("http://h/a/comics"), place + "/.userlist.sort");
    EXPECT_EQ(BookCommon::getDirectrySettingFile(comics, false, "../../x"), place + "/.._.._x");
    EXPECT_FALSE(exists(H() + "/Library/st")) << "looking up creates nothing";

    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(comics));
    EXPECT_TRUE(FolderLockInfo::readFromFolder("http://h/a/comics").isPasscodeLock());
    EXPECT_FALSE(FolderLockInfo::readFromFolder(namesake).isPasscodeLock());
    EXPECT_FALSE(exists(H() + "/Library/st/" + LibMD5::getMD5StringHexWithString(namesake)));
}

TEST_F(BookCommonPathsTest, LockedFoldersHaveNoFolderThumbnail) {
    std::string folder = docs() + "/.lock_secret";
    mkdir(folder);
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(int64_t{1}), PlistValue("1234")}),
                                        folder + "/directory.plist"));
    EXPECT_EQ(BookCommon::getThumbsFilenameForFolder(folder, false), std::nullopt);
}

TEST_F(BookCommonPathsTest, ScanFolders) {
    mkdir(docs() + "/scan");
    EXPECT_FALSE(BookCommon::isFolderScanFiles(docs() + "/scan"));
    write(docs() + "/scan/.scan.lbs", "not a property list");
    EXPECT_FALSE(BookCommon::isFolderScanFiles(docs() + "/scan"));
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistDictionary{}), docs() + "/scan/.scan.lbs"));
    EXPECT_TRUE(BookCommon::isFolderScanFiles(docs() + "/scan"));
}

TEST_F(BookCommonPathsTest, ThumbnailNames) {
    EXPECT_EQ(BookCommon::getThumbsFilename(docs() + "/v.zip", false), docs() + "/.v.lbsz_config/thumbnail_1x.jpg");
    EXPECT_EQ(BookCommon::getThumbsFilename(docs() + "/F/p01.png", false),
              docs() + "/F/..imagesequence.lbsi_config/thumb_p01.png.jpg");
    std::string md5 = LibMD5::getMD5StringHexWithString("/books/v.zip");
    EXPECT_EQ(BookCommon::getThumbsFilename("http://srv/books/v.zip", false),
              H() + "/Library/st/v.zip/.onlinebook_config/" + md5 + "thumbnail_1x.jpg");
    EXPECT_EQ(BookCommon::getThumbsFilename(docs() + "/noext", false), "");
    EXPECT_EQ(BookCommon::getThumbsFilenameInArchive(std::string("dir/001.jpg")), "dir/001.plist");
    EXPECT_EQ(BookCommon::getThumbsFilenameInArchive(std::string("")), std::nullopt);
    EXPECT_EQ(BookCommon::getThumbsFilenameInArchive(std::nullopt), std::nullopt);
}

TEST_F(BookCommonPathsTest, TheThumbnailThatRepresentsAFolder) {
    std::string f = docs() + "/f";
    write(f + "/a.zip");
    write(f + "/b.zip");
    EXPECT_EQ(BookCommon::getFirstThumbsFilenameForFolder(f), std::nullopt);

    write(BookCommon::getThumbsFilename(f + "/b.zip", true));
    EXPECT_EQ(BookCommon::getFirstThumbsFilenameForFolder(f), BookCommon::getThumbsFilename(f + "/b.zip", false));

    write(BookCommon::getThumbsFilename(f + "/a.zip", true));
    EXPECT_EQ(BookCommon::getFirstThumbsFilenameForFolder(f), BookCommon::getThumbsFilename(f + "/a.zip", false));

    // The last book read wins over the listing order.
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue("b.zip")}), f + "/.history.lbs"));
    EXPECT_EQ(BookCommon::getFirstThumbsFilenameForFolder(f), BookCommon::getThumbsFilename(f + "/b.zip", false));
}

TEST_F(BookCommonPathsTest, CurrentViewRecord) {
    EXPECT_EQ(BookCommon::getCurrentViewSetting(), "");
    BookCommon::updateCurrentView(std::string("sub"), false);
    bool isHome = true;
    EXPECT_EQ(BookCommon::getCurrentViewSetting(&isHome), "sub");
    EXPECT_FALSE(isHome);
    BookCommon::updateCurrentView(std::nullopt, true);  // keeps the folder
    EXPECT_EQ(BookCommon::getCurrentViewSetting(&isHome), "sub");
    EXPECT_TRUE(isHome);
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue("x")}),
                                        BookCommon::getCurrenctViewSettingFilePath()));
    EXPECT_EQ(BookCommon::getCurrentViewSetting(), "");
}

TEST_F(BookCommonPathsTest, MovingABookTakesItsSideFilesAlong) {
    std::string from = docs() + "/a/v.zip";
    std::string to = docs() + "/b/w.zip";
    write(from, "book");
    write(docs() + "/a/.v.lbsz", "position");
    write(docs() + "/a/.v.lbsz_config/bookmark.lbs", "marks");
    write(BookCommon::getBookCacheDir(from, true) + "/001.jpg", "page");
    mkdir(docs() + "/b");

    ASSERT_TRUE(BookCommon::moveBook(from, to));
    EXPECT_FALSE(exists(from));
    EXPECT_EQ(read(to), "book");
    EXPECT_EQ(read(docs() + "/b/.w.lbsz"), "position");
    EXPECT_EQ(read(docs() + "/b/.w.lbsz_config/bookmark.lbs"), "marks");
    EXPECT_EQ(read(BookCommon::getBookCacheDir(to, false) + "/001.jpg"), "page");
    EXPECT_FALSE(exists(docs() + "/a/.v.lbsz"));
    EXPECT_FALSE(exists(docs() + "/a/.v.lbsz_config"));
    EXPECT_FALSE(exists(BookCommon::getBookCacheDir(from, false)));
    // The cache's own folder of the old name goes with it.
    EXPECT_FALSE(exists(sys::Path::stringByDeletingLastPathComponent(BookCommon::getBookCacheDir(from, false))));
    EXPECT_FALSE(exists(H() + "/tmp/cache_copy_temp"));
}

// A new name that a deleted book once had: its leftovers give way.
TEST_F(BookCommonPathsTest, MovingABookOverLeftoversOfTheNewNameKeepsWhatTheBookBrings) {
    std::string from = docs() + "/v.zip";
    std::string to = docs() + "/w.zip";
    write(from, "book");
    write(docs() + "/.v.lbsz", "position");
    write(docs() + "/.w.lbsz", "stale");
    write(docs() + "/.w.lbsz_config/bookmark.lbs", "stale marks");
    ASSERT_TRUE(BookCommon::moveBook(from, to));
    EXPECT_EQ(read(docs() + "/.w.lbsz"), "position");
    EXPECT_FALSE(exists(docs() + "/.w.lbsz_config/bookmark.lbs"));
    EXPECT_FALSE(exists(docs() + "/.v.lbsz"));
}

TEST_F(BookCommonPathsTest, MovingABookNeverReplacesAnExistingFile) {
    std::string from = docs() + "/v.zip";
    std::string to = downloads() + "/v.zip";
    write(from, "mine");
    write(to, "theirs");
    write(docs() + "/.v.lbsz", "my position");
    EXPECT_FALSE(BookCommon::moveBook(from, to));
    EXPECT_EQ(read(from), "mine");
    EXPECT_EQ(read(to), "theirs");
    EXPECT_EQ(read(docs() + "/.v.lbsz"), "my position");

    EXPECT_FALSE(BookCommon::moveBook(from, from));
    EXPECT_FALSE(BookCommon::moveBook(docs() + "/missing.zip", downloads() + "/x.zip"));
    EXPECT_FALSE(exists(downloads() + "/x.zip"));
}

TEST_F(BookCommonPathsTest, MovingAFolderOrAnImage) {
    write(docs() + "/dir/v.zip");
    ASSERT_TRUE(BookCommon::moveBook(docs() + "/dir", docs() + "/dir2"));
    EXPECT_TRUE(exists(docs() + "/dir2/v.zip"));

    // An image's side files are its folder's: another image folder keeps its own.
    write(docs() + "/A/001.jpg", "a");
    write(docs() + "/A/002.jpg", "a2");
    write(docs() + "/A/..imagesequence.lbsi", "A's position");
    write(docs() + "/B/..imagesequence.lbsi_config/bookmark.lbs", "B's marks");
    ASSERT_TRUE(BookCommon::moveBook(docs() + "/A/001.jpg", docs() + "/B/001.jpg"));
    EXPECT_EQ(read(docs() + "/B/..imagesequence.lbsi_config/bookmark.lbs"), "B's marks");
    EXPECT_EQ(read(docs() + "/A/..imagesequence.lbsi"), "A's position");
}

TEST_F(BookCommonPathsTest, DeletingABookTakesItsSideFiles) {
    std::string book = docs() + "/v.cbr";
    write(book);
    write(docs() + "/.v.lbscbr");
    write(docs() + "/.v.lbscbr_config/bookmark.lbs");
    write(BookCommon::getBookCacheDir(book, true) + "/p");
    write(docs() + "/other.cbr");
    EXPECT_TRUE(BookCommon::deleteBook(book));
    EXPECT_FALSE(exists(book));
    EXPECT_FALSE(exists(docs() + "/.v.lbscbr"));
    EXPECT_FALSE(exists(docs() + "/.v.lbscbr_config"));
    EXPECT_FALSE(exists(BookCommon::getBookCacheDir(book, false)));
    EXPECT_TRUE(exists(docs() + "/other.cbr"));
    EXPECT_FALSE(BookCommon::deleteBook(book));

    // A shortcut takes its site password with it.
    QNKeyChain::addOrUpdatePassword("pw", "site-1", "MediaServer");
    QNKeyChain::addOrUpdatePassword("pw2", "site-2", "MediaServer");
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistDictionary{{"id", PlistValue("site-1")}}),
                                        docs() + "/srv.Shortcut"));
    EXPECT_TRUE(BookCommon::deleteBook(docs() + "/srv.Shortcut"));
    EXPECT_FALSE(QNKeyChain::getPasswordWithAccount("site-1", "MediaServer"));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("site-2", "MediaServer"), "pw2");

    // One image of a folder goes; the folder's reading state stays.
    write(docs() + "/F/001.jpg");
    write(docs() + "/F/002.jpg");
    write(docs() + "/F/..imagesequence.lbsi", "state");
    EXPECT_TRUE(BookCommon::deleteBook(docs() + "/F/001.jpg"));
    EXPECT_EQ(read(docs() + "/F/..imagesequence.lbsi"), "state");
}

TEST_F(BookCommonPathsTest, SettingsOfBooksThatAreGone) {
    std::string f = docs() + "/f";
    write(f + "/Kept.ZIP");
    write(f + "/.kept.lbsz");             // the book is there, in another case
    write(f + "/.gone.lbsz");             // the book is gone
    write(f + "/.gone.lbscbr_config/x");  // its setting folder too
    write(f + "/..imagesequence.lbsi");   // images' settings are kept
    write(f + "/notes.lbsz");             // not hidden: not a setting file
    write(f + "/.history.lbs");
    write(f + "/directory.plist");
    mkdir(f + "/sub");
    EXPECT_TRUE(BookCommon::isSettingDir(f + "/.gone.lbscbr_config"));
    EXPECT_FALSE(BookCommon::isSettingDir(f + "/x_config"));
    EXPECT_FALSE(BookCommon::isSettingDir(f + "/_config"));
    EXPECT_FALSE(BookCommon::isSettingDir(f + "/sub"));
    EXPECT_TRUE(BookCommon::isFileExistNoLetterSize(f, "kept.zip"));
    EXPECT_FALSE(BookCommon::isFileExistNoLetterSize(f + "/none", "kept.zip"));

    BookCommon::removeSettingsInDocumentsDir(f);
    EXPECT_TRUE(exists(f + "/.kept.lbsz"));
    EXPECT_FALSE(exists(f + "/.gone.lbsz"));
    EXPECT_FALSE(exists(f + "/.gone.lbscbr_config"));
    EXPECT_TRUE(exists(f + "/..imagesequence.lbsi"));
    EXPECT_TRUE(exists(f + "/notes.lbsz"));
    EXPECT_TRUE(exists(f + "/.history.lbs"));
    EXPECT_TRUE(exists(f + "/directory.plist"));
    EXPECT_TRUE(exists(f + "/sub"));
}

TEST_F(BookCommonPathsTest, ACallExaminesAtMostThirtyEntries) {
    std::string f = docs() + "/many";
    for (int i = 0; i < 30; ++i) write(f + "/.g" + std::to_string(i) + ".lbsz");
    BookCommon::removeSettingsInDocumentsDir(f);
    EXPECT_TRUE(FileManager::contentsOfDirectory(f)->empty());  // 30 entries: all examined

    for (int i = 0; i < 100; ++i) write(f + "/.g" + std::to_string(i) + ".lbsz");
    BookCommon::removeSettingsInDocumentsDir(f);
    size_t left = FileManager::contentsOfDirectory(f)->size();
    EXPECT_GE(left, 70u);
    EXPECT_LT(left, 100u);
}

TEST_F(BookCommonPathsTest, SpecialBookSettingsFollowThePhotoLibrary) {
    std::string special = H() + "/Pictures";
    std::string settings = H() + "/Library/lbconfigs/.SpecialDir";
    write(special + "/DCIM/a.zip");
    write(settings + "/DCIM/.a.lbsz");
    write(settings + "/DCIM/.b.lbsz");
    write(settings + "/DCIM/.b.lbsz_config/bookmark.lbs");
    write(settings + "/Gone/.c.lbsz");
    EXPECT_TRUE(BookCommon::isExistBookFromSettingfileInSpecial(settings + "/DCIM/.a.lbsz"));
    EXPECT_FALSE(BookCommon::isExistBookFromSettingDirInSpecial(settings + "/DCIM/.b.lbsz_config"));

    EXPECT_EQ(BookCommon::removeSpecialBookSettings(settings), 2);
    EXPECT_TRUE(exists(settings + "/DCIM/.a.lbsz"));
    EXPECT_FALSE(exists(settings + "/DCIM/.b.lbsz"));
    EXPECT_FALSE(exists(settings + "/DCIM/.b.lbsz_config"));
    // A folder counts what it held: emptied now, removed on the next pass.
    EXPECT_TRUE(exists(settings + "/Gone"));
    EXPECT_FALSE(exists(settings + "/Gone/.c.lbsz"));
    BookCommon::removeSpecialBookSettings(settings);
    EXPECT_FALSE(exists(settings + "/Gone"));
    EXPECT_TRUE(exists(settings + "/DCIM/.a.lbsz"));
    EXPECT_EQ(BookCommon::removeSpecialBookSettings(settings + "/none"), 0);
}

TEST_F(BookCommonPathsTest, CachesWithoutABookInALibraryFolder) {
    std::string f = docs() + "/f";
    write(f + "/live.zip");
    mkdir(f + "/subfolder");
    write(BookCommon::getBookCacheDir(f + "/live.zip", true) + "/p");
    write(BookCommon::getBookCacheDir(f + "/gone.zip", true) + "/p");
    write(BookCommon::getBookCacheDir(f + "/subfolder/x.zip", true) + "/p");
    std::string mirror = H() + "/Library/Caches/_book/f";
    mkdir(mirror + "/vanished-folder");

    BookCommon::removeNoReferenceCacheInFolder(f);
    EXPECT_TRUE(exists(mirror + "/.live.lbsz_config"));
    EXPECT_FALSE(exists(mirror + "/.gone.lbsz_config"));
    EXPECT_TRUE(exists(mirror + "/subfolder/.x.lbsz_config"));
    EXPECT_FALSE(exists(mirror + "/vanished-folder"));
    EXPECT_TRUE(exists(f + "/live.zip"));
}

TEST_F(BookCommonPathsTest, CachesWithoutABookBesideTheBooksThemselves) {
    // In the download folder (and anything outside the caches) the caches
    // lie beside the user's files: only "_cache" folders may go.
    std::string d = downloads();
    write(d + "/live.zip");
    write(d + "/readme.txt");
    write(d + "/.live.lbsz");
    write(d + "/old_cache/p");
    write(d + "/sub/readme.txt");
    write(d + "/sub/old_cache/p");
    BookCommon::removeNoReferenceCacheInFolder(d);
    EXPECT_TRUE(exists(d + "/live.zip"));
    EXPECT_TRUE(exists(d + "/readme.txt"));
    EXPECT_TRUE(exists(d + "/.live.lbsz"));
    EXPECT_FALSE(exists(d + "/old_cache"));

    BookCommon::removeNoReferenceCacheInFolder(d + "/sub");
    EXPECT_TRUE(exists(d + "/sub/readme.txt"));
    EXPECT_FALSE(exists(d + "/sub/old_cache"));
}

TEST_F(BookCommonPathsTest, CheapFileComparison) {
    test::TempDir dir("compare");
    auto make = [&](const std::string& name, const std::string& bytes) {
        write(dir.file(name), bytes);
        return dir.file(name);
    };
    EXPECT_FALSE(BookCommon::compairFileHalfway(make("a", "abc"), make("b", "abcd")));
    EXPECT_FALSE(BookCommon::compairFileHalfway(dir.file("a"), dir.file("missing")));
    // Small files are compared whole: a difference at the last byte counts.
    std::string small(100, 's');
    std::string small2 = small;
    small2[99] = 't';
    EXPECT_FALSE(BookCommon::compairFileHalfway(make("s1", small), make("s2", small2)));
    EXPECT_TRUE(BookCommon::compairFileHalfway(make("s3", small), make("s4", small)));
    EXPECT_TRUE(BookCommon::compairFileHalfway(make("e1", ""), make("e2", "")));

    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    std::string head = big, tail = big, middle = big, unsampled = big;
    head[5] ^= 1;
    tail[big.size() - 1] ^= 1;
    middle[128 + big.size() / 8 + 3] ^= 1;  // inside the second sample
    unsampled[1000] ^= 1;                   // between samples: not seen
    std::string b = make("big", big);
    EXPECT_TRUE(BookCommon::compairFileHalfway(b, make("big2", big)));
    EXPECT_FALSE(BookCommon::compairFileHalfway(b, make("head", head)));
    EXPECT_FALSE(BookCommon::compairFileHalfway(b, make("tail", tail)));
    EXPECT_FALSE(BookCommon::compairFileHalfway(b, make("middle", middle)));
    EXPECT_TRUE(BookCommon::compairFileHalfway(b, make("unsampled", unsampled)));
}

TEST_F(BookCommonPathsTest, FirstRunRecordsTheVersionAndAddsNoShortcut) {
    int streamCacheCleared = 0;
    BookCommon::checkLeafbrightVersion([&] { ++streamCacheCleared; });
    EXPECT_EQ(streamCacheCleared, 0);
    // No online library exists to open: the library starts without a row for one.
    EXPECT_EQ(FileManager::contentsOfDirectory(docs()), std::vector<std::string>{});
    auto version = PropertyList::readArray(H() + "/Library/lbconfigs/.version.lbs");
    ASSERT_TRUE(version);
    EXPECT_EQ((*version)[0].integerValue(), 811);
    EXPECT_EQ(sys::UserDefaults::standard().integerForKey("LastVersion"), 811);

    // The next start finds the version and leaves the library alone.
    BookCommon::checkLeafbrightVersion([&] { ++streamCacheCleared; });
    EXPECT_EQ(FileManager::contentsOfDirectory(docs()), std::vector<std::string>{});
    EXPECT_EQ(streamCacheCleared, 0);
}

TEST_F(BookCommonPathsTest, UpgradeStepsFromOlderVersions) {
    std::string settings = H() + "/Library/lbconfigs";
    mkdir(settings);
    // Version 500, recorded in the old place.
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(int64_t{500})}), docs() + "/.version.lbs"));
    ASSERT_TRUE(PropertyList::writeFile(
        PlistValue(PlistDictionary{{"smblib", PlistValue("cifsstack")}, {"other", PlistValue("kept")}}),
        settings + "/.globalsettings.lbs"));
    BookCommon::updateCurrentView(std::string("sub"), false);
    int streamCacheCleared = 0;
    BookCommon::checkLeafbrightVersion([&] { ++streamCacheCleared; });
    EXPECT_EQ(streamCacheCleared, 1);
    EXPECT_FALSE(exists(docs() + "/.version.lbs"));
    EXPECT_FALSE(exists(docs() + "/[Sample comics]Leafbright library.shortcut"));
    auto global = PropertyList::readDictionary(settings + "/.globalsettings.lbs");
    ASSERT_TRUE(global);
    EXPECT_EQ(global->getString("smblib"), "auto");
    EXPECT_EQ(global->getString("other"), "kept");
    EXPECT_EQ(BookCommon::getCurrentViewSetting(), "sub");

    // Below 403 the view records are reset to the download folder's home.
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(int64_t{300})}),
                                        settings + "/.version.lbs"));
    sys::UserDefaults::standard().setInteger(0, "LastVersion");
    write(settings + "/.last.lbs");
    BookCommon::checkLeafbrightVersion({});
    bool isHome = false;
    EXPECT_EQ(BookCommon::getCurrentViewSetting(&isHome), "*");
    EXPECT_TRUE(isHome);
    EXPECT_FALSE(exists(settings + "/.last.lbs"));

    // The larger of the file and the user default counts.
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(int64_t{100})}),
                                        settings + "/.version.lbs"));
    sys::UserDefaults::standard().setInteger(811, "LastVersion");
    write(settings + "/.last.lbs");
    BookCommon::checkLeafbrightVersion({});
    EXPECT_TRUE(exists(settings + "/.last.lbs"));
}

TEST_F(BookCommonPathsTest, ItemsCountedInTheDownloadAndLibraryFolders) {
    EXPECT_EQ(BookCommon::getFilesInDownloads(), 0);
    EXPECT_FALSE(BookCommon::isExistItemsInDocumentsFolder());
    write(downloads() + "/a.zip");
    write(downloads() + "/t.lbt");
    write(downloads() + "/notes.txt");
    write(downloads() + "/.a.lbsz");
    mkdir(downloads() + "/folder");
    mkdir(downloads() + "/.hidden");
    mkdir(downloads() + "/.BookLibrary");
    EXPECT_EQ(BookCommon::getFilesInDownloads(), 4);

    write(docs() + "/notes.txt");
    write(docs() + "/.DS_Store");
    EXPECT_FALSE(BookCommon::isExistItemsInDocumentsFolder());
    mkdir(docs() + "/.DS_Store_dir");
    EXPECT_TRUE(BookCommon::isExistItemsInDocumentsFolder());
    FileManager::removeItem(docs() + "/.DS_Store_dir");
    write(docs() + "/x.pdf");
    EXPECT_TRUE(BookCommon::isExistItemsInDocumentsFolder());
}

TEST_F(BookCommonPathsTest, BackupExclusionAndWhereDownloadsGo) {
    std::string kept = docs() + "/kept";
    std::string excluded = docs() + "/excluded";
    mkdir(kept);
    mkdir(excluded + "/inner");
    EXPECT_TRUE(BookCommon::getBackupFlag(excluded));
    if (!BookCommon::setBackupFlag(excluded, false)) GTEST_SKIP() << "no extended attributes here";
    EXPECT_FALSE(BookCommon::getBackupFlag(excluded));
    EXPECT_TRUE(BookCommon::isInNotBackupFolder(excluded + "/inner"));
    EXPECT_FALSE(BookCommon::isInNotBackupFolder(kept));

    EXPECT_EQ(BookCommon::checkSaveFolder(std::nullopt), std::nullopt);
    EXPECT_EQ(BookCommon::checkSaveFolder(std::string("")), downloads());
    EXPECT_EQ(BookCommon::checkSaveFolder(kept), downloads());
    EXPECT_EQ(BookCommon::checkSaveFolder(excluded + "/inner"), excluded + "/inner");
    EXPECT_EQ(BookCommon::checkSaveFolder(H() + "/elsewhere"), H() + "/elsewhere");

    EXPECT_TRUE(BookCommon::setBackupFlag(excluded, true));
    EXPECT_FALSE(BookCommon::isInNotBackupFolder(excluded + "/inner"));
}

TEST_F(BookCommonPathsTest, IdentityAndDownloadFolderName) {
    std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::string a = BookCommon::createUUID();
    EXPECT_TRUE(std::regex_match(a, uuid)) << a;
    EXPECT_NE(a, BookCommon::createUUID());

    std::string id = BookCommon::getDeviceIDOfThisDevice();
    EXPECT_TRUE(std::regex_match(id, uuid));
    sys::UserDefaults::standard().reload();  // read back from the file
    EXPECT_EQ(BookCommon::getDeviceIDOfThisDevice(), id);

    EXPECT_EQ(BookCommon::getTempFolderName(), "Downloads");
    BookCommon::setTempFolderName("Inbox of mine");
    sys::UserDefaults::standard().reload();
    EXPECT_EQ(BookCommon::getTempFolderName(), "Inbox of mine");
    BookCommon::setTempFolderName("");
    EXPECT_EQ(BookCommon::getTempFolderName(), "Downloads");
}

TEST_F(BookCommonPathsTest, ServerPasswordsArePurgedButOtherSecretsStay) {
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/a/b.zip", "u", "p");
    QNKeyChain::addOrUpdateAccountWithURL("https://srv/a/b.zip", "u", "p");
    QNKeyChain::addOrUpdateAccountWithURL("ftp://srv/a/b.zip", "u", "p");
    QNKeyChain::addOrUpdateAccountWithURL("smb://srv/a/b.zip", "u", "p");
    QNKeyChain::addOrUpdatePassword("pw", "site", "MediaServer");
    QNKeyChain::addOrUpdatePassword("1", "host", "trustedServer");
    BookCommon::deleteAllHttpUrlKeyChain();
    EXPECT_EQ(QNKeyChain::listAllURL(), (std::vector<std::string>{"MediaServer", "trustedServer"}));
}

TEST_F(BookCommonPathsTest, CertificatesInTheLibraryRoot) {
    if (!test::haveProgram("openssl")) GTEST_SKIP() << "openssl is not installed";
    std::string key = home_.file("k.pem");
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=leafbright-test -days 1 -keyout '" + key +
                      "' -outform DER -out '" + docs() + "/server.CER' >/dev/null 2>&1";
    ASSERT_EQ(test::shell(cmd), 0);
    write(docs() + "/broken.der", "not a certificate");
    write(docs() + "/other.txt", "x");
    auto certs = BookCommon::getSslCertificateArray();
    ASSERT_EQ(certs.size(), 1u);
    EXPECT_EQ(certs[0], read(docs() + "/server.CER"));
}

}  // namespace
