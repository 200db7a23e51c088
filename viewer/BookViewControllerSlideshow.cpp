// The slideshow: each page waits, scrolls down a point per frame, waits
// again and turns to the next, all on the main run loop's timers.
#include "platform/core/UserDefaults.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/ui/Image.h"
#include "viewer/BookViewControllerInternal.h"
#include "viewer/PanelLook.h"

#include <cmath>
#include <cstdio>

using namespace bookviewer;

double BookViewController::slideshowTimeFromSlider(double value) {
    const int v = int(value);
    return v > 1 ? double(v - 1) : v / 2.0;
}

double BookViewController::slideshowSliderFromTime(double time) { return time < 1 ? time * 2 : time + 1; }

std::string BookViewController::slideshowTimeText(double time) {
    char buf[32];
    if (time >= 1)
        std::snprintf(buf, sizeof buf, "%d", int(time));
    else
        std::snprintf(buf, sizeof buf, "0.%d", int(std::lround(time * 10)) % 10);
    return buf + tr(" sec.");
}

void BookViewController::onslideshowBtn() {
    if (isSlidershowMode_) {
        stopSlidershow();
        return;
    }
    auto& d = sys::UserDefaults::standard();
    if (d.objectForKey("SlideShowTimeToScroll").type() != sys::PlistValue::Type::Null) {
        slideshowTimeToScroll_ = d.doubleForKey("SlideShowTimeToScroll");
        slideshowTimeToPage_ = d.doubleForKey("SlideShowTimeToPage");
        slideshowRepeat_ = d.boolForKey("SlideShowRepeat");
    } else {
        slideshowTimeToScroll_ = 1.0;
        slideshowTimeToPage_ = 2.0;
        slideshowRepeat_ = false;
    }
    BookCommon::globalIdleTimerDisabled(true);
    isSlidershowMode_ = true;
    slideshowStep_ = 1;
    removePageJump(1);
    showSlideshowMenu(true);
}

void BookViewController::addSubfunctionMenuView() {
    if (viewSubfunctionsMenuBg_) return;
    const ui::Rect b = view()->bounds();
    viewSubfunctionsMenuBg_ = std::make_shared<ui::View>(b);
    viewSubfunctionsMenuBg_->setBackgroundColor(ui::Color(gfx::Rgba{0, 0, 0, 0.4}));
    viewSubfunctionsMenuBg_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    viewSubfunctionsMenuBgImage_ =
        PanelLook::makePanel(ui::Size{320, 284}, "slideshowbg", ColorDefine::isDarkmode(view()));
    viewSubfunctionsMenuBgImage_->setCenter(ui::Point{b.width() / 2, b.height() / 2});
    // The panel stays centred when the screen turns under it.
    viewSubfunctionsMenuBgImage_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin |
                                                      ui::AutoresizingFlexibleTopMargin |
                                                      ui::AutoresizingFlexibleBottomMargin);
    viewSubfunctionsMenuBg_->addSubview(viewSubfunctionsMenuBgImage_);
    view()->addSubview(viewSubfunctionsMenuBg_);
    viewSubfunctionsMenuBg_->setAlpha(0);
    ui::View::animate(0.3, [bg = viewSubfunctionsMenuBg_] { bg->setAlpha(1); });
}

void BookViewController::removeSubfunctionMenuView() {
    if (!viewSubfunctionsMenuBg_) return;
    auto bg = std::move(viewSubfunctionsMenuBg_);
    viewSubfunctionsMenuBgImage_.reset();
    labelTime1_.reset();
    labelTime2_.reset();
    slideshowSlider1_.reset();
    slideshowSlider2_.reset();
    btnRepeat_.reset();
    ui::View::animate(0.3, [bg] { bg->setAlpha(0); }, [bg](bool) { bg->removeFromSuperview(); });
}

