#include "platform/ui/TextField.h"

#include "platform/ui/InFrontKeyScope.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/Touch.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

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

// A letter, digit or any character beyond ASCII counts as part of a word.
bool isWordByte(unsigned char c) { return c >= 0x80 || std::isalnum(c) || c == '_'; }

// Text from the clipboard as one line: line breaks and control characters
// are dropped, and a text far larger than a field holds is cut at a
// character's boundary.
std::string oneLine(const std::string& s) {
    constexpr size_t kMaxPaste = 64 * 1024;
    std::string out;
    out.reserve(std::min(s.size(), kMaxPaste));
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F) continue;
        out += char(c);
    }
    if (out.size() > kMaxPaste) {
        size_t cut = kMaxPaste;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

bool shownOnScreen(const View& v) {
    for (const View* p = &v; p; p = p->superview())
        if (p->isHidden() || p->alpha() <= 0.01) return false;
    return true;
}

// A key that types: one or more printable characters, no command keys.
bool isTyping(const KeyPress& k) {
    if (k.modifierFlags & (KeyModifierCommand | KeyModifierControl)) return false;
    if (k.input.empty()) return false;
    for (unsigned char c : k.input)
        if (c < 0x20 || c == 0x7F) return false;
    for (const char* special : {KeyInput::upArrow, KeyInput::downArrow, KeyInput::leftArrow, KeyInput::rightArrow,
                                KeyInput::escape, KeyInput::pageUp, KeyInput::pageDown, KeyInput::home,
                                KeyInput::end, KeyInput::deleteForward, KeyInput::insert})
        if (k.input == special) return false;
    return true;
}

}  // namespace

TextField::TextField() = default;
TextField::TextField(const Rect& frame) : Control(frame) {}

void TextField::setText(const std::string& text) {
    if (text == text_) return;  // the caret and selection stay
    text_ = text;
    caret_ = anchor_ = text_.size();
    setNeedsDisplay();
}

TextRange TextField::selectedRange() const {
    size_t a = std::min(anchor_, caret_), b = std::max(anchor_, caret_);
    return {a, b - a};
}

std::string TextField::selectedText() const {
    TextRange r = selectedRange();
    return text_.substr(r.location, r.length);
}

void TextField::setSelectedRange(TextRange range) {
    anchor_ = std::min(range.location, text_.size());
    caret_ = std::min(text_.size(), anchor_ + range.length);
    selectionChanged();
}

void TextField::selectAll() {
    anchor_ = 0;
    caret_ = text_.size();
    selectionChanged();
}

void TextField::selectionChanged() {
    setNeedsDisplay();
    // What is selected becomes the desktop's primary selection; a secure
    // field's never does.
    if (!secure_ && anchor_ != caret_) Pasteboard::setText(selectedText(), Pasteboard::Kind::PrimarySelection);
}

void TextField::moveCaret(size_t index, bool extend) {
    caret_ = std::min(index, text_.size());
    if (!extend) anchor_ = caret_;
    if (extend) selectionChanged();
    else setNeedsDisplay();
}

size_t TextField::wordStartBefore(size_t i) const {
    if (secure_) return 0;  // a hidden text shows no words
    i = std::min(i, text_.size());
    while (i > 0 && !isWordByte(static_cast<unsigned char>(text_[i - 1]))) --i;
    while (i > 0 && isWordByte(static_cast<unsigned char>(text_[i - 1]))) --i;
    return i;
}

size_t TextField::wordEndAfter(size_t i) const {
    if (secure_) return text_.size();
    while (i < text_.size() && !isWordByte(static_cast<unsigned char>(text_[i]))) ++i;
    while (i < text_.size() && isWordByte(static_cast<unsigned char>(text_[i]))) ++i;
    return i;
}

bool TextField::copySelection(bool cut) {
    if (secure_ || anchor_ == caret_) return false;
    Pasteboard::setText(selectedText());
    if (cut) replace(selectedRange(), "");
    return true;
}

void TextField::paste(const std::string& text) {
    std::string line = oneLine(text);
    if (line.empty()) return;
    replace(selectedRange(), line);
}

void TextField::pastePrimarySelectionAt(Point point) {
    if (!editing_ && !becomeFirstResponder()) return;
    std::string line = oneLine(Pasteboard::text(Pasteboard::Kind::PrimarySelection));
    caret_ = anchor_ = indexAtPoint(point);
    setNeedsDisplay();
    if (!line.empty()) replace({caret_, 0}, line);
}

