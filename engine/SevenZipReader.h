#pragma once

#include "engine/SevenZipArchive.h"
#include "engine/SevenZipItem.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Told how far an extraction has come, on the main thread.
class SevenZipReaderDelegate {
public:
    virtual ~SevenZipReaderDelegate() = default;
    virtual void onSevenZipReaderExtractProgress(float progress) = 0;
};

// A local 7z (or xz) file read through 7-Zip's library: its items, and
// extraction of items into a folder. Every name that becomes a path is
// confined to the destination folder ("..", absolute paths and
// backslashes cannot leave it), and a file appears under its name only
// once it is completely written, so nobody ever reads half a file.
class SevenZipReader {
public:
    enum FileType { kUndefined = 0, k7z = 1, kXz = 2 };
    using Error = SevenZipArchive::Error;

    SevenZipReader(const std::string& path, int fileType);
    // The type from the lower-cased extension: "7z" or "xz", else undefined.
    explicit SevenZipReader(const std::string& path);
    ~SevenZipReader();

    const std::string& path() const { return path_; }
    int fileType() const { return fileType_; }
    void setDelegate(std::weak_ptr<SevenZipReaderDelegate> d) { delegate_ = std::move(d); }
    // Asked when the archive wants a password; without one, encrypted
    // items (and archives with an encrypted directory) cannot be read.
    void setPasswordGetter(SevenZipArchive::PasswordGetter getter) { passwordGetter_ = std::move(getter); }
    // Stops a running extraction at its next read while set. Set before open.
    void setCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

    // False with the reason in `error` (and lastError()).
    bool open(Error* error);
    // Every item from the first until `handler` answers false. An item
    // whose record cannot be read comes as nothing with an error.
    void iterateWithHandler(const std::function<bool(const std::optional<SevenZipItem>&, const Error*)>& handler);
    // Extracts the items under `folder` (made when missing) with their
    // paths, or by their last name only.
    bool extract(const std::vector<SevenZipItem>& items, const std::string& folder, bool withFullPaths);
    // Decodes the items without writing them.
    bool test(const std::vector<SevenZipItem>& items);
    uint32_t itemsCount() const;
    // The last failure; nothing after a success.
    std::optional<Error> lastError() const;

    // Extraction as the page reader needs it: the item's path under the
    // folder is chosen by `relativePath` (already confined), at most
    // `maxBytes` are written in all, and `onFileClosed` hears of each file
    // once it is complete under its name (from the extracting thread).
    struct FileTargets {
        std::function<std::string(const SevenZipItem&)> relativePath;
        uint64_t maxBytes = UINT64_MAX;
        std::function<void(const SevenZipItem&, const std::string& fullPath)> onFileClosed;
    };
    bool extract(const std::vector<SevenZipItem>& items, const std::string& folder, const FileTargets& targets);

    // The entry path as a relative path that stays inside any folder:
    // components split at "/" and "\", empty, "." and ".." ones dropped.
    // Nothing when no component is left.
    static std::optional<std::string> confinedRelativePath(const std::string& entryPath);

    // The open archive, for callers that want its items in memory.
    SevenZipArchive* archive() const { return archive_.get(); }

private:
    void setError(int64_t code, int line, std::string description);
    void reportProgress(float progress);

    std::string path_;
    int fileType_ = kUndefined;
    std::weak_ptr<SevenZipReaderDelegate> delegate_;
    SevenZipArchive::PasswordGetter passwordGetter_;
    const std::atomic<bool>* cancel_ = nullptr;
    std::unique_ptr<SevenZipArchive> archive_;
    Error lastError_;
};
