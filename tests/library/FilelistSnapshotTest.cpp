#include "LibraryTestSupport.h"

#include "engine/ThumbsCreate.h"
#include "foundation/FolderLockInfo.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/LocalFilelistViewController.h"
#include "library/SortModeSelectedView.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/SearchBar.h"

#include <cmath>
#include <cstdio>

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

// A page picture: a coloured cover with its number, as a PNG.
void writePage(const std::string& path, int n, double hue) {
    gfx::Canvas c(300, 420, 1.0);
    c.fillRect({0, 0, 300, 420}, gfx::Rgba{hue, 0.45, 1.0 - hue, 1});
    c.fillRect({20, 20, 260, 380}, gfx::Rgba{1, 1, 1, 0.85});
    gfx::TextOptions centred;
    centred.alignment = gfx::TextAlignment::Center;
    c.drawText(std::to_string(n), gfx::Font::boldSystem(120), {20, 120, 260, 160}, gfx::Rgba{0.1, 0.1, 0.1, 1},
               centred);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(c.writePNG(path));
}

class FilelistSnapshotTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        textScope.reset();
        textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
        const std::string docs = documents();
        mkdir(join(docs, "Comics"));
        mkdir(join(docs, "Magazines"));
        mkdir(join(docs, ".lock_Private"));
        ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(join(docs, ".lock_Private")));
        for (int i = 1; i <= 3; ++i) writePage(join(docs, "Sketches/page" + std::to_string(i) + ".png"), i, 0.2 * i);
        writePage(join(docs, "[Studio] Cover Story.png"), 7, 0.8);
        touch(join(docs, "Vol 2.zip"));
        touch(join(docs, "Vol 10.zip"));
        touch(join(docs, "Manual.pdf"));
        touch(join(downloads(), "fresh.cbz"));
        // Half-read: page 12 of 40.
        BookCommon::writeFilePageInfoWithFilename(join(docs, "Vol 2.zip"), 11, false, false, 0, false, 40, "", false,
                                                  false);
        BookCommon::writeFilePageInfoWithFilename(join(docs, "Manual.pdf"), 9, false, false, 0, false, 10, "", false,
                                                  false);
        sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue("Vol 2.zip")},
                                     BookCommon::getLastReadingFileStoreFile(docs));
    }

    void showRoot() {
        root = std::make_shared<Local>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.6);
        ThumbsCreate::thumbsCreate()->waitUntilIdle(20);
        driver->advance(0.6);
    }
    // The library in a new window of `device`'s profile.
    void showRootOn(const char* device) {
        window->setRootViewController(nullptr);
        setProfile(device);
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        driver = std::make_unique<ui::test::Driver>(*window);
        showRoot();
    }
    // The relative luminance of a pixel (0 black, 1 white).
    static double luminance(const RGB& p) {
        auto lin = [](int c) {
            const double v = c / 255.0;
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(p.r) + 0.7152 * lin(p.g) + 0.0722 * lin(p.b);
    }
    // The contrast ratio between the darkest and the lightest pixel of a
    // rectangle of the window's last render (window coordinates).
    double contrastIn(const ui::Rect& r) {
        double lo = 1, hi = 0;
        for (double y = r.y(); y < r.maxY(); y += 1.0 / 3)
            for (double x = r.x(); x < r.maxX(); x += 1.0 / 3) {
                const double l = luminance(pixelAt(x, y));
                lo = std::min(lo, l);
                hi = std::max(hi, l);
            }
        return (hi + 0.05) / (lo + 0.05);
    }
    // Scrolls the list to its top so the header shows.
    void revealHeader() {
        auto* tv = root->tableView();
        tv->setContentOffset(tv->minimumContentOffset(), false);
        driver->advance(0.6);
    }

    // The list/bookshelf switch tapped, and its change let run.
    bool showShelves() {
        if (!tapText("Bookshelf")) return false;
        driver->advance(1.0);
        return true;
    }
    bool showList() {
        if (!tapText("List")) return false;
        driver->advance(0.6);
        return true;
    }

    // The window's look changed, and its redraw let run.
    void setLook(ui::UserInterfaceStyle style) {
        window->setUserInterfaceStyle(style);
        driver->advance(0.1);
    }

    std::shared_ptr<Local> root;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(FilelistSnapshotTest, ListBookshelfAndSearch) {
    showRoot();
    // Covers were made for the images in the background and shown.
    auto image = std::make_shared<FilelistItem>();
    image->setType(2);
    image->setPathFromBooks("[Studio] Cover Story.png");
    EXPECT_TRUE(sys::FileManager::fileExists(ThumbsCreate::thumbnailPathForItem(*image, false)));
    EXPECT_TRUE(driver->findByText("Cover Story.png"));  // the bracketed group is left out
    EXPECT_TRUE(driver->findByText("12/40"));
    EXPECT_FALSE(root->isHeaderCellSetVisible());
    ASSERT_TRUE(window->snapshot(snapshotPath("library-list.png")));

    revealHeader();
    EXPECT_TRUE(root->isHeaderCellSetVisible());
    ASSERT_TRUE(window->snapshot(snapshotPath("library-list-header.png")));

    // Date, newest first, by tapping the selector.
    ASSERT_TRUE(tapText("Date"));
    driver->advance(0.5);
    EXPECT_EQ(root->sortMode(), 1);
    ASSERT_TRUE(window->snapshot(snapshotPath("library-list-date.png")));

    ASSERT_TRUE(showShelves());
    ThumbsCreate::thumbsCreate()->waitUntilIdle(20);
    driver->advance(0.6);
    EXPECT_EQ(root->fileListViewMode(), 1);
    ASSERT_TRUE(window->snapshot(snapshotPath("library-bookshelf.png")));

    ASSERT_TRUE(showList());
    EXPECT_EQ(root->fileListViewMode(), 0);
    revealHeader();
    auto* header = dynamic_cast<FilelistBaseViewHeaderCell*>(root->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(header);
    driver->tap(*header->searchBar());
    driver->advance(0.3);
    ASSERT_TRUE(root->searchMaskView());
    EXPECT_FALSE(root->searchMaskView()->isHidden());
    driver->type("vol");
    driver->advance(0.5);
    EXPECT_TRUE(root->searchMaskView()->isHidden());
    ASSERT_EQ(root->itemList().size(), 2u);
    EXPECT_EQ(root->itemList()[0]->filename(), "Vol 10.zip");  // still newest first
    ASSERT_TRUE(window->snapshot(snapshotPath("library-search.png")));

    // Escape leaves the search: the field let go and emptied, every row back.
    const size_t all = root->originalItemList().size();
    ui::TextField* field = header->searchBar()->searchTextField();
    EXPECT_TRUE(driver->key(ui::KeyInput::escape));
    driver->advance(0.5);
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(root->itemList().size(), all);
    EXPECT_TRUE(root->searchMaskView()->isHidden());
    // So it does once the text was cleared with the field's own button,
    // while the list is dimmed for the next search.
    driver->tap(*header->searchBar());
    driver->type("pdf");
    driver->advance(0.3);
    ASSERT_EQ(root->itemList().size(), 1u);
    driver->tap(ui::rectCenter(field->convertRectTo(field->clearButtonRect(), nullptr)));
    driver->advance(0.3);
    EXPECT_FALSE(root->searchMaskView()->isHidden());
    EXPECT_TRUE(driver->key(ui::KeyInput::escape));
    driver->advance(0.5);
    EXPECT_FALSE(field->isEditing());
    EXPECT_TRUE(root->searchMaskView()->isHidden());
    EXPECT_EQ(root->itemList().size(), all);
    EXPECT_EQ(nav->topViewController(), root.get());
}

TEST_F(FilelistSnapshotTest, TheListBookshelfSwitchReadsOnTheShelvesInBothLooks) {
    showRoot();
    revealHeader();
    ASSERT_TRUE(showShelves());
    revealHeader();
    auto* header = dynamic_cast<FilelistBaseViewHeaderCell*>(root->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(header);
    ui::SegmentedControl* seg = header->segmentListModeSelect();
    ASSERT_EQ(seg->selectedSegmentIndex(), 1);
    // The unselected "List": the contrast between its darkest and lightest pixels.
    auto contrast = [&](const std::string& shot) {
        EXPECT_TRUE(window->snapshot(snapshotPath(shot)));
        window->render();
        const ui::Rect r = seg->convertRectTo(seg->segmentRect(0), nullptr);
        return contrastIn(ui::rectInset(r, 6, 4));
    };
    // The sort buttons stand on the shelf: no plank shows through the
    // lower part of a translucent button.
    auto evenButton = [&] {
        window->render();
        ui::View* date = header->segmentSortModeSelect()->button(1);
        const ui::Rect r = date->convertRectTo(date->bounds(), nullptr);
        int lo = 255, hi = 0;
        for (double y = r.y() + 2; y < r.maxY() - 2; y += 0.5) {
            const int g = pixelAt(r.x() + 4, y).g;
            lo = std::min(lo, g);
            hi = std::max(hi, g);
        }
        return hi - lo;
    };
    EXPECT_LE(evenButton(), 12);
    EXPECT_GE(contrast("library-bookshelf-switch-light.png"), 4.5);
    setLook(ui::UserInterfaceStyle::Dark);
    EXPECT_LE(evenButton(), 12);
    EXPECT_GE(contrast("library-bookshelf-switch-dark.png"), 4.5);
    // Back on the list the switch has its own look again.
    window->setUserInterfaceStyle(ui::UserInterfaceStyle::Light);
    ASSERT_TRUE(showList());
    revealHeader();
    header = dynamic_cast<FilelistBaseViewHeaderCell*>(root->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->segmentListModeSelect()->backgroundColor().resolve(false).a, ui::SegmentedControl().backgroundColor().resolve(false).a);
}

TEST_F(FilelistSnapshotTest, TheSearchFieldReadsInBothPresentationsAndLooks) {
    showRoot();
    revealHeader();
    auto header = [&] {
        revealHeader();
        auto* h = dynamic_cast<FilelistBaseViewHeaderCell*>(root->tableView()->cellForRowAtIndexPath({0, 0}));
        EXPECT_TRUE(h);
        return h;
    };
    // The placeholder and the magnifier of the empty field, then typed text,
    // the caret and the clear glyph, each against the field around it.
    auto check = [&](const std::string& name) {
        SCOPED_TRACE(name);
        ui::SearchBar* bar = header()->searchBar();
        ui::TextField* field = bar->searchTextField();
        auto inWindow = [&](const ui::Rect& r) { return field->convertRectTo(r, nullptr); };
        const ui::Rect tr = field->textRect();
        const double w = gfx::Canvas::measureText(field->placeholder(), field->font(), 0).width;
        const ui::Rect line(tr.x(), tr.y() + 8, w, tr.height() - 16);
        window->render();
        EXPECT_TRUE(window->snapshot(snapshotPath("library-search-field-" + name + ".png")));
        EXPECT_GE(contrastIn(inWindow(line)), 3.0) << "placeholder";
        EXPECT_GE(contrastIn(inWindow(field->leftView()->frame())), 3.0) << "magnifier";
        driver->tap(*bar);
        driver->type("vol");
        driver->advance(0.5);
        window->render();
        EXPECT_TRUE(window->snapshot(snapshotPath("library-search-field-" + name + "-typed.png")));
        EXPECT_GE(contrastIn(inWindow(line)), 4.5) << "typed text";
        const double caretX = tr.x() + gfx::Canvas::measureText("vol", field->font(), 0).width;
        EXPECT_GE(contrastIn(inWindow(ui::Rect(caretX - 1, tr.y() + 10, 4, tr.height() - 20))), 3.0) << "caret";
        EXPECT_GE(contrastIn(inWindow(field->clearButtonRect())), 3.0) << "clear glyph";
        EXPECT_TRUE(driver->key(ui::KeyInput::escape));
        driver->advance(0.5);
    };
    check("list-light");
    setLook(ui::UserInterfaceStyle::Dark);
    check("list-dark");
    ASSERT_TRUE(showShelves());
    ASSERT_EQ(root->fileListViewMode(), 1);
    check("bookshelf-dark");
    setLook(ui::UserInterfaceStyle::Light);
    check("bookshelf-light");
}

// The sort bar's titles are small text: each reads at 4.5:1 against its
// button, the selected one (its arrow included) and the others, on the list
// and on the shelves, light and dark, on every device and the newer system.
// The selected button's backing stands apart from the others'.
TEST_F(FilelistSnapshotTest, TheSortBarTitlesReadInTheListAndOnTheShelvesInBothLooks) {
    for (const char* device : {"phone", "pad", "desktop", "phone@26"}) {
        SCOPED_TRACE(device);
        showRootOn(device);
        auto check = [&](const std::string& shot) {
            SCOPED_TRACE(shot);
            revealHeader();
            auto* header = dynamic_cast<FilelistBaseViewHeaderCell*>(root->tableView()->cellForRowAtIndexPath({0, 0}));
            ASSERT_TRUE(header);
            SortModeSelectedView* bar = header->segmentSortModeSelect();
            ASSERT_GT(bar->alpha(), 0.99);
            window->render();
            EXPECT_TRUE(window->snapshot(snapshotPath("library-sortbar-" + std::string(device) + "-" + shot + ".png")));
            double backing[4];
            for (int k = 0; k < 4; ++k) {
                ui::View* b = bar->button(k);
                const ui::Rect r = b->convertRectTo(b->bounds(), nullptr);
                EXPECT_GE(contrastIn(ui::rectInset(r, 4, 4)), 4.5) << bar->labelText(k);
                backing[k] = luminance(pixelAt(r.x() + 2, r.y() + 2));
            }
            const int sel = bar->selectedIndex();
            const double a = backing[sel], b = backing[(sel + 1) % 4];
            EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 1.5) << "selected backing";
        };
        check("list-light-name");
        ASSERT_TRUE(tapText("Date"));
        driver->advance(0.5);
        check("list-light-date");
        setLook(ui::UserInterfaceStyle::Dark);
        check("list-dark-date");
        ASSERT_TRUE(showShelves());
        ASSERT_EQ(root->fileListViewMode(), 1);
        check("bookshelf-dark-date");
        ASSERT_TRUE(tapText("Name"));
        driver->advance(0.5);
        setLook(ui::UserInterfaceStyle::Light);
        check("bookshelf-light-name");
        ASSERT_TRUE(showList());
        window->setRootViewController(nullptr);
        ThumbsCreate::releaseThumbsCreate();
    }
}

TEST_F(FilelistSnapshotTest, TheThumbnailRunEndsWithItsScreen) {
    for (int i = 0; i < 40; ++i) writePage(join(documents(), "Many/p" + std::to_string(i) + ".png"), i, 0.5);
    showRoot();
    auto folder = std::make_shared<Local>();
    folder->setPathFromBooks("Many");
    nav->pushViewController(folder, false);
    driver->advance(0.1);
    nav->popViewController(false);
    // Leaving the screen joins its run before returning.
    EXPECT_FALSE(folder->isThumbsRunActive());
    driver->advance(0.5);
    ThumbsCreate::thumbsCreate()->waitUntilIdle(20);
}

}  // namespace

// The navigation bar's title reads at 4.5:1 and its buttons at 3:1 over the
// shelves, light and dark, on every device: on system 18 on the shelf's dark
// bar, from system 26 on the wood through the bar without a background.
// Back on the list the bar takes its usual colours again.
TEST_F(FilelistSnapshotTest, TheNavigationBarReadsOverTheShelvesAndTheListInBothLooks) {
    for (const char* device : {"phone", "phone@26", "pad@26", "desktop@26"}) {
        SCOPED_TRACE(device);
        showRootOn(device);
        auto check = [&](const std::string& shot) {
            SCOPED_TRACE(shot);
            ui::NavigationBar* bar = nav->navigationBar();
            window->render();
            EXPECT_TRUE(window->snapshot(snapshotPath("library-navbar-" + std::string(device) + "-" + shot + ".png")));
            ui::Label* title = bar->titleLabel();
            ASSERT_EQ(title->text(), "HOME");
            EXPECT_GE(contrastIn(title->convertRectTo(title->textRect(), nullptr)), 4.5) << "title";
            auto edit = root->navigationItem()->rightBarButtonItem();
            ASSERT_TRUE(edit);
            auto* button = dynamic_cast<ui::Button*>(bar->viewForItem(edit.get()));
            ASSERT_TRUE(button);
            ASSERT_EQ(button->currentTitle(), "Edit");
            ui::Label* label = button->titleLabel();
            EXPECT_GE(contrastIn(label->convertRectTo(label->textRect(), nullptr)), 3.0) << "Edit";
        };
        check("list-light");
        revealHeader();
        ASSERT_TRUE(showShelves());
        ASSERT_EQ(root->fileListViewMode(), 1);
        check("bookshelf-light");
        setLook(ui::UserInterfaceStyle::Dark);
        check("bookshelf-dark");
        revealHeader();
        ASSERT_TRUE(showList());
        ASSERT_EQ(root->fileListViewMode(), 0);
        check("list-dark");
        setLook(ui::UserInterfaceStyle::Light);
        check("list-light-again");
        window->setRootViewController(nullptr);
        ThumbsCreate::releaseThumbsCreate();
    }
}
