#include "remote/transfer/HttpDownload.h"

#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "platform/core/PropertyList.h"
#include "tests/remote/transfer/DownloadTestFiles.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class HttpDownloadTest : public test::DownloadFixture {
protected:
    // Runs one download to its end and returns its result code.
    int download(const std::string& url, const std::string& name, std::shared_ptr<Recorder> rec = nullptr,
                 HttpDownload::CredentialAsker asker = {}, const std::string& user = "") {
        if (!rec) rec = std::make_shared<Recorder>();
        auto d = std::make_shared<HttpDownload>();
        d->setDelegate(rec);
        d->setSettings_(settings_.get());
        d->setCredentialAsker(std::move(asker));
        d->setStallTimeout(2);
        d->downloadFile(url, out_.path(), name, user, "", "", {});
        return resultOf(*rec);
    }
};

TEST_F(HttpDownloadTest, SavesCompleteFilesUnderTheOverwriteRules) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string body = pattern(700000);
    writeFile(www_.file("a.cbz"), body);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();

    setMode("rename");
    auto rec = std::make_shared<Recorder>();
    EXPECT_EQ(download(nginx.url("/a.cbz"), "a.cbz", rec), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("a.cbz")) == body);
    EXPECT_EQ(rec->connectedName, "a.cbz");
    EXPECT_EQ(rec->fileSize, 700000);
    EXPECT_EQ(rec->startOffset, 0);
    EXPECT_EQ(rec->connects, 1);
    EXPECT_FALSE(fs::exists(temp(HttpDownload::kSideFileName)));
    EXPECT_FALSE(fs::exists(temp(HttpDownload::kTempFileName)));

    // "rename": the next copy is "a 2.cbz", then "a 3.cbz".
    EXPECT_EQ(download(nginx.url("/a.cbz"), "a.cbz"), HttpDownload::kSaved);
    EXPECT_EQ(download(nginx.url("/a.cbz"), "a.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("a 2.cbz")) == body);
    EXPECT_TRUE(fs::exists(out_.file("a 3.cbz")));

    // "skip": nothing is fetched.
    setMode("skip");
    size_t before = nginx.requests().size();
    EXPECT_EQ(download(nginx.url("/a.cbz"), "a.cbz"), HttpDownload::kExistsSkipped);
    EXPECT_EQ(nginx.requests().size(), before);

    // "overwrite": the old file is replaced by the new one.
    setMode("overwrite");
    writeFile(out_.file("a.cbz"), "old");
    EXPECT_EQ(download(nginx.url("/a.cbz"), "a.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("a.cbz")) == body);

    // Names from servers stay inside the save folder; other files are refused.
    setMode("rename");
    EXPECT_EQ(download(nginx.url("/a.cbz"), "../escape.cbz"), HttpDownload::kSaved);
    EXPECT_FALSE(fs::exists(fs::path(out_.path()).parent_path() / "escape.cbz"));
    EXPECT_TRUE(fs::exists(out_.file(".._escape.cbz")));
    EXPECT_EQ(download(nginx.url("/a.cbz"), "notes.txt"), HttpDownload::kFailed);
}

TEST_F(HttpDownloadTest, ResultCodesForServerAnswersAndCredentials) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    writeFile(www_.file("b.zip"), pattern(5000));
    test::TempDir conf("conf");
    std::ofstream(conf.file("htpasswd")) << "reader:{PLAIN}pw\n";
    test::NginxServer nginx;
    nginx.setServerConfig("location /forbidden { return 403; }\n"
                          "location /broken { return 503; }\n"
                          "location /locked { alias " + www_.path() + "; auth_basic \"x\"; auth_basic_user_file " +
                          conf.file("htpasswd") + "; }");
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();

    EXPECT_EQ(download(nginx.url("/none.zip"), "none.zip"), HttpDownload::kNotFound);
    EXPECT_EQ(download(nginx.url("/forbidden/b.zip"), "b.zip"), HttpDownload::kClientError);
    EXPECT_EQ(download(nginx.url("/broken/b.zip"), "b.zip"), HttpDownload::kServerError);
    EXPECT_EQ(download("http://127.0.0.1:1/b.zip", "b.zip"), HttpDownload::kFailed);

    // Without anyone to ask, and when the user cancels: 5.
    EXPECT_EQ(download(nginx.url("/locked/b.zip"), "b.zip"), HttpDownload::kAuthFailed);
    std::vector<std::string> asked;
    auto cancel = [&](const std::string& url, const std::string&, const std::string&, bool,
                      HttpDownload::CredentialAnswer answer) {
        asked.push_back(url);
        answer(std::nullopt, std::nullopt, false, nullptr);
    };
    EXPECT_EQ(download(nginx.url("/locked/b.zip"), "b.zip", nullptr, cancel), HttpDownload::kAuthFailed);
    // The right answer, after one wrong one; the panel never sees credentials
    // inside the URL.
    // Only the answer the server took is said to be taken (and remembered).
    int round = 0;
    std::vector<std::string> taken;
    auto answer = [&](const std::string& url, const std::string&, const std::string&, bool,
                      HttpDownload::CredentialAnswer a) {
        asked.push_back(url);
        const std::string pw = ++round == 1 ? "bad" : "pw";
        a(std::string("reader"), pw, false, [&taken, pw] { taken.push_back(pw); });
    };
    std::string withUser = nginx.url("/locked/b.zip");
    withUser.insert(7, "someone:secret@");
    EXPECT_EQ(download(withUser, "b.zip", nullptr, answer), HttpDownload::kSaved);
    EXPECT_EQ(round, 2);
    EXPECT_EQ(taken, std::vector<std::string>{"pw"});
    EXPECT_TRUE(readFile(out_.file("b.zip")) == pattern(5000));
    for (const auto& u : asked) EXPECT_EQ(u.find("secret"), std::string::npos) << u;

    // The sign-in panel answers from the key chain when it remembers the folder.
    QNKeyChain::addOrUpdateAccountWithURL(nginx.url("/locked/"), "reader", "pw");
    EXPECT_EQ(download(nginx.url("/locked/b.zip"), "b.zip", nullptr, HttpDownload::panelAsker()),
              HttpDownload::kSaved);
    QNKeyChain::deleteAll();
}

TEST_F(HttpDownloadTest, ResumesAfterADropAndNeverSplicesAnotherVersion) {
    const std::string body = pattern(600000);
    writeFile(www_.file("c.cbz"), body);
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    std::string url = server.url("/c.cbz?drop_after=250000&drop_times=1");
    url.insert(7, "user:pass@");

    // The connection drops after some bytes: 14, with the temporary file and
    // the side file kept (no credentials in it), and the target untouched.
    setMode("overwrite");
    writeFile(out_.file("c.cbz"), "previous");
    EXPECT_EQ(download(url, "c.cbz"), HttpDownload::kFailedAfterProgress);
    EXPECT_EQ(readFile(out_.file("c.cbz")), "previous");
    const int64_t kept = int64_t(fs::file_size(temp(HttpDownload::kTempFileName)));
    EXPECT_GE(kept, 1);
    auto side = sys::PropertyList::readArray(temp(HttpDownload::kSideFileName));
    ASSERT_TRUE(side && side->size() == 2);
    EXPECT_EQ((*side)[0].asString().find("pass"), std::string::npos);
    EXPECT_FALSE((*side)[1].asString().empty());
    struct stat st {};
    ASSERT_EQ(::stat(HttpDownload::temporaryFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    ASSERT_EQ(::stat(temp(HttpDownload::kTempFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the bytes kept are the user's alone";

    // The next download continues from there with Range and If-Range.
    auto resumed = std::make_shared<Recorder>();
    server.clearRequests();
    EXPECT_EQ(download(url, "c.cbz", resumed), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("c.cbz")) == body);
    EXPECT_EQ(resumed->startOffset, kept);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].range, "bytes=" + std::to_string(kept) + "-");

    // A 206 that starts elsewhere than asked is refused and the temporary
    // file dropped, so the next attempt starts from the beginning.
    writeFile(temp(HttpDownload::kTempFileName), body.substr(0, 1000));
    std::string shifted = server.url("/c.cbz?range_shift=-10");
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{shifted, (*side)[1].asString()}),
                                 temp(HttpDownload::kSideFileName));
    EXPECT_EQ(download(shifted, "c.cbz"), HttpDownload::kFailed);
    EXPECT_FALSE(fs::exists(temp(HttpDownload::kTempFileName)));
    EXPECT_TRUE(readFile(out_.file("c.cbz")) == body);

    // A server that refuses the range (416) gets asked for the whole file.
    std::string refusing = server.url("/c.cbz?fail416_from=1");
    writeFile(temp(HttpDownload::kTempFileName), body.substr(0, 1000));
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{refusing, (*side)[1].asString()}),
                                 temp(HttpDownload::kSideFileName));
    server.clearRequests();
    EXPECT_EQ(download(refusing, "c.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("c.cbz")) == body);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].status, 416);
    EXPECT_EQ(server.requests()[1].range, "");

    // A cancelled download says nothing more and keeps its bytes for later.
    auto rec = std::make_shared<Recorder>();
    auto d = std::make_shared<HttpDownload>();
    d->setDelegate(rec);
    d->setSettings_(settings_.get());
    d->downloadFile(server.url("/c.cbz?stall_from=1"), out_.path(), "g.cbz", "", "", "", {});
    ASSERT_TRUE(server.waitForStalled(1, 10));
    d->cancelDownload();
    advance(3);
    EXPECT_TRUE(rec->results.empty());
    EXPECT_FALSE(fs::exists(out_.file("g.cbz")));
}

// The program can end after a download's last byte came but before the book
// was put in place. The next start asks for what follows the bytes kept, and
// there is nothing: 416. The book is then finished from the bytes kept (the
// last one asked again under If-Range), not fetched whole again; a stale
// part of the same length is never taken for the new file; and a server
// that refuses every range still gets the book fetched whole, once.
TEST_F(HttpDownloadTest, APartThatIsAlreadyWholeIsFinishedWithoutFetchingTheBookAgain) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string body = pattern(300000);
    writeFile(www_.file("w.cbz"), body);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    const std::string url = nginx.url("/w.cbz");
    // nginx's validator: the file's modification time and length in hex.
    struct stat st {};
    ASSERT_EQ(::stat(www_.file("w.cbz").c_str(), &st), 0);
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%lx-%lx\"", long(st.st_mtime), long(st.st_size));
    auto leave = [&](const std::string& source, const std::string& bytes, const std::string& validator) {
        writeFile(temp(HttpDownload::kTempFileName), bytes);
        sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{source, validator}),
                                     temp(HttpDownload::kSideFileName));
    };
    setMode("overwrite");

    leave(url, body, etag);
    EXPECT_EQ(download(url, "w.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("w.cbz")) == body);
    ASSERT_TRUE(nginx.waitForRequests(2));
    auto requests = nginx.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].status, 416);
    EXPECT_EQ(requests[0].range, "bytes=300000-");
    EXPECT_EQ(requests[1].status, 206);
    EXPECT_EQ(requests[1].range, "bytes=299999-");
    EXPECT_EQ(requests[1].bodyBytes, 1u);
    EXPECT_FALSE(fs::exists(temp(HttpDownload::kTempFileName)));
    EXPECT_FALSE(fs::exists(temp(HttpDownload::kSideFileName)));

    // Bytes of an older file of the same length: the server sends the new one whole.
    leave(url, pattern(300000, 7), "\"1-493e0\"");
    EXPECT_EQ(download(url, "w.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("w.cbz")) == body);

    // Every range refused: the last byte is asked once, then the whole book.
    test::FaultHttpServer refusing(www_.path());
    ASSERT_TRUE(refusing.start());
    const std::string refused = refusing.url("/w.cbz?fail416_from=1");
    leave(refused, body, etag);
    EXPECT_EQ(download(refused, "w.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("w.cbz")) == body);
    ASSERT_EQ(refusing.requests().size(), 3u);
    EXPECT_EQ(refusing.requests()[0].range, "bytes=300000-");
    EXPECT_EQ(refusing.requests()[1].range, "bytes=299999-");
    EXPECT_EQ(refusing.requests()[2].range, "");
}

// A server that answers with fewer bytes than the file has, saying so
// truthfully (206 "bytes 0-99999/300000"): the download is not complete and
// is never saved as a book; it stays resumable and the next one goes on
// from where it stopped.
TEST_F(HttpDownloadTest, AShortButHonestPartLeavesTheDownloadUnfinishedAndResumable) {
    const std::string body = pattern(300000);
    writeFile(www_.file("s.cbz"), body);
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    const std::string url = server.url("/s.cbz?short_range=100000&short_times=2");
    EXPECT_EQ(download(url, "s.cbz"), HttpDownload::kFailedAfterProgress);
    EXPECT_FALSE(fs::exists(out_.file("s.cbz")));
    EXPECT_EQ(fs::file_size(temp(HttpDownload::kTempFileName)), 100000u);
    // A resumed request answered short again: still unfinished, 200000 kept.
    EXPECT_EQ(download(url, "s.cbz"), HttpDownload::kFailedAfterProgress);
    EXPECT_FALSE(fs::exists(out_.file("s.cbz")));
    EXPECT_EQ(fs::file_size(temp(HttpDownload::kTempFileName)), 200000u);
    server.clearRequests();
    EXPECT_EQ(download(url, "s.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("s.cbz")) == body);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].range, "bytes=200000-");
}

TEST_F(HttpDownloadTest, AChangedFileIsFetchedWholeThroughIfRange) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string v1 = pattern(400000, 1), v2 = pattern(400000, 2);
    writeFile(www_.file("d.cbz"), v1);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    const std::string url = nginx.url("/d.cbz");

    // A first attempt that got 1000 bytes, as the side file says.
    auto firstAttempt = [&](const std::string& validator) {
        writeFile(temp(HttpDownload::kTempFileName), v1.substr(0, 1000));
        sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{url, validator}),
                                     temp(HttpDownload::kSideFileName));
    };
    // Same version: only the rest is fetched.
    struct stat st {};
    ASSERT_EQ(::stat(www_.file("d.cbz").c_str(), &st), 0);
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%lx-%llx\"", long(st.st_mtime), (unsigned long long)st.st_size);
    firstAttempt(etag);
    EXPECT_EQ(download(url, "d.cbz"), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("d.cbz")) == v1);
    ASSERT_TRUE(nginx.waitForRequests(1));
    EXPECT_EQ(nginx.requests().back().status, 206);

    // The file changed on the server: the old bytes are not kept.
    firstAttempt("\"old-version\"");
    writeFile(www_.file("d.cbz"), v2);
    auto rec = std::make_shared<Recorder>();
    EXPECT_EQ(download(url, "e.cbz", rec), HttpDownload::kSaved);
    EXPECT_TRUE(readFile(out_.file("e.cbz")) == v2);
    EXPECT_EQ(rec->startOffset, 0);
    ASSERT_TRUE(nginx.waitForRequests(2));
    EXPECT_EQ(nginx.requests().back().range, "bytes=1000-");
    EXPECT_EQ(nginx.requests().back().status, 200);

    // A link planted where the temporary file goes is not followed.
    writeFile(out_.file("victim"), "keep");
    fs::remove(temp(HttpDownload::kSideFileName));
    fs::create_symlink(out_.file("victim"), temp(HttpDownload::kTempFileName));
    EXPECT_EQ(download(url, "f.cbz"), HttpDownload::kSaved);
    EXPECT_EQ(readFile(out_.file("victim")), "keep");
    EXPECT_TRUE(readFile(out_.file("f.cbz")) == v2);
}

}  // namespace
