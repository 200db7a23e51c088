#include "engine/BookReaderEx.h"

#include "engine/ImageCommon.h"
#include "engine/ImageLoader.h"
#include "engine/PageDecodeGate.h"
#include "engine/PageReaderPDF.h"
#include "engine/PageReader7z.h"
#include "engine/PageReaderRar.h"
#include "engine/PageReaderZip.h"
#include "engine/PdfRect.h"
#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/DeviceCommon.h"
#include "foundation/ResourceLocator.h"
#include "foundation/Settings.h"
#include "foundation/SettingsValues.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/core/Clock.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/core/FileManager.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// How many views are being scaled and composed right now, in every session.
std::atomic<int> gComposing{0};

class CompositionScope {
public:
    CompositionScope() { gComposing.fetch_add(1); }
    ~CompositionScope() { gComposing.fetch_sub(1); }
    CompositionScope(const CompositionScope&) = delete;
    CompositionScope& operator=(const CompositionScope&) = delete;
};

gfx::ImageRef noImage() {
    static const gfx::ImageRef image = [] {
        gfx::ImageRef img;
        std::string path = ResourceLocator::pathForResource("images/noimage.png");
        if (!path.empty()) img = gfx::ImageDecoder::decodeFile(path);
        if (!img) img = gfx::Image::make(64, 64, std::vector<uint32_t>(64 * 64, gfx::argb(255, 200, 200, 200)));
        return img;
    }();
    return image;
}

bool positive(gfx::Size s) {
    return s.width > 0 && s.height > 0 && std::isfinite(s.width) && std::isfinite(s.height);
}

gfx::Size pixels(gfx::Size points, double scale) { return {points.width * scale, points.height * scale}; }

gfx::Rect blankSpaceRect(const gfx::ImageRef& image, int clip) {
    switch (clip) {
    case 1: return ImageCommon::getClipBlankSpaceImageRect(image, false);
    case 2: return ImageCommon::getClipBlankSpaceImageRectOld(image, false);
    case 3: return ImageCommon::getClipBlankSpaceImageRect(image, true);
    default: return gfx::Rect::null();
    }
}

bool usableRect(const gfx::Rect& r) {
    return !r.isNull() && std::isfinite(r.x()) && std::isfinite(r.y()) && positive(r.size);
}

// Which archive reader serves the class operations, by the name (a ".rar"
// that is really a zip goes to the zip reader, as its book would).
std::optional<BookReaderEx::ReaderKind> archiveKindForFile(const std::string& path) {
    if (BookCommon::isZIPFileWithFile(path)) return BookReaderEx::ReaderKind::Zip;
    if (BookCommon::is7zFileWithFile(path)) return BookReaderEx::ReaderKind::SevenZip;
    if (BookCommon::isRARFileWithFile(path))
        return BookReaderEx::isZipFileFromHeader(path) ? BookReaderEx::ReaderKind::Zip : BookReaderEx::ReaderKind::Rar;
    return std::nullopt;
}

template <class T>
struct ReaderClass {
    using type = T;
};

// Calls `call(ReaderClass<R>{})` with R the archive reader that serves the
// class operations on `path`; nothing when no archive reader does.
template <class Call>
auto withArchiveReader(const std::string& path, Call call) -> decltype(call(ReaderClass<PageReaderZip>{})) {
    const std::optional<BookReaderEx::ReaderKind> kind = archiveKindForFile(path);
    if (kind == BookReaderEx::ReaderKind::Zip) return call(ReaderClass<PageReaderZip>{});
    if (kind == BookReaderEx::ReaderKind::Rar) return call(ReaderClass<PageReaderRar>{});
    if (kind == BookReaderEx::ReaderKind::SevenZip) return call(ReaderClass<PageReader7z>{});
    return std::nullopt;  // no other archive reader in this build
}

}  // namespace

// One source page made ready for composition: decoded and clipped, or (for
// pending pages) measured, with the part of the page to render. A decoded
// page may hold fewer pixels than the page has (decoded reduced to what the
// view needs): `size` is always in the page's own pixels.
struct BookReaderEx::Prepared {
    gfx::ImageRef image;  // null for a pending page
    bool pending = false;
    gfx::Size size;        // as used: after clipping and stretching
    gfx::Size sourceSize;  // the whole picture as stored
    gfx::Rect sourceRect = gfx::Rect::null();
    // The part of the whole picture kept by clipping, in its pixels (null:
    // all of it), so that a second decode keeps the same part.
    gfx::Rect clipRect = gfx::Rect::null();

    // Image pixels per page pixel, across and down.
    double densityX() const { return image && size.width > 0 ? image->width() / size.width : 1.0; }
    double densityY() const { return image && size.height > 0 ? image->height() / size.height : 1.0; }
    // Whether the image holds at least `need` pixels for `part` of the page.
    bool serves(gfx::Size need, gfx::Size part) const {
        if (!image || pending) return true;
        return densityX() * part.width + 0.5 >= std::floor(need.width) &&
               densityY() * part.height + 0.5 >= std::floor(need.height);
    }
};

BookReaderEx::BookReaderEx() = default;

BookReaderEx::~BookReaderEx() { closeBook(); }

// ---- Class operations ---------------------------------------------------------------

bool BookReaderEx::isPageComposing() { return gComposing.load() > 0; }

BookReaderEx::ReaderKind BookReaderEx::readerKindForFile(const std::string& name, bool hasLbexpand) {
    if (hasLbexpand) return ReaderKind::ImageFolder;
    if (BookCommon::isImageFileWithFile(name)) return ReaderKind::ImageFolder;
    if (BookCommon::isPDFFileWithFile(name)) return ReaderKind::Pdf;
    if (BookCommon::isRARFileWithFile(name)) return isZipFileFromHeader(name) ? ReaderKind::Zip : ReaderKind::Rar;
    if (BookCommon::is7zFileWithFile(name)) return ReaderKind::SevenZip;
    return ReaderKind::Zip;
}

bool BookReaderEx::isZipFileFromHeader(const std::string& path) {
    std::FILE* f = sys::FileManager::openRegularFileStream(path);
    if (!f) return false;
    unsigned char head[2] = {0, 0};
    size_t n = std::fread(head, 1, 2, f);
    std::fclose(f);
    return n == 2 && head[0] == 0x50 && head[1] == 0x4B;
}

