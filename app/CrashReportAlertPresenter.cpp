#include "app/CrashReportAlertPresenter.h"

#include "foundation/ui/QNAlertView.h"
#include "platform/ui/ViewController.h"

void CrashReportAlertPresenter::showQuestion(const std::string& title, const std::string& message,
                                             const std::vector<std::string>& buttons,
                                             std::function<void(int buttonIndex)> answer) {
    answer_ = std::move(answer);
    // The question's last button is its cancel button ("Cancel" comes last).
    auto alert = std::make_shared<QNAlertView>(title, message, std::weak_ptr<QNAlertViewDelegate>(shared_from_this()),
                                               std::nullopt, buttons);
    if (!buttons.empty()) alert->setCancelButtonIndex(int64_t(buttons.size()) - 1);
    alert->show(screen_.lock().get());
}

void CrashReportAlertPresenter::showAlert(const std::string& title, const std::string& message,
                                          const std::string& button) {
    auto alert = std::make_shared<QNAlertView>(title, message, std::weak_ptr<QNAlertViewDelegate>(), std::nullopt,
                                               std::vector<std::string>{button});
    alert->setCancelButtonIndex(0);
    alert->show(screen_.lock().get());
}

void CrashReportAlertPresenter::composeMail(const std::string&, const std::string&, const std::string&,
                                            std::function<void(MailResult, const MailError&)> finished) {
    // Never asked while canSendMail() says no; should it be, it fails openly.
    if (finished)
        finished(MailResult::Failed, MailError{"Mail is not available", "This program cannot send mail.", ""});
}

void CrashReportAlertPresenter::alertViewClickedButtonAtIndex(QNAlertView&, int64_t buttonIndex) {
    auto answer = std::move(answer_);
    answer_ = nullptr;
    if (answer) answer(int(buttonIndex));
}
