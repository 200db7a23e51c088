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
    column_ = PasscodeColumn::addTo(*view(), BookCommon::localizedStringWithOnOff("Enter the passphrase"), this);
    column_.field->setPlaceholder(BookCommon::localizedStringWithOnOff("Passphrase"));
    // Nothing else on the lock takes keys: Escape does not leave the field.
    column_.field->setLeavesOnEscape(false);
}

void StartupPasscodeInputViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    column_.field->becomeFirstResponder();
}

void StartupPasscodeInputViewController::viewDidLayoutSubviews() {
    column_.layout(view()->bounds(), 300, 60);
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
            column_.message->setText(BookCommon::localizedStringWithOnOff(
                found == QNKeyChain::Lookup::Unavailable ? "The password store is locked. Unlock it and try again."
                                                         : "Incorrect passphrase."));
            column_.field->setText("");
        }
        return false;
    }
    finished_ = true;
    if (isViewLoaded()) column_.field->resignFirstResponder();
    auto delegate = delegate_;
    dismiss(false, [delegate] {
        if (auto d = delegate.lock()) d->onPasscodeInputFinish();
    });
    return true;
}
