// Records of ours that can arrive from elsewhere (a library copied in, a
// restored backup, another device's media server): a folder's lock record,
// the transfer queue's state, a book's bookmark index, the site list and a
// companion server's page index, each read from the input as its file.
#include "foundation/FolderLockInfo.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/core/PropertyList.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/TransferItem.h"
#include "remote/UrlListStreamRead.h"
#include "viewer/BookMarkIndex.h"

#include <cstdint>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (auto value = sys::PropertyList::parse(text)) {
        if (value->isArray()) {
            const FolderLockInfo lock = FolderLockInfo::fromArray(value->asArray());
            lock.isUnlockedMarker();
            lock.toArray();
            for (const auto& entry : value->asArray()) {
                if (entry.isDictionary()) TransferItem::fromStateDictionary(entry.asDictionary());
            }
        } else if (value->isDictionary()) {
            if (auto item = TransferItem::fromStateDictionary(value->asDictionary())) item->toStateDictionary();
        }
    }
    const std::string index = FuzzEnvironment::writeFile("bookmark.index", {data, size});
    for (const auto& item : BookMarkIndex::read(index)) BookMarkIndex::displayName(item.pageName);
    const auto raw = BookMarkIndex::readRaw(index);
    BookMarkIndex::newId(raw);

    const std::string sites = ServerListViewControllerEx::siteListFile();
    std::filesystem::create_directories(std::filesystem::path(sites).parent_path());
    std::filesystem::copy_file(index, sites, std::filesystem::copy_options::overwrite_existing);
    ServerListViewControllerEx::readSites();
    UrlListStreamRead::parseIndex(text);
    return 0;
}
