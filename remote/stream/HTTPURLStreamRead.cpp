#include "remote/stream/HTTPURLStreamRead.h"

#include "cloud/CloudTokenStore.h"
#include "cloud/DropboxCommon.h"
#include "cloud/HttpContentRange.h"
#include "cloud/TrustedServer.h"
#include "foundation/QNUrl.h"
#include "platform/core/PercentEncoding.h"
#include "remote/listing/GoogleDriveShareLink.h"

#include <algorithm>
#include <cstdlib>


HTTPURLStreamRead::HTTPURLStreamRead() = default;

HTTPURLStreamRead::~HTTPURLStreamRead() {
    closeURL();
    stopLoader();
}

void HTTPURLStreamRead::registerWithEngine() {
    registerStreamClass(kHTTP, [] { return std::make_shared<HTTPStreamRead>(); });
    registerStreamClass(kHTTPURL, [] { return std::make_shared<HTTPURLStreamRead>(); });
}

std::optional<CloudService> HTTPURLStreamRead::cloudService() const {
    const sys::PlistDictionary& info = fileInfo();
    if (info.contains("dropboxKey")) return CloudService::Dropbox;
    if (info.contains("googledriveKey")) return CloudService::GoogleDrive;
    if (info.contains("onedriveKey")) return CloudService::OneDrive;
    if (info.contains("boxapikey")) return CloudService::Box;
    return std::nullopt;
}

namespace {

const char* cloudKeyName(CloudService s) {
    switch (s) {
    case CloudService::Dropbox: return "dropboxKey";
    case CloudService::GoogleDrive: return "googledriveKey";
    case CloudService::OneDrive: return "onedriveKey";
    case CloudService::Box: return "boxapikey";
    }
    return "";
}

}  // namespace

std::string HTTPURLStreamRead::fixURLforCloudService(const std::string& url) const {
    // A file of a shared Drive folder: its pseudo address carries what the
    // public download address needs.
    if (auto shared = GoogleDriveShareLink::downloadURL(url)) return *shared;
    const auto service = cloudService();
    if (!service) return url;
    switch (*service) {
    case CloudService::Dropbox:
        return CloudEndpoints::forService(CloudService::Dropbox).contentBase + "/2/files/download";
    case CloudService::GoogleDrive:
        return CloudEndpoints::forService(CloudService::GoogleDrive).apiBase + "/drive/v3/files/" +
               CloudTokenStore::formEncode(fileInfo().getString("googledriveItemId")) + "?alt=media";
    case CloudService::OneDrive:
    case CloudService::Box: {
        // The listed address ends in the item's name or "content.<ext>".
        std::string u = url;
        if (size_t q = u.find_first_of("?#"); q != std::string::npos) u.resize(q);
        const size_t slash = u.rfind('/');
        return (slash == std::string::npos ? u : u.substr(0, slash)) + "/content";
    }
    }
    return url;
}

HttpRequest HTTPURLStreamRead::baseRequest() {
    HttpRequest req;
    if (const auto service = cloudService()) {
        const std::string key = fileInfo().getString(cloudKeyName(*service));
        if (*service == CloudService::Dropbox) {
            // The listing names the item in the host position, escaped.
            std::string item = fileInfo().getString("dropboxItemId");
            if (item.empty()) {
                const std::string& t = targetURL();
                const size_t start = t.find("://") == std::string::npos ? 0 : t.find("://") + 3;
                item = sys::PercentEncoding::decode(t.substr(start, t.find('/', start) - start));
            }
            req = DropboxCommon::downloadRequest(item);
        } else {
            req.url = fixURLforCloudService(targetURL());
        }
        if (cloudToken_.empty()) {
            auto token = CloudTokenStore::validAccessToken(*service, key);
            if (!token) token = CloudTokenStore::refreshNow(*service, key, &abort_);
            // Without one the request goes as it is; the service's answer decides.
            cloudToken_ = token.value_or("");
        }
        if (!cloudToken_.empty()) req.setHeader("Authorization", "Bearer " + cloudToken_);
        req.lowSpeedTime = 30;
        return req;
    }
    req.url = fixURLforCloudService(targetURL());
    // Shared Drive files are public: no credentials go with them.
    const bool shared = req.url != targetURL();
    // A cover is read with nobody asking: the site may not send it
    // elsewhere. (Drive sends a shared file's bytes from its content host.)
    req.redirectsWithinOrigin = isThumbsCreateMode() && !shared;
    if (!shared) {
        req.userName = userName();
        req.password = password();
    }
    // The certificate rule is the listing's: only a server the user chose
    // to trust is taken without a valid certificate.
    TrustedServer::applyTo(req);
    req.lowSpeedTime = 30;
    return req;
}

bool HTTPURLStreamRead::renewCloudToken() {
    const auto service = cloudService();
    if (!service) return false;
    const std::string refused = cloudToken_;
    cloudToken_.clear();
    const std::string key = fileInfo().getString(cloudKeyName(*service));
    auto token = CloudTokenStore::refreshNow(*service, key, &abort_, refused);
    if (!token || *token == refused) return false;
    cloudToken_ = *token;
    return true;
}

bool HTTPURLStreamRead::openURL(const std::string& url) {
    stopLoader();
    abort_ = false;
    setTargetURL(url);
    // The pseudo host of shared Drive folders is never contacted: an
    // address on it that carries no sound file is an error.
    if (url.rfind(GoogleDriveShareLink::kPseudoPrefix, 0) == 0 && !GoogleDriveShareLink::downloadURL(url)) {
        setIsError();
        return false;
    }
    if (isOfflineMode()) return isCacheComplete() && prepareCacheFiles();
    if (isCacheComplete()) {
        setIsUnsupportedServer(false);
        return prepareCacheFiles();
    }
    // The probe and then the blocks run on the loader; the caller waits for
    // the probe, keeping the main loop turning when it is the main thread.
    return startLoader("http-stream");
}

