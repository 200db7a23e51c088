#include "LibraryTestSupport.h"

#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/ui/PopupMenuView.h"
#include "library/BookshelfBookButton.h"
#include "library/LocalFilelistViewController.h"
#include "library/MediaServerOpener.h"
#include "library/PreparedBookOpen.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Image.h"
#include "platform/graphics/Canvas.h"
#include "viewer/BookViewController.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

std::set<std::string> namesOf(const FilelistBaseViewController::ItemList& items) {
    std::set<std::string> out;
    for (const auto& i : items) out.insert(i->filename().value_or("?"));
    return out;
}

FilelistBaseViewController::ItemRef find(const FilelistBaseViewController::ItemList& items, const std::string& name) {
    for (const auto& i : items)
        if (i->filename() == name) return i;
    return nullptr;
}

class LocalFilelistTest : public LibraryTest {
protected:
    std::shared_ptr<Local> root;
    std::shared_ptr<ui::NavigationController> nav;

    // The application's root list in its navigation controller, on screen.
    void showRoot(bool dontRestore = false) {
        root = std::make_shared<Local>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(dontRestore);
        nav = showInNavigation(root);
    }
    // A folder screen alone in its navigation controller, on screen.
    std::shared_ptr<Local> showFolder(const std::string& pathFromBooks) {
        auto list = std::make_shared<Local>();
        list->setPathFromBooks(pathFromBooks);
        list->setDontRestoreLastStatus(true);
        nav = showInNavigation(list);
        return list;
    }
    // A folder screen read straight from disk, off screen.
    std::shared_ptr<Local> folder(const std::string& pathFromBooks) {
        auto l = std::make_shared<Local>();
        l->setPathFromBooks(pathFromBooks);
        l->updateBaseFileList();
        return l;
    }
    std::vector<std::string> stackPaths() const {
        std::vector<std::string> out;
        for (const auto& vc : nav->viewControllers())
            if (auto* l = dynamic_cast<Local*>(vc.get())) out.push_back(l->pathFromBooks());
        return out;
    }
};

