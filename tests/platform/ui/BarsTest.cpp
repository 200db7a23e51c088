#include "UITestSupport.h"

#include "platform/ui/NavigationBar.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"

using namespace ui;
using uitest::UITest;

namespace {
class BarsTest : public uitest::DrivenUITest {};
}  // namespace

TEST_F(BarsTest, ToolbarSharesLeftoverWidthAmongFlexibleSpaces) {
    auto bar = std::make_shared<Toolbar>(Rect(0, 800, 390, 44));
    window->addSubview(bar);
    int taps = 0;
    auto a = BarButtonItem::withSystemItem(BarButtonSystemItem::Bookmarks, [&](BarButtonItem&) { ++taps; });
    auto b = BarButtonItem::withSystemItem(BarButtonSystemItem::Add);
    auto c = BarButtonItem::withTitle("abcdefgh");  // 8 x 8.5 = 68 wide at 17 points, 88 with padding
    auto fixed = BarButtonItem::fixedSpace(20);
    bar->setItems({a, BarButtonItem::flexibleSpace(), b, fixed, BarButtonItem::flexibleSpace(), c});
    bar->layoutIfNeeded();
    View* va = bar->viewForItem(a.get());
    View* vb = bar->viewForItem(b.get());
    View* vc = bar->viewForItem(c.get());
    ASSERT_TRUE(va && vb && vc);
    // Buttons are their content plus 10 points a side, at least 44: the
    // 26-point book gives 46.
    EXPECT_EQ(va->frame(), Rect(8, 0, 46, 44));
    EXPECT_EQ(vb->frame().width(), 44);
    EXPECT_EQ(vc->frame().width(), 88);
    EXPECT_EQ(vc->frame().maxX(), 382);
    // 374 - 46 - 44 - 20 - 88 = 176 left over, 88 for each flexible space.
    EXPECT_EQ(vb->frame().x(), 8 + 46 + 88);
    EXPECT_EQ(bar->viewForItem(fixed.get()), nullptr);

    driver->tap(*va);
    EXPECT_EQ(taps, 1);
    // Disabling the item disables its button; taps do nothing.
    a->setEnabled(false);
    EXPECT_FALSE(static_cast<Button*>(va)->isEnabled());
    driver->tap(*va);
    EXPECT_EQ(taps, 1);
    // A new title reaches the button and the layout.
    c->setTitle("ab");
    bar->layoutIfNeeded();
    EXPECT_EQ(static_cast<Button*>(vc)->currentTitle(), "ab");
    EXPECT_EQ(vc->frame().width(), 44);
}

// A phone on its side: the bar is 32 points high and runs under the sensor
// housing. Its items stay inside the bar and clear of the side insets.
TEST_F(BarsTest, CompactToolbarKeepsItsItemsInsideTheBarAndTheSafeArea) {
    window->setOrientation(InterfaceOrientation::LandscapeLeft);
    const Rect w = window->bounds();
    const EdgeInsets safe = window->windowSafeAreaInsets();
    ASSERT_GT(w.width(), w.height());
    auto bar = std::make_shared<Toolbar>(Rect(0, w.height() - 32 - safe.bottom, w.width(), 32));
    window->addSubview(bar);
    auto first = BarButtonItem::withSystemItem(BarButtonSystemItem::Bookmarks);
    auto last = BarButtonItem::withSystemItem(BarButtonSystemItem::Add);
    bar->setItems({first, BarButtonItem::flexibleSpace(), last});
    bar->layoutIfNeeded();
    for (auto* item : {first.get(), last.get()}) {
        View* v = bar->viewForItem(item);
        ASSERT_TRUE(v);
        EXPECT_GE(v->frame().y(), 0);
        EXPECT_LE(v->frame().maxY(), 32) << "the item is cut by the bar's lower edge";
    }
    EXPECT_GE(bar->viewForItem(first.get())->frame().x(), safe.left);
    EXPECT_LE(bar->viewForItem(last.get())->frame().maxX(), w.width() - safe.right);
    window->setOrientation(InterfaceOrientation::Portrait);
}

