// The bars of the bookshelf under an installed theme keep the theme's
// colour when their items change: entering and leaving edit mode, on the
// library's root and inside a folder.
#include "LibraryTestSupport.h"

#include "foundation/ThemeLoader.h"
#include "library/LocalFilelistViewController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Toolbar.h"

#include <filesystem>
#include <fstream>

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

const ui::Color kGold(gfx::Rgba::rgb(1.0, 0xd4 / 255.0, 0x79 / 255.0));

class ThemeBarColoursTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const std::string folder = BookCommon::getSettingsFolder() + "/.theme/Gold";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/theme.txt") << "ThemeName Gold\nTintColor #FFD479\n";
        ASSERT_TRUE(sys::PropertyList::writeFile(
            sys::PlistValue(sys::PlistArray{sys::PlistValue(int64_t{1}), sys::PlistValue(int64_t{0}),
                                            sys::PlistValue(std::string("Gold"))}),
            BookCommon::getSettingsFolder() + "/.theme.lbs"));
        settings->readFromFile();
        ASSERT_TRUE(settings->themeLoader());
        ASSERT_TRUE(settings->themeLoader()->getBookshelfBarColor());
        ASSERT_EQ(ui::Color(*settings->themeLoader()->getBookshelfBarColor()), kGold);
        mkdir(join(documents(), "Comics"));
        touch(join(documents(), "a.zip"));
        touch(join(documents(), "Comics/b.zip"));
    }
    // What a bar button is drawn in: its title's colour, or its picture's.
    static ui::Color drawnIn(ui::Button& b) {
        return b.currentImage() ? b.imageView()->tintColor() : b.titleLabel()->textColor();
    }
    // The colour each item of both bars is drawn in (titles and pictures).
    void expectGold(const std::string& when) {
        ui::NavigationBar* top = nav->navigationBar();
        ASSERT_TRUE(top->topItem());
        auto right = top->topItem()->rightBarButtonItem();
        ASSERT_TRUE(right) << when;
        auto* edit = dynamic_cast<ui::Button*>(top->viewForItem(right.get()));
        ASSERT_TRUE(edit) << when;
        EXPECT_EQ(drawnIn(*edit), kGold) << when << ": " << edit->currentTitle();
        ui::Toolbar* bar = nav->toolbar();
        int seen = 0;
        for (const auto& item : bar->items()) {
            auto* b = dynamic_cast<ui::Button*>(bar->viewForItem(item.get()));
            if (!b || !b->isEnabled() || item->tintColor()) continue;
            ++seen;
            EXPECT_EQ(drawnIn(*b), kGold) << when << ": tool bar item " << seen;
        }
        EXPECT_GT(seen, 0) << when;
    }
    std::shared_ptr<Local> showShelf(const std::string& path) {
        auto list = std::make_shared<Local>();
        list->setPathFromBooks(path);
        list->setDontRestoreLastStatus(true);
        list->setIsRootViewController(path.empty());
        if (!nav) {
            nav = showInNavigation(list);
        } else {
            nav->pushViewController(list, false);
            driver->advance(0.5);
        }
        list->changeBookshelfMode(1, true);
        driver->advance(0.5);
        return list;
    }
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(ThemeBarColoursTest, EditAndDoneKeepTheThemesColourOnTheRootAndInFolders) {
    auto root = showShelf("");
    expectGold("shelf");
    root->onEditBtn();
    driver->advance(0.5);
    expectGold("edit");
    root->onEditDone();
    driver->advance(0.5);
    expectGold("done");

    auto folder = showShelf("Comics");
    expectGold("folder");
    folder->onEditBtn();
    driver->advance(0.5);
    expectGold("folder edit");
    folder->onEditDone();
    driver->advance(0.5);
    expectGold("folder done");
}

}  // namespace
