// The root list after a restart and the ways into it from outside: the
// last status restored, jumps from the history, books and folders handed
// over, the book given at start opened over the list, the next folder.
#include "library/LocalFilelistViewController.h"

#include "foundation/ThemeLoader.h"
#include "library/ThemeSelectViewController.h"

#include "library/LocalBookOpener.h"

#include "foundation/ActiveLog.h"
#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "library/LibraryToolbar.h"
#include "foundation/BookHistory.h"
#include "foundation/HistoryCollector.h"
#include "foundation/StatisticsStore.h"
#include "foundation/ui/QNAlertView.h"
#include "viewer/BookViewController.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/Settings.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/PopupMenuView.h"
#include "foundation/ui/TextInputViewController.h"
#include "engine/ZipCreate.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "library/FolderDetailViewControllerEx.h"
#include "library/LibraryServices.h"
#include "library/MediaServerOpener.h"
#include "foundation/QNKeyChain.h"
#include "foundation/QNUrl.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"
#include "viewer/BrightnessSetting.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <utility>

using sys::Path;

// ---- Restore after a restart ------------------------------------------------------------------------

void LocalFilelistViewController::restoreLastStatus(bool force) {
    force = force || LastStatusRestore::getForceEnableGotoLastFoler();
    if (LastStatusRestore::getRestoreMode() == 0) {
        FilelistItem here;
        here.setPathFromBooks(pathFromBooks_);
        LastStatusRestore::updateLastStatusLocal(here);
        return;
    }
    removeInitialHelpView();
    bool removeStack = true;
    if ((settings() && settings()->getIsGotoThelastFolder()) || force) {
        auto next = LastStatusRestore::getNextLocalPath(pathFromBooks_);
        if (next && *next == pathFromBooks_) {
            removeStack = false;
        } else if (next) {
            const std::string target = next->empty() ? std::string() : (pathFromBooks_.empty() ? *next
                                                           : Path::stringByAppendingPathComponent(pathFromBooks_, *next));
            auto full = BookCommon::fromBooksToFromRoot(target);
            if (full && sys::FileManager::fileExists(*full)) {
                gotoTheNextFolder(*next);
                return;
            }
            removeStack = false;
        } else if (LastStatusRestore::isRestoreRemoteFileList()) {
            // The remote lists are rebuilt level by level, each from its saved
            // listing; the last one ends the restore.
            if (auto opener = MediaServerOpener::installed())
                if (opener->restoreRemoteList(selfRef())) return;
            removeStack = false;
        } else {
            std::weak_ptr<ui::ViewController> weak = weak_from_this();
            if (auto jump = LastStatusRestore::getJumpBook()) {
                std::string name = *jump;
                sys::RunLoop::main().schedule(0.0, [weak, name] {
                    if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock()))
                        self->resumeLastReading(name);
                });
            } else {
                const std::string lastFile = BookCommon::getLastBookSettingFilePath();
                auto book = readLastBookPath(lastFile);
                if (!book || book->empty()) sys::FileManager::removeItem(lastFile);
                if (book && !book->empty()) {
                    std::string name = Path::lastPathComponent(*book);
                    const bool silent = BookCommon::getNextSilentResumeFlag() ||
                                        (settings() && settings()->getIsSilentResume()) || force;
                    // Asked about, the book stays recorded until the question is
                    // answered: a run that ends meanwhile asks again at the next start.
                    if (silent) sys::FileManager::removeItem(lastFile);
                    if (silent) {
                        sys::RunLoop::main().schedule(0.0, [weak, name] {
                            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock()))
                                self->resumeLastReading(name);
                        });
                    } else {
                        // A message shown as the library starts (a file given at
                        // start refused) is read first; the question follows it.
                        sys::RunLoop::main().post([weak, name] {
                            QNAlertView::afterNotices([weak, name] {
                                if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock()))
                                    self->askToResume(name);
                            });
                        });
                    }
                }
            }
            LastStatusRestore::removeOldConfigFile();
        }
    }
    if (removeStack) LastStatusRestore::removeRemoteStackFile();
    LastStatusRestore::setRestoreMode(0);
}

