// Who stops a stream's loader: a cancel, from any thread (the main thread at
// quit, a screen going away), only tells the loader and returns at once, even
// while the loader is still busy ending its transfer; the owner's close is
// the one place that waits for it. A cancel and a close from two threads at
// once both return.
#include "remote/stream/BlockLoaderStreamRead.h"

#include "tests/support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

// A loader whose probe hangs until it is told to stop, then takes its time
// to end (as one closing a connection to a stalled server does) until the
// test lets it go.
class LingeringLoader : public BlockLoaderStreamRead {
public:
    explicit LingeringLoader(std::shared_future<void> leave) : leave_(std::move(leave)) {}
    ~LingeringLoader() override {
        closeURL();
        stopLoader();
    }
    bool openURL(const std::string& url) override {
        setTargetURL(url);
        return startLoader("lingering");
    }
    std::atomic<bool> probeEntered{false};
    std::atomic<bool> probeSawStop{false};

protected:
    bool probe() override {
        probeEntered = true;
        while (!stopping()) std::this_thread::yield();
        probeSawStop = true;
        leave_.wait();
        return false;
    }
    Outcome fetchBlock(uint64_t) override { return Outcome::Fatal; }

private:
    std::shared_future<void> leave_;
};

TEST(BlockLoaderStreamReadTest, ACancelReturnsWhileTheLoaderEndsAndTheOwnersCloseWaitsForIt) {
    test::Watchdog watchdog(20, "a cancel waiting for a lingering loader");
    std::promise<void> leave;
    auto s = std::make_shared<LingeringLoader>(leave.get_future().share());
    std::atomic<bool> opened{true}, closed{false};
    // The owner: opens on its thread, then closes the stream when the open fails.
    std::thread owner([&] {
        opened = s->openURL("test://lingering/book.cbz");
        s->closeURL();
        closed = true;
    });
    // The probe starts on the new thread before the owner's openURL has
    // stored that thread as its loader: wait for both.
    while (!s->probeEntered || !s->loaderRunning()) std::this_thread::yield();

    s->cancelStreaming();
    EXPECT_TRUE(s->isCancel());
    while (!s->probeSawStop) std::this_thread::yield();
    EXPECT_TRUE(s->loaderRunning()) << "the loader is still ending";
    EXPECT_FALSE(closed);

    leave.set_value();
    owner.join();
    EXPECT_FALSE(opened);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(s->loaderRunning()) << "the close waited for the loader";
}

TEST(BlockLoaderStreamReadTest, ACancelAndACloseFromTwoThreadsAtOnceBothReturn) {
    test::Watchdog watchdog(30, "a cancel and a close at once");
    for (int round = 0; round < 50; ++round) {
        std::promise<void> leave;
        leave.set_value();
        auto s = std::make_shared<LingeringLoader>(leave.get_future().share());
        std::thread owner([&] { s->openURL("test://lingering/book.cbz"); });
        while (!s->probeEntered) std::this_thread::yield();
        std::thread closer([&] { s->closeURL(); });
        s->cancelStreaming();
        closer.join();
        owner.join();
        s->closeURL();
        EXPECT_FALSE(s->loaderRunning());
    }
}

}  // namespace
