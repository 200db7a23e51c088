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
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/FolderDetailViewControllerEx.h"
#include "library/LibraryServices.h"
#include "library/MediaServerOpener.h"
#include "library/PreparedBookOpen.h"
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

namespace {

using sys::Path;

std::string join(const std::string& folder, const std::string& name) {
    return Path::stringByAppendingPathComponent(folder, name);
}

bool iequal(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

bool isShortcutName(const std::string& name) { return iequal(Path::pathExtension(name), "shortcut"); }

// Tags of the one-line name screens of the detail button.
constexpr int64_t kNameInputTempFolder = 0;
constexpr int64_t kNameInputShortcut = 1;

// Action codes of the passcode screens: what to do once a locked folder opens.
constexpr int64_t kActionOpenFolder = 1;
constexpr int64_t kActionFolderDetail = 2;

}  // namespace

LocalFilelistViewController::LocalFilelistViewController(ui::TableViewStyle style)
    : FilelistBaseViewController(style) {}

LocalFilelistViewController::~LocalFilelistViewController() { stopCheckTimer(); }

std::shared_ptr<LocalFilelistViewController> LocalFilelistViewController::selfRef() {
    return std::dynamic_pointer_cast<LocalFilelistViewController>(shared_from_this());
}

std::string LocalFilelistViewController::folderPath() const {
    return BookCommon::fromBooksToFromRoot(pathFromBooks_).value_or(BookCommon::getBooksDocumentsFolder());
}

std::optional<std::string> LocalFilelistViewController::getSortConfigFile() {
    return BookCommon::getSortSettingFile(folderPath());
}

double LocalFilelistViewController::getHeaderHeight() const {
    return sys::DeviceProfile::current().systemMajorVersion() >= 26 ? 160.0 : 150.0;
}

void LocalFilelistViewController::setNeedUpdateFlag(ui::NavigationController* nav) {
    if (!nav) return;
    for (const auto& vc : nav->viewControllers())
        if (auto* list = dynamic_cast<LocalFilelistViewController*>(vc.get())) list->setNeedUpdateFileList(true);
}

void LocalFilelistViewController::setPathFromBooksIfRootView() {
    if (!isRootViewController()) return;
    const int rootMode = settings() ? settings()->filelistRootMode() : 0;
    pathFromBooks_ = rootMode == 0 ? "" : "*";
}

void LocalFilelistViewController::updateFileListArray() {
    setPathFromBooksIfRootView();
    updateItemList();
    updateFileInfo();
}

// ---- Reading the folder -------------------------------------------------------------------------

std::optional<std::vector<LocalFilelistViewController::DirectoryEntry>> LocalFilelistViewController::readDirectoryEntries(
    const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::vector<DirectoryEntry> out;
    const int dfd = ::dirfd(dir);
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const EntryType type = entryType(dfd, e->d_name, e->d_type);
        if (type.isSpecial) continue;
        DirectoryEntry entry;
        entry.name = e->d_name;
        entry.isDirectory = type.isDirectory;
        out.push_back(std::move(entry));
    }
    ::closedir(dir);
    return out;
}

LocalFilelistViewController::EntryType LocalFilelistViewController::entryType(int dirFd, const char* name,
                                                                              unsigned char dType) {
    EntryType type;
    switch (dType) {
    case DT_DIR: type.isDirectory = true; return type;
    case DT_FIFO: case DT_SOCK: case DT_CHR: case DT_BLK: type.isSpecial = true; return type;
    case DT_LNK: case DT_UNKNOWN: break;
    default: return type;
    }
    auto special = [](mode_t mode) { return !S_ISREG(mode) && !S_ISDIR(mode); };
    struct stat st {};
    if (dType == DT_UNKNOWN) {
        // Some file systems (network mounts, older ones) do not give the type
        // with the name: ask for the entry itself, links unfollowed.
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return type;
        if (!S_ISLNK(st.st_mode)) {
            type.isDirectory = S_ISDIR(st.st_mode);
            type.isSpecial = special(st.st_mode);
            return type;
        }
    }
    // What a link leads to: a dangling link stays listed as before.
    if (::fstatat(dirFd, name, &st, 0) == 0) type.isSpecial = special(st.st_mode);
    return type;
}

std::string LocalFilelistViewController::readLastReadName(const std::string& folder) {
    auto record = sys::PropertyList::readArray(BookCommon::getLastReadingFileStoreFile(folder));
    if (!record || record->empty() || !(*record)[0].isString()) return "";
    return (*record)[0].asString();
}

std::optional<std::vector<std::string>> LocalFilelistViewController::readUserOrder(const std::string& file) {
    auto list = sys::PropertyList::readArray(file);
    if (!list) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& v : *list)
        if (v.isString()) names.push_back(v.asString());
    return names;
}

std::optional<std::string> LocalFilelistViewController::readLastBookPath(const std::string& file) {
    auto list = sys::PropertyList::readArray(file);
    if (!list || list->empty() || !(*list)[0].isString()) return std::nullopt;
    return (*list)[0].asString();
}

