#include "remote/listing/FileDownload.h"

#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "platform/core/PlistValue.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/FtpTestServer.h"
#include "tests/support/net/LocalHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/TestCertificate.h"
#include "tests/remote/listing/ListingOutcome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>

namespace {

namespace fs = std::filesystem;

using Outcome = test::ListingOutcome;

class FileDownloadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        fs::create_directories(www_.file("sub"));
        fs::create_directories(www_.file("locked"));
        for (const char* f : {"a.cbz", "b c.zip", "漫画.zip", "sub/inner.cbz", "locked/secret.cbz", ".hidden.zip"}) {
            std::ofstream(www_.file(f)) << "x";
        }
    }

    // `acceptKey`: the certificate key the user let through for this listing.
    std::shared_ptr<Outcome> list(const std::string& url, const std::string& user = "", const std::string& pw = "",
                                  const std::string& acceptKey = "", bool handleUntrusted = false,
                                  bool folder = true) {
        auto out = std::make_shared<Outcome>();
        out->handleUntrusted = handleUntrusted;
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->setConnectToUntrustedServer(!acceptKey.empty());
        fd->setUntrustedServerKey(acceptKey);
        fd->getFileListFromUrl(url, std::string("Title"), user, pw, folder, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
        advance(1);
        EXPECT_EQ(out->count, 1) << "exactly one outcome";
        out->serverPublicKey = fd->serverPublicKey();
        return out;
    }

    test::TempDir www_{"www"};
};

TEST_F(FileDownloadTest, ListsNginxApacheAndPythonIndexes) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    test::NginxServer nginx;
    nginx.setLocationConfig("autoindex on;");
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    auto n = list(nginx.url("/"));
    auto names = n->namesInOrder();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.cbz", "b c.zip", "locked", "sub", "漫画.zip"}));
    ASSERT_TRUE(n->fileList);
    EXPECT_NE(std::find(n->fileList->begin(), n->fileList->end(), nginx.url("/b%20c.zip")), n->fileList->end());
    EXPECT_NE(std::find(n->fileList->begin(), n->fileList->end(), nginx.url("/sub/")), n->fileList->end());
    EXPECT_EQ(n->withURL, nginx.url("/"));
    EXPECT_EQ(n->listTitle, "Title");
    EXPECT_FALSE(n->message);

    test::LocalHttpServer python;
    ASSERT_TRUE(python.startPython(www_.path())) << python.lastError();
    auto p = list(python.url("/sub/"));
    EXPECT_FALSE(p->message) << *p->message;
    EXPECT_EQ(p->namesInOrder(), (std::vector<std::string>{"inner.cbz"}));
    EXPECT_EQ(p->fileList->front(), python.url("/sub/inner.cbz"));

    if (test::LocalHttpServer::apacheProgram().empty()) GTEST_SKIP() << "no apache2";
    test::LocalHttpServer apache;
    ASSERT_TRUE(apache.startApache(www_.path(), "reader", "pw")) << apache.lastError();
    // A fancy index with sort links and "Parent Directory".
    auto a = list(apache.url("/sub/"));
    EXPECT_FALSE(a->message) << *a->message;
    EXPECT_EQ(a->namesInOrder(), (std::vector<std::string>{"inner.cbz"}));
    // Digest: refused without credentials, listed with them.
    auto refused = list(apache.url("/locked/"));
    EXPECT_EQ(refused->passwords, 1);
    EXPECT_EQ(refused->passwordURL, apache.url("/locked/"));
    EXPECT_EQ(list(apache.url("/locked/"), "reader", "wrong")->passwords, 1);
    EXPECT_EQ(list(apache.url("/locked/"), "reader", "pw")->namesInOrder(), (std::vector<std::string>{"secret.cbz"}));
}

