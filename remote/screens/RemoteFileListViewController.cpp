#include "remote/screens/RemoteFileListViewController.h"

#include "cloud/TrustedServer.h"
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
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/PopupMenuView.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "library/ArchivePasswordViewController.h"
#include "library/BookshelfBookButton.h"
#include "library/LibraryServices.h"
#include "library/LibraryToolbar.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "remote/BookTransfer.h"
#include "remote/BookTransferViewController.h"
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
#include <unordered_set>

namespace {

using Path = sys::Path;

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

constexpr const char* kStreamModeKey = "isStreamMode";
constexpr const char* kStreamModeHintKey = "isStreamModeHintUnnecessary";
constexpr const char* kNeverAskPdfKey = "NeverAskPdfStreamingNotice";
constexpr size_t kTitleBytes = 1024;

}  // namespace

RemoteFileListViewController::RemoteFileListViewController(ui::TableViewStyle style)
    : FilelistBaseViewController(style) {}

RemoteFileListViewController::~RemoteFileListViewController() {
    if (fileDownload_) {
        fileDownload_->setDelegate(nullptr);
        fileDownload_->cancelFileListDownload();
    }
    if (activityIndicator_) activityIndicator_->removeFromSuperview();
    observeKeyboard(false);
    if (downloadButton_) downloadButton_->removeFromSuperview();
}

std::shared_ptr<RemoteFileListViewController> RemoteFileListViewController::selfRef() {
    return std::dynamic_pointer_cast<RemoteFileListViewController>(shared_from_this());
}

// ---- Properties -----------------------------------------------------------------------------------

namespace {

// The info of an entry as the rows read it: the size as a number of bytes,
// whatever the listing (or a list saved by an older version) wrote.
RemoteFileListViewController::InfoRef sharedInfo(sys::PlistDictionary info) {
    // What the rows need of an entry, no more: a folder at the listing's
    // limit has hundreds of thousands of rows. They keep the listing's order
    // themselves: an entry's place in it is not kept a second time.
    info.remove(RemoteFileEntry::kOrder);
    // Only a mark that an entry is a book tells the rows anything
    // (isDirectory): one that it is none is not kept either.
    if (info.contains(RemoteFileEntry::kIsBook) && !info.getBool(RemoteFileEntry::kIsBook))
        info.remove(RemoteFileEntry::kIsBook);
    if (auto bytes = RemoteFileEntry::bookSize(info)) {
        info.set(RemoteFileEntry::kBookSize, sys::PlistValue(*bytes));
    } else {
        info.remove(RemoteFileEntry::kBookSize);
    }
    return std::make_shared<const sys::PlistDictionary>(std::move(info));
}

}  // namespace

std::optional<sys::PlistArray> RemoteFileListViewController::fileListArray() const {
    sys::PlistArray out;
    if (!forEachListEntry([&](const std::string& url, const sys::PlistDictionary&) { out.push_back(sys::PlistValue(url)); })) {
        return std::nullopt;
    }
    return out;
}

void RemoteFileListViewController::setFileListArray(const std::optional<sys::PlistArray>& list) {
    takeListsBack();
    fileList_.clear();
    hasLists_ = list.has_value();
    if (list)
        for (const auto& v : *list) fileList_.push_back(v.isString() ? v.asString() : std::string());
    rowsBuilt_ = false;
}

std::optional<sys::PlistArray> RemoteFileListViewController::infoListArray() const {
    sys::PlistArray out;
    if (!forEachListEntry([&](const std::string&, const sys::PlistDictionary& info) { out.push_back(sys::PlistValue(info)); })) {
        return std::nullopt;
    }
    return out;
}

void RemoteFileListViewController::setInfoListArray(const std::optional<sys::PlistArray>& list) {
    takeListsBack();
    infoList_.clear();
    if (list)
        for (const auto& v : *list) infoList_.push_back(sharedInfo(v.isDictionary() ? v.asDictionary() : sys::PlistDictionary()));
    rowsBuilt_ = false;
}

void RemoteFileListViewController::setLists(std::vector<std::string> files, std::vector<sys::PlistDictionary> infos) {
    listsInRows_ = false;
    fileList_ = std::move(files);
    infoList_.clear();
    infoList_.reserve(fileList_.size());
    for (size_t i = 0; i < fileList_.size(); ++i) {
        infoList_.push_back(sharedInfo(i < infos.size() ? std::move(infos[i]) : sys::PlistDictionary()));
    }
    infos = {};
    hasLists_ = true;
    rowsBuilt_ = false;
}

std::vector<std::string> RemoteFileListViewController::fileList() const {
    std::vector<std::string> out;
    forEachListEntry([&](const std::string& url, const sys::PlistDictionary&) { out.push_back(url); });
    return out;
}

bool RemoteFileListViewController::forEachListEntry(const EntryVisitor& visit) const {
    if (!hasLists_) return false;
    static const sys::PlistDictionary none;
    if (listsInRows_) {
        for (const auto& item : remoteItemList_) {
            visit(item->remoteURL().value_or(""), item->remoteInfoOrEmpty());
        }
        return true;
    }
    for (size_t i = 0; i < fileList_.size(); ++i) {
        visit(fileList_[i], i < infoList_.size() && infoList_[i] ? *infoList_[i] : none);
    }
    return true;
}