TEST_F(LocalFilelistTest, FolderEntriesBecomeRowsByKind) {
    const std::string docs = documents();
    touch(join(docs, "a.zip"));
    touch(join(docs, "b.PDF"));
    touch(join(docs, "c.txt"));
    touch(join(docs, "site.SHORTCUT"));
    touch(join(docs, "look.lbt"));
    mkdir(join(docs, "Comics"));
    mkdir(join(docs, ".lock_Secret"));
    mkdir(join(docs, ".lock_"));
    mkdir(join(docs, ".hidden"));
    mkdir(join(docs, ".BookLibrary"));
    mkdir(join(docs, "Inbox"));
    mkdir(join(docs, "Comics/Inbox"));
    // Only regular files are books: a pipe (or a link to one) is never listed.
    ASSERT_EQ(::mkfifo(join(docs, "Pipe.cbz").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("Pipe.cbz", join(docs, "Link.cbz").c_str()), 0);

    auto l = folder("");
    EXPECT_EQ(namesOf(l->localItemList()), (std::set<std::string>{"a.zip", "b.PDF", "site.SHORTCUT", "look.lbt",
                                                                  "Comics", "Secret", ".BookLibrary"}));
    EXPECT_EQ(find(l->localItemList(), "a.zip")->type(), 1);
    EXPECT_EQ(find(l->localItemList(), "b.PDF")->type(), 3);
    EXPECT_EQ(find(l->localItemList(), "site.SHORTCUT")->type(), 5);
    EXPECT_EQ(find(l->localItemList(), "look.lbt")->type(), 4);
    EXPECT_EQ(find(l->localItemList(), ".BookLibrary")->type(), 6);
    auto secret = find(l->localItemList(), "Secret");
    EXPECT_EQ(secret->type(), 0);
    EXPECT_EQ(secret->pathFromBooks(), ".lock_Secret");  // the name on disk
    EXPECT_EQ(find(l->localItemList(), "Comics")->pathFromBooks(), "Comics");
    EXPECT_TRUE(find(l->localItemList(), "Comics")->creationDate().has_value());

    // "Inbox" is hidden only in the library root.
    auto comics = folder("Comics");
    EXPECT_EQ(namesOf(comics->localItemList()), std::set<std::string>{"Inbox"});
    EXPECT_EQ(find(comics->localItemList(), "Inbox")->pathFromBooks(), "Comics/Inbox");
}

TEST_F(LocalFilelistTest, EntriesWithoutATypeInTheDirectoryAreAskedOneByOne) {
    test::TempDir dir;
    mkdir(dir.file("sub"));
    touch(dir.file("book.zip"));
    ASSERT_EQ(::symlink(dir.file("sub").c_str(), dir.file("link").c_str()), 0);
    auto entries = Local::readDirectoryEntries(dir.path());
    ASSERT_TRUE(entries);
    EXPECT_EQ(entries->size(), 3u);
    // What readdir answers on file systems that leave d_type unknown: the
    // same names, each resolved with lstat (a link is never a folder).
    int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(Local::entryType(fd, "sub", DT_UNKNOWN).isDirectory);
    EXPECT_FALSE(Local::entryType(fd, "book.zip", DT_UNKNOWN).isDirectory);
    EXPECT_FALSE(Local::entryType(fd, "link", DT_UNKNOWN).isDirectory);
    EXPECT_FALSE(Local::entryType(fd, "gone", DT_UNKNOWN).isDirectory);
    EXPECT_TRUE(Local::entryType(fd, "anything", DT_DIR).isDirectory);
    EXPECT_FALSE(Local::entryType(fd, "sub", DT_LNK).isDirectory);
    ::close(fd);
    for (const auto& e : *entries) EXPECT_EQ(e.isDirectory, e.name == "sub") << e.name;
    EXPECT_FALSE(Local::readDirectoryEntries(dir.file("missing")));
}

TEST_F(LocalFilelistTest, RootShowsTheDownloadFolderOnlyWhenItHoldsBooks) {
    touch(join(documents(), "a.zip"));
    showRoot(true);
    EXPECT_FALSE(find(root->localItemList(), "Downloads (0)"));
    EXPECT_TRUE(root->isHideDownloadFolder());
    EXPECT_EQ(root->title(), "HOME");

    // A download landing while the root is in front shows within the
    // timer's round.
    touch(join(downloads(), "1.zip"));
    driver->advance(3.1);
    EXPECT_TRUE(find(root->localItemList(), "Downloads (1)"));
    EXPECT_FALSE(root->isHideDownloadFolder());

    nav->pushViewController(folder("Comics"), false);
    driver->advance(0.5);
    touch(join(downloads(), "2.cbz"));
    touch(join(downloads(), "3.pdf"));
    touch(join(downloads(), "notes.txt"));
    // The next appearance notices the download folder filling up.
    nav->popViewController(false);
    driver->advance(0.5);
    auto entry = find(root->localItemList(), "Downloads (3)");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->type(), 7);
    // Files come first by default, so the entry follows the books.
    EXPECT_EQ(root->itemList().back()->filename(), "Downloads (3)");
}

TEST_F(LocalFilelistTest, ImagesShareTheFolderPositionAndMarkThePagesRead) {
    const std::string dir = join(documents(), "Scans");
    for (int i = 0; i < 7; ++i) touch(join(dir, "p" + std::to_string(i) + ".png"));
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(join(dir, "dummy.png"), 4, false, false, 0, false, 7, "",
                                                          false, false));
    auto l = folder("Scans");
    int read = 0, unread = 0;
    for (const auto& i : l->localItemList()) {
        EXPECT_EQ(i->type(), 2);
        (i->imageType() == 2 ? read : unread)++;
        EXPECT_EQ(i->readingPageNo(), 4);
        EXPECT_EQ(i->numberOfPages(), 7);
    }
    EXPECT_EQ(read, 5);
    EXPECT_EQ(unread, 2);

    // A folder not read yet has no position: it is looked for once, not
    // once a picture (each miss is also a line of the crash log).
    const std::string fresh = join(documents(), "Fresh");
    for (int i = 0; i < 300; ++i) touch(join(fresh, "p" + std::to_string(i) + ".png"));
    sys::UserDefaults::standard().setBool(true, "enable_crashlog");
    ActiveLog::applicationdidFinishLaunching();
    auto f = folder("Fresh");
    const std::string log = ActiveLog::getActiveLog();
    ActiveLog::applicationWillTerminate();
    sys::UserDefaults::standard().setBool(false, "enable_crashlog");
    ASSERT_EQ(f->localItemList().size(), 300u);
    for (const auto& i : f->localItemList()) {
        EXPECT_EQ(i->readingPageNo(), 0);
        EXPECT_FALSE(i->bookmarkDate());
    }
    const std::string miss = ActiveLog::entryLine("getFilePageInfoWithFilename", "E");
    size_t misses = 0;
    for (size_t at = log.find(miss); at != std::string::npos; at = log.find(miss, at + 1)) ++misses;
    EXPECT_LE(misses, 2u);
}

