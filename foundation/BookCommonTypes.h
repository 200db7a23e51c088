#pragma once

#include <optional>
#include <string>
#include <vector>

// BookCommon's operations for file types and address-scheme tests.
// Class operations only; reach them through BookCommon.
//
// Every test is a pure function of its text, answered the same way for the
// reading engine, the file lists, the servers and the downloads. Extensions
// never depend on case.
class BookCommonTypes {
public:
    // Base addresses of the product's online library; the first is the one
    // the sample shortcut points at.
    static constexpr const char* kLeafbrightLibraryURL = "https://library.leafbright.app/book/";
    static constexpr const char* kLeafbrightLibraryMirrorURL = "https://www.leafbright.app/book/";
    static constexpr const char* kLeafbrightClipURL = "https://clip.leafbright.app/";

    // Extension forms ("zip", "CBZ"...).
    static bool isThemeFileWithExtension(const std::string& ext);
    static bool isPDFFileWithExtension(const std::string& ext);
    static bool isRARFileWithExtension(const std::string& ext);
    static bool isZIPFileWithExtension(const std::string& ext);  // epub included
    static bool is7zFileWithExtension(const std::string& ext);
    static bool is_ePubFileWithExtension(const std::string& ext);
    static bool isImageFileWithExtension(const std::string& ext);
    // Archives and images (a single image stands for its folder).
    static bool isBookFileWithExtension(const std::string& ext);
    static bool isBookorPDFFileWithExtension(const std::string& ext);
    static bool isBookorPDFFileorThemeWithExtension(const std::string& ext);

    // Name, path or address forms: the extension is taken from an address's
    // parsed path, so a query or an escaped name does not spoil the test.
    static bool isPDFFileWithFile(const std::string& file);
    static bool isRARFileWithFile(const std::string& file);
    static bool isZIPFileWithFile(const std::string& file);
    static bool is7zFileWithFile(const std::string& file);
    static bool is_ePubFileWithFile(const std::string& file);
    static bool isImageFileWithFile(const std::string& file);
    static bool isBookFileWithFilename(const std::string& file);
    static bool isBookorPDFFileWithFilename(const std::string& file);
    static bool isBookorPDFFileorThemeWithFilename(const std::string& file);
    // The plain path extension, without the address step.
    static bool isThemeFileWithFile(const std::string& file);
    // An address's parsed path extension, else the text's own path extension.
    static std::optional<std::string> getExtensionFromStringOrURL(const std::string& text);

    // Content types the document picker offers: one per readable extension,
    // in a fixed order (MIME types).
    static std::vector<std::string> getLeafbrightCanReadContentTypes();
    // The extensions behind them, in the same order.
    static std::vector<std::string> getLeafbrightCanReadExtensions();

    // The program's own side files, kept out of lists and server offers.
    static bool isCacheOrBookSettingFileWithFilename(const std::string& name);
    static bool isCacheFileWithFilename(const std::string& name);
    static bool isPathIsInCacheDirectory(const std::string& path);
    static bool isConfigFileOrDirectory(const std::string& path);
    // The per-book setting-file extensions ("lbsz"... "lbsi").
    static bool isBookSettingExtension(const std::string& ext);

    // Entry names inside archives: raw NUL-terminated bytes.
    static bool isZipFile(const char* name);
    static bool is7zFile(const char* name);
    static bool isRarFile(const char* name);
    static bool isPdfFile(const char* name);
    static bool isMacOSResourceDirectory(const char* name);

    // Address schemes: a case-insensitive prefix, and at least two more
    // characters after it.
    static bool isURLHttp(const std::string& s);  // https too
    static bool isHTTPS(const std::string& s);
    static bool isFTP(const std::string& s);
    static bool isSMB(const std::string& s);
    static bool isGoogleDrive(const std::string& s);
    static bool isOneDrive(const std::string& s);
    static bool isDropbox(const std::string& s);
    static bool isBox(const std::string& s);

    static bool isURL(const std::string& s);
    static bool isUrlIsInLeafbrightLibrary(const std::string& s);
    // The first occurrence of the address's host replaced; the text unchanged
    // when it does not parse or its host is not in it.
    static std::string replaceHostWithURL(const std::string& url, const std::string& newhost);
    // Escapes every byte but letters, digits and "-._~".
    static std::string PercentEncodingWithString(const std::string& s);
    // Nothing for a bad escape or bytes that are not UTF-8.
    static std::optional<std::string> PercentDecodingWithString(const std::string& s);

protected:
    BookCommonTypes() = default;
};
