#pragma once

#include "foundation/ui/QNAlertViewDelegate.h"
#include "foundation/ui/QNNoticeView.h"
#include "foundation/ui/QNNoticeViewDelegate.h"

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class AlertController;
class TextField;
class ViewController;
}  // namespace ui

// Every message, question and error the program shows. Callers set a title,
// a message and buttons and call show(); up to three buttons without text
// fields are drawn as the program's own notice box on the key window, more
// buttons or text fields go through the platform's alert form. Both report
// the same button indexes to the delegate.
//
// Make alerts with std::make_shared: a shown alert keeps itself alive until
// its dismissal callbacks have run, so the caller may drop it after show().
// The delegate is not owned: a delegate that is gone hears nothing.
class QNAlertView : public QNNoticeViewDelegate, public std::enable_shared_from_this<QNAlertView> {
public:
    enum Style : int64_t { kStyleDefault = 0, kStyleSecureText = 1, kStylePlainText = 2, kStyleLoginAndPassword = 3 };

    QNAlertView() = default;
    // The cancel title, when given, becomes button 0 and the cancel button;
    // the other titles follow in order.
    QNAlertView(const std::string& title, const std::string& message, std::weak_ptr<QNAlertViewDelegate> delegate,
                const std::optional<std::string>& cancelButtonTitle, const std::vector<std::string>& otherButtonTitles);
    ~QNAlertView() override;

    // Appends a button; answers 0, as the program always has.
    int64_t addButtonWithTitle(const std::string& title);
    // The text field of the current platform-form presentation, or null.
    ui::TextField* textFieldAtIndex(int64_t index) const;

    // Shows the alert over `presenter`, or over the top screen of the key
    // window when null.
    void show(ui::ViewController* presenter = nullptr);
    // A message with a single OK button and no one to answer to, over
    // `presenter` (or the top screen).
    static void showMessage(const std::string& title, const std::string& message,
                            ui::ViewController* presenter = nullptr);
    // Shows the notice box with these texts and this alert's cancel index.
    void showNoticeWithTitle(const std::string& title, const std::string& message,
                             const std::vector<std::string>& buttons);
    void didCloseNoticeView(int64_t buttonIndex) override;

    // --- Properties ---
    const std::string& title() const { return title_; }
    void setTitle(const std::string& t) { title_ = t; }
    const std::string& message() const { return message_; }
    void setMessage(const std::string& m) { message_ = m; }
    const std::vector<std::string>& buttonList() const { return buttonList_; }
    int64_t cancelButtonIndex() const { return cancelButtonIndex_; }
    void setCancelButtonIndex(int64_t i) { cancelButtonIndex_ = i; }
    int64_t alertViewStyle() const { return alertViewStyle_; }
    void setAlertViewStyle(int64_t s) { alertViewStyle_ = s; }
    int64_t alertIdentifier() const { return alertIdentifier_; }
    void setAlertIdentifier(int64_t id) { alertIdentifier_ = id; }
    bool isShowOnlyOneInstance() const { return showOnlyOneInstance_; }
    void setIsShowOnlyOneInstance(bool on) { showOnlyOneInstance_ = on; }
    std::shared_ptr<QNAlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<QNAlertViewDelegate> d) { delegate_ = std::move(d); }
    int64_t userTag() const { return userTag_; }
    void setUserTag(int64_t t) { userTag_ = t; }
    const std::any& userInfo() const { return userInfo_; }
    void setUserInfo(std::any info) { userInfo_ = std::move(info); }

    // --- State, for the screens and tests ---
    bool isRetainSelf() const { return retainSelf_; }
    int64_t buttonSlectedIndex() const { return buttonSlectedIndex_; }
    QNNoticeView* noticeView() const { return noticeView_.get(); }
    // The platform form while it is presented, or null.
    ui::AlertController* alertController() const { return alertController_.lock().get(); }

    // The one program-wide flag: a one-instance alert is on screen.
    static bool isOneInstanceShown();
    // Runs `then` at once when no notice box is up on the key window, else
    // once the last one has closed: a question asked while a message is up
    // waits for it, so that the two come one after the other.
    static void afterNotices(std::function<void()> then);
    static void clearOneInstanceFlag();

    static constexpr double kNoticeFadeIn = 0.1;

private:
    void showAlertController(ui::ViewController* presenter);
    void actionChosen(int64_t index);

    std::string title_;
    std::string message_;
    std::vector<std::string> buttonList_;
    int64_t buttonSlectedIndex_ = 0;
    std::vector<std::shared_ptr<ui::TextField>> textFieldArray_;
    std::shared_ptr<QNNoticeView> noticeView_;
    // Held by its presenter; its actions hold this alert until one is chosen.
    std::weak_ptr<ui::AlertController> alertController_;
    bool showOnlyOneInstance_ = false;
    bool ownsOneInstanceFlag_ = false;
    int64_t alertIdentifier_ = 0;
    std::weak_ptr<QNAlertViewDelegate> delegate_;
    int64_t cancelButtonIndex_ = 0;
    int64_t alertViewStyle_ = kStyleDefault;
    int64_t userTag_ = 0;
    std::any userInfo_;
    bool retainSelf_ = false;
    std::shared_ptr<QNAlertView> self_;
};
