#include "foundation/Settings.h"

#include "foundation/BookCommon.h"
#include "foundation/LanguageTables.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;
using sys::PropertyList;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedProfile_ = sys::DeviceProfile::current();
        useProfile("phone");
        LanguageTables::shared().reset();
        BookCommon::localizedSet(0);
    }
    void TearDown() override {
        sys::DeviceProfile::setCurrent(savedProfile_);
        BookCommon::localizedSet(0);
    }

    void useProfile(const char* name) {
        auto p = sys::DeviceProfile::named(name);
        ASSERT_TRUE(p.has_value()) << name;
        p->preferredLanguages = {"en-US"};
        sys::DeviceProfile::setCurrent(*p);
    }

    std::unique_ptr<Settings> makeStore() { return std::make_unique<Settings>(dir.path(), &defaults); }
    std::unique_ptr<Settings> loaded() {
        auto s = makeStore();
        s->readFromFile();
        return s;
    }

    std::string file(const char* name) const { return dir.file(name); }
    void writeGlobal(const PlistDictionary& d) { ASSERT_TRUE(PropertyList::writeFile(d, file(".globalsettings.lbs"))); }
    void writeZoom(const PlistArray& a) { ASSERT_TRUE(PropertyList::writeFile(a, file(".zoomsettings.lbs"))); }
    void writeBytes(const char* name, const std::string& bytes) {
        ASSERT_TRUE(sys::FileManager::writeFile(file(name), bytes));
    }
    PlistDictionary readGlobal() { return PropertyList::readDictionary(file(".globalsettings.lbs")).value_or(PlistDictionary()); }

    test::TempDir dir{"settings"};
    test::TempDir prefs{"prefs"};
    sys::UserDefaults defaults{prefs.file("defaults.plist")};
    sys::DeviceProfile savedProfile_;
};

std::string tapBytes(std::initializer_list<std::pair<size_t, int32_t>> fields) {
    PageTapConfig t;
    for (auto [i, v] : fields) t.setField(i, v);
    return t.toBytes();
}

}  // namespace

// ---- Defaults and device profiles -------------------------------------------------------

TEST_F(SettingsTest, DefaultsFollowTheDeviceProfile) {
    struct Case {
        const char* profile;
        bool doubleTruck;
        int zoom;
        int background;
        int toolView;
        double tapMargin;
    };
    // Pads show spreads, fit pages and a white page; phones show a page
    // by its width on black. The tool bar is on for phones of 4 inches or
    // more; the pad answers no to the phone screen classes, so it starts off.
    const Case cases[] = {
        {"phone", false, Settings::kZoomWidth, 0, 3, 73},
        {"phone-se", false, Settings::kZoomWidth, 0, 3, 70},
        {"pad", true, Settings::kZoomFit, 1, 0, 120},
    };
    for (const auto& c : cases) {
        useProfile(c.profile);
        test::TempDir fresh{"fresh"};
        sys::UserDefaults freshDefaults{fresh.file("d.plist")};
        Settings s(fresh.path(), &freshDefaults);
        s.readFromFile();
        SCOPED_TRACE(c.profile);
        EXPECT_EQ(s.isDoubleTruck(), c.doubleTruck);
        EXPECT_EQ(s.isShowStatusbar(), c.doubleTruck);
        EXPECT_EQ(s.defaultZoomMode(), c.zoom);
        EXPECT_EQ(s.backgroundColor(), c.background);
        EXPECT_EQ(s.bookToolView(), c.toolView);
        EXPECT_DOUBLE_EQ(s.tapMargin(), c.tapMargin);
        // Everything else is the same on every device.
        EXPECT_TRUE(s.isPreRead());
        EXPECT_EQ(s.pageDirection(), 1);
        EXPECT_EQ(s.doubleTruckZoomMode(), Settings::kZoomFit);
        EXPECT_DOUBLE_EQ(s.centerSpace(), 0.01);
        EXPECT_EQ(s.streamConfigExpireDays(), 3);
        EXPECT_EQ(s.overWriteMode(), 1);
        EXPECT_EQ(s.overWriteModeiTunes(), 2);
        EXPECT_EQ(s.pdfTrimming(), 3);
        EXPECT_EQ(s.defaultSmbLibrary(), 2);
        EXPECT_EQ(s.directorySortMode(), 1);
        EXPECT_DOUBLE_EQ(s.micThreshold(), -8.0);
        EXPECT_EQ(s.micDetectMode(), 1);
        EXPECT_EQ(s.maximumNumberOfHistories(), 10);
        EXPECT_TRUE(s.isMultipleSelectDownload());
        EXPECT_EQ(s.clipBlankSpace(), 0);
        EXPECT_EQ(s.getZoomModeEnableNum(), 3);
        EXPECT_EQ(s.tapConfig(), PageTapConfig::defaultTable());
    }
}