std::shared_ptr<PageReader> BookReaderEx::makeReader(ReaderKind kind) {
    switch (kind) {
    case ReaderKind::ImageFolder: return std::make_shared<PageReader>();
    case ReaderKind::Zip: return std::make_shared<PageReaderZip>();
    case ReaderKind::Pdf: return std::make_shared<PageReaderPDF>();
    case ReaderKind::SevenZip: return std::make_shared<PageReader7z>();
    case ReaderKind::Rar: return std::make_shared<PageReaderRar>();
    }
    return nullptr;
}

int BookReaderEx::extractFile(const std::string& path, const sys::PlistDictionary& fileInfo,
                              const std::optional<std::string>& password, const std::string& entryName,
                              const std::string& remoteUser, const std::string& remotePassword,
                              std::string* written) {
    static_assert(kExtractNoRoom == PageReaderZip::kExtractNoRoom && kExtractNoRoom == PageReaderRar::kExtractNoRoom);
    if (archiveKindForFile(path) == ReaderKind::Zip)
        return PageReaderZip::extractFile(path, fileInfo, password, entryName, remoteUser, remotePassword, written);
    if (archiveKindForFile(path) == ReaderKind::Rar)
        return PageReaderRar::extractFile(path, fileInfo, password, entryName, remoteUser, remotePassword, written);
    if (archiveKindForFile(path) == ReaderKind::SevenZip)
        return PageReader7z::extractFile(path, fileInfo, password, entryName, remoteUser, remotePassword, written);
    return 2;  // no other archive reader in this build
}

std::optional<std::vector<std::string>> BookReaderEx::getArchiveList(
    const std::string& path, bool isCheckEntityOnly, const sys::PlistDictionary& fileInfo,
    const std::string& remoteUser, const std::string& remotePassword, const std::shared_ptr<Settings>& settings,
    const sys::PlistDictionary& otherSetting) {
    return withArchiveReader(path, [&](auto reader) {
        return decltype(reader)::type::getArchiveList(path, isCheckEntityOnly, fileInfo, remoteUser, remotePassword,
                                                      settings, otherSetting);
    });
}

std::optional<std::vector<std::string>> BookReaderEx::getFolderList(
    const std::string& path, bool isCheckEntityOnly, const sys::PlistDictionary& fileInfo,
    const std::string& remoteUser, const std::string& remotePassword, const std::shared_ptr<Settings>& settings,
    const sys::PlistDictionary& otherSetting) {
    return withArchiveReader(path, [&](auto reader) {
        return decltype(reader)::type::getFolderList(path, isCheckEntityOnly, fileInfo, remoteUser, remotePassword,
                                                     settings, otherSetting);
    });
}

void BookReaderEx::setLoadSizeLoadStructWithMode(int zoomMode, ImageSizeLoad& target, gfx::Size screenSize,
                                                 double zoom) {
    target.width = screenSize.width;
    target.height = screenSize.height;
    target.zoom = zoom;
    switch (zoomMode) {
    case -1: target.mode = ImageSizeLoad::kModeZoom; break;
    case 1:
        target.mode = ImageSizeLoad::kModeZoom;
        target.zoom = 1.0;
        break;
    case 3: target.mode = ImageSizeLoad::kModeFitHeight; break;
    case 4: target.mode = ImageSizeLoad::kModeFitPage; break;
    default: target.mode = ImageSizeLoad::kModeFitWidth; break;
    }
}

gfx::Size BookReaderEx::calcLoadImageSize(const ImageSizeLoad& load, gfx::Size originalSize,
                                          gfx::Size minimumImageSize, double maxImageLength, bool* isOverSize,
                                          double* scale, gfx::Size* imageSizeIfNotOversize) {
    if (isOverSize) *isOverSize = false;
    if (scale) *scale = 1.0;
    if (imageSizeIfNotOversize) *imageSizeIfNotOversize = {};
    const double W = originalSize.width, H = originalSize.height;
    if (!positive(originalSize)) return {};

    double s;
    switch (load.mode) {
    case ImageSizeLoad::kModeZoom: s = load.zoom; break;
    case ImageSizeLoad::kModeFitWidth: s = load.width / W; break;
    case ImageSizeLoad::kModeFitHeight: s = load.height / H; break;
    case ImageSizeLoad::kModeFitPage: s = std::min(load.width / W, load.height / H); break;
    default: s = 1.0; break;
    }
    const double m = std::min(minimumImageSize.width / W, minimumImageSize.height / H);
    if (s < m) s = m;
    if (!std::isfinite(s) || !(s > 0)) return {};
    if (scale) *scale = s;

    // Whole points; the products go through single precision first, so that
    // a fit that lands a hair below a whole number still gives that number.
    auto side = [](double v) { return std::max(1.0, std::trunc(double(float(v)))); };
    gfx::Size size{side(W * s), side(H * s)};
    if (imageSizeIfNotOversize) *imageSizeIfNotOversize = size;

    if (maxImageLength > 0 && size.width * size.height > maxImageLength) {
        double f = 1.0 / double(std::sqrt(float(size.width * size.height / maxImageLength)));
        size = {std::max(1.0, std::trunc(f * size.width)), std::max(1.0, std::trunc(f * size.height))};
        if (isOverSize) *isOverSize = true;
    }
    return size;
}

double BookReaderEx::calcInitValues() {
    // A desktop window may fill a 4K screen: one full screen of pixels.
    if (sys::DeviceProfile::current().name == "desktop") return 8'294'400.0;  // 3840 x 2160
    switch (DeviceCommon::getDeviceType()) {
    case 1:
    case 2:
    case 3: return 1'638'400.0;  // 1280 x 1280
    case 4: return 2'250'000.0;  // 1500 x 1500
    case 11: return 2'560'000.0; // 1600 x 1600
    case 18:
    case 19:
    case 20: return 1'638'400.0;
    case 21: return 1'960'000.0; // 1400 x 1400
    default: break;
    }
    const double scale = BookCommon::getScreenScale();
    if (BookCommon::getDeviceDisplayType() != 1) return scale >= 3.0 ? 3'686'400.0 : 2'250'000.0;
    if (BookCommon::getScreenHeight() > 1024) return 7'463'824.0;  // 2732 x 2732
    return scale >= 2.0 ? 4'194'304.0 : 2'560'000.0;
}

