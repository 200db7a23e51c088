#include "ToolkitTestSupport.h"

#include "foundation/ui/LiquidGlassView.h"
#include "foundation/ui/PopupMenuView.h"
#include "platform/ui/ScrollView.h"

#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

// The screen under a menu: it hears the touches the menu passes on.
class Screen : public View, public PopupMenuViewDelegate {
public:
    explicit Screen(const Rect& r) : View(r) {}
    void onRemovePopup() override { log.push_back("onRemovePopup"); }
    void touchesBegan(const TouchSet&, const Event&) override { log.push_back("screen touched"); }
    std::vector<std::string> log;
};

class PopupMenuTest : public ToolkitTest {
protected:
    std::shared_ptr<PopupMenuView> openMenu(int rows, Point at) {
        screen = std::make_shared<Screen>(window->bounds());
        window->addSubview(screen);
        auto menu = std::make_shared<PopupMenuView>(Rect());
        menu->setDelegate(screen.get());
        const char* titles[] = {"About", "Statistics Information", "Settings", "Help"};
        const char* icons[] = {"info.circle", "book", "folder", "magnifyingglass"};
        for (int i = 0; i < rows; ++i) {
            std::string t = titles[i];
            menu->addItem(t, Image::systemNamed(icons[i]), [this, t] { screen->log.push_back("chose " + t); });
        }
        menu->setSize(window->bounds(), at);
        menu->addPopupView(*screen);
        return menu;
    }
    std::shared_ptr<Screen> screen;
};

}  // namespace

TEST_F(PopupMenuTest, ThreeRowsOfTheClassicLookStandAboveThePoint) {
    auto menu = openMenu(3, Point{40, 780});
    EXPECT_FALSE(menu->isGlassLook());
    EXPECT_EQ(menu->frame(), window->bounds());
    EXPECT_EQ(menu->menuRectView()->frame(), Rect(40, 630, 300, 150));  // bottom edge at the point
    ASSERT_EQ(menu->itemList().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        Button* b = menu->itemList()[i]->button();
        EXPECT_EQ(b->frame(), Rect(0, 50.0 * i, 300, 50));
        EXPECT_EQ(b->tag(), i);
        EXPECT_EQ(b->backgroundImage(ControlStateNormal)->name(), i == 0 ? "popupmenubg_top" : "popupmenubg");
        EXPECT_EQ(b->viewWithTag(PopupMenuView::kIconTag)->frame(), Rect(13, 13, 24, 24));
        EXPECT_EQ(b->viewWithTag(PopupMenuView::kLabelTag)->frame(), Rect(50, 0, 250, 50));
    }
    EXPECT_EQ(menu->itemList()[0]->label()->textColor(), Color::rgb255(0, 122, 255));
    EXPECT_TRUE(menu->itemList()[0]->imageView()->image()->isTemplate());
    // The catcher dims lightly, more in dark appearance.
    EXPECT_DOUBLE_EQ(menu->backgroundColor().resolve(false).a, 0.1);
    EXPECT_DOUBLE_EQ(menu->backgroundColor().resolve(true).a, 0.5);

    // It fades in over 0.3 s.
    EXPECT_EQ(menu->presentationAlpha(), 0.0);
    driver->advance(0.15);
    EXPECT_GT(menu->presentationAlpha(), 0.2);
    EXPECT_LT(menu->presentationAlpha(), 0.8);
    driver->advance(0.2);
    EXPECT_EQ(menu->presentationAlpha(), 1.0);
}

TEST_F(PopupMenuTest, ChoosingARowRunsItsActionThenCloses) {
    auto menu = openMenu(3, Point{40, 780});
    driver->advance(0.35);
    Label* title = menu->itemList()[1]->label();
    Point p = driver->centerOf(*menu->itemList()[1]->button());
    driver->touchDown(p);
    EXPECT_EQ(title->textColor(), Color::lightGray());  // pressed
    driver->touchUp(p);
    EXPECT_EQ(title->textColor(), Color::rgb255(0, 122, 255));
    EXPECT_EQ(screen->log, (std::vector<std::string>{"chose Statistics Information", "onRemovePopup"}));
    EXPECT_TRUE(menu->isClosing());
    driver->advance(0.35);
    EXPECT_EQ(menu->superview(), nullptr);
    EXPECT_EQ(driver->findFirst<PopupMenuView>(), nullptr);
}

TEST_F(PopupMenuTest, ATouchOutsideTheRowsClosesAndGoesOnBelow) {
    auto menu = openMenu(2, Point{40, 780});
    driver->advance(0.35);
    driver->tap(Point{200, 200});
    EXPECT_EQ(screen->log, (std::vector<std::string>{"onRemovePopup", "screen touched"}));
    driver->advance(0.35);
    EXPECT_EQ(menu->superview(), nullptr);
    // A second close of a closing menu tells nobody again.
    menu->removePopup();
    EXPECT_EQ(screen->log.size(), 2u);
}

