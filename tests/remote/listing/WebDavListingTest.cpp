// WebDAV folders as servers really describe them: members named with
// lower-case escapes, absolute URLs, the default port written out or raw
// bytes still belong to the folder listed, those on another origin or deeper down do not; a property block the server
// could not give does not hide the one it gave; absurd sizes are refused
// without taking the reader down; and a password-protected Apache mod_dav
// is answered from the first request of every listing and download after
// the first challenge.
#include "remote/listing/FileDownload.h"
#include "remote/listing/WebDavFileListReader.h"

#include "cloud/HttpAuthCache.h"
#include "foundation/Settings.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/remote/listing/ListingOutcome.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/DavTestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::string reply(const std::string& responses) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">" + responses +
           "</D:multistatus>";
}

std::string member(const std::string& href, const std::string& props = "") {
    return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>" + props +
           "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
}

std::vector<std::string> names(const RemoteFileEntry& e) {
    std::vector<std::string> out;
    for (const auto& i : e.infoList) out.push_back(i.getString("name"));
    return out;
}

TEST(WebDavMembersTest, MembersAreMatchedToTheFolderOnTheirDecodedPaths) {
    // The folder "漫画 Books" as a user types or saves it: escaped in upper
    // case, or with its raw bytes; the server writes lower-case escapes and
    // absolute URLs. Members it names on another origin (another host name,
    // another port) are not the folder's.
    const std::string body = reply(
        member("/dav/%e6%bc%ab%e7%94%bb%20books/") +
        member("/dav/%e6%bc%ab%e7%94%bb%20books/a%20one.cbz", "<D:getcontentlength>5</D:getcontentlength>") +
        member("http://127.0.0.1:8080/dav/%E6%BC%AB%E7%94%BB%20books/b.cbz") +
        member("http://localhost:8080/dav/%E6%BC%AB%E7%94%BB%20books/elsewhere.cbz") +
        member("http://127.0.0.1:8081/dav/%E6%BC%AB%E7%94%BB%20books/other-port.cbz") +
        member("http://127.0.0.1:8080/dav/%E6%BC%AB%E7%94%BB%20books/Inner/") +
        member("/dav/漫画%20books/c.zip") +
        member("/dav/%e6%bc%ab%e7%94%bb%20books/Inner/deep.cbz") + member("/dav/other/d.cbz") +
        // Deeper descendants whose folders the reply does not list: none of
        // them makes an entry of its first segment.
        member("/dav/%e6%bc%ab%e7%94%bb%20books/Unlisted/deep.cbz") +
        member("/dav/%e6%bc%ab%e7%94%bb%20books/Far.cbz/p/q.cbz") +
        member("/dav/%e6%bc%ab%e7%94%bb%20books/Nested/Sub/", "<D:resourcetype><D:collection/></D:resourcetype>") +
        member("/dav/%e6%bc%ab%e7%94%bb%20books-2/e.cbz"));
    for (const std::string listed : {"http://127.0.0.1:8080/dav/%E6%BC%AB%E7%94%BB%20books/",
                                     "http://127.0.0.1:8080/dav/漫画 books/", "http://127.0.0.1:8080/dav/%E6%BC%AB%E7%94%BB%20books"}) {
        auto e = FileDownload::getListFromWebDav(body, listed);
        ASSERT_TRUE(e) << listed;
        EXPECT_EQ(names(*e), (std::vector<std::string>{"a one.cbz", "b.cbz", "Inner", "c.zip"})) << listed;
        ASSERT_EQ(e->size(), 4u);
        // Every member is reached at the listed server, one level down.
        for (const auto& url : e->fileList) {
            EXPECT_EQ(url.compare(0, 22, "http://127.0.0.1:8080/"), 0) << url;
        }
        EXPECT_EQ(e->infoList[0].getInteger("booksize"), 5);
        EXPECT_EQ(e->fileList[2].back(), '/');
    }
    // A site on the default port, listed without it, with members that name it.
    auto onDefault = FileDownload::getListFromWebDav(
        reply(member("http://h:80/dav/x/") + member("http://h:80/dav/x/one.cbz")), "http://h/dav/x/");
    ASSERT_TRUE(onDefault);
    EXPECT_EQ(onDefault->fileList, (std::vector<std::string>{"http://h/dav/x/one.cbz"}));
}

