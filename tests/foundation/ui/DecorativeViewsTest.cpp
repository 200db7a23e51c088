#include "ToolkitTestSupport.h"

#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/LiquidGlassView.h"
#include "foundation/ui/QNBadge.h"
#include "platform/ui/RecordingUserNotificationCenter.h"

#include <cstdlib>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

double alphaOf(const Color& c, bool dark = false) { return c.resolve(dark).a; }

class DecorativeViewsTest : public ToolkitTest {};

}  // namespace

TEST_F(DecorativeViewsTest, ColourAssetsHaveALightAndADarkValueAndFollowTheWindow) {
    for (const Color& c : {ColorDefine::labelPage(), ColorDefine::labelOpposite(), ColorDefine::selectedBookBackground(),
                           ColorDefine::lastReadBookBackground(), ColorDefine::QNMultiViewBgColor(),
                           ColorDefine::QNAlertViewBgColor()}) {
        EXPECT_FALSE(c.isClear());
        EXPECT_TRUE(c.isDynamic());
    }
    // The opposite colour is readable on the label colour in both appearances.
    EXPECT_EQ(ColorDefine::labelOpposite().resolve(false).r, 1.0);
    EXPECT_EQ(ColorDefine::label().resolve(false).r, 0.0);
    EXPECT_EQ(ColorDefine::labelOpposite().resolve(true).r, 0.0);

    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(v);
    EXPECT_FALSE(ColorDefine::isDarkmode(v.get()));
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    EXPECT_TRUE(ColorDefine::isDarkmode(v.get()));
    EXPECT_TRUE(ColorDefine::isDarkmode(v->traitCollection()));
}

TEST_F(DecorativeViewsTest, GlassViewEndsConstructionWithItsFinalValues) {
    auto g = std::make_shared<LiquidGlassView>(Rect(20, 30, 200, 80));
    EXPECT_EQ(g->materialStyle(), 6);
    EXPECT_EQ(g->cornerRadius(), 20.0);
    EXPECT_EQ(g->roundedContainer()->cornerRadius(), 20.0);
    EXPECT_TRUE(g->roundedContainer()->clipsToBounds());
    EXPECT_FALSE(g->clipsToBounds());
    EXPECT_DOUBLE_EQ(alphaOf(g->tintOverlay()->backgroundColor()), 0.18);
    EXPECT_DOUBLE_EQ(g->borderWidth(), 1.2);
    ASSERT_TRUE(g->borderColor().has_value());
    EXPECT_DOUBLE_EQ(alphaOf(*g->borderColor()), 0.28);
    EXPECT_TRUE(g->hasBlurEffect());
    EXPECT_FALSE(g->vibrancyView()->isHidden());
    EXPECT_DOUBLE_EQ(g->shadowOpacity(), 0.25);
    EXPECT_DOUBLE_EQ(g->shadowRadius(), 12.0);
    EXPECT_EQ(g->shadowOffset(), (Size{0, 8}));
    g->setShowsShadow(false);
    EXPECT_EQ(g->shadowOpacity(), 0.0);

    // Every inner layer follows the view's size, the border with it.
    window->addSubview(g);
    g->setFrame(Rect(20, 30, 260, 120));
    driver->settle();
    EXPECT_EQ(g->roundedContainer()->frame(), Rect(0, 0, 260, 120));
    EXPECT_EQ(g->contentView()->bounds().size, (Size{260, 120}));
    EXPECT_EQ(g->strokeLayer()->frame(), Rect(0, 0, 260, 120));
    g->setCornerRadius(25);
    EXPECT_EQ(g->roundedContainer()->cornerRadius(), 25.0);
}

