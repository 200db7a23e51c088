#pragma once

#include <cstddef>
#include <string>

// Byte-level percent escapes, as the URL parser, the listing readers and the
// local HTTP server use them. The buffer forms write a NUL-terminated result
// of at most `capacity` bytes (NUL included) and never past it: a result that
// does not fit is cut, also in the middle of an escape. They return the
// number of bytes written before the NUL. A null source writes "".
class UrlPercent {
public:
    UrlPercent() = delete;

    // "0123456789ABCDEF"[nibble]; "0" for anything outside 0..15.
    static char hexDigit(int nibble);

    // "%" + two characters becomes the byte they spell (0-9, A-F, a-f; any
    // other character counts as 0). A "%" at the end of the text, or cut short
    // by it, ends the result. Everything else is copied. A decoded NUL byte
    // ends the result as a C string.
    static size_t decode(const char* src, char* dst, size_t capacity);
    // Letters, digits and "-._~" are kept; every other byte is escaped.
    static size_t encode(const char* src, char* dst, size_t capacity);
    // Letters, digits and "~$&+,-./:;=?@_" are kept; every other byte is escaped.
    static size_t encodePath(const char* src, char* dst, size_t capacity);

    // Whole-string forms (up to the first NUL of the input or of the result).
    static std::string decoded(const std::string& text);
    static std::string encoded(const std::string& text);
    static std::string encodedPath(const std::string& text);
};

// The name the listing readers know it by.
inline size_t UrlPercentDecode(const char* src, char* dst, size_t capacity) {
    return UrlPercent::decode(src, dst, capacity);
}
