#include "UITestSupport.h"

#include "platform/graphics/FixedTextEngine.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/Label.h"

using namespace ui;
using uitest::UITest;
using gfx::FixedTextEngine;
using gfx::LineBreakMode;
using gfx::TextOptions;

namespace {

class TextLayoutTest : public UITest {};

std::vector<std::string> lines(const std::string& text, double width, LineBreakMode mode, int n,
                               double size = 10) {
    TextOptions o;
    o.lineBreak = mode;
    o.numberOfLines = n;
    std::vector<std::string> out;
    for (auto& l : FixedTextEngine::layout(text, gfx::Font::system(size), width, o)) out.push_back(l.text);
    return out;
}

using V = std::vector<std::string>;

}  // namespace

// Size 10: every Latin glyph is 5 wide, so a 50-point line holds 10 of them.
TEST_F(TextLayoutTest, WrappingBreaksAtWordsAndFallsBackToCharacters) {
    EXPECT_EQ(lines("the quick brown fox", 50, LineBreakMode::WordWrap, 0), (V{"the quick", "brown fox"}));
    EXPECT_EQ(lines("abcdefghijklmnop", 50, LineBreakMode::WordWrap, 0), (V{"abcdefghij", "klmnop"}));
    EXPECT_EQ(lines("the quick brown", 50, LineBreakMode::CharWrap, 0), (V{"the quick", "brown"}));
    EXPECT_EQ(lines("ab cdefghijkl", 50, LineBreakMode::CharWrap, 0), (V{"ab cdefghi", "jkl"}));
    EXPECT_EQ(lines("one\ntwo", 50, LineBreakMode::WordWrap, 0), (V{"one", "two"}));
    // Wide characters are a whole size each and may break anywhere.
    EXPECT_EQ(lines("漫画を読む", 30, LineBreakMode::WordWrap, 0), (V{"漫画を", "読む"}));
}

TEST_F(TextLayoutTest, TruncationCutsTheLastLineAtTheChosenPlace) {
    EXPECT_EQ(lines("abcdefghijklmnop", 50, LineBreakMode::TruncateTail, 1), (V{"abcdefghi…"}));
    EXPECT_EQ(lines("abcdefghijklmnop", 50, LineBreakMode::TruncateHead, 1), (V{"…hijklmnop"}));
    EXPECT_EQ(lines("abcdefghijklmnop", 50, LineBreakMode::TruncateMiddle, 1), (V{"abcde…mnop"}));
    EXPECT_EQ(lines("short", 50, LineBreakMode::TruncateMiddle, 1), (V{"short"}));
    // Two lines of a longer text: the second carries the ellipsis.
    EXPECT_EQ(lines("the quick brown fox jumps", 50, LineBreakMode::TruncateTail, 2), (V{"the quick", "brown fox…"}));
    // A dropped paragraph is marked even when the kept line fits.
    EXPECT_EQ(lines("one\ntwo", 50, LineBreakMode::TruncateTail, 1), (V{"one…"}));
    // Clipping keeps the whole line for the drawing to cut.
    EXPECT_EQ(lines("abcdefghijklmnop", 50, LineBreakMode::Clip, 1), (V{"abcdefghijklmnop"}));
}

TEST_F(TextLayoutTest, LabelsSizeThemselvesAndShowOnlyWhatTheirHeightHolds) {
    auto l = std::make_shared<Label>();
    l->setFont(gfx::Font::system(10));  // lines 12.5 high
    l->setText("the quick brown fox");
    EXPECT_EQ(l->sizeThatFits({50, 0}), (Size{95, 13}));  // one line: its whole width
    l->setNumberOfLines(0);
    EXPECT_EQ(l->sizeThatFits({50, 0}), (Size{45, 25}));
    l->setFrame(Rect(0, 0, 50, 100));
    Rect r = l->textRect();
    EXPECT_DOUBLE_EQ(r.height(), 25);
    EXPECT_DOUBLE_EQ(r.y(), 37.5);  // centred vertically
    // A label one line high shows one line, cut at its end.
    l->setFrame(Rect(0, 0, 50, 14));
    EXPECT_DOUBLE_EQ(l->textRect().height(), 12.5);
    l->setText("");
    EXPECT_EQ(l->sizeThatFits({50, 0}), (Size{0, 0}));
    l->setText("x");
    l->sizeToFit();
    EXPECT_EQ(l->frame(), Rect(0, 0, 5, 13));
}

TEST_F(TextLayoutTest, RealFontsMeasureConsistentlyAndCoverJapanese) {
    gfx::PangoTextEngine pango;
    gfx::Font f = gfx::Font::system(17);
    gfx::FontMetrics m = pango.metrics(f);
    EXPECT_GT(m.lineHeight, 17);
    EXPECT_LT(m.lineHeight, 17 * 1.6);
    TextOptions one;
    Size a = pango.measure("Leafbright", f, 0, one);
    Size b = pango.measure("Leafbright Leafbright", f, 0, one);
    EXPECT_GT(a.width, 40);
    EXPECT_GT(b.width, 2 * a.width);  // the space adds to two words
    // Wrapped to a narrow width it becomes two lines no wider than asked.
    TextOptions wrap;
    wrap.lineBreak = LineBreakMode::WordWrap;
    wrap.numberOfLines = 0;
    Size w = pango.measure("Leafbright Leafbright", f, a.width + 5, wrap);
    EXPECT_LE(w.width, a.width + 5);
    EXPECT_NEAR(w.height, 2 * a.height, 1.0);
    // Truncated to half its width, it fits the width.
    Size t = pango.measure("Leafbright Leafbright", f, b.width / 2, one);
    EXPECT_LE(t.width, b.width / 2 + 0.01);
    // CJK text gets a real font: every glyph about a full em wide.
    Size j = pango.measure("漫画を読む", f, 0, one);
    EXPECT_GT(j.width, 5 * 17 * 0.8);
    // Drawn at scale 3 the text leaves ink inside its rectangle only.
    gfx::Canvas c(300, 90, 3.0);
    pango.draw(c.cairo(), "漫画 Leafbright", f, Rect(0, 0, 100, 30), gfx::Rgba::black(), one);
    int inked = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 300; ++x)
            if (gfx::alphaOf(c.pixel(x, y)) > 0) ++inked;
    EXPECT_GT(inked, 500);
}
