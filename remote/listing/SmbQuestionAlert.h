#pragma once

#include "foundation/ui/QNAlertViewDelegate.h"

#include <functional>
#include <memory>
#include <string>

namespace ui {
class ViewController;
}

// A yes/no question of an SMB listing: after a server refused a named user
// ("User: <name>", "Cancel" or "Change User"), or before the site's user
// name and password go to another server a DFS link leads to ("Another
// Server: <server>", "Don't Send" or "Send"). The texts come translated;
// "%@" in the title stands for `subject`. The answer goes to the callback
// once (true for the second button).
class SmbQuestionAlert : public QNAlertViewDelegate, public std::enable_shared_from_this<SmbQuestionAlert> {
public:
    using Answer = std::function<void(bool yes)>;

    static std::shared_ptr<SmbQuestionAlert> show(const std::string& title, const std::string& subject,
                                                  const std::string& message, const std::string& no,
                                                  const std::string& yes, ui::ViewController* presenter,
                                                  Answer answer);
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

private:
    Answer answer_;
};
