#pragma once

#include "platform/core/Thread.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/ui/WebPageLayout.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class WebView;

enum class NavigationType { LinkActivated = 0, FormSubmitted = 1, BackForward = 2, Reload = 3, FormResubmitted = 4,
                            Other = -1 };
enum class NavigationActionPolicy { Cancel = 0, Allow = 1 };

// A navigation about to happen: where to, and why.
struct NavigationAction {
    std::string url;
    NavigationType navigationType = NavigationType::Other;
    // False for a link that opens a new window (target="_blank").
    bool hasTargetFrame = true;
};

// What a web view asks and tells as it navigates; every method is optional.
class WebViewNavigationDelegate {
public:
    using DecisionHandler = std::function<void(NavigationActionPolicy)>;
    virtual ~WebViewNavigationDelegate() = default;
    // Must call the handler once, now or later.
    virtual void webViewDecidePolicyForNavigationAction(WebView&, const NavigationAction&, DecisionHandler decide) {
        decide(NavigationActionPolicy::Allow);
    }
    virtual void webViewDidStartProvisionalNavigation(WebView&) {}
    virtual void webViewDidFinishNavigation(WebView&) {}
    virtual void webViewDidFailProvisionalNavigation(WebView&, int code, const std::string& description) {
        (void)code;
        (void)description;
    }
    // An allowed link to a new window: the page gets no new view; the
    // delegate may open the address elsewhere.
    virtual void webViewCreateWebViewForNavigationAction(WebView&, const NavigationAction&) {}
};

// Shows an HTML page, rendered by litehtml onto our canvas, in a scroll
// view. Pages come from a string with a base address or from local files;
// other addresses go through the content loader when one is installed. Links
// are followed by tapping them, after the navigation delegate's decision;
// the view keeps a back/forward list. There is no script engine:
// evaluateJavaScript records each script and answers only the page's
// address and title.
//
// Whatever a page holds, it is laid out within bounds (WebPageLayout), on a
// worker thread: the page shows once it is laid out, cut or simplified with
// a note at its top where it had to be, or fails to load with
// kErrorPageTooComplex. Only a page that is a file of this computer uses
// other files of it (its pictures and style sheets).
class WebView : public View {
public:
    struct BackForwardItem {
        std::string url;
        std::string title;
    };
    // Supplies the HTML of addresses that are not local files; false with a
    // description when it cannot.
    using ContentLoader = std::function<bool(const std::string& url, std::string& html, std::string& error)>;
    // The same in the background: `done` is called once, from any thread,
    // with the HTML or false and a description. With the HTML, a message
    // that is not empty says the page arrived only in part: the page is
    // shown with it as the note at its top. A result that arrives after a
    // newer navigation (or Stop) is dropped.
    using LoadDone = std::function<void(bool ok, const std::string& html, const std::string& error)>;
    using AsyncContentLoader = std::function<void(const std::string& url, LoadDone done)>;
    using ScriptCompletion = std::function<void(std::optional<std::string> result, const std::string& error)>;

    WebView();
    explicit WebView(const Rect& frame);
    ~WebView() override;

    WebViewNavigationDelegate* navigationDelegate() const { return delegate_; }
    void setNavigationDelegate(WebViewNavigationDelegate* d) { delegate_ = d; }
    void setContentLoader(ContentLoader loader) { loader_ = std::move(loader); }
    // Takes precedence over the blocking loader.
    void setAsyncContentLoader(AsyncContentLoader loader) { asyncLoader_ = std::move(loader); }
    ScrollView* scrollView() const { return scroll_.get(); }
    // The bounds pages are laid out within (the defaults unless set).
    void setPageLimits(const WebPageBounds::Limits& limits) { limits_ = limits; }

    // --- Loading ---
    void loadHTMLString(const std::string& html, const std::string& baseURL);
    // A "file://" address (or any address the content loader knows).
    void load(const std::string& url);
    void loadFileURL(const std::string& url) { load(url); }
    void reload();
    void stopLoading();
    bool isLoading() const { return loading_; }

    // --- State ---
    const std::string& URL() const { return url_; }
    const std::string& title() const { return title_; }
    bool canGoBack() const { return index_ > 0; }
    bool canGoForward() const { return index_ + 1 < int(history_.size()); }
    void goBack();
    void goForward();
    std::vector<BackForwardItem> backForwardList() const;
    int backForwardIndex() const { return index_; }
    // The rendered page's size in points.
    Size documentSize() const;

    // --- Scripts ---
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion = {});
    const std::vector<std::string>& evaluatedScripts() const { return scripts_; }

    // Follows the link at a point of the page (what a tap does); false when
    // there is none.
    bool activateLinkAt(Point documentPoint);
    // Whether a point of the view lies on a link (the pointer shows a hand).
    bool isLinkAt(Point point) const;
    // Where the first element matching a CSS selector lies in the page
    // (Rect::null() when none): for tests and scripted runs.
    Rect rectForElement(const std::string& selector) const;

    void layoutSubviews() override;

    // Pages read at most this large.
    static constexpr size_t kMaxPageBytes = 8u << 20;
    static constexpr int kErrorCancelled = -999;
    static constexpr int kErrorUnsupportedURL = -1002;
    static constexpr int kErrorFileNotFound = -1100;
    static constexpr int kErrorPageTooComplex = -1103;

private:
    struct HistoryEntry {
        std::string url;
        std::string title;
        std::optional<std::string> html;  // pages loaded from a string keep it
    };
    enum class Source { String, Address };
    void navigate(const std::string& url, NavigationType type, std::optional<std::string> html, int historyTarget,
                  bool newWindow);
    // Lays the page out on the worker; show() takes it on.
    void commit(const std::string& url, const std::string& html, NavigationType type, int historyTarget,
                bool fromString, const std::string& partNote = {});
    void show(const std::string& url, std::shared_ptr<WebPageLayout::Page> page, int historyTarget,
              std::optional<std::string> html);
    void renderDocument();
    void scrollToFragment(const std::string& fragment);
    void linkClicked(const std::string& href, const std::string& target);

    WebViewNavigationDelegate* delegate_ = nullptr;
    ContentLoader loader_;
    AsyncContentLoader asyncLoader_;
    std::shared_ptr<ScrollView> scroll_;
    std::shared_ptr<View> page_;
    WebPageLayout::Page layout_;
    WebPageBounds::Limits limits_;
    // Lays out the page being loaded; one left by a newer load finishes on its own.
    sys::Thread layoutThread_;
    std::string url_;
    std::string title_;
    bool loading_ = false;
    uint64_t navigation_ = 0;  // the latest navigation; older answers are ignored
    std::vector<HistoryEntry> history_;
    int index_ = -1;
    std::vector<std::string> scripts_;
    int renderedWidth_ = -1;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ui
