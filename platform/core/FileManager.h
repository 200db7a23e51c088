#pragma once

#include <atomic>
#include <functional>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/core/Date.h"

struct stat;

namespace sys {

// Files and folders with the platform's file manager's rules. Every operation
// reports failure by its result; when `error` is given it receives the reason
// (errno values, std::generic_category). Nothing here throws.
//
// Differences from plain POSIX that matter: moveItem never replaces an existing
// destination (a book must not vanish under another of the same name),
// removeItem never follows a symbolic link, and copyItem and moveItem leave no
// half-made destination behind when they fail. What the program keeps is the
// user's own (site addresses, user names, reading history): folders it makes
// are private to the user (0700) and files it writes anew too (0600).
class FileManager {
public:
    enum class FileType { Regular, Directory, SymbolicLink, Other };

    struct Attributes {
        FileType type = FileType::Other;
        std::uint64_t size = 0;
        Date modificationDate;
        Date creationDate;  // birth time where the file system keeps it, else the modification date
        std::uint32_t permissions = 0;  // mode bits 07777
    };

    struct DirectoryEntry {
        std::string name;
        FileType type = FileType::Other;  // of the entry itself: a link is a link
        bool operator==(const DirectoryEntry&) const = default;
    };

    // Refused reads of files larger than this (contentsOfFile's default cap).
    static constexpr std::uint64_t kDefaultReadLimit = 512ull << 20;

    // Follows symbolic links: a link to a folder is a folder, a dangling link does not exist.
    static bool fileExists(const std::string& path, bool* isDirectory = nullptr);

    // With intermediates, an existing folder is success; without, it is EEXIST.
    static bool createDirectory(const std::string& path, bool withIntermediateDirectories,
                                std::error_code* error = nullptr);

    // Removes a file, a link (not its target) or a folder with all it holds.
    static bool removeItem(const std::string& path, std::error_code* error = nullptr);

    // Copies a file, link or folder tree (modes and modification dates kept).
    // Fails with EEXIST when `to` exists.
    static bool copyItem(const std::string& from, const std::string& to, std::error_code* error = nullptr);
    // As copyItem, but the copy is the user's own like every file the
    // program writes (files 0600, folders 0700), whatever the modes it had.
    static bool copyItemPrivately(const std::string& from, const std::string& to, std::error_code* error = nullptr);

    // Copies the regular file `from` to `to`, which must not exist, as the
    // user's own (0600): a clone of its blocks where the file system shares
    // them, else in pieces of at most kCopyPiece bytes. Between pieces it
    // calls `progress` with the bytes copied so far and gives up when `stop`
    // is set. A copy that fails or is given up leaves nothing at `to`.
    static constexpr std::uint64_t kCopyPiece = 4ull << 20;
    static bool copyFileStoppable(const std::string& from, const std::string& to, const std::atomic<bool>* stop,
                                  const std::function<void(std::uint64_t)>& progress = {},
                                  std::error_code* error = nullptr);

    // Renames, or copies and removes across file systems. Fails with EEXIST
    // when `to` exists, and then nothing has changed.
    static bool moveItem(const std::string& from, const std::string& to, std::error_code* error = nullptr);

    // Of the item itself (a link's own attributes) unless followSymlinks.
    static std::optional<Attributes> attributesOfItem(const std::string& path, bool followSymlinks = false,
                                                      std::error_code* error = nullptr);
    // These follow links.
    static std::optional<std::uint64_t> fileSize(const std::string& path);
    static std::optional<Date> modificationDate(const std::string& path);
    static std::optional<Date> creationDate(const std::string& path);
    static bool setModificationDate(const std::string& path, Date date, std::error_code* error = nullptr);

    // Names in the folder (dot files included, "." and ".." not), sorted by bytes.
    static std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                       std::error_code* error = nullptr);
    static std::optional<std::vector<DirectoryEntry>> entriesOfDirectory(const std::string& path,
                                                                         std::error_code* error = nullptr);

    // The whole of a regular file (EISDIR for a folder, EINVAL for a pipe or
    // device); EFBIG when it is larger than `limit`.
    static std::optional<std::string> contentsOfFile(const std::string& path,
                                                     std::uint64_t limit = kDefaultReadLimit,
                                                     std::error_code* error = nullptr);
    // A descriptor (close-on-exec) for reading a regular file, following
    // links; -1 otherwise (EISDIR for a folder, EINVAL for a pipe, socket or
    // device). The open itself never waits: a pipe with no writer is opened
    // without blocking and turned away. `status`, when given, receives the
    // file's stat, so that the caller need not ask again.
    static int openRegularFileForReading(const std::string& path, std::error_code* error = nullptr,
                                         struct stat* status = nullptr);
    // The same as a stdio stream ("rb"); nullptr otherwise.
    static std::FILE* openRegularFileStream(const std::string& path, std::error_code* error = nullptr);

    // Atomically: a temporary file in the same folder, flushed to disk, then
    // renamed over `path`, so readers see the old or the new file, never a part.
    static bool writeFile(const std::string& path, std::string_view bytes, bool atomically = true,
                          std::error_code* error = nullptr);

    // The mark that keeps an item out of backups, kept as an extended attribute.
    static constexpr const char* kExcludeFromBackupAttribute = "user.leafbright.exclude-from-backup";
    static bool setExcludedFromBackup(const std::string& path, bool excluded, std::error_code* error = nullptr);
    static bool isExcludedFromBackup(const std::string& path);
};

}  // namespace sys
