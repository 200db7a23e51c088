// The remote list on a phone window over a fresh home: how listing entries
// become rows, the folder titles, the shortcut and site-list records it
// writes (names confined to the library folder, no credentials in them), and
// folder listings against nginx on loopback.
#include "remote/screens/RemoteFileListViewController.h"

#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "foundation/RemoteStackStatus.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/QNNoticeView.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Label.h"
#include "remote/ServerListViewControllerEx.h"
#include "foundation/LastStatusRestore.h"
#include "remote/listing/FileDownload.h"
#include "remote/listing/HtmlIndexListing.h"
#include "remote/listing/RemoteFileEntry.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/TestCertificate.h"
#include "foundation/QNUrl.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/JpegEncoder.h"
#include "platform/graphics/PangoTextEngine.h"
#include "library/BookshelfBookButton.h"
#include "foundation/ThemeLoader.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

namespace {

using librarytest::LibraryTest;
using Info = sys::PlistDictionary;

Info info(std::initializer_list<std::pair<const std::string, sys::PlistValue>> items) { return Info(items); }

class RemoteFileListTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        QNKeyChain::deleteAll();
    }
    void TearDown() override {
        if (nav) nav->setViewControllers({}, false);
        list.reset();
        nav.reset();
        QNKeyChain::deleteAll();
        LibraryTest::TearDown();
    }
    // A list screen of `url` with these entries, shown in a navigation.
    void show(const std::string& url, std::vector<std::string> files, std::vector<Info> infos,
              const std::string& title = "Shelf") {
        list = std::make_shared<RemoteFileListViewController>();
        list->setTargetURL(url);
        list->setListTitle(title);
        list->setLists(std::move(files), std::move(infos));
        list->setDownloadPath(documents());
        nav = std::make_shared<ui::NavigationController>(list);
        window->setRootViewController(nav);
        driver->advance(0.6);
    }
    std::vector<std::string> rowNames() const {
        std::vector<std::string> out;
        for (const auto& item : list->itemList()) out.push_back(item->filename().value_or(""));
        return out;
    }
    FilelistItem* row(const std::string& name) const {
        for (const auto& item : list->itemList())
            if (item->filename() == name) return item.get();
        return nullptr;
    }
    // The message of the alert or notice on screen, "" when none.
    std::string shownMessage() const {
        ui::ViewController* vc = nav.get();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        if (auto* alert = dynamic_cast<ui::AlertController*>(vc)) return alert->message().value_or("");
        for (const std::string text : {"There are no downloadable files on the site.", "Cannot stream this file type.",
                                       "Forbidden: Server is configured to deny execute access.",
                                       "Error Creating Shortcut", "No files available for transfer.",
                                       "Downloads into the library are not available yet. Use Streaming to read the book."})
            if (driver->findByText(text)) return text;
        return "";
    }

    std::shared_ptr<RemoteFileListViewController> list;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(RemoteFileListTest, EntriesAreTypedByNameExtensionAndSiteAndKeepTheServerOrder) {
    const std::string base = "http://127.0.0.1:9/shelf/";
    show(base,
         {base + "Zeta/", base + "b.cbz", base + "get?id=7", base + "a.rar", base + "notes.txt", base + "p10.png",
          base + "p2.png", base + "Locked/"},
         {info({{"name", sys::PlistValue("Zeta")}}), info({{"name", sys::PlistValue("b.cbz")}}),
          info({{"name", sys::PlistValue("Seven")}, {"extension", sys::PlistValue("zip")}, {"isBook", sys::PlistValue(true)}}),
          info({{"name", sys::PlistValue("a.rar")}}), info({{"name", sys::PlistValue("notes.txt")}}),
          info({{"name", sys::PlistValue("p10.png")}}), info({{"name", sys::PlistValue("p2.png")}}),
          info({{"name", sys::PlistValue("Locked")}, {"passcode", sys::PlistValue(true)}})});
    ASSERT_EQ(list->itemList().size(), 8u);
    EXPECT_EQ(row("Zeta")->type(), FilelistBaseViewController::kTypeFolder);
    // A name without a book extension is a folder unless the server says it is a book.
    EXPECT_EQ(row("notes.txt")->type(), FilelistBaseViewController::kTypeFolder);
    // The extension goes in before the query: typed and streamed as a zip.
    EXPECT_EQ(RemoteFileListViewController::typedName(base + "get?id=7", info({{"extension", sys::PlistValue("zip")}})),
              base + "get.zip?id=7");
    EXPECT_EQ(row("Seven")->type(), FilelistBaseViewController::kTypeBook);
    EXPECT_TRUE(row("Seven")->remoteCanStreaming());
    EXPECT_TRUE(row("b.cbz")->remoteCanStreaming());
    // RAR is read in place only over SMB.
    EXPECT_EQ(row("a.rar")->type(), FilelistBaseViewController::kTypeBook);
    EXPECT_FALSE(row("a.rar")->remoteCanStreaming());
    EXPECT_TRUE(RemoteFileListViewController::isStreamingFile("smb://nas/share/a.rar", "smb://nas/share/"));
    // Server order is kept for the user sort; images form one book in natural order.
    EXPECT_EQ(row("Seven")->remoteOriginalIndexNo(), 2);
    EXPECT_EQ(list->imageListArray(), (std::vector<std::string>{base + "p2.png", base + "p10.png"}));
    EXPECT_EQ(row("p2.png")->location(), FilelistItem::kRemote);

    // A file of a shared Drive folder is read through its download address;
    // one whose pseudo address carries no sound identifier is never read.
    show("https://googledrive.sharelink/abc",
         {"https://googledrive.sharelink/x/y/One.cbz", "https://googledrive.sharelink/x.a/y/Two.cbz"},
         {info({{"name", sys::PlistValue("One.cbz")}, {"isBook", sys::PlistValue(true)}}),
          info({{"name", sys::PlistValue("Two.cbz")}, {"isBook", sys::PlistValue(true)}})});
    ASSERT_TRUE(row("One.cbz"));
    EXPECT_TRUE(row("One.cbz")->remoteCanStreaming());
    ASSERT_TRUE(row("Two.cbz"));
    EXPECT_FALSE(row("Two.cbz")->remoteCanStreaming());
}

