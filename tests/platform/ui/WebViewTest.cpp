#include "UITestSupport.h"

#include "platform/core/RunLoop.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/WebURL.h"
#include "platform/ui/PointerShape.h"
#include "platform/ui/WebView.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace ui;
using uitest::UITest;
using uitest::repeat;

namespace {

// Decides as told and writes down what the web view reports.
class Navigator : public WebViewNavigationDelegate {
public:
    std::vector<std::string> log;
    NavigationActionPolicy answer = NavigationActionPolicy::Allow;
    bool deferred = false;
    DecisionHandler pending;
    std::vector<NavigationAction> actions;
    int lastErrorCode = 0;
    std::string lastError;

    void webViewDecidePolicyForNavigationAction(WebView&, const NavigationAction& a, DecisionHandler decide) override {
        actions.push_back(a);
        log.push_back("decide " + WebURL::lastPathComponent(a.url));
        if (deferred)
            pending = decide;
        else
            decide(answer);
    }
    void webViewDidStartProvisionalNavigation(WebView&) override { log.push_back("start"); }
    void webViewDidFinishNavigation(WebView& w) override { log.push_back("finish " + w.title()); }
    void webViewDidFailProvisionalNavigation(WebView&, int code, const std::string& description) override {
        lastErrorCode = code;
        lastError = description;
        log.push_back("fail");
    }
    void webViewCreateWebViewForNavigationAction(WebView&, const NavigationAction& a) override {
        log.push_back("new window " + a.url);
    }
};

void write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class WebViewTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        driver = std::make_unique<ui::test::Driver>(*window);
        web = std::make_shared<WebView>(window->bounds());
        web->setNavigationDelegate(&nav);
        window->addSubview(web);
        driver->settle();
        write(dir.file("about.html"),
              "<html><head><title>About</title><link rel=\"stylesheet\" href=\"style.css\"></head><body>"
              "<h1 id=\"top\">Leafbright</h1><p><a id=\"upd\" href=\"update_en.html\">What is new</a></p>"
              "<p><a id=\"ext\" href=\"https://example.com/\" target=\"_blank\">Web site</a></p>"
              "<div style=\"height: 2000px\"></div><p id=\"end\"><a id=\"back\" href=\"#top\">Top</a></p>"
              "</body></html>");
        write(dir.file("style.css"), "h1 { color: #ff0000; }");
        write(dir.file("update_en.html"), "<html><head><title>Update</title></head><body><p>New</p></body></html>");
    }
    void TearDown() override {
        web->setNavigationDelegate(nullptr);
        web.reset();
        driver.reset();
        UITest::TearDown();
    }
    // Taps the middle of an element of the page.
    void tapElement(const std::string& selector) {
        Rect r = web->rectForElement(selector);
        ASSERT_FALSE(r.isNull()) << selector;
        Point p = web->scrollView()->convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2});
        driver->tap(p);
    }
    ::test::TempDir dir{"web"};
    Navigator nav;
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<WebView> web;
};

}  // namespace

TEST(WebURLTest, ReferencesResolveAndFileURLsRoundTrip) {
    const std::string base = "http://a/b/c/d;p?q";
    EXPECT_EQ(WebURL::resolve(base, "g"), "http://a/b/c/g");
    EXPECT_EQ(WebURL::resolve(base, "./g"), "http://a/b/c/g");
    EXPECT_EQ(WebURL::resolve(base, "g/"), "http://a/b/c/g/");
    EXPECT_EQ(WebURL::resolve(base, "/g"), "http://a/g");
    EXPECT_EQ(WebURL::resolve(base, "//g"), "http://g");
    EXPECT_EQ(WebURL::resolve(base, "?y"), "http://a/b/c/d;p?y");
    EXPECT_EQ(WebURL::resolve(base, "#s"), "http://a/b/c/d;p?q#s");
    EXPECT_EQ(WebURL::resolve(base, "../g"), "http://a/b/g");
    EXPECT_EQ(WebURL::resolve(base, "../../../g"), "http://a/g");
    EXPECT_EQ(WebURL::resolve(base, "g;x?y#s"), "http://a/b/c/g;x?y#s");
    EXPECT_EQ(WebURL::resolve(base, "https://x/y/../z"), "https://x/z");
    EXPECT_EQ(WebURL::resolve("file:///res/about.html", "update_en.html"), "file:///res/update_en.html");

    std::string url = WebURL::fromPath("/books/My Comic #1/page%.html");
    EXPECT_EQ(url, "file:///books/My%20Comic%20%231/page%25.html");
    EXPECT_EQ(WebURL::toPath(url), "/books/My Comic #1/page%.html");
    EXPECT_EQ(WebURL::toPath("file://localhost/a/b"), "/a/b");
    EXPECT_EQ(WebURL::toPath("file://otherhost/a/b"), "");
    EXPECT_EQ(WebURL::toPath("http://a/b"), "");
    EXPECT_EQ(WebURL::toPath("file:///a%00b"), "");
    EXPECT_EQ(WebURL::lastPathComponent("https://h/x/leafbrightui?name=a&link=b"), "leafbrightui");
    EXPECT_EQ(WebURL::lastPathComponent("file:///r/about"), "about");
    EXPECT_EQ(WebURL::fragment("a.html#top"), "top");
}