void LocalFilelistViewController::updateItemList() {
    localItemList_.clear();
    isHideDownloadFolder_ = false;
    shownDownloads_ = 0;
    const int rootMode = settings() ? settings()->filelistRootMode() : 0;
    if (isRootViewController()) {
        if (rootMode == 0) {
            const int count = BookCommon::getFilesInDownloads();
            if (count != 0) {
                auto item = std::make_shared<FilelistItem>();
                item->setType(kTypeDownloadFolder);
                char suffix[32];
                std::snprintf(suffix, sizeof suffix, " (%d)", count);
                item->setFilename(BookCommon::getTempFolderName() + suffix);
                item->setPathFromBooks("*");
                localItemList_.push_back(item);
            }
            isHideDownloadFolder_ = count == 0;
            shownDownloads_ = count;
        } else {
            const std::string docs = BookCommon::getBooksDocumentsFolder();
            if (auto entries = readDirectoryEntries(docs)) {
                for (const auto& e : *entries) {
                    if (e.isDirectory || BookCommon::isBookorPDFFileorThemeWithFilename(e.name) || isShortcutName(e.name)) {
                        auto item = std::make_shared<FilelistItem>();
                        item->setType(kTypeSharedDocuments);
                        item->setFilename(BookCommon::localizedStringWithOnOff("Shared Documents"));
                        item->setPathFromBooks("");
                        localItemList_.push_back(item);
                        break;
                    }
                }
            }
        }
    }

    const std::string folder = folderPath();
    const std::string lastRead = readLastReadName(folder);
    long pageNo = 0;
    BookCommon::getFilePageInfoWithFilename(join(folder, "dummy.png"), &pageNo, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, settings() && settings()->iCloudEnable(),
                                            nullptr, false);
    const bool isDocuments = folder == BookCommon::getBooksDocumentsFolder();
    auto entries = readDirectoryEntries(folder);
    if (!entries) return;
    long imageIndex = 0;
    auto childPath = [this](const std::string& name) {
        return pathFromBooks_.empty() ? name : Path::stringByAppendingPathComponent(pathFromBooks_, name);
    };
    for (const auto& e : *entries) {
        const std::string& name = e.name;
        if (!e.isDirectory) {
            const std::string ext = Path::pathExtension(name);
            int32_t type;
            if (BookCommon::isImageFileWithExtension(ext)) type = kTypeImage;
            else if (BookCommon::isBookFileWithExtension(ext)) type = kTypeBook;
            else if (BookCommon::isPDFFileWithExtension(ext)) type = kTypePdf;
            else if (BookCommon::isThemeFileWithExtension(ext)) type = kTypeTheme;
            else if (iequal(ext, "shortcut")) type = kTypeShortcut;
            else continue;
            auto item = std::make_shared<FilelistItem>();
            item->setType(type);
            if (type == kTypeImage) {
                item->setImageType(pageNo != 0 && imageIndex <= pageNo ? 2 : 1);
                ++imageIndex;
            }
            item->setFilename(name);
            item->setPathFromBooks(childPath(name));
            item->setNameHash(iCloudKeyValueStoreCommon::getKeyWithFilepath(join(folder, name)));
            item->setIsLastReadingFile(name == lastRead);
            localItemList_.push_back(item);
            continue;
        }
        auto item = std::make_shared<FilelistItem>();
        if (name[0] == '.') {
            if (BookCommon::isFolderNameChangedForLock(name)) {
                item->setType(kTypeFolder);
                item->setFilename(BookCommon::getLockedFolderOriginalName(name));
            } else if (name == ".BookLibrary") {
                item->setType(kTypeLibraryDownload);
                item->setFilename(name);
            } else {
                continue;
            }
        } else {
            if (isDocuments && name == "Inbox") continue;
            item->setType(kTypeFolder);
            item->setFilename(BookCommon::getLockedFolderOriginalName(name));
        }
        item->setNameHash(std::string());
        item->setPathFromBooks(childPath(name));
        if (auto created = sys::FileManager::creationDate(join(folder, name))) item->setCreationDate(*created);
        localItemList_.push_back(item);
    }
}

void LocalFilelistViewController::updateFileInfo() {
    const std::string root = folderPath();
    const bool cloud = settings() && settings()->iCloudEnable();
    bool imageRead = false;
    std::optional<sys::Date> imageDate;
    long imagePage = 0, imagePages = 0;
    std::string imageFolder;
    bool imageTwo = false, imageMark = false;
    for (const auto& item : localItemList_) {
        const int32_t type = item->type();
        // The pictures of a folder are one book: they share its one position,
        // looked up once (a folder of many pictures is not read once a picture).
        // With the cloud's positions, each name is looked up as before.
        if (type == kTypeImage && imageRead) {
            item->setBookmarkDate(imageDate);
            item->setReadingPageNo(imagePage);
            item->setNumberOfPages(imagePages);
            item->setReadingFolder(imageFolder.empty() ? std::nullopt : std::optional<std::string>(imageFolder));
            item->setIs2Pageloaded(imageTwo);
            item->setIsExistBookmark(imageMark);
            continue;
        }
        auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
        if (!full) continue;
        if (type == kTypeFolder) {
            item->setIsFolderLocked(BookCommon::isFolderLocked(*full));
            item->setIsFolderScanFiles(BookCommon::isFolderScanFiles(*full));
            item->setIsFolderNoBackupFlag(!BookCommon::getBackupFlag(*full));
            continue;
        }
        if (type != kTypeBook && type != kTypeImage && type != kTypePdf) {
            item->setBookmarkDate(std::nullopt);
            continue;
        }
        const bool mark = BookCommon::isExistBookMark(*full);
        long page = 0, pages = 0;
        bool two = false;
        std::string targetFolder;
        auto date = BookCommon::getFilePageInfoWithFilename(*full, &page, nullptr, nullptr, nullptr, nullptr, &pages,
                                                            &targetFolder, &two, cloud, nullptr, false);
        std::optional<sys::Date> bookmarkDate = date;
        if (!bookmarkDate) bookmarkDate = sys::FileManager::modificationDate(BookCommon::getBookSettingFile(*full, false));
        item->setIsExistBookmark(mark);
        item->setBookmarkDate(bookmarkDate);
        item->setReadingPageNo(page);
        item->setNumberOfPages(pages);
        item->setReadingFolder(targetFolder.empty() ? std::nullopt : std::optional<std::string>(targetFolder));
        item->setIs2Pageloaded(two);
        if (type == kTypeImage && (bookmarkDate || !cloud)) {
            imageRead = true;
            imageDate = bookmarkDate;
            imagePage = page;
            imagePages = pages;
            imageFolder = targetFolder;
            imageTwo = two;
            imageMark = mark;
        }
    }
}

