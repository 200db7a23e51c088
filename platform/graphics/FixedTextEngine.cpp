#include "platform/graphics/FixedTextEngine.h"

#include "platform/core/Unicode.h"

#include <algorithm>
#include <cairo.h>

namespace gfx {

namespace {

const char32_t kEllipsis = 0x2026;

std::u32string decode(const std::string& s) {
    std::u32string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool bad = false;
        for (int k = 1; k <= extra; ++k) {
            if (i + size_t(k) >= s.size()) {
                bad = true;
                break;
            }
            unsigned char cc = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((cc & 0xC0) != 0x80) {
                bad = true;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (bad) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return out;
}

std::string encode(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) sys::Unicode::appendUtf8(out, c);
    return out;
}

bool isWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) || c >= 0x20000;
}

double widthOf(const std::u32string& s, double size) {
    double w = 0;
    for (char32_t c : s) w += FixedTextEngine::advance(c, size);
    return w;
}

std::u32string trimRight(std::u32string s) {
    while (!s.empty() && s.back() == U' ') s.pop_back();
    return s;
}

// Breaks one paragraph into lines no wider than maxWidth (at least one
// character per line).
std::vector<std::u32string> wrap(const std::u32string& para, double size, double maxWidth, bool words) {
    std::vector<std::u32string> lines;
    std::u32string cur;
    double curW = 0;
    size_t lastBreak = std::u32string::npos;  // index in cur after which a break may fall
    for (char32_t c : para) {
        double a = FixedTextEngine::advance(c, size);
        if (c == U' ') {
            cur.push_back(c);
            curW += a;
            lastBreak = cur.size();
            continue;
        }
        if (!cur.empty() && curW + a > maxWidth + 1e-9) {
            if (words && lastBreak != std::u32string::npos && lastBreak > 0) {
                std::u32string head = cur.substr(0, lastBreak);
                std::u32string tail = cur.substr(lastBreak);
                lines.push_back(trimRight(head));
                size_t k = 0;
                while (k < tail.size() && tail[k] == U' ') ++k;
                cur = tail.substr(k);
            } else {
                lines.push_back(trimRight(cur));
                cur.clear();
            }
            curW = widthOf(cur, size);
            lastBreak = std::u32string::npos;
            if (!cur.empty() && curW + a > maxWidth + 1e-9) {
                lines.push_back(trimRight(cur));
                cur.clear();
                curW = 0;
            }
        }
        // Wide characters may break before and after themselves.
        if (words && isWide(c) && !cur.empty()) lastBreak = cur.size();
        cur.push_back(c);
        curW += a;
        if (words && isWide(c)) lastBreak = cur.size();
        if (!words) lastBreak = cur.size();
    }
    lines.push_back(trimRight(cur));
    return lines;
}

std::u32string truncateTail(const std::u32string& s, double size, double maxWidth) {
    double ell = FixedTextEngine::advance(kEllipsis, size);
    std::u32string out;
    double w = 0;
    for (char32_t c : s) {
        double a = FixedTextEngine::advance(c, size);
        if (w + a + ell > maxWidth + 1e-9) break;
        out.push_back(c);
        w += a;
    }
    out = trimRight(out);
    out.push_back(kEllipsis);
    return out;
}

std::u32string truncateHead(const std::u32string& s, double size, double maxWidth) {
    double ell = FixedTextEngine::advance(kEllipsis, size);
    std::u32string tail;
    double w = 0;
    for (size_t i = s.size(); i-- > 0;) {
        double a = FixedTextEngine::advance(s[i], size);
        if (w + a + ell > maxWidth + 1e-9) break;
        tail.insert(tail.begin(), s[i]);
        w += a;
    }
    size_t k = 0;
    while (k < tail.size() && tail[k] == U' ') ++k;
    return std::u32string(1, kEllipsis) + tail.substr(k);
}

std::u32string truncateMiddle(const std::u32string& s, double size, double maxWidth) {
    double ell = FixedTextEngine::advance(kEllipsis, size);
    double avail = maxWidth - ell;
    // The start keeps the larger half, as the eye reads from there.
    std::u32string head, tail;
    double hw = 0, tw = 0;
    size_t i = 0, j = s.size();
    bool turnHead = true;
    while (i < j) {
        if (turnHead) {
            double a = FixedTextEngine::advance(s[i], size);
            if (hw + tw + a > avail + 1e-9) break;
            head.push_back(s[i++]);
            hw += a;
        } else {
            double a = FixedTextEngine::advance(s[j - 1], size);
            if (hw + tw + a > avail + 1e-9) break;
            tail.insert(tail.begin(), s[--j]);
            tw += a;
        }
        turnHead = !turnHead;
    }
    return head + kEllipsis + tail;
}

}  // namespace

double FixedTextEngine::advance(char32_t c, double size) {
    if (c == U'\n') return 0;
    return isWide(c) ? size : size * 0.5;
}

