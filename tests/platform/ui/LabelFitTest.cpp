#include "UITestSupport.h"

#include "platform/graphics/Canvas.h"
#include "platform/ui/Label.h"

using namespace ui;
using uitest::UITest;

namespace {

class LabelFitTest : public UITest {};

double widthOf(const std::string& text, const gfx::Font& font) {
    gfx::TextOptions o;
    o.numberOfLines = 1;
    return gfx::Canvas::measureText(text, font, 0, o).width;
}

}  // namespace

TEST_F(LabelFitTest, AOneLineLabelShrinksItsTextToFitDownToItsSmallestScale) {
    Label label(Rect(0, 0, 100, 36));
    label.setFont(gfx::Font::system(12));
    label.setText("Downloads in Progress");
    // Not asked to shrink: drawn at its size (and truncated).
    EXPECT_EQ(label.drawnFont().size, 12);
    label.setAdjustsFontSizeToFitWidth(true);
    label.setMinimumScaleFactor(8.0 / 17.0);
    const gfx::Font fitted = label.drawnFont();
    EXPECT_LT(fitted.size, 12);
    EXPECT_GE(fitted.size, 12 * 8.0 / 17.0);
    EXPECT_LE(widthOf("Downloads in Progress", fitted), 100);
    // Its text block still sits inside the label.
    EXPECT_LE(label.textRect().height(), 36);

    // A text that fits keeps the size; one far too long stops at the floor.
    label.setText("Done");
    EXPECT_EQ(label.drawnFont().size, 12);
    label.setText(std::string(200, 'W'));
    EXPECT_DOUBLE_EQ(label.drawnFont().size, 12 * 8.0 / 17.0);
    // Wrapping labels and empty widths are left alone.
    label.setNumberOfLines(2);
    EXPECT_EQ(label.drawnFont().size, 12);
    label.setNumberOfLines(1);
    label.setFrame(Rect(0, 0, 0, 36));
    EXPECT_EQ(label.drawnFont().size, 12);
    // A scale outside 0...1 is taken as its nearest end.
    label.setMinimumScaleFactor(3);
    EXPECT_EQ(label.minimumScaleFactor(), 1);
}

// The shadow is a copy of the text under it, moved by its offset: count the
// red pixels a red shadow leaves around black text on white.
TEST_F(LabelFitTest, AShadowIsTheTextAgainUnderItMovedByItsOffset) {
    window->setBackgroundColor(Color::whiteColor());
    auto label = std::make_shared<Label>(Rect(20, 100, 200, 60));
    label->setFont(gfx::Font::system(40));
    label->setTextColor(Color::black());
    label->setText("HHHH");
    window->addSubview(label);
    auto redPixels = [&] {
        window->render();
        int n = 0;
        for (double y = 100; y < 160; y += 0.5)
            for (double x = 20; x < 220; x += 0.5) {
                const auto p = pixelAt(x, y);
                if (p.r > 200 && p.g < 60 && p.b < 60) ++n;
            }
        return n;
    };
    EXPECT_FALSE(label->shadowColor());
    EXPECT_EQ(redPixels(), 0);

    label->setShadowColor(Color::red());
    label->setShadowOffset({-3, -3});
    const int shadowed = redPixels();
    EXPECT_GT(shadowed, 50);
    // Moved up and to the left: nothing of it shows below the text block.
    bool redBelowRight = false;
    const Rect t = label->textRect();
    for (double x = 20; x < 220; x += 0.5)
        for (double y = 100 + t.maxY() + 1; y < 160; y += 0.5) {
            const auto p = pixelAt(x, y);
            if (p.r > 200 && p.g < 60 && p.b < 60) redBelowRight = true;
        }
    EXPECT_FALSE(redBelowRight);

    label->setShadowColor(std::nullopt);
    EXPECT_EQ(redPixels(), 0);
}
