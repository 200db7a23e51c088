#include "engine/PageReaderZip.h"

#include "engine/ArchiveContentsCheck.h"
#include "engine/ArchiveStream.h"
#include "engine/ExtractedEntryFile.h"
#include "engine/RemoteStreamRead.h"
#include "engine/ZipEntryReader.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/FileDelayCloser.h"
#include "foundation/QNTextEncoding.h"
#include "platform/graphics/Canvas.h"


namespace {

// The shared skip rules of the page walk and the check: macOS resource
// forks, hidden names and directories are never pages, folders or archives.
bool isSkippedEntry(const ZipArchive::Entry& e) {
    const std::string& name = e.name;
    return BookCommon::isMacOSResourceDirectory(name.c_str()) || name.empty() || name.front() == '.' ||
           PageReaderZip::isDirectoryEntry(e);
}

// The folder part of an entry name as text ("a/b" for "a/b/c.jpg"); nothing
// for a name without a folder. Names that do not decode still give a folder
// (escaped, or their digest), so that their pages can be picked.
std::optional<std::string> folderOfEntry(const ZipArchive::Entry& e) {
    std::string text = ZipArchive::utf8NameText(e).value_or(std::string());
    if (text.empty()) text = BookCommon::getFolderPathStringFromCString(e.name.c_str(), false);
    size_t slash = text.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    text.resize(slash);
    return text;
}

// Calls `visit(entry, position)` for every entry in directory order until it
// returns false. False when the directory cannot be read to its end.
template <class Visit>
bool walkEntries(ZipArchive& archive, Visit visit) {
    ZipArchive::Entry entry;
    for (ZipArchive::Step s = archive.goToFirst();; s = archive.goToNext()) {
        if (s == ZipArchive::Step::End) return true;
        if (s == ZipArchive::Step::Error || !archive.current(entry)) return false;
        auto position = archive.currentPosition();
        if (!position) return false;
        if (!visit(entry, *position)) return true;
    }
}

// The password as the archive's makers typed it on their systems.
std::optional<std::string> shiftJisPassword(const std::optional<std::string>& password) {
    if (!password) return std::nullopt;
    return QNTextEncoding::dataWithString(*password, QNTextEncoding::kShiftJIS);
}

// The page shown for an entry compressed with a method this reader does
// not know: the grey of the unreadable-page picture, with the reason in
// place of the crossed box, so that the reader learns why and that the
// book is not broken.
gfx::ImageRef unknownMethodPage() {
    constexpr int kWidth = 720, kHeight = 960;
    gfx::Canvas canvas(kWidth, kHeight);
    canvas.clear(gfx::Rgba::white(230.0 / 255));
    const std::string text =
        BookCommon::localizedStringWithOnOff("This page is compressed with a method this reader does not know.");
    const gfx::Font font = gfx::Font::system(40);
    gfx::TextOptions options;
    options.alignment = gfx::TextAlignment::Center;
    options.lineBreak = gfx::LineBreakMode::WordWrap;
    options.numberOfLines = 0;
    const double margin = 72;
    const gfx::Size size = gfx::Canvas::measureText(text, font, kWidth - 2 * margin, options);
    canvas.drawText(text, font, gfx::Rect(margin, (kHeight - size.height) / 2, kWidth - 2 * margin, size.height),
                    gfx::Rgba::white(90.0 / 255), options);
    return canvas.image();
}

}  // namespace

PageReaderZip::PageReaderZip() = default;

PageReaderZip::~PageReaderZip() { closeFile(); }

bool PageReaderZip::isDirectoryEntry(const ZipArchive::Entry& entry) {
    // A name the archive declares as UTF-8 has no double-byte characters
    // whose second byte could be a backslash.
    if (const auto& text = entry.declaredUtf8Name)
        return text->size() >= 2 && (text->back() == '/' || text->back() == '\\');
    return isDirectoryEntry(entry.name);
}

bool PageReaderZip::isDirectoryEntry(const std::string& name) {
    if (name.size() < 2) return false;
    const unsigned char last = static_cast<unsigned char>(name.back());
    if (last == '/') return true;
    if (last != '\\') return false;
    const unsigned char before = static_cast<unsigned char>(name[name.size() - 2]);
    const bool isLeadByte = (before >= 0x81 && before <= 0x9F) || (before >= 0xE0 && before <= 0xFC);
    return !isLeadByte;
}

std::unique_ptr<ZipArchive> PageReaderZip::unzOpenUrl(const std::string& pathOrUrl,
                                                      const std::shared_ptr<RemoteStreamRead>& stream) {
    if (!BookCommon::isURL(pathOrUrl)) return ZipArchive::openFile(pathOrUrl);
    if (!stream || !stream->openURL(pathOrUrl)) return nullptr;
    return ZipArchive::openStream(stream);
}

