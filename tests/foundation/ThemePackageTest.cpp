#include <gtest/gtest.h>

#include "foundation/ThemeLoader.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"

#include <filesystem>

namespace {

using sys::FileManager;

// Theme packages made at test time by the zip tool, installed into a home
// of the test's own.
class ThemePackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "zip or ImageMagick missing";
        saved_ = sys::DeviceProfile::current();
        sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("phone"));
        sys::AppPaths::setHome(home_.path());
        FileManager::createDirectory(src(), true);
    }
    void TearDown() override {
        sys::AppPaths::setHome("");
        sys::DeviceProfile::setCurrent(saved_);
    }
    std::string src() const { return home_.path() + "/src"; }
    std::string themes() const { return home_.path() + "/Library/lbconfigs/.theme"; }
    void write(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(FileManager::writeFile(src() + "/" + name, bytes));
    }
    // A picture of one colour, w x h pixels.
    void picture(const std::string& name, int w, int h, const std::string& colour) {
        ASSERT_EQ(test::shell("convert -size " + std::to_string(w) + "x" + std::to_string(h) + " xc:'" + colour +
                              "' '" + src() + "/" + name + "'"),
                  0);
    }
    // Zips the named files of src() into a package.
    std::string pack(const std::string& package, const std::vector<std::string>& names) {
        std::string cmd = "cd '" + src() + "' && rm -f '" + package + "' && zip -q '" + package + "'";
        for (const auto& n : names) cmd += " '" + n + "'";
        EXPECT_EQ(test::shell(cmd), 0);
        return src() + "/" + package;
    }
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }

    test::TempDir home_{"theme-package"};
    sys::DeviceProfile saved_;
};

TEST_F(ThemePackageTest, InstallCopiesTheThemeFilesAndOverwritesAnEarlierInstall) {
    write("theme.txt", "ThemeName \"Sea Side\"\r\nTintColor #ff8000\r\n");
    write("theme_ipad.txt", "ThemeName Sea Side\n");
    picture("bookshelf_bg_414@2x.png", 20, 10, "#123456");
    write("readme.txt", "not a theme file");
    write("bookshelf_book.png", "first");
    std::optional<std::string> name;
    EXPECT_EQ(ThemeLoader::installTheme(pack("a.lbt", {"theme.txt", "theme_ipad.txt", "bookshelf_bg_414@2x.png",
                                                       "readme.txt", "bookshelf_book.png"}),
                                        &name),
              ThemeLoader::kInstalled);
    EXPECT_EQ(name, "Sea Side");
    const std::string dir = themes() + "/Sea Side";
    EXPECT_TRUE(exists(dir + "/theme.txt"));
    EXPECT_TRUE(exists(dir + "/theme_ipad.txt"));
    EXPECT_TRUE(exists(dir + "/bookshelf_bg_414@2x.png"));
    EXPECT_FALSE(exists(dir + "/readme.txt")) << "only the theme's own names are taken";

    // Installed again: the new files win, files the new package lacks stay.
    write("bookshelf_book.png", "second");
    EXPECT_EQ(ThemeLoader::installTheme(pack("b.lbt", {"theme.txt", "bookshelf_book.png"}), &name),
              ThemeLoader::kInstalled);
    EXPECT_EQ(FileManager::contentsOfFile(dir + "/bookshelf_book.png"), "second");
    EXPECT_TRUE(exists(dir + "/bookshelf_bg_414@2x.png"));
    EXPECT_EQ(ThemeLoader::getInstalledThemeList(), (std::vector<std::string>{"Sea Side"}));
}

TEST_F(ThemePackageTest, RefusedPackagesSayWhyAndLeaveNothingBehind) {
    std::optional<std::string> name = "stale";
    write("not-a-zip.lbt", "PK but not really a zip");
    EXPECT_EQ(ThemeLoader::installTheme(src() + "/not-a-zip.lbt", &name), ThemeLoader::kCannotOpen);
    EXPECT_FALSE(name);
    EXPECT_EQ(ThemeLoader::installTheme(src() + "/missing.lbt", &name), ThemeLoader::kCannotOpen);

    // A pad theme only: nothing for the phone.
    write("theme_ipad.txt", "ThemeName Pad Only\n");
    EXPECT_EQ(ThemeLoader::installTheme(pack("pad.lbt", {"theme_ipad.txt"}), &name), ThemeLoader::kNoThemeText);
    // On a pad the same package is fine, and its text file is the pad's.
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("pad"));
    EXPECT_EQ(ThemeLoader::installTheme(src() + "/pad.lbt", &name), ThemeLoader::kInstalled);
    EXPECT_EQ(name, "Pad Only");
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("phone"));

    write("theme.txt", "TintColor #000000\n");
    EXPECT_EQ(ThemeLoader::installTheme(pack("noname.lbt", {"theme.txt"}), &name), ThemeLoader::kNoThemeName);
    EXPECT_FALSE(name);

    // Names that would put files outside the themes folder, or nowhere.
    for (const std::string bad : {"../../Documents", "a/b", "..", ".", "x..y", "\"\""}) {
        write("theme.txt", "ThemeName " + bad + "\n");
        EXPECT_EQ(ThemeLoader::installTheme(pack("bad.lbt", {"theme.txt"}), &name), ThemeLoader::kNoThemeName)
            << bad;
    }
    EXPECT_FALSE(exists(home_.path() + "/Library/Documents"));
    EXPECT_FALSE(exists(themes() + "/a"));
    EXPECT_EQ(ThemeLoader::getInstalledThemeList(), (std::vector<std::string>{"Pad Only"}));
}

