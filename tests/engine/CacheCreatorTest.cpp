// The page-cache builder on a cbz packed at test time, driven on the virtual
// clock: the worker's waits (the first second, the pause between pages, the
// yields to the screen's preload) move only as the test advances time.
#include "engine/CacheCreator.h"

#include "foundation/BookCommon.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/NotificationCenter.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegEncoder.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfDrawWatch.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <algorithm>
#include <atomic>
#include <fstream>

namespace {

struct Screen : CacheCreatorDelegate {
    std::atomic<bool> preloading{false};
    std::atomic<int> priority{0};
    std::vector<int> cached;
    int finished = 0;

    bool isPreLoadingImage() const override { return preloading.load(); }
    int32_t priorityPage() const override { return priority.load(); }
    void cachePage(int32_t page) override {
        EXPECT_TRUE(sys::RunLoop::isMainThread());
        cached.push_back(page);
    }
    void cacheCreateFinish() override {
        EXPECT_TRUE(sys::RunLoop::isMainThread());
        ++finished;
    }
};

class CacheCreatorTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        home = std::make_unique<test::TempDir>("cachehome");
        sys::AppPaths::setHome(home->path());
        const std::string src = work.file("src");
        sys::FileManager::createDirectory(src, true);
        std::string names;
        for (int i = 0; i < 10; ++i) {
            std::vector<uint32_t> px(size_t(120) * 160, 0xFF000000u | uint32_t(i * 20) << 16 | 0x4080);
            auto bytes = gfx::JpegEncoder::encode(*gfx::Image::make(120, 160, std::move(px), 1.0), 0.9);
            std::ofstream(page(src, i), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            names += " p0" + std::to_string(i) + ".jpg";
        }
        book = BookCommon::getBooksDocumentsFolder() + "/ten.cbz";
        sys::FileManager::createDirectory(BookCommon::getBooksDocumentsFolder(), true);
        ASSERT_EQ(test::shell("cd '" + src + "' && zip -q '" + book + "'" + names), 0);
        creator.setDelegate(&screen);
    }
    void TearDown() override {
        creator.stopCacheCreator();
        creator.waitForFinishThread();
        VirtualClockTest::TearDown();
        sys::AppPaths::setHome("");
    }

    static std::string page(const std::string& dir, int i) { return dir + "/p0" + std::to_string(i) + ".jpg"; }
    std::string cacheDir() const { return BookCommon::getBookCacheDir(book, false); }
    // The cached image of page i.
    std::string cached(int i) const { return page(cacheDir(), i) + ".jpg"; }
    std::string complete() const { return cacheDir() + "/" + CacheCreateOperation::kCompleteMarker; }

    void start(int current) { creator.startCacheCreator(current, book, std::nullopt, {}, std::nullopt, std::nullopt); }
    bool runUntilFinished() {
        return loop().runUntil([&] { return screen.finished > 0; }, 60);
    }

    std::unique_ptr<test::TempDir> home;
    test::TempDir work{"cachesrc"};
    std::string book;
    Screen screen;
    CacheCreator creator;
};

TEST_F(CacheCreatorTest, NearestPagesFirstThenTheCompletionMarker) {
    screen.priority = 7;
    start(7);
    EXPECT_TRUE(creator.isStarted());
    start(0);  // already started: nothing more
    // Another sender's notifications are not this screen's.
    sys::NotificationCenter::defaultCenter().post(CacheCreateOperation::kCacheCreateFinish, nullptr);
    EXPECT_EQ(screen.finished, 0);
    ASSERT_TRUE(runUntilFinished());
    EXPECT_EQ(screen.cached, (std::vector<int>{7, 6, 8, 5, 9, 4, 3, 2, 1, 0}));
    EXPECT_EQ(screen.finished, 1);
    for (int i = 0; i < 10; ++i) {
        auto image = gfx::ImageDecoder::decodeFile(cached(i));
        ASSERT_TRUE(image) << i;
        EXPECT_FALSE(sys::FileManager::fileExists(page(cacheDir(), i) + ".try"));
    }
    EXPECT_EQ(sys::FileManager::contentsOfFile(complete()), std::string(1, '\1'));

    // Opened again with every page there: nothing but the marker is written.
    creator.stopCacheCreator();
    creator.waitForFinishThread();
    const auto before = sys::FileManager::modificationDate(cached(3));
    ASSERT_TRUE(sys::FileManager::removeItem(complete()));
    screen.cached.clear();
    screen.finished = 0;
    start(0);
    ASSERT_TRUE(runUntilFinished());
    EXPECT_TRUE(screen.cached.empty());
    EXPECT_TRUE(sys::FileManager::fileExists(complete()));
    EXPECT_EQ(sys::FileManager::modificationDate(cached(3)), before);
}