// A folder opened at its first picture (one handed over) has its book
// opened and that page composed on a worker: the list's appearance only
// starts it, and the reading screen comes once it is done.
TEST_F(LocalFilelistTest, AFolderOpenedAtItsFirstPictureIsOpenedOnAWorker) {
    const std::string dir = join(documents(), "Pics");
    mkdir(dir);
    for (int i = 0; i < 3; ++i) {
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.2, 0.3 * i, 0.5, 1});
        ASSERT_TRUE(c.writePNG(join(dir, "p" + std::to_string(i) + ".png")));
    }
    auto list = showFolder("Pics");
    list->setOpenFirstImageMode(true);
    list->viewDidAppear(false);
    const std::string first = join(dir, "p0.png");
    EXPECT_TRUE(PreparedBookOpen::isPreparing(first) || PreparedBookOpen::ready());
    EXPECT_EQ(nav->topViewController(), list.get());
    driver->advance(2);
    auto* reading = dynamic_cast<BookViewController*>(nav->topViewController());
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->fileName(), first);
    EXPECT_FALSE(PreparedBookOpen::ready());
}

TEST_F(LocalFilelistTest, LastReadMarkAndUserOrderReadOnlyWellTypedFiles) {
    const std::string docs = documents();
    touch(join(docs, "a.zip"));
    touch(join(docs, "b.zip"));
    touch(join(docs, "c.zip"));
    const std::string history = BookCommon::getLastReadingFileStoreFile(docs);
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue("b.zip")}, history);
    auto l = folder("");
    EXPECT_TRUE(find(l->localItemList(), "b.zip")->isLastReadingFile());
    EXPECT_FALSE(find(l->localItemList(), "a.zip")->isLastReadingFile());

    // The mark moves when the file changes; a number where a name belongs marks nothing.
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue("a.zip")}, history);
    l->checkLastReadingMark();
    EXPECT_TRUE(find(l->localItemList(), "a.zip")->isLastReadingFile());
    EXPECT_FALSE(find(l->localItemList(), "b.zip")->isLastReadingFile());
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(int64_t(7))}, history);
    EXPECT_EQ(Local::readLastReadName(docs), "");
    sys::PropertyList::writeFile(sys::PlistDictionary{{"x", sys::PlistValue("a.zip")}}, history);
    EXPECT_EQ(Local::readLastReadName(docs), "");

    // User order: listed names first in the file's order, the rest after;
    // entries that are not names are skipped.
    sys::PropertyList::writeFile(
        sys::PlistArray{sys::PlistValue("c.zip"), sys::PlistValue(int64_t(3)), sys::PlistValue("a.zip")},
        BookCommon::getSortUserListFile(docs));
    l->onSelectSortMode(3, false, false);
    ASSERT_EQ(l->itemList().size(), 3u);
    EXPECT_EQ(l->itemList()[0]->filename(), "c.zip");
    EXPECT_EQ(l->itemList()[1]->filename(), "a.zip");
    EXPECT_EQ(l->itemList()[2]->filename(), "b.zip");
    EXPECT_EQ(l->itemList()[2]->remoteOriginalIndexNo(), FilelistBaseViewController::kUnsortedUserIndex);
    EXPECT_EQ(FilelistBaseViewController::readSortChoice(*l->getSortConfigFile())->mode, 3);
}

TEST_F(LocalFilelistTest, TheLastBookFileCountsOnlyWithAPathInFront) {
    const std::string file = BookCommon::getLastBookSettingFilePath();
    mkdir(sys::Path::stringByDeletingLastPathComponent(file));
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue("Comics/a.zip")}, file);
    EXPECT_EQ(Local::readLastBookPath(file), "Comics/a.zip");
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(int64_t(1)), sys::PlistValue("a.zip")}, file);
    EXPECT_FALSE(Local::readLastBookPath(file));
    sys::PropertyList::writeFile(sys::PlistDictionary{{"0", sys::PlistValue("a.zip")}}, file);
    EXPECT_FALSE(Local::readLastBookPath(file));
    sys::PropertyList::writeFile(sys::PlistArray{}, file);
    EXPECT_FALSE(Local::readLastBookPath(file));
    EXPECT_FALSE(Local::readUserOrder(file + ".missing"));
}

