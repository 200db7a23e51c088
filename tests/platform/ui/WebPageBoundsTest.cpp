#include <gtest/gtest.h>

#include "UITestSupport.h"
#include "platform/ui/WebDocumentContainer.h"
#include "platform/ui/WebPageBounds.h"
#include "platform/ui/WebPageLayout.h"

#include <litehtml/litehtml.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

using ui::WebPageBounds;
using uitest::repeat;

namespace {

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

WebPageBounds::Result bound(const std::string& html, WebPageBounds::Limits limits = {}, bool ownStyles = true) {
    WebPageBounds::Options o;
    o.limits = limits;
    o.authorStyles = ownStyles;
    o.note = "Cut.";
    return WebPageBounds::bound(html, o);
}

const std::string kNote = "<div id=\"leafbright-note\"";

// Every start tag of the output has its end tag, in order.
bool wellNested(const std::string& html) {
    static const std::set<std::string> voids{"br", "img", "hr", "meta", "link", "input", "col", "base", "wbr",
                                             "area", "embed", "param", "source", "track", "keygen", "basefont",
                                             "bgsound", "frame", "html", "head", "body"};
    std::vector<std::string> open;
    for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        if (html.compare(at, 2, "<!") == 0) continue;
        const bool end = html[at + 1] == '/';
        size_t nameEnd = html.find_first_of(" >", at);
        const std::string name = html.substr(at + (end ? 2 : 1), nameEnd - at - (end ? 2 : 1));
        if (end) {
            if (open.empty() || open.back() != name) return false;
            open.pop_back();
        } else if (!voids.count(name)) {
            open.push_back(name);
            if (name == "style" || name == "title") at = html.find("</" + name, at) - 1;
        }
    }
    return open.empty();
}

}  // namespace

// A page as pages are written, end tags left out where HTML lets them be:
// handed on with every element closed where the parser closes it, its
// scripts and comments left out, the list numbered.
TEST(WebPageBoundsTest, AnOrdinaryPageIsHandedOnWellNestedAndWhole) {
    const auto r = bound(
        "<!DOCTYPE html><html lang=en><head><title>A &amp; B</title><script>if (a<b) go()</script></head><body>"
        "<p>One<p class=x data-q='say \"hi\"'>Two<ul><li>a<li value=7>b<li>c</ul>"
        "<table><tr><td colspan=2>1<td>2<tr><td>3</table><!-- <div> --><b>bold <i>both</b> italic</i>"
        "<dl><dt>t<dd>d</dl>x &lt; y < z<span><div>in</span> still</div> after</body></html>");
    EXPECT_FALSE(r.cut);
    EXPECT_EQ(r.html,
              "<!DOCTYPE html><html lang=\"en\"><head><title>A &amp; B</title><body><p>One</p>"
              "<p class=\"x\" data-q=\"say &quot;hi&quot;\">Two</p><ul><li list_index=\"1\">a</li>"
              "<li value=\"7\" list_index=\"7\">b</li><li list_index=\"8\">c</li></ul>"
              "<table><tr><td colspan=\"2\">1</td><td>2</td></tr><tr><td>3</td></tr></table>"
              "<b>bold <i>both</i></b> italic<dl><dt>t</dt><dd>d</dd></dl>x &lt; y &lt; z"
              "<span><div>in still</div> after</span>");
    EXPECT_TRUE(wellNested(r.html));
}

