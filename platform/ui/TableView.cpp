#include "platform/ui/TableView.h"

#include "platform/core/RunLoop.h"
#include "platform/ui/Log.h"
#include "platform/ui/RefreshControl.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace ui {

namespace {

constexpr double kPlainHeaderHeight = 28;
constexpr double kGroupedTitleHeaderHeight = 38;
constexpr double kGroupedFirstHeaderHeight = 35;
constexpr double kGroupedHeaderHeight = 18;
constexpr double kGroupedFooterHeight = 18;
constexpr double kTitleMargin = 16;
constexpr double kReorderDuration = 0.2;
// Cells kept for reuse per identifier.
constexpr size_t kPoolLimit = 32;

// A section's header or footer built from its title.
class SectionTitleView : public View {
public:
    SectionTitleView(const std::string& title, bool header, bool grouped) : header_(header), grouped_(grouped) {
        label_ = std::make_shared<Label>();
        label_->setText(title);
        if (grouped) {
            label_->setFont(gfx::Font::system(13));
            label_->setTextColor(Color::secondaryLabel());
            label_->setNumberOfLines(header ? 1 : 0);
        } else {
            label_->setFont(gfx::Font::system(15, gfx::Font::Weight::Semibold));
            setBackgroundColor(Color::systemGray6());
        }
        addSubview(label_);
        setUserInteractionEnabled(false);
    }
    void layoutSubviews() override {
        Rect b = bounds();
        const EdgeInsets safe = safeAreaInsets();
        double w = std::max(0.0, b.width() - safe.left - safe.right - 2 * kTitleMargin);
        Size s = label_->sizeThatFits({w, 0});
        double h = std::min(s.height, b.height());
        double y = !grouped_ ? (b.height() - h) / 2 : header_ ? b.height() - h - 6 : 6;
        label_->setFrame(Rect(safe.left + kTitleMargin, y, w, h));
    }
    Label* label() const { return label_.get(); }

private:
    std::shared_ptr<Label> label_;
    bool header_;
    bool grouped_;
};

}  // namespace

// --- Delegate defaults ---

double TableViewDelegate::tableViewHeightForRowAtIndexPath(TableView& tv, const IndexPath&) { return tv.rowHeight(); }

double TableViewDelegate::tableViewHeightForHeaderInSection(TableView& tv, int) { return tv.sectionHeaderHeight(); }

double TableViewDelegate::tableViewHeightForFooterInSection(TableView& tv, int) { return tv.sectionFooterHeight(); }

// --- Table ---

TableView::TableView(TableViewStyle style) : style_(style) { setup(); }

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) { setup(); }

TableView::~TableView() {
    if (longPressTimer_) longPressTimer_->invalidate();
}

void TableView::setup() {
    setBackgroundColor(style_ == TableViewStyle::Grouped ? Color::systemGroupedBackground() : Color::systemBackground());
    setAlwaysBounceVertical(true);
    setShowsHorizontalScrollIndicator(false);
}

