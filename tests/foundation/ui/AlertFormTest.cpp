#include "ToolkitTestSupport.h"

#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PopoverPresentationController.h"
#include "platform/ui/TextField.h"

#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

class Recorder : public QNAlertViewDelegate, public QNActionSheetDelegate {
public:
    void alertViewClickedButtonAtIndex(QNAlertView& a, int64_t i) override {
        std::string entry = "clicked " + std::to_string(i);
        if (ui::TextField* f = a.textFieldAtIndex(0)) entry += " text " + f->text();
        if (ui::TextField* f = a.textFieldAtIndex(1)) entry += " second " + f->text();
        log.push_back(entry);
    }
    void alertViewDidDismissWithButtonIndex(QNAlertView&, int64_t i) override {
        log.push_back("dismissed " + std::to_string(i));
    }
    void willPresentAlertView(QNAlertView&) override { log.push_back("willPresent"); }
    void didPresentAlertView(QNAlertView&) override { log.push_back("didPresent"); }
    void actionSheetClickedButtonAtIndex(QNActionSheet& s, int64_t i) override {
        log.push_back("sheet " + std::to_string(s.userTag()) + " chose " + std::to_string(i));
    }
    std::vector<std::string> log;
};

class AlertFormTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        start();
    }
    void TearDown() override {
        QNAlertView::clearOneInstanceFlag();
        root.reset();
        ToolkitTest::TearDown();
    }
    void start() {
        root = std::make_shared<ViewController>();
        window->setRootViewController(root);
        driver->settle();
    }
    void useDevice(const std::string& preset, const std::string& version) {
        useProfile(preset, version);
        start();
    }
    AlertController* shownController() { return dynamic_cast<AlertController*>(root->presentedViewController()); }
    void chooseTitled(const std::string& title) {
        AlertController* c = shownController();
        ASSERT_NE(c, nullptr);
        for (auto& a : c->actions())
            if (a->title() == title) {
                Button* b = c->buttonForAction(a.get());
                ASSERT_NE(b, nullptr) << title;
                driver->tap(*b);
                driver->advance(0.5);
                return;
            }
        FAIL() << "no action " << title;
    }

    std::shared_ptr<ViewController> root;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

TEST_F(AlertFormTest, FourButtonsGoThroughThePlatformFormWithTheSameIndexes) {
    {
        auto a = std::make_shared<QNAlertView>("Sort", "By what?", recorder, std::string("Cancel"),
                                               std::vector<std::string>{"Name", "Date", "Size"});
        a->show();
        EXPECT_EQ(a->noticeView(), nullptr);
        ASSERT_NE(a->alertController(), nullptr);
        EXPECT_TRUE(a->isRetainSelf());
        // Both present callbacks come with the present call, not after the animation.
        EXPECT_EQ(recorder->log, (std::vector<std::string>{"willPresent", "didPresent"}));
    }
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->preferredStyle(), AlertControllerStyle::Alert);
    EXPECT_EQ(c->alertTitle(), std::optional<std::string>("Sort"));
    ASSERT_EQ(c->actions().size(), 4u);
    EXPECT_EQ(c->actions()[0]->style(), AlertActionStyle::Cancel);
    EXPECT_EQ(c->actions()[3]->style(), AlertActionStyle::Default);
    chooseTitled("Size");
    EXPECT_EQ(recorder->log,
              (std::vector<std::string>{"willPresent", "didPresent", "clicked 3", "dismissed 3"}));
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(AlertFormTest, PlainTextStyleHasOneFieldReadableInTheCallback) {
    auto a = std::make_shared<QNAlertView>("Rename", "", recorder, std::nullopt, std::vector<std::string>{"Done"});
    a->setAlertViewStyle(QNAlertView::kStylePlainText);
    a->show();
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->textFields().size(), 1u);
    EXPECT_FALSE(c->textFields()[0]->isSecureTextEntry());
    EXPECT_EQ(a->textFieldAtIndex(0), c->textFields()[0].get());
    EXPECT_EQ(a->textFieldAtIndex(1), nullptr);
    EXPECT_EQ(a->textFieldAtIndex(-1), nullptr);
    driver->tap(*c->textFields()[0]);
    driver->type("Vol. 2");
    chooseTitled("Done");
    EXPECT_EQ(recorder->log[2], "clicked 0 text Vol. 2");
    EXPECT_EQ(a->buttonSlectedIndex(), 0);
}

