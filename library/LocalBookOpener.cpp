#include "library/LocalBookOpener.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "engine/PageReader7z.h"
#include "engine/PageReaderRar.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/BookHistory.h"
#include "foundation/HistoryCollector.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/Settings.h"
#include "foundation/StatisticsStore.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "library/ArchiveExtractViewController.h"
#include "library/ArchivePasswordViewController.h"
#include "library/IncludeFolderSelectViewController.h"
#include "library/LocalFilelistViewController.h"
#include "library/PreparedBookOpen.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/Thread.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PhotoAlbum.h"
#include "platform/ui/Window.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <utility>

namespace {

using Path = sys::Path;

LocalBookOpener::SolidArchiveProbe& solidProbe() {
    static LocalBookOpener::SolidArchiveProbe probe;
    return probe;
}

// Without an installed test, the readers of this build look at the book.
bool isSolidArchive(const std::string& fullPath) {
    if (solidProbe()) return solidProbe()(fullPath);
    if (BookCommon::is7zFileWithFile(fullPath)) return PageReader7z::isSolidFile(fullPath);
    if (BookCommon::isRARFileWithFile(fullPath)) return PageReaderRar::isSolidArchiveFile(fullPath);
    return false;
}

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

// A looked-up text with its "%d" filled in. The texts come from our own
// tables, but a number is put in by hand rather than through a format call.
std::string withNumber(const std::string& key, long number) {
    std::string text = tr(key);
    const size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(number));
    return text;
}

bool isBookType(int32_t type) {
    return type == FilelistBaseViewController::kTypeBook || type == FilelistBaseViewController::kTypeImage ||
           type == FilelistBaseViewController::kTypePdf;
}

std::vector<std::string> sortedFolders(std::vector<std::string> folders) {
    ArraySort::sortFileListArrayNSString(folders, nullptr);
    return folders;
}

}  // namespace

LocalBookOpener::LocalBookOpener(std::weak_ptr<LocalFilelistViewController> list) : list_(std::move(list)) {}

LocalBookOpener::~LocalBookOpener() {
    if (openTimer_) openTimer_->invalidate();
    // A look into a book still at work is not waited for.
    if (lookThread_.joinable()) sys::Thread::leaveToFinish(std::move(lookThread_));
    if (activityIndicator_) activityIndicator_->removeFromSuperview();
    if (reopenHideView_) reopenHideView_->removeFromSuperview();
}

void LocalBookOpener::setSolidArchiveProbe(SolidArchiveProbe probe) { solidProbe() = std::move(probe); }

// ---- Small pieces --------------------------------------------------------------------------------

bool LocalBookOpener::showsSheet(int showBookOpenActionSelect, int fileListViewMode) {
    if (fileListViewMode == 1) return showBookOpenActionSelect == 0 || showBookOpenActionSelect == 1;
    return showBookOpenActionSelect == 0;
}

int32_t LocalBookOpener::startPageForResume(long storedPage, int pageCount) {
    if (storedPage < 0 || storedPage >= pageCount) return 0;
    return static_cast<int32_t>(storedPage);
}

std::vector<std::string> LocalBookOpener::bookSheetTitles(int32_t type, long page, bool hasTargetFolder,
                                                          SheetButtons* buttons, int64_t* cancelIndex) {
    SheetButtons b;
    int64_t cancel = 0;
    std::vector<std::string> titles;
    const bool image = type == FilelistBaseViewController::kTypeImage;
    const long shown = page + 1;
    if (page < 1) {
        if (image) {
            titles = {tr("Open Selected Image"), tr("Save to Camera Roll"), tr("Cancel")};
            b.cameraRoll = 1;
            cancel = 2;
        } else {
            titles = {tr("Read the first page"), tr("Cancel")};
            cancel = 1;
        }
    } else if (hasTargetFolder) {
        titles = {withNumber("Resume folder (Page %d)", shown), tr("Open another folder"), tr("Cancel")};
        b.bookMark = 0;
        cancel = 2;
    } else if (image) {
        titles = {tr("Open Selected Image"), withNumber("Resume(From page %d)", shown), tr("Save to Camera Roll"),
                  tr("Cancel")};
        b.bookMark = 1;
        b.cameraRoll = 2;
        cancel = 3;
    } else {
        titles = {withNumber("Resume(From page %d)", shown), tr("Read the first page"), tr("Cancel")};
        b.bookMark = 0;
        cancel = 2;
    }
    if (buttons) *buttons = b;
    if (cancelIndex) *cancelIndex = cancel;
    return titles;
}

