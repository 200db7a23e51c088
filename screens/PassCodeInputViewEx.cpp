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
    column_ = PasscodeColumn::addTo(*view(), BookCommon::localizedStringWithOnOff("Enter Passcode"), this);
    column_.field->setTextAlignment(ui::TextAlignment::Center);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    column_.field->addAction(ui::ControlEventEditingChanged, [weak](ui::Control& c) {
        if (auto self = std::dynamic_pointer_cast<PassCodeInputViewEx>(weak.lock()))
            self->passcodeChanged(static_cast<ui::TextField&>(c).text());
    });
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
    column_.field->becomeFirstResponder();
}

void PassCodeInputViewEx::viewDidLayoutSubviews() {
    const ui::Rect c = column_.layout(view()->bounds(), 240, 80, 40);
    if (auto* cancel = view()->viewWithTag(1)) cancel->setFrame({c.x(), c.y() + 140, c.width(), 40});
}

void PassCodeInputViewEx::passcodeChanged(const std::string& text) {
    if (done_ || text.size() < kLength) return;
    if (BookCommon::passcodeToHash(text) != target_.passCodeHash) {
        if (isViewLoaded()) {
            column_.message->setText(BookCommon::localizedStringWithOnOff("Incorrect pass code."));
            column_.field->setText("");
        }
        return;
    }
    done_ = true;
    if (isViewLoaded()) column_.field->resignFirstResponder();
    auto delegate = delegate_;
    const PassCodeTarget target = target_;
    const std::string code = text;
    dismiss(true);
    sys::RunLoop::main().schedule(kCompleteDelay, [delegate, target, code] {
        if (auto d = delegate.lock()) d->passCodeInputComplete(target.actionID, target.path, target.pathFromBooks, code);
    });
}

std::vector<ui::KeyCommand> PassCodeInputViewEx::keyCommands() const {
    auto* self = const_cast<PassCodeInputViewEx*>(this);
    return {ui::KeyCommand::make(ui::KeyInput::escape, 0, [self](const ui::KeyCommand&) { self->onCancel(); })};
}

void PassCodeInputViewEx::onCancel() {
    if (done_) return;
    done_ = true;
    if (auto d = delegate_.lock()) d->passCodeInputCancel(target_.actionID);
    dismiss(true);
}
