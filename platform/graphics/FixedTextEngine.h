#pragma once

#include "platform/graphics/TextEngine.h"

#include <string>
#include <vector>

namespace gfx {

// Text with made-up, exactly known metrics, for layout tests. Every glyph
// advances half the font size (CJK and other wide characters a whole size),
// lines are 1.25 sizes apart with the baseline one size below the line's
// top, and a glyph is drawn as a solid box, so a test can find each one.
class FixedTextEngine : public TextEngine {
public:
    struct Line {
        std::string text;
        double width = 0;
    };

    static double advance(char32_t c, double size);
    static double width(const std::string& text, double size);

    // The lines the text breaks into for the options (the same for measure and draw).
    static std::vector<Line> layout(const std::string& text, const Font& font, double maxWidth,
                                    const TextOptions& options);

    FontMetrics metrics(const Font& font) override;
    Size measure(const std::string& text, const Font& font, double maxWidth,
                 const TextOptions& options) override;
    void draw(cairo_t* cr, const std::string& text, const Font& font, const Rect& rect,
              const Rgba& color, const TextOptions& options) override;
};

}  // namespace gfx
