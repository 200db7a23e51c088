// Covers of books of every kind, packed at test time by the real tools, in
// the list and on the shelf of the local library.
#include "LibraryTestSupport.h"

#include "engine/ThumbsCreate.h"
#include "foundation/ThemeLoader.h"
#include "library/BookshelfBookButton.h"
#include "library/FilelistBaseViewItemCell.h"
#include "library/LocalFilelistViewController.h"
#include "platform/graphics/JpegEncoder.h"

#include <map>

using librarytest::LibraryTest;

namespace {

class FilelistCoversTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const std::string src = work.file("src");
        mkdir(src);
        std::vector<uint32_t> px(size_t(300) * 400, 0xFF3070C0u);
        auto bytes = gfx::JpegEncoder::encode(*gfx::Image::make(300, 400, std::move(px), 1.0), 0.9);
        touch(src + "/001.jpg", std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        const std::string docs = documents();
        auto pack = [&](const std::string& tool, const std::string& command, const std::string& name) {
            if (!test::haveProgram(tool)) return;
            ASSERT_EQ(test::shell("cd '" + src + "' && " + command + " '" + docs + "/" + name + "' 001.jpg >/dev/null 2>&1"), 0)
                << name;
            books.push_back(name);
        };
        pack("zip", "zip -q", "a.cbz");
        pack("rar", "rar a -idq", "b.cbr");
        pack("7z", "7z a -bd", "c.cb7");
        if (test::haveProgram("img2pdf")) {
            ASSERT_EQ(test::shell("cd '" + src + "' && img2pdf 001.jpg -o '" + docs + "/d.pdf'"), 0);
            books.push_back("d.pdf");
        }
    }

    // The shelf cover of the entry of that name, null when none shows.
    BookshelfBookButton* shelfCover(const std::string& name) {
        const auto& items = root->itemList();
        for (auto* c : driver->findAllOf<BookshelfBookButton>()) {
            if (!c->superview() || c->isHidden() || c->indexNo() < 0 || size_t(c->indexNo()) >= items.size()) continue;
            if (items[size_t(c->indexNo())]->filename() == name) return c;
        }
        return nullptr;
    }
    void showRoot() {
        root = std::make_shared<LocalFilelistViewController>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        settle();
    }
    void settle() {
        driver->advance(0.6);
        ASSERT_TRUE(ThumbsCreate::thumbsCreate()->waitUntilIdle(30));
        driver->advance(0.6);
    }
    // The books shown with a cover, by name.
    std::map<std::string, bool> shown() {
        std::map<std::string, bool> out;
        for (ui::TableViewCell* cell : root->tableView()->visibleCells()) {
            auto* row = dynamic_cast<FilelistBaseViewItemCell*>(cell);
            if (!row) continue;
            for (const auto& slot : row->book()) {
                if (!slot.item() || slot.isInvalidItem() || slot.item()->type() == 0) continue;
                out[slot.item()->filename().value_or("")] = slot.thumbs() && slot.thumbs()->image();
            }
        }
        return out;
    }

    test::TempDir work{"coversrc"};
    std::vector<std::string> books;
    std::shared_ptr<LocalFilelistViewController> root;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(FilelistCoversTest, EveryKindOfBookShowsItsCoverInTheListAndOnTheShelf) {
    showRoot();
    std::map<std::string, bool> expected;
    for (const auto& name : books) expected[name] = true;
    EXPECT_EQ(shown(), expected);

    // The presentation selector is in the header, above the first row.
    root->tableView()->setContentOffset(root->tableView()->minimumContentOffset(), false);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Bookshelf"));
    settle();
    EXPECT_EQ(root->fileListViewMode(), 1);
    EXPECT_EQ(shown(), expected);
}

TEST_F(FilelistCoversTest, AVisitedFolderShowsTheCoverOfItsBookOnTheShelfWhereTheThemeShowsFolderPictures) {
    ASSERT_FALSE(books.empty());
    mkdir(join(documents(), "Series"));
    std::filesystem::copy_file(join(documents(), books[0]), join(documents(), "Series/" + books[0]));
    showRoot();
    root->changeBookshelfMode(1, true);
    settle();
    ASSERT_TRUE(shelfCover("Series"));
    // No book of the folder has a cover yet: the folder's own picture.
    const ui::ImageRef icon = shelfCover("Series")->bookThumbView()->image();
    const bool iconHidden = shelfCover("Series")->bookThumbView()->isHidden();
    ASSERT_TRUE(settings->themeLoader());
    EXPECT_NE(settings->themeLoader()->getBookShelfFolderPos(), settings->themeLoader()->getBookShelfBookPos());
    const std::string thumbsFile = join(documents(), "Series/.thumbs.dat");
    EXPECT_FALSE(std::filesystem::exists(thumbsFile));

    // A visit makes its book's cover; back on the shelf, the folder's cover
    // is made from it and shown in the theme's folder frame.
    auto folder = std::make_shared<LocalFilelistViewController>();
    folder->setPathFromBooks("Series");
    folder->setDontRestoreLastStatus(true);
    nav->pushViewController(folder, true);
    settle();
    // The book's cover, made while the folder's shelf slid in, shows there.
    bool bookCovered = false;
    for (auto* c : driver->findAllOf<BookshelfBookButton>())
        if (c->superview() && !c->isHidden() && c->indexNo() == 0 && folder->itemList().size() == 1)
            if (c->bookThumbView()->image())
                if (gfx::ImageRef b = c->bookThumbView()->image()->bitmap())
                    bookCovered = ((b->pixel(b->width() / 2, b->height() / 2) >> 16) & 0xFF) < 0x60;
    EXPECT_TRUE(bookCovered);
    nav->popViewController(false);
    settle();
    ASSERT_TRUE(std::filesystem::exists(thumbsFile));
    BookshelfBookButton* cover = shelfCover("Series");
    ASSERT_TRUE(cover);
    ui::ImageView* picture = cover->bookThumbView();
    EXPECT_FALSE(picture->isHidden());
    ASSERT_TRUE(settings->themeLoader());
    EXPECT_EQ(picture->frame(), settings->themeLoader()->getBookShelfFolderPos());
    ASSERT_TRUE(picture->image());
    gfx::ImageRef bitmap = picture->image()->bitmap();
    ASSERT_TRUE(bitmap);
    // The book's blue page, JPEG twice over.
    const uint32_t mid = bitmap->pixel(bitmap->width() / 2, bitmap->height() / 2);
    EXPECT_NEAR(int((mid >> 16) & 0xFF), 0x30, 24);
    EXPECT_NEAR(int((mid >> 8) & 0xFF), 0x70, 24);
    EXPECT_NEAR(int(mid & 0xFF), 0xC0, 24);
    driver->snapshot(snapshotPath("bookshelf-folder-cover.png"));

    // "Folder Style" shows its folder picture alone.
    settings->themeLoader()->changeTheme(0, 1);
    root->tableView()->reloadData();
    driver->advance(0.6);
    ASSERT_TRUE(shelfCover("Series"));
    picture = shelfCover("Series")->bookThumbView();
    EXPECT_EQ(picture->isHidden(), iconHidden);
    EXPECT_EQ(picture->image(), icon);
    EXPECT_NE(picture->frame(), settings->themeLoader()->getBookShelfFolderPos());
}

}  // namespace
