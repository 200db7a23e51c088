// The page-by-page fetcher on SMB and FTP sites: a folder of pictures or a
// PDF is fetched over the site's own protocol, from a server that speaks
// SMB2, one that speaks only SMB1 (the default setting picks the client),
// and an FTP server, one connection or session serving the book's pages;
// a page that is not there, or a file that shrank, gives nothing.
#include "remote/UrlListStreamRead.h"

#include "engine/RemoteStreamRead.h"
#include "foundation/Settings.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FtpTestServer.h"
#include "tests/support/net/SmbPeer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using test::SmbPeer;

std::vector<uint8_t> pageBytes(int i) { return SmbPeer::noise(90'000 + size_t(i) * 7'000, uint32_t(20 + i)); }

class UrlListStreamReadSitesTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        CIFSStackClient::registerWithRemote();
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        modern_ = new SmbPeer;
        old_ = new SmbPeer;
        for (SmbPeer* p : {modern_, old_}) {
            for (int i = 0; i < 3; ++i) SmbPeer::writeFile(p->booksDir(), "Pics/0" + std::to_string(i) + ".jpg", pageBytes(i));
        }
        if (!modern_->start("")) error_ = modern_->error();
        if (!old_->start("  server min protocol = NT1\n  server max protocol = NT1\n")) error_ += old_->error();
    }
    static void TearDownTestSuite() {
        delete modern_;
        delete old_;
        modern_ = old_ = nullptr;
    }
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache();
        settings_->readFromFile();
        stream = std::make_shared<UrlListStreamRead>();
        stream->setSettings(settings_);
    }
    void TearDown() override {
        if (stream) stream->closeUrls();
        stream.reset();
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    static std::vector<std::string> pagesAt(const std::string& folder) {
        return {folder + "/00.jpg", folder + "/01.jpg", folder + "/02.jpg"};
    }
    // Every page of the book at `folder`, in a shuffled order, each as it is on the server.
    void expectPages(const std::string& folder) {
        const auto urls = pagesAt(folder);
        ASSERT_TRUE(stream->openUrls(urls, std::nullopt, 3, folder + "/", false));
        for (int i : {2, 0, 1}) {
            auto path = stream->getLocalCachePath(i);
            ASSERT_TRUE(path) << urls[size_t(i)];
            const auto bytes = pageBytes(i);
            EXPECT_EQ(test::readFile(*path), std::string(bytes.begin(), bytes.end())) << urls[size_t(i)];
        }
        stream->closeUrls();
    }

    test::TempDir settingsDir_{"urllistsettings"};
    std::shared_ptr<Settings> settings_ = std::make_shared<Settings>(settingsDir_.path());
    std::shared_ptr<UrlListStreamRead> stream;
    static inline SmbPeer* modern_ = nullptr;
    static inline SmbPeer* old_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(UrlListStreamReadSitesTest, PagesOnSmbServersOfEitherKind) {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(error_.empty()) << error_;
    for (SmbPeer* peer : {modern_, old_}) {
        SCOPED_TRACE(peer == old_ ? "SMB1" : "SMB2");
        stream->setUserName(SmbPeer::kUser);
        stream->setPassword(SmbPeer::kPassword);
        expectPages("smb://" + peer->server() + "/books/Pics");

        // A page that is not there, and a wrong password: nothing, no part file.
        const std::string folder = "smb://" + peer->server() + "/books/Pics";
        ASSERT_TRUE(stream->openUrls({folder + "/gone.jpg", folder + "/00.jpg"}, std::nullopt, 2, folder + "/", false));
        EXPECT_EQ(stream->getLocalCachePath(0), std::nullopt);
        EXPECT_FALSE(std::filesystem::exists(stream->pagePath(0) + ".part"));
        stream->closeUrls();
        RemoteStreamRead::removeCache();
        stream->setPassword("wrong");
        ASSERT_TRUE(stream->openUrls(pagesAt(folder), std::nullopt, 3, folder + "/", false));
        EXPECT_EQ(stream->getLocalCachePath(1), std::nullopt);
        stream->closeUrls();
    }
}

TEST_F(UrlListStreamReadSitesTest, PagesOnAnFtpServerInOneSession) {
    if (!test::FtpTestServer::havePyftpdlib()) GTEST_SKIP() << "pyftpdlib is not installed";
    test::TempDir root("urllistftp");
    for (int i = 0; i < 3; ++i) SmbPeer::writeFile(root.path(), "Pics/0" + std::to_string(i) + ".jpg", pageBytes(i));
    test::FtpTestServer ftp;
    test::FtpTestServer::PyOptions options;
    options.statsFile = root.file("stats");
    ASSERT_TRUE(ftp.startPyftpdlib(root.path(), options)) << ftp.lastError();
    stream->setUserName(options.user);
    stream->setPassword(options.password);
    expectPages(ftp.url("/Pics"));
    EXPECT_EQ(test::FtpTestServer::readStats(options.statsFile).logOns, 1) << "one log-on for the book";
    // A page that is not there gives nothing.
    ASSERT_TRUE(stream->openUrls({ftp.url("/Pics/gone.jpg")}, std::nullopt, 1, ftp.url("/Pics/"), false));
    EXPECT_EQ(stream->getLocalCachePath(0), std::nullopt);
}

}  // namespace