TEST_F(LocalFilelistTest, NewBooksShowUpWithinThreeSecondsButANewFolderAloneDoesNot) {
    touch(join(documents(), "a.zip"));
    showRoot(true);
    EXPECT_TRUE(root->isCheckTimerRunning());
    driver->advance(3.1);  // first check only counts
    mkdir(join(documents(), "New Folder"));
    driver->advance(3.1);
    EXPECT_FALSE(find(root->localItemList(), "New Folder"));
    touch(join(documents(), "b.cbz"));
    driver->advance(3.1);
    EXPECT_TRUE(find(root->localItemList(), "b.cbz"));
    EXPECT_TRUE(find(root->localItemList(), "New Folder"));

    nav->pushViewController(folder("New Folder"), false);
    driver->advance(0.5);
    EXPECT_FALSE(root->isCheckTimerRunning());
}

TEST_F(LocalFilelistTest, TypedNamesAreRefusedWhenTheyCouldEscapeOrHide) {
    EXPECT_TRUE(Local::isAcceptableEntryName("Comics", false));
    EXPECT_TRUE(Local::isAcceptableEntryName("Vol. 1", false));
    EXPECT_TRUE(Local::isAcceptableEntryName("日本語", false));
    const std::vector<std::string> refused{"",   ".",  "..", "a/b", "/", std::string("a\0b", 3), ".hidden",
                                           "?x", "*x", std::string(256, 'n')};
    for (const std::string& bad : refused)
        EXPECT_FALSE(Local::isAcceptableEntryName(bad, true)) << bad;
    EXPECT_TRUE(Local::isAcceptableEntryName(std::string(255, 'n'), false));
    EXPECT_TRUE(Local::isAcceptableEntryName(".lock_Secret", true));
    EXPECT_FALSE(Local::isAcceptableEntryName(".lock_Secret", false));
    EXPECT_FALSE(Local::isAcceptableEntryName(".lock_", true));
}

TEST_F(LocalFilelistTest, RenamingAFolderChecksTheNameAndNeverReplacesAnother) {
    const std::string docs = documents();
    mkdir(join(docs, "Old"));
    mkdir(join(docs, "Taken"));
    touch(join(docs, "Taken/keep.zip"));
    auto l = folder("");
    int64_t index = -1;
    for (size_t i = 0; i < l->itemList().size(); ++i)
        if (l->itemList()[i]->filename() == "Old") index = int64_t(i);
    ASSERT_GE(index, 0);
    l->setFolderDetailIndex(index);
    EXPECT_FALSE(l->changeDirectoryName("../Escaped"));
    EXPECT_FALSE(l->changeDirectoryName(".."));
    EXPECT_FALSE(l->changeDirectoryName(".Hidden"));
    EXPECT_FALSE(l->changeDirectoryName("Taken"));
    EXPECT_TRUE(sys::FileManager::fileExists(join(docs, "Taken/keep.zip")));
    EXPECT_FALSE(l->needUpdateFileList());
    EXPECT_TRUE(l->changeDirectoryName("Old"));  // the same path: nothing to do
    EXPECT_TRUE(l->changeDirectoryName("New"));
    EXPECT_TRUE(l->needUpdateFileList());
    EXPECT_TRUE(sys::FileManager::fileExists(join(docs, "New")));
    EXPECT_FALSE(sys::FileManager::fileExists(join(docs, "Old")));

    touch(join(docs, "site.shortcut"));
    EXPECT_FALSE(l->renameShortcut("site.shortcut", "a/b"));
    EXPECT_TRUE(l->renameShortcut("site.shortcut", "Home Server"));
    EXPECT_TRUE(sys::FileManager::fileExists(join(docs, "Home Server.shortcut")));
}