void LocalFilelistViewController::checkLastReadingMark() {
    const std::string lastRead = readLastReadName(folderPath());
    int changed = 0;
    for (const auto& item : localItemList_) {
        const bool match = item->filename() && *item->filename() == lastRead;
        if (match && !item->isLastReadingFile()) {
            item->setIsLastReadingFile(true);
            ++changed;
        } else if (!match && item->isLastReadingFile()) {
            item->setIsLastReadingFile(false);
            ++changed;
        }
        if (changed >= 2) break;
    }
}

void LocalFilelistViewController::setUserSortOrderToItemList() {
    const std::string file = BookCommon::getSortUserListFile(folderPath());
    if (file.empty()) return;
    const std::vector<std::string> order = readUserOrder(file).value_or(std::vector<std::string>{});
    for (const auto& item : itemList()) {
        item->setRemoteOriginalIndexNo(kUnsortedUserIndex);
        if (!item->filename()) continue;
        for (size_t i = 0; i < order.size(); ++i) {
            if (order[i] == *item->filename()) {
                item->setRemoteOriginalIndexNo(int64_t(i) + 1);
                break;
            }
        }
    }
}

void LocalFilelistViewController::onSelectSortMode(int mode, bool isDescendingOrder, bool isDateSortModeBookmarkDate) {
    if (mode == kSortUser && sortMode() != kSortUser) setUserSortOrderToItemList();
    FilelistBaseViewController::onSelectSortMode(mode, isDescendingOrder, isDateSortModeBookmarkDate);
}

void LocalFilelistViewController::onRefresh() {
    if (auto* rc = refreshControl()) rc->beginRefreshing();
    needUpdateFilelist();
    if (auto* rc = refreshControl()) rc->endRefreshing();
}

void LocalFilelistViewController::onRotateView(bool landscape) {
    endDrag(false);
    FilelistBaseViewController::onRotateView(landscape);
    if (popUpMenuView_) popUpMenuView_->removePopup();
    popUpMenuView_.reset();
}

bool LocalFilelistViewController::downloadsChanged() const {
    if (!isRootViewController()) return false;
    const int rootMode = settings() ? settings()->filelistRootMode() : 0;
    return rootMode == 0 && BookCommon::getFilesInDownloads() != shownDownloads_;
}

void LocalFilelistViewController::timerCheckLocalFile() {
    int64_t count = 0;
    if (auto names = sys::FileManager::contentsOfDirectory(folderPath()))
        for (const auto& name : *names)
            if (BookCommon::isBookorPDFFileorThemeWithFilename(name)) ++count;
    bool changed = localItemCount_ != -1 && localItemCount_ != count;
    localItemCount_ = count;
    // The root's entry for the download folder follows it too: a book
    // downloaded while the library is in front shows without leaving it.
    if (downloadsChanged()) changed = true;
    if (changed) needUpdateFilelist();
}

// ---- Names ----------------------------------------------------------------------------------------

bool LocalFilelistViewController::isAcceptableEntryName(const std::string& name, bool allowLockedName) {
    if (name.empty() || name.size() > kMaxNameBytes) return false;
    if (name == "." || name == "..") return false;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
    if (name[0] == '.' || name[0] == '?' || name[0] == '*')
        return allowLockedName && BookCommon::isFolderNameChangedForLock(name);
    return true;
}

bool LocalFilelistViewController::changeDirectoryName(const std::string& name) {
    if (!isAcceptableEntryName(name, true)) return false;
    if (folderDetailIndex_ < 0 || folderDetailIndex_ >= static_cast<int64_t>(itemList().size())) return false;
    const auto& item = itemList()[size_t(folderDetailIndex_)];
    auto from = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
    if (!from) return false;
    const std::string to = join(folderPath(), name);
    if (*from == to) return true;
    // The reading history follows the books inside.
    if (!BookCommon::moveBook(*from, to)) return false;
    // The entry follows the folder, so that a second rename on the same
    // detail screen starts from where the folder now is.
    const std::string relative = pathFromBooks_.empty() ? name : Path::stringByAppendingPathComponent(pathFromBooks_, name);
    item->setPathFromBooks(relative);
    item->setFilename(BookCommon::getLockedFolderOriginalName(name));
    item->setIsFolderLocked(BookCommon::isFolderNameChangedForLock(name) && BookCommon::isFolderLocked(to));
    needUpdateFileList_ = true;
    return true;
}

bool LocalFilelistViewController::renameShortcut(const std::string& fileName, const std::string& name) {
    if (!isAcceptableEntryName(name, false)) return false;
    const std::string newName = name + ".shortcut";
    if (newName.size() > kMaxNameBytes || newName == fileName) return false;
    if (!isAcceptableEntryName(fileName, false)) return false;
    if (!sys::FileManager::moveItem(join(folderPath(), fileName), join(folderPath(), newName))) return false;
    needUpdateFileList_ = true;
    return true;
}

// ---- Opening entries ------------------------------------------------------------------------------

