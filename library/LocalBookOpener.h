#pragma once

#include "engine/PageReader.h"
#include "foundation/FilelistItem.h"
#include "foundation/ui/QNActionSheetDelegate.h"
#include "foundation/ui/QNAlertViewDelegate.h"
#include "library/ArchiveExtractViewControllerDelegate.h"
#include "library/ArchivePasswordViewControllerDelegate.h"
#include "library/IncludeFolderSelectViewControllerDelegate.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class Label;
class View;
class ViewController;
}
class QNActionSheet;
class IndicatorWithBGView;
class LocalFilelistViewController;

// How a local list opens a book, a PDF or an image (its folder read as a
// book): the resume-or-first-page sheet, the inner-archive question, the
// inner-folder choice, the archive password, then the reading screen; and,
// for the reading screen, the next or the previous book of the list.
//
// One opener belongs to one list screen and never outlives it; the list is
// held weakly. Its calls run on the main thread, and no page is decoded
// there: a RAR or 7z book is opened and its first view composed on
// PreparedBookOpen's worker, other books' first view on the reading
// screen's worker (a book prepared at start comes composed). The chain of one open is
//   sheet (optional) -> startLoadBookWithIndicator -> solid-archive notice
//   (optional) -> timer -> afterStartLoadBookAndStartIndicator -> inner
//   archive question or inner-folder choice (optional) -> startLoadBook ->
//   password screen (optional, retried through startLoadBook) or viewer,
//   which may still hand back to the password screen when its first page
//   wants one.
class LocalBookOpener : public QNActionSheetDelegate,
                        public QNAlertViewDelegate,
                        public ArchivePasswordViewControllerDelegate,
                        public IncludeFolderSelectViewControllerDelegate,
                        public ArchiveExtractViewControllerDelegate,
                        public std::enable_shared_from_this<LocalBookOpener> {
public:
    using ItemRef = std::shared_ptr<FilelistItem>;

    // Sheet and alert tags of this screen.
    static constexpr int64_t kTagBookSheet = 2;
    static constexpr int64_t kTagSolidNotice = 3;
    // The folder of an EPUB's page images.
    static constexpr const char* kEpubImageFolder = "OEBPS/Images";

    // Which button of a book sheet does what; -1 when the sheet has none.
    struct SheetButtons {
        int64_t bookMark = -1;
        int64_t cameraRoll = -1;
        int64_t zipExpand = -1;
        int64_t noExpandZip = -1;
        int64_t move = -1;
    };
    // What is read from a book before it opens: whether it is solid, the
    // archives and the folders it holds.
    struct BookLook {
        bool solid = false;
        std::optional<std::vector<std::string>> archives;
        std::optional<std::vector<std::string>> folders;
    };
    // An open put off until the busy sign is on screen.
    struct DeferredOpen {
        ItemRef item;
        std::optional<std::string> targetFolder;
        std::optional<std::string> password;
        bool isUseBookmark = false;
        bool isAnimate = false;
        bool notExpand = false;
    };
    // The open to repeat once a password has been typed.
    struct AfterPassword {
        std::string pathFromBooks;
        std::optional<std::string> folder;
        bool isUseBookmark = false;
        bool isAnimate = false;
    };

    explicit LocalBookOpener(std::weak_ptr<LocalFilelistViewController> list);
    ~LocalBookOpener() override;

    // ---- Taps on the list --------------------------------------------------------------
    // A book, PDF or image row was tapped: the sheet, or the open at once.
    void didSelectBook(const ItemRef& item);
    // True while a book sheet is up: the list ignores taps meanwhile.
    bool isNowWaitingForOpenBook() const { return isNowWaitingForOpenBook_; }
    // The book sheet went away unanswered (closed from elsewhere).
    void forgetWaitingForOpenBook() { isNowWaitingForOpenBook_ = false; }
    // While on, the records an open writes (the reading history, the last
    // book, the statistics, the folder's old thumbnail sheet) wait for
    // writeHeldRecords instead of holding back the book's first frame.
    void setHoldRecords(bool on) { holdRecords_ = on; }
    // Writes the records held, in the order the opens made them.
    void writeHeldRecords();

    // ---- The open chain --------------------------------------------------------------------
    void startLoadBookWithIndicator(const ItemRef& item, const std::optional<std::string>& password,
                                    const std::optional<std::string>& targetFolder, bool useBookmark, bool animated,
                                    bool notExpand, bool showIndicator, bool showRarInfomation);
    void afterStartLoadBookAndStartIndicator(const DeferredOpen& record);
    // True when the reading screen (or the password screen) was pushed.
    bool startLoadBook(const std::string& pathFromBooks, const std::optional<std::string>& password,
                       const std::optional<std::string>& targetFolder, bool useBookmark, bool animated);
    // Whether a book opens and composes its first view on a worker (RAR and
    // 7z books), the open going on once that is done; what is read from
    // such a book before (is it solid, what it holds) is read on a worker too.
    static bool opensOnWorker(const std::string& fullPath);
    // True while such an open is at work: Escape gives it up.
    bool isOpeningOnWorker() const { return openingOnWorker_; }
    // Gives up the open at work (its worker left to finish alone).
    void cancelOpenOnWorker();
    // Removes the cover of a next/previous open; on error the bar comes back.
    void hideHideViewWithIsError(bool isError);

    // ---- Answers -----------------------------------------------------------------------------
    void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) override;
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;
    void finishInputPassword(const std::optional<std::string>& password) override;
    void finishSelectIncludeFolder(const std::optional<std::string>& folder, ui::View* forView,
                                   bool isBookMarkded) override;
    // A book taken out of an archive of this list's folder opens as a tap
    // on its new row would open it; its sheets stand over the extract screen.
    void finishExtractFile(const std::string& path, ui::ViewController& screen, const ui::Rect& row) override;

    // ---- The reading screen's questions (through the list, its delegate) -------------------
    // Opens the neighbouring book (or inner folder); true when one is being opened.
    bool reOpenNextBook(const std::string& fileName, const std::optional<std::string>& targetFolder, bool isNext,
                        bool* closeAnimation);
    // The list index of the neighbouring book (types 1 to 3), -1 when there
    // is none: a book at the end of the list has no next one.
    int64_t getNextBookIndex(const std::string& fileName, const std::optional<std::string>& targetFolder,
                             bool isNext);

    // ---- Pieces exposed for the tests --------------------------------------------------------
    // The buttons of the book sheet for a stored position, in order, and
    // which index does what. `page` is the stored page (from 0).
    static std::vector<std::string> bookSheetTitles(int32_t type, long page, bool hasTargetFolder,
                                                    SheetButtons* buttons, int64_t* cancelIndex);
    // Whether a tap shows the sheet: "always" (0) everywhere, "bookshelf"
    // (1) only on the bookshelf, "never" (2) nowhere.
    static bool showsSheet(int showBookOpenActionSelect, int fileListViewMode);
    // The page a resumed book starts at; a stored page the book no longer
    // has starts it from the beginning.
    static int32_t startPageForResume(long storedPage, int pageCount);
    // The inner folder after (or before) `current` among `folders`; nothing
    // at either end or when `current` is not among them.
    static std::optional<std::string> neighbourFolder(const std::vector<std::string>& folders,
                                                      const std::string& current, bool isNext);
    // The text of the cover shown while the neighbouring book opens.
    static std::string coverText(const std::string& fileName, const std::optional<std::string>& folder,
                                 bool optimize);
    // The text of the open-error notice for the session's reason (an
    // untranslated key of the language tables).
    static std::string openErrorMessage(PageReader::OpenFailure failure);

    // Archives that decode only in order (RAR, 7z) warn before their first
    // open. An installed test decides; without one the 7z and RAR readers
    // look at their books, and no other archive counts as solid.
    using SolidArchiveProbe = std::function<bool(const std::string& fullPath)>;
    static void setSolidArchiveProbe(SolidArchiveProbe probe);

    // ---- State, for the list and the tests ---------------------------------------------------
    const std::optional<AfterPassword>& afterPassword() const { return afterPassword_; }
    const std::vector<std::string>& preFileListArray() const { return preFileListArray_; }
    bool prevResumeActionIsYes() const { return prevResumeActionIsYes_; }
    ui::View* reopenHideView() const { return reopenHideView_.get(); }
    IndicatorWithBGView* activityIndicator() const { return activityIndicator_.get(); }

