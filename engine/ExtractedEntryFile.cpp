#include "engine/ExtractedEntryFile.h"

#include "foundation/BookCommon.h"
#include "platform/core/Path.h"

#include <cerrno>
#include <mutex>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string untitledName(const std::string& entryName) {
    const char* n = entryName.c_str();
    if (BookCommon::isZipFile(n)) return BookCommon::localizedStringWithOnOff("Untitled.zip");
    if (BookCommon::is7zFile(n)) return BookCommon::localizedStringWithOnOff("Untitled.7z");
    if (BookCommon::isRarFile(n)) return BookCommon::localizedStringWithOnOff("Untitled.rar");
    return BookCommon::localizedStringWithOnOff("Untitled.pdf");
}

std::mutex probeMutex;
ExtractedEntryFile::FreeSpaceProbe freeSpaceProbe;

std::optional<uint64_t> freeSpaceOf(const std::string& folder) {
    {
        std::lock_guard<std::mutex> lock(probeMutex);
        if (freeSpaceProbe) return freeSpaceProbe(folder);
    }
    struct statvfs fs{};
    if (::statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
    return uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize);
}

bool hasRoomFor(const std::string& folder, uint64_t bytes) {
    const auto free = freeSpaceOf(folder);
    if (!free) return true;  // let the writes tell
    return *free >= ExtractedEntryFile::kFreeSpaceMargin && *free - ExtractedEntryFile::kFreeSpaceMargin >= bytes;
}

// Creates `leaf` in `folder`, or "stem 2.ext", "stem 3.ext"... when the name
// is taken; never replaces anything. -1 on failure.
int createExclusively(const std::string& folder, const std::string& leaf, std::string& path) {
    const std::string stem = sys::Path::stringByDeletingPathExtension(leaf);
    const std::string ext = sys::Path::pathExtension(leaf);
    for (int n = 1; n < 100'000; ++n) {
        std::string name = n == 1 ? leaf : stem + " " + std::to_string(n) + (ext.empty() ? "" : "." + ext);
        path = sys::Path::stringByAppendingPathComponent(folder, name);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

ExtractedEntryFile::~ExtractedEntryFile() { finish(false); }

void ExtractedEntryFile::setFreeSpaceProbe(FreeSpaceProbe probe) {
    std::lock_guard<std::mutex> lock(probeMutex);
    freeSpaceProbe = std::move(probe);
}

std::string ExtractedEntryFile::leafName(const std::optional<std::string>& text, const char* separators,
                                         const std::string& rawName) {
    if (text) {
        size_t slash = text->find_last_of(separators);
        if (auto leaf = BookCommon::confinePathComponent(slash == std::string::npos ? *text : text->substr(slash + 1)))
            return *leaf;
    }
    return BookCommon::confinePathComponent(untitledName(rawName)).value_or("Untitled.pdf");
}

bool ExtractedEntryFile::create(const std::string& archivePath, const std::string& leaf, uint64_t size) {
    finish(false);
    std::string folder = sys::Path::stringByDeletingLastPathComponent(archivePath);
    if (folder.empty()) folder = ".";
    lackedRoom_ = !hasRoomFor(folder, size);
    if (lackedRoom_) return false;
    fd_ = createExclusively(folder, leaf, path_);
    return fd_ >= 0;
}

bool ExtractedEntryFile::write(const char* data, size_t size) {
    if (fd_ < 0) return false;
    while (size > 0) {
        ssize_t w = ::write(fd_, data, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        size -= size_t(w);
    }
    return true;
}

bool ExtractedEntryFile::finish(bool complete) {
    if (fd_ < 0) return false;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    const bool kept = complete && closed;
    if (!kept) ::unlink(path_.c_str());
    path_.clear();
    return kept;
}
