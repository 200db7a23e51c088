#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// An entry taken out of a local archive and written beside it (an inner
// archive the user picked). The file gets a name of its own: an existing
// file is never replaced, "name 2.ext", "name 3.ext"... are tried instead.
// Nothing is left behind unless finish() is told the copy is complete.
class ExtractedEntryFile {
public:
    ExtractedEntryFile() = default;
    ~ExtractedEntryFile();
    ExtractedEntryFile(const ExtractedEntryFile&) = delete;
    ExtractedEntryFile& operator=(const ExtractedEntryFile&) = delete;

    // The name to write under: the last component of the entry's name as
    // text (split at any of `separators`), confined to one plain name; when
    // it does not decode or confine, a localized "Untitled" of the kind the
    // raw name says.
    static std::string leafName(const std::optional<std::string>& text, const char* separators,
                                const std::string& rawName);

    // What an entry must leave free on the disk it is written to: a small
    // archive may hold an entry of many times its size, which must not fill
    // the disk the library and its settings live on.
    static constexpr uint64_t kFreeSpaceMargin = 64ull << 20;
    // The bytes free for this user on the disk of a folder, nothing when
    // unknown. Tests stand in for the disk with their own; an empty one
    // asks the disk again.
    using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::string& folder)>;
    static void setFreeSpaceProbe(FreeSpaceProbe probe);

    // Creates `leaf` in the folder of the local archive `archivePath`, when
    // that disk has room for `size` bytes and the margin. False when nothing
    // was created; lackedRoom() then tells whether that was for want of room.
    bool create(const std::string& archivePath, const std::string& leaf, uint64_t size);
    bool lackedRoom() const { return lackedRoom_; }
    bool write(const char* data, size_t size);
    // Closes the file and keeps it only when `complete` and the close
    // succeeded; otherwise removes it. True when kept.
    bool finish(bool complete);
    // The file being written, until it is finished.
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
    bool lackedRoom_ = false;
};
