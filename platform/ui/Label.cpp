#include "platform/ui/Label.h"

#include <algorithm>
#include <cmath>

namespace ui {

Label::Label() { setUserInteractionEnabled(false); }

Label::Label(const Rect& frame) : View(frame) { setUserInteractionEnabled(false); }

void Label::setText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    setNeedsDisplay();
}

void Label::setFont(const gfx::Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void Label::setTextColor(const Color& c) {
    textColor_ = c;
    setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment a) {
    alignment_ = a;
    setNeedsDisplay();
}

void Label::setNumberOfLines(int n) {
    lines_ = std::max(0, n);
    setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode m) {
    breakMode_ = m;
    setNeedsDisplay();
}

void Label::setEnabled(bool e) {
    enabled_ = e;
    setNeedsDisplay();
}

void Label::setAdjustsFontSizeToFitWidth(bool on) {
    adjustsFontSize_ = on;
    setNeedsDisplay();
}

void Label::setMinimumScaleFactor(double scale) {
    minimumScale_ = std::clamp(scale, 0.0, 1.0);
    setNeedsDisplay();
}

gfx::Font Label::drawnFont() const {
    const double width = bounds().width();
    if (!adjustsFontSize_ || lines_ != 1 || text_.empty() || width <= 0) return font_;
    gfx::TextOptions o;
    o.numberOfLines = 1;
    const double needed = gfx::Canvas::measureText(text_, font_, 0, o).width;
    if (needed <= width) return font_;
    // A little below the exact ratio: text widths do not scale quite linearly.
    const double scale = std::max(minimumScale_, width / needed * 0.98);
    return font_.withSize(font_.size * scale);
}

gfx::TextOptions Label::optionsFor(double height) const {
    gfx::TextOptions o;
    o.alignment = alignment_;
    o.lineBreak = breakMode_;
    o.numberOfLines = lines_;
    if (height > 0) {
        // No more lines than the height can show.
        double lh = font_.lineHeight();
        int fit = lh > 0 ? std::max(1, int(std::floor(height / lh + 1e-6))) : 1;
        o.numberOfLines = lines_ == 0 ? fit : std::min(lines_, fit);
    }
    return o;
}

Size Label::sizeThatFits(Size size) const {
    if (text_.empty()) return {0, 0};
    gfx::TextOptions o = optionsFor(0);
    double width = lines_ == 1 ? 0 : size.width;
    Size s = gfx::Canvas::measureText(text_, font_, width, o);
    return {std::ceil(s.width - 1e-9), std::ceil(s.height - 1e-9)};
}

Rect Label::textRect() const {
    Rect b = bounds();
    gfx::TextOptions o = optionsFor(b.height());
    Size s = gfx::Canvas::measureText(text_, drawnFont(), b.width(), o);
    double h = std::min(s.height, std::max(b.height(), s.height));
    return Rect(b.x(), b.y() + (b.height() - h) / 2, b.width(), h);
}

void Label::setShadowColor(std::optional<Color> c) {
    shadowColor_ = c;
    setNeedsDisplay();
}

void Label::setShadowOffset(Size offset) {
    shadowOffset_ = offset;
    setNeedsDisplay();
}

void Label::draw(gfx::Canvas& canvas, const Rect&) {
    if (text_.empty()) return;
    gfx::TextOptions o = optionsFor(bounds().height());
    gfx::Rgba c = resolve(enabled_ ? textColor_ : Color::tertiaryLabel());
    const gfx::Font font = drawnFont();
    const Rect r = textRect();
    if (shadowColor_) {
        Rect shadow = r;
        shadow.origin.x += shadowOffset_.width;
        shadow.origin.y += shadowOffset_.height;
        canvas.drawText(text_, font, shadow, resolve(*shadowColor_), o);
    }
    canvas.drawText(text_, font, r, c, o);
}

}  // namespace ui
