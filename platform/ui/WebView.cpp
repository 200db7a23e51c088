#include "platform/ui/WebView.h"

#include "platform/core/DeviceProfile.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/WebDocumentContainer.h"
#include "platform/ui/WebURL.h"

#include <cairo.h>
#include <litehtml/litehtml.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace ui {

namespace {

constexpr size_t kMaxHistory = 100;
constexpr double kTapSlop = 10;

std::string trimScript(std::string s) {
    auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), space));
    while (!s.empty() && (space(static_cast<unsigned char>(s.back())) || s.back() == ';')) s.pop_back();
    return s;
}

bool readFile(const std::string& path, size_t limit, std::string& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > limit) return false;
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), {});
    return true;
}

}  // namespace

// The page itself: draws the document and turns taps into link activations.
class WebPageView : public View {
public:
    explicit WebPageView(WebView* owner) : owner_(owner) { setBackgroundColor(Color::clear()); }
    void draw(gfx::Canvas& c, const Rect& rect) override {
        if (draw_) draw_(c, rect);
    }
    void touchesBegan(const TouchSet& t, const Event&) override {
        start_ = t[0]->locationInView(this);
        moved_ = false;
    }
    void touchesMoved(const TouchSet& t, const Event&) override {
        Point p = t[0]->locationInView(this);
        if (std::hypot(p.x - start_.x, p.y - start_.y) > kTapSlop) moved_ = true;
    }
    void touchesEnded(const TouchSet& t, const Event&) override {
        if (moved_ || !owner_) return;
        owner_->activateLinkAt(t[0]->locationInView(this));
    }
    void touchesCancelled(const TouchSet&, const Event&) override { moved_ = true; }
    std::function<void(gfx::Canvas&, const Rect&)> draw_;
    WebView* owner_;

private:
    Point start_;
    bool moved_ = false;
};

WebView::WebView() : WebView(Rect(0, 0, 320, 480)) {}

WebView::WebView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color::whiteColor());
    scroll_ = std::make_shared<ScrollView>(bounds());
    scroll_->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
    scroll_->setAlwaysBounceVertical(true);
    addSubview(scroll_);
    auto page = std::make_shared<WebPageView>(this);
    page->draw_ = [this](gfx::Canvas& c, const Rect& r) {
        if (!layout_.document || !layout_.container) return;
        // Only what shows: the page may be far longer than the window.
        double x1, y1, x2, y2;
        cairo_clip_extents(c.cairo(), &x1, &y1, &x2, &y2);
        const double left = std::max(r.minX(), x1), top = std::max(r.minY(), y1);
        const double right = std::min(r.maxX(), x2), bottom = std::min(r.maxY(), y2);
        if (!(right > left) || !(bottom > top)) return;
        layout_.container->draw(*layout_.document, c, Rect(left, top, right - left, bottom - top));
    };
    page_ = page;
    scroll_->addSubview(page_);
}

WebView::~WebView() {
    if (auto* p = dynamic_cast<WebPageView*>(page_.get())) {
        p->owner_ = nullptr;
        p->draw_ = nullptr;
    }
    // A layout still going is bounded; the view does not wait for it.
    if (layoutThread_.joinable()) sys::Thread::leaveToFinish(std::move(layoutThread_));
}

// --- Loading ---

void WebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    navigate(baseURL.empty() ? "about:blank" : baseURL, NavigationType::Other, html, -1, false);
}

void WebView::load(const std::string& url) { navigate(url, NavigationType::Other, std::nullopt, -1, false); }

void WebView::reload() {
    if (index_ < 0) return;
    const HistoryEntry& e = history_[size_t(index_)];
    navigate(e.url, NavigationType::Reload, e.html, index_, false);
}

void WebView::stopLoading() {
    ++navigation_;
    loading_ = false;
    // Nobody waits for the page being laid out any more.
    layoutThread_.requestStop();
}

void WebView::goBack() {
    if (!canGoBack()) return;
    const HistoryEntry& e = history_[size_t(index_ - 1)];
    navigate(e.url, NavigationType::BackForward, e.html, index_ - 1, false);
}

