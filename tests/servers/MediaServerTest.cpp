// The on-device HTTP media server on loopback, read by our own listing and
// stream reader and by curl, and the screen that switches it on.
#include "tests/platform/ui/UITestSupport.h"

#include "engine/ZipArchive.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/FolderSelectViewController.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "remote/listing/FileDownload.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "servers/MediaServerMain.h"
#include "servers/MediaServerViewController.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>

using uitest::UITest;

namespace {

namespace fs = std::filesystem;

using test::readFile;

// Runs a command and returns what it printed.
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// The status curl sees for a path sent as it stands (no dot squashing).
int statusOf(const std::string& url) {
    const std::string out = capture("curl -s --path-as-is -o /dev/null -w '%{http_code}' '" + url + "'");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

struct Listed : FileDownloadDelegate {
    void finishListDownload(const std::optional<std::vector<std::string>>& files,
                            const std::optional<std::vector<sys::PlistDictionary>>& infos,
                            const std::optional<std::string>&, const std::optional<std::string>&,
                            const std::optional<std::string>& msg, bool) override {
        ++count;
        if (files) urls = *files;
        if (infos) this->infos = *infos;
        message = msg;
    }
    void passwordRequested(const std::string&, bool) override { ++count; }
    void cancelListDownload() override { ++count; }
    std::map<std::string, sys::PlistDictionary> byName() const {
        std::map<std::string, sys::PlistDictionary> out;
        for (const auto& i : infos) out[i.getString("name")] = i;
        return out;
    }
    std::string urlOf(const std::string& name) const {
        for (size_t i = 0; i < infos.size() && i < urls.size(); ++i)
            if (infos[i].getString("name") == name) return urls[i];
        return {};
    }
    int count = 0;
    std::vector<std::string> urls;
    std::vector<sys::PlistDictionary> infos;
    std::optional<std::string> message;
};

class MediaServerTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache();
        HTTPURLStreamRead::registerWithEngine();
        ASSERT_TRUE(test::haveProgram("zip") && test::haveProgram("curl"));
        // A shared folder with books, a sub-folder, the library's side
        // files, locked folders and links, and a secret beside it.
        fs::create_directories(shared_.file("sub"));
        fs::create_directories(shared_.file(".lock_diary"));
        fs::create_directories(shared_.file("kept"));
        fs::create_directories(outside_.file("private"));
        book_ = makeBook(shared_.file("book.cbz"), 4);
        makeBook(shared_.file("sub/inner & more.cbz"), 1);
        std::ofstream(shared_.file("漫画 1.zip")) << "manga";
        std::ofstream(shared_.file(".book.lbsz")) << "side";
        std::ofstream(shared_.file("directory.plist")) << "record";
        std::ofstream(shared_.file("site.shortcut")) << "shortcut";
        std::ofstream(shared_.file("book_cache")) << "cache";
        std::ofstream(shared_.file(".lock_diary/d.cbz")) << "diary";
        std::ofstream(shared_.file("kept/k.cbz")) << "kept";
        ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(shared_.file("kept")));
        std::ofstream(outside_.file("private/secret.cbz")) << "secret";
        fs::create_symlink(outside_.file("private"), shared_.file("out"));
        fs::create_symlink(outside_.file("private/secret.cbz"), shared_.file("leak.cbz"));
        fs::create_symlink(shared_.file("book.cbz"), shared_.file("alias.cbz"));
        fs::create_symlink(shared_.file("kept"), shared_.file("open-kept"));
        server_ = std::make_shared<MediaServerMain>();
        ASSERT_TRUE(server_->start(shared_.path(), "127.0.0.1", 0)) << server_->lastError();
        base_ = "http://127.0.0.1:" + std::to_string(server_->port());
    }
    void TearDown() override {
        server_.reset();
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }

    // A cbz of stored noise pages made by the zip tool.
    static std::string makeBook(const std::string& path, int pages) {
        test::TempDir src("pages");
        std::mt19937 rng{uint32_t(pages)};
        for (int i = 0; i < pages; ++i) {
            std::string bytes(200000, '\0');
            for (auto& c : bytes) c = char(rng());
            std::ofstream(src.file("p" + std::to_string(i) + ".jpg"), std::ios::binary) << bytes;
        }
        EXPECT_EQ(test::shell("cd '" + src.path() + "' && zip -q -0 '" + path + "' *.jpg"), 0);
        return readFile(path);
    }

    std::shared_ptr<Listed> list(const std::string& url) {
        auto out = std::make_shared<Listed>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->getFileListFromUrl(url, std::string("Shared"), "", "", true, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
        return out;
    }

    test::TempDir shared_{"shared"};
    test::TempDir outside_{"outside"};
    std::string book_;
    std::shared_ptr<MediaServerMain> server_;
    std::string base_;
};

