#include "cloud/HttpContentRange.h"
#include "cloud/HttpEasy.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "cloud/QNHTTPRequestOperationManager.h"
#include "platform/core/RunLoop.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/SilentServer.h"
#include "tests/support/net/TestCertificate.h"
#include "tests/support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using test::writeFile;

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char('a' + (i * 7 + i / 251) % 26);
    return s;
}

class HttpClientTest : public test::VirtualClockTest {
protected:
    // Runs one request to its end on the network thread and returns what the
    // main thread was handed.
    HttpResponse run(HttpRequest req, size_t collect = 16u << 20) {
        auto op = std::make_shared<QNHTTPRequestOperation>(std::move(req));
        op->setCollectBody(collect);
        std::optional<HttpResponse> got;
        bool onMain = false;
        op->setCompletion([&](const HttpResponse& r) {
            onMain = sys::RunLoop::isMainThread();
            got = r;
        });
        op->start();
        EXPECT_TRUE(loop().runUntil([&] { return got.has_value(); }, 30));
        EXPECT_TRUE(onMain);
        return got.value_or(HttpResponse{});
    }

    test::TempDir www_{"www"};
};

TEST_F(HttpClientTest, GetsBodyStatusAndHeadersAndHonoursTheBodyLimit) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string body = pattern(300000);
    writeFile(www_.file("a.bin"), body);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();

    HttpRequest req;
    req.url = nginx.url("/a.bin");
    HttpResponse r = run(req);
    EXPECT_TRUE(r.ok()) << r.errorMessage;
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.header("content-length"), "300000");
    EXPECT_FALSE(r.header("etag").empty());

    // A body exactly at the limit passes, one byte less does not.
    EXPECT_TRUE(run(req, body.size()).ok());
    EXPECT_EQ(run(req, body.size() - 1).error, HttpResponse::kTooLarge);

    req.url = nginx.url("/missing.bin");
    r = run(req);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.status, 404);

    // Nothing listens there.
    req.url = "http://127.0.0.1:1/x";
    EXPECT_EQ(run(req).error, HttpResponse::kNetwork);
}

TEST_F(HttpClientTest, BasicAuthenticationAndRedirectsKeepCredentialsToTheirOrigin) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    test::TempDir conf("conf");
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), "reader", "s3cret"));
    writeFile(www_.file("book.zip"), "zipbytes");

    test::NginxServer other;
    other.setServerConfig("location /echo { return 200 \"auth=[$http_authorization]\"; }");
    ASSERT_TRUE(other.start(www_.path())) << other.lastError();
    test::NginxServer nginx;
    nginx.setLocationConfig("auth_basic \"books\"; auth_basic_user_file " + conf.file("htpasswd") + ";");
    nginx.setServerConfig("location /echo { return 200 \"auth=[$http_authorization]\"; }\n"
                          "location /same { return 302 /echo; }\n"
                          "location /away { return 302 " + other.url("/echo") + "; }\n"
                          "location /tofile { return 302 file:///etc/passwd; }\n"
                          "location /toftp { return 302 ftp://127.0.0.1:1/x.cbz; }");
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();

    HttpRequest req;
    req.url = nginx.url("/book.zip");
    EXPECT_EQ(run(req).status, 401);
    req.userName = "reader";
    req.password = "wrong";
    EXPECT_EQ(run(req).status, 401);
    req.password = "s3cret";
    HttpResponse r = run(req);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "zipbytes");

    // A bearer token and Basic credentials follow a redirect on the same
    // scheme, host and port, and are dropped when it leads elsewhere.
    HttpRequest bearer;
    bearer.setHeader("Authorization", "Bearer tok");
    bearer.url = nginx.url("/same");
    r = run(bearer);
    EXPECT_EQ(r.body, "auth=[Bearer tok]");
    EXPECT_EQ(r.url, nginx.url("/echo"));
    bearer.url = nginx.url("/away");
    r = run(bearer);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "auth=[]");
    EXPECT_EQ(r.url, other.url("/echo"));

    // What the program fetches on its own follows redirects only on its site.
    bearer.redirectsWithinOrigin = true;
    r = run(bearer);
    EXPECT_EQ(r.error, HttpResponse::kBadURL);
    EXPECT_NE(r.body, "auth=[]");
    bearer.url = nginx.url("/same");
    EXPECT_EQ(run(bearer).body, "auth=[Bearer tok]");

    HttpRequest basic = req;
    basic.preemptiveBasic = true;
    basic.url = nginx.url("/same");
    EXPECT_EQ(run(basic).body.compare(0, 12, "auth=[Basic "), 0);
    basic.url = nginx.url("/away");
    EXPECT_EQ(run(basic).body, "auth=[]");

    // A redirect leads only to another web address.
    for (const char* path : {"/tofile", "/toftp"}) {
        HttpRequest away;
        away.url = nginx.url(path);
        r = run(away);
        EXPECT_EQ(r.error, HttpResponse::kBadURL) << path;
        EXPECT_EQ(r.errorMessage, "bad redirect") << path;
    }

    EXPECT_TRUE(HttpEasy::sameOrigin("http://a:80/x", "http://A/y"));
    EXPECT_FALSE(HttpEasy::sameOrigin("http://a/x", "https://a/x"));
    EXPECT_FALSE(HttpEasy::sameOrigin("http://a/x", "http://a:8080/x"));
    EXPECT_EQ(HttpEasy::withoutCredentials("http://u:p@h:1/a@b"), "http://h:1/a@b");
}