void WebView::goForward() {
    if (!canGoForward()) return;
    const HistoryEntry& e = history_[size_t(index_ + 1)];
    navigate(e.url, NavigationType::BackForward, e.html, index_ + 1, false);
}

std::vector<WebView::BackForwardItem> WebView::backForwardList() const {
    std::vector<BackForwardItem> out;
    for (auto& e : history_) out.push_back({e.url, e.title});
    return out;
}

void WebView::navigate(const std::string& url, NavigationType type, std::optional<std::string> html,
                       int historyTarget, bool newWindow) {
    uint64_t id = ++navigation_;
    // The page laid out so far is not the one shown next.
    layoutThread_.requestStop();
    NavigationAction action{url, type, !newWindow};
    std::weak_ptr<bool> alive = alive_;
    auto answered = std::make_shared<bool>(false);
    auto decide = [this, alive, answered, id, action, html, historyTarget, newWindow](NavigationActionPolicy p) {
        if (*answered || !alive.lock()) return;
        *answered = true;
        if (id != navigation_ || p == NavigationActionPolicy::Cancel) return;
        if (newWindow) {
            if (delegate_) delegate_->webViewCreateWebViewForNavigationAction(*this, action);
            return;
        }
        const std::string& target = action.url;
        // A jump within the page shown: no loading, only scrolling.
        bool samePage = !html && layout_.document && !WebURL::fragment(target).empty() &&
                        WebURL::withoutFragment(target) == WebURL::withoutFragment(url_) &&
                        action.navigationType != NavigationType::Reload;
        if (samePage) {
            std::optional<std::string> keep = index_ >= 0 ? history_[size_t(index_)].html : std::nullopt;
            url_ = target;
            if (historyTarget >= 0) {
                index_ = historyTarget;
            } else {
                history_.resize(size_t(index_ + 1));
                history_.push_back({target, title_, keep});
                index_ = int(history_.size()) - 1;
            }
            scrollToFragment(WebURL::fragment(target));
            return;
        }
        loading_ = true;
        if (delegate_) delegate_->webViewDidStartProvisionalNavigation(*this);
        std::string content, error;
        int code = 0;
        bool fromString = html.has_value();
        if (fromString) {
            content = *html;
        } else if (WebURL::scheme(target) == "file") {
            std::string path = WebURL::toPath(target);
            if (path.empty() || !readFile(path, kMaxPageBytes, content)) {
                code = kErrorFileNotFound;
                error = "The file could not be opened.";
            }
        } else if (target == "about:blank") {
            content.clear();
        } else if (asyncLoader_) {
            auto type = action.navigationType;
            asyncLoader_(target, [this, alive, id, target, type, historyTarget](bool ok, const std::string& html,
                                                                                const std::string& message) {
                sys::RunLoop::main().post([this, alive, id, target, type, historyTarget, ok, html, message] {
                    if (!alive.lock() || id != navigation_) return;
                    if (!ok) {
                        loading_ = false;
                        if (delegate_)
                            delegate_->webViewDidFailProvisionalNavigation(
                                *this, kErrorUnsupportedURL, message.empty() ? "The page could not be loaded." : message);
                        return;
                    }
                    commit(target, html, type, historyTarget, false, message);
                });
            });
            return;
        } else if (loader_) {
            if (!loader_(target, content, error)) {
                code = kErrorUnsupportedURL;
                if (error.empty()) error = "The page could not be loaded.";
            }
        } else {
            code = kErrorUnsupportedURL;
            error = "unsupported URL";
        }
        // The page lands on a later turn, as a real load would.
        sys::RunLoop::main().post([this, alive, id, target, content, code, error, type = action.navigationType,
                                   historyTarget, fromString] {
            if (!alive.lock() || id != navigation_) return;
            if (code != 0) {
                loading_ = false;
                if (delegate_) delegate_->webViewDidFailProvisionalNavigation(*this, code, error);
                return;
            }
            commit(target, content, type, historyTarget, fromString);
        });
    };
    if (delegate_)
        delegate_->webViewDecidePolicyForNavigationAction(*this, action, decide);
    else
        decide(NavigationActionPolicy::Allow);
}