// Every listing keeps an entry's date as a decimal string; the row shows
// that date (a number, as older saved lists hold, too), and an entry
// without a readable date shows none rather than 1 January 1970.
TEST_F(RemoteFileListTest, RowsShowTheDateTheListingGaveAndNoneWhenItGaveNone) {
    const std::string base = "http://127.0.0.1:9/shelf/";
    show(base, {base + "a.cbz", base + "b.cbz", base + "c.cbz", base + "d.cbz"},
         {info({{"name", sys::PlistValue("a.cbz")}, {"bookdate", RemoteFileEntry::dateValue(1700000000)}}),
          info({{"name", sys::PlistValue("b.cbz")}, {"bookdate", sys::PlistValue(int64_t(1600000000))}}),
          info({{"name", sys::PlistValue("c.cbz")}, {"bookdate", sys::PlistValue("17e8")}}),
          info({{"name", sys::PlistValue("d.cbz")}})});
    ASSERT_TRUE(row("a.cbz") && row("a.cbz")->creationDate());
    EXPECT_EQ(row("a.cbz")->creationDate()->timeIntervalSince1970(), 1700000000);
    ASSERT_TRUE(row("b.cbz") && row("b.cbz")->creationDate());
    EXPECT_EQ(row("b.cbz")->creationDate()->timeIntervalSince1970(), 1600000000);
    EXPECT_FALSE(row("c.cbz")->creationDate());
    EXPECT_FALSE(row("d.cbz")->creationDate());
    EXPECT_TRUE(driver->findByText(BookCommon::getLocalDateStringToday(sys::Date(1700000000.0))));
    EXPECT_FALSE(driver->findByText(BookCommon::getLocalDateStringToday(sys::Date(0.0))));
}

// Every listing keeps an entry's size as a number of bytes; a list saved by
// an older version may hold the companion server's as a decimal string. The
// row shows either, and nothing for a size it cannot read.
TEST_F(RemoteFileListTest, RowsShowTheSizeTheListingGaveAndNoneWhenItGaveNone) {
    const std::string base = "http://127.0.0.1:9/shelf/";
    std::vector<std::string> files;
    std::vector<Info> infos;
    const std::vector<std::pair<std::string, sys::PlistValue>> sizes = {
        {"a.cbz", sys::PlistValue(int64_t(2048))}, {"b.cbz", sys::PlistValue("5242880")},
        {"c.cbz", sys::PlistValue("12 KB")},       {"d.cbz", sys::PlistValue(int64_t(-5))},
        {"e.cbz", sys::PlistValue(1.5)},           {"f.cbz", sys::PlistValue()}};
    for (const auto& [name, size] : sizes) {
        files.push_back(base + name);
        infos.push_back(info({{"name", sys::PlistValue(name)}, {"booksize", size}}));
    }
    show(base, files, infos);
    ASSERT_EQ(list->itemList().size(), sizes.size());
    auto shownSize = [&](const std::string& name) -> std::optional<int64_t> {
        const FilelistItem* r = row(name);
        if (!r || !r->remoteInfo() || !r->remoteInfo()->contains("booksize")) return std::nullopt;
        EXPECT_TRUE(r->remoteInfo()->get("booksize").isNumber()) << name;
        return r->remoteInfo()->getInteger("booksize");
    };
    EXPECT_EQ(shownSize("a.cbz"), 2048);
    EXPECT_EQ(shownSize("b.cbz"), 5242880) << "the older companion form";
    for (const char* none : {"c.cbz", "d.cbz", "e.cbz", "f.cbz"}) EXPECT_FALSE(shownSize(none)) << none;
    EXPECT_TRUE(driver->findByText(BookCommon::strSizeFormatFromValue(2048)));
    EXPECT_TRUE(driver->findByText(BookCommon::strSizeFormatFromValue(5242880)));
    EXPECT_FALSE(driver->findByText(BookCommon::strSizeFormatFromValue(0)));
    EXPECT_FALSE(driver->findByText(BookCommon::strSizeFormatFromValue(-5)));

    EXPECT_EQ(RemoteFileEntry::sizeFromText("0"), 0);
    EXPECT_EQ(RemoteFileEntry::sizeFromText("999999999999999999"), 999999999999999999);
    for (const char* bad : {"", "-1", "+1", " 1", "1 ", "0x10", "99999999999999999999"})
        EXPECT_FALSE(RemoteFileEntry::sizeFromText(bad)) << bad;
}