// ---- Opening and closing ----------------------------------------------------------------

bool BookReaderEx::isPageFetchRefused() const {
    auto rd = reader();
    return rd && rd->isPageFetchRefused();
}

std::shared_ptr<PageReader> BookReaderEx::reader() const {
    std::lock_guard lock(stateMutex_);
    return pageReader_;
}

std::shared_ptr<const BookReaderEx::PageLists> BookReaderEx::pageLists() const {
    std::lock_guard lock(stateMutex_);
    return pageLists_;
}

void BookReaderEx::setSettings(std::shared_ptr<Settings> settings) {
    std::lock_guard lock(stateMutex_);
    settings_ = std::move(settings);
    // An open book's reader reads the new settings from its next page on
    // (a book opened before its screen had settings, then taken by it).
    if (pageReader_) pageReader_->setSettings(settings_);
}

std::shared_ptr<Settings> BookReaderEx::settings() const {
    std::lock_guard lock(stateMutex_);
    return settings_;
}

bool BookReaderEx::openBookWithName(const std::string& name, const std::vector<std::string>& otherFiles,
                                    const std::optional<std::string>& lbexpand,
                                    const std::optional<std::string>& password,
                                    const std::optional<std::string>& targetFolder, bool isOfflineMode,
                                    bool isThumbsCreateMode) {
    ActiveLog::writeCheckpoint("openBook");

    // The previous book goes first, with its preload and its views: a view
    // of the old book must never answer a request for the new one.
    dropReader();

    isThumbsCreateMode_ = isThumbsCreateMode;
    decodesCancelled_.store(false);
    maxImageLength_ = calcInitValues();
    screenScale_ = BookCommon::getScreenScale();
    if (!(screenScale_ > 0) || !std::isfinite(screenScale_)) screenScale_ = 1.0;
    isPdf_ = false;
    lbexpand_.reset();

    readerKind_ = readerKindForFile(name, lbexpand.has_value());
    auto rd = makeReader(readerKind_);
    if (lbexpand) lbexpand_ = *lbexpand;
    isPdf_ = readerKind_ == ReaderKind::Pdf;

    const std::optional<std::string> remotePassword = password_;
    targetPath_ = name;
    password_ = password;
    targetFolder_ = targetFolder;
    otherFiles_ = otherFiles;
    isStreamingMode_ = BookCommon::isURL(name);
    isUnsupportedServer_ = isExpandError_ = isUnsupportedFtp_ = isErrorBecauseSolidArchive_ = isNoPage_ = false;
    isServerBusy_ = isAuthRefused_ = false;
    untrustedServer_.clear();
    isStreamingUnitIsPage_ = false;
    {
        std::lock_guard lock(targetMutex_);
        lastCacheMap_.clear();
        lastCacheIsPage_ = false;
    }
    openFailure_ = PageReader::OpenFailure::None;
    if (!rd) {
        openFailure_ = PageReader::OpenFailure::NoReader;
        return false;
    }

    if (lbexpand) rd->setMediaServerExpandMode(*lbexpand);
    auto s = settings();
    rd->setSettings(s);
    rd->setUserName(userName_);
    rd->setPassword(remotePassword.value_or(std::string()));
    rd->setOtherSettingForRemote(otherSettingsForRemote_);
    rd->setFileInfo(fileInfo_);
    isStreamingUnitIsPage_ = rd->isStreamPage();
    rd->setTargetForOnlineStatus(weak_from_this());
    rd->setOtherFiles(otherFiles_);
    if (auto* pdf = dynamic_cast<PageReaderPDF*>(rd.get()))
        pdf->setPdfTrimmingForThumbsCreeateMode(pdfTrimmingForThumbsCreeateMode_);
    {
        // Published before the open so that cancelStreaming reaches a slow open.
        std::lock_guard lock(stateMutex_);
        pageReader_ = rd;
    }

    bool ok;
    {
        std::lock_guard lock(readerMutex_);
        ok = rd->openFile(name, password, targetFolder, isOfflineMode, isThumbsCreateMode);
    }

    // A solid RAR decodes from its start for every page that is not next:
    // the reader is told before the wait (a screen's open only, whatever
    // page it starts at).
    if (ok && readerKind_ == ReaderKind::Rar && !isOfflineMode && !isSilentForBackground_ && rd->isSolidArhive())
        showSolidArchiveNotice();
    isUnsupportedServer_ = rd->isUnsupportedServer();
    isExpandError_ = rd->isExpandError();
    isNoPage_ = rd->isNoPage();
    isUnsupportedFtp_ = rd->isUnsupportedFtp();
    isServerBusy_ = rd->isServerBusy();
    isAuthRefused_ = rd->isAuthRefused();
    untrustedServer_ = rd->untrustedServer();
    isErrorBecauseSolidArchive_ = rd->isErrorBecauseSolidArchive();
    openFailure_ = ok ? PageReader::OpenFailure::None : rd->openFailure();

    auto lists = std::make_shared<PageLists>();
    lists->names = rd->getPageNameList();
    lists->globals = rd->getGlobalPageNoList();
    {
        std::lock_guard lock(shapeMutex_);
        shapes_.assign(lists->names.size(), Shape::Unknown);
        shapesToMeasure_ = true;
        unmeasurable_ = -1;
    }
    {
        std::lock_guard lock(stateMutex_);
        pageLists_ = std::move(lists);
    }
    return ok;
}

void BookReaderEx::showSolidArchiveNotice() {
    auto show = [] {
        auto alert = std::make_shared<QNAlertView>(
            BookCommon::localizedStringWithOnOff("Notice"),
            BookCommon::localizedStringWithOnOff("Loading may take time because this file is a \"Solid Archive\""),
            std::weak_ptr<QNAlertViewDelegate>(), std::nullopt,
            std::vector<std::string>{BookCommon::localizedStringWithOnOff("OK")});
        alert->show();
    };
    if (sys::RunLoop::isMainThread()) show();
    else sys::RunLoop::main().post(show);
}

