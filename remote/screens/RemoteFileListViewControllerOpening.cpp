// The remote list's side of opening a book: the opener's answers (the reading
// screen, errors, passwords, inner folders) and the next book from the reader.
#include "remote/screens/RemoteFileListViewController.h"

#include "cloud/HttpEasy.h"
#include "engine/RemoteStreamRead.h"
#include "engine/ThumbsCreate.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/QNKeyChain.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/PopupMenuView.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "library/ArchivePasswordViewController.h"
#include "library/LibraryServices.h"
#include "library/LibraryToolbar.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "remote/BookTransfer.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/RefreshControl.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "remote/OnlineFileStart.h"
#include "remote/listing/FileDownload.h"
#include "library/IncludeFolderSelectViewController.h"
#include "remote/listing/GoogleDriveShareLink.h"
#include "remote/screens/ShowHttpAuth.h"
#include "viewer/BookViewController.h"
#include "viewer/BrightnessSetting.h"

#include <algorithm>
#include <utility>

void RemoteFileListViewController::onFinishLoadOnlinefile(const std::shared_ptr<BookViewController>& viewer) {
    // The server took the credentials the book was opened with.
    if (bookToRemember_) ShowHttpAuth::rememberAccepted(bookToRemember_->url, bookToRemember_->user, bookToRemember_->password);
    bookToRemember_.reset();
    answerTaken();
    setNextIsNotFileSelectView(true);
    if (auto* nav = navigationController()) nav->pushViewController(viewer, true);
    releaseOnlineFileStartLater();
}

void RemoteFileListViewController::onlineFileError(const std::optional<std::string>& message) {
    bookToRemember_.reset();
    if (auto thumbs = ThumbsCreate::thumbsCreate()) thumbs->suspendTask(false);
    if (message) showAlert(*message);
    releaseOnlineFileStartLater();
    deselectLastRow();
    if (isViewLoaded()) tableView()->reloadData();
    showToolBar();
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(false, true);
}

void RemoteFileListViewController::onlineFileNeedPassword() {
    releaseOnlineFileStartLater();
    auto screen = std::make_shared<ArchivePasswordViewController>();
    screen->setDelegate(std::dynamic_pointer_cast<ArchivePasswordViewControllerDelegate>(selfRef()));
    setNextIsNotFileSelectView(true);
    if (auto* nav = navigationController()) {
        nav->pushViewController(screen, true);
        nav->setNavigationBarHidden(false, true);
    }
}

void RemoteFileListViewController::onlineFileNeedServerPassword(const std::string& url) {
    if (!onlinefileStart_) {
        onlineFileError(std::nullopt);
        return;
    }
    bookToRemember_.reset();
    coversAwaitAnswerTaken_ = false;
    askingForBook_ = true;
    forgetRefusedSitePassword(onlinefileStart_->password());
    showHttpAuth_ = std::make_shared<ShowHttpAuth>();
    showHttpAuth_->setRefusedCredentials(onlinefileStart_->userName(), onlinefileStart_->password());
    showHttpAuth_->getUserAuth(HttpEasy::withoutCredentials(url), std::nullopt, false, false,
                               std::dynamic_pointer_cast<ShowHttpAuthDelegate>(selfRef()));
}

void RemoteFileListViewController::answerForBook(const std::string& url, const std::optional<std::string>& userName,
                                                 const std::optional<std::string>& password, bool isStoredAccount) {
    askingForBook_ = false;
    const bool remembered = isStoredAccount || (showHttpAuth_ && showHttpAuth_->isRememberPassword());
    const bool rememberTyped = showHttpAuth_ && showHttpAuth_->rememberAnswer();
    showHttpAuth_.reset();
    if (!userName || !password || !onlinefileStart_) {
        onlineFileError(std::nullopt);
        return;
    }
    takeAnswer(*userName, *password, remembered, isStoredAccount);
    // Remembered for the site, as a listing's answer is.
    if (rememberTyped) bookToRemember_ = TypedAnswer{siteURL_.value_or(targetURL_.value_or(url)), *userName, *password};
    onlinefileStart_->retryWithCredentials(*userName, *password);
}

