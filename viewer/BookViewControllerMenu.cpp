// The reading screen's menu sheet: opening it over the page, its own
// buttons, and its tool bar.
#include "viewer/BookViewController.h"
#include "viewer/BookViewControllerInternal.h"

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/NavigationController.h"
#include "viewer/BrightnessSetting.h"
#include "viewer/StreamBlockMapOverlay.h"

#include <cstring>

using namespace bookviewer;

namespace {

BookViewController::SettingScreenFactory& settingScreenFactory() {
    static BookViewController::SettingScreenFactory f;
    return f;
}

BookViewController::BlockMapViewFactory& blockMapFactory() {
    static BookViewController::BlockMapViewFactory f;
    return f;
}

bool isOS26() { return sys::DeviceProfile::current().systemMajorVersion() >= 26; }

std::shared_ptr<ui::Button> imageButton(const std::string& name) {
    auto b = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    if (auto image = ui::Image::named(name)) {
        b->setImage(image);
        b->setFrame(ui::Rect(0, 0, image->size().width, image->size().height));
    }
    return b;
}

// The set-as-cover button's picture in the interface language.
std::string jacketButtonImage() {
    switch (BookCommon::getLanguage()) {
    case 2: return "btn_settitle_jp";
    case 3: return "btn_settitle_kr";
    case 4: return "btn_settitle_cn";
    case 5: return "btn_settitle_cntra";
    default: return "btn_settitle_en";
    }
}

}  // namespace

void BookViewController::setSettingScreenFactory(SettingScreenFactory factory) {
    settingScreenFactory() = std::move(factory);
}

void BookViewController::setBlockMapViewFactory(BlockMapViewFactory factory) {
    blockMapFactory() = std::move(factory);
}

// ---- Opening ----------------------------------------------------------------------------------------

