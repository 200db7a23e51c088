#include "tests/support/TestHome.h"
#include "UITestSupport.h"

#include "platform/core/RunLoop.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Log.h"
#include "platform/ui/View.h"

#include <cmath>
#include <string>
#include <vector>

using namespace ui;
using uitest::UITest;

namespace {

class RenderTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        Application::shared().setStatusBarHidden(true);
        window->setBackgroundColor(Color::whiteColor());
    }
    std::shared_ptr<View> box(const Rect& r, const Color& c) {
        auto v = std::make_shared<View>(r);
        v->setBackgroundColor(c);
        return v;
    }
    void render() { window->render(); }
};

}  // namespace

TEST_F(RenderTest, BackgroundsCornersBordersAndClipping) {
    auto v = box(Rect(20, 20, 100, 100), Color::red());
    v->setCornerRadius(30);
    v->setBorderWidth(4);
    v->setBorderColor(Color::blue());
    window->addSubview(v);
    render();
    EXPECT_TRUE(near(pixelAt(22, 22), 255, 255, 255));  // rounded corner left uncovered
    EXPECT_TRUE(near(pixelAt(70, 70), 255, 0, 0));
    // A child covering the parent: the border still shows on top.
    auto child = box(Rect(0, 0, 100, 100), Color::rgb(0, 1, 0));
    v->addSubview(child);
    // A child reaching outside.
    auto spill = box(Rect(90, 40, 40, 20), Color::rgb(0, 1, 0));
    v->addSubview(spill);
    render();
    EXPECT_TRUE(near(pixelAt(22, 22), 0, 255, 0));      // an unclipped child fills the corner
    EXPECT_TRUE(near(pixelAt(70, 70), 0, 255, 0));      // the child over the background
    EXPECT_TRUE(near(pixelAt(21.5, 70), 0, 0, 255));    // the border on top of it
    EXPECT_TRUE(near(pixelAt(135, 70), 0, 255, 0));     // spilling out
    v->setClipsToBounds(true);
    render();
    EXPECT_TRUE(near(pixelAt(135, 70), 255, 255, 255));  // now cut
    EXPECT_TRUE(near(pixelAt(24.5, 24.5), 255, 255, 255));  // subviews cut at the rounded corner too
    v->setHidden(true);
    render();
    EXPECT_TRUE(near(pixelAt(70, 70), 255, 255, 255));
}

TEST_F(RenderTest, AlphaAppliesToAViewAndItsSubviewsAsOneLayer) {
    auto group = std::make_shared<View>(Rect(0, 100, 300, 100));
    group->setAlpha(0.5);
    group->addSubview(box(Rect(0, 0, 200, 100), Color::black()));
    group->addSubview(box(Rect(100, 0, 200, 100), Color::black()));
    window->addSubview(group);
    render();
    auto single = pixelAt(50, 150), overlap = pixelAt(150, 150);
    EXPECT_TRUE(near(single, 128, 128, 128, 3));
    EXPECT_TRUE(near(overlap, single.r, single.g, single.b, 1));  // not darker where the children overlap
}

TEST_F(RenderTest, TransformsTurnAboutTheCentreAndAnimationsDrawTheirPresentValue) {
    auto v = std::make_shared<View>(Rect(100, 100, 200, 50));
    v->addSubview(box(Rect(0, 0, 100, 50), Color::red()));
    v->addSubview(box(Rect(100, 0, 100, 50), Color::blue()));
    window->addSubview(v);
    render();
    EXPECT_TRUE(near(pixelAt(120, 125), 255, 0, 0));
    v->setTransform(AffineTransform::makeRotation(M_PI));
    render();
    EXPECT_TRUE(near(pixelAt(120, 125), 0, 0, 255));
    EXPECT_TRUE(near(pixelAt(280, 125), 255, 0, 0));
    // A quarter turn stands the strip on end about its centre (200, 125).
    v->setTransform(AffineTransform::makeRotation(M_PI / 2));
    render();
    EXPECT_TRUE(near(pixelAt(200, 40), 255, 0, 0));
    EXPECT_TRUE(near(pixelAt(200, 210), 0, 0, 255));
    EXPECT_TRUE(near(pixelAt(120, 125), 255, 255, 255));

    v->setTransform(AffineTransform::identity());
    View::animate(1.0, 0, AnimationOptionCurveLinear, [&] { v->setAlpha(0); });
    advance(0.5);
    render();
    EXPECT_TRUE(near(pixelAt(120, 125), 255, 128, 128, 3));
    advance(0.5);
    render();
    EXPECT_TRUE(near(pixelAt(120, 125), 255, 255, 255));
}

