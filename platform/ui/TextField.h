#pragma once

#include "platform/graphics/Font.h"
#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

#include <string>

namespace ui {

class TextField;

// A range of the text in bytes of its UTF-8 form.
struct TextRange {
    size_t location = 0;
    size_t length = 0;
};

// Optional hooks of a text field's delegate; the defaults allow everything.
class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    virtual bool textFieldShouldBeginEditing(TextField&) { return true; }
    virtual void textFieldDidBeginEditing(TextField&) {}
    virtual bool textFieldShouldEndEditing(TextField&) { return true; }
    virtual void textFieldDidEndEditing(TextField&) {}
    virtual bool textFieldShouldChangeCharacters(TextField&, TextRange, const std::string&) { return true; }
    virtual bool textFieldShouldClear(TextField&) { return true; }
    virtual bool textFieldShouldReturn(TextField&) { return true; }
};

enum class TextBorderStyle { None, Line, Bezel, RoundedRect };
enum class TextFieldViewMode { Never, WhileEditing, UnlessEditing, Always };
enum class ReturnKeyType { Default, Go, Search, Send, Next, Done };

// One line of editable text. A tap makes it first responder (editing
// begins, the keyboard is announced); typed keys edit at the caret; return
// asks the delegate and sends editing-did-end-on-exit, after which the field
// resigns when someone listens to that event. A clear button, secure entry
// (bullets) and a placeholder work as on the platform.
//
// As on a desktop: a click places the caret where it lands, a drag or a
// double click selects, shift with the arrows, Home and End extends the
// selection, control moves and deletes by words; control A, C, X and V (and
// shift Insert) select all, copy, cut and paste through the Pasteboard (a
// secure field gives nothing away), the middle button pastes the primary
// selection. Escape leaves a field holding text, Tab and shift Tab go to the next and
// previous field of the same screen. A text longer than the box scrolls to
// keep the caret in view.
class TextField : public Control {
public:
    TextField();
    explicit TextField(const Rect& frame);

    const std::string& text() const { return text_; }
    // Sends no event; the caret goes to the end.
    void setText(const std::string& text);
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(const std::string& p);
    Color placeholderColor() const { return placeholderColor_; }
    void setPlaceholderColor(const Color& c);
    const gfx::Font& font() const { return font_; }
    void setFont(const gfx::Font& f);
    Color textColor() const { return textColor_; }
    void setTextColor(const Color& c);
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment a);
    TextBorderStyle borderStyle() const { return border_; }
    void setBorderStyle(TextBorderStyle s);
    TextFieldViewMode clearButtonMode() const { return clearMode_; }
    void setClearButtonMode(TextFieldViewMode m);
    Color clearButtonColor() const { return clearColor_; }
    void setClearButtonColor(const Color& c);
    bool isSecureTextEntry() const { return secure_; }
    void setSecureTextEntry(bool s);
    int keyboardType() const { return keyboardType_; }
    void setKeyboardType(int t) { keyboardType_ = t; }
    ReturnKeyType returnKeyType() const { return returnKey_; }
    void setReturnKeyType(ReturnKeyType t) { returnKey_ = t; }
    // A view at the left edge (a search field's magnifier), shown always.
    View* leftView() const { return leftView_.get(); }
    void setLeftView(std::shared_ptr<View> v);

    // Escape in a field holding text leaves the field (true, the default);
    // off, Escape goes on to the key commands (a search bar's, which
    // cancels its search).
    bool leavesOnEscape() const { return leavesOnEscape_; }
    void setLeavesOnEscape(bool on) { leavesOnEscape_ = on; }

    TextFieldDelegate* delegate() const { return delegate_; }
    void setDelegate(TextFieldDelegate* d) { delegate_ = d; }

    bool isEditing() const { return editing_; }
    // Caret position in bytes of the text.
    size_t caret() const { return caret_; }
    // The selected part (empty at the caret when nothing is selected).
    TextRange selectedRange() const;
    std::string selectedText() const;
    // The caret goes to `range`'s end, the other end stays put.
    void setSelectedRange(TextRange range);
    void selectAll();

    // Edits as typing does; line breaks and control characters are dropped.
    void paste(const std::string& text);
    // The primary selection, put in where `point` (field coordinates) is.
    void pastePrimarySelectionAt(Point point);
    // The caret's place for a point of the field (byte index).
    size_t indexAtPoint(Point point) const;
    // Where the caret is drawn, in field coordinates.
    Rect caretRect() const;
    // Gives the keyboard to the next (or previous) text field of the same
    // screen, in reading order; false when there is none.
    bool moveToNextField(bool forward);
    // Gives the keyboard to the first (or last) text field shown under
    // `root`, in reading order; false when there is none.
    static bool focusFirstField(View& root, bool forward);

    // Edits as typing does (asks the delegate, sends editing-changed).
    void insertText(const std::string& s);
    void deleteBackward();
    // The clear button's action.
    void clear();

    Rect textRect() const;
    Rect clearButtonRect() const;
    bool isClearButtonShown() const;
    std::string displayText() const;

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

    bool canBecomeFirstResponder() const override;
    bool becomeFirstResponder() override;
    bool canResignFirstResponder() const override;
    bool takesTextInput() const override { return editing_; }
    bool pressKey(const KeyPress& key) override;
    bool beginTracking(Touch& touch, const Event& event) override;
    bool continueTracking(Touch& touch, const Event& event) override;
    void endTracking(Touch& touch, const Event& event) override;

protected:
    void didBecomeFirstResponder() override;
    void didResignFirstResponder() override;

private:
    bool replace(TextRange range, const std::string& with);
    // Where the text starts (x) in the text rect, and its width.
    double textOrigin(double* fullWidth = nullptr) const;
    double prefixWidth(size_t index) const;
    size_t wordStartBefore(size_t index) const;
    size_t wordEndAfter(size_t index) const;
    // The caret goes to `index`; with `extend` the selection grows to it.
    void moveCaret(size_t index, bool extend);
    void selectionChanged();
    bool copySelection(bool cut);

    std::string text_;
    std::string placeholder_;
    gfx::Font font_ = gfx::Font::system(17);
    Color textColor_ = Color::label();
    Color placeholderColor_ = Color::placeholderText();
    Color clearColor_ = Color::systemGray3();
    TextAlignment alignment_ = TextAlignment::Left;
    TextBorderStyle border_ = TextBorderStyle::None;
    TextFieldViewMode clearMode_ = TextFieldViewMode::Never;
    bool secure_ = false;
    int keyboardType_ = 0;
    ReturnKeyType returnKey_ = ReturnKeyType::Default;
    TextFieldDelegate* delegate_ = nullptr;
    std::shared_ptr<View> leftView_;
    bool editing_ = false;
    bool leavesOnEscape_ = true;
    size_t caret_ = 0;
    // The other end of the selection; equal to the caret when none.
    size_t anchor_ = 0;
    // How far a text longer than the box is scrolled to the left.
    mutable double scroll_ = 0;
    // A press on the field while editing: the drag selects from its place.
    bool selecting_ = false;
    // Where a press on a field not yet editing landed (a byte index).
    size_t pressIndex_ = 0;
    bool pressInText_ = false;
    Point pressAt_;
};

}  // namespace ui
