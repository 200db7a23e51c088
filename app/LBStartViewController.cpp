#include "app/LBStartViewController.h"

#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/ResourceLocator.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/WebURL.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

using sys::Path;

const ui::Color kBrand = ui::Color::rgb255(47, 188, 234);
// The notice pages paint their own background only as far as their text
// goes; the rest of the page shows the same colour, light or dark, as a
// browser's canvas does.
const ui::Color kPageCanvas(gfx::Rgba{1, 1, 1, 1}, gfx::Rgba{0x33 / 255.0, 0x33 / 255.0, 0x33 / 255.0, 1});
// The launch icon's side, in points.
constexpr double kIconSide = 120;

std::string noticeFile() {
    return Path::stringByAppendingPathComponent(BookCommon::getBooksDocumentsFolder(), ".notice.lbs");
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string lowerScheme(const std::string& url) {
    const size_t colon = url.find(':');
    std::string scheme = colon == std::string::npos ? "" : url.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

std::string languageSuffix(int code) {
    switch (code) {
        case 2: return "ja";
        case 3: return "ko";
        case 4: return "zh-Hans";
        case 5: return "zh-Hant";
        default: return "en";
    }
}

}  // namespace

LBStartViewController::LBStartViewController(std::weak_ptr<NestlarkAppDelegate> delegate)
    : delegate_(std::move(delegate)) {}

LBStartViewController::~LBStartViewController() {
    if (webView_) webView_->setNavigationDelegate(nullptr);
}

void LBStartViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    view()->setBackgroundColor(ui::Color::whiteColor());
    view()->setBackgroundColor(kBrand);
    // The launch picture, where the animation starts.
    imageView_ = std::make_shared<ui::ImageView>(ui::Image::named("launch_icon_v2"));
    view()->addSubview(imageView_);
    animateImageView_ = std::make_shared<ui::ImageView>(ui::Image::named("launch_icon_v2"));
    view()->addSubview(animateImageView_);
}

void LBStartViewController::viewDidLayoutSubviews() {
    ui::ViewController::viewDidLayoutSubviews();
    const ui::Rect b = view()->bounds();
    imageView_->setFrame({std::round((b.width() - kIconSide) / 2), std::round((b.height() - kIconSide) / 2), kIconSide,
                          kIconSide});
    if (indicatorView_) indicatorView_->setCenter({b.width() / 2, b.height() * 3 / 4});
    if (!webView_) return;
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    webView_->setFrame({safe.left + 10, safe.top + 10, b.width() - safe.left - safe.right - 20,
                        b.height() - safe.top - safe.bottom - 90});
    closeButton_->setFrame(
        {safe.left + 30, b.height() - safe.bottom - 70, b.width() - safe.left - safe.right - 60, 60});
}

void LBStartViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    indicatorView_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorStyle::Medium);
    indicatorView_->setColor(ui::Color::whiteColor());
    const ui::Rect b = view()->bounds();
    indicatorView_->setCenter({b.width() / 2, b.height() * 3 / 4});
    view()->addSubview(indicatorView_);
    indicatorView_->startAnimating();
}

void LBStartViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    view()->layoutIfNeeded();
    const ui::Rect start = imageView_->frame();
    animateImageView_->setFrame(start);
    animateImageView_->setAlpha(0.6);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto* icon = animateImageView_.get();
    ui::View::animate(
        kAnimationSeconds, 0, ui::AnimationOptionCurveEaseOut,
        [icon, start] {
            icon->setFrame({start.x() - start.width() / 2, start.y() - 0.3 * start.height(), start.width() * 2,
                            start.height() * 2});
            icon->setAlpha(0);
        },
        [weak](bool) {
            auto self = std::dynamic_pointer_cast<LBStartViewController>(weak.lock());
            if (!self) return;
            if (!checkUpdateAndWriteVersion()) {
                self->handOver();
                return;
            }
            if (self->indicatorView_) {
                self->indicatorView_->removeFromSuperview();
                self->indicatorView_.reset();
            }
            self->showNoticeView(!isFirstLaunch());
        });
}

bool LBStartViewController::checkUpdateAndWriteVersion() {
    auto seen = sys::PropertyList::readArray(noticeFile());
    const bool due = !seen || seen->empty() || !(*seen)[0].isString() || (*seen)[0].asString() != LEAFBRIGHT_VERSION;
    // Written only when it changes: this runs as the start screen hands
    // over, and a write that is flushed to the disk holds that up.
    if (!due) return false;
    sys::FileManager::createDirectory(BookCommon::getBooksDocumentsFolder(), true);
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(std::string(LEAFBRIGHT_VERSION))}, noticeFile());
    return true;
}

bool LBStartViewController::isFirstLaunch() {
    return sys::FileManager::fileExists(
        Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), ".version.lbs"));
}

std::string LBStartViewController::noticePageName(bool firstLaunch, int languageCode) {
    return std::string(firstLaunch ? "welcome_" : "update_") + languageSuffix(languageCode);
}

