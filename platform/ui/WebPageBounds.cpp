#include "platform/ui/WebPageBounds.h"

#include "platform/ui/WebHtmlTokenizer.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace ui {

namespace {

using Token = WebHtmlTokenizer::Token;
using Kind = WebHtmlTokenizer::Kind;

enum Flag : unsigned {
    kVoid = 1u << 0,
    kSpecial = 1u << 1,
    kFormatting = 1u << 2,
    kClosesP = 1u << 3,
    // Bounds "in scope" (applet, caption, html, table, td, th, marquee,
    // object, template); also ends the formatting elements a later end tag
    // (or a new link) may close.
    kScope = 1u << 4,
    kTablePart = 1u << 5,   // tbody, thead, tfoot, tr, td, th, caption, colgroup
    kCell = 1u << 6,        // td, th
    kSection = 1u << 7,     // tbody, thead, tfoot
    kHeading = 1u << 8,
    kLeftOut = 1u << 9,     // not shown: left out with its content
};

const std::unordered_map<std::string_view, unsigned>& tagFlags() {
    static const auto* table = [] {
        auto* m = new std::unordered_map<std::string_view, unsigned>;
        auto add = [&](std::initializer_list<const char*> names, unsigned f) {
            for (const char* n : names) (*m)[n] |= f;
        };
        add({"area", "base", "basefont", "bgsound", "br", "col", "embed", "hr", "img", "input", "keygen", "link",
             "meta", "param", "source", "track", "wbr", "frame"},
            kVoid);
        add({"address", "applet", "area", "article", "aside", "base", "basefont", "bgsound", "blockquote", "body",
             "br", "button", "caption", "center", "col", "colgroup", "dd", "details", "dir", "div", "dl", "dt",
             "embed", "fieldset", "figcaption", "figure", "footer", "form", "frame", "frameset", "h1", "h2", "h3",
             "h4", "h5", "h6", "head", "header", "hgroup", "hr", "html", "iframe", "img", "input", "keygen", "li",
             "link", "listing", "main", "marquee", "menu", "meta", "nav", "noembed", "noframes", "noscript",
             "object", "ol", "p", "param", "plaintext", "pre", "script", "section", "select", "source", "style",
             "summary", "table", "tbody", "td", "template", "textarea", "tfoot", "th", "thead", "title", "tr",
             "track", "ul", "wbr", "xmp"},
            kSpecial);
        add({"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u"},
            kFormatting);
        add({"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl",
             "fieldset", "figcaption", "figure", "footer", "header", "hgroup", "main", "menu", "nav", "ol", "p",
             "section", "summary", "ul", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "listing", "form", "table", "hr",
             "xmp", "plaintext", "dd", "dt", "li"},
            kClosesP);
        add({"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template"}, kScope);
        add({"tbody", "thead", "tfoot", "tr", "td", "th", "caption", "colgroup"}, kTablePart);
        add({"td", "th"}, kCell);
        add({"tbody", "thead", "tfoot"}, kSection);
        add({"h1", "h2", "h3", "h4", "h5", "h6"}, kHeading);
        add({"script", "noscript", "template", "svg", "math", "iframe", "noembed", "noframes"}, kLeftOut);
        return m;
    }();
    return *table;
}

unsigned flagsOf(const std::string& name) {
    const auto& t = tagFlags();
    auto it = t.find(name);
    return it == t.end() ? 0 : it->second;
}

constexpr auto isSpace = WebHtmlTokenizer::isSpace;

// HTML's rules for integers: leading space, a sign, digits; false when none.
bool parseInteger(const std::string& s, long& out) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = std::min(v * 10 + (s[i] - '0'), 1000000000L);
    out = negative ? -v : v;
    return true;
}

// Appends text for an attribute value in double quotes.
void appendValue(std::string& out, const std::string& v) {
    for (char c : v) {
        if (c == '"')
            out += "&quot;";
        else if (c != '\0')
            out += c;
    }
}

// Builds the bounded page; one per call of bound().
class Builder {
public:
    Builder(std::string_view html, const WebPageBounds::Options& o) : tokens_(html), o_(o), limits_(o.limits) {
        out_.reserve(std::min<size_t>(html.size() + html.size() / 4 + 1024, 16u << 20));
    }

