// The in-app web browser against nginx on loopback: book and PDF links ask
// and queue a download (one question at a time, "No" leaves the page as it
// was), other links load, the user's home page is kept and used by the next
// browser, typed addresses get a scheme, and leaving known pages is tracked.
#include "remote/screens/WebBrowseController.h"

#include "foundation/ui/QNAlertView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/RecordingURLOpener.h"
#include "platform/ui/TextField.h"
#include "remote/BookTransfer.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

using test::readFile;

using test::patternBytes;

void write(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    test::writeFile(path, bytes);
}

const char* const kIndex =
    "<html><head><title>Books</title></head><body>"
    "<p id=\"cbz\"><a href=\"comics/Story%20One.cbz\">Story One</a></p>"
    "<p id=\"pdf\"><a href=\"Manual.pdf?dl=1\">Manual</a></p>"
    "<p id=\"folder\"><a href=\"comics/\">The comics folder</a></p>"
    "<p id=\"next\"><a href=\"next.html\">Next page</a></p>"
    "</body></html>";

class WebBrowseControllerTest : public librarytest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        write(www.file("index.html"), kIndex);
        write(www.file("leafbright/index.html"),
              "<html><head><title>Own</title></head><body><p id=\"out\"><a href=\"/other/page.html\">Out</a></p>"
              "</body></html>");
        write(www.file("other/page.html"),
              "<html><head><title>Other</title></head><body><p id=\"third\"><a href=\"/third.html\">Third</a></p>"
              "</body></html>");
        write(www.file("third.html"), "<html><head><title>Third</title></head><body>3</body></html>");
        write(www.file("next.html"), "<html><head><title>Next</title></head><body><p>Second page</p></body></html>");
        book = patternBytes(150000, 1);
        pdf = "%PDF-1.4\n" + patternBytes(90000, 2);
        write(www.file("comics/Story One.cbz"), book);
        write(www.file("Manual.pdf"), pdf);
        ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
        queue = std::make_shared<BookTransfer>();
        queue->setSettings_(settings);
        queue->setStateFilePath(state.file("queue.plist"));
        queue->setStallTimeout(5);
    }
    void TearDown() override {
        if (browser) browser.reset();
        navigation.reset();
        queue.reset();
        LibraryTest::TearDown();
        nginx.stop();
    }

    std::shared_ptr<WebBrowseController> show(const std::string& root, bool withQueue = true, bool other = true) {
        navigation.reset();
        browser = std::make_shared<WebBrowseController>();
        if (withQueue) browser->setBookTransfer_(queue);
        browser->setDownloadPath_(out.path());
        browser->setRootWebPage_(root);
        browser->setIsUseHomePageFunction_(true);
        browser->setCanAccessOtherSite_(other);
        navigation = showInNavigation(browser);
        driver->advance(0.5);
        return browser;
    }
    // A tap on a link of the page, as a finger would.
    void tapLink(const std::string& selector) {
        auto* web = browser->webView();
        ui::Rect r = web->rectForElement(selector);
        ASSERT_FALSE(r.isNull()) << selector;
        driver->tap(web->scrollView()->convertPointToWindow({r.x() + 6, r.y() + r.height() / 2}));
        driver->advance(0.6);
    }
    std::string question(const std::string& name) { return "Do you want to download \"" + name + "\"?"; }
    bool runIdle(double seconds = 60) {
        return loop().runUntil([&] { return !queue->isActive(); }, seconds);
    }
    void pressToolbar(size_t index) {
        auto item = browser->toolbarButtons().at(index);
        ASSERT_TRUE(item->isEnabled());
        item->action()(*item);
        driver->advance(1);
    }
    std::vector<std::string> sheetTitles() {
        std::vector<std::string> titles;
        ui::ViewController* vc = navigation.get();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        if (auto* sheet = dynamic_cast<ui::AlertController*>(vc))
            for (const auto& a : sheet->actions()) titles.push_back(a->title());
        return titles;
    }

    test::TempDir www{"webwww"};
    test::TempDir out{"webout"};
    test::TempDir state{"webstate"};
    test::NginxServer nginx;
    std::shared_ptr<BookTransfer> queue;
    std::shared_ptr<WebBrowseController> browser;
    std::shared_ptr<ui::NavigationController> navigation;
    std::string book, pdf;
};