void BookViewController::showSlideshowMenu(bool start) {
    isOpenSlidershowMenu_ = true;
    if (timerSlideshow_) timerSlideshow_->invalidate();
    timerSlideshow_.reset();
    addSubfunctionMenuView();
    ui::View& panel = PanelLook::contentOf(*viewSubfunctionsMenuBgImage_);
    std::weak_ptr<const void> owner = weak_from_this();

    panel.addSubview(PanelLook::makeLabel(tr("Slideshow"), ui::Rect(30, 25, 200, 25), 18));
    btnRepeat_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    btnRepeat_->setImage(ui::Image::named(slideshowRepeat_ ? "btn_repeat_on" : "btn_repeat"));
    btnRepeat_->setFrame(ui::Rect(240, 20, 40, 40));
    btnRepeat_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onSlideshowRepeatBtn(); }, owner);
    panel.addSubview(btnRepeat_);

    // The intervals scroll as one page: paging on, and the indicator flashed
    // once so the reader sees it is a scroll view.
    auto scroll = std::make_shared<ui::ScrollView>();
    scroll->setFrame(ui::Rect(17, 50, 280, 140));
    scroll->setContentSize(ui::Size{280, 140});
    scroll->setPagingEnabled(true);
    scroll->setShowsVerticalScrollIndicator(true);
    panel.addSubview(scroll);
    scroll->addSubview(PanelLook::makeLabel(tr("Auto-Scroll Interval"), ui::Rect(5, 17, 200, 25), 17));
    scroll->addSubview(PanelLook::makeLabel(tr("Next Page Interval"), ui::Rect(5, 87, 200, 25), 17));
    labelTime1_ = PanelLook::makeLabel("", ui::Rect(170, 17, 86, 25), 17);
    labelTime2_ = PanelLook::makeLabel("", ui::Rect(170, 87, 86, 25), 17);
    labelTime1_->setTextAlignment(ui::TextAlignment::Right);
    labelTime2_->setTextAlignment(ui::TextAlignment::Right);
    scroll->addSubview(labelTime1_);
    scroll->addSubview(labelTime2_);
    slideshowSlider1_ = std::make_shared<ui::Slider>();
    slideshowSlider1_->setFrame(ui::Rect(11, 42, 260, 30));
    slideshowSlider1_->setMinimumValue(1);
    slideshowSlider1_->setMaximumValue(39);
    slideshowSlider1_->setValue(slideshowSliderFromTime(slideshowTimeToScroll_));
    slideshowSlider2_ = std::make_shared<ui::Slider>();
    slideshowSlider2_->setFrame(ui::Rect(11, 112, 260, 30));
    slideshowSlider2_->setMinimumValue(1);
    slideshowSlider2_->setMaximumValue(60);
    slideshowSlider2_->setValue(slideshowSliderFromTime(slideshowTimeToPage_));
    for (auto* s : {slideshowSlider1_.get(), slideshowSlider2_.get()}) {
        PanelLook::styleSlider(*s);
        s->addAction(ui::ControlEventValueChanged, [this](ui::Control&) { onChangeSlideshowSlider(); }, owner);
        scroll->addSubview(s == slideshowSlider1_.get() ? slideshowSlider1_ : slideshowSlider2_);
    }
    onChangeSlideshowSlider();

    auto left = PanelLook::makeButton(tr(start ? "Cancel" : "Stop"), start ? "" : "stop.fill", ui::Rect(40, 210, 110, 40));
    left->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { onStopSlideshowBtn(); }, owner);
    auto right =
        PanelLook::makeButton(tr(start ? "Start" : "Continue"), "play.fill", ui::Rect(170, 210, 110, 40));
    right->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { btnCloseSlideshowMenu(); }, owner);
    panel.addSubview(left);
    panel.addSubview(right);
    scroll->flashScrollIndicators();
}

void BookViewController::onChangeSlideshowSlider() {
    if (slideshowSlider1_) slideshowTimeToScroll_ = slideshowTimeFromSlider(slideshowSlider1_->value());
    if (slideshowSlider2_) slideshowTimeToPage_ = slideshowTimeFromSlider(slideshowSlider2_->value());
    if (labelTime1_) labelTime1_->setText(slideshowTimeText(slideshowTimeToScroll_));
    if (labelTime2_) labelTime2_->setText(slideshowTimeText(slideshowTimeToPage_));
}