TEST_F(SettingsTest, PageDirectionDefaultFollowsTheLanguage) {
    // Japanese books open right to left; the table of the language says so.
    BookCommon::localizedSet(2);
    auto s = makeStore();
    EXPECT_TRUE(s->getDefaultSettings().get("pageDirection") == PlistValue("left"));
    BookCommon::localizedSet(1);
    EXPECT_TRUE(s->getDefaultSettings().get("pageDirection") == PlistValue("right"));
}

// ---- The global file -----------------------------------------------------------------

TEST_F(SettingsTest, PartialFileKeepsItsValuesAndDropsUnknownKeys) {
    writeGlobal({{"isPreRead", false}, {"noSuchSetting", "x"}, {"sortMode", "natural"}});
    auto s = loaded();
    EXPECT_FALSE(s->isPreRead());
    EXPECT_EQ(s->sortMode(), 1);
    EXPECT_TRUE(s->isSwipeToPage());  // default
    EXPECT_TRUE(s->valueForKey("noSuchSetting").isNull());

    s->saveToFile();
    PlistDictionary written = readGlobal();
    EXPECT_EQ(written.size(), s->getDefaultSettings().size());
    EXPECT_FALSE(written.contains("noSuchSetting"));
    EXPECT_TRUE(written.get("isPreRead") == PlistValue(false));
    EXPECT_TRUE(written.get("isSwipeToPage") == PlistValue(true));

    // And a new store reads back what was written.
    auto again = loaded();
    EXPECT_FALSE(again->isPreRead());
    EXPECT_EQ(again->sortMode(), 1);
    EXPECT_TRUE(again->globalSettings() == s->globalSettings());
}

TEST_F(SettingsTest, StoredValuesOfOtherTypesAndWords) {
    writeGlobal({
        {"streamExpireDays", 2},                      // a number, not a word: fallback 3
        {"volumeButton", 1},                          // fallback 0
        {"defaultZoomMode", "do_not_change"},         // -1
        {"doubleTruckZoomMode", "sideways"},          // unknown word: 2
        {"isPreRead", PlistValue(PlistArray{})},      // no setting is an array: default
        {"isDivisionPage", "NO"},                     // booleans read from text
        {"isEnableSnap", "YES"},
        {"maximumNumberOfHistories", 25},             // number or text
        {"centerSpace", "15"},
        {"clipBlankSpace", "keepaspect"},
        {"animation", "fastSwipeNoSlide"},
        {"backgroundColor", "dark_gray"},
        {"tapMargin", "45.5"},
        {"localizeSelect", PlistValue(PlistDictionary{{"a", 1}})},  // default "system"
    });
    auto s = loaded();
    EXPECT_EQ(s->streamConfigExpireDays(), 3);
    EXPECT_EQ(s->getStreamConfigExpireDays(), 3);
    EXPECT_EQ(s->volumeButton(), 0);
    EXPECT_EQ(s->defaultZoomMode(), Settings::kZoomDoNotChange);
    EXPECT_EQ(s->doubleTruckZoomMode(), Settings::kZoomWidth);
    EXPECT_TRUE(s->isPreRead());
    EXPECT_TRUE(s->valueForKey("isPreRead") == PlistValue(true));
    EXPECT_FALSE(s->isDivisionPage());
    EXPECT_TRUE(s->isEnableSnap());
    EXPECT_EQ(s->maximumNumberOfHistories(), 25);
    EXPECT_DOUBLE_EQ(s->centerSpace(), 0.15);
    EXPECT_EQ(s->clipBlankSpace(), 3);
    EXPECT_EQ(s->animation(), 2);
    EXPECT_EQ(s->backgroundColor(), 4);
    EXPECT_DOUBLE_EQ(s->tapMargin(), 45.5);
    EXPECT_EQ(s->localizeSelect(), 0);
    EXPECT_TRUE(s->isValueForKey("localizeSelect", "system"));
}

