#include "library/ArchivePasswordViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TransitionCoordinator.h"

#include <algorithm>

void ArchivePasswordViewController::loadView() {
    auto v = std::make_shared<ui::View>(ui::Screen::main().bounds());
    setView(v);
}

void ArchivePasswordViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setTitle(BookCommon::localizedStringWithOnOff("Password"));
    view()->setBackgroundColor(ui::Color::whiteColor());

    label_value_ = std::make_shared<ui::Label>(ui::Rect(0, 0, 320, 25));
    label_value_->setText(isPasswordRetry_
                              ? BookCommon::localizedStringWithOnOff("The password you entered is incorrect.")
                              : BookCommon::localizedStringWithOnOff("Enter the password for the archive file."));
    label_value_->setTextColor(ui::Color::black());

    textField_value_ = std::make_shared<ui::TextField>(ui::Rect(0, 0, 300, 30));
    ui::TextField& field = *textField_value_;
    field.setBorderStyle(ui::TextBorderStyle::None);
    field.setCornerRadius(8.0);
    field.setBorderWidth(2.0);
    field.setBorderColor(ui::Color::darkGray());
    field.setClipsToBounds(false);
    field.setShadowColor(ui::Color::black());
    field.setShadowOpacity(0.3);
    field.setShadowOffset(ui::Size{2, 2});
    field.setShadowRadius(4.0);
    field.setTextColor(ui::Color::black());
    // A password shows as dots while it is typed.
    field.setSecureTextEntry(true);
    field.addAction(
        ui::ControlEventEditingDidEndOnExit, [this](ui::Control&) { inputExit(); }, weak_from_this());

    view()->addSubview(textField_value_);
    view()->addSubview(label_value_);
}

void ArchivePasswordViewController::configItemPosNew(ui::Size size) {
    if (!textField_value_) return;
    const double w = std::min(size.width - 20, kMaxFieldWidth);
    const double x = (size.width - w) / 2;
    const double y = size.height / 4;
    textField_value_->setFrame(ui::Rect(x, y, w, textField_value_->frame().height()));
    label_value_->setFrame(ui::Rect(x, y - 40, w, label_value_->frame().height()));
}

void ArchivePasswordViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    configItemPosNew(view()->bounds().size);
    // Nothing to do on a tool bar here; the list below shows its own again.
    if (ui::NavigationController* nav = navigationController()) nav->setToolbarHidden(true, animated);
}

void ArchivePasswordViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (textField_value_ && !finished_) textField_value_->becomeFirstResponder();
}

void ArchivePasswordViewController::viewWillTransitionToSize(
    ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        if (auto self = weak.lock()) static_cast<ArchivePasswordViewController&>(*self).configItemPosNew(size);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

void ArchivePasswordViewController::inputExit() {
    // Return can come twice (a key repeat before the pop lands): the retry
    // must be asked for once.
    if (finished_) return;
    finished_ = true;
    auto keep = shared_from_this();
    const std::string password = textField_value_ ? textField_value_->text() : std::string();
    if (textField_value_ && textField_value_->isFirstResponder()) textField_value_->resignFirstResponder();
    if (ui::NavigationController* nav = navigationController()) {
        if (nav->topViewController() == this) nav->popViewController(false);
    }
    if (auto d = delegate_.lock()) d->finishInputPassword(password);
}
