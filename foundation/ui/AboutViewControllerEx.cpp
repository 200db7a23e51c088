#include "foundation/ui/AboutViewControllerEx.h"

#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/LBDebugLog.h"
#include "foundation/QNUrl.h"
#include "foundation/ResourceLocator.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/Date.h"
#include "platform/core/DateFormatter.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/TimeZone.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/WebURL.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::string percentDecoded(const std::string& s) { return sys::PercentEncoding::decode(s); }

// Page names come from our own pages and callers; they stay inside the pages folder.
bool isPlainPageName(const std::string& page) {
    if (page.empty() || page.find('/') != std::string::npos || page.find('\\') != std::string::npos) return false;
    return page.find("..") == std::string::npos && page[0] != '.';
}

std::string pagePath(const std::string& page) {
    if (!isPlainPageName(page)) return {};
    std::string dir = ResourceLocator::pathForResource("html");
    if (dir.empty()) return {};
    return dir + "/" + page + ".html";
}

std::string japanTime(sys::Date now) {
    sys::DateFormatter f;
    f.setLocale("en_US_POSIX");
    f.setDateFormat("yyyy/MM/dd HH:mm:ss");
    if (auto jst = sys::TimeZone::abbreviated("JST"))
        f.setTimeZone(*jst);
    else if (auto tokyo = sys::TimeZone::named("Asia/Tokyo"))
        f.setTimeZone(*tokyo);
    return f.stringFromDate(now);
}

std::string lastPathComponentOf(const std::string& url) {
    if (auto u = QNUrl::URLWithString(url)) return u->lastPathComponent();
    std::string path = url.substr(0, url.find_first_of("?#"));
    while (!path.empty() && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string hostOf(const std::string& url) {
    if (auto u = QNUrl::URLWithString(url)) return u->host();
    return {};
}

}  // namespace

AboutViewControllerEx::~AboutViewControllerEx() {
    if (webView_) webView_->setNavigationDelegate(nullptr);
}

std::string AboutViewControllerEx::updatePageForLanguage(int languageCode) {
    switch (languageCode) {
        case 2: return "update_ja";
        case 3: return "update_ko";
        case 4: return "update_zh-Hans";
        case 5: return "update_zh-Hant";
        default: return "update_en";
    }
}

std::string AboutViewControllerEx::htmlForPage(const std::string& page) {
    std::string path = pagePath(page);
    if (path.empty()) return {};
    auto bytes = sys::FileManager::contentsOfFile(path);
    if (!bytes) return {};
    std::string html(bytes->begin(), bytes->end());
    const bool dark = ColorDefine::isDarkmode(isViewLoaded() ? viewRef().get() : nullptr);
    const auto languages = BookCommon::systemPreferredLanguages();
    replaceAll(html, "<V>", LEAFBRIGHT_VERSION);
    replaceAll(html, "__LANG__", languages.empty() ? std::string("en") : languages.front());
    replaceAll(html, "<TC>", dark ? "#FFFFFF" : "#000000");
    replaceAll(html, "<BG>", dark ? "#333333" : "#FFFFFF");
    replaceAll(html, "<LC>", dark ? "#9999FF" : "#0000FF");
    replaceAll(html, "<BUG>", BookCommon::localizedStringWithOnOff("Submit Bugs and Feedback"));
    return html;
}

void AboutViewControllerEx::loadHtml(const std::string& page) {
    if (!webView_) return;
    std::string path = pagePath(page);
    if (path.empty()) return;
    std::string html = htmlForPage(page);
    if (html.empty()) return;
    loadedPage_ = page;
    loadedURL_ = "file://" + path;
    // The template's own address as the base, so its links and images resolve beside it.
    webView_->loadHTMLString(html, loadedURL_);
}

void AboutViewControllerEx::traitCollectionDidChange(const ui::TraitCollection& previous) {
    ui::ViewController::traitCollectionDidChange(previous);
    if (!webView_ || loadedPage_.empty() || !previous.hasDifferentColorAppearance(traitCollection())) return;
    // A page the user went on to (a web page) keeps its own colours.
    if (ui::WebURL::withoutFragment(webView_->URL()) != loadedURL_) return;
    offsetAfterReload_ = webView_->scrollView()->contentOffset();
    loadHtml(loadedPage_);
}

std::map<std::string, std::string> AboutViewControllerEx::dictionaryFromQueryString(const std::string& url) {
    std::map<std::string, std::string> out;
    size_t q = url.find('?');
    if (q == std::string::npos) return out;
    std::string query = url.substr(q + 1);
    size_t hash = query.find('#');
    if (hash != std::string::npos) query.resize(hash);
    size_t start = 0;
    while (start <= query.size()) {
        size_t amp = query.find('&', start);
        std::string part = query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        size_t eq = part.find('=');
        // A part without "=" carries nothing to keep.
        if (eq != std::string::npos) out[percentDecoded(part.substr(0, eq))] = percentDecoded(part.substr(eq + 1));
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return out;
}

void AboutViewControllerEx::sizeSubViews() {
    if (!webView_ || !isViewLoaded()) return;
    // The page starts below the bars (our web view does not scroll its page
    // under them) and ends above the home indicator.
    ui::EdgeInsets safe = viewSafeAreaInsets();
    ui::Rect f = view()->frame();
    webView_->setFrame(ui::Rect(f.x(), f.y() + safe.top, f.width(), std::max(0.0, f.height() - safe.top - safe.bottom)));
}

void AboutViewControllerEx::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setTitle(viewControllerTitle_.value_or(BookCommon::localizedStringWithOnOff("About")));
    webView_ = std::make_shared<ui::WebView>(view()->bounds());
    webView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    webView_->setNavigationDelegate(this);
    // The pages paint their own background only as far as their text goes;
    // the rest of the view shows the same colour, as a browser's canvas does.
    const ui::Color canvas(gfx::Rgba{1, 1, 1, 1}, gfx::Rgba{0x33 / 255.0, 0x33 / 255.0, 0x33 / 255.0, 1});
    webView_->setBackgroundColor(canvas);
    // Under the home indicator too.
    view()->setBackgroundColor(canvas);
    view()->addSubview(webView_);
    loadHtml(startPage_.value_or("about"));
}

void AboutViewControllerEx::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    // Detached when the screen went out of sight; a screen shown again decides its links again.
    if (webView_) webView_->setNavigationDelegate(this);
    if (ui::NavigationController* nav = navigationController()) nav->setToolbarHidden(true, true);
    sizeSubViews();
}

