// Opening books from the local list, end to end on real archives made by
// Info-ZIP's zip and on folders of real images: the sheet, the inner-archive
// question, the inner-folder picker, the password screen, the reading screen,
// and the neighbouring book asked for by the reading screen.
#include "LibraryTestSupport.h"

#include "engine/BookReaderEx.h"
#include "engine/UnrarArchive.h"
#include "foundation/HistoryCollector.h"
#include "foundation/StatisticsStore.h"
#include "foundation/ui/QNNoticeView.h"
#include "library/ArchivePasswordViewController.h"
#include "library/IncludeFolderSelectViewController.h"
#include "library/LocalBookOpener.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/RecordingPhotoAlbum.h"
#include "viewer/BookViewController.h"
#include "tests/support/RarLibraryHold.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <zlib.h>
#include <initializer_list>

#include <sys/resource.h>
#include <unistd.h>

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;
using Opener = LocalBookOpener;

namespace {

// A small page picture as a PNG.
void writePage(const std::string& path, int n) {
    gfx::Canvas c(60, 80, 1.0);
    c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.1 * (n % 10), 0.5, 0.9 - 0.08 * (n % 10), 1});
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(c.writePNG(path));
}

// A RAR 5 archive's file headers rewritten to state a dictionary of 1 GB
// (the data, packed with a small one, decodes the same in a larger one),
// their checksums made again. False when the archive is not as expected.
bool stateGigabyteDictionary(const std::string& path) {
    std::string a = test::readFile(path);
    const std::string signature("Rar!\x1A\x07\x01\x00", 8);
    if (a.compare(0, signature.size(), signature) != 0) return false;
    auto vint = [&](size_t& at) {
        uint64_t v = 0;
        for (int shift = 0; at < a.size() && shift < 64; shift += 7) {
            const unsigned char b = static_cast<unsigned char>(a[at++]);
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) break;
        }
        return v;
    };
    bool patched = false;
    for (size_t block = signature.size(); block + 4 < a.size();) {
        size_t at = block + 4;
        const size_t sizeStart = at;
        const uint64_t headerSize = vint(at);
        const size_t headerStart = at;
        const uint64_t type = vint(at);
        const uint64_t flags = vint(at);
        if (flags & 1) vint(at);  // extra area size
        const uint64_t dataSize = (flags & 2) ? vint(at) : 0;
        if (type == 2) {
            const uint64_t fileFlags = vint(at);
            vint(at);                  // unpacked size
            vint(at);                  // attributes
            if (fileFlags & 2) at += 4;  // modification time
            if (fileFlags & 4) at += 4;  // data checksum
            const size_t infoAt = at;
            const uint64_t info = vint(at);
            if (at - infoAt != 2) return false;
            const uint64_t stated = (info & ~uint64_t(0xF << 10)) | uint64_t(13) << 10;  // 128 KiB << 13
            a[infoAt] = char(0x80 | (stated & 0x7F));
            a[infoAt + 1] = char(stated >> 7);
            const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(a.data() + sizeStart),
                                                uInt(headerStart - sizeStart + headerSize)));
            for (int i = 0; i < 4; ++i) a[block + size_t(i)] = char(crc >> (8 * i));
            patched = true;
        }
        if (type == 5) break;  // the end of the archive
        block = headerStart + headerSize + dataSize;
    }
    test::writeFile(path, a);
    return patched;
}

class LocalBookOpenerTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        StatisticsStore::releaseSharedStatisticsStore();
        HistoryCollector::relaseHistory();
        src = std::make_unique<test::TempDir>("pages");
    }
    void TearDown() override {
        Opener::setSolidArchiveProbe({});
        ui::PhotoAlbum::setShared(nullptr);
        if (nav) nav->popToRootViewController(false);
        driver->advance(1.0);
        root.reset();
        nav.reset();
        StatisticsStore::releaseSharedStatisticsStore();
        HistoryCollector::relaseHistory();
        LibraryTest::TearDown();
    }

    // A zip in the library made by the zip tool from pages written for it:
    // `entries` are page names (".png") or folders of pages ("vol1/").
    void makeZip(const std::string& pathFromBooks, std::initializer_list<std::string> pages,
                 const std::string& password = "", const std::string& extra = "") {
        int n = 0;
        for (const auto& p : pages) writePage(src->file(p), ++n);
        std::string list;
        for (const auto& p : pages) list += " '" + p + "'";
        if (!extra.empty()) list += " " + extra;
        const std::string target = join(documents(), pathFromBooks);
        std::filesystem::create_directories(std::filesystem::path(target).parent_path());
        std::filesystem::remove(target);
        const std::string pw = password.empty() ? "" : " -P '" + password + "'";
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q -X" + pw + " '" + target + "'" + list +
                              " >/dev/null 2>&1"),
                  0);
    }
    void usePages(std::initializer_list<std::string> names) {
        for (const auto& p : names) writePage(join(documents(), p), 1);
    }
    void setting(const std::string& key, const sys::PlistValue& value) { settings->setValueForKey(key, value); }
    void storePosition(const std::string& pathFromBooks, long page, long pages, const std::string& folder = "") {
        ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(join(documents(), pathFromBooks), page, false, false, 0,
                                                              false, pages, folder, false, false));
    }

    void showRoot() {
        root = std::make_shared<Local>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.6);
    }
    int64_t indexOf(const std::string& name) const {
        const auto& items = root->itemList();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->filename() == name) return int64_t(i);
        ADD_FAILURE() << name << " is not listed";
        return -1;
    }
    void tapBook(const std::string& name) {
        const int64_t i = indexOf(name);
        ASSERT_GE(i, 0);
        root->tableViewDidSelectRowAtIndexPath(*root->tableView(), {1, int(i)});
        driver->advance(0.6);
    }

    // The action sheet or alert form shown now, or null.
    ui::AlertController* presentedSheet() const {
        ui::ViewController* vc = nav.get();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        return vc == nav.get() ? nullptr : dynamic_cast<ui::AlertController*>(vc);
    }
    std::vector<std::string> sheetTitles() const {
        std::vector<std::string> out;
        if (auto* s = presentedSheet())
            for (const auto& a : s->actions()) out.push_back(a->title());
        return out;
    }
    void chooseInSheet(const std::string& title) {
        auto* sheet = presentedSheet();
        ASSERT_TRUE(sheet) << "no sheet for " << title;
        for (const auto& a : sheet->actions()) {
            if (a->title() != title) continue;
            sheet->choose(a);
            driver->advance(1.0);
            return;
        }
        FAIL() << "no button " << title;
    }
    // The notice box of an alert on screen, or null.
    QNNoticeView* notice() const {
        for (QNNoticeView* n : driver->findAllOf<QNNoticeView>())
            if (!n->isClosing()) return n;
        return nullptr;
    }
    void pressNotice(const std::string& title) {
        QNNoticeView* n = notice();
        ASSERT_TRUE(n);
        for (const auto& b : n->buttons()) {
            if (ui::test::Driver::textOf(*b) != title) continue;
            driver->tap(*b);
            driver->advance(1.0);
            return;
        }
        FAIL() << "no notice button " << title;
    }
    BookViewController* viewer() const { return dynamic_cast<BookViewController*>(nav->topViewController()); }
    template <class T>
    T* top() const {
        return dynamic_cast<T*>(nav->topViewController());
    }
    void closeViewer() {
        ASSERT_TRUE(viewer());
        nav->popViewController(false);
        driver->advance(1.0);
    }

    std::unique_ptr<test::TempDir> src;
    std::shared_ptr<Local> root;
    std::shared_ptr<ui::NavigationController> nav;
};

// ---- The sheet --------------------------------------------------------------------------------------

TEST(BookSheet, ButtonsFollowTheStoredPositionAndTheKindOfEntry) {
    Opener::SheetButtons b;
    int64_t cancel = -1;
    EXPECT_EQ(Opener::bookSheetTitles(1, 0, false, &b, &cancel),
              (std::vector<std::string>{"Read the first page", "Cancel"}));
    EXPECT_EQ(cancel, 1);
    EXPECT_EQ(b.bookMark, -1);
    EXPECT_EQ(b.cameraRoll, -1);

    EXPECT_EQ(Opener::bookSheetTitles(2, 0, false, &b, &cancel),
              (std::vector<std::string>{"Open Selected Image", "Save to Pictures", "Cancel"}));
    EXPECT_EQ(cancel, 2);
    EXPECT_EQ(b.cameraRoll, 1);

    // The page shown counts from 1.
    EXPECT_EQ(Opener::bookSheetTitles(3, 4, false, &b, &cancel),
              (std::vector<std::string>{"Resume(From page 5)", "Read the first page", "Cancel"}));
    EXPECT_EQ(cancel, 2);
    EXPECT_EQ(b.bookMark, 0);

    EXPECT_EQ(Opener::bookSheetTitles(2, 4, false, &b, &cancel),
              (std::vector<std::string>{"Open Selected Image", "Resume(From page 5)", "Save to Pictures", "Cancel"}));
    EXPECT_EQ(cancel, 3);
    EXPECT_EQ(b.bookMark, 1);
    EXPECT_EQ(b.cameraRoll, 2);

    EXPECT_EQ(Opener::bookSheetTitles(1, 9, true, &b, &cancel),
              (std::vector<std::string>{"Resume folder (Page 10)", "Open another folder", "Cancel"}));
    EXPECT_EQ(b.bookMark, 0);
    EXPECT_EQ(b.zipExpand, -1);
    EXPECT_EQ(b.noExpandZip, -1);
}

TEST(BookSheet, ShownAlwaysOnlyOnTheBookshelfOrNever) {
    EXPECT_TRUE(Opener::showsSheet(0, 0));
    EXPECT_TRUE(Opener::showsSheet(0, 1));
    EXPECT_FALSE(Opener::showsSheet(1, 0));
    EXPECT_TRUE(Opener::showsSheet(1, 1));
    EXPECT_FALSE(Opener::showsSheet(2, 0));
    EXPECT_FALSE(Opener::showsSheet(2, 1));
}

