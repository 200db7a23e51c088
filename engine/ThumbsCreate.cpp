#include "engine/ThumbsCreate.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "engine/ImageLoader.h"
#include "engine/RemoteStreamRead.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/FileServerWriteState.h"
#include "foundation/QNNetworkInfo.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Unicode.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegEncoder.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A remote book whose row knows a user but no password: an empty one would
// only be refused, and nobody is there to ask for it.
bool waitsForPassword(const FilelistItem& item) {
    return item.location() == FilelistItem::kRemote && !item.remoteUsername().value_or("").empty() &&
           !item.remotePassword();
}

std::mutex gSharedMutex;
std::shared_ptr<ThumbsCreate> gShared;
std::atomic<int> gHeldForOpen{0};

constexpr int32_t kTypeFolder = 0, kTypeBook = 1, kTypeImage = 2, kTypePdf = 3, kTypeLibraryDownload = 6;

bool isCoverType(int32_t type) { return type == kTypeBook || type == kTypeImage || type == kTypePdf; }

bool writeJpeg(const gfx::Image& image, const std::string& path) {
    std::vector<uint8_t> jpeg = gfx::JpegEncoder::encode(image, ThumbsCreate::jpegQuality());
    if (jpeg.empty()) return false;
    return ThumbsCreate::writeCacheFile(path,
                                        std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
}

bool writePlist(const sys::PlistArray& array, const std::string& path) {
    auto bytes = sys::PropertyList::serialize(sys::PlistValue(array));
    return bytes && ThumbsCreate::writeCacheFile(path, *bytes);
}

// It only has to outlive a crash of the program, not of the machine.
bool writeMarker(const std::string& path) {
    auto bytes = sys::PropertyList::serialize(sys::PlistValue(sys::PlistArray{sys::PlistValue(int64_t(1))}));
    return bytes && sys::FileManager::writeFile(path, *bytes, false);
}

double screenScale() {
    const double s = BookCommon::getScreenScale();
    return s > 0 && std::isfinite(s) ? s : 1.0;
}

// Decoding needs to give no more than this many pixels each way.
gfx::Size pixels(gfx::Size points) { return {std::ceil(points.width * screenScale()), std::ceil(points.height * screenScale())}; }

}  // namespace

// ---- The shared maker -------------------------------------------------------------------------

std::shared_ptr<ThumbsCreate> ThumbsCreate::thumbsCreate() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = std::make_shared<ThumbsCreate>();
    return gShared;
}

void ThumbsCreate::releaseThumbsCreate(bool wait) {
    std::shared_ptr<ThumbsCreate> old;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        old.swap(gShared);
    }
    if (old) old->stopWorker(wait);
}

void ThumbsCreate::holdForOpen(bool hold) {
    gHeldForOpen += hold ? 1 : -1;
    if (hold) return;
    std::shared_ptr<ThumbsCreate> shared;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        shared = gShared;
    }
    if (shared) shared->changed_.notifyAll();
}

void ThumbsCreate::stopWorker(bool wait) {
    std::shared_ptr<BookReaderEx> session;
    std::string marker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
        queued_.clear();
        session = session_;
        if (!wait) marker = std::exchange(workingMarker_, std::string());
    }
    changed_.notifyAll();
    // A cover being read from a stalled server stops at once.
    if (session) session->cancelStreaming();
    // Not a page that crashed the decoder: that book is tried again.
    if (!marker.empty()) sys::FileManager::removeItem(marker);
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (!wait && worker_.running()) {
        // The worker keeps the maker until it is done.
        {
            std::lock_guard<std::mutex> guard(mutex_);
            keepAlive_ = shared_from_this();
        }
        return sys::Thread::leaveToFinish(std::move(worker_));
    }
    worker_.requestStop();
    worker_.join();
}

ThumbsCreate::ThumbsCreate() = default;

ThumbsCreate::~ThumbsCreate() {
    std::shared_ptr<BookReaderEx> session;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
        queued_.clear();
        session = session_;
    }
    changed_.notifyAll();
    // A cover being read from a stalled server stops at once.
    if (session) session->cancelStreaming();
    std::lock_guard<std::mutex> lock(threadMutex_);
    worker_.requestStop();
    worker_.join();
}

