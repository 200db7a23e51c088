#include "platform/graphics/Canvas.h"
#include "tests/support/VirtualClockTest.h"
#include "viewer/BookReadProgressView.h"
#include "viewer/QNProgressView.h"

#include <gtest/gtest.h>

namespace {

struct Rgb {
    int r, g, b;
};
Rgb pixel(gfx::Canvas& c, double x, double y) {
    uint32_t p = c.pixel(int(x), int(y));
    return {int(gfx::redOf(p)), int(gfx::greenOf(p)), int(gfx::blueOf(p))};
}

// Draws the line into a canvas of its size (one pixel per point).
std::unique_ptr<gfx::Canvas> drawn(BookReadProgressView& v) {
    auto c = std::make_unique<gfx::Canvas>(int(v.bounds().width()), int(v.bounds().height()), 1.0);
    v.draw(*c, v.bounds());
    return c;
}

TEST(BookReadProgressView, FillsFromTheSideWhereTheBookBegins) {
    BookReadProgressView v(ui::Rect(0, 0, 110, 5));
    double from = 0, to = 0;
    v.setProgress(0);
    v.filledSpan(&from, &to);
    EXPECT_DOUBLE_EQ(from, 5);
    EXPECT_DOUBLE_EQ(to, 5);  // only the round cap: a dot
    v.setProgress(1);
    v.filledSpan(&from, &to);
    EXPECT_DOUBLE_EQ(to, 105);  // the whole track, h to w - h

    v.setProgress(0.5);
    auto c = drawn(v);
    // Filled part dark grey (100), the rest of the track darker (30).
    EXPECT_NEAR(pixel(*c, 20, 2).r, 100, 2);
    EXPECT_NEAR(pixel(*c, 90, 2).r, 30, 2);

    v.setPageToLeft(true);
    v.filledSpan(&from, &to);
    EXPECT_DOUBLE_EQ(from, 105);
    EXPECT_DOUBLE_EQ(to, 55);
    c = drawn(v);
    EXPECT_NEAR(pixel(*c, 90, 2).r, 100, 2);
    EXPECT_NEAR(pixel(*c, 20, 2).r, 30, 2);

    // The light scheme has its own pair of colours.
    v.setToolbarColor_(1);
    c = drawn(v);
    EXPECT_NEAR(pixel(*c, 90, 2).g, 157, 2);
    EXPECT_NEAR(pixel(*c, 20, 2).g, 206, 2);
}

TEST(BookReadProgressView, OutOfRangeProgressStaysOnTheTrack) {
    BookReadProgressView v(ui::Rect(0, 0, 110, 5));
    double from = 0, to = 0;
    v.setProgress(7);
    v.filledSpan(&from, &to);
    EXPECT_DOUBLE_EQ(to, 105);
    v.setProgress(-1);
    v.filledSpan(&from, &to);
    EXPECT_DOUBLE_EQ(to, 5);
    v.setProgress(std::nan(""));
    EXPECT_DOUBLE_EQ(v.progress(), 0);
}

class QNProgressViewTest : public test::VirtualClockTest {};

TEST_F(QNProgressViewTest, FrontTextsLineUpWithTheBackTexts) {
    auto v = std::make_shared<QNProgressView>(ui::Rect(0, 0, 300, 30));
    EXPECT_DOUBLE_EQ(v->maxBarWidth(), 292);
    v->setLeftText("12 MB");
    v->setRightText("40 %");
    EXPECT_EQ(v->leftLabelFront().text(), "12 MB");
    EXPECT_EQ(v->rightLabelBack().text(), "40 %");
    auto inView = [&](ui::View& l) { return l.convertRectTo(l.bounds(), v.get()); };
    EXPECT_EQ(inView(v->leftLabelFront()), inView(v->leftLabelBack()));
    EXPECT_EQ(inView(v->rightLabelFront()), inView(v->rightLabelBack()));
    EXPECT_EQ(v->leftLabelBack().frame().height(), 22);
    EXPECT_EQ(v->leftLabelBack().frame().width(), 100);

    // A new width moves the right texts and the bar's reach.
    v->setProgress(0.5, false);
    v->setFrame(ui::Rect(0, 0, 200, 30));
    EXPECT_DOUBLE_EQ(v->maxBarWidth(), 192);
    EXPECT_DOUBLE_EQ(v->progressValueImage().frame().width(), 96);
    EXPECT_EQ(inView(v->rightLabelFront()), inView(v->rightLabelBack()));
    EXPECT_EQ(v->rightLabelBack().frame().x(), 92);
}

TEST_F(QNProgressViewTest, AnimatedProgressMovesOverAThirdOfASecond) {
    auto v = std::make_shared<QNProgressView>(ui::Rect(0, 0, 208, 30));
    v->setProgress(1.0, true);
    EXPECT_DOUBLE_EQ(v->progressValueImage().frame().width(), 200);  // the model value at once
    EXPECT_LT(v->progressValueImage().presentationFrame().width(), 1);
    advance(0.15);
    const double mid = v->progressValueImage().presentationFrame().width();
    EXPECT_GT(mid, 1);
    EXPECT_LT(mid, 200);
    advance(0.2);
    EXPECT_DOUBLE_EQ(v->progressValueImage().presentationFrame().width(), 200);
    v->setProgress(3, false);
    EXPECT_DOUBLE_EQ(v->progress(), 1);
}

}  // namespace
