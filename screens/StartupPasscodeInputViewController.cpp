#include "screens/StartupPasscodeInputViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "foundation/ui/ColorDefine.h"

StartupPasscodeInputViewController::StartupPasscodeInputViewController() {
    setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
}

bool StartupPasscodeInputViewController::isPassphraseStored() {
    // A locked secret store may well hold the pass-phrase: keep the lock up.
    return QNKeyChain::lookupPasswordWithAccount(kKeychainAccount, kKeychainService, nullptr) !=
           QNKeyChain::Lookup::NotFound;
}

void StartupPasscodeInputViewController::viewDidLoad() {
    view()->setBackgroundColor(ColorDefine::background());
    title_ = std::make_shared<ui::Label>();
    title_->setText(BookCommon::localizedStringWithOnOff("Enter the passphrase"));
    title_->setTextAlignment(ui::TextAlignment::Center);
    title_->setFont(gfx::Font::boldSystem(20));
    view()->addSubview(title_);
    field_ = std::make_shared<ui::TextField>();
    field_->setSecureTextEntry(true);
    field_->setBorderStyle(ui::TextBorderStyle::RoundedRect);
    field_->setPlaceholder(BookCommon::localizedStringWithOnOff("Passphrase"));
    field_->setDelegate(this);
    view()->addSubview(field_);
    message_ = std::make_shared<ui::Label>();
    message_->setTextAlignment(ui::TextAlignment::Center);
    message_->setTextColor(ColorDefine::redTextColor());
    view()->addSubview(message_);
}

void StartupPasscodeInputViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    field_->becomeFirstResponder();
}

void StartupPasscodeInputViewController::viewDidLayoutSubviews() {
    const ui::Rect b = view()->bounds();
    const double w = std::min(300.0, b.width() - 40);
    const double x = (b.width() - w) / 2;
    const double y = std::max(60.0, b.height() / 3 - 60);
    title_->setFrame({x, y, w, 30});
    field_->setFrame({x, y + 50, w, 40});
    message_->setFrame({x, y + 100, w, 24});
}

bool StartupPasscodeInputViewController::textFieldShouldReturn(ui::TextField& field) {
    submit(field.text());
    return false;
}

bool StartupPasscodeInputViewController::submit(const std::string& passphrase) {
    if (finished_) return true;
    std::string stored;
    auto found = QNKeyChain::lookupPasswordWithAccount(kKeychainAccount, kKeychainService, &stored);
    if (found != QNKeyChain::Lookup::Found || stored != BookCommon::passcodeToHash(passphrase)) {
        if (isViewLoaded()) {
            message_->setText(BookCommon::localizedStringWithOnOff(
                found == QNKeyChain::Lookup::Unavailable ? "The password store is locked. Unlock it and try again."
                                                         : "Incorrect passphrase."));
            field_->setText("");
        }
        return false;
    }
    finished_ = true;
    if (isViewLoaded()) field_->resignFirstResponder();
    auto delegate = delegate_;
    dismiss(false, [delegate] {
        if (auto d = delegate.lock()) d->onPasscodeInputFinish();
    });
    return true;
}