void BookViewController::onTapMenuarea() {
    if (isSlidershowMode_ && !isOpenSlidershowMenu_ && !isOpenBar_ && scrollView_ && !goingCloseBook_) {
        showSlideshowMenu(false);
        return;
    }
    if (isOpenBar_ || isSlidershowMode_ || !scrollView_ || goingCloseBook_) return;
    isOpenBar_ = true;
    std::weak_ptr<const void> owner = weak_from_this();

    ui::Rect area = getScreenRect();
    area.size.height += 25;
    viewSliderBG_ = std::make_shared<ui::View>(area);
    viewSliderBG_->setBackgroundColor(ui::Color::white(0, 0.6));
    viewSliderBG_->setAlpha(0);
    view()->addSubview(viewSliderBG_);

    labelPageJump_ = std::make_shared<LBPageLabel>(ui::Rect(0, 0, 100, 50));
    labelPageJump_->setTarget(owner, [this] { onLabelTouch(); });
    labelPageJump_->setBackgroundColor(ui::Color::clear());
    labelPageJump_->setTextColor(ui::Color::whiteColor());
    labelPageJump_->setTextAlignment(ui::TextAlignment::Center);
    viewSliderBG_->addSubview(labelPageJump_);

    labelFilename_ = std::make_shared<ui::Label>(ui::Rect(0, 0, 100, 50));
    labelFilename_->setBackgroundColor(ui::Color::clear());
    labelFilename_->setTextColor(ui::Color::lightGray());
    labelFilename_->setTextAlignment(ui::TextAlignment::Center);
    labelFilename_->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    labelFilename_->setFont(gfx::Font::system(BookCommon::getDeviceDisplayType() == 0 ? 9 : 12));
    viewSliderBG_->addSubview(labelFilename_);

    if (isOS26()) {
        btnSetJacket_ = std::make_shared<ui::Button>(ui::ButtonType::System);
        btnSetJacket_->setTitle(tr("Set as Cover"));
        btnSetJacket_->setTitleColor(ui::Color::whiteColor());
        btnSetJacket_->titleLabel()->setFont(gfx::Font::boldSystem(14));
        btnSetJacket_->sizeToFit();
    } else {
        btnSetJacket_ = imageButton(jacketButtonImage());
    }
    btnSetJacket_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onSetJacketBtn(); }, owner);
    // A streamed book's pages are not kept: its cover cannot be set from here.
    btnSetJacket_->setAlpha(isStreamingMode_ ? 0 : 1);
    viewSliderBG_->addSubview(btnSetJacket_);

    btnSlideShow_ = imageButton("submenubtn_slideshow");
    btnSlideShow_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onslideshowBtn(); }, owner);
    btnMicInput_ = imageButton("submenubtn_mic");
    btnMicInput_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onMicPageBtn(); }, owner);
    btnDontSleep_ = imageButton(isDontSleep() ? "submenubtn_dontsleep_on" : "submenubtn_dontsleep_off");
    btnDontSleep_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onDontSleepBtn(); }, owner);
    for (auto* b : {btnSlideShow_.get(), btnMicInput_.get(), btnDontSleep_.get()}) {
        b->setAlpha(0);
        viewSliderBG_->addSubview(b->shared_from_this());
    }

    sliderPage_ = std::make_shared<ui::Slider>(ui::Rect(0, 0, 100, 50));
    sliderPage_->setMinimumValue(0);
    sliderPage_->setMaximumValue(std::max(0, pageCount() - 1));
    sliderPage_->setMaximumTrackTintColor(ui::Color::gray());
    sliderPage_->setValue(page_);
    sliderPage_->setAlpha(0);
    if (settings_->isEnablePagePreview()) {
        sliderPage_->addAction(ui::ControlEventTouchDown, [this](ui::Control&) { onSliderTouch(); }, owner);
        sliderPage_->addAction(ui::ControlEventValueChanged, [this](ui::Control&) { onSliderValueChange(); }, owner);
        sliderPage_->addAction(ui::ControlEventTouchUpInside | ui::ControlEventTouchUpOutside |
                                   ui::ControlEventTouchCancel,
                               [this](ui::Control&) { onPageSeekEnd(); }, owner);
    } else {
        sliderPage_->addAction(ui::ControlEventValueChanged, [this](ui::Control&) { pageJumpDrawStatus(); }, owner);
        sliderPage_->addAction(ui::ControlEventTouchUpInside | ui::ControlEventTouchUpOutside,
                               [this](ui::Control&) { sliderJumpSelect(); }, owner);
    }
    viewSliderBG_->addSubview(sliderPage_);

    closeButton_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    closeButton_->setTitle(tr("Close book"));
    closeButton_->setTitleColor(ui::Color::whiteColor());
    closeButton_->titleLabel()->setFont(gfx::Font::boldSystem(18));
    const ui::EdgeInsets caps{0, 50, 0, 50};
    if (auto n = ui::Image::named("btn_n")) closeButton_->setBackgroundImage(n->resizableImage(caps));
    if (auto h = ui::Image::named("btn_h"))
        closeButton_->setBackgroundImage(h->resizableImage(caps), ui::ControlStateHighlighted);
    closeButton_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { boolCloseButton(); }, owner);
    closeButton_->setAlpha(0);
    viewSliderBG_->addSubview(closeButton_);

    pageLeftBtn_ = imageButton("page_left");
    pageLeftBtn_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onPageLeftBtn(); }, owner);
    pageRightBtn_ = imageButton("page_right");
    pageRightBtn_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onPageRightBtn(); }, owner);
    pageLeftBtn_->setAlpha(0);
    pageRightBtn_->setAlpha(0);
    viewSliderBG_->addSubview(pageLeftBtn_);
    viewSliderBG_->addSubview(pageRightBtn_);

    // A streamed book shows which of its blocks are already here.
    blockMapView_.reset();
    if (isStreamingMode_ && bookReader_ && blockMapFactory()) blockMapView_ = blockMapFactory()(ui::Rect(0, 0, 100, 5));
    if (blockMapView_) {
        takeSessionBlockMap(*bookReader_, blockStatus_);
        std::vector<uint16_t> map(blockStatus_.size() / 2);
        if (!map.empty()) std::memcpy(map.data(), blockStatus_.data(), map.size() * 2);
        blockMapView_->updateCacheStatus(map.size(), map.data(), bookReader_->isStreamingUnitIsPage());
        blockMapView_->view()->setUserInteractionEnabled(false);
        blockMapView_->view()->setAlpha(0);
        viewSliderBG_->addSubview(blockMapView_->view());
    }

    pagePreView_.reset();
    bvToolbar_ = std::make_shared<ui::Toolbar>();
    bvToolbar_->setBarStyle(ui::BarStyle::Default);
    bvToolbar_->setTranslucent(false);
    bvToolbar_->setTintColor(ui::Color::whiteColor());
    bvToolbar_->setBarTintColor(ui::Color::black());
    hideBvToolbar();
    if (auto* nav = navigationController())
        nav->view()->addSubview(bvToolbar_);
    else
        view()->addSubview(bvToolbar_);
    ui::View::animate(0.25, [this] { sizeBvToolbar(); });
    setNeedsStatusBarAppearanceUpdate();
    pageJumpDrawStatus();
    reconfigJumpSheet();

    const bool pageButtons = isLandscape_ && settings_->isDoubleTruck_Local();
    auto bg = viewSliderBG_;
    std::vector<std::shared_ptr<ui::View>> shown = {bg,           sliderPage_,   labelPageJump_, closeButton_,
                                                    btnMicInput_, btnSlideShow_, btnDontSleep_,  labelFilename_};
    if (pageButtons) {
        shown.push_back(pageLeftBtn_);
        shown.push_back(pageRightBtn_);
    }
    if (blockMapView_) shown.push_back(blockMapView_->view());
    ui::View::animate(0.3, [shown] {
        for (auto& v : shown) v->setAlpha(1);
    });

    canAddBookmark_ = canAddBookmark(page_);
    bvToolbar_->setItems(arrayBookViewToolbarButtonItems(canAddBookmark_, false), false);
}