void RemoteFileListViewController::takeListsBack() {
    if (!listsInRows_) return;
    listsInRows_ = false;
    fileList_.clear();
    infoList_.clear();
    for (const auto& item : remoteItemList_) {
        fileList_.push_back(item->remoteURL().value_or(""));
        infoList_.push_back(item->sharedRemoteInfo() ? item->sharedRemoteInfo() : sharedInfo(sys::PlistDictionary()));
    }
}

std::vector<const RemoteFileListState*> RemoteFileListViewController::navigationStackForStatus() const {
    std::vector<const RemoteFileListState*> out;
    auto* nav = const_cast<RemoteFileListViewController*>(this)->navigationController();
    if (!nav) return out;
    for (const auto& vc : nav->viewControllers())
        out.push_back(dynamic_cast<const RemoteFileListViewController*>(vc.get()));
    return out;
}

std::optional<std::string> RemoteFileListViewController::currentUserName() const {
    return useRawPassword_ ? rawUsername_ : fixUsername_;
}

std::optional<std::string> RemoteFileListViewController::currentPassword() const {
    if (useRawPassword_) return rawPassword_;
    if (!fixID_) return std::nullopt;
    if (auto own = QNKeyChain::getPasswordWithAccount(*fixID_, std::string(kSiteKeychainService))) return own;
    // A site without a password of its own (one refused is forgotten) goes
    // with the one remembered for its address, as its opening does.
    const std::optional<std::string>& site = siteURL_ ? siteURL_ : targetURL_;
    if (!site || !fixUsername_) return std::nullopt;
    QNKeyChain::OptString user, password;
    QNKeyChain::getAccountWithURL(*site, &user, &password);
    return user == fixUsername_ ? password : std::nullopt;
}

RemoteFileListViewController::Credentials RemoteFileListViewController::credentialsFor(const std::string& url) const {
    if (!isOnSiteOrigin(url)) return {};
    return {currentUserName(), currentPassword()};
}

void RemoteFileListViewController::forgetRefusedSitePassword(const std::optional<std::string>& refused) {
    if (useRawPassword_ || !fixID_) return;
    ShowHttpAuth::forgetRefusedSitePassword(*fixID_, refused);
}

bool RemoteFileListViewController::isOnSiteOrigin(const std::string& url) const {
    const std::optional<std::string>& site = siteURL_ ? siteURL_ : targetURL_;
    return site && HttpEasy::sameOrigin(*site, url);
}

// ---- Rows -------------------------------------------------------------------------------------------

std::string RemoteFileListViewController::typedName(const std::string& url, const sys::PlistDictionary& info) {
    const std::string ext = info.getString("extension");
    if (ext.empty()) return url;
    const auto q = url.find('?');
    if (q != std::string::npos) return url.substr(0, q) + "." + ext + url.substr(q);
    return url + "." + ext;
}

bool RemoteFileListViewController::isDirectory(const std::string& url, const sys::PlistDictionary& info) {
    if (info.contains("isBook") && info.getBool("isBook")) return false;
    if (info.contains("isFolder") && info.getBool("isFolder")) return true;
    if (url.size() >= 2 && url.back() == '/') return true;
    return !BookCommon::isBookorPDFFileorThemeWithFilename(url);
}

bool RemoteFileListViewController::isStreamingFile(const std::string& name, const std::string& folderURL) {
    if (BookCommon::isZIPFileWithFile(name) || BookCommon::isImageFileWithFile(name) ||
        BookCommon::isPDFFileWithFile(name))
        return true;
    return BookCommon::isRARFileWithFile(name) && BookCommon::isSMB(folderURL);
}

