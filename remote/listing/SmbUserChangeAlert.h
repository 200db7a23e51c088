#pragma once

#include "foundation/ui/QNAlertViewDelegate.h"

#include <functional>
#include <memory>
#include <string>

namespace ui {
class ViewController;
}

// The question after an SMB server refused a named user: "User: <name>",
// "Access Denied.", with "Cancel" and "Change User". The answer goes to the
// callback once (true for "Change User").
class SmbUserChangeAlert : public QNAlertViewDelegate, public std::enable_shared_from_this<SmbUserChangeAlert> {
public:
    using Answer = std::function<void(bool changeUser)>;

    static std::shared_ptr<SmbUserChangeAlert> show(const std::string& userName, ui::ViewController* presenter,
                                                    Answer answer);
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

private:
    Answer answer_;
};
