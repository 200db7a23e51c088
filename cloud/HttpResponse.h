#pragma once

#include <string>
#include <utility>
#include <vector>

// The outcome of one HTTP exchange, after redirects.
struct HttpResponse {
    enum Error {
        kNone = 0,
        kCancelled,          // the caller stopped it
        kUntrustedCertificate,
        kNetwork,            // no connection, dropped, timed out
        kTooLarge,           // the body passed the caller's limit
        kTooManyRedirects,
        kAborted,            // a handler refused the response or its data
        kBadURL,
    };

    int status = 0;
    // Where the answer came from (the last redirect's target).
    std::string url;
    // Lower-case names, in the order received, of the final response only.
    std::vector<std::pair<std::string, std::string>> headers;
    Error error = kNone;
    std::string errorMessage;
    // A kNetwork error that was the request's own time running out (its
    // total time, or too little arriving for its low-speed time).
    bool timedOut = false;
    // Collected only when the operation was asked to.
    std::string body;
    // Bytes of the body received (collected or not).
    long long bodyBytes = 0;
    // The public key of the certificate the server presented in the last TLS
    // handshake, in the form of HttpRequest::trustedPublicKey ("" when there
    // was none: plain HTTP or a connection used again). Set also when the
    // certificate was refused, so that the user can be asked about that key.
    std::string serverPublicKey;

    bool ok() const { return error == kNone; }
    // The first header of that (lower-case) name; "" when absent.
    std::string header(const std::string& lowerName) const {
        for (const auto& [k, v] : headers) {
            if (k == lowerName) return v;
        }
        return {};
    }
    bool hasHeader(const std::string& lowerName) const {
        for (const auto& h : headers) {
            if (h.first == lowerName) return true;
        }
        return false;
    }
};
