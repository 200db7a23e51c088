#include "platform/ui/WebDocumentContainer.h"

#include "platform/core/Unicode.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/Path.h"
#include "platform/ui/WebPageBounds.h"
#include "platform/ui/WebURL.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <sys/stat.h>

namespace ui {

namespace {

// The styles every page starts from: block structure, headings, lists,
// tables, links and the hidden parts of a document. Nested lists are told by
// their parents, not by any list around them: a rule that looks through all
// ancestors is tried against every element, however deep.
const char* kDefaultStyleSheet = R"css(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset, h1, h2, h3, h4, h5, h6,
noframes, ol, p, ul, center, dir, hr, menu, pre, section, article, header, footer, nav, aside, main,
figure, figcaption, details, summary { display: block; }
head, script, style, title, meta, link, base, template, noscript, area, datalist, param { display: none; }
html { color: black; }
body { margin: 8px; }
p, blockquote, dl, figure, pre, ul, ol, menu, dir { margin-top: 1em; margin-bottom: 1em; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
h1 { font-size: 2em; margin-top: 0.67em; margin-bottom: 0.67em; font-weight: bold; }
h2 { font-size: 1.5em; margin-top: 0.83em; margin-bottom: 0.83em; font-weight: bold; }
h3 { font-size: 1.17em; margin-top: 1em; margin-bottom: 1em; font-weight: bold; }
h4 { margin-top: 1.33em; margin-bottom: 1.33em; font-weight: bold; }
h5 { font-size: 0.83em; margin-top: 1.67em; margin-bottom: 1.67em; font-weight: bold; }
h6 { font-size: 0.67em; margin-top: 2.33em; margin-bottom: 2.33em; font-weight: bold; }
ul, ol, menu, dir { padding-left: 40px; }
ul, menu, dir { list-style-type: disc; }
ol { list-style-type: decimal; }
li > ul, li > ol, ul > ul, ul > ol, ol > ul, ol > ol { margin-top: 0; margin-bottom: 0; }
ul > li > ul, ol > li > ul, ul > ul, ol > ul { list-style-type: circle; }
ul > li > ul > li > ul, ul > li > ol > li > ul, ol > li > ul > li > ul, ol > li > ol > li > ul { list-style-type: square; }
li { display: list-item; }
dd { margin-left: 40px; }
b, strong, th { font-weight: bold; }
i, em, cite, var, dfn, address { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
pre, code, kbd, samp, tt { font-family: monospace; }
pre { white-space: pre; }
small { font-size: smaller; }
big { font-size: larger; }
sub { vertical-align: sub; font-size: smaller; }
sup { vertical-align: super; font-size: smaller; }
center { text-align: center; }
a:link, a:visited { color: #0000ee; text-decoration: underline; cursor: pointer; }
hr { border-style: inset; border-width: 1px; border-color: #a0a0a0; margin-top: 0.5em; margin-bottom: 0.5em; height: 0; }
table { display: table; border-collapse: separate; border-spacing: 2px; text-indent: 0; }
thead { display: table-header-group; vertical-align: middle; }
tbody { display: table-row-group; vertical-align: middle; }
tfoot { display: table-footer-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { text-align: center; }
caption { display: table-caption; text-align: center; }
img { display: inline-block; }
input, button, select, textarea { display: inline-block; }
)css";

gfx::Rgba rgba(const litehtml::web_color& c) {
    return gfx::Rgba::rgb(c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

gfx::Rect rect(const litehtml::position& p) { return gfx::Rect(p.x, p.y, p.width, p.height); }

std::string trim(std::string s) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c) && c != '"' && c != '\''; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

// A font family list ("Georgia, serif") in terms of our installed fonts.
std::string familyFor(const std::string& faceNames) {
    size_t start = 0;
    while (start <= faceNames.size()) {
        size_t end = faceNames.find(',', start);
        if (end == std::string::npos) end = faceNames.size();
        std::string name = sys::Unicode::lowercase(trim(faceNames.substr(start, end - start)));
        if (name == "monospace" || name.find("mono") != std::string::npos || name.find("courier") != std::string::npos)
            return "DejaVu Sans Mono";
        if (name == "serif" || name.find("times") != std::string::npos || name.find("georgia") != std::string::npos)
            return "DejaVu Serif";
        if (name == "sans-serif" || name.find("helvetica") != std::string::npos ||
            name.find("arial") != std::string::npos || name == "system-ui" || name == "-apple-system")
            return "";
        start = end + 1;
    }
    return "";
}

// The size of the font for a size a page asks for. Each size becomes a font
// the text engine keeps as long as the thread that drew with it (pango
// caches every font it made, some 30 KB each): sizes are kept to a few
// dozen, exact up to 32 px and in steps above, up to 400 px.
int fontSize(int size) {
    size = std::clamp(size, 1, 400);
    if (size <= 32) return size;
    if (size <= 64) return size / 2 * 2;
    if (size <= 128) return (size + 4) / 8 * 8;
    return std::min(400, (size + 16) / 32 * 32);
}

std::string markerText(litehtml::list_style_type type, int index) {
    switch (type) {
    case litehtml::list_style_type_lower_alpha:
    case litehtml::list_style_type_lower_latin:
    case litehtml::list_style_type_upper_alpha:
    case litehtml::list_style_type_upper_latin: {
        std::string s;
        int n = std::max(1, index);
        while (n > 0) {
            --n;
            s.insert(s.begin(), char('a' + n % 26));
            n /= 26;
        }
        if (type == litehtml::list_style_type_upper_alpha || type == litehtml::list_style_type_upper_latin)
            s = sys::Unicode::uppercase(s);
        return s + ".";
    }
    case litehtml::list_style_type_lower_roman:
    case litehtml::list_style_type_upper_roman: {
        static const std::pair<int, const char*> table[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"},
                                                            {100, "c"},  {90, "xc"},  {50, "l"},  {40, "xl"},
                                                            {10, "x"},   {9, "ix"},   {5, "v"},   {4, "iv"},
                                                            {1, "i"}};
        std::string s;
        int n = std::clamp(index, 1, 3999);
        for (auto& [v, r] : table)
            while (n >= v) {
                s += r;
                n -= v;
            }
        if (type == litehtml::list_style_type_upper_roman) s = sys::Unicode::uppercase(s);
        return s + ".";
    }
    default: return std::to_string(index) + ".";
    }
}

}  // namespace

WebDocumentContainer::WebDocumentContainer() = default;
WebDocumentContainer::~WebDocumentContainer() = default;

litehtml::context& WebDocumentContainer::context() {
    static litehtml::context* ctx = [] {
        auto* c = new litehtml::context;
        c->load_master_stylesheet(kDefaultStyleSheet);
        return c;
    }();
    return *ctx;
}

// --- Fonts and text ---

litehtml::uint_ptr WebDocumentContainer::create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                                     litehtml::font_style italic, unsigned int decoration,
                                                     litehtml::font_metrics* fm) {
    auto e = std::make_unique<FontEntry>();
    e->font.family = familyFor(faceName ? faceName : "");
    e->font.size = fontSize(size);
    e->font.weight = weight >= 600 ? gfx::Font::Weight::Bold
                     : weight >= 500 ? gfx::Font::Weight::Medium
                                     : gfx::Font::Weight::Regular;
    e->font.italic = italic == litehtml::fontStyleItalic;
    e->decoration = decoration;
    int ascent = int(std::ceil(e->font.ascender()));
    int descent = int(std::ceil(e->font.descender()));
    e->ascent = ascent;
    if (fm) {
        fm->ascent = ascent;
        fm->descent = descent;
        fm->height = std::max(ascent + descent, int(std::ceil(e->font.lineHeight())));
        fm->x_height = int(std::round(ascent * 0.53));
        fm->draw_spaces = e->font.italic || decoration != 0;
    }
    fonts_.push_back(std::move(e));
    return litehtml::uint_ptr(fonts_.size());
}

void WebDocumentContainer::delete_font(litehtml::uint_ptr) {
    // Fonts are small and live as long as the document.
}

int WebDocumentContainer::text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) {
    if (!text || hFont == 0 || hFont > fonts_.size()) return 0;
    // litehtml measures every word as it styles the page, and again where
    // it is drawn: each text is measured once.
    std::string key = std::to_string(hFont);
    key += '\n';
    key += text;
    auto it = widths_.find(key);
    if (it != widths_.end()) return it->second;
    gfx::TextOptions o;
    o.lineBreak = gfx::LineBreakMode::Clip;
    o.numberOfLines = 1;
    const int w = int(std::ceil(gfx::Canvas::measureText(text, fonts_[hFont - 1]->font, 0, o).width));
    if (widths_.size() >= kMaxMeasuredTexts) widths_.clear();
    widths_.emplace(std::move(key), w);
    return w;
}

void WebDocumentContainer::draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                                     litehtml::web_color color, const litehtml::position& pos) {
    gfx::Canvas* c = canvasOf(hdc);
    if (!c || !text || hFont == 0 || hFont > fonts_.size()) return;
    const FontEntry& f = *fonts_[hFont - 1];
    gfx::TextOptions o;
    o.lineBreak = gfx::LineBreakMode::Clip;
    o.numberOfLines = 1;
    gfx::Rgba ink = rgba(color);
    // (Positions are litehtml's ints, which a page can take near their
    // limits: the arithmetic here is in doubles.)
    c->drawText(text, f.font, gfx::Rect(pos.x, pos.y, std::max(pos.width, text_width(text, hFont)) + 2.0, pos.height),
                ink, o);
    double w = pos.width;
    if (f.decoration & litehtml::font_decoration_underline)
        c->fillRect(gfx::Rect(pos.x, pos.y + f.ascent + 1.5, w, std::max(1.0, f.font.size / 16)), ink);
    if (f.decoration & litehtml::font_decoration_linethrough)
        c->fillRect(gfx::Rect(pos.x, pos.y + f.ascent * 0.65, w, std::max(1.0, f.font.size / 16)), ink);
    if (f.decoration & litehtml::font_decoration_overline)
        c->fillRect(gfx::Rect(pos.x, pos.y, w, std::max(1.0, f.font.size / 16)), ink);
}

int WebDocumentContainer::pt_to_px(int pt) const { return int(std::round(pt * 96.0 / 72.0)); }

void WebDocumentContainer::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    switch (tt) {
    case litehtml::text_transform_uppercase: text = sys::Unicode::uppercase(text); break;
    case litehtml::text_transform_lowercase: text = sys::Unicode::lowercase(text); break;
    case litehtml::text_transform_capitalize:
        if (!text.empty() && static_cast<unsigned char>(text[0]) < 0x80)
            text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
        break;
    default: break;
    }
}

// --- Markers, images, backgrounds, borders ---

void WebDocumentContainer::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) {
    gfx::Canvas* c = canvasOf(hdc);
    if (!c) return;
    gfx::Rgba ink = rgba(marker.color);
    gfx::Rect r = rect(marker.pos);
    if (!marker.image.empty()) {
        if (auto img = imageFor(marker.image, marker.baseurl ? marker.baseurl : baseURL_)) {
            c->drawImage(*img, r);
            return;
        }
    }
    switch (marker.marker_type) {
    case litehtml::list_style_type_none: return;
    case litehtml::list_style_type_disc: c->fillEllipse(r, ink); return;
    case litehtml::list_style_type_circle: {
        gfx::Path p;
        p.addEllipse(gfx::Rect(r.x() + 0.5, r.y() + 0.5, std::max(0.0, r.width() - 1), std::max(0.0, r.height() - 1)));
        c->strokePath(p, ink, 1);
        return;
    }
    case litehtml::list_style_type_square: c->fillRect(r, ink); return;
    default: {
        std::string t = markerText(marker.marker_type, marker.index);
        if (marker.font == 0 || marker.font > fonts_.size()) return;
        const FontEntry& f = *fonts_[marker.font - 1];
        int w = text_width(t.c_str(), marker.font);
        gfx::TextOptions o;
        o.lineBreak = gfx::LineBreakMode::Clip;
        // The number ends a little before the item's text.
        double lineH = f.font.lineHeight();
        double y = r.y() + r.height() / 2 - lineH / 2 - 1;
        c->drawText(t, f.font, gfx::Rect(r.maxX() - w, y, w + 2, lineH), ink, o);
        return;
    }
    }
}

std::string WebDocumentContainer::readLocal(const std::string& url, size_t limit) const {
    if (!localFilesAllowed_) return "";
    std::string path = WebURL::toPath(url);
    if (path.empty()) return "";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > limit) return "";
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

gfx::ImageRef WebDocumentContainer::imageFor(const std::string& src, const std::string& base) {
    std::string url = WebURL::resolve(base.empty() ? baseURL_ : base, src);
    auto it = images_.find(url);
    if (it != images_.end()) return it->second;
    if (images_.size() >= kMaxImages) return nullptr;
    gfx::ImageRef img;
    std::string path = localFilesAllowed_ ? WebURL::toPath(url) : std::string();
    if (!path.empty()) img = gfx::ImageDecoder::decodeFile(path);
    images_[url] = img;  // a missing image is not looked for again
    return img;
}

void WebDocumentContainer::load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool) {
    if (src) imageFor(src, baseurl ? baseurl : "");
}

