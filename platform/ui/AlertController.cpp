#include "platform/ui/AlertController.h"

#include "platform/core/DeviceProfile.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Log.h"
#include "platform/ui/PopoverPresentationController.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kPadding = 16;
constexpr double kTopPadding = 19;
constexpr double kFieldHeight = 28;
constexpr double kFieldGap = 6;
constexpr double kCornerRadius = 14;
constexpr double kSheetGap = 8;
constexpr double kSheetMaxWidth = 500;
constexpr double kPopoverWidth = 304;

// A desktop window has no finger to tap beside a popover with, so there the
// popover keeps its cancel button.
bool popoverShowsCancel() { return sys::DeviceProfile::current().name == "desktop"; }

// A button of an action: the action's colour and weight, a grey wash while pressed.
class ActionButton : public Button {
public:
    ActionButton() : Button(ButtonType::Custom) {}
    void setColors(const Color& normal) {
        setTitleColor(normal, ControlStateNormal);
        setTitleColor(Color::systemGray(), ControlStateDisabled);
    }
    // The keys' highlight: a table's selected look.
    void setKeyHighlighted(bool on) {
        keyHighlighted_ = on;
        stateDidChange();
    }

protected:
    void stateDidChange() override {
        Button::stateDidChange();
        setBackgroundColor(isHighlighted()    ? Color::systemGray4().withAlpha(0.6)
                           : keyHighlighted_ ? Color::systemGray4()
                                             : Color::clear());
    }

private:
    bool keyHighlighted_ = false;
};

// The box behind the texts and buttons, with hairlines between buttons.
class AlertBox : public View {
public:
    std::vector<Rect> lines;
    void draw(gfx::Canvas& c, const Rect&) override {
        for (auto& r : lines) c.fillRect(r, resolve(Color::separator()));
    }
};

}  // namespace

// The full-window view of an alert: it dims what is underneath, lays the
// box out, and hears taps beside the box.
class AlertContainerView : public View {
public:
    AlertContainerView(AlertController* owner, const Rect& frame) : View(frame), owner_(owner) {}
    void layoutSubviews() override {
        if (owner_) owner_->layout();
    }
    void touchesEnded(const TouchSet&, const Event&) override {
        if (owner_) owner_->backdropTapped();
    }
    void touchesBegan(const TouchSet&, const Event&) override {}
    void touchesMoved(const TouchSet&, const Event&) override {}
    void touchesCancelled(const TouchSet&, const Event&) override {}
    AlertController* owner_;
};

// --- Actions ---

AlertAction::Ref AlertAction::make(std::string title, AlertActionStyle style, Handler handler) {
    Ref a(new AlertAction);
    a->title_ = std::move(title);
    a->style_ = style;
    a->handler_ = std::move(handler);
    return a;
}

void AlertAction::setEnabled(bool e) {
    if (e == enabled_) return;
    enabled_ = e;
    if (onChange_) onChange_();
}

// --- Controller ---

AlertController::Ref AlertController::make(std::optional<std::string> title, std::optional<std::string> message,
                                           AlertControllerStyle style) {
    Ref a(new AlertController);
    a->alertTitle_ = std::move(title);
    a->message_ = std::move(message);
    a->style_ = style;
    a->setModalPresentationStyle(ModalPresentationStyle::OverFullScreen);
    a->setModalTransitionStyle(ModalTransitionStyle::CrossDissolve);
    return a;
}

AlertController::~AlertController() {
    if (isViewLoaded())
        if (auto* v = dynamic_cast<AlertContainerView*>(view())) v->owner_ = nullptr;
}

void AlertController::setAlertTitle(std::optional<std::string> t) {
    alertTitle_ = std::move(t);
    if (isViewLoaded()) rebuild();
}

void AlertController::setMessage(std::optional<std::string> m) {
    message_ = std::move(m);
    if (isViewLoaded()) rebuild();
}

void AlertController::addAction(const AlertAction::Ref& action) {
    if (!action) return;
    if (action->style() == AlertActionStyle::Cancel && cancelAction()) {
        logWarning("alert: a second cancel action is not added");
        return;
    }
    actions_.push_back(action);
    std::weak_ptr<ViewController> weak = weak_from_this();
    action->setChangeHandler([weak] {
        auto self = std::static_pointer_cast<AlertController>(weak.lock());
        if (self && self->isViewLoaded()) self->rebuild();
    });
    if (isViewLoaded()) rebuild();
}

