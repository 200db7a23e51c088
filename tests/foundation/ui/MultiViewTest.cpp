#include "ToolkitTestSupport.h"

#include "foundation/LanguageTables.h"

#include "foundation/ui/QNMultiViewController.h"
#include "foundation/ui/QNTableViewController.h"
#include "foundation/ui/QNViewController.h"
#include "foundation/ui/SelectZoomModesViewController.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "platform/core/FileManager.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationItem.h"
#include "remote/BookTransfer.h"

#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

using Log = std::vector<std::string>;

// A hosted screen that writes its appearance calls to a shared log.
template <class Base>
class Tab : public Base {
public:
    template <class... A>
    Tab(std::string name, Log* log, A... a) : Base(a...), name_(std::move(name)), log_(log) {}
    void viewWillAppear(bool a) override {
        Base::viewWillAppear(a);
        log_->push_back(name_ + " willAppear");
    }
    void viewDidAppear(bool a) override {
        Base::viewDidAppear(a);
        log_->push_back(name_ + " didAppear");
    }
    void viewWillDisappear(bool a) override {
        Base::viewWillDisappear(a);
        log_->push_back(name_ + " willDisappear");
    }
    void viewDidDisappear(bool a) override {
        Base::viewDidDisappear(a);
        log_->push_back(name_ + " didDisappear");
    }

private:
    std::string name_;
    Log* log_;
};
using PlainTab = Tab<QNViewController>;
using TableTab = Tab<QNTableViewController>;

class MultiViewTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        start();
    }
    void TearDown() override {
        TransferScreenFactory::install(nullptr);
        opener.reset();
        ToolkitTest::TearDown();
    }
    void start() {
        opener = std::make_shared<ViewController>();
        window->setRootViewController(opener);
        driver->settle();
    }
    // A container with `count` tabs, presented in its own navigation controller.
    std::shared_ptr<QNMultiViewController> open(int count, int startTab = 0) {
        auto c = std::make_shared<QNMultiViewController>();
        c->setStartTab(startTab);
        nav = std::make_shared<NavigationController>(c);
        for (int i = 0; i < count; ++i) {
            std::string name = "tab" + std::to_string(i);
            if (i % 2)
                c->addTableViewController(std::make_shared<TableTab>(name, &log, TableViewStyle::Grouped), opener, nav,
                                          Image::systemNamed("book"), "Caption " + std::to_string(i));
            else
                c->addViewController(std::make_shared<PlainTab>(name, &log), opener, nav, Image::systemNamed("folder"),
                                     "Caption " + std::to_string(i));
        }
        c->setNavigationController(nav);
        opener->present(nav, true);
        driver->advance(0.6);
        return c;
    }
    std::shared_ptr<ViewController> opener;
    std::shared_ptr<NavigationController> nav;
    Log log;
};

}  // namespace

TEST_F(MultiViewTest, EvenSizesAreCutTowardZero) {
    EXPECT_EQ(QNMultiViewController::roundImageViewRect(Rect(3, 4, 35, 15)), Rect(3, 4, 34, 14));
    EXPECT_EQ(QNMultiViewController::roundImageViewRect(Rect(0, 0, 98.7, 64)), Rect(0, 0, 98, 64));
    EXPECT_EQ(QNMultiViewController::roundImageViewRect(Rect(0, 0, 99.99, 1)), Rect(0, 0, 98, 0));
    EXPECT_EQ(QNMultiViewController::roundImageViewRect(Rect(1.5, 0, -3.5, -2)), Rect(1.5, 0, -2, -2));
}