std::string LBStartViewController::noticeHtml(const std::string& page, bool dark) {
    const std::string path = ResourceLocator::pathForResource("html/" + page + ".html");
    if (path.empty()) return "";
    auto bytes = sys::FileManager::contentsOfFile(path, ui::WebView::kMaxPageBytes);
    if (!bytes) return "";
    std::string html(bytes->begin(), bytes->end());
    replaceAll(html, "<V>", LEAFBRIGHT_VERSION);
    replaceAll(html, "__LANG__", languageSuffix(BookCommon::getLanguage()));
    replaceAll(html, "<TC>", dark ? "#FFFFFF" : "#000000");
    replaceAll(html, "<BG>", dark ? "#333333" : "#FFFFFF");
    replaceAll(html, "<LC>", dark ? "#9999FF" : "#0000FF");
    replaceAll(html, "<BUG>", BookCommon::localizedStringWithOnOff("Submit Bugs and Feedback"));
    return html;
}

void LBStartViewController::showNoticeView(bool firstLaunch) {
    webView_ = std::make_shared<ui::WebView>(view()->bounds());
    webView_->setNavigationDelegate(this);
    webView_->setBackgroundColor(kPageCanvas);
    webView_->setAlpha(0);
    webView_->setCornerRadius(10);
    webView_->setClipsToBounds(true);
    view()->addSubview(webView_);
    closeButton_ = BookCommon::buttoniOS7Flat(true);
    closeButton_->setTitle(BookCommon::localizedStringWithOnOff("Close"));
    closeButton_->setAlpha(0);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    closeButton_->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
        if (auto self = std::dynamic_pointer_cast<LBStartViewController>(weak.lock())) self->onCloseButton();
    });
    view()->addSubview(closeButton_);
    view()->setNeedsLayout();
    view()->layoutIfNeeded();
    noticePage_ = noticePageName(firstLaunch, BookCommon::getLanguage());
    // The page's own file as the base, so its images and links resolve in the resources.
    const std::string base = ResourceLocator::pathForResource("html/" + noticePage_ + ".html");
    noticeURL_ = base.empty() ? "about:blank" : "file://" + base;
    loadNotice();
    auto* web = webView_.get();
    auto* button = closeButton_.get();
    ui::View::animate(kNoticeFadeSeconds, 0, ui::AnimationOptionCurveEaseOut, [web, button] {
        web->setAlpha(1);
        button->setAlpha(1);
    });
}

void LBStartViewController::loadNotice() {
    webView_->loadHTMLString(noticeHtml(noticePage_, ColorDefine::isDarkmode(view())), noticeURL_);
}

void LBStartViewController::traitCollectionDidChange(const ui::TraitCollection& previous) {
    ui::ViewController::traitCollectionDidChange(previous);
    if (!webView_ || closed_ || !previous.hasDifferentColorAppearance(traitCollection())) return;
    // A page the user went on to keeps its own colours.
    if (ui::WebURL::withoutFragment(webView_->URL()) != noticeURL_) return;
    offsetAfterReload_ = webView_->scrollView()->contentOffset();
    loadNotice();
}

void LBStartViewController::webViewDidFinishNavigation(ui::WebView& webView) {
    if (auto offset = std::exchange(offsetAfterReload_, std::nullopt))
        if (ui::WebURL::withoutFragment(webView.URL()) == noticeURL_) webView.scrollView()->setContentOffset(*offset);
}

void LBStartViewController::onCloseButton() {
    if (closed_) return;
    closed_ = true;
    handOver();
}

std::vector<ui::KeyCommand> LBStartViewController::keyCommands() const {
    if (!closeButton_ || closed_) return {};
    auto* self = const_cast<LBStartViewController*>(this);
    auto close = [self](const ui::KeyCommand&) { self->onCloseButton(); };
    return {ui::KeyCommand::make(ui::KeyInput::escape, 0, close), ui::KeyCommand::make(ui::KeyInput::returnKey, 0, close)};
}

void LBStartViewController::handOver() {
    // The delegate replaces this screen: keep it alive until the call returns.
    auto keep = shared_from_this();
    if (auto d = delegate_.lock()) d->startLBWindow();
}

void LBStartViewController::webViewDecidePolicyForNavigationAction(ui::WebView&, const ui::NavigationAction& action,
                                                                   DecisionHandler decide) {
    const std::string scheme = lowerScheme(action.url);
    auto& app = ui::Application::shared();
    if ((scheme == "http" || scheme == "https") &&
        (action.navigationType == ui::NavigationType::LinkActivated || !action.hasTargetFrame)) {
        if (app.canOpenURL(action.url)) app.openURL(action.url);
        decide(ui::NavigationActionPolicy::Cancel);
        return;
    }
    if ((scheme == "mailto" || scheme == "tel") && app.canOpenURL(action.url)) {
        app.openURL(action.url);
        decide(ui::NavigationActionPolicy::Cancel);
        return;
    }
    decide(ui::NavigationActionPolicy::Allow);
}

void LBStartViewController::webViewCreateWebViewForNavigationAction(ui::WebView&, const ui::NavigationAction& action) {
    if (!action.url.empty() && !action.hasTargetFrame) ui::Application::shared().openURL(action.url);
}
