// A WebDAV PROPFIND reply read as a folder listing.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/listing/WebDavFileListReader.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::string body(reinterpret_cast<const char*>(data), size);
    WebDavFileListReader::getFileListFromXmlData(body);
    WebDavFileListReader::parseHttpDate(body.substr(0, 64));
    return 0;
}