TEST(WebDavMembersTest, FoldersAreWhatTheServerCallsCollections) {
    const std::string collection = "<D:resourcetype><D:collection/></D:resourcetype>";
    const std::string file = "<D:resourcetype/>";
    // A server that writes no href with a final "/": the folder itself (in
    // lower-case escapes), its sub-folders, one named like a book; a file
    // written with a "/" as well, and one under another namespace prefix.
    const std::string body = reply(
        member("/dav/%e6%bc%ab%e7%94%bb", collection) + member("/dav/%E6%BC%AB%E7%94%BB/Inner", collection) +
        member("/dav/%E6%BC%AB%E7%94%BB/Vol.cbz", collection) +
        member("/dav/%E6%BC%AB%E7%94%BB/a.cbz", file + "<D:getcontentlength>7</D:getcontentlength>") +
        member("/dav/%E6%BC%AB%E7%94%BB/b.cbz/", file) + member("/dav/%E6%BC%AB%E7%94%BB/notes.txt", file) +
        "<D:response><D:href>/dav/%E6%BC%AB%E7%94%BB/Second</D:href><D:propstat><D:prop>"
        "<x:resourcetype xmlns:x=\"DAV:\"><x:collection xmlns:x=\"DAV:\"/></x:resourcetype></D:prop>"
        "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>");
    for (const std::string listed : {"http://h/dav/%E6%BC%AB%E7%94%BB/", "http://h/dav/%E6%BC%AB%E7%94%BB",
                                     "http://h/dav/%e6%bc%ab%e7%94%bb"}) {
        auto e = FileDownload::getListFromWebDav(body, listed);
        ASSERT_TRUE(e) << listed;
        EXPECT_EQ(names(*e), (std::vector<std::string>{"Inner", "Vol.cbz", "a.cbz", "b.cbz", "Second"})) << listed;
        ASSERT_EQ(e->size(), 5u) << listed;
        // A folder's address ends with "/", so the next listing asks for the
        // folder; a file's never does.
        const std::vector<bool> folders{true, true, false, false, true};
        for (size_t i = 0; i < folders.size(); ++i) {
            const std::string& url = e->fileList[i];
            EXPECT_EQ(url.back() == '/', folders[i]) << url;
            EXPECT_EQ(RemoteFileEntry::isFolder(url, e->infoList[i]), folders[i]) << url;
            EXPECT_EQ(url.compare(0, 32, "http://h/dav/%E6%BC%AB%E7%94%BB/") == 0 ||
                          url.compare(0, 32, "http://h/dav/%e6%bc%ab%e7%94%bb/") == 0,
                      true)
                << url;
        }
        EXPECT_EQ(e->fileList[0].substr(e->fileList[0].size() - 7), "/Inner/");
        EXPECT_EQ(e->fileList[3].substr(e->fileList[3].size() - 6), "/b.cbz");
        EXPECT_EQ(e->infoList[2].getInteger("booksize"), 7);
    }

    // Two more shapes such replies come in, folder hrefs without their "/"
    // in both: lower-case prefixes, the status before the properties and an
    // empty 404 block after them; another prefix for DAV:, typed values
    // (folders with a length of 0) and members as absolute URLs.
    const std::string lowerCase =
        "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\">"
        "<d:response><d:href>/remote.php/dav/files/u/Comics</d:href><d:propstat><d:status>HTTP/1.1 200 OK</d:status>"
        "<d:prop><d:resourcetype><d:collection/></d:resourcetype></d:prop></d:propstat>"
        "<d:propstat><d:status>HTTP/1.1 404 Not Found</d:status><d:prop/></d:propstat></d:response>"
        "<d:response><d:href>/remote.php/dav/files/u/Comics/Vol%201</d:href><d:propstat>"
        "<d:status>HTTP/1.1 200 OK</d:status><d:prop><d:resourcetype><d:collection/></d:resourcetype></d:prop>"
        "</d:propstat></d:response>"
        "<d:response><d:href>/remote.php/dav/files/u/Comics/x.cbz</d:href><d:propstat>"
        "<d:status>HTTP/1.1 200 OK</d:status><d:prop><d:resourcetype/><d:getcontentlength>9</d:getcontentlength>"
        "</d:prop></d:propstat></d:response></d:multistatus>";
    auto lower = FileDownload::getListFromWebDav(lowerCase, "https://cloud.example/remote.php/dav/files/u/Comics/");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->fileList, (std::vector<std::string>{"https://cloud.example/remote.php/dav/files/u/Comics/Vol%201/",
                                                            "https://cloud.example/remote.php/dav/files/u/Comics/x.cbz"}));
    const std::string typed =
        "<?xml version=\"1.0\"?><a:multistatus xmlns:b=\"urn:uuid:c2f41010-65b3-11d1-a29f-00aa00c14882/\" "
        "xmlns:a=\"DAV:\"><a:response><a:href>http://nas/share/Manga</a:href><a:propstat>"
        "<a:status>HTTP/1.1 200 OK</a:status><a:prop><a:getcontentlength b:dt=\"int\">0</a:getcontentlength>"
        "<a:resourcetype><a:collection/></a:resourcetype></a:prop></a:propstat></a:response>"
        "<a:response><a:href>http://nas/share/Manga/One%20Piece</a:href><a:propstat>"
        "<a:status>HTTP/1.1 200 OK</a:status><a:prop><a:getcontentlength b:dt=\"int\">0</a:getcontentlength>"
        "<a:resourcetype><a:collection/></a:resourcetype></a:prop></a:propstat></a:response>"
        "<a:response><a:href>http://nas/share/Manga/y.zip</a:href><a:propstat>"
        "<a:status>HTTP/1.1 200 OK</a:status><a:prop><a:getcontentlength b:dt=\"int\">4096</a:getcontentlength>"
        "<a:resourcetype/></a:prop></a:propstat></a:response></a:multistatus>";
    auto prefixed = FileDownload::getListFromWebDav(typed, "http://nas/share/Manga");
    ASSERT_TRUE(prefixed);
    EXPECT_EQ(prefixed->fileList, (std::vector<std::string>{"http://nas/share/Manga/One%20Piece/", "http://nas/share/Manga/y.zip"}));
    EXPECT_EQ(names(*prefixed), (std::vector<std::string>{"One Piece", "y.zip"}));
    EXPECT_EQ(prefixed->infoList[1].getInteger("booksize", -1), 4096);

    // No resourcetype given (or only under a status that is not 200): the
    // final "/" tells, and a name without one or a book's extension is no
    // entry.
    const std::string untyped = reply(
        member("/dav/x") + member("/dav/x/Sub/") + member("/dav/x/Plain") + member("/dav/x/c.cbz") +
        "<D:response><D:href>/dav/x/Other/</D:href><D:propstat><D:prop>" + collection +
        "</D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat><D:propstat><D:prop>"
        "<D:getlastmodified>Sat, 03 Feb 2024 11:02:00 GMT</D:getlastmodified></D:prop>"
        "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>");
    auto e = FileDownload::getListFromWebDav(untyped, "http://h/dav/x/");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->fileList, (std::vector<std::string>{"http://h/dav/x/Sub/", "http://h/dav/x/c.cbz",
                                                     "http://h/dav/x/Other/"}));
}