void AlertController::setPreferredAction(const AlertAction::Ref& a) {
    if (a && std::find(actions_.begin(), actions_.end(), a) == actions_.end()) return;
    preferred_ = a;
    if (isViewLoaded()) rebuild();
}

AlertAction::Ref AlertController::cancelAction() const {
    for (auto& a : actions_)
        if (a->style() == AlertActionStyle::Cancel) return a;
    return nullptr;
}

void AlertController::addTextField(const std::function<void(TextField&)>& configure) {
    if (style_ != AlertControllerStyle::Alert) {
        logWarning("alert: text fields belong to alerts, not action sheets");
        return;
    }
    auto f = std::make_shared<TextField>(Rect(0, 0, kAlertWidth - 2 * kPadding, kFieldHeight));
    f->setBorderStyle(TextBorderStyle::Line);
    f->setFont(gfx::Font::system(13));
    f->setBackgroundColor(Color::systemBackground());
    // Escape in a field cancels the alert at once, as a dialog's does: the
    // field is the alert's only place for the keys, so leaving it first
    // would only strand them on the buttons.
    f->setLeavesOnEscape(false);
    // Return in a field chooses the button the keys highlighted, else the
    // preferred action (or the only one).
    std::weak_ptr<ViewController> weak = weak_from_this();
    f->addAction(ControlEventEditingDidEndOnExit, [weak](Control&) {
        auto self = std::static_pointer_cast<AlertController>(weak.lock());
        if (!self) return;
        AlertAction::Ref a = self->keyAction_ ? self->keyAction_ : self->preferred_;
        if (!a) {
            std::vector<AlertAction::Ref> others;
            for (auto& x : self->actions_)
                if (x->style() != AlertActionStyle::Cancel) others.push_back(x);
            if (others.size() == 1) a = others.front();
        }
        if (a) self->choose(a);
    });
    if (configure) configure(*f);
    fields_.push_back(f);
    if (isViewLoaded()) rebuild();
}

bool AlertController::showsAsPopover() const {
    if (style_ != AlertControllerStyle::ActionSheet) return false;
    sys::DeviceProfile p = sys::DeviceProfile::current();
    if (!p.isPad() && p.systemMajorVersion() < 26) return false;
    auto* self = const_cast<AlertController*>(this);
    return self->popoverPresentationController()->hasAnchor();
}

Button* AlertController::buttonForAction(const AlertAction* action) {
    loadViewIfNeeded();
    for (auto& [a, b] : buttons_)
        if (a.get() == action) return b.get();
    return nullptr;
}

View* AlertController::contentBox() {
    loadViewIfNeeded();
    return box_.get();
}

void AlertController::loadView() {
    auto v = std::make_shared<AlertContainerView>(this, Screen::main().bounds());
    v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    setView(v);
    rebuild();
}