TEST_F(PopupMenuTest, DraggingOffARowRestoresItWithoutChoosing) {
    auto menu = openMenu(2, Point{40, 780});
    driver->advance(0.35);
    Label* title = menu->itemList()[0]->label();
    Point p = driver->centerOf(*menu->itemList()[0]->button());
    driver->touchDown(p);
    driver->touchMove(Point{p.x, p.y - 300});
    driver->touchUp(Point{p.x, p.y - 300});
    EXPECT_EQ(title->textColor(), Color::rgb255(0, 122, 255));
    EXPECT_TRUE(screen->log.empty());
    EXPECT_FALSE(menu->isClosing());
}

TEST_F(PopupMenuTest, GlassLookUsesPillsAndSpringsOutOfThePoint) {
    useNewerLook(true);
    auto menu = openMenu(3, Point{40, 780});
    EXPECT_TRUE(menu->isGlassLook());
    auto* glass = dynamic_cast<LiquidGlassView*>(menu->menuRectView());
    ASSERT_NE(glass, nullptr);
    EXPECT_EQ(glass->materialStyle(), 7);
    EXPECT_EQ(menu->popupPoint(), (Point{60, 745}));
    EXPECT_EQ(menu->menuRectView()->frame(), Rect(60, 580, 320, 165));
    EXPECT_DOUBLE_EQ(menu->backgroundColor().resolve(false).a, 0.0);
    for (int i = 0; i < 3; ++i) {
        Button* b = menu->itemList()[i]->button();
        EXPECT_EQ(b->frame(), Rect(10, 55.0 * i + 8, 300, 39));
        EXPECT_EQ(b->cornerRadius(), 20.0);
        EXPECT_TRUE(b->clipsToBounds());
        EXPECT_EQ(b->superview(), glass->contentView());
        EXPECT_EQ(b->viewWithTag(PopupMenuView::kIconTag)->frame(), Rect(13, 7.5, 24, 24));
        EXPECT_EQ(b->viewWithTag(PopupMenuView::kLabelTag)->frame(), Rect(50, -8, 270, 55));
    }
    Label* title = menu->itemList()[0]->label();
    EXPECT_EQ(title->resolve(title->textColor()), Color::rgb255(0, 122, 255).light());

    // Pops from the point at a tenth of its size, springs home in half a second.
    Point home = rectCenter(window->bounds());
    EXPECT_EQ(menu->center(), home);  // the model is home at once; the drawing springs there
    EXPECT_EQ(menu->presentationCenter(), (Point{60, 745}));
    EXPECT_NEAR(menu->presentationTransform().a, 0.1, 1e-9);
    EXPECT_EQ(menu->presentationAlpha(), 0.0);
    driver->advance(0.6);
    EXPECT_EQ(menu->presentationCenter(), home);
    EXPECT_EQ(menu->presentationTransform(), AffineTransform::identity());
    EXPECT_EQ(menu->presentationAlpha(), 1.0);

    // A pressed pill grows a little and greys, and springs back.
    Button* b = menu->itemList()[2]->button();
    Point p = driver->centerOf(*b);
    driver->touchDown(p);
    EXPECT_DOUBLE_EQ(b->transform().a, 1.05);
    EXPECT_EQ(menu->itemList()[2]->imageView()->tintColor(), Color::lightGray());
    driver->touchUp(p);
    EXPECT_DOUBLE_EQ(b->transform().a, 1.0);
    EXPECT_EQ(screen->log, (std::vector<std::string>{"chose Settings", "onRemovePopup"}));

    // In the smallest window (below its status bar, over its tool bar) the
    // menu keeps inside what it is given.
    auto small = std::make_shared<PopupMenuView>(Rect());
    for (const char* t : {"About", "Statistics Information", "History", "Starting the MediaServer"})
        small->addItem(t, Image::systemNamed("book"), [] {});
    small->setSize(Rect(0, 47, 320, 273), Point{0, 242});
    const Rect r = small->menuRectView()->frame();
    EXPECT_EQ(r, Rect(0, 0, 320, 220));
}

TEST_F(PopupMenuTest, GlassTitlesAreWhiteInTheDark) {
    useNewerLook(true, true);
    auto menu = openMenu(1, Point{40, 780});
    Label* title = menu->itemList()[0]->label();
    EXPECT_EQ(title->resolve(title->textColor()), (gfx::Rgba{1, 1, 1, 1}));
    EXPECT_EQ(menu->itemList()[0]->imageView()->resolve(menu->itemList()[0]->imageView()->tintColor()),
              (gfx::Rgba{1, 1, 1, 1}));
}

