#include "remote/UrlListStreamRead.h"

#include "cloud/HttpEasy.h"
#include "engine/RemoteStreamRead.h"
#include "cloud/TrustedServer.h"
#include "foundation/QNUrl.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace {

constexpr const char* kCacheDirName = "streaming_cache.dir";
constexpr const char* kCachePlistName = "streaming_cache.plist";

// A short, harmless extension for a page file, from its address: readers
// such as the PDF one look at it.
std::string pageExtension(const std::string& url) {
    auto u = QNUrl::URLWithString(url);
    std::string ext = u ? u->pathExtension() : std::string();
    if (ext.size() > 5) return "";
    for (char c : ext)
        if (!std::isalnum(static_cast<unsigned char>(c))) return "";
    return ext;
}

}  // namespace

UrlListStreamRead::~UrlListStreamRead() { closeUrls(); }

void UrlListStreamRead::registerWithEngine() {
    UrlListStream::registerMaker([] { return std::make_shared<UrlListStreamRead>(); });
}

std::string UrlListStreamRead::pagePath(int64_t index) const {
    std::string name = std::to_string(index);
    if (index >= 0 && size_t(index) < urls_.size()) {
        const std::string ext = pageExtension(urls_[size_t(index)]);
        if (!ext.empty()) name += "." + ext;
    }
    return sys::Path::stringByAppendingPathComponent(cacheDir_, name);
}

bool UrlListStreamRead::runWorker(const std::function<bool(const std::atomic<bool>&)>& work) {
    std::atomic<int> state{0};
    sys::Thread worker(
        [&](const std::atomic<bool>& stop) { state = work(stop) ? 1 : 2; }, "url-list-fetch");
    const bool onMain = sys::RunLoop::isMainThread();
    while (state.load() == 0) {
        if (isCancelled_.load()) worker.requestStop();
        if (onMain) sys::RunLoop::main().runOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    return state.load() == 1;
}

bool UrlListStreamRead::fetch(const std::string& url, const std::string& path, int64_t index, std::string* body,
                              size_t maxBody) {
    std::atomic<bool> stop{false};
    HttpRequest req;
    req.url = url;
    // The book's credentials go only to pages on the book's own site.
    if (HttpEasy::sameOrigin(infoURL_, url)) {
        req.userName = userName();
        req.password = password();
    }
    TrustedServer::applyTo(req);
    req.lowSpeedTime = 30;
    const std::string part = path.empty() ? std::string() : path + ".part";
    std::ofstream out;
    if (!part.empty()) {
        out.open(part, std::ios::binary | std::ios::trunc);
        if (!out) return false;
    }
    int64_t expected = -1;
    uint64_t received = 0;
    bool failed = false;
    std::weak_ptr<RemoteStreamReadDelegate> weakDelegate;
    if (auto d = delegate()) weakDelegate = d;
    HttpEasy easy;
    easy.prepare(
        req,
        [&](const HttpResponse& r) {
            if (r.status < 200 || r.status >= 300) return false;
            const std::string length = r.header("content-length");
            if (!length.empty()) {
                char* end = nullptr;
                const unsigned long long n = std::strtoull(length.c_str(), &end, 10);
                if (end && *end == '\0') expected = int64_t(n);
            }
            if (expected > 0 && uint64_t(expected) > (body ? maxBody : kMaxPageBytes)) return false;
            return true;
        },
        [&](const char* data, size_t size) {
            received += size;
            if (received > (body ? maxBody : kMaxPageBytes)) return failed = true, false;
            if (body) body->append(data, size);
            else if (!out.write(data, std::streamsize(size))) return failed = true, false;
            if (!body && !weakDelegate.expired()) {
                const int64_t got = int64_t(received), all = expected, count = int64_t(urls_.size());
                sys::RunLoop::main().post([weakDelegate, got, all, index, count] {
                    if (auto d = weakDelegate.lock()) d->updateCacheBlock(got, all, index, count);
                });
            }
            return !isCancelled_.load();
        });
    const HttpResponse r = easy.perform(&isCancelled_);
    if (out.is_open()) out.close();
    const bool ok = r.ok() && !failed && r.status >= 200 && r.status < 300 && !isCancelled_.load() &&
                    (expected < 0 || uint64_t(expected) == received);
    if (part.empty()) return ok;
    if (!ok || !sys::FileManager::moveItem(part, path)) {
        sys::FileManager::removeItem(part);
        return false;
    }
    return true;
}

std::optional<std::vector<std::string>> UrlListStreamRead::getIndex(const std::string& indexUrl) {
    if (isOfflineMode()) return std::nullopt;
    std::string body;
    isCancelled_ = false;
    if (!runWorker([&](const std::atomic<bool>&) { return fetch(indexUrl, "", -1, &body, kMaxIndexBytes); }))
        return std::nullopt;
    std::vector<std::string> entries;
    if (auto plist = sys::PropertyList::parse(body)) {
        if (!plist->isArray()) return std::nullopt;
        for (const auto& v : plist->asArray()) {
            if (!v.isString()) return std::nullopt;
            entries.push_back(v.asString());
            if (entries.size() > kMaxIndexEntries) return std::nullopt;
        }
        return entries;
    }
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        std::string line = body.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) entries.push_back(line);
        if (entries.size() > kMaxIndexEntries) return std::nullopt;
        start = end + 1;
    }
    return entries;
}

