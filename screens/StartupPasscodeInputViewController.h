#pragma once

#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "screens/PasscodeColumn.h"
#include "screens/StartupPasscodeInputViewControllerDelegate.h"

#include <memory>
#include <string>

// The start-up lock: a full-screen pass-phrase field over the whole
// application. The right pass-phrase tells the delegate and closes the
// screen; a wrong one says so and clears the field.
class StartupPasscodeInputViewController : public ui::ViewController, public ui::TextFieldDelegate {
public:
    // Where the pass-phrase is kept: its hash in the key chain.
    static constexpr const char* kKeychainService = "Leafbright";
    static constexpr const char* kKeychainAccount = "startupPassphrase";

    StartupPasscodeInputViewController();

    void setDelegate(std::weak_ptr<StartupPasscodeInputViewControllerDelegate> d) { delegate_ = std::move(d); }
    // Checks a pass-phrase as if it had been typed and returned.
    bool submit(const std::string& passphrase);
    // A stored pass-phrase exists.
    static bool isPassphraseStored();

    ui::TextField* passphraseField() const { return column_.field.get(); }
    ui::Label* messageLabel() const { return column_.message.get(); }

    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewDidLayoutSubviews() override;
    bool textFieldShouldReturn(ui::TextField& field) override;

private:
    std::weak_ptr<StartupPasscodeInputViewControllerDelegate> delegate_;
    PasscodeColumn column_;
    bool finished_ = false;
};
