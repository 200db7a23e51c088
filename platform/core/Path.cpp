#include "platform/core/Path.h"

namespace sys {

namespace {

// Position of the dot that starts the extension of the last component of a
// standardized path, or npos. A dot at the start of the component is a hidden
// file's mark, not an extension.
std::size_t extensionDot(const std::string& fixed) {
    std::size_t slash = fixed.rfind('/');
    std::size_t start = (slash == std::string::npos) ? 0 : slash + 1;
    std::size_t dot = fixed.rfind('.');
    if (dot == std::string::npos || dot <= start) return std::string::npos;
    return dot;
}

}  // namespace

std::string Path::standardizedSlashes(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string Path::lastPathComponent(std::string_view path) {
    std::string fixed = standardizedSlashes(path);
    if (fixed == "/") return fixed;
    std::size_t slash = fixed.rfind('/');
    return slash == std::string::npos ? fixed : fixed.substr(slash + 1);
}

std::string Path::pathExtension(std::string_view path) {
    std::string fixed = standardizedSlashes(path);
    std::size_t dot = extensionDot(fixed);
    return dot == std::string::npos ? std::string() : fixed.substr(dot + 1);
}

std::string Path::stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    std::string joined(path);
    if (!joined.empty() && !component.empty()) joined.push_back('/');
    joined.append(component);
    return standardizedSlashes(joined);
}

std::string Path::stringByDeletingLastPathComponent(std::string_view path) {
    std::string fixed = standardizedSlashes(path);
    if (fixed == "/") return fixed;
    std::size_t slash = fixed.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return fixed.substr(0, slash);
}

std::string Path::stringByAppendingPathExtension(std::string_view path, std::string_view extension) {
    std::string fixed = standardizedSlashes(path);
    if (fixed.empty() || fixed == "/" || extension.find('/') != std::string_view::npos) return std::string(path);
    fixed.push_back('.');
    fixed.append(extension);
    return fixed;
}

std::string Path::stringByDeletingPathExtension(std::string_view path) {
    std::string fixed = standardizedSlashes(path);
    std::size_t dot = extensionDot(fixed);
    return dot == std::string::npos ? fixed : fixed.substr(0, dot);
}

}  // namespace sys

