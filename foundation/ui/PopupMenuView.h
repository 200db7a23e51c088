#pragma once

#include "foundation/ui/PopupMenuItem.h"
#include "foundation/ui/PopupMenuViewDelegate.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/View.h"

#include <memory>
#include <string>
#include <vector>

// The program's own menu of icon-and-title rows that pops up from a point
// (a tool bar button) and runs the chosen row's action. The view itself is a
// transparent catcher over the screen: a touch outside the rows closes the
// menu and goes on to what lies below.
//
// Two looks by the system version: plain rows on row images that fade in,
// or (from version 26) pill rows on glass that spring out of the point.
// The delegate is not owned and must outlive the menu.
class PopupMenuView : public ui::View {
public:
    static constexpr double kFadeDuration = 0.3;
    static constexpr double kSpringDuration = 0.5;
    static constexpr int kIconTag = 998;
    static constexpr int kLabelTag = 999;
    static constexpr int kKeyHighlightTag = 997;

    explicit PopupMenuView(const ui::Rect& frame = ui::Rect());

    void addItem(const std::string& title, PopupMenuItem::Selector selector);
    void addItem(const std::string& title, ui::ImageRef image, PopupMenuItem::Selector selector);
    // The catcher takes `frame`; the menu stands above and to the right of `point`.
    void setSize(const ui::Rect& frame, ui::Point popupPoint);
    void addPopupView(ui::View& superview);
    // Sizes the menu over the screen of `ownerView`, pops it up over the
    // navigation controller's view from the left end of its tool bar (the
    // safe area's bottom left in the newer look), and holds the back swipe
    // while it shows.
    void popUpFromToolbar(ui::NavigationController& nav, const ui::View& ownerView);
    void removePopup();
    // What a screen that shows `menu` (none when closed) answers to keys.
    // While the menu is open it takes them all, so nothing behind it moves:
    // Down, Up, Tab and Shift+Tab move a highlight through the rows (Home
    // and End to the first and last), Return chooses the highlighted row,
    // Escape closes the menu before the screen, or going back, takes it.
    static std::vector<ui::KeyCommand> keyCommandsOfOwner(PopupMenuView* menu);
    // The row the keys have highlighted, or -1.
    int keyHighlightedRow() const { return keyRow_; }
    // Highlights `row` (-1: none), drawn as a table's selected row.
    void setKeyHighlightedRow(int row);

    // Row button targets.
    void onItemBtn(ui::Button& button);
    void onMenuButtonDown(ui::Button& button);
    void onMenuButtonUp(ui::Button& button);

    PopupMenuViewDelegate* delegate() const { return delegate_; }
    void setDelegate(PopupMenuViewDelegate* d) { delegate_ = d; }

    bool isGlassLook() const { return glass_; }
    ui::View* menuRectView() const { return menuRectView_.get(); }
    // Where rows go (the glass's content view in the newer look).
    ui::View* rowContainer() const;
    const std::vector<std::shared_ptr<PopupMenuItem>>& itemList() const { return itemList_; }
    double itemHeight() const { return itemHeight_; }
    double itemWidth() const { return itemWidth_; }
    ui::Point popupPoint() const { return popupPoint_; }
    bool isClosing() const { return closing_; }

    void touchesBegan(const ui::TouchSet& touches, const ui::Event& event) override;

private:
    ui::Color titleColor() const;
    PopupMenuItem* itemForButton(const ui::Button& button) const;
    void moveKeyHighlight(int step);
    void chooseKeyHighlightedRow();

    std::shared_ptr<ui::View> menuRectView_;
    std::vector<std::shared_ptr<PopupMenuItem>> itemList_;
    double itemHeight_ = 50;
    double itemWidth_ = 300;
    ui::Point popupPoint_;
    PopupMenuViewDelegate* delegate_ = nullptr;
    bool glass_ = false;
    double contentOffset_ = 0;
    bool closing_ = false;
    int keyRow_ = -1;
};