TEST_F(SettingsTest, UnreadableFilesGiveDefaults) {
    writeBytes(".globalsettings.lbs", "not a property list");
    writeBytes(".zoomsettings.lbs", "<plist>broken");
    auto s = loaded();
    EXPECT_TRUE(s->isPreRead());
    EXPECT_EQ(s->getZoomModeEnableNum(), 3);
    // A top-level array where a dictionary belongs is no settings file either.
    ASSERT_TRUE(PropertyList::writeFile(PlistArray{PlistValue("isPreRead"), PlistValue(false)},
                                        file(".globalsettings.lbs")));
    s->readFromFile();
    EXPECT_TRUE(s->isPreRead());
}

TEST_F(SettingsTest, ConversionFollowsDictionaryChanges) {
    writeGlobal({{"remoteThumbsAutoLoad", "on"}});
    auto s = loaded();
    EXPECT_EQ(s->remoteThumbsAutoLoad(), 1);
    s->setValueForKey("remoteThumbsAutoLoad", "default");
    s->dictionaryToPropaty();
    EXPECT_EQ(s->remoteThumbsAutoLoad(), 0);

    s->setValueForKey("isDoubleTruck", true);
    s->setValueForKey("defaultZoomMode", "height");
    s->setValueForKey("doubleTruckZoomMode", "user");
    EXPECT_EQ(s->getZoomModeForUseWithRotation(true), Settings::kZoomUser);
    EXPECT_EQ(s->getZoomModeForUseWithRotation(false), Settings::kZoomHeight);
    s->setValueForKey("isDoubleTruck", false);
    EXPECT_EQ(s->getZoomModeForUseWithRotation(true), Settings::kZoomHeight);
}

TEST_F(SettingsTest, TypedReadingsOfOneKey) {
    writeGlobal({{"filelistRootMode", "downloads"},
                 {"bookToolView", "bottom_right"},
                 {"overWriteMode", "skip"},
                 {"overWriteModeiTunes", "bogus"},
                 {"downloadListType", "link"},
                 {"bookListStyle", "simple_remote"},
                 {"isBookshelfMode", "1"},
                 {"volumeButton", "doubleclick"}});
    auto s = loaded();
    EXPECT_EQ(s->getRootFileViewMode(), 1);
    EXPECT_EQ(s->getBookToolviewStyle(), 2);
    EXPECT_EQ(s->getOverWriteMode(), 0);
    EXPECT_EQ(s->getOverWriteModeiTunes(), 1);
    EXPECT_EQ(s->getDownloadListType(), 0);
    EXPECT_EQ(s->getBookListStyle(), 2);
    EXPECT_TRUE(s->getIsBookshelfMode());
    EXPECT_EQ(s->getVolumeButtonWithKey("volumeButton"), 3);
    EXPECT_EQ(s->getVolumeButtonWithKey("missing"), 0);
    EXPECT_EQ(s->getBgColorWithValue(), 0);
    EXPECT_TRUE(s->boolValueForKey("isBookshelfMode"));
    EXPECT_EQ(s->integerValueForKey("centerSpace"), 1);
    EXPECT_EQ(s->integerValueForKey("missing"), 0);
    EXPECT_FALSE(s->boolValueForKey("missing"));
    EXPECT_FALSE(s->isValueForKey("centerSpace", "2"));
}

// ---- Saving ----------------------------------------------------------------------------

