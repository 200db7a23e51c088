#pragma once

#include <cstdint>

class QNActionSheet;

// What an action sheet tells the screen that asked. Every operation is
// optional; the sheet sends only actionSheetClickedButtonAtIndex.
class QNActionSheetDelegate {
public:
    virtual ~QNActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) {
        (void)sheet;
        (void)buttonIndex;
    }
    virtual void actionSheetCancel(QNActionSheet& sheet) { (void)sheet; }
    virtual void willPresentActionSheet(QNActionSheet& sheet) { (void)sheet; }
    virtual void didPresentActionSheet(QNActionSheet& sheet) { (void)sheet; }
    virtual void actionSheetWillDismissWithButtonIndex(QNActionSheet& sheet, int64_t buttonIndex) {
        (void)sheet;
        (void)buttonIndex;
    }
    virtual void actionSheetDidDismissWithButtonIndex(QNActionSheet& sheet, int64_t buttonIndex) {
        (void)sheet;
        (void)buttonIndex;
    }
};
