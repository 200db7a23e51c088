#include "UITestSupport.h"

#include "platform/ui/Animator.h"
#include "platform/ui/View.h"

#include <cmath>

using namespace ui;
using uitest::UITest;

namespace {
class AnimationTest : public UITest {};
}  // namespace

TEST_F(AnimationTest, ModelChangesAtOncePresentationMovesOnTheClock) {
    auto v = std::make_shared<View>(Rect(0, 0, 100, 100));
    window->addSubview(v);
    int calls = 0;
    bool finished = false;
    View::animate(
        1.0, 0, AnimationOptionCurveLinear,
        [&] {
            v->setAlpha(0.0);
            v->setCenter({250, 50});
        },
        [&](bool f) {
            ++calls;
            finished = f;
        });
    EXPECT_EQ(v->alpha(), 0.0);
    EXPECT_EQ(v->center(), (Point{250, 50}));
    EXPECT_DOUBLE_EQ(v->presentationAlpha(), 1.0);
    EXPECT_EQ(v->presentationCenter(), (Point{50, 50}));
    EXPECT_TRUE(Animator::shared().displayLinkRunning());

    advance(0.25);
    EXPECT_NEAR(v->presentationAlpha(), 0.75, 1e-9);
    EXPECT_NEAR(v->presentationCenter().x, 100, 1e-9);
    EXPECT_EQ(calls, 0);
    // Animating views do not take touches unless asked to.
    EXPECT_NE(window->hitTest({50, 50}, nullptr), v.get());

    advance(0.75);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(finished);
    EXPECT_EQ(v->presentationCenter(), (Point{250, 50}));
    EXPECT_FALSE(v->hasAnimations());
    EXPECT_FALSE(Animator::shared().displayLinkRunning());
}

TEST_F(AnimationTest, EaseInOutIsSlowAtTheEndsAndDelayHoldsTheStart) {
    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(v);
    View::animate(1.0, 0.5, AnimationOptionNone, [&] { v->setAlpha(0); });
    advance(0.4);
    EXPECT_DOUBLE_EQ(v->presentationAlpha(), 1.0);  // still waiting
    advance(0.2);                                    // 0.1 s into the curve
    double early = 1.0 - v->presentationAlpha();
    EXPECT_GT(early, 0.0);
    EXPECT_LT(early, 0.1);
    advance(0.4);  // the middle
    EXPECT_NEAR(v->presentationAlpha(), 0.5, 1e-6);
}

TEST_F(AnimationTest, ANewAnimationStartsFromTheShownValueAndInterruptsTheOld) {
    auto v = std::make_shared<View>(Rect(0, 0, 100, 100));
    window->addSubview(v);
    std::vector<bool> results;
    View::animate(1.0, 0, AnimationOptionCurveLinear, [&] { v->setCenter({150, 50}); },
                  [&](bool f) { results.push_back(f); });
    advance(0.5);
    EXPECT_NEAR(v->presentationCenter().x, 100, 1e-9);
    View::animate(1.0, 0, AnimationOptionCurveLinear, [&] { v->setCenter({100, 250}); },
                  [&](bool f) { results.push_back(f); });
    EXPECT_NEAR(v->presentationCenter().x, 100, 1e-9);
    EXPECT_NEAR(v->presentationCenter().y, 50, 1e-9);
    loop().drain();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]);  // the first was cut short
    advance(0.5);
    EXPECT_NEAR(v->presentationCenter().y, 150, 1e-9);
    advance(0.5);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[1]);

    // A plain set during an animation jumps there and reports the old one unfinished.
    View::animate(1.0, [&] { v->setAlpha(0.2); }, [&](bool f) { results.push_back(f); });
    advance(0.1);
    v->setAlpha(0.6);
    EXPECT_DOUBLE_EQ(v->presentationAlpha(), 0.6);
    loop().drain();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_FALSE(results[2]);

    // removeAllAnimations too.
    View::animate(1.0, [&] { v->setCenter({0, 0}); }, [&](bool f) { results.push_back(f); });
    v->removeAllAnimations();
    loop().drain();
    ASSERT_EQ(results.size(), 4u);
    EXPECT_FALSE(results[3]);
    EXPECT_EQ(v->presentationCenter(), (Point{0, 0}));
}

TEST_F(AnimationTest, CompletionsRunLaterEvenWithoutAnythingToAnimate) {
    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(v);
    int calls = 0;
    View::animate(0.3, [&] { v->setAlpha(1.0); /* unchanged */ }, [&](bool f) {
        EXPECT_TRUE(f);
        ++calls;
    });
    EXPECT_EQ(calls, 0);  // never inside the caller
    loop().drain();
    EXPECT_EQ(calls, 1);
    View::animate(0, [&] { v->setAlpha(0.5); }, [&](bool) { ++calls; });
    EXPECT_EQ(v->presentationAlpha(), 0.5);  // zero duration applies at once
    loop().drain();
    EXPECT_EQ(calls, 2);
    View::performWithoutAnimation([&] {
        View::animate(1.0, [&] { v->setAlpha(0.1); });
    });
    EXPECT_EQ(v->presentationAlpha(), 0.1);
}