TEST_F(WebBrowseControllerTest, BookAndPdfLinksAskOnceAndYesQueuesTheDownload) {
    const std::string index = nginx.url("/index.html");
    show(index);
    EXPECT_EQ(browser->title(), "Books");
    EXPECT_EQ(browser->addressField()->text(), index);

    // A book link asks instead of loading; a second book link while the
    // question is up asks nothing and queues nothing.
    tapLink("#cbz");
    ASSERT_TRUE(driver->findByText(question("Story One.cbz")));
    EXPECT_TRUE(browser->isShowAlertToDownload());
    ui::Rect pdfLink = browser->webView()->rectForElement("#pdf");
    browser->webView()->activateLinkAt({pdfLink.x() + 6, pdfLink.y() + pdfLink.height() / 2});
    driver->advance(0.5);
    EXPECT_FALSE(driver->findByText(question("Manual.pdf")));
    EXPECT_TRUE(driver->snapshot(snapshotPath("web_browser_question.png")));

    // "No" leaves the page as it was.
    ASSERT_TRUE(tapText("No"));
    driver->advance(0.6);
    EXPECT_FALSE(browser->isShowAlertToDownload());
    EXPECT_EQ(browser->webView()->URL(), index);
    EXPECT_FALSE(browser->webView()->canGoBack());
    EXPECT_EQ(queue->getTransferCount(), 0u);

    // "Yes" queues the file under its decoded name in the download folder.
    tapLink("#pdf");
    ASSERT_TRUE(driver->findByText(question("Manual.pdf")));
    ASSERT_TRUE(tapText("Yes"));
    driver->advance(0.6);
    tapLink("#cbz");
    ASSERT_TRUE(tapText("Yes"));
    driver->advance(0.6);
    ASSERT_TRUE(runIdle());
    ASSERT_EQ(queue->getRecentCue().size(), 2u);
    // The latest first.
    EXPECT_EQ(queue->getRecentCue()[0]->source, nginx.url("/comics/Story%20One.cbz"));
    EXPECT_EQ(queue->getRecentCue()[1]->source, nginx.url("/Manual.pdf?dl=1"));
    EXPECT_TRUE(readFile(out.file("Manual.pdf")) == pdf);
    EXPECT_TRUE(readFile(out.file("Story One.cbz")) == book);
    EXPECT_EQ(browser->webView()->URL(), index);

    // A folder link and a page link load in the browser.
    tapLink("#next");
    driver->advance(1);
    EXPECT_EQ(browser->title(), "Next");
    EXPECT_TRUE(browser->webView()->canGoBack());
    EXPECT_TRUE(browser->toolbarButtons()[1]->isEnabled());
    EXPECT_FALSE(browser->toolbarButtons()[2]->isEnabled());
    pressToolbar(1);
    EXPECT_EQ(browser->title(), "Books");
    tapLink("#folder");
    driver->advance(1);
    EXPECT_EQ(browser->webView()->URL(), nginx.url("/comics/"));
    EXPECT_FALSE(driver->findByText(question("comics")));
    EXPECT_EQ(queue->getTransferCount(), 0u);
}

TEST_F(WebBrowseControllerTest, WithoutAQueueABookLinkIsLoadedAndWhatCannotBeShownIsSaid) {
    show(nginx.url("/index.html"), false);
    tapLink("#cbz");
    driver->advance(1);
    EXPECT_FALSE(driver->findByText(question("Story One.cbz")));
    EXPECT_TRUE(driver->findByText("This kind of file cannot be shown."));
    ASSERT_TRUE(tapText("OK"));
    driver->advance(0.6);
    EXPECT_EQ(browser->title(), "Books");

    // A server that is not there fails with a message too.
    browser->addressField()->becomeFirstResponder();
    browser->addressField()->setText("127.0.0.1:9/none.html");
    browser->textFieldShouldReturn(*browser->addressField());
    driver->advance(2);
    auto* alert = driver->find([](ui::View& v) {
        const std::string t = ui::test::Driver::textOf(v);
        return t.find("onnect") != std::string::npos || t.find("could not") != std::string::npos;
    });
    EXPECT_TRUE(alert);
}