void WebDocumentContainer::get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl,
                                          litehtml::size& sz) {
    gfx::ImageRef img = src ? imageFor(src, baseurl ? baseurl : "") : nullptr;
    sz.width = img ? int(std::round(img->pointWidth())) : 0;
    sz.height = img ? int(std::round(img->pointHeight())) : 0;
}

void WebDocumentContainer::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    gfx::Canvas* c = canvasOf(hdc);
    if (!c) return;
    c->save();
    gfx::Rect clip = rect(bg.clip_box);
    double radius = bg.border_radius.top_left_x;
    if (radius > 0)
        c->clipRoundedRect(rect(bg.border_box), radius);
    c->clipRect(clip);
    if (bg.color.alpha > 0) c->fillRect(clip, rgba(bg.color));
    if (!bg.image.empty()) {
        gfx::ImageRef img = imageFor(bg.image, bg.baseurl);
        if (img && bg.image_size.width > 0 && bg.image_size.height > 0) {
            double w = bg.image_size.width, h = bg.image_size.height;
            double x0 = bg.position_x, y0 = bg.position_y;
            bool rx = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_x;
            bool ry = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_y;
            if (rx)
                while (x0 > clip.x()) x0 -= w;
            if (ry)
                while (y0 > clip.y()) y0 -= h;
            // Tiles are bounded by the clip (and a sane count).
            int drawn = 0;
            for (double y = y0; y < clip.maxY() && drawn < 10000; y += h) {
                for (double x = x0; x < clip.maxX() && drawn < 10000; x += w) {
                    c->drawImage(*img, gfx::Rect(x, y, w, h));
                    ++drawn;
                    if (!rx) break;
                }
                if (!ry) break;
            }
        }
    }
    c->restore();
}

