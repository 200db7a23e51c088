#pragma once

#include <optional>
#include <string>
#include <vector>

// Turns name bytes of unknown encoding (archive entries, listings, FTP
// directories) into UTF-8 text, and back.
//
// An encoding is named by an IANA character-set name ("shift_jis", "utf-8",
// "cp932"...). Lookups are case-insensitive; the names of our character-set
// table come first, then any IANA name the converter library itself knows.
// The empty name means "no encoding".
//
// The default character set is process-wide: written on the main thread by
// the settings, read by every worker that decodes names. All access is
// serialised, so a decode never sees half of a name.
class QNTextEncoding {
public:
    QNTextEncoding() = delete;

    static constexpr const char* kUTF8 = "utf-8";
    static constexpr const char* kShiftJIS = "shift_jis";

    // The default character set: an empty optional or an empty name clears it;
    // a name of more than 126 bytes is ignored and the previous default stays.
    static void setDefaultCharset(const std::optional<std::string>& name);
    static std::string defaultCharset();

    // "ja" -> shift_jis, "kr" -> euc-kr, "zh-Hans" -> gb18030,
    // "zh-Hant" -> big5, anything else -> shift_jis (whole-text comparison).
    // An empty optional clears the default.
    static void setDefaultLanguage(const std::optional<std::string>& language);
    // The same with the system's first preferred language.
    static void setDefaultLanguage();
    // The system's first preferred language in the short form the rule above
    // expects ("ja", "ko", "zh-Hans", "zh-Hant", "en"...), from the
    // environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG); "en" when unset.
    static std::string systemPreferredLanguage();

    // Decodes NUL-terminated bytes: the default character set, then UTF-8,
    // then Shift-JIS, then every available encoding in platform order.
    // `detectedEncoding`, when given, receives the IANA name of the encoding
    // that decoded the bytes, "" when none did. Null bytes give nothing.
    static std::optional<std::string> stringWithCString(const char* bytes,
                                                        std::string* detectedEncoding = nullptr);
    // Decodes with one named encoding; nothing when the name is unknown or the
    // bytes do not decode.
    static std::optional<std::string> stringWithCString(const char* bytes,
                                                        const std::string& IANACharSetname);
    // The reverse: UTF-8 text as bytes of the named encoding (no NUL added);
    // nothing when the name is unknown or a character has no mapping.
    static std::optional<std::string> dataWithString(const std::string& text,
                                                     const std::string& IANACharSetname);

    // IANA names of the encodings on offer, in platform order (the order the
    // last decoding step tries them in).
    static std::vector<std::string> getAvailableStringEncodings();

    // True when the platform can convert the named character set.
    static bool isKnownCharset(const std::string& IANACharSetname);

    static bool isASCIIOnlyString(const std::string& text);
};