TEST_F(LocalFilelistTest, TappingAFolderOpensItsList) {
    mkdir(join(documents(), "Comics"));
    touch(join(documents(), "Comics/a.zip"));
    showRoot(true);
    ASSERT_TRUE(tapText("Comics"));
    driver->advance(1.0);
    ASSERT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics"}));
    auto* top = dynamic_cast<Local*>(nav->topViewController());
    EXPECT_EQ(top->title(), "Comics");
    EXPECT_TRUE(find(top->localItemList(), "a.zip"));
}

TEST_F(LocalFilelistTest, RestartWalksBackToTheLastFolder) {
    mkdir(join(documents(), "Comics/Vol 1"));
    touch(join(documents(), "Comics/Vol 1/a.zip"));
    // Last run: the user was in Comics/Vol 1.
    LastStatusRestore::setLocalTargetPath("Comics/Vol 1");
    LastStatusRestore::setRestoreMode(1);
    showRoot();
    driver->advance(1.0);
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics", "Comics/Vol 1"}));
    EXPECT_EQ(LastStatusRestore::getRestoreMode(), 0);
    // The root holds one folder, but the first-start help is the root's: it
    // does not come over the folder the restore put in front.
    EXPECT_FALSE(root->initialHelpView());
    EXPECT_FALSE(driver->findByText("Welcome to Leafbright"));

    // Going back records the folder shown as the one to come back to.
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_EQ(LastStatusRestore::getNextLocalPath(""), "Comics");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath("Comics"), std::nullopt);
    EXPECT_FALSE(root->initialHelpView());
    // Back on the root, in front, it shows.
    nav->popViewController(false);
    driver->advance(1.0);
    EXPECT_TRUE(root->initialHelpView());
}

TEST_F(LocalFilelistTest, RestoreStopsQuietlyWhenTheFolderIsGoneOrTheUserSaidNo) {
    mkdir(join(documents(), "Comics"));
    LastStatusRestore::setLocalTargetPath("Comics/Removed");
    LastStatusRestore::setRestoreMode(1);
    showRoot();
    driver->advance(1.0);
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics"}));
    EXPECT_EQ(LastStatusRestore::getRestoreMode(), 0);

    settings->setValueForKey("isGotoTheLastFolder", sys::PlistValue(false));
    sys::UserDefaults::standard().removeObjectForKey("isGotoTheLastFolder");
    LastStatusRestore::setLocalTargetPath("Comics");
    LastStatusRestore::setRestoreMode(1);
    showRoot();
    driver->advance(1.0);
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""});
}

TEST_F(LocalFilelistTest, ALockedFolderAsksForItsPasscodeBeforeOpening) {
    auto services = std::make_shared<librarytest::PasscodeServices>();
    LibraryServices::install(services);
    const std::string locked = join(documents(), ".lock_Secret");
    mkdir(locked);
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(locked));
    ASSERT_TRUE(BookCommon::isFolderLocked(locked));
    showRoot(true);
    ASSERT_TRUE(tapText("Secret"));
    driver->advance(1.0);
    ASSERT_FALSE(services->asked.empty());
    EXPECT_EQ(services->asked.back().pathFromBooks, ".lock_Secret");
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""});
    auto d = services->answer.lock();
    ASSERT_TRUE(d);
    d->passCodeInputComplete(services->asked.back().actionID, locked, ".lock_Secret", "1234");
    driver->advance(1.0);
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", ".lock_Secret"}));
    EXPECT_TRUE(dynamic_cast<Local*>(nav->topViewController())->isInLockedFolder());
    EXPECT_EQ(nav->topViewController()->title(), "Secret");
}

}  // namespace

