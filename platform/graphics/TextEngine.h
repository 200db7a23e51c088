#pragma once

#include "platform/graphics/Font.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Rgba.h"

#include <memory>
#include <string>

typedef struct _cairo cairo_t;

namespace gfx {

enum class TextAlignment { Left, Center, Right };

// How text that does not fit is treated: wrapped at words or characters,
// clipped, or cut with an ellipsis at the start, middle or end of the last line.
enum class LineBreakMode { WordWrap, CharWrap, Clip, TruncateHead, TruncateTail, TruncateMiddle };

struct TextOptions {
    TextAlignment alignment = TextAlignment::Left;
    LineBreakMode lineBreak = LineBreakMode::TruncateTail;
    int numberOfLines = 1;  // 0: as many as the text needs
};

struct FontMetrics {
    double ascender = 0;
    double descender = 0;
    double lineHeight = 0;
};

// Lays out, measures and draws text. Two engines exist: pango with the real
// fonts, and a fixed-metrics engine whose every glyph has a known width, so
// that layout tests can state exact sizes. One engine is current at a time.
class TextEngine {
public:
    virtual ~TextEngine() = default;

    virtual FontMetrics metrics(const Font& font) = 0;
    // The size the text takes when laid out no wider than maxWidth (<= 0:
    // unbounded) under the options' line limit and break mode.
    virtual Size measure(const std::string& text, const Font& font, double maxWidth,
                         const TextOptions& options) = 0;
    // Draws the text from the top of `rect`, aligned within its width, with
    // the same layout that measure() gives for rect's width.
    virtual void draw(cairo_t* cr, const std::string& text, const Font& font, const Rect& rect,
                      const Rgba& color, const TextOptions& options) = 0;

    // The engine in use (pango unless a test chose another).
    static TextEngine& current();
    // nullptr goes back to pango.
    static void setCurrent(std::shared_ptr<TextEngine> engine);

    // Makes an engine current for the lifetime of the object.
    class Scope {
    public:
        explicit Scope(std::shared_ptr<TextEngine> engine);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        std::shared_ptr<TextEngine> previous_;
    };
};

}  // namespace gfx