void WebView::commit(const std::string& url, const std::string& html, NavigationType type, int historyTarget,
                     bool fromString, const std::string& partNote) {
    (void)type;
    WebPageLayout::Request r;
    r.html = html;
    r.url = url;
    r.limits = limits_;
    Rect b = bounds();
    r.width = std::max(1, int(b.width()));
    r.height = std::max(1, int(b.height()));
    auto langs = sys::DeviceProfile::current().preferredLanguages;
    if (!langs.empty()) {
        r.culture = langs.front();
        r.language = r.culture.substr(0, r.culture.find('-'));
    }
    const Application& app = Application::shared();
    r.cutNote = app.systemWord("This page is too large to show whole: part of it is left out.");
    r.unstyledNote = app.systemWord("This page is shown without its own styles: they take too long to apply.");
    r.partNote = partNote;
    const uint64_t id = navigation_;
    std::weak_ptr<bool> alive = alive_;
    std::optional<std::string> stored = fromString ? std::optional<std::string>(html) : std::nullopt;
    if (layoutThread_.joinable()) sys::Thread::leaveToFinish(std::move(layoutThread_));
    layoutThread_ = sys::Thread(
        [this, r = std::move(r), id, alive, url, historyTarget, stored](const std::atomic<bool>& stop) mutable {
            // A newer navigation, Stop, the view's end or the program's
            // calls the layout off.
            r.cancel = &stop;
            auto page = std::make_shared<WebPageLayout::Page>(WebPageLayout::build(r));
            if (stop.load()) return;
            sys::RunLoop::main().post([this, alive, id, url, historyTarget, stored, page] {
                if (!alive.lock() || id != navigation_) return;
                show(url, page, historyTarget, stored);
            });
        },
        "web-layout");
}

void WebView::show(const std::string& url, std::shared_ptr<WebPageLayout::Page> page, int historyTarget,
                   std::optional<std::string> stored) {
    auto keep = shared_from_this();
    if (!page->document) {
        loading_ = false;
        if (delegate_)
            delegate_->webViewDidFailProvisionalNavigation(
                *this, kErrorPageTooComplex, Application::shared().systemWord("This page is too complex to show."));
        return;
    }
    layout_ = std::move(*page);
    std::weak_ptr<bool> alive = alive_;
    layout_.container->onAnchorClick = [this, alive](const std::string& href, const std::string& target) {
        if (alive.lock()) linkClicked(href, target);
    };
    url_ = url;
    title_ = layout_.container->caption();
    if (historyTarget >= 0 && historyTarget < int(history_.size())) {
        index_ = historyTarget;
        history_[size_t(index_)].title = title_;
    } else {
        history_.resize(size_t(index_ + 1));
        history_.push_back({url, title_, stored});
        if (history_.size() > kMaxHistory) history_.erase(history_.begin());
        index_ = int(history_.size()) - 1;
    }
    renderedWidth_ = -1;
    renderDocument();
    scroll_->setContentOffset({0, 0});
    scrollToFragment(WebURL::fragment(url));
    loading_ = false;
    if (delegate_) delegate_->webViewDidFinishNavigation(*this);
}

void WebView::renderDocument() {
    Rect b = bounds();
    int width = std::max(1, int(b.width()));
    renderedWidth_ = width;
    if (!layout_.document || !layout_.container) {
        page_->setFrame(Rect(0, 0, width, 0));
        scroll_->setContentSize({double(width), 0});
        return;
    }
    layout_.container->setViewport(width, int(b.height()));
    // Laid out at this width already on the worker, else within the budget here.
    if (layout_.width != width) WebPageLayout::render(layout_, width);
    // Below what can be drawn the page is cut (it says so at its top).
    double h = std::clamp(layout_.document->height(), 0, WebPageLayout::kMaxHeight);
    page_->setFrame(Rect(0, 0, width, h));
    scroll_->setContentSize({double(width), h});
    page_->setNeedsDisplay();
}