void LocalFilelistViewController::didSelectBook(int64_t index, const std::optional<ui::IndexPath>& indexPath) {
    if (bookOpener().isNowWaitingForOpenBook()) return;
    removeInitialHelpView();
    FilelistBaseViewController::didSelectBook(index, indexPath);
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return;
    lastSeletItem_ = itemList()[size_t(index)];
    const int32_t type = lastSeletItem_->type();
    if (type == kTypeFolder || type == kTypeLibraryDownload || type == kTypeDownloadFolder ||
        type == kTypeSharedDocuments) {
        if (ui::Window* window = ui::Application::shared().keyWindow()) {
            folderIndicator_ = std::make_shared<IndicatorWithBGView>();
            window->addSubview(folderIndicator_);
            folderIndicator_->setPosition();
            folderIndicator_->startAnimating();
        }
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        sys::RunLoop::main().schedule(0.001, [weak, index] {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock()))
                self->didSelectDirectory(index);
        });
        return;
    }
    if (type == kTypeBook || type == kTypeImage || type == kTypePdf) {
        bookOpener().didSelectBook(lastSeletItem_);
        return;
    }
    if (indexPath && isViewLoaded()) tableView()->deselectRowAtIndexPath(*indexPath, true);
    if (type == kTypeTheme) {
        if (const auto full = BookCommon::fromBooksToFromRoot(lastSeletItem_->pathFromBooks().value_or("")))
            installThemeFile(*full);
        return;
    }
    if (type == kTypeShortcut) {
        const auto full = BookCommon::fromBooksToFromRoot(lastSeletItem_->pathFromBooks().value_or(""));
        if (!full) return;
        auto info = readShortcut(*full);
        if (!info) return;
        std::string name = Path::lastPathComponent(*full);
        (*info)["rootTitle"] = sys::PlistValue(Path::stringByDeletingPathExtension(name));
        didSelectMediaServer(*info);
    }
}

void LocalFilelistViewController::installThemeFile(const std::string& path) {
    std::optional<std::string> name;
    const int result = ThemeLoader::installTheme(path, &name);
    auto tr = [](const char* key) { return BookCommon::localizedStringWithOnOff(key); };
    auto say = [&](const std::string& title, const std::string& message) {
        auto alert = std::make_shared<QNAlertView>(title, message, std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                   std::vector<std::string>{});
        alert->show();
    };
    if (result == ThemeLoader::kInstalled) {
        auto loader = settings() ? settings()->themeLoader() : nullptr;
        if (loader) {
            loader->loadSetting();
            auto picker = std::make_shared<ThemeSelectViewController>();
            picker->setThemeLoader(loader);
            if (auto* nav = navigationController()) nav->pushViewController(picker, true);
        }
        std::string message = tr("%@ has been installed successfully.");
        if (auto at = message.find("%@"); at != std::string::npos) message.replace(at, 2, name.value_or(""));
        say("", message);
        return;
    }
    const char* message = result == ThemeLoader::kNoThemeText   ? "Invalid Device Type"
                          : result == ThemeLoader::kNoThemeName ? "Invalid Theme Name"
                          : result == ThemeLoader::kCannotOpen  ? "Error installing the theme."
                                                                : nullptr;
    if (message) say(tr(message), "");
}

std::optional<sys::PlistDictionary> LocalFilelistViewController::readShortcut(const std::string& path) {
    auto value = sys::PropertyList::readFile(path);
    if (!value || !value->isDictionary()) return std::nullopt;
    const auto& dict = value->asDictionary();
    if (dict.getString("url").empty()) return std::nullopt;
    return dict;
}

void LocalFilelistViewController::didSelectMediaServer(const sys::PlistDictionary& info) {
    // A book brought in from outside: the root list opens it once it is in front.
    if (info.getBool("isDocumentPicker")) {
        auto* nav = navigationController();
        if (!nav || nav->viewControllers().empty()) return;
        auto root = std::dynamic_pointer_cast<LocalFilelistViewController>(nav->viewControllers().front());
        if (!root) return;
        nav->popToRootViewController(false);
        const std::string file = info.getString("file");
        std::weak_ptr<LocalFilelistViewController> weak = root;
        sys::RunLoop::main().schedule(
            0.1, [weak, file] {
                if (auto list = weak.lock()) list->openDocumentPickerFile(file);
            },
            0, root);
        return;
    }
    auto opener = MediaServerOpener::installed();
    if (!opener) return;
    // The remote lists keep their levels on top of the local state: without
    // it (nothing recorded since the start) a restart would forget them.
    FilelistItem here;
    here.setPathFromBooks(pathFromBooks_);
    LastStatusRestore::updateLastStatusLocal(here);
    opener->pushToMediaServer(selfRef(), info);
}

void LocalFilelistViewController::onDownLoadBtn() {
    if (popUpMenuView_) return;
    removeInitialHelpView();
    // The queue itself arrives with the transfer code; the site list needs none.
    TransferMultiViewPush::pushMultiTransferViewWithViewController(*this, 0, settings(), nullptr, folderPath());
}

void LocalFilelistViewController::startLoadBookWithIndicator(const ItemRef& item,
                                                             const std::optional<std::string>& password,
                                                             const std::optional<std::string>& targetFolder,
                                                             bool useBookmark, bool animated, bool notExpand,
                                                             bool showIndicator, bool showRarInfomation) {
    bookOpener().startLoadBookWithIndicator(item, password, targetFolder, useBookmark, animated, notExpand,
                                            showIndicator, showRarInfomation);
}

bool LocalFilelistViewController::startLoadBook(const std::string& pathFromBooks,
                                                const std::optional<std::string>& password,
                                                const std::optional<std::string>& targetFolder, bool useBookmark,
                                                bool animated) {
    return bookOpener().startLoadBook(pathFromBooks, password, targetFolder, useBookmark, animated);
}

LocalBookOpener& LocalFilelistViewController::bookOpener() {
    if (!bookOpener_)
        bookOpener_ = std::make_shared<LocalBookOpener>(
            std::dynamic_pointer_cast<LocalFilelistViewController>(weak_from_this().lock()));
    return *bookOpener_;
}

