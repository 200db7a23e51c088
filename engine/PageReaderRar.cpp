#include "engine/PageReaderRar.h"

#include "engine/ArchiveContentsCheck.h"
#include "engine/ArchiveStream.h"
#include "engine/ExtractedEntryFile.h"
#include "engine/RemoteStreamRead.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/QNTextEncoding.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <set>

namespace {

using Status = UnrarArchive::Status;
using Entry = UnrarArchive::Entry;

// Resource forks, hidden names and folders are never pages, folders or archives.
bool isSkippedEntry(const Entry& e) {
    return e.isDirectory || e.name.empty() || e.name.front() == '.' ||
           BookCommon::isMacOSResourceDirectory(e.name.c_str()) || PageReaderRar::isDirectoryName(e.name);
}

// The folder part of an entry name as text; nothing without a folder.
std::optional<std::string> folderOfEntry(const std::string& name) {
    std::string text = BookCommon::getFolderPathStringFromCString(name.c_str(), false);
    size_t slash = text.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    text.resize(slash);
    return text;
}

PageReader::OpenFailure failureOf(Status s) {
    switch (s) {
    case Status::Ok: return PageReader::OpenFailure::None;
    case Status::Password: return PageReader::OpenFailure::Password;
    case Status::NotRar: return PageReader::OpenFailure::NotArchive;
    case Status::Unreadable: return PageReader::OpenFailure::Unreadable;
    case Status::NoMemory: return PageReader::OpenFailure::NoMemory;
    default: return PageReader::OpenFailure::Damaged;
    }
}

// An archive opened for a check or an extraction: a stream for an address.
struct OpenedArchive {
    std::shared_ptr<RemoteStreamRead> stream;
    std::unique_ptr<RarStreamShim::Registration> registration;
    std::unique_ptr<UnrarArchive> archive;

    ~OpenedArchive() {
        archive.reset();
        registration.reset();
        if (stream) stream->closeURL();
    }
};

bool openForCheck(OpenedArchive& o, const std::string& name, const sys::PlistDictionary& fileInfo,
                  const std::string& remoteUser, const std::string& remotePassword,
                  const std::shared_ptr<Settings>& settings, const sys::PlistDictionary& otherSetting) {
    std::string path = name;
    if (BookCommon::isURL(name)) {
        o.stream = ArchiveStream::newForCheck(name, fileInfo, remoteUser, remotePassword, settings, otherSetting);
        if (!o.stream) return false;
        if (!o.stream->openURL(name)) return false;
        o.registration = RarStreamShim::registerStream(o.stream);
        path = o.registration->path();
    }
    o.archive = std::make_unique<UnrarArchive>(path, std::nullopt);
    return true;
}

}  // namespace

PageReaderRar::PageReaderRar() = default;

PageReaderRar::~PageReaderRar() { closeFile(); }

bool PageReaderRar::isDirectoryName(const std::string& name) {
    if (name.size() < 2 || name.back() != '/') return false;
    const unsigned char before = static_cast<unsigned char>(name[name.size() - 2]);
    return !((before >= 0x81 && before <= 0x9F) || (before >= 0xE0 && before <= 0xFC));
}

bool PageReaderRar::fail(Status status) {
    openFailure_ = failureOf(status);
    if (auto s = httpStream_.get()) takeServerState(*s);
    const OpenFailure failure = openFailure_;
    const bool solid = isErrorBecauseSolidArchive_;
    closeFile();
    openFailure_ = failure;
    isErrorBecauseSolidArchive_ = solid;
    return false;
}