TEST_F(WebViewTest, AStringPageLoadsOnTheNextTurnAndAnswersItsAddressAndTitle) {
    web->loadHTMLString("<html><head><title>Notice</title></head><body><p>Hello</p></body></html>",
                        WebURL::fromPath(dir.file("notice.html")));
    EXPECT_EQ(nav.log, (std::vector<std::string>{"decide notice.html", "start"}));
    EXPECT_TRUE(web->isLoading());
    driver->settle();
    EXPECT_EQ(nav.log.back(), "finish Notice");
    EXPECT_FALSE(web->isLoading());
    EXPECT_EQ(web->title(), "Notice");
    EXPECT_GT(web->documentSize().height, 10);
    EXPECT_EQ(web->scrollView()->contentSize().height, web->documentSize().height);

    std::vector<std::string> answers;
    auto note = [&](std::optional<std::string> r, const std::string& e) { answers.push_back(r ? *r : "error: " + e); };
    web->evaluateJavaScript("document.URL", note);
    web->evaluateJavaScript(" document.title; ", note);
    web->evaluateJavaScript("window.webViewCallback('a' , 'b' , 'c');", note);
    driver->settle();
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], WebURL::fromPath(dir.file("notice.html")));
    EXPECT_EQ(answers[1], "Notice");
    EXPECT_EQ(answers[2].rfind("error:", 0), 0u);
    EXPECT_EQ(web->evaluatedScripts().size(), 3u);
    EXPECT_EQ(web->evaluatedScripts()[2], "window.webViewCallback('a' , 'b' , 'c');");

    // Without a base the page is about:blank.
    web->loadHTMLString("<p>x</p>", "");
    driver->settle();
    EXPECT_EQ(web->URL(), "about:blank");
}