std::optional<std::string> LocalBookOpener::neighbourFolder(const std::vector<std::string>& folders,
                                                            const std::string& current, bool isNext) {
    auto it = std::find(folders.begin(), folders.end(), current);
    if (it == folders.end()) return std::nullopt;
    const auto index = std::distance(folders.begin(), it);
    const auto next = isNext ? index + 1 : index - 1;
    if (next < 0 || next >= static_cast<long>(folders.size())) return std::nullopt;
    return folders[size_t(next)];
}

std::string LocalBookOpener::coverText(const std::string& fileName, const std::optional<std::string>& folder,
                                       bool optimize) {
    const std::string name =
        optimize ? OptimizeFilename::getOptimizedString(Path::stringByDeletingPathExtension(fileName)) : fileName;
    if (!folder) return name;
    return name + "\n\n(" + *folder + ")";
}

void LocalBookOpener::showIndicator() {
    removeIndicator();
    ui::Window* window = ui::Application::shared().keyWindow();
    if (!window) return;
    activityIndicator_ = std::make_shared<IndicatorWithBGView>();
    window->addSubview(activityIndicator_);
    activityIndicator_->setPosition();
    activityIndicator_->startAnimating();
}

void LocalBookOpener::removeIndicator() {
    if (!activityIndicator_) return;
    activityIndicator_->stopAnimating();
    activityIndicator_->removeFromSuperview();
    activityIndicator_.reset();
}

void LocalBookOpener::deselectLastRow(bool forget) {
    auto l = list();
    if (!l) return;
    if (l->lastSelectIndexPath_ && l->isViewLoaded()) l->tableView()->deselectRowAtIndexPath(*l->lastSelectIndexPath_, true);
    if (forget) l->lastSeletItem_.reset();
}

void LocalBookOpener::writeLastBook(const std::string& pathFromBooks) {
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(pathFromBooks)}),
                                 BookCommon::getLastBookSettingFilePath());
}

std::string LocalBookOpener::openErrorMessage(PageReader::OpenFailure failure) {
    switch (failure) {
    case PageReader::OpenFailure::Damaged: return "The file is damaged or incomplete.";
    case PageReader::OpenFailure::NotArchive: return "The file is not the kind of archive its name says.";
    case PageReader::OpenFailure::Unreadable: return "The file could not be read.";
    case PageReader::OpenFailure::NoReader: return "Books of this kind cannot be opened.";
    case PageReader::OpenFailure::Encrypted: return "Password-protected PDFs cannot be opened.";
    case PageReader::OpenFailure::NoMemory: return "There is not enough memory to unpack this archive.";
    default: return "No viewable pages available.";
    }
}

void LocalBookOpener::showOpenError(PageReader::OpenFailure failure) {
    auto alert = std::make_shared<QNAlertView>(tr("Open error"), tr(openErrorMessage(failure)),
                                               std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                               std::vector<std::string>{});
    alert->show();
}

// ---- A tap on a book ------------------------------------------------------------------------------

void LocalBookOpener::didSelectBook(const ItemRef& item) {
    sheetScreen_.reset();
    openAsTapped(item);
}

void LocalBookOpener::finishExtractFile(const std::string& path, ui::ViewController& screen, const ui::Rect& row) {
    auto l = list();
    if (!l || Path::stringByDeletingLastPathComponent(path) != BookCommon::fromBooksToFromRoot(l->pathFromBooks()))
        return;
    auto item = l->bookItemNamed(Path::lastPathComponent(path));
    if (!item) return;
    sheetScreen_ = screen.weak_from_this();
    sheetRow_ = row;
    openAsTapped(item);
}

void LocalBookOpener::showSheet(QNActionSheet& sheet) {
    auto l = list();
    if (!l) return;
    auto screen = sheetScreen_.lock();
    auto* nav = l->navigationController();
    if (screen && nav && nav->topViewController() == screen.get()) {
        sheet.showInView(screen->view(), *screen, sheetRow_);
        return;
    }
    sheet.showInView(l->view(), *l, l->actionSheetSourceRect());
}