// The site's user name and password go with its own rows only: a row on
// another server, port or scheme (a link in a page, a list saved by an older
// version) is read, covered and downloaded without them, and after a
// redirect to another server the site stays the one the password was for.
TEST_F(RemoteFileListTest, TheSitesPasswordGoesOnlyToRowsOnItsOwnOrigin) {
    const std::string site = "http://127.0.0.1:9/shelf/";
    const std::vector<std::string> files = {site + "a.cbz", "http://127.0.0.1:10/b.cbz", "https://127.0.0.1:9/c.cbz",
                                            "ftp://127.0.0.1/d.cbz", "smb://127.0.0.1/s/e.cbz",
                                            "http://127.0.0.1:80/f.cbz", "http://127.0.0.1:9/g.cbz"};
    auto build = [&](const std::optional<std::string>& siteURL, const std::string& target) {
        list = std::make_shared<RemoteFileListViewController>();
        list->setTargetURL(target);
        list->setSiteURL(siteURL);
        list->setUseRawPassword(true);
        list->setRawUsername(std::string("reader"));
        list->setRawPassword(std::string("s3cret"));
        std::vector<Info> infos;
        for (const auto& f : files) infos.push_back(info({{"name", sys::PlistValue(f.substr(f.rfind('/') + 1))}}));
        list->setLists(files, infos);
        nav = std::make_shared<ui::NavigationController>(list);
        window->setRootViewController(nav);
        driver->advance(0.6);
    };
    auto withPassword = [&] {
        std::vector<std::string> out;
        for (const auto& item : list->itemList()) {
            if (item->remotePassword()) {
                EXPECT_EQ(item->remotePassword(), "s3cret");
                EXPECT_EQ(item->remoteUsername(), "reader");
                out.push_back(item->filename().value_or(""));
            } else {
                EXPECT_FALSE(item->remoteUsername()) << *item->filename();
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    build(std::nullopt, site);
    EXPECT_EQ(withPassword(), (std::vector<std::string>{"a.cbz", "g.cbz"}));
    EXPECT_FALSE(list->credentialsFor("ftp://127.0.0.1:9/x.cbz").password);
    EXPECT_EQ(list->credentialsFor("HTTP://127.0.0.1:9/x").password, "s3cret");

    // Listed after a redirect to port 10: the password stays the site's.
    build(site, "http://127.0.0.1:10/");
    EXPECT_EQ(withPassword(), (std::vector<std::string>{"a.cbz", "g.cbz"}));
    // A site on the default port, named with and without it.
    build(std::string("http://127.0.0.1/"), "http://127.0.0.1/");
    EXPECT_EQ(withPassword(), std::vector<std::string>{"f.cbz"});

    // The site survives a restart with the saved stack.
    RemoteStackStatus saved;
    saved.siteURL = site;
    auto back = RemoteStackStatus::fromDictionary(saved.toDictionary());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->siteURL, site);
}

TEST_F(RemoteFileListTest, FolderTitlesComeFromTheLastComponentDecoded) {
    using V = RemoteFileListViewController;
    EXPECT_EQ(V::lastUrlComponentString(std::string("http://h/a/Caf%C3%A9%20Books/")), "Café Books");
    EXPECT_EQ(V::lastUrlComponentString(std::string("Plain title")), "Plain title");
    EXPECT_EQ(V::lastUrlComponentString(std::nullopt), std::nullopt);
    // Shift-JIS bytes are recognised by the character-set detection.
    EXPECT_EQ(V::lastUrlComponentString(std::string("ftp://h/%93%FA%96%7B%8C%EA/")), "日本語");
    // An over-long name is cut at the buffer instead of overrunning it.
    const auto longName = V::lastUrlComponentString("http://h/" + std::string(5000, 'a'));
    ASSERT_TRUE(longName);
    EXPECT_EQ(longName->size(), 1023u);
    show("onedrive://acct/", {"onedrive://acct/x.zip"}, {info({{"name", sys::PlistValue("x.zip")}})}, "onedrive://acct/");
    EXPECT_EQ(list->title(), "OneDrive");

    // A folder is titled by its name as the listing gave it, decoded once
    // already: "%20" in a name is what the name holds. A list titled by its
    // address shows the address's last component, decoded once.
    const std::string odd = "http://h/shelf/a%2520b%23c/";
    show(odd, {odd + "in.cbz"}, {info({{"name", sys::PlistValue("in.cbz")}})}, "a%20b#c");
    EXPECT_EQ(list->title(), "a%20b#c");
    show(odd, {odd + "in.cbz"}, {info({{"name", sys::PlistValue("in.cbz")}})}, odd);
    EXPECT_EQ(list->title(), "a%20b#c");
    show("ftp://h/shelf/50%25%20off/", {}, {}, "100% & more");
    EXPECT_EQ(list->title(), "100% & more");
}

TEST_F(RemoteFileListTest, AShortcutIsConfinedToTheLibraryFolderAndCarriesNoTypedPassword) {
    const std::string url = "http://127.0.0.1:9/My%20Shelf/";
    show(url, {url + "a.cbz"}, {info({{"name", sys::PlistValue("a.cbz")}})});
    list->setFixID(std::string("site-1"));
    list->setFixUsername(std::string("reader"));
    QNKeyChain::addOrUpdatePassword("stored-pw", "site-1", RemoteFileListViewController::kSiteKeychainService);

    ASSERT_TRUE(list->createLink("Comics/Weekly"));
    const std::string file = join(documents(), "Comics_Weekly.shortcut");
    auto v = sys::PropertyList::readFile(file);
    ASSERT_TRUE(v && v->isDictionary());
    const auto& rec = v->asDictionary();
    EXPECT_EQ(rec.getString("url"), "http://127.0.0.1:9/My Shelf/");
    EXPECT_EQ(rec.getString("title"), "Comics/Weekly");
    EXPECT_EQ(rec.getString("username"), "reader");
    EXPECT_FALSE(rec.contains("password"));
    // The stored site's password follows the new id.
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(rec.getString("id"), std::string("MediaServer")), "stored-pw");

    // Names that would leave the folder or hide the file are refused.
    EXPECT_EQ(RemoteFileListViewController::shortcutFileName(".."), std::nullopt);
    EXPECT_EQ(RemoteFileListViewController::shortcutFileName(""), std::nullopt);
    EXPECT_EQ(RemoteFileListViewController::shortcutFileName("../../etc/x"), std::nullopt);
    EXPECT_EQ(RemoteFileListViewController::shortcutFileName("a/b"), "a_b.shortcut");
    EXPECT_FALSE(list->createLink(".."));
    driver->advance(0.5);
    EXPECT_EQ(shownMessage(), "Error Creating Shortcut");
    EXPECT_FALSE(std::filesystem::exists(join(documents(), "...shortcut")));

    // Credentials typed in the panel are never carried into a shortcut; the
    // stored site's user name is.
    list->setFixID(std::nullopt);
    list->setUseRawPassword(true);
    list->setRawUsername(std::string("typed"));
    list->setRawPassword(std::string("typed-pw"));
    ASSERT_TRUE(list->createLink("Typed"));
    auto typed = sys::PropertyList::readFile(join(documents(), "Typed.shortcut"));
    ASSERT_TRUE(typed && typed->isDictionary());
    EXPECT_EQ(typed->asDictionary().getString("username"), "reader");
    EXPECT_EQ(typed->asDictionary().getString("url"), "http://127.0.0.1:9/My Shelf/");
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(typed->asDictionary().getString("id"), std::string("MediaServer")),
              std::nullopt);
}