TEST_F(MultiViewTest, FourTabsOnAPhoneAreNinetyEightPointsWideAtTheBottom) {
    auto c = open(4);
    EXPECT_EQ(c->numbers(), 4);
    EXPECT_EQ(c->baseView(), nullptr);  // the classic look has no glass bar
    // The classic buttons live in the navigation controller's view, over its bottom.
    for (int i = 0; i < 4; ++i) {
        Button* b = c->tabButton(i);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->superview(), nav->view());
        EXPECT_EQ(b->frame(), Rect(98.0 * i, 844 - 34 - 50, 98, 84)) << i;
        EXPECT_EQ(c->tabButtonImage(i)->frame(), Rect(0, 2, 98, 34));
        EXPECT_EQ(c->tabButtonText(i)->frame(), Rect(0, 35, 98, 14));
        EXPECT_EQ(c->tabButtonText(i)->text(), "Caption " + std::to_string(i));
        EXPECT_EQ(c->tabButtonText(i)->font().size, 10);
        EXPECT_EQ(c->tabButtonImage(i)->contentMode(), ContentMode::Center);
        EXPECT_TRUE(c->tabButtonImage(i)->image()->isTemplate());
        EXPECT_EQ(b->backgroundColor(), Color::named("ColorQNMultiViewBg"));
    }
    Size v = c->view()->bounds().size;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c->viewControllerAt(i)->view()->frame(), Rect(0, 0, v.width, v.height - 50));
    EXPECT_EQ(c->viewControllerAt(4), nullptr);
}

TEST_F(MultiViewTest, GlassLookKeepsItsBarInTheContainer) {
    useNewerLook(true);
    start();
    auto c = open(4);
    ASSERT_NE(c->baseView(), nullptr);
    EXPECT_EQ(c->baseView()->cornerRadius(), 25.0);
    EXPECT_EQ(c->baseView()->frame(), Rect(0, 760, 392, 50));  // four rounded tabs overhang the screen
    EXPECT_EQ(c->tabButton(0)->superview(), c->view());
    EXPECT_TRUE(c->tabButton(0)->backgroundColor().isClear());
    EXPECT_EQ(c->tabButton(3)->frame(), Rect(294, 760, 98, 84));
    EXPECT_TRUE(nav->navigationBar()->isTranslucent());
    EXPECT_EQ(c->edgesForExtendedLayout(), unsigned(RectEdgeAll));
    EXPECT_TRUE(c->extendedLayoutIncludesOpaqueBars());
}

TEST_F(MultiViewTest, StartTabIsShownFirstAndSwitchingSendsAppearanceInOrder) {
    auto c = open(4, 2);
    EXPECT_EQ(c->selectedTab(), 2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c->viewControllerAt(i)->view()->isHidden(), i != 2) << i;
    // Only the shown screen hears the container's own appearance.
    EXPECT_EQ(log, (Log{"tab2 willAppear", "tab2 didAppear"}));
    log.clear();

    driver->tap(*c->tabButton(0));
    EXPECT_EQ(log, (Log{"tab2 willDisappear", "tab0 willAppear", "tab2 didDisappear", "tab0 didAppear"}));
    EXPECT_EQ(c->selectedTab(), 0);
    EXPECT_FALSE(c->viewControllerAt(0)->view()->isHidden());
    EXPECT_TRUE(c->viewControllerAt(2)->view()->isHidden());
    EXPECT_EQ(c->tabButtonText(0)->textColor(), QNMultiViewController::selectedTabColor());
    EXPECT_EQ(c->tabButtonImage(0)->tintColor(), QNMultiViewController::selectedTabColor());
    EXPECT_EQ(c->tabButtonText(2)->textColor(), Color::white(0.573));
    EXPECT_EQ(QNMultiViewController::selectedTabColor().resolve(false), Color::rgb255(0, 122, 255).light());
    EXPECT_EQ(QNMultiViewController::selectedTabColor().resolve(true), (gfx::Rgba{1, 1, 1, 1}));

    // The tab already shown runs the same sequence on its one screen.
    log.clear();
    driver->touchDown(driver->centerOf(*c->tabButton(0)));  // tabs switch on touch-down
    EXPECT_EQ(log, (Log{"tab0 willDisappear", "tab0 willAppear", "tab0 didDisappear", "tab0 didAppear"}));
    driver->touchUp(driver->centerOf(*c->tabButton(0)));
}

TEST_F(MultiViewTest, BackLinksAndTheTabLimit) {
    auto c = std::make_shared<QNMultiViewController>();
    auto n = std::make_shared<NavigationController>(c);
    std::vector<std::shared_ptr<PlainTab>> tabs;
    for (int i = 0; i < 6; ++i) {
        tabs.push_back(std::make_shared<PlainTab>("t", &log));
        c->addViewController(tabs.back(), opener, n, nullptr, "x");
    }
    EXPECT_EQ(c->numbers(), 5);
    EXPECT_EQ(tabs[0]->qnMultiViewController(), c.get());
    EXPECT_EQ(tabs[0]->qnNavigationController(), n);
    EXPECT_EQ(tabs[0]->qnParentViewController(), opener);
    EXPECT_EQ(tabs[5]->qnMultiViewController(), nullptr);
    EXPECT_EQ(tabs[0]->navigationController(), n.get());
    // A start tab beyond the tabs shows the first.
    c->setStartTab(9);
    c->loadViewIfNeeded();
    EXPECT_EQ(c->selectedTab(), 0);
}