TEST_F(SettingsTest, SettersSaveTheirValues) {
    auto s = loaded();
    // The last of the seven periods and the first.
    s->setStreamExpireDays(6);
    EXPECT_TRUE(readGlobal().get("streamExpireDays") == PlistValue("3years"));
    EXPECT_EQ(s->streamConfigExpireDays(), 6);
    s->setStreamExpireDays(0);
    EXPECT_TRUE(readGlobal().get("streamExpireDays") == PlistValue("24h"));
    EXPECT_EQ(s->streamConfigExpireDays(), 0);

    // Codes outside the seven periods leave the value, but the store is still saved.
    s->setValueForKey("isShowBadge", true);
    s->setStreamExpireDays(7);
    s->setStreamExpireDays(-1);
    EXPECT_TRUE(readGlobal().get("streamExpireDays") == PlistValue("24h"));
    EXPECT_TRUE(readGlobal().get("isShowBadge") == PlistValue(true));

    s->setSmbSignatureRequiredSetting();
    EXPECT_EQ(s->defaultSmbLibrary(), 3);
    EXPECT_TRUE(readGlobal().get("smblib") == PlistValue("auto2"));

    s->setTapMargin(88.5);
    s->setMicThreshold(-12.25);
    s->setMicDetectMode(2);
    s->setBookshelfMode(true);
    s->setDoNotStorePassword(true);
    s->set_iCloudSyncEnable(true);
    s->setValueForKey("sortMode", "natural");
    s->setSortModeToOld();

    auto again = loaded();
    EXPECT_DOUBLE_EQ(again->tapMargin(), 88.5);
    EXPECT_DOUBLE_EQ(again->micThreshold(), -12.25);
    EXPECT_EQ(again->micDetectMode(), 2);
    EXPECT_TRUE(again->getIsBookshelfMode());
    EXPECT_TRUE(again->isDoNotStorePasswords());
    EXPECT_TRUE(again->iCloudEnable());
    EXPECT_EQ(again->sortMode(), 0);
    EXPECT_TRUE(readGlobal().get("micDetectMode").isInteger());
    EXPECT_TRUE(readGlobal().get("tapMargin").isReal());
}

TEST_F(SettingsTest, NothingIsWrittenBeforeTheFirstLoad) {
    writeGlobal({{"isPreRead", false}});
    writeBytes(".tapconfig.dat", tapBytes({{12, 1}, {6, 9}}));
    auto s = makeStore();
    s->setTapMargin(99);
    s->saveToFile();
    // The user's files are as they were.
    EXPECT_EQ(readGlobal().size(), 1u);
    EXPECT_EQ(sys::FileManager::contentsOfFile(file(".tapconfig.dat")).value_or(""), tapBytes({{12, 1}, {6, 9}}));
    EXPECT_FALSE(sys::FileManager::fileExists(file(".zoomsettings.lbs")));
}

// ---- The tap table ------------------------------------------------------------------------

TEST_F(SettingsTest, TapFileOfTheRightLengthOnly) {
    std::string good = tapBytes({{0, 5}, {6, 9}, {12, 1}, {13, 16}, {33, 77}});
    writeBytes(".tapconfig.dat", good);
    auto s = loaded();
    PageTapConfig t = s->tapConfig();
    EXPECT_EQ(t.tapTopLeft, 5);
    EXPECT_EQ(t.tapTopEdge, 9);
    EXPECT_EQ(t.tapDouble, 16);
    EXPECT_EQ(t.dummy[17], 77);  // kept as read
    s->saveToFile();
    EXPECT_EQ(sys::FileManager::contentsOfFile(file(".tapconfig.dat")).value_or(""), good);

    for (size_t length : {size_t{0}, size_t{135}, size_t{137}, size_t{272}}) {
        std::string bytes = good;
        bytes.resize(length, '\x01');
        writeBytes(".tapconfig.dat", bytes);
        s->readFromFile();
        EXPECT_EQ(s->tapConfig(), PageTapConfig::defaultTable()) << length;
    }
}