// Nesting deeper than the layout takes is flattened (the text stays), tables
// inside too many tables lose their table structure, and a page larger than
// the layout takes ends where it has to: each with the note at the top.
TEST(WebPageBoundsTest, DeepPagesAreFlattenedAndLargeOnesCutWithANote) {
    const WebPageBounds::Limits limits;
    auto deep = bound(repeat("<div>", 20000) + "deep text" + repeat("</div>", 20000) + "<p>after</p>");
    EXPECT_TRUE(deep.cut);
    EXPECT_EQ(deep.html.find(kNote), std::string("<!DOCTYPE html>").size());
    EXPECT_LE(count(deep.html, "<div>"), size_t(limits.maxDepth));
    EXPECT_NE(deep.html.find("deep text"), std::string::npos);
    EXPECT_NE(deep.html.find("<p>after</p>"), std::string::npos);
    EXPECT_TRUE(wellNested(deep.html));

    auto tables = bound(repeat("<table><tr><td>", 2000) + "innermost");
    EXPECT_TRUE(tables.cut);
    EXPECT_EQ(count(tables.html, "<table>"), size_t(limits.maxTableNesting));
    EXPECT_NE(tables.html.find("innermost"), std::string::npos);
    EXPECT_TRUE(wellNested(tables.html));

    // Inline elements nest only so deep: each is laid out and drawn once
    // more for every block and line inside it.
    auto inlines = bound(repeat("<span>", 100) + repeat("<p>x</p>", 10));
    EXPECT_TRUE(inlines.cut);
    EXPECT_EQ(count(inlines.html, "<span>"), size_t(limits.maxInlineNesting));

    // Each element is laid out through those around it: a page deep in
    // blocks ends sooner.
    auto heavy = bound(repeat("<div>", 120) + repeat("<p>x</p>", 20000));
    EXPECT_TRUE(heavy.cut);
    EXPECT_LT(heavy.nodes, limits.maxNodes / 2);

    // Formatting elements the parser would copy at every block count as the
    // copies they become.
    std::string copied = "<div>";
    for (int i = 0; i < 3000; ++i) copied += "<b id=" + std::to_string(i) + ">";
    copied += "</div>" + repeat("<div>x</div>", 3000);
    EXPECT_LE(count(bound(copied).html, "<b "), size_t(limits.maxDepth));

    WebPageBounds::Limits small;
    small.maxNodes = 100;
    auto many = bound(repeat("<p>para", 1000), small);
    EXPECT_TRUE(many.cut);
    EXPECT_LE(many.nodes, 100);
    EXPECT_EQ(count(many.html, "<p>"), 34u);  // a paragraph and its word (two nodes) are three
    EXPECT_TRUE(wellNested(many.html));
    // The text ends too.
    small = {};
    small.maxTextBytes = 1000;
    auto text = bound("<p>" + repeat("word ", 1000), small);
    EXPECT_TRUE(text.cut);
    EXPECT_EQ(count(text.html, "word"), 250u);

    // A table's cells as the layout keeps them: rows times its widest row.
    small = {};
    small.maxGridCells = 5000;
    auto grid = bound("<table><tr><td colspan=1000>wide" + repeat("<tr><td>row", 100) + "</table><p>after", small);
    EXPECT_TRUE(grid.cut);
    EXPECT_EQ(count(grid.html, "<tr>"), 5u);
    EXPECT_EQ(grid.html.find("after"), std::string::npos);
    // Cells spanning the rows below widen every row after them.
    auto spanning = bound("<table>" + repeat("<tr><td rowspan=99999999>x", 200), small);
    EXPECT_TRUE(spanning.cut);
    EXPECT_LE(count(spanning.html, "<tr>"), 71u);  // 70 rows of 70 cells

    // An ordinary page gets no note.
    EXPECT_EQ(bound("<p>short</p>").html.find(kNote), std::string::npos);
}