void BookReaderEx::joinPreload() {
    std::lock_guard lock(threadMutex_);
    preloadThread_.join();
}

void BookReaderEx::dropReader() {
    stopMeasuring_.store(true);
    auto rd = reader();
    // A preload blocked on the network ends at once; then it is waited for.
    if (rd) rd->cancelStreaming();
    joinPreload();
    if (rd) {
        std::lock_guard lock(readerMutex_);
        rd->closeFile();
    }
    {
        std::lock_guard lock(stateMutex_);
        pageReader_.reset();
        pageLists_.reset();
    }
    {
        std::lock_guard lock(slotMutex_);
        loadedPage_.reset();
        loadedFailed_ = false;
        pageCache_.reset();
        pagePreLoad_.reset();
    }
    {
        std::lock_guard lock(shapeMutex_);
        shapes_.clear();
    }
}

void BookReaderEx::closeBook() {
    dropReader();
    targetPath_.clear();
    password_.reset();
    targetFolder_.reset();
    ActiveLog::writeCheckpoint("closeBook");
}

// ---- Loading -----------------------------------------------------------------------------

BookReaderEx::Snapshot BookReaderEx::makeSnapshot() const {
    Snapshot snap;
    if (auto s = settings()) snap.values = s->snapshot();
    snap.screenScale = screenScale_;
    snap.maxImageLength = maxImageLength_;
    snap.isThumbsCreateMode = isThumbsCreateMode_;
    snap.pageCount = getPageNum();
    return snap;
}

int BookReaderEx::loadPage(PageLoadRequest r) {
    ActiveLog::writeCheckpoint("loadPage start");
    // The reader is for this page first.
    stopMeasuring_.store(true);
    const Snapshot snap = makeSnapshot();
    if (snap.values && !snap.values->isPreRead && !(isStreamingMode_ && r.isCacheCreator)) {
        r.isPreloadPages = false;
        r.isCachePages = false;
    }

    std::shared_ptr<const BookPage> page;
    {
        std::lock_guard lock(slotMutex_);
        page = getTargetCache(r, pageCache_);
        if (!page) page = getTargetCache(r, pagePreLoad_);
        // A view that failed (its placeholder) is no page to go back to.
        if (r.isCachePages) pageCache_ = loadedFailed_ ? nullptr : loadedPage_;
        loadedPage_.reset();
        loadedFailed_ = false;
        if (page) loadedPage_ = page;
    }
    if (!page) {
        int result = 0;
        page = loadedPageOnce(r, snap, result);
        {
            std::lock_guard lock(slotMutex_);
            loadedPage_ = page;
            loadedFailed_ = result != 0;
        }
        if (result == 1) {
            ActiveLog::writeCheckpoint("loadPage password");
            return kLoadPassword;
        }
        if (result != 0) {
            ActiveLog::writeCheckpoint("loadPage error");
            return kLoadError;
        }
    }
    ActiveLog::writeCheckpoint("loadPage end");

    // A preload that only measures gives way (after the page it is at).
    if (r.isPreloadPages && preloadMeasuring_.load()) waitPreloadThread();
    if (r.isPreloadPages && !isNowPreLoading_.load()) {
        int operation;
        if (page->pageMoveDirection == BookPage::kBackward) {
            if (page->isFirstPage) return kLoadDone;
            operation = PageLoadRequest::kPrevious;
        } else {
            if (page->isLastPage) return kLoadDone;
            operation = PageLoadRequest::kNext;
        }
        PageLoadRequest next{};
        next.targetPage = page->targetPage;
        next.operation = operation;
        next.isNow2PageLoaded = page->is2PageLoaded;
        next.isNowDividedPage = page->isDividedPage;
        next.secondPage = page->isSecondPage;
        next.minimumImageSize = r.minimumImageSize;
        next.targetSize = r.targetSizePreload;
        startPreload(next, snap);
    }
    return kLoadDone;
}

void BookReaderEx::startPreload(const PageLoadRequest& r, const Snapshot& snap) {
    // The busy flag goes up before the thread exists, so that a wait, a close
    // or a second request never sees a preload that is about to start as idle.
    bool idle = false;
    if (!isNowPreLoading_.compare_exchange_strong(idle, true)) return;
    stopMeasuring_.store(false);
    std::lock_guard lock(threadMutex_);
    preloadThread_ = sys::Thread();  // the previous one has finished: join it
    preloadThread_ = sys::Thread([this, r, snap](const std::atomic<bool>&) { preloadThread(r, snap); }, "preload");
}

void BookReaderEx::preloadThread(PageLoadRequest r, Snapshot snap) {
    std::unique_lock preloadLock(preloadMutex_);
    {
        std::lock_guard lock(slotMutex_);
        pagePreLoad_.reset();
    }
    int result = 0;
    auto page = loadedPageOnce(r, snap, result);
    if (result == 0) {
        std::lock_guard lock(slotMutex_);
        pagePreLoad_ = std::move(page);
    }
    // Pages side by side pair by their sizes: those that only decoding
    // tells are measured now.
    if (snap.values && snap.values->isDoubleTruck_Local && !snap.values->isNoAspectFill_Local &&
        r.targetSize.width > r.targetSize.height) {
        preloadMeasuring_.store(true);
        measureByDecoding();
        preloadMeasuring_.store(false);
    }
    {
        std::lock_guard flag(preloadFlagMutex_);
        isNowPreLoading_.store(false);
    }
    preloadDone_.notifyAll();
}

void BookReaderEx::waitPreloadThread() {
    // Waits on the condition, not on the lock the preload holds while it
    // works: the preload thread is counted for its own work on the virtual
    // clock, and its notify hands that count over to this thread as it wakes,
    // so no moment passes in which neither counts and virtual time runs ahead.
    std::unique_lock lock(preloadFlagMutex_);
    preloadDone_.wait(lock, [this] { return !isNowPreLoading_.load(); });
}