void ThumbsCreate::setDelegate(std::weak_ptr<ThumbsCreateDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<Settings> ThumbsCreate::currentSettings() {
    if (auto s = AppDelegateServices::sharedSettings()) return s;
    return Settings::settings();
}

// ---- Sizes --------------------------------------------------------------------------------------

gfx::Size ThumbsCreate::bookThumbnailSize() {
    return BookCommon::getDeviceDisplayType() == 1 ? gfx::Size{105, 135} : gfx::Size{75, 97};
}

gfx::Size ThumbsCreate::singleImageThumbnailSize() {
    return BookCommon::getDeviceDisplayType() == 1 ? gfx::Size{104, 134} : gfx::Size{74, 96};
}

gfx::Size ThumbsCreate::folderThumbnailDefaultSize() {
    return BookCommon::getDeviceDisplayType() == 1 ? gfx::Size{66, 86} : gfx::Size{48, 66};
}

double ThumbsCreate::jpegQuality() { return BookCommon::getScreenScale() == 1.0 ? 0.8 : 0.5; }

// ---- Files ----------------------------------------------------------------------------------------

bool ThumbsCreate::writeCacheFile(const std::string& path, std::string_view bytes) {
    std::string temp = sys::Path::stringByAppendingPathComponent(sys::Path::stringByDeletingLastPathComponent(path),
                                                                 "." + sys::Path::lastPathComponent(path) + ".XXXXXX");
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += size_t(n);
    }
    ok = ::fchmod(fd, 0600) == 0 && ok;  // covers and pages of what the user reads
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

bool ThumbsCreate::cacheFileExists(const std::string& path) {
    auto size = sys::FileManager::fileSize(path);
    return size && *size > 0;
}

std::optional<std::string> ThumbsCreate::sourceOfItem(const FilelistItem& item) {
    if (item.location() == FilelistItem::kRemote) {
        if (!item.remoteURL() || item.remoteURL()->empty()) return std::nullopt;
        return item.remoteURL();
    }
    if (!item.pathFromBooks()) return std::nullopt;
    return BookCommon::fromBooksToFromRoot(item.pathFromBooks());
}

std::string ThumbsCreate::thumbnailPathForItem(const FilelistItem& item, bool createDirectory) {
    if (!isCoverType(item.type())) return "";
    auto source = sourceOfItem(item);
    if (!source) return "";
    return BookCommon::getThumbsFilename(*source, createDirectory);
}

std::string ThumbsCreate::markerPathForItem(const FilelistItem& item, bool createDirectory) {
    auto source = sourceOfItem(item);
    if (!source) return "";
    std::string dir = BookCommon::getBookSettingDir(*source, createDirectory);
    if (dir.empty()) return "";
    // The images of one folder share its setting directory.
    std::string name = item.type() == kTypeImage
                           ? item.filename().value_or(sys::Path::lastPathComponent(*source)) + "thumbs.try"
                           : "thumbs.try";
    return sys::Path::stringByAppendingPathComponent(dir, name);
}

// ---- Queue ------------------------------------------------------------------------------------------

std::shared_ptr<ThumbsCreateImageObject> ThumbsCreate::getImage(const std::shared_ptr<FilelistItem>& item,
                                                                bool createThumbs) {
    if (!item) return nullptr;
    const std::string thumb = thumbnailPathForItem(*item, false);
    if (!thumb.empty() && cacheFileExists(thumb)) {
        if (gfx::ImageRef image = gfx::ImageDecoder::decodeFile(thumb)) {
            std::optional<std::string> title;
            if (auto titleFile = BookCommon::getThumbsFilenameInArchive(thumb)) {
                auto record = sys::PropertyList::readArray(*titleFile);
                if (record && !record->empty() && (*record)[0].isString()) title = (*record)[0].asString();
            }
            return std::make_shared<ThumbsCreateImageObject>(item, image, title);
        }
    }
    return createThumbs ? addQueDo(item) : nullptr;
}

std::shared_ptr<ThumbsCreateImageObject> ThumbsCreate::addQue(const std::shared_ptr<FilelistItem>& item) {
    // What would be turned away anyway is, before its cover is looked for.
    if (!item || queueIsFullFor(*item) || !remoteCoverAllowed(*item)) return nullptr;
    const std::string thumb = thumbnailPathForItem(*item, false);
    if (!thumb.empty() && cacheFileExists(thumb)) return nullptr;
    return enqueue(item);
}

bool ThumbsCreate::queueIsFullFor(const FilelistItem& item) {
    // A list of many rows asks for each: once the queue is full, the rest
    // are turned away before anything is worked out for them.
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size() >= kMaxQueue && !queued_.count(&item) && !(working_ && working_->item().get() == &item);
}

bool ThumbsCreate::remoteCoverAllowed(const FilelistItem& item) {
    if (item.remoteThumbsManualReload() || item.location() != FilelistItem::kRemote) return true;
    auto settings = currentSettings();
    const int mode = settings ? settings->remoteThumbsAutoLoad() : 0;
    if (mode == 2) return false;
    if (mode == 0) {
        const bool ownLibrary = item.remoteURL() && BookCommon::isUrlIsInLeafbrightLibrary(*item.remoteURL());
        if (!ownLibrary && !QNNetworkInfo::recentWifiAddress()) return false;
    }
    return true;
}

std::shared_ptr<ThumbsCreateImageObject> ThumbsCreate::addQueDo(const std::shared_ptr<FilelistItem>& item) {
    if (!item || queueIsFullFor(*item) || !remoteCoverAllowed(*item)) return nullptr;
    return enqueue(item);
}

std::shared_ptr<ThumbsCreateImageObject> ThumbsCreate::enqueue(const std::shared_ptr<FilelistItem>& item) {
    std::shared_ptr<ThumbsCreateImageObject> entry;
    bool start = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return nullptr;
        if (item->location() == FilelistItem::kRemote) {
            auto failed = failedRemote_.find(item);
            if (failed != failedRemote_.end()) {
                if (!item->remoteThumbsManualReload()) return nullptr;
                failedRemote_.erase(failed);
            }
            // A cover that waits for the password goes once the server has
            // taken one (makeCoversThatWaitedForPassword()).
            if (awaitingPassword_.count(item)) return nullptr;
        }
        // Asked again while being made: the same entry.
        if (working_ && working_->item() == item) return working_;
        if (queued_.count(item.get())) {
            for (const auto& queued : queue_)
                if (queued.entry->item() == item) return queued.entry;
        }
        if (queue_.size() >= kMaxQueue) return nullptr;
        entry = std::make_shared<ThumbsCreateImageObject>(item);
        queue_.push_back(Queued{entry, *item});
        queued_.insert(item.get());
        if (!running_) {
            running_ = true;
            start = true;
        }
    }
    changed_.notifyAll();
    if (start) startWorker();
    return entry;
}

