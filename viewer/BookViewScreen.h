#pragma once

#include "platform/ui/ScrollView.h"

// The scroll view that holds the page. It keeps no state: its touches go on
// to the reading screen (which resolves taps itself), and it never hands a
// touch to, or takes one from, the image inside it.
class BookViewScreen : public ui::ScrollView {
public:
    BookViewScreen();
    explicit BookViewScreen(const ui::Rect& frame);

    void touchesBegan(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesMoved(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesCancelled(const ui::TouchSet& touches, const ui::Event& event) override;
    bool touchesShouldCancelInContentView(ui::View* contentView) override;
    bool touchesShouldBegin(const ui::TouchSet& touches, const ui::Event& event, ui::View* contentView) override;
};