// The enabled fields shown under `root`, in reading order: by rows from the
// top, then from the left.
static std::vector<TextField*> fieldsInReadingOrder(View& root, Window& w) {
    std::vector<TextField*> fields;
    std::vector<View*> stack{&root};
    while (!stack.empty()) {
        View* v = stack.back();
        stack.pop_back();
        if (v->isHidden() || v->alpha() <= 0.01) continue;
        if (auto* f = dynamic_cast<TextField*>(v); f && f->isEnabled() && shownOnScreen(*f)) fields.push_back(f);
        for (auto& sub : v->subviews()) stack.push_back(sub.get());
    }
    auto at = [&w](TextField* f) { return f->convertRectTo(f->bounds(), &w); };
    std::sort(fields.begin(), fields.end(), [&](TextField* a, TextField* b) {
        Rect ra = at(a), rb = at(b);
        if (std::abs(ra.y() - rb.y()) > 4) return ra.y() < rb.y();
        return ra.x() < rb.x();
    });
    return fields;
}

bool TextField::focusFirstField(View& root, bool forward) {
    Window* w = root.window();
    if (!w) return false;
    std::vector<TextField*> fields = fieldsInReadingOrder(root, *w);
    if (!forward) std::reverse(fields.begin(), fields.end());
    for (TextField* f : fields)
        if (f->becomeFirstResponder()) return true;
    return false;
}