void AlertController::rebuild() {
    View* root = view();
    bool popover = showsAsPopover();
    bool alert = style_ == AlertControllerStyle::Alert;
    root->setBackgroundColor(popover ? Color::clear() : Color::black().withAlpha(alert ? 0.2 : 0.4));
    if (box_) box_->removeFromSuperview();
    if (cancelBox_) cancelBox_->removeFromSuperview();
    buttons_.clear();
    box_ = std::make_shared<AlertBox>();
    box_->setBackgroundColor(Color::secondarySystemBackground());
    box_->setCornerRadius(kCornerRadius);
    box_->setClipsToBounds(true);
    root->addSubview(box_);
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->setNumberOfLines(0);
    titleLabel_->setTextAlignment(TextAlignment::Center);
    titleLabel_->setFont(alert ? gfx::Font::system(17, gfx::Font::Weight::Semibold)
                               : gfx::Font::system(13, gfx::Font::Weight::Semibold));
    titleLabel_->setTextColor(alert ? Color::label() : Color::secondaryLabel());
    titleLabel_->setText(alertTitle_.value_or(""));
    box_->addSubview(titleLabel_);
    messageLabel_ = std::make_shared<Label>();
    messageLabel_->setNumberOfLines(0);
    messageLabel_->setTextAlignment(TextAlignment::Center);
    messageLabel_->setFont(gfx::Font::system(13));
    messageLabel_->setTextColor(alert ? Color::label() : Color::secondaryLabel());
    messageLabel_->setText(message_.value_or(""));
    box_->addSubview(messageLabel_);
    for (auto& f : fields_) box_->addSubview(f);
    cancelBox_.reset();
    bool separateCancel = !alert && !popover;
    if (separateCancel && cancelAction()) {
        cancelBox_ = std::make_shared<AlertBox>();
        cancelBox_->setBackgroundColor(Color::secondarySystemBackground());
        cancelBox_->setCornerRadius(kCornerRadius);
        cancelBox_->setClipsToBounds(true);
        root->addSubview(cancelBox_);
    }
    for (auto& a : actions_) {
        // A popover sheet has no cancel button: a tap outside cancels (but
        // see popoverShowsCancel).
        if (popover && a->style() == AlertActionStyle::Cancel && !popoverShowsCancel()) continue;
        auto b = std::make_shared<ActionButton>();
        b->setTitle(a->title());
        Color c = a->style() == AlertActionStyle::Destructive ? Color::systemRed() : Color::systemBlue();
        b->setColors(c);
        bool bold = a == preferred_ || (alert && a->style() == AlertActionStyle::Cancel && !preferred_) ||
                    (!alert && a->style() == AlertActionStyle::Cancel);
        b->titleLabel()->setFont(gfx::Font::system(alert ? 17 : 20, bold ? gfx::Font::Weight::Semibold
                                                                         : gfx::Font::Weight::Regular));
        b->setEnabled(a->isEnabled());
        std::weak_ptr<AlertAction> wa = a;
        std::weak_ptr<ViewController> weak = weak_from_this();
        b->addAction(ControlEventTouchUpInside, [wa, weak](Control&) {
            auto self = std::static_pointer_cast<AlertController>(weak.lock());
            auto act = wa.lock();
            if (self && act) self->choose(act);
        });
        if (cancelBox_ && a->style() == AlertActionStyle::Cancel)
            cancelBox_->addSubview(b);
        else
            box_->addSubview(b);
        buttons_.push_back({a, b});
    }
    showKeyHighlight();
    root->setNeedsLayout();
}

void AlertController::showKeyHighlight() {
    bool shown = false;
    for (auto& [a, b] : buttons_) {
        const bool on = a == keyAction_ && a->isEnabled();
        static_cast<ActionButton*>(b.get())->setKeyHighlighted(on);
        shown = shown || on;
    }
    if (!shown) keyAction_.reset();
}

void AlertController::moveKeyHighlight(int step) {
    if (chosen_) return;
    loadViewIfNeeded();
    view()->layoutIfNeeded();
    // The buttons as they are read: top to bottom, left to right.
    std::vector<std::pair<AlertAction::Ref, Rect>> order;
    for (auto& [a, b] : buttons_)
        if (a->isEnabled() && !b->isHidden()) order.push_back({a, b->convertRectTo(b->bounds(), view())});
    if (order.empty()) return;
    std::stable_sort(order.begin(), order.end(), [](const auto& x, const auto& y) {
        if (x.second.y() != y.second.y()) return x.second.y() < y.second.y();
        return x.second.x() < y.second.x();
    });
    const int n = int(order.size());
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (order[size_t(i)].first == keyAction_) at = i;
    // From nothing, forward starts at the first button and back at the last;
    // the highlight goes round.
    at = at < 0 ? (step > 0 ? 0 : n - 1) : ((at + step) % n + n) % n;
    keyAction_ = order[size_t(at)].first;
    showKeyHighlight();
}

