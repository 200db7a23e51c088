#include "foundation/BookCommon.h"
#include "foundation/BookPageInfo.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "platform/core/CloudKeyValueStore.h"
#include "platform/core/Date.h"
#include "platform/core/FileManager.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <any>
#include <string>

namespace {

using sys::CloudKeyValueStore;
using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;

constexpr double kNow = 1765000000.75;  // 2025-12-06, with a fraction to be truncated

// What a reader of the position gets, every out-pointer asked for.
struct Position {
    long pageNo = -1, pageNoSub = -1, numPages = -1;
    bool isSecond = true, isSubReadPage = true, isSecondSub = true, is2PageLoaded = true, fromCloud = true;
    std::string targetFolder = "<unset>";
    std::optional<sys::Date> date;

    static Position read(const std::string& book, bool cloud) {
        Position p;
        p.date = BookCommon::getFilePageInfoWithFilename(book, &p.pageNo, &p.isSecond, &p.isSubReadPage, &p.pageNoSub,
                                                         &p.isSecondSub, &p.numPages, &p.targetFolder,
                                                         &p.is2PageLoaded, cloud, &p.fromCloud, false);
        return p;
    }
};

class ReadingPositionTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        test::VirtualClockTest::SetUp();
        sys::Date::setNowSource([] { return kNow; });
        store = CloudKeyValueStore::atPath(cloudDir.file("cloud.plist"));
        CloudKeyValueStore::setDefaultStore(store);
        book = library.file("vol1.zip");
        ASSERT_TRUE(sys::FileManager::writeFile(book, "PK"));
    }
    void TearDown() override {
        CloudKeyValueStore::setDefaultStore(nullptr);
        sys::Date::setNowSource(nullptr);
        test::VirtualClockTest::TearDown();
    }
    std::string settingFile() const { return BookCommon::getBookSettingFile(book, false); }

    test::TempDir library{"library"};
    test::TempDir cloudDir{"cloud"};
    std::shared_ptr<CloudKeyValueStore> store;
    std::string book;
};

TEST_F(ReadingPositionTest, AShortHandMadeRecordFillsWhatItHas) {
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistArray{PlistValue(12), PlistValue(true), PlistValue(200)},
                                             settingFile()));
    Position p = Position::read(book, false);
    EXPECT_EQ(p.pageNo, 12);
    EXPECT_TRUE(p.isSecond);
    EXPECT_EQ(p.numPages, 200);
    EXPECT_EQ(p.targetFolder, "");
    EXPECT_FALSE(p.is2PageLoaded);
    EXPECT_FALSE(p.isSubReadPage);
    EXPECT_EQ(p.pageNoSub, 0);
    EXPECT_FALSE(p.isSecondSub);
    EXPECT_FALSE(p.fromCloud);
    EXPECT_FALSE(p.date) << "a record of fewer than 9 entries has no date";
}

TEST_F(ReadingPositionTest, NoRecordReadsAsZeroEverywhere) {
    Position p = Position::read(book, false);
    EXPECT_EQ(p.pageNo, 0);
    EXPECT_EQ(p.numPages, 0);
    EXPECT_EQ(p.targetFolder, "");
    EXPECT_FALSE(p.isSecond || p.is2PageLoaded || p.fromCloud);
    EXPECT_FALSE(p.date);
}

TEST_F(ReadingPositionTest, EntriesOfTheWrongTypeReadAsAbsent) {
    PlistArray odd{PlistValue("12"), PlistValue("yes"), PlistValue(PlistArray{}), PlistValue(5),
                   PlistValue(int64_t(1)), PlistValue(int64_t(1)), PlistValue(3.9), PlistValue(false),
                   PlistValue("1765000000")};
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(odd), settingFile()));
    Position p = Position::read(book, false);
    EXPECT_EQ(p.pageNo, 0);
    EXPECT_FALSE(p.isSecond);
    EXPECT_EQ(p.numPages, 0);
    EXPECT_EQ(p.targetFolder, "");
    EXPECT_TRUE(p.is2PageLoaded) << "flags written as integers count";
    EXPECT_TRUE(p.isSubReadPage);
    EXPECT_EQ(p.pageNoSub, 3);
    EXPECT_FALSE(p.date);
}

TEST_F(ReadingPositionTest, WrittenRecordsHaveTheNineEntriesAndReadBack) {
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 34, true, true, 7, false, 120, "inner/", true, false));
    auto onFile = sys::PropertyList::readArray(settingFile());
    ASSERT_TRUE(onFile);
    ASSERT_EQ(onFile->size(), 9u);
    EXPECT_TRUE((*onFile)[0].isInteger());
    EXPECT_TRUE((*onFile)[1].isBool());
    EXPECT_EQ((*onFile)[3], PlistValue("inner/"));
    EXPECT_TRUE((*onFile)[5].isBool());
    EXPECT_EQ((*onFile)[8], PlistValue(uint64_t(1765000000)));

    Position p = Position::read(book, false);
    EXPECT_EQ(p.pageNo, 34);
    EXPECT_TRUE(p.isSecond);
    EXPECT_EQ(p.numPages, 120);
    EXPECT_EQ(p.targetFolder, "inner/");
    EXPECT_TRUE(p.is2PageLoaded);
    EXPECT_TRUE(p.isSubReadPage);
    EXPECT_EQ(p.pageNoSub, 7);
    EXPECT_FALSE(p.isSecondSub);
    ASSERT_TRUE(p.date);
    EXPECT_EQ(p.date->timeIntervalSince1970(), 1765000000.0);
    EXPECT_EQ(store->dictionaryRepresentation().size(), 0u) << "cloud sync off: nothing goes to the cloud";
}