bool TextField::moveToNextField(bool forward) {
    Window* w = window();
    if (!w) return false;
    // The screen the field is on: its topmost view below the window (a
    // panel laid on the window is one of its own).
    View* root = this;
    while (root->superview() && root->superview() != w) root = root->superview();
    std::vector<TextField*> fields = fieldsInReadingOrder(*root, *w);
    if (fields.size() < 2) return false;
    auto self = std::find(fields.begin(), fields.end(), this);
    if (self == fields.end()) return false;
    size_t i = size_t(self - fields.begin());
    size_t n = fields.size();
    for (size_t step = 1; step < n; ++step) {
        TextField* next = fields[forward ? (i + step) % n : (i + n - step) % n];
        if (next->becomeFirstResponder()) return true;
    }
    return false;
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

double TextField::prefixWidth(size_t index) const {
    index = std::min(index, text_.size());
    gfx::TextOptions o;
    o.lineBreak = gfx::LineBreakMode::Clip;
    if (secure_) {
        std::string bullets;
        for (size_t i = 0, n = codePoints(text_.substr(0, index)); i < n; ++i) bullets += "\u2022";
        return gfx::Canvas::measureText(bullets, font_, 0, o).width;
    }
    return gfx::Canvas::measureText(text_.substr(0, index), font_, 0, o).width;
}

double TextField::textOrigin(double* fullWidth) const {
    Rect line = textRect();
    double full = prefixWidth(text_.size());
    if (fullWidth) *fullWidth = full;
    double x = line.x();
    double room = line.width() - 2;  // the caret's own width at the end
    if (!editing_ || full <= room) {
        scroll_ = 0;
        if (alignment_ == TextAlignment::Center) x += (line.width() - full) / 2;
        // Right-aligned text leaves room for the caret at its end.
        if (alignment_ == TextAlignment::Right) x += line.width() - full - (editing_ ? 2 : 0);
        return x;
    }
    // A text longer than the box scrolls so that the caret stays in view,
    // moving no more than it must.
    double caretAt = prefixWidth(caret_);
    scroll_ = std::clamp(scroll_, 0.0, full - room);
    if (caretAt < scroll_) scroll_ = caretAt;
    if (caretAt > scroll_ + room) scroll_ = caretAt - room;
    return x - scroll_;
}

size_t TextField::indexAtPoint(Point p) const {
    double x = p.x - textOrigin();
    if (x <= 0) return 0;
    // Widths grow with the index: the boundary nearest to x, by halves.
    std::vector<size_t> bounds{0};
    for (size_t i = 0; i < text_.size();) bounds.push_back(i = nextBoundary(text_, i));
    size_t lo = 0, hi = bounds.size() - 1;
    if (x >= prefixWidth(bounds[hi])) return bounds[hi];
    while (hi - lo > 1) {
        size_t mid = (lo + hi) / 2;
        if (prefixWidth(bounds[mid]) <= x) lo = mid;
        else hi = mid;
    }
    return x - prefixWidth(bounds[lo]) <= prefixWidth(bounds[hi]) - x ? bounds[lo] : bounds[hi];
}

Rect TextField::caretRect() const {
    Rect tr = textRect();
    double lh = font_.lineHeight();
    double y = tr.y() + (tr.height() - lh) / 2;
    double x = tr.x();
    if (text_.empty()) {
        if (alignment_ == TextAlignment::Center) x = tr.x() + tr.width() / 2;
        if (alignment_ == TextAlignment::Right) x = tr.maxX() - 2;
    } else {
        x = textOrigin() + prefixWidth(caret_);
    }
    return Rect(x, y + 1, 2, lh - 2);
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
    // The text stays inside its box, however long it is.
    c.clipRect(tr);
    std::string shown = displayText();
    if (shown.empty()) {
        if (!placeholder_.empty()) c.drawText(placeholder_, font_, line, resolve(placeholderColor_), o);
    } else {
        double full = 0;
        double x = textOrigin(&full);
        if (editing_ && anchor_ != caret_) {
            TextRange r = selectedRange();
            double from = x + prefixWidth(r.location), to = x + prefixWidth(r.location + r.length);
            c.fillRect(Rect(from, line.y(), to - from, lh), resolve(tintColor().withAlpha(0.3)));
        }
        c.drawText(shown, font_, Rect(x, line.y(), std::max(full, line.width()) + 1, lh), resolve(textColor_),
                   gfx::TextOptions{gfx::TextAlignment::Left, gfx::LineBreakMode::Clip, 1});
    }
    if (editing_ && anchor_ == caret_) c.fillRect(caretRect(), resolve(tintColor()));
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
    // The text keeps the place it was shown at (a long text scrolled to its
    // end when drawn from the right).
    double before = textOrigin();
    editing_ = true;
    caret_ = anchor_ = text_.size();
    scroll_ = std::max(0.0, textRect().x() - before);
    setNeedsDisplay();
    Keyboard::shared().show(window());
    sendActions(ControlEventEditingDidBegin);
    if (delegate_) delegate_->textFieldDidBeginEditing(*this);
}

void TextField::didResignFirstResponder() {
    if (!editing_) return;
    editing_ = false;
    anchor_ = caret_;
    selecting_ = false;
    setNeedsDisplay();
    sendActions(ControlEventEditingDidEnd);
    if (delegate_) delegate_->textFieldDidEndEditing(*this);
    Keyboard::shared().hideUnlessEditing(window());
}

bool TextField::beginTracking(Touch& touch, const Event& event) {
    Control::beginTracking(touch, event);
    Point p = touch.locationInView(this);
    selecting_ = false;
    pressInText_ = false;
    pressAt_ = touch.locationInWindow();
    if (isClearButtonShown() && rectContainsPoint(rectInset(clearButtonRect(), -6, -6), p)) return true;
    // Only a press on the text itself places the caret: one beside a short
    // text (a right-aligned row's empty left part) leaves it at the end.
    double full = 0;
    double x = textOrigin(&full);
    pressInText_ = !text_.empty() && p.x >= x - 2 && p.x <= x + full + 2;
    pressIndex_ = indexAtPoint(p);
    if (!editing_) return true;
    // A field already being edited: the press places the caret, a double
    // press selects the word, a third the whole text, and a drag selects.
    if (touch.tapCount() == 2 && !text_.empty()) {
        size_t i = pressIndex_;
        size_t from = i, to = i;
        while (from > 0 && isWordByte(static_cast<unsigned char>(text_[from - 1]))) --from;
        while (to < text_.size() && isWordByte(static_cast<unsigned char>(text_[to]))) ++to;
        if (from == to) to = nextBoundary(text_, i);
        if (secure_) from = 0, to = text_.size();
        anchor_ = from;
        caret_ = to;
        selectionChanged();
        return true;
    }
    if (touch.tapCount() >= 3) {
        selectAll();
        return true;
    }
    moveCaret(pressIndex_, false);
    selecting_ = true;
    return true;
}

bool TextField::continueTracking(Touch& touch, const Event& event) {
    Control::continueTracking(touch, event);
    Point p = touch.locationInView(this);
    if (!editing_ && pressInText_) {
        // A drag across the text of a field not yet editing selects too.
        // Sideways only: an up or down drag is a list's scroll.
        double dx = std::abs(touch.locationInWindow().x - pressAt_.x);
        double dy = std::abs(touch.locationInWindow().y - pressAt_.y);
        if (dx > 4 && dx > 2 * dy && becomeFirstResponder()) {
            anchor_ = caret_ = pressIndex_;
            selecting_ = true;
        }
    }
    if (selecting_) moveCaret(indexAtPoint(p), true);
    return true;
}

void TextField::endTracking(Touch& touch, const Event&) {
    bool wasSelecting = selecting_;
    selecting_ = false;
    if (!isTouchInside()) return;
    Point p = touch.locationInView(this);
    if (isClearButtonShown() && rectContainsPoint(rectInset(clearButtonRect(), -6, -6), p)) {
        if (!editing_) becomeFirstResponder();
        clear();
        return;
    }
    if (editing_ || wasSelecting) return;
    size_t at = pressIndex_;
    bool inText = pressInText_;
    if (!becomeFirstResponder()) return;
    if (inText) moveCaret(at, false);
}

bool TextField::replace(TextRange range, const std::string& with) {
    range.location = std::min(range.location, text_.size());
    range.length = std::min(range.length, text_.size() - range.location);
    if (delegate_ && !delegate_->textFieldShouldChangeCharacters(*this, range, with)) return false;
    text_.replace(range.location, range.length, with);
    caret_ = anchor_ = range.location + with.size();
    setNeedsDisplay();
    sendActions(ControlEventEditingChanged);
    return true;
}

void TextField::insertText(const std::string& s) { replace(selectedRange(), s); }

void TextField::deleteBackward() {
    if (anchor_ != caret_) {
        replace(selectedRange(), "");
        return;
    }
    if (caret_ == 0) return;
    size_t p = prevBoundary(text_, caret_);
    replace({p, caret_ - p}, "");
}

void TextField::clear() {
    if (delegate_ && !delegate_->textFieldShouldClear(*this)) return;
    if (text_.empty()) return;
    text_.clear();
    caret_ = anchor_ = 0;
    setNeedsDisplay();
    sendActions(ControlEventEditingChanged);
}

bool TextField::pressKey(const KeyPress& key) {
    if (!editing_) return false;
    const unsigned mods = key.modifierFlags & (KeyModifierShift | KeyModifierControl | KeyModifierAlternate |
                                               KeyModifierCommand);
    const bool shift = mods & KeyModifierShift;
    const bool control = mods & KeyModifierControl;
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
    // Escape in a field holding text leaves the field, keeping the text;
    // only the next one reaches the screen (which may close and drop it).
    // An empty field, with nothing to lose, or one not shown lets it
    // through at once. Nor is a field what is in front of the screens (full
    // screen's Escape, a script's "back").
    if (key.input == KeyInput::escape && !mods) {
        if (!leavesOnEscape_ || text_.empty() || !shownOnScreen(*this) || InFrontKeyScope::active()) return false;
        auto keep = weak_from_this().lock();
        resignFirstResponder();
        return true;
    }
    if (key.input == KeyInput::tab && (mods & ~KeyModifierShift) == 0) return moveToNextField(!shift);
    if (key.input == KeyInput::insert && mods == KeyModifierShift) {
        paste(Pasteboard::text());
        return true;
    }
    if (key.input == KeyInput::insert && mods == KeyModifierControl) {
        copySelection(false);
        return true;
    }
    if (control && !(mods & (KeyModifierAlternate | KeyModifierCommand))) {
        std::string in = key.input;
        if (in.size() == 1) in[0] = char(std::tolower(static_cast<unsigned char>(in[0])));
        if (in == "a" && !shift) {
            selectAll();
            return true;
        }
        if (in == "c" && !shift) {
            copySelection(false);
            return true;
        }
        if (in == "x" && !shift) {
            copySelection(true);
            return true;
        }
        if (in == "v" && !shift) {
            paste(Pasteboard::text());
            return true;
        }
        if (key.input == KeyInput::leftArrow) {
            moveCaret(wordStartBefore(caret_), shift);
            return true;
        }
        if (key.input == KeyInput::rightArrow) {
            moveCaret(wordEndAfter(caret_), shift);
            return true;
        }
        if (key.input == KeyInput::backspace && !shift) {
            if (anchor_ != caret_) replace(selectedRange(), "");
            else if (caret_ > 0) replace({wordStartBefore(caret_), caret_ - wordStartBefore(caret_)}, "");
            return true;
        }
        if (key.input == KeyInput::deleteForward && !shift) {
            if (anchor_ != caret_) replace(selectedRange(), "");
            else if (caret_ < text_.size()) replace({caret_, wordEndAfter(caret_) - caret_}, "");
            return true;
        }
        if (key.input == KeyInput::home || key.input == KeyInput::end) {
            moveCaret(key.input == KeyInput::home ? 0 : text_.size(), shift);
            return true;
        }
        return false;
    }
    if (mods & (KeyModifierCommand | KeyModifierAlternate)) return false;
    if (key.input == KeyInput::backspace) {
        deleteBackward();
        return true;
    }
    if (key.input == KeyInput::deleteForward) {
        if (anchor_ != caret_) replace(selectedRange(), "");
        else if (caret_ < text_.size()) replace({caret_, nextBoundary(text_, caret_) - caret_}, "");
        return true;
    }
    if (key.input == KeyInput::leftArrow) {
        // Without shift a selection collapses to its start.
        if (!shift && anchor_ != caret_) moveCaret(selectedRange().location, false);
        else moveCaret(prevBoundary(text_, caret_), shift);
        return true;
    }
    if (key.input == KeyInput::rightArrow) {
        if (!shift && anchor_ != caret_) moveCaret(selectedRange().location + selectedRange().length, false);
        else moveCaret(nextBoundary(text_, caret_), shift);
        return true;
    }
    if (key.input == KeyInput::home) {
        moveCaret(0, shift);
        return true;
    }
    if (key.input == KeyInput::end) {
        moveCaret(text_.size(), shift);
        return true;
    }
    if (isTyping(key)) {
        insertText(key.input);
        return true;
    }
    return false;
}

}  // namespace ui
