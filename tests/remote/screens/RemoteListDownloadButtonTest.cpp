// The remote list's floating download button with several rows picked for
// download: its title and fading, and where it sits when text editing
// brings up the on-screen keyboard, when the keyboard goes and when the
// window turns; a list that is no longer shown leaves it alone.
#include "remote/screens/RemoteFileListViewController.h"

#include "platform/ui/Button.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"
#include "tests/library/LibraryTestSupport.h"

#include <gtest/gtest.h>

namespace {

using librarytest::LibraryTest;
using Info = sys::PlistDictionary;

class RemoteListDownloadButtonTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ui::Keyboard::shared().reset();
        settings->setValueForKey("multipleSelectDownload", sys::PlistValue(true));
        const std::string base = "http://127.0.0.1:9/shelf/";
        list = std::make_shared<RemoteFileListViewController>();
        list->setTargetURL(base);
        list->setListTitle("Shelf");
        list->setLists({base + "a.cbz", base + "b.cbz"}, {Info{{"name", sys::PlistValue("a.cbz")}},
                                                          Info{{"name", sys::PlistValue("b.cbz")}}});
        list->setDownloadPath(documents());
        nav = showInNavigation(list);
        list->selectStreamMode(0);
        driver->advance(0.5);
        field = std::make_shared<ui::TextField>(ui::Rect{10, 120, 200, 30});
        list->view()->addSubview(field);
    }
    void TearDown() override {
        if (field) field->resignFirstResponder();
        driver->advance(0.5);
        ui::Keyboard::shared().reset();
        if (nav) nav->setViewControllers({}, false);
        field.reset();
        list.reset();
        nav.reset();
        LibraryTest::TearDown();
    }
    ui::Rect buttonInWindow() const {
        ui::Button* b = list->downloadButton();
        return b->convertRectTo(b->bounds(), nullptr);
    }
    std::string buttonTitle() const {
        auto* label = list->downloadButton()->titleLabel();
        return label ? label->text() : "";
    }

    std::shared_ptr<RemoteFileListViewController> list;
    std::shared_ptr<ui::NavigationController> nav;
    std::shared_ptr<ui::TextField> field;
};

TEST_F(RemoteListDownloadButtonTest, PickedRowsShowTheButtonWithTheirCountAndUnpickingAllHidesIt) {
    ASSERT_TRUE(list->downloadButton());
    // The last row can scroll clear of the button.
    ASSERT_TRUE(list->tableView()->tableFooterView());
    EXPECT_GE(list->tableView()->tableFooterView()->bounds().height(), list->downloadButton()->bounds().height() + 60);
    EXPECT_LT(list->downloadButton()->alpha(), 0.1);
    EXPECT_TRUE(list->downloadButton()->window()) << "the button is not on screen";
    ASSERT_TRUE(tapText("a.cbz"));
    driver->advance(0.5);
    EXPECT_TRUE(list->isSelectedWithIndexNo(0));
    EXPECT_DOUBLE_EQ(list->downloadButton()->alpha(), 1.0);
    EXPECT_EQ(buttonTitle(), "Download Selected File");
    ASSERT_TRUE(tapText("b.cbz"));
    driver->advance(0.5);
    EXPECT_EQ(buttonTitle(), "Download 2 Files");
    // Nothing was queued by the taps: a transfer screen would have been pushed.
    EXPECT_EQ(nav->viewControllers().size(), 1u);

    ASSERT_TRUE(tapText("a.cbz"));
    ASSERT_TRUE(tapText("b.cbz"));
    driver->advance(0.5);
    EXPECT_LT(list->downloadButton()->alpha(), 0.1);

    // Streaming mode drops the picks and the button.
    ASSERT_TRUE(tapText("a.cbz"));
    driver->advance(0.5);
    list->selectStreamMode(1);
    driver->advance(0.5);
    EXPECT_FALSE(list->isSelectedWithIndexNo(0));
    EXPECT_FALSE(list->isSelectDownloadMode());
    EXPECT_LT(list->downloadButton()->alpha(), 0.1);
}