TEST_F(AlertFormTest, LoginStyleHasAPlainAndASecureField) {
    auto a = std::make_shared<QNAlertView>("Sign in", "Server", recorder, std::string("Cancel"),
                                           std::vector<std::string>{"Log In"});
    a->setAlertViewStyle(QNAlertView::kStyleLoginAndPassword);
    a->show();
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->textFields().size(), 2u);
    EXPECT_FALSE(c->textFields()[0]->isSecureTextEntry());
    EXPECT_TRUE(c->textFields()[1]->isSecureTextEntry());
    driver->tap(*c->textFields()[0]);
    driver->type("anna");
    driver->tap(*c->textFields()[1]);
    driver->type("pw");
    chooseTitled("Log In");
    EXPECT_EQ(recorder->log[2], "clicked 1 text anna second pw");
}

TEST_F(AlertFormTest, SecureStyleWithoutButtonsGetsOKAsCancel) {
    auto a = std::make_shared<QNAlertView>();
    a->setDelegate(recorder);
    a->setAlertViewStyle(QNAlertView::kStyleSecureText);
    a->show();
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->actions().size(), 1u);
    EXPECT_EQ(c->actions()[0]->title(), "OK");
    EXPECT_EQ(c->actions()[0]->style(), AlertActionStyle::Cancel);
    EXPECT_TRUE(c->textFields()[0]->isSecureTextEntry());
    chooseTitled("OK");
    EXPECT_EQ(recorder->log[2], "clicked 0 text ");
}

TEST_F(AlertFormTest, OneInstanceFlagIsClearedWhenThePlatformFormIsDismissed) {
    auto first = std::make_shared<QNAlertView>("", "Password?", recorder, std::string("Cancel"),
                                               std::vector<std::string>{"OK"});
    first->setIsShowOnlyOneInstance(true);
    first->setAlertViewStyle(QNAlertView::kStyleSecureText);
    first->show();
    driver->advance(0.5);
    EXPECT_TRUE(QNAlertView::isOneInstanceShown());
    auto blocked = std::make_shared<QNAlertView>("", "Blocked", recorder, std::string("OK"), std::vector<std::string>{});
    blocked->setIsShowOnlyOneInstance(true);
    blocked->show();
    EXPECT_EQ(blocked->noticeView(), nullptr);
    chooseTitled("Cancel");
    EXPECT_FALSE(QNAlertView::isOneInstanceShown());

    auto next = std::make_shared<QNAlertView>("", "Next", recorder, std::string("OK"), std::vector<std::string>{});
    next->setIsShowOnlyOneInstance(true);
    next->show();
    EXPECT_NE(next->noticeView(), nullptr);
}

TEST_F(AlertFormTest, NothingToPresentOnLeavesNoFlagBehind) {
    window->setRootViewController(nullptr);
    driver->settle();
    auto a = std::make_shared<QNAlertView>("", "x", recorder, std::string("A"), std::vector<std::string>{"B", "C", "D"});
    a->setIsShowOnlyOneInstance(true);
    a->show();
    EXPECT_FALSE(QNAlertView::isOneInstanceShown());
    EXPECT_FALSE(a->isRetainSelf());
    EXPECT_TRUE(recorder->log.empty());
}

TEST_F(AlertFormTest, AlertsPresentOverTheScreenOnTopOfANavigationStack) {
    auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>());
    window->setRootViewController(nav);
    driver->settle();
    auto a = std::make_shared<QNAlertView>("", "x", recorder, std::string("A"), std::vector<std::string>{"B", "C", "D"});
    a->show();
    driver->advance(0.5);
    ASSERT_NE(a->alertController(), nullptr);
    EXPECT_NE(a->alertController()->presentingViewController(), nullptr);
}

// --- Action sheet ---

TEST_F(AlertFormTest, PhoneSheetComesFromTheBottomAndReportsTheIndex) {
    {
        auto s = std::make_shared<QNActionSheet>();
        s->setTitle("Book.cbz");
        s->addButtonWithTitle("Open");
        s->addButtonWithTitle("Delete");
        s->addButtonWithTitle("Cancel");
        s->setCancelButtonIndex(2);
        s->setUserTag(2);
        s->setDelegate(recorder);
        s->showInView(root->view(), *root);
        EXPECT_TRUE(s->isRetainSelf());
        EXPECT_TRUE(s->message().empty());
    }
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->preferredStyle(), AlertControllerStyle::ActionSheet);
    EXPECT_FALSE(c->showsAsPopover());
    EXPECT_EQ(c->actions()[2]->style(), AlertActionStyle::Cancel);
    EXPECT_EQ(c->message(), std::nullopt);
    chooseTitled("Delete");
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"sheet 2 chose 1"}));
}