TEST_F(ThemePackageTest, OversizedEntriesAreNotUnpacked) {
    write("theme.txt", "ThemeName Big\n");
    picture("bookshelf_book.png", 8, 8, "red");
    // Zeros pack into a few kilobytes but unpack past the cap.
    ASSERT_EQ(test::shell("head -c " + std::to_string(ThemeLoader::kMaxEntryBytes + 1) + " /dev/zero > '" + src() +
                          "/bookshelf_bg@2x.png'"),
              0);
    const std::string package = pack("big.lbt", {"theme.txt", "bookshelf_book.png", "bookshelf_bg@2x.png"});
    ASSERT_LT(std::filesystem::file_size(package), 64u * 1024);
    std::optional<std::string> name;
    EXPECT_EQ(ThemeLoader::installTheme(package, &name), ThemeLoader::kInstalled);
    EXPECT_TRUE(exists(themes() + "/Big/bookshelf_book.png"));
    EXPECT_FALSE(exists(themes() + "/Big/bookshelf_bg@2x.png"));

    // A theme text above its own cap counts as missing.
    std::string text = "ThemeName Huge\n";
    text.resize(ThemeLoader::kMaxThemeTextBytes + 10, '#');
    write("theme.txt", text);
    EXPECT_EQ(ThemeLoader::installTheme(pack("huge.lbt", {"theme.txt"}), &name), ThemeLoader::kNoThemeText);
}

TEST_F(ThemePackageTest, ChoosingListingAndRemovingThemes) {
    for (const std::string n : {"Alpha", "Beta"}) {
        write("theme.txt", "ThemeName " + n + "\nBookImagePosX 3\nBookImagePosY 4\nFolderLabelWidth 50\n" +
                               (n == "Alpha" ? "TintColor #ff8000\n" : "TintColor ff8000\n"));
        ASSERT_EQ(ThemeLoader::installTheme(pack(n + ".lbt", {"theme.txt"}), nullptr), ThemeLoader::kInstalled);
    }
    ThemeLoader loader;
    loader.loadSetting();
    EXPECT_EQ(loader.getThemeType(), 0);
    EXPECT_EQ(loader.getNumTheme(0), 2);
    ASSERT_EQ(loader.getNumTheme(1), 2);
    EXPECT_EQ(loader.getThemeName(0, 0), "Default Style");
    EXPECT_EQ(loader.getThemeName(0, 1), "Folder Style");
    EXPECT_EQ(loader.getThemeName(0, 7), "");
    auto grey = loader.getBookshelfBarColor();
    ASSERT_TRUE(grey);
    EXPECT_NEAR(grey->r, 0.92, 1e-9);

    // Folder Style alone turns the folder pictures off.
    loader.changeTheme(0, 1);
    EXPECT_FALSE(loader.isFolderImage());
    EXPECT_EQ(loader.getBookShelfBookPos().origin.x, 10);

    const int64_t alpha = loader.installedThemes()[0] == "Alpha" ? 0 : 1;
    ASSERT_TRUE(loader.changeTheme(1, alpha));
    EXPECT_TRUE(loader.isFolderImage());
    EXPECT_EQ(loader.getBookShelfBookPos().origin.x, 3);
    EXPECT_EQ(loader.getBookShelfBookPos().origin.y, 4);
    EXPECT_EQ(loader.getFolderLabelRect().size.width, 50);
    EXPECT_EQ(loader.getBookLabelRect().size.width, 0) << "a key the theme leaves out is 0";
    auto orange = loader.getBookshelfBarColor();
    ASSERT_TRUE(orange);
    EXPECT_NEAR(orange->r * 255, 255, 1e-6);
    EXPECT_NEAR(orange->g * 255, 128, 1e-6);
    EXPECT_NEAR(orange->b * 255, 0, 1e-6);

    // The choice survives a new loader.
    ThemeLoader again;
    again.loadSetting();
    EXPECT_EQ(again.getThemeType(), 1);
    EXPECT_EQ(again.themeName(), "Alpha");
    EXPECT_EQ(again.getThemeNo(), alpha);

    // Removing the other theme keeps the current one, found again by name.
    const int64_t beta = 1 - alpha;
    ASSERT_TRUE(again.changeTheme(1, beta));
    EXPECT_FALSE(again.getBookshelfBarColor()) << "a colour without '#' is no colour";
    ASSERT_TRUE(again.changeTheme(1, alpha));
    ASSERT_TRUE(again.uninstallTheme(beta));
    EXPECT_EQ(again.installedThemes(), (std::vector<std::string>{"Alpha"}));
    EXPECT_EQ(again.getThemeNo(), 0);
    EXPECT_FALSE(exists(themes() + "/Beta"));
    EXPECT_FALSE(again.uninstallTheme(5));
}