// Numbers the layout would take at their word are capped (spans as HTML caps
// them, list numbers near any list's), words too long to lay out get a break,
// style sheets end at a rule once their selectors would be tried too often,
// and what is not shown is left out.
TEST(WebPageBoundsTest, SpansNumbersWordsAndStylesAreBounded) {
    auto spans = bound("<table><colgroup span=5000><tr><td colspan=\"2147483647\" rowspan=\"99999999\">x"
                       "<td colspan=0 rowspan=x>y<td colspan=\" 3 \">z</table>");
    EXPECT_NE(spans.html.find("<table><colgroup span=\"1000\"></colgroup><tr>"), std::string::npos);
    EXPECT_NE(spans.html.find("<td colspan=\"1000\" rowspan=\"65534\">x"), std::string::npos);
    EXPECT_NE(spans.html.find("<td colspan=\"1\" rowspan=\"1\">y"), std::string::npos);
    EXPECT_NE(spans.html.find("<td colspan=\"3\">z"), std::string::npos);

    auto list = bound("<ol start=2147483647 style=\"list-style-type:upper-roman\"><li>a<li list_index=-99>b</ol>"
                      "<ol start=-2147483648><li value=3000000000>c<li>d</ol><div style=\"display:list-item\" "
                      "list_index=99999999>e</div>");
    EXPECT_NE(list.html.find("<ol start=\"99999\" style=\"list-style-type:upper-roman\"><li list_index=\"99999\">a</li>"
                             "<li list_index=\"100000\">b</li>"),
              std::string::npos);
    EXPECT_NE(list.html.find("<ol start=\"-99999\"><li value=\"99999\" list_index=\"99999\">c</li>"), std::string::npos);
    EXPECT_EQ(list.html.find("99999999"), std::string::npos);

    // Words: broken every 1000 bytes, not inside a character or a
    // character reference.
    const std::string word = repeat("a", 998) + "&amp;" + repeat("é", 600);
    auto words = bound("<p>" + word + "</p>");
    EXPECT_NE(words.html.find("<p>" + repeat("a", 998) + " &amp;" + repeat("é", 497) + " "), std::string::npos);
    EXPECT_EQ(words.html.find(repeat("a", 1001)), std::string::npos);

    // Style sheets: the selectors allowed are those the elements can be
    // tried against; the rest of the sheets is left out.
    WebPageBounds::Limits small;
    small.maxSelectorTests = 10 * (WebPageBounds::kOwnSelectorsPerElement + 3);  // ten elements, three selectors
    auto styles = bound("<style>a { color: red } b, i { color: blue }</style><style>p { margin: 0 }</style>" +
                            repeat("<span>x</span>", 8),
                        small);
    EXPECT_TRUE(styles.cut);
    EXPECT_NE(styles.html.find("<style>a{color: red}b,i{color: blue}</style><style></style>"),
              std::string::npos);
    // Sheets are handed on with the spaces their syntax needs (litehtml
    // makes an element of each), and end at a rule at a selector whose
    // parsing costs as the square of its combinators (and spaces), or too
    // long; so do their spaces and bytes, which an unclosed sheet takes
    // from the rest of the page.
    EXPECT_NE(bound("<style>/* a { } */ a  >  b ,\n c { color : \"x  y\" }</style>").html.find(
                  "<style>a>b,c{color : \"x  y\"}</style>"),
              std::string::npos);
    for (const std::string& selector : {"b" + repeat(" > b", 40), "b" + repeat("\n\tb", 40), repeat("b.c", 700)}) {
        auto long_ = bound("<style>a { color: red }\n" + selector + " { color: blue } i { color: red }</style><p>x</p>");
        EXPECT_TRUE(long_.cut) << selector;
        EXPECT_NE(long_.html.find("<style>a{color: red}</style><p>x</p>"), std::string::npos) << selector;
    }
    EXPECT_FALSE(bound("<style>a { color: red }\n" + repeat("b > ", 10) + "b, i { color: red }</style>").cut);
    // Read as litehtml reads them: a '}' before the next rule (litehtml
    // reads the selectors again after each), at-rules' blocks, too deep.
    for (const std::string& rules : {"b" + repeat("}", 100) + "{ color: blue }",
                                     "@media screen { b" + repeat(" b", 40) + " { color: blue } }",
                                     repeat("@media screen{", 20) + "b{}" + repeat("}", 20)}) {
        auto read = bound("<style>a { color: red }\n" + rules + " i { color: red }</style><p>x</p>");
        EXPECT_TRUE(read.cut) << rules;
        EXPECT_NE(read.html.find("<style>a{color: red}</style><p>x</p>"), std::string::npos) << rules;
    }
    EXPECT_FALSE(bound("<style>@media screen { a { color: red } } @import \"x.css\"; i { color: red }</style>").cut);
    small = {};
    small.maxStyleSheetBytes = 1000;
    auto unclosed = bound("<p>x</p><style>" + repeat("p { margin: 0 }\n", 10000) + "<p>y</p>", small);
    EXPECT_TRUE(unclosed.cut);
    EXPECT_LE(unclosed.html.size(), 1500u);
    EXPECT_NE(unclosed.html.find("}</style>"), std::string::npos);
    small = {};
    small.maxStyleSheetSpaces = 100;
    auto spaces = bound("<style>" + repeat("a b c { color: red }", 100) + "</style>", small);
    EXPECT_TRUE(spaces.cut);
    EXPECT_EQ(count(spaces.html, "a b c{color: red}"), 33u);
    small = {};
    small.maxStyleAttributeBytes = 30;
    auto attributes = bound("<p style=\"color: red\">a</p><p style=\"margin: 0; padding: 0 0 0 0\">b</p>", small);
    EXPECT_NE(attributes.html.find("<p style=\"color: red\">a</p><p>b</p>"), std::string::npos);
    EXPECT_TRUE(attributes.cut);
    auto unstyled = bound("<link rel=stylesheet href=a.css><style>p {}</style><p style=\"color: red\">a</p>", {}, false);
    EXPECT_EQ(unstyled.html, "<!DOCTYPE html><p>a</p>");
    // An element's classes beyond a few dozen are left out.
    std::string classes;
    for (int i = 0; i < 100; ++i) classes += " c" + std::to_string(i);
    EXPECT_NE(bound("<p class=\"" + classes + "\">x</p>").html.find(" c31\">x"), std::string::npos);

    // Left out with what they hold: scripts, templates, SVG and MathML
    // (which would also carry table cells past the table rules).
    std::string page = "<script>document.write('<p>')</script><template><p>t</template>"
                       "<svg><td colspan=5000>svg</td><svg></svg></svg><math><mi>m</mi></math><svg/>"
                       "<noscript><p>n</p></noscript><p>shown";
    page += '\0';
    page += "</p>";
    auto hidden = bound(page);
    EXPECT_EQ(hidden.html, std::string("<!DOCTYPE html><p>shown</p>"));
}