gfx::ImageRef BookReaderEx::getOriginalImage(int page) {
    auto rd = reader();
    if (!rd) return nullptr;
    std::lock_guard lock(readerMutex_);
    int result = PageReader::kResultFailed;
    auto image = rd->newLoadAndCreateImage(page, result);
    return result == PageReader::kResultImage ? image : nullptr;
}

gfx::ImageRef BookReaderEx::newCreateFilterImage(const gfx::ImageRef& image) const {
    auto s = settings();
    auto values = s ? s->snapshot() : nullptr;
    return applyFilters(image, values.get());
}

gfx::ImageRef BookReaderEx::centreAndFilter(gfx::ImageRef image, gfx::Size uncapped, bool isOverSize,
                                            const PageLoadRequest& r, double screenScale, const SettingsValues& v,
                                            BookPage& out) {
    out.targetSize = {std::max(uncapped.width, r.minimumImageSize.width),
                      std::max(uncapped.height, r.minimumImageSize.height)};
    if (!isOverSize) {
        // A view smaller than the display sits in its middle.
        gfx::Point offset;
        if (auto centred = ImageCommon::newCenterImageIfSmall(image, pixels(out.targetSize, screenScale), &offset)) {
            image = std::move(centred);
            out.offset = {offset.x / screenScale, offset.y / screenScale};
        }
    }
    return applyFilters(std::move(image), &v);
}

gfx::ImageRef BookReaderEx::applyFilters(gfx::ImageRef image, const SettingsValues* values) {
    if (!image || !values) return image;
    for (int code : {values->imageFilter_Local1, values->imageFilter_Local2, values->imageFilter_Local3}) {
        if (auto filtered = ImageCommon::newFilterImage(image, code)) image = std::move(filtered);
    }
    return image;
}

std::shared_ptr<const BookPage> BookReaderEx::placeholder(const PageLoadRequest& r, int page, int direction,
                                                          bool second) {
    auto p = std::make_shared<BookPage>();
    p->image = noImage();
    p->originalSize = r.minimumImageSize;
    p->targetSize = r.minimumImageSize;
    p->zoomScale = 1.0;
    p->targetPage = page;
    p->pageMoveDirection = direction;
    p->isSecondPage = second;
    return p;
}

std::shared_ptr<const BookPage> BookReaderEx::loadedPageOnce(const PageLoadRequest& r, const Snapshot& snap,
                                                             int& result) {
    auto rd = reader();
    if (!rd) {
        result = kLoadError;
        return placeholder(r, r.targetPage, BookPage::kComposed, false);
    }
    std::lock_guard lock(readerMutex_);
    return composeWithReader(*rd, r, snap, result);
}

bool BookReaderEx::preparePage(PageReader& reader, int page, int clip, Prepared& p, int& readerResult,
                               const ImageLoader::DecodeNeed& need, const std::optional<gfx::Rect>& keepClip) {
    // The loader tells the picture's whole size from its header and decodes
    // it only as large as `need` asks.
    gfx::Size whole;
    gfx::ImageRef image;
    {
        ImageLoader::ScopedDecodeNeed scope([&](gfx::Size w) {
            whole = w;
            return need ? need(w) : gfx::Size{};
        });
        // Another session decoding this very page (its screen closed meanwhile,
        // or the cover maker) finishes first.
        PageDecodeGate gate(PageDecodeGate::keyFor(targetPath_, targetFolder_.value_or(""), page), decodesCancelled_);
        if (!gate.held()) {
            readerResult = PageReader::kResultFailed;
            return false;
        }
        image = reader.newLoadAndCreateImage(page, readerResult);
    }
    if (readerResult == PageReader::kResultImage) {
        if (!image) {
            readerResult = PageReader::kResultFailed;
            return false;
        }
        p = Prepared{};
        p.image = image;
        if (!positive(whole)) whole = {image->pointWidth(), image->pointHeight()};
        p.size = whole;
        p.sourceSize = whole;
        if (!positive(p.size) || !(image->pointWidth() > 0) || !(image->pointHeight() > 0)) {
            readerResult = PageReader::kResultFailed;
            return false;
        }
        // Image points per page pixel.
        const double kx = image->pointWidth() / whole.width, ky = image->pointHeight() / whole.height;
        gfx::Rect keep = keepClip.value_or(gfx::Rect::null());
        if (!keepClip && clip != 0) {
            gfx::Rect r = blankSpaceRect(image, clip);
            if (usableRect(r)) keep = gfx::Rect(r.x() / kx, r.y() / ky, r.width() / kx, r.height() / ky);
        }
        if (!keep.isNull()) {
            const gfx::Rect r(keep.x() * kx, keep.y() * ky, keep.width() * kx, keep.height() * ky);
            if (auto cropped = ImageCommon::newClipedImage(image, r)) {
                p.image = cropped;
                p.size = keep.size;
                p.clipRect = keep;
            }
        }
        return true;
    }
    if (readerResult == PageReader::kResultPending) {
        gfx::Size size = reader.getPendingImageSize();
        if (!positive(size)) {
            readerResult = PageReader::kResultFailed;
            return false;
        }
        p = Prepared{};
        p.pending = true;
        p.size = size;
        p.sourceSize = size;
        if (clip != 0) {
            // The margins are found on a small preview, never a full rendering.
            double k = 800.0 / std::max(size.width, size.height);
            gfx::Size previewSize{std::max(1.0, std::trunc(size.width * k)), std::max(1.0, std::trunc(size.height * k))};
            // A page slow to draw is not drawn twice: past a moment, the
            // preview is given up and the page kept whole.
            if (auto* pdf = dynamic_cast<PageReaderPDF*>(&reader)) pdf->limitNextDraw(kMarginPreviewSeconds);
            auto preview = reader.newCreatePendingImage(page, previewSize, gfx::Rect(0, 0, 0, 0), gfx::Rect::null(), false);
            if (preview && preview->pointWidth() > 0) {
                double factor = preview->pointWidth() / size.width;
                gfx::Rect r = blankSpaceRect(preview, clip);
                if (usableRect(r) && factor > 0) {
                    p.sourceRect = gfx::Rect(r.x() / factor, r.y() / factor, r.width() / factor, r.height() / factor);
                    p.size = p.sourceRect.size;
                }
            }
        }
        return true;
    }
    return false;
}

