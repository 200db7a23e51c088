#include "platform/ui/TextField.h"

#include "platform/ui/Keyboard.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kClearSize = 19;

size_t prevBoundary(const std::string& s, size_t i) {
    if (i == 0) return 0;
    --i;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    return i;
}

size_t nextBoundary(const std::string& s, size_t i) {
    if (i >= s.size()) return s.size();
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

size_t codePoints(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// A key that types: one or more printable characters, no command keys.
bool isTyping(const KeyPress& k) {
    if (k.modifierFlags & (KeyModifierCommand | KeyModifierControl)) return false;
    if (k.input.empty()) return false;
    for (unsigned char c : k.input)
        if (c < 0x20 || c == 0x7F) return false;
    for (const char* special : {KeyInput::upArrow, KeyInput::downArrow, KeyInput::leftArrow, KeyInput::rightArrow,
                                KeyInput::escape, KeyInput::pageUp, KeyInput::pageDown, KeyInput::home,
                                KeyInput::end, KeyInput::deleteForward})
        if (k.input == special) return false;
    return true;
}

}  // namespace

TextField::TextField() = default;
TextField::TextField(const Rect& frame) : Control(frame) {}

void TextField::setText(const std::string& text) {
    text_ = text;
    caret_ = text_.size();
    setNeedsDisplay();
}

void TextField::setPlaceholder(const std::string& p) {
    placeholder_ = p;
    setNeedsDisplay();
}

void TextField::setPlaceholderColor(const Color& c) {
    placeholderColor_ = c;
    setNeedsDisplay();
}

void TextField::setFont(const gfx::Font& f) {
    font_ = f;
    setNeedsDisplay();
}

void TextField::setTextColor(const Color& c) {
    textColor_ = c;
    setNeedsDisplay();
}

void TextField::setTextAlignment(TextAlignment a) {
    alignment_ = a;
    setNeedsDisplay();
}

void TextField::setBorderStyle(TextBorderStyle s) {
    border_ = s;
    setNeedsDisplay();
}

void TextField::setClearButtonMode(TextFieldViewMode m) {
    clearMode_ = m;
    setNeedsDisplay();
}

void TextField::setClearButtonColor(const Color& c) {
    clearColor_ = c;
    setNeedsDisplay();
}

void TextField::setSecureTextEntry(bool s) {
    secure_ = s;
    setNeedsDisplay();
}

void TextField::setLeftView(std::shared_ptr<View> v) {
    if (leftView_) leftView_->removeFromSuperview();
    leftView_ = std::move(v);
    if (leftView_) {
        leftView_->setUserInteractionEnabled(false);
        addSubview(leftView_);
    }
    setNeedsLayout();
}

bool TextField::isClearButtonShown() const {
    if (text_.empty()) return false;
    switch (clearMode_) {
    case TextFieldViewMode::Never: return false;
    case TextFieldViewMode::WhileEditing: return editing_;
    case TextFieldViewMode::UnlessEditing: return !editing_;
    case TextFieldViewMode::Always: return true;
    }
    return false;
}

Rect TextField::clearButtonRect() const {
    Rect b = bounds();
    double right = border_ == TextBorderStyle::None ? 0 : 6;
    return Rect(b.maxX() - right - kClearSize, b.y() + (b.height() - kClearSize) / 2, kClearSize, kClearSize);
}

Rect TextField::textRect() const {
    Rect b = bounds();
    double left = border_ == TextBorderStyle::None ? 0 : 7;
    double right = border_ == TextBorderStyle::None ? 0 : 7;
    if (leftView_) left = leftView_->frame().maxX() - b.x() + 4;
    if (isClearButtonShown()) right = b.maxX() - clearButtonRect().x() + 4;
    return Rect(b.x() + left, b.y(), std::max(0.0, b.width() - left - right), b.height());
}

std::string TextField::displayText() const {
    if (!secure_) return text_;
    std::string out;
    for (size_t i = 0, n = codePoints(text_); i < n; ++i) out += "\u2022";
    return out;
}

Size TextField::sizeThatFits(Size size) const {
    double lh = std::ceil(font_.lineHeight());
    double h = lh + (border_ == TextBorderStyle::RoundedRect ? 14 : (border_ == TextBorderStyle::None ? 0 : 8));
    double w = size.width > 0 ? size.width : bounds().width();
    return {w, h};
}

void TextField::layoutSubviews() {
    if (leftView_) {
        Rect b = bounds();
        Rect f = leftView_->frame();
        double x = border_ == TextBorderStyle::None ? 0 : 7;
        leftView_->setFrame(Rect(b.x() + x, b.y() + (b.height() - f.height()) / 2, f.width(), f.height()));
    }
}

void TextField::draw(gfx::Canvas& c, const Rect&) {
    Rect b = bounds();
    switch (border_) {
    case TextBorderStyle::None: break;
    case TextBorderStyle::Line: c.strokeRoundedRectInside(b, 0, resolve(Color::label()), 1); break;
    case TextBorderStyle::Bezel:
        c.strokeRoundedRectInside(b, 0, resolve(Color::systemGray()), 1);
        break;
    case TextBorderStyle::RoundedRect:
        c.fillRoundedRect(b, 5, resolve(Color::systemBackground()));
        c.strokeRoundedRectInside(b, 5, resolve(Color::systemGray4()), 0.5);
        break;
    }
    Rect tr = textRect();
    double lh = font_.lineHeight();
    Rect line(tr.x(), tr.y() + (tr.height() - lh) / 2, tr.width(), lh);
    gfx::TextOptions o;
    o.alignment = alignment_;
    o.lineBreak = gfx::LineBreakMode::Clip;
    c.save();
    c.clipRect(tr);
    std::string shown = displayText();
    double caretX = line.x();
    if (shown.empty()) {
        if (!placeholder_.empty()) c.drawText(placeholder_, font_, line, resolve(placeholderColor_), o);
        if (alignment_ == TextAlignment::Center) caretX = line.x() + line.width() / 2;
        if (alignment_ == TextAlignment::Right) caretX = line.maxX();
    } else {
        std::string before = secure_ ? displayText().substr(0, codePoints(text_.substr(0, caret_)) * 3)
                                     : text_.substr(0, caret_);
        double full = gfx::Canvas::measureText(shown, font_, 0, o).width;
        double upto = gfx::Canvas::measureText(before, font_, 0, o).width;
        double x = line.x();
        if (alignment_ == TextAlignment::Center) x += (line.width() - full) / 2;
        if (alignment_ == TextAlignment::Right) x += line.width() - full;
        // Long text scrolls so that the caret stays in view while editing.
        if (editing_ && x + upto > line.maxX() - 2) x -= (x + upto) - (line.maxX() - 2);
        c.drawText(shown, font_, Rect(x, line.y(), std::max(full, line.width()) + 1, lh), resolve(textColor_),
                   gfx::TextOptions{gfx::TextAlignment::Left, gfx::LineBreakMode::Clip, 1});
        caretX = x + upto;
    }
    if (editing_) c.fillRect(Rect(caretX, line.y() + 1, 2, lh - 2), resolve(tintColor()));
    c.restore();
    if (isClearButtonShown()) {
        ImageRef x = Image::systemNamed("xmark.circle.fill");
        gfx::Rgba grey = resolve(clearColor_);
        x->draw(c, clearButtonRect(), 1.0, &grey);
    }
}

bool TextField::canBecomeFirstResponder() const { return isEnabled(); }

bool TextField::canResignFirstResponder() const {
    return !delegate_ || !editing_ || delegate_->textFieldShouldEndEditing(const_cast<TextField&>(*this));
}

bool TextField::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder() || !window()) return false;
    if (delegate_ && !delegate_->textFieldShouldBeginEditing(*this)) return false;
    return Control::becomeFirstResponder();
}