void ThumbsCreate::startWorker() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    // A worker that has just ended may still be letting its session go.
    worker_.join();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (stopping_) {
            running_ = false;
            return;
        }
    }
    worker_ = sys::Thread([this](const std::atomic<bool>& stop) { createThread(stop); }, "thumbs");
}

void ThumbsCreate::cancelAllTask() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        queued_.clear();
        failureCount_ = 0;
    }
    suspended_ = false;
    changed_.notifyAll();
}

void ThumbsCreate::suspendTask(int mode) { suspended_ = mode != 0; }

void ThumbsCreate::makeCoversThatWaitedForPassword() {
    std::vector<std::shared_ptr<FilelistItem>> ready;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = awaitingPassword_.begin(); it != awaitingPassword_.end();) {
            auto item = it->lock();
            if (item && waitsForPassword(*item)) {
                ++it;
                continue;
            }
            if (item) ready.push_back(std::move(item));
            it = awaitingPassword_.erase(it);
        }
    }
    for (const auto& item : ready) addQue(item);
}

size_t ThumbsCreate::queueLength() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

int ThumbsCreate::failureCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failureCount_;
}

bool ThumbsCreate::isRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

bool ThumbsCreate::waitUntilIdle(double realSeconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(realSeconds);
    auto idle = [this] { return queue_.empty() && !running_; };
    if (!sys::RunLoop::isMainThread()) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!idle()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            changed_.waitFor(lock, 0.01, idle);
        }
        return true;
    }
    // The worker waits for the list's answer on the main thread: keep it running.
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (idle()) return true;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        if (sys::Clock::isVirtual()) {
            // Virtual time moves too: a slowed worker sleeps on it.
            sys::RunLoop::main().runUntil(
                [&] {
                    std::lock_guard<std::mutex> lock(mutex_);
                    return idle();
                },
                1.0);
        } else {
            sys::RunLoop::main().runOnce();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (idle()) return true;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// ---- Worker --------------------------------------------------------------------------------------

void ThumbsCreate::createThread(const std::atomic<bool>& stop) {
    auto settings = currentSettings();
    auto session = std::make_shared<BookReaderEx>();
    session->setIsSilentForBackground(true);
    session->setPdfTrimmingForThumbsCreeateMode(settings ? settings->pdfTrimming() : 0);
    session->setSettings(settings);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session_ = session;
    }
    bool slowServer = false;
    for (;;) {
        if (suspended_.load()) sys::Clock::sleepFor(0.1, &stop);
        std::optional<Queued> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return gHeldForOpen.load() <= 0 || stop.load() || stopping_; });
            if (stop.load() || stopping_ || queue_.empty()) {
                running_ = false;
                break;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
            queued_.erase(job->entry->item().get());
            working_ = job->entry;
        }
        {
            // Nobody waits for a cover: a server that feeds one slowly holds
            // a headless run's clock up for a while, once; after a cover that
            // took longer, the rest of the queue does not hold it at all.
            const bool remote = job->item.location() == FilelistItem::kRemote;
            const double began = sys::Clock::realNow();
            sys::Clock::NetworkHoldLimit hold(slowServer ? 0.0 : kClockHoldSeconds);
            createThumbsDo(*job, *session, stop);
            if (remote && sys::Clock::realNow() - began > kClockHoldSeconds) slowServer = true;
        }
        bool dropped = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            working_.reset();
            if (failureCount_ >= kMaxFailures) {
                failureCount_ = 0;
                queue_.clear();
                queued_.clear();
                running_ = false;
                dropped = true;
            }
        }
        changed_.notifyAll();
        if (dropped) break;
    }
    std::shared_ptr<ThumbsCreate> keep;
    {
        // A new worker may have started meanwhile: only this one's session goes.
        std::lock_guard<std::mutex> lock(mutex_);
        if (session_ == session) session_.reset();
        keep = std::move(keepAlive_);
    }
    session.reset();
    changed_.notifyAll();
    // A maker let go goes with its worker's last step (here, on this thread).
}