void LocalBookOpener::openAsTapped(const ItemRef& item) {
    auto l = list();
    if (!l || !item || !isBookType(item->type()) || isNowWaitingForOpenBook_) return;
    l->lastSeletItem_ = item;
    const auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
    if (!full) return;
    const auto& settings = l->settings();
    long page = 0;
    long pages = -1;
    std::string target;
    BookCommon::getFilePageInfoWithFilename(*full, &page, nullptr, nullptr, nullptr, nullptr, &pages, &target, nullptr,
                                            settings && settings->iCloudEnable(), nullptr, true);
    const bool image = item->type() == FilelistBaseViewController::kTypeImage;
    const int choice = settings ? settings->showBookOpenActionSelect() : 0;
    if (!showsSheet(choice, l->fileListViewMode())) {
        if (image)
            startLoadBookWithIndicator(item, std::nullopt, std::nullopt, false, true, true, true, true);
        else
            startLoadBookWithIndicator(item, std::nullopt, std::nullopt, page != pages - 1, true, false, true, true);
        return;
    }
    SheetButtons buttons;
    int64_t cancel = 0;
    auto titles = bookSheetTitles(item->type(), page, !target.empty(), &buttons, &cancel);
    auto sheet = std::make_shared<QNActionSheet>();
    sheet->setTitle(item->filename().value_or(""));
    for (const auto& t : titles) sheet->addButtonWithTitle(t);
    sheet->setCancelButtonIndex(cancel);
    sheet->setDelegate(weak_from_this());
    sheet->setUserTag(kTagBookSheet);
    sheet->setUserInfo(buttons);
    isNowWaitingForOpenBook_ = true;
    showSheet(*sheet);
    // A sheet that could not be shown will never answer: taps must not
    // wait for it.
    if (!sheet->alertController()) isNowWaitingForOpenBook_ = false;
}

void LocalBookOpener::actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) {
    if (sheet.userTag() != kTagBookSheet) return;
    isNowWaitingForOpenBook_ = false;
    auto l = list();
    if (!l) return;
    const auto* buttons = std::any_cast<SheetButtons>(&sheet.userInfo());
    if (!buttons) return;
    const ItemRef item = l->lastSeletItem_;
    if (buttonIndex == sheet.cancelButtonIndex() || buttonIndex == buttons->cameraRoll) deselectLastRow(false);
    if (buttonIndex == sheet.cancelButtonIndex()) return;
    if (!item) return;
    if (buttonIndex == buttons->zipExpand) {
        deselectLastRow(false);
        const auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
        auto* nav = l->navigationController();
        if (!full || !nav) return;
        auto screen = std::make_shared<ArchiveExtractViewController>(ui::TableViewStyle::Plain);
        screen->setPreFileListArray_(preFileListArray_);
        screen->setArchiveFile_(*full);
        screen->setSettings_(l->settings());
        screen->setDelegate(std::weak_ptr<ArchiveExtractViewControllerDelegate>(shared_from_this()));
        l->setNextIsNotFileSelectView(true);
        nav->pushViewController(screen, true);
        return;
    }
    if (buttonIndex == buttons->noExpandZip) {
        startLoadBookWithIndicator(item, std::nullopt, std::nullopt, prevResumeActionIsYes_, true, true, true, true);
        return;
    }
    if (buttonIndex == buttons->cameraRoll) {
        saveImageToCameraRoll(item);
        return;
    }
    if (buttonIndex > 1 || buttonIndex < 0) return;
    prevResumeActionIsYes_ = buttonIndex == buttons->bookMark;
    startLoadBookWithIndicator(item, std::nullopt, std::nullopt, prevResumeActionIsYes_, true, false, true, true);
}

void LocalBookOpener::saveImageToCameraRoll(const ItemRef& item) {
    const auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
    if (!full) return;
    gfx::ImageRef image = gfx::ImageDecoder::decodeFile(*full);
    if (!image) image = ImageLoader::imageWithAnyContentsOfFile(*full);
    if (!image) return;
    auto album = ui::PhotoAlbum::shared();
    if (!album) return;
    album->saveImage(image, [](bool, const std::string&) {
        auto alert = std::make_shared<QNAlertView>(tr("Image Saved to Camera Roll"), "",
                                                   std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                   std::vector<std::string>{});
        alert->show();
    });
}

// ---- The open chain ----------------------------------------------------------------------------------

