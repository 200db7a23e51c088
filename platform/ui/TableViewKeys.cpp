// A table's rows highlighted and chosen with the keys.
#include "platform/ui/TableView.h"

#include "platform/core/RunLoop.h"
#include "platform/ui/Log.h"
#include "platform/ui/RefreshControl.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ui {

// --- Keys ---

std::optional<IndexPath> TableView::keyHighlightedRow() const {
    if (!keyRow_ || selected_.size() != 1 || *selected_.begin() != *keyRow_) return std::nullopt;
    return keyRow_;
}

void TableView::setKeyRow(std::optional<IndexPath> ip) {
    if (keyRow_)
        if (auto it = cells_.find(*keyRow_); it != cells_.end()) it->second->setKeyHighlighted(false);
    keyRow_ = ip;
    if (keyRow_)
        if (auto it = cells_.find(*keyRow_); it != cells_.end()) it->second->setKeyHighlighted(true);
}

bool TableView::canTakeKeyHighlight(const IndexPath& ip) {
    if (!selectable() || rectForRowAtIndexPath(ip).isNull()) return false;
    if (!tableDelegate_) return true;
    return tableDelegate_->tableViewCanFocusRowAtIndexPath(*this, ip) &&
           tableDelegate_->tableViewShouldHighlightRowAtIndexPath(*this, ip);
}

std::optional<IndexPath> TableView::rowBeside(const IndexPath& ip, int step) const {
    int section = ip.section, row = ip.row + step;
    while (section >= 0 && section < numberOfSections()) {
        if (row >= 0 && row < numberOfRowsInSection(section)) return IndexPath{section, row};
        section += step;
        if (section < 0 || section >= numberOfSections()) break;
        row = step > 0 ? 0 : numberOfRowsInSection(section) - 1;
    }
    return std::nullopt;
}

bool TableView::moveKeyHighlight(int step) {
    auto keep = shared_from_this();
    layoutIfNeeded();
    if (!selectable() || !dataSource_) return false;
    std::optional<IndexPath> to;
    if (auto from = keyHighlightedRow()) {
        to = from;
        for (int n = std::abs(step), dir = step > 0 ? 1 : -1; n > 0;) {
            std::optional<IndexPath> next = rowBeside(*to, dir);
            while (next && !canTakeKeyHighlight(*next)) next = rowBeside(*next, dir);
            if (!next) break;
            to = next;
            --n;
        }
    } else {
        // The first row at least half in sight, else the last one above it.
        const double top = contentOffset().y + adjustedContentInset().top;
        std::optional<IndexPath> above;
        for (int sec = 0; sec < numberOfSections() && !to; ++sec)
            for (int row = 0; row < numberOfRowsInSection(sec); ++row) {
                const IndexPath ip{sec, row};
                if (!canTakeKeyHighlight(ip)) continue;
                if (rectForRowAtIndexPath(ip).y() + rectForRowAtIndexPath(ip).height() / 2 >= top) {
                    to = ip;
                    break;
                }
                above = ip;
            }
        if (!to) to = above;
    }
    if (!to) return false;
    selectRowAtIndexPath(*to, false, TableViewScrollPosition::None);
    setKeyRow(*to);
    stopMotion();
    scrollToRowAtIndexPath(*to, TableViewScrollPosition::None, false);
    return true;
}

bool TableView::chooseKeyHighlightedRow() {
    auto ip = keyHighlightedRow();
    if (!ip || !canTakeKeyHighlight(*ip)) return false;
    auto keep = shared_from_this();
    selectAsTapped(*ip, nullptr);
    return true;
}

bool TableView::highlightForKey(Window& window, const std::string& input) {
    const bool up = input == KeyInput::upArrow, down = input == KeyInput::downArrow;
    const bool choose = input == KeyInput::returnKey;
    if (!up && !down && !choose) return false;
    auto* table = dynamic_cast<TableView*>(ScrollView::frontList(window, false));
    if (!table) return false;
    if (choose) return table->chooseKeyHighlightedRow();
    return table->moveKeyHighlight(down ? 1 : -1);
}

}  // namespace ui
