#include <gtest/gtest.h>

#include "foundation/AppDelegateServices.h"
#include "foundation/BookViewControllerDelegate.h"
#include "foundation/CheckDocumentsDirectory.h"
#include "foundation/FileServerWriteState.h"
#include "foundation/StreamCacheCleaner.h"
#include "foundation/ThemeLoader.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Date.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"

namespace {

using sys::FileManager;
using sys::PlistArray;
using sys::PlistValue;

class HomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = sys::DeviceProfile::current();
        sys::AppPaths::setHome(home_.path());
    }
    void TearDown() override {
        sys::AppPaths::setHome("");
        sys::DeviceProfile::setCurrent(saved_);
    }
    std::string settings() const { return home_.path() + "/Library/lbconfigs"; }
    static void write(const std::string& path, const std::string& bytes) {
        FileManager::createDirectory(path.substr(0, path.rfind('/')), true);
        ASSERT_TRUE(FileManager::writeFile(path, bytes));
    }
    void chooseTheme(int type, int number, const std::string& name) {
        FileManager::createDirectory(settings(), true);
        ASSERT_TRUE(sys::PropertyList::writeFile(
            PlistValue(PlistArray{PlistValue(int64_t{type}), PlistValue(int64_t{number}), PlistValue(name)}),
            settings() + "/.theme.lbs"));
    }
    test::TempDir home_{"neighbour-home"};
    sys::DeviceProfile saved_;
};

using ThemeLoaderTest = HomeTest;

TEST_F(ThemeLoaderTest, PresetsGiveTheDefaultRectangles) {
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("phone"));
    ThemeLoader loader;
    loader.loadSetting();  // no record: preset 0
    EXPECT_EQ(loader.getThemeType(), 0);
    EXPECT_EQ(loader.getBookShelfFolderPos(), gfx::Rect(14, 8, 48, 66));
    EXPECT_EQ(loader.getFolderLabelRect(), gfx::Rect(13, 70, 69, 46));

    chooseTheme(0, 1, "");
    loader.loadSetting();
    EXPECT_EQ(loader.themeNo(), 1);
    EXPECT_EQ(loader.getFolderLabelRect(), gfx::Rect(13, 40, 69, 56));
    EXPECT_EQ(loader.getBookShelfBookPos(), gfx::Rect(10, 11, 74, 96));

    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("pad"));
    loader.loadSetting();
    EXPECT_EQ(loader.getBookShelfFolderPos(), gfx::Rect(18, 12, 66, 86));
    EXPECT_EQ(loader.getFolderLabelRect(), gfx::Rect(18, 58, 95, 80));

    // A record of fewer than three entries is not read.
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(PlistArray{PlistValue(int64_t{1})}),
                                             settings() + "/.theme.lbs"));
    ThemeLoader fresh;
    fresh.loadSetting();
    EXPECT_EQ(fresh.getThemeType(), 0);
}

TEST_F(ThemeLoaderTest, AnInstalledThemeReadsItsTextFile) {
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("phone"));
    write(settings() + "/.theme/Wood/theme.txt",
          "ThemeName Wood\r\nFolderImagePosX 5\nFolderImagePosY\t6\nFolderImageWidth 70\nFolderImageHeight 80\n"
          "BookImagePosX 3\nBookImagePosY 4\n");
    write(settings() + "/.theme/Wood/theme_ipad.txt", "FolderImageWidth 99\n");
    FileManager::createDirectory(settings() + "/.theme/Blue", true);
    write(settings() + "/.theme/stray-file", "x");
    chooseTheme(1, 1, "Wood");

    ThemeLoader loader;
    loader.loadSetting();
    EXPECT_EQ(loader.installedThemes(), (std::vector<std::string>{"Blue", "Wood"}));
    EXPECT_EQ(loader.getBookShelfFolderPos(), gfx::Rect(5, 6, 70, 80));
    EXPECT_EQ(loader.getBookShelfBookPos(), gfx::Rect(3, 4, 74, 96));  // the size is not read
    EXPECT_EQ(loader.getBookLabelRect(), gfx::Rect(0, 0, 0, 0));      // missing keys give 0

    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("pad"));
    loader.loadSetting();
    EXPECT_EQ(loader.getBookShelfFolderPos(), gfx::Rect(0, 0, 99, 0));

    // A theme whose folder is gone keeps the defaults; a name cannot leave ".theme".
    chooseTheme(1, 0, "../../Documents");
    loader.loadSetting();
    EXPECT_EQ(loader.getBookShelfFolderPos(), gfx::Rect(18, 12, 66, 86));
    EXPECT_EQ(ThemeLoader::getInstalledThemeList()->size(), 2u);
    FileManager::removeItem(settings() + "/.theme");
    EXPECT_FALSE(ThemeLoader::getInstalledThemeList());
}

