#include "LibraryTestSupport.h"

#include "foundation/ResourceLocator.h"
#include "foundation/ThemeLoader.h"
#include "library/BookshelfShelfView.h"
#include "library/FilelistBaseViewDummyCell.h"
#include "library/LabelForBoolshelf.h"
#include "library/LocalFilelistViewController.h"
#include "library/ThemeSelectViewController.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Toolbar.h"

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

// Theme packages made by zip and ImageMagick at test time, put in the
// library and tapped as a user would.
class ThemeInstallTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "zip or ImageMagick missing";
        src = std::make_unique<test::TempDir>("themesrc");
    }
    void picture(const std::string& name, const std::string& colour) {
        ASSERT_EQ(test::shell("convert -size 40x20 xc:'" + colour + "' '" + src->file(name) + "'"), 0);
    }
    // A package in the library root with the given theme text and the pictures made so far.
    void package(const std::string& name, const std::string& text) {
        std::ofstream(src->file("theme.txt"), std::ios::binary) << text;
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q '" + join(documents(), name) + "' *.png theme.txt"),
                  0);
    }
    void showRoot() {
        sys::UserDefaults::standard().setInteger(1, "bookshelfMode");
        sys::DeviceProfile p = sys::DeviceProfile::current();
        p.systemVersion = "18.0";  // bars take the theme's pictures before version 26
        sys::DeviceProfile::setCurrent(p);
        root = std::make_shared<Local>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.6);
    }
    int64_t indexOf(const std::string& filename) const {
        for (size_t i = 0; i < root->itemList().size(); ++i)
            if (root->itemList()[i]->filename() == filename) return int64_t(i);
        return -1;
    }
    // A point of the first filler shelf, the middle of the nav bar and of the tool bar.
    ui::Point shelfPoint() {
        auto* tv = root->tableView();
        const ui::Rect r = tv->rectForRowAtIndexPath({2, 0});
        return tv->convertPointToWindow({r.x() + 30, r.y() + 30});
    }
    ui::Point barPoint(ui::View& bar) {
        const ui::Rect r = bar.convertRectTo(bar.bounds(), nullptr);
        return {r.x() + 4, r.y() + r.height() / 2};
    }

    std::unique_ptr<test::TempDir> src;
    std::shared_ptr<Local> root;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(ThemeInstallTest, ATapOnAThemeFileInstallsItAndChoosingItChangesTheShelfAndTheBars) {
    picture("bookshelf_bg_414@2x.png", "#2050a0");
    picture("bookshelf_nv_p.png", "#20a050");
    picture("bookshelf_tb_l.png", "#a02050");
    package("Sea.lbt", "ThemeName Sea Test\r\nTintColor #ff8000\r\n");
    touch(join(documents(), "Book.zip"));
    showRoot();
    ASSERT_EQ(root->fileListViewMode(), 1);
    window->render();
    // The preset: our drawn wooden shelf under dark bars.
    EXPECT_TRUE(near(pixelAt(shelfPoint().x, shelfPoint().y), 74, 49, 31, 12));
    ASSERT_TRUE(window->snapshot(snapshotPath("theme-before.png")));

    const int64_t index = indexOf("Sea.lbt");
    ASSERT_GE(index, 0);
    EXPECT_EQ(root->itemList()[size_t(index)]->type(), Local::kTypeTheme);
    root->didSelectBook(index, std::nullopt);
    driver->advance(0.8);
    auto* picker = dynamic_cast<ThemeSelectViewController*>(nav->topViewController());
    ASSERT_TRUE(picker) << "the theme list opens after the install";
    EXPECT_TRUE(driver->findByText("Sea Test has been installed successfully."));
    EXPECT_EQ(settings->themeLoader()->installedThemes(), (std::vector<std::string>{"Sea Test"}));
    // Installing does not change the theme: the preset keeps its checkmark.
    EXPECT_EQ(settings->themeLoader()->getThemeType(), 0);
    ASSERT_TRUE(tapText("OK"));
    driver->advance(0.5);
    ASSERT_TRUE(tapText("Sea Test"));
    driver->advance(0.8);
    ASSERT_EQ(nav->topViewController(), root.get());
    EXPECT_EQ(settings->themeLoader()->getThemeType(), 1);

    for (bool dark : {false, true}) {
        window->setUserInterfaceStyle(dark ? ui::UserInterfaceStyle::Dark : ui::UserInterfaceStyle::Light);
        driver->advance(0.3);
        window->render();
        const ui::Point shelf = shelfPoint();
        EXPECT_TRUE(near(pixelAt(shelf.x, shelf.y), 0x20, 0x50, 0xa0)) << "the theme's shelf, dark " << dark;
        const ui::Point navAt = barPoint(*nav->navigationBar());
        EXPECT_TRUE(near(pixelAt(navAt.x, navAt.y), 0x20, 0xa0, 0x50)) << "the theme's bar picture, dark " << dark;
        const ui::Point toolAt = barPoint(*nav->toolbar());
        EXPECT_TRUE(near(pixelAt(toolAt.x, toolAt.y), 0xa0, 0x20, 0x50)) << "the theme's tool bar, dark " << dark;
        EXPECT_EQ(nav->view()->tintColor(), ui::Color(gfx::Rgba::rgb(1.0, 128 / 255.0, 0)));
        ASSERT_TRUE(window->snapshot(snapshotPath(dark ? "theme-after-dark.png" : "theme-after-light.png")));
    }

    // Back in the list presentation the bars lose the theme.
    root->changeBookshelfMode(0, true);
    driver->advance(0.5);
    window->render();
    const ui::Point navAt = barPoint(*nav->navigationBar());
    EXPECT_FALSE(near(pixelAt(navAt.x, navAt.y), 0x20, 0xa0, 0x50));
}