TEST_F(MediaServerTest, OurListingReadsTheFolderPagesAndLeavesOutWhatIsNotServed) {
    auto root = list(base_ + "/");
    ASSERT_FALSE(root->message) << *root->message;
    auto entries = root->byName();
    std::vector<std::string> names;
    for (const auto& [name, info] : entries) names.push_back(name);
    // Side files, hidden and locked folders and links leading out are not offered.
    EXPECT_EQ(names, (std::vector<std::string>{"alias.cbz", "book.cbz", "sub", "漫画 1.zip"}));
    ASSERT_TRUE(entries.count("book.cbz"));
    EXPECT_TRUE(entries["book.cbz"].getBool(RemoteFileEntry::kIsBook));
    EXPECT_EQ(entries["book.cbz"].getString(RemoteFileEntry::kBookSize), std::to_string(book_.size()));
    struct stat st {};
    ASSERT_EQ(::stat(shared_.file("book.cbz").c_str(), &st), 0);
    const int64_t seconds = st.st_mtime;
    EXPECT_EQ(entries["book.cbz"].getString(RemoteFileEntry::kBookDate), std::to_string(seconds));
    EXPECT_FALSE(entries["sub"].getBool(RemoteFileEntry::kIsBook));
    // Their presence alone would make a book a folder-book or a folder locked.
    for (const auto& [name, info] : entries)
        EXPECT_FALSE(info.contains(RemoteFileEntry::kLbExpand) || info.contains(RemoteFileEntry::kPasscode)) << name;
    EXPECT_EQ(root->urlOf("漫画 1.zip"), base_ + "/%E6%BC%AB%E7%94%BB%201.zip");

    // The sub-folder, through the address the first page gave.
    auto sub = list(root->urlOf("sub"));
    ASSERT_FALSE(sub->message) << *sub->message;
    ASSERT_EQ(sub->infos.size(), 1u);
    EXPECT_EQ(sub->infos[0].getString("name"), "inner & more.cbz");
    EXPECT_EQ(readFile(shared_.file("sub/inner & more.cbz")),
              capture("curl -s '" + sub->urls[0] + "'"));
}

TEST_F(MediaServerTest, NothingOutsideTheFolderNorLockedNorSideFilesIsServed) {
    for (const char* path : {"/../", "/../outside/private/secret.cbz", "/%2e%2e/", "/%2E%2E/%2e%2e/etc/passwd",
                             "/sub/%2e%2e/%2e%2e/", "/sub/../../", "/sub/../book.cbz", "/out/secret.cbz", "/out/", "/leak.cbz",
                             "/.lock_diary/d.cbz", "/%2elock_diary/", "/kept/", "/kept/k.cbz", "/open-kept/k.cbz",
                             "/.book.lbsz", "/directory.plist", "/site.shortcut", "/book_cache", "/nothing.cbz",
                             "/book.cbz%00.txt"}) {
        EXPECT_EQ(statusOf(base_ + path), 404) << path;
    }
    // A link that stays inside is served.
    EXPECT_EQ(statusOf(base_ + "/alias.cbz"), 200);
    EXPECT_EQ(statusOf(base_ + "/sub/"), 200);
    // Only reading methods.
    EXPECT_EQ(capture("curl -s -X DELETE -o /dev/null -w '%{http_code}' '" + base_ + "/book.cbz'"), "405");
    EXPECT_TRUE(fs::exists(shared_.file("book.cbz")));

    // The folder can stop being shared: nothing answers afterwards.
    server_->stop();
    EXPECT_FALSE(server_->isRunning());
    EXPECT_NE(statusOf(base_ + "/book.cbz"), 200);
}

