#include "remote/listing/FolderPath.h"

#include "platform/core/PercentEncoding.h"

namespace {

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> out;
    size_t b = path.empty() || path[0] != '/' ? 0 : 1;
    for (;;) {
        const size_t e = path.find('/', b);
        out.push_back(path.substr(b, e == std::string::npos ? std::string::npos : e - b));
        if (e == std::string::npos) break;
        b = e + 1;
    }
    return out;
}

}  // namespace

std::optional<std::vector<std::string>> FolderPath::segmentsBelow(const std::string& folderPath,
                                                                  const std::string& path) {
    std::vector<std::string> folder = split(folderPath);
    // "/a/b/" and "/a/b" name one folder; the root is "/".
    if (!folder.empty() && folder.back().empty()) folder.pop_back();
    const std::vector<std::string> all = split(path);
    if (all.size() <= folder.size()) return std::nullopt;
    for (size_t i = 0; i < folder.size(); ++i) {
        if (sys::PercentEncoding::decode(folder[i]) != sys::PercentEncoding::decode(all[i])) return std::nullopt;
    }
    std::vector<std::string> below(all.begin() + long(folder.size()), all.end());
    // The folder itself, written with its final "/".
    if (below.size() == 1 && below[0].empty()) return std::nullopt;
    return below;
}

std::string FolderPath::pathOf(const std::string& url) {
    const size_t sep = url.find("://");
    if (sep == std::string::npos) return {};
    const size_t start = url.find_first_of("/?#", sep + 3);
    if (start == std::string::npos || url[start] != '/') return "/";
    const size_t end = url.find_first_of("?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string FolderPath::withoutQuery(const std::string& url) {
    const size_t sep = url.find("://");
    const size_t end = url.find_first_of("?#", sep == std::string::npos ? 0 : sep + 3);
    return end == std::string::npos ? url : url.substr(0, end);
}
