// What an HTTP server says in its headers, read by our own code: the
// challenges of WWW-Authenticate (and a Digest answer to each), a
// Content-Range, and a Location resolved against the request's address.
// One header value a line.
#include "cloud/HttpAuthCache.h"
#include "cloud/HttpContentRange.h"
#include "cloud/HttpEasy.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        values.push_back(line);
        HttpContentRange::parse(line);
        const std::string base = "http://127.0.0.1:8080/books/a.cbz";
        const std::string to = HttpEasy::resolve(base, line);
        HttpEasy::sameOrigin(base, to);
        HttpEasy::origin(to);
        HttpEasy::requestTarget(to);
        HttpEasy::withoutCredentials(to);
    }
    const auto challenges = HttpAuthCache::parseChallenges(values);
    for (const auto& c : challenges) {
        HttpAuthCache::digestAuthorization(c, "GET", "/books/a.cbz", "reader", "secret", 1, "0a4f113b");
    }
    // What the cache keeps of them, and the answer it makes from that.
    const std::string site = "http://127.0.0.1:8080/books/";
    HttpAuthCache::remember(site, "reader", challenges);
    HttpAuthCache::renewNonce(site, "reader", challenges);
    std::string authorization;
    HttpAuthCache::answerFor("GET", site + "a.cbz", "reader", "secret", &authorization);
    HttpAuthCache::clear();
    return 0;
}