TEST_F(WebViewTest, LinksAskTheDelegateAndBuildTheBackForwardList) {
    web->load(WebURL::fromPath(dir.file("about.html")));
    driver->settle();
    ASSERT_EQ(web->title(), "About");
    EXPECT_EQ(nav.actions.back().navigationType, NavigationType::Other);
    // A refused link keeps the page.
    nav.answer = NavigationActionPolicy::Cancel;
    tapElement("#upd");
    EXPECT_EQ(nav.actions.back().navigationType, NavigationType::LinkActivated);
    EXPECT_EQ(nav.actions.back().url, WebURL::fromPath(dir.file("update_en.html")));
    driver->settle();
    EXPECT_EQ(web->title(), "About");
    EXPECT_FALSE(web->canGoBack());
    // An allowed one loads the page relative to this one.
    nav.answer = NavigationActionPolicy::Allow;
    tapElement("#upd");
    driver->settle();
    EXPECT_EQ(web->title(), "Update");
    EXPECT_TRUE(web->canGoBack());
    EXPECT_FALSE(web->canGoForward());
    auto list = web->backForwardList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].title, "About");
    web->goBack();
    EXPECT_EQ(nav.actions.back().navigationType, NavigationType::BackForward);
    driver->settle();
    EXPECT_EQ(web->title(), "About");
    EXPECT_TRUE(web->canGoForward());
    EXPECT_EQ(web->backForwardIndex(), 0);
    // A new page drops the forward list.
    web->loadHTMLString("<title>Other</title>", "file:///x/other.html");
    driver->settle();
    EXPECT_FALSE(web->canGoForward());
    EXPECT_EQ(web->backForwardList().size(), 2u);
    // Back to a string page shows it again from the string.
    web->load(WebURL::fromPath(dir.file("update_en.html")));
    driver->settle();
    web->goBack();
    driver->settle();
    EXPECT_EQ(web->title(), "Other");

    // A page from a server never leads to a file of this computer, whatever
    // its base or the link's case; a local page still does.
    const std::string local = WebURL::fromPath(dir.file("update_en.html"));
    web->loadHTMLString("<html><head><title>Web</title><base href=\"file:///\"></head><body>"
                        "<p><a id=\"abs\" href=\"" + local + "\">Local</a></p>"
                        "<p><a id=\"upper\" href=\"FILE://" + local.substr(7) + "\">Upper</a></p>"
                        "<p><a id=\"rel\" href=\"" + local.substr(8) + "\">Relative</a></p>"
                        "<p><a id=\"blank\" href=\"" + local + "\" target=\"_blank\">New window</a></p></body></html>",
                        "https://example.com/page.html");
    driver->settle();
    ASSERT_EQ(web->title(), "Web");
    nav.log.clear();
    for (const char* link : {"#abs", "#upper", "#rel", "#blank"}) {
        tapElement(link);
        driver->settle();
        EXPECT_EQ(web->title(), "Web") << link;
    }
    EXPECT_TRUE(nav.log.empty()) << nav.log.front();
    web->goBack();
    driver->settle();
    ASSERT_EQ(web->title(), "Other");
    web->load(WebURL::fromPath(dir.file("about.html")));
    driver->settle();
    tapElement("#upd");
    driver->settle();
    EXPECT_EQ(web->title(), "Update");
}

TEST_F(WebViewTest, NewWindowsFragmentsAndFailures) {
    web->load(WebURL::fromPath(dir.file("about.html")));
    driver->settle();
    nav.log.clear();
    // target=_blank: asked, then handed to the delegate; nothing loads here.
    tapElement("#ext");
    driver->settle();
    EXPECT_FALSE(nav.actions.back().hasTargetFrame);
    EXPECT_EQ(nav.log, (std::vector<std::string>{"decide ", "new window https://example.com/"}));
    EXPECT_EQ(web->title(), "About");

    // A link to a place in the page scrolls there without loading.
    web->scrollView()->setContentOffset({0, web->rectForElement("#end").y() - 100});
    nav.log.clear();
    tapElement("#back");
    driver->settle();
    EXPECT_EQ(nav.log, (std::vector<std::string>{"decide about.html"}));
    EXPECT_EQ(web->scrollView()->contentOffset().y, web->rectForElement("#top").y());
    EXPECT_EQ(WebURL::fragment(web->URL()), "top");
    EXPECT_TRUE(web->canGoBack());

    // A missing file and an address nothing can load fail.
    nav.log.clear();
    web->load(WebURL::fromPath(dir.file("missing.html")));
    driver->settle();
    EXPECT_EQ(nav.log.back(), "fail");
    EXPECT_EQ(nav.lastErrorCode, WebView::kErrorFileNotFound);
    EXPECT_EQ(web->title(), "About");
    web->load("https://example.com/page");
    driver->settle();
    EXPECT_EQ(nav.lastErrorCode, WebView::kErrorUnsupportedURL);
    // With a content loader the address loads.
    web->setContentLoader([](const std::string& url, std::string& html, std::string&) {
        html = "<title>" + WebURL::lastPathComponent(url) + "</title>";
        return true;
    });
    web->load("https://example.com/page");
    driver->settle();
    EXPECT_EQ(web->title(), "page");

    // A decision that comes late still counts; a newer navigation wins.
    nav.deferred = true;
    web->load(WebURL::fromPath(dir.file("update_en.html")));
    auto first = nav.pending;
    web->load(WebURL::fromPath(dir.file("about.html")));
    auto second = nav.pending;
    first(NavigationActionPolicy::Allow);
    driver->settle();
    EXPECT_EQ(web->title(), "page");
    second(NavigationActionPolicy::Allow);
    second(NavigationActionPolicy::Allow);  // a second answer is ignored
    driver->settle();
    EXPECT_EQ(web->title(), "About");

    // A page that overspends its layout with its styles and without them
    // (bounds loose enough to let it through) is refused, and says so.
    nav.deferred = false;
    WebPageBounds::Limits loose;
    loose.maxTableNesting = 1000;
    loose.maxLayoutWeight = 1L << 40;
    web->setPageLimits(loose);
    web->loadHTMLString("<title>Tables</title>" + repeat("<table><tr><td>x", 40), "http://127.0.0.1:1/tables.html");
    driver->settle();
    EXPECT_EQ(nav.lastErrorCode, WebView::kErrorPageTooComplex);
    EXPECT_EQ(nav.lastError, "This page is too complex to show.");
    EXPECT_EQ(web->title(), "About");
}

