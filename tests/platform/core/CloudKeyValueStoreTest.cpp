#include "platform/core/CloudKeyValueStore.h"
#include "platform/core/FileManager.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <any>
#include <string>
#include <vector>

namespace {

using sys::CloudKeyValueStore;
using sys::PlistDictionary;
using sys::PlistValue;

// Records the external-change notifications one store receives.
struct ChangeRecorder {
    explicit ChangeRecorder(const CloudKeyValueStore& store) {
        token = sys::NotificationCenter::defaultCenter().addObserver(
            CloudKeyValueStore::kDidChangeExternallyNotification,
            [this](const sys::Notification& n) {
                auto it = n.userInfo.find(CloudKeyValueStore::kChangedKeysKey);
                ASSERT_NE(it, n.userInfo.end());
                batches.push_back(std::any_cast<std::vector<std::string>>(it->second));
                auto reason = n.userInfo.find(CloudKeyValueStore::kChangeReasonKey);
                ASSERT_NE(reason, n.userInfo.end());
                EXPECT_EQ(std::any_cast<int>(reason->second), int(CloudKeyValueStore::kServerChange));
            },
            &store);
    }
    ~ChangeRecorder() { sys::NotificationCenter::defaultCenter().removeObserver(token); }
    sys::NotificationCenter::Token token;
    std::vector<std::vector<std::string>> batches;
};

class CloudKeyValueStoreTest : public test::VirtualClockTest {
protected:
    test::TempDir dir{"cloudkvs"};
    std::string file = dir.file("cloud.plist");
};

TEST_F(CloudKeyValueStoreTest, ValuesTravelBetweenDevicesOnlyThroughSynchronize) {
    auto phone = CloudKeyValueStore::atPath(file);
    auto pad = CloudKeyValueStore::atPath(file);
    ChangeRecorder phoneSeen(*phone), padSeen(*pad);

    phone->setObject(PlistDictionary{{"page", PlistValue(12)}}, "_bk_A");
    EXPECT_EQ(phone->dictionaryForKey("_bk_A")->getInteger("page"), 12);
    EXPECT_TRUE(pad->objectForKey("_bk_A").isNull()) << "nothing leaves the device before it synchronises";

    ASSERT_TRUE(phone->synchronize());
    EXPECT_TRUE(pad->objectForKey("_bk_A").isNull());
    ASSERT_TRUE(pad->synchronize());
    loop().drain();
    ASSERT_TRUE(pad->dictionaryForKey("_bk_A"));
    EXPECT_EQ(pad->dictionaryForKey("_bk_A")->getInteger("page"), 12);
    EXPECT_EQ(padSeen.batches, (std::vector<std::vector<std::string>>{{"_bk_A"}}));
    EXPECT_TRUE(phoneSeen.batches.empty()) << "a device is not told about its own writes";

    // A third device that starts later sees what is stored at once.
    auto laptop = CloudKeyValueStore::atPath(file);
    EXPECT_EQ(laptop->dictionaryForKey("_bk_A")->getInteger("page"), 12);
}

TEST_F(CloudKeyValueStoreTest, RemovalsReachOtherDevicesAndLocalChangesWinConflicts) {
    auto phone = CloudKeyValueStore::atPath(file);
    auto pad = CloudKeyValueStore::atPath(file);
    phone->setObject(PlistValue("one"), "gone");
    phone->setObject(PlistValue("phone"), "both");
    ASSERT_TRUE(phone->synchronize());
    ASSERT_TRUE(pad->synchronize());
    loop().drain();

    ChangeRecorder phoneSeen(*phone), padSeen(*pad);
    phone->removeObjectForKey("gone");
    phone->setObject(PlistValue("phone 2"), "both");
    pad->setObject(PlistValue("pad 2"), "both");
    ASSERT_TRUE(phone->synchronize());
    ASSERT_TRUE(pad->synchronize());  // the pad's own value is newer than the phone's
    loop().drain();
    EXPECT_TRUE(pad->objectForKey("gone").isNull());
    EXPECT_EQ(pad->objectForKey("both").asString(), "pad 2");
    EXPECT_EQ(padSeen.batches, (std::vector<std::vector<std::string>>{{"gone"}}));

    ASSERT_TRUE(phone->synchronize());
    loop().drain();
    EXPECT_EQ(phone->objectForKey("both").asString(), "pad 2");
    EXPECT_EQ(phoneSeen.batches, (std::vector<std::vector<std::string>>{{"both"}}));

    auto onFile = sys::PropertyList::readDictionary(file);
    ASSERT_TRUE(onFile);
    EXPECT_EQ(onFile->keys(), (std::vector<std::string>{"both"}));
}

TEST_F(CloudKeyValueStoreTest, AnUnreadableSharedFileIsNeitherOverwrittenNorLost) {
    auto phone = CloudKeyValueStore::atPath(file);
    ASSERT_TRUE(sys::FileManager::writeFile(file, "this is not a property list"));
    phone->setObject(PlistValue(int64_t(7)), "k");
    EXPECT_FALSE(phone->synchronize());
    EXPECT_EQ(*sys::FileManager::contentsOfFile(file), "this is not a property list");
    EXPECT_EQ(phone->objectForKey("k").integerValue(), 7);

    // Once the file is readable again the pending change goes out.
    ASSERT_TRUE(sys::FileManager::removeItem(file));
    ASSERT_TRUE(phone->synchronize());
    EXPECT_EQ(sys::PropertyList::readDictionary(file)->getInteger("k"), 7);
}

// The watcher runs on a real thread and sees real file events, so this test
// runs the main loop on the real clock and waits for the event (bounded).
TEST(CloudKeyValueStoreWatch, AWatchingDeviceTakesInWritesOfAnotherProcess) {
    test::TempDir dir{"cloudwatch"};
    std::string file = dir.file("cloud.plist");
    auto phone = CloudKeyValueStore::atPath(file);
    ChangeRecorder phoneSeen(*phone);
    ASSERT_TRUE(phone->startWatching());
    EXPECT_TRUE(phone->isWatching());

    // "Another device": a separate program writing the shared file.
    PlistDictionary entry{{"page", PlistValue(int64_t(41))}};
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(PlistDictionary{{"_bk_X", PlistValue(entry)}}), file));

    bool arrived = sys::RunLoop::main().runUntil([&] { return !phoneSeen.batches.empty(); }, 20.0);
    ASSERT_TRUE(arrived);
    EXPECT_EQ(phoneSeen.batches.front(), (std::vector<std::string>{"_bk_X"}));
    EXPECT_EQ(phone->dictionaryForKey("_bk_X")->getInteger("page"), 41);

    phone->stopWatching();
    EXPECT_FALSE(phone->isWatching());
    sys::RunLoop::main().clear();
}

}  // namespace
