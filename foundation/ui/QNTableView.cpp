#include "foundation/ui/QNTableView.h"

#include "foundation/ui/QNTableViewCellCustom.h"

#include <algorithm>

using ui::IndexPath;

QNTableView::QNTableView(const ui::Rect& frame, ui::TableViewStyle style) : ui::TableView(frame, style) {
    setDataSource(this);
    setDelegate(this);
}

// --- Model ---

void QNTableView::addData(const Row& data, int section, ui::TableViewRowAnimation animation) {
    insertDataAtIndexPath(data, IndexPath::forRow(getRowsFromSection(section), section), animation);
}

void QNTableView::insertDataAtIndexPath(const Row& data, const IndexPath& indexPath,
                                        ui::TableViewRowAnimation animation) {
    if (!data || indexPath.section < 0) return;
    const int oldCount = int(sectionList_.size());
    if (indexPath.section >= oldCount) {
        std::vector<int> added;
        for (int s = oldCount; s <= indexPath.section; ++s) {
            sectionList_.emplace_back();
            added.push_back(s);
        }
        insertSections(added, animation);
    }
    auto& rows = sectionList_[size_t(indexPath.section)];
    const int row = std::clamp(indexPath.row, 0, int(rows.size()));
    rows.insert(rows.begin() + row, data);
    insertRowsAtIndexPaths({IndexPath::forRow(row, indexPath.section)}, animation);
}

void QNTableView::removeDataAtIndexPath(const IndexPath& indexPath, ui::TableViewRowAnimation animation) {
    if (!getDataFromIndexPath(indexPath)) return;
    auto& rows = sectionList_[size_t(indexPath.section)];
    rows.erase(rows.begin() + indexPath.row);
    deleteRowsAtIndexPaths({indexPath}, animation);
}

void QNTableView::removeDataAtSection(int section, ui::TableViewRowAnimation animation) {
    if (section < 0 || section >= int(sectionList_.size())) return;
    auto& rows = sectionList_[size_t(section)];
    while (!rows.empty()) {
        rows.erase(rows.begin());
        deleteRowsAtIndexPaths({IndexPath::forRow(0, section)}, animation);
    }
}

void QNTableView::updateCellWithIndexPath(const IndexPath& indexPath, ui::TableViewRowAnimation animation) {
    if (!getDataFromIndexPath(indexPath)) return;
    beginUpdates();
    deleteRowsAtIndexPaths({indexPath}, animation);
    insertRowsAtIndexPaths({indexPath}, animation);
    endUpdates();
}

void QNTableView::replaceDataAtIndexPath(const Row& data, const IndexPath& indexPath,
                                         ui::TableViewRowAnimation animation) {
    if (!data || !getDataFromIndexPath(indexPath)) return;
    sectionList_[size_t(indexPath.section)][size_t(indexPath.row)] = data;
    updateCellWithIndexPath(indexPath, animation);
}

void QNTableView::storeTitle(std::optional<std::vector<std::optional<std::string>>>& titles,
                             const std::optional<std::string>& title, int index) {
    if (index < 0) return;
    if (!titles) titles.emplace();
    if (int(titles->size()) <= index) titles->resize(size_t(index) + 1);
    (*titles)[size_t(index)] = title;
}

std::optional<std::string> QNTableView::titleAt(
    const std::optional<std::vector<std::optional<std::string>>>& titles, int index) {
    if (!titles || index < 0 || index >= int(titles->size())) return std::nullopt;
    return (*titles)[size_t(index)];
}

void QNTableView::setSectionHeaderTitle(const std::optional<std::string>& title, int index) {
    storeTitle(sectionHeaderTitles_, title, index);
}

void QNTableView::setSectionFooterTitle(const std::optional<std::string>& title, int index) {
    storeTitle(sectionFooterTitles_, title, index);
}

int QNTableView::getRowsFromSection(int section) const {
    if (section < 0 || section >= int(sectionList_.size())) return 0;
    return int(sectionList_[size_t(section)].size());
}

QNTableViewData* QNTableView::getDataFromIndexPath(const IndexPath& indexPath) const {
    return getDataRefFromIndexPath(indexPath).get();
}

QNTableView::Row QNTableView::getDataRefFromIndexPath(const IndexPath& indexPath) const {
    if (indexPath.row < 0 || indexPath.row >= getRowsFromSection(indexPath.section)) return nullptr;
    return sectionList_[size_t(indexPath.section)][size_t(indexPath.row)];
}

// --- Events from the cells: the bound dictionary first, then the screen ---

void QNTableView::onSwValueChangedWithIndexPath(const IndexPath& indexPath, bool value) {
    Row row = getDataRefFromIndexPath(indexPath);
    if (!row) return;
    sys::PlistValue number(value);
    row->setValue(number);
    row->onValueChangedWithObject(number);
    if (qnDelegate_) qnDelegate_->tableViewValueChangedWithIndexPath(*this, indexPath, number);
}

void QNTableView::onSegmentValueChangedWithIndexPath(const IndexPath& indexPath, int64_t value) {
    Row row = getDataRefFromIndexPath(indexPath);
    if (!row) return;
    sys::PlistValue number(value);
    row->setValue(number);
    row->onValueChangedWithObject(number);
    if (qnDelegate_) qnDelegate_->tableViewValueChangedWithIndexPath(*this, indexPath, number);
}

void QNTableView::onTextFieldValueChangedWithIndexPath(const IndexPath& indexPath, const std::string& value) {
    Row row = getDataRefFromIndexPath(indexPath);
    if (!row) return;
    row->setDetailText(value);
    row->onValueChangedWithObject(sys::PlistValue(value));
    if (qnDelegate_) qnDelegate_->tableViewStringChangedWithIndexPath(*this, indexPath, value);
}

