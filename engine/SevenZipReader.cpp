#include "engine/SevenZipReader.h"

#include "engine/SevenZipInterfaces.h"
#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"

#include <cerrno>
#include <cstdio>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kPartSuffix = ".lbpart";

bool isDirectory(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string lowerExtension(const std::string& path) {
    std::string ext = sys::Path::pathExtension(path);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Writes the items under a folder: each file first under a temporary name,
// renamed to its own when complete.
class FileSink : public SevenZipArchive::Sink {
public:
    FileSink(const std::string& folder, const std::map<uint32_t, SevenZipItem>& items,
             const SevenZipReader::FileTargets& targets, std::function<void(float)> progress,
             SevenZipArchive::Error& error)
        : folder_(folder), items_(items), targets_(targets), progress_(std::move(progress)), error_(error) {}
    ~FileSink() override { discard(); }

    bool begin(uint32_t index) override {
        discard();
        auto it = items_.find(index);
        if (it == items_.end()) return fail("No record of item " + std::to_string(index));
        item_ = &it->second;
        const std::string relative = targets_.relativePath(*item_);
        if (relative.empty()) return fail("Can't read path property by index: " + std::to_string(index));
        // Every folder on the way is made; something else in the way stops us.
        std::string at = folder_;
        size_t start = 0;
        const bool isDir = item_->isDirectory();
        for (;;) {
            const size_t slash = relative.find('/', start);
            if (slash == std::string::npos && !isDir) break;
            const std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos
                                                                                       : slash - start);
            const std::string next = at + "/" + part;
            if (!isDirectory(next)) {
                if (exists(next))
                    return fail("Destination path: [" + part + "] exists in directory: [" + at + "] and it's file");
                if (::mkdir(next.c_str(), 0700) != 0 && errno != EEXIST)
                    return fail((isDir ? "Can't create directory: [" : "Can't create subdirectory: [") + part +
                                "] in directory: [" + at + "]");
            }
            at = next;
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
        if (isDir) return true;
        target_ = folder_ + "/" + relative;
        if (isDirectory(target_)) return fail("Destination path: [" + target_ + "] is a directory");
        part_ = target_ + kPartSuffix;
        file_ = std::fopen(part_.c_str(), "w+be");
        if (!file_) return fail("Can't open destination for write: [" + target_ + "]");
        return true;
    }

    bool write(const void* data, size_t size) override {
        if (!file_) return false;
        if (written_ + size > targets_.maxBytes) return fail("Extraction needs more than the disk space allowed");
        written_ += size;
        if (std::fwrite(data, 1, size, file_) != size) return fail("Can't write to: [" + target_ + "]");
        return true;
    }

    bool end(uint32_t, int32_t result) override {
        if (!file_) return result == sz::kOpOk;
        std::FILE* f = file_;
        file_ = nullptr;
        // A full disk shows at the flush at the latest: the file then is
        // not a page.
        const bool flushed = std::fflush(f) == 0 && !std::ferror(f);
        const bool closed = std::fclose(f) == 0;
        if (result != sz::kOpOk || !flushed || !closed || ::rename(part_.c_str(), target_.c_str()) != 0) {
            ::unlink(part_.c_str());
            if (result == sz::kOpOk) return fail("Can't write to: [" + target_ + "]");
            return false;
        }
        if (targets_.onFileClosed) targets_.onFileClosed(*item_, target_);
        return true;
    }

    void progress(uint64_t done, uint64_t total) override {
        if (progress_) progress_(total == 0 ? 0.0f : float(double(done) / double(total)));
    }

private:
    bool fail(std::string description) {
        if (!error_.isSet()) {
            error_.code = -1;
            error_.line = -1;
            error_.file = __FILE_NAME__;
            error_.description = std::move(description);
        }
        discard();
        return false;
    }
    void discard() {
        if (file_) {
            std::fclose(file_);
            file_ = nullptr;
            ::unlink(part_.c_str());
        }
    }

    std::string folder_;
    const std::map<uint32_t, SevenZipItem>& items_;
    const SevenZipReader::FileTargets& targets_;
    std::function<void(float)> progress_;
    SevenZipArchive::Error& error_;
    const SevenZipItem* item_ = nullptr;
    std::string target_, part_;
    std::FILE* file_ = nullptr;
    uint64_t written_ = 0;
};

}  // namespace

SevenZipReader::SevenZipReader(const std::string& path, int fileType) : path_(path), fileType_(fileType) {}

SevenZipReader::SevenZipReader(const std::string& path)
    : SevenZipReader(path, lowerExtension(path) == "7z"   ? k7z
                           : lowerExtension(path) == "xz" ? kXz
                                                          : kUndefined) {}

SevenZipReader::~SevenZipReader() = default;

void SevenZipReader::setError(int64_t code, int line, std::string description) {
    lastError_.code = code;
    lastError_.line = line;
    lastError_.file = __FILE_NAME__;
    lastError_.description = std::move(description);
}

bool SevenZipReader::open(Error* error) {
    lastError_ = Error{};
    archive_.reset();
    auto done = [&](bool ok) {
        if (!ok && error) *error = lastError_;
        return ok;
    };
    if (fileType_ == kUndefined) {
        setError(-1, __LINE__, "Type of the archive is undefined, create reader with manual type");
        return done(false);
    }
    if (fileType_ != k7z && fileType_ != kXz) {
        setError(-1, __LINE__, "Can't create archive object file type: " + std::to_string(fileType_));
        return done(false);
    }
    if (path_.empty()) {
        setError(-1, __LINE__, "No file URL provided");
        return done(false);
    }
    if (!exists(path_)) {
        setError(-1, __LINE__, "File path doesn't exists: [" + path_ + "]");
        return done(false);
    }
    if (isDirectory(path_)) {
        setError(-1, __LINE__, "Archive path is directory: [" + path_ + "]");
        return done(false);
    }
    auto source = SevenZipArchive::fileSource(path_);
    if (!source) {
        setError(-1, __LINE__, "Can't open file for reading: [" + path_ + "]");
        return done(false);
    }
    archive_ = SevenZipArchive::open(std::move(source), fileType_ == k7z ? "7z" : "xz", passwordGetter_, &lastError_);
    if (!archive_) return done(false);
    archive_->setCancelFlag(cancel_);
    return done(true);
}

void SevenZipReader::iterateWithHandler(
    const std::function<bool(const std::optional<SevenZipItem>&, const Error*)>& handler) {
    if (!archive_) return;
    for (uint32_t i = 0; i < archive_->itemCount(); ++i) {
        auto item = archive_->item(i);
        Error error;
        if (!item) {
            error.code = -1;
            error.file = __FILE_NAME__;
            error.line = __LINE__;
            error.description = "Can't read the record of item " + std::to_string(i);
        }
        if (!handler(item, item ? nullptr : &error)) return;
    }
}

uint32_t SevenZipReader::itemsCount() const { return archive_ ? archive_->itemCount() : 0; }

std::optional<SevenZipReader::Error> SevenZipReader::lastError() const {
    if (!lastError_.isSet()) return std::nullopt;
    return lastError_;
}

std::optional<std::string> SevenZipReader::confinedRelativePath(const std::string& entryPath) {
    std::string out;
    size_t start = 0;
    while (start <= entryPath.size()) {
        size_t end = entryPath.find_first_of("/\\", start);
        if (end == std::string::npos) end = entryPath.size();
        std::string part = entryPath.substr(start, end - start);
        if (auto confined = BookCommon::confinePathComponent(part)) {
            if (!out.empty()) out += '/';
            out += *confined;
        }
        start = end + 1;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

bool SevenZipReader::extract(const std::vector<SevenZipItem>& items, const std::string& folder, bool withFullPaths) {
    FileTargets targets;
    targets.relativePath = [withFullPaths](const SevenZipItem& item) -> std::string {
        auto confined = confinedRelativePath(item.path);
        if (!confined) return "item" + std::to_string(item.index);
        if (withFullPaths) return *confined;
        const size_t slash = confined->rfind('/');
        return slash == std::string::npos ? *confined : confined->substr(slash + 1);
    };
    return extract(items, folder, targets);
}

bool SevenZipReader::extract(const std::vector<SevenZipItem>& items, const std::string& folder,
                             const FileTargets& targets) {
    lastError_ = Error{};
    if (!archive_) {
        setError(-1, __LINE__, "No suitable decoder found.");
        return false;
    }
    if (folder.empty()) return test(items);
    if (exists(folder) && !isDirectory(folder)) {
        setError(-1, __LINE__, "Extract path: [" + folder + "] exists and it's file");
        return false;
    }
    if (!isDirectory(folder) && !sys::FileManager::createDirectory(folder, true)) {
        setError(-1, __LINE__, "Can't create directory path: [" + folder + "]");
        return false;
    }
    std::map<uint32_t, SevenZipItem> byIndex;
    std::vector<uint32_t> indices;
    indices.reserve(items.size());
    for (const SevenZipItem& item : items) {
        byIndex.emplace(item.index, item);
        indices.push_back(item.index);
    }
    FileSink sink(folder, byIndex, targets, [this](float p) { reportProgress(p); }, lastError_);
    Error libraryError;
    const bool ok = archive_->extract(indices, &sink, &libraryError);
    if (!lastError_.isSet() && libraryError.isSet()) lastError_ = libraryError;
    if (!ok && !lastError_.isSet()) setError(-1, __LINE__, "Archive extract error");
    return ok;
}

bool SevenZipReader::test(const std::vector<SevenZipItem>& items) {
    lastError_ = Error{};
    if (!archive_) {
        setError(-1, __LINE__, "No suitable decoder found.");
        return false;
    }
    std::vector<uint32_t> indices;
    for (const SevenZipItem& item : items) indices.push_back(item.index);
    const bool ok = archive_->extract(indices, nullptr, &lastError_);
    if (!ok && !lastError_.isSet()) setError(-1, __LINE__, "Archive extract error");
    return ok;
}

void SevenZipReader::reportProgress(float progress) {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    if (sys::RunLoop::isMainThread()) {
        delegate->onSevenZipReaderExtractProgress(progress);
        return;
    }
    std::weak_ptr<SevenZipReaderDelegate> weak = delegate_;
    sys::RunLoop::main().post([weak, progress] {
        if (auto d = weak.lock()) d->onSevenZipReaderExtractProgress(progress);
    });
}