TEST(BookSheet, AStoredPageTheBookNoLongerHasStartsFromTheBeginning) {
    EXPECT_EQ(Opener::startPageForResume(3, 10), 3);
    EXPECT_EQ(Opener::startPageForResume(9, 10), 9);
    EXPECT_EQ(Opener::startPageForResume(10, 10), 0);
    EXPECT_EQ(Opener::startPageForResume(-2, 10), 0);
}

TEST_F(LocalBookOpenerTest, ResumeFromTheSheetOpensTheStoredPageAndRecordsTheOpen) {
    makeZip("Story.cbz", {"p1.png", "p2.png", "p3.png", "p4.png", "p5.png"});
    storePosition("Story.cbz", 2, 5);
    showRoot();
    tapBook("Story.cbz");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Resume(From page 3)", "Read the first page", "Cancel"}));
    EXPECT_EQ(presentedSheet()->alertTitle(), "Story.cbz");
    EXPECT_TRUE(root->bookOpener().isNowWaitingForOpenBook());

    // A second tap while the sheet is up does nothing.
    root->didSelectBook(indexOf("Story.cbz"), std::nullopt);
    driver->advance(0.5);
    EXPECT_EQ(nav->topViewController(), root.get());

    chooseInSheet("Resume(From page 3)");
    EXPECT_FALSE(root->bookOpener().isNowWaitingForOpenBook());
    EXPECT_TRUE(root->bookOpener().prevResumeActionIsYes());
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 2);
    EXPECT_EQ(viewer()->fileName(), join(documents(), "Story.cbz"));
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 5);
    EXPECT_EQ(viewer()->delegate(), static_cast<BookViewControllerDelegate*>(root.get()));
    EXPECT_FALSE(root->bookOpener().activityIndicator());

    // The history, the statistics and the book to resume after a restart.
    auto history = HistoryCollector::getHistory();
    ASSERT_TRUE(history && !history->empty());
    EXPECT_EQ(history->front().pathFromBooks(), "Story.cbz");
    EXPECT_EQ(history->front().bookTitle(), "Story.cbz");
    EXPECT_EQ(StatisticsStore::sharedStatisticsStore()->totalReadBooks(), 1);
    EXPECT_EQ(Local::readLastBookPath(BookCommon::getLastBookSettingFilePath()), "Story.cbz");
}

TEST_F(LocalBookOpenerTest, ASheetThatCannotBeShownDoesNotBlockLaterTaps) {
    makeZip("Story.cbz", {"p1.png", "p2.png"});
    showRoot();
    // Another screen is on its way in when the row is tapped.
    auto other = std::make_shared<ui::ViewController>();
    root->present(other, true);
    tapBook("Story.cbz");
    EXPECT_FALSE(root->bookOpener().isNowWaitingForOpenBook());
    other->dismiss(false);
    driver->advance(0.5);
    tapBook("Story.cbz");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Read the first page", "Cancel"}));
    chooseInSheet("Cancel");
}

TEST_F(LocalBookOpenerTest, CancelLeavesTheListAndFirstPageStartsAtPageOne) {
    makeZip("Story.cbz", {"p1.png", "p2.png", "p3.png"});
    storePosition("Story.cbz", 1, 3);
    showRoot();
    tapBook("Story.cbz");
    chooseInSheet("Cancel");
    EXPECT_EQ(nav->topViewController(), root.get());
    EXPECT_FALSE(root->bookOpener().isNowWaitingForOpenBook());
    EXPECT_FALSE(root->tableView()->indexPathForSelectedRow());

    tapBook("Story.cbz");
    chooseInSheet("Read the first page");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 0);
    EXPECT_FALSE(root->bookOpener().prevResumeActionIsYes());
}

TEST_F(LocalBookOpenerTest, WithoutTheSheetAFinishedBookStartsOverAndAnyOtherResumes) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    makeZip("Done.zip", {"p1.png", "p2.png", "p3.png"});
    makeZip("Half.zip", {"p1.png", "p2.png", "p3.png"});
    storePosition("Done.zip", 2, 3);
    storePosition("Half.zip", 1, 3);
    showRoot();
    tapBook("Done.zip");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 0);
    closeViewer();
    tapBook("Half.zip");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 1);
}

TEST_F(LocalBookOpenerTest, TheBookshelfChoiceShowsTheSheetOnlyOnTheBookshelf) {
    setting("showBookOpenActionSelect", sys::PlistValue("bookshelf"));
    makeZip("A.zip", {"p1.png", "p2.png"});
    showRoot();
    tapBook("A.zip");
    EXPECT_FALSE(presentedSheet());
    EXPECT_TRUE(viewer());
    closeViewer();

    root->changeBookshelfMode(1, true);
    driver->advance(0.5);
    root->didSelectBook(indexOf("A.zip"), std::nullopt);
    driver->advance(0.6);
    EXPECT_TRUE(presentedSheet());
    EXPECT_FALSE(viewer());
    chooseInSheet("Cancel");
}

TEST_F(LocalBookOpenerTest, AStoredPageBeyondTheBookOpensItFromTheStart) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    makeZip("Shrunk.zip", {"p1.png", "p2.png"});
    // Read to page 8 of an earlier, longer copy of the book.
    storePosition("Shrunk.zip", 7, 30);
    showRoot();
    tapBook("Shrunk.zip");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 0);
    EXPECT_FALSE(notice());
}

