#pragma once

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

// The platform's numbers.
enum class AlertControllerStyle { ActionSheet = 0, Alert = 1 };
enum class AlertActionStyle { Default = 0, Cancel = 1, Destructive = 2 };

class AlertAction {
public:
    using Ref = std::shared_ptr<AlertAction>;
    using Handler = std::function<void(AlertAction&)>;

    static Ref make(std::string title, AlertActionStyle style, Handler handler = {});

    const std::string& title() const { return title_; }
    AlertActionStyle style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e);
    const Handler& handler() const { return handler_; }

    // The alert that shows this action listens for enabling.
    void setChangeHandler(std::function<void()> h) { onChange_ = std::move(h); }

private:
    AlertAction() = default;
    std::string title_;
    AlertActionStyle style_ = AlertActionStyle::Default;
    bool enabled_ = true;
    Handler handler_;
    std::function<void()> onChange_;
};

// A message or a question with buttons: an alert in the middle of the
// window (with text fields, plain or secure), or an action sheet at the
// bottom. On pads, and on phones from system version 26, an action sheet
// with an anchor (popoverPresentationController: a bar button item, or a
// view and a rectangle) shows next to its anchor instead; there a tap
// outside it counts as its cancel action (on the desktop profile, which has
// no finger, it keeps its cancel button too). Escape cancels; the arrows and
// Tab move a highlight through the buttons, and return answers the
// highlighted one, else the button in bold (the preferred action, else the
// cancel one). Choosing an action dismisses the controller and then runs the
// action's handler.
class AlertController : public ViewController {
public:
    using Ref = std::shared_ptr<AlertController>;

    static Ref make(std::optional<std::string> title, std::optional<std::string> message, AlertControllerStyle style);
    ~AlertController() override;

    const std::optional<std::string>& alertTitle() const { return alertTitle_; }
    void setAlertTitle(std::optional<std::string> t);
    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> m);
    AlertControllerStyle preferredStyle() const { return style_; }

    // At most one cancel action is kept; a second one is refused with a warning.
    void addAction(const AlertAction::Ref& action);
    const std::vector<AlertAction::Ref>& actions() const { return actions_; }
    AlertAction::Ref preferredAction() const { return preferred_; }
    void setPreferredAction(const AlertAction::Ref& a);

    // Alerts only; `configure` runs on the new field at once.
    void addTextField(const std::function<void(TextField&)>& configure = {});
    const std::vector<std::shared_ptr<TextField>>& textFields() const { return fields_; }

    // Whether this sheet shows beside its anchor now (else centred or at the bottom).
    bool showsAsPopover() const;
    // The button of an action, once the view is loaded (tests, anchors).
    Button* buttonForAction(const AlertAction* action);
    // The box that holds the content.
    View* contentBox();

    // The action whose button the keys have highlighted, or null.
    AlertAction::Ref keyHighlightedAction() const { return keyAction_; }

    // Chooses an action as a tap on its button does: false when it is not
    // taken (disabled, an action chosen already, or the alert going away).
    bool choose(const AlertAction::Ref& action);
    // Leaves at once, without animation, answering with the cancel action;
    // one without a cancel action goes unanswered.
    void cancel();

    void loadView() override;
    void viewDidAppear(bool animated) override;
    // A button pressed while the alert or sheet still comes in is taken once
    // it is in.
    bool takesTouchesWhilePresented() const override { return true; }
    std::vector<KeyCommand> keyCommands() const override;
    // The screen underneath keeps deciding rotation.
    unsigned supportedInterfaceOrientations() const override;
    bool shouldAutorotate() const override;

    static constexpr double kAlertWidth = 270;
    static constexpr double kSheetRowHeight = 57;
    static constexpr double kAlertButtonHeight = 44;

private:
    AlertController() = default;
    friend class AlertContainerView;
    void rebuild();
    void layout();
    void backdropTapped();
    AlertAction::Ref cancelAction() const;
    // Moves the keys' highlight `step` buttons on, in reading order.
    void moveKeyHighlight(int step);
    void showKeyHighlight();

    std::optional<std::string> alertTitle_;
    std::optional<std::string> message_;
    AlertControllerStyle style_ = AlertControllerStyle::Alert;
    std::vector<AlertAction::Ref> actions_;
    AlertAction::Ref preferred_;
    std::vector<std::shared_ptr<TextField>> fields_;
    bool chosen_ = false;
    AlertAction::Ref keyAction_;

    std::shared_ptr<View> box_;
    std::shared_ptr<View> cancelBox_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<Label> messageLabel_;
    std::vector<std::pair<AlertAction::Ref, std::shared_ptr<Button>>> buttons_;
};

}  // namespace ui
