// What a shelf cover shows besides its picture: the edit mode's selection
// marks, and no name on a theme file's cover.
#include "LibraryTestSupport.h"

#include "library/BookshelfBookButton.h"
#include "library/LocalFilelistViewController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Label.h"

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

class BookshelfCoverMarksTest : public LibraryTest {
protected:
    std::shared_ptr<Local> list;
    std::shared_ptr<ui::NavigationController> nav;

    void showShelf() {
        list = std::make_shared<Local>();
        list->setPathFromBooks("");
        list->setDontRestoreLastStatus(true);
        list->setIsRootViewController(true);
        nav = showInNavigation(list);
        list->changeBookshelfMode(1, true);
        driver->advance(0.5);
    }
    int64_t indexOf(const std::string& name) const {
        const auto& items = list->itemList();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->filename() == name || items[i]->pathFromBooks() == name) return int64_t(i);
        return -1;
    }
    BookshelfBookButton* cover(const std::string& name) {
        const int64_t index = indexOf(name);
        for (auto* c : driver->findAllOf<BookshelfBookButton>())
            if (c->indexNo() == index && c->superview() && !c->isHidden()) return c;
        return nullptr;
    }
    // The mark a cover shows: "" when it shows none.
    std::string mark(const std::string& name) {
        BookshelfBookButton* c = cover(name);
        if (!c) return "no cover";
        ui::ImageView* m = c->selectedImageView();
        if (m->isHidden() || m->alpha() < 0.5 || !m->image()) return "";
        for (const char* n : {"book_select", "book_notselect"})
            if (m->image() == BookCommon::imageNamed(n)) return n;
        return m->image()->name();
    }
};

TEST_F(BookshelfCoverMarksTest, EditModeMarksEveryPickableCoverAndFillsThePickedOnes) {
    for (const char* n : {"a.zip", "b.zip", "c.zip"}) touch(join(documents(), n));
    touch(join(downloads(), "fetched.zip"));
    showShelf();
    // Outside edit mode no cover is marked.
    EXPECT_EQ(mark("a.zip"), "");
    list->onEditBtn();
    driver->advance(0.5);
    EXPECT_EQ(mark("a.zip"), "book_notselect");
    EXPECT_EQ(mark("b.zip"), "book_notselect");

    ASSERT_TRUE(cover("b.zip"));
    driver->tap(*cover("b.zip"));
    driver->advance(0.5);
    EXPECT_EQ(mark("b.zip"), "book_select");
    EXPECT_EQ(mark("a.zip"), "book_notselect");
    // The temporary folder cannot be picked, and carries no mark.
    ASSERT_GE(indexOf("*"), 0);
    EXPECT_EQ(mark("*"), "");
    driver->snapshot(snapshotPath("bookshelf-edit-marks.png"));

    // A second tap takes the pick back.
    driver->tap(*cover("b.zip"));
    driver->advance(0.5);
    EXPECT_EQ(mark("b.zip"), "book_notselect");

    // Done hides the marks again.
    driver->tap(*cover("c.zip"));
    driver->advance(0.5);
    list->onEditDone();
    driver->advance(0.5);
    EXPECT_EQ(mark("c.zip"), "");
    EXPECT_EQ(mark("a.zip"), "");
}

TEST_F(BookshelfCoverMarksTest, AThemeFileShowsItsPictureButNotItsName) {
    touch(join(documents(), "Harbour.lbt"));
    mkdir(join(documents(), "Comics"));
    settings->setValueForKey("isDisplayFoldername", sys::PlistValue(true));
    showShelf();
    BookshelfBookButton* theme = cover("Harbour.lbt");
    ASSERT_TRUE(theme);
    EXPECT_FALSE(theme->bookThumbView()->isHidden());
    EXPECT_TRUE(theme->filenameText()->isHidden());
    EXPECT_FALSE(driver->findByText("Harbour"));
    // Folder names still show where the setting asks for them.
    ASSERT_TRUE(cover("Comics"));
    EXPECT_FALSE(cover("Comics")->filenameText()->isHidden());
}

}  // namespace
