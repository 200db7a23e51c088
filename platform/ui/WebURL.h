#pragma once

#include <string>

namespace ui {

// The little URL arithmetic a web view needs: resolving a link against the
// page's address, and going between file URLs and paths.
class WebURL {
public:
    // The scheme in lower case, "" for a relative reference.
    static std::string scheme(const std::string& url);
    // `ref` resolved against `base` (RFC 3986: merged paths, dot segments removed).
    static std::string resolve(const std::string& base, const std::string& ref);
    static std::string withoutFragment(const std::string& url);
    // The part after '#', "" when none.
    static std::string fragment(const std::string& url);
    // The last component of the path ("about.html"), without query or fragment.
    static std::string lastPathComponent(const std::string& url);
    // "file:///a%20b/c.html" for "/a b/c.html".
    static std::string fromPath(const std::string& absolutePath);
    // The path of a local file URL, percent-decoded; "" when it is not one
    // (another host, another scheme, an encoded NUL or slash trickery).
    static std::string toPath(const std::string& url);
    static std::string percentDecode(const std::string& s);
};

}  // namespace ui