TEST_F(RemoteListDownloadButtonTest, TheButtonRisesAboveTheKeyboardAndComesBackWhenItGoes) {
    const ui::Rect resting = buttonInWindow();
    const ui::Rect win = window->bounds();
    EXPECT_GT(resting.width(), 0);
    EXPECT_LE(resting.maxY(), win.maxY());
    EXPECT_GE(resting.x(), 0);
    EXPECT_LE(resting.maxX(), win.maxX());

    ASSERT_TRUE(field->becomeFirstResponder());
    driver->advance(0.5);
    ASSERT_TRUE(ui::Keyboard::shared().isVisible());
    EXPECT_TRUE(list->isKeyboard());
    const ui::Rect keyboard = ui::Keyboard::frameIn(window.get());
    EXPECT_EQ(list->keyboardRect().height(), keyboard.height());
    const ui::Rect raised = buttonInWindow();
    // Right on top of the keyboard, across the whole width.
    EXPECT_LE(raised.maxY(), keyboard.y() + 0.5);
    EXPECT_GE(raised.maxY(), keyboard.y() - 0.5);
    EXPECT_DOUBLE_EQ(raised.height(), 50);
    EXPECT_DOUBLE_EQ(raised.width(), win.width());

    ASSERT_TRUE(field->resignFirstResponder());
    driver->advance(0.5);
    EXPECT_FALSE(list->isKeyboard());
    EXPECT_EQ(buttonInWindow(), resting);
}

TEST_F(RemoteListDownloadButtonTest, TurningPlacesTheButtonForTheNewShapeAndAboveTheKeyboardThere) {
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    driver->advance(1.0);
    const ui::Rect win = window->bounds();
    ASSERT_GT(win.width(), win.height());
    const ui::Rect landscape = buttonInWindow();
    EXPECT_DOUBLE_EQ(landscape.height(), 50);
    EXPECT_LE(landscape.maxY(), win.maxY());
    EXPECT_LE(landscape.maxX(), win.maxX());
    EXPECT_GT(landscape.width(), win.height()) << "still placed for the upright window";

    ASSERT_TRUE(field->becomeFirstResponder());
    driver->advance(0.5);
    const ui::Rect keyboard = ui::Keyboard::frameIn(window.get());
    const ui::Rect raised = buttonInWindow();
    EXPECT_LE(raised.maxY(), keyboard.y() + 0.5);
    EXPECT_GE(raised.maxY(), keyboard.y() - 0.5);
    EXPECT_DOUBLE_EQ(raised.width(), win.width());
    ASSERT_TRUE(field->resignFirstResponder());
    driver->advance(0.5);
    EXPECT_EQ(buttonInWindow(), landscape);
}

TEST_F(RemoteListDownloadButtonTest, AListThatIsNoLongerShownStopsFollowingTheKeyboard) {
    const ui::Rect resting = buttonInWindow();
    auto other = std::make_shared<ui::ViewController>();
    nav->pushViewController(other, false);
    driver->advance(0.5);
    auto otherField = std::make_shared<ui::TextField>(ui::Rect{10, 120, 200, 30});
    other->view()->addSubview(otherField);
    ASSERT_TRUE(otherField->becomeFirstResponder());
    driver->advance(0.5);
    EXPECT_FALSE(list->isKeyboard());
    EXPECT_EQ(buttonInWindow(), resting);
    ASSERT_TRUE(otherField->resignFirstResponder());
    driver->advance(0.5);

    // Back on screen, it follows again.
    nav->popViewController(false);
    driver->advance(0.5);
    ASSERT_TRUE(field->becomeFirstResponder());
    driver->advance(0.5);
    EXPECT_TRUE(list->isKeyboard());
}

}  // namespace
