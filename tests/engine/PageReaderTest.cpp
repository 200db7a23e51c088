#include "engine/PageReader.h"

#include "engine/UrlListStream.h"
#include "foundation/ArraySort.h"
#include "platform/core/FileManager.h"
#include "tests/engine/BookTestPages.h"
#include "tests/engine/FakeUrlListStream.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using test::FakeUrlListStream;

std::vector<std::string> namesOf(const PageReader& r) {
    std::vector<std::string> out;
    for (const auto& n : r.getPageNameList()) {
        EXPECT_FALSE(n.empty());
        EXPECT_EQ(n.back(), '\0') << "page names end with their NUL byte";
        out.push_back(n.substr(0, n.size() - 1));
    }
    return out;
}

TEST(PageReaderImageTest, ImageNamesNeedDotExtensionAndFiveBytes) {
    for (const char* yes : {"A.JPEG", "b.Webp", "c.avif", "page.jpe", "x.TIF", "y.tiff", "z.bmp", "a.gif", "a.png"})
        EXPECT_TRUE(PageReader::isImageFileWithFilename(yes)) << yes;
    for (const char* no : {"x.jp", "y.jpgx", "jpg", ".png", "a_png", "abcjpeg", "", "note.txt"})
        EXPECT_FALSE(PageReader::isImageFileWithFilename(no)) << no;
    EXPECT_FALSE(PageReader::isImageFileWithFilename(nullptr));
    // Five bytes is enough when the dot and extension fit.
    EXPECT_TRUE(PageReader::isImageFileWithFilename("a.png"));
}

class PageReaderFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedSort_ = ArraySort::sortMode();
        ArraySort::setSortMode(ArraySort::kNatural);
    }
    void TearDown() override { ArraySort::setSortMode(savedSort_); }

    void page(const std::string& name, uint32_t colour = 0xFF336699) {
        ASSERT_TRUE(test::writeBmp(dir.file(name), 8, 12, [&](int, int) { return colour; }));
    }

    test::TempDir dir{"pagereader"};
    int savedSort_ = 0;
};

TEST_F(PageReaderFolderTest, OpensTheFolderOfTheFileInNaturalOrder) {
    for (int i = 1; i <= 10; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.png", i);
        page(name);
    }
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("notes.txt"), "not a page"));
    // A pipe and a folder with pictures' names are no pages.
    ASSERT_EQ(::mkfifo(dir.file("004a.png").c_str(), 0600), 0);
    ASSERT_TRUE(sys::FileManager::createDirectory(dir.file("005a.png"), false));

    PageReader r;
    ASSERT_TRUE(r.openFile(dir.file("003.png"), std::nullopt, std::nullopt, false, false));
    auto names = namesOf(r);
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "001.png");
    EXPECT_EQ(names.back(), "010.png");
    EXPECT_EQ(r.getSelectedImageNo(), 2);
    auto globals = r.getGlobalPageNoList();
    ASSERT_TRUE(globals.has_value());
    for (int i = 0; i < 10; ++i) EXPECT_EQ((*globals)[size_t(i)], i);
    EXPECT_TRUE(r.isStreamPage());
    EXPECT_FALSE(r.getFolderList(false).has_value());
    EXPECT_FALSE(r.getArchiveList(false).has_value());

    // Digits compare as numbers, not bytes.
    page("page2.png");
    page("page10.png");
    ASSERT_TRUE(r.openFile(dir.file("page10.png"), std::nullopt, std::nullopt, false, false));
    names = namesOf(r);
    auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(at("page2.png"), at("page10.png"));
    EXPECT_EQ(r.getSelectedImageNo(), at("page10.png"));

    // A link is a page when it leads to one.
    ASSERT_EQ(::symlink("001.png", dir.file("link.png").c_str()), 0);
    ASSERT_EQ(::symlink("005a.png", dir.file("folderlink.png").c_str()), 0);
    ASSERT_TRUE(r.openFile(dir.file("link.png"), std::nullopt, std::nullopt, false, false));
    names = namesOf(r);
    ASSERT_LT(size_t(at("link.png")), names.size());
    EXPECT_EQ(size_t(at("folderlink.png")), names.size());
    EXPECT_EQ(r.getSelectedImageNo(), at("link.png"));
}