TEST_F(FileDownloadTest, CredentialsCertificatesAndServerErrors) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    test::TempDir conf("conf");
    test::NginxServer nginx;
    ASSERT_TRUE(test::lockedFolderOverTls(nginx, conf.path(), "reader", "pw", "location /nochallenge/ { return 401; }"));
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    const std::string key = test::publicKeyOf(conf.file("cert.pem"));
    ASSERT_FALSE(key.empty());

    // The certificate: a message, or the delegate's own handling, or accepted.
    auto plain = list(nginx.url("/sub/"));
    EXPECT_FALSE(plain->fileList);
    EXPECT_EQ(plain->message, "Server Certificate Untrusted.");
    EXPECT_EQ(plain->untrusted, 1);
    auto handled = list(nginx.url("/sub/"), "u", "p", "", true);
    EXPECT_EQ(handled->untrustedURL, nginx.url("/sub/"));
    EXPECT_EQ(handled->serverPublicKey, key);
    EXPECT_FALSE(handled->message);
    EXPECT_EQ(list(nginx.url("/sub/"), "", "", key)->namesInOrder(), (std::vector<std::string>{"inner.cbz"}));

    // Basic: no or wrong credentials ask for a password; the right ones list.
    EXPECT_EQ(list(nginx.url("/locked/"), "", "", key)->passwords, 1);
    EXPECT_EQ(list(nginx.url("/locked/"), "reader", "bad", key)->passwords, 1);
    EXPECT_EQ(list(nginx.url("/locked/"), "reader", "pw", key)->namesInOrder(), (std::vector<std::string>{"secret.cbz"}));
    // Credentials written into the address work, and stay out of every URL
    // handed back (list screens store those on disk).
    std::string inURL = nginx.url("/locked/");
    inURL.insert(8, "reader:pw@");
    auto withCreds = list(inURL, "", "", key);
    EXPECT_EQ(withCreds->namesInOrder(), (std::vector<std::string>{"secret.cbz"}));
    EXPECT_EQ(withCreds->withURL, nginx.url("/locked/"));
    ASSERT_TRUE(withCreds->fileList);
    EXPECT_EQ(withCreds->fileList->front(), nginx.url("/locked/secret.cbz"));
    // A 401 without a challenge is an empty folder; an error page is an error.
    auto empty = list(nginx.url("/nochallenge/"), "", "", key);
    ASSERT_TRUE(empty->fileList);
    EXPECT_TRUE(empty->fileList->empty());
    auto missing = list(nginx.url("/missing/"), "", "", key);
    EXPECT_FALSE(missing->fileList);
    EXPECT_NE(missing->message.value_or("").find("404"), std::string::npos);
}