bool PageReaderRar::openFile(const std::string& name, const std::optional<std::string>& password,
                             const std::optional<std::string>& targetFolder, bool isOfflineMode,
                             bool isThumbsCreateMode) {
    closeFile();
    clearServerState();
    isErrorBecauseSolidArchive_ = false;
    openFailure_ = OpenFailure::None;
    if (name.empty()) return fail(Status::Unreadable);
    targetPath_ = name;

    std::string path = name;
    std::shared_ptr<RemoteStreamRead> stream;
    if (BookCommon::isURL(name)) {
        stream = newArchiveStream(name, isOfflineMode, isThumbsCreateMode);
        if (!stream) return fail(Status::Unreadable);
        // Published before the open, so that a cancel reaches a slow server.
        httpStream_.set(stream);
        if (!stream->openURL(name)) return fail(Status::Unreadable);
        registration_ = RarStreamShim::registerStream(stream);
        path = registration_->path();
    }

    unrar_ = std::make_unique<UnrarArchive>(path, password);
    unrar_->setCancelFlag(&decodeCancel_);
    Status s = unrar_->probe();
    if (s != Status::Ok) return fail(s);
    isSolidArchive_ = unrar_->isSolidArchive();
    if (stream && isSolidArchive_) {
        // Every page would decode the archive from its start over the
        // network. The flag is the reason (no other is given).
        isErrorBecauseSolidArchive_ = sys::RunLoop::isMainThread();
        return fail(Status::Ok);
    }

    std::string indexPath;
    bool fromIndex = false;
    if (stream) {
        indexPath = RemoteStreamRead::getRemoteCacheFilePath(kIndexFileName, isThumbsCreateMode);
        fromIndex = readIndex(indexPath, entries_);
    }
    if (!fromIndex) {
        s = unrar_->unrarListFilesNoEncodingWithFileSizeArray(entries_);
        if (s != Status::Ok) return fail(s);
        if (stream && !isOfflineMode) writeIndex(indexPath, entries_);
    }

    int32_t imageCount = 0;
    std::set<std::string> folders;
    std::vector<std::string> folderList;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (isSkippedEntry(e)) continue;
        const std::optional<std::string> folder = folderOfEntry(e.name);
        if (folder && folders.insert(*folder).second) folderList.push_back(*folder);
        if (ArchiveContentsCheck::isInnerArchive(e.name.c_str())) isIncludeArchive_ = true;
        if (!isImageFileWithFilename(e.name.c_str())) continue;
        const int32_t globalNo = imageCount++;
        if (targetFolder && (!folder || *folder != *targetFolder)) continue;
        pageNameList_.push_back(e.name + '\0');
        globalPageNoList_.push_back(globalNo);
        pageEntry_.push_back(i);
    }
    if (!folderList.empty()) folderList_ = std::move(folderList);
    ArraySort::quickSortArray(pageNameList_, &globalPageNoList_, &pageEntry_, true);
    return true;
}

void PageReaderRar::closeFile() {
    pageEntry_.clear();
    entries_.clear();
    folderList_.reset();
    isSolidArchive_ = false;
    isIncludeArchive_ = false;
    // UnRAR lets go of the stream's path before the stream stops.
    unrar_.reset();
    registration_.reset();
    closeArchive();
}

void PageReaderRar::cancelStreaming() {
    PageReaderArchive::cancelStreaming();
    if (decoding_.load()) decodeCancel_.store(true);
}

PageReaderRar::Decoding::Decoding(PageReaderRar& reader) : reader_(reader) {
    // A cancel that came for a decode that has ended since does not count.
    reader_.decodeCancel_.store(false);
    reader_.decoding_.store(true);
}

PageReaderRar::Decoding::~Decoding() { reader_.decoding_.store(false); }

UnrarArchive::Status PageReaderRar::readPage(int page, std::string& data) {
    data.clear();
    if (!unrar_ || page < 0 || size_t(page) >= pageEntry_.size()) return Status::NotFound;
    const size_t index = pageEntry_[size_t(page)];
    Decoding decoding(*this);
    return unrar_->extractStreamWithPoint(index, entries_[index], kMaxPageBytes, data);
}