void TextField::didBecomeFirstResponder() {
    editing_ = true;
    caret_ = text_.size();
    setNeedsDisplay();
    Keyboard::shared().show(window());
    sendActions(ControlEventEditingDidBegin);
    if (delegate_) delegate_->textFieldDidBeginEditing(*this);
}

void TextField::didResignFirstResponder() {
    if (!editing_) return;
    editing_ = false;
    setNeedsDisplay();
    sendActions(ControlEventEditingDidEnd);
    if (delegate_) delegate_->textFieldDidEndEditing(*this);
    Keyboard::shared().hideUnlessEditing(window());
}

void TextField::endTracking(Touch& touch, const Event&) {
    if (!isTouchInside()) return;
    Point p = touch.locationInView(this);
    if (isClearButtonShown() && rectContainsPoint(rectInset(clearButtonRect(), -6, -6), p)) {
        if (!editing_) becomeFirstResponder();
        clear();
        return;
    }
    if (!editing_) becomeFirstResponder();
}

bool TextField::replace(TextRange range, const std::string& with) {
    range.location = std::min(range.location, text_.size());
    range.length = std::min(range.length, text_.size() - range.location);
    if (delegate_ && !delegate_->textFieldShouldChangeCharacters(*this, range, with)) return false;
    text_.replace(range.location, range.length, with);
    caret_ = range.location + with.size();
    setNeedsDisplay();
    sendActions(ControlEventEditingChanged);
    return true;
}

void TextField::insertText(const std::string& s) { replace({caret_, 0}, s); }

void TextField::deleteBackward() {
    if (caret_ == 0) return;
    size_t p = prevBoundary(text_, caret_);
    replace({p, caret_ - p}, "");
}

void TextField::clear() {
    if (delegate_ && !delegate_->textFieldShouldClear(*this)) return;
    if (text_.empty()) return;
    text_.clear();
    caret_ = 0;
    setNeedsDisplay();
    sendActions(ControlEventEditingChanged);
}

bool TextField::pressKey(const KeyPress& key) {
    if (!editing_) return false;
    if (key.input == KeyInput::returnKey) {
        if (!delegate_ || delegate_->textFieldShouldReturn(*this)) {
            bool listened = actionCount(ControlEventEditingDidEndOnExit) > 0;
            // An action may close the screen that holds the field (a password
            // typed and answered): the field lives until it has resigned.
            auto keep = weak_from_this().lock();
            sendActions(ControlEventEditingDidEndOnExit);
            if (listened) resignFirstResponder();
        }
        return true;
    }
    if (key.modifierFlags & (KeyModifierCommand | KeyModifierControl)) return false;
    if (key.input == KeyInput::backspace) {
        deleteBackward();
        return true;
    }
    if (key.input == KeyInput::deleteForward) {
        if (caret_ < text_.size()) replace({caret_, nextBoundary(text_, caret_) - caret_}, "");
        return true;
    }
    if (key.input == KeyInput::leftArrow) {
        caret_ = prevBoundary(text_, caret_);
        setNeedsDisplay();
        return true;
    }
    if (key.input == KeyInput::rightArrow) {
        caret_ = nextBoundary(text_, caret_);
        setNeedsDisplay();
        return true;
    }
    if (key.input == KeyInput::home) {
        caret_ = 0;
        setNeedsDisplay();
        return true;
    }
    if (key.input == KeyInput::end) {
        caret_ = text_.size();
        setNeedsDisplay();
        return true;
    }
    if (isTyping(key)) {
        insertText(key.input);
        return true;
    }
    return false;
}

}  // namespace ui
