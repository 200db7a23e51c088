// A web server's index page read as a folder listing, in both naming modes,
// and a shared Drive folder's page read for its items (each item's address
// turned back into the one it is fetched from).
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/listing/GoogleDriveShareLink.h"
#include "remote/listing/HtmlIndexListing.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::string body(reinterpret_cast<const char*>(data), size);
    HtmlIndexListing::getListFromHyperHtml(body, "http://127.0.0.1:8080/books/", 0);
    HtmlIndexListing::getListFromHyperHtml(body, "http://127.0.0.1:8080/books/", 1);
    std::string title;
    const auto drive = GoogleDriveShareLink::getListFromGoogleDriveLink(body, &title);
    for (const auto& url : drive.fileList) {
        GoogleDriveShareLink::downloadURL(url);
        GoogleDriveShareLink::folderPageURL(url);
    }
    return 0;
}