namespace {

TEST(LocalFilelistWebAddresses, AFolderIsKnownWithOrWithoutItsFinalSlash) {
    EXPECT_EQ(Local::webFolderURL("http://h:8080/books/"), "http://h:8080/books/");
    EXPECT_EQ(Local::webFolderURL("http://h:8080/books"), "http://h:8080/books/");
    EXPECT_EQ(Local::webFolderURL("https://h"), "https://h/");
    EXPECT_EQ(Local::webFolderURL("http://h/My%20Comics"), "http://h/My%20Comics/");
    // Files: a book, PDF or theme name, encoded or not, or an address with a query.
    EXPECT_EQ(Local::webFolderURL("http://h/books/a.cbz"), std::nullopt);
    EXPECT_EQ(Local::webFolderURL("http://h/books/Vol%201.ZIP"), std::nullopt);
    EXPECT_EQ(Local::webFolderURL("http://h/doc.pdf"), std::nullopt);
    EXPECT_EQ(Local::webFolderURL("http://h/get?id=3"), std::nullopt);
    EXPECT_EQ(Local::webFolderURL(""), std::nullopt);
}

// What the root list does with an address handed in at launch.
struct StartupServices : librarytest::NullServices {
    std::optional<std::string> url;
    std::optional<std::string> startupOpenUrl() override { return url; }
    void setStartupOpenUrl(const std::optional<std::string>& u) override { url = u; }
};

struct StartupOpener : MediaServerOpener {
    std::vector<std::string> opened, queued;
    void pushToMediaServer(const std::shared_ptr<LocalFilelistViewController>&, const sys::PlistDictionary& info) override {
        opened.push_back(info.getString("url"));
    }
    bool restoreRemoteList(const std::shared_ptr<LocalFilelistViewController>&) override { return false; }
    void editShortcut(const std::shared_ptr<LocalFilelistViewController>&, const sys::PlistDictionary&,
                      const std::string&) override {}
    bool queueDownload(const std::string& url, const std::string& savePath) override {
        queued.push_back(url + " -> " + savePath);
        return true;
    }
};

TEST_F(LocalFilelistTest, AnAddressHandedInAtLaunchOpensItsFolderOrQueuesItsFile) {
    auto services = std::make_shared<StartupServices>();
    auto opener = std::make_shared<StartupOpener>();
    LibraryServices::install(services);
    MediaServerOpener::install(opener);
    for (const char* url : {"http://127.0.0.1:9/comics", "http://127.0.0.1:9/shelf/", "http://127.0.0.1:9/a%20b.cbz"}) {
        services->url = url;
        showRoot(true);
        driver->advance(1.0);
        EXPECT_EQ(services->url, std::nullopt) << url;  // taken once
    }
    EXPECT_EQ(opener->opened,
              (std::vector<std::string>{"http://127.0.0.1:9/comics/", "http://127.0.0.1:9/shelf/"}));
    EXPECT_EQ(opener->queued,
              std::vector<std::string>{"http://127.0.0.1:9/a%20b.cbz -> " + BookCommon::getBooksTempRoot()});
    MediaServerOpener::install(nullptr);
    LibraryServices::install(nullptr);
}

}  // namespace

