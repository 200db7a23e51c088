#pragma once

#include <cstdint>

class QNAlertView;

// What an alert tells the screen that asked. Every operation is optional:
// the defaults do nothing. The alert sends willPresentAlertView and
// didPresentAlertView (only when it uses the platform's alert form),
// alertViewClickedButtonAtIndex and alertViewDidDismissWithButtonIndex.
class QNAlertViewDelegate {
public:
    virtual ~QNAlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
        (void)alert;
        (void)buttonIndex;
    }
    virtual void alertViewCancel(QNAlertView& alert) { (void)alert; }
    virtual void willPresentAlertView(QNAlertView& alert) { (void)alert; }
    virtual void didPresentAlertView(QNAlertView& alert) { (void)alert; }
    virtual void alertViewWillDismissWithButtonIndex(QNAlertView& alert, int64_t buttonIndex) {
        (void)alert;
        (void)buttonIndex;
    }
    virtual void alertViewDidDismissWithButtonIndex(QNAlertView& alert, int64_t buttonIndex) {
        (void)alert;
        (void)buttonIndex;
    }
    virtual bool alertViewShouldEnableFirstOtherButton(QNAlertView& alert) {
        (void)alert;
        return true;
    }
};
