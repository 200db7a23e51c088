#pragma once

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

#include <memory>
#include <string>

namespace ui {

class TableView;

// The platform's numbers for the four cell styles and the rest.
enum class TableViewCellStyle { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };
enum class TableViewCellAccessoryType { None = 0, DisclosureIndicator = 1, DetailDisclosureButton = 2, Checkmark = 3,
                                        DetailButton = 4 };
enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2, Default = 3 };
enum class TableViewCellEditingStyle { None = 0, Delete = 1, Insert = 2 };

// One row of a table: a content view with a text label, a detail label
// (not in the default style) and an image view laid out by the style, an
// accessory on the right, a selection background, and while editing a
// delete or insert control on the left and a reorder grip on the right.
// Subclasses add their views to contentView().
class TableViewCell : public View {
public:
    explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default, std::string reuseIdentifier = "");

    TableViewCellStyle style() const { return style_; }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }

    View* contentView() const { return content_.get(); }
    Label* textLabel() const { return text_.get(); }
    // Null in the default style.
    Label* detailTextLabel() const { return detail_.get(); }
    ImageView* imageView() const { return image_.get(); }

    TableViewCellAccessoryType accessoryType() const { return accessoryType_; }
    void setAccessoryType(TableViewCellAccessoryType t);
    // Replaces the accessory type's view when set.
    const std::shared_ptr<View>& accessoryView() const { return accessoryView_; }
    void setAccessoryView(std::shared_ptr<View> v);
    TableViewCellAccessoryType editingAccessoryType() const { return editingAccessoryType_; }
    void setEditingAccessoryType(TableViewCellAccessoryType t);

    TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(TableViewCellSelectionStyle s);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected, bool animated = false);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted, bool animated = false);
    // The keys' highlight (set by the table): the selected look, also on a
    // row that shows no selection, so that the keys' place is always seen.
    bool isKeyHighlighted() const { return keyHighlighted_; }
    void setKeyHighlighted(bool on);
    View* selectedBackgroundView() const { return selectedBackground_.get(); }
    void setSelectedBackgroundView(std::shared_ptr<View> v);

    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated = false);
    TableViewCellEditingStyle editingStyle() const { return editingStyle_; }
    bool showsReorderControl() const { return showsReorder_; }
    void setShowsReorderControl(bool on);
    bool shouldIndentWhileEditing() const { return indentWhileEditing_; }
    void setShouldIndentWhileEditing(bool on);
    // The red button that confirms a delete (after a swipe, or the delete
    // control while editing).
    bool isShowingDeleteConfirmation() const { return confirming_; }
    Button* deleteConfirmationButton() const { return deleteButton_.get(); }

    EdgeInsets separatorInset() const { return separatorInset_; }
    void setSeparatorInset(const EdgeInsets& i);

    // The table showing this cell (its superview), or null.
    TableView* tableView() const;

    // Called before the table hands the cell out again from its reuse pool.
    virtual void prepareForReuse();

    // Where the parts are, for tests and the table.
    View* editingControl() const { return editingControl_.get(); }
    View* reorderControl() const { return reorderControl_.get(); }
    View* accessoryShown() const { return shownAccessory_.get(); }

    void layoutSubviews() override;
    Size sizeThatFits(Size size) const override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

    static constexpr double kDefaultHeight = 44;
    static constexpr double kDeleteButtonWidth = 82;

private:
    friend class TableView;
    // The table sets these as it shows the cell.
    void setEditingStyleInternal(TableViewCellEditingStyle s);
    void setShowingDeleteConfirmation(bool on, bool animated);
    void setSeparatorShown(bool shown, bool fullWidth);
    void rebuildAccessory();
    void updateSelectionBackground(bool animated);
    double editingIndent() const;
    double trailingWidth() const;

    TableViewCellStyle style_;
    std::string reuseIdentifier_;
    std::shared_ptr<View> content_;
    std::shared_ptr<Label> text_;
    std::shared_ptr<Label> detail_;
    std::shared_ptr<ImageView> image_;
    TableViewCellAccessoryType accessoryType_ = TableViewCellAccessoryType::None;
    TableViewCellAccessoryType editingAccessoryType_ = TableViewCellAccessoryType::None;
    std::shared_ptr<View> accessoryView_;
    std::shared_ptr<View> shownAccessory_;
    TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Default;
    bool selected_ = false;
    bool highlighted_ = false;
    bool keyHighlighted_ = false;
    std::shared_ptr<View> selectedBackground_;
    bool editing_ = false;
    TableViewCellEditingStyle editingStyle_ = TableViewCellEditingStyle::None;
    bool showsReorder_ = false;
    bool indentWhileEditing_ = true;
    bool confirming_ = false;
    std::shared_ptr<View> editingControl_;
    std::shared_ptr<View> reorderControl_;
    std::shared_ptr<Button> deleteButton_;
    EdgeInsets separatorInset_{0, 16, 0, 0};
    bool separatorShown_ = true;
    bool separatorFullWidth_ = false;
    bool touchMoved_ = false;
};

}  // namespace ui
