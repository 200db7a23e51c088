// A WebDAV PROPFIND reply read as a folder listing.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/listing/FileDownload.h"
#include "remote/listing/WebDavFileListReader.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::string body(reinterpret_cast<const char*>(data), size);
    WebDavFileListReader::getFileListFromXmlData(body);
    // The members matched to a folder with a non-ASCII name.
    FileDownload::getListFromWebDav(body, "http://127.0.0.1:8080/dav/%E6%BC%AB%E7%94%BB/");
    WebDavFileListReader::parseHttpDate(body.substr(0, 64));
    return 0;
}