TEST_F(PopupMenuTest, SnapshotsOfBothLooks) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    for (bool newer : {false, true}) {
        useNewerLook(newer);
        auto menu = openMenu(4, Point{20, 790});
        screen->setBackgroundColor(Color::systemGroupedBackground());
        auto text = std::make_shared<Label>(Rect(20, 300, 350, 30));
        text->setText("My Library");
        screen->insertSubview(text, 0);
        driver->advance(0.7);
        std::string name = newer ? "popup-menu-glass.png" : "popup-menu-classic.png";
        ASSERT_TRUE(driver->snapshot(snapshotPath(name)));
        Rect r = menu->menuRectView()->frame();
        auto row = pixelAt(r.x() + 290, r.y() + 25 + 55);
        if (!newer) {
            EXPECT_TRUE(near(row, 255, 255, 255, 14)) << row.r << "," << row.g << "," << row.b;
        }
        menu->removeFromSuperview();
    }
}

namespace {
// A screen with a long list and a menu over it, answering keys as the
// library does.
class MenuOwner : public ViewController, public PopupMenuViewDelegate {
public:
    std::vector<KeyCommand> keyCommands() const override { return PopupMenuView::keyCommandsOfOwner(menu); }
    void onRemovePopup() override {
        log.push_back("onRemovePopup");
        menu = nullptr;
    }
    PopupMenuView* menu = nullptr;
    std::vector<std::string> log;
};
}  // namespace

TEST_F(PopupMenuTest, WhileOpenItTakesEveryKeyAndTheArrowsHighlightWhatReturnChooses) {
    auto owner = std::make_shared<MenuOwner>();
    window->setRootViewController(owner);
    auto list = std::make_shared<ScrollView>(window->bounds());
    list->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
    list->setContentSize({390, 5000});
    owner->view()->addSubview(list);
    auto open = [&] {
        auto menu = std::make_shared<PopupMenuView>(Rect());
        menu->setDelegate(owner.get());
        for (const char* t : {"About", "History", "Settings"})
            menu->addItem(t, [&owner, t] { owner->log.push_back(std::string("chose ") + t); });
        menu->setSize(window->bounds(), Point{40, 780});
        menu->addPopupView(*owner->view());
        owner->menu = menu.get();
        driver->advance(0.35);
        return menu;
    };
    auto washed = [](PopupMenuView& m, int row) {
        View* wash = m.itemList()[size_t(row)]->button()->viewWithTag(PopupMenuView::kKeyHighlightTag);
        return wash && !wash->isHidden() && wash->backgroundColor() == Color::systemGray4();
    };
    auto menu = open();
    for (const char* k : {KeyInput::end, KeyInput::pageDown, KeyInput::downArrow}) EXPECT_TRUE(driver->key(k));
    EXPECT_EQ(list->contentOffset().y, 0) << "nothing behind the menu scrolls";
    // Down started at the top row; up goes round to the bottom one, Tab and
    // Shift+Tab move as down and up, Home and End go to either end.
    EXPECT_EQ(menu->keyHighlightedRow(), 0);
    EXPECT_TRUE(washed(*menu, 0));
    driver->key(KeyInput::upArrow);
    EXPECT_EQ(menu->keyHighlightedRow(), 2);
    EXPECT_FALSE(washed(*menu, 0));
    driver->key(KeyInput::tab);
    EXPECT_EQ(menu->keyHighlightedRow(), 0);
    driver->key(KeyInput::tab, KeyModifierShift);
    driver->key(KeyInput::home);
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(menu->keyHighlightedRow(), 1);
    EXPECT_TRUE(washed(*menu, 1));
    EXPECT_TRUE(owner->log.empty());
    driver->key(KeyInput::returnKey);
    EXPECT_EQ(owner->log, (std::vector<std::string>{"chose History", "onRemovePopup"}));
    EXPECT_TRUE(PopupMenuView::keyCommandsOfOwner(menu.get()).empty()) << "a closing menu takes no keys";
    driver->advance(0.35);
    EXPECT_EQ(menu->superview(), nullptr);
    owner->log.clear();

    // Return with nothing highlighted leaves the menu open; Escape closes it.
    menu = open();
    EXPECT_TRUE(driver->key(KeyInput::returnKey));
    EXPECT_FALSE(menu->isClosing());
    driver->key(KeyInput::escape);
    EXPECT_EQ(owner->log, (std::vector<std::string>{"onRemovePopup"}));
    driver->advance(0.35);
    // Closed, the keys reach the list again.
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(list->contentOffset().y, 40);
}
