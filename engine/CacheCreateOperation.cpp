#include "engine/CacheCreateOperation.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "engine/ThumbsCreate.h"
#include "foundation/BookCommon.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/JpegEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>

namespace {

double screenScale() {
    const double s = BookCommon::getScreenScale();
    return s > 0 && std::isfinite(s) ? s : 1.0;
}

std::string join(const std::string& dir, const std::string& name) {
    return sys::Path::stringByAppendingPathComponent(dir, name);
}

// The attempt markers of the pages being made now, by any operation.
struct AttemptsUnderWay {
    std::mutex m;
    std::multiset<std::string> markers;
};

AttemptsUnderWay& attemptsUnderWay() {
    static AttemptsUnderWay* a = new AttemptsUnderWay;  // used by workers the program ends without
    return *a;
}

// Counts a marker as under way while it lives.
class AttemptUnderWay {
public:
    explicit AttemptUnderWay(std::string marker) : marker_(std::move(marker)) {
        std::lock_guard<std::mutex> lock(attemptsUnderWay().m);
        attemptsUnderWay().markers.insert(marker_);
    }
    ~AttemptUnderWay() {
        std::lock_guard<std::mutex> lock(attemptsUnderWay().m);
        auto& markers = attemptsUnderWay().markers;
        if (auto it = markers.find(marker_); it != markers.end()) markers.erase(it);
    }
    AttemptUnderWay(const AttemptUnderWay&) = delete;
    AttemptUnderWay& operator=(const AttemptUnderWay&) = delete;

private:
    std::string marker_;
};

}  // namespace

void CacheCreateOperation::forgetAttemptsUnderWay() {
    auto& a = attemptsUnderWay();
    std::lock_guard<std::mutex> lock(a.m);
    for (const auto& marker : a.markers) sys::FileManager::removeItem(marker);
}

std::shared_ptr<CacheCreateOperation> CacheCreateOperation::create() {
    std::shared_ptr<CacheCreateOperation> op(new CacheCreateOperation());
    op->observe();
    return op;
}

CacheCreateOperation::CacheCreateOperation() = default;

CacheCreateOperation::~CacheCreateOperation() {
    auto& centre = sys::NotificationCenter::defaultCenter();
    for (auto token : observers_) centre.removeObserver(token);
}

void CacheCreateOperation::observe() {
    // Only this operation's own notifications: another book's builder that is
    // still winding down must not report its pages to this screen.
    auto& centre = sys::NotificationCenter::defaultCenter();
    std::weak_ptr<CacheCreateOperation> weak = weak_from_this();
    std::weak_ptr<const void> owner = weak;
    observers_.push_back(centre.addObserver(
        kCachePageFinish,
        [weak](const sys::Notification&) {
            auto self = weak.lock();
            if (!self) return;
            std::lock_guard<std::mutex> lock(self->delegateMutex_);
            if (self->delegate_) self->delegate_->cachePage(self->recentCreatePage_.load());
        },
        this, owner));
    observers_.push_back(centre.addObserver(
        kCacheCreateFinish,
        [weak](const sys::Notification&) {
            auto self = weak.lock();
            if (!self) return;
            std::lock_guard<std::mutex> lock(self->delegateMutex_);
            if (self->delegate_) self->delegate_->cacheCreateFinish();
        },
        this, owner));
}

void CacheCreateOperation::setDelegate(CacheCreatorDelegate* delegate) {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    delegate_ = delegate;
}

bool CacheCreateOperation::askPreloading() {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    return delegate_ && delegate_->isPreLoadingImage();
}

int CacheCreateOperation::askPriorityPage() {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    return delegate_ ? delegate_->priorityPage() : 0;
}

void CacheCreateOperation::post(const char* name) {
    std::weak_ptr<CacheCreateOperation> weak = weak_from_this();
    std::string n = name;
    sys::RunLoop::main().post([weak, n] {
        if (auto self = weak.lock()) sys::NotificationCenter::defaultCenter().post(n, self.get());
    });
}

// ---- Sizes ----------------------------------------------------------------------------------------

gfx::Size CacheCreateOperation::cacheSize() {
    if (BookCommon::getDeviceDisplayType() == 1)
        return BookCommon::isDeviceLargeiPad() ? gfx::Size{270, 375} : gfx::Size{180, 250};
    const double r = BookCommon::getRatioOf_iPhone5WithExclusionSize(gfx::Size{0, 0});
    return {std::trunc(116 * r), std::trunc(160 * r)};
}

gfx::Size CacheCreateOperation::loadSize() {
    const double s = std::min(screenScale(), 2.0);
    const gfx::Size c = cacheSize();
    return {c.width * s, c.height * s};
}

double CacheCreateOperation::jpegQuality() { return screenScale() <= 1.0 ? 0.7 : 0.0; }

std::string CacheCreateOperation::cacheName(const std::string& pageNameBytes) {
    return BookCommon::getFolderPathStringFromCString(pageNameBytes.c_str(), true);
}