TEST(WebDavMembersTest, ThePropertiesTheServerGaveAreKeptAndAbsurdSizesRefused) {
    // The first property block is what the server could not give (404), the
    // second what it gave: size and date come from the second.
    const std::string twoBlocks =
        "<D:response><D:href>/dav/a.cbz</D:href>"
        "<D:propstat><D:prop><D:getcontentlength/><D:getlastmodified/></D:prop>"
        "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>"
        "<D:propstat><D:prop><D:getcontentlength>12345</D:getcontentlength>"
        "<D:getlastmodified>Sat, 03 Feb 2024 11:02:00 GMT</D:getlastmodified></D:prop>"
        "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
    auto records = WebDavFileListReader::getFileListFromXmlData(reply(twoBlocks));
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 1u);
    EXPECT_EQ((*records)[0].getInteger("length"), 12345);
    ASSERT_TRUE((*records)[0].getDate("date"));
    EXPECT_EQ(int64_t((*records)[0].getDate("date")->timeIntervalSince1970()), 1706958120);
    auto listed = FileDownload::getListFromWebDav(reply(twoBlocks), "http://h/dav/");
    ASSERT_TRUE(listed && listed->size() == 1u);
    EXPECT_EQ(listed->infoList[0].getInteger("booksize"), 12345);
    EXPECT_EQ(listed->infoList[0].getString("bookdate"), "1706958120");

    // Sizes past what a file can have, or not a number at all, are refused:
    // the entry stays, without a size, and nothing is thrown.
    for (const char* bad : {"12345678901234567890", "9999999999999999999", "-5", "1e9", "12 34", ""}) {
        const std::string body = reply(member("/dav/big.cbz", std::string("<D:getcontentlength>") + bad +
                                                                 "</D:getcontentlength>"));
        std::optional<std::vector<sys::PlistDictionary>> r;
        EXPECT_NO_THROW(r = WebDavFileListReader::getFileListFromXmlData(body)) << bad;
        ASSERT_TRUE(r && r->size() == 1u) << bad;
        EXPECT_FALSE((*r)[0].contains("length")) << bad;
        std::optional<RemoteFileEntry> e;
        EXPECT_NO_THROW(e = FileDownload::getListFromWebDav(body, "http://h/dav/")) << bad;
        ASSERT_TRUE(e && e->size() == 1u);
        EXPECT_FALSE(e->infoList[0].contains("booksize"));
    }
    auto large = WebDavFileListReader::getFileListFromXmlData(
        reply(member("/dav/big.cbz", "<D:getcontentlength>999999999999999999</D:getcontentlength>")));
    ASSERT_TRUE(large && large->size() == 1u);
    EXPECT_EQ((*large)[0].getInteger("length"), 999999999999999999);
}

