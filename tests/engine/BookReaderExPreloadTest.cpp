#include "engine/BookReaderEx.h"

#include "engine/ImageLoader.h"
#include "engine/PageDecodeGate.h"
#include "engine/UrlListStream.h"
#include "platform/core/Thread.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/engine/FakeUrlListStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using test::colourNear;
using test::pageColour;

class BookPreloadTest : public test::BookSessionFixture {
protected:
    void SetUp() override {
        BookSessionFixture::SetUp();
        set("isPreRead", true);
    }

    PageLoadRequest move(int op, int page = 0) {
        PageLoadRequest r = request(op, page, area);
        r.isPreloadPages = true;
        r.isCachePages = true;
        return r;
    }

    const gfx::Size area{300, 600};
};

TEST_F(BookPreloadTest, PreloadServesTheNextView) {
    openBook();
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kCompose, 0)), 0);
    session->waitPreloadThread();
    EXPECT_FALSE(session->isPreLoadingInProcess());

    const PageLoadRequest next = move(PageLoadRequest::kNext);
    EXPECT_TRUE(session->isPageLoaded(next));
    EXPECT_FALSE(session->isPageLoaded(move(PageLoadRequest::kJumpForward, 5)));
    // Served as composed in the background: the very same image.
    ASSERT_EQ(session->loadPage(next), 0);
    auto p = session->loadedPage();
    EXPECT_EQ(p->targetPage, 1);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kForward);
    EXPECT_TRUE(colourNear(p->image->pixel(75, 300), pageColour(1, false)));

    // Its own preload follows; the page after it is ready in turn.
    session->waitPreloadThread();
    const PageLoadRequest third = move(PageLoadRequest::kNext);
    EXPECT_TRUE(session->isPageLoaded(third));
    auto before = session->loadedPage();
    ASSERT_EQ(session->loadPage(third), 0);
    EXPECT_EQ(session->loadedPage()->targetPage, 2);

    // The view we left is kept: going back is served from it, marked backward.
    const PageLoadRequest back = move(PageLoadRequest::kPrevious);
    EXPECT_TRUE(session->isPageLoaded(back));
    ASSERT_EQ(session->loadPage(back), 0);
    EXPECT_EQ(session->loadedPage()->image, before->image);
    EXPECT_EQ(session->loadedPage()->pageMoveDirection, BookPage::kBackward);
    EXPECT_EQ(before->pageMoveDirection, BookPage::kForward) << "a served view is copied, not changed";
    session->waitPreloadThread();
}

// Two sessions of one book (a reading screen closed while its page decodes
// and the book opened again, the cover maker and the reading screen) never
// decode the same picture at once: the second waits for the first's decode,
// and gives up at once when it is closed meanwhile.
TEST_F(BookPreloadTest, TwoSessionsOfABookNeverDecodeAPageAtOnce) {
    auto first = std::make_shared<BookReaderEx>();
    auto second = std::make_shared<BookReaderEx>();
    for (auto* s : {&first, &second}) {
        (*s)->setSettings(settings);
        ASSERT_TRUE((*s)->openBookWithName(pagePath(0), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    }
    const std::string key = PageDecodeGate::keyFor(pagePath(0), "", 0);
    std::mutex m;
    std::condition_variable cv;
    int starts = 0;
    bool release = false;
    // The first decode holds on until the test lets it go.
    ImageLoader::setDecodeObserver([&](bool ended) {
        std::unique_lock lock(m);
        if (ended) return;
        const bool firstDecode = ++starts == 1;
        cv.notify_all();
        if (firstDecode) cv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
    });
    auto until = [&](auto done) {
        std::unique_lock lock(m);
        for (int i = 0; i < 10000 && !done(); ++i) cv.wait_for(lock, std::chrono::milliseconds(1));
        return done();
    };
    int firstResult = -1, secondResult = -1;
    std::thread a([&] { firstResult = first->loadPage(request(PageLoadRequest::kCompose, 0, area)); });
    ASSERT_TRUE(until([&] { return starts == 1; }));
    std::thread b([&] { secondResult = second->loadPage(request(PageLoadRequest::kCompose, 0, area)); });
    EXPECT_TRUE(until([&] { return starts > 1 || PageDecodeGate::users(key) == 2; }));
    EXPECT_EQ(PageDecodeGate::users(key), 2) << "the second session did not wait for the first";
    // Closed while it waits: it gives up without decoding.
    second->cancelStreaming();
    b.join();
    EXPECT_EQ(secondResult, BookReaderEx::kLoadError);
    {
        std::lock_guard lock(m);
        EXPECT_EQ(starts, 1) << "the same page was decoded twice at once";
        release = true;
    }
    cv.notify_all();
    a.join();
    ImageLoader::setDecodeObserver({});
    EXPECT_EQ(firstResult, BookReaderEx::kLoadDone);
    EXPECT_EQ(PageDecodeGate::users(key), 0);
    first->closeBook();
    second->closeBook();
}

TEST_F(BookPreloadTest, DividedPagesAreFoundInTheSlots) {
    set("isDivisionPage", true);
    openBook();
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kJumpForward, kWidePage)), 0);
    session->waitPreloadThread();
    // From the first half of the wide page the next view is its second half.
    PageLoadRequest next = move(PageLoadRequest::kNext);
    ASSERT_TRUE(session->isPageLoaded(next));
    ASSERT_EQ(session->loadPage(next), 0);
    EXPECT_TRUE(session->loadedPage()->isSecondPage);
    session->waitPreloadThread();
    // From the second half, the next page's first view.
    next = move(PageLoadRequest::kNext);
    ASSERT_TRUE(session->isPageLoaded(next));
    ASSERT_EQ(session->loadPage(next), 0);
    EXPECT_EQ(session->loadedPage()->targetPage, kWidePage + 1);
    session->waitPreloadThread();
    // Back from there: the wide page's second half, from the kept slot.
    PageLoadRequest back = move(PageLoadRequest::kPrevious);
    ASSERT_TRUE(session->isPageLoaded(back));
    ASSERT_EQ(session->loadPage(back), 0);
    EXPECT_EQ(session->loadedPage()->targetPage, kWidePage);
    EXPECT_TRUE(session->loadedPage()->isSecondPage);
    session->waitPreloadThread();
}

