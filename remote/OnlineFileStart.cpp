#include "remote/OnlineFileStart.h"

#include "engine/BookReaderEx.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/BookHistory.h"
#include "foundation/HistoryCollector.h"
#include "foundation/Settings.h"
#include "foundation/StatisticsStore.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/QNActionSheet.h"
#include "library/FilelistBaseViewController.h"
#include "library/LocalBookOpener.h"
#include "library/PreparedBookOpen.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "remote/listing/FileDownload.h"
#include "viewer/BookViewController.h"

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }
}  // namespace

OnlineFileStart::OnlineFileStart() = default;

OnlineFileStart::~OnlineFileStart() {
    if (indicator_) indicator_->removeFromSuperview();
}

void OnlineFileStart::startOnlineFile(const std::string& url, const std::optional<std::string>& archivePassword,
                                      const std::vector<std::string>& otherFiles, ui::ViewController* viewController,
                                      bool isLandscape, const std::optional<std::string>& targetFolder,
                                      bool isTargetAllFolders, bool isExistCache, bool isResumeMode,
                                      bool isStartFromFirstPage, int64_t targetFolderOffset,
                                      ui::Rect actionSheetRect) {
    (void)isExistCache;
    actionSheetRect_ = actionSheetRect;
    Request request{url, archivePassword, otherFiles, isTargetAllFolders ? std::nullopt : targetFolder,
                    isLandscape, false, isTargetAllFolders, targetFolderOffset};
    if (isStartFromFirstPage) {
        openLater(std::move(request));
        return;
    }
    if (isResumeMode || !viewController || !viewController->isViewLoaded()) {
        request.useBookmark = true;
        openLater(std::move(request));
        return;
    }
    // The open-action menu: the saved page or the first one.
    long page = 0;
    std::string folder;
    BookCommon::getFilePageInfoWithFilename(url, &page, nullptr, nullptr, nullptr, nullptr, nullptr, &folder, nullptr,
                                            settings_ && settings_->iCloudEnable(), nullptr, false);
    LocalBookOpener::SheetButtons buttons;
    int64_t cancel = 0;
    const bool image = BookCommon::isImageFileWithFile(url);
    auto titles = LocalBookOpener::bookSheetTitles(image ? FilelistBaseViewController::kTypeImage
                                                         : FilelistBaseViewController::kTypeBook,
                                                   page, false, &buttons, &cancel);
    // A picture on a server cannot be saved from here: no such button.
    if (buttons.cameraRoll >= 0) {
        titles.erase(titles.begin() + buttons.cameraRoll);
        if (buttons.bookMark > buttons.cameraRoll) --buttons.bookMark;
        if (cancel > buttons.cameraRoll) --cancel;
    }
    sheetBookmarkIndex_ = buttons.bookMark;
    sheetFirstPageIndex_ = -1;
    for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i] == tr("Read the first page") || titles[i] == tr("Open Selected Image"))
            sheetFirstPageIndex_ = int64_t(i);
    pending_ = std::move(request);
    auto sheet = std::make_shared<QNActionSheet>();
    sheet->setTitle(fileInfo_.getString("name", FileDownload::fileNameFromURL(url)));
    for (const auto& t : titles) sheet->addButtonWithTitle(t);
    sheet->setCancelButtonIndex(cancel);
    sheet->setUserTag(kTagOpenAction);
    sheet->setDelegate(std::weak_ptr<QNActionSheetDelegate>(shared_from_this()));
    sheet->showInView(viewController->view(), *viewController, actionSheetRect_);
}

void OnlineFileStart::actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) {
    if (sheet.userTag() != kTagOpenAction || !pending_) return;
    Request request = *pending_;
    pending_.reset();
    if (buttonIndex == sheetBookmarkIndex_) {
        request.useBookmark = true;
    } else if (buttonIndex != sheetFirstPageIndex_) {
        if (auto d = delegate()) d->onlineFileCancel();
        return;
    }
    openLater(std::move(request));
}

void OnlineFileStart::viewWillDisappear() { pending_.reset(); }

void OnlineFileStart::retryWithCredentials(const std::string& userName, const std::string& password) {
    if (!refused_) return;
    Request request = std::move(*refused_);
    refused_.reset();
    userName_ = userName;
    password_ = password;
    openLater(std::move(request));
}

void OnlineFileStart::openLater(Request request) {
    opening_ = true;
    if (ui::Window* window = ui::Application::shared().keyWindow()) {
        indicator_ = std::make_shared<IndicatorWithBGView>();
        window->addSubview(indicator_);
        indicator_->setPosition();
        indicator_->startAnimating();
    }
    std::weak_ptr<OnlineFileStart> weak = weak_from_this();
    sys::RunLoop::main().schedule(0.0, [weak, request = std::move(request)] {
        if (auto self = weak.lock()) self->open(request);
    });
}

void OnlineFileStart::finishWithError(const std::optional<std::string>& message) {
    opening_ = false;
    if (auto d = delegate()) d->onlineFileError(message);
}

