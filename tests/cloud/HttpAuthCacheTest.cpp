// A site that asked for credentials once is answered from the first request
// of every later exchange: Digest from the RFC's own examples, against a
// scripted server that rotates its nonce and one that refuses, and Basic
// against nginx on loopback, counting the 401s each server sent (a Basic
// password the server refuses is not sent twice).
#include "cloud/HttpAuthCache.h"
#include "cloud/HttpEasy.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/LoopbackListener.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/TestCertificate.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Challenge = HttpAuthCache::Challenge;

Challenge challengeOf(const std::string& header) {
    auto all = HttpAuthCache::parseChallenges({header});
    return all.empty() ? Challenge{} : all[0];
}

// A web server of one folder-less resource that wants Digest (realm
// "books", user "reader" / "s3cret"): it checks every answer, counts the
// nonce's uses, and after `usesPerNonce` of them calls its nonce stale.
class DigestPeer {
public:
    explicit DigestPeer(int usesPerNonce) : usesPerNonce_(usesPerNonce) {
        thread_ = std::thread([this] { loop(); });
    }
    ~DigestPeer() {
        listener_.wake();
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(listener_.port()) + path;
    }
    int unauthorized() const { return unauthorized_; }
    int served() const { return served_; }
    std::vector<std::string> nonceCounts() const {
        std::lock_guard<std::mutex> g(m_);
        return counts_;
    }

private:
    void loop() {
        for (;;) {
            const int c = listener_.accept();
            if (c < 0) return;
            std::string req;
            char buf[4096];
            while (req.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
                req.append(buf, size_t(n));
            }
            const std::string reply = answer(req);
            ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }
    std::string challenge(bool stale) {
        return "WWW-Authenticate: Digest realm=\"books\", qop=\"auth,auth-int\", nonce=\"n" + std::to_string(nonce_) +
               "\", opaque=\"op\", algorithm=MD5" + (stale ? ", stale=true" : "") + "\r\n";
    }
    std::string answer(const std::string& req) {
        const std::string method = req.substr(0, req.find(' '));
        std::string auth;
        if (size_t at = req.find("\r\nAuthorization: "); at != std::string::npos) {
            const size_t b = at + 17;
            auth = req.substr(b, req.find("\r\n", b) - b);
        }
        bool stale = false;
        if (!auth.empty()) {
            const Challenge got = challengeOf(auth);
            const std::string nonce = "n" + std::to_string(nonce_);
            const auto expected = HttpAuthCache::digestAuthorization(
                challengeOf(challenge(false).substr(18)), method, got.param("uri"), "reader", "s3cret",
                uint32_t(std::stoul(got.param("nc").empty() ? "0" : got.param("nc"), nullptr, 16)),
                got.param("cnonce"));
            const bool rightHash = expected && challengeOf(*expected).param("response") == got.param("response");
            if (got.param("nonce") == nonce && rightHash && got.param("opaque") == "op") {
                std::lock_guard<std::mutex> g(m_);
                counts_.push_back(got.param("nc"));
                ++served_;
                if (++uses_ >= usesPerNonce_) {
                    ++nonce_;
                    uses_ = 0;
                }
                return "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
            }
            stale = got.param("nonce") != nonce && got.param("nonce").size() > 1;
        }
        ++unauthorized_;
        const std::string body = "denied";
        return "HTTP/1.1 401 Unauthorized\r\n" + challenge(stale) + "Content-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    test::LoopbackListener listener_{8};
    const int usesPerNonce_;
    int nonce_ = 1, uses_ = 0;
    std::atomic<int> unauthorized_{0}, served_{0};
    std::vector<std::string> counts_;
    mutable std::mutex m_;
    std::thread thread_;
};

HttpResponse get(const std::string& url, const std::string& user, const std::string& password) {
    HttpEasy easy;
    HttpRequest req;
    req.url = url;
    req.userName = user;
    req.password = password;
    req.connectTimeout = 5;
    easy.prepare(req, {}, {}, {}, 1 << 20);
    return easy.perform();
}

class HttpAuthCacheTest : public ::testing::Test {
protected:
    void SetUp() override { HttpAuthCache::clear(); }
    void TearDown() override { HttpAuthCache::clear(); }
};

TEST_F(HttpAuthCacheTest, DigestAnswersAreTheOnesOfTheRfcExamples) {
    // RFC 2617, 3.5.
    Challenge md5 = challengeOf("Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    auto a = HttpAuthCache::digestAuthorization(md5, "GET", "/dir/index.html", "Mufasa", "Circle Of Life", 1, "0a4f113b");
    ASSERT_TRUE(a);
    EXPECT_EQ(challengeOf(*a).param("response"), "6629fae49393a05397450978507c4ef1");
    EXPECT_EQ(challengeOf(*a).param("nc"), "00000001");
    EXPECT_EQ(challengeOf(*a).param("opaque"), "5ccc069c403ebaf9f0171e9517f40e41");
    // RFC 7616, 3.9.1, SHA-256.
    Challenge sha = challengeOf(
        "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=SHA-256, "
        "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"");
    a = HttpAuthCache::digestAuthorization(sha, "GET", "/dir/index.html", "Mufasa", "Circle of Life", 1,
                                           "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ");
    ASSERT_TRUE(a);
    EXPECT_EQ(challengeOf(*a).param("response"), "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
    // Challenges this client cannot answer are left to the ordinary exchange.
    EXPECT_FALSE(HttpAuthCache::digestAuthorization(challengeOf("Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\""),
                                                    "GET", "/", "u", "p", 1, "c"));
    EXPECT_FALSE(HttpAuthCache::digestAuthorization(challengeOf("Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256"),
                                                    "GET", "/", "u", "p", 1, "c"));
    EXPECT_FALSE(HttpAuthCache::digestAuthorization(challengeOf("Digest realm=\"r\""), "GET", "/", "u", "p", 1, "c"));

    // Several challenges in one header, quoted commas and escapes kept.
    auto many = HttpAuthCache::parseChallenges({"Basic realm=\"a, b\", Digest realm=\"x\\\"y\", nonce=abc",
                                                "Negotiate", " , , Bearer"});
    ASSERT_EQ(many.size(), 4u);
    EXPECT_EQ(many[0].scheme, "basic");
    EXPECT_EQ(many[0].param("realm"), "a, b");
    EXPECT_EQ(many[1].param("realm"), "x\"y");
    EXPECT_EQ(many[1].param("nonce"), "abc");
    EXPECT_EQ(many[2].scheme, "negotiate");
    EXPECT_EQ(many[3].scheme, "bearer");

    // Basic goes out before any challenge only where the password does not
    // cross a network in the clear.
    EXPECT_TRUE(HttpAuthCache::mayPreemptBasic("https://books.example/x"));
    EXPECT_TRUE(HttpAuthCache::mayPreemptBasic("http://127.0.0.1:8080/x"));
    EXPECT_TRUE(HttpAuthCache::mayPreemptBasic("http://localhost/x"));
    EXPECT_FALSE(HttpAuthCache::mayPreemptBasic("http://192.0.2.7/x"));
    EXPECT_FALSE(HttpAuthCache::mayPreemptBasic("http://127.0.0.1.example/x"));
    EXPECT_FALSE(HttpAuthCache::mayPreemptBasic("ftp://127.0.0.1/x"));
}

TEST_F(HttpAuthCacheTest, ADigestSiteIsAnsweredFromTheFirstRequestUntilItsNonceGoesStale) {
    DigestPeer peer(3);
    // The first exchange learns the challenge: one 401.
    EXPECT_EQ(get(peer.url("/a"), "reader", "s3cret").status, 200);
    EXPECT_EQ(peer.unauthorized(), 1);
    // Then every request answers at once, counting its uses of the nonce.
    EXPECT_EQ(get(peer.url("/b"), "reader", "s3cret").status, 200);
    EXPECT_EQ(get(peer.url("/c?x=1"), "reader", "s3cret").status, 200);
    EXPECT_EQ(peer.unauthorized(), 1);
    EXPECT_EQ(peer.nonceCounts(), (std::vector<std::string>{"00000001", "00000002", "00000003"}));
    // A stale nonce: its new one is used at once, one 401 and no more.
    HttpResponse r = get(peer.url("/d"), "reader", "s3cret");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "ok") << "the refusal's body never reaches the caller";
    EXPECT_EQ(peer.unauthorized(), 2);
    EXPECT_EQ(get(peer.url("/e"), "reader", "s3cret").status, 200);
    EXPECT_EQ(peer.unauthorized(), 2);
    EXPECT_EQ(peer.served(), 5);

    // Another user, or the same site on another port, is not answered from
    // what this one learnt: a wrong password still ends in 401, and is not
    // kept.
    EXPECT_EQ(get(peer.url("/f"), "reader", "wrong").status, 401);
    EXPECT_EQ(get(peer.url("/f"), "other", "s3cret").status, 401);
    DigestPeer second(100);
    EXPECT_EQ(get(second.url("/a"), "reader", "s3cret").status, 200);
    EXPECT_EQ(second.unauthorized(), 1);
}

TEST_F(HttpAuthCacheTest, ARefusedAnswerIsAskedAgainTheOrdinaryWayOnce) {
    DigestPeer peer(100);
    EXPECT_EQ(get(peer.url("/a"), "reader", "s3cret").status, 200);
    // The password changed on the server side: the cached answer is refused
    // (not stale), the exchange asks again once and ends refused.
    const int before = peer.unauthorized();
    EXPECT_EQ(get(peer.url("/b"), "reader", "changed").status, 401);
    EXPECT_LE(peer.unauthorized() - before, 3) << "no loop of refusals";
    // Forgotten: the next exchange starts with the challenge again.
    EXPECT_EQ(get(peer.url("/c"), "reader", "s3cret").status, 200);
}

TEST_F(HttpAuthCacheTest, ABasicSiteOnLoopbackGetsThePasswordWithItsFirstRequest) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    test::TempDir conf("basicconf"), www("basicwww");
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), "reader", "s3cret"));
    test::writeFile(www.file("a.zip"), "aaaa");
    test::writeFile(www.file("b.zip"), "bbbb");
    test::NginxServer nginx;
    nginx.setLocationConfig("auth_basic \"books\"; auth_basic_user_file " + conf.file("htpasswd") + ";");
    ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
    for (const char* path : {"/a.zip", "/b.zip", "/a.zip", "/b.zip"}) {
        EXPECT_EQ(get(nginx.url(path), "reader", "s3cret").body.size(), 4u);
    }
    ASSERT_TRUE(nginx.waitForRequests(5));
    size_t refused = 0;
    for (const auto& r : nginx.requests()) refused += r.status == 401;
    EXPECT_EQ(refused, 1u) << "only the first exchange waits for the challenge";
    EXPECT_EQ(nginx.requests().size(), 5u);

    // The password changed on the server side: the one sent at once is
    // refused, and not sent again.
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), "reader", "changed"));
    EXPECT_EQ(get(nginx.url("/a.zip"), "reader", "s3cret").status, 401);
    // Forgotten: the next exchange starts with the challenge again.
    EXPECT_EQ(get(nginx.url("/b.zip"), "reader", "changed").body, "bbbb");
    ASSERT_TRUE(nginx.waitForRequests(8));
    std::vector<std::string> seen;
    for (size_t i = 5; i < nginx.requests().size(); ++i) {
        const auto r = nginx.requests()[i];
        seen.push_back(r.target + " " + std::to_string(r.status) + " " + r.user);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"/a.zip 401 reader", "/b.zip 401 ", "/b.zip 200 reader"}));
}

}  // namespace
