#include "LibraryTestSupport.h"

#include "engine/ExtractedEntryFile.h"
#include "engine/UnrarArchive.h"
#include "foundation/BookCommon.h"
#include "foundation/HistoryCollector.h"
#include "library/ArchiveExtractViewController.h"
#include "library/ArchivePasswordViewController.h"
#include "library/FileConfigViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/SegmentedControl.h"
#include "tests/support/RarLibraryHold.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

using librarytest::LibraryTest;
namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> tree(const std::string& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out.insert(fs::relative(e.path(), root).string());
    return out;
}

class ArchiveExtractTest : public LibraryTest {
protected:
    std::shared_ptr<ArchiveExtractViewController> screen;
    std::shared_ptr<ui::NavigationController> nav;

    void show(const std::string& archive, std::vector<std::string> names) {
        screen = std::make_shared<ArchiveExtractViewController>();
        screen->setArchiveFile_(archive);
        screen->setPreFileListArray_(std::move(names));
        screen->setSettings_(settings);
        nav = std::make_shared<ui::NavigationController>(screen);
        window->setRootViewController(nav);
        driver->advance(0.5);
    }
    void extract(int index) {
        screen->extractAt(index);
        driver->advance(1);
    }
};

TEST_F(ArchiveExtractTest, EntriesLandOnlyBesideTheArchiveAndNeverReplaceAFile) {
    if (!test::haveProgram("python3")) GTEST_SKIP() << "no python3";
    test::TempDir area("slip");
    const std::string books = join(area.path(), "books/shelf");
    mkdir(books);
    const std::string archive = join(books, "evil.zip");
    const std::vector<std::string> names{"../up.txt", "/abs.txt", "a\\..\\..\\back.txt", "sub/", "sub/ok.txt", "../../deep/x.txt"};
    std::string py = "import zipfile\nz=zipfile.ZipFile('" + archive + "','w')\n";
    for (const auto& n : names) {
        std::string escaped;
        for (char c : n) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        py += "z.writestr(zipfile.ZipInfo('" + escaped + "'), b'" + (n.back() == '/' ? "" : "payload") + "')\n";
    }
    py += "z.close()\n";
    std::ofstream(join(area.path(), "make.py")) << py;
    ASSERT_EQ(test::shell("python3 '" + join(area.path(), "make.py") + "'"), 0);
    touch(join(books, "ok.txt"), "mine");

    show(archive, names);
    EXPECT_EQ(screen->title(), "evil.zip");
    for (int i = 0; i < int(names.size()); ++i) extract(i);
    // Nothing outside the archive's folder, no sub-folders made, the old file kept.
    EXPECT_EQ(tree(area.path()).count("up.txt"), 0u);
    EXPECT_FALSE(fs::exists("/abs.txt") && slurp("/abs.txt") == "payload");
    for (const auto& p : tree(area.path())) {
        if (p == "make.py" || p == "books" || p == "books/shelf") continue;
        EXPECT_EQ(p.rfind("books/shelf/", 0), 0u) << p;
        EXPECT_EQ(p.find('/', std::string("books/shelf/").size()), std::string::npos) << p;
    }
    EXPECT_EQ(slurp(join(books, "ok.txt")), "mine");
    EXPECT_TRUE(screen->isExtracted(4));
    EXPECT_EQ(slurp(join(books, "ok 2.txt")), "payload");
}

TEST_F(ArchiveExtractTest, AnEncryptedEntryAsksForItsPasswordUntilItOpens) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    const std::string folder = join(documents(), "Set");
    touch(join(home->path(), "src/inner.cbz"), "inner book bytes");
    mkdir(folder);
    ASSERT_EQ(test::shell("cd '" + join(home->path(), "src") + "' && zip -q -P secret '" + join(folder, "outer.zip") +
                          "' inner.cbz"),
              0);
    show(join(folder, "outer.zip"), {"inner.cbz"});
    ASSERT_TRUE(tapText("inner.cbz"));
    EXPECT_TRUE(screen->nowExtracting());
    ASSERT_TRUE(tapText("inner.cbz"));  // a second tap while one is pending does nothing
    driver->advance(1);
    ASSERT_TRUE(dynamic_cast<ArchivePasswordViewController*>(nav->topViewController()));
    nav->popViewController(false);
    screen->finishInputPassword(std::string("wrong"));
    driver->advance(1);
    EXPECT_FALSE(screen->isExtracted(0));
    ASSERT_TRUE(dynamic_cast<ArchivePasswordViewController*>(nav->topViewController()));
    nav->popViewController(false);
    screen->finishInputPassword(std::string("secret"));
    driver->advance(1);
    EXPECT_TRUE(screen->isExtracted(0));
    EXPECT_EQ(slurp(join(folder, "inner.cbz")), "inner book bytes");
    EXPECT_FALSE(screen->nowExtracting());
    // A marked entry is not extracted again.
    extract(0);
    EXPECT_FALSE(fs::exists(join(folder, "inner 2.cbz")));
}