TEST_F(HttpClientTest, UntrustedCertificatesFailUnlessTheCallerTrustsTheServer) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    test::TempDir conf("tls");
    std::string cert, key;
    ASSERT_TRUE(test::makeSelfSignedCertificate(conf.path(), &cert, &key));
    writeFile(www_.file("a.txt"), "secure");
    test::NginxServer nginx;
    nginx.setTls(cert, key);
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();

    const std::string serverKey = test::publicKeyOf(cert);
    ASSERT_FALSE(serverKey.empty());

    HttpRequest req;
    req.url = nginx.url("/a.txt");
    ASSERT_EQ(req.url.compare(0, 8, "https://"), 0);
    // Refused, with the key that was shown, so that the user can be asked about it.
    HttpResponse refused = run(req);
    EXPECT_EQ(refused.error, HttpResponse::kUntrustedCertificate);
    EXPECT_EQ(refused.serverPublicKey, serverKey);
    // Another key trusted there does not let this certificate through.
    std::string other = serverKey;
    other[10] = other[10] == 'A' ? 'B' : 'A';
    req.trustedPublicKey = other;
    HttpResponse wrong = run(req);
    EXPECT_EQ(wrong.error, HttpResponse::kUntrustedCertificate);
    EXPECT_EQ(wrong.serverPublicKey, serverKey);
    // Its own key does.
    req.trustedPublicKey = serverKey;
    HttpResponse r = run(req);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "secure");
}

TEST_F(HttpClientTest, CancelDeliversNothingAfterwards) {
    writeFile(www_.file("slow.bin"), pattern(200000));
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());

    HttpRequest req;
    req.url = server.url("/slow.bin?stall_from=1");
    auto op = std::make_shared<QNHTTPRequestOperation>(req);
    std::atomic<int> calls{0};
    op->setResponseHandler([&](const HttpResponse&) { return ++calls, true; });
    op->setDataHandler([&](const char*, size_t) { return ++calls, true; });
    bool completed = false;
    op->setCompletion([&](const HttpResponse&) { completed = true; });
    op->start();
    ASSERT_TRUE(server.waitForStalled(1, 10));
    op->cancel();
    advance(1);
    EXPECT_FALSE(completed);
    EXPECT_EQ(calls.load(), 0);
    EXPECT_TRUE(loop().runUntil([] { return QNHTTPRequestOperationManager::sharedManager().runningCount() == 0; }, 5));

    // A cancel from within the data handler's thread stops the transfer as well.
    req.url = server.url("/slow.bin?rate=100000");
    auto op2 = std::make_shared<QNHTTPRequestOperation>(req);
    op2->setDataHandler([&](const char*, size_t) {
        op2->cancel();
        return true;
    });
    bool completed2 = false;
    op2->setCompletion([&](const HttpResponse&) { completed2 = true; });
    op2->start();
    EXPECT_TRUE(loop().runUntil([] { return QNHTTPRequestOperationManager::sharedManager().runningCount() == 0; }, 10));
    advance(1);
    EXPECT_FALSE(completed2);
}

