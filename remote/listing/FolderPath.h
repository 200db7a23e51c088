#pragma once

#include <optional>
#include <string>
#include <vector>

// Whether an address names something inside a listed folder, compared the
// way servers mean their paths: segment by segment, each segment
// percent-decoded, so that "/%e6%bc%ab/" (lower-case escapes), "/%E6%BC%AB/"
// and the raw bytes name one folder. Query and fragment play no part.
class FolderPath {
public:
    FolderPath() = delete;

    // The raw segments of `path` below the folder whose path is
    // `folderPath` ("/a/b/" or "/a/b"): for "/a/b/c/d" that is {"c", "d"},
    // and a final "/" gives a last empty segment ("/a/b/c/" -> {"c", ""}).
    // Nothing when `path` is not below the folder, or is the folder itself.
    static std::optional<std::vector<std::string>> segmentsBelow(const std::string& folderPath,
                                                                 const std::string& path);
    // The path part of an absolute URL: after the host, before "?" or "#"
    // ("/" when it has none); "" when the text is not an absolute URL.
    static std::string pathOf(const std::string& url);
    // The URL without its query and fragment.
    static std::string withoutQuery(const std::string& url);
};