    WebPageBounds::Result run() {
        while (!done_) {
            const Token& t = tokens_.next();
            switch (t.kind) {
            case Kind::End: done_ = true; break;
            case Kind::StartTag: startTag(t); break;
            case Kind::EndTag: endTag(t.name); break;
            case Kind::Text: text(t.text); break;
            }
        }
        finish();
        WebPageBounds::Result r;
        r.html = compose();
        r.cut = cut_ || simplified_;
        r.nodes = nodes_;
        r.sheetsLeft = sheetsLeft_;
        return r;
    }

private:
    struct Open {
        std::string name;
        unsigned flags = 0;
        bool emitted = false;
        int table = -1;  // an emitted table's index in tables_
        long nextItem = 1;  // the number of the next list item in it
    };
    struct Table {
        long rows = 0;
        long width = 0;     // of the row being read
        long maxWidth = 0;  // columns, as the layout engine counts them
        bool rowOpen = false;
        // Rows before which taller cells of earlier rows end.
        std::priority_queue<long, std::vector<long>, std::greater<long>> spans;
        long grid() const { return rows * maxWidth; }
    };
    enum class TextMode { Markup, Style, Escaped, Raw };

    // ---- Budgets ----

    // What a node weighs where it is, in sixteenths: its layout is repeated
    // for each table around it, it gives each inline element around it a
    // piece more, and what it inherits is looked up through every element
    // around it.
    long weightHere() const {
        long w = (1 + emittedInline_) * (16 + emittedDepth_);
        for (int i = 0; i < emittedTables_ && w < 16 * limits_.maxLayoutWeight; ++i) w *= 3;
        return w;
    }
    // Counts `nodes` more nodes here; false (and the page is cut) when they pass a bound.
    bool spend(long nodes, bool elements = true) {
        const long weight = weightHere() * nodes;
        if (nodes_ + nodes > limits_.maxNodes || weight_ + weight > 16 * limits_.maxLayoutWeight) {
            cutHere();
            return false;
        }
        nodes_ += nodes;
        weight_ += weight;
        if (elements) elements_ += nodes;
        return true;
    }
    void cutHere() {
        cut_ = true;
        done_ = true;
    }
    // As deep as the parser will nest it: with the rows and sections it
    // makes in tables, html and body, and an element more for each
    // misnested end tag handed on (which can leave one open there).
    int depthOfNewElement() const { return emittedDepth_ + 2 * emittedTables_ + 3 + 1 + misnested_; }

    // ---- The stack of open elements ----

    void push(const Token& t, const std::string& name, unsigned flags, bool emit) {
        Open e;
        e.name = name;
        e.flags = flags;
        e.emitted = emit;
        long start = 1;
        if (const std::string* v = t.attribute("start"))
            if (parseInteger(*v, start)) e.nextItem = std::clamp(start, -limits_.maxListNumber, limits_.maxListNumber);
        if (emit) {
            ++emittedDepth_;
            if (!(flags & kSpecial)) ++emittedInline_;
            writeStartTag(t, name);
            if (name == "table") {
                e.table = int(tables_.size());
                tables_.emplace_back();
                ++emittedTables_;
            }
        }
        stack_.push_back(std::move(e));
    }
    void popOne() {
        Open& e = stack_.back();
        if (e.emitted) {
            out_ += "</";
            out_ += e.name;
            out_ += '>';
            --emittedDepth_;
            if (e.table >= 0) --emittedTables_;
            if (!(e.flags & kSpecial)) --emittedInline_;
        }
        stack_.pop_back();
    }
    // Closes everything from the top down to and including index i.
    void popTo(int i) {
        while (int(stack_.size()) > i) popOne();
    }
    // Takes the element at i off the stack, leaving what is above it open.
    void removeAt(int i) {
        Open& e = stack_[size_t(i)];
        if (e.emitted) {
            --emittedDepth_;
            if (e.table >= 0) --emittedTables_;
            if (!(e.flags & kSpecial)) --emittedInline_;
        }
        stack_.erase(stack_.begin() + i);
    }
    int top() const { return int(stack_.size()) - 1; }
    // The nearest open element named `name`, looking down from the top and
    // stopping at one with `boundary` flags or a name in `boundaryNames`.
    int inScope(std::string_view name, unsigned boundary, std::initializer_list<std::string_view> boundaryNames = {}) const {
        for (int i = top(); i >= 0; --i) {
            const Open& e = stack_[size_t(i)];
            if (e.name == name) return i;
            if (e.flags & boundary) return -1;
            for (auto b : boundaryNames)
                if (e.name == b) return -1;
        }
        return -1;
    }
    int nearestTable() const {
        for (int i = top(); i >= 0; --i)
            if (stack_[size_t(i)].name == "table") return i;
        return -1;
    }
    // The nearest element named `name` above the stack entry `floor`.
    int above(int floor, std::initializer_list<std::string_view> names) const {
        for (int i = top(); i > floor; --i)
            for (auto n : names)
                if (stack_[size_t(i)].name == n) return i;
        return -1;
    }
    void closeP() {
        const int p = inScope("p", kScope, {"button"});
        if (p >= 0) popTo(p);
    }