gfx::ImageRef PageReaderRar::newLoadAndCreateImage(int page, int& result) {
    result = kResultFailed;
    if (!unrar_) {
        result = 2;
        return nullptr;
    }
    std::string data;
    switch (readPage(page, data)) {
    case Status::Ok: break;
    case Status::Password: result = kResultPassword; return nullptr;
    case Status::NoMemory: outOfMemory_ = true; return nullptr;
    default: return nullptr;
    }
    return imageFromPageBytes(data, result);
}

gfx::Size PageReaderRar::pictureSize(int page) {
    if (!unrar_ || page < 0 || size_t(page) >= pageEntry_.size() || BookCommon::isURL(targetPath_) ||
        unrar_->isSolidArchive())
        return {};
    const size_t index = pageEntry_[size_t(page)];
    Decoding decoding(*this);
    return pictureSizeFromBytes([&](std::string& bytes, size_t upTo) {
        // Each try extracts the entry's start again, and stops there.
        bytes.clear();
        unrar_->extractStreamWithPointTarget(index, entries_[index], [&](const char* data, size_t size) {
            bytes.append(data, std::min(size, upTo - bytes.size()));
            return bytes.size() < upTo;
        });
        return !bytes.empty();
    });
}

bool PageReaderRar::isPageAtHand(int page) {
    // A page of a solid archive decodes all before it.
    return unrar_ && page >= 0 && size_t(page) < pageEntry_.size() && !BookCommon::isURL(targetPath_) &&
           !unrar_->isSolidArchive();
}

std::optional<std::vector<std::string>> PageReaderRar::getArchiveList(bool isCheckEntityOnly) {
    if (!unrar_ || !isIncludeArchive_) return std::nullopt;
    if (isCheckEntityOnly) return std::vector<std::string>{};
    std::vector<std::string> out;
    for (const Entry& e : entries_)
        if (!isSkippedEntry(e) && ArchiveContentsCheck::isInnerArchive(e.name.c_str())) out.push_back(e.name);
    return out;
}

std::optional<std::vector<std::string>> PageReaderRar::getFolderList(bool /*isCheckEntityOnly*/) {
    return folderList_;
}

// ---- The remote index ------------------------------------------------------------------

bool PageReaderRar::readIndex(const std::string& path, std::vector<Entry>& entries) const {
    entries.clear();
    auto dict = sys::PropertyList::readDictionary(path);
    if (!dict) return false;
    auto names = dict->getArray("fileList");
    auto points = dict->getArray("filePoint");
    auto sizes = dict->getArray("fileSize");
    auto flags = dict->getArray("fileFlags");
    if (!names || !points || !sizes || !flags || points->size() != names->size() ||
        sizes->size() != names->size() || flags->size() != names->size() ||
        names->size() > UnrarArchive::kMaxEntries)
        return false;
    entries.reserve(names->size());
    for (size_t i = 0; i < names->size(); ++i) {
        const auto& n = (*names)[i];
        if (!n.isData() || !(*points)[i].isInteger() || !(*sizes)[i].isInteger() || !(*flags)[i].isInteger()) {
            entries.clear();
            return false;
        }
        const auto& bytes = n.asData();
        Entry e;
        // Names are stored with their NUL, as pages are.
        e.name.assign(bytes.begin(), bytes.end());
        if (e.name.empty() || e.name.back() != '\0') {
            entries.clear();
            return false;
        }
        e.name.pop_back();
        e.position = (*points)[i].integerValue();
        e.size = (*sizes)[i].unsignedIntegerValue();
        const int64_t f = (*flags)[i].integerValue();
        e.isDirectory = (f & 1) != 0;
        e.isEncrypted = (f & 2) != 0;
        if (e.position < -1) {
            entries.clear();
            return false;
        }
        entries.push_back(std::move(e));
    }
    return true;
}

