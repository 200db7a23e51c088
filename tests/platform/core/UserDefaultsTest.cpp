#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/AppPaths.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/TestHome.h"

using sys::PlistValue;
using sys::UserDefaults;

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    test::TempDir dir{"defaults"};
    std::string file() const { return dir.file("prefs.plist"); }
};

}  // namespace

TEST_F(UserDefaultsTest, ValuesSurviveSynchronizeAndAReadByAnotherInstance) {
    {
        UserDefaults d(file());
        d.setObject("ABC-123", "DEVICE_ID");
        d.setInteger(2, "bookshelfMode");
        d.setBool(true, "isStreamMode");
        d.setDouble(0.5, "ratio");
        d.setObject(PlistValue::data("\x01\x02"), "blob");
        d.setObject(sys::PlistArray{PlistValue(1)}, "list");
        EXPECT_TRUE(d.synchronize());
    }
    UserDefaults again(file());
    EXPECT_EQ(again.stringForKey("DEVICE_ID"), "ABC-123");
    EXPECT_EQ(again.integerForKey("bookshelfMode"), 2);
    EXPECT_TRUE(again.boolForKey("isStreamMode"));
    EXPECT_TRUE(again.objectForKey("isStreamMode").isBool());
    EXPECT_DOUBLE_EQ(again.doubleForKey("ratio"), 0.5);
    EXPECT_EQ(again.dataForKey("blob")->size(), 2u);
    EXPECT_EQ(again.arrayForKey("list")->size(), 1u);
    EXPECT_TRUE(again.objectForKey("absent").isNull());
    EXPECT_FALSE(again.boolForKey("absent"));
    EXPECT_EQ(again.integerForKey("absent"), 0);
}

TEST_F(UserDefaultsTest, GettersReadWhateverIsStoredLikeThePlatform) {
    UserDefaults d(file());
    d.setObject("YES", "s-yes");
    d.setObject("42 pages", "s-num");
    d.setObject(7, "n");
    EXPECT_TRUE(d.boolForKey("s-yes"));
    EXPECT_EQ(d.integerForKey("s-num"), 42);
    EXPECT_TRUE(d.boolForKey("n"));
    // Strings and containers answer only for their own type.
    EXPECT_FALSE(d.stringForKey("n").has_value());
    EXPECT_FALSE(d.arrayForKey("s-yes").has_value());
    EXPECT_FALSE(d.dictionaryForKey("n").has_value());
    EXPECT_FALSE(d.dataForKey("s-yes").has_value());
}

TEST_F(UserDefaultsTest, RemoveAndNullAndReload) {
    UserDefaults d(file());
    d.setBool(true, "do_clear_settings");
    d.setObject("Downloads", "TempFolderDispName");
    ASSERT_TRUE(d.synchronize());

    d.removeObjectForKey("TempFolderDispName");
    d.setObject(PlistValue(), "do_clear_settings");
    EXPECT_TRUE(d.dictionaryRepresentation().empty());

    // Unsaved changes are dropped by a reload.
    d.reload();
    EXPECT_EQ(d.stringForKey("TempFolderDispName"), "Downloads");
    d.removeObjectForKey("TempFolderDispName");
    ASSERT_TRUE(d.synchronize());
    d.reload();
    EXPECT_FALSE(d.stringForKey("TempFolderDispName").has_value());
    EXPECT_TRUE(d.boolForKey("do_clear_settings"));
}

TEST_F(UserDefaultsTest, DamagedFileReadsAsEmptyAndIsReplacedOnWrite) {
    std::ofstream(file()) << "<plist><dict><key>x</key>";
    UserDefaults d(file());
    EXPECT_TRUE(d.dictionaryRepresentation().empty());
    d.setInteger(1, "LastVersion");
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(sys::PropertyList::readDictionary(file())->getInteger("LastVersion"), 1);
}

TEST_F(UserDefaultsTest, FailedWriteKeepsChangesPending) {
    UserDefaults d(dir.file("blocker/prefs.plist"));
    std::ofstream(dir.file("blocker")) << "a file where the folder should be";
    d.setInteger(5, "k");
    EXPECT_FALSE(d.synchronize());
    EXPECT_EQ(d.integerForKey("k"), 5);
    std::remove(dir.file("blocker").c_str());
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(dir.file("blocker/prefs.plist")).integerForKey("k"), 5);
}

TEST_F(UserDefaultsTest, StandardDefaultsLiveInThePreferencesFolder) {
    sys::AppPaths::setHome(dir.file("home"));
    UserDefaults& d = UserDefaults::standard();
    d.reload();
    EXPECT_EQ(d.path(), dir.file("home") + "/Library/Preferences/leafbright.plist");
    d.setObject("on", "enable_crashlog");
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(sys::PropertyList::readDictionary(d.path())->getString("enable_crashlog"), "on");
    sys::AppPaths::setHome("");
    d.reload();
    EXPECT_NE(d.path(), dir.file("home") + "/Library/Preferences/leafbright.plist");
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    UserDefaults d(file());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&d, t] {
            for (int i = 0; i < 100; ++i) {
                d.setInteger(i, "k" + std::to_string(t) + "-" + std::to_string(i));
                if (i % 25 == 0) d.synchronize();
            }
        });
    }
    for (auto& w : writers) w.join();
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(file()).dictionaryRepresentation().size(), 400u);
}