// --- Data source and delegate ---

int QNTableView::numberOfSectionsInTableView(ui::TableView&) { return int(sectionList_.size()); }

int QNTableView::tableViewNumberOfRowsInSection(ui::TableView&, int section) { return getRowsFromSection(section); }

void QNTableView::configureCell(QNTableViewCellCustom& cell, QNTableViewData& row, const IndexPath& ip) {
    switch (row.style()) {
        case QNTableViewData::kStyleTextField:
            cell.setDelegate(this);
            cell.textField()->setSecureTextEntry(row.isSecureTextEntry());
            cell.textField()->setText(row.detailText());
            break;
        case QNTableViewData::kStyleSegment: {
            cell.setDelegate(this);
            auto& seg = *cell.seg();
            seg.removeAllSegments();
            const auto& titles = row.selectionList();
            for (size_t i = 0; i < titles.size(); ++i) seg.insertSegment(titles[i], int(i), false);
            seg.sizeToFit();
            seg.setSelectedSegmentIndex(int(row.value().integerValue()));
            break;
        }
        case QNTableViewData::kStyleSwitch:
            cell.setDelegate(this);
            // Lets the screen flip the switch of the row later.
            row.setSw(cell.sw());
            cell.sw()->setOn(row.value().boolValue(), false);
            break;
        default:
            break;
    }
    cell.setIndexPath(ip);
    cell.textLabel()->setText(row.text());
    cell.textLabel()->setFont(row.textFontSize() != 0 ? gfx::Font::system(double(row.textFontSize()))
                                                      : cell.defaultTextFont());
    if (ui::Label* detail = cell.detailTextLabel()) {
        detail->setFont(row.detailTextFontSize() != 0 ? gfx::Font::system(double(row.detailTextFontSize()))
                                                      : cell.defaultDetailFont());
        if (row.style() == QNTableViewData::kStyleTextField) {
            detail->setText(" ");
            detail->setHidden(true);
        } else {
            detail->setText(row.detailText());
        }
    }
    const int64_t accessory = std::clamp<int64_t>(row.accessoryType(), 0, 4);
    cell.setAccessoryType(ui::TableViewCellAccessoryType(accessory));
    const int64_t selection = std::clamp<int64_t>(row.selectionStyle(), 0, 3);
    cell.setSelectionStyle(ui::TableViewCellSelectionStyle(selection));
    cell.setIsDisplayedInTwoLines(row.isDisplayedInTwoLines());
    cell.setNeedsLayout();
}

std::shared_ptr<ui::TableViewCell> QNTableView::tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                             const IndexPath& indexPath) {
    Row row = getDataRefFromIndexPath(indexPath);
    const int32_t kind = row ? row->style() : QNTableViewData::kStyleDefault;
    const std::string identifier = "Cell" + std::to_string(kind);
    auto cell = std::dynamic_pointer_cast<QNTableViewCellCustom>(dequeueReusableCell(identifier));
    if (!cell) cell = std::make_shared<QNTableViewCellCustom>(kind, identifier);
    if (row) configureCell(*cell, *row, indexPath);
    return cell;
}

std::optional<std::string> QNTableView::tableViewTitleForHeaderInSection(ui::TableView&, int section) {
    return titleAt(sectionHeaderTitles_, section);
}

std::optional<std::string> QNTableView::tableViewTitleForFooterInSection(ui::TableView&, int section) {
    return titleAt(sectionFooterTitles_, section);
}

ui::TableViewCellEditingStyle QNTableView::tableViewEditingStyleForRowAtIndexPath(ui::TableView&,
                                                                                 const IndexPath& indexPath) {
    QNTableViewData* row = getDataFromIndexPath(indexPath);
    return row && row->canDelete() ? ui::TableViewCellEditingStyle::Delete : ui::TableViewCellEditingStyle::None;
}

void QNTableView::tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                              const IndexPath& indexPath) {
    if (style != ui::TableViewCellEditingStyle::Delete) return;
    if (indexPath.section < 0 || indexPath.section >= int(sectionList_.size())) return;
    auto& rows = sectionList_[size_t(indexPath.section)];
    if (indexPath.row < 0 || indexPath.row >= int(rows.size())) return;
    rows.erase(rows.begin() + indexPath.row);
    deleteRowsAtIndexPaths({indexPath}, ui::TableViewRowAnimation::Fade);
    if (qnDelegate_) qnDelegate_->tableViewDidDeleteRowAtIndexPath(*this, indexPath);
}

double QNTableView::tableViewHeightForRowAtIndexPath(ui::TableView&, const IndexPath& indexPath) {
    QNTableViewData* row = getDataFromIndexPath(indexPath);
    if (row && row->isDisplayedInTwoLines()) return QNTableViewData::kTwoLineHeight;
    return kAutomaticDimension;
}

void QNTableView::tableViewDidSelectRowAtIndexPath(ui::TableView&, const IndexPath& indexPath) {
    if (qnDelegate_) qnDelegate_->tableViewDidSelectRowAtIndexPath(*this, indexPath, getDataFromIndexPath(indexPath));
}

void QNTableView::tableViewAccessoryButtonTappedForRowWithIndexPath(ui::TableView&, const IndexPath& indexPath) {
    if (qnDelegate_)
        qnDelegate_->tableViewAccessoryButtonTappedForRowWithIndexPath(*this, indexPath,
                                                                       getDataFromIndexPath(indexPath));
}