void ThumbsCreate::createThumbsDo(const Queued& job, BookReaderEx& session, const std::atomic<bool>& stop) {
    const std::shared_ptr<ThumbsCreateImageObject>& entry = job.entry;
    // The copy: the list's own item belongs to the main thread.
    FilelistItem item = job.item;
    if (item.remoteThumbsManualReload()) {
        std::shared_ptr<FilelistItem> listed = entry->item();
        sys::RunLoop::main().post([listed] { listed->setRemoteThumbsManualReload(false); });
    }
    const int32_t type = item.type();
    if (type == kTypeFolder || type == kTypeLibraryDownload) {
        auto folder = sourceOfItem(item);
        if (!folder) return;
        BookCommon::getThumbsFilenameForFolder(*folder, true);
        auto image = BookCommon::getFirstThumbsFilenameForFolder(*folder);
        if (!image) return;
        // The theme belongs to the main thread.
        auto size = std::make_shared<gfx::Size>(folderThumbnailDefaultSize());
        const bool asked = runOnMain(
            [size] {
                if (auto settings = currentSettings())
                    if (auto theme = settings->themeLoader()) *size = theme->getBookShelfFolderPos().size;
            },
            stop);
        if (!asked) return;
        if (folderThumbsCreate(*folder, image, nullptr, false, *size)) tellDelegate(entry, stop);
        return;
    }
    const bool local = item.location() == FilelistItem::kLocal;
    if (type == kTypeBook || type == kTypeImage || (type == kTypePdf && local)) {
        if (waitsForPassword(item)) {
            // The cover waits for the password (makeCoversThatWaitedForPassword()).
            std::lock_guard<std::mutex> lock(mutex_);
            std::erase_if(awaitingPassword_, [](const std::weak_ptr<FilelistItem>& w) { return w.expired(); });
            awaitingPassword_.insert(entry->item());
        } else if (loadBookImage(item, session)) {
            tellDelegate(entry, stop);
        } else if (!local && !stop.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            // Items their lists let go of are forgotten with the next failure.
            std::erase_if(failedRemote_, [](const std::weak_ptr<FilelistItem>& w) { return w.expired(); });
            failedRemote_.insert(entry->item());
        }
    }
}

void ThumbsCreate::tellDelegate(const std::shared_ptr<ThumbsCreateImageObject>& entry, const std::atomic<bool>& stop) {
    std::weak_ptr<ThumbsCreateDelegate> delegate;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delegate = delegate_;
    }
    if (delegate.expired()) return;
    // The list answers before the next book starts.
    runOnMain(
        [delegate, entry] {
            if (auto d = delegate.lock()) d->updateItem(entry);
        },
        stop);
}