TEST_F(SettingsTest, TapFileIsLittleEndianAtFixedOffsets) {
    // Written by hand: tapTopEdge (offset 24) = 0x01020304, tapSingle
    // (offset 48) = 1, tapBackwardEdge (offset 60) = -2.
    std::string bytes(136, '\0');
    bytes[24] = 0x04;
    bytes[25] = 0x03;
    bytes[26] = 0x02;
    bytes[27] = 0x01;
    bytes[48] = 0x01;
    bytes[60] = static_cast<char>(0xFE);
    bytes[61] = bytes[62] = bytes[63] = static_cast<char>(0xFF);
    writeBytes(".tapconfig.dat", bytes);
    auto s = loaded();
    EXPECT_EQ(s->tapConfig().tapTopEdge, 0x01020304);
    EXPECT_EQ(s->tapConfig().tapSingle, 1);
    EXPECT_EQ(s->tapConfig().tapBackwardEdge, -2);
    EXPECT_EQ(s->snapshot()->tapConfig.tapTopEdge, 0x01020304);
}

TEST_F(SettingsTest, MenuStaysReachable) {
    // No area opens the menu and the single tap does something else: the
    // single tap becomes the menu and the quarters are cleared, on load...
    writeBytes(".tapconfig.dat", tapBytes({{12, 2}, {8, 3}, {9, 3}, {10, 3}, {11, 3}, {14, 1}}));
    auto s = loaded();
    PageTapConfig t = s->tapConfig();
    EXPECT_EQ(t.tapSingle, 1);
    EXPECT_EQ(t.tapQuarterTopLeft + t.tapQuarterTopRight + t.tapQuarterBottomLeft + t.tapQuarterBottomRight, 0);

    // ...and again before writing.
    t.tapSingle = 2;
    s->setTapConfig(t);
    s->saveToFile();
    auto written = PageTapConfig::fromBytes(sys::FileManager::contentsOfFile(file(".tapconfig.dat")).value_or(""));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->tapSingle, 1);

    // Single tap on the menu but covered by four set quarters: cleared.
    PageTapConfig covered;
    covered.tapSingle = 1;
    covered.tapQuarterTopLeft = covered.tapQuarterTopRight = covered.tapQuarterBottomLeft =
        covered.tapQuarterBottomRight = 2;
    EXPECT_TRUE(covered.ensureMenuReachable());
    EXPECT_EQ(covered.tapQuarterTopLeft, 0);

    // A quarter left free lets the single tap through: unchanged.
    PageTapConfig open = covered;
    open.tapQuarterTopLeft = open.tapQuarterTopRight = open.tapQuarterBottomLeft = 2;
    open.tapQuarterBottomRight = 0;
    PageTapConfig before = open;
    EXPECT_FALSE(open.ensureMenuReachable());
    EXPECT_EQ(open, before);

    // Another area already opens the menu: the table is the user's choice.
    PageTapConfig elsewhere;
    elsewhere.tapTopEdge = 1;
    elsewhere.tapSingle = 2;
    EXPECT_FALSE(elsewhere.ensureMenuReachable());
}

// ---- The zoom list ------------------------------------------------------------------------

TEST_F(SettingsTest, ZoomListIsAPermutationWithACountOfZeroToFive) {
    struct Case {
        PlistArray file;
        std::array<int32_t, 5> order;
        int count;
    };
    auto ints = [](std::initializer_list<int> v) {
        PlistArray a;
        for (int i : v) a.emplace_back(i);
        return a;
    };
    const std::array<int32_t, 5> identity{0, 1, 2, 3, 4};
    const Case cases[] = {
        {ints({4, 2, 0, 0, 4, 3, 2, 1, 0}), {4, 3, 2, 1, 0}, 2},
        {ints({4, 2, 0, 0, 0, 0, 1, 2, 3}), identity, 3},           // 0 twice, no 4
        {ints({4, 2, 0, 0, 9, 3, 2, 1, -3}), {4, 3, 2, 1, 0}, 2},   // clamped, then a permutation
        {ints({4, 0, 0, 0, 1, 0, 2, 3, 4}), {1, 0, 2, 3, 4}, 0},    // none, as the picker may save
        {ints({4, 99, 0, 0, 1, 0, 2, 3, 4}), {1, 0, 2, 3, 4}, 5},   // at most five
        {ints({4, -7, 0, 0, 1, 0, 2, 3, 4}), {1, 0, 2, 3, 4}, 0},
        {ints({4}), identity, 3},                                   // no count entry
        {ints({}), identity, 3},
        {ints({4, 2, 0, 0, 4, 3}), identity, 3},                    // short order: 4,3,2,3,4 is no permutation
    };
    for (const auto& c : cases) {
        writeZoom(c.file);
        auto s = loaded();
        EXPECT_EQ(s->getZoomModeOrderList(), c.order) << ::testing::PrintToString(c.order);
        EXPECT_EQ(s->getZoomModeEnableNum(), c.count);
    }

    PlistArray withDictionary = ints({4, 2, 0, 0, 4, 3, 2, 1, 0});
    withDictionary[5] = PlistValue(PlistDictionary{{"x", 1}});
    writeZoom(withDictionary);
    auto s = loaded();
    EXPECT_EQ(s->getZoomModeOrderList(), identity);
    EXPECT_EQ(s->getZoomModeEnableNum(), 3);
}