namespace {

// Appends PDF links to a view's list, scaled and then moved into its image.
void addLinks(std::shared_ptr<PdfRect>& to, const std::shared_ptr<const PdfRect>& from, double sx, double sy,
              gfx::Point offset) {
    if (!to) to = std::make_shared<PdfRect>();
    if (!from || from->getCount() == 0) return;
    PdfRect moved = *from;
    moved.editRectWithOffset(offset, sx, sy, 0);
    to->addPdfRect(moved);
}

// The links of two pages placed side by side the way
// ImageCommon::newScaledImageWithLeftImage places their images in a view
// of `size` pixels with a gap of `centre` of its width.
void placePairLinks(std::shared_ptr<PdfRect>& to, const std::shared_ptr<const PdfRect>& leftLinks,
                    const gfx::ImageRef& left, const std::shared_ptr<const PdfRect>& rightLinks,
                    const gfx::ImageRef& right, gfx::Size size, double centre) {
    const double W = size.width, H = std::trunc(size.height);
    const double space = double(float(W * centre));
    const double avail = std::trunc((W - space) * 0.5);
    auto place = [&](const std::shared_ptr<const PdfRect>& links, const gfx::ImageRef& img, bool isLeft) {
        if (!img || img->pointWidth() <= 0 || img->pointHeight() <= 0) return;
        const double scale = std::min(double(float(avail / img->pointWidth())), double(float(H / img->pointHeight())));
        const double dw = std::trunc(img->pointWidth() * scale), dh = std::trunc(img->pointHeight() * scale);
        const double x = isLeft ? std::trunc(W * 0.5 - dw - space * 0.5) : std::trunc(W * 0.5 + space * 0.5);
        const double y = std::trunc((H - dh) / 2);
        addLinks(to, links, dw / img->width(), dh / img->height(), {x, y});
    };
    place(leftLinks, left, true);
    place(rightLinks, right, false);
}

}  // namespace