TEST(CheckDocumentsDirectoryTest, OnlyTheFolderViewFileStaysPut) {
    EXPECT_TRUE(CheckDocumentsDirectory::isDontMoveItemsInDocuments("/x/Documents/.DS_Store"));
    EXPECT_TRUE(CheckDocumentsDirectory::isDontMoveItemsInDocuments(".DS_Store"));
    EXPECT_FALSE(CheckDocumentsDirectory::isDontMoveItemsInDocuments("/x/Documents/.DS_Store2"));
    EXPECT_FALSE(CheckDocumentsDirectory::isDontMoveItemsInDocuments("/x/Documents/Inbox"));
}

TEST(AppDelegateServicesTest, DefaultsUntilTheApplicationInstallsItself) {
    EXPECT_EQ(AppDelegateServices::sharedSettings(), nullptr);
    EXPECT_FALSE(AppDelegateServices::appGoingToBackground());
    struct App : AppDelegateServices {
        bool background = true;
        std::shared_ptr<Settings> settings() override { return nullptr; }
        bool isAppGotoBackgroundProcess() override { return background; }
    };
    auto app = std::make_shared<App>();
    AppDelegateServices::install(app);
    EXPECT_TRUE(AppDelegateServices::appGoingToBackground());
    app->background = false;
    EXPECT_FALSE(AppDelegateServices::appGoingToBackground());
    AppDelegateServices::install(nullptr);
    EXPECT_FALSE(AppDelegateServices::appGoingToBackground());
}

TEST(BookViewControllerDelegateTest, AListWithoutNeighbours) {
    BookViewControllerDelegate list;
    bool animate = true;
    EXPECT_FALSE(list.reOpenNextBook("a.zip", std::nullopt, true, &animate));
    EXPECT_TRUE(animate);
    EXPECT_EQ(list.getNextBookIndex("a.zip", std::string("/f"), false), -1);
}

TEST(FileServerWriteStateTest, NothingIsOpenWithoutAServer) {
    EXPECT_FALSE(FileServerWriteState::isOpenForWrite("/x"));
    struct Server : FileServerWriteState {
        bool isOpenForWriteWithPath(const std::string& p) override { return p == "/busy.zip"; }
    };
    FileServerWriteState::install(std::make_shared<Server>());
    EXPECT_TRUE(FileServerWriteState::isOpenForWrite("/busy.zip"));
    EXPECT_FALSE(FileServerWriteState::isOpenForWrite("/idle.zip"));
    FileServerWriteState::install(nullptr);
    EXPECT_FALSE(FileServerWriteState::isOpenForWrite("/busy.zip"));
}

using StreamCacheCleanerTest = HomeTest;

TEST_F(StreamCacheCleanerTest, ExpiryPeriods) {
    EXPECT_EQ(StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(0), 86400);
    EXPECT_EQ(StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(2), 604800);
    EXPECT_EQ(StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(6), 94608000);
    EXPECT_EQ(StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(7), 0);
    // A negative code is the longest period, never a read before the table.
    EXPECT_EQ(StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(-1), 94608000);
    EXPECT_EQ(StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(-1000), 94608000);
}

TEST_F(StreamCacheCleanerTest, OldCachesGoRecentOnesStay) {
    std::string st = home_.path() + "/Library/Caches/_st";
    sys::Date now = sys::Date::now();
    auto age = [&](const std::string& path, double days) {
        ASSERT_TRUE(FileManager::setModificationDate(path, now.dateByAddingTimeInterval(-days * 86400)));
    };
    write(st + "/old.zip/.onlinebook_config/cache/p1", "x");
    write(st + "/fresh.zip/.onlinebook_config/cache/p1", "x");
    write(st + "/mixed.zip/.onlinebook_config/cache/p1", "x");
    write(st + "/mixed.zip/.onlinebook_config/cache/p2", "x");
    for (const char* book : {"old.zip", "mixed.zip"}) {
        std::string b = st + "/" + book;
        for (const char* p : {"/.onlinebook_config/cache/p1", "/.onlinebook_config/cache/p2",
                              "/.onlinebook_config/cache", "/.onlinebook_config", ""})
            if (FileManager::fileExists(b + p)) age(b + p, 10);
    }
    age(st + "/mixed.zip/.onlinebook_config/cache/p2", 1);  // read yesterday

    StreamCacheCleaner::removeStreamConfigWithDays(2);  // a week
    EXPECT_FALSE(FileManager::fileExists(st + "/old.zip"));
    EXPECT_TRUE(FileManager::fileExists(st + "/fresh.zip"));
    EXPECT_TRUE(FileManager::fileExists(st + "/mixed.zip"));

    StreamCacheCleaner::removeStreamConfigWithDays(-3);  // the longest: nothing more goes
    EXPECT_TRUE(FileManager::fileExists(st + "/mixed.zip"));
    StreamCacheCleaner::removeStreamConfigWithDays(0);  // a day
    EXPECT_FALSE(FileManager::fileExists(st + "/mixed.zip"));
    EXPECT_TRUE(FileManager::fileExists(st + "/fresh.zip"));
}

}  // namespace
