#include "cloud/HttpRequest.h"

#include <algorithm>
#include <cctype>

namespace {

bool isHeaderNamed(const std::string& line, const std::string& name) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    return std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace

void HttpRequest::setHeader(const std::string& name, const std::string& value) {
    removeHeader(name);
    headers.push_back(name + ": " + value);
}

void HttpRequest::removeHeader(const std::string& name) {
    std::erase_if(headers, [&](const std::string& line) { return isHeaderNamed(line, name); });
}

std::string HttpRequest::header(const std::string& name) const {
    for (const auto& line : headers) {
        if (!isHeaderNamed(line, name)) continue;
        size_t v = name.size() + 1;
        while (v < line.size() && line[v] == ' ') ++v;
        return line.substr(v);
    }
    return {};
}