std::shared_ptr<const BookPage> BookReaderEx::composeWithReader(PageReader& reader, const PageLoadRequest& r,
                                                                const Snapshot& snap, int& result) {
    static const SettingsValues kNoSettings{};
    const SettingsValues& v = snap.values ? *snap.values : kNoSettings;
    const int op = r.operation;

    // What the settings ask for this view.
    const int clip = snap.isThumbsCreateMode ? 0 : v.clipBlankSpace_Local;
    const double screenScale = snap.screenScale > 0 ? snap.screenScale : 1.0;
    bool divide = !snap.isThumbsCreateMode && v.isDivisionPage_Local;
    const bool stretch = v.isNoAspectFill_Local;
    // A jump or a fresh view (not a step from the view on the screen) is
    // placed by itself: with the first page alone, a jump to it shows it
    // whole, and the others pair as paging from the start pairs them.
    const bool placed = op != PageLoadRequest::kNext && op != PageLoadRequest::kPrevious &&
                        op != PageLoadRequest::kNextOnePage && op != PageLoadRequest::kPreviousOnePage;
    const bool firstAlone = v.isSingleViewFirstPage_Local;
    const bool singleFirst = r.targetPage == 0 && placed && firstAlone;
    if (singleFirst) divide = false;
    const bool twoUp = v.isDoubleTruck_Local && r.targetSize.width > r.targetSize.height;
    double centre = v.centerSpace_Local;
    if (!(centre >= 0 && centre < 1)) centre = 0;
    const bool leftBound = v.pageDirection_Local == 1;
    const bool swapHalves = v.isSwitchSplitLeftRight_Local;
    const bool swapPair = v.isExchangeDoublePage;
    if (twoUp) divide = false;
    const bool pairing = twoUp && !stretch && !singleFirst;
    // Pairs placed by their numbers (pages of sizes not known yet), with the
    // first page alone: an odd page and the one after it.
    const bool pairByParity = pairing && firstAlone && placed;
    // The budget is in device pixels; load sizes are in points.
    const double budget = snap.maxImageLength / (screenScale * screenScale);

    // Which page, and which half of it, the operation moves to.
    int page;
    bool second = false;
    int recorded;
    bool backward = false;
    bool oneMove = false;
    switch (op) {
    case PageLoadRequest::kNext:
    case PageLoadRequest::kNextOnePage:
        if (r.isNowDividedPage) {
            second = !r.secondPage;
            page = r.targetPage + (r.secondPage ? 1 : 0);
        } else {
            page = r.targetPage + ((op == PageLoadRequest::kNextOnePage || !r.isNow2PageLoaded) ? 1 : 2);
        }
        recorded = BookPage::kForward;
        oneMove = op == PageLoadRequest::kNextOnePage;
        break;
    case PageLoadRequest::kPrevious:
    case PageLoadRequest::kPreviousOnePage:
        if (r.isNowDividedPage) {
            second = !r.secondPage;
            page = r.targetPage - (second ? 1 : 0);
        } else {
            page = r.targetPage - 1;
        }
        recorded = BookPage::kBackward;
        backward = true;
        oneMove = op == PageLoadRequest::kPreviousOnePage;
        break;
    default:
        page = r.targetPage;
        second = r.secondPage;
        recorded = op == PageLoadRequest::kJumpForward    ? BookPage::kJumpForward
                   : op == PageLoadRequest::kJumpBackward ? BookPage::kJumpBackward
                                                          : BookPage::kComposed;
        break;
    }

    auto fail = [&](int readerResult) {
        result = readerResult == PageReader::kResultPassword ? kLoadPassword : kLoadError;
        return placeholder(r, page, recorded, second);
    };

    // The pixels of a page of `whole` pixels this view can use: no more than
    // its load size in device pixels (a divided page twice its half's; a page
    // of a pair needs no more than alone). Clipping may keep less of the page,
    // shown larger: a quarter more is asked for then, and no less than the
    // margin search looks at. A stretched page is decoded whole.
    auto viewNeed = [&](gfx::Size whole) -> gfx::Size {
        if (stretch || !positive(whole)) return {};
        gfx::Size need;
        if (divide && whole.width > whole.height) {
            const gfx::Size load = calcLoadImageSize(r.targetSize, {whole.width / 2, whole.height},
                                                     r.minimumImageSize, budget, nullptr, nullptr, nullptr);
            need = {2 * load.width * screenScale, load.height * screenScale};
        } else {
            need = pixels(calcLoadImageSize(r.targetSize, whole, r.minimumImageSize, budget, nullptr, nullptr, nullptr),
                          screenScale);
        }
        if (clip != 0) {
            // The margins are looked for on copies 800 pixels across and
            // down: found on no coarser a page than that.
            const double k = std::max({need.width * 1.25 / whole.width, need.height * 1.25 / whole.height,
                                       std::min(1.0, 800 / whole.width), std::min(1.0, 800 / whole.height)});
            need = {whole.width * k, whole.height * k};
        }
        return need;
    };
    // A page decoded smaller than the view turns out to need (its clipped part
    // or its partner asked for more, or a pair fell back to one page) is
    // decoded again, large enough, keeping the same clipped part.
    auto ensure = [&](Prepared& p, int number, gfx::Size need, gfx::Size part) {
        // A view larger than the page is enlarged from the whole picture.
        need = {std::min(need.width, part.width), std::min(need.height, part.height)};
        if (p.pending || !positive(part) || p.serves(need, part)) return true;
        const double dx = need.width / part.width, dy = need.height / part.height;
        auto exact = [dx, dy](gfx::Size whole) {
            return gfx::Size{std::ceil(whole.width * dx), std::ceil(whole.height * dy)};
        };
        Prepared again;
        int againResult = PageReader::kResultFailed;
        if (!preparePage(reader, number, clip, again, againResult, exact, p.clipRect) ||
            againResult != PageReader::kResultImage || again.size != p.size)
            return false;
        p = std::move(again);
        return true;
    };

    Prepared main;
    int readerResult = PageReader::kResultFailed;
    if (!preparePage(reader, page, clip, main, readerResult, viewNeed)) {
        noteUnshowable(reader, page, readerResult);
        return fail(readerResult);
    }
    const double pageW = main.size.width, pageH = main.size.height;
    const bool wide = pageW > pageH;

    if (stretch && positive(gfx::Size{r.targetSize.width, r.targetSize.height})) {
        // The page takes the display's proportions (each half of a page that
        // will be divided does).
        const double aspect = r.targetSize.width / r.targetSize.height;
        gfx::Size s;
        if (pageW / pageH < aspect) {
            s = {std::trunc(pageH * aspect), std::trunc(pageH)};
        } else {
            s = {std::trunc(pageW), std::trunc(pageW / aspect)};
        }
        if (divide && wide) s.width *= 2;
        if (positive(s)) {
            if (!main.pending) {
                // At the density the page was decoded at.
                const gfx::Size px{std::max(1.0, std::round(s.width * main.densityX())),
                                   std::max(1.0, std::round(s.height * main.densityY()))};
                auto scaled = ImageCommon::newScaledImage(main.image, px);
                if (!scaled) return fail(PageReader::kResultFailed);
                main.image = scaled;
            }
            main.size = s;
        }
    }

    // PDF links of the view, moved into its image as it is composed.
    auto* pdfReader = dynamic_cast<PageReaderPDF*>(&reader);
    std::shared_ptr<PdfRect> links;

    auto view = std::make_shared<BookPage>();
    BookPage& out = *view;
    out.sourceImageSize1 = main.sourceSize;
    out.isMoveHalfPage = oneMove;
    out.pageMoveDirection = recorded;

    gfx::ImageRef image;
    bool isOverSize = false;
    double zoomScale = 1.0;
    gfx::Size uncapped;
    gfx::Size loadSize;
    bool paired = false;
    bool divided = false;
    const int count = snap.pageCount;

    // Whether a page may stand beside another goes by the picture as
    // stored (a wide page, or a strip far taller than wide, stands alone),
    // so that every way to a page finds the same pairs.
    noteShape(page, main.sourceSize);
    if (pairing) {
        // Once a book, all of it, for the screen that names the pairs (its
        // page slider) as well.
        bool measureAll = false;
        {
            std::lock_guard lock(shapeMutex_);
            std::swap(measureAll, shapesToMeasure_);
        }
        if (measureAll) measureShapes(reader, count - 1, false);
    }
    if (pairing && shapeOf(main.sourceSize) == Shape::Pairable) {
        // The page beside this one; -1 when it stands alone.
        int partner = page + 1;
        if (op == PageLoadRequest::kPrevious) {
            // Back to the view that paging forward from the start shows
            // before this page; a page of the view left stays out of it.
            const auto spread = measuredSpreadAt(reader, page, firstAlone);
            partner = !spread ? page - 1 : spread->first < page ? spread->first : -1;
        } else if (op == PageLoadRequest::kCompose && r.isSameView) {
            // The view on the screen composed again stays as it is.
            partner = r.isNow2PageLoaded ? page + 1 : -1;
        } else if (placed) {
            // A jump or a first view shows the pair paging from the start
            // would. With sizes not known yet, the pairs follow the page
            // numbers.
            if (const auto spread = measuredSpreadAt(reader, page, firstAlone))
                partner = spread->first != page ? spread->first : spread->second != page ? spread->second : -1;
            else if (pairByParity)
                partner = page % 2 == 1 ? page + 1 : page - 1;
        }
        Prepared other;
        int otherResult = PageReader::kResultFailed;
        const bool otherReady = partner >= 0 && partner < count && !(firstAlone && page == 0) &&
                                (preparePage(reader, partner, clip, other, otherResult, viewNeed) ||
                                 (noteUnshowable(reader, partner, otherResult), false));
        if (otherReady && (noteShape(partner, other.sourceSize), shapeOf(other.sourceSize) == Shape::Pairable)) {
            CompositionScope composing;
            const gfx::Size pairSize{2 * std::max(main.size.width, other.size.width) / (1 - centre),
                                     std::max(main.size.height, other.size.height)};
            loadSize = calcLoadImageSize(r.targetSize, pairSize, r.minimumImageSize, budget, &isOverSize,
                                         &zoomScale, &uncapped);
            if (!positive(loadSize)) return fail(PageReader::kResultFailed);
            const gfx::Size half{screenScale * (1 - centre) * loadSize.width / 2, screenScale * loadSize.height};
            // Each page is fitted into its half.
            auto fitted = [&](const Prepared& p) {
                const double k = std::min(half.width / p.size.width, half.height / p.size.height);
                return gfx::Size{p.size.width * k, p.size.height * k};
            };
            if (!ensure(main, page, fitted(main), main.size) || !ensure(other, partner, fitted(other), other.size))
                return fail(PageReader::kResultFailed);
            std::shared_ptr<const PdfRect> mainLinks, otherLinks;
            auto render = [&](Prepared& p, int number, std::shared_ptr<const PdfRect>& taken) -> gfx::ImageRef {
                if (!p.pending) return p.image;
                auto rendered = reader.newCreatePendingImage(number, half, p.sourceRect, gfx::Rect::null(), true);
                if (pdfReader) taken = pdfReader->pdfLinkRect();
                return rendered;
            };
            gfx::ImageRef mainImage = render(main, page, mainLinks);
            gfx::ImageRef otherImage = render(other, partner, otherLinks);
            if (!mainImage || !otherImage) return fail(PageReader::kResultFailed);
            // The lower page of a pair is on the binding's side.
            const bool flip = partner < page ? !leftBound : leftBound;
            const bool partnerLeft = swapPair == flip;
            if (pdfReader) {
                const gfx::Size px = pixels(loadSize, screenScale);
                placePairLinks(links, partnerLeft ? otherLinks : mainLinks, partnerLeft ? otherImage : mainImage,
                               partnerLeft ? mainLinks : otherLinks, partnerLeft ? mainImage : otherImage, px, centre);
            }
            image = ImageCommon::newScaledImageWithLeftImage(
                partnerLeft ? otherImage : mainImage, partnerLeft ? mainImage : otherImage,
                pixels(loadSize, screenScale), centre, partnerLeft ? other.size : main.size,
                partnerLeft ? main.size : other.size);
            if (!image) return fail(PageReader::kResultFailed);
            paired = true;
            second = false;
            out.targetPage = std::min(page, partner);
            out.originalSize = pairSize;
            out.sourceImageSize2 = other.sourceSize;
            out.is2PageLoaded = true;
            image = centreAndFilter(image, uncapped, isOverSize, r, screenScale, v, out);
        }
    }

    if (!paired) {
        CompositionScope composing;
        const double w = main.size.width, h = main.size.height;
        divided = divide && w > h;
        if (divided) {
            if (backward && !r.isNowDividedPage) second = true;
            const gfx::Size halfSize{w / 2, h};
            loadSize = calcLoadImageSize(r.targetSize, halfSize, r.minimumImageSize, budget, &isOverSize,
                                         &zoomScale, &uncapped);
            if (!positive(loadSize)) return fail(PageReader::kResultFailed);
            const gfx::Size px = pixels(loadSize, screenScale);
            // A right-bound book shows the right half first.
            const double left = ((!leftBound) ^ swapHalves ^ second) ? w / 2 : 0;
            if (main.pending) {
                const double ox = main.sourceRect.isNull() ? 0 : main.sourceRect.x();
                const double oy = main.sourceRect.isNull() ? 0 : main.sourceRect.y();
                auto rendered = reader.newCreatePendingImage(page, px, gfx::Rect(ox + left, oy, w / 2, h),
                                                             gfx::Rect::null(), true);
                image = rendered ? ImageCommon::newScaledImage(rendered, px) : nullptr;
                if (rendered && pdfReader)
                    addLinks(links, pdfReader->pdfLinkRect(), px.width / rendered->width(),
                             px.height / rendered->height(), {0, 0});
            } else {
                if (!ensure(main, page, px, halfSize)) return fail(PageReader::kResultFailed);
                const double dx = main.densityX(), dy = main.densityY();
                image = ImageCommon::newScaledImage(main.image, px, gfx::Rect(left * dx, 0, w / 2 * dx, h * dy));
            }
            out.originalSize = halfSize;
        } else {
            second = false;
            loadSize = calcLoadImageSize(r.targetSize, main.size, r.minimumImageSize, budget, &isOverSize,
                                         &zoomScale, &uncapped);
            if (!positive(loadSize)) return fail(PageReader::kResultFailed);
            const gfx::Size px = pixels(loadSize, screenScale);
            if (main.pending) {
                // A PDF page may be drawn larger than asked (smoother
                // pictures): it comes back to the view's size, as a page
                // beside another or half a page does.
                auto rendered = reader.newCreatePendingImage(page, px, main.sourceRect, gfx::Rect::null(), true);
                image = rendered && (rendered->width() != int(px.width) || rendered->height() != int(px.height))
                            ? ImageCommon::newScaledImage(rendered, px)
                            : rendered;
                if (image && pdfReader)
                    addLinks(links, pdfReader->pdfLinkRect(), px.width / rendered->width(),
                             px.height / rendered->height(), {0, 0});
            } else if (!ensure(main, page, px, main.size)) {
                return fail(PageReader::kResultFailed);
            } else if (main.image->width() == int(px.width) && main.image->height() == int(px.height)) {
                image = main.image;
            } else {
                image = ImageCommon::newScaledImage(main.image, px);
            }
            out.originalSize = main.size;
        }
        if (!image) return fail(PageReader::kResultFailed);
        out.targetPage = page;
        out.isDividedPage = divided;
        image = centreAndFilter(image, uncapped, isOverSize, r, screenScale, v, out);
    }

    if (pdfReader) {
        // The links follow the view when it was centred in the display.
        auto moved = std::make_shared<PdfRect>();
        addLinks(moved, links, 1, 1, {out.offset.x * screenScale, out.offset.y * screenScale});
        out.pdfLinkRect = std::move(moved);
    }
    out.image = image;
    out.isSecondPage = second;
    out.zoomScale = zoomScale;
    out.isFirstPage = out.targetPage == 0 && !second;
    out.isLastPage = (out.targetPage == count - 1 && !paired && (second || !divided)) ||
                     (out.targetPage == count - 2 && paired);
    result = kLoadDone;
    return view;
}
