#include "foundation/QNTextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace {

// Our character-set names and the ICU converter behind each. Names ICU does
// not carry get the nearest converter only where the letters a user picks the
// set for come out right; otherwise they stay unknown (nullptr), so that a
// default set to them is skipped and decoding falls through to detection
// instead of producing wrong letters silently.
//
//   name                 converter                 why
//   x-mac-japanese       Shift_JIS (ibm-943 P15A)  Shift-JIS plus Apple symbols; keeps 0x5C/0x7E ASCII
//   x-mac-korean         EUC-KR (ibm-970)          EUC-KR plus Apple symbols
//   x-mac-simp-chinese   GB2312 (ibm-1383)         EUC-CN plus a few single bytes
//   x-mac-trad-chinese   Big5 (windows-950)        Big5 plus Apple symbols
//   x-mac-thai           windows-874               Thai letters sit where TIS-620 has them
//   x-mac-ukrainian      x-mac-cyrillic            Mac Cyrillic took in Ґ/ґ at 0xA2/0xB6
//   x-mac-roman-latin1   macintosh                 Latin-1 letters sit where Mac Roman has them
//   x-mac-croatian       unknown                   Č Ć Đ Š Ž are where Mac Roman has other signs
//   x-mac-icelandic      unknown                   Ð ð Þ þ Ý ý differ from Mac Roman
//   x-mac-romanian       unknown                   Ă ă Ș ș Ț ț differ from Mac Roman
//   x-nextstep           unknown                   no converter with its upper half
//   x-mac-symbol         unknown                   symbol font, no text letters
//   x-mac-dingbats       unknown                   symbol font, no text letters
//
// ICU's aliases "cp949" and "cp950" name IBM code pages, not the Windows ones
// that these names mean on every other system, so the Windows tables are
// named here directly; likewise "cp874".
struct Charset {
    const char* iana;
    const char* converter;
};

