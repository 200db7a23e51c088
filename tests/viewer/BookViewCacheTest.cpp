// The page cache the reading screen has made in the background while a book
// is open, and its end when the screen goes.
#include "tests/viewer/ViewerFixture.h"

#include "engine/CacheCreateOperation.h"
#include "platform/graphics/ImageDecoder.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfDrawWatch.h"

namespace {

using viewertest::ViewerTest;

class BookViewCacheTest : public ViewerTest {
protected:
    std::string cacheDir() const { return BookCommon::getBookCacheDir(bookPath(), false); }
    std::string complete() const { return cacheDir() + "/" + CacheCreateOperation::kCompleteMarker; }
    int cachedPages() const {
        int n = 0;
        for (int i = 0; i < kPages; ++i) {
            auto name = session->getPageFilename(i);
            if (name && sys::FileManager::fileExists(cacheDir() + "/" + CacheCreateOperation::cacheName(*name) + ".jpg"))
                ++n;
        }
        return n;
    }
};

TEST_F(BookViewCacheTest, EveryPageIsCachedWhileTheBookIsOpen) {
    open(3);
    ASSERT_TRUE(loop().runUntil([&] { return sys::FileManager::fileExists(complete()); }, 60));
    EXPECT_EQ(cachedPages(), kPages);
    auto name = session->getPageFilename(3);
    ASSERT_TRUE(name);
    auto image = gfx::ImageDecoder::decodeFile(cacheDir() + "/" + CacheCreateOperation::cacheName(*name) + ".jpg");
    ASSERT_TRUE(image);
    // Small: the phone's cache box at twice its points at most.
    const gfx::Size box = CacheCreateOperation::loadSize();
    EXPECT_LE(image->width(), box.width * 3 + 1);
    EXPECT_LE(image->height(), box.height * 3 + 1);
}

TEST_F(BookViewCacheTest, LeavingTheScreenStopsTheCache) {
    open(0);
    advance(0.5);  // the builder waits a second before it opens the book
    nav->popViewController(false);
    settle();
    EXPECT_FALSE(list.finished.empty());
    advance(10);
    EXPECT_EQ(cachedPages(), 0);
    EXPECT_FALSE(sys::FileManager::fileExists(complete()));
}

// A preview being drawn (a PDF page whose one path takes long) is given up,
// not waited for, when the screen goes (Escape, the program's end).
TEST_F(BookViewCacheTest, LeavingTheScreenWaitsForNoPreviewBeingDrawn) {
    test::PdfBuilder b;
    for (int i = 0; i < 2; ++i) {
        test::PdfBuilder::Page p;
        p.content = test::PdfBuilder::fill(0, 0, 1, 0, 0, 200, 300);
        b.pages.push_back(p);
    }
    const std::string book = home.path() + "/Documents/plan.pdf";
    ASSERT_TRUE(b.write(book));
    settings->setTargetBook(book);
    set("isPreRead", false);
    open(0, -1, book);
    test::PdfDrawWatch draws;
    draws.hold();
    advance(2);  // the builder opens the book after a second and starts on a page
    ASSERT_TRUE(draws.waitForStarts(1));
    nav->popViewController(false);
    settle();
    EXPECT_EQ(draws.ended(), 0) << "leaving the screen waited for the preview being drawn";
    draws.release();
    ASSERT_TRUE(draws.waitForEnds(1));
    EXPECT_EQ(draws.abandoned(), 1);
}

TEST_F(BookViewCacheTest, NoCacheWithoutPagePreview) {
    set("isEnablePagePreview", false);
    open(0);
    advance(10);
    EXPECT_EQ(cachedPages(), 0);
}

}  // namespace