bool LocalFilelistViewController::reOpenNextBook(const std::string& fileName,
                                                 const std::optional<std::string>& targetFolder, bool isNext,
                                                 bool* closeAnimation) {
    return bookOpener().reOpenNextBook(fileName, targetFolder, isNext, closeAnimation);
}

int64_t LocalFilelistViewController::getNextBookIndex(const std::string& fileName,
                                                      const std::optional<std::string>& targetFolder, bool isNext) {
    return bookOpener().getNextBookIndex(fileName, targetFolder, isNext);
}

void LocalFilelistViewController::finishReadBook(const std::string& fileName) {
    (void)fileName;
    // Files may have come or gone from outside while the book was open:
    // the folder is read again as the list comes back.
    needUpdateFileList_ = true;
    FilelistBaseViewController::finishReadBook();
}

void LocalFilelistViewController::didSelectDirectory(int64_t index) {
    if (folderIndicator_) {
        folderIndicator_->stopAnimating();
        folderIndicator_->removeFromSuperview();
        folderIndicator_.reset();
    }
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return;
    const auto& item = itemList()[size_t(index)];
    if (item->type() == kTypeSharedDocuments) moveToFolder("");
    else if (item->type() == kTypeDownloadFolder) moveToFolder("*");
    else moveToFolder(item->pathFromBooks().value_or(""));
}

void LocalFilelistViewController::moveToFolder(const std::string& relative) {
    auto full = BookCommon::fromBooksToFromRoot(relative);
    if (!full) return;
    std::string hash;
    bool touchID = false;
    if (!BookCommon::isFolderLocked(*full, &hash, &touchID)) {
        moveToFolderDo(relative);
        return;
    }
    PassCodeTarget target{hash, *full, relative, kActionOpenFolder};
    auto services = LibraryServices::installed();
    if (touchID && services) {
        std::weak_ptr<PassCodeRequetDelegate> weak = std::static_pointer_cast<PassCodeRequetDelegate>(selfRef());
        sys::RunLoop::main().schedule(0.1, [services, target, weak] { services->requestPasscode(target, weak); });
    } else {
        finishRequestPasscode(target, false);
    }
}

void LocalFilelistViewController::moveToFolderDo(const std::string& relative) {
    auto* nav = navigationController();
    if (!nav) return;
    auto next = std::make_shared<LocalFilelistViewController>(ui::TableViewStyle::Plain);
    if (openNextFolderMode_) {
        next->setOpenFirstImageMode(true);
        openNextFolderMode_ = false;
    }
    if (std::exchange(openHandedOverFolderMode_, false)) {
        next->setOpenFirstImageMode(true);
        next->resumeFirstImage_ = true;
    }
    auto full = BookCommon::fromBooksToFromRoot(relative);
    next->setIsInLockedFolder(isInLockedFolder() || (full && BookCommon::isFolderLocked(*full)));
    next->setPathFromBooks(relative);
    setNextIsNotFileSelectView(false);
    nav->pushViewController(next, LastStatusRestore::getRestoreMode() == 0);
}

void LocalFilelistViewController::finishRequestPasscode(const PassCodeTarget& request, bool isSuccess) {
    if (isSuccess) {
        passCodeInputComplete(request.actionID, request.path, request.pathFromBooks, "");
        return;
    }
    auto services = LibraryServices::installed();
    if (!services) return;
    auto screen = services->makePassCodeInputView(
        request, std::weak_ptr<PassCodeInputViewExDelegate>(std::static_pointer_cast<PassCodeInputViewExDelegate>(selfRef())));
    if (screen) BookCommon::lbCommonPresentViewController(*this, screen, true);
}

void LocalFilelistViewController::cancelRequestPasscode(const PassCodeTarget&) { passCodeInputCancel(0); }

void LocalFilelistViewController::passCodeInputComplete(int64_t actionID, const std::string& path,
                                                        const std::string& pathFromBooks, const std::string& passCode) {
    (void)path;
    (void)passCode;
    if (actionID == kActionOpenFolder) moveToFolderDo(pathFromBooks);
    else if (actionID == kActionFolderDetail) moveToFolderDetailView(path);
}

void LocalFilelistViewController::passCodeInputCancel(int64_t actionID) {
    (void)actionID;
    openHandedOverFolderMode_ = false;
    FilelistItem here;
    here.setPathFromBooks(pathFromBooks_);
    LastStatusRestore::updateLastStatusLocal(here);
    LastStatusRestore::setRestoreMode(0);
}

// ---- Tool bar --------------------------------------------------------------------------------------

void LocalFilelistViewController::showToolBar() {
    auto* nav = navigationController();
    if (!nav) return;
    nav->toolbar()->setTranslucent(true);
    nav->toolbar()->setBarStyle(darkBars() ? ui::BarStyle::Black : ui::BarStyle::Default);
    std::vector<ui::BarButtonItem::Ref> items;
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (LocalFilelistViewController::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) {
                self->removeInitialHelpView();
                ((*self).*fn)();
            }
        };
    };
    // The bar's buttons take the first-start help away before they act.
    auto helpGone = [weak](ui::BarButtonItem::Action inner) -> ui::BarButtonItem::Action {
        return [weak, inner](ui::BarButtonItem& item) {
            auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock());
            if (self && self->popUpMenuView_) return;
            if (self) self->removeInitialHelpView();
            if (inner) inner(item);
        };
    };
    items = LibraryToolbar::items(
        BookCommon::arrayGetToolbarButtonItems(folderPath(), isRootViewController()),
        [&](ToolbarItemModel::Action a) -> ui::BarButtonItem::Action {
            using Action = ToolbarItemModel::Action;
            switch (a) {
            case Action::PopupMenu: return call(&LocalFilelistViewController::onPopupMenu);
            case Action::Settings: return call(&LocalFilelistViewController::onSettingsBtn);
            case Action::RotationLock: return call(&LocalFilelistViewController::onRotationLock);
            case Action::Download: return call(&LocalFilelistViewController::onDownLoadBtn);
            case Action::Brightness: return helpGone(BrightnessSetting::toolbarAction(weak));
            case Action::Scan:
                return [weak](ui::BarButtonItem& item) {
                    if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock()))
                        self->onScanBtn(item.shared_from_this());
                };
            default: return {};
            }
        });
    setToolbarItems(items, false);
    nav->setToolbarHidden(false, true);
}

