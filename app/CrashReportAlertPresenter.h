#pragma once

#include "foundation/CrashReportPresenter.h"
#include "foundation/ui/QNAlertViewDelegate.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {
class ViewController;
}

// Offers the previous run's crash report with the program's own alerts. This
// program has no mail composer: sending always takes the activity log's
// "cannot send" path, which tells the user that no mail account is set up.
class CrashReportAlertPresenter : public CrashReportPresenter,
                                  public QNAlertViewDelegate,
                                  public std::enable_shared_from_this<CrashReportAlertPresenter> {
public:
    // `screen` is not owned; the alerts go over it (over the key window's top
    // screen once it is gone).
    explicit CrashReportAlertPresenter(std::weak_ptr<ui::ViewController> screen) : screen_(std::move(screen)) {}

    void showQuestion(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                      std::function<void(int buttonIndex)> answer) override;
    void showAlert(const std::string& title, const std::string& message, const std::string& button) override;
    bool canSendMail() override { return false; }
    void composeMail(const std::string& subject, const std::string& recipient, const std::string& body,
                     std::function<void(MailResult, const MailError&)> finished) override;
    void dismissMailComposer() override {}

    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

private:
    std::weak_ptr<ui::ViewController> screen_;
    std::function<void(int)> answer_;
};
