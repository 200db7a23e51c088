#include "foundation/BookCommonTypes.h"

#include "foundation/QNUrl.h"
#include "platform/core/Path.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/Unicode.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

bool asciiIEqual(char a, char b);

bool oneOf(const std::string& ext, std::initializer_list<const char*> set) {
    // The set is ASCII: an ASCII extension is compared as such (a list of
    // many entries asks for every row), anything else by full case folding.
    const bool ascii = std::all_of(ext.begin(), ext.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    for (const char* e : set) {
        if (ascii) {
            const size_t n = std::char_traits<char>::length(e);
            if (n == ext.size() && std::equal(ext.begin(), ext.end(), e, asciiIEqual)) return true;
        } else if (sys::Unicode::caseInsensitiveCompare(ext, e) == 0) {
            return true;
        }
    }
    return false;
}

const std::initializer_list<const char*> kImageExtensions = {"jpeg", "jpe",  "jpg", "gif",  "tiff",
                                                             "tif",  "png",  "bmp", "webp", "avif"};
const std::initializer_list<const char*> kSettingExtensions = {"lbsz",   "lbscz",   "lbsr",     "lbscbr", "lbs7z",
                                                               "lbscb7", "lbscpdf", "lbscepub", "lbsi"};

bool asciiIEqual(char a, char b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    return lower(a) == lower(b);
}

// Case-insensitive prefix test with a minimum length in characters.
bool prefixTest(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (sys::Unicode::utf16Length(s) < n + 2 || s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (!asciiIEqual(s[i], prefix[i])) return false;
    return true;
}

// Archive entry names: letters match either case, everything else exactly.
bool byteIEqual(unsigned char a, unsigned char b) {
    bool letter = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
    if (letter) return (a & ~0x20u) == (b & ~0x20u);
    return a == b;
}

bool endsWithBytes(const char* name, size_t len, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (len < n) return false;
    const char* tail = name + len - n;
    for (size_t i = 0; i < n; ++i)
        if (!byteIEqual(static_cast<unsigned char>(tail[i]), static_cast<unsigned char>(suffix[i]))) return false;
    return true;
}

bool archiveNameTest(const char* name, size_t minLen, std::initializer_list<const char*> suffixes) {
    if (!name) return false;
    size_t len = std::strlen(name);
    if (len < minLen) return false;
    for (const char* s : suffixes)
        if (endsWithBytes(name, len, s)) return true;
    return false;
}

}  // namespace

bool BookCommonTypes::isThemeFileWithExtension(const std::string& ext) { return oneOf(ext, {"lbt"}); }
bool BookCommonTypes::isPDFFileWithExtension(const std::string& ext) { return oneOf(ext, {"pdf"}); }
bool BookCommonTypes::isRARFileWithExtension(const std::string& ext) { return oneOf(ext, {"rar", "cbr"}); }
bool BookCommonTypes::isZIPFileWithExtension(const std::string& ext) {
    return oneOf(ext, {"zip", "cbz", "epub"});
}
bool BookCommonTypes::is7zFileWithExtension(const std::string& ext) { return oneOf(ext, {"7z", "cb7"}); }
bool BookCommonTypes::is_ePubFileWithExtension(const std::string& ext) { return oneOf(ext, {"epub"}); }
bool BookCommonTypes::isImageFileWithExtension(const std::string& ext) { return oneOf(ext, kImageExtensions); }

bool BookCommonTypes::isBookFileWithExtension(const std::string& ext) {
    return isZIPFileWithExtension(ext) || isRARFileWithExtension(ext) || is7zFileWithExtension(ext) ||
           isImageFileWithExtension(ext);
}

bool BookCommonTypes::isBookorPDFFileWithExtension(const std::string& ext) {
    return isBookFileWithExtension(ext) || isPDFFileWithExtension(ext);
}

bool BookCommonTypes::isBookorPDFFileorThemeWithExtension(const std::string& ext) {
    return isBookorPDFFileWithExtension(ext) || isThemeFileWithExtension(ext);
}

std::optional<std::string> BookCommonTypes::getExtensionFromStringOrURL(const std::string& text) {
    if (isURL(text)) {
        auto url = QNUrl::URLWithString(text);
        if (!url) return std::nullopt;
        return url->pathExtension();
    }
    return sys::Path::pathExtension(text);
}

namespace {
template <class Test>
bool withFile(const std::string& file, Test test) {
    auto ext = BookCommonTypes::getExtensionFromStringOrURL(file);
    return ext && test(*ext);
}
}  // namespace

bool BookCommonTypes::isPDFFileWithFile(const std::string& f) { return withFile(f, isPDFFileWithExtension); }
bool BookCommonTypes::isRARFileWithFile(const std::string& f) { return withFile(f, isRARFileWithExtension); }
bool BookCommonTypes::isZIPFileWithFile(const std::string& f) { return withFile(f, isZIPFileWithExtension); }
bool BookCommonTypes::is7zFileWithFile(const std::string& f) { return withFile(f, is7zFileWithExtension); }
bool BookCommonTypes::is_ePubFileWithFile(const std::string& f) { return withFile(f, is_ePubFileWithExtension); }
bool BookCommonTypes::isImageFileWithFile(const std::string& f) { return withFile(f, isImageFileWithExtension); }
bool BookCommonTypes::isBookFileWithFilename(const std::string& f) { return withFile(f, isBookFileWithExtension); }
bool BookCommonTypes::isBookorPDFFileWithFilename(const std::string& f) {
    return withFile(f, isBookorPDFFileWithExtension);
}
bool BookCommonTypes::isBookorPDFFileorThemeWithFilename(const std::string& f) {
    return withFile(f, isBookorPDFFileorThemeWithExtension);
}
bool BookCommonTypes::isThemeFileWithFile(const std::string& f) {
    return isThemeFileWithExtension(sys::Path::pathExtension(f));
}

std::vector<std::string> BookCommonTypes::getLeafbrightCanReadExtensions() {
    return {"zip", "cbz", "rar", "cbr", "epub", "7z", "cb7", "pdf", "jpeg",
            "jpe", "jpg", "gif", "tif", "tiff", "png", "bmp", "webp", "avif"};
}

std::vector<std::string> BookCommonTypes::getLeafbrightCanReadContentTypes() {
    // zip, cbz, rar, cbr, epub, 7z, cb7, pdf, jpeg, jpe, jpg, gif, tif, tiff, png, bmp, webp, avif
    return {"application/zip",
            "application/vnd.comicbook+zip",
            "application/vnd.rar",
            "application/vnd.comicbook-rar",
            "application/epub+zip",
            "application/x-7z-compressed",
            "application/x-cb7",
            "application/pdf",
            "image/jpeg",
            "image/jpeg",
            "image/jpeg",
            "image/gif",
            "image/tiff",
            "image/tiff",
            "image/png",
            "image/bmp",
            "image/webp",
            "image/avif"};
}

bool BookCommonTypes::isBookSettingExtension(const std::string& ext) { return oneOf(ext, kSettingExtensions); }

bool BookCommonTypes::isCacheOrBookSettingFileWithFilename(const std::string& name) {
    // The setting file of a one-letter book (".a.lbsz") is shorter than the
    // length the other tests need, and must be hidden all the same.
    if (isBookSettingExtension(sys::Path::pathExtension(name))) return true;
    if (sys::Unicode::utf16Length(name) < 8) return false;
    static const std::string kConfig = "_config";
    if (name.size() >= kConfig.size() && name.compare(name.size() - kConfig.size(), kConfig.size(), kConfig) == 0)
        return true;
    return isCacheFileWithFilename(name);
}

bool BookCommonTypes::isCacheFileWithFilename(const std::string& name) {
    static const std::string kCache = "_cache";
    if (sys::Unicode::utf16Length(name) < 7 || name.size() < kCache.size()) return false;
    return name.compare(name.size() - kCache.size(), kCache.size(), kCache) == 0;
}

bool BookCommonTypes::isPathIsInCacheDirectory(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts.size() >= 3 && parts[parts.size() - 2] == "cache";
}

bool BookCommonTypes::isConfigFileOrDirectory(const std::string& path) {
    std::string parentName = sys::Path::lastPathComponent(sys::Path::stringByDeletingLastPathComponent(path));
    return !parentName.empty() && parentName[0] == '.';
}

bool BookCommonTypes::isZipFile(const char* name) { return archiveNameTest(name, 5, {".zip", ".cbz"}); }
bool BookCommonTypes::is7zFile(const char* name) { return archiveNameTest(name, 4, {".7z", ".cb7"}); }
bool BookCommonTypes::isRarFile(const char* name) { return archiveNameTest(name, 5, {".rar", ".cbr"}); }
bool BookCommonTypes::isPdfFile(const char* name) { return archiveNameTest(name, 5, {".pdf"}); }

bool BookCommonTypes::isMacOSResourceDirectory(const char* name) {
    if (!name || std::strlen(name) < 9) return false;
    static const char* kPrefix = "__MACOSX/";
    for (size_t i = 0; i < 9; ++i)
        if (!byteIEqual(static_cast<unsigned char>(name[i]), static_cast<unsigned char>(kPrefix[i]))) return false;
    return true;
}

bool BookCommonTypes::isURLHttp(const std::string& s) { return prefixTest(s, "http"); }
bool BookCommonTypes::isHTTPS(const std::string& s) { return prefixTest(s, "https"); }
bool BookCommonTypes::isFTP(const std::string& s) { return prefixTest(s, "ftp"); }
bool BookCommonTypes::isSMB(const std::string& s) { return prefixTest(s, "smb"); }
bool BookCommonTypes::isGoogleDrive(const std::string& s) { return prefixTest(s, "googledrive"); }
bool BookCommonTypes::isOneDrive(const std::string& s) { return prefixTest(s, "onedrive"); }
bool BookCommonTypes::isDropbox(const std::string& s) { return prefixTest(s, "dropbox"); }
bool BookCommonTypes::isBox(const std::string& s) { return prefixTest(s, "box"); }

bool BookCommonTypes::isURL(const std::string& s) { return QNUrl::isURL(s); }

bool BookCommonTypes::isUrlIsInLeafbrightLibrary(const std::string& s) {
    for (const char* base : {kLeafbrightLibraryURL, kLeafbrightLibraryMirrorURL, kLeafbrightClipURL})
        if (s.find(base) != std::string::npos) return true;
    return false;
}

std::string BookCommonTypes::replaceHostWithURL(const std::string& url, const std::string& newhost) {
    auto parsed = QNUrl::URLWithString(url);
    if (!parsed || parsed->host().empty()) return url;
    size_t at = url.find(parsed->host());
    if (at == std::string::npos) return url;
    return url.substr(0, at) + newhost + url.substr(at + parsed->host().size());
}

std::string BookCommonTypes::PercentEncodingWithString(const std::string& s) {
    return sys::PercentEncoding::encode(s);
}

std::optional<std::string> BookCommonTypes::PercentDecodingWithString(const std::string& s) {
    auto out = sys::PercentEncoding::decodeStrict(s);
    if (!out || !sys::Unicode::isValidUtf8(*out)) return std::nullopt;
    return out;
}