// An entry of a solid RAR is decoded on a worker: the screen answers while
// the library is busy (here held as a decode elsewhere holds it).
TEST_F(ArchiveExtractTest, ARarEntryIsExtractedOnAWorkerWhileTheScreenAnswers) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    const std::string folder = join(documents(), "Set");
    touch(join(home->path(), "src/inner.cbz"), "inner book bytes");
    mkdir(folder);
    ASSERT_EQ(test::shell("cd '" + join(home->path(), "src") + "' && rar a -idq -s '" + join(folder, "outer.cbr") +
                          "' inner.cbz >/dev/null 2>&1"),
              0);
    show(join(folder, "outer.cbr"), {"inner.cbz"});
    // Let go once the step has answered (or, should it wait, after ten seconds).
    test::RarLibraryHold held;
    screen->extractAt(0);
    screen->extractStep();
    const bool stillExtracting = screen->nowExtracting();
    held.release();
    EXPECT_TRUE(stillExtracting);
    driver->advance(1);
    EXPECT_TRUE(screen->isExtracted(0));
    EXPECT_FALSE(screen->nowExtracting());
    EXPECT_EQ(slurp(join(folder, "inner.cbz")), "inner book bytes");
    EXPECT_FALSE(fs::exists(join(folder, "inner 2.cbz")));
}

TEST_F(ArchiveExtractTest, AnEntryTheDiskHasNoRoomForIsRefusedWithAMessageSayingSo) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    const std::string folder = join(documents(), "Set");
    touch(join(home->path(), "src/inner.cbz"), std::string(4096, 'b'));
    mkdir(folder);
    ASSERT_EQ(test::shell("cd '" + join(home->path(), "src") + "' && zip -q '" + join(folder, "outer.zip") +
                          "' inner.cbz"),
              0);
    ExtractedEntryFile::setFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1 << 20); });
    show(join(folder, "outer.zip"), {"inner.cbz"});
    extract(0);
    ExtractedEntryFile::setFreeSpaceProbe(nullptr);
    EXPECT_FALSE(screen->isExtracted(0));
    EXPECT_FALSE(fs::exists(join(folder, "inner.cbz")));
    EXPECT_TRUE(driver->findByText(BookCommon::localizedStringWithOnOff(
        "There is not enough free space to extract this file.")));
    EXPECT_FALSE(driver->findByText(BookCommon::localizedStringWithOnOff("Error extracting file.")));
}

TEST(ArchiveExtractNames, RarNamesPreferUtf8AndUndecodableOnesStillShow) {
    EXPECT_EQ(ArchiveExtractViewController::displayName("dir/\xe6\x97\xa5.jpg", true), "dir/\xe6\x97\xa5.jpg");
    EXPECT_FALSE(ArchiveExtractViewController::displayName(std::string("a\0b", 3), false).empty());
}

// ---- File information --------------------------------------------------------------------------

TEST(FileInformation, CacheSizeCountsOnlyRegularFilesAndFollowsNoLink) {
    test::TempDir area("size");
    const std::string root = area.file("cache");
    fs::create_directories(root + "/a/b");
    std::ofstream(root + "/one") << std::string(1000, 'x');
    std::ofstream(root + "/a/b/two") << std::string(234, 'y');
    std::ofstream(area.file("big")) << std::string(50000, 'z');
    fs::create_symlink(area.file("big"), root + "/link");
    fs::create_directory_symlink(area.path(), root + "/loop");
    EXPECT_EQ(FileConfigViewController::folderContentsByteSize(root), 1234u);
    EXPECT_EQ(FileConfigViewController::folderContentsByteSize(area.file("missing")), 0u);
}