constexpr Charset kCharsets[] = {
    {"shift_jis", "ibm-943_P15A-2003"},
    {"gb18030", "gb18030"},
    {"big5", "windows-950-2000"},
    {"euc-kr", "ibm-970_P110_P110-2006_U2"},
    {"euc-jp", "euc-jp-2007"},
    {"x-mac-japanese", "ibm-943_P15A-2003"},
    {"iso-2022-jp", "ISO_2022,locale=ja,version=0"},
    {"iso-2022-jp-2", "ISO_2022,locale=ja,version=2"},
    {"iso-2022-jp-1", "ISO_2022,locale=ja,version=1"},
    {"x-mac-korean", "ibm-970_P110_P110-2006_U2"},
    {"iso-2022-kr", "ISO_2022,locale=ko,version=0"},
    {"x-mac-simp-chinese", "ibm-1383_P110-1999"},
    {"gb2312", "ibm-1383_P110-1999"},
    {"iso-2022-cn", "ISO_2022,locale=zh,version=0"},
    {"hz-gb-2312", "HZ"},
    {"x-mac-trad-chinese", "windows-950-2000"},
    {"big5-hkscs", "ibm-1375_P100-2008"},
    {"us-ascii", "US-ASCII"},
    {"x-mac-greek", "macos-6_2-10.4"},
    {"x-mac-croatian", nullptr},
    {"x-mac-icelandic", nullptr},
    {"x-mac-romanian", nullptr},
    {"x-mac-cyrillic", "macos-7_3-10.2"},
    {"koi8-r", "ibm-878_P100-1996"},
    {"koi8-u", "ibm-1168_P100-2002"},
    {"x-mac-thai", "windows-874-2000"},
    {"x-mac-turkish", "macos-35-10.2"},
    {"x-mac-ukrainian", "macos-7_3-10.2"},
    {"iso-8859-5", "ibm-915_P100-1995"},
    {"iso-8859-6", "ibm-1089_P100-1995"},
    {"iso-8859-7", "ibm-9005_X110-2007"},
    {"iso-8859-8", "ibm-5012_P100-1999"},
    {"iso-8859-11", "iso-8859_11-2001"},
    {"iso-8859-1", "ISO-8859-1"},
    {"iso-8859-2", "ibm-912_P100-1995"},
    {"iso-8859-3", "ibm-913_P100-2000"},
    {"iso-8859-4", "ibm-914_P100-1995"},
    {"iso-8859-9", "ibm-920_P100-1995"},
    {"iso-8859-10", "iso-8859_10-1998"},
    {"iso-8859-13", "ibm-921_P100-1995"},
    {"iso-8859-14", "iso-8859_14-1998"},
    {"iso-8859-15", "ibm-923_P100-1998"},
    {"utf-8", "UTF-8"},
    {"utf-16", "UTF-16"},
    {"utf-7", "UTF-7"},
    {"utf-32", "UTF-32"},
    {"utf-16be", "UTF-16BE"},
    {"utf-16le", "UTF-16LE"},
    {"utf-32be", "UTF-32BE"},
    {"utf-32le", "UTF-32LE"},
    {"cp437", "ibm-437_P100-1995"},
    {"cp737", "ibm-737_P100-1997"},
    {"cp775", "ibm-775_P100-1996"},
    {"cp850", "ibm-850_P100-1995"},
    {"cp851", "ibm-851_P100-1995"},
    {"cp852", "ibm-852_P100-1995"},
    {"cp855", "ibm-855_P100-1995"},
    {"cp857", "ibm-857_P100-1995"},
    {"cp860", "ibm-860_P100-1995"},
    {"cp861", "ibm-861_P100-1995"},
    {"cp862", "ibm-862_P100-1995"},
    {"cp863", "ibm-863_P100-1995"},
    {"cp864", "ibm-864_X110-1999"},
    {"cp865", "ibm-865_P100-1995"},
    {"cp866", "ibm-866_P100-1995"},
    {"cp869", "ibm-869_P100-1995"},
    {"cp874", "windows-874-2000"},
    {"cp932", "ibm-943_P15A-2003"},
    {"cp936", "windows-936-2000"},
    {"cp949", "windows-949-2000"},
    {"cp950", "windows-950-2000"},
    {"windows-1252", "ibm-5348_P100-1997"},
    {"windows-1250", "ibm-5346_P100-1998"},
    {"windows-1251", "ibm-5347_P100-1998"},
    {"windows-1253", "ibm-5349_P100-1998"},
    {"windows-1254", "ibm-5350_P100-1998"},
    {"windows-1255", "ibm-9447_P100-2002"},
    {"windows-1256", "ibm-9448_X100-2005"},
    {"windows-1257", "ibm-9449_P100-2002"},
    {"windows-1258", "ibm-5354_P100-1998"},
    {"x-mac-roman-latin1", "macos-0_2-10.2"},
    {"x-nextstep", nullptr},
    {"ibm037", "ibm-37_P100-1995"},
    {"macintosh", "macos-0_2-10.2"},
    {"x-mac-centraleurroman", "macos-29-10.2"},
    {"x-mac-symbol", nullptr},
    {"x-mac-dingbats", nullptr},
};

