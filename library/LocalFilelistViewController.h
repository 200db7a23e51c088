#pragma once

#include "foundation/BookViewControllerDelegate.h"
#include "foundation/ui/PopupMenuViewDelegate.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNActionSheetDelegate.h"
#include "foundation/ui/TextInputViewDelegate.h"
#include "library/FilelistBaseViewController.h"
#include "library/FolderDetailViewControllerExDelegate.h"
#include "library/FolderSelectViewControllerDelegate.h"
#include "library/PassCodeRequetDelegate.h"
#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ui {
class NavigationController;
}
class PopupMenuView;
class LocalBookOpener;
class BookshelfBookButton;

// The screen that lists one folder of the local library: the root screen
// of the application's navigation and every folder screen pushed from it.
// It reads its rows from the folder on disk, marks the book read last,
// notices new books while it is on screen, and after a restart walks back
// to the folder (and book) the user was last in.
class LocalFilelistViewController : public FilelistBaseViewController,
                                    public PassCodeRequetDelegate,
                                    public PassCodeInputViewExDelegate,
                                    public PopupMenuViewDelegate,
                                    public QNActionSheetDelegate,
                                    public BookViewControllerDelegate,
                                    public FolderSelectViewControllerDelegate,
                                    public FolderDetailViewControllerExDelegate,
                                    public TextInputViewDelegate {
public:
    static constexpr double kCheckInterval = 3.0;
    // Longest name a folder or book may be given, in bytes (the file
    // systems' limit for one name).
    static constexpr size_t kMaxNameBytes = 255;

    explicit LocalFilelistViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);
    ~LocalFilelistViewController() override;

    // ---- Properties ---------------------------------------------------------------
    const std::string& pathFromBooks() const { return pathFromBooks_; }
    void setPathFromBooks(const std::string& p) { pathFromBooks_ = p; }
    bool dontRestoreLastStatus() const { return dontRestoreLastStatus_; }
    void setDontRestoreLastStatus(bool on) { dontRestoreLastStatus_ = on; }
    bool openNextFolderMode() const { return openNextFolderMode_; }
    void setOpenNextFolderMode(bool on) { openNextFolderMode_ = on; }
    bool openFirstImageMode() const { return openFirstImageMode_; }
    void setOpenFirstImageMode(bool on) { openFirstImageMode_ = on; }
    bool needUpdateFileList() const { return needUpdateFileList_; }
    void setNeedUpdateFileList(bool on) { needUpdateFileList_ = on; }
    bool isHideDownloadFolder() const { return isHideDownloadFolder_; }
    int64_t localItemCount() const { return localItemCount_; }
    const ItemList& localItemList() const { return localItemList_; }
    bool isCheckTimerRunning() const { return localReloadCheckTimer_ != nullptr; }
    void setFolderDetailIndex(int64_t index) { folderDetailIndex_ = index; }
    // The full path of the folder shown.
    std::string folderPath() const;

    // ---- Overrides of the base ---------------------------------------------------------
    int getFilelistMode() const override { return 0; }
    ItemList getFileListArray() override { return localItemList_; }
    std::optional<std::string> getSortConfigFile() override;
    double getHeaderHeight() const override;
    void updateFileListArray() override;
    void updateFileInfo() override;
    void checkLastReadingMark() override;
    void setUserSortOrderToItemList() override;
    void onSelectSortMode(int mode, bool isDescendingOrder, bool isDateSortModeBookmarkDate) override;
    void onRefresh() override;
    void onRotateView(bool landscape) override;
    void didSelectBook(int64_t index, const std::optional<ui::IndexPath>& indexPath) override;
    // Every entry but theme files and "Shared Documents" has a detail screen.
    bool isEnableDetailButton(int64_t index) override;
    void tableViewAccessoryButtonTappedForRowWithIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;
    // Installs the theme package at `path`, then opens the theme list over
    // this screen; a refused package is told in an alert.
    void installThemeFile(const std::string& path);

    // ---- Own operations ---------------------------------------------------------------------
    // Asks every local list on the navigation stack to read its folder again.
    static void setNeedUpdateFlag(ui::NavigationController* navigationController);
    void setPathFromBooksIfRootView();
    void updateItemList();
    void timerCheckLocalFile();
    // The root's download-folder entry no longer counts what the folder holds.
    bool downloadsChanged() const;
    void restoreLastStatus(bool force);
    void jumpStart();
    void jumpToUrl();
    void openRemoteUrl(const std::string& url);
    // A web address handed in at launch names a folder when it ends with
    // "/", or when its last component is no book, PDF or theme name and it
    // has no query (no download would take it as a file): the folder's
    // address with its final "/". Nothing for a file's address.
    static std::optional<std::string> webFolderURL(const std::string& url);
    // Opens a stored site or a shortcut's site (a site record) as a remote
    // list. A record marked "isDocumentPicker" is a book brought in from
    // outside instead: the navigation goes back to the root list, which
    // opens "file" a tenth of a second later.
    void didSelectMediaServer(const sys::PlistDictionary& info);
    // The root list re-read and the entry named as `path`'s last component
    // opened as a tap on it would.
    void openDocumentPickerFile(const std::string& path);
    // The site record of a shortcut file; nothing when it is not a
    // dictionary with a non-empty "url".
    static std::optional<sys::PlistDictionary> readShortcut(const std::string& path);
    // The transfer screens (the site list first).
    void onDownLoadBtn();
    // What a shortcut row's detail opens: its site in the site editor (not
    // for cloud shortcuts, whose only detail is their name).
    void openShortcutSiteEditor(int64_t index);
    // The detail of an entry (its detail button, or a long press): folder
    // information (after the passcode of a locked folder), file information,
    // the library site's delete screen or a shortcut's site editor.
    void didSelectDetailBtn(int64_t index);
    // Pushes the folder information screen of the folder at `fullPath`.
    void moveToFolderDetailView(const std::string& fullPath);
    // The site editor's "Save" for the shortcut whose editor is open: the
    // file renamed to `name` when that name can be taken, the given values
    // put in, the password into the key chain under the shortcut's id.
    bool saveShortcut(const std::optional<std::string>& url, const std::optional<std::string>& name,
                      const std::optional<std::string>& userName, const std::optional<std::string>& password,
                      const std::optional<sys::PlistDictionary>& other);
    const std::optional<std::string>& lastSelectShortcutName() const { return lastSelectShortcutName_; }
    void resumeLastReading(const std::string& name);
    // "Resume reading book?" about the book `name` of this folder.
    void askToResume(const std::string& name);
    void gotoTheNextFolder(const std::string& relative);
    void openNextFolder(const std::string& pathFromBooks, bool isNext);
    void showToolBar();
    void didSelectDirectory(int64_t index);
    void moveToFolder(const std::string& pathFromBooks);
    void moveToFolderDo(const std::string& pathFromBooks);
    // Opening a book: a busy sign, then (on the next turn, so that it is
    // drawn) the book opens in the reading screen.
    virtual void startLoadBookWithIndicator(const ItemRef& item, const std::optional<std::string>& password,
                                            const std::optional<std::string>& targetFolder, bool useBookmark,
                                            bool animated, bool notExpand, bool showIndicator, bool showRarInfomation);
    // Opens the book and pushes the reading screen; false when it could not
    // be opened (the user is told).
    bool startLoadBook(const std::string& pathFromBooks, const std::optional<std::string>& password,
                       const std::optional<std::string>& targetFolder, bool useBookmark, bool animated);
    // How this screen opens books (sheets, inner archives and folders,
    // passwords, the neighbouring book); made on first use.
    LocalBookOpener& bookOpener();
    // A book handed to the program (another program, the command line):
    // any search ends, the list is read again and the book named `name` of
    // this folder opens as a tap on it would open it (an archive holding
    // another is offered to expand), at its last page read. False when the
    // folder has no such book.
    bool openHandedOverBook(const std::string& name);
    // The book given as the program starts, prepared while the start screen
    // played (PreparedBookOpen::readyToShow), opened over this root list
    // before the list has read its folder or been shown, so that the reading
    // screen is the first thing drawn. False (nothing done) when `fullPath`
    // is not in this folder. The list's own start follows with
    // finishUnderBookShownFirst, once that frame is on the screen.
    bool openBookFirst(const std::string& fullPath);
    // What the list's start did before the book opened over it: reads its
    // folder, selects the book in it, and records where the library is.
    void finishUnderBookShownFirst();
    // The book, PDF or picture named `name` of this folder, read again from
    // the disk (a search ends so that it is listed); null when there is none.
    std::shared_ptr<FilelistItem> bookItemNamed(const std::string& name);
    // Opens the folder `name` of this folder and reads its pictures as one
    // book, where they were last read (from the first when never), as
    // opening the folder and its first picture would. False when there is
    // no such folder.
    bool openHandedOverFolder(const std::string& name);

    // ---- The reading screen's questions -------------------------------------------------------
    void finishReadBook(const std::string& fileName) override;
    bool reOpenNextBook(const std::string& fileName, const std::optional<std::string>& targetFolder, bool isNext,
                        bool* closeAnimation) override;
    int64_t getNextBookIndex(const std::string& fileName, const std::optional<std::string>& targetFolder,
                             bool isNext) override;

    // Renames the folder of the row chosen for its detail screen; false when
    // the name is refused or the rename fails.
    bool changeDirectoryName(const std::string& name) override;
    // Renames a shortcut file of this folder to `name` + ".shortcut".
    bool renameShortcut(const std::string& fileName, const std::string& name);
    // The name screens' answers: the temporary folder's shown name (tag 0)
    // and a cloud shortcut's name (tag 1, the file name as user info).
    // Always closes the screen; an empty text changes nothing.
    bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                           const std::string& original) override;
    // Pushes the one-line name screen the detail button opens for the
    // temporary folder and for cloud shortcuts.
    void pushNameInput(int64_t tag, const std::string& label, const std::string& text, const std::string& userInfo);
    // Whether a typed name may name a folder or book: not empty, not "." or
    // "..", no "/" or NUL, not over kMaxNameBytes, and not starting with ".",
    // "?" or "*" (except a locked-folder name when `allowLockedName`).
    static bool isAcceptableEntryName(const std::string& name, bool allowLockedName);

    // ---- Folder reading (exposed for the tests) -----------------------------------------------
    struct DirectoryEntry {
        std::string name;
        bool isDirectory = false;
    };
    // The names of a folder in directory order, with whether each is a
    // folder ("." and ".." left out). Entries whose type the directory does
    // not tell are asked with lstat. Nothing when the folder cannot be read.
    static std::optional<std::vector<DirectoryEntry>> readDirectoryEntries(const std::string& folder);
    // What an entry of the open folder `dirFd` is, from its directory type,
    // or with lstat when the type is unknown (and stat only for a link).
    struct EntryType {
        bool isDirectory = false;  // the entry itself: a link is never a folder
        bool isSpecial = false;    // a pipe, socket or device (or a link to one): never a book, never listed
    };
    static EntryType entryType(int dirFd, const char* name, unsigned char dType);
    // The first element of the folder's ".history.lbs" when it is a string; "" otherwise.
    static std::string readLastReadName(const std::string& folder);
    // The names of a ".userlist.sort" array; entries that are not strings are skipped.
    static std::optional<std::vector<std::string>> readUserOrder(const std::string& file);
    // The book path of the settings folder's ".last.lbs" when it is a string.
    static std::optional<std::string> readLastBookPath(const std::string& file);

    // ---- Editing (LocalFilelistViewControllerEdit.cpp) -----------------------------------------
    void onEditBtn();
    void onEditDone();
    // Tells the visible rows the edit mode.
    void onChangeEditMode();
    // The folder, download-folder, shared-documents and library entries can never be selected.
    static bool canSelectForEdit(int32_t type);
    bool isCanEditItem(int64_t index) override;
    bool isSelectedWithIndexNo(int64_t index) override;
    void didSelectBookInEditModeWithIndexNo(int64_t index) override;
    void onSelectAllBtn();
    int64_t fileSelectedCount() const { return fileSelectedCount_; }
    ui::BarButtonItem* editMoveItemBtn() const { return editMoveItemBtn_.get(); }
    ui::BarButtonItem* editDeleteItemBtn() const { return editDeleteItemBtn_.get(); }
    // Moving: the folder picker, then its answer.
    void onMoveFiles();
    void finishSelectFolder(FolderSelectViewController& picker, const std::optional<std::string>& folder) override;
    // Moves the selected entries into `folder` (last first); how many failed.
    // A folder is never moved into itself or below itself, and nothing
    // already at the destination is replaced.
    int moveSelectedTo(const std::string& folder);
    // Whether `destination` is `folder` itself or lies inside it.
    static bool isSameOrInsideFolder(const std::string& folder, const std::string& destination);
    // Deleting: the question, then the selected entries (an entry leaves the
    // list only once its file is gone).
    void onDeleteFiles();
    void deleteFilesDo();
    bool tableViewCommitsEditingStyle(ui::TableView&) override;
    void tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& indexPath) override;
    // A new folder "Untitled Folder" (then " 2", " 3"...), last in the user order.
    bool addNewFolder();
    // The first free name of `base`, `base 2`, `base 3`... in `folder`.
    static std::string freeFolderName(const std::string& folder, const std::string& base);
    // Writes the names of the entries in their shown order as the user order.
    bool writeUserOrder();
    // Drag reordering in the bookshelf.
    bool onLongPress(int64_t index, ui::Point point, ui::View* view) override;
    using FilelistBaseViewController::touchesMoved;
    void touchesMoved(ui::Point point, ui::View* view) override;
    void touchMovingFinish(ui::View* view) override;
    bool isDragging() const override { return dragginbBtn_ != nullptr; }
    int64_t draggingItemIndex() const { return draggingItemIndex_; }
    // The column whose range (bounded by the midpoints between neighbouring
    // slots at `slotX`) holds `x`; past the last midpoint, the last column.
    static int dragColumnForX(double x, const std::vector<double>& slotX);
    // The index a drag over (column, row) aims at, within [0, count - 1].
    static int64_t dragTargetIndex(int column, int row, int perLine, int64_t count);
    // Moves the entry at `from` so that it ends at `target`; its new index.
    static int64_t moveEntry(ItemList& list, int64_t from, int64_t target);
    void changePasscodeSetting(const std::string& path) override;
    // The detail screens of an entry: folder information, file information,
    // or the library site's delete screen. False for other entries.
    bool openEntryDetailScreen(int64_t index);

    // ---- Passcode answers ---------------------------------------------------------------------
    void finishRequestPasscode(const PassCodeTarget& request, bool isSuccess) override;
    void cancelRequestPasscode(const PassCodeTarget& request) override;
    void passCodeInputComplete(int64_t actionID, const std::string& path, const std::string& pathFromBooks,
                               const std::string& passCode) override;
    void passCodeInputCancel(int64_t actionID) override;

    // The "Resume reading book?" answer.
    void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) override;

    // ---- Tool bar ------------------------------------------------------------------------------
    // The scan sheet: in a scan folder "Add Pages" and "Archive This
    // Folder", elsewhere "Scan New Book". Nothing while the popup is open.
    void onScanBtn(const ui::BarButtonItem::Ref& item);
    // Which button of the scan sheet does what (-1: not on the sheet).
    struct ScanSheetButtons {
        int64_t addPage = -1;
        int64_t archive = -1;
        int64_t newBookScan = -1;
    };
    void answerScanSheet(const ScanSheetButtons& buttons, int64_t buttonIndex);
    // The scan sheet's tag.
    static constexpr int64_t kTagScanSheet = 3;
    // Packs this folder's ".jpg" pages, in directory order, into a zip named
    // after the folder beside it; tells the user how it went.
    bool archiveCreate();
    // The first-start help over a nearly empty root list; nearly every
    // action takes it away.
    void AddIniticalHelpView();
    void removeInitialHelpView();
    void layoutInitialStartupHelpView(ui::Size area);
    ui::View* initialHelpView() const { return initialHelpView_.get(); }
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& c) override;
    void onPopupMenu();
    void onRemovePopup() override;
    // Escape closes the popup menu first.
    std::vector<ui::KeyCommand> keyCommands() const override;
    void onRotationLock();
    PopupMenuView* popUpMenuView() const { return popUpMenuView_.get(); }

    // ---- Screen --------------------------------------------------------------------------------
    void viewDidLoad() override;
    // The title and the Edit button, in the language chosen now.
    void setScreenTitles();
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    // The opener shares the open's state: the row chosen, the reopen flags.
    friend class LocalBookOpener;
    std::shared_ptr<LocalFilelistViewController> selfRef();
    void stopCheckTimer();

    ItemList localItemList_;
    int64_t localItemCount_ = -1;
    std::string pathFromBooks_;
    bool dontRestoreLastStatus_ = false;
    // The book opened by openBookFirst, until finishUnderBookShownFirst.
    std::optional<std::string> bookShownFirst_;
    bool openNextFolderMode_ = false;
    bool openFirstImageMode_ = false;
    // The folder opened next was handed over: its list opens its pictures,
    // resuming where they were read.
    bool openHandedOverFolderMode_ = false;
    bool resumeFirstImage_ = false;
    bool needUpdateFileList_ = false;
    bool isHideDownloadFolder_ = false;
    // Books and folders the root's download-folder entry counted.
    int shownDownloads_ = 0;
    sys::RunLoop::TimerRef localReloadCheckTimer_;
    bool reOpenFlag_ = false;
    bool gotoParentFolderBookMode_ = false;
    bool openParentFolderBookIsNext_ = false;
    int64_t folderDetailIndex_ = -1;
    std::shared_ptr<PopupMenuView> popUpMenuView_;
    std::shared_ptr<IndicatorWithBGView> folderIndicator_;
    std::shared_ptr<LocalBookOpener> bookOpener_;
    void endDrag(bool save);
    // The selected entries by their path below the books root: a list read
    // again while editing keeps the selection on the same files.
    std::set<std::string> selectedPaths_;
    int64_t fileSelectedCount_ = 0;
    ui::BarButtonItem::Ref editMoveItemBtn_;
    ui::BarButtonItem::Ref editDeleteItemBtn_;
    std::shared_ptr<BookshelfBookButton> dragginbBtn_;
    int64_t draggingItemIndex_ = -1;
    ui::Point draggingOffset_;
    int draggingPosIndexX_ = -1;
    int draggingPosIndexY_ = -1;
    std::optional<std::string> lastSelectShortcutName_;
    std::shared_ptr<ui::View> initialHelpView_;
    std::shared_ptr<IndicatorWithBGView> archiveIndicator_;
};