TEST_F(ThemeInstallTest, APackageWithMissingPicturesStillShowsShelvesAndRefusedOnesSayWhy) {
    package("Bare.lbt", "ThemeName Bare\n");
    package("Escape.lbt", "ThemeName ../../Documents\n");
    showRoot();
    root->didSelectBook(indexOf("Escape.lbt"), std::nullopt);
    driver->advance(0.5);
    EXPECT_TRUE(driver->findByText("Invalid Theme Name"));
    EXPECT_EQ(nav->topViewController(), root.get());
    ASSERT_TRUE(tapText("OK"));
    driver->advance(0.5);

    root->didSelectBook(indexOf("Bare.lbt"), std::nullopt);
    driver->advance(0.8);
    ASSERT_TRUE(tapText("OK"));
    driver->advance(0.3);
    ASSERT_TRUE(tapText("Bare"));
    driver->advance(0.8);
    ASSERT_EQ(settings->themeLoader()->themeName(), "Bare");
    window->render();
    // No pictures in the theme: our own drawn shelf, not an empty one.
    EXPECT_TRUE(near(pixelAt(shelfPoint().x, shelfPoint().y), 74, 49, 31, 12));
}

TEST_F(ThemeInstallTest, DeletingTheCurrentThemeGoesBackToTheDefaultStyle) {
    for (const std::string n : {"One", "Two"}) package(n + ".lbt", "ThemeName " + n + "\n");
    showRoot();
    for (const std::string n : {"One.lbt", "Two.lbt"}) {
        ASSERT_EQ(ThemeLoader::installTheme(join(documents(), n), nullptr), ThemeLoader::kInstalled);
    }
    auto loader = settings->themeLoader();
    loader->loadSetting();
    auto picker = std::make_shared<ThemeSelectViewController>();
    picker->setThemeLoader(loader);
    nav->pushViewController(picker, false);
    driver->advance(0.5);
    auto* tv = picker->tableView();
    ASSERT_EQ(tv->numberOfRowsInSection(0), 2);
    ASSERT_EQ(tv->numberOfRowsInSection(1), 2);
    const int two = loader->installedThemes()[0] == "Two" ? 0 : 1;
    loader->changeTheme(1, two);
    tv->reloadData();
    driver->advance(0.1);
    auto checked = [&](int section, int row) {
        auto* cell = tv->cellForRowAtIndexPath({section, row});
        return cell && cell->accessoryType() == ui::TableViewCellAccessoryType::Checkmark;
    };
    EXPECT_TRUE(checked(1, two));
    EXPECT_FALSE(checked(0, 0));

    // Removing the other one keeps the choice, found again by name.
    picker->tableViewCommitEditingStyle(*tv, ui::TableViewCellEditingStyle::Delete, {1, 1 - two});
    driver->advance(0.5);
    EXPECT_EQ(loader->themeName(), "Two");
    EXPECT_TRUE(checked(1, 0));
    // Removing the current one falls back to the first preset.
    picker->tableViewCommitEditingStyle(*tv, ui::TableViewCellEditingStyle::Delete, {1, 0});
    driver->advance(0.5);
    EXPECT_EQ(loader->getThemeType(), 0);
    EXPECT_EQ(loader->getThemeNo(), 0);
    EXPECT_EQ(tv->numberOfRowsInSection(1), 0);
    EXPECT_TRUE(checked(0, 0));
    EXPECT_FALSE(picker->tableViewCanEditRowAtIndexPath(*tv, {0, 0})) << "presets cannot be deleted";
    auto record = sys::PropertyList::readArray(join(BookCommon::getSettingsFolder(), ".theme.lbs"));
    ASSERT_TRUE(record && record->size() == 3);
    EXPECT_EQ((*record)[0].integerValue(), 0);
}

