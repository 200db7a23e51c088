// A cover dragged on the bookshelf under an installed theme that moves the
// covers within their slots: the floating cover is drawn where the theme
// puts book and folder pictures, stays where the finger took it, and the
// drop slot is decided between the covers as the theme places them.
#include "tests/support/TestHome.h"
#include "LibraryTestSupport.h"

#include "foundation/ThemeLoader.h"
#include "library/BookshelfBookButton.h"
#include "library/BookshelfDragCover.h"
#include "library/FilelistBaseViewItembookshelfModeCell.h"
#include "library/LocalFilelistViewController.h"
#include "platform/ui/NavigationController.h"
#include "platform/core/PropertyList.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

std::vector<std::string> order(const FilelistBaseViewController::ItemList& list) {
    std::vector<std::string> out;
    for (const auto& i : list) out.push_back(i->filename().value_or("?"));
    return out;
}

class BookshelfDragCoverTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        // A theme whose covers stand far right in their slots, folders low.
        const std::string themes = BookCommon::getSettingsFolder() + "/.theme/Offset";
        std::filesystem::create_directories(themes);
        std::ofstream(themes + "/theme.txt") << "ThemeName Offset\nBookImagePosX 20\nBookImagePosY 2\n"
                                                "FolderImagePosX 2\nFolderImagePosY 30\nFolderImageWidth 40\n"
                                                "FolderImageHeight 50\n";
        ASSERT_TRUE(sys::PropertyList::writeFile(
            sys::PlistValue(sys::PlistArray{sys::PlistValue(int64_t{1}), sys::PlistValue(int64_t{0}),
                                            sys::PlistValue(std::string("Offset"))}),
            BookCommon::getSettingsFolder() + "/.theme.lbs"));
        settings->readFromFile();
        ASSERT_TRUE(settings->themeLoader());
        ASSERT_EQ(settings->themeLoader()->getBookShelfBookPos().x(), 20);
    }
    void showShelf() {
        list = std::make_shared<Local>();
        list->setPathFromBooks("");
        list->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(list);
        window->setRootViewController(nav);
        driver->advance(0.5);
        list->changeBookshelfMode(1, true);
        driver->advance(0.5);
        list->onEditBtn();
        driver->advance(0.5);
    }
    BookshelfBookButton* cover(int64_t index) {
        for (auto* c : driver->findAllOf<BookshelfBookButton>())
            if (c->indexNo() == index && c->superview() && !c->isHidden() && c->alpha() > 0.9) return c;
        return nullptr;
    }
    BookshelfBookButton* floating() {
        for (auto* c : driver->findAllOf<BookshelfBookButton>())
            if (std::abs(c->alpha() - 0.8) < 1e-6) return c;
        return nullptr;
    }

    std::shared_ptr<Local> list;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(BookshelfDragCoverTest, TheFloatingCoverIsDrawnAtTheThemesPositionsAndStaysWhereTheFingerTookIt) {
    std::filesystem::create_directories(join(documents(), "Box"));
    for (const char* n : {"a.zip", "b.zip"}) touch(join(documents(), n));
    showShelf();
    const auto names = order(list->itemList());
    const int64_t boxAt = std::find(names.begin(), names.end(), "Box") - names.begin();
    const int64_t bookAt = std::find(names.begin(), names.end(), "a.zip") - names.begin();
    ASSERT_LT(boxAt, 3);

    // A book, taken near its top left corner.
    BookshelfBookButton* book = cover(bookAt);
    ASSERT_TRUE(book);
    const ui::Point grip{10, 12};
    const ui::Point down = book->convertPointToWindow(grip);
    const ui::Point coverAt = book->convertPointToWindow({0, 0});
    driver->touchDown(down);
    driver->advance(1.1);
    ASSERT_TRUE(list->isDragging());
    BookshelfBookButton* drag = floating();
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->bounds().size, FilelistBaseViewItembookshelfModeCell::coverSize());
    EXPECT_EQ(drag->bookThumbView()->frame(), BookshelfDragCover::coverRect(settings, false));
    EXPECT_EQ(drag->bookThumbView()->frame().x(), 20);
    EXPECT_EQ(drag->bookThumbView()->contentMode(), ui::ContentMode::ScaleAspectFit);
    EXPECT_EQ(drag->image(), settings->themeLoader()->getBookshelfBookImage());
    // It lifts off where the cover stood, and follows the finger from there.
    ui::Point at = drag->convertPointToWindow({0, 0});
    EXPECT_NEAR(at.x, coverAt.x, 0.5);
    EXPECT_NEAR(at.y, coverAt.y, 0.5);
    driver->touchMove({down.x + 7, down.y + 3});
    at = drag->convertPointToWindow({0, 0});
    EXPECT_NEAR(at.x, coverAt.x + 7, 0.5);
    EXPECT_NEAR(at.y, coverAt.y + 3, 0.5);
    {
        const std::filesystem::path dir = std::filesystem::path(::test::workDir()) / "snapshots";
        std::filesystem::create_directories(dir);
        ASSERT_TRUE(driver->snapshot((dir / "bookshelf-drag-theme.png").string()));
    }
    driver->touchUp({down.x + 7, down.y + 3});
    driver->advance(0.5);
    EXPECT_FALSE(list->isDragging());

    // A folder: the folder picture, the thumbnail at the folder position.
    BookshelfBookButton* box = cover(boxAt);
    ASSERT_TRUE(box);
    const ui::Point boxDown = box->convertPointToWindow({30, 40});
    driver->touchDown(boxDown);
    driver->advance(1.1);
    ASSERT_TRUE(list->isDragging());
    drag = floating();
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->bookThumbView()->frame(), ui::Rect(2, 30, 40, 50));
    EXPECT_EQ(drag->image(), box->image());
    EXPECT_EQ(drag->bookThumbView()->isHidden(), box->bookThumbView()->isHidden());
    driver->touchUp(boxDown);
    driver->advance(0.5);
}