int CacheCreateOperation::nearestPage(const std::vector<bool>& done, int priority) {
    const long long n = static_cast<long long>(done.size());
    if (n == 0) return -1;
    const long long p = std::clamp<long long>(priority, 0, n - 1);
    for (long long d = 0; d <= kPagesAround; ++d) {
        if (p - d >= 0 && !done[size_t(p - d)]) return int(p - d);
        if (d > 0 && p + d < n && !done[size_t(p + d)]) return int(p + d);
        if (p - d < 0 && p + d >= n) break;
    }
    return -1;
}

// ---- Work ---------------------------------------------------------------------------------------------

void CacheCreateOperation::cancel() {
    cancelled_ = true;
    std::shared_ptr<BookReaderEx> session;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        session = bookReader_;
    }
    if (session) session->cancelStreaming();
}

void CacheCreateOperation::main() {
    // The screen has just opened the book: let its first pages come first.
    if (!sys::Clock::sleepFor(1.0, &cancelled_) || cancelled_) return;

    auto session = std::make_shared<BookReaderEx>();
    session->setUserName(userName_);
    session->setPassword(password_);
    session->setIsSilentForBackground(true);
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        bookReader_ = session;
    }
    if (cancelled_) return;
    const bool opened =
        session->openBookWithName(fileName_, otherFiles_, lbexpand_, archivePassword_, targetFolder_, true, false);
    // Pages left without a picture that a later run may still make.
    int missing = 0;
    if (opened) {
        cacheDir_ = BookCommon::getBookCacheDir(fileName_, true);
        pageNum_ = session->getPageNum();
        std::vector<bool> done(static_cast<size_t>(std::max(pageNum_, 0)), false);
        size_t left = done.size();
        while (!cancelled_ && left > 0) {
            if (!sys::Clock::sleepFor(0.01, &cancelled_)) break;
            if (askPreloading()) {
                sys::Clock::sleepFor(0.5, &cancelled_);
                continue;
            }
            const int page = nearestPage(done, askPriorityPage());
            if (page < 0) {
                // Every page near the reader is made: wait for the reader to move.
                sys::Clock::sleepFor(0.5, &cancelled_);
                continue;
            }
            if (!createCache(page)) ++missing;
            done[size_t(page)] = true;
            --left;
        }
    }
    session->closeBook();
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        bookReader_.reset();
    }
    if (!opened || cancelled_) return;
    // Complete only when every page has its picture (or is skipped for
    // good): a run whose pages could not be read is not a finished cache.
    if (missing == 0) {
        const char done = 1;
        ThumbsCreate::writeCacheFile(join(cacheDir_, kCompleteMarker), std::string_view(&done, 1));
    }
    post(kCacheCreateFinish);
}

bool CacheCreateOperation::createCache(int page) {
    std::shared_ptr<BookReaderEx> session;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        session = bookReader_;
    }
    if (!session) return false;
    auto name = session->getPageFilename(page);
    if (!name) return false;
    sys::FileManager::removeItem(BookCommon::getBookCacheDirOld(fileName_, false));
    if (cacheDir_.empty()) cacheDir_ = BookCommon::getBookCacheDir(fileName_, true);
    const std::string base = join(cacheDir_, cacheName(*name));
    const std::string jpg = base + ".jpg";
    if (ThumbsCreate::cacheFileExists(jpg)) return true;
    const std::string marker = base + ".try";
    if (auto previous = sys::FileManager::contentsOfFile(marker, 16)) {
        // An attempt that never came back: this page stays without a cache.
        if (!previous->empty() && static_cast<unsigned char>((*previous)[0]) + 1 > 1) return true;
    }
    const char attempt = 1;
    AttemptUnderWay underWay(marker);
    if (!sys::FileManager::writeFile(marker, std::string_view(&attempt, 1), false)) return false;

    const gfx::Size load = loadSize();
    PageLoadRequest r{};
    r.targetPage = page;
    r.operation = PageLoadRequest::kCompose;
    r.targetSize = ImageSizeLoad{ImageSizeLoad::kModeFitPage, load.width, load.height, 1.0};
    r.targetSizePreload = r.targetSize;
    r.isCacheCreator = true;
    int result;
    {
        // Pages are wanted small: let the decoder skip most of the work.
        const double s = screenScale();
        ImageLoader::ScopedDecodeSize reduced(int(std::ceil(load.width * s)), int(std::ceil(load.height * s)));
        result = session->loadPage(r);
    }
    if (result == BookReaderEx::kLoadDone) {
        auto loaded = session->loadedPage();
        if (loaded && loaded->image) {
            std::vector<uint8_t> bytes = gfx::JpegEncoder::encode(*loaded->image, jpegQuality());
            const bool written =
                !bytes.empty() && ThumbsCreate::writeCacheFile(
                                      jpg, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            if (written && !cancelled_) {
                recentCreatePage_ = page;
                post(kCachePageFinish);
            }
        }
    }
    // A page that failed is tried again next time; only a crash keeps the marker.
    sys::FileManager::removeItem(marker);
    return ThumbsCreate::cacheFileExists(jpg);
}
