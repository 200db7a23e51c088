#pragma once

#include <functional>
#include <string>
#include <vector>

// What the activity log needs of a screen to offer a crash report: a question
// with buttons, a plain alert, and a mail composer. The screen layer supplies
// it; this program has no mail service of its own, so a presenter may answer
// canSendMail() with false and the report is then only shown as unsent.
class CrashReportPresenter {
public:
    enum class MailResult { Cancelled, Saved, Sent, Failed };

    struct MailError {
        std::string description;
        std::string failureReason;
        std::string recoverySuggestion;
    };

    virtual ~CrashReportPresenter() = default;

    // Shows an alert with the buttons in order; `answer` gets the index of
    // the button pressed.
    virtual void showQuestion(const std::string& title, const std::string& message,
                              const std::vector<std::string>& buttons,
                              std::function<void(int buttonIndex)> answer) = 0;
    virtual void showAlert(const std::string& title, const std::string& message,
                           const std::string& button) = 0;

    virtual bool canSendMail() = 0;
    // Opens a composer with one recipient and a plain-text body. `finished`
    // is called once the user leaves it (the error is set for Failed only).
    virtual void composeMail(const std::string& subject, const std::string& recipient,
                             const std::string& body,
                             std::function<void(MailResult, const MailError&)> finished) = 0;
    virtual void dismissMailComposer() = 0;
};
