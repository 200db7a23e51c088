#include "foundation/Settings.h"

#include "foundation/BookCommon.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;
using sys::PropertyList;

namespace {

// A book in a library folder of its own, and a store whose global settings
// live in another folder.
class BookSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        BookCommon::localizedSet(0);
        ASSERT_TRUE(sys::FileManager::writeFile(book, "PK"));
        settings.readFromFile();
    }
    void TearDown() override { BookCommon::localizedSet(0); }

    std::string overlayFile() const { return BookCommon::getBookSettingsFilename(book, false, false); }
    std::string oldOverlayFile() const { return BookCommon::getBookSettingsFilename(book, true, true); }
    void writeOverlay(const PlistDictionary& d) {
        ASSERT_FALSE(overlayFile().empty());
        sys::FileManager::createDirectory(BookCommon::getBookSettingDir(book, true), true);
        ASSERT_TRUE(PropertyList::writeFile(d, overlayFile()));
    }
    PlistDictionary readOverlay() const {
        return PropertyList::readDictionary(overlayFile()).value_or(PlistDictionary());
    }
    PlistDictionary readGlobal() const {
        return PropertyList::readDictionary(store.file(".globalsettings.lbs")).value_or(PlistDictionary());
    }

    test::TempDir library{"library"};
    test::TempDir store{"store"};
    test::TempDir prefs{"prefs"};
    sys::UserDefaults defaults{prefs.file("d.plist")};
    Settings settings{store.path(), &defaults};
    std::string book = library.file("Book One.zip");
};

}  // namespace

TEST_F(BookSettingsTest, OverlayReplacesGlobalValuesOnlyWhereSet) {
    settings.setValueForKey("isDoubleTruck", true);
    settings.setValueForKey("centerSpace", "5");
    settings.setValueForKey("imageFilter2", "sepia");
    writeOverlay({{"isDoubleTruck", "off"},
                  {"centerSpace", "10"},
                  {"pageDirection", "left"},
                  {"clipBlankSpace", "white"},
                  {"imageFilter", "virtual_color_c26"},
                  {"pdfTrimming", "_default"}});
    settings.setTargetBook(book);
    EXPECT_EQ(settings.targetBook(), book);
    EXPECT_TRUE(settings.isExistBookSetting());
    EXPECT_FALSE(settings.isDoubleTruck_Local());
    EXPECT_TRUE(settings.isDoubleTruck());
    EXPECT_DOUBLE_EQ(settings.centerSpace_Local(), 0.1);
    EXPECT_DOUBLE_EQ(settings.centerSpace(), 0.05);
    EXPECT_EQ(settings.pageDirection_Local(), 0);
    EXPECT_EQ(settings.clipBlankSpace_Local(), 2);
    EXPECT_EQ(settings.imageFilter_Local1(), 18);
    EXPECT_EQ(settings.imageFilter_Local2(), 8);  // follows the global "sepia"
    EXPECT_EQ(settings.pdfTrimming_Local(), settings.pdfTrimming());

    // Global changes reach the values the book does not override.
    settings.setValueForKey("imageFilter2", "mirror");
    settings.dictionaryToPropaty();
    EXPECT_EQ(settings.imageFilter_Local2(), 5);
    EXPECT_FALSE(settings.isDoubleTruck_Local());

    EXPECT_EQ(settings.getImageFilterWithValue(true, "imageFilter"), 18);
    EXPECT_EQ(settings.getImageFilterWithValue(false, "imageFilter2"), 5);
    EXPECT_DOUBLE_EQ(settings.getCenterSpaceFloatValue(true), 0.1);
    EXPECT_DOUBLE_EQ(settings.getCenterSpaceFloatValue(false), 0.05);
    EXPECT_EQ(settings.getClipBlankSpaceMode(true), 2);
    EXPECT_EQ(settings.getPdfTrimming(false), 3);
}

TEST_F(BookSettingsTest, DefaultsNumbersAndOtherTypesInTheOverlay) {
    writeOverlay({{"isDoubleTruck", "_default"}, {"pageDirection", "_default"}});
    settings.setTargetBook(book);
    EXPECT_FALSE(settings.isExistBookSetting());

    // A number is not a word: it overrides, and as a switch it reads "off".
    settings.setValueForKey("isDivisionPage", true);
    writeOverlay({{"isDivisionPage", 1}});
    settings.setTargetBook(book);
    EXPECT_TRUE(settings.isExistBookSetting());
    EXPECT_FALSE(settings.isDivisionPage_Local());

    // Containers mean nothing here: as if the key were absent.
    writeOverlay({{"isDivisionPage", PlistValue(PlistArray{PlistValue("on")})}});
    settings.setTargetBook(book);
    EXPECT_FALSE(settings.isExistBookSetting());
    EXPECT_TRUE(settings.isDivisionPage_Local());
}

