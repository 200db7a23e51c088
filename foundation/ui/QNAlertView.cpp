#include "foundation/ui/QNAlertView.h"

#include "foundation/BookCommon.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

#include <utility>

namespace {
// Main thread only, as all of the user interface.
bool gOneInstanceShown = false;
std::vector<std::function<void()>> gAfterNotices;

bool noticeUp() {
    ui::Window* window = ui::Application::shared().keyWindow();
    if (!window) return false;
    for (const auto& v : window->subviews())
        if (auto* notice = dynamic_cast<QNNoticeView*>(v.get()); notice && !notice->isClosing()) return true;
    return false;
}
}  // namespace

void QNAlertView::afterNotices(std::function<void()> then) {
    if (!then) return;
    if (!noticeUp()) return then();
    gAfterNotices.push_back(std::move(then));
}

bool QNAlertView::isOneInstanceShown() { return gOneInstanceShown; }
void QNAlertView::clearOneInstanceFlag() { gOneInstanceShown = false; }

QNAlertView::QNAlertView(const std::string& title, const std::string& message,
                         std::weak_ptr<QNAlertViewDelegate> delegate,
                         const std::optional<std::string>& cancelButtonTitle,
                         const std::vector<std::string>& otherButtonTitles)
    : title_(title), message_(message), delegate_(std::move(delegate)) {
    if (cancelButtonTitle) {
        buttonList_.push_back(*cancelButtonTitle);
        cancelButtonIndex_ = 0;
    }
    for (const auto& t : otherButtonTitles) buttonList_.push_back(t);
}

QNAlertView::~QNAlertView() {
    if (noticeView_) noticeView_->setDelegate(nullptr);
}

int64_t QNAlertView::addButtonWithTitle(const std::string& title) {
    buttonList_.push_back(title);
    return 0;
}

ui::TextField* QNAlertView::textFieldAtIndex(int64_t index) const {
    if (index < 0 || size_t(index) >= textFieldArray_.size()) return nullptr;
    return textFieldArray_[size_t(index)].get();
}

void QNAlertView::show(ui::ViewController* presenter) {
    // Already on screen: a second show would leave two boxes for one answer.
    if (retainSelf_ || noticeView_ || !alertController_.expired()) return;
    if (showOnlyOneInstance_) {
        if (gOneInstanceShown) return;
        gOneInstanceShown = true;
        ownsOneInstanceFlag_ = true;
    }
    const size_t given = buttonList_.size();
    if (buttonList_.empty()) {
        buttonList_.push_back("OK");
        cancelButtonIndex_ = 0;
    }
    if (given <= 3 && alertViewStyle_ == kStyleDefault) {
        retainSelf_ = true;
        self_ = weak_from_this().lock();
        showNoticeWithTitle(title_, message_, buttonList_);
        return;
    }
    showAlertController(presenter);
}

void QNAlertView::showMessage(const std::string& title, const std::string& message, ui::ViewController* presenter) {
    auto alert = std::make_shared<QNAlertView>(title, message, std::weak_ptr<QNAlertViewDelegate>(), std::nullopt,
                                               std::vector<std::string>{BookCommon::localizedStringWithOnOff("OK")});
    alert->show(presenter);
}

void QNAlertView::showNoticeWithTitle(const std::string& title, const std::string& message,
                                      const std::vector<std::string>& buttons) {
    noticeView_ = std::make_shared<QNNoticeView>(ui::Rect(), title, message, buttons, cancelButtonIndex_);
    noticeView_->setDelegate(this);
    noticeView_->setAlpha(0);
    ui::Window* window = ui::Application::shared().keyWindow();
    if (window) window->addSubview(noticeView_);
    auto notice = noticeView_;
    ui::View::animate(kNoticeFadeIn, [notice] { notice->setAlpha(1); });
    noticeView_->layout();
}

void QNAlertView::didCloseNoticeView(int64_t buttonIndex) {
    auto keep = weak_from_this().lock();
    auto notice = noticeView_;
    if (retainSelf_) {
        if (auto d = delegate_.lock()) {
            d->alertViewClickedButtonAtIndex(*this, buttonIndex);
            d->alertViewDidDismissWithButtonIndex(*this, buttonIndex);
        }
        retainSelf_ = false;
        self_.reset();
    }
    ownsOneInstanceFlag_ = false;
    // A faded box left in the window would only be in the way.
    if (notice) notice->removeFromSuperview();
    if (noticeView_ == notice) noticeView_.reset();
    if (!gAfterNotices.empty() && !noticeUp())
        for (auto& then : std::exchange(gAfterNotices, {})) then();
}

void QNAlertView::showAlertController(ui::ViewController* presenter) {
    if (!presenter) {
        ui::Window* window = ui::Application::shared().keyWindow();
        if (window) presenter = ui::ViewController::topController(window->rootViewController().get());
    }
    if (!presenter) {
        // Nothing to show it on: leave nothing behind that blocks later alerts.
        if (ownsOneInstanceFlag_) gOneInstanceShown = false;
        ownsOneInstanceFlag_ = false;
        return;
    }
    auto controller =
        ui::AlertController::make(title_, message_, ui::AlertControllerStyle::Alert);
    textFieldArray_.clear();
    auto addField = [&](bool secure) {
        controller->addTextField([secure](ui::TextField& f) { f.setSecureTextEntry(secure); });
        textFieldArray_.push_back(controller->textFields().back());
    };
    switch (alertViewStyle_) {
        case kStyleSecureText: addField(true); break;
        case kStylePlainText: addField(false); break;
        case kStyleLoginAndPassword:
            addField(false);
            addField(true);
            break;
        default: break;
    }
    // The actions hold the alert from here until one of them is chosen.
    auto self = weak_from_this().lock();
    for (size_t i = 0; i < buttonList_.size(); ++i) {
        const int64_t index = int64_t(i);
        auto style = index == cancelButtonIndex_ ? ui::AlertActionStyle::Cancel : ui::AlertActionStyle::Default;
        QNAlertView* raw = this;
        controller->addAction(ui::AlertAction::make(buttonList_[i], style, [self, raw, index](ui::AlertAction&) {
            (void)self;
            raw->actionChosen(index);
        }));
    }
    alertController_ = controller;

    if (auto d = delegate_.lock()) d->willPresentAlertView(*this);
    std::weak_ptr<QNAlertView> weak = weak_from_this();
    presenter->present(controller, true, [weak] {
        if (auto alert = weak.lock()) {
            alert->retainSelf_ = false;
            alert->self_.reset();
        }
    });
    if (!controller->presentingViewController()) {
        // Refused (the presenter is busy): as if it had never been shown.
        alertController_.reset();
        textFieldArray_.clear();
        if (ownsOneInstanceFlag_) gOneInstanceShown = false;
        ownsOneInstanceFlag_ = false;
        return;
    }
    if (auto d = delegate_.lock()) d->didPresentAlertView(*this);
    retainSelf_ = true;
    self_ = self;
}

void QNAlertView::actionChosen(int64_t index) {
    auto keep = weak_from_this().lock();
    buttonSlectedIndex_ = index;
    // The one-instance flag goes with the alert; left set, no later
    // one-instance alert would ever show.
    if (ownsOneInstanceFlag_) gOneInstanceShown = false;
    ownsOneInstanceFlag_ = false;
    if (auto d = delegate_.lock()) {
        d->alertViewClickedButtonAtIndex(*this, index);
        d->alertViewDidDismissWithButtonIndex(*this, index);
    }
    alertController_.reset();
    retainSelf_ = false;
    self_.reset();
}