// The parser behind the layout engine builds from the page handed on the tree
// the bounds were kept on, nothing deeper or larger, whatever the page did to
// the parser's rules: misnested formatting (which the parser moves and
// copies), formatting elements it reopens, forms, selects, lists, headings
// and tables where they may not be.
TEST(WebPageBoundsTest, TheLayoutEnginesTreeIsTheBoundedOne) {
    const WebPageBounds::Limits limits;
    for (const std::string pattern :
         {"<b><b><b><b><div></b></b></b></b>", "<b><p>x</b>y</p>", "<b id=1><b id=2><b id=3><b id=4><div>x</b></b></b></b>",
          "<i><b><p>x</i></b>y</p>", "<a><div><a>x</a></div></a>", "<form><div><form></div></form>",
          "<select><div><option>x<select>", "<table><b><tr><td>x</b>", "<p><table><p>x", "<li><div><li>",
          "<dd><dt><div><dd>", "<button><div><button>", "<nobr><div><nobr>x", "<h1><h2><div><h3>",
          "<div><b id=1><b id=2></div>x<div>y", "<table><td><table><td><svg><td>", "<span><div></span>",
          "<label><ul></label><li>"}) {
        WebPageBounds::Options o;
        const auto bounded = WebPageBounds::bound(repeat(pattern, 1000), o);
        ui::WebDocumentContainer container;
        auto doc = litehtml::document::createFromUTF8(bounded.html.c_str(), &container,
                                                      &ui::WebDocumentContainer::context());
        ASSERT_TRUE(doc && doc->root()) << pattern;
        long elements = 0;
        int deepest = 0;
        std::vector<std::pair<litehtml::element::ptr, int>> open{{doc->root(), 1}};
        while (!open.empty()) {
            auto [el, depth] = open.back();
            open.pop_back();
            ++elements;
            deepest = std::max(deepest, depth);
            for (size_t i = 0; i < el->get_children_count(); ++i) open.push_back({el->get_child(int(i)), depth + 1});
        }
        EXPECT_LE(deepest, limits.maxDepth) << pattern;
        EXPECT_LE(elements, bounded.nodes + 8) << pattern;
    }
    // Misnested formatting does not use the page's depth up: after a few
    // dozen of them their end tags are left to the elements' own ends.
    const auto misnested = WebPageBounds::bound(repeat("<b><p>x</b>y</p>", 3000), {});
    EXPECT_GT(count(misnested.html, "<p>"), 300u);
}