TEST_F(SettingsTest, ZoomFileIsWrittenAsNineIntegers) {
    writeGlobal({{"defaultZoomMode", "height"}});
    auto s = loaded();
    s->setZoomModeOrderList({2, 0, 4, 1, 3});
    s->setZoomModeEnableNum(4);
    s->saveToFile();
    auto a = PropertyList::readArray(file(".zoomsettings.lbs"));
    ASSERT_TRUE(a);
    ASSERT_EQ(a->size(), 9u);
    const int expected[] = {3, 4, 0, 0, 2, 0, 4, 1, 3};
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_TRUE((*a)[i].isInteger()) << i;
        EXPECT_EQ((*a)[i].integerValue(), expected[i]) << i;
    }
    auto again = loaded();
    EXPECT_EQ(again->getZoomModeOrderList(), (std::array<int32_t, 5>{2, 0, 4, 1, 3}));
    EXPECT_EQ(again->getZoomModeEnableNum(), 4);
}

// ---- User defaults -------------------------------------------------------------------------

TEST_F(SettingsTest, UserDefaultsWinOverTheFile) {
    writeGlobal({{"isSilentResume", false}, {"isGotoTheLastFolder", true}});
    defaults.setBool(true, "resume_silent");
    defaults.setBool(false, "goto_lastfolder");
    auto s = loaded();
    EXPECT_TRUE(s->getIsSilentResume());
    EXPECT_FALSE(s->getIsGotoThelastFolder());
    EXPECT_TRUE(s->valueForKey("isSilentResume") == PlistValue(true));
    EXPECT_TRUE(s->valueForKey("isGotoTheLastFolder") == PlistValue(false));
    EXPECT_TRUE(s->snapshot()->isSilentResume);

    // Without the defaults the file decides; saving records it in the defaults.
    defaults.removeObjectForKey("resume_silent");
    defaults.removeObjectForKey("goto_lastfolder");
    s->readFromFile();
    EXPECT_FALSE(s->getIsSilentResume());
    EXPECT_TRUE(s->getIsGotoThelastFolder());
    s->saveToFile();
    sys::UserDefaults reread(prefs.file("defaults.plist"));
    EXPECT_TRUE(reread.objectForKey("resume_silent") == PlistValue(false));
    EXPECT_TRUE(reread.objectForKey("goto_lastfolder") == PlistValue(true));
}

// ---- Keyboard and function titles ------------------------------------------------------------