bool PageReaderZip::openFile(const std::string& name, const std::optional<std::string>& password,
                             const std::optional<std::string>& targetFolder, bool isOfflineMode,
                             bool isThumbsCreateMode) {
    clearServerState();
    closeFile();
    if (name.empty()) return false;
    targetPath_ = name;
    archivePassword_ = password;
    isOfflineMode_ = isOfflineMode;

    std::shared_ptr<RemoteStreamRead> stream;
    if (BookCommon::isURL(name)) {
        stream = newArchiveStream(name, isOfflineMode, isThumbsCreateMode);
        if (!stream) {
            targetPath_.clear();
            archivePassword_.reset();
            return false;
        }
        // Published before the open, so that a cancel reaches a slow server.
        httpStream_.set(stream);
    }

    auto archive = unzOpenUrl(name, stream);
    bool walked = false;
    if (archive) {
        int32_t imageCount = 0;
        walked = walkEntries(*archive, [&](const ZipArchive::Entry& e, const ZipArchive::Position& pos) {
            if (isSkippedEntry(e)) return true;
            if (isImageFileWithFilename(e.name.c_str())) {
                const int32_t globalNo = imageCount++;
                if (targetFolder) {
                    auto folder = folderOfEntry(e);
                    if (!folder || *folder != *targetFolder) return true;
                }
                pageNameList_.push_back(e.name + '\0');
                globalPageNoList_.push_back(globalNo);
                positions_.push_back(pos);
                return true;
            }
            if (!isIncludeFolder_ && folderOfEntry(e)) isIncludeFolder_ = true;
            if (ArchiveContentsCheck::isInnerArchive(e.name.c_str())) isIncludeArchive_ = true;
            return true;
        });
    }
    if (!walked) {
        if (stream) takeServerState(*stream);
        archive.reset();
        closeFile();
        return false;
    }
    ArraySort::quickSortArray(pageNameList_, &globalPageNoList_, &positions_, true);
    archive_ = std::move(archive);
    return true;
}

void PageReaderZip::closeFile() {
    positions_.clear();
    isIncludeFolder_ = false;
    isIncludeArchive_ = false;
    // The library lets go of the file before the stream stops. A local
    // file is closed on a thread of its own: on a slow or network file
    // system a close can take long, and the reader is let go of on the
    // main thread.
    if (archive_) FileDelayCloser::closeFileDelay(archive_->releaseFile());
    archive_.reset();
    closeArchive();
}

gfx::ImageRef PageReaderZip::newLoadAndCreateImage(int page, int& result) {
    result = kResultFailed;
    if (!archive_) {
        result = 2;
        return nullptr;
    }
    if (page < 0 || size_t(page) >= positions_.size()) return nullptr;
    if (!archive_->goTo(positions_[size_t(page)])) return nullptr;

    const std::optional<std::string> password = shiftJisPassword(archivePassword_);
    ZipEntryReader reader(*archive_);
    std::string data;
    ZipEntryReader::Status s = reader.open(password, kMaxPageBytes);
    if (s == ZipEntryReader::Status::Ok) s = reader.readAll(data);
    switch (s) {
    case ZipEntryReader::Status::End: break;
    case ZipEntryReader::Status::WrongPassword: result = kResultPassword; return nullptr;
    // A given password without a Shift-JIS form cannot open anything:
    // asking again would not help.
    case ZipEntryReader::Status::NeedPassword: result = archivePassword_ ? kResultFailed : kResultPassword; return nullptr;
    case ZipEntryReader::Status::UnknownMethod: result = kResultImage; return unknownMethodPage();
    default: return nullptr;
    }
    return imageFromPageBytes(data, result);
}

gfx::Size PageReaderZip::pictureSize(int page) {
    // A book read in place from a server would fetch the entry.
    if (!archive_ || BookCommon::isURL(targetPath_) || page < 0 || size_t(page) >= positions_.size()) return {};
    if (!archive_->goTo(positions_[size_t(page)])) return {};
    ZipEntryReader reader(*archive_);
    if (reader.open(shiftJisPassword(archivePassword_), kMaxPageBytes) != ZipEntryReader::Status::Ok) return {};
    return pictureSizeFromBytes([&reader](std::string& bytes, size_t upTo) {
        size_t added = 0;
        while (bytes.size() < upTo) {
            const size_t had = bytes.size();
            bytes.resize(upTo);
            size_t got = 0;
            const ZipEntryReader::Status s = reader.read(bytes.data() + had, upTo - had, got);
            bytes.resize(had + got);
            added += got;
            if (s != ZipEntryReader::Status::Ok || got == 0) break;
        }
        return added > 0;
    });
}

bool PageReaderZip::isPageAtHand(int page) {
    return archive_ && !BookCommon::isURL(targetPath_) && page >= 0 && size_t(page) < positions_.size();
}

