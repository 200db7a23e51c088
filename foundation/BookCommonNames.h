#pragma once

#include <cstddef>
#include <optional>
#include <string>

// BookCommon's operations for digests, escapes and name helpers.
// Class operations only; reach them through BookCommon.
class BookCommonNames {
public:
    // MD5 of a NUL-terminated byte string as 32 lower-case hex digits.
    static std::string calcMD5StringFromCstring(const char* bytes);

    // Escapes name bytes that no character set decodes, into a bounded
    // buffer (same contract as UrlPercent): letters, digits and "-._~" stay;
    // "/" and "\" stay unless the byte before them is a Shift-JIS lead byte
    // (then they are the second half of a double-byte character); every
    // other byte becomes "%XX".
    static size_t escapeUndecodableName(const char* src, char* dst, size_t capacity);

    // Name bytes from an archive or listing as text: decoded by the character
    // set detection, else (undecodable) an escaped ASCII form, or the MD5 of
    // the bytes for names of 5120 bytes or more. With `removeSlash` every "/"
    // becomes "%2F", so the result is a single path component.
    static std::string getFolderPathStringFromCString(const char* bytes, bool removeSlash);

    // Unicode normalisation form D.
    static std::string getNFDString(const std::string& text);
    // Gives a file the name in the form the file system reports for it.
    // Linux file systems store names byte for byte, so the reported name is
    // always the given one and nothing is renamed: nothing is returned.
    static std::optional<std::string> renameFileToNfdWithFilepath(const std::string& path, bool isRename);
    static void renameFileToNfdWithDirectory(const std::string& folder, bool isRename);

protected:
    BookCommonNames() = default;
};