TEST_F(DecorativeViewsTest, GlassBorderWithoutOwnColourFollowsTheAppearance) {
    auto g = std::make_shared<LiquidGlassView>(Rect(0, 0, 100, 50));
    g->setBorderColor(std::nullopt);
    EXPECT_DOUBLE_EQ(alphaOf(g->currentBorderColor(), false), 0.28);
    EXPECT_DOUBLE_EQ(alphaOf(g->currentBorderColor(), true), 0.18);
    g->setBorderColor(Color::red());
    EXPECT_EQ(g->currentBorderColor(), Color::red());
}

TEST_F(DecorativeViewsTest, ReduceTransparencyDropsTheMaterialButKeepsTheContent) {
    window->setReduceTransparency(true);
    // Something bright behind the glass.
    auto behind = std::make_shared<View>(Rect(0, 0, 300, 100));
    behind->setBackgroundColor(Color::red());
    window->addSubview(behind);
    auto g = std::make_shared<LiquidGlassView>(Rect(10, 10, 200, 60));
    EXPECT_FALSE(g->hasBlurEffect());
    EXPECT_TRUE(g->vibrancyView()->isHidden());
    EXPECT_DOUBLE_EQ(alphaOf(g->tintOverlay()->backgroundColor()), 0.18);
    auto label = std::make_shared<View>(Rect(0, 0, 20, 20));
    g->contentView()->addSubview(label);
    window->addSubview(g);
    EXPECT_TRUE(ui::test::Driver::isVisible(*label));

    // The next change of traits applies the fallback's own tint.
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    EXPECT_DOUBLE_EQ(alphaOf(g->tintOverlay()->backgroundColor()), 0.2);
    // The glass is drawn plain: what lies behind does not show through it.
    for (bool dark : {true, false}) {
        window->setUserInterfaceStyle(dark ? UserInterfaceStyle::Dark : UserInterfaceStyle::Light);
        window->render();
        const auto p = pixelAt(110, 40);
        EXPECT_LT(std::abs(p.r - p.g), 8) << (dark ? "dark: " : "light: ") << p.r << "," << p.g << "," << p.b;
    }
    // A new material does not bring the blur back while the setting is on.
    g->setMaterialStyle(7);
    EXPECT_FALSE(g->hasBlurEffect());

    window->setReduceTransparency(false);
    EXPECT_TRUE(g->hasBlurEffect());
    EXPECT_FALSE(g->vibrancyView()->isHidden());
    EXPECT_DOUBLE_EQ(alphaOf(g->tintOverlay()->backgroundColor()), 0.2);
    EXPECT_EQ(g->materialStyle(), 7);
}

// What lies behind the glass shows through blurred: a sharp black and white
// edge under it has no hard step, beside it the edge stays sharp, and the
// rounded corners keep the page outside them sharp too. Under Reduce
// Transparency the fallback is plain: nothing of the page shows through.
TEST_F(DecorativeViewsTest, TheGlassBlursWhatLiesBehindItWithinItsShape) {
    auto page = std::make_shared<View>(window->bounds());
    page->setBackgroundColor(Color::white(1));
    auto black = std::make_shared<View>(Rect(0, 0, 200, window->bounds().height()));
    black->setBackgroundColor(Color::black());
    page->addSubview(black);
    // A thin white line under the glass's top left corner.
    auto line = std::make_shared<View>(Rect(101, 0, 3, window->bounds().height()));
    line->setBackgroundColor(Color::white(1));
    page->addSubview(line);
    window->addSubview(page);
    auto g = std::make_shared<LiquidGlassView>(Rect(100, 200, 200, 90));
    g->setShowsShadow(false);
    window->addSubview(g);
    const double scale = window->windowTraits().displayScale;
    // The largest step between neighbours along a row at `y` points, from x0 to x1.
    auto largestStep = [&](double y, double x0, double x1) {
        gfx::Canvas& c = window->render();
        int largest = 0;
        const int py = int(y * scale);
        for (int px = int(x0 * scale); px < int(x1 * scale); ++px)
            largest = std::max(largest, std::abs(int(gfx::greenOf(c.pixel(px + 1, py))) - int(gfx::greenOf(c.pixel(px, py)))));
        return largest;
    };
    EXPECT_LT(largestStep(245, 180, 220), 40) << "the edge behind the glass shows sharp";
    EXPECT_GT(largestStep(150, 180, 220), 200) << "the edge above the glass is blurred too";
    // Just outside a rounded corner (the glass's box, not its shape) the page stays as it is.
    EXPECT_EQ(gfx::greenOf(window->render().pixel(int(102 * scale), int(200.5 * scale))), 255u);

    window->setReduceTransparency(true);
    EXPECT_LT(largestStep(245, 180, 220), 3) << "the page shows through the fallback";
    window->setReduceTransparency(false);
    EXPECT_LT(largestStep(245, 180, 220), 40);
}