// The bundled sample theme writes a folder's name on the wall below its
// folder picture, on the phone and on the pad: no pixel of the picture lies
// under the name's place.
TEST_F(ThemeInstallTest, TheBundledThemeWritesFolderNamesBelowTheFolderPicture) {
    const std::string package = ResourceLocator::pathForResource("themes/Leafbright Harbour.lbt");
    std::optional<std::string> name;
    ASSERT_EQ(ThemeLoader::installTheme(package, &name), ThemeLoader::kInstalled);
    ASSERT_EQ(name, std::optional<std::string>("Harbour"));
    const sys::DeviceProfile saved = sys::DeviceProfile::current();
    for (const char* device : {"phone", "pad"}) {
        sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named(device));
        ThemeLoader loader;
        loader.loadSetting();
        ASSERT_TRUE(loader.changeTheme(1, 0));
        const gfx::Rect label = loader.getFolderLabelRect();
        ASSERT_GT(label.height(), 12) << device;
        const ui::ImageRef picture = loader.getBookshelfFolderImage();
        ASSERT_TRUE(picture) << device;
        const auto bitmap = picture->bitmap();
        ASSERT_TRUE(bitmap) << device;
        const double scale = bitmap->scale();
        int covered = 0;
        for (int y = int(label.y() * scale); y < std::min(bitmap->height(), int(label.maxY() * scale)); ++y)
            for (int x = int(label.x() * scale); x < std::min(bitmap->width(), int(label.maxX() * scale)); ++x)
                if (gfx::alphaOf(bitmap->pixels()[size_t(y) * size_t(bitmap->width()) + size_t(x)]) > 0) ++covered;
        EXPECT_EQ(covered, 0) << device << ": the name would be written over the folder";
    }
    sys::DeviceProfile::setCurrent(saved);
}

TEST_F(ThemeInstallTest, FolderNamesAreOutlinedOverTheFolderPicturesOnly) {
    mkdir(join(documents(), "Comics"));
    showRoot();
    auto label = [&] { return dynamic_cast<LabelForBoolshelf*>(driver->findByText("Comics")); };
    ASSERT_TRUE(label());
    EXPECT_TRUE(label()->isOutlined()) << "the default style shows folder pictures and names";
    settings->themeLoader()->changeTheme(0, 1);
    root->tableView()->reloadData();
    driver->advance(0.2);
    ASSERT_TRUE(label());
    EXPECT_FALSE(label()->isOutlined()) << "Folder Style shows no folder pictures";

    // Drawn: white on white shows nothing plain and a dark ring outlined.
    auto darkPixels = [](bool outlined) {
        LabelForBoolshelf l;
        l.setFrame({0, 0, 60, 20});
        l.setText("Comics");
        l.setTextColor(ui::Color::whiteColor());
        l.setShadowOffset(outlined ? ui::Size{1, 1} : ui::Size{0, 0});
        gfx::Canvas c(60, 20, 1.0);
        c.fillRect({0, 0, 60, 20}, gfx::Rgba{1, 1, 1, 1});
        l.draw(c, l.bounds());
        int dark = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 60; ++x)
                if (gfx::redOf(c.pixel(x, y)) < 230) ++dark;
        return dark;
    };
    EXPECT_EQ(darkPixels(false), 0);
    EXPECT_GT(darkPixels(true), 20);
}

}  // namespace
