#include "engine/PageReader.h"

#include "engine/ArchiveStream.h"
#include "engine/ImageLoader.h"
#include "engine/UrlListStream.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/QNUrl.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <span>

namespace {

const char* const kImageExtensions[] = {"jpg", "jpe", "jpeg", "gif", "png", "bmp", "tif", "tiff", "webp", "avif"};

bool endsWithDotExtension(const char* name, size_t length, const char* ext) {
    size_t n = std::strlen(ext);
    if (length < n + 1 || name[length - n - 1] != '.') return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[length - n + i])) != ext[i]) return false;
    }
    return true;
}

// The book address split for the companion server: the address of its
// folder with the page-list path appended, and the book's own name.
struct ExpandAddress {
    std::string base;
    std::string name;
};

ExpandAddress expandAddress(const std::string& bookUrl, const std::string& lbexpand) {
    const size_t schemeEnd = bookUrl.find("://") + 3;
    size_t pathStart = bookUrl.find('/', schemeEnd);
    if (pathStart == std::string::npos) pathStart = bookUrl.size();
    std::string prefix = bookUrl.substr(0, bookUrl.find_first_of("?#", pathStart));
    while (prefix.size() > pathStart + 1 && prefix.back() == '/') prefix.pop_back();

    ExpandAddress a;
    size_t slash = prefix.rfind('/');
    if (slash == std::string::npos || slash < pathStart) {
        a.base = prefix + "/";
    } else {
        a.base = prefix.substr(0, slash + 1);
        a.name = prefix.substr(slash + 1);
    }
    size_t skip = lbexpand.find_first_not_of('/');
    if (skip != std::string::npos) a.base += lbexpand.substr(skip);
    // The server wants the name escaped as a whole, reserved characters included.
    auto decoded = BookCommon::PercentDecodingWithString(a.name);
    a.name = BookCommon::PercentEncodingWithString(decoded ? *decoded : a.name);
    return a;
}

}  // namespace

bool PageReader::isImageFileWithFilename(const char* name) {
    if (!name) return false;
    size_t length = std::strlen(name);
    if (length < 5) return false;
    for (const char* ext : kImageExtensions) {
        if (endsWithDotExtension(name, length, ext)) return true;
    }
    return false;
}

PageReader::PageReader() = default;

PageReader::~PageReader() {
    if (auto s = stream()) s->closeUrls();
}

void PageReader::setTargetForOnlineStatus(std::weak_ptr<RemoteStreamReadDelegate> target) {
    std::lock_guard lock(shareMutex_);
    target_ = std::move(target);
}

std::shared_ptr<RemoteStreamReadDelegate> PageReader::target() const {
    std::lock_guard lock(shareMutex_);
    return target_.lock();
}

std::shared_ptr<UrlListStream> PageReader::stream() const {
    std::lock_guard lock(shareMutex_);
    return stream_;
}

void PageReader::setStream(std::shared_ptr<UrlListStream> s) {
    std::lock_guard lock(shareMutex_);
    stream_ = std::move(s);
}

bool PageReader::isPageFetchRefused() const {
    auto s = stream();
    return s && s->isAuthRefused();
}

void PageReader::cancelStreaming() {
    std::shared_ptr<UrlListStream> s;
    {
        std::lock_guard lock(shareMutex_);
        target_.reset();
        s = stream_;
    }
    if (s) s->cancelStreaming();
}

void PageReader::setOtherFiles(const std::vector<std::string>& files) { otherFileList_ = files; }

void PageReader::setMediaServerExpandMode(const std::string& lbexpand) { lbexpand_ = lbexpand; }

void PageReader::appendPage(const std::string& name, int32_t globalNo) {
    fileList_.push_back(name);
    globalPageNoList_.push_back(globalNo);
    fileListNSData_.push_back(name + '\0');
}

bool PageReader::openFile(const std::string& name, const std::optional<std::string>& /*password*/,
                          const std::optional<std::string>& targetFolder, bool isOfflineMode,
                          bool isThumbsCreateMode) {
    isNoPage_ = false;
    isExpandError_ = false;
    closeFile();
    selectedImageNo_ = 0;
    if (name.empty()) return false;

    if (!BookCommon::isURL(name) || !QNUrl::URLWithString(name)) return openLocalFolder(name);
    if (lbexpand_.empty()) return openUrlList(name, isOfflineMode, isThumbsCreateMode);
    return openExpand(name, targetFolder, isOfflineMode, isThumbsCreateMode);
}

