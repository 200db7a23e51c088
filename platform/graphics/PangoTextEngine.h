#pragma once

#include "platform/graphics/TextEngine.h"

namespace gfx {

// Text with the real fonts through pango. Metrics are taken without hinting
// so that a layout measured in points draws the same at every screen scale.
class PangoTextEngine : public TextEngine {
public:
    FontMetrics metrics(const Font& font) override;
    Size measure(const std::string& text, const Font& font, double maxWidth,
                 const TextOptions& options) override;
    void draw(cairo_t* cr, const std::string& text, const Font& font, const Rect& rect,
              const Rgba& color, const TextOptions& options) override;
};

}  // namespace gfx
