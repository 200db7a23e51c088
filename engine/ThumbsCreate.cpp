#include "engine/ThumbsCreate.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "foundation/BookCommon.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/ImageScaler.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegEncoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

std::mutex gSharedMutex;
std::shared_ptr<ThumbsCreate> gShared;

std::optional<std::string> fullPathOf(const FilelistItem& item) {
    if (item.location() != FilelistItem::kLocal || !item.pathFromBooks()) return std::nullopt;
    return BookCommon::fromBooksToFromRoot(item.pathFromBooks());
}

bool isThumbnailType(int32_t type) { return type == 1 || type == 2 || type == 3; }

}  // namespace

std::shared_ptr<ThumbsCreate> ThumbsCreate::thumbsCreate() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = std::make_shared<ThumbsCreate>();
    return gShared;
}

void ThumbsCreate::releaseThumbsCreate() {
    std::shared_ptr<ThumbsCreate> old;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        old.swap(gShared);
    }
    // The worker is joined here, outside the lock.
}

ThumbsCreate::ThumbsCreate() = default;

ThumbsCreate::~ThumbsCreate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    cv_.notify_all();
    worker_.requestStop();
    worker_.join();
}

void ThumbsCreate::setDelegate(std::weak_ptr<ThumbsCreateDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

void ThumbsCreate::suspendTask(bool suspend) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        suspended_ = suspend;
    }
    cv_.notify_all();
}

void ThumbsCreate::cancelAllTask() {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    cv_.notify_all();
}

size_t ThumbsCreate::queueLength() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

std::string ThumbsCreate::thumbnailPathForItem(const FilelistItem& item, bool createDirectory) {
    if (!isThumbnailType(item.type())) return "";
    auto full = fullPathOf(item);
    if (!full) return "";
    return BookCommon::getThumbsFilename(*full, createDirectory);
}

void ThumbsCreate::addQue(const std::shared_ptr<FilelistItem>& item) {
    if (!item) return;
    std::string thumb = thumbnailPathForItem(*item, false);
    if (thumb.empty()) return;
    if (!item->remoteThumbsManualReload() && sys::FileManager::fileExists(thumb)) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= kMaxQueue) return;
        if (failed_.count(thumb)) return;
        for (const auto& queued : queue_)
            if (queued == item) return;
        queue_.push_back(item);
    }
    ensureWorker();
    cv_.notify_all();
}

void ThumbsCreate::ensureWorker() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (worker_.joinable() || stopping_) return;
    worker_ = sys::Thread([this](const std::atomic<bool>& stop) { workerLoop(stop); }, "thumbs");
}

bool ThumbsCreate::waitUntilIdle(double realSeconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(realSeconds);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!(queue_.empty() || suspended_) || busy_) {
        if (cv_.wait_until(lock, until) == std::cv_status::timeout) return false;
    }
    return true;
}

gfx::ImageRef ThumbsCreate::scaleToCover(const gfx::ImageRef& image) {
    if (!image) return nullptr;
    gfx::ImageRef up = image->upright();
    if (!up || up->width() <= 0 || up->height() <= 0) return nullptr;
    double s = std::min({1.0, double(kThumbWidth) / up->width(), double(kThumbHeight) / up->height()});
    int w = std::max(1, int(std::lround(up->width() * s)));
    int h = std::max(1, int(std::lround(up->height() * s)));
    if (w == up->width() && h == up->height()) return up;
    return gfx::ImageScaler::scale(*up, w, h);
}

gfx::ImageRef ThumbsCreate::makeThumbnail(const std::string& path) {
    bool isDirectory = false;
    if (!sys::FileManager::fileExists(path, &isDirectory) || isDirectory) return nullptr;
    if (BookCommon::isImageFileWithFile(path)) return scaleToCover(ImageLoader::imageWithAnyContentsOfFile(path));
    auto reader = std::make_shared<BookReaderEx>();
    if (!reader->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, true)) return nullptr;
    gfx::ImageRef page = reader->getPageNum() > 0 ? reader->getOriginalImage(0) : nullptr;
    reader->closeBook();
    return scaleToCover(page);
}

void ThumbsCreate::workerLoop(const std::atomic<bool>& stop) {
    for (;;) {
        std::shared_ptr<FilelistItem> item;
        std::shared_ptr<ThumbsCreateDelegate> delegate;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            {
                // Waiting for work is not work: whoever waits for the
                // workers to finish (the virtual clock, a settling run loop)
                // need not wait for this one, on either clock.
                const bool tracked = sys::Clock::currentThreadTracked();
                if (tracked) sys::Clock::endWork();
                cv_.wait(lock, [&] { return stop.load() || stopping_ || (!suspended_ && !queue_.empty()); });
                if (tracked) sys::Clock::beginWork();
            }
            if (stop.load() || stopping_) return;
            item = queue_.front();
            queue_.pop_front();
            busy_ = true;
        }
        std::string thumb = thumbnailPathForItem(*item, true);
        auto full = fullPathOf(*item);
        bool made = false;
        if (!thumb.empty() && full) {
            gfx::ImageRef image = makeThumbnail(*full);
            if (image) {
                std::vector<uint8_t> jpeg = gfx::JpegEncoder::encode(*image, 0.8);
                made = !jpeg.empty() &&
                       sys::FileManager::writeFile(thumb, std::string_view(reinterpret_cast<const char*>(jpeg.data()),
                                                                           jpeg.size()));
            }
        }
        item->setRemoteThumbsManualReload(false);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            if (!made && !thumb.empty()) failed_.insert(thumb);
            delegate = delegate_.lock();
        }
        cv_.notify_all();
        if (made && delegate) {
            std::weak_ptr<ThumbsCreateDelegate> weak = delegate;
            sys::RunLoop::main().post([weak, item] {
                if (auto d = weak.lock()) d->updateItem(item);
            });
        }
    }
}

ThumbsCreateImageObject ThumbsCreate::getImage(const std::shared_ptr<FilelistItem>& item, bool createThumbs) {
    ThumbsCreateImageObject out;
    if (!item) return out;
    std::string thumb = thumbnailPathForItem(*item, false);
    if (thumb.empty()) return out;
    if (sys::FileManager::fileExists(thumb)) {
        out.image = gfx::ImageDecoder::decodeFile(thumb);
        if (out.image) return out;
    }
    if (createThumbs) addQue(item);
    return out;
}