TEST_F(BookshelfDragCoverTest, TheDropSlotLiesBetweenTheCoversAsTheThemePlacesThem) {
    const bool landscape = false;
    const auto centres = BookshelfDragCover::slotCentres(settings, landscape);
    const int perLine = FilelistBaseViewItembookshelfModeCell::getNumInBookshelfLine(landscape);
    ASSERT_EQ(int(centres.size()), perLine);
    ASSERT_GE(perLine, 3);
    const ui::Rect book = BookshelfDragCover::coverRect(settings, false);
    for (int i = 0; i < perLine; ++i)
        EXPECT_DOUBLE_EQ(centres[size_t(i)],
                         FilelistBaseViewItembookshelfModeCell::getPointOfBookshelf(i, landscape).x + book.x() +
                             book.width() / 2);

    for (const char* n : {"a.zip", "b.zip", "c.zip"}) touch(join(documents(), n));
    showShelf();
    ASSERT_EQ(order(list->itemList()), (std::vector<std::string>{"a.zip", "b.zip", "c.zip"}));
    BookshelfBookButton* first = cover(0);
    ASSERT_TRUE(first);
    // The shelf's left edge in the window, from where the first cover stands.
    const double shelf =
        first->convertPointToWindow({0, 0}).x - FilelistBaseViewItembookshelfModeCell::getPointOfBookshelf(0, landscape).x;
    const double themeMid = (centres[0] + centres[1]) / 2;
    const double buttonMid = themeMid - book.x() - book.width() / 2 +
                             FilelistBaseViewItembookshelfModeCell::coverSize().width / 2;
    ASSERT_LT(buttonMid + 1, themeMid - 1) << "the theme does not move the pictures";
    const ui::Point down = first->convertPointToWindow({first->bounds().width() / 2, 40});
    driver->touchDown(down);
    driver->advance(1.1);
    ASSERT_TRUE(list->isDragging());
    // Past the middle of the slots' buttons but short of the middle of the
    // pictures: still the first slot.
    const double early = shelf + (buttonMid + themeMid) / 2;
    for (int i = 1; i <= 4; ++i) driver->touchMove({down.x + (early - down.x) * i / 4, down.y});
    EXPECT_EQ(order(list->itemList()), (std::vector<std::string>{"a.zip", "b.zip", "c.zip"}));
    // Past the middle of the pictures: the second slot.
    const double x = shelf + themeMid + 2;
    driver->touchMove({x, down.y});
    driver->touchUp({x, down.y});
    driver->advance(0.5);
    EXPECT_EQ(order(list->itemList()), (std::vector<std::string>{"b.zip", "a.zip", "c.zip"}));
}

}  // namespace
