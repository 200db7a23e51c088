#include "remote/listing/SmbQuestionAlert.h"

#include "foundation/ui/QNAlertView.h"

std::shared_ptr<SmbQuestionAlert> SmbQuestionAlert::show(const std::string& title, const std::string& subject,
                                                         const std::string& message, const std::string& no,
                                                         const std::string& yes, ui::ViewController* presenter,
                                                         Answer answer) {
    auto self = std::make_shared<SmbQuestionAlert>();
    self->answer_ = std::move(answer);
    std::string shown = title;
    if (const size_t at = shown.find("%@"); at != std::string::npos) shown.replace(at, 2, subject);
    auto alert = std::make_shared<QNAlertView>(shown, message, self, no, std::vector<std::string>{yes});
    alert->show(presenter);
    return self;
}

void SmbQuestionAlert::alertViewClickedButtonAtIndex(QNAlertView&, int64_t buttonIndex) {
    Answer answer = std::move(answer_);
    answer_ = nullptr;
    if (answer) answer(buttonIndex != 0);
}