TEST_F(LocalBookOpenerTest, AFileWithoutPagesSaysSoAndOpensNothing) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    touch(join(documents(), "Broken.zip"), "this is not a zip archive");
    showRoot();
    const ui::Rect bar = nav->navigationBar()->frame();
    // Tapped on screen: the row is marked while the book opens.
    ASSERT_TRUE(tapText("Broken"));
    driver->advance(0.6);
    EXPECT_FALSE(viewer());
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Open error");
    EXPECT_EQ(notice()->messageLabel()->text(), "No viewable pages available.");
    pressNotice("OK");
    EXPECT_FALSE(notice());
    // The bar stays where it was, over the status bar.
    EXPECT_EQ(nav->navigationBar()->frame(), bar);
    EXPECT_FALSE(sys::FileManager::fileExists(BookCommon::getLastBookSettingFilePath()));
    EXPECT_FALSE(root->tableView()->indexPathForSelectedRow()) << "the tapped row stays marked";
}

// ---- Passwords ----------------------------------------------------------------------------------------

TEST_F(LocalBookOpenerTest, AnEncryptedZipAsksForItsPasswordUntilTheRightOne) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    makeZip("Locked.cbz", {"p1.png", "p2.png", "p3.png"}, "open sesame");
    showRoot();
    tapBook("Locked.cbz");
    auto* ask = top<ArchivePasswordViewController>();
    ASSERT_TRUE(ask);
    EXPECT_EQ(ask->label_()->text(), "Enter the password for the archive file.");
    ASSERT_TRUE(root->bookOpener().afterPassword());
    EXPECT_EQ(root->bookOpener().afterPassword()->pathFromBooks, "Locked.cbz");

    driver->type("wrong");
    ASSERT_TRUE(driver->pressReturn());
    driver->advance(1.0);
    ask = top<ArchivePasswordViewController>();
    ASSERT_TRUE(ask);
    EXPECT_EQ(ask->label_()->text(), "The password you entered is incorrect.");
    EXPECT_FALSE(viewer());

    driver->type("open sesame");
    ASSERT_TRUE(driver->pressReturn());
    driver->advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 3);
    ASSERT_TRUE(viewer()->bookReader()->loadedPage());
    EXPECT_TRUE(viewer()->bookReader()->loadedPage()->image);
    EXPECT_FALSE(root->bookOpener().afterPassword());
    // The password screen is gone from under the reading screen.
    EXPECT_EQ(nav->viewControllers().size(), 2u);
}

TEST_F(LocalBookOpenerTest, GivingUpOnThePasswordLeavesTheBookClosed) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    makeZip("Locked.cbz", {"p1.png"}, "pw");
    showRoot();
    tapBook("Locked.cbz");
    ASSERT_TRUE(top<ArchivePasswordViewController>());
    nav->popViewController(false);
    driver->advance(1.0);
    EXPECT_EQ(nav->topViewController(), root.get());
    // A cancelled answer is no retry.
    root->bookOpener().finishInputPassword(std::nullopt);
    driver->advance(1.0);
    EXPECT_EQ(nav->topViewController(), root.get());
}

// ---- Archives and folders inside the book ----------------------------------------------------------

TEST_F(LocalBookOpenerTest, AZipInsideTheBookIsAskedAboutFirst) {
    makeZip("inner.zip", {"i1.png"});
    std::filesystem::rename(join(documents(), "inner.zip"), src->file("inner.zip"));
    makeZip("Bundle.zip", {"p1.png", "p2.png"}, "", "inner.zip");
    showRoot();
    tapBook("Bundle.zip");
    chooseInSheet("Read the first page");
    EXPECT_FALSE(viewer());
    ASSERT_TRUE(presentedSheet());
    EXPECT_EQ(presentedSheet()->alertTitle(), "This file includes another archive. Do you want to extract it?");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Expand", "Don't expand", "Cancel"}));
    EXPECT_EQ(root->bookOpener().preFileListArray(), (std::vector<std::string>{"inner.zip"}));
    EXPECT_FALSE(root->bookOpener().activityIndicator());

    chooseInSheet("Don't expand");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);

    // Cancel on the question opens nothing.
    closeViewer();
    tapBook("Bundle.zip");
    chooseInSheet("Read the first page");
    chooseInSheet("Cancel");
    EXPECT_EQ(nav->topViewController(), root.get());
}