TEST_F(WebBrowseControllerTest, TheHomePageIsTheUsersOwnAndHomeLeadsBackToTheStartPage) {
    // No page of our own to start on: a blank page with the address bar.
    show(WebBrowseController::kBlankPage);
    EXPECT_EQ(browser->homePageUri(), WebBrowseController::kBlankPage);
    EXPECT_TRUE(browser->isAddressBarShown());
    EXPECT_FALSE(browser->toolbarButtons()[0]->isEnabled());
    EXPECT_TRUE(driver->findByText("Enter Address"));

    // An address typed without a scheme gets one.
    const std::string typed = nginx.url("/index.html").substr(std::string("http://").size());
    driver->tap(*browser->addressField());
    driver->type(typed);
    driver->pressReturn();
    driver->advance(1);
    EXPECT_EQ(browser->webView()->URL(), "http://" + typed);
    EXPECT_EQ(browser->title(), "Books");
    EXPECT_FALSE(browser->addressField()->isEditing());
    // The whole band takes the click; Escape leaves the edit and puts the
    // page's address back, with the browser still there.
    ui::Rect band = browser->addressField()->superview()->frame();
    driver->tap(browser->view()->convertPointToWindow({band.x() + 2, band.maxY() - 1}));
    ASSERT_TRUE(browser->addressField()->isEditing());
    driver->type("zzz");
    driver->key(ui::KeyInput::escape);
    driver->advance(0.6);
    EXPECT_FALSE(browser->addressField()->isEditing());
    EXPECT_EQ(browser->addressField()->text(), "http://" + typed);
    EXPECT_EQ(navigation->topViewController(), browser.get());

    // The action sheet makes the page the home page.
    browser->onActionBtn(browser->toolbarButtons()[4]);
    driver->advance(0.6);
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Open in Browser", "Set as Home Page", "Cancel"}));
    ASSERT_TRUE(tapText("Set as Home Page"));
    driver->advance(0.6);
    EXPECT_EQ(WebBrowseController::readHomePage(), "http://" + typed);

    // The next browser starts there, with Home leading back to the start page.
    show(WebBrowseController::kBlankPage);
    EXPECT_EQ(browser->webView()->URL(), "http://" + typed);
    EXPECT_EQ(browser->pagePopCount(), 1);
    EXPECT_EQ(browser->allowHost(), "127.0.0.1");
    EXPECT_TRUE(browser->toolbarButtons()[0]->isEnabled());
    browser->onActionBtn(browser->toolbarButtons()[4]);
    driver->advance(0.6);
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Open in Browser", "Revert to Original Home Page", "Cancel"}));
    ASSERT_TRUE(tapText("Cancel"));
    driver->advance(0.6);
    pressToolbar(0);
    EXPECT_EQ(browser->webView()->URL(), WebBrowseController::kBlankPage);
    EXPECT_EQ(browser->pagePopCount(), 0);
    EXPECT_FALSE(browser->toolbarButtons()[0]->isEnabled());

    // Reverting stores the start page again.
    browser->webView()->load("http://" + typed);
    driver->advance(1);
    browser->onActionBtn(browser->toolbarButtons()[4]);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Revert to Original Home Page"));
    driver->advance(0.6);
    EXPECT_EQ(WebBrowseController::readHomePage(), WebBrowseController::kBlankPage);
    EXPECT_TRUE(driver->snapshot(snapshotPath("web_browser_page.png")));
}

TEST_F(WebBrowseControllerTest, LeavingKnownPagesIsCountedAndRevealsTheAddressBar) {
    // From the product's own pages another host becomes trusted.
    show(nginx.url("/leafbright/index.html"));
    EXPECT_FALSE(browser->isAddressBarShown());
    tapLink("#out");
    driver->advance(1);
    EXPECT_EQ(browser->title(), "Other");
    EXPECT_EQ(browser->pagePopCount(), 1);
    EXPECT_EQ(browser->allowHost(), "127.0.0.1");
    EXPECT_FALSE(browser->isAddressBarShown());
    tapLink("#third");
    driver->advance(1);
    EXPECT_EQ(browser->title(), "Third");
    EXPECT_EQ(browser->pagePopCount(), 2);
    EXPECT_FALSE(browser->isAddressBarShown());

    // Without other sites allowed, the first link away shows the address bar.
    show(nginx.url("/other/page.html"), true, false);
    EXPECT_FALSE(browser->isAddressBarShown());
    tapLink("#third");
    driver->advance(1);
    EXPECT_EQ(browser->pagePopCount(), 1);
    EXPECT_TRUE(browser->isAddressBarShown());
    EXPECT_FALSE(browser->addressField()->isHidden());
    EXPECT_GE(browser->webView()->frame().y(), browser->addressField()->frame().maxY() - 0.5);
}

