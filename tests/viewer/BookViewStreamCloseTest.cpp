// Leaving a book read in place from a server that has stopped answering: the
// reading screen must not wait on the main thread for work that itself waits
// for that server. The book is a zip on our fault server, read through the
// test range loader; the server stalls on the first block the screen asks
// for after the book opened.
#include "tests/viewer/ViewerFixture.h"

#include "engine/RemoteStreamRead.h"
#include "tests/support/NoiseBmp.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/RangeStreamRead.h"

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace viewertest;

namespace {

class BookViewStreamCloseTest : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        RemoteStreamRead::removeCache(false);
        test::RangeStreamRead::registerForHttp(test::RangeStreamRead::Fetch::OnDemand);
        // A small first page, then one over several blocks.
        ASSERT_TRUE(test::writeNoiseBmp(pages.file("p0.bmp"), 16, 1));
        ASSERT_TRUE(test::writeNoiseBmp(pages.file("p1.bmp"), 600, 2));
        for (const char* name : {"dry.cbz", "book.cbz"})
            ASSERT_EQ(test::shell("cd '" + pages.path() + "' && zip -q -0 '" + served.file(name) + "' p0.bmp p1.bmp"), 0);
        fault_ = std::make_unique<test::FaultHttpServer>(served.path());
        ASSERT_TRUE(fault_->start());
        set("isPreRead", false);
    }
    void TearDown() override {
        if (viewer) viewer->setDelegate(nullptr);
        if (session) session->cancelStreaming();
        ViewerTest::TearDown();
        fault_.reset();
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kHTTP, nullptr);
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kHTTPURL, nullptr);
        RemoteStreamRead::removeCache(false);
    }

    // Opens `url` as the file list does and loads the first page.
    void openSession(const std::string& url) {
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        ASSERT_TRUE(session->openBookWithName(url, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
        ASSERT_EQ(session->getPageNum(), 2);
        ASSERT_NO_FATAL_FAILURE(loadFirstPageAtWidth());
    }

    // The book on screen, the server stalling on the next block asked for.
    void openStalling() {
        // A first run tells how many requests opening and the first page cost.
        openSession(fault_->url("/dry.cbz"));
        session->closeBook();
        ASSERT_TRUE(fault_->waitForAnswered(5.0));
        const size_t cost = fault_->requestCount("/dry.cbz");
        RemoteStreamRead::removeCache(false);
        const std::string url = fault_->url("/book.cbz?stall_from=" + std::to_string(cost + 1));
        openSession(url);

        showEmptyNavigation();
        viewer = std::make_shared<RecordingViewer>();
        viewer->setBookReader(session);
        viewer->setFileName(url);
        viewer->setPage(0);
        viewer->setSettings(settings);
        viewer->setIsStreamingMode(true);
        viewer->setDelegate(&list);
        nav->pushViewController(viewer, false);
        settle();
        ASSERT_EQ(fault_->requestCount("/book.cbz"), cost) << "nothing stalls yet";
    }

    // Runs `close` here, on the main thread. Should it still wait after 10 s
    // of real time, a watchdog cancels the stream to free it, so that a hang
    // fails the test instead of stopping it. True when no help was needed.
    bool closesUnaided(const std::function<void()>& close) {
        std::mutex m;
        std::condition_variable cv;
        bool done = false, helped = false;
        auto book = session;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lk(m);
            if (cv.wait_for(lk, std::chrono::seconds(10), [&] { return done; })) return;
            helped = true;
            lk.unlock();
            book->cancelStreaming();
        });
        close();
        {
            std::lock_guard<std::mutex> lk(m);
            done = true;
        }
        cv.notify_all();
        watchdog.join();
        return !helped;
    }

    test::TempDir pages{"stream-pages"};
    test::TempDir served{"stream-served"};
    std::unique_ptr<test::FaultHttpServer> fault_;
};

TEST_F(BookViewStreamCloseTest, ClosingWhileAReloadWaitsForTheServer) {
    openStalling();
    // A reload of a page whose bytes are not here yet waits for the server.
    viewer->setPage(1);
    viewer->reloadPage(false);
    ASSERT_TRUE(viewer->isNowReloading());
    ASSERT_TRUE(fault_->waitForStalled(1, 10.0));
    EXPECT_TRUE(closesUnaided([&] { viewer->closeBookWithByuser(true); }));
    EXPECT_FALSE(viewer->isNowReloading());
    pass();
    EXPECT_EQ(nav->viewControllers().size(), 1u) << "the screen went away";
}

TEST_F(BookViewStreamCloseTest, GoingToTheNextBookWhileAPageMoveWaitsForTheServer) {
    openStalling();
    ASSERT_TRUE(viewer->movePage(0));
    // The move starts on the loop's next turn and its thread waits for page 1.
    loop().runOnce();
    ASSERT_TRUE(viewer->isPageMoveLoading());
    ASSERT_TRUE(fault_->waitForStalled(1, 10.0));
    EXPECT_TRUE(closesUnaided([&] { viewer->closeAndOpenNextBook(true); }));
    EXPECT_EQ(list.reopenAsked, std::vector<bool>{true});
    pass();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

}  // namespace
