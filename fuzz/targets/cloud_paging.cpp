// A cloud service's page of a folder listing as each client reads where the
// next page is (a link, a cursor, a page token, an offset): the request it
// makes of it, and of that request's own page again.
#include "cloud/BoxAPICommon.h"
#include "cloud/CloudJson.h"
#include "cloud/DropboxCommon.h"
#include "cloud/GoogleDriveAPI.h"
#include "cloud/OneDriveCommon.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <memory>
#include <string>

namespace {

// The paging of a client, reachable from here.
template <class Client>
struct Paging : Client {
    using Client::Client;
    using Client::firstPageRequest;
    using Client::nextPageRequest;
};

template <class Client>
void walk(const sys::PlistDictionary& page) {
    const auto client = std::make_shared<Paging<Client>>("fuzz");
    const HttpRequest first = client->firstPageRequest("");
    if (auto next = client->nextPageRequest(page, first); next && !next->url.empty()) {
        client->nextPageRequest(page, *next);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const auto page = CloudJson::parseObject(std::string(reinterpret_cast<const char*>(data), size));
    if (!page) return 0;
    walk<OneDriveCommon>(*page);
    walk<BoxAPICommon>(*page);
    walk<GoogleDriveAPI>(*page);
    walk<DropboxCommon>(*page);
    return 0;
}
