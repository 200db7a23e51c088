#pragma once

#include <string>
#include <string_view>

namespace sys {

// Path strings with the platform's rules: runs of "/" count as one, a trailing
// "/" is ignored (except for "/" itself), and a name that begins with "." has
// an extension only after a later dot (".settings.lbs" has "lbs", ".onlinebook"
// has none). Pure string work; nothing touches the disk.
class Path {
public:
    // "/tmp/scratch.tiff" -> "scratch.tiff"; "/tmp/" -> "tmp"; "/" -> "/"; "" -> "".
    static std::string lastPathComponent(std::string_view path);
    // "/tmp/scratch.tiff" -> "tiff"; ".scratch.tiff" -> "tiff"; "/tmp/" -> ""; ".bashrc" -> "".
    static std::string pathExtension(std::string_view path);
    // "/tmp" + "a/b/" -> "/tmp/a/b"; "" + "a" -> "a"; "/" + "a" -> "/a".
    static std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
    // "/tmp/scratch.tiff" -> "/tmp"; "/tmp/" -> "/"; "/" -> "/"; "scratch" -> "".
    static std::string stringByDeletingLastPathComponent(std::string_view path);
    // "/tmp/scratch.old" + "tiff" -> "/tmp/scratch.old.tiff"; "/tmp/" + "tiff" -> "/tmp.tiff".
    // "" and "/" cannot take an extension and come back unchanged, as does an
    // extension that holds a "/".
    static std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension);
    // "/tmp/scratch.tiff" -> "/tmp/scratch"; "/tmp/" -> "/tmp"; ".tiff" -> ".tiff".
    static std::string stringByDeletingPathExtension(std::string_view path);

    // The path with runs of "/" made single and a trailing "/" dropped.
    static std::string standardizedSlashes(std::string_view path);
    static bool isAbsolute(std::string_view path) { return !path.empty() && path.front() == '/'; }
};

}  // namespace sys
