#include "remote/listing/SmbDfsCredentialsAlert.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/QNAlertView.h"

std::shared_ptr<SmbDfsCredentialsAlert> SmbDfsCredentialsAlert::show(const std::string& server,
                                                                     ui::ViewController* presenter, Answer answer) {
    auto self = std::make_shared<SmbDfsCredentialsAlert>();
    self->answer_ = std::move(answer);
    std::string title = BookCommon::localizedStringWithOnOff("Another Server: %@");
    if (const size_t at = title.find("%@"); at != std::string::npos) title.replace(at, 2, server);
    auto alert = std::make_shared<QNAlertView>(
        title,
        BookCommon::localizedStringWithOnOff(
            "This folder is on another server. Send it the user name and password of this site?"),
        self, BookCommon::localizedStringWithOnOff("Don't Send"),
        std::vector<std::string>{BookCommon::localizedStringWithOnOff("Send")});
    alert->show(presenter);
    return self;
}

void SmbDfsCredentialsAlert::alertViewClickedButtonAtIndex(QNAlertView&, int64_t buttonIndex) {
    Answer answer = std::move(answer_);
    answer_ = nullptr;
    if (answer) answer(buttonIndex != 0);
}