TEST_F(PageReaderFolderTest, LoadsPagesAndFailsCleanly) {
    page("a.bmp", 0xFF10C020);
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("b.jpg"), "this is no jpeg"));
    PageReader r;
    ASSERT_TRUE(r.openFile(dir.file("a.bmp"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r.getPageNameList().size(), 2u);

    int result = -1;
    auto img = r.newLoadAndCreateImage(0, result);
    EXPECT_EQ(result, PageReader::kResultImage);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 8);
    EXPECT_EQ(img->height(), 12);
    EXPECT_TRUE(test::colourNear(img->pixel(3, 3), 0xFF10C020, 0));

    for (int bad : {1, -1, 2, 1000}) {
        result = -1;
        EXPECT_FALSE(r.newLoadAndCreateImage(bad, result)) << bad;
        EXPECT_EQ(result, PageReader::kResultFailed) << bad;
    }
    EXPECT_EQ(r.getPendingImageSize(), gfx::Size{});
    EXPECT_FALSE(r.newCreatePendingImage(0, {10, 10}, gfx::Rect::null(), gfx::Rect::null(), false));

    r.closeFile();
    EXPECT_TRUE(r.getPageNameList().empty());
    result = -1;
    EXPECT_FALSE(r.newLoadAndCreateImage(0, result));
    EXPECT_EQ(result, PageReader::kResultFailed);
}

TEST_F(PageReaderFolderTest, FolderWithoutImagesOrMissingFolderDoesNotOpen) {
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("notes.txt"), "x"));
    PageReader r;
    EXPECT_FALSE(r.openFile(dir.file("gone.jpg"), std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r.openFile(dir.file("nothing/here.jpg"), std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r.openFile("", std::nullopt, std::nullopt, false, false)) << "never the working folder";
    EXPECT_TRUE(r.getPageNameList().empty());
    EXPECT_FALSE(r.isNoPage());
    EXPECT_FALSE(r.isExpandError());
    EXPECT_FALSE(r.isUnsupportedServer());
}

// ---- Pages by address ---------------------------------------------------------------------

class PageReaderStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = std::make_shared<FakeUrlListStream>();
        UrlListStream::registerMaker([this] { return fake; });
        savedSort_ = ArraySort::sortMode();
        ArraySort::setSortMode(ArraySort::kNatural);
    }
    void TearDown() override {
        UrlListStream::registerMaker(nullptr);
        ArraySort::setSortMode(savedSort_);
    }

    std::string localPage(const std::string& name, uint32_t colour) {
        std::string path = dir.file(name);
        EXPECT_TRUE(test::writeBmp(path, 6, 9, [&](int, int) { return colour; }));
        return path;
    }

    test::TempDir dir{"pagestream"};
    std::shared_ptr<FakeUrlListStream> fake;
    int savedSort_ = 0;
};

TEST_F(PageReaderStreamTest, AddressListStreamsItsPagesInOrder) {
    const std::vector<std::string> urls = {"http://srv/book/1.jpg", "http://srv/book/2.jpg", "http://srv/book/3.jpg"};
    fake->files[urls[1]] = localPage("two.bmp", 0xFF2040F0);

    auto r = std::make_shared<PageReader>();
    r->setUserName("ann");
    r->setPassword("pw");
    r->setOtherFiles(urls);
    ASSERT_TRUE(r->openFile(urls[0], std::nullopt, std::nullopt, true, false));
    EXPECT_EQ(fake->openedUrls, urls);
    EXPECT_FALSE(fake->openedGlobals.has_value());
    EXPECT_EQ(fake->openedTotal, 3);
    EXPECT_EQ(fake->openedInfo, urls[0]);
    EXPECT_FALSE(fake->openedLbExpand);
    EXPECT_EQ(fake->userName(), "ann");
    EXPECT_EQ(fake->password(), "pw");
    EXPECT_TRUE(fake->isOfflineMode());
    EXPECT_EQ(namesOf(*r), urls);

    int result = -1;
    auto img = r->newLoadAndCreateImage(1, result);
    EXPECT_EQ(result, PageReader::kResultImage);
    ASSERT_TRUE(img);
    EXPECT_TRUE(test::colourNear(img->pixel(2, 2), 0xFF2040F0, 0));
    // A page the fetcher cannot deliver fails.
    EXPECT_FALSE(r->newLoadAndCreateImage(2, result));
    EXPECT_EQ(result, PageReader::kResultFailed);

    r->closeFile();
    EXPECT_EQ(fake->closeCount.load(), 1);
}

