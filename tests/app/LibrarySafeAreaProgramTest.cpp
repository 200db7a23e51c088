// The library on a phone turned to landscape, through the whole program:
// what it shows starts clear of the sensor housing (the safe area's left
// inset), and the shelves run under the whole width of the window.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/Settings.h"
#include "library/BookshelfBookButton.h"
#include "library/FilelistBaseViewDummyCell.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "library/FilelistBaseViewItembookshelfModeCell.h"
#include "library/LocalFilelistViewController.h"
#include "library/SortModeSelectedView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"

#include <fstream>

namespace {

class LibrarySafeAreaProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("safearea");
        markNotFirstRun();
        for (const char* n : {"Alpha.cbz", "Beta.cbz", "Gamma.cbz"}) std::ofstream(docs() + "/" + n) << "PK";
    }
    void TearDown() override {
        keepShots("safe-area-");
        ProgramRun::TearDown();
    }
    LocalFilelistViewController* list() const {
        return dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    }
    double left() const { return window().safeAreaInsets().left; }
    static double xIn(const ui::View& v) { return v.convertPointToWindow({0, 0}).x; }
    static double rightIn(const ui::View& v) { return v.convertPointToWindow({v.bounds().width(), 0}).x; }
    // Scrolls the list to its top (the header shows) or its end.
    void scrollTo(bool top) {
        ui::TableView* tv = list()->tableView();
        tv->setContentOffset(top ? tv->minimumContentOffset() : tv->maximumContentOffset(), false);
        play("wait 0.5\n");
    }
    // The header's search bar and sort buttons start inside the safe area.
    void expectHeaderClear(const std::string& when) {
        scrollTo(true);
        ui::test::Driver d(window());
        auto headers = d.findAllOf<FilelistBaseViewHeaderCell>();
        ASSERT_FALSE(headers.empty()) << when;
        for (auto* h : headers) {
            EXPECT_GE(xIn(*h->searchBar()), left()) << when;
            EXPECT_GE(xIn(*h->segmentSortModeSelect()), left()) << when;
            EXPECT_LE(rightIn(*h->segmentSortModeSelect()), window().bounds().width() - window().safeAreaInsets().right + 0.5)
                << when;
        }
    }
};

TEST_F(LibrarySafeAreaProgramTest, LandscapeListsAndShelvesKeepClearOfTheSensorHousing) {
    ASSERT_TRUE(launch());
    play("rotate landscape\nwait 1\nshot list\n");
    ASSERT_TRUE(list());
    ASSERT_GT(left(), 0) << "the phone's landscape safe area";
    ui::test::Driver d(window());
    auto rows = d.findAllOf<FilelistBaseViewItemListModeCell>();
    ASSERT_FALSE(rows.empty());
    for (auto* row : rows) EXPECT_GE(xIn(*row->thumbsImageView()), left());
    expectHeaderClear("list");

    // The simple style too.
    program->delegate()->settings()->setValueForKey("bookListStyle", sys::PlistValue("simple"));
    list()->tableView()->reloadData();
    play("wait 1\nshot simple\n");
    rows = d.findAllOf<FilelistBaseViewItemListModeCell>();
    ASSERT_FALSE(rows.empty());
    for (auto* row : rows) EXPECT_GE(xIn(*row->thumbsImageView()), left());

    // The shelves: covers inside the safe area, the wood under the whole row.
    play("tap \"Bookshelf\"\nwait 1\nshot shelf\n");
    ASSERT_EQ(list()->fileListViewMode(), 1);
    expectHeaderClear("shelf");
    const double width = window().bounds().width();
    auto shelves = d.findAllOf<FilelistBaseViewItembookshelfModeCell>();
    ASSERT_FALSE(shelves.empty());
    for (auto* shelf : shelves) {
        EXPECT_NEAR(xIn(*shelf->bgImageView()), 0, 0.5);
        EXPECT_NEAR(rightIn(*shelf->bgImageView()), width, 0.5);
        for (int i = 0; i < FilelistBaseViewItembookshelfModeCell::getMaxNumInBookshelfLine(); ++i) {
            BookshelfBookButton* cover = shelf->button(i);
            if (cover->isHidden()) continue;
            EXPECT_GE(xIn(*cover), left() + 25 - 0.5) << i;
            EXPECT_LE(rightIn(*cover), width - window().safeAreaInsets().right - 25 + 0.5) << i;
        }
    }
    scrollTo(false);
    auto fillers = d.findAllOf<FilelistBaseViewDummyCell>();
    ASSERT_FALSE(fillers.empty());
    for (auto* filler : fillers) {
        EXPECT_NEAR(xIn(*filler->bgImageView()), 0, 0.5);
        EXPECT_NEAR(rightIn(*filler->bgImageView()), width, 0.5);
    }
}

}  // namespace