TEST_F(AnimationTest, SpringsOvershootAndSettleExactly) {
    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(v);
    v->setTransform(AffineTransform::makeScale(0.1, 0.1));
    bool done = false;
    View::animateSpring(0.5, 0, 0.65, 1.0, AnimationOptionCurveEaseOut,
                        [&] { v->setTransform(AffineTransform::identity()); }, [&](bool f) { done = f; });
    double maxScale = 0;
    for (int i = 0; i < 30; ++i) {
        advance(1.0 / 60);
        maxScale = std::max(maxScale, v->presentationTransform().a);
    }
    advance(0.001);  // thirty sixtieths add up to a hair under half a second
    EXPECT_GT(maxScale, 1.0);  // under-damped: passes the target
    EXPECT_TRUE(done);
    EXPECT_TRUE(v->presentationTransform().isIdentity());
}

TEST_F(AnimationTest, TurnsAnimateAsTurnsNotAsShrinkingMatrices) {
    auto v = std::make_shared<View>(Rect(0, 0, 100, 20));
    window->addSubview(v);
    View::animate(1.0, 0, AnimationOptionCurveLinear,
                  [&] { v->setTransform(AffineTransform::makeRotation(M_PI)); });
    advance(0.5);
    AffineTransform mid = v->presentationTransform();
    // Half way a quarter turn, at full size.
    EXPECT_NEAR(mid.a, 0, 1e-9);
    EXPECT_NEAR(std::fabs(mid.b), 1, 1e-9);
    advance(0.5);
    EXPECT_EQ(v->presentationTransform(), AffineTransform::makeRotation(M_PI));
}

TEST_F(AnimationTest, LayoutInsideAnAnimationAnimatesTheNewFrames) {
    struct Stack : View {
        using View::View;
        std::shared_ptr<View> child = std::make_shared<View>();
        bool wide = false;
        void layoutSubviews() override { child->setFrame(Rect(0, 0, wide ? 200 : 100, 10)); }
    };
    auto s = std::make_shared<Stack>(Rect(0, 0, 300, 300));
    s->addSubview(s->child);
    window->addSubview(s);
    s->layoutIfNeeded();
    EXPECT_EQ(s->child->frame().width(), 100);
    View::animate(1.0, 0, AnimationOptionCurveLinear, [&] {
        s->wide = true;
        s->setNeedsLayout();
        s->layoutIfNeeded();
    });
    EXPECT_EQ(s->child->frame().width(), 200);
    advance(0.5);
    EXPECT_NEAR(s->child->presentationFrame().width(), 150, 1e-9);
}

TEST_F(AnimationTest, AllowUserInteractionKeepsAnAnimatingViewTouchable) {
    auto v = std::make_shared<View>(Rect(0, 0, 100, 100));
    window->addSubview(v);
    View::animate(1.0, 0, AnimationOptionAllowUserInteraction, [&] { v->setAlpha(0.5); });
    EXPECT_EQ(window->hitTest({50, 50}, nullptr), v.get());
}

TEST_F(AnimationTest, AViewFreedMidAnimationReportsItUnfinished) {
    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(v);
    std::vector<bool> results;
    View::animate(1.0, [&] { v->setAlpha(0); }, [&](bool f) { results.push_back(f); });
    advance(0.2);
    v->removeFromSuperview();
    v.reset();
    advance(1.0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]);
    EXPECT_FALSE(Animator::shared().displayLinkRunning());
}

TEST_F(AnimationTest, ACompletionMayStartTheNextStep) {
    // The fade-in, wait, fade-out chain that notices use.
    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    v->setAlpha(0);
    window->addSubview(v);
    bool out = false;
    View::animate(0.3, [&] { v->setAlpha(0.8); }, [&](bool) {
        View::animate(0.5, 1.2, AnimationOptionNone, [&] { v->setAlpha(0); }, [&](bool f) { out = f; });
    });
    advance(0.3);
    EXPECT_DOUBLE_EQ(v->presentationAlpha(), 0.8);
    EXPECT_DOUBLE_EQ(v->alpha(), 0.0);  // the second step already set the model
    advance(1.2);
    EXPECT_DOUBLE_EQ(v->presentationAlpha(), 0.8);  // still waiting out the delay
    advance(0.5);
    EXPECT_TRUE(out);
    EXPECT_DOUBLE_EQ(v->presentationAlpha(), 0.0);
}