TEST_F(PageReaderStreamTest, OneAddressIsABookOfOnePage) {
    auto r = std::make_shared<PageReader>();
    ASSERT_TRUE(r->openFile("https://srv/pic.webp", std::nullopt, std::nullopt, false, true));
    EXPECT_EQ(fake->openedUrls, std::vector<std::string>{"https://srv/pic.webp"});
    EXPECT_TRUE(fake->isThumbsCreateMode());
}

TEST_F(PageReaderStreamTest, NoFetcherOrAFetcherThatCannotStartFailsTheOpen) {
    auto r = std::make_shared<PageReader>();
    fake->openResult = false;
    EXPECT_FALSE(r->openFile("http://srv/a.jpg", std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(r->getPageNameList().empty());
    EXPECT_GE(fake->closeCount.load(), 1);

    UrlListStream::registerMaker(nullptr);
    EXPECT_FALSE(r->openFile("http://srv/a.jpg", std::nullopt, std::nullopt, false, false));
}

TEST_F(PageReaderStreamTest, CompanionServerListsOneFolderWithGlobalNumbers) {
    fake->index = std::vector<std::string>{"vol1/01.jpg", "vol1/02.jpg", "readme.txt", "vol2/10.jpg",
                                           "vol2/9.jpg", "cover.png"};
    auto r = std::make_shared<PageReader>();
    r->setMediaServerExpandMode("lbexpand");
    const std::string book = "http://192.168.0.5:49039/shelf/My%20Book%20(1)+x.zip";
    ASSERT_TRUE(r->openFile(book, std::nullopt, std::string("vol2"), false, false));

    // The server wants the name escaped, reserved characters too.
    ASSERT_EQ(fake->indexUrls.size(), 1u);
    const std::string base = "http://192.168.0.5:49039/shelf/lbexpand?archive=My%20Book%20%281%29%2Bx.zip";
    EXPECT_EQ(fake->indexUrls[0], base);

    // Only vol2, naturally sorted, numbered among every image of the archive.
    EXPECT_EQ(namesOf(*r), (std::vector<std::string>{"vol2/9.jpg", "vol2/10.jpg"}));
    EXPECT_EQ(r->getGlobalPageNoList(), (std::vector<int32_t>{3, 2}));
    EXPECT_EQ(fake->openedUrls, (std::vector<std::string>{base + "&page=4", base + "&page=3"}));
    EXPECT_EQ(fake->openedGlobals, (std::vector<int32_t>{3, 2}));
    EXPECT_EQ(fake->openedTotal, 5);
    EXPECT_EQ(fake->openedInfo, book);
    EXPECT_TRUE(fake->openedLbExpand);
    EXPECT_EQ(r->getFolderList(false), std::vector<std::string>{"vol2"});

    // Without a target folder every image is a page, and the folders are listed once each.
    ASSERT_TRUE(r->openFile(book, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->getPageNameList().size(), 5u);
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"vol1", "vol2"}));
}

TEST_F(PageReaderStreamTest, CompanionServerFailuresSetTheirFlags) {
    auto r = std::make_shared<PageReader>();
    r->setMediaServerExpandMode("lbexpand");
    EXPECT_FALSE(r->openFile("http://srv/a/book.zip", std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(r->isExpandError());
    EXPECT_FALSE(r->isNoPage());

    fake->index = std::vector<std::string>{"vol1/01.jpg", "notes.txt"};
    EXPECT_FALSE(r->openFile("http://srv/a/book.zip", std::nullopt, std::string("vol9"), false, false));
    EXPECT_TRUE(r->isNoPage());
    EXPECT_FALSE(r->isExpandError()) << "flags are cleared at every open";
    EXPECT_TRUE(r->getPageNameList().empty());
}

TEST_F(PageReaderStreamTest, ProgressReachesTheTargetUntilStreamingIsCancelled) {
    auto target = std::make_shared<test::RecordingStatusTarget>();
    auto r = std::make_shared<PageReader>();
    r->setTargetForOnlineStatus(target);
    ASSERT_TRUE(r->openFile("http://srv/a.jpg", std::nullopt, std::nullopt, false, false));
    fake->reportBlock(7, 0, 0, 0);
    EXPECT_EQ(target->blocks.load(), 1);
    EXPECT_EQ(target->lastCached.load(), 7);

    r->cancelStreaming();
    EXPECT_EQ(fake->cancelCount.load(), 1);
    fake->reportBlock(8, 0, 0, 0);
    EXPECT_EQ(target->blocks.load(), 1) << "a cancelled reader no longer reports";
}

}  // namespace
