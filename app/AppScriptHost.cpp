#include "app/AppScriptHost.h"

#include "app/NestlarkAppDelegate.h"
#include "foundation/ui/QNNoticeView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "viewer/BookViewController.h"

namespace {

// The screen presented last over the window's root, or null.
ui::ViewController* topPresented(ui::Window& window) {
    ui::ViewController* vc = window.rootViewController().get();
    ui::ViewController* top = nullptr;
    while (vc && vc->presentedViewController()) {
        vc = vc->presentedViewController();
        top = vc;
    }
    return top;
}

QNNoticeView* openNotice(ui::Window& window) {
    ui::test::Driver driver(window);
    for (QNNoticeView* n : driver.findAllOf<QNNoticeView>())
        if (!n->isClosing()) return n;
    return nullptr;
}

// Runs what Escape does on `responder` (an alert's or a message box's cancel
// button, or its only one); false when Escape does nothing there.
bool pressEscape(const ui::Responder& responder) {
    for (const auto& command : responder.keyCommands()) {
        if (command.input != ui::KeyInput::escape || !command.action) continue;
        command.action(command);
        return true;
    }
    return false;
}

}  // namespace

bool AppScriptHost::pressButton(bool sheet, int index, std::string* error) {
    auto window = delegate_ ? delegate_->window() : nullptr;
    if (!window) {
        if (error) *error = "no window";
        return false;
    }
    if (!sheet) {
        if (QNNoticeView* notice = openNotice(*window)) {
            for (const auto& b : notice->buttons()) {
                if (b->tag() != index) continue;
                ui::test::Driver(*window).tap(*b);
                return true;
            }
            if (error) *error = "the alert has no button " + std::to_string(index);
            return false;
        }
    }
    auto* alert = dynamic_cast<ui::AlertController*>(topPresented(*window));
    const auto wanted = sheet ? ui::AlertControllerStyle::ActionSheet : ui::AlertControllerStyle::Alert;
    if (!alert || alert->preferredStyle() != wanted) {
        if (error) *error = sheet ? "no action sheet is shown" : "no alert is shown";
        return false;
    }
    const auto& actions = alert->actions();
    if (index < 0 || size_t(index) >= actions.size()) {
        if (error) *error = "there is no button " + std::to_string(index);
        return false;
    }
    if (!alert->choose(actions[size_t(index)])) {
        if (error) *error = "button " + std::to_string(index) + " was not taken";
        return false;
    }
    return true;
}

bool AppScriptHost::pressAlertButton(int index, std::string* error) { return pressButton(false, index, error); }
bool AppScriptHost::pressSheetButton(int index, std::string* error) { return pressButton(true, index, error); }

bool AppScriptHost::goBack(std::string* error) {
    auto window = delegate_ ? delegate_->window() : nullptr;
    if (!window) return false;
    if (delegate_->isPresentingMasterLock()) {
        if (error) *error = "the start-up lock waits for its passphrase";
        return false;
    }
    // A message box lies over every screen: it is closed as Escape closes
    // it, by its cancel button (or its only one).
    if (QNNoticeView* notice = openNotice(*window)) {
        if (pressEscape(*notice)) return true;
        if (error) *error = "the alert waits for one of its buttons";
        return false;
    }
    if (ui::ViewController* top = topPresented(*window)) {
        auto keep = top->shared_from_this();
        if (top->isBeingPresented() || top->isBeingDismissed()) {
            if (error) *error = "the screen in front is still moving";
            return false;
        }
        if (auto* alert = dynamic_cast<ui::AlertController*>(top)) {
            // An alert or action sheet is answered as Escape answers it:
            // taken away unanswered, what asked would wait for its answer
            // (a book's row tapped stays taken and opens nothing more).
            if (!pressEscape(*alert)) {
                if (error) *error = "the alert waits for one of its buttons";
                return false;
            }
        } else {
            auto* nav = dynamic_cast<ui::NavigationController*>(top);
            if (nav && nav->viewControllers().size() > 1) {
                nav->popViewController(true);
                return true;
            }
            top->dismiss(true);
        }
        if (top->presentingViewController() && !top->isBeingDismissed()) {
            if (error) *error = "the screen in front did not go";
            return false;
        }
        return true;
    }
    auto nav = delegate_->navigationController();
    if (nav && nav->viewControllers().size() > 1) {
        // A book closes the way the reader's own close does: the position
        // kept, the bars given back.
        if (auto* reader = dynamic_cast<BookViewController*>(nav->topViewController())) {
            reader->closeBookWithByuser(true);
            return true;
        }
        nav->popViewController(true);
        return true;
    }
    if (error) *error = "already on the first screen";
    return false;
}

// As the system moves the application: through the application object,
// which tells the delegate and the screens each step.
void AppScriptHost::enterBackground() { ui::Application::shared().setApplicationState(ui::Application::State::Background); }
void AppScriptHost::enterForeground() { ui::Application::shared().setApplicationState(ui::Application::State::Active); }

bool AppScriptHost::openURL(const std::string& url, std::string* error) {
    if (delegate_->openURL(url)) return true;
    if (error) *error = "the application does not take " + url;
    return false;
}