double FixedTextEngine::width(const std::string& text, double size) { return widthOf(decode(text), size); }

std::vector<FixedTextEngine::Line> FixedTextEngine::layout(const std::string& text, const Font& font,
                                                           double maxWidth, const TextOptions& o) {
    const double size = font.size;
    std::vector<std::u32string> paras;
    {
        std::u32string all = decode(text);
        std::u32string cur;
        for (char32_t c : all) {
            if (c == U'\n') {
                paras.push_back(cur);
                cur.clear();
            } else {
                cur.push_back(c);
            }
        }
        paras.push_back(cur);
    }
    const bool truncating = o.lineBreak == LineBreakMode::TruncateHead ||
                            o.lineBreak == LineBreakMode::TruncateTail ||
                            o.lineBreak == LineBreakMode::TruncateMiddle;
    const bool wraps = maxWidth > 0 && (o.numberOfLines != 1 || o.lineBreak == LineBreakMode::WordWrap ||
                                        o.lineBreak == LineBreakMode::CharWrap);
    // Every line with the text that follows it on the same paragraph, so the
    // last shown line can be re-cut with its remainder.
    std::vector<std::u32string> lines;
    std::vector<std::u32string> rest;
    for (const auto& p : paras) {
        if (!wraps) {
            lines.push_back(p);
            rest.push_back(p);
            continue;
        }
        auto ls = wrap(p, size, maxWidth, o.lineBreak != LineBreakMode::CharWrap);
        size_t consumed = 0;
        for (auto& l : ls) {
            size_t at = p.find(l, consumed);
            if (at == std::u32string::npos) at = consumed;
            rest.push_back(p.substr(at));
            consumed = at + l.size();
            lines.push_back(l);
        }
    }
    bool cut = false;
    if (o.numberOfLines > 0 && lines.size() > size_t(o.numberOfLines)) {
        lines.resize(size_t(o.numberOfLines));
        rest.resize(size_t(o.numberOfLines));
        cut = true;
    }
    if (truncating && maxWidth > 0 && !lines.empty()) {
        std::u32string& last = lines.back();
        std::u32string whole = rest.back();
        bool overflow = widthOf(whole, size) > maxWidth + 1e-9;
        if (overflow || cut) {
            if (o.lineBreak == LineBreakMode::TruncateHead) {
                last = truncateHead(whole, size, maxWidth);
            } else if (o.lineBreak == LineBreakMode::TruncateMiddle) {
                last = truncateMiddle(whole, size, maxWidth);
            } else if (!overflow &&
                       widthOf(whole, size) + advance(kEllipsis, size) <= maxWidth + 1e-9) {
                // Fits, but lines below were dropped: mark the loss at the end.
                last = trimRight(whole) + kEllipsis;
            } else {
                last = truncateTail(whole, size, maxWidth);
            }
        }
    }
    std::vector<Line> out;
    for (auto& l : lines) out.push_back({encode(l), widthOf(l, size)});
    return out;
}

FontMetrics FixedTextEngine::metrics(const Font& font) {
    return {font.size, font.size * 0.25, font.size * 1.25};
}

Size FixedTextEngine::measure(const std::string& text, const Font& font, double maxWidth,
                              const TextOptions& options) {
    if (text.empty()) return {};
    auto lines = layout(text, font, maxWidth, options);
    double w = 0;
    for (auto& l : lines) w = std::max(w, l.width);
    if (maxWidth > 0 && options.lineBreak != LineBreakMode::Clip) w = std::min(w, maxWidth);
    return {w, double(lines.size()) * font.size * 1.25};
}

void FixedTextEngine::draw(cairo_t* cr, const std::string& text, const Font& font, const Rect& rect,
                           const Rgba& color, const TextOptions& options) {
    if (text.empty()) return;
    auto lines = layout(text, font, rect.width(), options);
    const double size = font.size;
    cairo_save(cr);
    if (options.lineBreak == LineBreakMode::Clip && rect.width() > 0) {
        cairo_rectangle(cr, rect.x(), rect.y(), rect.width(), 1e5);
        cairo_clip(cr);
    }
    cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
    double y = rect.y();
    for (auto& l : lines) {
        double x = rect.x();
        if (rect.width() > 0) {
            if (options.alignment == TextAlignment::Center) x += (rect.width() - l.width) / 2;
            if (options.alignment == TextAlignment::Right) x += rect.width() - l.width;
        }
        for (char32_t c : decode(l.text)) {
            double a = advance(c, size);
            if (c != U' ') cairo_rectangle(cr, x + a * 0.1, y + size * 0.25, a * 0.8, size * 0.75);
            x += a;
        }
        cairo_fill(cr);
        y += size * 1.25;
    }
    cairo_restore(cr);
}

}  // namespace gfx