bool PageReader::openLocalFolder(const std::string& name) {
    isURL_ = false;
    basePath_ = sys::Path::stringByDeletingLastPathComponent(name);
    const std::string folder = basePath_.empty() ? "." : basePath_;
    auto listing = sys::FileManager::entriesOfDirectory(folder);
    if (!listing) {
        basePath_.clear();
        return false;
    }
    // Pages are regular files, as the library lists them: a pipe, device or
    // folder with a picture's name is none. The listing gives each entry's
    // type; only a link is followed to see what it leads to.
    std::vector<std::string> names;
    for (auto& entry : *listing) {
        if (!BookCommon::isImageFileWithFile(entry.name)) continue;
        using Type = sys::FileManager::FileType;
        bool regular = entry.type == Type::Regular;
        if (entry.type == Type::SymbolicLink) {
            const auto target =
                sys::FileManager::attributesOfItem(sys::Path::stringByAppendingPathComponent(folder, entry.name), true);
            regular = target && target->type == Type::Regular;
        }
        if (regular) names.push_back(std::move(entry.name));
    }
    ArraySort::sortFileListArrayNSString(names, nullptr);

    const std::string opened = sys::Path::lastPathComponent(name);
    int32_t index = 0;
    for (const auto& n : names) {
        if (n == opened) selectedImageNo_ = index;
        appendPage(n, index);
        ++index;
    }
    if (fileList_.empty()) {
        closeFile();
        return false;
    }
    return true;
}

std::shared_ptr<RemoteStreamRead> PageReader::newArchiveStream(const std::string& url, bool isOfflineMode,
                                                               bool isThumbsCreateMode) {
    auto stream = ArchiveStream::newForUrl(url);
    if (!stream) return nullptr;
    stream->setIsOfflineMode(isOfflineMode);
    stream->setDelegate(weak_from_this().lock());
    copyAccessTo(*stream);
    stream->setIsThumbsCreateMode(isThumbsCreateMode);
    return stream;
}

void PageReader::takeServerState(const RemoteStreamRead& stream) {
    isUnsupportedServer_ = stream.isUnsupportedServer();
    isUnsupportedFtp_ = stream.isUnsupportedFtp();
    isServerBusy_ = stream.isServerBusy();
    isAuthRefused_ = stream.isAuthRefused();
    untrustedServer_ = stream.untrustedServer();
}

void PageReader::clearServerState() {
    isUnsupportedServer_ = isUnsupportedFtp_ = isServerBusy_ = isAuthRefused_ = false;
    untrustedServer_.clear();
    outOfMemory_ = false;
}

namespace {

// A picture that decodes for long holds virtual time (a headless run's
// steps, a test's clock) for kDecodeClockHoldSeconds of real time at most,
// as a silent peer holds it: the page's loading indicator shows meanwhile,
// and a decode left to finish (its book closed) holds no later step.
sys::Clock::NetworkWait decodeClockHold() {
    return sys::Clock::NetworkWait(sys::Clock::realNow() - sys::Clock::kNetworkStallSeconds +
                                   PageReader::kDecodeClockHoldSeconds);
}

}  // namespace

