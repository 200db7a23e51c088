// An FTP LIST reply: line by line in its detected style, through the line
// reader, and whole as the listing of a folder.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/listing/FtpListing.h"
#include "remote/protocols/FtpListParser.h"
#include "remote/protocols/FtpListRead.h"

#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::string body(reinterpret_cast<const char*>(data), size);
    std::istringstream lines(body);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        int style = ftpListDetectStyle(line.c_str());
        char name[256];
        int64_t fileSize = 0, time = 0;
        int flags = 0;
        ftpListParseLine(line.c_str(), style, name, sizeof name, &fileSize, &time, &flags);
        FtpListRead::GetFileListWithFtpListData(line);
    }
    bool encodeError = false;
    FtpListing::getListFromFtpList(body, "ftp://127.0.0.1/books/", "", &encodeError);
    FtpListing::getListFromFtpList(body, "ftp://127.0.0.1/books/", "shift_jis", &encodeError);
    return 0;
}
