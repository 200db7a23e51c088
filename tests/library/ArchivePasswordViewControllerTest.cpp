#include "LibraryTestSupport.h"

#include "library/ArchivePasswordViewController.h"
#include "platform/ui/Keyboard.h"

#include <optional>
#include <vector>

using librarytest::LibraryTest;

namespace {

struct Answers : ArchivePasswordViewControllerDelegate {
    std::vector<std::optional<std::string>> got;
    void finishInputPassword(const std::optional<std::string>& password) override { got.push_back(password); }
};

class ArchivePasswordTest : public LibraryTest {
protected:
    // The screen pushed over a plain screen, as the lists push it.
    void push(bool retry) {
        under = std::make_shared<ui::ViewController>();
        nav = std::make_shared<ui::NavigationController>(under);
        window->setRootViewController(nav);
        driver->advance(0.5);
        screen = std::make_shared<ArchivePasswordViewController>();
        screen->setDelegate(answers);
        screen->setIsPasswordRetry(retry);
        nav->pushViewController(screen, true);
        driver->advance(1.0);
    }

    std::shared_ptr<Answers> answers = std::make_shared<Answers>();
    std::shared_ptr<ui::ViewController> under;
    std::shared_ptr<ui::NavigationController> nav;
    std::shared_ptr<ArchivePasswordViewController> screen;
};

TEST_F(ArchivePasswordTest, TheFieldIsAtMostSixHundredPointsWideAndCentred) {
    push(false);
    screen->configItemPosNew({700, 1000});
    EXPECT_EQ(screen->textField_()->frame(), ui::Rect(50, 250, 600, 30));
    EXPECT_EQ(screen->label_()->frame(), ui::Rect(50, 210, 600, 25));
    screen->configItemPosNew({320, 480});
    EXPECT_EQ(screen->textField_()->frame(), ui::Rect(10, 120, 300, 30));
    EXPECT_EQ(screen->label_()->frame(), ui::Rect(10, 80, 300, 25));
    // A turn of the screen lays it out for the new size.
    screen->viewWillTransitionToSize({844, 390}, nullptr);
    EXPECT_EQ(screen->textField_()->frame().width(), 600);
    EXPECT_EQ(screen->textField_()->frame().y(), 390.0 / 4);
}

TEST_F(ArchivePasswordTest, FirstAskAndRetrySayDifferentThingsAndThePasswordShowsAsDots) {
    push(false);
    EXPECT_EQ(screen->title(), "Password");
    EXPECT_EQ(screen->label_()->text(), "Enter the password for the archive file.");
    EXPECT_TRUE(screen->textField_()->isSecureTextEntry());
    EXPECT_TRUE(screen->textField_()->isFirstResponder());
    nav->popViewController(false);
    driver->advance(0.5);
    push(true);
    EXPECT_EQ(screen->label_()->text(), "The password you entered is incorrect.");
}

TEST_F(ArchivePasswordTest, ReturnClosesAndHandsOverTheTextOnce) {
    push(false);
    driver->type("s3cret pass");
    ASSERT_TRUE(driver->pressReturn());
    // Closed at once (no animation), then the answer.
    EXPECT_EQ(nav->topViewController(), under.get());
    ASSERT_EQ(answers->got.size(), 1u);
    EXPECT_EQ(answers->got[0], "s3cret pass");
    // A second Return that arrives late asks for nothing more.
    screen->inputExit();
    EXPECT_EQ(answers->got.size(), 1u);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(ArchivePasswordTest, AnEmptyFieldIsAnEmptyPasswordAndGoingBackIsNoAnswer) {
    push(false);
    ASSERT_TRUE(driver->pressReturn());
    ASSERT_EQ(answers->got.size(), 1u);
    EXPECT_EQ(answers->got[0], std::optional<std::string>(""));

    push(true);
    driver->type("typed but abandoned");
    nav->popViewController(true);
    driver->advance(1.0);
    EXPECT_EQ(answers->got.size(), 1u);

    // A delegate that has gone away hears nothing and breaks nothing.
    push(false);
    answers.reset();
    ASSERT_TRUE(driver->pressReturn());
    EXPECT_EQ(nav->topViewController(), under.get());
}

}  // namespace