void AlertController::layout() {
    View* root = view();
    Rect wb = root->bounds();
    EdgeInsets safe = root->safeAreaInsets();
    bool alert = style_ == AlertControllerStyle::Alert;
    bool popover = showsAsPopover();
    double w = alert ? kAlertWidth
               : popover ? kPopoverWidth
                         : std::min(kSheetMaxWidth, wb.width() - 2 * kSheetGap - safe.left - safe.right);
    auto* box = static_cast<AlertBox*>(box_.get());
    box->lines.clear();
    double inner = w - 2 * kPadding;
    double y = 0;
    bool hasTitle = alertTitle_ && !alertTitle_->empty();
    bool hasMessage = message_ && !message_->empty();
    if (hasTitle || hasMessage || !fields_.empty()) y = alert ? kTopPadding : 14;
    if (hasTitle) {
        double h = titleLabel_->sizeThatFits({inner, 0}).height;
        titleLabel_->setFrame(Rect(kPadding, y, inner, h));
        y += h + (hasMessage ? 2 : 0);
    }
    titleLabel_->setHidden(!hasTitle);
    if (hasMessage) {
        double h = messageLabel_->sizeThatFits({inner, 0}).height;
        messageLabel_->setFrame(Rect(kPadding, y, inner, h));
        y += h;
    }
    messageLabel_->setHidden(!hasMessage);
    if (!fields_.empty()) y += 12;
    for (auto& f : fields_) {
        f->setFrame(Rect(kPadding, y, inner, kFieldHeight));
        y += kFieldHeight + kFieldGap;
    }
    if (y > 0) y += alert ? kTopPadding - (fields_.empty() ? 0 : kFieldGap) : 14;

    // Buttons: two alert buttons sit side by side (the cancel one left);
    // otherwise they stack with the cancel one last.
    std::vector<std::pair<AlertAction::Ref, std::shared_ptr<Button>>> inBox, inCancel;
    for (auto& p : buttons_) (p.second->superview() == cancelBox_.get() && cancelBox_ ? inCancel : inBox).push_back(p);
    std::stable_sort(inBox.begin(), inBox.end(), [&](auto& a, auto& b) {
        bool ca = a.first->style() == AlertActionStyle::Cancel, cb = b.first->style() == AlertActionStyle::Cancel;
        if (alert && inBox.size() == 2) return ca && !cb;
        return !ca && cb;
    });
    double rowH = alert ? kAlertButtonHeight : kSheetRowHeight;
    if (alert && inBox.size() == 2) {
        box->lines.push_back(Rect(0, y, w, 0.5));
        box->lines.push_back(Rect(w / 2, y, 0.5, rowH));
        inBox[0].second->setFrame(Rect(0, y, w / 2, rowH));
        inBox[1].second->setFrame(Rect(w / 2, y, w / 2, rowH));
        y += rowH;
    } else {
        for (auto& [a, b] : inBox) {
            if (y > 0) box->lines.push_back(Rect(0, y, w, 0.5));
            b->setFrame(Rect(0, y, w, rowH));
            y += rowH;
        }
    }
    box->setNeedsDisplay();
    double boxH = y;
    Rect frame;
    if (alert) {
        double bottom = wb.maxY();
        if (Keyboard::shared().isVisible() && root->window()) bottom = Keyboard::frameIn(root->window()).minY();
        double top = wb.minY() + safe.top;
        double fy = std::max(top + 10, top + (bottom - top - boxH) / 2);
        frame = Rect(wb.minX() + (wb.width() - w) / 2, fy, w, boxH);
    } else if (popover) {
        frame = popoverPresentationController()->frameFor({w, boxH}, wb);
    } else {
        double bottom = wb.maxY() - std::max(safe.bottom, kSheetGap);
        double x = wb.minX() + (wb.width() - w) / 2;
        if (cancelBox_) {
            for (auto& [a, b] : inCancel) b->setFrame(Rect(0, 0, w, kSheetRowHeight));
            cancelBox_->setFrame(Rect(x, bottom - kSheetRowHeight, w, kSheetRowHeight));
            bottom -= kSheetRowHeight + kSheetGap;
        }
        frame = Rect(x, bottom - boxH, w, boxH);
    }
    box_->setFrame(frame);
    box_->setHidden(boxH <= 0);
}

void AlertController::backdropTapped() {
    // A tap beside a sheet that still comes in is the end of the one that
    // opened it (a double click), not an answer.
    if (style_ == AlertControllerStyle::Alert || isBeingPresented()) return;
    // Beside a sheet: its cancel action, if it has one (a popover always goes).
    if (AlertAction::Ref c = cancelAction())
        choose(c);
    else if (showsAsPopover() && !chosen_) {
        chosen_ = true;
        dismiss(true);
    }
}

