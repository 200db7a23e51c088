#pragma once

#include "foundation/ui/AboutViewControllerExDelegate.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

// Shows the program's own pages (About, update notes, help) in a web view,
// filled in for the version, the language and the appearance. Outside links
// of the product's and the SMB library's sites open in the system browser;
// help pages may hand a shared link to the delegate; the bug-report form is
// filled with the date, the versions and the program's two logs.
class AboutViewControllerEx : public ui::ViewController, public ui::WebViewNavigationDelegate {
public:
    // Addresses of the product's web site.
    static constexpr const char* kHomePageURL = "https://leafbright.app/";
    static constexpr const char* kGoogleDriveHelpURL = "https://leafbright.app/help/gdrive.html";
    static constexpr const char* kBugReportURL = "https://leafbright.app/feedback/";
    // The SMB library's web sites.
    static constexpr const char* kSmbVendorHost1 = "smb.leafbright.app";
    static constexpr const char* kSmbVendorHost2 = "www.smb.leafbright.app";

    AboutViewControllerEx() = default;
    ~AboutViewControllerEx() override;

    void loadHtml(const std::string& page);
    // The page template with its placeholders filled in ("" when there is no such page).
    std::string htmlForPage(const std::string& page);
    static std::map<std::string, std::string> dictionaryFromQueryString(const std::string& url);
    void sizeSubViews();
    // The update-notes page for a language code.
    static std::string updatePageForLanguage(int languageCode);
    // The script that fills the bug-report form (texts escaped as script strings).
    static std::string bugReportScript(const std::string& summary, const std::string& debugLog,
                                       const std::string& activityLog);
    // A text as the inside of a single-quoted script string.
    static std::string escapeForScriptString(const std::string& text);

    ui::WebView* webView() const { return webView_.get(); }
    std::shared_ptr<AboutViewControllerExDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AboutViewControllerExDelegate> d) { delegate_ = std::move(d); }
    const std::optional<std::string>& startPage() const { return startPage_; }
    void setStartPage(std::optional<std::string> p) { startPage_ = std::move(p); }
    const std::optional<std::string>& viewControllerTitle() const { return viewControllerTitle_; }
    void setViewControllerTitle(std::optional<std::string> t) { viewControllerTitle_ = std::move(t); }

    // --- ViewController ---
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    // Our own page, shown when the appearance changes, is filled in again in
    // the new colours, where it was read.
    void traitCollectionDidChange(const ui::TraitCollection& previous) override;

    // --- Navigation ---
    void webViewDecidePolicyForNavigationAction(ui::WebView&, const ui::NavigationAction& action,
                                                DecisionHandler decide) override;
    void webViewDidFinishNavigation(ui::WebView&) override;

private:
    void fillBugReport();

    std::shared_ptr<ui::WebView> webView_;
    std::weak_ptr<AboutViewControllerExDelegate> delegate_;
    std::optional<std::string> startPage_;
    std::optional<std::string> viewControllerTitle_;
    // The page of ours loaded last, and its address.
    std::string loadedPage_;
    std::string loadedURL_;
    // Where the page filled in again is to be scrolled once it has landed.
    std::optional<ui::Point> offsetAfterReload_;
};
