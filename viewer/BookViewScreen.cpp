#include "viewer/BookViewScreen.h"

BookViewScreen::BookViewScreen() { setContentInsetAdjustmentBehavior(ui::ContentInsetAdjustmentBehavior::Never); }

BookViewScreen::BookViewScreen(const ui::Rect& frame) : ui::ScrollView(frame) {
    setContentInsetAdjustmentBehavior(ui::ContentInsetAdjustmentBehavior::Never);
}

void BookViewScreen::touchesBegan(const ui::TouchSet& touches, const ui::Event& event) {
    if (auto* next = nextResponder()) next->touchesBegan(touches, event);
}

void BookViewScreen::touchesMoved(const ui::TouchSet& touches, const ui::Event& event) {
    if (auto* next = nextResponder()) next->touchesMoved(touches, event);
}

void BookViewScreen::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    if (auto* next = nextResponder()) next->touchesEnded(touches, event);
}

void BookViewScreen::touchesCancelled(const ui::TouchSet& touches, const ui::Event& event) {
    if (auto* next = nextResponder()) next->touchesCancelled(touches, event);
}

bool BookViewScreen::touchesShouldCancelInContentView(ui::View*) { return false; }

bool BookViewScreen::touchesShouldBegin(const ui::TouchSet&, const ui::Event&, ui::View*) { return false; }