void LocalFilelistViewController::onPopupMenu() {
    auto* nav = navigationController();
    if (popUpMenuView_ || !nav) return;
    removeInitialHelpView();
    popUpMenuView_ = std::make_shared<PopupMenuView>();
    popUpMenuView_->setDelegate(this);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (FilelistBaseViewController::*fn)()) {
        return [weak, fn] {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    popUpMenuView_->addItem("About", ui::Image::named("toolbar_infomation_w"),
                            call(&FilelistBaseViewController::onAboutBtn));
    popUpMenuView_->addItem(BookCommon::localizedStringWithOnOff("Statistics Information"),
                            ui::Image::named("toolbar_statistics_w"), call(&FilelistBaseViewController::onStatisticsBtn));
    if (!isRootViewController())
        popUpMenuView_->addItem(BookCommon::localizedStringWithOnOff("Home"), ui::Image::named("toolbar_home_w"),
                                call(&FilelistBaseViewController::onGoHomeBtn));
    popUpMenuView_->addItem(BookCommon::localizedStringWithOnOff("History"), ui::Image::named("toolbar_history"),
                            call(&FilelistBaseViewController::onHistoryBtn));
    popUpMenuView_->addItem(BookCommon::localizedStringWithOnOff("Starting the MediaServer"),
                            ui::Image::named("toolbar_mediaserver_w"), call(&FilelistBaseViewController::onMediaServerBtn));
    ui::View* navView = nav->view();
    const ui::Rect safe = BookCommon::getScreentSafeRect(*navView);
    ui::Point origin = nav->toolbar()->convertPointTo({0, 0}, navView);
    origin.x += navView->safeAreaInsets().left;
    popUpMenuView_->setSize(safe, origin);
    popUpMenuView_->addPopupView(*navView);
    nav->setInteractivePopEnabled(false);
}

void LocalFilelistViewController::viewWillTransitionToSize(ui::Size size,
                                                          const std::shared_ptr<ui::TransitionCoordinator>& c) {
    FilelistBaseViewController::viewWillTransitionToSize(size, c);
    layoutInitialStartupHelpView(size);
}

std::vector<ui::KeyCommand> LocalFilelistViewController::keyCommands() const {
    // An open menu takes the keys alone.
    if (popUpMenuView_) return PopupMenuView::keyCommandsOfOwner(popUpMenuView_.get());
    // A book opening on a worker: Escape gives it up, and it takes the keys alone.
    if (bookOpener_ && bookOpener_->isOpeningOnWorker()) {
        std::weak_ptr<LocalBookOpener> opener = bookOpener_;
        return {ui::KeyCommand::make(ui::KeyInput::escape, 0, [opener](const ui::KeyCommand&) {
            if (auto o = opener.lock()) o->cancelOpenOnWorker();
        })};
    }
    return FilelistBaseViewController::keyCommands();
}

void LocalFilelistViewController::onRemovePopup() {
    popUpMenuView_.reset();
    if (auto* nav = navigationController()) {
        nav->setInteractivePopEnabled(true);
        nav->setToolbarHidden(false, true);
    }
}

void LocalFilelistViewController::onRotationLock() {
    BookCommon::setSoftwareRotationLock(!BookCommon::isSoftwareRotationLock());
    showToolBar();
}

// ---- Screen ----------------------------------------------------------------------------------------

void LocalFilelistViewController::viewDidLoad() {
    setPathFromBooksIfRootView();
    FilelistBaseViewController::viewDidLoad();
    needUpdateFilelist();
    localItemCount_ = -1;
    if (isRootViewController())
        if (auto* nav = navigationController()) BookCommon::checkSafeArea(*nav->view());
    setScreenTitles();
    const std::string folder = folderPath();
    ActiveLog::writeCheckpoint("removeSettingsInDocumentsDir");
    BookCommon::removeSettingsInDocumentsDir(folder);
    ActiveLog::writeCheckpoint("removeSettingsInDocumentsDir end");
    ActiveLog::writeCheckpoint("removeNoReferenceCacheInFolder");
    BookCommon::removeNoReferenceCacheInFolder(folder);
    ActiveLog::writeCheckpoint("removeNoReferenceCacheInFolder end");
}

void LocalFilelistViewController::setScreenTitles() {
    if (isRootViewController()) {
        setTitle(BookCommon::localizedStringWithOnOff("HOME"));
    } else if (pathFromBooks_ == "?") {
        setTitle("/Photos");
    } else if (pathFromBooks_ == "*") {
        setTitle(BookCommon::getTempFolderName());
    } else if (pathFromBooks_.empty()) {
        setTitle(BookCommon::localizedStringWithOnOff("Shared Documents"));
    } else if (Path::lastPathComponent(pathFromBooks_) == ".BookLibrary") {
        setTitle("Library");
    } else {
        setTitle(BookCommon::getLockedFolderOriginalName(Path::lastPathComponent(pathFromBooks_)));
    }
    std::weak_ptr<ui::ViewController> weakEdit = weak_from_this();
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
        BookCommon::localizedStringWithOnOff("Edit"), ui::BarButtonItemStyle::Plain, [weakEdit](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weakEdit.lock())) self->onEditBtn();
        }));
    // The header's switch and search field, in a language chosen meanwhile.
    if (auto* header = headerCell()) header->showTitles();
}