void TableView::reloadOnNextLayout() {
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setDataSource(TableViewDataSource* d) {
    dataSource_ = d;
    reloadOnNextLayout();
}

void TableView::setDelegate(TableViewDelegate* d) {
    tableDelegate_ = d;
    ScrollView::setDelegate(d);
    reloadOnNextLayout();
}

void TableView::setRowHeight(double h) {
    rowHeight_ = h;
    reloadOnNextLayout();
}

void TableView::setSectionHeaderHeight(double h) {
    sectionHeaderHeight_ = h;
    reloadOnNextLayout();
}

void TableView::setSectionFooterHeight(double h) {
    sectionFooterHeight_ = h;
    reloadOnNextLayout();
}

void TableView::setSeparatorStyle(TableViewSeparatorStyle s) {
    separatorStyle_ = s;
    for (auto& [ip, c] : cells_) c->setNeedsDisplay();
}

void TableView::setSeparatorColor(const Color& c) {
    separatorColor_ = c;
    for (auto& [ip, cell] : cells_) cell->setNeedsDisplay();
}

void TableView::setSeparatorInset(const EdgeInsets& i) {
    separatorInset_ = i;
    for (auto& [ip, c] : cells_) c->setSeparatorInset(i);
}

void TableView::setTableHeaderView(std::shared_ptr<View> v) { replaceTableEndView(headerView_, std::move(v)); }

void TableView::setTableFooterView(std::shared_ptr<View> v) { replaceTableEndView(footerView_, std::move(v)); }

void TableView::replaceTableEndView(std::shared_ptr<View>& slot, std::shared_ptr<View> v) {
    if (slot) slot->removeFromSuperview();
    slot = std::move(v);
    if (slot) addSubview(slot);
    if (loaded_) {
        rebuildGeometry(true);
        layoutVisible(false);
    }
}

void TableView::setRefreshControl(std::shared_ptr<RefreshControl> rc) {
    if (refresh_) refresh_->removeFromSuperview();
    refresh_ = std::move(rc);
    if (refresh_) {
        insertSubview(refresh_, 0);
        refresh_->setFrame(Rect(0, -RefreshControl::kHeight, contentWidth(), RefreshControl::kHeight));
    }
    refreshStateDidChange();
}

void TableView::refreshStateDidChange() {
    double extra = refresh_ && refresh_->isRefreshing() ? RefreshControl::kHeight : 0;
    if (extra == 0 && !isDragging())
        View::animate(ScrollView::kAnimationDuration, [&] { setExtraTopInset(extra); });
    else
        setExtraTopInset(extra);
}

// --- Geometry ---

int TableView::numberOfRowsInSection(int section) const {
    if (section < 0 || section >= int(sections_.size())) return 0;
    return sections_[size_t(section)].rows;
}

double TableView::rowHeightAt(const IndexPath& ip, Section& s, int row) {
    double h = tableDelegate_ ? tableDelegate_->tableViewHeightForRowAtIndexPath(*this, ip) : rowHeight_;
    if (h == kAutomaticDimension) {
        if (s.measured[size_t(row)]) return s.rowHeight[size_t(row)];
        return estimatedRowHeight_;
    }
    s.measured[size_t(row)] = 1;  // fixed heights need no measuring
    return std::max(0.0, std::isfinite(h) ? h : 0.0);
}

void TableView::rebuildGeometry(bool keepMeasured) {
    std::vector<Section> old;
    if (keepMeasured) old = sections_;
    int n = dataSource_ ? std::max(0, dataSource_->numberOfSectionsInTableView(*this)) : 0;
    sections_.assign(size_t(n), Section{});
    bool grouped = style_ == TableViewStyle::Grouped;
    for (int si = 0; si < n; ++si) {
        Section& s = sections_[size_t(si)];
        s.rows = std::max(0, dataSource_->tableViewNumberOfRowsInSection(*this, si));
        s.headerTitle = dataSource_->tableViewTitleForHeaderInSection(*this, si);
        s.footerTitle = dataSource_->tableViewTitleForFooterInSection(*this, si);
        double hh = tableDelegate_ ? tableDelegate_->tableViewHeightForHeaderInSection(*this, si) : sectionHeaderHeight_;
        if (hh == kAutomaticDimension) {
            std::shared_ptr<View> custom =
                tableDelegate_ ? tableDelegate_->tableViewViewForHeaderInSection(*this, si) : nullptr;
            if (custom)
                hh = custom->frame().height() > 0 ? custom->frame().height() : kPlainHeaderHeight;
            else if (s.headerTitle)
                hh = grouped ? kGroupedTitleHeaderHeight : kPlainHeaderHeight;
            else
                hh = grouped ? (si == 0 ? kGroupedFirstHeaderHeight : kGroupedHeaderHeight) : 0;
        }
        s.headerHeight = std::max(0.0, hh);
        double fh = tableDelegate_ ? tableDelegate_->tableViewHeightForFooterInSection(*this, si) : sectionFooterHeight_;
        if (fh == kAutomaticDimension) {
            std::shared_ptr<View> custom =
                tableDelegate_ ? tableDelegate_->tableViewViewForFooterInSection(*this, si) : nullptr;
            if (custom) {
                fh = custom->frame().height() > 0 ? custom->frame().height() : kPlainHeaderHeight;
            } else if (s.footerTitle) {
                if (grouped) {
                    gfx::Font f = gfx::Font::system(13);
                    double w = std::max(1.0, contentWidth() - 2 * kTitleMargin);
                    // As many lines as the footer's label shows (all of them).
                    gfx::TextOptions wrapped;
                    wrapped.lineBreak = gfx::LineBreakMode::WordWrap;
                    wrapped.numberOfLines = 0;
                    fh = gfx::Canvas::measureText(*s.footerTitle, f, w, wrapped).height + 12;
                } else {
                    fh = kPlainHeaderHeight;
                }
            } else {
                fh = grouped ? kGroupedFooterHeight : 0;
            }
        }
        s.footerHeight = std::max(0.0, fh);
        s.rowHeight.assign(size_t(s.rows), 0);
        s.measured.assign(size_t(s.rows), 0);
        s.rowY.assign(size_t(s.rows), 0);
        bool sameShape = keepMeasured && si < int(old.size()) && old[size_t(si)].rows == s.rows;
        for (int r = 0; r < s.rows; ++r) {
            if (sameShape && old[size_t(si)].measured[size_t(r)]) {
                s.measured[size_t(r)] = 1;
                s.rowHeight[size_t(r)] = old[size_t(si)].rowHeight[size_t(r)];
            }
            s.rowHeight[size_t(r)] = rowHeightAt(IndexPath{si, r}, s, r);
        }
    }
    relayoutPositions();
}

void TableView::relayoutPositions() {
    double y = headerView_ ? headerView_->frame().height() : 0;
    for (auto& s : sections_) {
        s.top = y;
        y += s.headerHeight;
        for (size_t r = 0; r < size_t(s.rows); ++r) {
            s.rowY[r] = y;
            y += s.rowHeight[r];
        }
        y += s.footerHeight;
    }
    double w = contentWidth();
    if (headerView_) {
        Rect f = headerView_->frame();
        headerView_->setFrame(Rect(0, 0, w, f.height()));
    }
    if (footerView_) {
        Rect f = footerView_->frame();
        footerView_->setFrame(Rect(0, y, w, f.height()));
        y += f.height();
    }
    if (refresh_) refresh_->setFrame(Rect(0, -RefreshControl::kHeight, w, RefreshControl::kHeight));
    setContentSize({w, y});
}

Rect TableView::rectForRowAtIndexPath(const IndexPath& ip) const {
    if (ip.section < 0 || ip.section >= int(sections_.size())) return Rect::null();
    const Section& s = sections_[size_t(ip.section)];
    if (ip.row < 0 || ip.row >= s.rows) return Rect::null();
    return Rect(0, s.rowY[size_t(ip.row)], contentWidth(), s.rowHeight[size_t(ip.row)]);
}

Rect TableView::rectForSection(int section) const {
    if (section < 0 || section >= int(sections_.size())) return Rect::null();
    const Section& s = sections_[size_t(section)];
    return Rect(0, s.top, contentWidth(), s.bottom() - s.top);
}

Rect TableView::rectForHeaderInSection(int section) const {
    if (section < 0 || section >= int(sections_.size())) return Rect::null();
    const Section& s = sections_[size_t(section)];
    return Rect(0, s.top, contentWidth(), s.headerHeight);
}

Rect TableView::rectForFooterInSection(int section) const {
    if (section < 0 || section >= int(sections_.size())) return Rect::null();
    const Section& s = sections_[size_t(section)];
    return Rect(0, s.rowsEnd(), contentWidth(), s.footerHeight);
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) const {
    for (size_t si = 0; si < sections_.size(); ++si) {
        const Section& s = sections_[si];
        if (s.rows == 0 || p.y < s.rowY[0] || p.y >= s.rowsEnd()) continue;
        auto it = std::upper_bound(s.rowY.begin(), s.rowY.end(), p.y);
        int r = int(it - s.rowY.begin()) - 1;
        if (r >= 0 && r < s.rows) return IndexPath{int(si), r};
    }
    return std::nullopt;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell& cell) const {
    for (auto& [ip, c] : cells_)
        if (c.get() == &cell) return ip;
    return std::nullopt;
}

TableViewCell* TableView::cellForRowAtIndexPath(const IndexPath& ip) {
    layoutIfNeeded();
    auto it = cells_.find(ip);
    return it == cells_.end() ? nullptr : it->second.get();
}

std::vector<TableViewCell*> TableView::visibleCells() {
    layoutIfNeeded();
    std::vector<TableViewCell*> out;
    for (auto& [ip, c] : cells_) out.push_back(c.get());
    return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
    layoutIfNeeded();
    std::vector<IndexPath> out;
    for (auto& [ip, c] : cells_) out.push_back(ip);
    return out;
}

View* TableView::headerViewForSection(int section) {
    layoutIfNeeded();
    auto it = headers_.find(section);
    return it == headers_.end() ? nullptr : it->second.get();
}

View* TableView::footerViewForSection(int section) {
    layoutIfNeeded();
    auto it = footers_.find(section);
    return it == footers_.end() ? nullptr : it->second.get();
}

// --- Reuse ---

std::shared_ptr<TableViewCell> TableView::dequeueReusableCell(const std::string& identifier) {
    if (edited_ && makingRow_ == edited_->row && edited_->cell->reuseIdentifier() == identifier) {
        auto cell = std::exchange(edited_, std::nullopt)->cell;
        cell->prepareForReuse();
        return cell;
    }
    auto it = pool_.find(identifier);
    if (it == pool_.end() || it->second.empty()) return nullptr;
    auto cell = it->second.back();
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

void TableView::registerCell(const std::string& identifier,
                             std::function<std::shared_ptr<TableViewCell>(const std::string&)> factory) {
    factories_[identifier] = std::move(factory);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCell(const std::string& identifier, const IndexPath&) {
    if (auto c = dequeueReusableCell(identifier)) return c;
    auto it = factories_.find(identifier);
    if (it != factories_.end() && it->second) return it->second(identifier);
    return std::make_shared<TableViewCell>(TableViewCellStyle::Default, identifier);
}

void TableView::recycle(const std::shared_ptr<TableViewCell>& cell) {
    if (auto c = confirming_.lock(); c == cell) confirming_.reset();
    cell->removeFromSuperview();
    auto& pool = pool_[cell->reuseIdentifier()];
    if (pool.size() < kPoolLimit) pool.push_back(cell);
}

void TableView::recycleAllCells() {
    releaseEdited();
    auto* responder = dynamic_cast<View*>(Responder::firstResponder());
    for (auto& [ip, c] : cells_) {
        if (responder && !edited_ && responder->isDescendantOfView(c.get()))
            edited_ = EditedRow{ip, c};
        else
            recycle(c);
    }
    cells_.clear();
}

void TableView::releaseEdited() {
    if (auto edited = std::exchange(edited_, std::nullopt)) recycle(edited->cell);
}

// --- Showing rows ---

std::shared_ptr<TableViewCell> TableView::makeCell(const IndexPath& ip) {
    const auto outerRow = std::exchange(makingRow_, ip);
    std::shared_ptr<TableViewCell> cell = dataSource_ ? dataSource_->tableViewCellForRowAtIndexPath(*this, ip) : nullptr;
    makingRow_ = outerRow;
    if (edited_ && cell == edited_->cell) edited_.reset();  // a data source keeping its own cells
    if (!cell) {
        logWarning("table: the data source gave no cell for a row; showing an empty one");
        cell = std::make_shared<TableViewCell>();
    }
    if (cell->superview() && cell->superview() != this) cell->removeFromSuperview();
    View::performWithoutAnimation([&] { configureCell(*cell, ip); });
    return cell;
}

void TableView::configureCell(TableViewCell& cell, const IndexPath& ip) {
    bool canEdit = dataSource_ && dataSource_->tableViewCanEditRowAtIndexPath(*this, ip);
    TableViewCellEditingStyle style = TableViewCellEditingStyle::None;
    if (canEdit)
        style = tableDelegate_ ? tableDelegate_->tableViewEditingStyleForRowAtIndexPath(*this, ip)
                               : TableViewCellEditingStyle::Delete;
    cell.setEditingStyleInternal(style);
    cell.setShouldIndentWhileEditing(tableDelegate_ ? tableDelegate_->tableViewShouldIndentWhileEditingRowAtIndexPath(*this, ip)
                                                    : true);
    cell.setShowsReorderControl(editing_ && dataSource_ && dataSource_->tableViewCanMoveRowAtIndexPath(*this, ip));
    cell.setEditing(editing_, false);
    cell.setSelected(selected_.count(ip) > 0, false);
    cell.setKeyHighlighted(keyHighlightedRow() == ip);
    cell.setSeparatorInset(separatorInset_);
    if (tableDelegate_)
        cell.deleteConfirmationButton()->setTitle(
            tableDelegate_->tableViewTitleForDeleteConfirmationButtonForRowAtIndexPath(*this, ip));
}

void TableView::layoutVisible(bool fadeInNew) {
    if (inLayout_) return;
    inLayout_ = true;
    auto keep = shared_from_this();
    if (!loaded_) {
        loaded_ = true;
        rebuildGeometry(false);
    }
    double w = contentWidth();
    std::map<IndexPath, std::shared_ptr<TableViewCell>> fresh;
    std::set<IndexPath> wanted;
    for (int pass = 0; pass < 4; ++pass) {
        Rect b = bounds();
        double y0 = b.y(), y1 = b.y() + b.height();
        wanted.clear();
        for (size_t si = 0; si < sections_.size(); ++si) {
            Section& s = sections_[si];
            if (s.rows == 0 || s.rowsEnd() <= y0 || s.rowY[0] >= y1) continue;
            auto it = std::upper_bound(s.rowY.begin(), s.rowY.end(), y0);
            int r = std::max(0, int(it - s.rowY.begin()) - 1);
            for (; r < s.rows && s.rowY[size_t(r)] < y1; ++r)
                if (s.rowY[size_t(r)] + s.rowHeight[size_t(r)] > y0) wanted.insert(IndexPath{int(si), r});
        }
        // Rows out of sight go back to the pool before new ones are asked for.
        for (auto it = cells_.begin(); it != cells_.end();) {
            bool dragged = reorder_ && reorder_->cell == it->second;
            if (!wanted.count(it->first) && !dragged) {
                auto cell = it->second;
                fresh.erase(it->first);
                it = cells_.erase(it);
                recycle(cell);
            } else {
                ++it;
            }
        }
        bool remeasured = false;
        for (const IndexPath& ip : wanted) {
            if (cells_.count(ip)) continue;
            auto cell = makeCell(ip);
            cells_[ip] = cell;
            fresh[ip] = cell;
            Section& s = sections_[size_t(ip.section)];
            if (!s.measured[size_t(ip.row)]) {
                double h = cell->sizeThatFits({w, 0}).height;
                s.measured[size_t(ip.row)] = 1;
                if (std::fabs(h - s.rowHeight[size_t(ip.row)]) > 1e-9) {
                    s.rowHeight[size_t(ip.row)] = h;
                    remeasured = true;
                }
            }
        }
        if (!remeasured) break;
        relayoutPositions();
    }
    bool grouped = style_ == TableViewStyle::Grouped;
    for (auto& [ip, cell] : cells_) {
        if (reorder_ && reorder_->cell == cell) continue;
        const Section& s = sections_[size_t(ip.section)];
        Rect f(0, s.rowY[size_t(ip.row)], w, s.rowHeight[size_t(ip.row)]);
        bool last = ip.row == s.rows - 1;
        cell->setSeparatorShown(true, grouped && last);
        if (fresh.count(ip)) {
            // The data source may have made its cell see-through (a row kept
            // for its taps alone): a fade-in ends at the cell's own alpha.
            const double own = cell->alpha();
            View::performWithoutAnimation([&, &cell = cell] {
                cell->setFrame(f);
                cell->setAlpha(fadeInNew ? 0 : own);
                if (cell->superview() != this) insertSubview(cell, refresh_ ? 1 : 0);
            });
            cell->setAlpha(own);
            if (tableDelegate_) tableDelegate_->tableViewWillDisplayCell(*this, *cell, ip);
        } else {
            cell->setFrame(f);
        }
    }
    layoutHeadersAndFooters();
    inLayout_ = false;
}

void TableView::layoutHeadersAndFooters() {
    Rect b = bounds();
    double y0 = b.y(), y1 = b.y() + b.height();
    double w = contentWidth();
    bool grouped = style_ == TableViewStyle::Grouped;
    std::set<int> wantHeaders, wantFooters;
    for (size_t si = 0; si < sections_.size(); ++si) {
        const Section& s = sections_[si];
        int i = int(si);
        if (s.bottom() <= y0 || s.top >= y1) continue;
        if (s.headerHeight > 0) {
            if (sectionEndView(headers_, i, true, s.headerTitle)) {
                wantHeaders.insert(i);
                double y = s.top;
                if (!grouped) {
                    // Plain headers stay at the top while their section shows.
                    double pinned = b.y() + adjustedContentInset().top;
                    y = std::max(y, std::min(pinned, s.rowsEnd() - s.headerHeight));
                }
                headers_[i]->setFrame(Rect(0, y, w, s.headerHeight));
                bringSubviewToFront(headers_[i].get());
            }
        }
        if (s.footerHeight > 0) {
            if (sectionEndView(footers_, i, false, s.footerTitle)) {
                wantFooters.insert(i);
                footers_[i]->setFrame(Rect(0, s.rowsEnd(), w, s.footerHeight));
            }
        }
    }
    dropSectionEndViews(headers_, wantHeaders);
    dropSectionEndViews(footers_, wantFooters);
}

bool TableView::sectionEndView(std::map<int, std::shared_ptr<View>>& views, int section, bool header,
                               const std::optional<std::string>& title) {
    if (views.count(section)) return true;
    std::shared_ptr<View> v;
    if (tableDelegate_)
        v = header ? tableDelegate_->tableViewViewForHeaderInSection(*this, section)
                   : tableDelegate_->tableViewViewForFooterInSection(*this, section);
    if (!v && title) v = std::make_shared<SectionTitleView>(*title, header, style_ == TableViewStyle::Grouped);
    if (!v) return false;
    views[section] = v;
    addSubview(v);
    return true;
}

void TableView::dropSectionEndViews(std::map<int, std::shared_ptr<View>>& views, const std::set<int>& wanted) {
    for (auto it = views.begin(); it != views.end();) {
        if (!wanted.count(it->first)) {
            it->second->removeFromSuperview();
            it = views.erase(it);
        } else {
            ++it;
        }
    }
}

void TableView::reloadData() {
    auto keep = shared_from_this();
    hideDeleteConfirmation(false);
    if (reorder_) {
        setScrollEnabled(reorder_->wasScrollEnabled);
        reorder_.reset();
    }
    recycleAllCells();
    for (auto& [i, v] : headers_) v->removeFromSuperview();
    for (auto& [i, v] : footers_) v->removeFromSuperview();
    headers_.clear();
    footers_.clear();
    selected_.clear();
    keyRow_.reset();
    pending_.clear();
    loaded_ = true;
    rebuildGeometry(false);
    laidOutWidth_ = contentWidth();
    layoutVisible(false);
    releaseEdited();
}

void TableView::setBackgroundView(View::Ref v) {
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(v);
    if (backgroundView_) {
        insertSubview(backgroundView_, 0);
        backgroundView_->setFrame(bounds());
    }
}

void TableView::layoutSubviews() {
    ScrollView::layoutSubviews();
    if (backgroundView_) backgroundView_->setFrame(bounds());
    if (laidOutWidth_ != contentWidth()) {
        laidOutWidth_ = contentWidth();
        if (loaded_) {
            // Heights of automatic rows depend on the width.
            recycleAllCells();
            for (auto& [i, v] : headers_) v->removeFromSuperview();
            for (auto& [i, v] : footers_) v->removeFromSuperview();
            headers_.clear();
            footers_.clear();
            rebuildGeometry(false);
        }
    }
    layoutVisible(false);
    releaseEdited();
}

void TableView::setBounds(const Rect& b) {
    bool widthChanged = b.width() != bounds().width();
    ScrollView::setBounds(b);
    if (widthChanged) setNeedsLayout();
}

void TableView::didScroll() {
    // Before the delegate hears of it, so it can place things in the background.
    if (backgroundView_) backgroundView_->setFrame(bounds());
    ScrollView::didScroll();
    if (isDragging()) hideDeleteConfirmation(true);
    if (refresh_ && !refresh_->isRefreshing() && isDragging() &&
        contentOffset().y + adjustedContentInset().top < -RefreshControl::kPullDistance)
        refresh_->beginRefreshingByPull();
    if (loaded_ && !inLayout_) layoutVisible(false);
}

View* TableView::hitTest(Point point, const Event* event) {
    View* hit = ScrollView::hitTest(point, event);
    if (hit != this) return hit;
    // Views at alpha 0 take no touches, but a clear row is still a row: the
    // touch goes to its cell, which selects it as any other.
    for (auto& [ip, cell] : cells_) {
        if (cell->isHidden() || !cell->isUserInteractionEnabled() || cell->alpha() >= 0.01) continue;
        if (rectContainsPoint(cell->frame(), point)) return cell.get();
    }
    return hit;
}

bool TableView::touchesShouldCancelInContentView(View* contentView) {
    // A drag started on a row's control still scrolls, except on the grip.
    for (View* v = contentView; v && v != this; v = v->superview())
        if (auto* cell = dynamic_cast<TableViewCell*>(v))
            return !(cell->reorderControl() && contentView->isDescendantOfView(cell->reorderControl()));
    return true;
}

// --- Updates ---

void TableView::beginUpdates() { ++updateDepth_; }

void TableView::endUpdates() {
    if (updateDepth_ > 0) --updateDepth_;
    if (updateDepth_ == 0) applyUpdates();
}

void TableView::performBatchUpdates(const std::function<void()>& updates, std::function<void(bool)> completion) {
    beginUpdates();
    if (updates) updates();
    endUpdates();
    if (completion)
        sys::RunLoop::main().schedule(kUpdateDuration, [completion] { completion(true); });
}

void TableView::queue(Update u) {
    pending_.push_back(std::move(u));
    if (updateDepth_ == 0) applyUpdates();
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation a) {
    queue({Update::InsertRows, ips, {}, {}, a});
}

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation a) {
    queue({Update::DeleteRows, ips, {}, {}, a});
}

void TableView::reloadRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation a) {
    queue({Update::ReloadRows, ips, {}, {}, a});
}

void TableView::moveRowAtIndexPath(const IndexPath& from, const IndexPath& to) {
    queue({Update::MoveRow, {from}, {}, to, TableViewRowAnimation::Automatic});
}

void TableView::insertSections(const std::vector<int>& sections, TableViewRowAnimation a) {
    queue({Update::InsertSections, {}, sections, {}, a});
}

void TableView::deleteSections(const std::vector<int>& sections, TableViewRowAnimation a) {
    queue({Update::DeleteSections, {}, sections, {}, a});
}

void TableView::reloadSections(const std::vector<int>& sections, TableViewRowAnimation a) {
    queue({Update::ReloadSections, {}, sections, {}, a});
}

void TableView::applyUpdates() {
    std::vector<Update> ups;
    ups.swap(pending_);
    if (ups.empty()) return;
    if (!loaded_ || !dataSource_) return;  // the next layout loads everything
    auto keep = shared_from_this();
    hideDeleteConfirmation(false);

    std::set<int> delSecs, insSecs;
    std::set<IndexPath> delRows, insRows, reloadRows;
    std::map<IndexPath, IndexPath> moves;
    bool animated = false;
    for (auto& u : ups) {
        if (u.animation != TableViewRowAnimation::None) animated = true;
        switch (u.kind) {
        case Update::InsertRows: insRows.insert(u.paths.begin(), u.paths.end()); break;
        case Update::DeleteRows: delRows.insert(u.paths.begin(), u.paths.end()); break;
        case Update::ReloadRows: reloadRows.insert(u.paths.begin(), u.paths.end()); break;
        case Update::MoveRow: moves[u.paths.front()] = u.to; break;
        case Update::InsertSections: insSecs.insert(u.sections.begin(), u.sections.end()); break;
        case Update::DeleteSections: delSecs.insert(u.sections.begin(), u.sections.end()); break;
        case Update::ReloadSections:
            for (int s : u.sections) {
                delSecs.insert(s);
                insSecs.insert(s);
            }
            break;
        }
    }
    auto fail = [&](const char* why) {
        logWarning(std::string("table update does not match the data source (") + why + "); reloading");
        reloadData();
    };
    int oldSections = int(sections_.size());
    int newSections = std::max(0, dataSource_->numberOfSectionsInTableView(*this));
    for (int s : delSecs)
        if (s < 0 || s >= oldSections) return fail("deleted section out of range");
    for (int s : insSecs)
        if (s < 0 || s >= newSections) return fail("inserted section out of range");
    if (newSections != oldSections - int(delSecs.size()) + int(insSecs.size())) return fail("section count");
    // Old sections that stay, in order, fill the new places not inserted.
    std::vector<int> secMap(size_t(oldSections), -1);
    {
        int n = 0;
        for (int os = 0; os < oldSections; ++os) {
            if (delSecs.count(os)) continue;
            while (insSecs.count(n)) ++n;
            secMap[size_t(os)] = n++;
        }
    }
    std::set<IndexPath> gone(delRows);
    std::set<IndexPath> arriving(insRows);
    for (auto& [from, to] : moves) {
        gone.insert(from);
        arriving.insert(to);
    }
    // Row maps per surviving section.
    std::vector<std::vector<int>> rowMap(static_cast<size_t>(oldSections));
    for (int os = 0; os < oldSections; ++os) {
        int ns = secMap[size_t(os)];
        if (ns < 0) continue;
        int oldRows = sections_[size_t(os)].rows;
        int newRows = std::max(0, dataSource_->tableViewNumberOfRowsInSection(*this, ns));
        int del = 0, ins = 0;
        for (auto& ip : gone)
            if (ip.section == os) {
                if (ip.row < 0 || ip.row >= oldRows) return fail("deleted row out of range");
                ++del;
            }
        for (auto& ip : arriving)
            if (ip.section == ns) {
                if (ip.row < 0 || ip.row >= newRows) return fail("inserted row out of range");
                ++ins;
            }
        if (newRows != oldRows - del + ins) return fail("row count");
        auto& m = rowMap[size_t(os)];
        m.assign(size_t(oldRows), -1);
        int n = 0;
        for (int r = 0; r < oldRows; ++r) {
            if (gone.count({os, r})) continue;
            while (arriving.count({ns, n})) ++n;
            m[size_t(r)] = n++;
        }
    }
    for (auto& ip : reloadRows)
        if (ip.section < 0 || ip.section >= oldSections || ip.row < 0 || ip.row >= sections_[size_t(ip.section)].rows)
            return fail("reloaded row out of range");
    auto mapPath = [&](const IndexPath& ip) -> std::optional<IndexPath> {
        auto mv = moves.find(ip);
        if (mv != moves.end()) return mv->second;
        if (ip.section < 0 || ip.section >= oldSections) return std::nullopt;
        int ns = secMap[size_t(ip.section)];
        if (ns < 0) return std::nullopt;
        const auto& m = rowMap[size_t(ip.section)];
        if (ip.row < 0 || ip.row >= int(m.size()) || m[size_t(ip.row)] < 0) return std::nullopt;
        return IndexPath{ns, m[size_t(ip.row)]};
    };

    // Measured heights and cells follow their rows.
    std::map<IndexPath, double> measured;
    for (int os = 0; os < oldSections; ++os) {
        const Section& s = sections_[size_t(os)];
        for (int r = 0; r < s.rows; ++r)
            if (s.measured[size_t(r)] && !reloadRows.count({os, r}))
                if (auto to = mapPath({os, r})) measured[*to] = s.rowHeight[size_t(r)];
    }
    std::map<IndexPath, std::shared_ptr<TableViewCell>> moved;
    std::vector<std::shared_ptr<TableViewCell>> leaving;
    for (auto& [ip, cell] : cells_) {
        auto to = reloadRows.count(ip) ? std::nullopt : mapPath(ip);
        if (to)
            moved[*to] = cell;
        else
            leaving.push_back(cell);
    }
    std::set<IndexPath> selected;
    for (auto& ip : selected_)
        if (auto to = mapPath(ip)) selected.insert(*to);
    selected_ = selected;
    cells_ = moved;
    for (auto& [i, v] : headers_) v->removeFromSuperview();
    for (auto& [i, v] : footers_) v->removeFromSuperview();
    headers_.clear();
    footers_.clear();

    rebuildGeometry(false);
    bool changed = false;
    for (auto& [ip, h] : measured) {
        if (ip.section >= int(sections_.size()) || ip.row >= sections_[size_t(ip.section)].rows) continue;
        Section& s = sections_[size_t(ip.section)];
        if (!s.measured[size_t(ip.row)]) {
            s.measured[size_t(ip.row)] = 1;
            s.rowHeight[size_t(ip.row)] = h;
            changed = true;
        }
    }
    if (changed) relayoutPositions();
    // Cells now at other rows show their new place (editing style and such).
    for (auto& [ip, cell] : cells_) {
        View::performWithoutAnimation([&, &ip = ip, &cell = cell] { configureCell(*cell, ip); });
    }

    if (animated) {
        for (auto& cell : leaving) {
            std::weak_ptr<View> weak = cell;
            const double own = cell->alpha();
            View::animate(kUpdateDuration, 0, AnimationOptionNone, [&] { cell->setAlpha(0); },
                          [weak, own](bool) {
                              auto c = weak.lock();
                              if (!c) return;
                              c->removeFromSuperview();
                              // The fade was the table's: a cell its data source
                              // hands out again comes back as it was made.
                              View::performWithoutAnimation([&] { c->setAlpha(own); });
                          });
        }
        View::animate(kUpdateDuration, [&] { layoutVisible(true); });
    } else {
        for (auto& cell : leaving) cell->removeFromSuperview();
        layoutVisible(false);
    }
}

// --- Selection ---

bool TableView::selectable() const { return editing_ ? allowsSelectionDuringEditing_ : allowsSelection_; }

std::optional<IndexPath> TableView::indexPathForSelectedRow() const {
    if (selected_.empty()) return std::nullopt;
    return *selected_.begin();
}

std::vector<IndexPath> TableView::indexPathsForSelectedRows() const { return {selected_.begin(), selected_.end()}; }

void TableView::selectRowAtIndexPath(const std::optional<IndexPath>& ip, bool animated, TableViewScrollPosition position) {
    if (!allowsMultipleSelection_ || !ip) {
        for (auto& s : std::set<IndexPath>(selected_))
            if (!ip || s != *ip) deselectRowAtIndexPath(s, animated);
    }
    if (!ip || rectForRowAtIndexPath(*ip).isNull()) return;
    selected_.insert(*ip);
    if (auto it = cells_.find(*ip); it != cells_.end()) it->second->setSelected(true, animated);
    if (position != TableViewScrollPosition::None) scrollToRowAtIndexPath(*ip, position, animated);
}

void TableView::deselectRowAtIndexPath(const IndexPath& ip, bool animated) {
    selected_.erase(ip);
    if (keyRow_ == ip) setKeyRow(std::nullopt);
    if (auto it = cells_.find(ip); it != cells_.end()) it->second->setSelected(false, animated);
}

void TableView::scrollToRowAtIndexPath(const IndexPath& ip, TableViewScrollPosition position, bool animated) {
    layoutIfNeeded();
    Rect r = rectForRowAtIndexPath(ip);
    if (r.isNull()) return;
    EdgeInsets in = adjustedContentInset();
    double h = bounds().height();
    Point p = contentOffset();
    switch (position) {
    case TableViewScrollPosition::Top: p.y = r.y() - in.top; break;
    case TableViewScrollPosition::Middle: p.y = r.y() + r.height() / 2 - (in.top + (h - in.top - in.bottom) / 2); break;
    case TableViewScrollPosition::Bottom: p.y = r.maxY() - h + in.bottom; break;
    case TableViewScrollPosition::None:
        if (r.y() < p.y + in.top)
            p.y = r.y() - in.top;
        else if (r.maxY() > p.y + h - in.bottom)
            p.y = r.maxY() - h + in.bottom;
        break;
    }
    Point lo = minimumContentOffset(), hi = maximumContentOffset();
    p.y = std::clamp(p.y, lo.y, hi.y);
    if (p == contentOffset()) return;
    setContentOffset(p, animated);
}

// --- Editing ---

void TableView::setEditing(bool editing, bool animated) {
    if (editing == editing_) return;
    hideDeleteConfirmation(false);
    if (reorder_ && !editing) reorderTouch(*reorder_->cell, Touch(), TouchPhase::Cancelled);
    editing_ = editing;
    for (auto& [ip, cell] : cells_) {
        View::performWithoutAnimation([&, &ip = ip, &cell = cell] {
            bool canMove = editing_ && dataSource_ && dataSource_->tableViewCanMoveRowAtIndexPath(*this, ip);
            cell->setShowsReorderControl(canMove);
        });
        cell->setEditing(editing, animated);
    }
}

void TableView::hideDeleteConfirmation(bool animated) {
    auto c = confirming_.lock();
    confirming_.reset();
    if (c) c->setShowingDeleteConfirmation(false, animated);
}

void TableView::cellTouchBegan(TableViewCell& cell, const Touch& touch) {
    cellTouchStart_ = touch.locationInView(this);
    cellTouchAbandoned();
    if (confirming_.lock() || reorder_) return;
    auto ip = indexPathForCell(cell);
    if (!ip || !selectable()) return;
    if (rowLongPressSeconds_ > 0) {
        std::weak_ptr<View> weakTable = weak_from_this();
        std::weak_ptr<View> weakCell = cell.weak_from_this();
        longPressTimer_ = sys::RunLoop::main().schedule(rowLongPressSeconds_, [weakTable, weakCell] {
            auto table = std::static_pointer_cast<TableView>(weakTable.lock());
            auto held = std::static_pointer_cast<TableViewCell>(weakCell.lock());
            if (!table || !held) return;
            table->longPressTimer_.reset();
            // The row may have gone while it was held.
            auto at = table->indexPathForCell(*held);
            if (!at) return;
            table->longPressed_ = true;
            held->setHighlighted(false);
            if (table->tableDelegate_)
                table->tableDelegate_->tableViewDidLongPressRowAtIndexPath(*table, *at, table->cellTouchStart_);
        });
    }
    if (tableDelegate_ && !tableDelegate_->tableViewShouldHighlightRowAtIndexPath(*this, *ip)) return;
    cell.setHighlighted(true);
}

void TableView::cellTouchAbandoned() {
    if (longPressTimer_) longPressTimer_->invalidate();
    longPressTimer_.reset();
    longPressed_ = false;
}

void TableView::cellTapped(TableViewCell& cell, const Touch&) {
    auto keep = shared_from_this();
    const bool held = longPressed_;
    cellTouchAbandoned();
    if (held) {
        cell.setHighlighted(false);
        return;
    }
    if (confirming_.lock()) {
        // A tap anywhere while a delete is offered takes the offer back.
        hideDeleteConfirmation(true);
        cell.setHighlighted(false);
        return;
    }
    auto ip = indexPathForCell(cell);
    if (!ip || !selectable() || reorder_) {
        cell.setHighlighted(false);
        return;
    }
    if (tableDelegate_ && !tableDelegate_->tableViewShouldHighlightRowAtIndexPath(*this, *ip)) return;
    selectAsTapped(*ip, &cell);
}

void TableView::selectAsTapped(const IndexPath& ip, TableViewCell* cell) {
    auto unpress = [cell] {
        if (cell) cell->setHighlighted(false);
    };
    std::optional<IndexPath> target = tableDelegate_ ? tableDelegate_->tableViewWillSelectRowAtIndexPath(*this, ip) : ip;
    if (!target || rectForRowAtIndexPath(*target).isNull()) {
        unpress();
        return;
    }
    if (allowsMultipleSelection_ && selected_.count(*target)) {
        unpress();
        deselectRowAtIndexPath(*target, false);
        if (tableDelegate_) tableDelegate_->tableViewDidDeselectRowAtIndexPath(*this, *target);
        return;
    }
    if (!allowsMultipleSelection_) {
        for (auto& s : std::set<IndexPath>(selected_)) {
            if (s == *target) continue;
            deselectRowAtIndexPath(s, false);
            if (tableDelegate_) tableDelegate_->tableViewDidDeselectRowAtIndexPath(*this, s);
        }
    }
    selected_.insert(*target);
    if (auto it = cells_.find(*target); it != cells_.end()) it->second->setSelected(true, false);
    unpress();
    if (tableDelegate_) tableDelegate_->tableViewDidSelectRowAtIndexPath(*this, *target);
}

void TableView::swipedToDelete(TableViewCell& cell) {
    if (editing_ || reorder_ || !dataSource_) return;
    auto c = confirming_.lock();
    if (c.get() == &cell) return;
    if (!dataSource_->tableViewCommitsEditingStyle(*this)) return;
    auto ip = indexPathForCell(cell);
    if (!ip || !dataSource_->tableViewCanEditRowAtIndexPath(*this, *ip)) return;
    auto style = tableDelegate_ ? tableDelegate_->tableViewEditingStyleForRowAtIndexPath(*this, *ip)
                                : TableViewCellEditingStyle::Delete;
    if (style != TableViewCellEditingStyle::Delete) return;
    hideDeleteConfirmation(true);
    cell.setHighlighted(false);
    cell.setShowingDeleteConfirmation(true, true);
    confirming_ = cells_[*ip];
}

void TableView::deleteConfirmed(TableViewCell& cell) {
    auto ip = indexPathForCell(cell);
    hideDeleteConfirmation(false);
    if (ip && dataSource_) dataSource_->tableViewCommitEditingStyle(*this, TableViewCellEditingStyle::Delete, *ip);
}

void TableView::editingControlTapped(TableViewCell& cell) {
    if (!editing_ || !dataSource_) return;
    auto ip = indexPathForCell(cell);
    if (!ip) return;
    if (cell.editingStyle() == TableViewCellEditingStyle::Insert) {
        dataSource_->tableViewCommitEditingStyle(*this, TableViewCellEditingStyle::Insert, *ip);
        return;
    }
    if (cell.editingStyle() != TableViewCellEditingStyle::Delete) return;
    bool same = confirming_.lock().get() == &cell;
    hideDeleteConfirmation(true);
    if (same) return;
    cell.setShowingDeleteConfirmation(true, true);
    confirming_ = cells_[*ip];
}

void TableView::accessoryButtonTapped(TableViewCell& cell) {
    auto ip = indexPathForCell(cell);
    if (ip && tableDelegate_) tableDelegate_->tableViewAccessoryButtonTappedForRowWithIndexPath(*this, *ip);
}

// --- Reordering ---

std::optional<IndexPath> TableView::reorderingFrom() const {
    if (!reorder_) return std::nullopt;
    return reorder_->from;
}

IndexPath TableView::proposedTargetFor(double centerY) const {
    // Positions as if the dragged row were taken out; the row goes to the
    // gap whose middle is nearest its own middle.
    const IndexPath& from = reorder_->from;
    double fromH = sections_[size_t(from.section)].rowHeight[size_t(from.row)];
    int best = from.section;
    for (size_t si = 0; si < sections_.size(); ++si) {
        double shift = int(si) > from.section ? fromH : 0;
        if (centerY >= sections_[si].top - shift) best = int(si);
    }
    const Section& s = sections_[size_t(best)];
    double shift = best > from.section ? fromH : 0;
    double top = s.top + s.headerHeight - shift;
    int bestSlot = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    int slot = 0;
    for (int r = 0; r <= s.rows; ++r) {
        if (best == from.section && r == from.row) continue;
        double d = std::fabs(top + fromH / 2 - centerY);
        if (d < bestDistance) {
            bestDistance = d;
            bestSlot = slot;
        }
        if (r < s.rows) top += s.rowHeight[size_t(r)];
        ++slot;
    }
    int limit = best == from.section ? s.rows - 1 : s.rows;
    return IndexPath{best, std::clamp(bestSlot, 0, std::max(0, limit))};
}

void TableView::layoutReorderedCells() {
    const IndexPath& from = reorder_->from;
    const IndexPath& to = reorder_->target;
    double fromH = sections_[size_t(from.section)].rowHeight[size_t(from.row)];
    double w = contentWidth();
    for (auto& [ip, cell] : cells_) {
        if (cell == reorder_->cell) continue;
        const Section& s = sections_[size_t(ip.section)];
        double y = s.rowY[size_t(ip.row)];
        // Taken out...
        if ((ip.section == from.section && ip.row > from.row) || ip.section > from.section) y -= fromH;
        // ...and put in at the target.
        int virtualRow = ip.row - (ip.section == from.section && ip.row > from.row ? 1 : 0);
        if ((ip.section == to.section && virtualRow >= to.row) || ip.section > to.section) y += fromH;
        cell->setFrame(Rect(0, y, w, s.rowHeight[size_t(ip.row)]));
    }
}

void TableView::reorderTouch(TableViewCell& cell, const Touch& touch, TouchPhase phase) {
    auto keep = shared_from_this();
    if (phase == TouchPhase::Began) {
        if (!editing_ || reorder_ || !dataSource_) return;
        auto ip = indexPathForCell(cell);
        if (!ip || !dataSource_->tableViewCanMoveRowAtIndexPath(*this, *ip)) return;
        hideDeleteConfirmation(false);
        reorder_ = std::make_unique<Reorder>();
        reorder_->cell = cells_[*ip];
        reorder_->from = reorder_->target = *ip;
        reorder_->touchStartY = touch.locationInView(this).y;
        reorder_->cellStartY = cell.frame().y();
        reorder_->wasScrollEnabled = isScrollEnabled();
        setScrollEnabled(false);
        bringSubviewToFront(&cell);
        cell.setShadowOpacity(0.3);
        cell.setShadowOffset({0, 2});
        return;
    }
    if (!reorder_ || reorder_->cell.get() != &cell) return;
    if (phase == TouchPhase::Moved) {
        double dy = touch.locationInView(this).y - reorder_->touchStartY;
        double h = cell.frame().height();
        double y = std::clamp(reorder_->cellStartY + dy, 0.0, std::max(0.0, contentSize().height - h));
        View::performWithoutAnimation([&] { cell.setFrame(Rect(0, y, contentWidth(), h)); });
        IndexPath proposed = proposedTargetFor(y + h / 2);
        IndexPath target = tableDelegate_ ? tableDelegate_->tableViewTargetIndexPathForMoveFromRowAtIndexPath(
                                                *this, reorder_->from, proposed)
                                          : proposed;
        // A target the table cannot hold snaps back to where the row came from.
        bool valid = target.section >= 0 && target.section < int(sections_.size()) && target.row >= 0 &&
                     target.row <= sections_[size_t(target.section)].rows - (target.section == reorder_->from.section ? 1 : 0);
        if (!valid) target = reorder_->from;
        if (target != reorder_->target) {
            reorder_->target = target;
            View::animate(kReorderDuration, [&] { layoutReorderedCells(); });
        }
        return;
    }
    // Ended or cancelled: drop the row where it is allowed to go.
    std::unique_ptr<Reorder> r = std::move(reorder_);
    IndexPath from = r->from;
    IndexPath to = phase == TouchPhase::Ended ? r->target : r->from;
    setScrollEnabled(r->wasScrollEnabled);
    cell.setShadowOpacity(0);
    if (to != from) {
        dataSource_->tableViewMoveRowAtIndexPath(*this, from, to);
        // The table follows the move without asking again.
        Section& fs = sections_[size_t(from.section)];
        double h = fs.rowHeight[size_t(from.row)];
        char m = fs.measured[size_t(from.row)];
        fs.rowHeight.erase(fs.rowHeight.begin() + from.row);
        fs.measured.erase(fs.measured.begin() + from.row);
        fs.rowY.pop_back();
        fs.rows--;
        Section& ts = sections_[size_t(to.section)];
        ts.rowHeight.insert(ts.rowHeight.begin() + to.row, h);
        ts.measured.insert(ts.measured.begin() + to.row, m);
        ts.rowY.push_back(0);
        ts.rows++;
        auto shift = [&](IndexPath ip) {
            if (ip == from) return to;
            if (ip.section == from.section && ip.row > from.row) ip.row--;
            if (ip.section == to.section && ip.row >= to.row) ip.row++;
            return ip;
        };
        std::map<IndexPath, std::shared_ptr<TableViewCell>> cells;
        for (auto& [ip, c] : cells_) cells[shift(ip)] = c;
        cells_ = cells;
        std::set<IndexPath> sel;
        for (auto& ip : selected_) sel.insert(shift(ip));
        selected_ = sel;
        relayoutPositions();
    }
    View::animate(kReorderDuration, [&] { layoutVisible(false); });
}

}  // namespace ui