TEST_F(LocalBookOpenerTest, SeveralInnerFoldersAreOfferedAndTheChoiceOpensThatFolder) {
    makeZip("Series.zip", {"vol1/a.png", "vol1/b.png", "vol2/a.png", "vol2/b.png", "vol2/c.png"});
    showRoot();
    tapBook("Series.zip");
    chooseInSheet("Read the first page");
    auto* picker = top<IncludeFolderSelectViewController>();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->folderList_(), (std::vector<std::string>{"vol1", "vol2"}));
    EXPECT_EQ(picker->targetFile_(), join(documents(), "Series.zip"));
    EXPECT_FALSE(root->bookOpener().activityIndicator());

    picker->tableViewDidSelectRowAtIndexPath(*picker->tableView(), {0, 2});
    driver->advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getTargetFolder(), "vol2");
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 3);
    // The picker stays under the reading screen.
    EXPECT_EQ(nav->viewControllers().size(), 3u);

    // Back on the list, the sheet offers the folder.
    closeViewer();
    storePosition("Series.zip", 1, 3, "vol2");
    nav->popToRootViewController(false);
    driver->advance(1.0);
    tapBook("Series.zip");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Resume folder (Page 2)", "Open another folder", "Cancel"}));
    chooseInSheet("Resume folder (Page 2)");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getTargetFolder(), "vol2");
    EXPECT_EQ(viewer()->page(), 1);
}

TEST_F(LocalBookOpenerTest, OneInnerFolderOrAnEpubOpensWithoutAsking) {
    makeZip("Single.zip", {"only/a.png", "only/b.png"});
    showRoot();
    tapBook("Single.zip");
    chooseInSheet("Read the first page");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
    closeViewer();

    // With the setting off even one folder is asked about.
    setting("isNotSelectOneFolder", sys::PlistValue(false));
    tapBook("Single.zip");
    chooseInSheet("Read the first page");
    EXPECT_TRUE(top<IncludeFolderSelectViewController>());
    nav->popToRootViewController(false);
    driver->advance(1.0);

    makeZip("Novel.epub", {"OEBPS/Images/c1.png", "OEBPS/Images/c2.png", "OEBPS/Extra/x.png"});
    root->needUpdateFilelist();
    tapBook("Novel.epub");
    chooseInSheet("Read the first page");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getTargetFolder(), "OEBPS/Images");
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
}

TEST_F(LocalBookOpenerTest, ResumingSkipsTheFolderQuestion) {
    // Opening without the sheet resumes (a book not read to its end), and a
    // resumed book goes back to its own folder, so nothing is asked.
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    makeZip("Series.zip", {"vol1/a.png", "vol2/a.png", "vol2/b.png", "vol2/c.png"});
    storePosition("Series.zip", 1, 3, "vol2");
    showRoot();
    tapBook("Series.zip");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getTargetFolder(), "vol2");
    EXPECT_EQ(viewer()->page(), 1);
}

// ---- Solid archives ----------------------------------------------------------------------------------

TEST_F(LocalBookOpenerTest, ASolidArchiveWarnsBeforeItsFirstOpenOnly) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    int asked = 0;
    Opener::setSolidArchiveProbe([&](const std::string&) {
        ++asked;
        return true;
    });
    touch(join(documents(), "Solid.rar"), "Rar!");
    showRoot();
    tapBook("Solid.rar");
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "RAR information");
    EXPECT_EQ(asked, 1);
    pressNotice("Cancel");
    EXPECT_FALSE(root->lastSeletItem());
    EXPECT_FALSE(root->bookOpener().activityIndicator());

    // OK opens it without asking again (the file is no real RAR, so the
    // open itself fails and says so).
    tapBook("Solid.rar");
    pressNotice("OK");
    EXPECT_EQ(asked, 2);
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Open error");
    pressNotice("OK");

    // Once reading has begun there is no warning.
    storePosition("Solid.rar", 3, 10);
    tapBook("Solid.rar");
    EXPECT_EQ(asked, 2);
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Open error");
    pressNotice("OK");
}

// Without an installed test the 7z reader tells: a book whose pages share
// a block warns, one stored a page per block opens at once.
TEST_F(LocalBookOpenerTest, SolidSevenZipBooksAreFoundByTheReader) {
    if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z";
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    writePage(src->file("01.png"), 1);
    writePage(src->file("02.png"), 2);
    for (const char* book : {"Solid.cb7", "Apart.cb7"}) {
        const std::string solid = std::string(book) == "Solid.cb7" ? "on" : "off";
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && 7z a -t7z -ms=" + solid + " '" +
                              join(documents(), book) + "' 01.png 02.png >/dev/null 2>&1"),
                  0);
    }
    showRoot();
    tapBook("Apart.cb7");
    EXPECT_FALSE(notice());
    ASSERT_TRUE(viewer());
    nav->popToRootViewController(false);
    driver->advance(0.6);

    tapBook("Solid.cb7");
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "7z information");
    pressNotice("OK");
    ASSERT_TRUE(viewer());
}

// ---- Images ------------------------------------------------------------------------------------------

TEST_F(LocalBookOpenerTest, AnImageOpensItsFolderAtThatImageAndCanBeSavedToTheAlbum) {
    usePages({"Trip/01.png", "Trip/02.png", "Trip/03.png"});
    auto album = std::make_shared<ui::RecordingPhotoAlbum>();
    ui::PhotoAlbum::setShared(album);
    showRoot();
    auto folder = std::make_shared<Local>();
    folder->setPathFromBooks("Trip");
    nav->pushViewController(folder, false);
    driver->advance(0.6);
    std::swap(root, folder);  // the helpers work on the screen shown

    tapBook("02.png");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Open Selected Image", "Save to Pictures", "Cancel"}));
    chooseInSheet("Save to Pictures");
    ASSERT_EQ(album->saved.size(), 1u);
    EXPECT_EQ(album->saved[0]->width(), 60);
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Image Saved to Pictures");
    pressNotice("OK");
    EXPECT_FALSE(viewer());

    tapBook("02.png");
    chooseInSheet("Open Selected Image");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 3);
    EXPECT_EQ(viewer()->page(), 1);
    std::swap(root, folder);
}

