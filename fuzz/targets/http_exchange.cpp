// An HTTP server's answers as our client reads them, from the status line
// on: interim answers, headers (Location, WWW-Authenticate, Content-Range),
// redirects, an authentication round and bodies, over one connection or
// several. The answers come from a scripted peer on loopback
// (ScriptedPeer's format, one answer a request); every address is reached
// through that peer as a proxy, so a redirect elsewhere stays on loopback.
#include "cloud/HttpAuthCache.h"
#include "cloud/HttpContentRange.h"
#include "cloud/HttpEasy.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ScriptedPeer.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    auto& peer = ScriptedPeer::shared();
    static const bool proxied = [&] {
        const std::string proxy = "http://127.0.0.1:" + std::to_string(peer.port());
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::setenv(name, proxy.c_str(), 1);
        ::unsetenv("no_proxy");
        ::unsetenv("NO_PROXY");
        return true;
    }();
    (void)proxied;
    peer.play({data, size}, ScriptedPeer::Ids::Http);
    {
        HttpEasy easy;
        HttpRequest request;
        request.url = "http://127.0.0.1:" + std::to_string(peer.port()) + "/books/a.cbz";
        request.userName = "reader";
        request.password = "secret";
        request.setHeader("Range", "bytes=0-262143");
        request.connectTimeout = 2;
        request.lowSpeedTime = 2;
        request.totalTimeout = 4;
        request.maxRedirects = 4;
        easy.prepare(
            request,
            [](const HttpResponse& r) {
                HttpContentRange::parse(r.header("content-range"));
                return true;
            },
            {}, {}, 1u << 20);
        easy.perform();
    }
    peer.finish(true);
    HttpAuthCache::clear();
    return 0;
}