namespace {

// The first-start help over a nearly empty root list.
TEST_F(LocalFilelistTest, TheHelpShowsOverANearlyEmptyRootAndGoesWithTheFirstAction) {
    touch(join(documents(), "only.zip"));
    showRoot(true);
    driver->advance(1.0);
    ui::View* help = root->initialHelpView();
    ASSERT_TRUE(help);
    EXPECT_TRUE(driver->findByText("Welcome to Leafbright"));
    EXPECT_TRUE(driver->findByText("Tap to import books."));
    const ui::Rect area = window->bounds();
    EXPECT_EQ(help->frame().x(), double(int64_t(area.width() / 20)));
    EXPECT_EQ(help->frame().y(), area.height() - help->frame().height() - 45);
    EXPECT_EQ(help->alpha(), 1.0);
    ASSERT_TRUE(window->snapshot(snapshotPath("library-first-start-help.png")));
    // It does not stand in the way of the rows, and the first tap takes it away.
    ASSERT_TRUE(tapText("only"));
    EXPECT_FALSE(root->initialHelpView());
    EXPECT_FALSE(driver->findByText("Welcome to Leafbright"));

    // A list with books to show, or a restore on its way, gets none.
    touch(join(documents(), "second.zip"));
    showRoot(true);
    driver->advance(1.0);
    EXPECT_FALSE(root->initialHelpView());
    // Nor does it when a search shows one of them and the list comes back in front.
    root->onSetSearchString("second");
    ASSERT_EQ(root->itemList().size(), 1u);
    nav->pushViewController(std::make_shared<ui::ViewController>(), false);
    driver->advance(1.0);
    nav->popViewController(false);
    driver->advance(1.0);
    EXPECT_FALSE(root->initialHelpView());
}

TEST_F(LocalFilelistTest, ThePopupMenuTakesTheHelpAway) {
    showRoot(true);
    driver->advance(1.0);
    ASSERT_TRUE(root->initialHelpView());
    root->onPopupMenu();
    EXPECT_FALSE(root->initialHelpView());
    EXPECT_TRUE(root->popUpMenuView());
    // While the popup is open the scan sheet does not come.
    root->onScanBtn(nullptr);
    driver->advance(0.5);
    EXPECT_FALSE(driver->findByText("Scanning book"));
}

TEST_F(LocalFilelistTest, KeysHighlightAnEntryOfTheListOrTheShelfAndReturnOpensIt) {
    char name[8];
    for (int i = 0; i < 30; ++i) {
        std::snprintf(name, sizeof name, "F%02d", i);
        mkdir(join(documents(), std::string("Shelf/") + name));
    }
    auto list = showFolder("Shelf");
    list->changeBookshelfMode(0, true);
    driver->advance(1.0);
    ui::TableView* table = list->tableView();
    // The list: from the first entry (the header row and the fillers are
    // passed), kept in sight.
    EXPECT_TRUE(driver->key(ui::KeyInput::downArrow));
    EXPECT_EQ(table->keyHighlightedRow(), (ui::IndexPath{1, 0}));
    for (int i = 0; i < 40; ++i) driver->key(ui::KeyInput::downArrow);
    EXPECT_EQ(table->keyHighlightedRow(), (ui::IndexPath{1, 29}));
    const ui::Rect last = table->rectForRowAtIndexPath({1, 29});
    EXPECT_LE(last.maxY(), table->contentOffset().y + table->bounds().height() - table->adjustedContentInset().bottom);
    driver->key(ui::KeyInput::upArrow);
    driver->key(ui::KeyInput::returnKey);
    driver->advance(1.0);
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"Shelf", "Shelf/F28"}));
    nav->popViewController(false);
    driver->advance(1.0);

    // The shelf: the arrows move from cover to cover, up and down a shelf.
    list->changeBookshelfMode(1, true);
    table->setContentOffset(table->minimumContentOffset(), false);
    driver->advance(1.0);
    const int n = list->numberOfBooksInRow();
    ASSERT_GT(n, 1);
    driver->key(ui::KeyInput::downArrow);
    EXPECT_EQ(list->keyHighlightedItem(), 0);
    driver->key(ui::KeyInput::rightArrow);
    driver->key(ui::KeyInput::downArrow);
    EXPECT_EQ(list->keyHighlightedItem(), n + 1);
    driver->key(ui::KeyInput::leftArrow);
    EXPECT_EQ(list->keyHighlightedItem(), n);
    int lit = 0;
    for (auto* v : driver->findAllOf<BookshelfBookButton>())
        if (v->isKeyHighlighted()) {
            ++lit;
            EXPECT_EQ(v->indexNo(), n);
        }
    EXPECT_EQ(lit, 1);
    EXPECT_FALSE(table->keyHighlightedRow());
    driver->key(ui::KeyInput::returnKey);
    driver->advance(1.0);
    std::snprintf(name, sizeof name, "F%02d", n);
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"Shelf", std::string("Shelf/") + name}));
    nav->popViewController(false);
    driver->advance(1.0);

    // With the menu open the keys are the menu's alone.
    list->changeBookshelfMode(0, true);
    driver->advance(0.5);
    const double y = table->contentOffset().y;
    list->onPopupMenu();
    driver->advance(0.5);
    ASSERT_TRUE(list->popUpMenuView());
    driver->key(ui::KeyInput::end);
    driver->key(ui::KeyInput::downArrow);
    EXPECT_EQ(table->contentOffset().y, y);
    EXPECT_FALSE(table->keyHighlightedRow());
    EXPECT_EQ(list->popUpMenuView()->keyHighlightedRow(), 0);
    driver->key(ui::KeyInput::escape);
    EXPECT_FALSE(list->popUpMenuView());
}