// ---- The neighbouring book ------------------------------------------------------------------------

TEST_F(LocalBookOpenerTest, TheNextBookStepsOverFoldersAndStopsAtTheEnds) {
    for (const char* name : {"A.zip", "B.zip", "D.zip"}) makeZip(name, {"p1.png", "p2.png"});
    mkdir(join(documents(), "C folder"));
    touch(join(documents(), "C site.shortcut"), "");
    setting("directorySortMode", sys::PlistValue("mix"));
    showRoot();
    auto& opener = root->bookOpener();
    const std::string a = join(documents(), "A.zip"), b = join(documents(), "B.zip"), d = join(documents(), "D.zip");
    ASSERT_EQ(root->itemList().size(), 5u);
    EXPECT_EQ(opener.getNextBookIndex(a, std::nullopt, true), indexOf("B.zip"));
    EXPECT_EQ(opener.getNextBookIndex(b, std::nullopt, true), indexOf("D.zip"));
    EXPECT_EQ(opener.getNextBookIndex(d, std::nullopt, false), indexOf("B.zip"));
    // No book after the last one, none before the first; not the first row again.
    EXPECT_EQ(opener.getNextBookIndex(d, std::nullopt, true), -1);
    EXPECT_EQ(opener.getNextBookIndex(a, std::nullopt, false), -1);
    EXPECT_EQ(opener.getNextBookIndex(join(documents(), "Gone.zip"), std::nullopt, true), -1);

    bool animate = true;
    EXPECT_FALSE(root->reOpenNextBook(d, std::nullopt, true, &animate));
    EXPECT_TRUE(animate);
    EXPECT_EQ(nav->topViewController(), root.get());
    EXPECT_FALSE(opener.reopenHideView());
}

TEST_F(LocalBookOpenerTest, TheReadingScreenMovesOnToTheNextBookBehindACover) {
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    makeZip("[Circle] Part 1.zip", {"p1.png", "p2.png"});
    makeZip("[Circle] Part 2.zip", {"p1.png", "p2.png", "p3.png"});
    showRoot();
    tapBook("[Circle] Part 1.zip");
    ASSERT_TRUE(viewer());
    auto first = std::static_pointer_cast<BookViewController>(nav->viewControllers().back());

    first->goNextBook();
    // The cover hides the switch; the next book opens on the next turn.
    ASSERT_TRUE(root->bookOpener().reopenHideView());
    auto* label = dynamic_cast<ui::Label*>(root->bookOpener().reopenHideView()->subviews()[0].get());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Part 2");
    EXPECT_EQ(Local::readLastBookPath(BookCommon::getLastBookSettingFilePath()), "[Circle] Part 2.zip");
    driver->advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_NE(viewer(), first.get());
    EXPECT_EQ(viewer()->fileName(), join(documents(), "[Circle] Part 2.zip"));
    EXPECT_EQ(viewer()->page(), 0);
    EXPECT_FALSE(root->bookOpener().reopenHideView());
    EXPECT_EQ(nav->viewControllers().size(), 2u);

    // Past the last book the reader simply closes.
    viewer()->goNextBook();
    driver->advance(1.0);
    EXPECT_EQ(nav->topViewController(), root.get());
}

TEST_F(LocalBookOpenerTest, TheNextInnerFolderOfTheSameBook) {
    makeZip("Series.zip", {"v1/a.png", "v2/a.png", "v2/b.png", "v3/a.png"});
    showRoot();
    const std::string book = join(documents(), "Series.zip");
    bool animate = true;
    ASSERT_TRUE(root->reOpenNextBook(book, std::string("v1"), true, &animate));
    auto* label = dynamic_cast<ui::Label*>(root->bookOpener().reopenHideView()->subviews()[0].get());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Series\n\n(v2)");
    driver->advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getTargetFolder(), "v2");
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);

    EXPECT_FALSE(root->reOpenNextBook(book, std::string("v3"), true, &animate));
    EXPECT_FALSE(root->reOpenNextBook(book, std::string("v1"), false, &animate));
    EXPECT_FALSE(root->reOpenNextBook(book, std::string("nowhere"), true, &animate));
}

TEST_F(LocalBookOpenerTest, AFolderBookHandsTheNextFolderToItsParentList) {
    usePages({"Trip/01.png", "Trip/02.png"});
    showRoot();
    bool animate = true;
    // On the root list there is no parent to ask.
    EXPECT_FALSE(root->reOpenNextBook(join(documents(), "Trip/01.png"), std::nullopt, true, &animate));
    EXPECT_TRUE(animate);

    auto folder = std::make_shared<Local>();
    folder->setPathFromBooks("Trip");
    nav->pushViewController(folder, false);
    driver->advance(0.6);
    EXPECT_FALSE(folder->reOpenNextBook(join(documents(), "Trip/02.png"), std::nullopt, false, &animate));
    EXPECT_FALSE(animate);
}

