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

    TextFieldDelegate* delegate() const { return delegate_; }
    void setDelegate(TextFieldDelegate* d) { delegate_ = d; }

    bool isEditing() const { return editing_; }
    // Caret position in bytes of the text.
    size_t caret() const { return caret_; }

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
    void endTracking(Touch& touch, const Event& event) override;

protected:
    void didBecomeFirstResponder() override;
    void didResignFirstResponder() override;

private:
    bool replace(TextRange range, const std::string& with);

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
    size_t caret_ = 0;
};

}  // namespace ui