TEST_F(ReadingPositionTest, MovingToPageZeroDropsTheFolderAndKeepsTheSecondPosition) {
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 34, true, true, 7, true, 120, "inner/", true, false));
    ASSERT_TRUE(BookCommon::updateFilePageInfoNowPageWithFilename(book, 0, false, "other/", false));
    auto onFile = sys::PropertyList::readArray(settingFile());
    ASSERT_TRUE(onFile);
    ASSERT_EQ(onFile->size(), 9u);
    EXPECT_EQ((*onFile)[3], PlistValue(""));
    EXPECT_TRUE((*onFile)[5].isInteger()) << "this path stores the flag as a number";
    Position p = Position::read(book, false);
    EXPECT_EQ(p.pageNo, 0);
    EXPECT_FALSE(p.isSecond);
    EXPECT_EQ(p.numPages, 120);
    EXPECT_TRUE(p.is2PageLoaded);
    EXPECT_TRUE(p.isSubReadPage);
    EXPECT_EQ(p.pageNoSub, 7);
    EXPECT_TRUE(p.isSecondSub);

    ASSERT_TRUE(BookCommon::updateFilePageInfoNowPageWithFilename(book, 5, true, "other/", false));
    EXPECT_EQ(Position::read(book, false).targetFolder, "other/");
}

TEST_F(ReadingPositionTest, TheCloudEntryWinsOverANewerLocalRecord) {
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 10, false, false, 0, false, 50, "", false, true));
    // A newer local record that the cloud does not know about.
    sys::Date::setNowSource([] { return kNow + 3600; });
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 40, false, false, 0, false, 50, "", false, false));

    Position p = Position::read(book, true);
    EXPECT_TRUE(p.fromCloud);
    EXPECT_EQ(p.pageNo, 10);
    EXPECT_EQ(p.date->timeIntervalSince1970(), 1765000000.0);
    Position local = Position::read(book, false);
    EXPECT_FALSE(local.fromCloud);
    EXPECT_EQ(local.pageNo, 40);
}

TEST_F(ReadingPositionTest, TheCloudEntryCarriesTheRecordUnderNamedKeys) {
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 34, true, false, 7, false, 120, "in", true, true));
    auto key = iCloudKeyValueStoreCommon::getKeyWithFilepath(book);
    ASSERT_TRUE(key);
    // What other devices read: the shared file itself.
    auto shared = sys::PropertyList::readDictionary(store->path());
    ASSERT_TRUE(shared);
    auto entry = shared->getDictionary(*key);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->getString("title"), "vol1.zip");
    EXPECT_EQ(entry->getInteger("page"), 34);
    EXPECT_TRUE(entry->getBool("isSecond"));
    EXPECT_EQ(entry->getInteger("numPages"), 120);
    EXPECT_EQ(entry->getString("targetFolder"), "in");
    EXPECT_TRUE(entry->getBool("is2NowPageLoaded"));
    EXPECT_FALSE(entry->getBool("isSubReadingPage"));
    EXPECT_EQ(entry->getInteger("subReadingPage"), 7);
    EXPECT_TRUE(entry->contains("subReadingPageIsSecound"));
    EXPECT_EQ(entry->getInteger("lastBookmarkDate"), 1765000000);
    EXPECT_EQ(entry->getInteger("date"), 1765000000);
    EXPECT_EQ(entry->size(), 11u);

    // A shorter record makes a shorter entry, and reads back as far as it goes.
    iCloudKeyValueStoreCommon::updateBookmark(book, PlistArray{PlistValue(3), PlistValue(false)});
    EXPECT_EQ(store->dictionaryForKey(*key)->size(), 4u);
    EXPECT_EQ(iCloudKeyValueStoreCommon::getBookmark(book), (PlistArray{PlistValue(3), PlistValue(false)}));
}