TEST_F(BookPreloadTest, NoPreloadOrKeptViewWithPreReadingOff) {
    set("isPreRead", false);
    openBook();
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kCompose, 0)), 0);
    EXPECT_FALSE(session->isPreLoadingInProcess());
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kNext)), 0);
    EXPECT_FALSE(session->isPreLoadingInProcess());
    EXPECT_FALSE(session->isPageLoaded(move(PageLoadRequest::kNext)));
    EXPECT_FALSE(session->isPageLoaded(move(PageLoadRequest::kPrevious))) << "nothing was kept";

    // The viewer may still keep a view by hand.
    session->addCache(session->loadedPage());
    EXPECT_TRUE(session->isPageLoaded(move(PageLoadRequest::kJumpForward, 1)));
    session->deleteCache();
    EXPECT_FALSE(session->isPageLoaded(move(PageLoadRequest::kJumpForward, 1)));
}

TEST_F(BookPreloadTest, NoPreloadPastEitherEnd) {
    openBook();
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kJumpForward, kPages - 1)), 0);
    EXPECT_TRUE(session->loadedPage()->isLastPage);
    EXPECT_FALSE(session->isPreLoadingInProcess());
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kJumpForward, 1)), 0);
    session->waitPreloadThread();
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kPrevious)), 0);
    EXPECT_TRUE(session->loadedPage()->isFirstPage);
    EXPECT_FALSE(session->isPreLoadingInProcess()) << "nothing before the first page";
}

TEST_F(BookPreloadTest, ViewsAreReadWhileThePreloadComposes) {
    openBook();
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    // The viewer's main thread asks about the book while pages turn on a worker.
    sys::Thread viewer([&](const std::atomic<bool>&) {
        while (!done.load()) {
            if (auto p = session->loadedPage()) seen += p->image ? 1 : 0;
            session->isPageLoaded(move(PageLoadRequest::kNext));
            session->getPageNum();
            session->getPageFilename(1);
            session->isPreLoadingInProcess();
        }
    });
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kCompose, 0)), 0);
    for (int i = 1; i < kPages; ++i) {
        ASSERT_EQ(session->loadPage(move(PageLoadRequest::kNext)), 0);
        EXPECT_EQ(session->loadedPage()->targetPage, i);
    }
    for (int i = kPages - 2; i >= 0; --i) {
        session->waitPreloadThread();
        ASSERT_EQ(session->loadPage(move(PageLoadRequest::kPrevious)), 0);
        EXPECT_EQ(session->loadedPage()->targetPage, i);
    }
    done = true;
    viewer.join();
    EXPECT_GT(seen.load(), 0);
}

// ---- A book read from a server, whose pages can be held --------------------------------