bool ThumbsCreate::runOnMain(std::function<void()> fn, const std::atomic<bool>& stop) {
    struct Done {
        std::mutex m;
        sys::Condition c;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    sys::RunLoop::main().post([fn = std::move(fn), done] {
        fn();
        {
            std::lock_guard<std::mutex> lock(done->m);
            done->done = true;
        }
        done->c.notifyAll();
    });
    // A maker going away does not wait: the main thread may be the one joining it.
    std::unique_lock<std::mutex> lock(done->m);
    done->c.wait(lock, [&] { return done->done || stop.load(); });
    return done->done;
}

// ---- One cover ---------------------------------------------------------------------------------------

gfx::ImageRef ThumbsCreate::loadImage(const FilelistItem& item) {
    if (item.location() != FilelistItem::kLocal) return nullptr;
    auto source = sourceOfItem(item);
    if (!source) return nullptr;
    return ImageLoader::imageWithAnyContentsOfFile(*source);
}

bool ThumbsCreate::loadBookImage(FilelistItem& item, BookReaderEx& session) {
    auto source = sourceOfItem(item);
    if (!source) return false;
    const bool local = item.location() == FilelistItem::kLocal;
    // A book still being uploaded to the built-in file server is left alone,
    // and one that is gone (renamed, deleted) gets no side folders made for it.
    if (local && FileServerWriteState::isOpenForWrite(*source)) return false;
    if (local && !sys::FileManager::fileExists(*source)) return false;
    if (waitsForPassword(item)) return false;
    const std::string thumb = thumbnailPathForItem(item, true);
    const std::string marker = markerPathForItem(item, true);
    if (thumb.empty() || marker.empty()) return false;
    if (sys::FileManager::fileExists(marker)) return false;
    if (cacheFileExists(thumb)) return true;
    if (!writeMarker(marker)) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            sys::FileManager::removeItem(marker);
            return false;
        }
        workingMarker_ = marker;
    }

    bool made = false;
    if (item.type() == kTypeImage && local) {
        const gfx::Size box = singleImageThumbnailSize();
        const gfx::Size px = pixels(box);
        gfx::ImageRef image;
        {
            ImageLoader::ScopedDecodeSize reduced(int(px.width), int(px.height));
            image = loadImage(item);
        }
        if (auto scaled = ImageCommon::newScaledImageKeepAspect(image, px, nullptr, true))
            made = writeJpeg(*scaled, thumb);
    } else {
        made = makeBookThumbnail(item, *source, thumb, session);
    }

    // An ordinary failure ends the attempt too: only an attempt that never
    // came back leaves its marker.
    std::lock_guard<std::mutex> lock(mutex_);
    if (workingMarker_ == marker) {
        sys::FileManager::removeItem(marker);
        workingMarker_.clear();
    }
    made = made && cacheFileExists(thumb);
    if (made) {
        failureCount_ = 0;
    } else {
        ++failureCount_;
    }
    return made;
}

bool ThumbsCreate::makeBookThumbnail(FilelistItem& item, const std::string& source, const std::string& thumb,
                                     BookReaderEx& session) {
    const bool local = item.location() == FilelistItem::kLocal;
    session.setOtherSettingsForRemote(item.remoteOtherSettingsOrEmpty());
    session.setUserName(item.remoteUsername().value_or(""));
    session.setPassword(item.remotePassword());
    session.setFileInfo(item.remoteInfoOrEmpty());
    bool opened = false;
    if (local) {
        opened = session.openBookWithName(source, {}, std::nullopt, std::nullopt, std::nullopt, false, true);
    } else if (item.remoteCanStreaming()) {
        std::optional<std::string> lbexpand;
        if (item.remoteInfo()) {
            const sys::PlistValue& v = item.remoteInfo()->get("lbexpand");
            if (v.isString()) lbexpand = v.asString();
        }
        opened = session.openBookWithName(source, {source}, lbexpand, std::nullopt, std::nullopt, false, true);
    }
    if (!opened) {
        session.closeBook();
        if (!local) RemoteStreamRead::removeCache(true);
        return false;
    }

    const std::string fileName = item.filename().value_or(sys::Path::lastPathComponent(source));
    int page = fileName.find(kWebComicHost) != std::string::npos ? 1 : 0;
    if (page >= session.getPageNum()) page = 0;
    std::optional<std::string> title;
    if (auto name = session.getPageFilename(page)) title = convertArchiveFilenameToAuxTitle(*name);

    const gfx::Size box = bookThumbnailSize();
    const double s = screenScale();
    PageLoadRequest r{};
    r.targetPage = page;
    r.operation = PageLoadRequest::kCompose;
    r.minimumImageSize = box;
    r.targetSize = ImageSizeLoad{ImageSizeLoad::kModeFitPage, box.width, box.height, 1.0};
    r.targetSizePreload = r.targetSize;
    r.isCacheCreator = true;
    int result;
    {
        // The page is only wanted at the cover's size: let the decoder skip the rest.
        const gfx::Size px = pixels(box);
        ImageLoader::ScopedDecodeSize reduced(int(px.width), int(px.height));
        result = session.loadPage(r);
    }
    session.cancelStreaming();

    bool made = false;
    if (result == BookReaderEx::kLoadDone) {
        auto loaded = session.loadedPage();
        if (loaded && loaded->image) {
            const gfx::Image& image = *loaded->image;
            // The centring border goes, and one more point at the right and bottom.
            const double k = image.scale() > 0 ? image.scale() : 1.0;
            const double ox = loaded->offset.x * s, oy = loaded->offset.y * s;
            const gfx::Rect clip(ox / k, oy / k, (image.width() - 2 * ox - s) / k, (image.height() - 2 * oy - s) / k);
            if (clip.width() >= 1 && clip.height() >= 1)
                if (auto cover = ImageCommon::newClipedImage(loaded->image, clip)) made = writeJpeg(*cover, thumb);
        }
    }
    session.closeBook();
    if (!local) RemoteStreamRead::removeCache(true);
    if (made && title) {
        if (auto titleFile = BookCommon::getThumbsFilenameInArchive(thumb))
            writePlist(sys::PlistArray{sys::PlistValue(*title)}, *titleFile);
    }
    return made;
}

