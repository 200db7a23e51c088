#pragma once

#include <functional>
#include <string>
#include <vector>

// What one HTTP exchange asks for. Plain data: the client layer copies it.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    // Extra header lines, "Name: value".
    std::vector<std::string> headers;
    std::string body;
    // Basic or Digest (whichever the server asks for) when either is set.
    std::string userName;
    std::string password;
    // A certificate the user chose to trust: the server is accepted when its
    // certificate's public key is this one ("sha256//" and the base64 of the
    // SHA-256 of its SubjectPublicKeyInfo, HttpResponse::serverPublicKey),
    // whoever signed it and whatever name it is for; another key fails as
    // untrusted. "" checks the certificate as usual.
    std::string trustedPublicKey;
    // A redirect to another scheme, host or port never takes the key along:
    // this gives the key trusted for the new address ("" none, or unset).
    std::function<std::string(const std::string& url)> trustedPublicKeyFor;
    int maxRedirects = 10;
    // Redirects are followed only within the first request's scheme, host
    // and port: for what the program fetches on its own (covers, listings
    // nobody tapped), which a site must not send to other machines. One
    // elsewhere fails with kBadURL.
    bool redirectsWithinOrigin = false;
    double connectTimeout = 30;
    // A transfer that moves less than lowSpeedLimit bytes a second for
    // lowSpeedTime seconds fails.
    double lowSpeedTime = 60;
    long lowSpeedLimit = 1;
    // The whole exchange, redirects included, fails after this many seconds
    // (0: no limit).
    double totalTimeout = 0;
    // Asks for the encodings libcurl decodes (gzip, deflate, ...) and decodes
    // what the server encodes: the body (and a size limit on it) is then the
    // decoded one. Off: the body as sent.
    bool decodeContent = false;
    // Sends the credentials with the first request (Basic) instead of waiting
    // for the server's challenge: for a site already known to want Basic.
    bool preemptiveBasic = false;

    // Replaces or adds one header line by name (case-insensitive).
    void setHeader(const std::string& name, const std::string& value);
    void removeHeader(const std::string& name);
    std::string header(const std::string& name) const;
};