// Platform order: the order in which the last decoding step tries every
// encoding on offer, one name per converter. Bytes only get here when they
// are neither UTF-8 nor Shift-JIS, so the order is a priority list: the
// multi-byte sets that accept only well-formed pairs come first, Japanese
// ones first of all, the permissive GB18030 last among them; then
// windows-1252, which maps every byte and so ends the search for any input.
// What follows it is listed for the settings screens and never reached by
// decoding. UTF-16/32 come last because any even run of bytes "decodes" as
// UTF-16.
constexpr const char* kPlatformOrder[] = {
    "shift_jis", "euc-jp", "iso-2022-jp", "iso-2022-jp-1", "iso-2022-jp-2",
    "euc-kr", "cp949", "iso-2022-kr",
    "big5", "big5-hkscs",
    "gb2312", "cp936", "gb18030", "hz-gb-2312", "iso-2022-cn",
    "utf-8", "utf-7",
    "windows-1252", "iso-8859-1", "macintosh", "us-ascii",
    "x-mac-greek", "x-mac-cyrillic", "koi8-r", "koi8-u", "x-mac-turkish",
    "iso-8859-5", "iso-8859-6", "iso-8859-7", "iso-8859-8", "iso-8859-11",
    "iso-8859-2", "iso-8859-3", "iso-8859-4", "iso-8859-9", "iso-8859-10",
    "iso-8859-13", "iso-8859-14", "iso-8859-15",
    "cp437", "cp737", "cp775", "cp850", "cp851", "cp852", "cp855", "cp857",
    "cp860", "cp861", "cp862", "cp863", "cp864", "cp865", "cp866", "cp869", "cp874",
    "windows-1250", "windows-1251", "windows-1253", "windows-1254", "windows-1255",
    "windows-1256", "windows-1257", "windows-1258",
    "ibm037", "x-mac-centraleurroman",
    "utf-16", "utf-16be", "utf-16le", "utf-32", "utf-32be", "utf-32le",
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// The converter for a character-set name, or "" when there is none.
std::string converterFor(const std::string& name) {
    if (name.empty()) return {};
    for (const Charset& c : kCharsets) {
        if (equalsIgnoringCase(name, c.iana)) return c.converter ? c.converter : "";
    }
    // Not ours: any name that the converter library lists as an IANA or MIME
    // name. Its loose aliases ("cp949" for an IBM page) are not trusted.
    for (const char* standard : {"IANA", "MIME"}) {
        UErrorCode err = U_ZERO_ERROR;
        const char* canonical = ucnv_getCanonicalName(name.c_str(), standard, &err);
        if (U_SUCCESS(err) && canonical && *canonical) return canonical;
    }
    return {};
}

// One open converter per converter name and thread: opening one is far dearer
// than decoding a file name, and converters are not thread-safe.
class ConverterCache {
public:
    ~ConverterCache() {
        for (auto& [name, conv] : converters_) ucnv_close(conv);
    }
    UConverter* get(const std::string& name) {
        auto it = converters_.find(name);
        if (it != converters_.end()) {
            ucnv_reset(it->second);
            return it->second;
        }
        UErrorCode err = U_ZERO_ERROR;
        UConverter* conv = ucnv_open(name.c_str(), &err);
        if (U_FAILURE(err) || !conv) return nullptr;
        // Stop at the first byte or character without a mapping: a name that
        // does not decode must fail, not come out with substitution marks.
        ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        if (U_FAILURE(err)) {
            ucnv_close(conv);
            return nullptr;
        }
        converters_.emplace(name, conv);
        return conv;
    }

private:
    std::unordered_map<std::string, UConverter*> converters_;
};

UConverter* converter(const std::string& name) {
    thread_local ConverterCache cache;
    return cache.get(name);
}

std::optional<std::string> decode(const std::string& converterName, const char* bytes, size_t length) {
    if (converterName.empty()) return std::nullopt;
    UConverter* conv = converter(converterName);
    if (!conv) return std::nullopt;
    if (length > static_cast<size_t>(INT32_MAX / 2)) return std::nullopt;
    int32_t srcLen = static_cast<int32_t>(length);
    std::u16string out(length + 2, u'\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv, out.data(), static_cast<int32_t>(out.size()), bytes, srcLen, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<size_t>(n) + 1, u'\0');
        ucnv_reset(conv);
        err = U_ZERO_ERROR;
        n = ucnv_toUChars(conv, out.data(), static_cast<int32_t>(out.size()), bytes, srcLen, &err);
    }
    if (U_FAILURE(err)) return std::nullopt;
    std::string result;
    icu::UnicodeString(false, out.data(), n).toUTF8String(result);
    return result;
}

std::mutex& defaultMutex() {
    static std::mutex m;
    return m;
}

std::string& defaultName() {
    static std::string name;
    return name;
}

constexpr size_t kDefaultCharsetCapacity = 128;

}  // namespace

void QNTextEncoding::setDefaultCharset(const std::optional<std::string>& name) {
    std::lock_guard<std::mutex> lock(defaultMutex());
    if (!name) {
        defaultName().clear();
        return;
    }
    // The stored form is a NUL-terminated name in a 128-byte buffer; anything
    // that would not fit leaves the previous choice in place.
    if (name->size() > kDefaultCharsetCapacity - 2) return;
    defaultName() = name->substr(0, std::min(name->size(), std::strlen(name->c_str())));
}

std::string QNTextEncoding::defaultCharset() {
    std::lock_guard<std::mutex> lock(defaultMutex());
    return defaultName();
}

