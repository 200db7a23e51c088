#pragma once

#include "engine/UrlListStream.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

namespace test {

// A page-by-page fetcher that serves local files for addresses, records what
// the reader asked, and can hold page requests the way a slow server does.
class FakeUrlListStream : public UrlListStream {
public:
    // Address -> local file.
    std::map<std::string, std::string> files;
    std::optional<std::vector<std::string>> index;
    bool openResult = true;
    // Page requests from this index on wait until released or cancelled.
    int64_t holdFrom = -1;

    // What was asked.
    std::vector<std::string> indexUrls;
    std::vector<std::string> openedUrls;
    std::optional<std::vector<int32_t>> openedGlobals;
    int64_t openedTotal = -1;
    std::string openedInfo;
    bool openedLbExpand = false;
    std::atomic<int> closeCount{0};
    std::atomic<int> cancelCount{0};
    std::atomic<int> pageRequests{0};

    std::optional<std::vector<std::string>> getIndex(const std::string& indexUrl) override {
        indexUrls.push_back(indexUrl);
        return index;
    }

    bool openUrls(const std::vector<std::string>& urls, const std::optional<std::vector<int32_t>>& globals,
                  int64_t totalPage, const std::string& infoURL, bool isLbExpand) override {
        openedUrls = urls;
        openedGlobals = globals;
        openedTotal = totalPage;
        openedInfo = infoURL;
        openedLbExpand = isLbExpand;
        return openResult;
    }

    std::optional<std::string> getLocalCachePath(int64_t i) override {
        ++pageRequests;
        std::unique_lock lock(mutex_);
        if (holdFrom >= 0 && i >= holdFrom) {
            ++held_;
            cv_.notify_all();
            cv_.wait(lock, [&] { return released_ || cancelled_; });
            --held_;
        }
        if (cancelled_ || i < 0 || size_t(i) >= openedUrls.size()) return std::nullopt;
        auto it = files.find(openedUrls[size_t(i)]);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }

    void closeUrls() override {
        ++closeCount;
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        cv_.notify_all();
    }

    void cancelStreaming() override {
        ++cancelCount;
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        cv_.notify_all();
    }

    // Blocks until a page request is held.
    void waitUntilHeld() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return held_ > 0; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }
    // Sends progress to the reader, as the fetcher's threads do.
    void reportBlock(int64_t a, int64_t b, int64_t c, int64_t d) {
        if (auto dlg = delegate()) dlg->updateCacheBlock(a, b, c, d);
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int held_ = 0;
    bool released_ = false;
    bool cancelled_ = false;
};

// Receives the stream progress that reaches the viewer.
class RecordingStatusTarget : public RemoteStreamReadDelegate {
public:
    std::atomic<int> blocks{0};
    std::atomic<int64_t> lastCached{-1};
    void updateCacheBlock(int64_t cached, int64_t, int64_t, int64_t) override {
        ++blocks;
        lastCached = cached;
    }
};

}  // namespace test