void RemoteFileListViewController::answerTaken() {
    if (!std::exchange(coversAwaitAnswerTaken_, false)) return;
    if (auto thumbs = ThumbsCreate::thumbsCreate()) thumbs->makeCoversThatWaitedForPassword();
}

bool RemoteFileListViewController::askBeforeSending(const std::string& url, std::function<void()> then) {
    const auto credentials = credentialsFor(url);
    if (!credentials.userName || credentials.userName->empty() || credentials.password) return false;
    // Only the servers that sign users in with a password (not a cloud drive).
    if (!BookCommon::isURLHttp(url) && !BookCommon::isFTP(url) && !BookCommon::isSMB(url)) return false;
    // A question already up answers for this too.
    if (showHttpAuth_) return true;
    afterAnswer_ = std::move(then);
    showHttpAuth_ = std::make_shared<ShowHttpAuth>();
    showHttpAuth_->getUserAuth(HttpEasy::withoutCredentials(url), credentials.userName, false, false,
                               std::dynamic_pointer_cast<ShowHttpAuthDelegate>(selfRef()));
    return true;
}

bool RemoteFileListViewController::bookNeedsServerPassword(const std::string& fileName) {
    if (showHttpAuth_) return false;
    ItemRef book;
    for (const auto& item : itemList())
        if (item->remoteURL() && *item->remoteURL() == fileName) book = item;
    if (!book) return false;
    lastSeletItem_ = book;
    const auto refused = credentialsFor(fileName);
    bookToRemember_.reset();
    coversAwaitAnswerTaken_ = false;
    forgetRefusedSitePassword(refused.password);
    afterAnswer_ = [weak = std::weak_ptr<RemoteFileListViewController>(selfRef()), book] {
        if (auto self = weak.lock()) self->startOnlineFile(book, std::nullopt, true, false, std::nullopt, 0, ui::Rect{});
    };
    showHttpAuth_ = std::make_shared<ShowHttpAuth>();
    showHttpAuth_->setRefusedCredentials(refused.userName, refused.password);
    showHttpAuth_->getUserAuth(HttpEasy::withoutCredentials(fileName), std::nullopt, isStoredAccount_, false,
                               std::dynamic_pointer_cast<ShowHttpAuthDelegate>(selfRef()));
    return true;
}

void RemoteFileListViewController::answerAskedFirst(const std::optional<std::string>& userName,
                                                    const std::optional<std::string>& password,
                                                    bool isStoredAccount) {
    auto then = std::move(afterAnswer_);
    afterAnswer_ = nullptr;
    const bool remembered = isStoredAccount || (showHttpAuth_ && showHttpAuth_->isRememberPassword());
    const bool rememberTyped = showHttpAuth_ && showHttpAuth_->rememberAnswer();
    showHttpAuth_.reset();
    if (!userName || !password) {
        if (auto thumbs = ThumbsCreate::thumbsCreate()) thumbs->suspendTask(false);
        deselectLastRow();
        return;
    }
    takeAnswer(*userName, *password, remembered, isStoredAccount);
    // The rows' covers, which waited for the password, go with it too.
    for (const auto& item : remoteItemList_) {
        if (!item->remoteUsername() || !isOnSiteOrigin(item->remoteURL().value_or(""))) continue;
        item->setRemoteUsername(userName);
        item->setRemotePassword(password);
    }
    // Made once the server takes the answer (a listing, a book opened).
    coversAwaitAnswerTaken_ = true;
    // Remembered for the site once its server takes it, by a listing or a book.
    if (rememberTyped) {
        const TypedAnswer answer{siteURL_.value_or(targetURL_.value_or("")), *userName, *password};
        toRemember_ = answer;
        bookToRemember_ = answer;
    }
    if (then) then();
}

void RemoteFileListViewController::finishInputPassword(const std::optional<std::string>& password) {
    if (!password) return;
    startOnlineFile(lastSeletItem_, password, true, isStartFromFirstPage_, targetFolderTemp_, targetFolderOffsetTemp_,
                    actionSheetSourceRect());
}