TEST_F(WebBrowseControllerTest, OpenInTheSystemBrowserAndStoreLinksGoToTheSystem) {
    write(www.file("store.html"), std::string("<html><head><title>Store</title></head><body><p id=\"store\"><a href=\"") +
                                      WebBrowseController::kAppStoreAddress + "leafbright\">Get it</a></p></body></html>");
    auto opener = ui::RecordingURLOpener::install();
    const std::string page = nginx.url("/store.html");
    show(page);
    ASSERT_EQ(browser->title(), "Store");

    // A link to the store is handed over and not loaded here.
    tapLink("#store");
    EXPECT_EQ(opener->opened, std::vector<std::string>{std::string(WebBrowseController::kAppStoreAddress) + "leafbright"});
    EXPECT_EQ(browser->webView()->URL(), page);

    // "Open in Safari" hands the page's address over; a failure is said.
    browser->onActionBtn(browser->toolbarButtons()[4]);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Open in Browser"));
    driver->advance(0.6);
    EXPECT_EQ(opener->opened.back(), page);
    EXPECT_FALSE(driver->findByText("Error opening URL."));
    opener->failOpen = true;
    browser->onActionBtn(browser->toolbarButtons()[4]);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Open in Browser"));
    driver->advance(0.6);
    EXPECT_TRUE(driver->findByText("Error opening URL."));
    ui::Application::shared().reset();
}