void WebDocumentContainer::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& b,
                                        const litehtml::position& p, bool) {
    gfx::Canvas* c = canvasOf(hdc);
    if (!c) return;
    auto shown = [](const litehtml::border& e) {
        return e.width > 0 && e.style != litehtml::border_style_none && e.style != litehtml::border_style_hidden;
    };
    auto same = [](const litehtml::web_color& x, const litehtml::web_color& y) {
        return x.red == y.red && x.green == y.green && x.blue == y.blue && x.alpha == y.alpha;
    };
    bool uniform = shown(b.top) && b.top.width == b.left.width && b.top.width == b.right.width &&
                   b.top.width == b.bottom.width && same(b.top.color, b.left.color) &&
                   same(b.top.color, b.right.color) && same(b.top.color, b.bottom.color);
    if (uniform && b.radius.top_left_x > 0) {
        c->strokeRoundedRectInside(rect(p), b.radius.top_left_x, rgba(b.top.color), b.top.width);
        return;
    }
    if (shown(b.top)) c->fillRect(gfx::Rect(p.x, p.y, p.width, b.top.width), rgba(b.top.color));
    if (shown(b.bottom))
        c->fillRect(gfx::Rect(p.x, double(p.y) + p.height - b.bottom.width, p.width, b.bottom.width), rgba(b.bottom.color));
    if (shown(b.left)) c->fillRect(gfx::Rect(p.x, p.y, b.left.width, p.height), rgba(b.left.color));
    if (shown(b.right))
        c->fillRect(gfx::Rect(double(p.x) + p.width - b.right.width, p.y, b.right.width, p.height), rgba(b.right.color));
}