// A page whose layout overspends its budget, with its own styles and without
// them, is refused (no document) rather than shown half laid out; within the
// bounds the same page is shown, cut. (Tables inside tables are laid out
// again for each table around them: looser bounds let through work no budget
// covers.)
TEST(WebPageBoundsTest, APageLaidOutPastItsBudgetIsRefusedAndWithinTheBoundsShownCut) {
    ui::WebPageLayout::Request r;
    r.html = "<title>Tables</title>" + repeat("<table><tr><td>x", 40);
    r.url = "http://127.0.0.1:1/tables.html";
    r.cutNote = "Cut.";
    r.unstyledNote = "Unstyled.";
    r.limits.maxTableNesting = 1000;
    r.limits.maxLayoutWeight = 1L << 40;
    EXPECT_FALSE(ui::WebPageLayout::build(r).document);

    r.limits = {};
    const ui::WebPageLayout::Page page = ui::WebPageLayout::build(r);
    ASSERT_TRUE(page.document);
    EXPECT_TRUE(page.cut);
    EXPECT_FALSE(page.unstyled);

    // Cells are laid out again for each table around them: the bounds cut
    // the same content sooner the deeper in tables it sits, so that its
    // layout takes no more work there than in one table.
    auto layoutWork = [](int tables) {
        const auto bounded = WebPageBounds::bound(repeat("<table><tr><td>", tables) + repeat("<p>x</p>", 100000), {});
        ui::WebDocumentContainer c;
        c.budget().begin(ui::WebLayoutBudget::kSelectorTests, ui::WebLayoutBudget::kBoxLayouts);
        auto doc = litehtml::document::createFromUTF8(bounded.html.c_str(), &c, &ui::WebDocumentContainer::context());
        c.budget().begin(ui::WebLayoutBudget::kSelectorTests, ui::WebLayoutBudget::kBoxLayouts);
        doc->render(320);
        return ui::WebLayoutBudget::kBoxLayouts - c.budget().boxLayoutsLeft();
    };
    const long inOne = layoutWork(1);
    for (int tables = 2; tables <= 8; tables += 3) EXPECT_LT(layoutWork(tables), inOne) << tables;

    // Each font size a page asks for becomes a font the text engine keeps:
    // a few dozen in all.
    ui::WebDocumentContainer fonts;
    std::set<int> heights;
    for (int size = 1; size <= 1000; ++size) {
        litehtml::font_metrics fm;
        fonts.create_font("serif", size, 400, litehtml::fontStyleNormal, 0, &fm);
        heights.insert(fm.height);
    }
    EXPECT_LE(heights.size(), 80u);

    // A layout nobody waits for any more stops and gives no page.
    std::atomic<bool> cancel{true};
    r.cancel = &cancel;
    EXPECT_FALSE(ui::WebPageLayout::build(r).document);
}
