#include "cloud/HttpEasy.h"

#include "cloud/HttpAuthCache.h"
#include "platform/core/Clock.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

namespace {

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Spaces and bytes outside ASCII as escapes; everything else (escapes
// included) as it is, so that a link's own encoding survives.
std::string escapeUnsafe(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
            c == '{' || c == '|' || c == '}') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

struct Origin {
    std::string scheme, host, port;
    bool valid = false;
};

Origin originOf(const std::string& url) {
    Origin o;
    CURLU* u = curl_url();
    if (curl_url_set(u, CURLUPART_URL, escapeUnsafe(url).c_str(), 0) == CURLUE_OK) {
        char *scheme = nullptr, *host = nullptr, *port = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            o.scheme = lower(scheme);
            o.host = lower(host);
            o.port = port;
            o.valid = true;
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(u);
    return o;
}

}  // namespace

HttpEasy::HttpEasy() {
    globalInit();
    curl_ = curl_easy_init();
}

HttpEasy::~HttpEasy() {
    if (curl_) curl_easy_cleanup(curl_);
    if (multi_) curl_multi_cleanup(multi_);
    if (headerList_) curl_slist_free_all(headerList_);
}

bool HttpEasy::sameOrigin(const std::string& from, const std::string& to) {
    Origin a = originOf(from), b = originOf(to);
    return a.valid && b.valid && a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

std::string HttpEasy::hostAndPort(const std::string& url) {
    globalInit();
    Origin o = originOf(url);
    return o.valid && !o.host.empty() ? o.host + ":" + o.port : std::string();
}

std::string HttpEasy::origin(const std::string& url) {
    globalInit();
    Origin o = originOf(url);
    return o.valid ? o.scheme + "://" + o.host + ":" + o.port : std::string();
}

std::string HttpEasy::requestTarget(const std::string& url) {
    globalInit();
    std::string out;
    CURLU* u = curl_url();
    if (curl_url_set(u, CURLUPART_URL, escapeUnsafe(url).c_str(), 0) == CURLUE_OK) {
        char *path = nullptr, *query = nullptr;
        if (curl_url_get(u, CURLUPART_PATH, &path, 0) == CURLUE_OK && path) {
            out = path;
            if (curl_url_get(u, CURLUPART_QUERY, &query, 0) == CURLUE_OK && query) out += std::string("?") + query;
        }
        curl_free(path);
        curl_free(query);
    }
    curl_url_cleanup(u);
    return out;
}

std::string HttpEasy::resolve(const std::string& base, const std::string& relative) {
    globalInit();
    std::string out;
    CURLU* u = curl_url();
    // An empty reference is the base itself (normalised).
    if (curl_url_set(u, CURLUPART_URL, escapeUnsafe(base).c_str(), 0) == CURLUE_OK &&
        (relative.empty() || curl_url_set(u, CURLUPART_URL, escapeUnsafe(relative).c_str(), 0) == CURLUE_OK)) {
        char* s = nullptr;
        if (curl_url_get(u, CURLUPART_URL, &s, 0) == CURLUE_OK) out = s;
        curl_free(s);
    }
    curl_url_cleanup(u);
    return out;
}

std::string HttpEasy::withoutCredentials(const std::string& url) {
    size_t sep = url.find("://");
    if (sep == std::string::npos) return url;
    size_t start = sep + 3;
    size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos) end = url.size();
    size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

void HttpEasy::prepare(const HttpRequest& request, ResponseHandler onResponse, DataHandler onData,
                       RedirectHandler onRedirect, size_t maxBody) {
    request_ = request;
    originalURL_ = request.url;
    onResponse_ = std::move(onResponse);
    onData_ = std::move(onData);
    onRedirect_ = std::move(onRedirect);
    maxBody_ = maxBody;
    redirects_ = 0;
    started_ = std::chrono::steady_clock::now();
    noCachedAnswer_ = false;
    response_ = HttpResponse{};
    applyRequest();
}

void HttpEasy::applyRequest() {
    // Reset keeps the connection cache, so the next exchange with the same
    // host goes over the same connection.
    curl_easy_reset(curl_);
    if (headerList_) {
        curl_slist_free_all(headerList_);
        headerList_ = nullptr;
    }
    inHeaders_ = false;
    skipBody_ = false;
    delivered_ = false;
    location_.clear();
    currentChallenges_.clear();
    challenges_.clear();
    answeredFromCache_ = false;
    answeredWithDigest_ = false;
    authRetry_ = false;
    abortError_ = HttpResponse::kNone;
    response_.headers.clear();
    response_.status = 0;
    response_.body.clear();
    response_.bodyBytes = 0;
    response_.serverPublicKey.clear();

    curl_easy_setopt(curl_, CURLOPT_URL, escapeUnsafe(request_.url).c_str());
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(curl_, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, long(request_.connectTimeout * 1000));
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, request_.lowSpeedLimit));
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, std::max(1L, long(request_.lowSpeedTime)));
    if (request_.totalTimeout > 0) {
        // What is left of the deadline after the redirects so far.
        const double left = request_.totalTimeout - std::chrono::duration<double>(
                                                        std::chrono::steady_clock::now() - started_).count();
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, std::max(1L, long(left * 1000)));
    }
    // A trusted key stands in for the whole certificate check; libcurl still
    // compares the key after the handshake.
    const bool pinned = !request_.trustedPublicKey.empty();
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, pinned ? 0L : 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, pinned ? 0L : 2L);
    if (pinned) curl_easy_setopt(curl_, CURLOPT_PINNEDPUBLICKEY, request_.trustedPublicKey.c_str());
    curl_easy_setopt(curl_, CURLOPT_SSL_CTX_FUNCTION, &HttpEasy::sslContextCallback);
    curl_easy_setopt(curl_, CURLOPT_SSL_CTX_DATA, this);
    if (!request_.userName.empty() || !request_.password.empty()) {
        // A site that asked for a scheme before is answered from the first
        // request: no round trip through a 401 each time.
        std::string digest;
        const auto answer = noCachedAnswer_ || !request_.header("Authorization").empty()
                                ? HttpAuthCache::Answer::None
                                : HttpAuthCache::answerFor(request_.method, request_.url, request_.userName,
                                                           request_.password, &digest);
        answeredFromCache_ = answer != HttpAuthCache::Answer::None;
        answeredWithDigest_ = answer == HttpAuthCache::Answer::Digest;
        if (answer == HttpAuthCache::Answer::Digest) {
            headerList_ = curl_slist_append(headerList_, ("Authorization: " + digest).c_str());
        } else {
            curl_easy_setopt(curl_, CURLOPT_USERNAME, request_.userName.c_str());
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, request_.password.c_str());
            curl_easy_setopt(curl_, CURLOPT_HTTPAUTH,
                             request_.preemptiveBasic || answer == HttpAuthCache::Answer::Basic
                                 ? long(CURLAUTH_BASIC)
                                 : long(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
        }
    }
    if (request_.decodeContent) curl_easy_setopt(curl_, CURLOPT_ACCEPT_ENCODING, "");
    if (request_.method == "HEAD") {
        curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    } else if (request_.method != "GET") {
        curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, request_.method.c_str());
    }
    if (!request_.body.empty()) {
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, request_.body.data());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request_.body.size()));
    }
    for (const auto& h : request_.headers) headerList_ = curl_slist_append(headerList_, h.c_str());
    // No "Expect: 100-continue" round trip for small bodies.
    headerList_ = curl_slist_append(headerList_, "Expect:");
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headerList_);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &HttpEasy::headerCallback);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &HttpEasy::writeCallback);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &HttpEasy::progressCallback);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_PRIVATE, this);
}