bool UrlListStreamRead::openUrls(const std::vector<std::string>& urls,
                                 const std::optional<std::vector<int32_t>>& globalPageNoList, int64_t totalPage,
                                 const std::string& infoURL, bool isLbExpand) {
    (void)globalPageNoList;
    closeUrls();
    isCancelled_ = false;
    if (urls.empty() || urls.size() > RemoteStreamRead::kMaxBlocks) return false;
    std::lock_guard lock(mutex_);
    urls_ = urls;
    infoURL_ = infoURL;
    totalPage_ = totalPage;
    isLbExpand_ = isLbExpand;
    cacheDir_ = RemoteStreamRead::getRemoteCacheFilePath(kCacheDirName, isThumbsCreateMode());
    // The cache of another book (or another list of pages) is dropped.
    bool same = false;
    if (auto plist = sys::PropertyList::readArray(RemoteStreamRead::getRemoteCacheFilePath(kCachePlistName,
                                                                                           isThumbsCreateMode()))) {
        const auto& a = *plist;
        same = a.size() >= 2 && a[0].isString() && a[0].asString() == infoURL && a[1].isInteger() &&
               a[1].integerValue() == int64_t(urls.size()) && (a.size() < 4 || a[3].boolValue() == isLbExpand);
    }
    if (!same) sys::FileManager::removeItem(cacheDir_);
    if (!sys::FileManager::createDirectory(cacheDir_, true)) return false;
    pageMap_.assign(urls_.size(), 0);
    bool complete = true;
    for (size_t i = 0; i < urls_.size(); ++i) {
        if (sys::FileManager::fileExists(pagePath(int64_t(i)))) pageMap_[i] = 1;
        else complete = false;
    }
    // Offline, a book with no page cached cannot show anything.
    bool any = false;
    for (uint16_t v : pageMap_) any = any || v != 0;
    if (isOfflineMode() && !any) return false;
    writeCachePlist(complete);
    isOpen_ = true;
    reportPages();
    return true;
}

void UrlListStreamRead::writeCachePlist(bool complete) {
    sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistArray{sys::PlistValue(infoURL_), sys::PlistValue(int64_t(urls_.size())),
                                        sys::PlistValue(int64_t(complete ? 1 : 0)), sys::PlistValue(isLbExpand_)}),
        RemoteStreamRead::getRemoteCacheFilePath(kCachePlistName, isThumbsCreateMode()));
}

void UrlListStreamRead::reportPages() {
    auto d = delegate();
    if (!d) return;
    std::weak_ptr<RemoteStreamReadDelegate> weak = d;
    std::vector<uint16_t> map = pageMap_;
    sys::RunLoop::main().post([weak, map] {
        if (auto del = weak.lock()) del->updateCacheStatus(map.size(), map.data(), true);
    });
}

std::optional<std::string> UrlListStreamRead::getLocalCachePath(int64_t index) {
    std::unique_lock lock(mutex_);
    if (!isOpen_ || index < 0 || size_t(index) >= urls_.size()) return std::nullopt;
    const std::string path = pagePath(index);
    if (sys::FileManager::fileExists(path)) return path;
    if (isOfflineMode() || isCancelled_.load()) return std::nullopt;
    const std::string url = urls_[size_t(index)];
    if (!runWorker([&](const std::atomic<bool>&) { return fetch(url, path, index, nullptr, 0); }))
        return std::nullopt;
    // The main loop turned while waiting: the list may have been closed.
    if (!isOpen_ || size_t(index) >= pageMap_.size()) return std::nullopt;
    pageMap_[size_t(index)] = 1;
    bool complete = true;
    for (uint16_t v : pageMap_) complete = complete && v != 0;
    writeCachePlist(complete);
    reportPages();
    return path;
}

void UrlListStreamRead::closeUrls() {
    isCancelled_ = true;
    std::lock_guard lock(mutex_);
    isOpen_ = false;
    urls_.clear();
    pageMap_.clear();
}

void UrlListStreamRead::cancelStreaming() { isCancelled_ = true; }