std::optional<std::string> RemoteFileListViewController::lastUrlComponentString(
    const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t slash = text->find('/', start);
        parts.push_back(text->substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::string last = parts.back();
    if (last.empty()) last = parts.size() >= 2 ? parts[parts.size() - 2] : "/";
    std::vector<char> buffer(kTitleBytes + 1, '\0');
    const size_t n = UrlPercent::decode(last.c_str(), buffer.data(), kTitleBytes);
    const std::string bytes(buffer.data(), std::min(n, kTitleBytes));
    if (QNTextEncoding::stringWithCString(bytes.c_str(), std::string(QNTextEncoding::kUTF8))) return bytes;
    if (auto detected = QNTextEncoding::stringWithCString(bytes.c_str())) return *detected;
    return tr("(Unknown character set)");
}

RemoteFileListViewController::ItemList RemoteFileListViewController::fileListToItemArray(std::vector<std::string> files,
                                                                                        std::vector<InfoRef> infos) {
    imageListArray_.clear();
    for (const auto& url : files)
        if (BookCommon::isImageFileWithFile(url)) imageListArray_.push_back(url);
    std::vector<std::string> keys;
    for (const auto& url : imageListArray_) {
        std::string altered = url;
        std::replace(altered.begin(), altered.end(), '%', '@');
        auto parsed = QNUrl::URLWithString(altered);
        keys.push_back(parsed ? parsed->lastPathComponent() : altered);
    }
    ArraySort::sortFileListArrayNSString(keys, &imageListArray_);

    const bool googleDrive = targetURL_ && BookCommon::isGoogleDrive(*targetURL_);
    const auto options = otherSetting_ ? std::make_shared<const sys::PlistDictionary>(*otherSetting_) : nullptr;
    // credentialsFor, with the credentials looked up once for all the rows.
    const std::optional<std::string> user = currentUserName(), password = currentPassword();
    ItemList items;
    items.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string& url = files[i];
        const InfoRef shared = i < infos.size() && infos[i] ? std::move(infos[i]) : sharedInfo(sys::PlistDictionary());
        const sys::PlistDictionary& info = *shared;
        auto item = std::make_shared<FilelistItem>();
        std::string name = info.getString("name", FileDownload::fileNameFromURL(url));
        if (googleDrive && info.contains("googleDriveTitle")) name = info.getString("googleDriveTitle");
        item->setFilename(name);
        item->setLocation(FilelistItem::kRemote);
        if (info.contains("extension")) item->setRemoteExtension(info.getString("extension"));
        const std::string typed = typedName(url, info);
        int32_t type = kTypeFolder;
        if (!isDirectory(url, info)) {
            if (BookCommon::isImageFileWithFile(typed)) type = kTypeImage;
            else if (BookCommon::isPDFFileWithFile(typed)) type = kTypePdf;
            else if (BookCommon::isBookFileWithFilename(typed)) type = kTypeBook;
            else if (BookCommon::isThemeFileWithFile(typed)) type = kTypeTheme;
            else type = 9;
        }
        item->setType(type);
        // The row's key in the synced reading records is worked out when one
        // changes (FilelistBaseViewController): none is kept per row.
        if (auto when = RemoteFileEntry::bookDate(info)) item->setCreationDate(sys::Date(double(*when)));
        if ((user || password) && isOnSiteOrigin(url)) {
            item->setRemoteUsername(user);
            item->setRemotePassword(password);
        }
        item->setRemoteURL(std::move(files[i]));
        item->setRemoteInfo(shared);
        item->setRemoteOtherSettings(options);
        items.push_back(std::move(item));
    }
    return items;
}

RemoteFileListViewController::ItemList RemoteFileListViewController::getFileListArray() {
    if (!rowsBuilt_) {
        remoteItemList_ = fileListToItemArray(std::move(fileList_), std::move(infoList_));
        rowsBuilt_ = true;
        // From here on the rows hold the listing: a folder of many entries is
        // kept once.
        listsInRows_ = true;
        fileList_ = {};
        infoList_ = {};
    }
    updateFileInfo();
    checkLastReadingMark();
    return remoteItemList_;
}

void RemoteFileListViewController::updateFileInfo() {
    const bool cloud = settings() && settings()->iCloudEnable();
    const std::string folder = targetURL_.value_or("");
    // A book never opened here has no folder of records: one look at the
    // records' folder spares each such row its own looks for files (a list
    // may hold hundreds of thousands). Synced records need no folder.
    std::optional<std::unordered_set<std::string>> recorded;
    if (!cloud) {
        const std::string base = BookCommon::getOnlineBookConfingBaseFolder();
        if (auto names = sys::FileManager::contentsOfDirectory(base)) {
            recorded.emplace(names->begin(), names->end());
        } else if (!sys::FileManager::fileExists(base)) {
            recorded.emplace();
        }
    }
    int64_t i = 0;
    for (auto& item : remoteItemList_) {
        item->setRemoteOriginalIndexNo(i++);
        const int32_t type = item->type();
        const std::string url = item->remoteURL().value_or("");
        if (type == kTypeBook || type == kTypeImage || type == kTypePdf) {
            const bool mayHaveRecords = !recorded || recorded->count(BookCommon::getOnlineBookConfigFolderName(url));
            item->setIsExistBookmark(mayHaveRecords && BookCommon::isExistBookMark(url));
            long page = 0, pages = 0;
            std::string readingFolder;
            bool twoPage = false;
            std::optional<sys::Date> date;
            if (mayHaveRecords) {
                date = BookCommon::getFilePageInfoWithFilename(url, &page, nullptr, nullptr, nullptr, nullptr, &pages,
                                                               &readingFolder, &twoPage, cloud, nullptr, false);
                if (!date) date = sys::FileManager::modificationDate(BookCommon::getBookSettingFile(url, false));
            }
            item->setBookmarkDate(date);
            item->setReadingPageNo(page);
            item->setNumberOfPages(pages);
            item->setReadingFolder(readingFolder.empty() ? std::nullopt : std::optional<std::string>(readingFolder));
            item->setIs2Pageloaded(twoPage);
            const sys::PlistDictionary* info = item->remoteInfo();
            // Files of a shared Drive folder live on a pseudo host that the
            // stream turns into their download address; one that carries no
            // sound address is never contacted.
            const bool pseudo = url.rfind(GoogleDriveShareLink::kPseudoPrefix, 0) == 0 &&
                                !GoogleDriveShareLink::downloadURL(url);
            item->setRemoteCanStreaming(!pseudo && ((info && info->contains("lbexpand")) ||
                                                    isStreamingFile(typedName(url, info ? *info : sys::PlistDictionary()),
                                                                    folder)));
        } else {
            item->setBookmarkDate(std::nullopt);
        }
        item->setIsSelected(false);
    }
}