class WebDavDigestTest : public test::VirtualClockTest {
protected:
    std::shared_ptr<test::ListingOutcome> list(const std::string& url) {
        auto out = std::make_shared<test::ListingOutcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        sys::PlistDictionary dav;
        dav.set("isWebDav", sys::PlistValue(true));
        fd->setOtherSettings_(dav);
        fd->getFileListFromUrl(url, std::string("Title"), std::string("reader"), std::string("s3cret"), true, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
        return out;
    }
    test::TempDir www_{"davdigest"};
};

TEST_F(WebDavDigestTest, AProtectedServerIsAskedOnceForTheWholeVisit) {
    if (!test::DavTestServer::haveApache()) GTEST_SKIP() << "Apache's mod_dav is not installed";
    HttpAuthCache::clear();
    fs::create_directories(www_.file("漫画 Books"));
    std::ofstream(www_.file("漫画 Books/vol 1.cbz")) << "volume one";
    std::ofstream(www_.file("top.cbz")) << "top";
    test::DavTestServer dav;
    ASSERT_TRUE(dav.startApacheDigest(www_.path(), "reader", "s3cret")) << dav.lastError();

    auto root = list(dav.url("/dav/"));
    ASSERT_TRUE(root->fileList) << root->message.value_or("") << root->passwords;
    EXPECT_EQ(root->names(), (std::vector<std::string>{"top.cbz", "漫画 Books"}));
    // The folder as a user would type it: Apache names its members with
    // lower-case escapes, the typed address has upper-case ones.
    auto folder = list(dav.url("/dav/漫画 Books/"));
    ASSERT_TRUE(folder->fileList) << folder->message.value_or("");
    EXPECT_EQ(folder->names(), std::vector<std::string>{"vol 1.cbz"});
    auto again = list(root->url("漫画 Books"));
    ASSERT_TRUE(again->fileList);
    EXPECT_EQ(again->names(), std::vector<std::string>{"vol 1.cbz"});

    struct Done : HttpDownloadDelegate {
        void onFinishConnection(int r) override { result = r; }
        int result = -1;
    };
    test::TempDir settingsDir("davdigestsettings"), out("davdigestout");
    Settings settings(settingsDir.path());
    auto done = std::make_shared<Done>();
    auto d = std::make_shared<HttpDownload>();
    d->setDelegate(done);
    d->setSettings_(&settings);
    d->downloadFile(folder->url("vol 1.cbz"), out.path(), "vol 1.cbz", "reader", "s3cret", "", {});
    ASSERT_TRUE(loop().runUntil([&] { return done->result >= 0; }, 30));
    EXPECT_EQ(done->result, HttpDownload::kSaved);
    EXPECT_EQ(test::readFile(out.file("vol 1.cbz")), "volume one");

    // One challenge for four requests: the later ones answered at once.
    EXPECT_EQ(dav.statusCount(401), 1u) << testing::PrintToString(dav.requests());
    EXPECT_EQ(dav.statusCount(207), 3u);
    EXPECT_EQ(dav.statusCount(200), 1u);
    HttpAuthCache::clear();
}

}  // namespace