size_t HttpEasy::headerCallback(char* data, size_t size, size_t count, void* selfPtr) {
    auto* self = static_cast<HttpEasy*>(selfPtr);
    const size_t n = size * count;
    self->heardAt_ = sys::Clock::realNow();
    std::string line(data, n);
    if (line.compare(0, 5, "HTTP/") == 0) {
        // A new answer (after an interim one or an authentication round).
        self->response_.headers.clear();
        self->location_.clear();
        self->currentChallenges_.clear();
        self->skipBody_ = false;
        self->inHeaders_ = true;
        size_t sp = line.find(' ');
        self->response_.status = sp == std::string::npos ? 0 : std::atoi(line.c_str() + sp + 1);
        return n;
    }
    std::string t = trim(line);
    if (t.empty()) {
        self->inHeaders_ = false;
        if (isRedirectStatus(self->response_.status) && !self->location_.empty()) self->skipBody_ = true;
        if (self->response_.status == 401) {
            self->challenges_ = self->currentChallenges_;
            // An answer made from what the site asked before was refused
            // (a stale nonce, a site that changed): asked again once. Not
            // when the site still asks for that scheme afresh: the same user
            // and password would only be refused again.
            if (self->answeredFromCache_ && !self->noCachedAnswer_ && self->cachedAnswerMayBeRetried()) {
                self->authRetry_ = true;
                self->skipBody_ = true;
            }
        }
        return n;
    }
    size_t colon = t.find(':');
    if (colon != std::string::npos) {
        std::string name = lower(trim(t.substr(0, colon)));
        std::string value = trim(t.substr(colon + 1));
        if (name == "location") self->location_ = value;
        if (name == "www-authenticate") self->currentChallenges_.push_back(value);
        self->response_.headers.emplace_back(std::move(name), std::move(value));
    }
    return n;
}