void LocalBookOpener::startLoadBookWithIndicator(const ItemRef& item, const std::optional<std::string>& password,
                                                 const std::optional<std::string>& targetFolder, bool useBookmark,
                                                 bool animated, bool notExpand, bool showIndicatorNow,
                                                 bool showRarInfomation) {
    auto l = list();
    if (!l || !item) return;
    l->lastSeletItem_ = item;
    std::optional<std::string> folder = targetFolder;
    const auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
    if (!full) return;
    if (showRarInfomation && (BookCommon::isRARFileWithFile(*full) || BookCommon::is7zFileWithFile(*full))) {
        const auto& settings = l->settings();
        long page = 0;
        std::string stored;
        BookCommon::getFilePageInfoWithFilename(*full, &page, nullptr, nullptr, nullptr, nullptr, nullptr, &stored,
                                                nullptr, settings && settings->iCloudEnable(), nullptr, false);
        if (!stored.empty()) folder = stored;
        if (page == 0) {
            // Whether it is solid is read from the archive on a worker: the
            // library may be busy decoding another page of it meanwhile.
            std::weak_ptr<LocalBookOpener> weak = weak_from_this();
            const std::string path = *full;
            lookOnWorker(
                [path] {
                    BookLook look;
                    look.solid = isSolidArchive(path);
                    return look;
                },
                [weak, item, password, folder, useBookmark, animated, notExpand, showIndicatorNow,
                 path](const BookLook& look) {
                    auto self = weak.lock();
                    if (!self) return;
                    if (!look.solid) {
                        self->deferOpen(item, password, folder, useBookmark, animated, notExpand, showIndicatorNow);
                        return;
                    }
                    self->removeIndicator();
                    auto l = self->list();
                    if (!l) return;
                    auto alert = std::make_shared<QNAlertView>(
                        tr(BookCommon::isRARFileWithFile(path) ? "RAR infomation" : "7z infomation"),
                        tr("Loading may take time because this file is a \"Solid Archive\""),
                        std::weak_ptr<QNAlertViewDelegate>(self), std::nullopt,
                        std::vector<std::string>{tr("OK"), tr("Cancel")});
                    alert->setCancelButtonIndex(1);
                    alert->setUserTag(kTagSolidNotice);
                    alert->show(l.get());
                });
            return;
        }
    }
    deferOpen(item, password, folder, useBookmark, animated, notExpand, showIndicatorNow);
}

void LocalBookOpener::deferOpen(const ItemRef& item, const std::optional<std::string>& password,
                                const std::optional<std::string>& folder, bool useBookmark, bool animated,
                                bool notExpand, bool showIndicatorNow) {
    DeferredOpen record;
    record.item = item;
    record.targetFolder = folder;
    record.password = password;
    record.isUseBookmark = useBookmark;
    record.isAnimate = animated;
    record.notExpand = notExpand;
    if (showIndicatorNow)
        showIndicator();
    else
        removeIndicator();
    if (openTimer_) openTimer_->invalidate();
    std::weak_ptr<LocalBookOpener> weak = weak_from_this();
    openTimer_ = sys::RunLoop::main().schedule(0, [weak, record] {
        if (auto self = weak.lock()) self->afterStartLoadBookAndStartIndicator(record);
    });
}

void LocalBookOpener::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    if (alert.userTag() != kTagSolidNotice) return;
    auto l = list();
    if (!l) return;
    if (buttonIndex == alert.cancelButtonIndex()) {
        deselectLastRow(true);
        return;
    }
    if (auto item = l->lastSeletItem_)
        startLoadBookWithIndicator(item, std::nullopt, std::nullopt, false, true, true, true, false);
}

void LocalBookOpener::afterStartLoadBookAndStartIndicator(const DeferredOpen& record) {
    openTimer_.reset();
    auto l = list();
    if (!l || !record.item) {
        removeIndicator();
        return;
    }
    const auto full = BookCommon::fromBooksToFromRoot(record.item->pathFromBooks());
    if (!full) {
        removeIndicator();
        return;
    }
    const auto& settings = l->settings();
    const bool wantsFolders = !record.isUseBookmark && settings && settings->isSelectFolder();
    auto look = [path = *full, settings, notExpand = record.notExpand, wantsFolders] {
        BookLook found;
        if (notExpand) return found;
        found.archives = BookReaderEx::getArchiveList(path, false, {}, "", "", settings, sys::PlistDictionary());
        if (wantsFolders && !(found.archives && !found.archives->empty()))
            found.folders = BookReaderEx::getFolderList(path, false, {}, "", "", settings, sys::PlistDictionary());
        return found;
    };
    // A RAR or 7z book's inner archives and folders are read on a worker
    // (the library may be busy decoding meanwhile); other books' here.
    if (!record.notExpand && opensOnWorker(*full)) {
        std::weak_ptr<LocalBookOpener> weak = weak_from_this();
        lookOnWorker(look, [weak, record](const BookLook& found) {
            if (auto self = weak.lock()) self->afterLookingInside(record, found);
        });
        return;
    }
    afterLookingInside(record, look());
}