void PageReaderRar::writeIndex(const std::string& path, const std::vector<Entry>& entries) const {
    sys::PlistArray names, points, sizes, flags;
    for (const Entry& e : entries) {
        const std::string withNul = e.name + '\0';
        names.emplace_back(sys::PlistValue::data(withNul));
        points.emplace_back(e.position);
        sizes.emplace_back(e.size);
        flags.emplace_back(int64_t((e.isDirectory ? 1 : 0) | (e.isEncrypted ? 2 : 0)));
    }
    const sys::PlistDictionary dict{{"fileList", names}, {"filePoint", points}, {"fileSize", sizes}, {"fileFlags", flags}};
    const sys::PlistValue root(dict);
    sys::PropertyList::writeFile(root, path, sys::PropertyList::Format::Binary);
}

// ---- Class operations ---------------------------------------------------------------------

bool PageReaderRar::isSolidArchiveFile(const std::string& path) {
    if (path.empty() || BookCommon::isURL(path)) return false;
    UnrarArchive archive(path, std::nullopt);
    return archive.probe() == Status::Ok && archive.isSolidArchive();
}

std::optional<std::vector<std::string>> PageReaderRar::checkBookWithName(
    const std::string& name, const sys::PlistDictionary& fileInfo, bool* includeFolder, bool* includeArchive,
    bool isCheckEntityOnly, const std::string& remoteUser, const std::string& remotePassword,
    const std::shared_ptr<Settings>& settings, const sys::PlistDictionary& otherSetting) {
    OpenedArchive o;
    if (!openForCheck(o, name, fileInfo, remoteUser, remotePassword, settings, otherSetting)) return std::nullopt;
    std::vector<Entry> entries;
    if (o.archive->unrarListFilesNoEncodingWithFileSizeArray(entries) != Status::Ok) return std::nullopt;
    ArchiveContentsCheck check(includeFolder, includeArchive, isCheckEntityOnly);
    for (const Entry& e : entries) {
        if (isSkippedEntry(e)) continue;
        if (!check.add(check.wantsFolders() ? folderOfEntry(e.name) : std::nullopt, e.name)) break;
    }
    return check.result();
}

int PageReaderRar::extractFile(const std::string& path, const sys::PlistDictionary& /*fileInfo*/,
                               const std::optional<std::string>& password, const std::string& entryName,
                               const std::string& /*remoteUser*/, const std::string& /*remotePassword*/,
                               std::string* written) {
    // Inner archives are written beside the book: a book on a server has
    // no folder here to take them.
    if (path.empty() || BookCommon::isURL(path)) return kExtractFailed;
    const std::string key = entryName.substr(0, entryName.find('\0'));
    if (key.empty()) return kExtractFailed;
    UnrarArchive archive(path, password);
    std::vector<Entry> entries;
    Status s = archive.unrarListFilesNoEncodingWithFileSizeArray(entries);
    if (s != Status::Ok) return s == Status::Password ? kExtractPassword : kExtractFailed;
    size_t index = entries.size();
    for (size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].isDirectory && entries[i].name == key) {
            index = i;
            break;
        }
    if (index == entries.size()) return kExtractFailed;

    // The name as text: UTF-8, else the archive code pages.
    ExtractedEntryFile out;
    if (!out.create(path, ExtractedEntryFile::leafName(QNTextEncoding::stringWithCString(key.c_str()), "/\\", key),
                    entries[index].size))
        return out.lackedRoom() ? kExtractNoRoom : kExtractFailed;
    bool writeFailed = false;
    s = archive.extractStreamWithPointTarget(index, entries[index], [&](const char* data, size_t size) {
        if (!out.write(data, size)) writeFailed = true;
        return !writeFailed;
    });
    archive.unrarCloseFile();
    int result = kExtractDone;
    if (writeFailed || s != Status::Ok) result = s == Status::Password ? kExtractPassword : kExtractFailed;
    const std::string made = out.path();
    if (!out.finish(result == kExtractDone) && result == kExtractDone) result = kExtractFailed;
    if (result == kExtractDone && written) *written = made;
    return result;
}
