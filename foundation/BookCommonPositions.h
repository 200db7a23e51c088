#pragma once

#include "platform/core/Date.h"

#include <optional>
#include <string>

// BookCommon's operations for reading positions (BookPageInfo), kept in
// each book's setting file and, with cloud sync on, in the cloud key-value
// store. Class operations only; reach them through BookCommon. Main thread.
class BookCommonPositions {
public:
    // Reads the position of a book (path or URL). With cloud sync on, a
    // cloud entry wins and the local file is not read (*pBookmarkFromCloud
    // then true). Every out-pointer may be null; present ones are always
    // written (0, false or "" when nothing is stored). The target folder is
    // "" for none. Returns the record's date, or nothing when the record has
    // fewer than 9 entries or none was found.
    static std::optional<sys::Date> getFilePageInfoWithFilename(
        const std::string& filename, long* pPageNo, bool* pIsSecond, bool* pIsSubReadPage, long* pPageNoSub,
        bool* pIsSecondSub, long* pNumPages, std::string* pTargetFolder, bool* pIs2pageLoaded, bool iCloudEnable,
        bool* pBookmarkFromCloud, bool debugFlag);

    // Writes a whole record dated now; with cloud sync on, also the cloud
    // entry (whatever became of the local write). False when the local file
    // could not be written.
    static bool writeFilePageInfoWithFilename(const std::string& filename, long pageNo, bool isSecound,
                                              bool isSubReadPage, long pageNoSub, bool isSecoundSub, long numPages,
                                              const std::string& targetFolder, bool is2PageLoaded, bool iCloudEnable);

    // Moves the main position only, keeping the rest of the record. A page 0
    // position keeps no target folder.
    static bool updateFilePageInfoNowPageWithFilename(const std::string& filename, long pageNo, bool isSecound,
                                                      const std::string& targetFolder, bool iCloudEnable);

protected:
    BookCommonPositions() = default;
};