// A long book's previews are made near the reader, not all at the opening:
// pages further away wait until the reader comes near them.
TEST_F(CacheCreatorTest, ALongBookIsCachedOnlyNearTheReader) {
    const std::string src = work.file("src");
    const int pages = 2 * CacheCreateOperation::kPagesAround + 10;
    ASSERT_EQ(test::shell("cd '" + src + "' && rm -f '" + book + "' && for i in $(seq 100 " +
                          std::to_string(99 + pages) + "); do cp p00.jpg q$i.jpg; done && zip -q '" + book +
                          "' q*.jpg"),
              0);
    screen.priority = 10;
    start(10);
    const size_t nearPages = size_t(10 + CacheCreateOperation::kPagesAround + 1);
    ASSERT_TRUE(loop().runUntil([&] { return screen.cached.size() >= nearPages; }, 60));
    advance(5);
    EXPECT_EQ(screen.cached.size(), nearPages);
    EXPECT_EQ(*std::max_element(screen.cached.begin(), screen.cached.end()), 10 + CacheCreateOperation::kPagesAround);
    EXPECT_EQ(screen.finished, 0);
    EXPECT_FALSE(sys::FileManager::fileExists(complete()));
    // The reader goes to the end: the rest is made, and the cache is complete.
    screen.priority = pages - 1;
    ASSERT_TRUE(runUntilFinished());
    EXPECT_EQ(screen.cached.size(), size_t(pages));
    EXPECT_EQ(screen.cached[nearPages], pages - 1);
    EXPECT_TRUE(sys::FileManager::fileExists(complete()));
}

TEST_F(CacheCreatorTest, YieldsToThePreloadAndAStopLeavesNoCompletion) {
    screen.preloading = true;
    start(0);
    advance(5);
    EXPECT_TRUE(screen.cached.empty());  // never while the screen preloads
    screen.preloading = false;
    ASSERT_TRUE(loop().runUntil([&] { return screen.cached.size() >= 3; }, 30));
    creator.stopCacheCreator();
    EXPECT_FALSE(creator.isStarted());
    creator.waitForFinishThread();
    advance(5);
    EXPECT_EQ(screen.cached, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(screen.finished, 0);
    EXPECT_FALSE(sys::FileManager::fileExists(complete()));
    EXPECT_FALSE(sys::FileManager::fileExists(cached(5)));
}

TEST_F(CacheCreatorTest, ACrashedPageStaysSkippedAFailedOneIsTriedAgain) {
    // Page 5 is damaged in the book; page 3 died in an earlier run.
    const std::string src = work.file("src");
    ASSERT_EQ(test::shell("cd '" + src + "' && head -c 300 p05.jpg > cut && mv cut p05.jpg && zip -q '" + book +
                          "' p05.jpg"),
              0);
    sys::FileManager::createDirectory(cacheDir(), true);
    ASSERT_TRUE(sys::FileManager::writeFile(page(cacheDir(), 3) + ".try", std::string(1, '\1')));
    start(0);
    ASSERT_TRUE(runUntilFinished());
    EXPECT_EQ(screen.cached, (std::vector<int>{0, 1, 2, 4, 6, 7, 8, 9}));
    EXPECT_FALSE(sys::FileManager::fileExists(cached(3)));
    EXPECT_TRUE(sys::FileManager::fileExists(page(cacheDir(), 3) + ".try"));
    EXPECT_FALSE(sys::FileManager::fileExists(cached(5)));
    EXPECT_FALSE(sys::FileManager::fileExists(page(cacheDir(), 5) + ".try"));
    // Page 5 may still be made: the cache is not complete. The crashed page
    // alone does not hold it back.
    EXPECT_FALSE(sys::FileManager::fileExists(complete()));
    EXPECT_EQ(screen.finished, 1);
    ASSERT_EQ(test::shell("cd '" + src + "' && zip -q -d '" + book + "' p05.jpg"), 0);
    creator.stopCacheCreator();
    creator.waitForFinishThread();
    screen.finished = 0;
    start(0);
    ASSERT_TRUE(runUntilFinished());
    EXPECT_TRUE(sys::FileManager::fileExists(complete()));
}

// A builder stopped while it draws a page (a PDF page whose one path takes
// long) leaves that draw to end on its own; the book's next builder starts
// once it has, and makes that page too: the attempt under way is not taken
// for one that crashed.
TEST_F(CacheCreatorTest, TheNextBuilderOfABookWaitsForTheOneGivenUp) {
    test::PdfBuilder b;
    for (int i = 0; i < 2; ++i) {
        test::PdfBuilder::Page p;
        p.content = test::PdfBuilder::fill(0, 0, 1, 0, 0, 200, 300);
        b.pages.push_back(p);
    }
    const std::string pdf = BookCommon::getBooksDocumentsFolder() + "/plan.pdf";
    ASSERT_TRUE(b.write(pdf));
    test::PdfDrawWatch draws;
    draws.hold();
    creator.startCacheCreator(0, pdf, std::nullopt, {}, std::nullopt, std::nullopt);
    advance(2);
    ASSERT_TRUE(draws.waitForStarts(1));
    creator.stopCacheCreator();
    CacheCreator next;
    next.setDelegate(&screen);
    next.startCacheCreator(0, pdf, std::nullopt, {}, std::nullopt, std::nullopt);
    advance(3);
    draws.release();
    ASSERT_TRUE(draws.waitForEnds(1));
    creator.waitForFinishThread();
    ASSERT_TRUE(loop().runUntil([&] { return screen.finished > 0; }, 60));
    EXPECT_EQ(draws.abandoned(), 1);
    const std::string dir = BookCommon::getBookCacheDir(pdf, false);
    EXPECT_TRUE(sys::FileManager::fileExists(dir + "/" + CacheCreateOperation::kCompleteMarker));
    EXPECT_EQ(screen.cached, (std::vector<int>{0, 1})) << "the page given up was skipped as crashed";
    next.stopCacheCreator();
    next.waitForFinishThread();
}

}  // namespace
