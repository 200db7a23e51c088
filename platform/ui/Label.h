#pragma once

#include "platform/graphics/Font.h"
#include "platform/graphics/TextEngine.h"
#include "platform/ui/View.h"

#include <optional>
#include <string>

namespace ui {

using TextAlignment = gfx::TextAlignment;
using LineBreakMode = gfx::LineBreakMode;

// Read-only text: one line or many, wrapped at words or characters, cut
// with an ellipsis at the start, middle or end when it does not fit. The
// text block is centred vertically in the label, as the platform does.
class Label : public View {
public:
    Label();
    explicit Label(const Rect& frame);

    const std::string& text() const { return text_; }
    void setText(const std::string& text);
    const gfx::Font& font() const { return font_; }
    void setFont(const gfx::Font& font);
    Color textColor() const { return textColor_; }
    void setTextColor(const Color& c);
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment a);
    // 0: as many lines as the text needs (and the height allows).
    int numberOfLines() const { return lines_; }
    void setNumberOfLines(int n);
    LineBreakMode lineBreakMode() const { return breakMode_; }
    void setLineBreakMode(LineBreakMode m);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e);
    // A one-line label may draw its text smaller to fit its width, down to
    // minimumScaleFactor of the font's size (then it is truncated).
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
    void setAdjustsFontSizeToFitWidth(bool on);
    double minimumScaleFactor() const { return minimumScale_; }
    void setMinimumScaleFactor(double scale);
    // The font the text is drawn with (smaller than font() when shrunk to fit).
    gfx::Font drawnFont() const;
    // A copy of the text drawn under it in shadowColor, moved by shadowOffset
    // (none by default).
    std::optional<Color> shadowColor() const { return shadowColor_; }
    void setShadowColor(std::optional<Color> c);
    Size shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(Size offset);

    // Single-line labels report their whole width; wrapping ones wrap to
    // the width given (no limit when it is 0).
    Size sizeThatFits(Size size) const override;
    // Where the text is drawn within the bounds.
    Rect textRect() const;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

private:
    gfx::TextOptions optionsFor(double height) const;

    std::string text_;
    gfx::Font font_ = gfx::Font::system(17);
    Color textColor_ = Color::label();
    TextAlignment alignment_ = TextAlignment::Left;
    int lines_ = 1;
    LineBreakMode breakMode_ = LineBreakMode::TruncateTail;
    bool enabled_ = true;
    bool adjustsFontSize_ = false;
    double minimumScale_ = 0;
    std::optional<Color> shadowColor_;
    Size shadowOffset_{0, -1};
};

}  // namespace ui
