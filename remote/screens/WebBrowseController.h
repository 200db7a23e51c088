#pragma once

#include "foundation/ui/QNActionSheetDelegate.h"
#include "foundation/ui/QNAlertViewDelegate.h"
#include "platform/core/Thread.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "remote/listing/ListingWatch.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class BookTransfer;

// A small web browser for finding books on web pages. A tapped link to a
// book or PDF file is not loaded: the user is asked whether to download it,
// and "Yes" queues it in the transfer queue. The user may make any page the
// home page (kept in the settings folder's ".webhostlist.lbs"). Pages of
// other sites are allowed; leaving the product's own pages is counted, and
// the address bar appears once the user has gone somewhere unknown.
//
// Pages are fetched over HTTP(S) on worker threads owned by the browser and
// shown by the web view (no scripts run in it).
class WebBrowseController : public ui::ViewController,
                            public ui::WebViewNavigationDelegate,
                            public ui::TextFieldDelegate,
                            public QNAlertViewDelegate,
                            public QNActionSheetDelegate {
public:
    static constexpr const char* kHomePageFileName = ".webhostlist.lbs";
    // Fixed pieces of outside addresses the navigation rules know.
    static constexpr const char* kProductSiteLabel = "leafbright";
    static constexpr const char* kPartnerSiteLabel = "bookpartner";
    static constexpr const char* kAppStoreAddress = "https://flathub.org/apps/";
    // Where the site list's browser starts: the product has no web site of
    // its own here, so a blank page.
    static constexpr const char* kBlankPage = "about:blank";
    static constexpr double kAddressBarHeight = 30;
    // Pages are read at most this large.
    static constexpr size_t kMaxPageBytes = ui::WebView::kMaxPageBytes;

    WebBrowseController();
    ~WebBrowseController() override;

    // ---- Set by the opener before the view loads ----
    void setBookTransfer_(std::shared_ptr<BookTransfer> t) { bookTransfer_ = std::move(t); }
    std::shared_ptr<BookTransfer> bookTransfer_ptr() const { return bookTransfer_.lock(); }
    void setDownloadPath_(std::string p) { downloadPath_ = std::move(p); }
    const std::string& downloadPath_str() const { return downloadPath_; }
    void setRootWebPage_(std::string p) { rootWebPage_ = std::move(p); }
    const std::string& rootWebPage() const { return rootWebPage_; }
    void setSendDebugInformation_(std::optional<std::string> s) { sendDebugInformation_ = std::move(s); }
    void setIsUseHomePageFunction_(bool on) { isUseHomePageFunction_ = on; }
    bool isUseHomePageFunction() const { return isUseHomePageFunction_; }
    void setCanAccessOtherSite_(bool on) { canAccessOtherSite_ = on; }
    bool canAccessOtherSite() const { return canAccessOtherSite_; }

    // ---- Home page file ----
    static std::string homePageFile();
    // The user's own home page, when one is stored.
    static std::optional<std::string> readHomePage();
    static bool writeHomePage(const std::string& url);

    // ---- Actions ----
    // Asks whether to download `url` as `filename` (the resolver is unused).
    void webFilenameResolve(const void* resolver, const std::string& url, const std::string& filename);
    void goBack();
    void goForward();
    void onStop();
    void onReload();
    void onHomeBtn();
    void onActionBtn(const ui::BarButtonItem::Ref& sender);
    void setToolbarBtn(bool showReload);
    void setToolbarBtnObj() { setToolbarBtn(false); }
    void showAddressBar();

    // ---- State, for the screens and tests ----
    ui::WebView* webView() const { return webView_.get(); }
    ui::TextField* addressField() const { return addressField_.get(); }
    const std::string& homePageUri() const { return homePageUri_; }
    int64_t pagePopCount() const { return pagePopCount_; }
    const std::string& allowHost() const { return allowHost_; }
    bool isShowAlertToDownload() const { return isShowAlertToDownload_; }
    bool isAddressBarShown() const { return showAddressBar_; }
    // Home, Back, Forward, Reload or Stop, Action (spaces left out).
    std::vector<ui::BarButtonItem::Ref> toolbarButtons() const { return buttons_; }

    // ---- View controller ----
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;

    // ---- Web view ----
    void webViewDecidePolicyForNavigationAction(ui::WebView&, const ui::NavigationAction& action,
                                                DecisionHandler decide) override;
    void webViewDidStartProvisionalNavigation(ui::WebView&) override;
    void webViewDidFinishNavigation(ui::WebView&) override;
    void webViewDidFailProvisionalNavigation(ui::WebView&, int code, const std::string& description) override;

    // ---- Alerts, sheet, address bar ----
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;
    void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) override;
    bool textFieldShouldReturn(ui::TextField& field) override;

    // The address a typed text loads: "http://" in front unless it begins
    // with "http"; nothing for an empty text.
    static std::optional<std::string> addressFromTypedText(const std::string& text);
    // The host of an address, "" when it has none.
    static std::string hostOf(const std::string& url);
    // Whether an address names a book or PDF file by its path's last part.
    static bool isDownloadLink(const std::string& url);
    // Used by the address bar and the tracking: `needle` in `text`, any case.
    static bool containsNoCase(const std::string& text, const std::string& needle);
    // A page's fetch gives up as a listing does (90 s in all, 20 s below
    // 100 bytes a second); what arrived by then is shown with a note.
    using FetchLimits = ListingWatch::Limits;
    void setFetchLimits(const FetchLimits& limits) { fetchLimits_ = limits; }

private:
    struct Fetch;
    void fetchPage(const std::string& url, ui::WebView::LoadDone done);
    void trackLink(const std::string& url);
    void layoutViews();
    void startPage();
    void refreshToolbarSoon();

    std::shared_ptr<ui::WebView> webView_;
    // The address bar: a band across the top holding the field; a click
    // anywhere on the band gives the field the keyboard.
    std::shared_ptr<ui::Control> addressBar_;
    std::shared_ptr<ui::TextField> addressField_;
    // Return was pressed in the address bar (an edit left otherwise puts the
    // page's address back).
    bool addressReturned_ = false;
    std::string downloadPath_;
    std::string urlToDownLoad_;
    std::string filenameToDownload_;
    std::string urlToOpen_;
    std::string homePageUri_;
    bool isHideAddressBar_ = true;
    int64_t pagePopCount_ = 0;
    std::string allowHost_;
    bool isShowAlertToDownload_ = false;
    std::string rootWebPage_ = kBlankPage;
    bool isUseHomePageFunction_ = false;
    bool canAccessOtherSite_ = false;
    bool showAddressBar_ = false;
    std::weak_ptr<BookTransfer> bookTransfer_;
    std::optional<std::string> sendDebugInformation_;

    std::vector<ui::BarButtonItem::Ref> buttons_;
    sys::RunLoop::TimerRef toolbarTimer_;
    // Page fetches in flight; each thread is joined when the browser goes.
    std::mutex fetchMutex_;
    std::list<std::shared_ptr<Fetch>> fetches_;
    FetchLimits fetchLimits_;
};
