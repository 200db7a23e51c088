// Workers waiting on servers that say nothing (an FTP greeting, an HTTP
// answer) hold up advancing the virtual clock once, for a few seconds of real
// time, and not at every step after that: a headless run against a stalled
// server is not slowed down step by step. A server on this machine that
// answers late but answers is still waited for, and so is work that computes.
#include "cloud/HttpEasy.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "foundation/QNSocketSync.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/SilentServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

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

}  // namespace
