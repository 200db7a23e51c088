#include "foundation/ui/QNTableViewCellCustom.h"

#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewData.h"

#include <algorithm>

ui::TableViewCellStyle QNTableViewCellCustom::cellStyleForRowKind(int32_t rowKind) {
    switch (rowKind) {
        case QNTableViewData::kStyleValue1: return ui::TableViewCellStyle::Value1;
        case QNTableViewData::kStyleValue2: return ui::TableViewCellStyle::Value2;
        case QNTableViewData::kStyleSubtitle: return ui::TableViewCellStyle::Subtitle;
        case QNTableViewData::kStyleTextField: return ui::TableViewCellStyle::Value1;
        default: return ui::TableViewCellStyle::Default;
    }
}

QNTableViewCellCustom::QNTableViewCellCustom(int32_t rowKind, const std::string& reuseIdentifier)
    : ui::TableViewCell(cellStyleForRowKind(rowKind), reuseIdentifier), style_(rowKind) {
    defaultTextFont_ = textLabel()->font();
    if (detailTextLabel()) defaultDetailFont_ = detailTextLabel()->font();
    if (rowKind == QNTableViewData::kStyleSwitch) {
        sw_ = std::make_shared<ui::Switch>();
        sw_->sizeToFit();
        sw_->addAction(ui::ControlEventValueChanged, [this](ui::Control&) { onControlValueChanged(); });
        setAccessoryView(sw_);
    } else if (rowKind == QNTableViewData::kStyleSegment) {
        seg_ = std::make_shared<ui::SegmentedControl>();
        seg_->addAction(ui::ControlEventValueChanged, [this](ui::Control&) { onControlValueChanged(); });
        setAccessoryView(seg_);
    } else if (rowKind == QNTableViewData::kStyleTextField) {
        textField_ = std::make_shared<ui::TextField>();
        textField_->setTextAlignment(ui::TextAlignment::Right);
        textField_->addAction(ui::ControlEventEditingChanged, [this](ui::Control&) { onControlValueChanged(); });
        ui::TextField* field = textField_.get();
        textField_->addAction(ui::ControlEventEditingDidEndOnExit,
                              [this, field](ui::Control&) { onEndEditTextField(*field); });
        contentView()->addSubview(textField_);
    }
}

void QNTableViewCellCustom::setIsDisplayedInTwoLines(bool on) {
    if (twoLines_ == on) return;
    twoLines_ = on;
    setNeedsLayout();
}

void QNTableViewCellCustom::onControlValueChanged() {
    if (!delegate_) return;
    switch (style_) {
        case QNTableViewData::kStyleTextField:
            delegate_->onTextFieldValueChangedWithIndexPath(indexPath_, textField_->text());
            break;
        case QNTableViewData::kStyleSegment:
            delegate_->onSegmentValueChangedWithIndexPath(indexPath_, seg_->selectedSegmentIndex());
            break;
        case QNTableViewData::kStyleSwitch:
            delegate_->onSwValueChangedWithIndexPath(indexPath_, sw_->isOn());
            break;
        default:
            break;
    }
}

void QNTableViewCellCustom::onEndEditTextField(ui::TextField& field) { field.resignFirstResponder(); }

void QNTableViewCellCustom::layoutSubviews() {
    ui::TableViewCell::layoutSubviews();
    if (twoLines_) {
        double accessoryWidth = 0;
        if (ui::View* a = accessoryShown()) {
            ui::Rect f = a->frame();
            a->setFrame(ui::Rect(f.x(), f.y() + kTwoLineAccessoryDrop, f.width(), f.height()));
            accessoryWidth = f.width();
        }
        ui::Rect t = textLabel()->frame();
        textLabel()->setFrame(ui::Rect(t.x(), t.y() - kTwoLineTitleRaise, t.width() + accessoryWidth, t.height()));
    }
    if (textField_ && detailTextLabel()) {
        ui::Label* detail = detailTextLabel();
        textField_->setFont(detail->font());
        // What is typed is the row's value, in the text colour; only the
        // placeholder is drawn grey.
        textField_->setTextColor(ui::Color::label());
        textField_->setClearButtonMode(ui::TextFieldViewMode::Never);
        textField_->setReturnKeyType(ui::ReturnKeyType::Done);
        ui::Rect d = detail->frame();
        // The field starts after the row's name, however long its text.
        const ui::Rect t = textLabel()->frame();
        const double nameEnd = textLabel()->text().empty()
                                   ? 0
                                   : t.x() + std::min(t.width(), textLabel()->sizeThatFits({0, 0}).width) + 8;
        const double x = std::max(110.0, nameEnd);
        textField_->setFrame(
            ui::Rect(x, d.y(), std::max(0.0, contentView()->bounds().width() - 15.0 - x), d.height()));
    }
}
