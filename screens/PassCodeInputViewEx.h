#pragma once

#include "library/PassCodeRequetDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "screens/PasscodeColumn.h"

#include <memory>
#include <string>

// The four-digit passcode of a locked folder, presented over the list.
// Four digits are checked against the folder's hash: a wrong code says so
// and clears the field; the right one closes the screen and, a moment
// later, tells the delegate. Cancel tells the delegate and closes.
class PassCodeInputViewEx : public ui::ViewController, public ui::TextFieldDelegate {
public:
    static constexpr size_t kLength = 4;
    static constexpr double kCompleteDelay = 0.1;

    PassCodeInputViewEx();

    void setPassCodeHash_(const std::string& v) { target_.passCodeHash = v; }
    void setPath_(const std::string& v) { target_.path = v; }
    void setPathFromBooks_(const std::string& v) { target_.pathFromBooks = v; }
    void setActionID_(int64_t v) { target_.actionID = v; }
    void setDelegate(std::weak_ptr<PassCodeInputViewExDelegate> d) { delegate_ = std::move(d); }

    // The field's text changed: checks once four characters are there.
    void passcodeChanged(const std::string& text);
    void onCancel();
    // Escape cancels as the "Cancel" button does.
    std::vector<ui::KeyCommand> keyCommands() const override;

    ui::TextField* passcodeField() const { return column_.field.get(); }
    ui::Label* messageLabel() const { return column_.message.get(); }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    PassCodeTarget target_;
    std::weak_ptr<PassCodeInputViewExDelegate> delegate_;
    PasscodeColumn column_;
    bool done_ = false;
};
