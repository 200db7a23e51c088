#include "remote/listing/RemoteFileEntry.h"

#include <charconv>
#include <cmath>

bool RemoteFileEntry::isFolder(const std::string& url, const sys::PlistDictionary& info) {
    if (info.contains(kIsFolder)) return info.getBool(kIsFolder);
    if (info.contains(kIsBook)) return !info.getBool(kIsBook);
    return !url.empty() && url.back() == '/';
}

sys::PlistValue RemoteFileEntry::dateValue(int64_t secondsSince1970) {
    return sys::PlistValue(std::to_string(secondsSince1970));
}

std::optional<int64_t> RemoteFileEntry::bookDate(const sys::PlistDictionary& info) {
    const sys::PlistValue& v = info.get(kBookDate);
    if (v.isString()) {
        const std::string& s = v.asString();
        int64_t seconds = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), seconds);
        if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
        return seconds;
    }
    if (v.isNumber()) {
        const double d = v.doubleValue();
        if (!std::isfinite(d) || std::fabs(d) > 9.2e18) return std::nullopt;
        return v.integerValue();
    }
    return std::nullopt;
}

std::optional<int64_t> RemoteFileEntry::sizeFromText(const std::string& text) {
    int64_t bytes = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return bytes;
}

std::optional<int64_t> RemoteFileEntry::bookSize(const sys::PlistDictionary& info) {
    const sys::PlistValue& v = info.get(kBookSize);
    if (v.isString()) return sizeFromText(v.asString());
    if (v.isNumber()) {
        const double d = v.doubleValue();
        if (!std::isfinite(d) || d < 0 || d > 9.2e18 || d != std::floor(d)) return std::nullopt;
        return v.integerValue();
    }
    return std::nullopt;
}