TEST(FileInformation, StatusFromThePosition) {
    EXPECT_EQ(FileConfigViewController::statusSegment(0, 10, false), 0);
    EXPECT_EQ(FileConfigViewController::statusSegment(9, 10, false), 2);
    EXPECT_EQ(FileConfigViewController::statusSegment(8, 10, true), 2);
    EXPECT_EQ(FileConfigViewController::statusSegment(8, 10, false), 1);
}

TEST_F(LibraryTest, FileInformationRenamesWithSideFilesAndNeverOverAnotherBook) {
    textScope.reset();
    textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
    const std::string book = join(documents(), "Story.zip");
    touch(book, "story");
    touch(join(documents(), "Taken.zip"), "other");
    touch(BookCommon::getBookSettingFile(book, true), "settings");
    touch(join(BookCommon::getBookCacheDir(book, true), "p1"), "cached");
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue("Story.zip")}),
                                 join(documents(), ".history.lbs"));
    // Read: once a book since deleted, then the other book, then this one.
    for (const char* name : {"Tale.zip", "Taken.zip", "Story.zip"}) {
        BookHistory h;
        h.setPathFromBooks(name);
        h.setBookTitle(name);
        HistoryCollector::addHistory(h);
    }
    auto history = [] {
        HistoryCollector::relaseHistory();
        std::vector<std::string> out;
        for (const auto& h : HistoryCollector::getHistory().value_or(std::vector<BookHistory>{}))
            out.push_back(h.pathFromBooks().value_or("?") + " " + h.bookTitle().value_or("?"));
        return out;
    };
    auto screen = std::make_shared<FileConfigViewController>();
    screen->setFileFullpath_(book);
    screen->setSettings_(settings);
    screen->setIsTheLastFileInDirectory_(true);
    auto nav = std::make_shared<ui::NavigationController>(screen);
    window->setRootViewController(nav);
    driver->advance(0.5);
    EXPECT_EQ(screen->shownStatus(), 0);
    EXPECT_EQ(screen->cacheSize(), 6u);
    EXPECT_TRUE(driver->findByText("Story.zip"));
    // The status control's words are drawn whole, in the weight of the
    // chosen one.
    auto* status = driver->findAllOf<ui::SegmentedControl>(false).at(0);
    for (int i = 0; i < status->numberOfSegments(); ++i) {
        const double room = status->segmentRect(i).width() - 8;
        const gfx::Font bold = gfx::Font::system(13, gfx::Font::Weight::Semibold);
        EXPECT_LE(gfx::Canvas::measureText(status->titleForSegment(i), bold, 0).width, room)
            << status->titleForSegment(i);
    }
    ASSERT_TRUE(window->snapshot(snapshotPath("file-information.png")));

    EXPECT_FALSE(screen->changeFileNameDo(".hidden", "Story"));
    EXPECT_FALSE(screen->changeFileNameDo("Taken", "Story"));
    EXPECT_EQ(slurp(join(documents(), "Taken.zip")), "other");
    ASSERT_TRUE(screen->changeFileNameDo("Tale", "Story"));
    const std::string renamed = join(documents(), "Tale.zip");
    EXPECT_EQ(screen->fileFullpath_(), renamed);
    EXPECT_EQ(slurp(renamed), "story");
    EXPECT_EQ(slurp(BookCommon::getBookSettingFile(renamed, false)), "settings");
    EXPECT_EQ(slurp(join(BookCommon::getBookCacheDir(renamed, false), "p1")), "cached");
    EXPECT_EQ(LocalFilelistViewController::readLastReadName(documents()), "Tale.zip");
    // The history names the book by its new name, once: the entry of the
    // book once read under that name goes.
    EXPECT_EQ(history(), (std::vector<std::string>{"Tale.zip Tale.zip", "Taken.zip Taken.zip"}));
    // Renamed twice from the same screen.
    ASSERT_TRUE(screen->changeFileNameDo("Saga", "Tale"));
    EXPECT_TRUE(fs::exists(join(documents(), "Saga.zip")));
    EXPECT_EQ(history(), (std::vector<std::string>{"Saga.zip Saga.zip", "Taken.zip Taken.zip"}));

    screen->clearCache();
    EXPECT_EQ(screen->cacheSize(), 0u);
}

}  // namespace
