#pragma once

#include "platform/ui/IndexPath.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TextField.h"

#include <cstdint>
#include <memory>
#include <string>

class QNTableView;

// The cell of a table-driven screen, built for one row kind: a plain cell
// in one of the four styles, or a cell carrying a switch, a segmented
// control or a right-aligned text field. It reports its control's changes
// to the table with its index path.
class QNTableViewCellCustom : public ui::TableViewCell {
public:
    QNTableViewCellCustom(int32_t rowKind, const std::string& reuseIdentifier);

    // The platform cell style a row kind is built in.
    static ui::TableViewCellStyle cellStyleForRowKind(int32_t rowKind);

    int32_t rowKind() const { return style_; }
    bool isDisplayedInTwoLines() const { return twoLines_; }
    void setIsDisplayedInTwoLines(bool on);
    const std::shared_ptr<ui::Switch>& sw() const { return sw_; }
    const std::shared_ptr<ui::SegmentedControl>& seg() const { return seg_; }
    const std::shared_ptr<ui::TextField>& textField() const { return textField_; }
    const ui::IndexPath& indexPath() const { return indexPath_; }
    void setIndexPath(const ui::IndexPath& p) { indexPath_ = p; }
    QNTableView* delegate() const { return delegate_; }
    void setDelegate(QNTableView* d) { delegate_ = d; }

    // The fonts the cell was built with (what a row without its own size shows).
    const gfx::Font& defaultTextFont() const { return defaultTextFont_; }
    const gfx::Font& defaultDetailFont() const { return defaultDetailFont_; }

    void onControlValueChanged();
    void onEndEditTextField(ui::TextField& field);

    void layoutSubviews() override;

    static constexpr double kTwoLineAccessoryDrop = 13.0;
    static constexpr double kTwoLineTitleRaise = 20.0;

private:
    int32_t style_;
    bool twoLines_ = false;
    std::shared_ptr<ui::Switch> sw_;
    std::shared_ptr<ui::SegmentedControl> seg_;
    ui::IndexPath indexPath_;
    QNTableView* delegate_ = nullptr;
    std::shared_ptr<ui::TextField> textField_;
    gfx::Font defaultTextFont_;
    gfx::Font defaultDetailFont_;
};