void LocalBookOpener::afterLookingInside(const DeferredOpen& record, const BookLook& found) {
    auto l = list();
    const auto& item = record.item;
    const auto full = l && item ? BookCommon::fromBooksToFromRoot(item->pathFromBooks()) : std::nullopt;
    if (!full) {
        removeIndicator();
        return;
    }
    std::optional<std::string> folder = record.targetFolder;
    if (!record.notExpand) {
        const auto& settings = l->settings();
        const auto& archives = found.archives;
        if (archives && !archives->empty()) {
            removeIndicator();
            preFileListArray_ = *archives;
            SheetButtons buttons;
            buttons.zipExpand = 0;
            buttons.noExpandZip = 1;
            auto sheet = std::make_shared<QNActionSheet>();
            sheet->setTitle(tr("This file includes another archive. Do you want to extract it?"));
            sheet->addButtonWithTitle(tr("Expand"));
            sheet->addButtonWithTitle(tr("Don't expand"));
            sheet->addButtonWithTitle(tr("Cancel"));
            sheet->setCancelButtonIndex(2);
            sheet->setDelegate(weak_from_this());
            sheet->setUserTag(kTagBookSheet);
            sheet->setUserInfo(buttons);
            showSheet(*sheet);
            return;
        }
        if (!record.isUseBookmark && settings && settings->isSelectFolder()) {
            const auto& folders = found.folders;
            if (folders && !folders->empty()) {
                auto sorted = sortedFolders(*folders);
                if (BookCommon::is_ePubFileWithFile(*full)) {
                    folder = kEpubImageFolder;
                } else if (!(sorted.size() < 2 && settings->isNotSelectOneFolder())) {
                    auto picker = std::make_shared<IncludeFolderSelectViewController>(ui::TableViewStyle::Plain);
                    picker->setSettings_(settings);
                    picker->setFolderList_(std::move(sorted));
                    picker->setTargetFile_(*full);
                    picker->setDelegate(weak_from_this());
                    if (auto* nav = l->navigationController()) nav->pushViewController(picker, true);
                    removeIndicator();
                    return;
                }
            }
        }
    }
    startLoadBook(item->pathFromBooks().value_or(""), record.password, folder, record.isUseBookmark,
                  record.isAnimate);
    if (!openingOnWorker_) removeIndicator();
}

bool LocalBookOpener::opensOnWorker(const std::string& fullPath) {
    return BookCommon::isRARFileWithFile(fullPath) || BookCommon::is7zFileWithFile(fullPath);
}

void LocalBookOpener::lookOnWorker(std::function<BookLook()> look, std::function<void(const BookLook&)> then) {
    if (lookThread_.joinable()) sys::Thread::leaveToFinish(std::move(lookThread_));
    const uint64_t generation = ++lookGeneration_;
    openingOnWorker_ = true;
    if (!activityIndicator_ && !reopenHideView_) showIndicator();
    std::weak_ptr<LocalBookOpener> weak = weak_from_this();
    lookThread_ = sys::Thread(
        [weak, generation, look = std::move(look), then = std::move(then)](const std::atomic<bool>&) {
            BookLook found = look();
            sys::RunLoop::main().post([weak, generation, found = std::move(found), then] {
                auto self = weak.lock();
                // Given up meanwhile (Escape, another open): the answer is dropped.
                if (!self || self->lookGeneration_ != generation || !self->openingOnWorker_) return;
                self->lookThread_.join();
                self->openingOnWorker_ = false;
                then(found);
            });
        },
        "book-look");
}

void LocalBookOpener::cancelOpenOnWorker() {
    if (!openingOnWorker_) return;
    openingOnWorker_ = false;
    ++lookGeneration_;
    if (lookThread_.joinable()) sys::Thread::leaveToFinish(std::move(lookThread_));
    // The worker is not waited for: it finishes alone, its book dropped.
    PreparedBookOpen::discard();
    removeIndicator();
    deselectLastRow(false);
    hideHideViewWithIsError(true);
}

void LocalBookOpener::finishSelectIncludeFolder(const std::optional<std::string>& folder, ui::View*,
                                                bool isBookMarkded) {
    auto l = list();
    if (!l || !l->lastSeletItem_) return;
    startLoadBookWithIndicator(l->lastSeletItem_, std::nullopt, folder, isBookMarkded, true, true, true, false);
}

