#include "screens/PassCodeInputViewEx.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"

PassCodeInputViewEx::PassCodeInputViewEx() { setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen); }

void PassCodeInputViewEx::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    // Pushed over the list: its tool bar has nothing for this screen.
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
}

void PassCodeInputViewEx::viewDidLoad() {
    view()->setBackgroundColor(ColorDefine::background());
    title_ = std::make_shared<ui::Label>();
    title_->setText(BookCommon::localizedStringWithOnOff("Enter Passcode"));
    title_->setTextAlignment(ui::TextAlignment::Center);
    title_->setFont(gfx::Font::boldSystem(20));
    view()->addSubview(title_);
    field_ = std::make_shared<ui::TextField>();
    field_->setSecureTextEntry(true);
    field_->setBorderStyle(ui::TextBorderStyle::RoundedRect);
    field_->setTextAlignment(ui::TextAlignment::Center);
    field_->setDelegate(this);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    field_->addAction(ui::ControlEventEditingChanged, [weak](ui::Control& c) {
        if (auto self = std::dynamic_pointer_cast<PassCodeInputViewEx>(weak.lock()))
            self->passcodeChanged(static_cast<ui::TextField&>(c).text());
    });
    view()->addSubview(field_);
    message_ = std::make_shared<ui::Label>();
    message_->setTextAlignment(ui::TextAlignment::Center);
    message_->setTextColor(ColorDefine::redTextColor());
    view()->addSubview(message_);
    auto cancel = std::make_shared<ui::Button>(ui::ButtonType::System);
    cancel->setTitle(BookCommon::localizedStringWithOnOff("Cancel"));
    cancel->setTag(1);
    cancel->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
        if (auto self = std::dynamic_pointer_cast<PassCodeInputViewEx>(weak.lock())) self->onCancel();
    });
    view()->addSubview(cancel);
}

void PassCodeInputViewEx::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    field_->becomeFirstResponder();
}

void PassCodeInputViewEx::viewDidLayoutSubviews() {
    const ui::Rect b = view()->bounds();
    const double w = std::min(240.0, b.width() - 40);
    const double x = (b.width() - w) / 2;
    const double y = std::max(80.0, b.height() / 3 - 60);
    title_->setFrame({x, y, w, 30});
    field_->setFrame({x, y + 50, w, 40});
    message_->setFrame({x - 40, y + 100, w + 80, 24});
    if (auto* cancel = view()->viewWithTag(1)) cancel->setFrame({x, y + 140, w, 40});
}

void PassCodeInputViewEx::passcodeChanged(const std::string& text) {
    if (done_ || text.size() < kLength) return;
    if (BookCommon::passcodeToHash(text) != target_.passCodeHash) {
        if (isViewLoaded()) {
            message_->setText(BookCommon::localizedStringWithOnOff("Incorrect pass code."));
            field_->setText("");
        }
        return;
    }
    done_ = true;
    if (isViewLoaded()) field_->resignFirstResponder();
    auto delegate = delegate_;
    const PassCodeTarget target = target_;
    const std::string code = text;
    dismiss(true);
    sys::RunLoop::main().schedule(kCompleteDelay, [delegate, target, code] {
        if (auto d = delegate.lock()) d->passCodeInputComplete(target.actionID, target.path, target.pathFromBooks, code);
    });
}

void PassCodeInputViewEx::onCancel() {
    if (done_) return;
    done_ = true;
    if (auto d = delegate_.lock()) d->passCodeInputCancel(target_.actionID);
    dismiss(true);
}
