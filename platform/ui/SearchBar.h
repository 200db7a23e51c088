#pragma once

#include "platform/ui/Button.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

#include <string>

namespace ui {

class SearchBar;

// Optional hooks of a search bar's delegate.
class SearchBarDelegate {
public:
    virtual ~SearchBarDelegate() = default;
    virtual bool searchBarShouldBeginEditing(SearchBar&) { return true; }
    virtual void searchBarTextDidBeginEditing(SearchBar&) {}
    virtual bool searchBarShouldEndEditing(SearchBar&) { return true; }
    virtual void searchBarTextDidEndEditing(SearchBar&) {}
    virtual void searchBarTextDidChange(SearchBar&, const std::string&) {}
    virtual void searchBarSearchButtonClicked(SearchBar&) {}
    virtual void searchBarCancelButtonClicked(SearchBar&) {}
};

// A search field with a magnifier and an optional Cancel button. Typing
// reports each change; return reports the search button (the field stays
// first responder until the delegate resigns it). Escape while the field is
// edited answers as the Cancel button does (shown or not), and the field
// resigns if the delegate left it editing.
class SearchBar : public View, private TextFieldDelegate {
public:
    SearchBar();
    explicit SearchBar(const Rect& frame);

    const std::string& text() const { return field_->text(); }
    // Sends no delegate call.
    void setText(const std::string& t) { field_->setText(t); }
    const std::string& placeholder() const { return field_->placeholder(); }
    void setPlaceholder(const std::string& p) { field_->setPlaceholder(p); }
    bool showsCancelButton() const { return showsCancel_; }
    void setShowsCancelButton(bool shows, bool animated = false);
    SearchBarDelegate* delegate() const { return delegate_; }
    void setDelegate(SearchBarDelegate* d) { delegate_ = d; }
    std::optional<Color> barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> c);
    // The field's text, caret, placeholder, magnifier and clear glyph in
    // their light look whatever the window's and the tint around: for a
    // field given a light background over a dark picture.
    bool fieldKeepsLightLook() const { return lightField_; }
    void setFieldKeepsLightLook(bool keeps);

    // The words the bar shows by itself (its placeholder, Cancel) looked up
    // again in the program's language: after the language was changed.
    void showSystemWords();

    TextField* searchTextField() const { return field_.get(); }
    Button* cancelButton() const { return cancel_.get(); }

    bool becomeFirstResponder() override { return field_->becomeFirstResponder(); }
    bool resignFirstResponder() override { return field_->resignFirstResponder(); }

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    std::vector<KeyCommand> keyCommands() const override;

    static constexpr double kHeight = 56;

private:
    bool textFieldShouldBeginEditing(TextField&) override;
    void textFieldDidBeginEditing(TextField&) override;
    bool textFieldShouldEndEditing(TextField&) override;
    void textFieldDidEndEditing(TextField&) override;
    bool textFieldShouldReturn(TextField&) override;

    void applyFieldColors();

    std::shared_ptr<TextField> field_;
    std::shared_ptr<View> glass_;
    std::shared_ptr<Button> cancel_;
    bool showsCancel_ = false;
    SearchBarDelegate* delegate_ = nullptr;
    std::optional<Color> barTint_;
    bool lightField_ = false;
};

}  // namespace ui