// --- Document ---

void WebDocumentContainer::set_caption(const litehtml::tchar_t* caption) { caption_ = caption ? caption : ""; }

void WebDocumentContainer::set_base_url(const litehtml::tchar_t* base_url) {
    if (base_url && *base_url) baseURL_ = WebURL::resolve(baseURL_, base_url);
}

void WebDocumentContainer::link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) {
    const char* rel = el->get_attr("rel");
    const char* href = el->get_attr("href");
    if (!rel || !href || sys::Unicode::lowercase(rel) != "stylesheet") return;
    std::string url = WebURL::resolve(baseURL_, href);
    std::string css = readStyleSheet(url);
    if (!css.empty()) doc->add_stylesheet(css.c_str(), url.c_str(), el->get_attr("media"));
}

void WebDocumentContainer::on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) {
    if (!url || !onAnchorClick) return;
    const char* target = el ? el->get_attr("target") : nullptr;
    onAnchorClick(url, target ? target : "");
}

void WebDocumentContainer::import_css(litehtml::tstring& text, const litehtml::tstring& url,
                                      litehtml::tstring& baseurl) {
    // litehtml hands "@import "x.css"" on with the string's quotes.
    std::string ref = url;
    if (ref.size() >= 2 && (ref.front() == '"' || ref.front() == '\'') && ref.back() == ref.front())
        ref = ref.substr(1, ref.size() - 2);
    std::string resolved = WebURL::resolve(baseurl.empty() ? baseURL_ : baseurl, ref);
    text = readStyleSheet(resolved);
    baseurl = resolved;
}

