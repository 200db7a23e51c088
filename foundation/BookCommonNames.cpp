#include "foundation/BookCommonNames.h"

#include "foundation/LibMD5.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/UrlPercent.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstring>

namespace {

bool isShiftJISLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr size_t kLongNameBytes = 5120;
constexpr size_t kEscapeBufferBytes = 5130;

}  // namespace

std::string BookCommonNames::calcMD5StringFromCstring(const char* bytes) {
    if (!bytes) bytes = "";
    LibMD5 md5;
    md5.update(bytes, std::strlen(bytes));
    uint8_t digest[16];
    md5.final(digest);
    return LibMD5::hexString(digest, false);
}

size_t BookCommonNames::escapeUndecodableName(const char* src, char* dst, size_t capacity) {
    size_t n = 0;
    auto put = [&](char c) {
        if (!dst || n + 1 >= capacity) return false;
        dst[n++] = c;
        return true;
    };
    unsigned char previous = 'a';
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); p && *p; ++p) {
        const unsigned char c = *p;
        const bool keep = isAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
                          ((c == '/' || c == '\\') && !isShiftJISLeadByte(previous));
        bool room = keep ? put(static_cast<char>(c))
                         : put('%') && put(UrlPercent::hexDigit(c >> 4)) && put(UrlPercent::hexDigit(c & 0x0F));
        if (!room) break;
        previous = c;
    }
    if (dst && capacity > 0) dst[n] = '\0';
    return n;
}

std::string BookCommonNames::getFolderPathStringFromCString(const char* bytes, bool removeSlash) {
    if (!bytes) bytes = "";
    std::string text;
    if (auto decoded = QNTextEncoding::stringWithCString(bytes)) {
        text = std::move(*decoded);
    } else if (std::strlen(bytes) >= kLongNameBytes) {
        text = calcMD5StringFromCstring(bytes);
    } else {
        char buf[kEscapeBufferBytes];
        text.assign(buf, escapeUndecodableName(bytes, buf, sizeof buf));
    }
    if (!removeSlash) return text;
    std::string flat;
    flat.reserve(text.size());
    for (char c : text) {
        if (c == '/') flat += "%2F";
        else flat += c;
    }
    return flat;
}

std::string BookCommonNames::getNFDString(const std::string& text) {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(err);
    if (U_FAILURE(err)) return text;
    icu::UnicodeString out = nfd->normalize(icu::UnicodeString::fromUTF8(text), err);
    if (U_FAILURE(err)) return text;
    std::string result;
    out.toUTF8String(result);
    return result;
}

std::optional<std::string> BookCommonNames::renameFileToNfdWithFilepath(const std::string&, bool) {
    return std::nullopt;
}

void BookCommonNames::renameFileToNfdWithDirectory(const std::string&, bool) {}
