#include "foundation/ui/QNActionSheet.h"

#include "platform/core/DeviceProfile.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/PopoverPresentationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"

#include <optional>

namespace {
std::optional<std::string> nonEmpty(const std::string& s) {
    if (s.empty()) return std::nullopt;
    return s;
}
}  // namespace

void QNActionSheet::showInView(ui::View* view, ui::ViewController& viewController) {
    showInView(view, viewController, ui::Rect::null(), nullptr);
}

void QNActionSheet::showInView(ui::View* view, ui::ViewController& viewController, const ui::Rect& sourceRect) {
    showInView(view, viewController, sourceRect, nullptr);
}

void QNActionSheet::showInView(ui::View* view, ui::ViewController& viewController,
                               const ui::BarButtonItem::Ref& barButtonItem) {
    showInView(view, viewController, ui::Rect(), barButtonItem);
}

void QNActionSheet::showInView(ui::View*, ui::ViewController& viewController, const ui::Rect& sourceRect,
                               const ui::BarButtonItem::Ref& barButtonItem) {
    const sys::DeviceProfile profile = sys::DeviceProfile::current();
    const bool besideAnchor = profile.isPad() || profile.systemMajorVersion() >= 26;
    ui::AlertControllerStyle style = ui::AlertControllerStyle::ActionSheet;
    if (besideAnchor && sourceRect.isNull()) style = ui::AlertControllerStyle::Alert;

    auto controller = ui::AlertController::make(nonEmpty(title_), nonEmpty(message_), style);
    auto self = weak_from_this().lock();
    for (size_t i = 0; i < buttonList_.size(); ++i) {
        const int64_t index = int64_t(i);
        auto actionStyle = index == cancelButtonIndex_ ? ui::AlertActionStyle::Cancel : ui::AlertActionStyle::Default;
        QNActionSheet* raw = this;
        controller->addAction(ui::AlertAction::make(buttonList_[i], actionStyle, [self, raw, index](ui::AlertAction&) {
            (void)self;  // the action keeps the sheet until it has reported
            if (auto d = raw->delegate_.lock()) d->actionSheetClickedButtonAtIndex(*raw, index);
        }));
    }

    ui::PopoverPresentationController* popover = controller->popoverPresentationController();
    if (barButtonItem) {
        popover->setBarButtonItem(barButtonItem);
    } else {
        popover->setSourceView(viewController.viewRef());
        if (sourceRect.isNull()) {
            ui::Rect frame = ui::Screen::main().bounds();
            popover->setSourceRect(ui::Rect(0, frame.height() / 2, frame.width(), 20));
        } else {
            popover->setSourceRect(sourceRect);
        }
    }

    controller_ = controller;
    retainSelf_ = true;
    self_ = self;
    std::weak_ptr<QNActionSheet> weak = weak_from_this();
    viewController.present(controller, true, [weak] {
        if (auto sheet = weak.lock()) {
            sheet->retainSelf_ = false;
            sheet->self_.reset();
        }
    });
    if (!controller->presentingViewController()) {
        // Refused: nothing is on screen, so nothing holds the sheet.
        retainSelf_ = false;
        self_.reset();
    }
}
