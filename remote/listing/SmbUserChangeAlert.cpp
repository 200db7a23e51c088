#include "remote/listing/SmbUserChangeAlert.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/QNAlertView.h"

std::shared_ptr<SmbUserChangeAlert> SmbUserChangeAlert::show(const std::string& userName,
                                                             ui::ViewController* presenter, Answer answer) {
    auto self = std::make_shared<SmbUserChangeAlert>();
    self->answer_ = std::move(answer);
    std::string title = BookCommon::localizedStringWithOnOff("User: %@");
    if (const size_t at = title.find("%@"); at != std::string::npos) title.replace(at, 2, userName);
    auto alert = std::make_shared<QNAlertView>(
        title, BookCommon::localizedStringWithOnOff("Access Denied."), self, BookCommon::localizedStringWithOnOff("Cancel"),
        std::vector<std::string>{BookCommon::localizedStringWithOnOff("Change User")});
    alert->show(presenter);
    return self;
}

void SmbUserChangeAlert::alertViewClickedButtonAtIndex(QNAlertView&, int64_t buttonIndex) {
    Answer answer = std::move(answer_);
    answer_ = nullptr;
    if (answer) answer(buttonIndex != 0);
}