class BookStreamPreloadTest : public BookPreloadTest {
protected:
    void SetUp() override {
        BookPreloadTest::SetUp();
        fake = std::make_shared<test::FakeUrlListStream>();
        UrlListStream::registerMaker([this] { return fake; });
        for (int i = 0; i < kPages; ++i) {
            urls.push_back("http://srv/book/p" + std::to_string(i) + ".bmp");
            fake->files[urls.back()] = pagePath(i);
        }
    }
    void TearDown() override {
        fake->release();
        BookPreloadTest::TearDown();
        UrlListStream::registerMaker(nullptr);
    }

    void openRemote() {
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        session->setTargetForOnlineStatus(target);
        ASSERT_TRUE(session->openBookWithName(urls[0], urls, std::nullopt, std::nullopt, std::nullopt, false, false));
        EXPECT_TRUE(session->isStreamingMode());
        EXPECT_TRUE(session->isStreamingUnitIsPage());
    }

    // Page 0 is shown; the preload of page 1 waits for the server.
    void showFirstPageWithAPreloadHeld() {
        fake->holdFrom = 1;
        ASSERT_EQ(session->loadPage(move(PageLoadRequest::kCompose, 0)), 0);
        EXPECT_TRUE(session->isPreLoadingInProcess());
        fake->waitUntilHeld();
    }

    std::shared_ptr<test::FakeUrlListStream> fake;
    std::shared_ptr<test::RecordingStatusTarget> target = std::make_shared<test::RecordingStatusTarget>();
    std::vector<std::string> urls;
};

TEST_F(BookStreamPreloadTest, ClosingDuringAPreloadCancelsAndWaitsForIt) {
    openRemote();
    showFirstPageWithAPreloadHeld();
    session->closeBook();
    EXPECT_FALSE(session->isPreLoadingInProcess());
    EXPECT_GE(fake->cancelCount.load(), 1);
    EXPECT_EQ(fake->closeCount.load(), 1);
    EXPECT_EQ(session->getPageNum(), 0);
    EXPECT_FALSE(session->loadedPage());
}