TEST_F(BookSettingsTest, MissingOverlayFileMeansGlobalValues) {
    settings.setValueForKey("pageDirection", "left");
    settings.setTargetBook(book);
    EXPECT_FALSE(settings.isExistBookSetting());
    EXPECT_TRUE(settings.bookSettings().empty());
    EXPECT_EQ(settings.pageDirection_Local(), 0);

    // An unreadable one too.
    sys::FileManager::writeFile(overlayFile(), "garbage");
    settings.setTargetBook(book);
    EXPECT_TRUE(settings.bookSettings().empty());
}

TEST_F(BookSettingsTest, PageDirectionGoesWhereTheValueComesFrom) {
    writeOverlay({{"pageDirection", "left"}});
    settings.setTargetBook(book);
    PlistDictionary globalBefore = readGlobal();
    settings.setPageDirection(1);
    EXPECT_TRUE(readOverlay().get("pageDirection") == PlistValue("right"));
    EXPECT_TRUE(readGlobal().get("pageDirection") == globalBefore.get("pageDirection"));
    EXPECT_EQ(settings.pageDirection_Local(), 1);

    // No override: the global value changes and is saved.
    test::TempDir other{"other"};
    std::string second = other.file("Second.cbz");
    sys::FileManager::writeFile(second, "PK");
    settings.setTargetBook(second);
    settings.setPageDirection(0);
    EXPECT_TRUE(readGlobal().get("pageDirection") == PlistValue("left"));
    EXPECT_EQ(settings.pageDirection(), 0);
    EXPECT_EQ(settings.pageDirection_Local(), 0);

    // An unknown direction stores nothing.
    settings.setPageDirection(7);
    EXPECT_TRUE(readGlobal().get("pageDirection") == PlistValue("left"));
}

TEST_F(BookSettingsTest, DoubleTruckUsesEachPlacesOwnForm) {
    writeOverlay({{"isDoubleTruck", "off"}});
    settings.setTargetBook(book);
    settings.setDoubleTruck(true);
    EXPECT_TRUE(readOverlay().get("isDoubleTruck") == PlistValue("on"));
    EXPECT_TRUE(settings.isDoubleTruck_Local());

    settings.setBookSettingValue("isDoubleTruck", "_default");
    settings.saveBookSettingsToFile();
    settings.setDoubleTruck(true);
    EXPECT_TRUE(readGlobal().get("isDoubleTruck") == PlistValue(true));
    EXPECT_TRUE(readOverlay().get("isDoubleTruck") == PlistValue("_default"));
}

TEST_F(BookSettingsTest, OldArrayFileIsConverted) {
    ASSERT_FALSE(oldOverlayFile().empty());
    PlistArray old;
    for (int v : {-1, 1, 0, -1, 0, 6, 2}) old.emplace_back(v);
    ASSERT_TRUE(PropertyList::writeFile(old, oldOverlayFile()));
    settings.setTargetBook(book);
    PlistDictionary expected{{"pageDirection", "_default"}, {"isSwapTapLeftRight", "on"},
                             {"isDoubleTruck", "off"},      {"isDivisionPage", "_default"},
                             {"isSwitchSplitLeftRight", "off"}, {"imageFilter", "auto_contrast"},
                             {"centerSpace", "3"}};
    EXPECT_TRUE(readOverlay() == expected);
    EXPECT_TRUE(settings.bookSettings() == expected);
    EXPECT_FALSE(sys::FileManager::fileExists(oldOverlayFile()));
    EXPECT_TRUE(settings.isSwapTapLeftRight_Local());
    EXPECT_EQ(settings.imageFilter_Local1(), 7);
}

TEST_F(BookSettingsTest, OldArrayOutOfRangeAndTrailingEntries) {
    PlistArray old;
    for (int v : {5, 2, 1, 1, 1, 9, -4, 1, 3, 2, 1, 1}) old.emplace_back(v);
    old[3] = PlistValue("1");  // the old file held numbers only
    ASSERT_TRUE(PropertyList::writeFile(old, oldOverlayFile()));
    Settings::convertBookSettingToNewFile(book);
    PlistDictionary expected{{"isDoubleTruck", "on"},    {"isSwitchSplitLeftRight", "on"},
                             {"centerSpace", "_default"}, {"isSingleViewFirstPage", "on"},
                             {"pdfOptimize", "smooth"},   {"pdfTrimming", "trim"}};
    EXPECT_TRUE(readOverlay() == expected) << readOverlay().keys().size();
}

