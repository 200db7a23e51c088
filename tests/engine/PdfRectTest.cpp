// Link lists of PDF pages: what the viewer asks of them (screen rectangles,
// hit tests) and how they are moved, turned, merged and clipped.
#include "engine/PdfRect.h"

#include <gtest/gtest.h>

namespace {

using gfx::Rect;

PdfRect withLinks(std::initializer_list<Rect> rects) {
    PdfRect r;
    int i = 0;
    for (const Rect& rect : rects) r.addRect(rect, "http://example.org/" + std::to_string(i++));
    return r;
}

TEST(PdfRectTest, ScreenRectanglesRoundAndHitTestsIncludeEdges) {
    PdfRect r = withLinks({Rect(10, 20, 30, 40), Rect(10.6, 20.9, 30, 40), Rect(100, 100, 10, 10)});
    r.addRect(Rect(0, 0, 500, 500), std::nullopt);  // no address: not a link
    ASSERT_EQ(r.getCount(), 3);
    EXPECT_EQ(r.getURIAtIndex(2), "http://example.org/2");
    EXPECT_EQ(r.getURIAtIndex(3), "");
    EXPECT_EQ(r.getRectAtIndex(3), Rect());
    EXPECT_EQ(r.getRectAtIndex(-1), Rect());

    // Halved and rounded to the nearest whole point.
    EXPECT_EQ(r.getRectAtIndexWithScreenScale(0, 2), Rect(5, 10, 15, 20));
    EXPECT_EQ(r.getRectAtIndexWithScreenScale(1, 2), Rect(5, 10, 15, 20));
    EXPECT_EQ(r.getRectAtIndexWithScreenScale(1, 1), Rect(11, 21, 30, 40));

    // Edges belong to the link; the first of overlapping links wins.
    EXPECT_EQ(r.hitTestThePoint({5, 10}, 2), 0);
    EXPECT_EQ(r.hitTestThePoint({20, 30}, 2), 0);
    EXPECT_EQ(r.hitTestThePoint({20.5, 30}, 2), -1);
    EXPECT_EQ(r.hitTestThePoint({110, 110}, 1), 2);
    EXPECT_EQ(r.hitTestThePoint({0, 0}, 1), -1);
    EXPECT_EQ(PdfRect().hitTestThePoint({0, 0}, 1), -1);
}

// Turning a link with its page must give the rectangle that turning the
// page's picture gives: the corners of the link, turned about the page.
TEST(PdfRectTest, TurnedLinksFollowTheirTurnedPage) {
    // Links are read before the turn from a 200 x 300 page (top-left
    // origin); the media size is the page's size after the turn. A page
    // read for a quarter turn flips within its width, which this undoes.
    const double W = 200, H = 300;
    const Rect link(20, 30, 40, 10);  // in the upright page
    struct Case {
        int angle;
        Rect expected;  // in the turned page, scaled by 2 and moved by (5, 7)
    };
    const Case cases[] = {
        {0, Rect(2 * 20 + 5, 2 * 30 + 7, 80, 20)},
        {90, Rect(2 * (H - 30 - 10) + 5, 2 * 20 + 7, 20, 80)},   // clockwise: (x, y) -> (H - y, x)
        {180, Rect(2 * (W - 20 - 40) + 5, 2 * (H - 30 - 10) + 7, 80, 20)},
        {270, Rect(2 * 30 + 5, 2 * (W - 20 - 40) + 7, 20, 80)},  // (x, y) -> (y, W - x)
    };
    for (const Case& c : cases) {
        const bool quarter = c.angle == 90 || c.angle == 270;
        PdfRect r;
        // The reader's flip for quarter turns is within the width.
        const double flip = quarter ? W : H;
        const double yUp = H - link.y() - link.height();  // the link in page space, y up
        r.addRect(Rect(link.x(), flip - yUp - link.height(), link.width(), link.height()), "u");
        r.setMediaSize(quarter ? gfx::Size{H, W} : gfx::Size{W, H});
        r.editRectWithOffset({5, 7}, 2, 2, c.angle);
        EXPECT_EQ(r.getRectAtIndex(0), c.expected) << "angle " << c.angle;
    }
}

TEST(PdfRectTest, MergingAndClippingLargeLinks) {
    PdfRect a = withLinks({Rect(1, 2, 3, 4)});
    a.addPdfRect(a);
    ASSERT_EQ(a.getCount(), 2) << "a list merged with itself doubles";
    EXPECT_EQ(a.getRectAtIndex(1), Rect(1, 2, 3, 4));
    PdfRect empty;
    empty.editRectWithOffset({10, 10}, 2, 2, 90);
    EXPECT_EQ(empty.getCount(), 0);

    const gfx::Size area{1000, 1000};
    PdfRect r = withLinks({
        Rect(0, 0, 100, 500),     // 0.1 W wide: never touched
        Rect(5, 300, 500, 300),   // reaches into the left margin
        Rect(600, 5, 395, 990),   // into the right, top and bottom margins
        Rect(20, 300, 400, 300),  // entirely past the margin: untouched
    });
    r.clipLargeSizeLink(area, 10);
    EXPECT_EQ(r.getRectAtIndex(0), Rect(0, 0, 100, 500));
    EXPECT_EQ(r.getRectAtIndex(1), Rect(10, 300, 490, 300));
    EXPECT_EQ(r.getRectAtIndex(2), Rect(600, 10, 390, 980));
    EXPECT_EQ(r.getRectAtIndex(3), Rect(20, 300, 400, 300));
}

}  // namespace