TEST_F(ReadingPositionTest, KeysAreSharedAcrossPathsServersAndUnicodeForms) {
    const std::string digest = "1E0C911007DD311CAD4E3544F3629D33";  // MD5("vol1.zip"), upper case
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath("/home/u/Documents/Comics/vol1.zip"), "_bk_" + digest);
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath("smb://nas/share/Comics/vol1.zip"), "_bk_" + digest);
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath("http://nas:8080/books/vol1.zip?dl=1"), "_bk_" + digest);
    // A folder of images is keyed by the folder.
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath("/home/u/Documents/Pics/001.jpg"),
              "_bkf_6501CD97649D2F55DAACCCFC3BC3DDDB");
    EXPECT_EQ(iCloudKeyValueStoreCommon::getTitleWithFilepath("/home/u/Documents/Pics/001.jpg"), "Pics");

    // Precomposed and decomposed é, and an escaped server name, meet.
    const std::string composed = "/b/Caf\xC3\xA9.zip";
    const std::string decomposed = "/b/Cafe\xCC\x81.zip";
    const std::string key = "_bk_55C17D9399669360F25C0A0B32457B3D";
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath(composed), key);
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath(decomposed), key);
    EXPECT_EQ(iCloudKeyValueStoreCommon::getKeyWithFilepath("ftp://h/b/Caf%C3%A9.zip"), key);
    // Escapes that do not decode to UTF-8 leave the path as it is.
    EXPECT_EQ(iCloudKeyValueStoreCommon::getTitleWithFilepath("ftp://h/b/%FF.zip"), "%FF.zip");
}

TEST_F(ReadingPositionTest, AFullStoreDropsTheOldestEntryOnlyForANewKey) {
    // 1000 keys: bookmarks dated 1..998 seconds, one without a date, one
    // value that is not a dictionary.
    for (int i = 1; i <= 998; ++i) {
        store->setObject(PlistDictionary{{"date", PlistValue(int64_t(1000 + i))}}, "_bk_K" + std::to_string(i));
    }
    store->setObject(PlistDictionary{{"title", PlistValue("undated")}}, "_bk_undated");
    store->setObject(PlistValue("not a dictionary"), "other");
    ASSERT_TRUE(store->synchronize());
    ASSERT_EQ(store->dictionaryRepresentation().size(), 1000u);

    // Writing a key the store holds removes nothing.
    store->setObject(PlistDictionary{{"date", PlistValue(int64_t(5000))}}, *iCloudKeyValueStoreCommon::getKeyWithFilepath(book));
    store->removeObjectForKey("_bk_K998");
    ASSERT_TRUE(store->synchronize());
    iCloudKeyValueStoreCommon::updateBookmark(book, PlistArray{PlistValue(1)});
    EXPECT_EQ(store->dictionaryRepresentation().size(), 1000u);
    EXPECT_FALSE(store->objectForKey("_bk_K1").isNull());

    // A new key removes exactly the oldest dated one.
    iCloudKeyValueStoreCommon::updateBookmark(library.file("vol2.zip"), PlistArray{PlistValue(1)});
    auto all = store->dictionaryRepresentation();
    EXPECT_EQ(all.size(), 1000u);
    EXPECT_FALSE(all.contains("_bk_K1"));
    EXPECT_TRUE(all.contains("_bk_K2"));
    EXPECT_TRUE(all.contains("_bk_undated"));
    EXPECT_TRUE(all.contains("other"));
    EXPECT_EQ(iCloudKeyValueStoreCommon::getBookmarkCount(), 999u);

    iCloudKeyValueStoreCommon::removeAllValues();
    EXPECT_EQ(iCloudKeyValueStoreCommon::getBookmarkCount(), 0u);
    EXPECT_EQ(sys::PropertyList::readDictionary(store->path())->keys(), (std::vector<std::string>{"other"}));
}

TEST_F(ReadingPositionTest, APositionSavedOnAnotherDeviceReachesThisOne) {
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 3, false, false, 0, false, 80, "", false, true));

    // The same book read on a tablet: the other device's store shares the
    // cloud file, and its copy of the book lies elsewhere.
    auto tablet = CloudKeyValueStore::atPath(store->path());
    test::TempDir tabletLibrary{"tablet"};
    CloudKeyValueStore::setDefaultStore(tablet);
    ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(tabletLibrary.file("vol1.zip"), 57, true, false, 0, false,
                                                          80, "", true, true));
    CloudKeyValueStore::setDefaultStore(store);

    std::vector<std::string> changed;
    auto token = sys::NotificationCenter::defaultCenter().addObserver(
        CloudKeyValueStore::kDidChangeExternallyNotification,
        [&](const sys::Notification& n) {
            changed = std::any_cast<std::vector<std::string>>(n.userInfo.at(CloudKeyValueStore::kChangedKeysKey));
        },
        store.get());
    ASSERT_TRUE(store->synchronize());
    loop().drain();
    sys::NotificationCenter::defaultCenter().removeObserver(token);

    EXPECT_EQ(changed, (std::vector<std::string>{*iCloudKeyValueStoreCommon::getKeyWithFilepath(book)}));
    Position p = Position::read(book, true);
    EXPECT_TRUE(p.fromCloud);
    EXPECT_EQ(p.pageNo, 57);
    EXPECT_TRUE(p.isSecond);
    EXPECT_TRUE(p.is2PageLoaded);
    EXPECT_EQ(Position::read(book, false).pageNo, 3) << "the local record is not rewritten by a read";
}

}  // namespace