bool LocalBookOpener::startLoadBook(const std::string& pathFromBooks, const std::optional<std::string>& password,
                                    const std::optional<std::string>& targetFolder, bool useBookmark, bool animated) {
    auto l = list();
    if (!l) return false;
    l->reOpenFlag_ = false;
    const auto fullOpt = BookCommon::fromBooksToFromRoot(pathFromBooks);
    if (!fullOpt) return false;
    const std::string full = *fullOpt;
    // The book handed over at start may still be composing its first page
    // (a large picture) on its worker: it opens once that is done, the
    // window answering meanwhile, rather than waiting for that decoding.
    if (PreparedBookOpen::isPreparing(full)) {
        // This opener's own open of the book is under way: it shows it.
        if (openingOnWorker_ && preparedBook_ == full) return true;
        std::weak_ptr<LocalBookOpener> weak = weak_from_this();
        PreparedBookOpen::whenFinished([weak, pathFromBooks, password, targetFolder, useBookmark, animated] {
            if (auto self = weak.lock()) self->startLoadBook(pathFromBooks, password, targetFolder, useBookmark, animated);
        });
        return true;
    }
    const auto& settings = l->settings();
    std::optional<std::string> folder = targetFolder;
    long storedPage = 0;
    bool storedSecond = false;
    if (useBookmark) {
        std::string stored;
        BookCommon::getFilePageInfoWithFilename(full, &storedPage, &storedSecond, nullptr, nullptr, nullptr, nullptr,
                                                &stored, nullptr, settings && settings->iCloudEnable(), nullptr,
                                                false);
        if (!stored.empty()) folder = stored;
    }

    auto reader = std::make_shared<BookReaderEx>();
    reader->setSettings(settings);
    if (settings) settings->setTargetBook(full);
    // The book handed over at start may be open already, its first view
    // composed while the start screen played; so may a book this opener
    // had prepared.
    const auto prepared = PreparedBookOpen::take(full, password, folder, useBookmark, settings);
    // A RAR or 7z book opens and composes its first view on a worker (its
    // libraries may decode a solid block with a dictionary of a gigabyte
    // for it); the open goes on once that is done, the busy sign up and
    // Escape giving it up meanwhile.
    if (!prepared && opensOnWorker(full)) {
        PreparedBookOpen::startForOpen(full, password, folder, useBookmark, settings);
        openingOnWorker_ = true;
        preparedBook_ = full;
        if (!activityIndicator_ && !reopenHideView_) showIndicator();
        std::weak_ptr<LocalBookOpener> weak = weak_from_this();
        PreparedBookOpen::whenFinished([weak, pathFromBooks, password, targetFolder, useBookmark, animated] {
            auto self = weak.lock();
            if (!self || !self->openingOnWorker_) return;
            self->openingOnWorker_ = false;
            self->startLoadBook(pathFromBooks, password, targetFolder, useBookmark, animated);
            self->removeIndicator();
        });
        return true;
    }
    openingOnWorker_ = false;

    BookHistory history;
    history.setPathFromBooks(pathFromBooks);
    history.setBookTitle(Path::lastPathComponent(pathFromBooks));
    history.setIsLockedFolder(l->isInLockedFolder());
    writeRecord([history] { HistoryCollector::addHistory(history); });

    if (prepared) reader = prepared->reader;
    const bool opened =
        prepared ? prepared->opened : reader->openBookWithName(full, {}, std::nullopt, password, folder, false, false);
    int32_t page = prepared ? prepared->page : 0;
    bool second = prepared && prepared->secondPage;
    if (opened && !prepared) {
        if (useBookmark) {
            page = startPageForResume(storedPage, reader->getPageNum());
            second = page == storedPage && storedSecond;
        } else if (BookCommon::isImageFileWithFile(full)) {
            page = reader->getSelectedImageNo();
        }
    }
    const PageReader::OpenFailure failure = reader->openFailure();
    if (!opened && failure == PageReader::OpenFailure::Password) {
        // Encrypted names: the book cannot even be listed without its password.
        reader->closeBook();
        return askForPassword(pathFromBooks, password, folder, useBookmark, animated);
    }
    if (!opened || page < 0 || page >= reader->getPageNum()) {
        reader->closeBook();
        showOpenError(opened ? PageReader::OpenFailure::None : failure);
        deselectLastRow(false);
        hideHideViewWithIsError(true);
        return false;
    }

    bool landscape = false;
    const PageLoadRequest request = PreparedBookOpen::firstViewRequest(settings.get(), page, second, &landscape);
    // A large picture may take long to decode, a PDF page to draw: the
    // reading screen composes its first view on its worker, answering
    // meanwhile, unless it was composed on a worker already (a book
    // prepared while the start screen played, a RAR or 7z book).
    const bool drawnByScreen = !prepared;

    auto* nav = l->navigationController();
    if (prepared && prepared->loadResult == BookReaderEx::kLoadPassword) {
        reader->closeBook();
        return askForPassword(pathFromBooks, password, folder, useBookmark, animated);
    }
    // The archive's dictionary is larger than this machine gives: no page
    // of it will show, and the user is told why rather than shown none.
    if (reader->isOutOfMemory()) {
        reader->closeBook();
        showOpenError(PageReader::OpenFailure::NoMemory);
        deselectLastRow(false);
        hideHideViewWithIsError(true);
        return false;
    }
    writeRecord([this, pathFromBooks] { writeLastBook(pathFromBooks); });
    auto viewer = std::make_shared<BookViewController>();
    viewer->setOpenFolder(l->folderPath());
    if (holdRecords_) {
        viewer->setWritesLastReadingFileOnLoad(false);
        std::weak_ptr<BookViewController> weakViewer = viewer;
        writeRecord([weakViewer] {
            if (auto v = weakViewer.lock()) v->writeLastReadingFile();
        });
    }
    viewer->setIsStreamingMode(false);
    viewer->setBookReader(reader);
    viewer->setPage(page);
    viewer->setFileName(full);
    viewer->setSettings(settings);
    viewer->setIsLandscape(landscape);
    viewer->setStartTime(sys::Date::now());
    viewer->setDelegate(l.get());
    if (drawnByScreen) {
        viewer->setFirstViewRequest(request);
        // Pages encrypted under names that are not: the password is asked
        // for once the first page says so, and the open done again with it.
        std::weak_ptr<LocalBookOpener> weak = weak_from_this();
        viewer->setFirstViewPasswordHandler([weak, pathFromBooks, password, folder, useBookmark, animated] {
            if (auto self = weak.lock()) self->askForPassword(pathFromBooks, password, folder, useBookmark, animated);
        });
    }
    l->setNextIsNotFileSelectView(true);
    // A book opened while the start screen played shows as the screen
    // ends, not sliding in over the library.
    if (nav) nav->pushViewController(viewer, animated && !prepared);
    hideHideViewWithIsError(false);
    writeRecord([folder = l->folderPath()] {
        if (auto stats = StatisticsStore::sharedStatisticsStore()) stats->incrementBookTotal();
        if (auto thumbs = BookCommon::getThumbsFilenameForFolder(folder, true)) sys::FileManager::removeItem(*thumbs);
    });
    return nav != nullptr;
}