TEST_F(MultiViewTest, LandscapePutsTheTabsDownTheLeft) {
    auto c = open(4);
    ASSERT_TRUE(window->rotate(InterfaceOrientation::LandscapeLeft));
    driver->advance(1.0);
    Size v = c->view()->bounds().size;
    ASSERT_GT(v.width, v.height);
    const double Y0 = window->statusBarHeight() + nav->navigationBar()->frame().height() + 1;
    const double S = std::round((v.height - Y0) / 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c->tabButton(i)->frame(), Rect(47, Y0 + S * i, 64, S)) << i;
        EXPECT_EQ(c->tabButtonImage(i)->frame(),
                  QNMultiViewController::roundImageViewRect(Rect(0, (S - 50) / 2 + 2, 64, 35)));
        EXPECT_EQ(c->viewControllerAt(i)->view()->frame(), Rect(47 + 64, 0, v.width - 111, v.height));
    }
    // A square window reads as portrait, though the screen's own view under
    // the bars is wider than high: the tabs go back along the bottom.
    ASSERT_TRUE(window->resize({320, 320}));
    driver->advance(1.0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c->tabButton(i)->frame().x(), 80.0 * i) << i;
        EXPECT_EQ(c->tabButton(i)->frame().width(), 80) << i;
    }
}

TEST_F(MultiViewTest, PushingOverTheContainerFadesItsTabsAndCloseDismissesIt) {
    auto c = open(2);
    auto pushed = std::make_shared<ViewController>();
    nav->pushViewController(pushed, true);
    driver->advance(0.6);
    EXPECT_EQ(c->tabButton(0)->alpha(), 0.0);
    nav->popViewController(true);
    driver->advance(0.6);
    EXPECT_EQ(c->tabButton(0)->alpha(), 1.0);

    BarButtonItem* close = c->navigationItem()->leftBarButtonItem().get();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->title(), "Close");
    close->action()(*close);
    driver->advance(0.6);
    EXPECT_EQ(opener->presentedViewController(), nullptr);
}

namespace {

class Factory : public TransferScreenFactory {
public:
    std::shared_ptr<ViewController> makeServerList(const std::shared_ptr<Settings>&,
                                                   const std::shared_ptr<BookTransfer>& q,
                                                   const std::string& path) override {
        seenQueue = q;
        seenPath = path;
        serverList = std::make_shared<QNTableViewController>(TableViewStyle::Grouped);
        return serverList;
    }
    std::shared_ptr<ViewController> makeBookTransfer(const std::shared_ptr<Settings>&,
                                                     const std::shared_ptr<BookTransfer>&) override {
        return nullptr;  // not made: an empty screen stands in
    }
    std::shared_ptr<ViewController> makeSyncHostSelect() override { return nullptr; }
    std::shared_ptr<ViewController> makeServerListOtherSetting(const std::shared_ptr<Settings>&,
                                                               const std::shared_ptr<BookTransfer>&) override {
        return nullptr;
    }
    std::shared_ptr<BookTransfer> seenQueue;
    std::string seenPath;
    std::shared_ptr<QNTableViewController> serverList;
};

}  // namespace

