// Workers waiting on servers that say nothing (an FTP greeting, an HTTP
// answer) hold up advancing the virtual clock once, for a few seconds of real
// time, and not at every step after that: a headless run against a stalled
// server is not slowed down step by step. A server on this machine that
// answers late but answers is still waited for, and so is work that computes.
// Work nobody waits for (a download) holds it up no longer than the limit it
// was started under, however steadily its server talks.
#include "cloud/HttpEasy.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "foundation/QNSocketSync.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "remote/transfer/WorkerDownload.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/SilentServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class NetworkWaitClockTest : public test::VirtualClockTest {};

double realSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST_F(NetworkWaitClockTest, WorkersOnSilentServersHoldUpTheClockOnceAndWorkThatComputesIsStillWaitedFor) {
    test::SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    QNSocketSync ftp;
    ftp.setIdleTimeout(600);
    sys::Thread greeting([&](const std::atomic<bool>&) {
        std::string line;
        if (ftp.connect("127.0.0.1", silent.port())) ftp.recvLine(&line, 100);
    });
    std::atomic<bool> stopHttp{false};
    sys::Thread answer([&](const std::atomic<bool>&) {
        HttpEasy easy;
        HttpRequest req;
        req.url = "http://" + silent.server() + "/book.cbz";
        easy.prepare(req);
        easy.perform(&stopHttp);
    });

    testing::internal::CaptureStderr();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) advance(1.0);
    const double spent = realSince(t0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("workers still busy"), std::string::npos) << said;
    // Once, not for each step (let alone each timer in it).
    EXPECT_LT(spent, 5.0 + 3.0);

    // A worker that computes is waited for while the others still wait.
    std::atomic<bool> computed{false};
    sys::Thread compute([&](const std::atomic<bool>&) {
        volatile uint64_t x = 0;
        for (uint64_t i = 0; i < 20'000'000; ++i) x = x + i;
        sys::RunLoop::main().post([&] { computed = true; });
    });
    advance(0.01);
    EXPECT_TRUE(computed);

    // As is a server here that answers after a moment.
    test::TempDir www("networkwait");
    test::writeFile(www.file("late.txt"), "late");
    test::FaultHttpServer late(www.path());
    ASSERT_TRUE(late.start());
    std::atomic<bool> answered{false};
    sys::Thread lateAnswer([&](const std::atomic<bool>&) {
        HttpEasy easy;
        HttpRequest req;
        req.url = late.url("/late.txt?delay_ms=300");
        easy.prepare(req);
        const HttpResponse r = easy.perform();
        sys::RunLoop::main().post([&, ok = r.status == 200] { answered = ok; });
    });
    advance(0.01);
    EXPECT_TRUE(answered);

    ftp.cancel();
    stopHttp = true;
}

TEST_F(NetworkWaitClockTest, ARequestHandedToTheHttpThreadWhileItsServerIsSilentIsWaitedFor) {
    // The shared HTTP thread waits on a server that says nothing, long
    // enough for that wait to stop holding up the clock.
    test::SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    HttpRequest quiet;
    quiet.url = "http://" + silent.server() + "/book.cbz";
    auto stuck = std::make_shared<QNHTTPRequestOperation>(quiet);
    stuck->start();
    testing::internal::CaptureStderr();
    advance(1.0);
    testing::internal::GetCapturedStderr();

    // A request handed over now makes the thread busy at once: advancing
    // the clock waits for its answer instead of running on without it.
    test::TempDir www("networkwait");
    test::writeFile(www.file("now.txt"), "now");
    test::FaultHttpServer server(www.path());
    ASSERT_TRUE(server.start());
    std::atomic<bool> answered{false};
    HttpRequest req;
    req.url = server.url("/now.txt?delay_ms=200");
    auto op = std::make_shared<QNHTTPRequestOperation>(req);
    op->setCompletion([&](const HttpResponse& r) { answered = r.status == 200; });
    op->start();
    advance(0.01);
    EXPECT_TRUE(answered);
    stuck->cancel();
    op->cancel();
}

// A download on a worker of its own whose peer talks all the time (a slow
// but steady server).
class SteadyPeerDownload : public WorkerDownload {
public:
    SteadyPeerDownload() : WorkerDownload("steady-peer", 9) {}
    ~SteadyPeerDownload() override { cancelDownload(); }

protected:
    int transfer(const Job&) override {
        sys::Clock::NetworkWait wait;
        while (!cancelled_->load()) {
            wait.renew();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    int refusedResult() const override { return 5; }
    void cancelClients() override {}
    void releaseClients() override {}
};

TEST_F(NetworkWaitClockTest, DownloadsHoldUpTheClockNoLongerThanTheLimitTheyWereStartedUnder) {
    // A request handed to the shared HTTP thread: 3 MB at 100 KB/s.
    test::TempDir www("networkwait");
    test::writeFile(www.file("slow.cbz"), std::string(3'000'000, 'x'));
    test::FaultHttpServer server(www.path());
    ASSERT_TRUE(server.start());
    HttpRequest req;
    req.url = server.url("/slow.cbz?rate=100000");
    auto op = std::make_shared<QNHTTPRequestOperation>(req);
    std::atomic<size_t> received{0};
    op->setDataHandler([&](const char*, size_t n) {
        received += n;
        return true;
    });
    {
        sys::Clock::NetworkHoldLimit hold(1.0);
        op->start();
    }
    testing::internal::CaptureStderr();
    auto t0 = std::chrono::steady_clock::now();
    advance(3.0);
    EXPECT_LT(realSince(t0), 3.0);
    EXPECT_GT(received.load(), 0u);
    EXPECT_FALSE(op->isFinished());
    op->cancel();

    // A download on a worker of its own takes on the limit of the thread
    // that started it.
    SteadyPeerDownload download;
    {
        sys::Clock::NetworkHoldLimit hold(1.0);
        download.downloadFile("ftp://127.0.0.1/steady.cbz", www.path(), "steady.cbz", "", "");
    }
    t0 = std::chrono::steady_clock::now();
    advance(3.0);
    EXPECT_LT(realSince(t0), 3.0);
    EXPECT_TRUE(download.isRunning());
    download.cancelDownload();
    testing::internal::GetCapturedStderr();
}

}  // namespace