TEST_F(FileDownloadTest, ATrustedCertificateIsThatKeyAtThatAddressAndNoRedirectTakesItAlong) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    // Two TLS servers on two ports with the same certificate; the first sends
    // /go/ to the second. A second certificate gives another key.
    test::TempDir confA("confA"), confB("confB");
    std::string certA, keyFileA, certB, keyFileB;
    ASSERT_TRUE(test::makeSelfSignedCertificate(confA.path(), &certA, &keyFileA));
    ASSERT_TRUE(test::makeSelfSignedCertificate(confB.path(), &certB, &keyFileB));
    const std::string keyA = test::publicKeyOf(certA), keyB = test::publicKeyOf(certB);
    ASSERT_FALSE(keyA.empty());
    ASSERT_NE(keyA, keyB);
    test::NginxServer b;
    b.setTls(certA, keyFileA);
    b.setLocationConfig("autoindex on;");
    ASSERT_TRUE(b.start(www_.path())) << b.lastError();
    test::NginxServer a;
    a.setTls(certA, keyFileA);
    a.setLocationConfig("autoindex on;");
    a.setServerConfig("location /go/ { return 302 " + b.url("/sub/") + "; }");
    ASSERT_TRUE(a.start(www_.path())) << a.lastError();
    const std::string inner = "inner.cbz";
    struct Forget {
        std::vector<std::string> urls;
        ~Forget() {
            for (const auto& u : urls) TrustedServer::forget(u);
        }
    } forget{{a.url("/"), b.url("/")}};

    // Asked about, with the key shown.
    auto asked = list(a.url("/sub/"), "", "", "", true);
    EXPECT_EQ(asked->untrustedURL, a.url("/sub/"));
    EXPECT_EQ(asked->serverPublicKey, keyA);
    // Let through once: that key only.
    EXPECT_EQ(list(a.url("/sub/"), "", "", keyB)->untrusted, 1);
    EXPECT_EQ(list(a.url("/sub/"), "", "", keyA)->namesInOrder(), std::vector<std::string>{inner});

    // Trusted for good: listed without a question, at that port only.
    ASSERT_TRUE(TrustedServer::trust(a.url("/sub/"), keyA));
    EXPECT_EQ(TrustedServer::publicKeyFor(a.url("/elsewhere/")), keyA);
    EXPECT_EQ(TrustedServer::publicKeyFor(b.url("/sub/")), "");
    auto trusted = list(a.url("/sub/"));
    EXPECT_EQ(trusted->untrusted, 0);
    EXPECT_EQ(trusted->namesInOrder(), std::vector<std::string>{inner});

    // A redirect to the other address does not carry the trust, even to the
    // same key: that one is asked about under its own address.
    auto redirected = list(a.url("/go/"), "", "", "", true);
    EXPECT_EQ(redirected->untrustedURL, b.url("/sub/"));
    EXPECT_EQ(redirected->serverPublicKey, keyA);
    // Trusted in its own right, it is listed through the redirect.
    ASSERT_TRUE(TrustedServer::trust(b.url("/"), keyA));
    EXPECT_EQ(list(a.url("/go/"))->namesInOrder(), std::vector<std::string>{inner});
    ASSERT_TRUE(TrustedServer::forget(b.url("/")));

    // Another key than the one trusted (a new certificate, or someone else's):
    // asked about again.
    ASSERT_TRUE(TrustedServer::trust(a.url("/"), keyB));
    auto changed = list(a.url("/sub/"), "", "", "", true);
    EXPECT_EQ(changed->untrusted, 1);
    EXPECT_EQ(changed->serverPublicKey, keyA);

    // Forgotten: asked about again.
    EXPECT_TRUE(TrustedServer::forget(a.url("/")));
    EXPECT_FALSE(TrustedServer::forget(a.url("/")));
    EXPECT_EQ(list(a.url("/sub/"))->untrusted, 1);

    // A mark of the older kind (the host alone, no certificate) trusts nothing;
    // trusting a key in its place removes it.
    ASSERT_TRUE(QNKeyChain::addOrUpdatePassword("1", "127.0.0.1", TrustedServer::kService));
    EXPECT_EQ(list(a.url("/sub/"))->untrusted, 1);
    EXPECT_FALSE(TrustedServer::isTrusted(a.url("/")));
    ASSERT_TRUE(TrustedServer::trust(a.url("/"), keyA));
    EXPECT_FALSE(QNKeyChain::getPasswordWithAccount(std::string("127.0.0.1"), std::string(TrustedServer::kService)));
    // Nor does anything else that is no key.
    EXPECT_FALSE(TrustedServer::trust(b.url("/"), "1"));
    EXPECT_FALSE(TrustedServer::isTrusted(b.url("/")));
}

TEST_F(FileDownloadTest, DispatchShortcutsSizeLimitAndCancel) {
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());

    // A book link is listed as itself without a request.
    auto one = list(server.url("/shelf/x%20y.cbz"), "", "", "", false, false);
    ASSERT_TRUE(one->fileList);
    EXPECT_EQ(*one->fileList, (std::vector<std::string>{server.url("/shelf/x%20y.cbz")}));
    EXPECT_EQ(one->namesInOrder(), (std::vector<std::string>{"x y.cbz"}));
    EXPECT_EQ(one->infoList->front().size(), 1u);
    auto slash = list(server.url("/shelf/%E6%BC%AB.zip/"), "", "", "", false, false);
    EXPECT_EQ(slash->namesInOrder(), (std::vector<std::string>{"漫.zip"}));
    EXPECT_EQ(server.requestCount(), 0u);

    // A page of exactly the limit is read; one byte more cancels the listing.
    std::string page(FileDownload::kMaxBodyBytes - 30, ' ');
    page = "<a href=\"z.cbz\">z</a>" + page;
    page.resize(FileDownload::kMaxBodyBytes, ' ');
    std::ofstream(www_.file("limit.html"), std::ios::binary) << page;
    std::ofstream(www_.file("over.html"), std::ios::binary) << page << " ";
    EXPECT_EQ(list(server.url("/limit.html"))->namesInOrder(), (std::vector<std::string>{"z"}));
    auto over = list(server.url("/over.html"));
    EXPECT_FALSE(over->fileList);
    EXPECT_EQ(over->message, BookCommon::localizedStringWithOnOff("The list of this folder is too large to show."));

    // Sources whose listings are not here yet fail with a message.
    for (const char* url : {"smb://127.0.0.1/share/", "ftp://127.0.0.1/dir/", "googledrive://acct/"}) {
        auto r = list(url);
        EXPECT_FALSE(r->fileList) << url;
        EXPECT_TRUE(r->message) << url;
    }

    // Cancelling a running listing reports once and nothing after; cancelling
    // twice or with nothing running reports nothing more.
    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    fd->getFileListFromUrl(server.url("/sub/?stall_from=1"), std::nullopt, std::nullopt, std::nullopt, true, nullptr);
    ASSERT_TRUE(server.waitForStalled(1, 10));
    fd->cancelFileListDownload();
    fd->cancelFileListDownload();
    advance(2);
    EXPECT_EQ(out->cancels, 1);
    EXPECT_EQ(out->count, 1);
    auto idle = std::make_shared<FileDownload>();
    idle->setDelegate(out);
    idle->cancelFileListDownload();
    EXPECT_EQ(out->count, 1);
}