    // ---- Output ----

    void writeStartTag(const Token& t, const std::string& name) {
        out_ += '<';
        out_ += name;
        for (const auto& a : t.attributes) writeAttribute(name, a.name, a.value);
        if (name == "li") writeListIndex(t);
        out_ += '>';
    }
    // The layout engine numbers a list item by the "list_index" it is
    // given; counting its siblings itself would take as long as the list
    // squared. As HTML numbers them: from the list's start, or the item's
    // own value, on. A start and a value are within maxListNumber, and the
    // items after them no more than the nodes handed on: so is the number.
    void writeListIndex(const Token& t) {
        Open* list = nullptr;
        for (int i = top(); i >= 0 && !list; --i)
            if (stack_[size_t(i)].emitted) list = &stack_[size_t(i)];
        long index = list ? list->nextItem : 1;
        long value = 0;
        if (const std::string* v = t.attribute("value"))
            if (parseInteger(*v, value)) index = std::clamp(value, -limits_.maxListNumber, limits_.maxListNumber);
        if (list) list->nextItem = index + 1;
        out_ += " list_index=\"";
        out_ += std::to_string(index);
        out_ += '"';
    }
    void writeAttribute(const std::string& tag, const std::string& name, const std::string& value) {
        std::string v;
        long n = 0;
        if (name == "colspan" || name == "rowspan" || (name == "span" && (tag == "col" || tag == "colgroup"))) {
            const long cap = name == "rowspan" ? WebPageBounds::kMaxRowspan : WebPageBounds::kMaxColspan;
            n = parseInteger(value, n) ? std::clamp(n, 1L, cap) : 1;
            v = std::to_string(n);
        } else if (name == "start" || name == "value") {
            if (!parseInteger(value, n)) return;
            v = std::to_string(std::clamp(n, -limits_.maxListNumber, limits_.maxListNumber));
        } else if (name == "border" || name == "cellspacing" || name == "cellpadding") {
            if (parseInteger(value, n) && (n < 0 || n > 1000)) {
                v = std::to_string(std::clamp(n, 0L, 1000L));
            } else {
                v = value;
            }
        } else if (name == "list_index") {
            return;  // the program's own (writeListIndex)
        } else if (name == "style") {
            if (!o_.authorStyles) return;
            if (styleAttributeBytes_ + value.size() > limits_.maxStyleAttributeBytes) {
                simplified_ = true;
                return;
            }
            styleAttributeBytes_ += value.size();
            v = value;
        } else if (name == "class") {
            // A few dozen classes are what any style needs; each is tried
            // against every selector.
            size_t count = 0, i = 0;
            while (i < value.size() && count < 32) {
                while (i < value.size() && isSpace(value[i])) ++i;
                size_t j = i;
                while (j < value.size() && !isSpace(value[j])) ++j;
                if (j > i) {
                    if (!v.empty()) v += ' ';
                    v.append(value, i, j - i);
                    ++count;
                }
                i = j;
            }
        } else {
            v = value;
        }
        out_ += ' ';
        out_ += name;
        out_ += "=\"";
        appendValue(out_, v);
        out_ += '"';
    }
    // A void element, or one written whole here.
    bool emitVoid(const Token& t, const std::string& name) {
        if (depthOfNewElement() > limits_.maxDepth) {
            simplified_ = true;
            return false;
        }
        if (!spend(1)) return false;
        writeStartTag(t, name);
        return true;
    }

    // Writes text, counting its words (two nodes each: the word and the
    // space after it) and breaking words that are too long. Stops (and
    // cuts the page) where the budget ends.
    void writeText(std::string_view s, bool escape) {
        size_t i = 0;
        const size_t n = s.size();
        while (i < n && !done_) {
            if (isSpace(s[i])) {
                const size_t j = std::find_if_not(s.begin() + long(i), s.end(), isSpace) - s.begin();
                out_.append(s.data() + i, j - i);
                i = j;
                continue;
            }
            size_t j = i;
            while (j < n && !isSpace(s[j])) ++j;
            // The word, in pieces no longer than maxWordBytes.
            while (i < j) {
                size_t piece = std::min(j - i, limits_.maxWordBytes);
                if (i + piece < j) {
                    // Not inside a character, nor a character reference.
                    size_t k = i + piece;
                    while (k > i + 1 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80) --k;
                    const size_t from = std::max(i + 1, k > 40 ? k - 40 : 0);
                    const size_t amp = s.substr(from, k - from).rfind('&');
                    if (amp != std::string_view::npos &&
                        s.substr(from + amp, k - from - amp).find(';') == std::string_view::npos)
                        k = from + amp;
                    piece = k - i;
                }
                if (textBytes_ + piece > limits_.maxTextBytes) {
                    cutHere();
                    return;
                }
                if (!spend(2, false)) return;
                textBytes_ += piece;
                for (size_t q = i; q < i + piece; ++q) {
                    const char c = s[q];
                    if (c == '\0') continue;
                    if (c == '<' && escape)
                        out_ += "&lt;";
                    else
                        out_ += c;
                }
                i += piece;
                if (i < j) out_ += ' ';
            }
        }
    }