bool HTTPURLStreamRead::probe() {
    cloudToken_.clear();
    for (int attempt = 0;; ++attempt) {
        const int status = probeOnce();
        if (status != 401 || attempt > 0 || !cloudService() || stopping() || !renewCloudToken()) break;
    }
    return probed_;
}

int HTTPURLStreamRead::probeOnce() {
    probed_ = false;
    // The first block comes with the answer, saving a round trip, unless a
    // cache of this file may hold it already.
    const bool withFirstBlock = !hasCacheOfTargetURL();
    HttpRequest req = baseRequest();
    req.setHeader("Range", withFirstBlock ? "bytes=0-" + std::to_string(kBlockSize - 1) : std::string("bytes=8-16"));
    int status = 0;
    bool began = false;
    int64_t got = 0, expected = 0;
    // A server that ignores the range would send the whole file, so the
    // exchange stops at such an answer's headers.
    easy_.prepare(
        req,
        [&](const HttpResponse& r) {
            status = r.status;
            if (r.status == 200) setIsUnsupportedServer(true);
            setIsAuthRefused(r.status == 401 && !cloudService());
            if (r.status != 206 && r.status != 416) return false;
            const auto range = HttpContentRange::parse(r.header("content-range"));
            if (!range || range->total <= 0) return false;
            const int64_t first = range->first, last = range->last, total = range->total;
            const std::string etag = r.header("etag");
            validatorIsETag_ = !etag.empty();
            setValidator(validatorIsETag_ ? etag : r.header("last-modified"));
            setContentLength(total);
            probed_ = prepareCacheFiles();
            if (!probed_) return false;
            probeAnswered();
            if (!withFirstBlock || r.status != 206) return true;
            // The block only from an answer that starts where asked and
            // covers it; else the loader asks again, and judges that answer.
            expected = std::min<int64_t>(total, int64_t(kBlockSize));
            if (first != 0 || last < expected - 1) return false;
            ++blockRequests_;
            beginTransfer(0);
            began = true;
            return true;
        },
        [&](const char* data, size_t n) {
            if (!began) return true;
            const size_t take = size_t(std::min<int64_t>(int64_t(n), expected - got));
            if (take > 0 && !appendTransferBytes(data, take)) return false;
            got += int64_t(take);
            return true;
        });
    HttpResponse r = easy_.perform(&abort_);
    if (began) endTransfer();
    if (stopping() || probed_) return status;
    // Named where it was refused: a redirect may have led to another server.
    if (r.error == HttpResponse::kUntrustedCertificate) setUntrustedServer(HttpEasy::hostAndPort(r.url));
    if (!r.ok() && status == 0) setIsError();
    return status;
}

HTTPURLStreamRead::Outcome HTTPURLStreamRead::fetchBlock(uint64_t block) {
    const int64_t first = int64_t(block * kBlockSize);
    const int64_t last = std::min<int64_t>(contentLength(), first + int64_t(kBlockSize)) - 1;
    ++blockRequests_;
    return fetchRange(first, last, [&] {
        beginTransfer(block);
        return true;
    });
}

HTTPURLStreamRead::Outcome HTTPURLStreamRead::fetchSpan(int64_t offset, uint64_t size) {
    return fetchRange(offset, offset + int64_t(size) - 1, [&] { return beginSpanTransfer(offset, size); });
}

HTTPURLStreamRead::Outcome HTTPURLStreamRead::fetchRange(int64_t first, int64_t last,
                                                         const std::function<bool()>& begin) {
    HttpRequest req = baseRequest();
    req.setHeader("Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last));

    enum { kOk, kRetry, kFatal, kRefused, kUnwanted } verdict = kOk;
    bool began = false;
    int64_t got = 0;
    const int64_t expected = last - first + 1;
    easy_.prepare(
        req,
        [&](const HttpResponse& r) {
            if (r.status == 200) {
                setIsUnsupportedServer(true);
                verdict = kFatal;
                return false;
            }
            if (r.status == 401 && cloudService()) {
                verdict = kRefused;
                return false;
            }
            if (r.status == 401) setIsAuthRefused(true);
            if (r.status != 206) {
                verdict = r.status >= 500 || r.status == 408 || r.status == 429 ? kRetry : kFatal;
                return false;
            }
            // Bytes from another place, or of another length or version of
            // the file, must not enter the cache.
            const auto range = HttpContentRange::parse(r.header("content-range"));
            if (!range || range->first != first || range->last < last || range->total != contentLength() || (validatorIsETag_ && r.header("etag") != validator())) {
                verdict = kFatal;
                return false;
            }
            if (!begin()) {
                verdict = kUnwanted;
                return false;
            }
            began = true;
            return true;
        },
        [&](const char* data, size_t n) {
            const size_t take = size_t(std::min<int64_t>(int64_t(n), expected - got));
            if (take > 0 && !appendTransferBytes(data, take)) {
                verdict = kFatal;
                return false;
            }
            got += int64_t(take);
            return true;
        });
    HttpResponse r = easy_.perform(&abort_);
    if (began) endTransfer();
    if (stopping()) return Outcome::Fatal;
    if (verdict == kUnwanted) return Outcome::Done;
    if (verdict == kFatal) return Outcome::Fatal;
    // A token that expired while reading: renewed, then the request again.
    if (verdict == kRefused) return renewCloudToken() ? Outcome::Retry : Outcome::Fatal;
    if (verdict == kRetry || !r.ok() || got < expected) return Outcome::Retry;
    return Outcome::Done;
}