void LocalFilelistViewController::askToResume(const std::string& name) {
    auto sheet = std::make_shared<QNActionSheet>();
    sheet->setTitle(BookCommon::localizedStringWithOnOff("Resume reading book?"));
    sheet->addButtonWithTitle(BookCommon::localizedStringWithOnOff("Yes"));
    sheet->addButtonWithTitle(BookCommon::localizedStringWithOnOff("No"));
    sheet->setCancelButtonIndex(1);
    sheet->setUserTag(1);
    sheet->setUserInfo(name);
    sheet->setDelegate(
        std::weak_ptr<QNActionSheetDelegate>(std::static_pointer_cast<QNActionSheetDelegate>(selfRef())));
    sheet->showInView(view(), *this, actionSheetSourceRect());
}

void LocalFilelistViewController::actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) {
    if (sheet.userTag() == kTagScanSheet) {
        if (buttonIndex == sheet.cancelButtonIndex()) return;
        if (const auto* buttons = std::any_cast<ScanSheetButtons>(&sheet.userInfo())) answerScanSheet(*buttons, buttonIndex);
        return;
    }
    if (sheet.userTag() != 1) return;
    const auto* name = std::any_cast<std::string>(&sheet.userInfo());
    // Answered: the next start does not ask again (unless the book is
    // reopened and left open).
    const std::string lastFile = BookCommon::getLastBookSettingFilePath();
    if (auto last = readLastBookPath(lastFile); name && last && Path::lastPathComponent(*last) == *name)
        sys::FileManager::removeItem(lastFile);
    if (buttonIndex == sheet.cancelButtonIndex()) return;
    if (name) resumeLastReading(*name);
}

void LocalFilelistViewController::jumpStart() {
    auto* nav = navigationController();
    if (!isRootViewController()) {
        if (nav) nav->popToRootViewController(false);
        if (nav && !nav->viewControllers().empty())
            if (auto* root = dynamic_cast<LocalFilelistViewController*>(nav->viewControllers().front().get()))
                if (root != this) root->jumpStart();
        return;
    }
    // The walk starts from the root, now that the screen in front has gone:
    // a passcode asked for on the way could not be shown while it went.
    if (LastStatusRestore::getJumpMode() && nav && nav->viewControllers().size() > 1)
        nav->popToRootViewController(false);
    if (LastStatusRestore::getRemoteFolder()) {
        // The root may have started the jump already as it came back on
        // screen; a second one would open the site twice.
        if (!LastStatusRestore::getTryRemoteDoneFlag()) jumpToUrl();
        LastStatusRestore::setTryRemoteDoneFlag(true);
        return;
    }
    LastStatusRestore::setJumpMode(false);
    LastStatusRestore::setRestoreMode(1);
    restoreLastStatus(true);
}

void LocalFilelistViewController::jumpToUrl() {
    auto url = LastStatusRestore::getRemoteFolder();
    LastStatusRestore::removeRemoteStackFile();
    LastStatusRestore::removeAllLastStatus();
    if (!url) return;
    std::string title;
    if (auto t = LastStatusRestore::getRemoteFolderTitle()) title = *t;
    else if (auto u = QNUrl::URLWithString(*url)) title = u->lastPathComponent();
    didSelectMediaServer(sys::PlistDictionary{{"url", sys::PlistValue(*url)},
                                              {"title", sys::PlistValue(title)},
                                              {"rootTitle", sys::PlistValue(title)}});
}

void LocalFilelistViewController::openRemoteUrl(const std::string& url) {
    didSelectMediaServer(sys::PlistDictionary{{"url", sys::PlistValue(url)},
                                              {"title", sys::PlistValue(std::string())},
                                              {"rootTitle", sys::PlistValue(std::string())}});
}

std::optional<std::string> LocalFilelistViewController::webFolderURL(const std::string& url) {
    if (url.empty()) return std::nullopt;
    if (url.back() == '/') return url;
    const size_t scheme = url.find("://");
    const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    if (url.find_first_of("?#", hostStart) != std::string::npos) return std::nullopt;
    const size_t slash = url.find('/', hostStart);
    // "http://host": the server's top folder.
    if (slash == std::string::npos) return url + "/";
    const std::string last = Path::lastPathComponent(url.substr(slash));
    const std::string name = BookCommon::PercentDecodingWithString(last).value_or(last);
    if (BookCommon::isBookorPDFFileorThemeWithFilename(name)) return std::nullopt;
    return url + "/";
}

void LocalFilelistViewController::resumeLastReading(const std::string& name) {
    if (BookCommon::isURL(name)) return;
    LastStatusRestore::setForceEnableGotoLastFoler(false);
    for (const auto& item : itemList()) {
        if (item->filename() && *item->filename() == name) {
            lastSeletItem_ = item;
            startLoadBookWithIndicator(item, std::nullopt, std::nullopt, true, true, true, true, true);
            break;
        }
    }
    LastStatusRestore::setJumpBook(std::nullopt, std::nullopt, std::nullopt);
}