TEST_F(BookStreamPreloadTest, ReopeningDuringAPreloadWaitsForIt) {
    openRemote();
    showFirstPageWithAPreloadHeld();
    // Another book, this time local: the held preload ends first.
    ASSERT_TRUE(session->openBookWithName(pagePath(0), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(session->isPreLoadingInProcess());
    EXPECT_EQ(fake->closeCount.load(), 1);
    EXPECT_FALSE(session->isStreamingMode());
    ASSERT_EQ(session->loadPage(move(PageLoadRequest::kJumpForward, 1)), 0);
    EXPECT_TRUE(colourNear(session->loadedPage()->image->pixel(75, 300), pageColour(1, false)));
}

TEST_F(BookStreamPreloadTest, ReleasingTheSessionDuringAPreloadIsSafe) {
    openRemote();
    showFirstPageWithAPreloadHeld();
    std::weak_ptr<BookReaderEx> weak = session;
    session.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(fake->closeCount.load(), 1);
}

TEST_F(BookStreamPreloadTest, WaitingForTheServerThenTheNextPageIsReady) {
    openRemote();
    showFirstPageWithAPreloadHeld();
    const PageLoadRequest next = move(PageLoadRequest::kNext);
    EXPECT_FALSE(session->isPageLoaded(next));
    fake->release();
    session->waitPreloadThread();
    EXPECT_FALSE(session->isPreLoadingInProcess());
    EXPECT_TRUE(session->isPageLoaded(next));
    const int requests = fake->pageRequests.load();
    ASSERT_EQ(session->loadPage(next), 0);
    EXPECT_EQ(session->loadedPage()->targetPage, 1);
    session->waitPreloadThread();
    EXPECT_EQ(fake->pageRequests.load(), requests + 1) << "page 1 came from the preload; only page 2 was fetched";
}

TEST_F(BookStreamPreloadTest, CancelledStreamingFailsTheWaitingLoad) {
    openRemote();
    fake->holdFrom = 0;
    sys::Thread loader([&](const std::atomic<bool>&) {
        EXPECT_EQ(session->loadPage(move(PageLoadRequest::kCompose, 0)), BookReaderEx::kLoadError);
    });
    fake->waitUntilHeld();
    session->cancelStreaming();
    loader.join();
    EXPECT_TRUE(session->loadedPage() && session->loadedPage()->image) << "the placeholder";
}

TEST_F(BookStreamPreloadTest, StreamProgressReachesTheViewer) {
    openRemote();
    fake->reportBlock(3, 262144, 2, 10);
    EXPECT_EQ(target->blocks.load(), 1);
    EXPECT_EQ(target->lastCached.load(), 3);
}

TEST_F(BookStreamPreloadTest, StreamedBooksPreloadForTheCacheBuilderEvenWithPreReadingOff) {
    set("isPreRead", false);
    openRemote();
    PageLoadRequest r = move(PageLoadRequest::kCompose, 0);
    r.isCacheCreator = true;
    ASSERT_EQ(session->loadPage(r), 0);
    session->waitPreloadThread();
    EXPECT_TRUE(session->isPageLoaded(move(PageLoadRequest::kNext)));
}

// A book read from a server whose earlier pages were never fetched: its
// pairs follow the page numbers, and no page is fetched to learn a size.
// With the first page alone, the view before (2, 3) shows page 1 alone,
// never beside page 0. Pages shown once pair as paging from the start.
TEST_F(BookStreamPreloadTest, PairsOfPagesNeverFetchedFollowThePageNumbers) {
    ASSERT_TRUE(test::writeHalvesPage(pagePath(kWidePage), 200, 300, pageColour(kWidePage, false),
                                      pageColour(kWidePage, true)));
    ASSERT_TRUE(test::writeHalvesPage(pagePath(5), 400, 300, pageColour(5, false), pageColour(5, true)));
    set("isPreRead", false);
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    openRemote();
    const gfx::Size wide{800, 300};
    auto p = load(PageLoadRequest::kJumpForward, 4, wide);
    EXPECT_EQ(p->targetPage, 3);
    EXPECT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(fake->pageRequests.load(), 2) << "only pages 3 and 4 were fetched";
    EXPECT_FALSE(session->spreadStart(3).has_value());
    p = load(PageLoadRequest::kPreviousOnePage, 0, wide);
    EXPECT_EQ(p->targetPage, 2);
    EXPECT_TRUE(p->is2PageLoaded);
    p = load(PageLoadRequest::kPrevious, 0, wide);
    EXPECT_EQ(p->targetPage, 1);
    EXPECT_FALSE(p->is2PageLoaded) << "page 1 beside page 0";

    // Paged from the start, the wide page 5 moves the pairs after it.
    load(PageLoadRequest::kJumpBackward, 0, wide);
    for (int k = 0; k < 4; ++k) load(PageLoadRequest::kNext, 0, wide);
    ASSERT_EQ(session->loadedPage()->targetPage, 6);
    ASSERT_TRUE(session->loadedPage()->is2PageLoaded);
    p = load(PageLoadRequest::kJumpBackward, 1, wide);
    EXPECT_EQ(p->targetPage, 1);
    p = load(PageLoadRequest::kJumpForward, 7, wide);
    EXPECT_EQ(p->targetPage, 6) << "the page numbers would show page 7 alone";
    EXPECT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(session->spreadStart(7), 6);
}

TEST_F(BookStreamPreloadTest, PageNumbersOfAFolderOpenedAsOneBook) {
    fake->index = std::vector<std::string>{"v1/a.jpg", "v1/b.jpg", "v2/c.jpg", "v2/d.jpg"};
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName("http://srv/shelf/book.zip", {}, std::string("lbexpand"), std::nullopt,
                                          std::string("v2"), false, false));
    EXPECT_EQ(session->readerKind(), BookReaderEx::ReaderKind::ImageFolder);
    EXPECT_EQ(session->getTargetFolder(), std::string("v2"));
    ASSERT_EQ(session->getPageNum(), 2);
    EXPECT_EQ(session->getPageFilename(0), std::string("v2/c.jpg\0", 9));
    EXPECT_EQ(session->getPageFilename(2), std::nullopt);
    EXPECT_EQ(session->getPageFilename(-1), std::nullopt);
    EXPECT_EQ(session->getPageNoFromFilename(std::string("v2/d.jpg\0", 9)), 1);
    EXPECT_EQ(session->getPageNoFromFilename("v2/d.jpg"), -1) << "names compare with their NUL byte";
    EXPECT_EQ(session->getGlobalPageNo(0), 2);
    EXPECT_EQ(session->getGlobalPageNo(1), 3);
    EXPECT_EQ(session->getGlobalPageNo(-5), 2);
    EXPECT_EQ(session->getGlobalPageNo(9), 2) << "past the end: the count";
    EXPECT_EQ(session->getLocalPageNo(3), 1);
    EXPECT_EQ(session->getLocalPageNo(0), -1);

    // A companion-server index that cannot be fetched.
    fake->index.reset();
    EXPECT_FALSE(session->openBookWithName("http://srv/shelf/book.zip", {}, std::string("lbexpand"), std::nullopt,
                                           std::nullopt, false, false));
    EXPECT_TRUE(session->isExpandError());
    EXPECT_EQ(session->getLocalPageNo(4), -1) << "an empty global list";
    EXPECT_EQ(session->getGlobalPageNo(4), 0);
}

}  // namespace