// The scan sheet of a scan folder: "Archive This Folder" packs its .jpg
// pages (exactly that extension, in folder order) into a zip beside it.
TEST_F(LocalFilelistTest, ArchiveThisFolderPacksTheScannedPagesBesideTheFolder) {
    if (!test::haveProgram("unzip")) GTEST_SKIP() << "unzip is not installed";
    const std::string scan = join(documents(), "Scan1");
    mkdir(scan);
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(sys::PlistDictionary{}), join(scan, ".scan.lbs")));
    touch(join(scan, "0001.jpg"), "page one");
    touch(join(scan, "0002.jpg"), "page two");
    touch(join(scan, "0003.jpeg"), "left out");
    touch(join(scan, "0004.JPG"), "left out");
    auto list = showFolder("Scan1");

    list->onScanBtn(nullptr);
    driver->advance(0.5);
    EXPECT_TRUE(driver->findByText("Scanning book"));
    EXPECT_TRUE(driver->findByText("Add Pages"));
    ASSERT_TRUE(tapText("Archive This Folder"));
    driver->advance(1.0);
    const std::string zip = join(documents(), "Scan1.zip");
    ASSERT_TRUE(std::filesystem::exists(zip));
    EXPECT_TRUE(driver->findByText("Archive File Created"));
    EXPECT_TRUE(driver->findByText("Scan1.zip"));
    const std::string names = join(documents(), "names.txt");
    ASSERT_EQ(test::shell("unzip -Z1 '" + zip + "' > '" + names + "'"), 0);
    std::ifstream in(names);
    std::vector<std::string> got;
    for (std::string line; std::getline(in, line);) got.push_back(line);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"0001.jpg", "0002.jpg"}));
    ASSERT_TRUE(tapText("OK"));

    // A second archive never replaces the first: the user is told.
    const auto before = std::filesystem::file_size(zip);
    EXPECT_FALSE(list->archiveCreate());
    driver->advance(0.5);
    EXPECT_TRUE(driver->findByText("Error Creating Archive File"));
    EXPECT_EQ(std::filesystem::file_size(zip), before);
}

// Elsewhere the sheet offers a new scanned book, which needs the camera's screen.
TEST_F(LocalFilelistTest, ScanNewBookOpensTheCameraScreenWhereThereIsOne) {
    struct ScanServices : StartupServices {
        std::vector<std::pair<bool, std::string>> asked;
        std::shared_ptr<ui::ViewController> makeScanScreen(bool newBook, const std::string& folder) override {
            asked.emplace_back(newBook, folder);
            return std::make_shared<ui::ViewController>();
        }
    };
    mkdir(join(documents(), "Plain"));
    auto list = showFolder("Plain");
    // Without a camera screen nothing opens.
    list->onScanBtn(nullptr);
    driver->advance(0.5);
    EXPECT_FALSE(driver->findByText("Archive This Folder"));
    ASSERT_TRUE(tapText("Scan New Book"));
    driver->advance(0.5);
    EXPECT_EQ(nav->viewControllers().size(), 1u);

    auto services = std::make_shared<ScanServices>();
    LibraryServices::install(services);
    list->onScanBtn(nullptr);
    driver->advance(0.5);
    ASSERT_TRUE(tapText("Scan New Book"));
    driver->advance(1.0);
    ASSERT_EQ(services->asked.size(), 1u);
    EXPECT_TRUE(services->asked[0].first);
    EXPECT_EQ(services->asked[0].second, join(documents(), "Plain"));
    EXPECT_EQ(nav->viewControllers().size(), 2u);
    LibraryServices::install(nullptr);
}

}  // namespace

namespace {

// With a camera the folder's tool bar has the scan button (a camera, or a
// book in a scan folder), and it opens the scan sheet.
TEST_F(LocalFilelistTest, WithACameraTheToolBarsScanButtonOpensTheSheet) {
    const sys::DeviceProfile saved = sys::DeviceProfile::current();
    sys::DeviceProfile camera = saved;
    camera.hasCamera = true;
    sys::DeviceProfile::setCurrent(camera);
    mkdir(join(documents(), "Scans"));
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(sys::PlistDictionary{}),
                                             join(documents(), "Scans/.scan.lbs")));
    auto list = showFolder("Scans");
    // The phone's bar: menu, transfers, scan, brightness, rotation lock, settings.
    std::vector<ui::BarButtonItem*> buttons;
    for (const auto& item : list->toolbarItems())
        if (item->image()) buttons.push_back(item.get());
    ASSERT_EQ(buttons.size(), 6u) << "no scan button";
    ui::BarButtonItem* scan = buttons[2];
    EXPECT_FALSE(scan->image()->isPlaceholder());
    scan->trigger();
    driver->advance(0.5);
    EXPECT_TRUE(driver->findByText("Archive This Folder"));
    sys::DeviceProfile::setCurrent(saved);
}

}  // namespace