void AboutViewControllerEx::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    sizeSubViews();
}

void AboutViewControllerEx::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    if (webView_) webView_->setNavigationDelegate(nullptr);
}

void AboutViewControllerEx::viewWillTransitionToSize(ui::Size size,
                                                     const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        if (auto self = weak.lock()) static_cast<AboutViewControllerEx&>(*self).sizeSubViews();
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

void AboutViewControllerEx::webViewDecidePolicyForNavigationAction(ui::WebView&, const ui::NavigationAction& action,
                                                                    DecisionHandler decide) {
    const std::string& url = action.url;
    const std::string host = hostOf(url);
    if (url == kHomePageURL || url == kGoogleDriveHelpURL || host == kSmbVendorHost1 || host == kSmbVendorHost2) {
        ui::Application::shared().openURL(url);
        decide(ui::NavigationActionPolicy::Cancel);
        return;
    }
    const std::string last = lastPathComponentOf(url);
    if (last == "about") {
        decide(ui::NavigationActionPolicy::Cancel);
        loadHtml(updatePageForLanguage(BookCommon::getLanguage()));
        return;
    }
    if (last == "leafbrightui") {
        auto query = dictionaryFromQueryString(url);
        if (query.count("name") && query.count("link"))
            if (auto d = delegate_.lock()) d->receiveQuery(query);
    }
    decide(ui::NavigationActionPolicy::Allow);
}

void AboutViewControllerEx::webViewDidFinishNavigation(ui::WebView& webView) {
    if (auto offset = std::exchange(offsetAfterReload_, std::nullopt))
        if (ui::WebURL::withoutFragment(webView.URL()) == loadedURL_) webView.scrollView()->setContentOffset(*offset);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    webView.evaluateJavaScript("document.URL", [weak](std::optional<std::string> result, const std::string&) {
        auto self = weak.lock();
        if (!self || !result) return;
        if (result->find(kBugReportURL) == std::string::npos) return;
        static_cast<AboutViewControllerEx&>(*self).fillBugReport();
    });
}

void AboutViewControllerEx::fillBugReport() {
    if (!webView_) return;
    const std::string date = japanTime(sys::Date::now());
    std::string activity = ActiveLog::getActiveLog();
    if (activity.empty()) activity = "No-Activelog";
    replaceAll(activity, "\n", "<br>");
    std::string debug = LBDebugLog::getDebugLog().value_or("");
    if (debug.empty()) debug = "No-Errorlog";
    replaceAll(debug, "\n", "<br>");
    const std::string summary = "Date: " + date + "<br>OSVersion: " + sys::DeviceProfile::current().systemVersion +
                                "<br> LBVersion: " LEAFBRIGHT_VERSION "<br> ";
    webView_->evaluateJavaScript(bugReportScript(summary, debug, activity));
}

std::string AboutViewControllerEx::escapeForScriptString(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '\\': out += "\\\\"; continue;
            case '\'': out += "\\'"; continue;
            case '"': out += "\\\""; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            // Keeps "</script>" and markup in the logs from closing anything.
            case '<': out += "\\x3C"; continue;
            case '>': out += "\\x3E"; continue;
            default: break;
        }
        // Line and paragraph separators end a script string too.
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
            continue;
        }
        out.push_back(char(c));
    }
    return out;
}

std::string AboutViewControllerEx::bugReportScript(const std::string& summary, const std::string& debugLog,
                                                   const std::string& activityLog) {
    return "window.webViewCallback('" + escapeForScriptString(summary) + "' , '" + escapeForScriptString(debugLog) +
           "' , '" + escapeForScriptString(activityLog) + "');";
}
