#pragma once

#include "cloud/HttpRequest.h"

#include <string>

// Server certificates the user chose to trust for good ("Do Not Ask Again"):
// key-chain items of the service "trustedServer", one per host and port
// (account "host:port"), each holding the public key of the certificate that
// was accepted ("sha256//...", HttpResponse::serverPublicKey). Only that key
// is accepted there: a server that shows another one is asked about again.
//
// Items of the older form (account the host alone, value "1") grant nothing:
// they named no certificate, so such a server is asked about once more, and
// the answer replaces them.
class TrustedServer {
public:
    static constexpr const char* kService = "trustedServer";

    TrustedServer() = delete;

    // The key trusted for the URL's host and port; "" when none.
    static std::string publicKeyFor(const std::string& url);
    static bool isTrusted(const std::string& url) { return !publicKeyFor(url).empty(); }
    // Trusts `publicKey` at the URL's host and port. False when the URL has no
    // host or the key is not of the form above.
    static bool trust(const std::string& url, const std::string& publicKey);
    // Forgets the trust of the URL's host and port (and an older item of that
    // host). False when there was none.
    static bool forget(const std::string& url);
    // The request accepts the key trusted at its address, and at the address
    // of any redirect that leads elsewhere, and no other untrusted one.
    static void applyTo(HttpRequest& request);
};