void LocalBookOpener::writeRecord(std::function<void()> record) {
    if (holdRecords_) heldRecords_.push_back(std::move(record));
    else record();
}

void LocalBookOpener::writeHeldRecords() {
    for (auto& record : std::exchange(heldRecords_, {})) record();
}

bool LocalBookOpener::askForPassword(const std::string& pathFromBooks, const std::optional<std::string>& password,
                                     const std::optional<std::string>& folder, bool useBookmark, bool animated) {
    if (reopenHideView_) {
        reopenHideView_->setAlpha(0);
        reopenHideView_->setUserInteractionEnabled(false);
    }
    afterPassword_ = AfterPassword{pathFromBooks, folder, useBookmark, animated};
    auto screen = std::make_shared<ArchivePasswordViewController>();
    screen->setDelegate(weak_from_this());
    screen->setIsPasswordRetry(password.has_value());
    auto l = list();
    auto* nav = l ? l->navigationController() : nullptr;
    if (!nav) return false;
    // Asked on the way from a reading screen to the next book, the bar that
    // screen hid comes back: the password screen has its title and its way
    // back, and the list has its own when it shows again.
    nav->setNavigationBarHidden(false, false);
    if (ui::NavigationBar* bar = nav->navigationBar()) bar->setAlpha(1.0);
    nav->pushViewController(screen, animated);
    return true;
}

void LocalBookOpener::finishInputPassword(const std::optional<std::string>& password) {
    if (!afterPassword_) return;
    const AfterPassword again = *afterPassword_;
    afterPassword_.reset();
    if (!password) return;
    startLoadBook(again.pathFromBooks, password, again.folder, again.isUseBookmark, true);
}

void LocalBookOpener::hideHideViewWithIsError(bool isError) {
    if (reopenHideView_) {
        reopenHideView_->removeFromSuperview();
        reopenHideView_.reset();
    }
    if (!isError) return;
    auto l = list();
    auto* nav = l ? l->navigationController() : nullptr;
    if (!nav) return;
    // The bar comes back where the navigation lays it out (over the status
    // bar, reaching down under it), not moved below the status bar.
    nav->setNavigationBarHidden(false, true);
    if (ui::NavigationBar* bar = nav->navigationBar()) ui::View::animate(0.3, [bar] { bar->setAlpha(1.0); });
}

// ---- Neighbouring books for the reading screen --------------------------------------------------------

LocalBookOpener::ItemRef LocalBookOpener::itemForBook(const std::string& fileName) const {
    auto l = list();
    if (!l) return nullptr;
    const std::string name = Path::lastPathComponent(fileName);
    for (const auto& item : l->itemList())
        if (item && Path::lastPathComponent(item->pathFromBooks().value_or("")) == name) return item;
    return nullptr;
}

int64_t LocalBookOpener::getNextBookIndex(const std::string& fileName, const std::optional<std::string>&,
                                          bool isNext) {
    auto l = list();
    if (!l) return -1;
    const auto& items = l->itemList();
    const std::string name = Path::lastPathComponent(fileName);
    int64_t here = -1;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] && Path::lastPathComponent(items[i]->pathFromBooks().value_or("")) == name) {
            here = int64_t(i);
            break;
        }
    }
    if (here < 0) return -1;
    // Folders, themes, shortcuts and the special folders are stepped over:
    // only books, PDFs and images open in the reading screen.
    for (int64_t i = isNext ? here + 1 : here - 1; i >= 0 && i < int64_t(items.size()); i += isNext ? 1 : -1)
        if (items[size_t(i)] && isBookType(items[size_t(i)]->type())) return i;
    return -1;
}

