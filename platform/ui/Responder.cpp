#include "platform/ui/Responder.h"

namespace ui {

Responder* Responder::firstResponder_ = nullptr;

Responder::~Responder() {
    if (firstResponder_ == this) firstResponder_ = nullptr;
}

void Responder::touchesBegan(const TouchSet& touches, const Event& event) {
    if (Responder* n = nextResponder()) n->touchesBegan(touches, event);
}

void Responder::touchesMoved(const TouchSet& touches, const Event& event) {
    if (Responder* n = nextResponder()) n->touchesMoved(touches, event);
}

void Responder::touchesEnded(const TouchSet& touches, const Event& event) {
    if (Responder* n = nextResponder()) n->touchesEnded(touches, event);
}

void Responder::touchesCancelled(const TouchSet& touches, const Event& event) {
    if (Responder* n = nextResponder()) n->touchesCancelled(touches, event);
}

bool Responder::becomeFirstResponder() {
    if (firstResponder_ == this) return true;
    if (!canBecomeFirstResponder() || !isReadyForFirstResponder()) return false;
    Responder* old = firstResponder_;
    if (old) {
        if (!old->canResignFirstResponder()) return false;
        firstResponder_ = nullptr;
        old->didResignFirstResponder();
        // The old responder's handler may have handed the role on already.
        if (firstResponder_) return firstResponder_ == this;
    }
    firstResponder_ = this;
    didBecomeFirstResponder();
    return true;
}

bool Responder::resignFirstResponder() {
    if (firstResponder_ != this) return true;
    if (!canResignFirstResponder()) return false;
    firstResponder_ = nullptr;
    didResignFirstResponder();
    return true;
}

bool Responder::dispatchKey(const KeyPress& key, Responder* fallback, Responder* boundary) {
    auto reaches = [boundary](Responder* from) {
        for (Responder* r = from; r; r = r->nextResponder())
            if (r == boundary) return true;
        return false;
    };
    Responder* start = firstResponder_ ? firstResponder_ : fallback;
    if (boundary && start != fallback && !reaches(start)) start = fallback;
    if (!start) return false;
    auto next = [boundary](Responder* r) { return r == boundary ? nullptr : r->nextResponder(); };
    if (start->takesTextInput() && start->pressKey(key)) return true;
    for (Responder* r = start; r; r = next(r)) {
        for (const KeyCommand& k : r->keyCommands()) {
            if (k.matches(key.input, key.modifierFlags) && k.action) {
                KeyCommand copy = k;  // the action may change the responder's list
                copy.action(copy);
                return true;
            }
        }
    }
    for (Responder* r = start; r; r = next(r)) {
        if ((r != start || !start->takesTextInput()) && r->pressKey(key)) return true;
    }
    return false;
}

}  // namespace ui