    // ---- Tokens ----

    void startTag(const Token& t) {
        std::string name = t.name == "image" ? std::string("img") : t.name;
        if (leftOut_ > 0) {
            if (name == leftOutName_ && !t.selfClosing) ++leftOut_;
            return;
        }
        if (textMode_ != TextMode::Markup) return;  // (the tokenizer gives text there)
        if (++tags_ > 4 * limits_.maxNodes) {
            cutHere();
            return;
        }
        const unsigned flags = flagsOf(name);
        const bool style = name == "style";
        if ((flags & kLeftOut) || (style && !o_.authorStyles)) {
            if (t.selfClosing && (name == "svg" || name == "math")) return;
            leftOut_ = 1;
            leftOutName_ = name;
            return;
        }
        if (style) {
            if (!spend(1)) return;
            out_ += "<style>";
            styleLast_ = '{';
            styleSpace_ = styleSlash_ = styleComment_ = styleEscape_ = false;
            styleQuote_ = 0;
            textMode_ = TextMode::Style;
            textElement_ = name;
            return;
        }
        if (name == "html" || name == "head" || name == "body") {
            // The parser keeps one of each, whatever the page says.
            bool& seen = name == "html" ? seenHtml_ : name == "head" ? seenHead_ : seenBody_;
            if (!seen) writeStartTag(t, name);
            seen = true;
            return;
        }
        if (name == "link" && !o_.authorStyles) {
            const std::string* rel = t.attribute("rel");
            if (rel && rel->find("stylesheet") != std::string::npos) return;
        }
        if (name == "title" || name == "textarea" || name == "xmp") {
            if (name == "xmp") closeP();
            if (!emitVoid(t, name)) {
                if (!done_) {
                    leftOut_ = 1;
                    leftOutName_ = name;
                }
                return;
            }
            textMode_ = name == "xmp" ? TextMode::Raw : TextMode::Escaped;
            textElement_ = name;
            return;
        }
        if (name == "plaintext") {
            closeP();
            if (emitVoid(t, name)) plaintext_ = true;
            textMode_ = TextMode::Raw;
            return;
        }
        if (flags & kVoid) {
            if (name == "hr") closeP();
            if (name == "col") {
                const int ti = nearestTable();
                if (ti < 0 || !stack_[size_t(ti)].emitted) return;
            }
            emitVoid(t, name);
            return;
        }
        // The end tags the parser implies.
        if (flags & kClosesP) closeP();
        if (name == "li") {
            closeListItem({"li"});
        } else if (name == "dd" || name == "dt") {
            closeListItem({"dd", "dt"});
        } else if (flags & kHeading) {
            if (!stack_.empty() && (stack_.back().flags & kHeading)) popTo(top());
        } else if (name == "a") {
            // An open link ends where a new one begins.
            const int a = inScope("a", kScope);
            if (a >= 0) endFormatting(a);
        } else if (name == "nobr") {
            const int nobr = inScope("nobr", kScope);
            if (nobr >= 0) endFormatting(nobr);
        } else if (name == "button") {
            const int b = inScope("button", kScope);
            if (b >= 0) popTo(b);
        } else if (name == "option" || name == "optgroup") {
            if (!stack_.empty() && stack_.back().name == "option") popTo(top());
            if (name == "optgroup" && !stack_.empty() && stack_.back().name == "optgroup") popTo(top());
        } else if (name == "select") {
            const int s = inScope("select", 0);
            if (s >= 0) {
                popTo(s);
                return;
            }
        } else if (name == "form") {
            if (inScope("form", 0) >= 0) return;  // forms do not nest
        } else if (name == "table") {
            // A table straight inside a table (not in a cell) ends it.
            if (!stack_.empty()) {
                const std::string& cur = stack_.back().name;
                if (cur == "table" || cur == "tr" || (stack_.back().flags & kSection)) popTo(nearestTable());
            }
        }
        if (int(stack_.size()) >= 2 * limits_.maxDepth) {
            simplified_ = true;
            return;
        }
        bool emit = depthOfNewElement() <= limits_.maxDepth;
        Table* table = nullptr;
        if (flags & kTablePart) {
            const int ti = nearestTable();
            if (ti < 0) return;  // outside a table the parser drops it
            if (flags & kCell) {
                const int cell = above(ti, {"td", "th"});
                if (cell >= 0) popTo(cell);
            } else if (name == "tr") {
                const int section = above(ti, {"tbody", "thead", "tfoot"});
                popTo((section >= 0 ? section : ti) + 1);
                newRow(ti);
            } else {
                popTo(ti + 1);
                endRow(ti);
            }
            if (done_) return;
            emit = emit && stack_[size_t(ti)].emitted;
            if (emit && stack_[size_t(ti)].table >= 0) table = &tables_[size_t(stack_[size_t(ti)].table)];
        } else if (name == "table") {
            emit = emit && emittedTables_ < limits_.maxTableNesting;
        } else if (!(flags & kSpecial)) {
            // Each inline element around a block or a line is laid out and
            // drawn once more for it.
            emit = emit && emittedInline_ < limits_.maxInlineNesting;
        }
        if (!emit) {
            simplified_ = true;
        } else {
            if (table && (flags & kCell) && !cellOfTable(*table, t)) return;
            if (!spend(1)) return;
        }
        push(t, name, flags, emit);
    }