int64_t RemoteFileListViewController::cacheStatusFor(const std::string& url, bool lbexpand,
                                                     const std::optional<sys::PlistArray>& cache) const {
    if (!cache || cache->size() < 3) return 0;
    const bool expanded = cache->size() > 3 && (*cache)[3].boolValue();
    if (expanded != lbexpand) return 0;
    const sys::PlistValue& first = (*cache)[0];
    std::string target = url;
    if (BookCommon::isImageFileWithFile(url) && !imageListArray_.empty()) target = imageListArray_.front();
    if (!first.isString() || first.asString() != target) return 0;
    return (*cache)[2].integerValue() != 0 ? 2 : 1;
}

void RemoteFileListViewController::checkLastReadingMark() {
    std::string lastRead;
    if (targetURL_) {
        auto v = sys::PropertyList::readFile(BookCommon::getLastReadingFileStoreFile(*targetURL_));
        if (v && v->isArray() && !v->asArray().empty() && v->asArray()[0].isString()) lastRead = v->asArray()[0].asString();
    }
    std::optional<sys::PlistArray> cache;
    auto c = sys::PropertyList::readFile(RemoteStreamRead::getRemoteCacheFilePath("streaming_cache.plist", false));
    if (c && c->isArray()) cache = c->asArray();
    for (auto& item : remoteItemList_) {
        const std::string url = item->remoteURL().value_or("");
        item->setIsLastReadingFile(!lastRead.empty() && url == lastRead);
        const bool lbexpand = item->remoteInfo() && item->remoteInfo()->contains("lbexpand");
        item->setCacheStatus(cacheStatusFor(url, lbexpand, cache));
    }
}

std::optional<std::string> RemoteFileListViewController::getSortConfigFile() {
    if (!targetURL_) return std::nullopt;
    return BookCommon::getSortSettingFile(*targetURL_);
}

double RemoteFileListViewController::getHeaderHeight() const {
    const bool newer = sys::DeviceProfile::current().systemMajorVersion() >= 26;
    if (fileListViewMode() == 1) return newer ? 160.0 : 150.0;
    return newer ? 260.0 : 250.0;
}

// ---- Listing ------------------------------------------------------------------------------------------

std::shared_ptr<RemoteFileListViewController> RemoteFileListViewController::makeChild() const {
    auto child = std::make_shared<RemoteFileListViewController>(ui::TableViewStyle::Plain);
    child->setDownloadPath(downloadPath_);
    child->setOtherSetting(otherSetting_);
    child->setUseRawPassword(useRawPassword_);
    child->setRawUsername(rawUsername_);
    child->setRawPassword(rawPassword_);
    child->setKeepsRawPassword(keepsRawPassword_);
    child->setFixUsername(fixUsername_);
    child->setFixID(fixID_);
    child->setSiteURL(siteURL_ ? siteURL_ : targetURL_);
    child->setReturnToViewController(returnToViewController_);
    return child;
}

void RemoteFileListViewController::removeIndicator() {
    if (!activityIndicator_) return;
    activityIndicator_->stopAnimating();
    activityIndicator_->removeFromSuperview();
    activityIndicator_.reset();
}

void RemoteFileListViewController::deselectLastRow() {
    if (lastSelectIndexPath_ && isViewLoaded()) tableView()->deselectRowAtIndexPath(*lastSelectIndexPath_, true);
    lastSelectIndexPath_.reset();
}

void RemoteFileListViewController::showAlert(const std::string& message) {
    auto alert = std::make_shared<QNAlertView>("", message, std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                               std::vector<std::string>{});
    alert->show();
}

void RemoteFileListViewController::getOnce(const std::string& url, const std::optional<std::string>& targetTitle,
                                           const std::optional<std::string>& userName,
                                           const std::optional<std::string>& password, bool passwordIsFixed,
                                           bool connectToUntrustedServer) {
    (void)passwordIsFixed;
    removeIndicator();
    if (ui::Window* window = isViewLoaded() ? view()->window() : nullptr) {
        activityIndicator_ = std::make_shared<IndicatorWithBGView>();
        // A tap on the busy sign gives the folder up.
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        activityIndicator_->setTapAction([weak] {
            auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock());
            if (!self || !self->isLoading_) return;
            if (auto listing = self->fileDownload_) listing->cancelFileListDownload();
            self->deselectLastRow();
        });
        window->addSubview(activityIndicator_);
        activityIndicator_->setPosition();
        activityIndicator_->startAnimating();
    }
    isLoading_ = true;
    if (fileDownload_) fileDownload_->setDelegate(nullptr);
    fileDownload_ = std::make_shared<FileDownload>();
    fileDownload_->setSettings_(settings().get());
    fileDownload_->setOtherSettings_(otherSetting_.value_or(sys::PlistDictionary()));
    fileDownload_->setDelegate(std::dynamic_pointer_cast<FileDownloadDelegate>(selfRef()));
    fileDownload_->setConnectToUntrustedServer(connectToUntrustedServer);
    if (connectToUntrustedServer) fileDownload_->setUntrustedServerKey(untrustedServer_.publicKey);
    sentUser_ = userName;
    sentPassword_ = password;
    fileDownload_->getFileListFromUrl(url, targetTitle, userName, password, true, this);
}

