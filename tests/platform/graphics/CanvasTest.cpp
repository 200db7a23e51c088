#include "platform/graphics/Canvas.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

using namespace gfx;

namespace {

struct RGBA {
    int r, g, b, a;
};

RGBA at(Canvas& c, int x, int y) {
    uint32_t p = c.pixel(x, y);
    int a = int(alphaOf(p));
    auto un = [a](uint32_t v) { return a ? int((v * 255 + uint32_t(a) / 2) / uint32_t(a)) : 0; };
    return {un(redOf(p)), un(greenOf(p)), un(blueOf(p)), a};
}

ImageRef twoPixels(Orientation o) {
    // Stored: red, then blue to its right.
    return Image::make(2, 1, {argb(255, 255, 0, 0), argb(255, 0, 0, 255)}, 1.0, o);
}

}  // namespace

TEST(CanvasTest, ImagesDrawUprightForEveryOrientation) {
    // Each orientation turns the stored row into what the viewer must see.
    struct Case {
        Orientation o;
        int w, h;
        int redX, redY, blueX, blueY;
    } cases[] = {
        {Orientation::Up, 2, 1, 0, 0, 1, 0},          {Orientation::UpMirrored, 2, 1, 1, 0, 0, 0},
        {Orientation::Down, 2, 1, 1, 0, 0, 0},        {Orientation::DownMirrored, 2, 1, 0, 0, 1, 0},
        {Orientation::Right, 1, 2, 0, 0, 0, 1},       {Orientation::Left, 1, 2, 0, 1, 0, 0},
        {Orientation::LeftMirrored, 1, 2, 0, 0, 0, 1}, {Orientation::RightMirrored, 1, 2, 0, 1, 0, 0},
    };
    for (auto& c : cases) {
        auto img = twoPixels(c.o);
        ASSERT_EQ(img->pointWidth(), c.w);
        Canvas canvas(c.w * 10, c.h * 10, 10.0);
        canvas.drawImage(*img, Rect(0, 0, c.w, c.h), Interpolation::Nearest);
        RGBA red = at(canvas, c.redX * 10 + 5, c.redY * 10 + 5);
        RGBA blue = at(canvas, c.blueX * 10 + 5, c.blueY * 10 + 5);
        EXPECT_EQ(red.r, 255) << int(c.o);
        EXPECT_EQ(blue.b, 255) << int(c.o);
    }
}

TEST(CanvasTest, NineSlicesKeepCornersAndNeverTurnInsideOut) {
    // 9 x 9 image: a 3-pixel red frame around white.
    std::vector<uint32_t> px(81, argb(255, 255, 255, 255));
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            if (x < 3 || y < 3 || x > 5 || y > 5) px[size_t(y * 9 + x)] = argb(255, 255, 0, 0);
    auto img = Image::make(9, 9, px, 1.0);
    Canvas c(100, 60, 1.0);
    c.drawNineSlice(*img, EdgeInsets{3, 3, 3, 3}, Rect(0, 0, 100, 60), Interpolation::Nearest);
    EXPECT_EQ(at(c, 1, 30).r, 255);     // left edge: 3 wide
    EXPECT_EQ(at(c, 3, 30).g, 255);     // then white
    EXPECT_EQ(at(c, 97, 30).r, 255);
    EXPECT_EQ(at(c, 50, 58).g, 0);      // bottom edge
    EXPECT_EQ(at(c, 50, 30).g, 255);    // stretched middle
    // A destination smaller than the caps shrinks them evenly.
    Canvas small(4, 4, 1.0);
    small.drawNineSlice(*img, EdgeInsets{3, 3, 3, 3}, Rect(0, 0, 4, 4), Interpolation::Nearest);
    EXPECT_EQ(at(small, 0, 0).r, 255);
    EXPECT_EQ(at(small, 3, 3).r, 255);
}

TEST(CanvasTest, TintedDrawingFollowsTheAlphaOnly) {
    std::vector<uint32_t> px(4, 0);
    px[0] = argb(255, 10, 20, 30);   // opaque
    px[3] = argb(128, 0, 0, 128);    // half, premultiplied blue
    auto img = Image::make(2, 2, px, 1.0);
    Canvas c(20, 20, 10.0);
    c.drawImageTinted(*img, Rect(0, 0, 2, 2), Rgba::rgb(0, 1, 0), Interpolation::Nearest);
    RGBA a = at(c, 5, 5), d = at(c, 15, 15), empty = at(c, 15, 5);
    EXPECT_EQ(a.g, 255);
    EXPECT_EQ(a.a, 255);
    EXPECT_EQ(d.g, 255);
    EXPECT_NEAR(d.a, 128, 2);
    EXPECT_EQ(empty.a, 0);
}

TEST(CanvasTest, WritesAPngThatReadsBack) {
    test::TempDir dir("canvas");
    Canvas c(30, 20, 2.0);
    c.fillRect(Rect(0, 0, 15, 10), Rgba::rgb(1, 0.5, 0));
    c.fillRoundedRect(Rect(2, 2, 6, 6), 3, Rgba::rgb(0, 0, 1, 0.5));
    std::string path = dir.file("c.png");
    ASSERT_TRUE(c.writePNG(path));
    auto copy = c.image();
    EXPECT_EQ(copy->width(), 30);
    EXPECT_EQ(copy->scale(), 2.0);
    EXPECT_EQ(copy->pixel(0, 0), c.pixel(0, 0));
    EXPECT_EQ(test::shell("test -s '" + path + "'"), 0);
    EXPECT_FALSE(c.writePNG(dir.file("missing/dir/x.png")));
}