// ---- The sheet's buttons ---------------------------------------------------------------------------

void BookViewController::boolCloseButton() {
    if (disableAllBtn_) return;
    disableAllBtn_ = true;
    removePageJump(2);
}

void BookViewController::onPageLeftBtn() {
    removePageJump(1);
    movePage(settings_->pageDirection_Local() == 0 ? 2 : 3);
}

void BookViewController::onPageRightBtn() {
    removePageJump(1);
    movePage(settings_->pageDirection_Local() == 0 ? 3 : 2);
}

void BookViewController::onLabelTouch() {
    if (settings_->isEnablePagePreview()) showPagePreview(true);
}

// ---- The tool bar ----------------------------------------------------------------------------------

std::vector<ui::BarButtonItem::Ref> BookViewController::arrayBookViewToolbarButtonItems(bool canAddBookmark,
                                                                                        bool isNowPagePreview) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto act = [weak](void (BookViewController::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto s = weak.lock()) (static_cast<BookViewController*>(s.get())->*fn)();
        };
    };
    using Item = ui::BarButtonItem;
    auto K = Item::withSystemItem(ui::BarButtonSystemItem::Bookmarks, act(&BookViewController::onOpenBookmarkBtn));
    auto A = Item::withSystemItem(ui::BarButtonSystemItem::Add, act(&BookViewController::onAddBookmarkBtn));
    A->setEnabled(canAddBookmark);
    auto S = Item::withImage(BookCommon::imageNamed("toolbar_settings"), ui::BarButtonItemStyle::Plain,
                             act(&BookViewController::onSettingsBtn));
    Item::Ref R;
    if (BookCommon::isIpadRotationLockEnable())
        R = Item::withImage(BookCommon::imageNamed(BookCommon::isSoftwareRotationLock() ? "toolbar_rotationlocked"
                                                                                          : "toolbar_rotationlock"),
                            ui::BarButtonItemStyle::Plain, act(&BookViewController::onRotationLock));
    else
        R = Item::fixedSpace(20);
    auto B = Item::withImage(BookCommon::imageNamed("toolbar_brightness"), ui::BarButtonItemStyle::Plain,
                             act(&BookViewController::onBrightnessControl));
    const bool os26 = isOS26();
    const bool preview = settings_->isEnablePagePreview();
    Item::Ref P;
    if (preview) {
        P = Item::withImage(BookCommon::imageNamed("toolbar_images"), ui::BarButtonItemStyle::Plain,
                            act(&BookViewController::onPagePreview));
        if (os26 && isNowPagePreview) {
            P->setTintColor(ui::Color::systemBlue());
            P->setStyle(ui::BarButtonItemStyle::Done);
        }
    }
    // White symbols on the black bar.
    for (const Item::Ref& item : {K, A, S, R, B, P}) {
        if (!item || item->isSpace()) continue;
        if (item->image()) item->setImage(item->image()->withRenderingMode(ui::ImageRenderingMode::AlwaysTemplate));
        if (!item->tintColor()) item->setTintColor(ui::Color::whiteColor());
    }
    const bool pad = isPad();
    auto F = [] { return Item::flexibleSpace(); };
    auto X = [pad] { return Item::fixedSpace(pad ? 20 : 5); };

    std::vector<Item::Ref> items;
    if (pad && os26) {
        items = {K, A};
        if (P) items.insert(items.end(), {X(), P});
        items.insert(items.end(), {F(), R, B, S});
    } else if (pad) {
        items = {K, X(), A};
        if (P) items.insert(items.end(), {X(), P});
        items.insert(items.end(), {F(), R, X(), B, X(), S});
    } else if (os26) {
        items = {K, A};
        if (P) items.insert(items.end(), {X(), P});
        items.insert(items.end(), {F(), B, R, S});
    } else {
        items = {K, F(), A};
        if (P) items.insert(items.end(), {F(), P});
        items.insert(items.end(), {F(), B, F(), R, F(), S});
    }
    return items;
}

namespace {

double toolbarHeight(bool landscape) { return !isPad() && landscape ? 32 : 44; }

}  // namespace

void BookViewController::hideBvToolbar() {
    if (!bvToolbar_) return;
    ui::View* host = navigationController() ? navigationController()->view() : view();
    const ui::Rect b = host->bounds();
    bvToolbar_->setFrame(ui::Rect(0, b.height(), b.width(), toolbarHeight(isLandscape_)));
}