void LocalFilelistViewController::openDocumentPickerFile(const std::string& path) {
    // A search under way would hide the new book.
    endSearch();
    needUpdateFilelist();
    const std::string name = Path::lastPathComponent(path);
    const auto& list = itemList();
    for (size_t i = 0; i < list.size(); ++i) {
        if (!list[i]->filename() || *list[i]->filename() != name) continue;
        didSelectBook(int64_t(i), std::nullopt);
        return;
    }
}

std::shared_ptr<FilelistItem> LocalFilelistViewController::bookItemNamed(const std::string& name) {
    endSearch();
    needUpdateFilelist();
    for (const auto& item : itemList()) {
        const int32_t type = item->type();
        if (item->filename() && *item->filename() == name &&
            (type == kTypeBook || type == kTypePdf || type == kTypeImage))
            return item;
    }
    return nullptr;
}

bool LocalFilelistViewController::openHandedOverBook(const std::string& name) {
    auto item = bookItemNamed(name);
    if (!item) return false;
    lastSeletItem_ = item;
    // Whatever sheet the list had up went away unanswered.
    bookOpener().forgetWaitingForOpenBook();
    const bool image = item->type() == kTypeImage;
    startLoadBookWithIndicator(item, std::nullopt, std::nullopt, !image, true, image, true, true);
    return true;
}

bool LocalFilelistViewController::openBookFirst(const std::string& fullPath) {
    if (isViewLoaded() || !isRootViewController()) return false;
    setPathFromBooksIfRootView();
    if (Path::stringByDeletingLastPathComponent(fullPath) != BookCommon::fromBooksToFromRoot(pathFromBooks_)) return false;
    const std::string name = Path::lastPathComponent(fullPath);
    bookShownFirst_ = name;
    // As a tap on it would open it (openHandedOverBook); the question of
    // archives inside was answered by the preparation.
    const bool image = BookCommon::isImageFileWithFile(fullPath);
    bookOpener().setHoldRecords(true);
    bookOpener().startLoadBook(pathFromBooks_.empty() ? name : Path::stringByAppendingPathComponent(pathFromBooks_, name),
                               std::nullopt, std::nullopt, !image, true);
    bookOpener().setHoldRecords(false);
    return true;
}

void LocalFilelistViewController::finishUnderBookShownFirst() {
    const auto name = std::exchange(bookShownFirst_, std::nullopt);
    if (!name) return;
    bookOpener().writeHeldRecords();
    loadViewIfNeeded();
    if (auto item = bookItemNamed(*name)) lastSeletItem_ = item;
    // Its appearance before the book: where the library is (restore mode
    // as the start set it), and the bar's look given back as a book covers it.
    if (!dontRestoreLastStatus_) restoreLastStatus(false);
    if (nextIsNotFileSelectView()) setTintColor(false);
    setNextIsNotFileSelectView(false);
}

bool LocalFilelistViewController::openHandedOverFolder(const std::string& name) {
    endSearch();
    needUpdateFilelist();
    for (const auto& item : itemList()) {
        if (item->type() != kTypeFolder || !item->filename() || *item->filename() != name) continue;
        // Whatever sheet the list had up went away unanswered.
        bookOpener().forgetWaitingForOpenBook();
        openHandedOverFolderMode_ = true;
        moveToFolder(item->pathFromBooks().value_or(""));
        return true;
    }
    return false;
}

void LocalFilelistViewController::gotoTheNextFolder(const std::string& relative) {
    if (relative.empty()) moveToFolder("");
    else moveToFolder(pathFromBooks_.empty() ? relative : Path::stringByAppendingPathComponent(pathFromBooks_, relative));
}

void LocalFilelistViewController::openNextFolder(const std::string& path, bool isNext) {
    const auto& list = itemList();
    int64_t at = -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->pathFromBooks() && *list[i]->pathFromBooks() == path) at = int64_t(i);
    if (at < 0) return;
    if (isNext) {
        for (size_t i = size_t(at) + 1; i < list.size(); ++i)
            if (list[i]->type() == kTypeFolder) return moveToFolder(list[i]->pathFromBooks().value_or(""));
    } else {
        for (int64_t i = at - 1; i >= 0; --i)
            if (list[size_t(i)]->type() == kTypeFolder) return moveToFolder(list[size_t(i)]->pathFromBooks().value_or(""));
    }
}