void RemoteFileListViewController::finishListDownload(std::optional<std::vector<std::string>> fileList,
                                                      std::optional<std::vector<sys::PlistDictionary>> infoList,
                                                      const std::optional<std::string>& listTitle,
                                                      const std::optional<std::string>& withURL,
                                                      const std::optional<std::string>& message, bool requireSMB2) {
    isLoading_ = false;
    removeIndicator();
    auto keep = selfRef();
    // A listing (even of nothing) means the server took the credentials.
    const bool taken = withURL && (!message || (fileList && !fileList->empty()));
    if (toRemember_ && taken) ShowHttpAuth::rememberAccepted(toRemember_->url, toRemember_->user, toRemember_->password);
    toRemember_.reset();
    if (taken) answerTaken();
    if (isRefreshMode_) {
        if (fileList && !fileList->empty()) {
            setLists(std::move(*fileList), std::move(infoList).value_or(std::vector<sys::PlistDictionary>{}));
            needUpdateFilelist();
        }
        isRefreshMode_ = false;
        if (auto* rc = refreshControl()) rc->endRefreshing();
        LastStatusRestore::updateLastStatusRemote(*this);
        return;
    }
    if (fileList && !fileList->empty()) {
        auto child = makeChild();
        child->setLists(std::move(*fileList), std::move(infoList).value_or(std::vector<sys::PlistDictionary>{}));
        child->setTargetURL(withURL);
        child->setListTitle(listTitle ? listTitle : withURL);
        if (auto* nav = navigationController()) nav->pushViewController(child, true);
    } else {
        if (!withURL) {
            showAlert(message.value_or(""));
        } else if (!message) {
            showAlert(tr("There are no downloadable files on the site."));
        } else if (requireSMB2) {
            auto alert = std::make_shared<QNAlertView>("", *message, std::weak_ptr<QNAlertViewDelegate>(keep),
                                                       tr("Cancel"),
                                                       std::vector<std::string>{tr("Change Settings Automatically")});
            alert->setUserTag(kTagRequireSmb2);
            alert->show();
        } else {
            showAlert(*message);
        }
        deselectLastRow();
    }
    if (fileDownload_) fileDownload_->setDelegate(nullptr);
    fileDownload_.reset();
    targetTitle_.reset();
}

void RemoteFileListViewController::cancelListDownload() {
    removeIndicator();
    isLoading_ = false;
    if (isRefreshMode_) {
        isRefreshMode_ = false;
        if (auto* rc = refreshControl()) rc->endRefreshing();
    }
}

void RemoteFileListViewController::passwordRequested(const std::string& url, bool dontUseStoredAccount) {
    // Whatever was typed for the refused listing was not taken, nor the
    // site's own password (a user let in without the right to the folder
    // changes user: the password was taken).
    toRemember_.reset();
    coversAwaitAnswerTaken_ = false;
    if (!dontUseStoredAccount) forgetRefusedSitePassword(sentPassword_);
    showHttpAuth_ = std::make_shared<ShowHttpAuth>();
    showHttpAuth_->setRefusedCredentials(sentUser_, sentPassword_);
    showHttpAuth_->getUserAuth(url, std::nullopt, isStoredAccount_, dontUseStoredAccount,
                               std::dynamic_pointer_cast<ShowHttpAuthDelegate>(selfRef()));
    if (isRefreshMode_) {
        isRefreshMode_ = false;
        if (auto* rc = refreshControl()) rc->endRefreshing();
    }
}

void RemoteFileListViewController::onFinishInput(const std::string& url, const std::optional<std::string>& userName,
                                                 const std::optional<std::string>& password, bool isStoredAccount) {
    if (askingForBook_) {
        answerForBook(url, userName, password, isStoredAccount);
        return;
    }
    if (afterAnswer_) {
        answerAskedFirst(userName, password, isStoredAccount);
        return;
    }
    isStoredAccount_ = isStoredAccount;
    // What the key chain gave was remembered before; what was typed is kept
    // past this run only with "Remember My Password" on.
    const bool remembered = isStoredAccount || (showHttpAuth_ && showHttpAuth_->isRememberPassword());
    const bool rememberTyped = showHttpAuth_ && showHttpAuth_->rememberAnswer();
    cancelListDownload();
    showHttpAuth_.reset();
    if (!userName || !password) return;
    if (rememberTyped) toRemember_ = TypedAnswer{url, *userName, *password};
    takeAnswer(*userName, *password, remembered, isStoredAccount);
    // Typed for this address: they belong to its site from now on.
    siteURL_ = url;
    getOnce(url, std::nullopt, userName, password, false, false);
}