// Answers that are no listing say what went wrong, naming the server: a
// header line past any limit is an answer too large (never the client out of
// memory), and a WebDAV reply that is no XML a broken listing (never an
// empty folder).
TEST_F(FileDownloadTest, AnAnswerThatIsNoListingSaysWhatWentWrong) {
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    const std::string here = "127.0.0.1:" + std::to_string(server.port());
    std::ofstream(www_.file("index.html")) << "<a href=\"a.cbz\">a</a>";
    auto huge = list(server.url("/index.html?header_bytes=1000000"));
    EXPECT_FALSE(huge->fileList);
    EXPECT_EQ(huge->message.value_or(""), BookCommon::localizedStringWithOnOff("Connection Failed.") + "\n(" + here +
                                              ": the server's answer is too large)");

    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    sys::PlistDictionary other;
    other.set("isWebDav", sys::PlistValue(true));
    fd->setOtherSettings_(other);
    fd->setDelegate(out);
    fd->getFileListFromUrl(server.url("/sub/?propfind_body=x"), std::string("Title"), "", "", true, nullptr);
    EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
    EXPECT_FALSE(out->fileList);
    EXPECT_EQ(out->message.value_or(""), BookCommon::localizedStringWithOnOff("Error Getting File List.") + "\n(" +
                                             here + ": the server sent a broken listing)");
}