TEST(ReopenCover, NameWithoutExtensionShortenedWhenAskedAndTheFolderBelow) {
    EXPECT_EQ(Opener::coverText("[Circle] Part 2.zip", std::nullopt, true), "Part 2");
    EXPECT_EQ(Opener::coverText("[Circle] Part 2.zip", std::nullopt, false), "[Circle] Part 2.zip");
    EXPECT_EQ(Opener::coverText("Book.cbz", std::string("vol 3"), true), "Book\n\n(vol 3)");
    EXPECT_EQ(Opener::neighbourFolder({"a", "b", "c"}, "b", true), "c");
    EXPECT_EQ(Opener::neighbourFolder({"a", "b", "c"}, "b", false), "a");
    EXPECT_EQ(Opener::neighbourFolder({"a", "b", "c"}, "c", true), std::nullopt);
    EXPECT_EQ(Opener::neighbourFolder({"a", "b", "c"}, "a", false), std::nullopt);
}

}  // namespace

// ---- RAR books and the reasons of a failed open ------------------------------------------------------

TEST_F(LocalBookOpenerTest, RarBooksOpenWarnWhenSolidAskForHiddenNamesPasswordsAndSayWhyOthersFail) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    writePage(src->file("01.png"), 1);
    writePage(src->file("02.png"), 2);
    for (const auto& [book, options] : std::vector<std::pair<std::string, std::string>>{
             {"Plain.cbr", ""}, {"Solid.cbr", "-s"}, {"Hidden.cbr", "-hp'open sesame'"}})
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && rar a -idq " + options + " '" + join(documents(), book) +
                              "' 01.png 02.png >/dev/null 2>&1"),
                  0);
    touch(join(documents(), "Fake.cbr"), "not an archive at all");
    touch(join(documents(), "Broken.cbr"), "Rar!\x1A\x07\x01");
    showRoot();

    tapBook("Plain.cbr");
    EXPECT_FALSE(notice());
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
    closeViewer();

    // The RAR reader tells that the book is solid; the reading session
    // says so too as it opens it.
    tapBook("Solid.cbr");
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "RAR information");
    pressNotice("OK");
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Notice");
    EXPECT_EQ(notice()->messageLabel()->text(), "Loading may take time because this file is a \"Solid Archive\"");
    pressNotice("OK");
    ASSERT_TRUE(viewer());
    // The page cache builder opens it again, offline and silently.
    driver->advance(3.0);
    EXPECT_FALSE(notice());
    closeViewer();
    // Resumed at a later page the list does not ask; the session still tells.
    storePosition("Solid.cbr", 1, 2);
    tapBook("Solid.cbr");
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Notice");
    pressNotice("OK");
    ASSERT_TRUE(viewer());
    closeViewer();
    // A plain RAR opens without a word.
    tapBook("Plain.cbr");
    EXPECT_FALSE(notice());
    closeViewer();

    // Names that need the password to be listed at all: the password screen.
    tapBook("Hidden.cbr");
    ASSERT_TRUE(top<ArchivePasswordViewController>());
    driver->type("open sesame");
    ASSERT_TRUE(driver->pressReturn());
    driver->advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
    closeViewer();

    for (const auto& [book, message] : std::vector<std::pair<std::string, std::string>>{
             {"Fake.cbr", "The file is not the kind of archive its name says."},
             {"Broken.cbr", "The file is damaged or incomplete."}}) {
        tapBook(book);
        ASSERT_TRUE(notice()) << book;
        EXPECT_EQ(notice()->titleLabel()->text(), "Open error");
        EXPECT_EQ(notice()->messageLabel()->text(), message);
        pressNotice("OK");
        EXPECT_FALSE(viewer());
    }
    EXPECT_EQ(Opener::openErrorMessage(PageReader::OpenFailure::NoReader), "Books of this kind cannot be opened.");
    EXPECT_EQ(Opener::openErrorMessage(PageReader::OpenFailure::None), "No viewable pages available.");
}

// RAR and 7z books are opened, and their first page decoded, on a worker:
// the open returns at once with the busy sign up, Escape gives it up, and
// left alone it shows the book.
TEST_F(LocalBookOpenerTest, RarAndSevenZipBooksOpenOnAWorkerThatEscapeGivesUp) {
    if (!test::haveProgram("rar") || !test::haveProgram("7z")) GTEST_SKIP() << "no rar or 7z packer";
    writePage(src->file("01.png"), 1);
    writePage(src->file("02.png"), 2);
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && rar a -idq '" + join(documents(), "Plain.cbr") +
                          "' 01.png 02.png >/dev/null 2>&1 && 7z a -t7z -ms=off '" + join(documents(), "Apart.cb7") +
                          "' 01.png 02.png >/dev/null 2>&1"),
              0);
    showRoot();
    Opener& opener = root->bookOpener();
    for (const std::string book : {"Plain.cbr", "Apart.cb7"}) {
        SCOPED_TRACE(book);
        ASSERT_TRUE(opener.startLoadBook(book, std::nullopt, std::nullopt, false, false));
        EXPECT_FALSE(viewer());
        EXPECT_TRUE(opener.isOpeningOnWorker());
        EXPECT_TRUE(opener.activityIndicator());
        // Straight to the window: the driver's key would let the worker finish first.
        EXPECT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::escape, 0}));
        driver->advance(1.0);
        EXPECT_FALSE(viewer());
        EXPECT_FALSE(opener.isOpeningOnWorker());
        EXPECT_FALSE(opener.activityIndicator());

        ASSERT_TRUE(opener.startLoadBook(book, std::nullopt, std::nullopt, false, false));
        driver->advance(1.0);
        ASSERT_TRUE(viewer());
        EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
        EXPECT_FALSE(opener.activityIndicator());
        closeViewer();
    }
}