void QNTextEncoding::setDefaultLanguage(const std::optional<std::string>& language) {
    if (!language) {
        setDefaultCharset(std::nullopt);
        return;
    }
    const std::string& l = *language;
    if (l == "ja") setDefaultCharset(std::string("shift_jis"));
    else if (l == "kr") setDefaultCharset(std::string("euc-kr"));
    else if (l == "zh-Hans") setDefaultCharset(std::string("gb18030"));
    else if (l == "zh-Hant") setDefaultCharset(std::string("big5"));
    else setDefaultCharset(std::string("shift_jis"));
}

void QNTextEncoding::setDefaultLanguage() { setDefaultLanguage(systemPreferredLanguage()); }

std::string QNTextEncoding::systemPreferredLanguage() {
    std::string locale;
    if (const char* v = std::getenv("LANGUAGE"); v && *v) {
        locale = v;
        locale = locale.substr(0, locale.find(':'));
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (!locale.empty()) break;
        if (const char* v = std::getenv(var); v && *v) locale = v;
    }
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return "en";

    std::string language = locale.substr(0, locale.find_first_of("_-"));
    if (language != "zh") return language;
    // Chinese is told apart by its script, which a POSIX locale gives only
    // through the region (zh_TW, zh_HK: traditional).
    char full[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode err = U_ZERO_ERROR;
    uloc_addLikelySubtags(locale.c_str(), full, sizeof full, &err);
    char script[ULOC_SCRIPT_CAPACITY] = {};
    if (U_SUCCESS(err)) uloc_getScript(full, script, sizeof script, &err);
    if (U_FAILURE(err) || !*script) return "zh-Hans";
    return std::string("zh-") + script;
}

std::optional<std::string> QNTextEncoding::stringWithCString(const char* bytes, std::string* detectedEncoding) {
    if (!bytes) {
        if (detectedEncoding) detectedEncoding->clear();
        return std::nullopt;
    }
    const size_t length = std::strlen(bytes);

    // 1. The user's choice wins even over valid UTF-8: Shift-JIS names are
    //    often valid UTF-8 by accident.
    const std::string chosen = defaultCharset();
    if (const std::string conv = converterFor(chosen); !conv.empty()) {
        if (detectedEncoding) *detectedEncoding = chosen;
        if (auto s = decode(conv, bytes, length)) return s;
    }
    // 2. and 3.
    for (const char* name : {kUTF8, kShiftJIS}) {
        if (detectedEncoding) *detectedEncoding = name;
        if (auto s = decode(converterFor(name), bytes, length)) return s;
    }
    // 4. Everything else on offer, in platform order.
    if (detectedEncoding) detectedEncoding->clear();
    for (const char* name : kPlatformOrder) {
        if (std::strcmp(name, kUTF8) == 0 || std::strcmp(name, kShiftJIS) == 0) continue;  // tried above
        if (auto s = decode(converterFor(name), bytes, length)) {
            if (detectedEncoding) *detectedEncoding = name;
            return s;
        }
    }
    return std::nullopt;
}

std::optional<std::string> QNTextEncoding::stringWithCString(const char* bytes, const std::string& IANACharSetname) {
    if (!bytes) return std::nullopt;
    return decode(converterFor(IANACharSetname), bytes, std::strlen(bytes));
}

std::optional<std::string> QNTextEncoding::dataWithString(const std::string& text, const std::string& IANACharSetname) {
    const std::string name = converterFor(IANACharSetname);
    if (name.empty()) return std::nullopt;
    UConverter* conv = converter(name);
    if (!conv) return std::nullopt;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    std::string out(static_cast<size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(u.length(), ucnv_getMaxCharSize(conv))) + 1, '\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()), u.getBuffer(), u.length(), &err);
    if (U_FAILURE(err)) return std::nullopt;
    out.resize(static_cast<size_t>(n));
    return out;
}

std::vector<std::string> QNTextEncoding::getAvailableStringEncodings() {
    std::vector<std::string> names;
    for (const char* name : kPlatformOrder) {
        if (!converterFor(name).empty() && converter(converterFor(name))) names.emplace_back(name);
    }
    return names;
}

bool QNTextEncoding::isKnownCharset(const std::string& IANACharSetname) {
    const std::string conv = converterFor(IANACharSetname);
    return !conv.empty() && converter(conv) != nullptr;
}

bool QNTextEncoding::isASCIIOnlyString(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}