std::optional<std::string> ThumbsCreate::convertArchiveFilenameToAuxTitle(const std::string& nameBytes) {
    std::string bytes = nameBytes;
    while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    if (bytes.empty() || bytes.find('\0') != std::string::npos) return std::nullopt;
    std::optional<std::string> text;
    if (sys::Unicode::isValidUtf8(bytes)) {
        text = bytes;
    } else {
        text = QNTextEncoding::stringWithCString(bytes.c_str());
    }
    if (!text) return std::nullopt;
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = text->find('/', start);
        std::string part = text->substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (parts.empty()) return std::nullopt;
    std::string chosen = parts.front();
    for (const auto& part : parts) {
        if (!QNTextEncoding::isASCIIOnlyString(part)) {
            chosen = part;
            break;
        }
    }
    return sys::Path::stringByDeletingPathExtension(chosen);
}

// ---- Folders ------------------------------------------------------------------------------------------

gfx::ImageRef ThumbsCreate::folderThumbnail(const std::string& folder) {
    auto path = BookCommon::getThumbsFilenameForFolder(folder, false);
    if (!path || !cacheFileExists(*path)) return nullptr;
    return gfx::ImageDecoder::decodeFile(*path);
}

bool ThumbsCreate::folderThumbsCreate(const std::string& folder, const std::optional<std::string>& fileFullPath,
                                      const gfx::ImageRef& image, bool createNew, gfx::Size targetSize) {
    auto path = BookCommon::getThumbsFilenameForFolder(folder, true);
    if (!path) return false;
    const std::string sizeFile = sys::Path::stringByDeletingPathExtension(*path) + ".size";
    const bool present = !createNew && cacheFileExists(*path);
    gfx::Size recorded = folderThumbnailDefaultSize();
    if (auto record = sys::PropertyList::readArray(sizeFile)) {
        if (record->size() >= 2 && (*record)[0].isNumber() && (*record)[1].isNumber())
            recorded = {double((*record)[0].integerValue()), double((*record)[1].integerValue())};
    }
    const int wantW = int(targetSize.width), wantH = int(targetSize.height);
    if (!fileFullPath || (present && int(recorded.width) == wantW && int(recorded.height) == wantH)) return false;
    gfx::ImageRef source = image;
    const gfx::Size px = pixels(targetSize);
    if (!source) {
        ImageLoader::ScopedDecodeSize reduced(int(px.width), int(px.height));
        source = ImageLoader::imageWithAnyContentsOfFile(*fileFullPath);
    }
    if (!source) return false;
    auto scaled = ImageCommon::newScaledImageKeepAspect(source, px, nullptr, true);
    // Only a cover actually written counts: the list is told of it.
    if (!scaled || !writeJpeg(*scaled, *path)) return false;
    writePlist(sys::PlistArray{sys::PlistValue(int64_t(wantW)), sys::PlistValue(int64_t(wantH))}, sizeFile);
    return true;
}
