#pragma once

#include "foundation/ui/QNNoticeViewLineView.h"
#include "foundation/ui/QNNoticeViewDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The program's own message box: a dimmed square over the whole window with
// a 310-point box in its middle holding an optional bold title, the message
// and one to three buttons (one, two side by side with the first on the
// right, or three stacked). It follows the window's size (turned or resized)
// while it is up.
class QNNoticeView : public ui::View {
public:
    static constexpr double kBoxWidth = 310.0;
    static constexpr double kTextWidth = 290.0;
    static constexpr double kButtonRowHeight = 45.0;
    static constexpr double kMinMessageHeight = 50.0;
    static constexpr double kCloseDuration = 0.3;

    // An empty title means none. More than three titles: the first three are used.
    QNNoticeView(const ui::Rect& frame, const std::string& title, const std::string& message,
                 const std::vector<std::string>& buttons, int64_t cancelButtonIndex);
    ~QNNoticeView() override;

    QNNoticeViewDelegate* delegate() const { return delegate_; }
    void setDelegate(QNNoticeViewDelegate* d) { delegate_ = d; }

    // A square of the window's longer side at its origin, the box in the middle.
    void layout();
    // The window turned or resized: the box keeps to its middle.
    void layoutSubviews() override;
    // Closes the box for the button (its tag is the index).
    void onClose(ui::Button& button);
    // Closes the box at once, without fading, answering as its cancel
    // button would (the program is taking the user elsewhere).
    void cancel();

    QNNoticeViewLineView* baseView() const { return baseView_.get(); }
    ui::Label* titleLabel() const { return titleLabel_.get(); }
    ui::Label* messageLabel() const { return messageLabel_.get(); }
    const std::vector<std::shared_ptr<ui::Button>>& buttons() const { return buttons_; }
    double contentHeight() const { return contentHeight_; }
    bool isClosing() const { return closing_; }
    // The arrows and Tab move a highlight through the buttons; return answers
    // with the highlighted one. Escape, and return with nothing highlighted,
    // answer with the cancel button, the one drawn in bold (the only button
    // when there is one).
    std::vector<ui::KeyCommand> keyCommands() const override;
    // The button the keys have highlighted, or null.
    ui::Button* keyHighlightedButton() const { return keyButton_; }
    bool isKeyOverlay() const override { return true; }

private:
    // Marks the box closing (another one-instance alert may show); false
    // when it was closing already.
    bool beginClose();
    // Moves the keys' highlight `step` buttons on, in reading order.
    void moveKeyHighlight(int step);

    std::shared_ptr<QNNoticeViewLineView> baseView_;
    std::shared_ptr<ui::Label> titleLabel_;
    std::shared_ptr<ui::Label> messageLabel_;
    std::vector<std::shared_ptr<ui::Button>> buttons_;
    QNNoticeViewDelegate* delegate_ = nullptr;
    double contentHeight_ = 0;
    bool closing_ = false;
    int64_t cancelButtonIndex_ = -1;
    ui::Button* keyButton_ = nullptr;
};