    void endTag(const std::string& name) {
        if (leftOut_ > 0) {
            if (name == leftOutName_ && --leftOut_ == 0) leftOutName_.clear();
            return;
        }
        if (textMode_ != TextMode::Markup) {
            if (name != textElement_) return;
            out_ += "</";
            out_ += name;
            out_ += '>';
            textMode_ = TextMode::Markup;
            textElement_.clear();
            return;
        }
        if (plaintext_) return;
        if (++tags_ > 4 * limits_.maxNodes) {
            cutHere();
            return;
        }
        const unsigned flags = flagsOf(name);
        if (name == "html" || name == "head" || name == "body") return;
        if (name == "br") {
            Token br;
            emitVoid(br, "br");
            return;
        }
        if (name == "p") {
            const int p = inScope("p", kScope, {"button"});
            if (p >= 0) {
                popTo(p);
            } else if (depthOfNewElement() <= limits_.maxDepth && spend(1)) {
                out_ += "<p></p>";  // as the parser makes of a lone </p>
            }
            return;
        }
        if (name == "li") {
            const int li = inScope("li", kScope, {"ul", "ol"});
            if (li >= 0) popTo(li);
            return;
        }
        if (name == "dd" || name == "dt") {
            const int d = inScope(name, kScope);
            if (d >= 0) popTo(d);
            return;
        }
        if (flags & kHeading) {
            for (int i = top(); i >= 0; --i) {
                if (stack_[size_t(i)].flags & kHeading) {
                    popTo(i);
                    return;
                }
                if (stack_[size_t(i)].flags & kScope) return;
            }
            return;
        }
        if (name == "table") {
            const int ti = nearestTable();
            if (ti >= 0) popTo(ti);
            return;
        }
        if (flags & kTablePart) {
            const int ti = nearestTable();
            if (ti < 0) return;
            const int e = above(ti, {std::string_view(name)});
            if (e < 0) return;
            popTo(e);
            if (name == "tr" || (flags & kSection)) endRow(ti);
            return;
        }
        if (flags & kFormatting) {
            const int f = inScope(name, kScope);
            if (f >= 0) endFormatting(f);
            return;
        }
        if (name == "form") {
            const int f = inScope("form", kScope);
            if (f < 0) return;
            if (f == top()) {
                popTo(f);
            } else {
                // The parser takes the form off and leaves what is in it open.
                if (stack_[size_t(f)].emitted) out_ += "</form>";
                removeAt(f);
            }
            return;
        }
        if ((flags & kClosesP) || name == "button" || name == "applet" || name == "marquee" || name == "object" ||
            name == "select") {
            // A block's end closes it, and what is open in it, when it is in scope.
            const int b = inScope(name, kScope);
            if (b >= 0) popTo(b);
            return;
        }
        // Any other end tag closes its element unless a structural one
        // lies between.
        for (int i = top(); i >= 0; --i) {
            const Open& e = stack_[size_t(i)];
            if (e.name == name) {
                popTo(i);
                return;
            }
            if (e.flags & kSpecial) return;
        }
    }

    void text(std::string_view s) {
        if (leftOut_ > 0) return;
        switch (textMode_) {
        case TextMode::Style: styleText(s); return;
        case TextMode::Escaped:
            if (textElement_ == "title") {
                // Not shown in the page: no words to lay out.
                for (char c : s) {
                    if (c == '<')
                        out_ += "&lt;";
                    else if (c != '\0')
                        out_ += c;
                }
                return;
            }
            writeText(s, true);
            return;
        case TextMode::Raw: writeText(s, false); return;
        case TextMode::Markup: writeText(s, true); return;
        }
    }