bool RemoteFileListViewController::serverCertificateUntrusted(const std::string& url, const std::string&,
                                                              const std::string&) {
    // The answer is about the certificate that was shown, not about any the
    // server may show later.
    untrustedServer_ = {url, fileDownload_ ? fileDownload_->serverPublicKey() : std::string()};
    auto alert = std::make_shared<QNAlertView>(
        "", FileDownload::untrustedCertificateQuestion(url),
        std::weak_ptr<QNAlertViewDelegate>(selfRef()), std::nullopt,
        std::vector<std::string>{tr("Continue Connecting"), tr("Do Not Ask Again"), tr("Cancel")});
    alert->setCancelButtonIndex(2);
    alert->setUserTag(kTagUntrusted);
    alert->setUserInfo(url);
    alert->show();
    return true;
}

void RemoteFileListViewController::onRefresh() {
    if (isRefreshMode_ || !targetURL_) {
        FilelistBaseViewController::onRefresh();
        return;
    }
    if (askBeforeSending(*targetURL_, [weak = std::weak_ptr<RemoteFileListViewController>(selfRef())] {
            if (auto self = weak.lock()) self->onRefresh();
        })) {
        if (auto* rc = refreshControl()) rc->endRefreshing();
        return;
    }
    isRefreshMode_ = true;
    if (auto* rc = refreshControl()) rc->beginRefreshing();
    const auto credentials = credentialsFor(*targetURL_);
    getOnce(*targetURL_, targetTitle_, credentials.userName, credentials.password, true, false);
}

// ---- Taps ---------------------------------------------------------------------------------------------

void RemoteFileListViewController::didSelectBook(int64_t index, const std::optional<ui::IndexPath>& indexPath) {
    showToolBar();
    if (isRefreshMode_) {
        if (fileDownload_) fileDownload_->cancelFileListDownload();
        if (indexPath && isViewLoaded()) tableView()->deselectRowAtIndexPath(*indexPath, true);
        return;
    }
    FilelistBaseViewController::didSelectBook(index, indexPath);
    if (index < 0 || index >= int64_t(itemList().size())) return;
    if (auto thumbs = ThumbsCreate::thumbsCreate()) thumbs->suspendTask(true);
    lastSeletItem_ = itemList()[size_t(index)];
    if (indexPath) lastSelectIndexPath_ = indexPath;
    const auto& item = lastSeletItem_;
    const sys::PlistDictionary info = item->remoteInfoOrEmpty();
    if (item->type() == kTypeFolder) {
        if (info.contains("passcode")) {
            showAlert(tr("Forbidden: Server is configured to deny execute access."));
            if (indexPath && isViewLoaded()) tableView()->deselectRowAtIndexPath(*indexPath, true);
            return;
        }
        if (isLoading_) return;
        const std::string url = item->remoteURL().value_or("");
        const std::string name = info.getString("name");
        const auto list = [weak = std::weak_ptr<RemoteFileListViewController>(selfRef()), url, name] {
            auto self = weak.lock();
            if (!self || self->isLoading_) return;
            self->targetTitle_ = name;
            const auto credentials = self->credentialsFor(url);
            self->getOnce(url, self->targetTitle_, credentials.userName, credentials.password, true, false);
        };
        if (!askBeforeSending(url, list)) list();
        return;
    }
    if (isStreamingMode()) {
        ui::Rect anchor = actionSheetSourceRect();
        if (indexPath && isViewLoaded())
            if (auto cell = tableView()->cellForRowAtIndexPath(*indexPath))
                anchor = cell->convertRectTo(cell->bounds(), view());
        if (!startStreamFile(item, false, false, std::nullopt, 0, anchor) && indexPath && isViewLoaded())
            tableView()->deselectRowAtIndexPath(*indexPath, true);
        return;
    }
    if (settings() && settings()->isMultipleSelectDownload()) {
        item->setIsSelected(!item->isSelected());
        if (indexPath && isViewLoaded()) tableView()->reloadRowsAtIndexPaths({*indexPath}, ui::TableViewRowAnimation::None);
        updateDownloadButtonStatus();
        return;
    }
    if (indexPath && isViewLoaded()) tableView()->deselectRowAtIndexPath(*indexPath, true);
    downloadItem(index);
}

void RemoteFileListViewController::downloadItem(int64_t index) {
    if (index < 0 || index >= int64_t(itemList().size())) return;
    const ItemRef item = itemList()[size_t(index)];
    if (item->type() == kTypeFolder) return;
    if (askBeforeSending(item->remoteURL().value_or(""),
                         [weak = std::weak_ptr<RemoteFileListViewController>(selfRef()), index] {
                             if (auto self = weak.lock()) self->downloadItem(index);
                         }))
        return;
    if (!queueDownload(item, std::nullopt)) {
        showAlert(tr("Downloads into the library are not available yet. Use Streaming to read the book."));
        return;
    }
    pushTransferScreen();
}

bool RemoteFileListViewController::onLongPress(int64_t index, ui::Point, ui::View*) {
    downloadItem(index);
    return false;
}

void RemoteFileListViewController::tableViewDidLongPressRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip,
                                                                       ui::Point point) {
    // On the shelf the covers report their own long presses.
    if (ip.section != 1 || fileListViewMode() != 0) return;
    onLongPress(ip.row, point, &tv);
}