TEST_F(HttpClientTest, SynchronousExchangeStopsOnRequestAndReusesItsHandle) {
    writeFile(www_.file("f.bin"), pattern(1000));
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());

    HttpEasy easy;
    HttpRequest req;
    req.url = server.url("/f.bin");
    req.setHeader("Range", "bytes=10-19");
    std::string got;
    easy.prepare(req, {}, [&](const char* d, size_t n) { return got.append(d, n), true; });
    HttpResponse r = easy.perform();
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(got, pattern(1000).substr(10, 10));
    EXPECT_EQ(r.header("content-range"), "bytes 10-19/1000");

    req.url = server.url("/f.bin?stall_from=1");
    req.removeHeader("Range");
    easy.prepare(req);
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        server.waitForStalled(1, 10);
        stop = true;
    });
    r = easy.perform(&stop);
    stopper.join();
    EXPECT_EQ(r.error, HttpResponse::kCancelled);

    // A stop ends the wait for a server gone silent after the head of its
    // answer at once (a program ending waits for it), not at libcurl's next
    // look at it, a fifth of a second or more later.
    test::SilentServer silent;
    std::atomic<pid_t> performer{0};
    std::chrono::steady_clock::time_point stopped;
    std::atomic<bool> stop2{false};
    std::thread peer([&] {
        const int fd = silent.accept(10);
        if (fd < 0) return;
        std::string request;
        char buf[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, size_t(n));
        }
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
        (void)!::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        // The client has read the head and waits for the body.
        test::waitUntilSleeping(performer, 10);
        stopped = std::chrono::steady_clock::now();
        stop2 = true;
        char c;
        (void)!::recv(fd, &c, 1, 0);  // until the client hangs up
        ::close(fd);
    });
    req.url = "http://" + silent.server() + "/f.bin";
    req.removeHeader("Range");
    easy.prepare(req);
    performer = test::currentThreadId();
    r = easy.perform(&stop2);
    const auto returned = std::chrono::steady_clock::now();
    peer.join();
    EXPECT_EQ(r.error, HttpResponse::kCancelled);
    EXPECT_LT(std::chrono::duration<double>(returned - stopped).count(), 0.15);

    // The handle serves the next exchange as before.
    req.url = server.url("/f.bin");
    req.setHeader("Range", "bytes=0-4");
    got.clear();
    easy.prepare(req, {}, [&](const char* d, size_t n) { return got.append(d, n), true; });
    r = easy.perform();
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(got, pattern(1000).substr(0, 5));
}

}  // namespace

// A range answer's Content-Range is taken only where it reads exactly: a
// lying server's range must not place bytes elsewhere in a cache or a file.
TEST(HttpContentRangeTest, OnlyARangeThatReadsExactlyIsTaken) {
    auto r = HttpContentRange::parse("bytes 10-19/1000");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->first, 10);
    EXPECT_EQ(r->last, 19);
    EXPECT_EQ(r->total, 1000);
    r = HttpContentRange::parse("bytes 0-9/*");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->total, -1);
    r = HttpContentRange::parse("bytes */4096");
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->unsatisfied());
    EXPECT_EQ(r->total, 4096);
    for (const char* bad : {"bytes 20-10/1000", "bytes 10-1000/1000", "bytes */*", "bytes 10-/1000", "bytes -5/1000",
                            "bytes 1-2", "bytes 1-2/", "bytes +1-2/9", "bytes 1-2/9 ", "items 1-2/9",
                            "bytes 0-1/99999999999999999999", "bytes 99999999999999999999-1/*"})
        EXPECT_FALSE(HttpContentRange::parse(bad)) << bad;
}
