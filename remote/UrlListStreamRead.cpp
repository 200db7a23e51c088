#include "remote/UrlListStreamRead.h"

#include "cloud/HttpEasy.h"
#include "engine/RemoteStreamRead.h"
#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/core/WholeWrite.h"
#include "remote/listing/FtpListing.h"
#include "remote/listing/SmbListing.h"
#include "remote/protocols/QNFtpRequestSync.h"
#include "remote/protocols/SmbClientChoice.h"

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// Opens a page's part file for writing, made private to the user whatever
// the umask (a page a stream left behind too), like every file we write; -1
// when it cannot be.
int openPart(const std::string& part) {
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 && ::fchmod(fd, 0600) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
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
    // A page goes over its site's own protocol; indexes come only from web servers.
    if (BookCommon::isSMB(url)) return !body && fetchSmb(url, path, index);
    if (BookCommon::isFTP(url)) return !body && fetchFtp(url, path, index);
    HttpRequest req;
    req.url = url;
    // The book's credentials go only to pages on the book's own site.
    if (HttpEasy::sameOrigin(infoURL_, url)) {
        req.userName = userName();
        req.password = password();
    }
    TrustedServer::applyTo(req);
    // A cover is read with nobody asking: the site may not send it elsewhere.
    req.redirectsWithinOrigin = isThumbsCreateMode();
    req.lowSpeedTime = 30;
    const std::string part = path.empty() ? std::string() : path + ".part";
    const int out = part.empty() ? -1 : openPart(part);
    if (!part.empty() && out < 0) return false;
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
            else if (!sys::WholeWrite::write(out, data, size)) return failed = true, false;
            if (!body && !weakDelegate.expired()) {
                const int64_t got = int64_t(received), all = expected, count = int64_t(urls_.size());
                sys::RunLoop::main().post([weakDelegate, got, all, index, count] {
                    if (auto d = weakDelegate.lock()) d->updateCacheBlock(got, all, index, count);
                });
            }
            return !isCancelled_.load();
        });
    const HttpResponse r = easy.perform(&isCancelled_);
    if (out >= 0 && ::close(out) != 0) failed = true;
    // Named where it was refused: a redirect may have led to another server.
    if (r.error == HttpResponse::kUntrustedCertificate) setUntrustedServer(HttpEasy::hostAndPort(r.url));
    if (r.status == 401) setIsAuthRefused(true);
    const bool ok = r.ok() && !failed && r.status >= 200 && r.status < 300 && !isCancelled_.load() &&
                    (expected < 0 || uint64_t(expected) == received);
    if (part.empty()) return ok;
    if (!ok || !sys::FileManager::moveItem(part, path)) {
        sys::FileManager::removeItem(part);
        return false;
    }
    return true;
}

bool UrlListStreamRead::writePage(const std::string& path, int64_t index, uint64_t length, const Producer& produce) {
    if (length > kMaxPageBytes) return false;
    const std::string part = path + ".part";
    const int out = openPart(part);
    if (out < 0) return false;
    std::weak_ptr<RemoteStreamReadDelegate> weakDelegate;
    if (auto d = delegate()) weakDelegate = d;
    uint64_t received = 0;
    const int64_t count = int64_t(urls_.size());
    const bool produced = produce([&](const char* data, size_t size) {
        received += size;
        if (received > length || isCancelled_.load() || !sys::WholeWrite::write(out, data, size)) return false;
        if (!weakDelegate.expired()) {
            const int64_t got = int64_t(received), all = int64_t(length);
            sys::RunLoop::main().post([weakDelegate, got, all, index, count] {
                if (auto d = weakDelegate.lock()) d->updateCacheBlock(got, all, index, count);
            });
        }
        return true;
    });
    const bool closed = ::close(out) == 0;
    // Only a page whole to its last byte is kept.
    if (!produced || !closed || received != length || isCancelled_.load() || !sys::FileManager::moveItem(part, path)) {
        sys::FileManager::removeItem(part);
        return false;
    }
    return true;
}

void UrlListStreamRead::siteCredentials(const std::string& url, std::string* user, std::string* password) const {
    user->clear();
    password->clear();
    // The book's credentials go only to pages on the book's own site.
    if (HttpEasy::sameOrigin(infoURL_, url) && !userName().empty()) {
        *user = userName();
        *password = this->password();
        return;
    }
    if (auto u = QNUrl::URLWithString(url)) {
        *user = UrlPercent::decoded(u->user());
        *password = UrlPercent::decoded(u->password());
    }
}