bool HttpEasy::deliverResponse() {
    delivered_ = true;
    char* url = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_EFFECTIVE_URL, &url);
    if (url) response_.url = url;
    if (onResponse_ && !onResponse_(response_)) {
        abortError_ = HttpResponse::kAborted;
        return false;
    }
    return true;
}

size_t HttpEasy::writeCallback(char* data, size_t size, size_t count, void* selfPtr) {
    auto* self = static_cast<HttpEasy*>(selfPtr);
    const size_t n = size * count;
    self->heardAt_ = sys::Clock::realNow();
    if (self->skipBody_) return n;
    if (!self->delivered_ && !self->deliverResponse()) return 0;
    self->response_.bodyBytes += (long long)n;
    if (self->maxBody_ > 0) {
        if (self->response_.body.size() + n > self->maxBody_) {
            self->abortError_ = HttpResponse::kTooLarge;
            return 0;
        }
        self->response_.body.append(data, n);
    }
    if (self->onData_ && !self->onData_(data, n)) {
        self->abortError_ = HttpResponse::kAborted;
        return 0;
    }
    return n;
}

std::string HttpEasy::publicKeyHash(const void* certificate) {
    auto* cert = static_cast<X509*>(const_cast<void*>(certificate));
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    if (length <= 0) return {};
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der, size_t(length), digest);
    OPENSSL_free(der);
    unsigned char text[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    const int n = EVP_EncodeBlock(text, digest, SHA256_DIGEST_LENGTH);
    return "sha256//" + std::string(reinterpret_cast<const char*>(text), size_t(n));
}

int HttpEasy::sslContextCallback(void*, void* sslContext, void* selfPtr) {
    // The chain is checked as libcurl set it up; on the way the presented key
    // is noted, refused or not.
    SSL_CTX_set_cert_verify_callback(
        static_cast<SSL_CTX*>(sslContext),
        [](X509_STORE_CTX* store, void* arg) {
            auto* self = static_cast<HttpEasy*>(arg);
            if (X509* leaf = X509_STORE_CTX_get0_cert(store)) self->response_.serverPublicKey = publicKeyHash(leaf);
            return X509_verify_cert(store);
        },
        selfPtr);
    return CURLE_OK;
}

int HttpEasy::progressCallback(void* selfPtr, long long, long long, long long, long long) {
    auto* self = static_cast<HttpEasy*>(selfPtr);
    if (self->stop_ && self->stop_->load()) {
        self->abortError_ = HttpResponse::kCancelled;
        return 1;
    }
    return 0;
}

void HttpEasy::finish(HttpResponse::Error error, const std::string& message) {
    response_.error = error;
    response_.errorMessage = message;
    char* url = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_EFFECTIVE_URL, &url);
    if (url) response_.url = url;
}

void HttpEasy::markCancelled() { finish(HttpResponse::kCancelled, "cancelled"); }