bool LocalBookOpener::reOpenNextBook(const std::string& fileName, const std::optional<std::string>& targetFolder,
                                     bool isNext, bool* closeAnimation) {
    auto l = list();
    if (!l) return false;
    sys::FileManager::removeItem(BookCommon::getLastBookSettingFilePath());
    ItemRef entry;
    std::optional<std::string> folder;
    if (!targetFolder || targetFolder->empty()) {
        if (BookCommon::isImageFileWithFile(fileName)) {
            // A folder read as a book: its neighbour is the next folder,
            // which the parent list opens once this screen is gone.
            if (l->isRootViewController()) return false;
            l->gotoParentFolderBookMode_ = true;
            l->openParentFolderBookIsNext_ = isNext;
            if (closeAnimation) *closeAnimation = false;
            return false;
        }
        const int64_t index = getNextBookIndex(fileName, targetFolder, isNext);
        if (index < 0) return false;
        entry = l->itemList()[size_t(index)];
    } else {
        const auto& settings = l->settings();
        // A RAR or 7z book's folders are listed on a worker (UnRAR may be
        // busy decoding elsewhere meanwhile): the reading screen goes at
        // once, the cover up and Escape giving the move up; with no folder
        // that way the list is left showing, as a close would leave it.
        if (opensOnWorker(fileName)) {
            entry = itemForBook(fileName);
            if (!entry) return false;
            showReopenCover(entry->filename().value_or(Path::lastPathComponent(fileName)), std::nullopt);
            std::weak_ptr<LocalBookOpener> weak = weak_from_this();
            lookOnWorker(
                [fileName, settings] {
                    BookLook look;
                    look.folders =
                        BookReaderEx::getFolderList(fileName, false, {}, "", "", settings, sys::PlistDictionary());
                    return look;
                },
                [weak, entry, fileName, current = *targetFolder, isNext](const BookLook& found) {
                    auto self = weak.lock();
                    if (!self) return;
                    const auto next =
                        found.folders ? neighbourFolder(sortedFolders(*found.folders), current, isNext) : std::nullopt;
                    if (!next) {
                        BookCommon::setShortcutMenu(0, std::nullopt);
                        self->hideHideViewWithIsError(true);
                        return;
                    }
                    self->reopenInFolder(entry, fileName, next);
                });
            return true;
        }
        auto folders = BookReaderEx::getFolderList(fileName, false, {}, "", "", settings, sys::PlistDictionary());
        if (!folders) return false;
        folder = neighbourFolder(sortedFolders(*folders), *targetFolder, isNext);
        if (!folder) return false;
        entry = itemForBook(fileName);
        if (!entry) return false;
    }
    reopenInFolder(entry, fileName, folder);
    return true;
}

void LocalBookOpener::reopenInFolder(const ItemRef& entry, const std::string& fileName,
                                     const std::optional<std::string>& folder) {
    auto l = list();
    if (!l) return;
    l->lastSeletItem_ = entry;
    l->reOpenFlag_ = true;
    showReopenCover(entry->filename().value_or(Path::lastPathComponent(fileName)), folder);
    startLoadBookWithIndicator(entry, std::nullopt, folder, false, false, true, false, false);
    writeLastBook(entry->pathFromBooks().value_or(""));
}

void LocalBookOpener::showReopenCover(const std::string& fileName, const std::optional<std::string>& folder) {
    auto l = list();
    auto* nav = l ? l->navigationController() : nullptr;
    if (!nav) return;
    if (reopenHideView_) reopenHideView_->removeFromSuperview();
    const ui::Rect screen = BookCommon::getScreenRectNew();
    auto cover = std::make_shared<ui::View>(screen);
    cover->setBackgroundColor(ui::Color::black());
    const double height = screen.height() - 90 - (folder ? 70 : 0);
    auto label = std::make_shared<ui::Label>(
        ui::Rect(20, (screen.height() - height) / 2, screen.width() - 40, std::max(0.0, height)));
    label->setNumberOfLines(0);
    label->setTextAlignment(ui::TextAlignment::Center);
    label->setTextColor(ui::Color::whiteColor());
    const bool optimize = l->settings() && l->settings()->isOptimizeFilename();
    label->setText(coverText(fileName, folder, optimize));
    cover->addSubview(label);
    auto spinner = std::make_shared<IndicatorWithBGView>();
    cover->addSubview(spinner);
    spinner->setPosition();
    spinner->startAnimating();
    nav->view()->addSubview(cover);
    reopenHideView_ = cover;
}
