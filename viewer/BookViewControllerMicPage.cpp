// Turning pages by sound: the panel that prepares it, the monitor's events
// and the slow scroll down each page while it runs.
#include "platform/core/UserDefaults.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "viewer/BookViewControllerInternal.h"
#include "viewer/PanelLook.h"

using namespace bookviewer;

void BookViewController::onMicPageBtn() {
    if (micInput_) return;
    auto& d = sys::UserDefaults::standard();
    timeIntervalMicInputTimeToScroll_ = d.objectForKey("MicPageAutoScrollInterval").type() != sys::PlistValue::Type::Null
                                            ? double(std::clamp<int64_t>(d.integerForKey("MicPageAutoScrollInterval"), 1, 30))
                                            : 2;
    removePageJump(1);
    addSubfunctionMenuView();
    ui::View& panel = PanelLook::contentOf(*viewSubfunctionsMenuBgImage_);
    panel.setTintColor(ui::Color(BookCommon::getLeafbrightTextColor()));
    std::weak_ptr<const void> owner = weak_from_this();
    panel.addSubview(PanelLook::makeLabel(tr("Turn Page by Sound"), ui::Rect(30, 25, 200, 25), 18));
    panel.addSubview(PanelLook::makeLabel(tr("Auto-Scroll Interval"), ui::Rect(34, 64, 200, 25), 17));
    labelMicInputTimeToScroll_ = PanelLook::makeLabel("", ui::Rect(200, 64, 86, 50), 17);
    labelMicInputTimeToScroll_->setTextAlignment(ui::TextAlignment::Right);
    labelMicInputTimeToScroll_->setText(std::to_string(int(timeIntervalMicInputTimeToScroll_)) + " " + tr(" sec."));
    panel.addSubview(labelMicInputTimeToScroll_);
    auto slider = std::make_shared<ui::Slider>();
    slider->setFrame(ui::Rect(30, 94, 260, 30));
    slider->setMinimumValue(1);
    slider->setMaximumValue(30);
    slider->setValue(timeIntervalMicInputTimeToScroll_);
    PanelLook::styleSlider(*slider);
    slider->addAction(ui::ControlEventValueChanged, [this](ui::Control& c) {
        timeIntervalMicInputTimeToScroll_ = int(static_cast<ui::Slider&>(c).value());
        if (labelMicInputTimeToScroll_)
            labelMicInputTimeToScroll_->setText(std::to_string(int(timeIntervalMicInputTimeToScroll_)) + " " + tr(" sec."));
    }, owner);
    panel.addSubview(slider);
    panel.addSubview(PanelLook::makeLabel(tr("Sound Pressure"), ui::Rect(34, 139, 200, 25), 17));
    auto configure = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    configure->setImage(ui::Image::named("threshold"));
    configure->setFrame(ui::Rect(250, 136, 32, 32));
    configure->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { micConfigureBtn(); }, owner);
    panel.addSubview(configure);
    micLevelMeter_ = std::make_shared<LevelMeterView>(ui::Rect(34, 174, 250, 6));
    if (settings_) micLevelMeter_->setBorder(settings_->micThreshold());
    panel.addSubview(micLevelMeter_);
    btnRepeat_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    btnRepeat_->setImage(ui::Image::named(micPageRepeat_ ? "btn_repeat_on" : "btn_repeat"));
    btnRepeat_->setFrame(ui::Rect(240, 20, 40, 40));
    btnRepeat_->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) {
        micPageRepeat_ = !micPageRepeat_;
        if (btnRepeat_) btnRepeat_->setImage(ui::Image::named(micPageRepeat_ ? "btn_repeat_on" : "btn_repeat"));
    }, owner);
    panel.addSubview(btnRepeat_);
    auto cancel = PanelLook::makeButton(tr("Cancel"), "", ui::Rect(40, 210, 110, 40));
    cancel->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { cancelMicPageMenu(); }, owner);
    auto start = PanelLook::makeButton(tr("Start"), "", ui::Rect(170, 210, 110, 40));
    start->addAction(ui::ControlEventTouchUpInside, [this](ui::Control&) { btnCloseMicinputMenu(); }, owner);
    panel.addSubview(cancel);
    panel.addSubview(start);
    isSubFunctionMenuShown_ = true;

    // Levels only until "Start".
    micInput_ = MicInput::make();
    if (micInput_) {
        micInput_->setDelegate(std::dynamic_pointer_cast<MicInputDelegate>(shared_from_this()));
        micInput_->setMode(0);
        micInput_->startInput(true);
    }
}

void BookViewController::saveMicPageConfig() {
    auto& d = sys::UserDefaults::standard();
    d.setInteger(int64_t(timeIntervalMicInputTimeToScroll_), "MicPageAutoScrollInterval");
    d.synchronize();
}

void BookViewController::cancelMicPageMenu() {
    saveMicPageConfig();
    micLevelMeter_.reset();
    removeSubfunctionMenuView();
    isSubFunctionMenuShown_ = false;
    if (micInput_) {
        micInput_->stopInput();
        micInput_->setDelegate({});
    }
    micInput_.reset();
}