TEST_F(RemoteFileListTest, AddingTheFolderToTheSiteListPutsItFirstOnlyWhenAListExists) {
    const std::string url = "smb://nas/share/Comics/";
    show(url, {url + "a.cbz"}, {info({{"name", sys::PlistValue("a.cbz")}})}, "Comics");
    EXPECT_FALSE(list->addSiteToServerList());
    EXPECT_FALSE(std::filesystem::exists(ServerListViewControllerEx::siteListFile()));
    ASSERT_TRUE(ServerListViewControllerEx::writeSites(
        {info({{"url", sys::PlistValue("http://old/")}, {"title", sys::PlistValue("Old")}})}));
    ASSERT_TRUE(list->addSiteToServerList());
    auto sites = ServerListViewControllerEx::readSites();
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].getString("url"), url);
    EXPECT_EQ(sites[0].getString("title"), "Comics");
    EXPECT_EQ(sites[1].getString("title"), "Old");
}

TEST_F(RemoteFileListTest, DownloadingAllOfAFolderWithoutFilesSaysSoAndDownloadModeDoesNotPassSilently) {
    const std::string url = "http://127.0.0.1:9/shelf/";
    show(url, {url + "A/", url + "B/"},
         {info({{"name", sys::PlistValue("A")}}), info({{"name", sys::PlistValue("B")}})});
    list->onDownloadAll();
    driver->advance(0.5);
    EXPECT_EQ(shownMessage(), "No files available for transfer.");
    ASSERT_TRUE(tapText("OK"));
    driver->advance(0.5);

    settings->setValueForKey("multipleSelectDownload", sys::PlistValue(false));
    show(url, {url + "a.cbz"}, {info({{"name", sys::PlistValue("a.cbz")}})});
    list->selectStreamMode(0);
    ASSERT_TRUE(tapText("a.cbz"));
    driver->advance(0.5);
    EXPECT_EQ(shownMessage(), "Downloads into the library are not available yet. Use Streaming to read the book.");
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

// A web index page at the listing's size limit: 23 bytes a link, so some
// 455,000 links. Listed (read, handed to the screen that the folder opens in,
// its rows made, the screen saved for the next start) in a child process,
// whose peak memory is what the listing took; the page's shortest links make
// more of them still, each entry must cost little.
TEST_F(RemoteFileListTest, AFolderListedAtTheSizeLimitIsShownInLittleMemory) {
    const std::string url = "http://127.0.0.1:9/shelf/";
    std::string page = "<html><body>";
    page.reserve(FileDownload::kMaxBodyBytes);
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    size_t links = 0;
    while (page.size() + 64 < FileDownload::kMaxBodyBytes) {
        char name[6] = {};
        for (size_t n = links, i = 5; i-- > 0; n /= 36) name[i] = digits[n % 36];
        page += std::string("<a href=") + name + ".cbz>x</a>";
        ++links;
    }
    page += "</body></html>";
    ASSERT_LE(page.size(), FileDownload::kMaxBodyBytes);
    // The way back to this screen is saved as it shows.
    LastStatusRestore::setLocalTargetPath("");
    // A forked child must start no thread (it may be handed the stack of a
    // thread that did not come along, still listed as waiting): no covers.
    settings->setValueForKey("bookListStyle", sys::PlistValue(std::string("simple_remote")));
    settings->setValueForKey("remoteThumbsAutoLoad", sys::PlistValue(std::string("off")));
    show(url, {url + "Sub/"}, {info({{"name", sys::PlistValue("Sub")}})});

    struct Outcome {
        uint64_t growth = 0;
        size_t rows = 0;
        bool pushed = false;
        double seconds = 0;
    };
    const Outcome o = test::inChildProcess<Outcome>(
        [&] {
            Outcome r;
            const uint64_t before = test::peakResident();
            const auto t0 = std::chrono::steady_clock::now();
            RemoteFileEntry entries = HtmlIndexListing::getListFromHyperHtml(page, url + "Sub/", 0);
            page = std::string();
            list->finishListDownload(std::move(entries.fileList), std::move(entries.infoList), std::string("Sub"),
                                     url + "Sub/", std::nullopt, false);
            driver->advance(0.6);
            auto* child = dynamic_cast<RemoteFileListViewController*>(nav->topViewController());
            r.pushed = child && child != list.get();
            if (child) r.rows = child->itemList().size();
            r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            r.growth = test::peakResident() - before;
            return r;
        },
        Outcome{});
    ASSERT_TRUE(o.pushed) << "the folder's screen was not shown";
    EXPECT_EQ(o.rows, links);
    // A window run holds some 75 MB more before any listing (the display's
    // drawing libraries): the listing takes at most 340 MB, so that the
    // window stays under 500 MB with a folder at the limit.
    EXPECT_LT(o.growth, 340ull << 20) << o.growth / (1 << 20) << " MB for " << links << " entries";
    EXPECT_LT(o.seconds, 60) << "listed in " << o.seconds << " s";
}

class RemoteListingTest : public RemoteFileListTest {
protected:
    void SetUp() override {
        RemoteFileListTest::SetUp();
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        www = std::make_unique<test::TempDir>("remotewww");
        touch(www->file("shelf/Sub/inner.cbz"), "PK");
        touch(www->file("shelf/b.cbz"), "PK");
        touch(www->file("shelf/a.cbz"), "PK");
        mkdir(www->file("shelf/Empty"));
        nginx.setLocationConfig("autoindex on;");
        ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
    }
    void TearDown() override {
        RemoteFileListTest::TearDown();
        nginx.stop();
    }
    // Lets the listing's worker finish and its answer reach the screen.
    void settle() {
        for (int i = 0; i < 50 && list->isLoading(); ++i) driver->advance(0.1);
        driver->advance(0.8);
    }
    std::unique_ptr<test::TempDir> www;
    test::NginxServer nginx;
};

TEST_F(RemoteListingTest, AFolderRowPushesOneListedScreenAndAnEmptyFolderSaysSo) {
    const std::string url = nginx.url("/shelf/");
    show(url, {url + "Sub/", url + "Empty/", url + "a.cbz"},
         {info({{"name", sys::PlistValue("Sub")}}), info({{"name", sys::PlistValue("Empty")}}),
          info({{"name", sys::PlistValue("a.cbz")}})});
    ASSERT_TRUE(tapText("Sub"));
    settle();
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    auto* child = dynamic_cast<RemoteFileListViewController*>(nav->topViewController());
    ASSERT_TRUE(child);
    EXPECT_EQ(child->targetURL(), url + "Sub/");
    EXPECT_EQ(child->title(), "Sub");
    ASSERT_EQ(child->fileList().size(), 1u);
    EXPECT_EQ(child->fileList()[0], url + "Sub/inner.cbz");
    EXPECT_EQ(child->downloadPath(), documents());

    nav->popViewController(false);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Empty"));
    settle();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_EQ(shownMessage(), "There are no downloadable files on the site.");
}

TEST_F(RemoteListingTest, AFolderThatRedirectsToAnotherServerKeepsThePasswordWithTheSite) {
    test::NginxServer other;
    other.setLocationConfig("autoindex on;");
    ASSERT_TRUE(other.start(www->path())) << other.lastError();
    nginx.stop();
    nginx.setServerConfig("location /shelf/Away/ { return 302 " + other.url("/shelf/Sub/") + "; }");
    ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
    const std::string url = nginx.url("/shelf/");
    list = std::make_shared<RemoteFileListViewController>();
    list->setTargetURL(url);
    list->setUseRawPassword(true);
    list->setRawUsername(std::string("reader"));
    list->setRawPassword(std::string("s3cret"));
    list->setLists({url + "Away/"}, {info({{"name", sys::PlistValue("Away")}})});
    list->setDownloadPath(documents());
    nav = std::make_shared<ui::NavigationController>(list);
    window->setRootViewController(nav);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Away"));
    settle();
    auto* child = dynamic_cast<RemoteFileListViewController*>(nav->topViewController());
    ASSERT_TRUE(child && child != list.get());
    EXPECT_EQ(child->targetURL(), other.url("/shelf/Sub/"));
    EXPECT_EQ(child->siteURL(), url);
    ASSERT_EQ(child->itemList().size(), 1u);
    EXPECT_FALSE(child->itemList()[0]->remotePassword()) << "the other server's rows go without the site's password";
    EXPECT_FALSE(child->credentialsFor(*child->targetURL()).password);
}

TEST_F(RemoteListingTest, ALockedFolderIsRefusedAndRefreshKeepsRowsWhenTheServerAnswersNothing) {
    const std::string url = nginx.url("/shelf/");
    show(url, {url + "Secret/", url + "a.cbz"},
         {info({{"name", sys::PlistValue("Secret")}, {"passcode", sys::PlistValue(true)}}),
          info({{"name", sys::PlistValue("a.cbz")}})});
    ASSERT_TRUE(tapText("Secret"));
    driver->advance(0.5);
    EXPECT_FALSE(list->isLoading());
    EXPECT_EQ(shownMessage(), "Forbidden: Server is configured to deny execute access.");

    // A refresh lists the folder again: the server's three entries replace the two.
    list->onRefresh();
    settle();
    EXPECT_FALSE(list->isRefreshMode());
    EXPECT_EQ(list->fileList().size(), 4u);
    // A folder that is gone lists nothing: the rows stay.
    std::filesystem::remove_all(www->file("shelf"));
    list->onRefresh();
    settle();
    EXPECT_EQ(list->fileList().size(), 4u);
}

TEST_F(RemoteFileListTest, AnUntrustedServerIsTrustedOnAskAndTypedCredentialsStayOutOfTheListedAddress) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
    test::TempDir conf("tlsconf");
    test::TempDir www("tlswww");
    touch(www.file("locked/secret.cbz"), "PK");
    test::NginxServer nginx;
    ASSERT_TRUE(test::lockedFolderOverTls(nginx, conf.path(), "reader", "pw"));
    ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
    const std::string url = nginx.url("/");
    show(url, {url + "locked/"}, {info({{"name", sys::PlistValue("locked")}})});

    ASSERT_TRUE(tapText("locked"));
    for (int i = 0; i < 50 && !driver->findByText("Do Not Ask Again"); ++i) driver->advance(0.1);
    driver->advance(0.5);
    // The question names the server it is about.
    EXPECT_TRUE(driver->findByText("Server Certificate Untrusted.\nAre you sure you want to continue connecting?\n\n(127.0.0.1:" +
                                   std::to_string(nginx.port()) + ")"));
    ASSERT_TRUE(tapText("Do Not Ask Again"));
    driver->advance(0.5);
    for (int i = 0; i < 50 && !driver->findByText("Enter Password"); ++i) driver->advance(0.1);
    // The certificate that was shown is trusted at that address.
    EXPECT_EQ(TrustedServer::publicKeyFor(url), test::publicKeyOf(conf.file("cert.pem")));

    // The server wants a user: typed in the panel.
    driver->advance(0.5);
    ASSERT_TRUE(tapText("Enter Password"));
    driver->advance(0.3);
    driver->type("reader");
    driver->pressReturn();
    driver->type("pw");
    driver->pressReturn();
    for (int i = 0; i < 50 && nav->viewControllers().size() < 2; ++i) driver->advance(0.1);
    driver->advance(0.8);
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    auto* child = dynamic_cast<RemoteFileListViewController*>(nav->topViewController());
    ASSERT_TRUE(child);
    EXPECT_EQ(child->targetURL(), url + "locked/");
    EXPECT_TRUE(child->useRawPassword());
    EXPECT_EQ(child->rawUsername(), "reader");
    EXPECT_EQ(child->currentPassword(), "pw");
    ASSERT_EQ(child->fileList().size(), 1u);
    EXPECT_EQ(child->fileList()[0].find("reader"), std::string::npos) << "no credentials in an entry address";
}