std::optional<std::vector<std::string>> PageReaderZip::checkBook(bool* includeFolder, bool* includeArchive,
                                                                 bool isCheckEntityOnly) {
    return checkBookWithHandle(archive_.get(), includeFolder, includeArchive, isCheckEntityOnly);
}

std::optional<std::vector<std::string>> PageReaderZip::getArchiveList(bool isCheckEntityOnly) {
    if (!archive_) return std::nullopt;
    if (isCheckEntityOnly && isIncludeArchive_) return std::vector<std::string>{};
    bool found = false;
    return checkBookWithHandle(archive_.get(), nullptr, &found, isCheckEntityOnly);
}

std::optional<std::vector<std::string>> PageReaderZip::getFolderList(bool isCheckEntityOnly) {
    if (!archive_) return std::nullopt;
    if (isCheckEntityOnly && isIncludeFolder_) return std::vector<std::string>{};
    bool found = false;
    return checkBookWithHandle(archive_.get(), &found, nullptr, isCheckEntityOnly);
}

std::optional<std::vector<std::string>> PageReaderZip::checkBookWithHandle(ZipArchive* archive, bool* includeFolder,
                                                                           bool* includeArchive,
                                                                           bool isCheckEntityOnly) {
    if (!archive) return std::nullopt;
    ArchiveContentsCheck check(includeFolder, includeArchive, isCheckEntityOnly);
    bool walked = walkEntries(*archive, [&](const ZipArchive::Entry& e, const ZipArchive::Position&) {
        if (isSkippedEntry(e)) return true;
        return check.add(check.wantsFolders() ? folderOfEntry(e) : std::nullopt, e.name);
    });
    if (!walked) return std::nullopt;
    return check.result();
}

std::optional<std::vector<std::string>> PageReaderZip::checkBookWithName(
    const std::string& name, const sys::PlistDictionary& fileInfo, bool* includeFolder, bool* includeArchive,
    bool isCheckEntityOnly, const std::string& remoteUser, const std::string& remotePassword,
    const std::shared_ptr<Settings>& settings, const sys::PlistDictionary& otherSetting) {
    std::shared_ptr<RemoteStreamRead> stream;
    if (BookCommon::isURL(name)) {
        stream = ArchiveStream::newForCheck(name, fileInfo, remoteUser, remotePassword, settings, otherSetting);
        if (!stream) return std::nullopt;
    }
    auto archive = unzOpenUrl(name, stream);
    std::optional<std::vector<std::string>> result;
    if (archive) result = checkBookWithHandle(archive.get(), includeFolder, includeArchive, isCheckEntityOnly);
    archive.reset();
    if (stream) stream->closeURL();
    return result;
}

int PageReaderZip::extractFile(const std::string& path, const sys::PlistDictionary& /*fileInfo*/,
                               const std::optional<std::string>& password, const std::string& entryName,
                               const std::string& /*remoteUser*/, const std::string& /*remotePassword*/,
                               std::string* written) {
    // Inner archives are written beside the book: a book on a server has
    // no folder here to take them.
    if (path.empty() || BookCommon::isURL(path)) return kExtractFailed;
    auto archive = ZipArchive::openFile(path);
    if (!archive) return kExtractFailed;
    const std::string key = entryName.substr(0, entryName.find('\0'));
    if (key.empty() || !archive->locate(key)) return kExtractFailed;

    const std::optional<std::string> sjis = shiftJisPassword(password);
    if (password && !sjis) return kExtractFailed;
    ZipEntryReader reader(*archive);
    switch (reader.open(sjis, UINT64_MAX)) {
    case ZipEntryReader::Status::Ok: break;
    case ZipEntryReader::Status::NeedPassword:
    case ZipEntryReader::Status::WrongPassword: return kExtractPassword;
    default: return kExtractFailed;
    }

    ExtractedEntryFile out;
    if (!out.create(path, ExtractedEntryFile::leafName(ZipArchive::nameText(reader.entry()), "/", reader.entry().name),
                    reader.entry().uncompressedSize))
        return out.lackedRoom() ? kExtractNoRoom : kExtractFailed;

    int result = kExtractDone;
    char piece[ZipEntryReader::kPieceBytes];
    for (;;) {
        size_t got = 0;
        ZipEntryReader::Status s = reader.read(piece, sizeof piece, got);
        if (s == ZipEntryReader::Status::End) break;
        if (s != ZipEntryReader::Status::Ok) {
            result = s == ZipEntryReader::Status::WrongPassword ? kExtractPassword : kExtractFailed;
            break;
        }
        if (!out.write(piece, got)) {
            result = kExtractFailed;
            break;
        }
    }
    const std::string made = out.path();
    if (!out.finish(result == kExtractDone) && result == kExtractDone) result = kExtractFailed;
    if (result == kExtractDone && written) *written = made;
    return result;
}