void LocalFilelistViewController::viewWillAppear(bool animated) {
    FilelistBaseViewController::viewWillAppear(animated);
    // Back from the settings, perhaps in another language.
    setScreenTitles();
    onEditDone();
    bool need = needUpdateFileList_;
    needUpdateFileList_ = false;
    if (isRootViewController()) {
        if (downloadsChanged()) need = true;
        // A jump to a book of the library is walked by jumpStart alone, once
        // the screen in front (the history, the transfers) has gone.
        if (LastStatusRestore::getJumpMode() && LastStatusRestore::getRemoteFolder() &&
            !LastStatusRestore::getTryRemoteDoneFlag()) {
            LastStatusRestore::setTryRemoteDoneFlag(true);
            jumpToUrl();
        }
    }
    if (need) {
        setPathFromBooksIfRootView();
        needUpdateFilelist();
    }
}

void LocalFilelistViewController::viewDidAppear(bool animated) {
    FilelistBaseViewController::viewDidAppear(animated);
    if (!reOpenFlag_) showToolBar();
    if (auto services = LibraryServices::installed()) {
        if (auto url = services->startupOpenUrl()) {
            // Taken first, so that it is not tried again.
            services->setStartupOpenUrl(std::nullopt);
            if (auto folder = webFolderURL(*url)) {
                LastStatusRestore::setBookReading(sys::PlistValue());
                FilelistItem here;
                here.setPathFromBooks(pathFromBooks_);
                LastStatusRestore::updateLastStatusLocal(here);
                openRemoteUrl(*folder);
            } else if (!url->empty()) {
                auto opener = MediaServerOpener::installed();
                if (!opener || !opener->queueDownload(*url, BookCommon::getBooksTempRoot())) {
                    auto alert = std::make_shared<QNAlertView>(
                        BookCommon::localizedStringWithOnOff("Connection Failed."), *url,
                        std::weak_ptr<QNAlertViewDelegate>(), BookCommon::localizedStringWithOnOff("OK"),
                        std::vector<std::string>{});
                    alert->show();
                }
            }
        }
    }
    if (!dontRestoreLastStatus_) restoreLastStatus(false);
    // The library's own entries count, not those a search left shown.
    if (isRootViewController() && localItemList_.size() < 2 && LastStatusRestore::getRestoreMode() == 0)
        AddIniticalHelpView();
    stopCheckTimer();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    localReloadCheckTimer_ = sys::RunLoop::main().schedule(
        kCheckInterval,
        [weak] {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) self->timerCheckLocalFile();
        },
        kCheckInterval);
    if (gotoParentFolderBookMode_) {
        gotoParentFolderBookMode_ = false;
        auto* nav = navigationController();
        if (!nav) return;
        auto* parent = dynamic_cast<LocalFilelistViewController*>(nav->viewControllerBelow(this));
        const std::string path = pathFromBooks_;
        const bool isNext = openParentFolderBookIsNext_;
        nav->popViewController(false);
        if (parent) {
            parent->setOpenNextFolderMode(true);
            parent->openNextFolder(path, isNext);
        }
    } else if (openFirstImageMode_) {
        openFirstImageMode_ = false;
        const bool resume = std::exchange(resumeFirstImage_, false);
        for (const auto& item : itemList()) {
            if (item->type() != kTypeImage) continue;
            lastSeletItem_ = item;
            // A folder may hold many pictures: its book is opened, and its
            // first page composed, on a worker, the window answering
            // meanwhile; the open below takes it once it is done.
            if (auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks())) PreparedBookOpen::start(*full, resume);
            startLoadBookWithIndicator(item, std::nullopt, std::nullopt, resume, false, true, true, false);
            break;
        }
    }
}

void LocalFilelistViewController::stopCheckTimer() {
    if (localReloadCheckTimer_) localReloadCheckTimer_->invalidate();
    localReloadCheckTimer_.reset();
}

void LocalFilelistViewController::viewWillDisappear(bool animated) {
    FilelistBaseViewController::viewWillDisappear(animated);
    stopCheckTimer();
    if (popUpMenuView_) popUpMenuView_->removePopup();
    removeInitialHelpView();
}

// ---- Shortcuts: the site editor and its answer ------------------------------------

void LocalFilelistViewController::openShortcutSiteEditor(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return;
    const auto& item = itemList()[size_t(index)];
    if (item->type() != kTypeShortcut) return;
    const std::string name = Path::lastPathComponent(item->pathFromBooks().value_or(""));
    auto record = readShortcut(join(folderPath(), name));
    if (!record) return;
    const std::string url = record->getString("url");
    // Cloud shortcuts have nothing to edit but their name.
    if (BookCommon::isGoogleDrive(url) || BookCommon::isOneDrive(url) || BookCommon::isDropbox(url) ||
        BookCommon::isBox(url)) {
        lastSelectShortcutName_ = name;
        pushNameInput(kNameInputShortcut, BookCommon::localizedStringWithOnOff("Shortcut name"),
                      Path::stringByDeletingPathExtension(name), name);
        return;
    }
    auto opener = MediaServerOpener::installed();
    if (!opener) return;
    lastSelectShortcutName_ = name;
    setNextIsNotFileSelectView(true);
    opener->editShortcut(selfRef(), *record, Path::stringByDeletingPathExtension(name));
}

bool LocalFilelistViewController::isEnableDetailButton(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return false;
    switch (itemList()[size_t(index)]->type()) {
        case kTypeFolder:
        case kTypeBook:
        case kTypeImage:
        case kTypePdf:
        case kTypeShortcut:
        case kTypeLibraryDownload:
        case kTypeDownloadFolder:
            return true;
        default:
            return false;
    }
}

