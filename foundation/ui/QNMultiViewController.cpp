#include "foundation/ui/QNMultiViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/QNMultiViewChild.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

using ui::Color;
using ui::Rect;
using ui::Size;

namespace {

// Halves away from zero, as the layout's rounding does.
double roundHalfAway(double v) { return std::round(v); }

double evenFloor(double v) {
    double whole = std::trunc(v);
    double even = std::trunc(whole / 2) * 2;
    return even;
}

}  // namespace

QNMultiViewController::QNMultiViewController() {
    newer_ = sys::DeviceProfile::current().systemMajorVersion() >= 26;
}

void QNMultiViewController::addViewController(const std::shared_ptr<ui::ViewController>& child,
                                              const std::shared_ptr<ui::ViewController>& parent,
                                              const std::shared_ptr<ui::NavigationController>& navigationController,
                                              ui::ImageRef image, const std::string& text) {
    // The five slots are all there is.
    if (!child || numbers_ >= kMaxTabs) return;
    if (auto* links = dynamic_cast<QNMultiViewChild*>(child.get())) {
        links->setQnNavigationController(navigationController);
        links->setQnParentViewController(parent);
        links->setQnMultiViewController(this);
    }
    const size_t i = size_t(numbers_);
    viewControllers_[i] = child;
    imageTab_[i] = image ? image->withRenderingMode(ui::ImageRenderingMode::AlwaysTemplate) : nullptr;
    textTab_[i] = text;
    addChildViewController(child);
    child->didMoveToParentViewController(this);
    ++numbers_;
}

void QNMultiViewController::addTableViewController(
    const std::shared_ptr<ui::ViewController>& child, const std::shared_ptr<ui::ViewController>& parent,
    const std::shared_ptr<ui::NavigationController>& navigationController, ui::ImageRef image, const std::string& text) {
    addViewController(child, parent, navigationController, image, text);
}

ui::NavigationController* QNMultiViewController::navigationController() const {
    if (auto n = navigationController_.lock()) return n.get();
    return ui::ViewController::navigationController();
}

ui::ViewController* QNMultiViewController::viewControllerAt(int index) const {
    if (index < 0 || index >= numbers_) return nullptr;
    return viewControllers_[size_t(index)].get();
}

ui::Button* QNMultiViewController::tabButton(int index) const {
    if (index < 0 || index >= kMaxTabs) return nullptr;
    return tabButtons_[size_t(index)].get();
}

ui::ImageView* QNMultiViewController::tabButtonImage(int index) const {
    if (index < 0 || index >= kMaxTabs) return nullptr;
    return tabButtonImage_[size_t(index)].get();
}

ui::Label* QNMultiViewController::tabButtonText(int index) const {
    if (index < 0 || index >= kMaxTabs) return nullptr;
    return tabButtonText_[size_t(index)].get();
}

ui::ViewController* QNMultiViewController::selectedChild() const { return viewControllerAt(int(selectedTab_)); }

Rect QNMultiViewController::roundImageViewRect(const Rect& rect) {
    return Rect(rect.x(), rect.y(), evenFloor(rect.width()), evenFloor(rect.height()));
}

Color QNMultiViewController::selectedTabColor() {
    return Color(Color::rgb255(0, 122, 255).light(), gfx::Rgba{1, 1, 1, 1});
}

Color QNMultiViewController::unselectedTabColor() { return Color::white(0.573); }

ui::View* QNMultiViewController::buttonHost() {
    if (!newer_)
        if (ui::NavigationController* nav = navigationController()) return nav->view();
    return view();
}

void QNMultiViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    // A start tab that names no tab shows the first one.
    selectedTab_ = (startTab_ >= 0 && startTab_ < numbers_) ? startTab_ : 0;
    for (int i = 0; i < numbers_; ++i) {
        ui::View* v = viewControllers_[size_t(i)]->view();
        v->setHidden(i != selectedTab_);
        view()->addSubview(viewControllers_[size_t(i)]->viewRef());
    }
    if (newer_) {
        baseView_ = std::make_shared<LiquidGlassView>();
        baseView_->setCornerRadius(25.0);
        view()->addSubview(baseView_);
    }
    for (int i = 0; i < numbers_; ++i) {
        auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom);
        button->setTag(i);
        ui::Button* raw = button.get();
        button->addAction(
            ui::ControlEventTouchDown, [this, raw](ui::Control&) { onTabButton(*raw); }, weak_from_this());
        auto icon = std::make_shared<ui::ImageView>(imageTab_[size_t(i)]);
        icon->setContentMode(ui::ContentMode::Center);
        icon->setUserInteractionEnabled(false);
        auto caption = std::make_shared<ui::Label>();
        caption->setFont(gfx::Font::system(10));
        caption->setTextAlignment(ui::TextAlignment::Center);
        caption->setBackgroundColor(Color::clear());
        caption->setText(textTab_[size_t(i)]);
        caption->setUserInteractionEnabled(false);
        // Down the left the column is 64 points wide: a long caption
        // ("Configuration") shrinks to fit rather than being cut.
        caption->setAdjustsFontSizeToFitWidth(true);
        caption->setMinimumScaleFactor(0.6);
        button->addSubview(icon);
        button->addSubview(caption);
        if (!newer_) button->setBackgroundColor(ColorDefine::QNMultiViewBgColor());
        buttonHost()->addSubview(button);
        tabButtons_[size_t(i)] = button;
        tabButtonImage_[size_t(i)] = icon;
        tabButtonText_[size_t(i)] = caption;
    }
    view()->setBackgroundColor(ColorDefine::QNMultiViewBgColor());
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withTitle(
        closeButtonText_.value_or("Close"), ui::BarButtonItemStyle::Plain, [weak](ui::BarButtonItem&) {
            if (auto self = weak.lock()) self->dismiss(true);
        }));
    layoutItems(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    onChangeButtonOnStatus();
    BookCommon::setEdgeExtendLayoutForiOS7(*this);
    if (newer_) {
        view()->setBackgroundColor(Color::systemBackground());
        if (ui::NavigationController* nav = navigationController()) {
            ui::NavigationBar* bar = nav->navigationBar();
            bar->setTransparent(true);
            bar->setShadowHidden(true);
            bar->setTitleColor(Color::label());
            bar->setTintColor(Color::label());
            bar->setTranslucent(true);
        }
        setExtendedLayoutIncludesOpaqueBars(true);
        setEdgesForExtendedLayout(ui::RectEdgeAll);
    }
}

void QNMultiViewController::layoutItems(bool landscape) {
    if (!isViewLoaded()) return;
    const Size size = view()->bounds().size;
    const double W = size.width, H = size.height;
    ui::NavigationController* nav = navigationController();
    ui::View* navView = nav ? nav->view() : view();
    const Rect nf = navView->frame();
    const double PW = std::min(nf.width(), nf.height());
    const double PH = std::max(nf.width(), nf.height());
    const ui::EdgeInsets navInsets = navView->safeAreaInsets();
    const double n = double(numbers_);

    if (!landscape) {
        const double B = navInsets.bottom;
        const double T = numbers_ > 0 ? roundHalfAway(PW / n) : 0;
        const double top = PH - B - kBarHeight;
        if (baseView_) baseView_->setFrame(Rect(0, top, T * n, kBarHeight));
        for (int i = 0; i < numbers_; ++i) {
            if (tabButtons_[size_t(i)]) {
                tabButtons_[size_t(i)]->setFrame(Rect(T * i, top, T, B + kBarHeight));
                tabButtonImage_[size_t(i)]->setFrame(roundImageViewRect(Rect(0, 2, T, 35)));
                tabButtonText_[size_t(i)]->setFrame(roundImageViewRect(Rect(0, 35, T, 15)));
            }
            viewControllers_[size_t(i)]->view()->setFrame(Rect(0, 0, W, H - kBarHeight));
        }
        return;
    }
    const double L = navInsets.left;
    double statusBar = 0;
    if (ui::Window* w = view()->window()) statusBar = w->statusBarHeight();
    const double navBar = nav && !nav->isNavigationBarHidden() ? nav->navigationBar()->frame().height() : 0;
    const double Y0 = statusBar + navBar + 1.0;
    const double S = numbers_ > 0 ? roundHalfAway((H - Y0) / n) : 0;
    if (baseView_) baseView_->setFrame(Rect(L, Y0, kColumnWidth, S * n));
    for (int i = 0; i < numbers_; ++i) {
        if (tabButtons_[size_t(i)]) {
            tabButtons_[size_t(i)]->setFrame(Rect(L, Y0 + S * i, kColumnWidth, S));
            tabButtonImage_[size_t(i)]->setFrame(roundImageViewRect(Rect(0, (S - 50) / 2 + 2, kColumnWidth, 35)));
            tabButtonText_[size_t(i)]->setFrame(roundImageViewRect(Rect(0, (S - 50) / 2 + 35, kColumnWidth, 15)));
        }
        viewControllers_[size_t(i)]->view()->setFrame(Rect(L + kColumnWidth, 0, W - (L + kColumnWidth), H));
    }
}