Size WebView::documentSize() const {
    if (!layout_.document) return {};
    return {double(layout_.document->width()), double(layout_.document->height())};
}

void WebView::layoutSubviews() {
    scroll_->setFrame(bounds());
    if (int(bounds().width()) != renderedWidth_) renderDocument();
}

void WebView::scrollToFragment(const std::string& fragment) {
    if (fragment.empty() || !layout_.document || !layout_.document->root()) return;
    // Only plain names make it into a selector.
    bool plain = std::all_of(fragment.begin(), fragment.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_';
    });
    if (!plain) return;
    layout_.container->budget().begin(WebLayoutBudget::kSelectorTests, WebLayoutBudget::kBoxLayouts);
    auto el = layout_.document->root()->select_one("#" + fragment);
    if (!el) el = layout_.document->root()->select_one("a[name=\"" + fragment + "\"]");
    if (!el) return;
    litehtml::position p = el->get_placement();
    double maxY = scroll_->maximumContentOffset().y;
    scroll_->setContentOffset({0, std::clamp(double(p.y), 0.0, std::max(0.0, maxY))});
}

// --- Links ---

void WebView::linkClicked(const std::string& href, const std::string& target) {
    if (href.empty() || WebURL::scheme(href) == "javascript") return;
    std::string base = layout_.container ? layout_.container->baseURL() : url_;
    std::string url = WebURL::resolve(base, href);
    // As in a browser, only a page that is itself a file of this computer
    // links to one: a page from a server never opens a local file.
    if (WebURL::scheme(url) == "file" && WebURL::scheme(url_) != "file") return;
    navigate(url, NavigationType::LinkActivated, std::nullopt, -1, target == "_blank");
}

bool WebView::activateLinkAt(Point p) {
    if (!layout_.document) return false;
    auto keep = shared_from_this();
    litehtml::position::vector redraw;
    uint64_t before = navigation_;
    Point offset = scroll_->contentOffset();
    int x = int(p.x), y = int(p.y);
    int cx = int(p.x - offset.x), cy = int(p.y - offset.y);
    // Keep the document alive through the click: following the link replaces it.
    auto doc = layout_.document;
    // A tap restyles what it touches, within the budget.
    layout_.container->budget().begin(WebLayoutBudget::kTapSelectorTests, WebLayoutBudget::kBoxLayouts);
    doc->on_lbutton_down(x, y, cx, cy, redraw);
    doc->on_lbutton_up(x, y, cx, cy, redraw);
    doc->on_mouse_leave(redraw);
    if (!redraw.empty()) page_->setNeedsDisplay();
    return navigation_ != before;
}

bool WebView::isLinkAt(Point p) const {
    if (!layout_.document || !layout_.document->root()) return false;
    Point d = page_->convertPointFrom(p, this);
    Point offset = scroll_->contentOffset();
    auto el = layout_.document->root()->get_element_by_point(int(d.x), int(d.y), int(d.x - offset.x),
                                                             int(d.y - offset.y));
    for (; el; el = el->parent()) {
        const char* tag = el->get_tagName();
        if (tag && std::strcmp(tag, "a") == 0 && el->get_attr("href")) return true;
    }
    return false;
}

Rect WebView::rectForElement(const std::string& selector) const {
    if (!layout_.document || !layout_.document->root()) return Rect::null();
    layout_.container->budget().begin(WebLayoutBudget::kSelectorTests, WebLayoutBudget::kBoxLayouts);
    auto el = layout_.document->root()->select_one(selector);
    if (!el) return Rect::null();
    litehtml::position p = el->get_placement();
    return Rect(p.x, p.y, p.width, p.height);
}

// --- Scripts ---

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    scripts_.push_back(script);
    std::string s = trimScript(script);
    std::optional<std::string> result;
    std::string error;
    if (s == "document.URL" || s == "location.href" || s == "window.location.href" || s == "document.location.href")
        result = url_;
    else if (s == "document.title")
        result = title_;
    else
        error = "Scripts do not run in this web view.";
    if (completion) sys::RunLoop::main().post([completion, result, error] { completion(result, error); });
}

}  // namespace ui
