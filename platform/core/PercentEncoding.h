#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sys {

// Hex digits and "%XX" escapes, shared by every layer that reads or writes
// addresses, key-chain keys and escaped names.
class PercentEncoding {
public:
    // 0..15 for a hex digit of either case, -1 for anything else.
    static int hexValue(char c);
    // The upper-case digit of a nibble; '0' outside 0..15.
    static char hexDigit(int nibble);
    // Every byte but ASCII letters and digits, "-._~" and the bytes of
    // `keep` becomes "%XX" with upper-case digits.
    static std::string encode(std::string_view s, std::string_view keep = {});
    // Every well-formed "%XX" becomes its byte; a malformed or cut-off escape
    // stays as it is (what browsers do with a stray '%').
    static std::string decode(std::string_view s);
    // Like decode, but a malformed or cut-off escape makes the whole text invalid.
    static std::optional<std::string> decodeStrict(std::string_view s);
};

}  // namespace sys