    // Style sheet text as handed on. The layout engine's parser makes an
    // element of each space in it (and of each word between): runs of
    // spaces become one, none is kept next to { } ; , > or ~ (nor in
    // comments, which are left out), and the sheets end at a rule once they
    // would pass maxStyleSheetSpaces or maxStyleSheetBytes (an unclosed
    // sheet takes the rest of the page).
    void styleText(std::string_view s) {
        const size_t start = out_.size();
        for (char c : s) {
            if (stylesFull_) break;
            if (c == '\0') continue;
            if (styleBytes_ >= limits_.maxStyleSheetBytes || styleSpaces_ >= limits_.maxStyleSheetSpaces) {
                const size_t end = out_.rfind('}');
                out_.resize(end == std::string::npos || end < start ? start : end + 1);
                stylesFull_ = simplified_ = true;
                break;
            }
            if (styleComment_) {
                if (styleSlash_ && c == '/') styleComment_ = false;
                styleSlash_ = c == '*';
                continue;
            }
            if (styleQuote_) {
                styleEmit(c);
                if (styleEscape_)
                    styleEscape_ = false;
                else if (c == '\\')
                    styleEscape_ = true;
                else if (c == styleQuote_ || c == '\n')
                    styleQuote_ = 0;
                continue;
            }
            if (styleSlash_) {
                styleSlash_ = false;
                if (c == '*') {
                    styleComment_ = true;
                    continue;
                }
                styleEmit('/');
            }
            if (isSpace(c)) {
                styleSpace_ = true;
            } else if (c == '/') {
                styleSlash_ = true;
            } else {
                styleEmit(c);
                if (c == '"' || c == '\'') styleQuote_ = c;
            }
        }
        styles_.push_back({start, out_.size()});
    }
    void styleEmit(char c) {
        auto tight = [](char x) { return x == '{' || x == '}' || x == ';' || x == ',' || x == '>' || x == '~'; };
        if (styleSpace_) {
            styleSpace_ = false;
            if (!tight(styleLast_) && !tight(c)) {
                out_ += ' ';
                ++styleBytes_;
                ++styleSpaces_;
            }
        }
        out_ += c;
        ++styleBytes_;
        if (isSpace(c)) ++styleSpaces_;
        styleLast_ = c;
    }

    // ---- Rules of the parser ----

    void closeListItem(std::initializer_list<std::string_view> names) {
        for (int i = top(); i >= 0; --i) {
            const Open& e = stack_[size_t(i)];
            for (auto n : names)
                if (e.name == n) {
                    popTo(i);
                    return;
                }
            if ((e.flags & kSpecial) && e.name != "address" && e.name != "div" && e.name != "p") return;
        }
    }
    // Ends the open formatting element at f (the nearest of its name in
    // scope: not beyond a cell, caption or table).
    void endFormatting(int f) {
        bool structureAbove = false;
        for (int i = f + 1; i <= top(); ++i) structureAbove |= (stack_[size_t(i)].flags & kSpecial) != 0;
        if (!structureAbove) {
            popTo(f);
            return;
        }
        if (!stack_[size_t(f)].emitted) {
            removeAt(f);
            return;
        }
        // Misnested (<b><p>x</b>): the parser moves the structure out of the
        // formatting element and copies that element where it has to; a few
        // elements more each time, so only a few such tags are handed on.
        if (misnested_ >= kMaxMisnested || !spend(8)) return;
        ++misnested_;
        out_ += "</";
        out_ += stack_[size_t(f)].name;
        out_ += '>';
        removeAt(f);
    }

    // A new row of the (emitted) table at stack index ti.
    void newRow(int ti) {
        const int index = stack_[size_t(ti)].table;
        if (index >= 0) newRow(tables_[size_t(index)]);
    }
    void newRow(Table& t) {
        const long before = t.grid();
        ++t.rows;
        t.width = 0;
        t.rowOpen = true;
        while (!t.spans.empty() && t.spans.top() < t.rows) t.spans.pop();
        growGrid(before, t.grid());
    }
    // The row is over: a cell after it starts a new one (the parser makes
    // the row).
    void endRow(int ti) {
        const int index = stack_[size_t(ti)].table;
        if (index >= 0) tables_[size_t(index)].rowOpen = false;
    }
    // A cell of the row being read; false (and the page cut) when the table
    // grows past the cells allowed.
    bool cellOfTable(Table& t, const Token& cell) {
        if (!t.rowOpen) {
            newRow(t);
            if (done_) return false;
        }
        long colspan = 1, rowspan = 1;
        if (const std::string* v = cell.attribute("colspan"))
            colspan = parseInteger(*v, colspan) ? std::clamp(colspan, 1L, WebPageBounds::kMaxColspan) : 1;
        if (const std::string* v = cell.attribute("rowspan"))
            rowspan = parseInteger(*v, rowspan) ? std::clamp(rowspan, 1L, WebPageBounds::kMaxRowspan) : 1;
        const long before = t.grid();
        t.width += colspan;
        t.maxWidth = std::max(t.maxWidth, t.width + long(t.spans.size()));
        if (rowspan > 1) t.spans.push(t.rows - 1 + rowspan);
        growGrid(before, t.grid());
        return !done_;
    }
    void growGrid(long before, long after) {
        gridCells_ += after - before;
        if (gridCells_ > limits_.maxGridCells) cutHere();
    }

