#pragma once

// Told when the start-up pass-phrase was entered right.
class StartupPasscodeInputViewControllerDelegate {
public:
    virtual ~StartupPasscodeInputViewControllerDelegate() = default;
    virtual void onPasscodeInputFinish() = 0;
};