std::string WebDocumentContainer::readStyleSheet(const std::string& url) {
    if (styleSheets_.size() >= kMaxStyleSheets || !styleSheets_.insert(url).second) return "";
    const std::string text = readLocal(url, kMaxStyleSheetBytes);
    // litehtml takes comments out one at a time, moving the rest of the
    // sheet each time: they are left out here.
    std::string css;
    css.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "/*") == 0) {
            const size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 2;
        } else {
            css += text[i++];
        }
    }
    css.resize(WebPageBounds::styleSheetWithin(css, sheetsLeft_));
    return css;
}

std::shared_ptr<litehtml::element> WebDocumentContainer::create_element(const litehtml::tchar_t* tag,
                                                                      const litehtml::string_map&,
                                                                      const std::shared_ptr<litehtml::document>& doc) {
    return WebLayoutBudget::makeElement(tag, doc, &budget_);
}

void WebDocumentContainer::set_clip(const litehtml::position& pos, const litehtml::border_radiuses& r, bool, bool) {
    if (!canvas_) return;
    canvas_->save();
    ++clipDepth_;
    if (r.top_left_x > 0)
        canvas_->clipRoundedRect(rect(pos), r.top_left_x);
    else
        canvas_->clipRect(rect(pos));
}

void WebDocumentContainer::del_clip() {
    if (!canvas_ || clipDepth_ == 0) return;
    --clipDepth_;
    canvas_->restore();
}

void WebDocumentContainer::get_client_rect(litehtml::position& client) const {
    client = litehtml::position(0, 0, viewportWidth_, viewportHeight_);
}

void WebDocumentContainer::get_media_features(litehtml::media_features& media) const {
    media.type = litehtml::media_type_screen;
    media.width = viewportWidth_;
    media.height = viewportHeight_;
    media.device_width = viewportWidth_;
    media.device_height = viewportHeight_;
    media.color = 8;
    media.monochrome = 0;
    media.color_index = 256;
    media.resolution = 96;
}

void WebDocumentContainer::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    language = language_;
    culture = culture_;
}

void WebDocumentContainer::draw(litehtml::document& doc, gfx::Canvas& canvas, const gfx::Rect& clip) {
    canvas_ = &canvas;
    clipDepth_ = 0;
    canvas.save();
    litehtml::position c(int(std::floor(clip.x())), int(std::floor(clip.y())), int(std::ceil(clip.width())) + 1,
                         int(std::ceil(clip.height())) + 1);
    doc.draw(reinterpret_cast<litehtml::uint_ptr>(&canvas), 0, 0, &c);
    while (clipDepth_ > 0) del_clip();
    canvas.restore();
    canvas_ = nullptr;
}

}  // namespace ui