void BookViewController::sizeBvToolbar() {
    if (!bvToolbar_ || !viewSliderBG_) return;
    ui::View* host = navigationController() ? navigationController()->view() : view();
    const ui::Rect b = host->bounds();
    const double h = toolbarHeight(isLandscape_);
    bvToolbar_->setFrame(ui::Rect(0, b.height() - h - host->safeAreaInsets().bottom, b.width(), h));
}

void BookViewController::onSettingsBtn() {
    if (disableAllBtn_) return;
    auto& factory = settingScreenFactory();
    auto screen = factory ? factory(settings_) : nullptr;
    auto* nav = navigationController();
    if (!screen || !nav) {
        removePageJump(1);
        return;
    }
    disableAllBtn_ = true;
    nav->setNavigationBarHidden(false, true);
    removePageJump(3);
    isNowPushToViewController_ = true;
    BookCommon::setShortcutMenu(2, fileName_);
    nav->pushViewController(screen, true);
}

void BookViewController::onRotationLock() {
    if (disableAllBtn_) return;
    BookCommon::setSoftwareRotationLock(!BookCommon::isSoftwareRotationLock());
    if (bvToolbar_) bvToolbar_->setItems(arrayBookViewToolbarButtonItems(canAddBookmark_, bool(pagePreView_)), true);
}

void BookViewController::onBrightnessControl() {
    if (disableAllBtn_) return;
    showBrightnessPanel();
    removePageJump(1);
}

void BookViewController::onPagePreview() {
    if (disableAllBtn_) return;
    showPagePreview(!pagePreView_);
}

// ---- The detail menu -------------------------------------------------------------------------------

void BookViewController::onDetailMenuBtn() {
    // It lives on the sheet; a second press while it is up changes nothing.
    if (!isOpenBar_ || !viewSliderBG_ || viewMenuBtns_ || disableAllBtn_) return;
    std::weak_ptr<const void> owner = weak_from_this();
    viewMenuBtns_ = std::make_shared<ui::View>(ui::Rect(0, 0, 10, 10));
    viewMenuBtns_->setUserInteractionEnabled(true);
    viewMenuBtns_->setBackgroundColor(ui::Color::white(0, 0.5));
    viewMenuBtns_->setCornerRadius(8);
    viewMenuBtns_->setAlpha(0);
    configPosDetailMenuBtn();

    auto close = imageButton("icon_close");
    close->setFrame(ui::Rect(10, 10, close->frame().width(), close->frame().height()));
    close->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { closeSubMenu(); }, owner);
    viewMenuBtns_->addSubview(close);

    struct Entry {
        const char* image;
        void (BookViewController::*action)();
    };
    const Entry entries[] = {{"submenubtn_cover", &BookViewController::onSetJacketBtn},
                             {"submenubtn_slideshow", &BookViewController::onslideshowBtn},
                             {"submenubtn_mic", &BookViewController::onMicPageBtn}};
    double x = 10;
    for (const Entry& e : entries) {
        auto b = std::make_shared<ui::Button>(ui::ButtonType::System);
        if (auto image = ui::Image::named(e.image)) b->setImage(image);
        b->setFrame(ui::Rect(x, 70, 50, 50));
        auto action = e.action;
        b->addAction(ui::ControlEventTouchUpInside, [this, action](ui::Control&) { (this->*action)(); }, owner);
        viewMenuBtns_->addSubview(b);
        x += 50;
    }
    viewSliderBG_->addSubview(viewMenuBtns_);

    auto menu = viewMenuBtns_;
    ui::View::animate(
        0.3,
        [this, menu] {
            menu->setFrame(ui::Rect(0, 0, 270, 200));
            menu->setAlpha(1);
            configPosDetailMenuBtn();
        },
        [weak = std::weak_ptr<ui::ViewController>(weak_from_this()), menu](bool) {
            auto s = weak.lock();
            auto* self = static_cast<BookViewController*>(s.get());
            if (self && menu == self->viewMenuBtns_) self->configPosDetailMenuBtn();
        });
}

void BookViewController::configPosDetailMenuBtn() {
    if (!viewMenuBtns_ || !viewSliderBG_) return;
    const ui::Rect area = getScreenRectWithoutBookToolView();
    const ui::Point centre{area.x() + area.width() / 2, area.y() + area.height() / 2};
    viewMenuBtns_->setCenter(viewSliderBG_->convertPointFrom(centre, view()));
}

void BookViewController::closeSubMenu() {
    if (!viewMenuBtns_) return;
    auto menu = std::move(viewMenuBtns_);
    ui::View::animate(
        0.3, [menu] { menu->setAlpha(0); }, [menu](bool) { menu->removeFromSuperview(); });
}
