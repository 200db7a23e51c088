#include "remote/protocols/FtpListRead.h"

#include "platform/core/PlistValue.h"
#include "platform/core/Unicode.h"
#include "remote/protocols/FtpListParser.h"

#include <cstdint>

std::optional<sys::PlistDictionary> FtpListRead::GetFileListWithFtpListData(const std::string& line) {
    const int style = ftpListDetectStyle(line.c_str());
    if (style < 0) return std::nullopt;
    char name[kMaxNameBytes] = {};
    int64_t size = -1, time = 0;
    int flags = 0;
    const int kind = ftpListParseLine(line.c_str(), style, name, sizeof(name), &size, &time, &flags);
    if (kind < 0) return std::nullopt;
    std::string n(name);
    if (!n.empty() && n.back() == '\n') n.pop_back();
    if (!n.empty() && n.back() == '\r') n.pop_back();
    sys::PlistDictionary d;
    if (!sys::Unicode::isValidUtf8(n)) return d;
    d.set("name", sys::PlistValue(n));
    if (size >= 0) d.set("size", sys::PlistValue(size));
    d.set("isFolder", sys::PlistValue(kind == 0));
    d.set("date", sys::PlistValue(int64_t((time - kFtpListTicksTo1970) / 10'000'000)));
    return d;
}