bool HttpEasy::finishStep(int code) {
    if (abortError_ != HttpResponse::kNone) {
        finish(abortError_, abortError_ == HttpResponse::kTooLarge ? "response too large"
                            : abortError_ == HttpResponse::kCancelled ? "cancelled"
                                                                      : "aborted");
        return false;
    }
    if (code != CURLE_OK) {
        auto c = CURLcode(code);
        HttpResponse::Error e = HttpResponse::kNetwork;
        if (c == CURLE_PEER_FAILED_VERIFICATION || c == CURLE_SSL_CACERT_BADFILE || c == CURLE_SSL_ISSUER_ERROR ||
            c == CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
            e = HttpResponse::kUntrustedCertificate;
        } else if (c == CURLE_URL_MALFORMAT || c == CURLE_UNSUPPORTED_PROTOCOL) {
            e = HttpResponse::kBadURL;
        } else if (c == CURLE_OUT_OF_MEMORY && !delivered_) {
            // What libcurl says of a header line past its limit (its memory
            // is bounded, ours is not short): the answer is too large.
            finish(HttpResponse::kTooLarge, "the server's answer is too large");
            return false;
        }
        finish(e, curl_easy_strerror(c));
        response_.timedOut = c == CURLE_OPERATION_TIMEDOUT;
        return false;
    }
    if (authRetry_) {
        const std::vector<std::string> asked = challenges_;
        const auto challenges = HttpAuthCache::parseChallenges(asked);
        bool stale = false;
        for (const auto& c : challenges) {
            std::string v = c.param("stale");
            for (auto& ch : v) ch = char(std::tolower(static_cast<unsigned char>(ch)));
            if (c.scheme == "digest" && v == "true") stale = true;
        }
        // A stale nonce is answered with the new one at once; anything else
        // goes the ordinary way, challenge first.
        if (!stale || !HttpAuthCache::renewNonce(request_.url, request_.userName, challenges)) {
            HttpAuthCache::forget(request_.url, request_.userName);
            noCachedAnswer_ = true;
        }
        applyRequest();
        // The retry is the last: a second refusal ends the exchange.
        noCachedAnswer_ = true;
        return true;
    }
    if (skipBody_) {
        if (redirects_ >= request_.maxRedirects) {
            finish(HttpResponse::kTooManyRedirects, "too many redirects");
            return false;
        }
        std::string next = resolve(request_.url, location_);
        if (next.empty() || (next.compare(0, 7, "http://") != 0 && next.compare(0, 8, "https://") != 0)) {
            finish(HttpResponse::kBadURL, "bad redirect");
            return false;
        }
        if (request_.redirectsWithinOrigin && !sameOrigin(originalURL_, next)) {
            finish(HttpResponse::kBadURL, "redirect to another site: " + withoutCredentials(next));
            return false;
        }
        ++redirects_;
        if (!sameOrigin(request_.url, next)) {
            request_.userName.clear();
            request_.password.clear();
            request_.removeHeader("Authorization");
            // Trust in a certificate belongs to its own address.
            request_.trustedPublicKey =
                request_.trustedPublicKeyFor ? request_.trustedPublicKeyFor(next) : std::string();
        }
        const int status = response_.status;
        if (status == 303 || ((status == 301 || status == 302) && request_.method == "POST")) {
            request_.method = "GET";
            request_.body.clear();
        }
        request_.url = next;
        if (onRedirect_) onRedirect_(next);
        applyRequest();
        return true;
    }
    rememberAuthentication();
    if (!delivered_ && !deliverResponse()) {
        finish(HttpResponse::kAborted, "aborted");
        return false;
    }
    finish(HttpResponse::kNone, {});
    return false;
}

bool HttpEasy::cachedAnswerMayBeRetried() const {
    const std::string answered = answeredWithDigest_ ? "digest" : "basic";
    for (const auto& c : HttpAuthCache::parseChallenges(currentChallenges_)) {
        if (c.scheme != answered) continue;
        std::string stale = c.param("stale");
        for (auto& ch : stale) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        return answeredWithDigest_ && stale == "true";
    }
    return true;
}

void HttpEasy::rememberAuthentication() {
    if (request_.userName.empty() && request_.password.empty()) return;
    if (response_.status == 401) {
        HttpAuthCache::forget(request_.url, request_.userName);
        return;
    }
    // Credentials answered a challenge in this exchange (the client's
    // second request carried the one nonce use so far).
    if (!answeredFromCache_ && !challenges_.empty()) {
        HttpAuthCache::remember(request_.url, request_.userName, HttpAuthCache::parseChallenges(challenges_), 1);
    }
}

HttpResponse HttpEasy::perform(const std::atomic<bool>* stop) {
    stop_ = stop;
    for (;;) {
        if (stop_ && stop_->load()) {
            markCancelled();
            break;
        }
        if (!finishStep(runTransfer())) break;
    }
    stop_ = nullptr;
    return takeResponse();
}

int HttpEasy::runTransfer() {
    if (!multi_) multi_ = curl_multi_init();
    if (!multi_ || curl_multi_add_handle(multi_, curl_) != CURLM_OK) return int(CURLE_OUT_OF_MEMORY);
    heardAt_ = sys::Clock::realNow();
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        bool done = false;
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == curl_) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done) break;
        if (stop_ && stop_->load()) {
            // Taking the handle out below drops its connection.
            abortError_ = HttpResponse::kCancelled;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        sys::Clock::NetworkWait wait(heardAt_);
        curl_multi_poll(multi_, nullptr, 0, kStopCheckMs, nullptr);
    }
    curl_multi_remove_handle(multi_, curl_);
    return int(result);
}