TEST_F(BookSettingsTest, ConversionKeepsANewerDictionaryFile) {
    writeOverlay({{"pageDirection", "right"}});
    PlistArray old;
    old.emplace_back(1);
    ASSERT_TRUE(PropertyList::writeFile(old, oldOverlayFile()));
    settings.setTargetBook(book);
    EXPECT_TRUE(readOverlay().get("pageDirection") == PlistValue("right"));
    EXPECT_FALSE(sys::FileManager::fileExists(oldOverlayFile()));
}

TEST_F(BookSettingsTest, OverlayRoundTrip) {
    settings.setTargetBook(book);
    PlistDictionary edit;
    Settings::setBooksettingBoolValue(edit, "isNoAspectFill", 1);
    Settings::setBooksettingBoolValue(edit, "isSingleViewFirstPage", 0);
    Settings::setBooksettingBoolValue(edit, "isDivisionPage", -1);
    Settings::setBooksettingBoolValue(edit, "isSwapTapLeftRight", 2);
    EXPECT_EQ(edit.size(), 3u);
    EXPECT_FALSE(edit.contains("isSwapTapLeftRight"));
    for (const auto& [key, value] : edit) settings.setBookSettingValue(key, value);
    settings.setBookSettingValue("pdfOptimize", "image");
    settings.saveBookSettingsToFile();

    Settings fresh{store.path(), &defaults};
    fresh.readFromFile();
    fresh.setTargetBook(book);
    EXPECT_TRUE(fresh.bookSettings() == settings.bookSettings());
    EXPECT_TRUE(fresh.isNoAspectFill_Local());
    EXPECT_FALSE(fresh.isSingleViewFirstPage_Local());
    EXPECT_EQ(fresh.pdfOptimize_Local(), 2);
    EXPECT_EQ(fresh.getPdfOptimize(true), 2);
}

TEST_F(BookSettingsTest, RemoteBooksKeepOverlaysInTheirSettingBase) {
    std::string url = "http://127.0.0.1:8080/books/Remote%20Book.zip";
    settings.setTargetBook(url);
    settings.setBookSettingValue("isDoubleTruck", "on");
    settings.saveBookSettingsToFile();
    std::string file = BookCommon::getBookSettingsFilename(url, false, false);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(PropertyList::readDictionary(file).value_or(PlistDictionary()).get("isDoubleTruck") ==
                PlistValue("on"));
    EXPECT_EQ(file.rfind(BookCommon::getOnlineBookConfingBaseFolder(), 0), 0u);
}

TEST(SettingsVocabulary, ImageFilterKeysAndTitles) {
    BookCommon::localizedSet(1);
    EXPECT_EQ(Settings::getImageFilterNameWithSettingkey(std::string("virtual_color_c17")).value_or(""),
              "Pseudo color(D)");
    EXPECT_EQ(Settings::getImageFilterNameWithSettingkey(std::string("_default")).value_or(""), "-");
    EXPECT_EQ(Settings::getImageFilterNameWithSettingkey(std::nullopt).value_or(""), "-");
    EXPECT_EQ(Settings::getImageFilterNameWithSettingkey(std::string("none")).value_or(""), "No Filter");
    EXPECT_EQ(Settings::getImageFilterNameWithSettingkey(std::string("mirror")).value_or(""), "Mirror");
    EXPECT_FALSE(Settings::getImageFilterNameWithSettingkey(std::string("blur")).has_value());

    auto keys = Settings::getImageFilteKeyArray(true);
    auto titles = Settings::getImageFilterTitleArray(true);
    ASSERT_EQ(keys.size(), 10u);
    ASSERT_EQ(titles.size(), 10u);
    EXPECT_EQ(keys[0], "_default");
    EXPECT_EQ(titles[0], "-");
    EXPECT_EQ(keys[2], "auto_contrast");
    EXPECT_EQ(Settings::getImageFilteKeyArrayPseudoColor(false).size(), 11u);
    EXPECT_EQ(Settings::getImageFilterTitleArrayPseudoColor(false)[10], "Pseudo color(I)");

    // Codes and keys are one table read both ways.
    for (int code = 0; code <= 18; ++code) {
        EXPECT_EQ(Settings::imageFilterCode(PlistValue(Settings::getImageFilterKeyWithFilterValue(code))), code);
    }
    EXPECT_EQ(Settings::getImageFilterKeyWithFilterValue(19), "none");
    EXPECT_EQ(Settings::getImageFilterKeyWithFilterValue(-1), "none");
    EXPECT_EQ(Settings::imageFilterCode(PlistValue(3)), 0);

    BookCommon::localizedSet(2);
    EXPECT_EQ(Settings::getImageFilterNameWithSettingkey(std::string("sepia")).value_or(""), "セピア");
    BookCommon::localizedSet(0);
}
