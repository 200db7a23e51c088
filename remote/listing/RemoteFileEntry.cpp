#include "remote/listing/RemoteFileEntry.h"

bool RemoteFileEntry::isFolder(const std::string& url, const sys::PlistDictionary& info) {
    if (info.contains(kIsFolder)) return info.getBool(kIsFolder);
    if (info.contains(kIsBook)) return !info.getBool(kIsBook);
    return !url.empty() && url.back() == '/';
}
