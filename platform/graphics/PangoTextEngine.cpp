#include "platform/graphics/PangoTextEngine.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <pango/pangocairo.h>

namespace gfx {

namespace {

constexpr const char* kFallbacks = "Noto Sans CJK JP, Noto Sans CJK SC, Noto Sans CJK KR";

PangoFontDescription* describe(const Font& font) {
    std::string family = font.family.empty() ? std::string("DejaVu Sans") : font.family;
    family += ", ";
    family += kFallbacks;
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, family.c_str());
    pango_font_description_set_absolute_size(d, font.size * PANGO_SCALE);
    PangoWeight w = PANGO_WEIGHT_NORMAL;
    switch (font.weight) {
    case Font::Weight::Regular: w = PANGO_WEIGHT_NORMAL; break;
    case Font::Weight::Medium: w = PANGO_WEIGHT_MEDIUM; break;
    case Font::Weight::Semibold: w = PANGO_WEIGHT_SEMIBOLD; break;
    case Font::Weight::Bold: w = PANGO_WEIGHT_BOLD; break;
    }
    pango_font_description_set_weight(d, w);
    pango_font_description_set_style(d, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

// A layout configured for the options; `lines` receives how many lines show.
struct Layout {
    PangoLayout* layout = nullptr;
    int shownLines = 0;
    bool manualAlign = false;  // no width given to pango: alignment is ours
    ~Layout() {
        if (layout) g_object_unref(layout);
    }
};

void configureContext(cairo_t* cr, PangoContext* ctx) {
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(ctx, fo);
    cairo_font_options_destroy(fo);
    (void)cr;
#if PANGO_VERSION_CHECK(1, 44, 0)
    pango_context_set_round_glyph_positions(ctx, FALSE);
#endif
}

void build(Layout& out, cairo_t* cr, const std::string& text, const Font& font, double maxWidth,
           const TextOptions& o) {
    out.layout = pango_cairo_create_layout(cr);
    configureContext(cr, pango_layout_get_context(out.layout));
    pango_layout_context_changed(out.layout);
    PangoFontDescription* d = describe(font);
    pango_layout_set_font_description(out.layout, d);
    pango_font_description_free(d);
    pango_layout_set_text(out.layout, text.c_str(), int(text.size()));

    const bool truncating = o.lineBreak == LineBreakMode::TruncateHead ||
                            o.lineBreak == LineBreakMode::TruncateTail ||
                            o.lineBreak == LineBreakMode::TruncateMiddle;
    const bool singleClip = o.lineBreak == LineBreakMode::Clip && o.numberOfLines == 1;
    if (maxWidth > 0 && !singleClip) {
        pango_layout_set_width(out.layout, int(maxWidth * PANGO_SCALE));
        pango_layout_set_wrap(out.layout, o.lineBreak == LineBreakMode::CharWrap ? PANGO_WRAP_CHAR
                                                                                 : PANGO_WRAP_WORD_CHAR);
        if (truncating && o.numberOfLines > 0) {
            PangoEllipsizeMode m = o.lineBreak == LineBreakMode::TruncateHead
                                       ? PANGO_ELLIPSIZE_START
                                       : o.lineBreak == LineBreakMode::TruncateMiddle
                                             ? PANGO_ELLIPSIZE_MIDDLE
                                             : PANGO_ELLIPSIZE_END;
            pango_layout_set_ellipsize(out.layout, m);
            pango_layout_set_height(out.layout, -o.numberOfLines);
        }
        switch (o.alignment) {
        case TextAlignment::Left: pango_layout_set_alignment(out.layout, PANGO_ALIGN_LEFT); break;
        case TextAlignment::Center: pango_layout_set_alignment(out.layout, PANGO_ALIGN_CENTER); break;
        case TextAlignment::Right: pango_layout_set_alignment(out.layout, PANGO_ALIGN_RIGHT); break;
        }
    } else {
        pango_layout_set_width(out.layout, -1);
        out.manualAlign = true;
    }
    int count = pango_layout_get_line_count(out.layout);
    out.shownLines = o.numberOfLines > 0 ? std::min(count, o.numberOfLines) : count;
}

// Width and height of the first `lines` lines, in points.
Size extentOf(PangoLayout* layout, int lines) {
    if (lines <= 0) return {};
    PangoLayoutIter* it = pango_layout_get_iter(layout);
    double width = 0, bottom = 0;
    int i = 0;
    do {
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(it, nullptr, &logical);
        PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
        PangoRectangle lr;
        pango_layout_line_get_extents(line, nullptr, &lr);
        width = std::max(width, double(lr.width) / PANGO_SCALE);
        bottom = double(logical.y + logical.height) / PANGO_SCALE;
        ++i;
    } while (i < lines && pango_layout_iter_next_line(it));
    pango_layout_iter_free(it);
    return {width, bottom};
}

// One per thread, gone with it (a page is laid out on a thread of its own).
cairo_t* measuringContext() {
    struct Context {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        cairo_t* cr = cairo_create(surface);
        ~Context() {
            cairo_destroy(cr);
            cairo_surface_destroy(surface);
        }
    };
    thread_local Context context;
    return context.cr;
}

}  // namespace

FontMetrics PangoTextEngine::metrics(const Font& font) {
    Layout l;
    build(l, measuringContext(), "Xg", font, 0, TextOptions{});
    PangoRectangle logical;
    pango_layout_get_extents(l.layout, nullptr, &logical);
    FontMetrics m;
    m.lineHeight = double(logical.height) / PANGO_SCALE;
    m.ascender = double(pango_layout_get_baseline(l.layout)) / PANGO_SCALE;
    m.descender = m.lineHeight - m.ascender;
    return m;
}

Size PangoTextEngine::measure(const std::string& text, const Font& font, double maxWidth,
                              const TextOptions& options) {
    if (text.empty()) return {};
    Layout l;
    build(l, measuringContext(), text, font, maxWidth, options);
    Size s = extentOf(l.layout, l.shownLines);
    if (maxWidth > 0 && options.lineBreak != LineBreakMode::Clip) s.width = std::min(s.width, maxWidth);
    return {std::ceil(s.width * 1000) / 1000, std::ceil(s.height * 1000) / 1000};
}

void PangoTextEngine::draw(cairo_t* cr, const std::string& text, const Font& font, const Rect& rect,
                           const Rgba& color, const TextOptions& options) {
    if (text.empty()) return;
    Layout l;
    build(l, cr, text, font, rect.width(), options);
    Size s = extentOf(l.layout, l.shownLines);
    cairo_save(cr);
    double x = rect.x();
    if (l.manualAlign && rect.width() > 0) {
        if (options.alignment == TextAlignment::Center) x += (rect.width() - s.width) / 2;
        if (options.alignment == TextAlignment::Right) x += rect.width() - s.width;
    }
    int count = pango_layout_get_line_count(l.layout);
    bool clipLines = l.shownLines < count;
    bool clipWidth = options.lineBreak == LineBreakMode::Clip && rect.width() > 0;
    if (clipLines || clipWidth) {
        cairo_rectangle(cr, clipWidth ? rect.x() : x - 1e4, rect.y(),
                        clipWidth ? rect.width() : 2e4 + s.width, clipLines ? s.height : 1e5);
        cairo_clip(cr);
    }
    cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
    cairo_move_to(cr, x, rect.y());
    pango_cairo_update_layout(cr, l.layout);
    pango_cairo_show_layout(cr, l.layout);
    cairo_restore(cr);
}

}  // namespace gfx