    // ---- The end ----

    void finish() {
        if (plaintext_) return;  // whatever follows would be its text
        if (textMode_ != TextMode::Markup && !textElement_.empty()) {
            out_ += "</";
            out_ += textElement_;
            out_ += '>';
        }
        popTo(0);
    }

    // The page as handed on: style sheets cut to the selectors allowed, the
    // note in front when something was left out.
    std::string compose() {
        const long elements = std::max(1L, elements_);
        WebPageBounds::StyleSheetAllowance allowed;
        allowed.selectors = limits_.maxSelectorTests / elements - WebPageBounds::kOwnSelectorsPerElement;
        allowed.bytes = limits_.maxStyleSheetBytes;
        allowed.selectorBytes = limits_.maxSelectorBytes;
        allowed.selectorCombinators = limits_.maxSelectorCombinators;
        std::vector<std::pair<size_t, size_t>> drop;  // ranges of out_ left out
        for (const auto& [start, end] : styles_) {
            const size_t keep = WebPageBounds::styleSheetWithin(std::string_view(out_).substr(start, end - start), allowed);
            if (start + keep < end) {
                drop.push_back({start + keep, end});
                simplified_ = true;
            }
        }
        allowed.selectors = std::max(0L, allowed.selectors);
        sheetsLeft_ = allowed;
        std::string body;
        if (drop.empty()) {
            body = std::move(out_);
        } else {
            size_t from = 0;
            for (const auto& [a, b] : drop) {
                body.append(out_, from, a - from);
                from = b;
            }
            body.append(out_, from, std::string::npos);
            out_.clear();
        }
        std::string html = "<!DOCTYPE html>";
        if ((cut_ || simplified_ || o_.noteAlways) && !o_.note.empty()) {
            html += "<div id=\"";
            html += WebPageBounds::kNoteId;
            html += "\" style=\"display:block;margin:0 0 8px 0;padding:6px 8px;background-color:#fff4c2;"
                    "color:#000000;border:1px solid #d9b44a;font-size:14px;font-weight:normal;font-style:normal;"
                    "text-align:left\">";
            for (char c : o_.note) {
                if (c == '<')
                    html += "&lt;";
                else if (c == '&')
                    html += "&amp;";
                else
                    html += c;
            }
            html += "</div>";
        }
        html += body;
        return html;
    }

    static constexpr int kMaxMisnested = 64;

    WebHtmlTokenizer tokens_;
    const WebPageBounds::Options& o_;
    const WebPageBounds::Limits& limits_;
    std::string out_;
    std::vector<Open> stack_;
    std::vector<Table> tables_;
    std::vector<std::pair<size_t, size_t>> styles_;
    int emittedDepth_ = 0;
    int emittedTables_ = 0;
    int emittedInline_ = 0;
    long nodes_ = 0;
    long elements_ = 0;
    WebPageBounds::StyleSheetAllowance sheetsLeft_;
    size_t styleBytes_ = 0;
    long styleSpaces_ = 0;
    bool stylesFull_ = false;
    // Where the style text being read is (styleText).
    char styleLast_ = '{';
    char styleQuote_ = 0;
    bool styleSpace_ = false, styleSlash_ = false, styleComment_ = false, styleEscape_ = false;
    long weight_ = 0;
    long gridCells_ = 0;
    long tags_ = 0;
    size_t styleAttributeBytes_ = 0;
    size_t textBytes_ = 0;
    int misnested_ = 0;
    int leftOut_ = 0;
    std::string leftOutName_;
    TextMode textMode_ = TextMode::Markup;
    std::string textElement_;
    bool plaintext_ = false;
    bool seenHtml_ = false, seenHead_ = false, seenBody_ = false;
    bool done_ = false;
    bool cut_ = false;
    bool simplified_ = false;
};

}  // namespace

WebPageBounds::Result WebPageBounds::bound(std::string_view html, const Options& options) {
    return Builder(html, options).run();
}