TEST_F(BarsTest, NavigationBarShowsBackTitleAndPopsWhenAllowed) {
    struct Delegate : NavigationBarDelegate {
        bool allow = true;
        int popped = 0;
        bool navigationBarShouldPopItem(NavigationBar&, NavigationItem&) override { return allow; }
        void navigationBarDidPopItem(NavigationBar&, NavigationItem&) override { ++popped; }
    } d;
    auto bar = std::make_shared<NavigationBar>(Rect(0, 47, 390, 44));
    bar->setDelegate(&d);
    window->addSubview(bar);
    auto root = NavigationItem::make("Library");
    auto book = NavigationItem::make("A very long book title that cannot fit");
    bar->pushItem(root);
    EXPECT_TRUE(bar->backButton()->isHidden());
    bar->pushItem(book);
    EXPECT_FALSE(bar->backButton()->isHidden());
    EXPECT_EQ(bar->backButton()->currentTitle(), "Library");
    root->setBackButtonTitle(std::string("Back"));
    EXPECT_EQ(bar->backButton()->currentTitle(), "Back");
    bar->layoutIfNeeded();
    // The title gives way to the back button and stays inside the bar.
    Rect t = bar->titleLabel()->frame();
    EXPECT_GE(t.x(), bar->backButton()->frame().maxX());
    EXPECT_LE(t.maxX(), 390);

    d.allow = false;
    driver->tap(*bar->backButton());
    EXPECT_EQ(bar->items().size(), 2u);
    d.allow = true;
    driver->tap(*bar->backButton());
    EXPECT_EQ(bar->items().size(), 1u);
    EXPECT_EQ(d.popped, 1);
    EXPECT_EQ(bar->titleLabel()->text(), "Library");
    EXPECT_EQ(bar->popItem(), nullptr);  // the root stays

    // Left items replace the back button unless they supplement it; a hidden
    // back button stays hidden.
    auto next = NavigationItem::make("Next");
    bar->pushItem(next);
    next->setLeftBarButtonItem(BarButtonItem::withSystemItem(BarButtonSystemItem::Cancel));
    EXPECT_TRUE(bar->backButton()->isHidden());
    next->setLeftItemsSupplementBackButton(true);
    EXPECT_FALSE(bar->backButton()->isHidden());
    next->setHidesBackButton(true);
    EXPECT_TRUE(bar->backButton()->isHidden());
    // The right item's view is found and triggers its action.
    int done = 0;
    next->setRightBarButtonItem(BarButtonItem::withSystemItem(BarButtonSystemItem::Done,
                                                              [&](BarButtonItem&) { ++done; }));
    bar->layoutIfNeeded();
    View* dv = bar->viewForItem(next->rightBarButtonItem().get());
    ASSERT_NE(dv, nullptr);
    EXPECT_EQ(dv->frame().maxX(), 382);
    driver->tap(*dv);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(ui::test::Driver::textOf(*dv), "Done");
    bar->setDelegate(nullptr);
}

// Lines scrolled under a translucent bar show through only as a blur: the
// bar's own titles are never read over sharp text.
TEST_F(BarsTest, ATranslucentBarBlursWhatLiesUnderIt) {
    gfx::Canvas c(240, 88, 2.0);  // pixels: 120 x 44 points
    c.fillRect({0, 0, 120, 44}, gfx::Rgba::white(1));
    for (int x = 0; x < 120; x += 4) c.fillRect({double(x), 10, 1, 24}, gfx::Rgba{0, 0, 0, 1});
    Toolbar bar;
    Toolbar::drawBarBackground(c, bar, {0, 0, 120, 44}, BarStyle::Default, std::nullopt, true, nullptr, false, true);
    // Across the lines' band the bar is even: no line stands out of it.
    int lo = 255, hi = 0;
    for (int px = 40; px < 200; ++px) {
        const int g = int(gfx::greenOf(c.pixel(px, 44)));
        lo = std::min(lo, g);
        hi = std::max(hi, g);
    }
    EXPECT_LE(hi - lo, 3) << "lines under the bar show sharp (" << lo << " to " << hi << ")";
    // An opaque bar hides them whole.
    Toolbar::drawBarBackground(c, bar, {0, 0, 120, 44}, BarStyle::Default, std::nullopt, false, nullptr, false, true);
    EXPECT_EQ(c.pixel(80, 44), c.pixel(82, 44));
}
