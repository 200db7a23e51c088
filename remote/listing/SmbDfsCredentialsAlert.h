#pragma once

#include "foundation/ui/QNAlertViewDelegate.h"

#include <functional>
#include <memory>
#include <string>

namespace ui {
class ViewController;
}

// The question before an SMB site's user name and password go to another
// server one of its DFS links leads to: "Another Server: <server>", with
// "Don't Send" and "Send". The answer goes to the callback once (true for
// "Send").
class SmbDfsCredentialsAlert : public QNAlertViewDelegate, public std::enable_shared_from_this<SmbDfsCredentialsAlert> {
public:
    using Answer = std::function<void(bool send)>;

    static std::shared_ptr<SmbDfsCredentialsAlert> show(const std::string& server, ui::ViewController* presenter,
                                                        Answer answer);
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

private:
    Answer answer_;
};