void BookViewController::btnCloseMicinputMenu() {
    micLevelMeter_.reset();
    micDetectStart_ = true;
    if (micInput_ && settings_) {
        micInput_->setThreshold(settings_->micThreshold());
        micInput_->setMode(settings_->micDetectMode() == 0 ? 1 : settings_->micDetectMode());
    }
    saveMicPageConfig();
    BookCommon::globalIdleTimerDisabled(true);
    displayMessage(tr("Turn On Mic Input."), true);
    setMicIndicator("mic", 0.8);
    removeSubfunctionMenuView();
    isSubFunctionMenuShown_ = false;
    onNewPageMoveForMicInput();
}

void BookViewController::setMicIndicator(const std::string& image, double alpha) {
    if (!micOkImage_) {
        micOkImage_ = std::make_shared<ui::ImageView>();
        micOkImage_->setFrame(ui::Rect(24, 24, 32, 32));
        micOkImage_->setUserInteractionEnabled(false);
        view()->addSubview(micOkImage_);
    }
    micOkImage_->setImage(ui::Image::named(image));
    micOkImage_->setAlpha(alpha);
}

void BookViewController::stopMicPage() {
    if (!micInput_) return;
    if (timerMicInputAutoScroll_) timerMicInputAutoScroll_->invalidate();
    timerMicInputAutoScroll_.reset();
    micInput_->stopInput();
    micInput_->setDelegate({});
    micInput_.reset();
    micLevelMeter_.reset();
    micDetectStart_ = false;
    if (micOkImage_) micOkImage_->removeFromSuperview();
    micOkImage_.reset();
    after(1.0, [this] { displayMessage(tr("Turn Off Mic Input."), true); });
    BookCommon::globalIdleTimerDisabled(false);
    removeSubfunctionMenuView();
    isSubFunctionMenuShown_ = false;
}

void BookViewController::onUpdateMicLevel(double level, double peak) {
    if (micLevelMeter_) micLevelMeter_->setLevel(peak, level);
}

void BookViewController::didFirstMicEvent() {
    if (micInput_) setMicIndicator("mic_h", 0.8);
}

void BookViewController::didSingleMicEvent() {
    if (!micDetectStart_) return;
    setMicIndicator("mic", 0.2);
    doFunction(2);
}

void BookViewController::didSpecialMicEvent() {
    if (!micDetectStart_) return;
    setMicIndicator("mic", 0.2);
    doFunction(3);
}

void BookViewController::readyForNext() {
    if (micInput_) setMicIndicator("mic", 0.8);
}

void BookViewController::onNewPageMoveForMicInput() {
    if (timerMicInputAutoScroll_) timerMicInputAutoScroll_->invalidate();
    timerMicInputAutoScroll_.reset();
    if (!micInput_ || !micDetectStart_) return;
    const double wait = std::max(1.0, timeIntervalMicInputTimeToScroll_);
    timerMicInputAutoScroll_ = after(wait, [this] {
        if (timerMicInputAutoScroll_) timerMicInputAutoScroll_->invalidate();
        timerMicInputAutoScroll_ = after(kScrollTick, [this] {
            if (scrollView_ && micInput_ && scrollDownOnePoint(*scrollView_)) return;
            if (timerMicInputAutoScroll_) timerMicInputAutoScroll_->invalidate();
        }, kScrollTick);
    });
}

namespace {
BookViewController::MicSettingScreenFactory& micSettingScreenFactory() {
    static BookViewController::MicSettingScreenFactory f;
    return f;
}
}  // namespace

void BookViewController::setMicSettingScreenFactory(MicSettingScreenFactory factory) {
    micSettingScreenFactory() = std::move(factory);
}

void BookViewController::micConfigureBtn() {
    auto& factory = micSettingScreenFactory();
    auto* nav = navigationController();
    if (!factory || !nav || !micInput_) return;
    saveMicPageConfig();
    micLevelMeter_.reset();
    removeSubfunctionMenuView();
    isSubFunctionMenuShown_ = false;
    auto screen = factory(settings_, std::dynamic_pointer_cast<MicSettingViewControllerDelegate>(shared_from_this()),
                          micInput_);
    if (!screen) return;
    nav->setNavigationBarHidden(false, true);
    isNowPushToViewController_ = true;
    BookCommon::setShortcutMenu(2, fileName_);
    nav->pushViewController(screen, true);
}

void BookViewController::returnMicInputObject(const std::shared_ptr<MicInput>& micInput) {
    if (micInput) {
        micInput->setDelegate({});
        micInput->stopInput();
    }
    if (micInput == micInput_) {
        micInput_.reset();
        micDetectStart_ = false;
        if (timerMicInputAutoScroll_) timerMicInputAutoScroll_->invalidate();
        timerMicInputAutoScroll_.reset();
    }
}