namespace {

// Reads a style sheet as litehtml does (css::parse_stylesheet): comments
// left out; at-rules up to a ';' or their balanced block, whose inside is
// read the same way; else a selector list up to the next '{' and its
// declarations up to the next '}'. Stops at what would cost litehtml more
// than a rule should: a selector too long or with too many combinators (its
// parsing grows with the square of those), more selectors than allowed, a
// '}' before the next '{' (litehtml reads the selectors before it again
// from there), blocks nested too deeply.
class SheetReader {
public:
    SheetReader(std::string_view css, WebPageBounds::StyleSheetAllowance& left) : css_(css), left_(left) {}

    // Where the last rule that fits within [from, to) ends; `complete`
    // when all of it does.
    size_t read(size_t from, size_t to, int depth, bool& complete) {
        complete = false;
        if (depth > kMaxDepth) return from;
        size_t keep = from;
        size_t pos = skipSpace(from, to);
        while (pos < to) {
            if (css_[pos] == '@') {
                const size_t p = find(pos, to, "{;");
                if (p >= to) break;
                if (css_[p] == '{') {
                    const size_t q = closing(p, to);
                    if (q >= to) return keep;
                    bool inner = false;
                    read(p + 1, q, depth + 1, inner);
                    if (!inner) return keep;
                    pos = q + 1;
                } else {
                    pos = p + 1;
                }
                keep = pos;
            } else {
                const size_t open = find(pos, to, "{");
                const size_t close = find(pos, to, "}");
                if (open >= to || close >= to) break;
                if (close < open || !selectors(pos, open)) return keep;
                keep = pos = close + 1;
            }
            pos = skipSpace(pos, to);
        }
        // (What follows the last rule without ending it, litehtml leaves.)
        complete = true;
        return pos >= to ? to : keep;
    }

private:
    static constexpr int kMaxDepth = 8;

    bool comment(size_t i, size_t to) const { return i + 1 < to && css_[i] == '/' && css_[i + 1] == '*'; }
    size_t afterComment(size_t i, size_t to) const {
        const size_t end = css_.substr(0, to).find("*/", i + 2);
        return end == std::string_view::npos ? to : end + 2;
    }
    size_t skipSpace(size_t i, size_t to) const {
        while (i < to && (isSpace(css_[i]) || comment(i, to))) i = comment(i, to) ? afterComment(i, to) : i + 1;
        return i;
    }
    // The first of `chars` from i on, outside comments; `to` when none.
    size_t find(size_t i, size_t to, std::string_view chars) const {
        while (i < to) {
            if (comment(i, to)) {
                i = afterComment(i, to);
            } else if (chars.find(css_[i]) != std::string_view::npos) {
                return i;
            } else {
                ++i;
            }
        }
        return to;
    }
    size_t closing(size_t open, size_t to) const {
        int level = 0;
        for (size_t i = open; i < to; i = comment(i, to) ? afterComment(i, to) : i + 1) {
            if (comment(i, to)) continue;
            if (css_[i] == '{') ++level;
            if (css_[i] == '}' && --level == 0) return i;
        }
        return to;
    }
    // The comma-separated selectors of [from, to): each measured from its
    // first character to its last (spaces each count as a combinator, as
    // litehtml takes them one by one).
    bool selectors(size_t from, size_t to) {
        size_t first = 0, last = 0;
        int combinators = 0, spaces = 0;
        bool started = false;
        for (size_t i = from; i <= to; ++i) {
            if (i < to && comment(i, to)) {
                i = afterComment(i, to) - 1;
                continue;
            }
            const char c = i < to ? css_[i] : ',';
            if (c == ',') {
                const bool tooLong = started && last + 1 - first > left_.selectorBytes;
                if (tooLong || combinators > left_.selectorCombinators || --left_.selectors < 0) return false;
                started = false;
                combinators = spaces = 0;
            } else if (isSpace(c)) {
                if (started) ++spaces;
            } else {
                if (!started) first = i;
                started = true;
                last = i;
                combinators += spaces + (c == '>' || c == '+' || c == '~');
                spaces = 0;
            }
        }
        return true;
    }

    std::string_view css_;
    WebPageBounds::StyleSheetAllowance& left_;
};

}  // namespace

size_t WebPageBounds::styleSheetWithin(std::string_view css, StyleSheetAllowance& left) {
    const size_t n = std::min(css.size(), left.bytes);
    bool complete = false;
    size_t keep = SheetReader(css, left).read(0, n, 0, complete);
    if (complete && n == css.size()) {
        keep = css.size();
    } else {
        left.selectors = std::min(left.selectors, -1L);
    }
    left.bytes -= std::min(left.bytes, keep);
    return keep;
}

}  // namespace ui
