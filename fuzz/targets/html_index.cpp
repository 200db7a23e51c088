// A web server's index page read as a folder listing, in both naming modes.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/listing/HtmlIndexListing.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::string body(reinterpret_cast<const char*>(data), size);
    HtmlIndexListing::getListFromHyperHtml(body, "http://127.0.0.1:8080/books/", 0);
    HtmlIndexListing::getListFromHyperHtml(body, "http://127.0.0.1:8080/books/", 1);
    return 0;
}
