#include <gtest/gtest.h>

#include "foundation/BookCommon.h"

namespace {

TEST(BookCommonTypesTest, BooksArchivesAndImagesByExtensionInAnyCase) {
    for (const char* f : {"Comic.CBZ", "comic.cbz", "https://h/dir/comic.cbz?token=a.pdf", "a.epub", "b.Zip"})
        EXPECT_TRUE(BookCommon::isZIPFileWithFile(f)) << f;
    EXPECT_TRUE(BookCommon::is_ePubFileWithFile("a.epub"));
    EXPECT_FALSE(BookCommon::is_ePubFileWithFile("a.zip"));
    EXPECT_TRUE(BookCommon::isRARFileWithFile("x.CBR"));
    EXPECT_TRUE(BookCommon::is7zFileWithFile("x.cb7"));
    EXPECT_TRUE(BookCommon::isPDFFileWithFile("smb://srv/share/A.PDF"));
    EXPECT_FALSE(BookCommon::isPDFFileWithFile("https://h/a.zip?x=b.pdf"));

    EXPECT_TRUE(BookCommon::isBookFileWithFilename("a.webp"));
    EXPECT_TRUE(BookCommon::isImageFileWithFile("scan.AVIF"));
    EXPECT_FALSE(BookCommon::isBookFileWithFilename("a.pdf"));
    EXPECT_TRUE(BookCommon::isBookorPDFFileWithFilename("a.pdf"));
    EXPECT_FALSE(BookCommon::isBookorPDFFileWithFilename("a.lbt"));
    EXPECT_TRUE(BookCommon::isBookorPDFFileorThemeWithFilename("a.lbt"));
    EXPECT_TRUE(BookCommon::isThemeFileWithFile("a.LBT"));
    EXPECT_FALSE(BookCommon::isBookFileWithFilename("a.lbt"));
    EXPECT_FALSE(BookCommon::isBookFileWithFilename("notes.txt"));
    EXPECT_FALSE(BookCommon::isBookFileWithFilename("zip"));
    EXPECT_FALSE(BookCommon::isBookFileWithFilename(".zip"));
    for (const char* e : {"jpeg", "jpe", "JPG", "gif", "tiff", "tif", "png", "bmp", "webp", "avif"})
        EXPECT_TRUE(BookCommon::isImageFileWithExtension(e)) << e;
    EXPECT_FALSE(BookCommon::isImageFileWithExtension("svg"));
}

TEST(BookCommonTypesTest, AddressesUseTheirParsedPath) {
    EXPECT_EQ(BookCommon::getExtensionFromStringOrURL("https://h/a/b.cbz?q=1#frag"), "cbz");
    EXPECT_EQ(BookCommon::getExtensionFromStringOrURL("/local/b.cbz"), "cbz");
    EXPECT_EQ(BookCommon::getExtensionFromStringOrURL("/local/.hidden"), "");
    // The theme test takes the plain extension, without the address step.
    EXPECT_FALSE(BookCommon::isThemeFileWithFile("https://h/t.lbt?x=1"));
    // An address without a path has no extension: every test answers NO.
    EXPECT_FALSE(BookCommon::isBookorPDFFileorThemeWithFilename("http://host.zip"));
}

TEST(BookCommonTypesTest, ReadableContentTypesOnePerExtension) {
    auto types = BookCommon::getLeafbrightCanReadContentTypes();
    ASSERT_EQ(types.size(), 18u);
    EXPECT_EQ(types[0], "application/zip");
    EXPECT_EQ(types[7], "application/pdf");
    EXPECT_EQ(types[17], "image/avif");
    // Each extension is one the library takes in as a book or picture.
    auto extensions = BookCommon::getLeafbrightCanReadExtensions();
    ASSERT_EQ(extensions.size(), types.size());
    for (const auto& ext : extensions) EXPECT_TRUE(BookCommon::isBookorPDFFileWithExtension(ext)) << ext;
}

TEST(BookCommonTypesTest, TheProgramsOwnSideFiles) {
    EXPECT_TRUE(BookCommon::isCacheOrBookSettingFileWithFilename(".x.lbsz"));
    EXPECT_TRUE(BookCommon::isCacheOrBookSettingFileWithFilename(".x.lbscepub"));
    EXPECT_TRUE(BookCommon::isCacheOrBookSettingFileWithFilename(".x.LBSI"));
    EXPECT_TRUE(BookCommon::isCacheOrBookSettingFileWithFilename(".x.lbsz_config"));
    EXPECT_TRUE(BookCommon::isCacheOrBookSettingFileWithFilename("pages_cache"));
    EXPECT_TRUE(BookCommon::isCacheOrBookSettingFileWithFilename(".a.lbsi"));
    EXPECT_FALSE(BookCommon::isCacheOrBookSettingFileWithFilename("a_confi"));
    EXPECT_FALSE(BookCommon::isCacheOrBookSettingFileWithFilename("_config"));
    EXPECT_FALSE(BookCommon::isCacheOrBookSettingFileWithFilename("book.zip"));
    EXPECT_TRUE(BookCommon::isCacheFileWithFilename("a_cache"));
    EXPECT_FALSE(BookCommon::isCacheFileWithFilename("_cache"));
    EXPECT_FALSE(BookCommon::isCacheFileWithFilename("a_cache.zip"));

    EXPECT_TRUE(BookCommon::isPathIsInCacheDirectory("/x/cache/001.jpg"));
    EXPECT_TRUE(BookCommon::isPathIsInCacheDirectory("a/cache/b"));
    EXPECT_FALSE(BookCommon::isPathIsInCacheDirectory("cache/b"));
    EXPECT_FALSE(BookCommon::isPathIsInCacheDirectory("/x/cache"));
    EXPECT_FALSE(BookCommon::isPathIsInCacheDirectory("/x/caches/b"));

    EXPECT_TRUE(BookCommon::isConfigFileOrDirectory("/lib/.a.lbsz_config/bookmark.lbs"));
    EXPECT_FALSE(BookCommon::isConfigFileOrDirectory("/lib/books/a.zip"));
    EXPECT_FALSE(BookCommon::isConfigFileOrDirectory("a.zip"));
    EXPECT_FALSE(BookCommon::isConfigFileOrDirectory("/a.zip"));
}

TEST(BookCommonTypesTest, NamesInsideArchivesAreRawBytes) {
    EXPECT_TRUE(BookCommon::isZipFile("v.ZIP"));
    EXPECT_TRUE(BookCommon::isZipFile("dir/v.cbz"));
    EXPECT_FALSE(BookCommon::isZipFile(".zip"));
    EXPECT_FALSE(BookCommon::isZipFile("v.zap"));
    EXPECT_TRUE(BookCommon::is7zFile("a.7Z"));
    EXPECT_FALSE(BookCommon::is7zFile(".7z"));
    EXPECT_TRUE(BookCommon::isRarFile("a.Cbr"));
    EXPECT_TRUE(BookCommon::isPdfFile("\x93\xfa.pdf"));
    EXPECT_FALSE(BookCommon::isPdfFile(nullptr));
    // Only letters fold: a byte that differs from "." by the case bit is not a dot.
    EXPECT_FALSE(BookCommon::isZipFile("v\x0ezip"));

    EXPECT_TRUE(BookCommon::isMacOSResourceDirectory("__MACOSX/._001.jpg"));
    EXPECT_TRUE(BookCommon::isMacOSResourceDirectory("__macosx/"));
    EXPECT_FALSE(BookCommon::isMacOSResourceDirectory("__MACOSX"));
    EXPECT_FALSE(BookCommon::isMacOSResourceDirectory("__MACOSXa/b"));
}

TEST(BookCommonTypesTest, SchemePrefixesNeedTwoMoreCharacters) {
    EXPECT_TRUE(BookCommon::isURLHttp("https://"));
    EXPECT_TRUE(BookCommon::isHTTPS("HTTPS://"));
    EXPECT_FALSE(BookCommon::isURLHttp("http:"));
    EXPECT_TRUE(BookCommon::isURLHttp("http:/"));
    EXPECT_FALSE(BookCommon::isHTTPS("http://a"));
    EXPECT_TRUE(BookCommon::isBox("box:/x"));
    EXPECT_FALSE(BookCommon::isBox("box"));
    EXPECT_TRUE(BookCommon::isBox("boxes"));  // only the prefix is seen
    EXPECT_TRUE(BookCommon::isFTP("ftp:/"));
    EXPECT_TRUE(BookCommon::isSMB("SMB://s"));
    EXPECT_TRUE(BookCommon::isGoogleDrive("googledrive://x/"));
    EXPECT_FALSE(BookCommon::isGoogleDrive("googledrive:"));
    EXPECT_TRUE(BookCommon::isOneDrive("onedrive:/"));
    EXPECT_TRUE(BookCommon::isDropbox("Dropbox:/"));
    // Characters, not bytes: two non-Latin letters complete the length.
    EXPECT_TRUE(BookCommon::isBox("box\xe6\xbc\xab\xe7\x94\xbb"));
    EXPECT_FALSE(BookCommon::isBox("bo"));
}

TEST(BookCommonTypesTest, AddressHelpers) {
    EXPECT_TRUE(BookCommon::isURL("smb://srv/share"));
    EXPECT_FALSE(BookCommon::isURL("/srv/share"));
    EXPECT_TRUE(BookCommon::isUrlIsInLeafbrightLibrary(std::string(BookCommon::kLeafbrightLibraryURL) + "x.zip"));
    EXPECT_FALSE(BookCommon::isUrlIsInLeafbrightLibrary("https://elsewhere.example/book/x.zip"));

    EXPECT_EQ(BookCommon::replaceHostWithURL("http://u:p@old:8080/old/x", "new"), "http://u:p@new:8080/old/x");
    EXPECT_EQ(BookCommon::replaceHostWithURL("not an address", "new"), "not an address");
    EXPECT_EQ(BookCommon::replaceHostWithURL("file:///x", "new"), "file:///x");

    EXPECT_EQ(BookCommon::PercentEncodingWithString("a b/c?d=e&f~g.h-i_j"), "a%20b%2Fc%3Fd%3De%26f~g.h-i_j");
    EXPECT_EQ(BookCommon::PercentEncodingWithString("漫"), "%E6%BC%AB");
    EXPECT_EQ(BookCommon::PercentDecodingWithString("%E6%BC%AB%20a"), "漫 a");
    EXPECT_FALSE(BookCommon::PercentDecodingWithString("%E6%BC"));  // not UTF-8
    EXPECT_FALSE(BookCommon::PercentDecodingWithString("100%"));
    EXPECT_FALSE(BookCommon::PercentDecodingWithString("%4"));
    EXPECT_FALSE(BookCommon::PercentDecodingWithString("%zz"));
    EXPECT_EQ(BookCommon::PercentDecodingWithString("plain"), "plain");
}

}  // namespace
