// The reading session's page lists, its stream progress and the page cache's slots.
#include "engine/BookReaderEx.h"

#include "engine/ImageCommon.h"
#include "engine/ImageLoader.h"
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

// ---- Page lists ------------------------------------------------------------------------

int BookReaderEx::getPageNum() const {
    auto lists = pageLists();
    return lists ? static_cast<int>(lists->names.size()) : 0;
}

std::optional<std::string> BookReaderEx::getPageFilename(int page) const {
    auto lists = pageLists();
    if (!lists || page < 0 || static_cast<size_t>(page) >= lists->names.size()) return std::nullopt;
    return lists->names[static_cast<size_t>(page)];
}

int BookReaderEx::getPageNoFromFilename(const std::string& name) const {
    auto lists = pageLists();
    if (!lists) return -1;
    auto it = std::find(lists->names.begin(), lists->names.end(), name);
    return it == lists->names.end() ? -1 : static_cast<int>(it - lists->names.begin());
}

int BookReaderEx::getGlobalPageNo(int localPage) const {
    auto lists = pageLists();
    if (!lists || !lists->globals) return localPage;
    const auto& g = *lists->globals;
    size_t i = static_cast<size_t>(std::max(localPage, 0));
    return i < g.size() ? g[i] : static_cast<int>(g.size());
}

int BookReaderEx::getLocalPageNo(int globalPage) const {
    auto lists = pageLists();
    if (!lists || !lists->globals) return globalPage;
    const auto& g = *lists->globals;
    auto it = std::find(g.begin(), g.end(), globalPage);
    return it == g.end() ? -1 : static_cast<int>(it - g.begin());
}

std::string BookReaderEx::getBookName() const { return sys::Path::lastPathComponent(targetPath_); }

std::optional<std::string> BookReaderEx::getPassword() const { return password_; }

std::optional<std::string> BookReaderEx::getTargetFolder() const { return targetFolder_; }

int BookReaderEx::getSelectedImageNo() const {
    auto rd = reader();
    return rd ? rd->getSelectedImageNo() : 0;
}

std::optional<std::vector<std::string>> BookReaderEx::getArchiveList(bool isCheckEntityOnly) {
    auto rd = reader();
    if (!rd) return std::nullopt;
    std::lock_guard lock(readerMutex_);
    return rd->getArchiveList(isCheckEntityOnly);
}

std::optional<std::vector<std::string>> BookReaderEx::getFolderList(bool isCheckEntityOnly) {
    auto rd = reader();
    if (!rd) return std::nullopt;
    std::lock_guard lock(readerMutex_);
    return rd->getFolderList(isCheckEntityOnly);
}

void BookReaderEx::cancelStreaming() {
    stopMeasuring_.store(true);
    decodesCancelled_.store(true);
    if (auto rd = reader()) rd->cancelStreaming();
}

bool BookReaderEx::isOutOfMemory() const {
    auto rd = reader();
    return rd && rd->isOutOfMemory();
}

void BookReaderEx::abandonPageDraws() {
    auto rd = reader();
    if (auto* pdf = dynamic_cast<PageReaderPDF*>(rd.get())) pdf->abandonDraws();
}

void BookReaderEx::resumePageDraws() {
    auto rd = reader();
    if (auto* pdf = dynamic_cast<PageReaderPDF*>(rd.get())) pdf->resumeDraws();
}

// ---- Stream progress -------------------------------------------------------------------

void BookReaderEx::setTargetForOnlineStatus(std::weak_ptr<RemoteStreamReadDelegate> target) {
    std::lock_guard lock(targetMutex_);
    targetOnlineStatus_ = std::move(target);
}

void BookReaderEx::updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
    // No stream makes a map of more than 16 M entries.
    constexpr uint64_t kMaxEntries = uint64_t(1) << 24;
    std::shared_ptr<RemoteStreamReadDelegate> t;
    {
        std::lock_guard lock(targetMutex_);
        t = targetOnlineStatus_.lock();
        if (map && count <= kMaxEntries) {
            lastCacheMap_.assign(map, map + count);
            lastCacheIsPage_ = isPage;
        }
    }
    if (t) t->updateCacheStatus(count, map, isPage);
}

std::vector<uint16_t> BookReaderEx::lastCacheStatus(bool* isPage) {
    std::lock_guard lock(targetMutex_);
    if (isPage) *isPage = lastCacheIsPage_;
    return lastCacheMap_;
}

void BookReaderEx::updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) {
    std::shared_ptr<RemoteStreamReadDelegate> t;
    {
        std::lock_guard lock(targetMutex_);
        t = targetOnlineStatus_.lock();
    }
    if (t) t->updateCacheBlock(cached, blockSize, block, numBlocks);
}

// ---- Slots ---------------------------------------------------------------------------

std::shared_ptr<const BookPage> BookReaderEx::loadedPage() const {
    std::lock_guard lock(slotMutex_);
    return loadedPage_;
}

void BookReaderEx::addCache(std::shared_ptr<const BookPage> page) {
    std::lock_guard lock(slotMutex_);
    pageCache_ = std::move(page);
}

void BookReaderEx::deleteCache() {
    std::lock_guard lock(slotMutex_);
    pageCache_.reset();
}

std::shared_ptr<const BookPage> BookReaderEx::getTargetCache(const PageLoadRequest& r,
                                                             const std::shared_ptr<const BookPage>& c) {
    if (!c) return nullptr;
    int p;
    bool e;
    int d;
    switch (r.operation) {
    case PageLoadRequest::kNext:
        if (r.isNowDividedPage) {
            p = r.targetPage + (r.secondPage ? 1 : 0);
            e = !r.secondPage;
        } else {
            p = r.targetPage + (r.isNow2PageLoaded ? 2 : 1);
            e = false;
        }
        d = BookPage::kForward;
        break;
    case PageLoadRequest::kPrevious: {
        int k = r.isNowDividedPage ? (r.secondPage ? 0 : 1) : 1;
        p = r.targetPage - k - (c->is2PageLoaded ? 1 : 0);
        e = c->isDividedPage && !c->isSpreadPage && (!r.isNowDividedPage || !r.secondPage);
        d = BookPage::kBackward;
        break;
    }
    case PageLoadRequest::kJumpForward:
    case PageLoadRequest::kJumpBackward:
        p = r.targetPage;
        e = r.secondPage;
        d = r.operation == PageLoadRequest::kJumpForward ? BookPage::kJumpForward : BookPage::kJumpBackward;
        break;
    default: return nullptr;
    }
    if (c->targetPage != p || c->isSecondPage != e) return nullptr;
    // Views are shared with the viewer: the hit is a copy that records how it
    // was reached, and the slot keeps its own.
    auto hit = std::make_shared<BookPage>(*c);
    hit->pageMoveDirection = d;
    return hit;
}

bool BookReaderEx::isPageLoaded(const PageLoadRequest& request) const {
    std::lock_guard lock(slotMutex_);
    return getTargetCache(request, pageCache_) || getTargetCache(request, pagePreLoad_);
}
