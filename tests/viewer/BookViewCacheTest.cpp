// The page cache the reading screen has made in the background while a book
// is open, and its end when the screen goes.
#include "tests/viewer/ViewerFixture.h"

#include "engine/CacheCreateOperation.h"
#include "platform/graphics/ImageDecoder.h"

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

TEST_F(BookViewCacheTest, NoCacheWithoutPagePreview) {
    set("isEnablePagePreview", false);
    open(0);
    advance(10);
    EXPECT_EQ(cachedPages(), 0);
}

}  // namespace
