#include "engine/ThumbsCreate.h"
#include "foundation/BookCommon.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/ImageDecoder.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <filesystem>
#include <fstream>

namespace {

struct Listener : ThumbsCreateDelegate {
    std::vector<std::string> done;
    void updateItem(const std::shared_ptr<FilelistItem>& item) override {
        EXPECT_TRUE(sys::RunLoop::isMainThread());
        done.push_back(item->pathFromBooks().value_or(""));
    }
};

class ThumbsCreateTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        home = std::make_unique<test::TempDir>("thumbs");
        sys::AppPaths::setHome(home->path());
    }
    void TearDown() override {
        maker.reset();
        VirtualClockTest::TearDown();
        sys::AppPaths::setHome("");
    }
    std::shared_ptr<FilelistItem> image(const std::string& name, int w, int h) {
        gfx::Canvas c(w, h, 1.0);
        c.fillRect({0, 0, double(w), double(h)}, gfx::Rgba{0.1, 0.6, 0.3, 1});
        EXPECT_TRUE(c.writePNG(BookCommon::getBooksDocumentsFolder() + "/" + name));
        return item(name, 2);
    }
    std::shared_ptr<FilelistItem> item(const std::string& name, int type) {
        auto i = std::make_shared<FilelistItem>();
        i->setType(type);
        i->setFilename(name);
        i->setPathFromBooks(name);
        return i;
    }
    std::unique_ptr<test::TempDir> home;
    std::shared_ptr<ThumbsCreate> maker = std::make_shared<ThumbsCreate>();
};

TEST_F(ThumbsCreateTest, CoversAreScaledToFitAndReportedOnTheMainThread) {
    auto listener = std::make_shared<Listener>();
    maker->setDelegate(listener);
    auto tall = image("tall.png", 400, 1200);
    auto small = image("small.png", 30, 40);
    maker->addQue(tall);
    maker->addQue(small);
    ASSERT_TRUE(maker->waitUntilIdle(20));
    advance(0.1);
    EXPECT_EQ(listener->done, (std::vector<std::string>{"tall.png", "small.png"}));
    auto t = gfx::ImageDecoder::decodeFile(ThumbsCreate::thumbnailPathForItem(*tall, false));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->height(), ThumbsCreate::kThumbHeight);
    EXPECT_EQ(t->width(), 53);  // 400 x 1200 kept in proportion
    auto s = maker->getImage(small, false);
    ASSERT_TRUE(s.image);
    EXPECT_EQ(s.image->width(), 30);  // never enlarged

    // Made once: queueing again does nothing.
    maker->addQue(tall);
    EXPECT_EQ(maker->queueLength(), 0u);
}

TEST_F(ThumbsCreateTest, UnreadableBooksAreNotTriedAgainAndFoldersAreNotQueued) {
    std::ofstream(BookCommon::getBooksDocumentsFolder() + "/broken.zip") << "not a zip";
    auto broken = item("broken.zip", 1);
    maker->addQue(broken);
    ASSERT_TRUE(maker->waitUntilIdle(20));
    EXPECT_FALSE(maker->getImage(broken, false).image);
    maker->addQue(broken);
    EXPECT_EQ(maker->queueLength(), 0u);
    maker->addQue(item("Folder", 0));
    auto remote = item("far.zip", 1);
    remote->setLocation(FilelistItem::kRemote);
    maker->addQue(remote);
    EXPECT_EQ(maker->queueLength(), 0u);
}

TEST_F(ThumbsCreateTest, ASuspendedMakerHoldsItsQueueUntilResumedOrCancelled) {
    maker->suspendTask(true);
    auto a = image("a.png", 50, 50);
    auto b = image("b.png", 50, 50);
    maker->addQue(a);
    maker->addQue(b);
    maker->addQue(a);  // once only
    EXPECT_EQ(maker->queueLength(), 2u);
    advance(0.5);
    EXPECT_FALSE(sys::FileManager::fileExists(ThumbsCreate::thumbnailPathForItem(*a, false)));
    maker->cancelAllTask();
    EXPECT_EQ(maker->queueLength(), 0u);
    maker->addQue(b);
    maker->suspendTask(false);
    ASSERT_TRUE(maker->waitUntilIdle(20));
    EXPECT_TRUE(sys::FileManager::fileExists(ThumbsCreate::thumbnailPathForItem(*b, false)));
    EXPECT_FALSE(sys::FileManager::fileExists(ThumbsCreate::thumbnailPathForItem(*a, false)));
    // Going away joins the worker, even with work queued.
    maker->suspendTask(true);
    maker->addQue(a);
    maker.reset();
}

}  // namespace