std::shared_ptr<BookTransfer> RemoteFileListViewController::transferQueue() {
    auto services = AppDelegateServices::installed();
    return services ? services->transferQueue() : nullptr;
}

bool RemoteFileListViewController::queueDownload(const ItemRef& item, const std::optional<std::string>& folder) {
    auto queue = transferQueue();
    if (!queue || !item) return false;
    const sys::PlistDictionary info = item->remoteInfoOrEmpty();
    const std::string url = item->remoteURL().value_or("");
    std::string name = info.getString("name");
    // The server's name may lack the extension that says what the file is.
    std::string urlExt;
    if (auto parsed = QNUrl::URLWithString(url)) urlExt = parsed->pathExtension();
    const std::string nameExt = sys::Path::pathExtension(name);
    if (!urlExt.empty() && (nameExt.empty() || nameExt != urlExt)) name += "." + urlExt;
    std::optional<std::string> serviceName;
    sys::PlistDictionary serviceKey;
    if (info.contains("onedriveKey")) {
        serviceName = "OneDrive";
        serviceKey = {{"key", info.getString("onedriveKey")}};
    }
    if (info.contains("boxapikey")) {
        serviceName = "BoxAPI";
        serviceKey = {{"key", info.getString("boxapikey")}};
    }
    if (info.contains("dropboxKey")) {
        serviceName = "Dropbox";
        serviceKey = {{"key", info.getString("dropboxKey")}, {"itemId", info.getString("dropboxItemId")}};
    }
    if (info.contains("googledriveKey")) {
        serviceName = "GoogleDrive";
        serviceKey = {{"key", info.getString("googledriveKey")}, {"itemId", info.getString("googledriveItemId")}};
    }
    if (serviceName) name = info.getString("name");
    const auto credentials = credentialsFor(url);
    // A file on the site's origin belongs to the site: an answer typed for
    // it is remembered for the site, and the site's own password it goes
    // with is forgotten when refused.
    TransferItem::Site site;
    if (isOnSiteOrigin(url)) {
        site.url = siteURL_ ? *siteURL_ : targetURL_.value_or("");
        if (!useRawPassword_ && fixID_) site.id = *fixID_;
    }
    queue->addNewItem(0, url, downloadPath_, folder, name, credentials.userName, credentials.password, serviceName,
                      serviceKey, otherSetting().value_or(sys::PlistDictionary()),
                      RemoteFileEntry::bookSize(info).value_or(0), site);
    return true;
}

void RemoteFileListViewController::pushTransferScreen() {
    auto* nav = navigationController();
    if (!nav) return;
    auto screen = std::make_shared<BookTransferViewController>();
    screen->setSettings_(settings());
    screen->setBookTransfer_(transferQueue());
    screen->setReturnToViewController_(returnToViewController_);
    screen->setNoTabarea(false);
    setNextIsNotFileSelectView(true);
    nav->pushViewController(screen, true);
}

void RemoteFileListViewController::onDownLoadBtn() {
    if (popUpMenuView_) return;
    TransferMultiViewPush::pushMultiTransferViewWithViewController(*this, 0, settings(), transferQueue(),
                                                                   downloadPath_);
}

void RemoteFileListViewController::selectStreamMode(int segment) {
    setIsStreamingMode(segment != 0);
    auto& defaults = sys::UserDefaults::standard();
    defaults.setBool(isStreamingMode(), kStreamModeKey);
    if (isStreamingMode()) defaults.setBool(true, kStreamModeHintKey);
    defaults.synchronize();
    deselectDownloadAndHideDownloadButton();
    if (!isStreamingMode() && fileListViewMode() != 0) {
        changeBookshelfMode(0, true);
        styleStreamingSegment();
        return;
    }
    if (isViewLoaded()) tableView()->reloadData();
}

void RemoteFileListViewController::onChangeBookShelfMode(int segment) {
    deselectDownloadAndHideDownloadButton();
    FilelistBaseViewController::onChangeBookShelfMode(segment);
    if (streamingSelectSegment_) streamingSelectSegment_->setSelectedSegmentIndex(isStreamingMode() ? 1 : 0);
    styleStreamingSegment();
}

void RemoteFileListViewController::downloadAll(bool intoFolder, bool selectedOnly) {
    size_t files = 0;
    for (const auto& item : itemList()) {
        const int32_t t = item->type();
        if (t != kTypeBook && t != kTypeImage && t != kTypePdf && t != kTypeTheme) continue;
        if (selectedOnly && !item->isSelected()) continue;
        ++files;
    }
    if (files == 0) {
        showAlert(tr("No files available for transfer."));
        return;
    }
    if (!transferQueue()) {
        showAlert(tr("Downloads into the library are not available yet. Use Streaming to read the book."));
        return;
    }
    if (askBeforeSending(targetURL_.value_or(""),
                         [weak = std::weak_ptr<RemoteFileListViewController>(selfRef()), intoFolder, selectedOnly] {
                             if (auto self = weak.lock()) self->downloadAll(intoFolder, selectedOnly);
                         }))
        return;
    const std::optional<std::string> folder = intoFolder ? std::optional(title()) : std::nullopt;
    for (const auto& item : itemList()) {
        const int32_t t = item->type();
        if (t != kTypeBook && t != kTypeImage && t != kTypePdf && t != kTypeTheme) continue;
        if (selectedOnly && !item->isSelected()) continue;
        queueDownload(item, folder);
    }
    pushTransferScreen();
}