void RemoteFileListViewController::onNeedSelectFolder(const std::vector<std::string>& folders) {
    releaseOnlineFileStartLater();
    auto* nav = navigationController();
    if (!nav || !lastSeletItem_) return;
    auto picker = std::make_shared<IncludeFolderSelectViewController>(ui::TableViewStyle::Plain);
    picker->setSettings_(settings());
    picker->setFolderList_(folders);
    picker->setTargetFile_(lastSeletItem_->remoteURL().value_or(""));
    picker->setDelegate(std::dynamic_pointer_cast<IncludeFolderSelectViewControllerDelegate>(selfRef()));
    setNextIsNotFileSelectView(true);
    nav->pushViewController(picker, true);
    nav->setNavigationBarHidden(false, true);
}

void RemoteFileListViewController::finishSelectIncludeFolder(const std::optional<std::string>& folder, ui::View*,
                                                            bool isBookMarkded) {
    if (!lastSeletItem_) return;
    // "" stands for the whole book: no picker again. The folder last read
    // resumes at its saved page; another starts at its first.
    startOnlineFile(lastSeletItem_, std::nullopt, isBookMarkded, !isBookMarkded, folder.value_or(""), 0,
                    actionSheetSourceRect());
}

void RemoteFileListViewController::onlineFileCancel() {
    if (auto thumbs = ThumbsCreate::thumbsCreate()) thumbs->suspendTask(false);
    deselectLastRow();
    releaseOnlineFileStartLater();
}

void RemoteFileListViewController::deleteCache() {
    checkLastReadingMark();
    if (isViewLoaded()) tableView()->reloadData();
}

void RemoteFileListViewController::resumeLastReading(const std::string& url) {
    if (!BookCommon::isURL(url)) return;
    for (const auto& item : itemList()) {
        if (item->remoteURL() && *item->remoteURL() == url) {
            lastSeletItem_ = item;
            startOnlineFile(item, std::nullopt, true, false, std::nullopt, 0, ui::Rect{});
            return;
        }
    }
}

void RemoteFileListViewController::finishReadBook(const std::string& fileName) {
    (void)fileName;
    needUpdateFilelist();
}

int64_t RemoteFileListViewController::getNextBookIndex(const std::string& fileName,
                                                       const std::optional<std::string>& targetFolder, bool isNext) {
    const auto& list = itemList();
    int64_t at = -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->remoteURL() && *list[i]->remoteURL() == fileName) at = int64_t(i);
    if (targetFolder && at >= 0) return at;
    auto isBook = [&](int64_t i) {
        const int32_t t = list[size_t(i)]->type();
        return t != kTypeFolder && t != kTypeLibraryDownload && t != kTypeDownloadFolder &&
               t != kTypeSharedDocuments && t != kTypeTheme;
    };
    if (isNext) {
        for (int64_t i = at + 1; i < int64_t(list.size()); ++i)
            if (isBook(i)) return i;
    } else {
        for (int64_t i = at - 1; i >= 1; --i)
            if (isBook(i)) return i;
    }
    // Past either end the first row follows, when it is a book: a folder or
    // a theme there would only fail to open.
    if (!list.empty() && isBook(0)) return 0;
    return -1;
}

bool RemoteFileListViewController::reOpenNextBook(const std::string& fileName,
                                                  const std::optional<std::string>& targetFolder, bool isNext,
                                                  bool* closeAnimation) {
    (void)closeAnimation;
    const int64_t i = getNextBookIndex(fileName, targetFolder, isNext);
    if (i < 0 || i >= int64_t(itemList().size())) return false;
    auto item = itemList()[size_t(i)];
    lastSeletItem_ = item;
    if (targetFolder) {
        if (startStreamFile(item, true, true, targetFolder, isNext ? 1 : -1, ui::Rect{})) return true;
    } else if (auto* nav = navigationController()) {
        nav->popToViewController(this, false);
    }
    if (startStreamFile(item, true, true, std::nullopt, 0, ui::Rect{})) return true;
    showToolBar();
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(false, true);
    return false;
}

void RemoteFileListViewController::takeAnswer(const std::string& userName, const std::string& password,
                                              bool remembered, bool isStoredAccount) {
    useRawPassword_ = true;
    rawUsername_ = userName;
    rawPassword_ = password;
    keepsRawPassword_ = remembered;
    isStoredAccount_ = isStoredAccount;
}