TEST_F(AlertFormTest, PadSheetWithoutAnchorIsACentredList) {
    useDevice("pad", "18.0");
    auto s = std::make_shared<QNActionSheet>();
    s->addButtonWithTitle("Add Pages");
    s->addButtonWithTitle("Cancel");
    s->setCancelButtonIndex(1);
    s->setDelegate(recorder);
    s->showInView(nullptr, *root);
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->preferredStyle(), AlertControllerStyle::Alert);
    Rect box = c->contentBox()->frame();
    EXPECT_NEAR(box.x() + box.width() / 2, window->bounds().width() / 2, 1);
    // The fallback anchor is a strip across the middle of the screen.
    EXPECT_EQ(c->popoverPresentationController()->sourceRect(),
              Rect(0, Screen::main().bounds().height() / 2, Screen::main().bounds().width(), 20));
    chooseTitled("Cancel");
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"sheet 0 chose 1"}));
}

TEST_F(AlertFormTest, PadSheetFromABarButtonPointsFromIt) {
    useDevice("pad", "18.0");
    auto item = BarButtonItem::withTitle("Scan");
    auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>());
    nav->topViewController()->navigationItem()->setRightBarButtonItem(item);
    window->setRootViewController(nav);
    driver->settle();
    auto s = std::make_shared<QNActionSheet>();
    s->setTitle("Scanning book");
    s->addButtonWithTitle("Scan Pages");
    s->addButtonWithTitle("Cancel");
    s->setCancelButtonIndex(1);
    s->setDelegate(recorder);
    s->showInView(nullptr, *nav->topViewController(), item);
    driver->advance(0.5);
    AlertController* c = s->alertController();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->preferredStyle(), AlertControllerStyle::ActionSheet);
    EXPECT_TRUE(c->showsAsPopover());
    EXPECT_EQ(c->popoverPresentationController()->barButtonItem(), item);
    // A tap beside the popover is its cancel button.
    driver->tap(Point{30, 1000});
    driver->advance(0.5);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"sheet 0 chose 1"}));
}

TEST_F(AlertFormTest, NewerPhonesAnchorToARectangleOrCentreWithoutOne) {
    useDevice("phone", "26.0");
    auto s = std::make_shared<QNActionSheet>();
    s->addButtonWithTitle("A");
    s->addButtonWithTitle("Cancel");
    s->setCancelButtonIndex(1);
    s->setDelegate(recorder);
    s->showInView(nullptr, *root, Rect(100, 300, 100, 30));
    driver->advance(0.5);
    AlertController* c = shownController();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->preferredStyle(), AlertControllerStyle::ActionSheet);
    EXPECT_TRUE(c->showsAsPopover());
    EXPECT_EQ(c->popoverPresentationController()->sourceView().get(), root->view());
    EXPECT_EQ(c->popoverPresentationController()->sourceRect(), Rect(100, 300, 100, 30));
    chooseTitled("A");
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"sheet 0 chose 0"}));

    auto plain = std::make_shared<QNActionSheet>();
    plain->addButtonWithTitle("B");
    plain->showInView(nullptr, *root);
    driver->advance(0.5);
    ASSERT_NE(shownController(), nullptr);
    EXPECT_EQ(shownController()->preferredStyle(), AlertControllerStyle::Alert);
}

TEST_F(AlertFormTest, SnapshotsOfAnActionSheetInBothLooks) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    for (bool newer : {false, true}) {
        useDevice("phone", newer ? "26.0" : "18.0");
        root->view()->setBackgroundColor(Color::systemBackground());
        auto anchor = std::make_shared<Button>(ButtonType::System);
        anchor->setTitle("Actions");
        anchor->setFrame(Rect(20, 700, 120, 40));
        root->view()->addSubview(anchor);
        auto s = std::make_shared<QNActionSheet>();
        s->setTitle("One Piece 101.cbz");
        for (const char* t : {"Open", "Open from the First Page", "Rename", "Delete", "Cancel"}) s->addButtonWithTitle(t);
        s->setCancelButtonIndex(4);
        s->showInView(nullptr, *root, anchor->frame());
        driver->advance(0.6);
        ASSERT_TRUE(driver->snapshot(snapshotPath(newer ? "action-sheet-newer.png" : "action-sheet-classic.png")));
        AlertController* c = shownController();
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->showsAsPopover(), newer);
    }
}