void BookViewController::onSlideshowRepeatBtn() {
    slideshowRepeat_ = !slideshowRepeat_;
    if (btnRepeat_) btnRepeat_->setImage(ui::Image::named(slideshowRepeat_ ? "btn_repeat_on" : "btn_repeat"));
}

void BookViewController::saveSlideshowConfig() {
    auto& d = sys::UserDefaults::standard();
    d.setDouble(slideshowTimeToScroll_, "SlideShowTimeToScroll");
    d.setDouble(slideshowTimeToPage_, "SlideShowTimeToPage");
    d.setBool(slideshowRepeat_, "SlideShowRepeat");
    d.synchronize();
}

void BookViewController::btnCloseSlideshowMenu() {
    saveSlideshowConfig();
    closeslideshowMenu();
}

void BookViewController::onStopSlideshowBtn() {
    saveSlideshowConfig();
    stopSlidershow();
    closeslideshowMenu();
}

void BookViewController::closeslideshowMenu() {
    removeSubfunctionMenuView();
    isOpenSlidershowMenu_ = false;
    scheduleSlideshowStep();
}

void BookViewController::scheduleSlideshowStep() {
    if (timerSlideshow_) timerSlideshow_->invalidate();
    timerSlideshow_.reset();
    const double interval = SlideshowTimerSetInterval_;
    switch (slideshowStep_) {
    case 1: timerSlideshow_ = after(interval, [this] { autoScrollStart(); }); break;
    case 2: timerSlideshow_ = after(interval, [this] { autoScroll(); }, interval > 0 ? interval : kScrollTick); break;
    case 3: timerSlideshow_ = after(interval, [this] { autoScrollEnd(); }); break;
    default: break;
    }
}

void BookViewController::restartslideshow() {
    if (!isSlidershowMode_) return;
    slideshowStep_ = 1;
    SlideshowTimerSetInterval_ = slideshowTimeToScroll_;
    // While the panel is open the cycle waits for it to close.
    if (!isOpenSlidershowMenu_) scheduleSlideshowStep();
}

void BookViewController::autoScrollStart() {
    slideshowStep_ = 2;
    SlideshowTimerSetInterval_ = kScrollTick;
    if (timerSlideshow_) timerSlideshow_->invalidate();
    timerSlideshow_ = after(kScrollTick, [this] { autoScroll(); }, kScrollTick);
}

void BookViewController::autoScroll() {
    if (scrollView_ && isSlidershowMode_ && scrollDownOnePoint(*scrollView_)) return;
    if (timerSlideshow_) timerSlideshow_->invalidate();
    slideshowStep_ = 3;
    SlideshowTimerSetInterval_ = slideshowTimeToPage_;
    timerSlideshow_ = after(slideshowTimeToPage_, [this] { autoScrollEnd(); });
}

void BookViewController::autoScrollEnd() {
    if (!isSlidershowMode_) return;
    timerSlideshow_.reset();
    const bool atEnd = displayBookPage_ && displayBookPage_->isLastPage;
    doFunction(2);
    // The last page without repeat ends the show (the move said so on screen).
    if (atEnd && !slideshowRepeat_) stopSlidershow();
}

void BookViewController::stopSlideshowForMove() {
    if (timerSlideshow_) timerSlideshow_->invalidate();
    timerSlideshow_.reset();
}

bool BookViewController::repeatsFromFirstPage() const {
    return (isSlidershowMode_ && slideshowRepeat_) || (micInput_ && micPageRepeat_);
}

void BookViewController::stopSlidershow() {
    if (!isSlidershowMode_) return;
    isSlidershowMode_ = false;
    slideshowStep_ = 0;
    if (timerSlideshow_) timerSlideshow_->invalidate();
    timerSlideshow_.reset();
    BookCommon::globalIdleTimerDisabled(false);
}

void BookViewController::onDontSleepBtn() {
    isDontSleep_ = !isDontSleep_;
    if (btnDontSleep_)
        btnDontSleep_->setImage(ui::Image::named(isDontSleep_ ? "submenubtn_dontsleep_on" : "submenubtn_dontsleep_off"));
    BookCommon::globalIdleTimerDisabled(isDontSleep_);
}
