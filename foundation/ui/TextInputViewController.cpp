#include "foundation/ui/TextInputViewController.h"

#include "foundation/BookCommon.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TransitionCoordinator.h"

#include <algorithm>

void TextInputViewController::loadView() {
    auto v = std::make_shared<ui::View>(ui::Screen::main().bounds());
    v->setBackgroundColor(ui::Color::systemBackground());
    setView(v);
}

void TextInputViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    titleLabel_value_ = std::make_shared<ui::Label>(ui::Rect(0, 0, 200, 25));
    view()->addSubview(titleLabel_value_);

    textField_value_ = std::make_shared<ui::TextField>(ui::Rect(0, 0, 200, 30));
    ui::TextField& field = *textField_value_;
    field.setBorderStyle(ui::TextBorderStyle::None);
    field.setCornerRadius(8.0);
    field.setBorderWidth(2.0);
    field.setBorderColor(ui::Color::darkGray());
    field.setShadowColor(ui::Color::black());
    field.setShadowOpacity(0.3);
    field.setShadowOffset(ui::Size{2, 2});
    field.setShadowRadius(4.0);
    // The field draws its own rounded border: the text keeps clear of it.
    field.setLeftView(std::make_shared<ui::View>(ui::Rect(0, 0, kTextInset, 1)));
    field.setClearButtonMode(ui::TextFieldViewMode::Always);
    field.setKeyboardType(int(keybordType_value_));
    field.setText(textToEdit_value_);
    // Ending the edit offers the text: Escape leaves the screen instead.
    field.setLeavesOnEscape(false);
    field.setDelegate(this);
    ui::TextField* raw = textField_value_.get();
    field.addAction(
        ui::ControlEventEditingDidEnd, [this, raw](ui::Control&) { textFieldDidEnd(*raw); }, weak_from_this());
    view()->addSubview(textField_value_);
    titleLabel_value_->setText(textLabel_value_);

    cancelButton_ = std::make_shared<ui::Button>(ui::ButtonType::System);
    cancelButton_->addAction(
        ui::ControlEventTouchUpInside, [this](ui::Control&) { cancelInput(); }, weak_from_this());
    if (isModalView_value_)
        cancelButton_->setTitle(BookCommon::localizedStringWithOnOff("Cancel"));
    else
        cancelButton_->setHidden(true);
    view()->addSubview(cancelButton_);
}

void TextInputViewController::configItemPosNew(ui::Size size) {
    if (!textField_value_) return;
    const double W = size.width, H = size.height;
    const double F = std::min(W - 20, kMaxFieldWidth);
    const double x = (W - F) / 2;
    const double y = H / 4;
    textField_value_->setFrame(ui::Rect(x, y, F, textField_value_->frame().height()));
    titleLabel_value_->setFrame(ui::Rect(x, y - 40, F, titleLabel_value_->frame().height()));
    cancelButton_->setFrame(ui::Rect(x + F - 200, y + 60, 200, 30));
    cancelButton_->setContentHorizontalAlignment(ui::ContentHorizontalAlignment::Right);
}

void TextInputViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    configItemPosNew(view()->bounds().size);
    if (ui::NavigationController* nav = navigationController()) nav->setToolbarHidden(true, true);
}

void TextInputViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (textField_value_) textField_value_->becomeFirstResponder();
}

void TextInputViewController::viewWillTransitionToSize(ui::Size size,
                                                       const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        if (auto self = weak.lock()) static_cast<TextInputViewController&>(*self).configItemPosNew(size);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

std::vector<ui::KeyCommand> TextInputViewController::keyCommands() const {
    if (!isModalView_value_) return {};
    auto* self = const_cast<TextInputViewController*>(this);
    return {ui::KeyCommand::make(ui::KeyInput::escape, 0, [self](const ui::KeyCommand&) {
        auto keep = self->shared_from_this();
        if (!self->closing_) self->cancelInput();
    })};
}

bool TextInputViewController::textFieldShouldReturn(ui::TextField& field) {
    field.resignFirstResponder();
    return true;
}

void TextInputViewController::textFieldDidEnd(ui::TextField& field) {
    // Leaving the screen ends editing too: a screen on its way out (closed,
    // or taken away with Back) asks nobody again.
    if (closing_ || isMovingFromParentViewController() || isBeingDismissed()) return;
    const std::string text = field.text();
    if (text == textToEdit_value_) return;
    auto keep = shared_from_this();
    auto d = delegate_.lock();
    if (!d) return;
    if (d->onFinishTextInput(*this, text, textToEdit_value_)) {
        close();
        return;
    }
    // Refused (the delegate said why): the field takes typing again, for
    // another name, once this end of editing is over.
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    sys::RunLoop::main().post([weak] {
        auto self = std::static_pointer_cast<TextInputViewController>(weak.lock());
        if (self && !self->closing_ && self->textField_value_) self->textField_value_->becomeFirstResponder();
    });
}

void TextInputViewController::close() {
    closing_ = true;
    if (isModalView_value_) {
        dismiss(true);
    } else if (ui::NavigationController* nav = navigationController()) {
        nav->popViewController(true);
    }
}

void TextInputViewController::cancelInput() {
    closing_ = true;
    if (textField_value_ && textField_value_->isFirstResponder()) textField_value_->resignFirstResponder();
    dismiss(true);
}