TEST_F(SettingsTest, KeyboardShortcuts) {
    const auto defaults5 = Settings::defaultKeyboardShortcuts();
    ASSERT_EQ(defaults5.size(), 5u);
    EXPECT_EQ(defaults5[2].key, "\b");
    EXPECT_EQ(defaults5[2].command, 3);
    EXPECT_EQ(Settings::loadKeyboardShortcutSettings(dir.path()), defaults5);

    ASSERT_TRUE(PropertyList::writeFile(PlistArray{}, file(".keyboard.lbs")));
    EXPECT_EQ(Settings::loadKeyboardShortcutSettings(dir.path()), defaults5);

    PlistArray list{PlistValue(PlistDictionary{{"key", "j"}, {"command", 2}}),
                    PlistValue(PlistDictionary{{"key", 5}, {"command", 2}}),         // key must be text
                    PlistValue(PlistDictionary{{"key", "k"}, {"command", "3"}}),     // command must be a number
                    PlistValue("stray"),
                    PlistValue(PlistDictionary{{"key", "\r"}, {"command", 13}})};
    ASSERT_TRUE(PropertyList::writeFile(list, file(".keyboard.lbs")));
    auto loadedList = Settings::loadKeyboardShortcutSettings(dir.path());
    EXPECT_EQ(loadedList, (std::vector<Settings::KeyboardShortcut>{{"j", 2}, {"\r", 13}}));

    // A list with nothing usable is no list.
    ASSERT_TRUE(PropertyList::writeFile(PlistArray{PlistValue("stray")}, file(".keyboard.lbs")));
    EXPECT_EQ(Settings::loadKeyboardShortcutSettings(dir.path()), defaults5);

    // The keyboard screen's list is written in the same form and read back
    // as it was; one the user emptied stays empty (a blank entry no key
    // matches), not the defaults again.
    const std::vector<Settings::KeyboardShortcut> mine{{"j", 2}, {"\b", 22}};
    ASSERT_TRUE(Settings::saveKeyboardShortcutSettings(mine, dir.path()));
    auto written = PropertyList::readArray(file(".keyboard.lbs"));
    ASSERT_TRUE(written);
    ASSERT_EQ(written->size(), 2u);
    EXPECT_EQ((*written)[0].get("key").asString(), "j");
    EXPECT_EQ((*written)[0].get("command"), PlistValue(int64_t{2}));
    EXPECT_EQ(Settings::loadKeyboardShortcutSettings(dir.path()), mine);
    ASSERT_TRUE(Settings::saveKeyboardShortcutSettings({}, dir.path()));
    for (const auto& s : Settings::loadKeyboardShortcutSettings(dir.path())) EXPECT_EQ(s.key, "") << "a shortcut came back";
}

TEST_F(SettingsTest, FunctionTitlesInTheInterfaceLanguage) {
    std::vector<std::string> titles{"-"};
    Settings::addFunctionNameToMutableArray(titles);
    ASSERT_EQ(titles.size(), 25u);
    EXPECT_EQ(titles[1], "Menu");
    EXPECT_EQ(titles[14], "Zoom In / Out(130%)");
    EXPECT_EQ(titles[16], "Zoom In / Out(200%)");
    EXPECT_EQ(titles[20], "Switch Page Direction.");
    EXPECT_EQ(titles[24], "Switch to Another Reading Page");

    BookCommon::localizedSet(2);
    std::vector<std::string> ja;
    Settings::addFunctionNameToMutableArray(ja);
    EXPECT_EQ(ja[14], "拡大 / 縮小(150%)");
}

// ---- Readers on other threads -----------------------------------------------------------------

TEST_F(SettingsTest, ReadersSeeWholeConversions) {
    auto s = loaded();
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<long> reads{0};
    // The per-book values follow the global ones when no book overrides
    // them: a reader must never see one without the other.
    std::thread reader([&] {
        while (!stop.load()) {
            auto v = s->snapshot();
            if (v->imageFilter1 != v->imageFilter_Local1 || v->centerSpace != v->centerSpace_Local) ++torn;
            (void)s->isPreRead();
            (void)s->valueForKey("imageFilter");
            ++reads;
        }
    });
    const char* filters[] = {"none", "sepia", "mirror", "monochrome"};
    for (int i = 0; i < 2000; ++i) {
        s->setValueForKey("imageFilter", filters[i % 4]);
        s->setValueForKey("centerSpace", std::to_string(i % 16));
        s->setValueForKey("isPreRead", i % 2 == 0);
    }
    // Let the reader see the last state at least once before stopping.
    long seen = reads.load();
    while (reads.load() < seen + 2) std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(s->imageFilter1(), 6);  // "monochrome", the last one set
}
