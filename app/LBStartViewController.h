#pragma once

#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class ActivityIndicatorView;
class Button;
class ImageView;
}  // namespace ui
class NestlarkAppDelegate;

// The first screen of a launch: the launch icon grows and fades out over a
// second; then, when the program's version differs from the one seen last
// (Documents/".notice.lbs"), a welcome page (first launch) or an update page
// waits for "Close". Either way it hands over to the application delegate's
// startLBWindow.
class LBStartViewController : public ui::ViewController, public ui::WebViewNavigationDelegate {
public:
    static constexpr double kAnimationSeconds = 1.0;
    static constexpr double kNoticeFadeSeconds = 0.5;

    explicit LBStartViewController(std::weak_ptr<NestlarkAppDelegate> delegate);
    ~LBStartViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidLayoutSubviews() override;
    // The notice page, shown when the appearance changes, is filled in again
    // in the new colours, where it was read.
    void traitCollectionDidChange(const ui::TraitCollection& previous) override;

    // Records the current version in ".notice.lbs"; true when a notice is
    // due (nothing recorded, not a version string, or another version).
    static bool checkUpdateAndWriteVersion();
    // True once the version migration has run (the settings folder holds ".version.lbs").
    static bool isFirstLaunch();
    // The page's resource name for an interface language code: "welcome_"
    // or "update_" and "ja", "ko", "zh-Hans", "zh-Hant" or "en".
    static std::string noticePageName(bool firstLaunch, int languageCode);
    // The page text with its placeholders filled; empty when the page is missing.
    static std::string noticeHtml(const std::string& page, bool dark);
    void showNoticeView(bool firstLaunch);
    void onCloseButton();
    // While the page shows, Escape and Return close it as "Close" does.
    std::vector<ui::KeyCommand> keyCommands() const override;

    ui::ImageView* imageView() const { return imageView_.get(); }
    ui::ImageView* animateImageView() const { return animateImageView_.get(); }
    ui::WebView* webView() const { return webView_.get(); }
    ui::Button* closeButton() const { return closeButton_.get(); }
    const std::string& noticePage() const { return noticePage_; }

    void webViewDecidePolicyForNavigationAction(ui::WebView&, const ui::NavigationAction& action,
                                                DecisionHandler decide) override;
    void webViewCreateWebViewForNavigationAction(ui::WebView&, const ui::NavigationAction& action) override;
    void webViewDidFinishNavigation(ui::WebView&) override;

private:
    void handOver();
    // Loads the notice page in the colours of the screen's appearance.
    void loadNotice();

    std::weak_ptr<NestlarkAppDelegate> delegate_;
    std::shared_ptr<ui::ImageView> animateImageView_;
    std::shared_ptr<ui::WebView> webView_;
    std::shared_ptr<ui::Button> closeButton_;
    std::shared_ptr<ui::ActivityIndicatorView> indicatorView_;
    std::shared_ptr<ui::ImageView> imageView_;
    std::string noticePage_;
    std::string noticeURL_;
    // Where the page filled in again is to be scrolled once it has landed.
    std::optional<ui::Point> offsetAfterReload_;
    bool closed_ = false;
};