TEST_F(RenderTest, ShadowsFollowTheShapeOrTheContent) {
    auto card = box(Rect(50, 100, 100, 50), Color::whiteColor());
    card->setShadowColor(Color::black());
    card->setShadowOpacity(1.0);
    card->setShadowOffset({0, 20});
    card->setShadowRadius(0);
    window->addSubview(card);
    render();
    EXPECT_TRUE(near(pixelAt(100, 160), 0, 0, 0, 10));        // under the card, moved down
    EXPECT_TRUE(near(pixelAt(100, 125), 255, 255, 255, 1));  // the card itself on top
    // Without a background the shadow takes the shape of what is drawn: a border.
    auto ring = std::make_shared<View>(Rect(200, 100, 100, 100));
    ring->setBorderWidth(6);
    ring->setBorderColor(Color::red());
    ring->setShadowOpacity(1.0);
    ring->setShadowOffset({10, 10});
    ring->setShadowRadius(0);
    window->addSubview(ring);
    render();
    EXPECT_TRUE(near(pixelAt(305, 150), 0, 0, 0, 10));        // the border's shadow, right of the ring
    EXPECT_TRUE(near(pixelAt(250, 150), 255, 255, 255, 1));  // the empty middle casts nothing
}

TEST_F(RenderTest, AppearanceResolvesColoursWhenDrawn) {
    auto v = box(Rect(0, 100, 100, 100), Color::systemBackground());
    window->addSubview(v);
    render();
    EXPECT_TRUE(near(pixelAt(50, 150), 255, 255, 255));
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    render();
    EXPECT_TRUE(near(pixelAt(50, 150), 0, 0, 0));
}

TEST_F(RenderTest, StatusBarShowsWhenNotHidden) {
    auto blackInk = [&] {
        int n = 0;
        for (double x = 10; x < 70; x += 0.5)
            for (double y = 10; y < 40; y += 0.5)
                if (pixelAt(x, y).r < 80) ++n;
        return n;
    };
    render();
    EXPECT_EQ(blackInk(), 0);
    Application::shared().setStatusBarHidden(false);
    render();
    EXPECT_GT(blackInk(), 10);  // the time
    EXPECT_EQ(window->safeAreaInsets().top, 47);
}

TEST_F(RenderTest, ImagesStretchTintAndFallBackToAPlaceholder) {
    Image::setResourceDirectory(::test::sourceDir() + "/tests/data/ui");
    auto img = Image::named("demo_button.png");  // the suffix is optional and the SVG is found
    ASSERT_FALSE(img->isPlaceholder());
    EXPECT_TRUE(img->isVector());
    EXPECT_EQ(img->size(), (Size{24, 24}));

    // Stretched with 8-point caps, the corners keep their rounding.
    auto iv = std::make_shared<ImageView>(Rect(20, 100, 200, 100));
    iv->setImage(img->resizableImage({8, 8, 8, 8}));
    window->addSubview(iv);
    render();
    EXPECT_TRUE(near(pixelAt(21, 101), 255, 255, 255, 40));  // outside the 7.5 corner radius
    EXPECT_TRUE(near(pixelAt(120, 150), 0x5b, 0x3c, 0xc4, 4));
    EXPECT_TRUE(near(pixelAt(120, 100.2), 0x2d, 0x1a, 0x70, 40));  // the thin edge stays thin
    EXPECT_TRUE(near(pixelAt(120, 102), 0x5b, 0x3c, 0xc4, 4));

    // Template images take the tint colour.
    auto sym = std::make_shared<ImageView>(Image::systemNamed("stop.fill"));
    sym->setFrame(Rect(250, 100, 40, 40));
    sym->setTintColor(Color::red());
    window->addSubview(sym);
    render();
    EXPECT_TRUE(near(pixelAt(270, 120), 255, 0, 0));

    // Unknown names: a warning once, and a magenta placeholder.
    std::vector<std::string> warnings;
    auto old = setWarningSink([&](const std::string& m) { warnings.push_back(m); });
    auto missing = Image::named("no_such_icon");
    Image::named("no_such_icon");
    setWarningSink(old);
    EXPECT_TRUE(missing->isPlaceholder());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("no_such_icon"), std::string::npos);
    auto pv = std::make_shared<ImageView>(missing);
    pv->setFrame(Rect(300, 200, 24, 24));
    window->addSubview(pv);
    render();
    EXPECT_TRUE(near(pixelAt(302, 212), 255, 0, 255));
    // Names cannot leave the asset folder.
    EXPECT_TRUE(Image::named("../ui/demo_button")->isPlaceholder());
    Image::setResourceDirectory("");
}