// A folder whose listing outgrows the limit on every kind of server: nginx's
// index page, an FTP listing, a WebDAV reply. The user is told why nothing
// is shown.
TEST_F(FileDownloadTest, AFolderListedTooLargeOnAnyServerSaysSo) {
    // Long names make a large listing of few files: over 10 MiB as an index
    // page (each name in its link), an FTP LIST and a PROPFIND reply.
    const std::string stem(230, 'n');
    fs::create_directories(www_.file("huge"));
    for (int i = 0; i < 40000; ++i) std::ofstream(www_.file("huge/" + stem + std::to_string(100000 + i) + ".cbz"));
    const std::string tooLarge = BookCommon::localizedStringWithOnOff("The list of this folder is too large to show.");
    auto expectTooLarge = [&](const std::shared_ptr<Outcome>& r, const char* server) {
        EXPECT_FALSE(r->fileList) << server;
        EXPECT_EQ(r->cancels, 0) << server;
        EXPECT_EQ(r->message, tooLarge) << server;
    };

    if (!test::NginxServer::program().empty()) {
        test::NginxServer nginx;
        nginx.setLocationConfig("autoindex on;");
        ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
        expectTooLarge(list(nginx.url("/huge/")), "nginx");
        EXPECT_EQ(list(nginx.url("/sub/"))->namesInOrder(), (std::vector<std::string>{"inner.cbz"}));
        // Within the size limit, but of more entries than a list holds: the
        // page's shortest links.
        std::string page;
        for (size_t i = 0; i <= RemoteFileEntry::kMaxEntries; ++i) page += "<a href=a.cbz>";
        ASSERT_LE(page.size(), FileDownload::kMaxBodyBytes);
        std::ofstream(www_.file("dense.html")) << page;
        expectTooLarge(list(nginx.url("/dense.html")), "nginx, many entries");
    }
    test::FaultHttpServer dav(www_.path());
    ASSERT_TRUE(dav.start());
    auto davList = [&](const std::string& url) {
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        sys::PlistDictionary other;
        other.set("isWebDav", sys::PlistValue(true));
        fd->setOtherSettings_(other);
        fd->setDelegate(out);
        fd->getFileListFromUrl(url, std::string("Title"), "", "", true, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 60));
        advance(1);
        EXPECT_EQ(out->count, 1);
        return out;
    };
    expectTooLarge(davList(dav.url("/huge/")), "WebDAV");
    EXPECT_EQ(davList(dav.url("/sub/"))->namesInOrder(), (std::vector<std::string>{"inner.cbz"}));

    if (test::FtpTestServer::haveVsftpd()) {
        test::FtpTestServer ftp;
        ASSERT_TRUE(ftp.startVsftpd(www_.path())) << ftp.lastError();
        expectTooLarge(list(ftp.url("/huge/")), "vsftpd");
        EXPECT_EQ(list(ftp.url("/sub/"))->namesInOrder(), (std::vector<std::string>{"inner.cbz"}));
    }
    if (test::FtpTestServer::havePyftpdlib()) {
        test::FtpTestServer ftp;
        ASSERT_TRUE(ftp.startPyftpdlib(www_.path(), {})) << ftp.lastError();
        expectTooLarge(list(ftp.url("/huge/"), "reader", "secret"), "pyftpdlib");
        EXPECT_EQ(list(ftp.url("/sub/"), "reader", "secret")->namesInOrder(),
                  (std::vector<std::string>{"inner.cbz"}));
    }
}

TEST_F(FileDownloadTest, AServerThatDripsItsAnswerIsGivenUpOnAndCanBeCancelled) {
    // An index page far too long to arrive while the test runs, at the drip's pace.
    std::string page = "<html><body>";
    while (page.size() < 200000) page += "<a href=\"book.cbz\">book.cbz</a>\n";
    std::ofstream(www_.file("index.html")) << page << "</body></html>";
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    auto listWithin = [&](const std::string& url, FileDownload::TimeLimits limits) {
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->setTimeLimits(limits);
        fd->getFileListFromUrl(url, std::nullopt, std::nullopt, std::nullopt, true, nullptr);
        EXPECT_TRUE(test::drainUntil([&] { return out->count > 0; }, 30)) << url;
        return out;
    };

    // A byte every half second is slower than the floor: given up on once it
    // has stayed below it for the set time.
    // The message names the server and the limit, in the words the other
    // kinds of listing use.
    const std::string here = "127.0.0.1:" + std::to_string(server.port());
    auto slow = listWithin(server.url("/index.html?drip_ms=500"), {60, 2, 100});
    EXPECT_FALSE(slow->fileList);
    EXPECT_NE(slow->message.value_or("").find(here + ": under 100\u00a0bytes a second for 2\u00a0s"),
              std::string::npos)
        << slow->message.value_or("");
    // Above the floor, but without end: the deadline ends it.
    auto endless = listWithin(server.url("/index.html?drip_ms=2"), {2, 60, 100});
    EXPECT_FALSE(endless->fileList);
    EXPECT_NE(endless->message.value_or("").find(here + ": gave up after 2\u00a0s"), std::string::npos)
        << endless->message.value_or("");

    // And the user need not wait for either.
    server.clearRequests();
    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    fd->getFileListFromUrl(server.url("/index.html?drip_ms=500"), std::nullopt, std::nullopt, std::nullopt, true,
                           nullptr);
    // Waited for in real time only: the listing keeps the main loop's workers busy.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.requestCount("/index.html") == 0 && std::chrono::steady_clock::now() < giveUp) ::poll(nullptr, 0, 10);
    ASSERT_EQ(server.requestCount("/index.html"), 1u);
    fd->cancelFileListDownload();
    EXPECT_EQ(out->cancels, 1);
    EXPECT_EQ(out->count, 1);
}

}  // namespace