TEST_F(RemoteFileListTest, ATapOnTheBusySignGivesUpAFolderThatDoesNotAnswer) {
    test::TempDir www("stallwww");
    touch(www.file("index.html"), "<a href=\"a.cbz\">a.cbz</a>");
    test::FaultHttpServer server(www.path());
    ASSERT_TRUE(server.start());
    show(server.url("/"), {server.url("/index.html?stall_from=1")}, {info({{"name", sys::PlistValue("Silent")}})});
    // While the listing runs it keeps a worker busy, and the clock would wait
    // for it: fingers go down and up with the clock standing.
    auto tapAt = [&](ui::Point p) {
        window->sendTouch(0, ui::TouchPhase::Began, p);
        window->sendTouch(0, ui::TouchPhase::Ended, p);
        sys::RunLoop::main().runOnce();
    };
    ui::View* row = driver->findByText("Silent");
    ASSERT_TRUE(row);
    tapAt(driver->centerOf(*row));
    ASSERT_TRUE(server.waitForStalled(1, 10));
    ASSERT_TRUE(list->isLoading());
    auto* sign = driver->findFirst<IndicatorWithBGView>(false);
    ASSERT_TRUE(sign);
    tapAt(driver->centerOf(*sign));
    EXPECT_FALSE(list->isLoading());
    driver->advance(1);
    EXPECT_FALSE(driver->findFirst<IndicatorWithBGView>(false));
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_FALSE(driver->findFirst<QNNoticeView>(false)) << "nothing to tell: the user gave it up";
}

