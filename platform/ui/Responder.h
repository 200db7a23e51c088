#pragma once

#include "platform/ui/KeyCommand.h"
#include "platform/ui/Touch.h"
#include "platform/ui/TraitCollection.h"

#include <vector>

namespace ui {

// Something that takes part in event handling: views, view controllers and
// the window. Touches a responder does not handle go on to its next
// responder (a view's controller, then its superview). Keys go to the first
// responder and up the same chain until a key command matches.
class Responder {
public:
    virtual ~Responder();

    virtual Responder* nextResponder() const { return nullptr; }

    // The default passes the touches on to the next responder.
    virtual void touchesBegan(const TouchSet& touches, const Event& event);
    virtual void touchesMoved(const TouchSet& touches, const Event& event);
    virtual void touchesEnded(const TouchSet& touches, const Event& event);
    virtual void touchesCancelled(const TouchSet& touches, const Event& event);

    // The commands this responder answers while it is in the chain.
    virtual std::vector<KeyCommand> keyCommands() const { return {}; }
    // A key no command matched; true when taken (text input uses this).
    virtual bool pressKey(const KeyPress&) { return false; }
    // Text input takes typing keys before any key command is looked up.
    virtual bool takesTextInput() const { return false; }

    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool canResignFirstResponder() const { return true; }
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const { return firstResponder_ == this; }
    static Responder* firstResponder() { return firstResponder_; }

    // Delivers a key to the first responder's chain, starting at `fallback`
    // when there is no first responder. True when someone took it. With a
    // `boundary` (a screen presented over the others) the key goes no
    // further up than it, and a first responder outside it is passed over.
    static bool dispatchKey(const KeyPress& key, Responder* fallback, Responder* boundary = nullptr);

    // A view controller hears the layout passes of its view: the view calls
    // these on its owner around its own layoutSubviews.
    virtual void ownedViewWillLayoutSubviews() {}
    virtual void ownedViewDidLayoutSubviews() {}
    // And the changes of its view's traits (the appearance), after the view's own.
    virtual void ownedViewTraitCollectionDidChange(const TraitCollection& previous) { (void)previous; }

protected:
    // Notifications after the change took place.
    virtual void didBecomeFirstResponder() {}
    virtual void didResignFirstResponder() {}
    // Whether the responder may become first responder now (a view must be in a window).
    virtual bool isReadyForFirstResponder() const { return true; }

private:
    static Responder* firstResponder_;
};

}  // namespace ui
