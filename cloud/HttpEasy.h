#pragma once

#include "cloud/HttpRequest.h"
#include "cloud/HttpResponse.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

typedef void CURL;
typedef void CURLM;
struct curl_slist;

// One libcurl easy handle and the exchange it carries: the client layer's
// unit of work, driven either by the network thread's multi handle
// (QNHTTPRequestOperationManager) or synchronously by a worker (perform).
// Keeping one object for many exchanges with one host reuses its connection.
//
// Redirects are followed here rather than by libcurl, so that the
// credentials and an "Authorization" header go along only to the same
// scheme, host and port; the body of a redirect answer is never delivered.
class HttpEasy {
public:
    // Called on the thread that drives the transfer. onResponse comes once,
    // before the first body byte (or at the end for an empty body); returning
    // false from either stops the exchange with kAborted.
    using ResponseHandler = std::function<bool(const HttpResponse&)>;
    using DataHandler = std::function<bool(const char*, size_t)>;
    using RedirectHandler = std::function<void(const std::string& newURL)>;

    HttpEasy();
    ~HttpEasy();
    HttpEasy(const HttpEasy&) = delete;
    HttpEasy& operator=(const HttpEasy&) = delete;

    // Sets up the next exchange. maxBody > 0 collects the body into the
    // response, failing with kTooLarge past that many bytes.
    void prepare(const HttpRequest& request, ResponseHandler onResponse = {}, DataHandler onData = {},
                 RedirectHandler onRedirect = {}, size_t maxBody = 0);
    // Runs the prepared exchange on this thread. `stop` turning true ends it
    // with kCancelled within kStopCheckMs, even while the server says nothing.
    HttpResponse perform(const std::atomic<bool>* stop = nullptr);
    static constexpr int kStopCheckMs = 25;

    // For the multi driver: the handle to add, and what to do when libcurl
    // reports it done. True means the exchange goes on (a redirect was set up
    // on the same handle: add it again); false means `response()` is final.
    CURL* handle() const { return curl_; }
    bool finishStep(int curlCode);
    const HttpResponse& response() const { return response_; }
    HttpResponse takeResponse() { return std::move(response_); }
    // When the server last sent anything in this exchange (Clock::realNow()).
    double heardAt() const { return heardAt_; }
    void setHeardAt(double t) { heardAt_ = t; }
    // Ends the exchange as cancelled (the driver removed the handle).
    void markCancelled();

    // Whether credentials given for `from` may be sent to `to`: same scheme,
    // host and port (a missing port counts as the scheme's own).
    static bool sameOrigin(const std::string& from, const std::string& to);
    // "host:port" of the URL (the host in lower case, an IPv6 address in
    // brackets, the scheme's own port when none is given); "" when it does
    // not parse.
    static std::string hostAndPort(const std::string& url);
    // `relative` resolved against `base` ("" gives the base itself); "" when
    // either does not parse.
    static std::string resolve(const std::string& base, const std::string& relative);
    // The URL without "user:password@".
    static std::string withoutCredentials(const std::string& url);
    // The public key of an OpenSSL X509 certificate in the form of
    // HttpRequest::trustedPublicKey.
    static std::string publicKeyHash(const void* x509);
    // "scheme://host:port" in lower case, the scheme's own port when none is
    // given; "" when the URL does not parse.
    static std::string origin(const std::string& url);
    // The path and query as a request names them ("/a%20b?x=1"); "" when the
    // URL does not parse.
    static std::string requestTarget(const std::string& url);

private:
    static size_t headerCallback(char* data, size_t size, size_t count, void* self);
    static size_t writeCallback(char* data, size_t size, size_t count, void* self);
    static int progressCallback(void* self, long long, long long, long long, long long);
    static int sslContextCallback(void* curl, void* sslContext, void* self);
    void applyRequest();
    // One transfer of the handle on this thread; libcurl's result code.
    int runTransfer();
    // After the final answer of an exchange that carried credentials: what
    // the server asked is kept for the next request to the site.
    void rememberAuthentication();
    // After a 401 to an answer taken from the authentication cache: whether
    // asking the ordinary way could fare better (a stale nonce, or a site
    // that no longer asks for the scheme answered).
    bool cachedAnswerMayBeRetried() const;
    bool deliverResponse();
    void finish(HttpResponse::Error error, const std::string& message);

    CURL* curl_ = nullptr;
    // perform()'s own multi handle: it keeps the connections for the next
    // exchange as libcurl's easy interface would, but lets the wait for the
    // server end at a stop (libcurl's own loop looks at a stop once a second).
    CURLM* multi_ = nullptr;
    curl_slist* headerList_ = nullptr;
    HttpRequest request_;
    std::string originalURL_;
    ResponseHandler onResponse_;
    DataHandler onData_;
    RedirectHandler onRedirect_;
    size_t maxBody_ = 0;
    HttpResponse response_;
    // State of the answer being received.
    bool inHeaders_ = false;
    bool skipBody_ = false;
    bool delivered_ = false;
    std::string location_;
    int redirects_ = 0;
    std::chrono::steady_clock::time_point started_;
    // Authentication: the challenges of the response being received and of
    // the last 401 of this exchange; whether this request answered from what
    // the site asked before (and so may be refused once, to be asked again
    // the ordinary way), with Basic, and whether that retry is due or done.
    std::vector<std::string> currentChallenges_, challenges_;
    bool answeredFromCache_ = false;
    bool answeredWithDigest_ = false;  // the cached answer was Digest, not Basic
    bool authRetry_ = false;
    bool noCachedAnswer_ = false;
    HttpResponse::Error abortError_ = HttpResponse::kNone;
    // When the server last sent anything (Clock::realNow()), for the virtual
    // clock's account of a wait on a silent server.
    double heardAt_ = 0;
    const std::atomic<bool>* stop_ = nullptr;
};