TEST_F(DecorativeViewsTest, IndicatorFadesInAndCentresOnWholePoints) {
    auto host = std::make_shared<View>(Rect(0, 0, 391, 845));
    window->addSubview(host);
    auto ind = std::make_shared<IndicatorWithBGView>();
    EXPECT_EQ(ind->frame(), Rect(0, 0, 64, 64));
    EXPECT_EQ(ind->imageView()->frame(), Rect(0, 0, 64, 64));
    EXPECT_EQ(ind->indicator()->frame(), Rect(16, 16, 32, 32));
    EXPECT_EQ(ind->indicator()->style(), ActivityIndicatorStyle::Large);
    EXPECT_FALSE(ind->imageView()->image()->isPlaceholder());

    ind->setPosition();  // no superview: nothing
    EXPECT_EQ(ind->center(), (Point{32, 32}));
    host->addSubview(ind);
    ind->setPosition();
    EXPECT_EQ(ind->center(), (Point{195, 422}));

    EXPECT_EQ(ind->imageView()->alpha(), 0.0);
    ind->startAnimating();
    EXPECT_TRUE(ind->indicator()->isAnimating());
    driver->advance(0.25);
    double mid = ind->imageView()->presentationAlpha();
    EXPECT_GT(mid, 0.05);
    EXPECT_LT(mid, 0.95);
    driver->advance(0.3);
    EXPECT_EQ(ind->imageView()->presentationAlpha(), 1.0);

    ind->stopAnimating();
    EXPECT_FALSE(ind->indicator()->isAnimating());
    EXPECT_EQ(ind->imageView()->alpha(), 1.0);  // the backing stays

    ind->setPositionWithIsLandscape(true);
    EXPECT_EQ(ind->center(), (Point{422.5, 195.5}));
    ind->setPositionWithIsLandscape(false);
    EXPECT_EQ(ind->center(), (Point{195.5, 422.5}));
}

TEST_F(DecorativeViewsTest, BadgeChangesOnlyOnceAllowed) {
    auto centre = std::make_shared<ui::RecordingUserNotificationCenter>();
    auto previous = ui::UserNotificationCenter::shared();
    ui::UserNotificationCenter::setShared(centre);
    Application::shared().setApplicationIconBadgeNumber(0);

    EXPECT_FALSE(QNBadge::canChangeBadge());
    QNBadge::changeBadge(3);
    EXPECT_EQ(Application::shared().applicationIconBadgeNumber(), 0);

    centre->grant = false;
    QNBadge::requireBadge();
    driver->settle();
    ASSERT_EQ(centre->authorizationRequests.size(), 1u);
    EXPECT_EQ(centre->authorizationRequests[0],
              unsigned(UserNotificationCenter::OptionBadge | UserNotificationCenter::OptionAlert));
    QNBadge::changeBadge(3);
    EXPECT_EQ(Application::shared().applicationIconBadgeNumber(), 0);

    centre->grant = true;
    QNBadge::requireBadge();
    driver->settle();
    EXPECT_TRUE(QNBadge::canChangeBadge());
    QNBadge::changeBadge(5);
    EXPECT_EQ(Application::shared().applicationIconBadgeNumber(), 5);
    ui::UserNotificationCenter::setShared(previous);
}