// A page taller than can be drawn shows its top, cut with the note; so
// does one whose letters are that tall.
TEST_F(WebViewTest, ATallPageShowsItsTopCutWithANote) {
    // Below a bar, as in the browser.
    web->setFrame(Rect(0, 74, window->bounds().width(), window->bounds().height() - 74));
    driver->settle();
    for (const std::string body : {"<div style=\"height:99999999px\"></div>", "<div style=\"height:10000000px\"></div>",
                                   "<p style=\"font-size:99999999px\">big</p>"}) {
        web->loadHTMLString("<html><head><title>Tall</title></head><body><p id=\"before\">BEFORE</p>" + body +
                                "<p>AFTER</p></body></html>",
                            "http://127.0.0.1:1/tall.html");
        driver->settle();
        ASSERT_EQ(web->title(), "Tall") << body;
        EXPECT_FALSE(web->rectForElement("#leafbright-note").isNull()) << body;
        EXPECT_LE(web->scrollView()->contentSize().height, WebPageLayout::kMaxHeight) << body;
        window->render();
        // Some of BEFORE's ink is on the screen.
        const Rect before = web->rectForElement("#before");
        ASSERT_FALSE(before.isNull()) << body;
        int ink = 0;
        for (double y = before.minY(); y < before.maxY(); y += 1)
            for (double x = before.minX(); x < before.minX() + 80; x += 1) {
                const Point p = web->scrollView()->convertPointToWindow({x, y});
                if (near(pixelAt(p.x, p.y), 0, 0, 0, 100)) ++ink;
            }
        EXPECT_GT(ink, 10) << body;
    }
}

TEST_F(WebViewTest, ARenderedPageLooksRight) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    // An image next to the page, referred to relatively.
    {
        gfx::Canvas c(48, 48, 1.0);
        c.fillRect(gfx::Rect(0, 0, 48, 48), gfx::Rgba::rgb(0.2, 0.6, 0.2));
        c.fillEllipse(gfx::Rect(8, 8, 32, 32), gfx::Rgba::rgb(1, 0.85, 0.1));
        c.writePNG(dir.file("icon.png"));
    }
    // The box's background comes from sheets imported by name and by
    // url(), which import each other (and themselves): each is read once,
    // and the page is shown.
    write(dir.file("a.css"), "@import \"b.css\";\n.box { background: #eef4ff; }");
    write(dir.file("b.css"), "@import url(a.css);\n@import \"b.css\";");
    std::string html = R"(<html><head><title>About Leafbright</title>