gfx::ImageRef PageReader::imageFromPageBytes(const std::string& bytes, int& result) {
    if (bytes.empty()) return nullptr;
    const auto hold = decodeClockHold();
    gfx::ImageRef image = ImageLoader::imageWithAnyData(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    if (image) result = kResultImage;
    return image;
}

std::shared_ptr<UrlListStream> PageReader::makeStream(bool isOfflineMode, bool isThumbsCreateMode) {
    auto s = UrlListStream::newUrlListStream();
    if (!s) return nullptr;
    s->setDelegate(weak_from_this());
    copyAccessTo(*s);
    s->setIsOfflineMode(isOfflineMode);
    s->setIsThumbsCreateMode(isThumbsCreateMode);
    return s;
}

bool PageReader::openUrlList(const std::string& name, bool isOfflineMode, bool isThumbsCreateMode) {
    const std::vector<std::string> urls = otherFileList_.empty() ? std::vector<std::string>{name} : otherFileList_;
    for (size_t i = 0; i < urls.size(); ++i) appendPage(urls[i], static_cast<int32_t>(i));
    if (fileList_.empty()) return false;

    isURL_ = true;
    auto s = makeStream(isOfflineMode, isThumbsCreateMode);
    // Without a fetcher, or when it cannot start, no page could ever be
    // shown: fail the open instead of failing every page.
    if (!s || !s->openUrls(fileList_, std::nullopt, static_cast<int64_t>(fileList_.size()), fileList_.front(), false)) {
        if (s) s->closeUrls();
        closeFile();
        return false;
    }
    setStream(std::move(s));
    return true;
}

bool PageReader::openExpand(const std::string& name, const std::optional<std::string>& targetFolder,
                            bool isOfflineMode, bool isThumbsCreateMode) {
    isURL_ = true;
    auto s = makeStream(isOfflineMode, isThumbsCreateMode);
    if (!s) {
        isExpandError_ = true;
        return false;
    }
    const ExpandAddress address = expandAddress(name, lbexpand_);
    auto index = s->getIndex(address.base + "?archive=" + address.name);
    if (!index) {
        isExpandError_ = true;
        s->closeUrls();
        return false;
    }

    std::vector<std::string> urls;
    int32_t imageCount = 0;
    for (size_t position = 0; position < index->size(); ++position) {
        const std::string& entry = (*index)[position];
        if (!isImageFileWithFilename(entry.c_str())) continue;
        const int32_t globalNo = imageCount++;
        const std::string folder = sys::Path::stringByDeletingLastPathComponent(entry);
        if (targetFolder && folder != *targetFolder) continue;
        if (!folder.empty()) {
            if (!folderList_) folderList_.emplace();
            if (std::find(folderList_->begin(), folderList_->end(), folder) == folderList_->end())
                folderList_->push_back(folder);
        }
        fileList_.push_back(entry);
        globalPageNoList_.push_back(globalNo);
        urls.push_back(address.base + "?archive=" + address.name + "&page=" + std::to_string(position));
    }
    if (fileList_.empty()) {
        isNoPage_ = true;
        s->closeUrls();
        closeFile();
        return false;
    }

    ArraySort::sortFileListArrayNSString(fileList_, &urls, &globalPageNoList_);
    for (const auto& n : fileList_) fileListNSData_.push_back(n + '\0');

    if (!s->openUrls(urls, globalPageNoList_, imageCount, name, true)) {
        s->closeUrls();
        closeFile();
        return false;
    }
    setStream(std::move(s));
    return true;
}

void PageReader::closeFile() {
    std::shared_ptr<UrlListStream> s;
    {
        std::lock_guard lock(shareMutex_);
        s = std::move(stream_);
        stream_.reset();
    }
    if (s) s->closeUrls();
    fileList_.clear();
    fileListNSData_.clear();
    globalPageNoList_.clear();
    folderList_.reset();
    basePath_.clear();
}

std::optional<std::vector<std::string>> PageReader::getArchiveList(bool /*isCheckEntityOnly*/) {
    return std::nullopt;
}

std::optional<std::vector<std::string>> PageReader::getFolderList(bool /*isCheckEntityOnly*/) {
    return folderList_;
}

gfx::ImageRef PageReader::newLoadAndCreateImage(int page, int& result) {
    result = kResultFailed;
    if (page < 0 || static_cast<size_t>(page) >= fileList_.size()) return nullptr;

    std::string path;
    if (!isURL_) {
        path = sys::Path::stringByAppendingPathComponent(basePath_, fileList_[static_cast<size_t>(page)]);
    } else {
        auto s = stream();
        if (!s) return nullptr;
        auto cached = s->getLocalCachePath(page);
        if (!cached) return nullptr;
        path = *cached;
    }
    const auto hold = decodeClockHold();
    auto image = ImageLoader::imageWithAnyContentsOfFile(path);
    if (image) result = kResultImage;
    return image;
}

gfx::Size PageReader::pictureSize(int page) {
    // Pages of a list of addresses or of the companion server come from a server.
    if (isURL_ || !lbexpand_.empty() || page < 0 || static_cast<size_t>(page) >= fileList_.size()) return {};
    return pictureSizeOfFile(
        sys::Path::stringByAppendingPathComponent(basePath_, fileList_[static_cast<size_t>(page)]));
}

bool PageReader::isMeasuredByDecoding(int /*page*/) { return false; }

gfx::Size PageReader::decodedPictureSize(int page) { return pictureSize(page); }

bool PageReader::isPageAtHand(int page) {
    return !isURL_ && lbexpand_.empty() && page >= 0 && static_cast<size_t>(page) < fileList_.size();
}

gfx::Size PageReader::pictureSizeOfFile(const std::string& path) {
    std::FILE* f = sys::FileManager::openRegularFileStream(path);
    if (!f) return {};
    gfx::Size size = pictureSizeFromBytes([f](std::string& bytes, size_t upTo) {
        const size_t had = bytes.size();
        bytes.resize(upTo);
        const size_t got = std::fread(bytes.data() + had, 1, upTo - had, f);
        bytes.resize(had + got);
        return got > 0;
    });
    std::fclose(f);
    return size;
}

gfx::Size PageReader::pictureSizeFromBytes(const std::function<bool(std::string& bytes, size_t upTo)>& readMore) {
    // Most headers are in the first few kilobytes (a whole book is measured
    // at once, so a page reads no more than its header needs); a JPEG's
    // size may follow a large EXIF block, a TIFF's directory may be anywhere.
    std::string bytes;
    for (size_t upTo : {size_t(4) << 10, size_t(64) << 10, size_t(4) << 20}) {
        if (!readMore(bytes, upTo)) break;
        const gfx::Size size = ImageLoader::pictureSize(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        if (size.width > 0 && size.height > 0) return size;
        if (bytes.size() < upTo) break;  // the whole picture said nothing
    }
    return {};
}

gfx::Size PageReader::getPendingImageSize() { return {}; }

gfx::ImageRef PageReader::newCreatePendingImage(int, gfx::Size, gfx::Rect, gfx::Rect, bool) { return nullptr; }

std::vector<std::string> PageReader::getPageNameList() const { return fileListNSData_; }

std::optional<std::vector<int32_t>> PageReader::getGlobalPageNoList() const { return globalPageNoList_; }

bool PageReader::isStreamPage() const { return true; }

bool PageReader::isSolidArhive() { return false; }

void PageReader::updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
    if (auto t = target()) t->updateCacheStatus(count, map, isPage);
}

void PageReader::updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) {
    if (auto t = target()) t->updateCacheBlock(cached, blockSize, block, numBlocks);
}