bool RemoteFileListViewController::startStreamFile(const ItemRef& item, bool isStartFromFirstPage, bool isReOpenMode,
                                                   const std::optional<std::string>& targetFolder,
                                                   int64_t targetFolderOffset, ui::Rect actionSheetRect) {
    targetFolderTemp_ = targetFolder;
    targetFolderOffsetTemp_ = targetFolderOffset;
    if (!item || !item->remoteCanStreaming()) {
        showAlert(tr("Cannot stream this file type."));
        return false;
    }
    const std::string url = item->remoteURL().value_or("");
    const bool pdf = BookCommon::isPDFFileWithFile(url);
    if (pdf && !isReOpenMode && !sys::UserDefaults::standard().boolForKey(kNeverAskPdfKey)) {
        auto alert = std::make_shared<QNAlertView>(
            "", tr("Large PDF files require more time to open."), std::weak_ptr<QNAlertViewDelegate>(selfRef()),
            tr("Cancel"), std::vector<std::string>{tr("OK"), tr("Never Ask Me Again")});
        alert->setUserTag(kTagPdfNotice);
        alert->show();
        return false;
    }
    startOnlineFile(item, std::nullopt, pdf ? isReOpenMode : false, isStartFromFirstPage, targetFolder,
                    targetFolderOffset, actionSheetRect);
    return true;
}

void RemoteFileListViewController::startOnlineFile(const ItemRef& item,
                                                   const std::optional<std::string>& archivePassword,
                                                   bool isResumeMode, bool isStartFromFirstPage,
                                                   const std::optional<std::string>& targetFolder,
                                                   int64_t targetFolderOffset, ui::Rect actionSheetRect) {
    if (!item) return;
    const sys::PlistDictionary info = item->remoteInfoOrEmpty();
    const bool lbexpand = info.contains("lbexpand");
    isStartFromFirstPage_ = isStartFromFirstPage;
    const std::string url = item->remoteURL().value_or("");
    if (askBeforeSending(url, [weak = std::weak_ptr<RemoteFileListViewController>(selfRef()), item, archivePassword, isResumeMode, isStartFromFirstPage,
                               targetFolder, targetFolderOffset, actionSheetRect] {
            if (auto self = weak.lock())
                self->startOnlineFile(item, archivePassword, isResumeMode, isStartFromFirstPage, targetFolder,
                                      targetFolderOffset, actionSheetRect);
        }))
        return;
    const bool cached = cacheStatusFor(url, lbexpand, [] {
        auto c = sys::PropertyList::readFile(RemoteStreamRead::getRemoteCacheFilePath("streaming_cache.plist", false));
        return c && c->isArray() ? std::optional<sys::PlistArray>(c->asArray()) : std::nullopt;
    }()) != 0;
    onlinefileStart_ = std::make_shared<OnlineFileStart>();
    const auto credentials = credentialsFor(url);
    onlinefileStart_->setUserName(credentials.userName);
    onlinefileStart_->setPassword(credentials.password);
    onlinefileStart_->setOpenFolder(targetURL_.value_or(""));
    onlinefileStart_->setFolderTitle(title());
    onlinefileStart_->setOtherSettingsForRemote(otherSetting_.value_or(sys::PlistDictionary()));
    onlinefileStart_->setSettings(settings());
    onlinefileStart_->setDelegate(std::dynamic_pointer_cast<OnlineFileStartDelegate>(selfRef()));
    onlinefileStart_->setDelegateForBookViewController(this);
    onlinefileStart_->setFixUser(fixUsername_);
    onlinefileStart_->setLbexpand(lbexpand);
    onlinefileStart_->setFixID(fixID_);
    onlinefileStart_->setFileInfo(info);
    // A folder of pictures is one book of the pictures on the tapped one's
    // own site: its pages are fetched with the book's credentials.
    std::vector<std::string> others;
    if (BookCommon::isImageFileWithFile(url)) {
        for (const auto& other : imageListArray_)
            if (other == url || HttpEasy::sameOrigin(url, other)) others.push_back(other);
    } else {
        others = fileList();
    }
    bool resume = isResumeMode;
    const int select = settings() ? settings()->showBookOpenActionSelect() : 0;
    if (!(fileListViewMode() == 1 && select == 1) && select != 0) resume = true;
    const bool all = targetFolder && targetFolder->empty();
    onlinefileStart_->startOnlineFile(url, archivePassword, others, this,
                                      BookCommon::isLandscapeSwitchOSVersionWithViewController(),
                                      all ? std::nullopt : targetFolder, all, cached, resume, isStartFromFirstPage,
                                      targetFolderOffset, actionSheetRect);
}

void RemoteFileListViewController::releaseOnlineFileStartLater() {
    // The opener may still be on the call stack.
    auto opener = std::move(onlinefileStart_);
    sys::RunLoop::main().schedule(0.1, [opener] { (void)opener; });
}
