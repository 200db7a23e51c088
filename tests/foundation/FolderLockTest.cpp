#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(PasscodeHash, IsTheUpperCaseDigestOfTheSaltedPasscode) {
    // Stored hashes from earlier installs must keep matching: these values
    // are MD5("QuorVENd___" + passcode) computed independently.
    EXPECT_EQ(BookCommon::passcodeToHash("1234"), "437AC5BB294E6AD3F1578BB2D1699EB5");
    EXPECT_EQ(BookCommon::passcodeToHash(""), "324C68012D65132E4ED8CDF490D5E5CC");
}

TEST(LockedFolderNames, HiddenNameNeedsSomethingAfterThePrefix) {
    EXPECT_TRUE(BookCommon::isFolderNameChangedForLock("/lib/.lock_N"));
    EXPECT_TRUE(BookCommon::isFolderNameChangedForLock("/lib/.lock_N/"));
    EXPECT_FALSE(BookCommon::isFolderNameChangedForLock("/lib/.lock_"));
    EXPECT_FALSE(BookCommon::isFolderNameChangedForLock("/lib/N.lock_x"));
    EXPECT_FALSE(BookCommon::isFolderNameChangedForLock("/.lock_dir/N"));
}

TEST(LockedFolderNames, LockAndUnlockNamesMirrorEachOther) {
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("/lib/Comics", true), "/lib/.lock_Comics");
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("/lib/Comics", false), std::nullopt);
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("/lib/.lock_Comics", true), std::nullopt);
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("/lib/.lock_Comics", false), "/lib/Comics");
    // A folder named exactly ".lock_" is an ordinary folder.
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("/lib/.lock_", true), "/lib/.lock_.lock_");
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("Comics", true), ".lock_Comics");
    EXPECT_EQ(BookCommon::getNewNameFolderForLock("/Comics", true), "/.lock_Comics");

    EXPECT_EQ(BookCommon::getLockedFolderOriginalName("/lib/.lock_N"), "/lib/N");
    EXPECT_EQ(BookCommon::getLockedFolderOriginalName("/lib/.lock_"), "/lib/.lock_");
    EXPECT_EQ(BookCommon::getLockedFolderOriginalName("/lib/N"), "/lib/N");
}

}  // namespace

namespace {

using sys::PlistArray;
using sys::PlistValue;

class FolderLockRecordTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        test::VirtualClockTest::SetUp();
        BookCommon::setBiometricsEvaluator([this] {
            ++evaluations;
            return deviceHasBiometrics;
        });
    }
    void TearDown() override {
        BookCommon::setBiometricsEvaluator(nullptr);
        test::VirtualClockTest::TearDown();
    }
    void writeRecord(const PlistArray& record) {
        ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(record), dir.file("directory.plist")));
    }
    // Locked?, hash out, biometrics out (preset to a marker value).
    std::tuple<bool, std::string, int> ask() {
        std::string hash = "<unset>";
        bool touch = true;
        bool locked = BookCommon::isFolderLocked(dir.path(), &hash, &touch);
        return {locked, hash, touch ? 1 : 0};
    }

    test::TempDir dir{"locked"};
    int evaluations = 0;
    bool deviceHasBiometrics = true;
};

TEST_F(FolderLockRecordTest, CurrentFormGivesTheStoredHashAndBiometrics) {
    const std::string hash = BookCommon::passcodeToHash("1234");
    writeRecord({PlistValue(int64_t(1)), PlistValue("k7QWZR3m"), PlistValue(hash), PlistValue(true)});
    EXPECT_EQ(ask(), std::make_tuple(true, hash, 1));
    deviceHasBiometrics = false;
    BookCommon::setBiometricsEvaluator([] { return false; });
    EXPECT_EQ(ask(), std::make_tuple(true, hash, 0)) << "allowed by the record but the device cannot";

    // Three entries: biometrics off.
    writeRecord({PlistValue(int64_t(1)), PlistValue("k7QWZR3m"), PlistValue(hash)});
    EXPECT_EQ(ask(), std::make_tuple(true, hash, 0));
    EXPECT_TRUE(BookCommon::isFolderLocked(dir.path()));
}

TEST_F(FolderLockRecordTest, OldFormHashesThePlainPasscode) {
    writeRecord({PlistValue(int64_t(1)), PlistValue("1234")});
    EXPECT_EQ(ask(), std::make_tuple(true, BookCommon::passcodeToHash("1234"), 0));

    // Not locked: the fixed text, an empty passcode, a zero lock flag.
    writeRecord({PlistValue(int64_t(1)), PlistValue("k7QWZR3m")});
    EXPECT_EQ(ask(), std::make_tuple(false, std::string(), 0));
    writeRecord({PlistValue(int64_t(1)), PlistValue("")});
    EXPECT_EQ(ask(), std::make_tuple(false, std::string(), 1)) << "the flag is left alone";
    writeRecord({PlistValue(int64_t(0)), PlistValue("1234")});
    EXPECT_EQ(ask(), std::make_tuple(false, std::string(), 1));
}

TEST_F(FolderLockRecordTest, MissingShortOrMistypedRecordsDoNotLock) {
    EXPECT_FALSE(BookCommon::isFolderLocked(dir.path()));
    writeRecord({PlistValue(int64_t(1))});
    EXPECT_FALSE(BookCommon::isFolderLocked(dir.path()));
    writeRecord({PlistValue("1"), PlistValue("k7QWZR3m"), PlistValue("HASH"), PlistValue(true)});
    EXPECT_FALSE(BookCommon::isFolderLocked(dir.path())) << "a lock flag that is not a number";
    writeRecord({PlistValue(int64_t(1)), PlistValue(int64_t(1234))});
    EXPECT_FALSE(BookCommon::isFolderLocked(dir.path())) << "an old passcode that is not text";
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("directory.plist"), "garbage"));
    EXPECT_FALSE(BookCommon::isFolderLocked(dir.path()));
}

TEST_F(FolderLockRecordTest, WrittenRecordsReadBackLocked) {
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("9999", true).writeToFolder(dir.path()));
    auto onFile = sys::PropertyList::readArray(dir.file("directory.plist"));
    ASSERT_TRUE(onFile);
    EXPECT_EQ(*onFile, (PlistArray{PlistValue(int64_t(1)), PlistValue("k7QWZR3m"),
                                   PlistValue(BookCommon::passcodeToHash("9999")), PlistValue(true)}));
    EXPECT_EQ(ask(), std::make_tuple(true, BookCommon::passcodeToHash("9999"), 1));
}

TEST_F(FolderLockRecordTest, BiometricsAreAskedAtMostOnceAMinute) {
    writeRecord({PlistValue(int64_t(1)), PlistValue("k7QWZR3m"), PlistValue("H"), PlistValue(true)});
    for (int i = 0; i < 20; ++i) BookCommon::isFolderLocked(dir.path());
    EXPECT_EQ(evaluations, 1);
    advance(59);
    BookCommon::isFolderLocked(dir.path());
    EXPECT_EQ(evaluations, 1);
    advance(2);
    BookCommon::isFolderLocked(dir.path());
    EXPECT_EQ(evaluations, 2);
}

}  // namespace