bool AlertController::choose(const AlertAction::Ref& action) {
    if (!action || chosen_ || !action->isEnabled() || isBeingDismissed()) return false;
    chosen_ = true;
    auto keep = shared_from_this();
    auto run = [action] {
        if (action->handler()) action->handler()(*action);
    };
    if (Responder* fr = Responder::firstResponder())
        for (auto& f : fields_)
            if (fr == f.get()) f->resignFirstResponder();
    if (presentingViewController())
        dismiss(true, run);
    else
        run();
    return true;
}

void AlertController::cancel() {
    if (chosen_) return;
    chosen_ = true;
    auto keep = shared_from_this();
    AlertAction::Ref c = cancelAction();
    if (Responder* fr = Responder::firstResponder())
        for (auto& f : fields_)
            if (fr == f.get()) f->resignFirstResponder();
    if (presentingViewController()) dismiss(false);
    if (c && c->handler()) c->handler()(*c);
}

void AlertController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (!fields_.empty()) fields_.front()->becomeFirstResponder();
}

std::vector<KeyCommand> AlertController::keyCommands() const {
    std::vector<KeyCommand> keys;
    auto* self = const_cast<AlertController*>(this);
    // Escape answers as cancelling does: the cancel action; a sheet without
    // one goes away unanswered, as a popover does on a tap beside it; an
    // alert with a single button takes that one.
    if (AlertAction::Ref c = cancelAction()) {
        keys.push_back(KeyCommand::make(KeyInput::escape, 0, [self, c](const KeyCommand&) { self->choose(c); }));
    } else if (style_ == AlertControllerStyle::ActionSheet) {
        keys.push_back(KeyCommand::make(KeyInput::escape, 0, [self](const KeyCommand&) {
            if (self->chosen_) return;
            self->chosen_ = true;
            self->dismiss(true);
        }));
    } else if (actions_.size() == 1) {
        AlertAction::Ref only = actions_.front();
        keys.push_back(KeyCommand::make(KeyInput::escape, 0, [self, only](const KeyCommand&) { self->choose(only); }));
    }
    // The arrows and Tab move a highlight through the buttons.
    auto move = [self](int step) { return [self, step](const KeyCommand&) { self->moveKeyHighlight(step); }; };
    keys.push_back(KeyCommand::make(KeyInput::downArrow, 0, move(1)));
    keys.push_back(KeyCommand::make(KeyInput::rightArrow, 0, move(1)));
    keys.push_back(KeyCommand::make(KeyInput::tab, 0, move(1)));
    keys.push_back(KeyCommand::make(KeyInput::upArrow, 0, move(-1)));
    keys.push_back(KeyCommand::make(KeyInput::leftArrow, 0, move(-1)));
    keys.push_back(KeyCommand::make(KeyInput::tab, KeyModifierShift, move(-1)));
    // Return answers the highlighted button; with none, the button drawn as
    // the default one (in bold): the preferred action, else the cancel
    // action; a lone button ("OK") is the default one too. A question whose
    // bold button is its cancel button answers with that: Return never
    // deletes what only a click should.
    if (AlertAction::Ref chosen = keyAction_) {
        keys.push_back(
            KeyCommand::make(KeyInput::returnKey, 0, [self, chosen](const KeyCommand&) { self->choose(chosen); }));
        return keys;
    }
    AlertAction::Ref main = preferred_;
    if (!main) main = cancelAction();
    if (!main && actions_.size() == 1) main = actions_.front();
    if (main)
        keys.push_back(KeyCommand::make(KeyInput::returnKey, 0, [self, main](const KeyCommand&) { self->choose(main); }));
    return keys;
}

unsigned AlertController::supportedInterfaceOrientations() const {
    if (ViewController* p = presentingViewController()) {
        ViewController* top = p;
        while (ViewController* c = top->childViewControllerForRotation()) top = c;
        return top->supportedInterfaceOrientations();
    }
    return ViewController::supportedInterfaceOrientations();
}

bool AlertController::shouldAutorotate() const {
    if (ViewController* p = presentingViewController()) {
        ViewController* top = p;
        while (ViewController* c = top->childViewControllerForRotation()) top = c;
        return top->shouldAutorotate();
    }
    return true;
}

}  // namespace ui