// Stop ends a page load that hangs at once: nothing is waited for, the page
// shown stays, and the tool bar offers Reload again.
TEST_F(WebBrowseControllerTest, StopEndsAHangingLoadAtOnce) {
    test::FaultHttpServer stalling(www.path());
    ASSERT_TRUE(stalling.start());
    show(nginx.url("/next.html"));
    ASSERT_EQ(browser->title(), "Next");
    browser->webView()->load(stalling.url("/index.html?stall_from=1"));
    ASSERT_TRUE(stalling.waitForStalled(1, 5));
    EXPECT_TRUE(browser->webView()->isLoading());
    EXPECT_FALSE(browser->toolbarButtons()[3]->systemItem().has_value()) << "Stop while loading";
    const auto start = std::chrono::steady_clock::now();
    pressToolbar(3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(browser->webView()->isLoading());
    EXPECT_EQ(browser->title(), "Next");
    EXPECT_EQ(browser->toolbarButtons()[3]->systemItem(), ui::BarButtonSystemItem::Refresh);
}

// A page keeps a listing's time limits (shortened here; waited for in real
// time, as they are): one that drips below the pace, one that stalls after
// its first bytes, and one that takes longer than the deadline in all show
// what came, with a note; one that sends nothing of its page fails and says
// why.
TEST_F(WebBrowseControllerTest, APageSentTooSlowlyShowsWhatCameWithANote) {
    std::string page = "<html><head><title>Slow</title></head><body><p id=\"first\">First part</p>";
    for (int i = 0; i < 400; ++i) page += "<p>More of the page " + std::to_string(i) + "</p>";
    page += "<p id=\"last\">Last</p></body></html>";
    write(www.file("slow.html"), page);
    test::FaultHttpServer server(www.path());
    ASSERT_TRUE(server.start());
    show(nginx.url("/next.html"));
    auto* web = browser->webView();
    auto loaded = [&](const std::string& query, const WebBrowseController::FetchLimits& limits) {
        browser->setFetchLimits(limits);
        web->load(server.url("/slow.html?" + query));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(test::drainUntil([&] { return !web->isLoading(); }, 15)) << query;
        driver->advance(0.5);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (const auto& [query, limits] : std::vector<std::pair<std::string, WebBrowseController::FetchLimits>>{
             {"rate=50", {60, 2, 100}}, {"stall_after=300", {60, 2, 100}}, {"rate=2000", {2, 60, 100}}}) {
        EXPECT_LT(loaded(query, limits), 8) << query;
        EXPECT_EQ(browser->title(), "Slow") << query;
        EXPECT_FALSE(web->rectForElement("#first").isNull()) << query;
        EXPECT_TRUE(web->rectForElement("#last").isNull()) << query;
        EXPECT_FALSE(web->rectForElement("#leafbright-note").isNull()) << query;
    }

    // Nothing of the page: a failure that says which limit it passed.
    loaded("stall_after=0", {60, 2, 100});
    EXPECT_TRUE(driver->find([](ui::View& v) {
        return ui::test::Driver::textOf(v).find("The page could not be loaded. (under 100\u00a0bytes a second for 2\u00a0s)") !=
               std::string::npos;
    }));
}

// A page its server compresses is shown decoded, and its size limit counts
// the decoded bytes: a small page that unpacks to gigabytes is refused.
TEST_F(WebBrowseControllerTest, ACompressedPageIsShownDecodedWithinTheSizeLimit) {
    write(www.file("packed/page.html"), "<html><head><title>Packed</title></head><body><p id=\"inside\">Inside</p></body></html>");
    std::ofstream(www.file("packed/bomb.html"), std::ios::binary) << "<html><body>" << std::string(64u << 20, ' ');
    ASSERT_EQ(test::shell("gzip -k " + www.file("packed/page.html") + " && gzip -k " + www.file("packed/bomb.html")), 0);
    fs::remove(www.file("packed/page.html"));
    fs::remove(www.file("packed/bomb.html"));
    test::NginxServer packing;
    packing.setLocationConfig("gzip_static always;");
    ASSERT_TRUE(packing.start(www.path())) << packing.lastError();
    show(packing.url("/packed/page.html"));
    EXPECT_EQ(browser->title(), "Packed");
    EXPECT_FALSE(browser->webView()->rectForElement("#inside").isNull());

    browser->webView()->load(packing.url("/packed/bomb.html"));
    ASSERT_TRUE(test::drainUntil([&] { return !browser->webView()->isLoading(); }, 15));
    driver->advance(0.5);
    EXPECT_TRUE(driver->findByText("The page is too large."));
}

// A text for the page's form goes in as a string literal, whatever it holds.
TEST_F(WebBrowseControllerTest, TheTextToSendIsPutIntoThePageAsAStringLiteral) {
    browser = std::make_shared<WebBrowseController>();
    browser->setRootWebPage_(nginx.url("/next.html"));
    browser->setSendDebugInformation_(std::string("line \"one\"\n\\two\x01"));
    navigation = std::make_shared<ui::NavigationController>(browser);
    window->setRootViewController(navigation);
    driver->advance(1);
    ASSERT_EQ(browser->title(), "Next");
    const auto& scripts = browser->webView()->evaluatedScripts();
    auto it = std::find_if(scripts.begin(), scripts.end(),
                           [](const std::string& s) { return s.find("debuginfo") != std::string::npos; });
    ASSERT_NE(it, scripts.end());
    EXPECT_NE(it->find("el.value = \"line \\\"one\\\"\\n\\\\two\\u0001\";"), std::string::npos) << *it;
}

TEST(WebBrowseControllerAddresses, DownloadLinksAndTypedAddresses) {
    EXPECT_TRUE(WebBrowseController::isDownloadLink("http://h/a/Book.CBZ"));
    EXPECT_TRUE(WebBrowseController::isDownloadLink("http://h/x.pdf?dl=1#p2"));
    EXPECT_TRUE(WebBrowseController::isDownloadLink("https://h/My%20Comic.zip"));
    EXPECT_FALSE(WebBrowseController::isDownloadLink("http://h"));
    EXPECT_FALSE(WebBrowseController::isDownloadLink("http://h/"));
    EXPECT_FALSE(WebBrowseController::isDownloadLink("http://h/books.cbz/"));
    EXPECT_FALSE(WebBrowseController::isDownloadLink("http://h/page.html"));
    EXPECT_FALSE(WebBrowseController::isDownloadLink("http://h/?file=a.cbz"));
    EXPECT_EQ(WebBrowseController::addressFromTypedText("example.org/a"), "http://example.org/a");
    EXPECT_EQ(WebBrowseController::addressFromTypedText("https://example.org"), "https://example.org");
    EXPECT_EQ(WebBrowseController::addressFromTypedText("httpbin.org"), "httpbin.org");
    EXPECT_FALSE(WebBrowseController::addressFromTypedText(""));
}

}  // namespace