// What an open reads from a RAR book before it opens (whether it is solid,
// what it holds) is read on a worker: a tap does not wait while the library
// is busy decoding elsewhere.
TEST_F(LocalBookOpenerTest, ATapDoesNotWaitForTheRarLibraryBusyElsewhere) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    writePage(src->file("01.png"), 1);
    writePage(src->file("02.png"), 2);
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && rar a -idq -s '" + join(documents(), "Solid.cbr") +
                          "' 01.png 02.png >/dev/null 2>&1"),
              0);
    showRoot();
    const int64_t index = indexOf("Solid.cbr");
    ASSERT_GE(index, 0);
    // The library held as a decode holds it; let go once the tap has
    // answered (or, should the tap wait for it, after ten seconds).
    test::RarLibraryHold held;
    Opener& opener = root->bookOpener();
    opener.startLoadBookWithIndicator(root->itemList()[size_t(index)], std::nullopt, std::nullopt, false, false,
                                      false, true, true);
    const bool looking = opener.isOpeningOnWorker();
    held.release();
    EXPECT_TRUE(looking);
    EXPECT_FALSE(notice());
    driver->advance(1.0);
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "RAR information");
    pressNotice("OK");
    pressNotice("OK");  // the session's own notice of a solid archive
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
}

// The next inner folder of a RAR book is looked for on a worker too: the
// reading screen's move does not wait while the library is busy elsewhere,
// and past the last folder the list is left showing.
TEST_F(LocalBookOpenerTest, TheNextInnerFolderOfARarDoesNotWaitForTheRarLibrary) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    writePage(src->file("v1/01.png"), 1);
    writePage(src->file("v2/01.png"), 2);
    writePage(src->file("v2/02.png"), 3);
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && rar a -idq '" + join(documents(), "Series.cbr") +
                          "' v1 v2 >/dev/null 2>&1"),
              0);
    showRoot();
    const std::string book = join(documents(), "Series.cbr");
    test::RarLibraryHold held;
    bool animate = true;
    const bool moving = root->reOpenNextBook(book, std::string("v1"), true, &animate);
    held.release();
    EXPECT_FALSE(held.heldOut()) << "the move waited for the library";
    EXPECT_TRUE(moving);
    driver->advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getTargetFolder(), "v2");
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
    closeViewer();

    EXPECT_TRUE(root->reOpenNextBook(book, std::string("v2"), true, &animate));
    driver->advance(1.0);
    EXPECT_FALSE(viewer());
    EXPECT_FALSE(root->bookOpener().reopenHideView());
    EXPECT_FALSE(root->bookOpener().isOpeningOnWorker());
    EXPECT_EQ(nav->topViewController(), root.get());
}

// A RAR whose dictionary (1 GB) cannot be allocated under the address
// space left says so when it opens, rather than showing pages that never come.
TEST_F(LocalBookOpenerTest, ARarWhoseDictionaryCannotBeAllocatedSaysSo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer reserves more address space than any bound";
#endif
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    setting("showBookOpenActionSelect", sys::PlistValue("never"));
    writePage(src->file("01.png"), 1);
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && rar a -idq -ma5 -md128k '" + join(documents(), "Vast.cbr") +
                          "' 01.png >/dev/null 2>&1"),
              0);
    ASSERT_TRUE(stateGigabyteDictionary(join(documents(), "Vast.cbr")));
    // The address space this process holds now and 192 MiB more while the
    // list shows and the book opens (its cover fails the same way).
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &before), 0);
    uint64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    ASSERT_GT(pages, 0u);
    const rlim_t bound = rlim_t(pages * uint64_t(::sysconf(_SC_PAGESIZE)) + (uint64_t(192) << 20));
    if (before.rlim_max != RLIM_INFINITY && before.rlim_max < bound) GTEST_SKIP() << "address space bounded already";
    const rlimit lowered{bound, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &lowered), 0);
    showRoot();
    tapBook("Vast.cbr");
    ::setrlimit(RLIMIT_AS, &before);
    ASSERT_TRUE(notice());
    EXPECT_EQ(notice()->titleLabel()->text(), "Open error");
    EXPECT_EQ(notice()->messageLabel()->text(), "There is not enough memory to unpack this archive.");
    pressNotice("OK");
    EXPECT_FALSE(viewer());
}
