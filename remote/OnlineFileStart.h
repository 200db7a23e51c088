#pragma once

#include "foundation/ui/QNActionSheetDelegate.h"
#include "platform/core/PlistDictionary.h"
#include "platform/ui/Geometry.h"
#include "remote/OnlineFileStartDelegate.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class ViewController;
}
class BookViewControllerDelegate;
class IndicatorWithBGView;
class Settings;

// Opens a book that lies on a server. The book is read in place through the
// engine's stream readers (blocks fetched as pages need them); before the
// open, unless the caller resumes, the open-action menu offers the saved
// page or the first one. The opened book is recorded in the history and as
// the book last read in its folder, without any credentials.
//
// A book of several inner folders, opened afresh with the "select folder"
// setting on, is not shown: the delegate gets the folders to offer
// (onNeedSelectFolder) and opens again with the one chosen. Moving on from
// the last page of a folder opens the neighbouring folder of the same book.
//
// One opener per opening, owned by the list; the delegate is not owned.
// Main thread only: the open itself runs on the next turn of the run loop,
// after the busy sign is drawn; its first page is fetched and decoded on the
// reading screen's worker.
class OnlineFileStart : public QNActionSheetDelegate, public std::enable_shared_from_this<OnlineFileStart> {
public:
    // Why a book on a server that cannot send parts of a file is not opened.
    static constexpr const char* kUnsupportedServerMessage =
        "This server cannot send parts of a file: download the book instead.";
    // Why a book on a server that takes no session now is not opened.
    static constexpr const char* kServerBusyMessage = "The server is busy. Please try again later.";
    static constexpr const char* kUntrustedCertificateMessage = "Server Certificate Untrusted.";

    static constexpr int64_t kTagOpenAction = 1;

    OnlineFileStart();
    ~OnlineFileStart() override;

    void setUserName(const std::optional<std::string>& v) { userName_ = v; }
    void setPassword(const std::optional<std::string>& v) { password_ = v; }
    // The folder URL the book was listed in.
    void setOpenFolder(const std::string& v) { openFolder_ = v; }
    void setFolderTitle(const std::optional<std::string>& v) { folderTitle_ = v; }
    void setOtherSettingsForRemote(const sys::PlistDictionary& v) { otherSettings_ = v; }
    void setSettings(std::shared_ptr<Settings> s) { settings_ = std::move(s); }
    void setDelegate(std::weak_ptr<OnlineFileStartDelegate> d) { delegate_ = std::move(d); }
    void setDelegateForBookViewController(BookViewControllerDelegate* d) { viewerDelegate_ = d; }
    void setFixUser(const std::optional<std::string>& v) { fixUser_ = v; }
    void setLbexpand(bool on) { lbexpand_ = on; }
    void setFixID(const std::optional<std::string>& v) { fixID_ = v; }
    void setFileInfo(const sys::PlistDictionary& v) { fileInfo_ = v; }

    void startOnlineFile(const std::string& url, const std::optional<std::string>& archivePassword,
                         const std::vector<std::string>& otherFiles, ui::ViewController* viewController,
                         bool isLandscape, const std::optional<std::string>& targetFolder, bool isTargetAllFolders,
                         bool isExistCache, bool isResumeMode, bool isStartFromFirstPage, int64_t targetFolderOffset,
                         ui::Rect actionSheetRect);
    // The list goes off screen: a menu still up is forgotten.
    void viewWillDisappear();
    void willRotateToRect(ui::Rect rect) { actionSheetRect_ = rect; }

    void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) override;

    bool isOpening() const { return opening_; }
    // After onlineFileNeedServerPassword: the same opening again with the
    // credentials the user gave.
    void retryWithCredentials(const std::string& userName, const std::string& password);
    // The credentials the opening went with.
    const std::optional<std::string>& userName() const { return userName_; }
    const std::optional<std::string>& password() const { return password_; }

private:
    struct Request {
        std::string url;
        std::optional<std::string> archivePassword;
        std::vector<std::string> otherFiles;
        std::optional<std::string> targetFolder;
        bool isLandscape = false;
        bool useBookmark = false;
        // The whole book was chosen in the inner-folder picker: no picker again.
        bool isTargetAllFolders = false;
        // +1 / -1: the folder after / before targetFolder in the book.
        int64_t targetFolderOffset = 0;
    };
    void openLater(Request request);
    void open(const Request& request);
    void finishWithError(const std::optional<std::string>& message);
    std::shared_ptr<OnlineFileStartDelegate> delegate() const { return delegate_.lock(); }

    std::optional<std::string> userName_, password_, folderTitle_, fixUser_, fixID_;
    std::string openFolder_;
    sys::PlistDictionary otherSettings_, fileInfo_;
    std::shared_ptr<Settings> settings_;
    std::weak_ptr<OnlineFileStartDelegate> delegate_;
    BookViewControllerDelegate* viewerDelegate_ = nullptr;
    bool lbexpand_ = false;
    bool opening_ = false;
    ui::Rect actionSheetRect_;
    std::optional<Request> pending_;
    // The opening the server refused the credentials of.
    std::optional<Request> refused_;
    int64_t sheetBookmarkIndex_ = -1;
    int64_t sheetFirstPageIndex_ = -1;
    std::shared_ptr<IndicatorWithBGView> indicator_;
};