TEST_F(MediaServerTest, RangesAreAnsweredExactlyAndConnectionsAreKept) {
    const std::string url = base_ + "/book.cbz";
    const uint64_t size = book_.size();
    EXPECT_EQ(capture("curl -s -r 10-19 '" + url + "'"), book_.substr(10, 10));
    EXPECT_EQ(capture("curl -s -r -7 '" + url + "'"), book_.substr(size - 7));
    EXPECT_EQ(capture("curl -s -r " + std::to_string(size - 3) + "- '" + url + "'"), book_.substr(size - 3));
    // A range running past the end is cut at the end.
    EXPECT_EQ(capture("curl -s -r " + std::to_string(size - 2) + "-" + std::to_string(size + 50) + " '" + url + "'"),
              book_.substr(size - 2));
    const std::string headers = capture("curl -s -D - -o /dev/null -r 0-0 '" + url + "'");
    EXPECT_NE(headers.find("206"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Content-Range: bytes 0-0/" + std::to_string(size)), std::string::npos) << headers;
    const std::string beyond = capture("curl -s -D - -o /dev/null -r " + std::to_string(size) + "- '" + url + "'");
    EXPECT_NE(beyond.find("416"), std::string::npos) << beyond;
    EXPECT_NE(beyond.find("Content-Range: bytes */" + std::to_string(size)), std::string::npos) << beyond;
    EXPECT_EQ(capture("curl -s '" + url + "'"), book_);
    const std::string head = capture("curl -s -I '" + url + "'");
    EXPECT_NE(head.find("Content-Length: " + std::to_string(size)), std::string::npos) << head;

    // Two requests in one curl run share one connection.
    const std::string verbose = capture("curl -s -v -o /dev/null -o /dev/null '" + url + "' '" + base_ + "/' 2>&1");
    EXPECT_NE(verbose.find("Re-using existing connection"), std::string::npos) << verbose;
}

TEST_F(MediaServerTest, AHundredParallelRangeRequestsGetTheirOwnBytes) {
    test::TempDir out("ranges");
    const uint64_t size = book_.size();
    std::string script;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    std::mt19937 rng{7};
    for (int i = 0; i < 100; ++i) {
        const uint64_t first = rng() % size;
        const uint64_t last = std::min<uint64_t>(size - 1, first + rng() % 300000);
        ranges.emplace_back(first, last);
        script += "curl -s -f -r " + std::to_string(first) + "-" + std::to_string(last) + " -o '" +
                  out.file(std::to_string(i)) + "' '" + base_ + "/book.cbz' & ";
    }
    ASSERT_EQ(test::shell(script + "wait"), 0);
    for (int i = 0; i < 100; ++i) {
        const auto [first, last] = ranges[size_t(i)];
        EXPECT_EQ(readFile(out.file(std::to_string(i))), book_.substr(first, last - first + 1)) << i;
    }
}

TEST_F(MediaServerTest, ABookStreamsFromItThroughTheZipReader) {
    auto root = list(base_ + "/");
    const std::string url = root->urlOf("book.cbz");
    ASSERT_FALSE(url.empty());
    auto s = std::dynamic_pointer_cast<HTTPURLStreamRead>(
        RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->openURL(url));
    auto zip = ZipArchive::openStream(s);
    ASSERT_TRUE(zip);
    EXPECT_EQ(zip->entryCount(), 4u);
    ASSERT_EQ(zip->goToFirst(), ZipArchive::Step::Ok);
    ASSERT_EQ(zip->goToNext(), ZipArchive::Step::Ok);
    ASSERT_EQ(unzOpenCurrentFile(zip->handle()), UNZ_OK);
    std::string page(200000, '\0');
    EXPECT_EQ(unzReadCurrentFile(zip->handle(), page.data(), unsigned(page.size())), 200000);
    unzCloseCurrentFile(zip->handle());
    EXPECT_NE(book_.find(page), std::string::npos);
    zip.reset();
    s->closeURL();
}

TEST(MediaServerMain, StartRefusesBadFoldersAndAddressesAndTheSharedServerStopsAtTheEnd) {
    test::TempDir dir("d");
    MediaServerMain server;
    EXPECT_FALSE(server.start(dir.file("missing"), "", 0));
    EXPECT_FALSE(server.lastError().empty());
    EXPECT_FALSE(server.start(dir.path(), "not-an-address", 0));
    EXPECT_FALSE(server.isRunning());

    auto shared = MediaServerMain::sharedMediaServer();
    EXPECT_EQ(shared, MediaServerMain::sharedMediaServer());
    EXPECT_FALSE(shared->isRunning());  // off until asked
    ASSERT_TRUE(shared->start(dir.path(), "127.0.0.1", 0));
    // A second server cannot take the port the first listens on.
    EXPECT_FALSE(server.start(dir.path(), "127.0.0.1", shared->port()));
    MediaServerMain::releaseMediaServer();
    EXPECT_FALSE(MediaServerMain::hasSharedMediaServer());
    EXPECT_FALSE(shared->isRunning());
    EXPECT_NE(shared, MediaServerMain::sharedMediaServer());
    MediaServerMain::releaseMediaServer();
}

TEST(MediaServerScreen, ListenTextIsAPortOrAnAddressAndAPort) {
    auto at = MediaServerViewController::parseListen("8081");
    ASSERT_TRUE(at);
    EXPECT_EQ(at->port, 8081);
    EXPECT_EQ(at->address, "");
    at = MediaServerViewController::parseListen("127.0.0.1:9000");
    ASSERT_TRUE(at);
    EXPECT_EQ(at->address, "127.0.0.1");
    at = MediaServerViewController::parseListen("[::1]:9001");
    ASSERT_TRUE(at);
    EXPECT_EQ(at->address, "::1");
    EXPECT_EQ(at->port, 9001);
    for (const char* bad : {"", "0", "65536", "http", "host:80", "1.2.3.4:", "[::1]", "1.2.3.4:99999", "80 "})
        EXPECT_FALSE(MediaServerViewController::parseListen(bad)) << bad;
}

class MediaServerScreenTest : public UITest {
protected:
    void TearDown() override {
        MediaServerMain::releaseMediaServer();
        sys::UserDefaults::standard().removeObjectForKey(MediaServerViewController::kFolderKey);
        sys::UserDefaults::standard().removeObjectForKey(MediaServerViewController::kListenKey);
        UITest::TearDown();
    }
};

TEST_F(MediaServerScreenTest, SharingAFolderThroughThePickerStartsTheServerAndShowsWhereItIs) {
    test::TempDir dir("books");
    std::ofstream(dir.file("a.cbz")) << "a";
    sys::UserDefaults::standard().setObject(sys::PlistValue(std::string("127.0.0.1:0")),
                                            MediaServerViewController::kListenKey);
    // Port 0 is no place to be told to listen on; the default is used.
    EXPECT_EQ(MediaServerViewController::listenSetting().port, MediaServerViewController::kDefaultPort);
    // Pick a free port for the test by letting a first server choose one.
    uint16_t port = 0;
    {
        MediaServerMain probe;
        ASSERT_TRUE(probe.start(dir.path(), "127.0.0.1", 0));
        port = probe.port();
    }
    sys::UserDefaults::standard().setObject(sys::PlistValue("127.0.0.1:" + std::to_string(port)),
                                            MediaServerViewController::kListenKey);

    auto screen = std::make_shared<MediaServerViewController>();
    auto nav = std::make_shared<ui::NavigationController>(screen);
    window->setRootViewController(nav);
    ui::test::Driver driver(*window);
    driver.advance(0.5);
    EXPECT_TRUE(driver.findByText("Stopped"));
    EXPECT_TRUE(driver.findByText("The SMB server is not available in this version."));
    EXPECT_FALSE(MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning());

    // Switching on with no folder chosen opens the picker.
    auto* row = driver.findByText("HTTP Server");
    ASSERT_TRUE(row);
    driver.tap(*row);
    driver.advance(1);
    auto* picker = dynamic_cast<FolderSelectViewController*>(nav->topViewController());
    ASSERT_TRUE(picker);
    EXPECT_TRUE(picker->isRoot_());
    EXPECT_EQ(picker->selectFolderText_(), "Share This Folder");
    picker->setBasePath_(dir.path());
    picker->onChoose();
    driver.advance(1);
    EXPECT_EQ(nav->topViewController(), screen.get());
    auto server = MediaServerMain::sharedMediaServer();
    ASSERT_TRUE(server->isRunning()) << server->lastError();
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(MediaServerViewController::serverURL(), "http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_TRUE(driver.findByText("Running"));
    EXPECT_EQ(capture("curl -s 'http://127.0.0.1:" + std::to_string(port) + "/a.cbz'"), "a");

    // The SMB row follows the stack.
    screen->didChangeServerStatus(3);
    driver.advance(0.1);
    EXPECT_EQ(screen->lastServerStatus(), 3);
    EXPECT_EQ(MediaServerViewController::statusText(4), "Stopping");

    // A new place to listen moves the running server at once; a bad one is refused
    // and the server stays where it was.
    uint16_t port2 = 0;
    {
        MediaServerMain probe;
        ASSERT_TRUE(probe.start(dir.path(), "127.0.0.1", 0));
        port2 = probe.port();
    }
    TextInputViewController input;
    EXPECT_FALSE(screen->onFinishTextInput(input, "127.0.0.1:99999", ""));
    driver.advance(0.5);
    EXPECT_EQ(server->port(), port);
    ASSERT_TRUE(driver.findByText("Enter a port (1-65535), or an address and a port."));
    auto* ok = driver.findByText("OK");
    ASSERT_TRUE(ok);
    driver.tap(*ok);
    driver.advance(0.5);
    EXPECT_TRUE(screen->onFinishTextInput(input, "127.0.0.1:" + std::to_string(port2), ""));
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(server->port(), port2);
    EXPECT_EQ(capture("curl -s 'http://127.0.0.1:" + std::to_string(port2) + "/a.cbz'"), "a");

    // Switching off.
    row = driver.findByText("HTTP Server");
    ASSERT_TRUE(row);
    driver.tap(*row);
    driver.advance(0.5);
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(MediaServerViewController::serverURL(), "");
}

}  // namespace
