#include "foundation/BookCommonPositions.h"

#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/BookPageInfo.h"
#include "foundation/LBDebugLog.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "platform/core/PropertyList.h"

namespace {

bool writeRecord(const std::string& settingFile, const sys::PlistArray& record) {
    return sys::PropertyList::writeFile(sys::PlistValue(record), settingFile);
}

}  // namespace

std::optional<sys::Date> BookCommonPositions::getFilePageInfoWithFilename(
    const std::string& filename, long* pPageNo, bool* pIsSecond, bool* pIsSubReadPage, long* pPageNoSub,
    bool* pIsSecondSub, long* pNumPages, std::string* pTargetFolder, bool* pIs2pageLoaded, bool iCloudEnable,
    bool* pBookmarkFromCloud, bool debugFlag) {
    if (pBookmarkFromCloud) *pBookmarkFromCloud = false;

    std::optional<sys::PlistArray> record;
    if (iCloudEnable) {
        record = iCloudKeyValueStoreCommon::getBookmark(filename);
        if (record && pBookmarkFromCloud) *pBookmarkFromCloud = true;
    }
    if (!record) {
        std::string settingFile = BookCommon::getBookSettingFile(filename, false);
        record = sys::PropertyList::readArray(settingFile);
        if (!record) {
            ActiveLog::writeError("getFilePageInfoWithFilename");
            if (debugFlag) LBDebugLog::writeDebugLog("ERR:getFilePage", settingFile, 0);
        } else if (debugFlag) {
            LBDebugLog::writeDebugLog("PASS:getFilePage", settingFile, 0);
        }
    }

    BookPageInfo info = record ? BookPageInfo::fromArray(*record) : BookPageInfo();
    if (pPageNo) *pPageNo = info.pageNo;
    if (pIsSecond) *pIsSecond = info.isSecound;
    if (pNumPages) *pNumPages = info.numPages;
    if (pTargetFolder) *pTargetFolder = info.targetFolder;
    if (pIs2pageLoaded) *pIs2pageLoaded = info.is2PageLoaded;
    if (pIsSubReadPage) *pIsSubReadPage = info.isSubReadPage;
    if (pPageNoSub) *pPageNoSub = info.pageNoSub;
    if (pIsSecondSub) *pIsSecondSub = info.isSecoundSub;
    if (!record || record->size() < BookPageInfo::kEntryCount) return std::nullopt;
    return info.date;
}

bool BookCommonPositions::writeFilePageInfoWithFilename(const std::string& filename, long pageNo, bool isSecound,
                                                        bool isSubReadPage, long pageNoSub, bool isSecoundSub,
                                                        long numPages, const std::string& targetFolder,
                                                        bool is2PageLoaded, bool iCloudEnable) {
    BookPageInfo info;
    info.pageNo = pageNo;
    info.isSecound = isSecound;
    info.numPages = numPages;
    info.targetFolder = targetFolder;
    info.is2PageLoaded = is2PageLoaded;
    info.isSubReadPage = isSubReadPage;
    info.pageNoSub = pageNoSub;
    info.isSecoundSub = isSecoundSub;
    info.date = sys::Date::now();
    sys::PlistArray record = info.toArray();

    std::string settingFile = BookCommon::getBookSettingFile(filename, false);
    bool written = writeRecord(settingFile, record);
    if (!written) {
        ActiveLog::writeError("writeFilePageInfoWithFilename");
        LBDebugLog::writeDebugLog("ERR:writeFilePage", settingFile, 0);
    } else {
        LBDebugLog::writeDebugLog("PASS:writeFilePage", settingFile, 0);
    }
    if (iCloudEnable) iCloudKeyValueStoreCommon::updateBookmark(filename, record);
    return written;
}

bool BookCommonPositions::updateFilePageInfoNowPageWithFilename(const std::string& filename, long pageNo,
                                                                bool isSecound, const std::string& targetFolder,
                                                                bool iCloudEnable) {
    long numPages = 0, pageNoSub = 0;
    bool is2PageLoaded = false, isSubReadPage = false, isSecoundSub = false;
    getFilePageInfoWithFilename(filename, nullptr, nullptr, &isSubReadPage, &pageNoSub, &isSecoundSub, &numPages,
                                nullptr, &is2PageLoaded, iCloudEnable, nullptr, false);

    BookPageInfo info;
    info.pageNo = pageNo;
    info.isSecound = isSecound;
    info.numPages = numPages;
    info.targetFolder = pageNo == 0 ? std::string() : targetFolder;
    info.is2PageLoaded = is2PageLoaded;
    info.isSubReadPage = isSubReadPage;
    info.pageNoSub = pageNoSub;
    info.isSecoundSub = isSecoundSub;
    info.date = sys::Date::now();
    sys::PlistArray record = info.toArray();
    // This path has always stored the second-position flag as a number.
    record[5] = sys::PlistValue(int64_t(isSubReadPage ? 1 : 0));

    std::string settingFile = BookCommon::getBookSettingFile(filename, false);
    bool written = writeRecord(settingFile, record);
    if (!written) {
        ActiveLog::writeError("updateFilePageInfoNowPageWithFilename");
        LBDebugLog::writeDebugLog("ERR:updateFilePage", settingFile, 0);
    }
    if (iCloudEnable) iCloudKeyValueStoreCommon::updateBookmark(filename, record);
    return written;
}