bool UrlListStreamRead::fetchSmb(const std::string& url, const std::string& path, int64_t index) {
    auto target = SmbListing::targetOf(url);
    if (!target || target->share.empty() || target->path.empty()) return false;
    std::string user, password;
    siteCredentials(url, &user, &password);
    // A page asked for while another is fetched waits: one connection, one call at a time.
    std::lock_guard fetching(fetchMutex_);
    // One connection serves the book's pages, one after the other; a lost
    // one is made again once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<SmbStackClient> client;
        {
            std::lock_guard lock(clientMutex_);
            if (!smb_ || smbServer_ != target->server || attempt > 0) {
                const auto library =
                    SmbClientChoice::libraryOf(otherSettingForRemote(), settings() ? settings()->defaultSmbLibrary() : 0);
                smb_ = SmbClientChoice::makeClient(library, 0);
                if (!smb_) return false;
                if (const size_t slash = user.find('\\'); slash != std::string::npos) {
                    smb_->setDomain(user.substr(0, slash));
                    smb_->setUsername(user.substr(slash + 1));
                } else {
                    smb_->setUsername(user);
                }
                smb_->setPassword(password);
                smbServer_ = target->server;
            }
            client = smb_;
            if (isCancelled_.load()) client->cancel();
        }
        auto file = client->openFileForRead(target->server, target->share, target->path, true);
        if (!file) {
            // A refused user or password is not tried again: the reader asks.
            if (client->lastError() == SmbStackClient::kErrorLogonFailure) {
                setIsAuthRefused(true);
                std::lock_guard lock(clientMutex_);
                if (smb_ == client) smb_.reset();
                return false;
            }
            if (client->isRequireRetry() && !isCancelled_.load()) continue;
            return false;
        }
        bool lost = false;
        const bool ok = writePage(path, index, file->size, [&](const Sink& sink) {
            for (uint64_t done = 0; done < file->size;) {
                auto data = client->readFileAt(file, done, size_t(std::min<uint64_t>(file->size - done, kReadChunk)));
                if (!data) lost = client->isRequireRetry();
                // Nothing more before the size the server gave: the file changed.
                if (!data || data->empty() || !sink(reinterpret_cast<const char*>(data->data()), data->size())) {
                    return false;
                }
                done += data->size();
            }
            return true;
        });
        client->closeFile(file);
        if (ok || !lost || isCancelled_.load()) return ok;
    }
    return false;
}

bool UrlListStreamRead::fetchFtp(const std::string& url, const std::string& path, int64_t index) {
    auto u = QNUrl::URLWithString(url);
    if (!u || u->host().empty()) return false;
    // The path's bytes are in the site's character set, as the listing wrote them.
    const std::string filePath = UrlPercent::decoded(u->path());
    const size_t slash = filePath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : filePath.substr(0, slash);
    const std::string name = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    if (name.empty()) return false;
    std::string user, password;
    siteCredentials(url, &user, &password);
    if (user.empty()) {
        user = FtpListing::kAnonymousUser;
        password = FtpListing::kAnonymousPassword;
    }
    const std::string site = u->host() + ":" + std::to_string(u->port().value_or(21)) + "\n" + user;
    std::lock_guard fetching(fetchMutex_);
    // One session serves the book's pages; one that broke is made again once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<FtpSession> session;
        {
            std::lock_guard lock(clientMutex_);
            if (!ftp_ || ftp_->site != site || attempt > 0 || (ftp_->loggedOn && !ftp_->client->connected())) {
                ftp_ = std::make_shared<FtpSession>();
                ftp_->client = std::make_shared<QNFtpRequestSync>();
                ftp_->site = site;
            }
            session = ftp_;
            if (isCancelled_.load()) session->client->cancel();
        }
        QNFtpRequestSync& client = *session->client;
        if (!session->loggedOn) {
            const int logon = client.connectToFtp(u->host(), int(u->port().value_or(21)), user, password);
            if (logon != QNFtpRequestSync::kLoggedOn) {
                // A refused user or password is not tried again: the reader asks.
                if (logon == QNFtpRequestSync::kUserRefused || logon == QNFtpRequestSync::kPasswordRefused) {
                    setIsAuthRefused(true);
                    client.disconnect();
                    std::lock_guard lock(clientMutex_);
                    if (ftp_ == session) ftp_.reset();
                    return false;
                }
                if (isCancelled_.load()) return false;
                continue;
            }
            session->loggedOn = true;
        }
        if (!session->folder || *session->folder != folder) {
            if (client.changeDir(folder.empty() ? "/" : folder) != QNFtpRequestSync::kDirChanged) {
                if (client.connected() || isCancelled_.load()) return false;
                continue;
            }
            session->folder = folder;
        }
        const int64_t size = client.getFilesize(name);
        if (size < 0) {
            if (client.connected() || isCancelled_.load()) return false;
            continue;
        }
        const bool ok = writePage(path, index, uint64_t(size), [&](const Sink& sink) {
            return client.getFile(name, 0, 0, [&](const char* data, size_t n) { return sink(data, n); }) ==
                   QNFtpRequestSync::kTransferDone;
        });
        if (ok || isCancelled_.load() || client.connected()) return ok;
    }
    return false;
}

std::optional<std::vector<std::string>> UrlListStreamRead::getIndex(const std::string& indexUrl) {
    if (isOfflineMode()) return std::nullopt;
    std::string body;
    isCancelled_ = false;
    if (!runWorker([&](const std::atomic<bool>&) { return fetch(indexUrl, "", -1, &body, kMaxIndexBytes); }))
        return std::nullopt;
    return parseIndex(body);
}

std::optional<std::vector<std::string>> UrlListStreamRead::parseIndex(const std::string& body) {
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
    setIsAuthRefused(false);
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
    // Once the server has refused the book's credentials, no other page asks
    // it again with them.
    if (isOfflineMode() || isCancelled_.load() || isAuthRefused()) return std::nullopt;
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
    cancelClients();
    std::lock_guard lock(mutex_);
    isOpen_ = false;
    urls_.clear();
    pageMap_.clear();
    std::lock_guard clients(clientMutex_);
    smb_.reset();
    ftp_.reset();
    smbServer_.clear();
}

void UrlListStreamRead::cancelStreaming() { cancelClients(); }

void UrlListStreamRead::cancelClients() {
    isCancelled_ = true;
    std::lock_guard lock(clientMutex_);
    // A cancelled client stays so: the next opening makes new ones.
    if (smb_) smb_->cancel();
    if (ftp_) ftp_->client->cancel();
    smb_.reset();
    ftp_.reset();
}