<style>
@import "a.css";
body { background: #ffffff; color: #000000; font-size: 15px; }
h1 { color: #1a4f8b; }
.box { border: 1px solid #888888; padding: 8px; margin: 10px 0; }
td, th { border: 1px solid #cccccc; padding: 4px 8px; }
a { color: #0000ff; }
</style></head><body>
<h1><img src="icon.png" width="48" height="48"> Leafbright</h1>
<p>Version <b>0.1.0</b>. A reader for <i>comics</i> and image books.</p>
<div class="box">Pages open where you left them.</div>
<ul><li>Zip, RAR, 7z and PDF</li><li>Right-to-left spreads</li><li>Remote servers</li></ul>
<ol><li>First</li><li>Second</li></ol>
<table><tr><th>Format</th><th>Extension</th></tr><tr><td>Comic zip</td><td>cbz</td></tr>
<tr><td>Comic rar</td><td>cbr</td></tr></table>
<p><a href="update_en.html">Submit Bugs and Feedback</a></p>
</body></html>)";
    web->loadHTMLString(html, WebURL::fromPath(dir.file("about.html")));
    driver->settle();
    ASSERT_EQ(web->title(), "About Leafbright");
    std::filesystem::path out = std::filesystem::path(::test::workDir()) / "snapshots";
    std::filesystem::create_directories(out);
    ASSERT_TRUE(driver->snapshot((out / "web-page.png").string()));

    // The heading's colour, the box's background and the image's yellow are where layout put them.
    Rect box = web->rectForElement(".box");
    Rect img = web->rectForElement("img");
    ASSERT_FALSE(box.isNull());
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), 48);
    // (The placement is the content box: its padding lies 8 points around it.)
    Point boxCorner = web->scrollView()->convertPointToWindow({box.x() - 4, box.y() - 4});
    auto p = pixelAt(boxCorner.x, boxCorner.y);
    EXPECT_TRUE(near(p, 0xee, 0xf4, 0xff)) << p.r << "," << p.g << "," << p.b;
    Point imgMiddle = web->scrollView()->convertPointToWindow({img.x() + 24, img.y() + 24});
    EXPECT_TRUE(near(pixelAt(imgMiddle.x, imgMiddle.y), 255, 217, 26, 10));
    Point imgCorner = web->scrollView()->convertPointToWindow({img.x() + 2, img.y() + 2});
    EXPECT_TRUE(near(pixelAt(imgCorner.x, imgCorner.y), 51, 153, 51, 10));
    // The table has its cells side by side.
    Rect th1 = web->rectForElement("th");
    EXPECT_GT(th1.width(), 20);
}

namespace {

// What a page from a server did to a web view, measured in a child process.
struct PageOutcome {
    bool shown = false;       // loaded, titled as it says
    bool noted = false;       // with the note of a page cut or simplified
    double seconds = 1e9;     // until it showed
    double longestTurn = 1e9; // the longest the main thread was held meanwhile
    double frameSeconds = 1e9;
    uint64_t grewBy = ~uint64_t(0);
};

}  // namespace

// Pages a server may send to wear the program out: each is shown (cut where
// it must be, with a note at its top) within seconds and a few hundred MB,
// laid out while the main thread stays free. Each page runs in a child
// process with the real text engine, bounded in time and address space.
TEST_F(WebViewTest, HostilePagesFromAServerAreShownCutWithinSecondsAndMemory) {
    struct Attack {
        std::string name;
        std::string body;
        bool cut;
        uint64_t maxGrowth;
    };
    const uint64_t MB = 1 << 20;
    const std::vector<Attack> attacks = {
        {"2,000 nested tables", repeat("<table><tr><td>", 2000) + "deep", true, 300 * MB},
        {"20,000 nested divs", repeat("<div>", 20000) + "deep", true, 300 * MB},
        {"10,000 nested divs", repeat("<div>", 10000) + "deep", true, 300 * MB},
        {"spans past any table",
         "<table><tr><td colspan=\"2147483647\">x</td><td rowspan=\"99999999\">y</td></tr></table>", false, 100 * MB},
        {"20,000 unclosed cells spanning the rows below", "<table>" + repeat("<tr><td rowspan=99999999>x", 20000), true,
         300 * MB},
        {"900,000 paragraphs (7 MB)", repeat("<p>para\n", 900000), true, 300 * MB},
        {"a list numbered from 2^31", "<ol start=2147483647 style=\"list-style-type:upper-roman\"><li>a<li>b</ol>",
         false, 64 * MB},
        // The parser itself: formatting elements it copies at every block.
        {"3,000 formatting elements copied",
         "<div>" + [] {
             std::string b;
             for (int i = 0; i < 3000; ++i) b += "<b id=" + std::to_string(i) + ">";
             return b;
         }() + "</div>" + repeat("<div>x</div>", 3000),
         true, 300 * MB},
        // Styles: cells nested by style, and a rule that looks through every
        // ancestor in every way.
        {"cells nested by style", "<style>div { display: table-cell }</style>" + repeat("<div>", 2000) + "x", true,
         300 * MB},
        {"a selector that backtracks", "<style>section div div div div div div div div span { color: red }</style>" +
                                           repeat("<div>", 60) + "<span>x</span>",
         true, 64 * MB},
        // Each rule that matches is kept with its element.
        {"5,000 rules matching 3,000 elements", "<style>" + repeat(".c { color: red }", 5000) + "</style>" +
                                                     repeat("<p class=c>x</p>", 3000),
         true, 150 * MB},
        // litehtml's parsing of a selector grows with the square of its
        // combinators; a sheet never closed takes the rest of the page.
        {"a selector of 4,000 combinators", "<style>" + repeat("a>", 4000) + "a{color:red}</style><p>x</p>", true,
         150 * MB},
        {"an unclosed style sheet of 8 MB", "<style>" + repeat(repeat("a ", 30) + "a{color:red}\n", 110000), true,
         300 * MB},
        // Floats: each is placed by going through those before it.
        {"6,000 floats", [] {
             std::string b;
             for (int i = 0; i < 6000; ++i)
                 b += std::string("<div style=\"float:") + (i % 2 ? "right" : "left") + ";width:" +
                      std::to_string(5 + i * 7 % 60) + "%;height:" + std::to_string(10 + i * 13 % 50) + "px\">f</div>";
             return b;
         }(),
         true, 300 * MB},
    };
    for (const Attack& a : attacks) {
        const PageOutcome o = ::test::inChildProcess<PageOutcome>(
            [&] {
                gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
                PageOutcome r;
                const uint64_t before = ::test::peakResident();
                const auto start = std::chrono::steady_clock::now();
                auto since = [](std::chrono::steady_clock::time_point t) {
                    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
                };
                web->loadHTMLString("<html><head><title>Attack</title></head><body>" + a.body,
                                    "http://127.0.0.1:1/attack.html");
                r.longestTurn = 0;
                while (since(start) < 60) {
                    const auto turn = std::chrono::steady_clock::now();
                    sys::RunLoop::main().runOnce();
                    r.longestTurn = std::max(r.longestTurn, since(turn));
                    if (!web->isLoading()) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                r.seconds = since(start);
                r.shown = !web->isLoading() && web->title() == "Attack";
                const Rect note = web->rectForElement("#leafbright-note");
                r.noted = !note.isNull() && note.height() > 0;
                const auto frame = std::chrono::steady_clock::now();
                window->render();
                r.frameSeconds = since(frame);
                r.grewBy = ::test::peakResident() - before;
                return r;
            },
            PageOutcome{}, {30, 6ull << 30});
        EXPECT_TRUE(o.shown) << a.name;
        EXPECT_EQ(o.noted, a.cut) << a.name;
        EXPECT_LT(o.seconds, 10) << a.name;
        EXPECT_LT(o.longestTurn, 0.5) << a.name;
        EXPECT_LT(o.frameSeconds, 0.5) << a.name;
        EXPECT_LT(o.grewBy, a.maxGrowth) << a.name;
    }
}

// A page from a server gets its pictures and style sheets from the network
// only: a file: address (written so, imported, or through a <base>) reads
// nothing of this computer. A page that is itself such a file still uses
// its neighbours.
TEST_F(WebViewTest, APageFromAServerUsesNoFileOfThisComputer) {
    {
        gfx::Canvas c(40, 30, 1.0);
        c.fillRect(gfx::Rect(0, 0, 40, 30), gfx::Rgba::rgb(1, 0, 0));
        c.writePNG(dir.file("secret.png"));
    }
    write(dir.file("tall.css"), "#linked { height: 300px; }");
    write(dir.file("taller.css"), "#imported { height: 400px; }");
    const std::string folder = WebURL::fromPath(dir.path()) + "/";
    auto page = [&](const std::string& base) {
        return "<html><head><title>Page</title>" + base +
               "<link rel=\"stylesheet\" href=\"" + folder + "tall.css\">"
               "<style>@import \"" + folder + "taller.css\";</style></head><body>"
               "<p><img id=\"absolute\" src=\"" + folder + "secret.png\"></p>"
               "<p><img id=\"upper\" src=\"FILE://" + folder.substr(7) + "secret.png\"></p>"
               "<div id=\"linked\"></div><div id=\"imported\"></div>"
               "<div id=\"painted\" style=\"height: 20px; background-image: url(" + folder + "secret.png)\"></div>"
               "</body></html>";
    };
    auto loaded = [&](const std::string& html, const std::string& url) {
        web->loadHTMLString(html, url);
        driver->settle();
        return web->title() == "Page";
    };
    for (const std::string& url : {std::string("http://127.0.0.1:1/page.html"), std::string("https://example.com/")}) {
        ASSERT_TRUE(loaded(page(""), url)) << url;
        EXPECT_EQ(web->rectForElement("#absolute").width(), 0) << url;
        EXPECT_EQ(web->rectForElement("#upper").width(), 0) << url;
        EXPECT_EQ(web->rectForElement("#linked").height(), 0) << url;
        EXPECT_EQ(web->rectForElement("#imported").height(), 0) << url;
        // Relative references under a <base> of this computer.
        ASSERT_TRUE(loaded("<html><head><title>Page</title><base href=\"" + folder +
                               "\"><link rel=\"stylesheet\" href=\"tall.css\"></head><body>"
                               "<p><img id=\"relative\" src=\"secret.png\"></p><div id=\"linked\"></div></body></html>",
                           url));
        EXPECT_EQ(web->rectForElement("#relative").width(), 0) << url;
        EXPECT_EQ(web->rectForElement("#linked").height(), 0) << url;
    }
    // Nor is the background drawn.
    ASSERT_TRUE(loaded(page(""), "http://127.0.0.1:1/page.html"));
    window->render();
    const Rect painted = web->rectForElement("#painted");
    const Point p = web->scrollView()->convertPointToWindow({painted.x() + 10, painted.y() + 10});
    EXPECT_FALSE(near(pixelAt(p.x, p.y), 255, 0, 0, 30));

    // The same page as a file of this computer.
    ASSERT_TRUE(loaded(page(""), WebURL::fromPath(dir.file("page.html"))));
    EXPECT_EQ(web->rectForElement("#absolute").width(), 40);
    EXPECT_EQ(web->rectForElement("#upper").width(), 40);
    EXPECT_EQ(web->rectForElement("#linked").height(), 300);
    EXPECT_EQ(web->rectForElement("#imported").height(), 400);
    window->render();
    const Rect local = web->rectForElement("#painted");
    const Point q = web->scrollView()->convertPointToWindow({local.x() + 10, local.y() + 10});
    EXPECT_TRUE(near(pixelAt(q.x, q.y), 255, 0, 0, 30));

    // Its sheets hold no more rules than its elements can be tried against:
    // a sheet past them ends at a rule.
    std::string rules;
    for (int i = 0; i < 3000; ++i) rules += ".r" + std::to_string(i) + " { color: red }\n";
    write(dir.file("many.css"), rules + "#last { height: 300px; }");
    write(dir.file("few.css"), "#last { height: 300px; }");
    for (const char* sheet : {"few.css", "many.css"}) {
        ASSERT_TRUE(loaded("<html><head><title>Page</title><link rel=\"stylesheet\" href=\"" + std::string(sheet) +
                               "\"></head><body>" + repeat("<span></span>", 3000) + "<div id=\"last\"></div></body></html>",
                           WebURL::fromPath(dir.file("page.html"))));
        EXPECT_EQ(web->rectForElement("#last").height(), std::string(sheet) == "few.css" ? 300 : 0) << sheet;
    }
}

TEST_F(WebViewTest, ThePointerIsAHandOverALinkOnly) {
    web->load(WebURL::fromPath(dir.file("about.html")));
    driver->settle();
    auto pointAt = [this](const std::string& selector) {
        Rect r = web->rectForElement(selector);
        return web->scrollView()->convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2});
    };
    EXPECT_EQ(PointerShape::at(*window, pointAt("#upd")), PointerShape::Kind::Hand);
    EXPECT_EQ(PointerShape::at(*window, pointAt("#top")), PointerShape::Kind::Arrow);
    // Scrolled, the link under the pointer is another.
    web->scrollView()->setContentOffset({0, web->rectForElement("#end").y() - 100});
    EXPECT_EQ(PointerShape::at(*window, pointAt("#back")), PointerShape::Kind::Hand);
}