void QNMultiViewController::onTabButton(ui::Button& button) {
    const int64_t tab = button.tag();
    if (tab < 0 || tab >= numbers_) return;
    ui::ViewController* old = selectedChild();
    selectedTab_ = tab;
    ui::ViewController* now = selectedChild();
    auto keepOld = old ? old->shared_from_this() : nullptr;
    if (old) old->viewWillDisappear(true);
    now->viewWillAppear(true);
    for (int i = 0; i < numbers_; ++i) viewControllers_[size_t(i)]->view()->setHidden(i != selectedTab_);
    if (old) old->viewDidDisappear(true);
    now->viewDidAppear(true);
    onChangeButtonOnStatus();
}

void QNMultiViewController::onChangeButtonOnStatus() {
    for (int i = 0; i < numbers_; ++i) {
        if (!tabButtonImage_[size_t(i)]) continue;
        const Color c = i == selectedTab_ ? selectedTabColor() : unselectedTabColor();
        tabButtonImage_[size_t(i)]->setImage(imageTab_[size_t(i)]);
        tabButtonImage_[size_t(i)]->setTintColor(c);
        tabButtonText_[size_t(i)]->setTextColor(c);
    }
}

void QNMultiViewController::viewDidLayoutSubviews() {
    ui::ViewController::viewDidLayoutSubviews();
    // By the shape of what holds the bars too: this screen's own view, under
    // them, is wider than high in a square window, which reads as portrait.
    ui::NavigationController* nav = navigationController();
    Size s = (nav ? nav->view() : view())->bounds().size;
    layoutItems(s.width > s.height);
}

void QNMultiViewController::fadeBar(double alpha) {
    std::vector<std::shared_ptr<ui::View>> views;
    for (int i = 0; i < numbers_; ++i)
        if (tabButtons_[size_t(i)]) views.push_back(tabButtons_[size_t(i)]);
    if (baseView_) views.push_back(baseView_);
    ui::View::animate(kFadeDuration, [views, alpha] {
        for (auto& v : views) v->setAlpha(alpha);
    });
}

void QNMultiViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    if (ui::ViewController* c = selectedChild()) c->viewWillAppear(animated);
    if (ui::NavigationController* nav = navigationController()) nav->setToolbarHidden(true, true);
    fadeBar(1.0);
    layoutItems(BookCommon::isLandscapeSwitchOSVersionWithViewController());
}

void QNMultiViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (ui::ViewController* c = selectedChild()) c->viewDidAppear(animated);
    layoutItems(BookCommon::isLandscapeSwitchOSVersionWithViewController());
}

void QNMultiViewController::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    if (ui::ViewController* c = selectedChild()) c->viewWillDisappear(animated);
    fadeBar(0.0);
}

void QNMultiViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    if (ui::ViewController* c = selectedChild()) c->viewDidDisappear(animated);
}