void OnlineFileStart::open(const Request& request) {
    if (indicator_) {
        indicator_->stopAnimating();
        indicator_->removeFromSuperview();
        indicator_.reset();
    }
    auto reader = std::make_shared<BookReaderEx>();
    reader->setSettings(settings_);
    if (settings_) settings_->setTargetBook(request.url);
    reader->setUserName(userName_.value_or(""));
    reader->setPassword(password_);
    reader->setOtherSettingsForRemote(otherSettings_);
    reader->setFileInfo(fileInfo_);

    long storedPage = 0;
    bool storedSecond = false;
    std::optional<std::string> folder = request.targetFolder;
    if (request.useBookmark) {
        std::string stored;
        BookCommon::getFilePageInfoWithFilename(request.url, &storedPage, &storedSecond, nullptr, nullptr, nullptr,
                                                nullptr, &stored, nullptr, settings_ && settings_->iCloudEnable(),
                                                nullptr, false);
        if (!stored.empty() && !folder) folder = stored;
    }
    const std::optional<std::string> expand = lbexpand_ ? std::optional<std::string>("1") : std::nullopt;
    const bool isArchive = !BookCommon::isImageFileWithFile(request.url) && !BookCommon::isPDFFileWithFile(request.url);
    if (request.targetFolderOffset != 0 && folder && isArchive) {
        // The folder after (or before) the one just read: the book's folders
        // are listed from the whole book, which the stream cache keeps at hand.
        std::optional<std::string> next;
        if (reader->openBookWithName(request.url, request.otherFiles, expand, request.archivePassword, std::nullopt,
                                     false, false)) {
            if (auto folders = reader->getFolderList(false)) {
                ArraySort::sortFileListArrayNSString(*folders, nullptr);
                next = LocalBookOpener::neighbourFolder(*folders, *folder, request.targetFolderOffset > 0);
            }
        }
        reader->closeBook();
        if (!next) {
            opening_ = false;
            finishWithError(std::nullopt);
            return;
        }
        folder = next;
    }
    const bool opened =
        reader->openBookWithName(request.url, request.otherFiles, expand, request.archivePassword, folder, false, false);
    if (opened && isArchive && !folder && !request.useBookmark && !request.isTargetAllFolders && settings_ &&
        settings_->isSelectFolder()) {
        // Several folders inside: the user picks one (or the whole book).
        if (auto folders = reader->getFolderList(false); folders && !folders->empty()) {
            ArraySort::sortFileListArrayNSString(*folders, nullptr);
            if (!(folders->size() < 2 && settings_->isNotSelectOneFolder())) {
                reader->closeBook();
                opening_ = false;
                if (auto d = delegate()) d->onNeedSelectFolder(*folders);
                return;
            }
        }
    }
    if (!opened) {
        const auto failure = reader->openFailure();
        reader->closeBook();
        opening_ = false;
        if (failure == PageReader::OpenFailure::Password) {
            if (auto d = delegate()) d->onlineFileNeedPassword();
            return;
        }
        if (reader->isAuthRefused()) {
            refused_ = request;
            if (auto d = delegate()) d->onlineFileNeedServerPassword(request.url);
            return;
        }
        // A server that answers every range with the whole file cannot be
        // read in place; the download still works.
        if (reader->isUnsupportedServer() || reader->isUnsupportedFtp()) {
            finishWithError(tr(kUnsupportedServerMessage));
            return;
        }
        if (reader->isServerBusy()) {
            finishWithError(tr(kServerBusyMessage));
            return;
        }
        if (!reader->untrustedServer().empty()) {
            finishWithError(tr(kUntrustedCertificateMessage) + "\n\n(" + reader->untrustedServer() + ")");
            return;
        }
        finishWithError(tr(LocalBookOpener::openErrorMessage(failure)));
        return;
    }
    int32_t page = 0;
    bool second = false;
    if (request.useBookmark) {
        page = LocalBookOpener::startPageForResume(storedPage, reader->getPageNum());
        second = page == storedPage && storedSecond;
    } else if (BookCommon::isImageFileWithFile(request.url)) {
        // A folder of pictures is read from the one tapped.
        page = reader->getSelectedImageNo();
        for (size_t i = 0; i < request.otherFiles.size(); ++i)
            if (request.otherFiles[i] == request.url) page = int32_t(i);
    }
    if (page < 0 || page >= reader->getPageNum()) {
        reader->closeBook();
        finishWithError(tr(LocalBookOpener::openErrorMessage(PageReader::OpenFailure::None)));
        return;
    }
    // The page is fetched and decoded (a large picture), or drawn (a PDF
    // page), on the reading screen's worker, its loading indicator up.
    const PageLoadRequest load = PreparedBookOpen::firstViewRequest(settings_.get(), page, second, request.isLandscape);

    // What is kept of the opening: no user name or password goes into it.
    const std::string name = FileDownload::fileNameFromURL(request.url);
    BookHistory history;
    history.setIsRemote(true);
    history.setBookUrl(request.url);
    history.setFolderUrl(openFolder_);
    history.setRemoteFolderTitle(folderTitle_);
    history.setBookTitle(fileInfo_.getString("name", name));
    HistoryCollector::addHistory(history);
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(request.url)}),
                                 BookCommon::getLastReadingFileStoreFile(openFolder_));
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(request.url)}),
                                 BookCommon::getLastBookSettingFilePath());
    if (auto stats = StatisticsStore::sharedStatisticsStore()) stats->incrementBookTotal();

    auto viewer = std::make_shared<BookViewController>();
    viewer->setOpenFolder(openFolder_);
    viewer->setIsStreamingMode(true);
    viewer->setUserName(userName_.value_or(""));
    viewer->setPassword(password_.value_or(""));
    viewer->setBookReader(reader);
    viewer->setPage(page);
    viewer->setFileName(request.url);
    viewer->setSettings(settings_);
    viewer->setIsLandscape(request.isLandscape);
    viewer->setStartTime(sys::Date::now());
    viewer->setDelegate(viewerDelegate_);
    viewer->setFirstViewRequest(load);
    // Pages encrypted under names that are not: the password is asked for
    // once the first page says so.
    viewer->setFirstViewPasswordHandler([weak = delegate_] {
        if (auto d = weak.lock()) d->onlineFileNeedPassword();
    });
    opening_ = false;
    if (auto d = delegate()) d->onFinishLoadOnlinefile(viewer);
}