TEST_F(RemoteFileListTest, ARemoteFolderWhoseCoverWasMadeShowsItOnTheShelf) {
    const std::string url = "http://127.0.0.1:9/Shelf/";
    show(url, {url + "Extras/", url + "Other/", url + "Vol%201.cbz"},
         {info({{"name", sys::PlistValue("Extras")}}), info({{"name", sys::PlistValue("Other")}}),
          info({{"name", sys::PlistValue("Vol 1.cbz")}})});
    ASSERT_TRUE(row("Extras") && row("Extras")->remoteURL());
    // The cover made for the folder after one of its books was read there.
    std::vector<uint32_t> px(size_t(48) * 66, 0xFFC03030u);
    auto jpeg = gfx::JpegEncoder::encode(*gfx::Image::make(48, 66, std::move(px), 1.0), 0.9);
    auto file = BookCommon::getThumbsFilenameForFolder(*row("Extras")->remoteURL(), true);
    ASSERT_TRUE(file);
    test::writeFile(*file, std::string(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
    list->changeBookshelfMode(1, true);
    driver->advance(0.6);
    auto coverOf = [&](const std::string& name) -> BookshelfBookButton* {
        const auto& items = list->itemList();
        for (auto* c : driver->findAllOf<BookshelfBookButton>())
            if (c->superview() && !c->isHidden() && c->indexNo() >= 0 && size_t(c->indexNo()) < items.size() &&
                items[size_t(c->indexNo())]->filename() == name)
                return c;
        return nullptr;
    };
    ASSERT_TRUE(coverOf("Extras") && coverOf("Other"));
    ui::ImageView* picture = coverOf("Extras")->bookThumbView();
    EXPECT_FALSE(picture->isHidden());
    EXPECT_EQ(picture->frame(), settings->themeLoader()->getBookShelfFolderPos());
    ASSERT_TRUE(picture->image() && picture->image()->bitmap());
    const uint32_t mid = picture->image()->bitmap()->pixel(24, 33);
    EXPECT_NEAR(int((mid >> 16) & 0xFF), 0xC0, 24);
    EXPECT_NEAR(int(mid & 0xFF), 0x30, 24);
    // A folder without one keeps the folder's picture.
    EXPECT_NE(coverOf("Other")->bookThumbView()->image(), picture->image());
    EXPECT_NE(coverOf("Other")->bookThumbView()->frame(), settings->themeLoader()->getBookShelfFolderPos());
}

TEST_F(RemoteFileListTest, SnapshotsOfTheListAndTheShelfInBothLooks) {
    const std::string url = "http://127.0.0.1:9/Shelf%20One/";
    // Real text in the pictures.
    gfx::TextEngine::Scope text(std::make_shared<gfx::PangoTextEngine>());
    // The contrast between the darkest and the lightest pixel of a view's
    // rectangle in the last render.
    auto contrastIn = [&](ui::View* v, const ui::Rect& r) {
        const ui::Rect w = v->convertRectTo(r, nullptr);
        auto lum = [](const RGB& p) {
            auto lin = [](int c) {
                const double x = c / 255.0;
                return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * lin(p.r) + 0.7152 * lin(p.g) + 0.0722 * lin(p.b);
        };
        double lo = 1, hi = 0;
        for (double y = w.y(); y < w.maxY(); y += 0.5)
            for (double x = w.x(); x < w.maxX(); x += 0.5) {
                lo = std::min(lo, lum(pixelAt(x, y)));
                hi = std::max(hi, lum(pixelAt(x, y)));
            }
        return (hi + 0.05) / (lo + 0.05);
    };
    // What the bar writes reads over the list and over the shelf, where on
    // the newer system the bar has no background of its own: the title, and
    // the streaming switch's unselected half.
    auto barReads = [&](const std::string& shot) {
        SCOPED_TRACE(shot);
        window->render();
        ui::Label* title = nav->navigationBar()->titleLabel();
        ASSERT_EQ(title->text(), "Shelf One");
        EXPECT_GE(contrastIn(title, title->textRect()), 4.5) << "title";
        ui::SegmentedControl* seg = list->streamingSelectSegment();
        ASSERT_TRUE(seg);
        EXPECT_GE(contrastIn(seg, ui::rectInset(seg->segmentRect(1 - seg->selectedSegmentIndex()), 8, 6)), 3.0)
            << "streaming switch";
    };
    for (const char* version : {"18.0", "26.0"}) {
        window->setRootViewController(nullptr);
        driver.reset();
        sys::DeviceProfile p = *sys::DeviceProfile::named("phone");
        p.systemVersion = version;
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        driver = std::make_unique<ui::test::Driver>(*window);
        show(url, {url + "Extras/", url + "Vol%201.cbz", url + "Vol%202.cbz", url + "Notes.pdf"},
             {info({{"name", sys::PlistValue("Extras")}}), info({{"name", sys::PlistValue("Vol 1.cbz")}}),
              info({{"name", sys::PlistValue("Vol 2.cbz")}}), info({{"name", sys::PlistValue("Notes.pdf")}})},
             url);
        EXPECT_EQ(list->title(), "Shelf One");
        EXPECT_EQ(rowNames().size(), 4u);
        // The presentation is remembered across screens: start from the list.
        list->changeBookshelfMode(0, true);
        driver->advance(0.6);
        list->tableView()->setContentOffset(list->tableView()->minimumContentOffset(), false);
        driver->advance(0.6);
        const std::string look = std::string(version) == "26.0" ? "newer" : "older";
        ASSERT_TRUE(window->snapshot(snapshotPath("remote-list-" + look + ".png")));
        barReads("list-" + look);
        // The header's "Bookshelf", as a tap gives it.
        list->onChangeBookShelfMode(2);
        driver->advance(0.6);
        list->tableView()->setContentOffset(list->tableView()->minimumContentOffset(), false);
        driver->advance(0.6);
        ASSERT_TRUE(window->snapshot(snapshotPath("remote-bookshelf-" + look + ".png")));
        EXPECT_TRUE(std::filesystem::file_size(snapshotPath("remote-bookshelf-" + look + ".png")) > 0);
        barReads("bookshelf-" + look);
        // Back on the list ("Download") the bar takes its usual colours again.
        list->onChangeBookShelfMode(0);
        driver->advance(0.6);
        barReads("list-again-" + look);
    }
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("phone"));
}

}  // namespace
