#pragma once

#include "foundation/BookViewControllerDelegate.h"
#include "foundation/RemoteFileListState.h"
#include "foundation/ui/PopupMenuViewDelegate.h"
#include "foundation/ui/QNActionSheetDelegate.h"
#include "library/ArchivePasswordViewControllerDelegate.h"
#include "library/FilelistBaseViewController.h"
#include "library/IncludeFolderSelectViewControllerDelegate.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PlistDictionary.h"
#include "remote/OnlineFileStartDelegate.h"
#include "remote/listing/FileDownloadDelegate.h"
#include "remote/screens/ShowHttpAuth.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class Button;
class SegmentedControl;
}
class BookTransfer;
class FileDownload;
class OnlineFileStart;
class PopupMenuView;

// One folder of a remote site (web index page, WebDAV, FTP, companion
// server...) as a file list. Every folder level is its own screen: a tapped
// folder is listed first and a new screen is pushed only when the listing
// succeeds. Books are read in place through OnlineFileStart. The screen can
// save its folder as a shortcut in the library or as a site of the site
// list, and keeps its level in the relaunch restore.
//
// Credentials stay out of every URL and file this screen writes: they come
// from the key chain (stored sites) or from what the user typed.
class RemoteFileListViewController : public FilelistBaseViewController,
                                     public FileDownloadDelegate,
                                     public ShowHttpAuthDelegate,
                                     public RemoteFileListState,
                                     public BookViewControllerDelegate,
                                     public OnlineFileStartDelegate,
                                     public ArchivePasswordViewControllerDelegate,
                                     public PopupMenuViewDelegate,
                                     public QNActionSheetDelegate,
                                     public IncludeFolderSelectViewControllerDelegate {
public:
    // Alert and sheet tags of this screen.
    static constexpr int64_t kTagResumeSheet = 1;
    static constexpr int64_t kTagPdfNotice = 4;
    static constexpr int64_t kTagShortcutSheet = 4;
    static constexpr int64_t kTagShortcutName = 5;
    static constexpr int64_t kTagShortcutExists = 6;
    static constexpr int64_t kTagUntrusted = 7;
    static constexpr int64_t kTagRequireSmb2 = 8;
    // Key-chain service of the stored sites' passwords (account: the site id).
    static constexpr const char* kSiteKeychainService = ShowHttpAuth::kSitePasswordService;

    explicit RemoteFileListViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);
    ~RemoteFileListViewController() override;

    // ---- Properties (set before the screen is shown) ------------------------------------
    std::optional<std::string> targetURL() const override { return targetURL_; }
    void setTargetURL(const std::optional<std::string>& url) override { targetURL_ = url; }
    std::optional<sys::PlistArray> fileListArray() const override;
    void setFileListArray(const std::optional<sys::PlistArray>& list) override;
    std::optional<sys::PlistArray> infoListArray() const override;
    void setInfoListArray(const std::optional<sys::PlistArray>& list) override;
    // The listing, taken over as it is (a folder may have hundreds of
    // thousands of entries: nothing of it is copied). Each info is kept once,
    // shared with its row.
    void setLists(std::vector<std::string> files, std::vector<sys::PlistDictionary> infos);
    std::vector<std::string> fileList() const;
    using InfoRef = std::shared_ptr<const sys::PlistDictionary>;
    bool forEachListEntry(const EntryVisitor& visit) const override;
    std::optional<std::string> listTitle() const override { return listTitle_; }
    void setListTitle(const std::optional<std::string>& title) override { listTitle_ = title; }
    std::optional<sys::PlistDictionary> otherSetting() const override { return otherSetting_; }
    void setOtherSetting(const std::optional<sys::PlistDictionary>& options) override { otherSetting_ = options; }
    std::optional<std::string> fixUsername() const override { return fixUsername_; }
    void setFixUsername(const std::optional<std::string>& name) override { fixUsername_ = name; }
    std::optional<std::string> fixID() const override { return fixID_; }
    void setFixID(const std::optional<std::string>& id) override { fixID_ = id; }
    std::optional<std::string> rawUsername() const override { return rawUsername_; }
    void setRawUsername(const std::optional<std::string>& name) override { rawUsername_ = name; }
    bool useRawPassword() const override { return useRawPassword_; }
    void setUseRawPassword(bool use) override { useRawPassword_ = use; }
    std::optional<std::string> rawPassword() const override { return rawPassword_; }
    void setRawPassword(const std::optional<std::string>& password) override { rawPassword_ = password; }
    bool keepsRawPassword() const override { return keepsRawPassword_; }
    void setKeepsRawPassword(bool keep) override { keepsRawPassword_ = keep; }
    std::optional<std::string> siteURL() const override { return siteURL_; }
    void setSiteURL(const std::optional<std::string>& url) override { siteURL_ = url; }
    std::vector<const RemoteFileListState*> navigationStackForStatus() const override;
    const std::string& downloadPath() const { return downloadPath_; }
    void setDownloadPath(const std::string& path) { downloadPath_ = path; }
    // The local list to go back to (not owned).
    void setReturnToViewController(std::weak_ptr<ui::ViewController> vc) { returnToViewController_ = std::move(vc); }
    std::shared_ptr<ui::ViewController> returnToViewController() const { return returnToViewController_.lock(); }
    const std::vector<std::string>& imageListArray() const { return imageListArray_; }
    bool isLoading() const { return isLoading_; }
    bool isRefreshMode() const { return isRefreshMode_; }
    ui::SegmentedControl* streamingSelectSegment() const { return streamingSelectSegment_.get(); }

    // The user name and password by the credentials rule: typed ones, or the
    // stored site's user and its key-chain password (without one, the
    // password remembered for the site's address for that user).
    std::optional<std::string> currentUserName() const;
    std::optional<std::string> currentPassword() const;
    // What goes with a request to `url`: the credentials above when `url` is
    // on the site's own origin (scheme, host, port: siteURL, else this
    // screen's address); nothing for any other address, so that a link, a
    // redirect or a saved list never carries the site's password elsewhere.
    struct Credentials {
        std::optional<std::string> userName, password;
    };
    Credentials credentialsFor(const std::string& url) const;
    // `url` is on the site's own origin, as credentialsFor() takes it.
    bool isOnSiteOrigin(const std::string& url) const;
    // The site's own password, refused by its server: forgotten, so that
    // nothing sends it again.
    void forgetRefusedSitePassword(const std::optional<std::string>& refused);

    // ---- Overrides of the base ---------------------------------------------------------
    int getFilelistMode() const override { return 1; }
    ItemList getFileListArray() override;
    void updateFileListArray() override { checkLastReadingMark(); }
    void updateFileInfo() override;
    void checkLastReadingMark() override;
    std::optional<std::string> getSortConfigFile() override;
    double getHeaderHeight() const override;
    bool isCanEditItem(int64_t) override { return true; }
    void didSelectBook(int64_t index, const std::optional<ui::IndexPath>& indexPath) override;
    void onRefresh() override;
    void onChangeBookShelfMode(int segment) override;
    // The header's two download-all buttons.
    void onDownloadAll() override { downloadAll(false, false); }
    void onDownloadAllWithFolder() override { downloadAll(true, false); }
    // Queues the folder's books, pictures, PDFs and themes (selectedOnly:
    // the rows picked) and shows the transfer screen; without any: "No files
    // available for transfer.". Without a transfer queue the user is told so.
    void downloadAll(bool intoFolder, bool selectedOnly);
    // Queues the file row at `index` (folders are left alone) and shows the
    // transfer screen.
    void downloadItem(int64_t index);
    // A row or cover held down queues that one file, whatever the mode; the
    // finger's moves after it are not followed.
    bool onLongPress(int64_t index, ui::Point point, ui::View* view) override;
    void tableViewDidLongPressRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip, ui::Point point) override;
    // Adds a file row to the application's download queue into the download
    // folder (folder: a new subfolder); false when there is no queue.
    bool queueDownload(const ItemRef& item, const std::optional<std::string>& folder);
    // The file transfer screen alone, pushed over this list right after
    // something was queued; its "Back" returns to the library screen the
    // site was opened from.
    void pushTransferScreen();
    // The tool bar's transfer button: the transfer tabs, the site list first
    // (not while the popup menu is open).
    void onDownLoadBtn();
    static std::shared_ptr<BookTransfer> transferQueue();

    // ---- Listing --------------------------------------------------------------------------
    void getOnce(const std::string& url, const std::optional<std::string>& targetTitle,
                 const std::optional<std::string>& userName, const std::optional<std::string>& password,
                 bool passwordIsFixed, bool connectToUntrustedServer);
    void finishListDownload(std::optional<std::vector<std::string>> fileList,
                            std::optional<std::vector<sys::PlistDictionary>> infoList,
                            const std::optional<std::string>& listTitle, const std::optional<std::string>& withURL,
                            const std::optional<std::string>& message, bool requireSMB2) override;
    void passwordRequested(const std::string& url, bool dontUseStoredAccount) override;
    void cancelListDownload() override;
    bool serverCertificateUntrusted(const std::string& url, const std::string& userName,
                                    const std::string& password) override;
    void onFinishInput(const std::string& url, const std::optional<std::string>& userName,
                       const std::optional<std::string>& password, bool isStoredAccount) override;

    // ---- Rows -------------------------------------------------------------------------------
    // The rows of a listing, in listing order (also fills imageListArray).
    // The rows of the lists, which they take over.
    ItemList fileListToItemArray(std::vector<std::string> files, std::vector<InfoRef> infos);
    // Whether an entry is a folder: "isBook" and "isFolder" first, then a
    // trailing "/" or a name that is no book, PDF or theme.
    static bool isDirectory(const std::string& url, const sys::PlistDictionary& info);
    // Books read in place: ZIP, images and PDF anywhere, RAR only over SMB.
    static bool isStreamingFile(const std::string& typedName, const std::string& folderURL);
    // The name a URL is typed by: the info's "extension" put in before the
    // query, or after the URL.
    static std::string typedName(const std::string& url, const sys::PlistDictionary& info);
    // The display name of a URL or title: its last non-empty component,
    // percent-decoded (at most 1,024 bytes); "(Unknown character set)"
    // when the bytes are no known text.
    static std::optional<std::string> lastUrlComponentString(const std::optional<std::string>& text);

    // ---- Opening (streaming) ------------------------------------------------------------------
    void selectStreamMode(int segment);
    bool startStreamFile(const ItemRef& item, bool isStartFromFirstPage, bool isReOpenMode,
                         const std::optional<std::string>& targetFolder, int64_t targetFolderOffset,
                         ui::Rect actionSheetRect);
    void startOnlineFile(const ItemRef& item, const std::optional<std::string>& archivePassword, bool isResumeMode,
                         bool isStartFromFirstPage, const std::optional<std::string>& targetFolder,
                         int64_t targetFolderOffset, ui::Rect actionSheetRect);
    void resumeLastReading(const std::string& url);
    OnlineFileStart* onlinefileStart() const { return onlinefileStart_.get(); }

    void onFinishLoadOnlinefile(const std::shared_ptr<BookViewController>& viewer) override;
    void onlineFileError(const std::optional<std::string>& message) override;
    void onlineFileNeedPassword() override;
    // The server refused the book's credentials: the sign-in panel asks, and
    // the opening goes on with the answer.
    void onlineFileNeedServerPassword(const std::string& url) override;
    void onlineFileCancel() override;
    void deleteCache() override;
    void finishInputPassword(const std::optional<std::string>& password) override;
    // A book of several inner folders: the picker offers them (and the whole
    // book); its answer opens the book with that folder.
    void onNeedSelectFolder(const std::vector<std::string>& folders) override;
    void finishSelectIncludeFolder(const std::optional<std::string>& folder, ui::View* forView,
                                   bool isBookMarkded) override;

    void finishReadBook(const std::string& fileName) override;
    bool reOpenNextBook(const std::string& fileName, const std::optional<std::string>& targetFolder, bool isNext,
                        bool* closeAnimation) override;
    int64_t getNextBookIndex(const std::string& fileName, const std::optional<std::string>& targetFolder,
                             bool isNext) override;

    // ---- Menus, shortcuts and the tool bar ---------------------------------------------------
    // The tool bar's items, and the bars' look for the presentation shown
    // (dark on the bookshelf, as the local list's).
    void showToolBar();
    // The Download/Streaming choice in the navigation bar reads on the bar
    // it sits on.
    void styleStreamingSegment();
    void onPopupMenu();
    void onRemovePopup() override;
    // Escape closes the popup menu first.
    std::vector<ui::KeyCommand> keyCommands() const override;
    // The reading history, jumping through the library's root screen.
    void onHistoryBtn();
    void onActionButton(const ui::BarButtonItem::Ref& item);
    void onRotationLock();
    void onGoLocalBtn();
    void jumpStart();
    // A site chosen elsewhere while this screen is shown: back to the library
    // screen, which opens it.
    void didSelectMediaServer(const sys::PlistDictionary& site);
    // Writes the shortcut file `name`.shortcut into the download folder;
    // false (and the user is told) when it cannot be written. The name is
    // confined to that folder.
    bool createLink(const std::string& name);
    void onSameNameLinkCreate(const std::string& name);
    // Puts this folder first in the site list; false when there is no list.
    bool addSiteToServerList();
    // The site record of this folder under `title` with a new id; the stored
    // site's password is copied to that id.
    sys::PlistDictionary makeSiteRecord(const std::string& title);
    // The file name a typed shortcut name becomes ("/" turned into "_");
    // nothing when it cannot name a file in the folder.
    static std::optional<std::string> shortcutFileName(const std::string& typed);
    PopupMenuView* popUpMenuView() const { return popUpMenuView_.get(); }

    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;
    void willPresentAlertView(QNAlertView& alert) override;
    void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) override;

    // ---- Selecting rows for download and the floating download button -------------------------
    // Rows are picked for download (instead of queued at once) when the
    // setting for several downloads is on and the screen is in download mode.
    bool isSelectedWithIndexNo(int64_t index) override;
    bool isSelectDownloadMode() override;
    void onSetSearchString(const std::string& text) override;
    void onRotateView(bool landscape) override;
    void updateDownloadButtonStatus();
    void deselectDownloadAndHideDownloadButton();
    // Places the button at the bottom of the screen, or right above the
    // on-screen keyboard while one is shown.
    void setDownloadButtonRect(bool landscape);
    void keyboardWillShow(const sys::Notification& n);
    void keyboardWillHide(const sys::Notification& n);
    void onDownloadButton() { downloadAll(false, true); }
    ui::Button* downloadButton() const { return downloadButton_.get(); }
    bool isKeyboard() const { return isKeyboard_; }
    ui::Rect keyboardRect() const { return keyboardRect_; }

    // ---- Screen ------------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    std::shared_ptr<RemoteFileListViewController> selfRef();
    // A child screen carrying this one's site and credentials.
    std::shared_ptr<RemoteFileListViewController> makeChild() const;
    void removeIndicator();
    void deselectLastRow();
    void releaseOnlineFileStartLater();
    void showAlert(const std::string& message);
    // The lists out of the rows again, before they are changed.
    void takeListsBack();
    int64_t cacheStatusFor(const std::string& url, bool lbexpand, const std::optional<sys::PlistArray>& cache) const;

    std::optional<std::string> targetURL_;
    std::vector<std::string> fileList_;
    std::vector<InfoRef> infoList_;
    bool hasLists_ = false;
    // The lists were handed to the rows (remoteItemList_, in listing order).
    bool listsInRows_ = false;
    std::optional<std::string> listTitle_;
    std::string downloadPath_;
    std::weak_ptr<ui::ViewController> returnToViewController_;
    std::optional<sys::PlistDictionary> otherSetting_;
    std::optional<std::string> fixID_, fixUsername_, rawUsername_, rawPassword_, siteURL_;
    // The server whose certificate the user is asked about, and its key.
    struct UntrustedServer {
        std::string url, publicKey;
    } untrustedServer_;
    bool useRawPassword_ = false;
    bool keepsRawPassword_ = true;

    ItemList remoteItemList_;
    bool rowsBuilt_ = false;
    std::vector<std::string> imageListArray_;
    std::shared_ptr<FileDownload> fileDownload_;
    bool isLoading_ = false;
    bool isRefreshMode_ = false;
    std::optional<std::string> targetTitle_;
    std::shared_ptr<ShowHttpAuth> showHttpAuth_;
    bool isStoredAccount_ = false;
    // The credentials the running listing went with (what a refusal refused).
    std::optional<std::string> sentUser_, sentPassword_;
    // A typed answer to remember once the server has taken it.
    struct TypedAnswer {
        std::string url, user, password;
    };
    std::optional<TypedAnswer> toRemember_;
    // The panel asks for the book being opened, not for a listing; and the
    // typed answer the opening goes on with.
    bool askingForBook_ = false;
    std::optional<TypedAnswer> bookToRemember_;
    void answerForBook(const std::string& url, const std::optional<std::string>& userName,
                       const std::optional<std::string>& password, bool isStoredAccount);
    // A user name with no password known for `url` (a list restored without
    // its password): the server would only refuse the empty one, so the
    // panel asks first (the key chain answering where it keeps the address)
    // and `then` runs once it has answered. False when there is nothing to ask.
    bool askBeforeSending(const std::string& url, std::function<void()> then);
    // The rows were given the answer asked first: their covers that waited
    // for the password are made once the server takes it (answerTaken()),
    // not if it is refused first.
    bool coversAwaitAnswerTaken_ = false;
    void answerTaken();
    // A page of the book being read was refused: asked for, then the book is
    // opened again at its saved place.
    bool bookNeedsServerPassword(const std::string& fileName) override;
    // The list's credentials from now on: its folders, books and downloads
    // go with the answer the panel or the key chain gave.
    void takeAnswer(const std::string& userName, const std::string& password, bool remembered, bool isStoredAccount);
    void answerAskedFirst(const std::optional<std::string>& userName, const std::optional<std::string>& password,
                          bool isStoredAccount);
    std::function<void()> afterAnswer_;  // set while the panel asks first
    std::shared_ptr<ui::SegmentedControl> streamingSelectSegment_;
    std::shared_ptr<OnlineFileStart> onlinefileStart_;
    std::optional<std::string> targetFolderTemp_;
    int64_t targetFolderOffsetTemp_ = 0;
    bool isStartFromFirstPage_ = false;
    std::shared_ptr<PopupMenuView> popUpMenuView_;
    std::shared_ptr<ui::Button> downloadButton_;
    ui::Rect keyboardRect_;
    bool isKeyboard_ = false;
    std::optional<sys::NotificationCenter::Token> keyboardShowToken_, keyboardHideToken_;
    void observeKeyboard(bool on);
    bool isLandscapeNow();
    void keepKeyboardFrame(const sys::Notification& n, bool shown);
};
