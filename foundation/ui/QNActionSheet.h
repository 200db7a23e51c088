#pragma once

#include "foundation/ui/QNActionSheetDelegate.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Geometry.h"

#include <any>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ui {
class AlertController;
class View;
class ViewController;
}  // namespace ui

// A short list of choices with the classic action-sheet interface (title,
// button titles, cancel index, a callback by index), shown through the
// platform's alert form: a sheet from the bottom on phones before system
// version 26; on pads and from version 26 a list beside its anchor (a bar
// button or a rectangle), or a centred list when there is no anchor.
//
// Make sheets with std::make_shared: a shown sheet lives until its choice
// has been reported, so the caller may drop it after showing it. The
// delegate is not owned.
class QNActionSheet : public std::enable_shared_from_this<QNActionSheet> {
public:
    QNActionSheet() = default;

    void addButtonWithTitle(const std::string& title) { buttonList_.push_back(title); }

    // `sourceRect` Rect::null() means no rectangle; `view` is not used.
    void showInView(ui::View* view, ui::ViewController& viewController, const ui::Rect& sourceRect,
                    const ui::BarButtonItem::Ref& barButtonItem);
    void showInView(ui::View* view, ui::ViewController& viewController);
    void showInView(ui::View* view, ui::ViewController& viewController, const ui::Rect& sourceRect);
    void showInView(ui::View* view, ui::ViewController& viewController, const ui::BarButtonItem::Ref& barButtonItem);

    const std::string& title() const { return title_; }
    void setTitle(const std::string& t) { title_ = t; }
    // Always empty: a sheet has no message.
    const std::string& message() const { return message_; }
    const std::vector<std::string>& buttonList() const { return buttonList_; }
    int64_t cancelButtonIndex() const { return cancelButtonIndex_; }
    void setCancelButtonIndex(int64_t i) { cancelButtonIndex_ = i; }
    std::shared_ptr<QNActionSheetDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<QNActionSheetDelegate> d) { delegate_ = std::move(d); }
    const std::any& userInfo() const { return userInfo_; }
    void setUserInfo(std::any info) { userInfo_ = std::move(info); }
    int64_t userTag() const { return userTag_; }
    void setUserTag(int64_t t) { userTag_ = t; }

    bool isRetainSelf() const { return retainSelf_; }
    // The platform form while it is presented, or null.
    ui::AlertController* alertController() const { return controller_.lock().get(); }

private:
    bool retainSelf_ = false;
    std::string title_;
    std::string message_;
    std::vector<std::string> buttonList_;
    std::weak_ptr<QNActionSheetDelegate> delegate_;
    int64_t cancelButtonIndex_ = 0;
    std::any userInfo_;
    int64_t userTag_ = 0;
    std::shared_ptr<QNActionSheet> self_;
    std::weak_ptr<ui::AlertController> controller_;
};