TEST_F(RenderTest, ContentModesPlaceTheImage) {
    std::vector<uint32_t> px(size_t(40) * 20, gfx::argb(255, 0, 0, 0));
    auto img = Image::withBitmap(gfx::Image::make(40, 20, px, 1.0));  // 40 x 20 points
    auto iv = std::make_shared<ImageView>(Rect(0, 0, 100, 100));
    iv->setImage(img);
    iv->setContentMode(ContentMode::ScaleAspectFit);
    EXPECT_EQ(iv->imageRect(), Rect(0, 25, 100, 50));
    iv->setContentMode(ContentMode::ScaleAspectFill);
    EXPECT_EQ(iv->imageRect(), Rect(-50, 0, 200, 100));
    iv->setContentMode(ContentMode::Center);
    EXPECT_EQ(iv->imageRect(), Rect(30, 40, 40, 20));
    iv->setContentMode(ContentMode::BottomRight);
    EXPECT_EQ(iv->imageRect(), Rect(60, 80, 40, 20));
    iv->setContentMode(ContentMode::ScaleToFill);
    EXPECT_EQ(iv->imageRect(), Rect(0, 0, 100, 100));
    EXPECT_EQ(iv->sizeThatFits({0, 0}), (Size{40, 20}));
    // Aspect fill spills over unless the view clips.
    iv->setContentMode(ContentMode::ScaleAspectFill);
    iv->setFrame(Rect(100, 300, 100, 100));
    window->addSubview(iv);
    render();
    EXPECT_TRUE(near(pixelAt(60, 350), 0, 0, 0));
    iv->setClipsToBounds(true);
    render();
    EXPECT_TRUE(near(pixelAt(60, 350), 255, 255, 255));
}

// Work that waits for the next frame runs once that frame is drawn, after
// it (not within the drawing); with nobody drawing the window's frames it
// simply runs.
TEST_F(RenderTest, WorkAfterTheNextFrameWaitsForItWhereFramesAreDrawn) {
    std::vector<std::string> order;
    window->runAfterNextRender([&] { order.push_back("headless"); });
    sys::RunLoop::main().advance(0.1);
    EXPECT_EQ(order, std::vector<std::string>{"headless"});

    int asked = 0;
    window->setRenderRequestHandler([&] { ++asked; });
    render();
    order.clear();
    window->runAfterNextRender([&] { order.push_back("after"); });
    sys::RunLoop::main().advance(0.1);
    EXPECT_GT(asked, 0) << "no frame asked for";
    EXPECT_TRUE(order.empty()) << "ran before any frame was drawn";
    window->addSubview(box(Rect(0, 0, 10, 10), Color::red()));
    render();
    EXPECT_TRUE(order.empty()) << "ran within the drawing";
    sys::RunLoop::main().advance(0.1);
    EXPECT_EQ(order, std::vector<std::string>{"after"});
    render();
    sys::RunLoop::main().advance(0.1);
    EXPECT_EQ(order.size(), 1u) << "ran again at a later frame";
    window->setRenderRequestHandler({});
}