private:
    std::shared_ptr<LocalFilelistViewController> list() const { return list_.lock(); }
    // A tap on a book: the sheet, or the open at once.
    void openAsTapped(const ItemRef& item);
    // Shows a sheet of the open over the screen the tap was on: the list,
    // or the extract screen while it is in front.
    void showSheet(QNActionSheet& sheet);
    void showIndicator();
    void removeIndicator();
    void showOpenError(PageReader::OpenFailure failure);
    // Pushes the archive password screen; the open is retried with its answer.
    bool askForPassword(const std::string& pathFromBooks, const std::optional<std::string>& password,
                        const std::optional<std::string>& folder, bool useBookmark, bool animated);
    void saveImageToCameraRoll(const ItemRef& item);
    void deselectLastRow(bool forget);
    void showReopenCover(const std::string& fileName, const std::optional<std::string>& folder);
    // Opens `entry` (the book at `fileName`) again at `folder`, under its cover.
    void reopenInFolder(const ItemRef& entry, const std::string& fileName, const std::optional<std::string>& folder);
    void writeLastBook(const std::string& pathFromBooks);
    ItemRef itemForBook(const std::string& fileName) const;

    // The open from the busy sign on: a timer, then afterStartLoadBookAndStartIndicator.
    void deferOpen(const ItemRef& item, const std::optional<std::string>& password,
                   const std::optional<std::string>& folder, bool useBookmark, bool animated, bool notExpand,
                   bool showIndicatorNow);
    // The inner-archive question or the inner-folder choice, else the open.
    void afterLookingInside(const DeferredOpen& record, const BookLook& found);
    // Runs `look` on a worker, the busy sign up and Escape giving it up
    // (the worker then finishes alone); `then` gets its answer on the main thread.
    void lookOnWorker(std::function<BookLook()> look, std::function<void(const BookLook&)> then);

    // Writes `record` now, or keeps it for writeHeldRecords.
    void writeRecord(std::function<void()> record);

    std::weak_ptr<LocalFilelistViewController> list_;
    bool holdRecords_ = false;
    std::vector<std::function<void()>> heldRecords_;
    bool isNowWaitingForOpenBook_ = false;
    bool openingOnWorker_ = false;
    // The book this opener last had prepared on the worker.
    std::string preparedBook_;
    sys::Thread lookThread_;
    uint64_t lookGeneration_ = 0;
    bool prevResumeActionIsYes_ = false;
    std::vector<std::string> preFileListArray_;
    std::optional<AfterPassword> afterPassword_;
    std::shared_ptr<IndicatorWithBGView> activityIndicator_;
    std::shared_ptr<ui::View> reopenHideView_;
    sys::RunLoop::TimerRef openTimer_;
    // The extract screen whose tap opens the book, and the row tapped.
    std::weak_ptr<ui::ViewController> sheetScreen_;
    ui::Rect sheetRow_;
};