TEST_F(ThemePackageTest, PicturesComeFromTheThemeAndMissingOnesFallBack) {
    write("theme.txt", "ThemeName Pics\n");
    picture("bookshelf_bg_414@2x.png", 40, 20, "#0000ff");
    picture("bookshelf_nv_p.png", 30, 10, "#00ff00");
    picture("bookshelf_book.png", 96, 118, "#ff0000");
    write("bookshelf_noload.png", "\x89PNG\r\n\x1a\n broken");
    ASSERT_EQ(ThemeLoader::installTheme(pack("p.lbt", {"theme.txt", "bookshelf_bg_414@2x.png", "bookshelf_nv_p.png",
                                                       "bookshelf_book.png", "bookshelf_noload.png"}),
                                        nullptr),
              ThemeLoader::kInstalled);
    ThemeLoader loader;
    loader.loadSetting();
    ASSERT_TRUE(loader.changeTheme(1, 0));

    // The double-density picture is found for its plain name, at half its pixels.
    auto bg = loader.getBookshelfBGImageNew(390);
    ASSERT_TRUE(bg);
    EXPECT_EQ(bg->size().width, 20);
    EXPECT_EQ(bg->size().height, 10);
    // No picture for this width, none built in: the shelf draws its own.
    EXPECT_FALSE(loader.getBookshelfBGImageNew(700));
    ASSERT_TRUE(loader.getBookshelfBookImage());
    EXPECT_EQ(loader.getBookshelfBookImage()->size().width, 96);
    EXPECT_FALSE(loader.getBookshelfNoLoadImage()) << "a damaged picture is no picture";
    EXPECT_FALSE(loader.getBookshelfFolderImage());

    // The phone's own bar picture is missing: the portrait one stands in.
    auto bar = loader.getBookshelfNavigationbarBGImage(false);
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->size().width, 30);
    EXPECT_FALSE(loader.getBookshelfTookbarBGImage(true));

    // Back to the preset: nothing of the theme shows.
    loader.changeTheme(0, 0);
    EXPECT_FALSE(loader.getBookshelfBGImageNew(390));
    EXPECT_FALSE(loader.getBookshelfBookImage());

    // A theme whose folder is gone keeps its defaults and draws its shelf.
    loader.changeTheme(1, 0);
    std::filesystem::remove_all(themes() + "/Pics");
    loader.loadSetting();
    EXPECT_FALSE(loader.getBookshelfBGImageNew(390));
    EXPECT_EQ(loader.getBookShelfBookPos().origin.x, 11);
}

TEST_F(ThemePackageTest, PadsAskForTheirOwnPictureNames) {
    EXPECT_EQ(ThemeLoader::getFilenameWithDeviceSelect("bookshelf_book.png"), "bookshelf_book.png");
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("pad"));
    EXPECT_EQ(ThemeLoader::getFilenameWithDeviceSelect("bookshelf_book.png"), "bookshelf_book_ipad.png");
    write("theme_ipad.txt", "ThemeName PadPics\n");
    picture("bookshelf_book_ipad.png", 134, 166, "#ff0000");
    picture("bookshelf_book.png", 96, 118, "#ff0000");
    ASSERT_EQ(ThemeLoader::installTheme(pack("pp.lbt", {"theme_ipad.txt", "bookshelf_book_ipad.png", "bookshelf_book.png"}),
                                        nullptr),
              ThemeLoader::kInstalled);
    ThemeLoader loader;
    loader.loadSetting();
    loader.changeTheme(1, 0);
    ASSERT_TRUE(loader.getBookshelfBookImage());
    EXPECT_EQ(loader.getBookshelfBookImage()->size().width, 134);
}

}  // namespace
