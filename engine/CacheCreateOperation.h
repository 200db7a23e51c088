#pragma once

#include "engine/CacheCreatorDelegate.h"
#include "platform/core/NotificationCenter.h"
#include "platform/graphics/Geometry.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class BookReaderEx;

// Renders the pages of the open book once, small, into JPEG files of the
// book's page-cache directory, for the page preview strip. It opens the book
// a second time with a session of its own, visits the pages nearest to the
// one the reader looks at first, those up to kPagesAround away from it (and
// more as the reader moves on), and stands back while the screen's own
// session preloads. Each page is guarded by an attempt marker while it is
// made, so a page that crashes the decoder is skipped from then on; a page
// that merely fails is tried again at the next opening. A run that visits
// every page and leaves each with its picture (or skipped for good) leaves
// "cache.complete" behind.
//
// Make it with create(). main() runs on the creator's queue thread; cancel()
// from any thread. After each page written it posts "cachePageFinish", and
// at the end of an uncancelled run "cacheCreateFinish", on the main thread
// with itself as the sender; it answers its own notifications by calling its
// delegate.
class CacheCreateOperation : public std::enable_shared_from_this<CacheCreateOperation> {
public:
    static constexpr const char* kCachePageFinish = "cachePageFinish";
    static constexpr const char* kCacheCreateFinish = "cacheCreateFinish";
    static constexpr const char* kCompleteMarker = "cache.complete";

    static std::shared_ptr<CacheCreateOperation> create();
    ~CacheCreateOperation();
    CacheCreateOperation(const CacheCreateOperation&) = delete;
    CacheCreateOperation& operator=(const CacheCreateOperation&) = delete;

    // ---- Set before main() ---------------------------------------------------------------
    void setFile_(const std::string& v) { fileName_ = v; }
    const std::string& file_() const { return fileName_; }
    void setOtherFiles_(const std::vector<std::string>& v) { otherFiles_ = v; }
    void setLbexpand_(const std::optional<std::string>& v) { lbexpand_ = v; }
    void setArchivePassword_(const std::optional<std::string>& v) { archivePassword_ = v; }
    void setTargetFolder_(const std::optional<std::string>& v) { targetFolder_ = v; }
    void setUserName_(const std::string& v) { userName_ = v; }
    void setPassword_(const std::optional<std::string>& v) { password_ = v; }
    // Not owned. Cleared (null) before the delegate goes away: once this
    // returns, no call to the old delegate runs or will run.
    void setDelegate(CacheCreatorDelegate* delegate);

    // ---- Work --------------------------------------------------------------------------------
    void main();
    // Stops between pages; a page waiting on the network gives up at once.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // Caches one page with the open session: true when the page has its
    // picture afterwards, or is skipped for good (an attempt that crashed).
    bool createCache(int page);
    int32_t recentCreatePage() const { return recentCreatePage_.load(); }
    // Removes the attempt markers of the pages being made now. The program
    // ends without waiting for them: a page it left drawing did not crash.
    static void forgetAttemptsUnderWay();

    // Pages are made only this far from the page the reader looks at: a
    // long book's previews follow the reader instead of all being made at
    // once.
    static constexpr int kPagesAround = 100;
    // The order of the visits: the page not yet `done` nearest to `priority`
    // (the earlier one on a tie), at most kPagesAround away; -1 when there
    // is none.
    static int nearestPage(const std::vector<bool>& done, int priority);
    // The cached image's box in points, the pixels it is loaded at, and its quality.
    static gfx::Size cacheSize();
    static gfx::Size loadSize();
    static double jpegQuality();
    // The file name (without ".jpg" / ".try") of a page's cached image.
    static std::string cacheName(const std::string& pageNameBytes);

private:
    CacheCreateOperation();
    void observe();
    void post(const char* name);
    bool askPreloading();
    int askPriorityPage();

    std::string fileName_;
    std::vector<std::string> otherFiles_;
    std::optional<std::string> lbexpand_;
    std::optional<std::string> archivePassword_;
    std::optional<std::string> targetFolder_;
    std::string userName_;
    std::optional<std::string> password_;

    mutable std::mutex delegateMutex_;  // held while the delegate is called
    CacheCreatorDelegate* delegate_ = nullptr;

    std::mutex sessionMutex_;
    std::shared_ptr<BookReaderEx> bookReader_;
    std::string cacheDir_;
    int pageNum_ = 0;
    std::atomic<int32_t> recentCreatePage_{0};
    std::atomic<bool> cancelled_{false};
    std::vector<sys::NotificationCenter::Token> observers_;
};