void LocalFilelistViewController::tableViewAccessoryButtonTappedForRowWithIndexPath(ui::TableView&,
                                                                                    const ui::IndexPath& indexPath) {
    if (indexPath.section != 1) return;
    didSelectDetailBtn(indexPath.row);
}

void LocalFilelistViewController::didSelectDetailBtn(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return;
    if (!isEnableDetailButton(index)) return;
    const auto item = itemList()[size_t(index)];
    switch (item->type()) {
        case kTypeShortcut:
            setFolderDetailIndex(index);
            openShortcutSiteEditor(index);
            return;
        case kTypeFolder: {
            const auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
            if (!full) return;
            setFolderDetailIndex(index);
            std::string hash;
            bool touchID = false;
            if (!BookCommon::isFolderLocked(*full, &hash, &touchID)) {
                moveToFolderDetailView(*full);
                return;
            }
            // A locked folder shows its information only to whoever knows its passcode.
            PassCodeTarget target{hash, *full, "", kActionFolderDetail};
            auto services = LibraryServices::installed();
            if (touchID && services) {
                std::weak_ptr<PassCodeRequetDelegate> weak =
                    std::static_pointer_cast<PassCodeRequetDelegate>(selfRef());
                sys::RunLoop::main().schedule(0.1, [services, target, weak] { services->requestPasscode(target, weak); });
            } else {
                finishRequestPasscode(target, false);
            }
            return;
        }
        case kTypeDownloadFolder:
            setFolderDetailIndex(index);
            pushNameInput(kNameInputTempFolder, BookCommon::localizedStringWithOnOff("Temporary Folder Name"),
                          BookCommon::getTempFolderName(), "");
            return;
        default:
            openEntryDetailScreen(index);
            return;
    }
}

void LocalFilelistViewController::pushNameInput(int64_t tag, const std::string& label, const std::string& text,
                                                const std::string& userInfo) {
    auto* nav = navigationController();
    if (!nav) return;
    auto screen = std::make_shared<TextInputViewController>();
    screen->setUserTag(tag);
    screen->setKeybordType_(0);
    screen->setTextLabel_(label);
    screen->setTextToEdit_(text);
    screen->setUserInfo(userInfo);
    screen->setDelegate(std::weak_ptr<TextInputViewDelegate>(std::static_pointer_cast<TextInputViewDelegate>(selfRef())));
    setNextIsNotFileSelectView(true);
    nav->pushViewController(screen, true);
}

bool LocalFilelistViewController::onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                                                    const std::string& original) {
    (void)original;
    if (editTo.empty()) return true;
    bool changed = false;
    if (sender.userTag() == kNameInputTempFolder) {
        BookCommon::setTempFolderName(editTo);
        changed = true;
    } else if (sender.userTag() == kNameInputShortcut) {
        const auto* file = std::any_cast<std::string>(&sender.userInfo());
        // renameShortcut refuses names that would leave this folder.
        if (file && editTo + ".shortcut" != *file && renameShortcut(*file, editTo)) {
            lastSelectShortcutName_ = editTo + ".shortcut";
            changed = true;
        }
    }
    if (changed) {
        needUpdateFileList_ = true;
        setNeedUpdateFlag(navigationController());
    }
    return true;
}

void LocalFilelistViewController::moveToFolderDetailView(const std::string& fullPath) {
    auto* nav = navigationController();
    if (!nav) return;
    auto screen = std::make_shared<FolderDetailViewControllerEx>(ui::TableViewStyle::Grouped);
    screen->setDelegate(std::static_pointer_cast<FolderDetailViewControllerExDelegate>(selfRef()));
    screen->setDirectoryPath_(fullPath);
    screen->setIsScanDirectory_(BookCommon::isFolderScanFiles(fullPath));
    setNextIsNotFileSelectView(true);
    nav->pushViewController(screen, true);
}

bool LocalFilelistViewController::saveShortcut(const std::optional<std::string>& url,
                                               const std::optional<std::string>& name,
                                               const std::optional<std::string>& userName,
                                               const std::optional<std::string>& password,
                                               const std::optional<sys::PlistDictionary>& other) {
    if (!lastSelectShortcutName_) return false;
    std::string fileName = *lastSelectShortcutName_;
    // A name that cannot be taken keeps the old file, which still gets the
    // new contents.
    if (name && *name + ".shortcut" != fileName && renameShortcut(fileName, *name)) fileName = *name + ".shortcut";
    const std::string path = join(folderPath(), fileName);
    auto record = readShortcut(path);
    if (!record) return false;
    if (other) record->set("other", sys::PlistValue(*other));
    if (userName) record->set("username", sys::PlistValue(*userName));
    if (name) record->set("title", sys::PlistValue(*name));
    if (url) record->set("url", sys::PlistValue(*url));
    std::string id = record->getString("id");
    if (password && id.empty()) {
        // Without an id the password would have nowhere to go.
        id = BookCommon::createUUID();
        record->set("id", sys::PlistValue(id));
    }
    if (password && QNKeyChain::getPasswordWithAccount(id, std::string("MediaServer")) != password)
        QNKeyChain::addOrUpdatePassword(*password, id, "MediaServer");
    // Kept once, as the site's own: not also as an answer remembered for its
    // address under the same user.
    if (password && record->contains("username") && record->contains("url"))
        QNKeyChain::deleteAccountWithURL(record->getString("url"), record->getString("username"));
    const bool ok = sys::PropertyList::writeFile(sys::PlistValue(*record), path);
    lastSelectShortcutName_ = fileName;
    needUpdateFileList_ = true;
    return ok;
}
