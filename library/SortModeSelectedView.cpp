#include "library/SortModeSelectedView.h"

#include "foundation/ui/ColorDefine.h"
#include "library/FilelistBaseViewController.h"

#include <cmath>

namespace {

// The titles are small text and must read against their buttons. In the
// light look the system greys are too pale for that (grey titles on white,
// a white title on light grey): there the other titles and the selected
// backing take this deeper grey. The dark look keeps the system's.
const gfx::Rgba kDeepGray{108 / 255.0, 108 / 255.0, 112 / 255.0, 1};

ui::Color titleGray() { return ui::Color(kDeepGray, ColorDefine::labelGray().dark()); }
ui::Color selectedBacking() { return ui::Color(kDeepGray, ColorDefine::sortmodeSelectSegmentSelected().dark()); }

// On the shelves the buttons are translucent over the shelf's wall: the
// selected one a grey deep enough for its white title, the others a dark
// title on white.
const ui::Color kShelfSelectedBacking = ui::Color::rgb(0.45, 0.45, 0.45, 0.6);
const ui::Color kShelfTitle = ui::Color::rgb(0.15, 0.15, 0.15, 1.0);

}  // namespace

SortModeSelectedView::SortModeSelectedView(FilelistBaseViewController* controller)
    : fileSelectViewController_(controller) {
    for (int i = 0; i < 4; ++i) {
        auto b = std::make_shared<ui::Button>(ui::ButtonType::Custom);
        b->setTag(i);
        b->addAction(ui::ControlEventTouchUpInside, [this, i](ui::Control&) { onButtonSelect(i); });
        addSubview(b);
        buttons_[size_t(i)] = b;
        auto l = std::make_shared<ui::Label>();
        l->setTextAlignment(ui::TextAlignment::Center);
        l->setFont(gfx::Font::system(12));
        l->setUserInteractionEnabled(false);
        addSubview(l);
        texts_[size_t(i)] = l;
    }
    setBackgroundColor(isBookshelf() ? ui::Color::clear() : ColorDefine::backgroundSortModeSelectView());
    updateLabel();
}

bool SortModeSelectedView::isBookshelf() const {
    return fileSelectViewController_ && fileSelectViewController_->fileListViewMode() == 1;
}

void SortModeSelectedView::setSelectedIndex(int index) {
    selectedIndex_ = index;
    updateLabel();
}

void SortModeSelectedView::setIsDescendingOrder(bool on) {
    isDescendingOrder_ = on;
    updateLabel();
}

std::string SortModeSelectedView::title(int index) const {
    switch (index) {
    case 0: return "Name";
    case 1: return isDateSortModeBookmarkDate_ ? "Bookmark" : "Date";
    case 2: return "Status";
    default:
        return fileSelectViewController_ && fileSelectViewController_->getFilelistMode() != 0 ? "Original" : "User";
    }
}

std::string SortModeSelectedView::labelText(int index) const {
    if (index != selectedIndex_) return title(index);
    const bool hollow = index == 1 && isDateSortModeBookmarkDate_;
    const char* arrow = isDescendingOrder_ ? (hollow ? "\u25B3" : "\u25B2") : (hollow ? "\u25BD" : "\u25BC");
    return std::string(arrow) + title(index);
}

void SortModeSelectedView::updateLabel() {
    const bool shelf = isBookshelf();
    setBackgroundColor(shelf ? ui::Color::clear() : ColorDefine::backgroundSortModeSelectView());
    for (int i = 0; i < 4; ++i) {
        auto& label = *texts_[size_t(i)];
        auto& button = *buttons_[size_t(i)];
        label.setText(labelText(i));
        if (i == selectedIndex_) {
            label.setTextColor(ui::Color::whiteColor());
            button.setBackgroundColor(shelf ? kShelfSelectedBacking : selectedBacking());
        } else {
            label.setTextColor(shelf ? kShelfTitle : titleGray());
            button.setBackgroundColor(shelf ? ui::Color::rgb(1, 1, 1, 0.6) : ColorDefine::sortmodeSelectSegmentBg());
        }
    }
}

void SortModeSelectedView::onButtonSelect(int tag) {
    if (tag == selectedIndex_) {
        if (tag != 1) {
            isDescendingOrder_ = !isDescendingOrder_;
        } else if (!isDescendingOrder_) {
            isDescendingOrder_ = true;
        } else {
            isDateSortModeBookmarkDate_ = !isDateSortModeBookmarkDate_;
            isDescendingOrder_ = false;
        }
    }
    selectedIndex_ = tag;
    updateLabel();
    if (delegate_) delegate_->onSelectSortMode(tag, isDescendingOrder_, isDateSortModeBookmarkDate_);
}

void SortModeSelectedView::layoutSubviews() {
    const ui::Rect b = bounds();
    const double w = (b.width() - 1) / 4;
    for (int k = 0; k < 4; ++k) {
        ui::Rect r{w * k + 1, 1, std::trunc(w) - 1, b.height() - 2};
        buttons_[size_t(k)]->setFrame(r);
        texts_[size_t(k)]->setFrame(r);
    }
}