TEST_F(MultiViewTest, TransferScreenHasFourTabsFromTheInstalledFactory) {
    auto factory = std::make_shared<Factory>();
    TransferScreenFactory::install(factory);
    auto queue = std::make_shared<BookTransfer>();
    auto c = TransferMultiViewPush::pushMultiTransferViewWithViewController(*opener, 1, nullptr, queue, "/books/dl");
    driver->advance(0.6);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(factory->seenQueue, queue);
    EXPECT_EQ(factory->seenPath, "/books/dl");
    EXPECT_EQ(c->numbers(), 4);
    EXPECT_EQ(c->selectedTab(), 1);
    EXPECT_EQ(c->viewControllerAt(0), factory->serverList.get());
    EXPECT_EQ(factory->serverList->qnMultiViewController(), c.get());
    EXPECT_EQ(factory->serverList->qnParentViewController(), opener);
    EXPECT_NE(dynamic_cast<QNViewController*>(c->viewControllerAt(1)), nullptr);
    auto* backup = dynamic_cast<QNTableViewController*>(c->viewControllerAt(2));
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(backup->tableViewStyle(), TableViewStyle::Grouped);
    EXPECT_EQ(c->title(), "Remote");
    EXPECT_EQ(c->closeButtonText(), std::optional<std::string>("Close"));
    const char* captions[] = {"Download", "Progress", "Backup", "Configuration"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c->tabButtonText(i)->text(), captions[i]);
        EXPECT_FALSE(c->tabButtonImage(i)->image()->isPlaceholder()) << i;
    }
    auto* presented = dynamic_cast<NavigationController*>(opener->presentedViewController());
    ASSERT_NE(presented, nullptr);
    EXPECT_EQ(presented->topViewController(), c.get());
    EXPECT_EQ(c->navigationController(), presented);
}

TEST_F(MultiViewTest, TransferScreenWithoutAFactoryShowsEmptyScreens) {
    auto c = TransferMultiViewPush::pushMultiTransferViewWithViewController(*opener, 0, nullptr, nullptr, "");
    driver->advance(0.6);
    EXPECT_EQ(c->numbers(), 4);
    EXPECT_NE(dynamic_cast<QNTableViewController*>(c->viewControllerAt(0)), nullptr);
    EXPECT_NE(dynamic_cast<QNTableViewController*>(c->viewControllerAt(3)), nullptr);
    EXPECT_FALSE(c->viewControllerAt(0)->view()->isHidden());
}

TEST(ToolkitTexts, EveryTextTheToolkitShowsIsInTheEnglishTable) {
    LanguageTables::shared().reset();
    auto bytes = sys::FileManager::contentsOfFile(LanguageTables::shared().languagesDirectory() +
                                                  "/en.lproj/Localizable.strings");
    ASSERT_TRUE(bytes);
    auto en = LanguageTables::parse(std::string(bytes->begin(), bytes->end())).entries;
    for (const char* key : {"OK", "Cancel", "Close", "Zoom Modes", "Enabled Modes", "Disabled Modes", "Remote",
                            "Download", "Progress", "Backup", "Configuration", "About", "Submit Bugs and Feedback"})
        EXPECT_TRUE(en.count(key)) << key;
    for (const auto& name : SelectZoomModesViewController::zoomModeNames()) EXPECT_TRUE(en.count(name)) << name;
}

TEST_F(MultiViewTest, SnapshotsOfTheTransferScreenInBothLooks) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    for (bool newer : {false, true}) {
        useNewerLook(newer);
        start();
        auto c = TransferMultiViewPush::pushMultiTransferViewWithViewController(*opener, 1, nullptr, nullptr, "");
        driver->advance(0.8);
        ASSERT_TRUE(driver->snapshot(snapshotPath(newer ? "transfer-tabs-newer.png" : "transfer-tabs-classic.png")));
        // The shown tab's caption is blue, the others grey.
        Rect cap = c->tabButtonText(1)->convertRectTo(c->tabButtonText(1)->bounds(), nullptr);
        EXPECT_GT(cap.width(), 0);
        // Down the left, in the column's 64 points, every caption shows whole.
        ASSERT_TRUE(window->rotate(InterfaceOrientation::LandscapeLeft));
        driver->advance(1.0);
        ASSERT_TRUE(driver->snapshot(snapshotPath(newer ? "transfer-tabs-newer-column.png" : "transfer-tabs-classic-column.png")));
        for (int i = 0; i < 4; ++i) {
            Label* caption = c->tabButtonText(i);
            gfx::TextOptions one;
            one.numberOfLines = 1;
            const double width = gfx::Canvas::measureText(caption->text(), caption->drawnFont(), 0, one).width;
            EXPECT_LE(width, caption->bounds().width()) << caption->text() << " is cut";
        }
        ASSERT_TRUE(window->rotate(InterfaceOrientation::Portrait));
        driver->advance(1.0);
    }
}
