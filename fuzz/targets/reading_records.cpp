// The reading records read back from files that are not only ours to write:
// the shared reading-position store (another copy of the program, another
// "device", writes it at any time), a book's own position record, the
// reading history, the statistics, and the last state with a remote list's
// saved contents (a backup restored, an older version's files). The input is
// each of those files in turn, read as the program reads it at start, when a
// list is shown and when another device's change arrives.
#include "foundation/BookCommon.h"
#include "foundation/BookHistory.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/StatisticsStore.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/core/CloudKeyValueStore.h"
#include "platform/core/PlistValue.h"
#include "platform/core/PropertyList.h"
#include "remote/screens/RemoteFileListViewController.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

void put(const std::string& path, const uint8_t* data, size_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const std::string book = BookCommon::getBooksDocumentsFolder() + "/Folder/Book.cbz";

    // Another device's write to the shared store, taken in by a store that
    // started before it; then this device's own position goes in beside it.
    const std::string shared = FuzzEnvironment::workDir() + "/cloud-kvs.plist";
    std::filesystem::remove(shared);
    auto store = sys::CloudKeyValueStore::atPath(shared);
    sys::CloudKeyValueStore::setDefaultStore(store);
    put(shared, data, size);
    store->synchronize();
    long page = 0, pageSub = 0, pages = 0;
    bool second = false, sub = false, secondSub = false, twoPages = false, fromCloud = false;
    std::string folder;
    BookCommon::getFilePageInfoWithFilename(book, &page, &second, &sub, &pageSub, &secondSub, &pages, &folder,
                                            &twoPages, true, &fromCloud, false);
    iCloudKeyValueStoreCommon::getBookmarkCount();
    iCloudKeyValueStoreCommon::updateBookmark(book, sys::PlistArray{sys::PlistValue(int64_t(3))});
    FuzzEnvironment::settle();
    sys::CloudKeyValueStore::setDefaultStore(nullptr);
    store.reset();

    // The book's own record, read and then moved on by a page turn.
    put(BookCommon::getBookSettingFile(book, true), data, size);
    BookCommon::getFilePageInfoWithFilename(book, &page, &second, &sub, &pageSub, &secondSub, &pages, &folder,
                                            &twoPages, false, &fromCloud, true);
    BookCommon::updateFilePageInfoNowPageWithFilename(book, page + 1, second, folder, false);

    // The history and the statistics, as their screens read them.
    put(BookCommon::getHistoryFilePath(), data, size);
    HistoryCollector::relaseHistory();
    if (auto history = HistoryCollector::getHistory()) {
        for (const BookHistory& entry : *history) {
            entry.toDictionary();
            entry.isSameBook(entry);
        }
    }
    BookHistory opened;
    opened.setPathFromBooks(std::string("Folder/Book.cbz"));
    HistoryCollector::addHistory(opened);
    HistoryCollector::relaseHistory();

    put(StatisticsStore::filePath(), data, size);
    StatisticsStore::releaseSharedStatisticsStore();
    if (auto statistics = StatisticsStore::sharedStatisticsStore()) {
        statistics->incrementPageTotal();
        statistics->update();
    }
    StatisticsStore::releaseSharedStatisticsStore();

    // The last state, and a remote list restored from its saved level.
    put(LastStatusRestore::getSettingFile(), data, size);
    put(BookCommon::getLastBookSettingFilePath(), data, size);
    LastStatusRestore::isBookReading();
    LastStatusRestore::isRestoreRemoteFileList();
    LastStatusRestore::getNextLocalPath("*");
    LastStatusRestore::getNextLocalPath("Folder");
    put(LastStatusRestore::getRemoteSettingFile(1), data, size);
    {
        // A level file needs a state that names at least one level.
        sys::PlistDictionary state{{"status", sys::PlistValue(int64_t(1))},
                                   {"remoteViewCount", sys::PlistValue(int64_t(1))}};
        sys::PropertyList::writeFile(sys::PlistValue(state), LastStatusRestore::getSettingFile());
        auto list = std::make_shared<RemoteFileListViewController>(ui::TableViewStyle::Plain);
        if (LastStatusRestore::restoreRemoteViewController(*list, 1)) {
            for (const auto& item : list->getFileListArray()) item->filename();
        }
    }
    FuzzEnvironment::settle();
    return 0;
}
