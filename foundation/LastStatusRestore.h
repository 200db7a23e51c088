#pragma once

#include "platform/core/PlistValue.h"

#include <optional>
#include <string>
#include <vector>

class FilelistItem;
class RemoteFileListState;
struct RemoteStackStatus;

// The last state of the file lists, from which the shell rebuilds its screen
// stack after a restart: the local folder last shown, the stack of remote
// lists with their contents, and the book being read. Files in the Library
// folder: "laststatus.lbconfig" and one "r_<level>.remotestatus" per remote
// list level. Also keeps the process-wide restore and jump values. Class
// operations; main thread only.
class LastStatusRestore {
public:
    LastStatusRestore() = delete;

    // Where earlier versions kept a restored list's typed password apart from
    // its site: read (and moved under the site) by the restore only.
    static constexpr const char* kKeychainService = "ServerFileListRestore";
    static constexpr const char* kKeychainAccount = "rawPassword";

    static std::string getSettingFile();
    static std::string getRemoteSettingFile(long level);

    static void setRestoreMode(int mode);
    static int getRestoreMode();
    static void setJumpMode(bool on);
    static bool getJumpMode();
    static void setForceEnableGotoLastFoler(bool on);
    static bool getForceEnableGotoLastFoler();
    static void setTryRemoteDoneFlag(bool on);
    static bool getTryRemoteDoneFlag();

    // Clears the three jump values, then with a book: clears the
    // try-remote-done flag, keeps the book (in NFD) and the folder and title
    // that are given.
    static void setJumpBook(const std::optional<std::string>& book, const std::optional<std::string>& remoteFolder,
                            const std::optional<std::string>& remoteFolderTitle);
    static std::optional<std::string> getJumpBook();
    static std::optional<std::string> getRemoteFolder();
    static std::optional<std::string> getRemoteFolderTitle();
    static void releaseObjects();

    // The last-book file holds at least one entry.
    static bool isBookReading();
    // Stores the book being read under "readingTarget" (a null value removes
    // it); only while the state file exists.
    static void setBookReading(const sys::PlistValue& target);
    static bool isRestoreRemoteFileList();

    // On the way back to the stored local folder: the name of the folder to
    // open below `pathFromBooks`; nothing when that folder is reached.
    static std::optional<std::string> getNextLocalPath(const std::string& pathFromBooks);
    // Replaces the state by the local folder (unless jump mode is on).
    static void setLocalTargetPath(const std::string& pathFromBooks);
    static void updateLastStatusLocal(const FilelistItem& item);

    // Saves the remote list screen's level (and its contents, when it has
    // them) while the state file exists.
    static void updateLastStatusRemote(const RemoteFileListState& screen);
    // Fills a fresh remote list screen with the saved level; false when that
    // level was not saved.
    static bool restoreRemoteViewController(RemoteFileListState& screen, long tartgetRemoteStackCount);
    // The screen's 1-based place among the remote lists of its navigation
    // stack; 0 when it is not on it.
    static long getRemoteListViewStachCount(const RemoteFileListState& screen,
                                            const std::vector<const RemoteFileListState*>& navigationStack);

    // Deletes the settings folder's "*.listcache" files.
    static void removeOldConfigFile();
    // Deletes the Library folder's "*.remotestatus" files.
    static void removeRemoteStackFile();
    static void removeAllLastStatus();

private:
    // The typed password of a restored list: the one remembered for its site
    // and user, if any.
    static std::optional<std::string> restoredPassword(const RemoteStackStatus& status);
};
