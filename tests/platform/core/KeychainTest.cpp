#include <gtest/gtest.h>

#include "platform/core/Date.h"
#include "platform/core/Keychain.h"
#include "tests/support/TestHome.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

using sys::Keychain;
using sys::KeychainChanges;
using sys::KeychainItem;
using sys::KeychainQuery;

double gNow = 1000;
double fakeNow() { return gNow; }

std::vector<KeychainItem> all(const Keychain& k) {
    std::vector<KeychainItem> items;
    k.copyMatching(KeychainQuery{}, &items);
    return items;
}

using test::readFile;

TEST(KeychainTest, StatusCodesOfTheItemOperations) {
    auto k = Keychain::inMemory();
    EXPECT_EQ(k->copyMatching(KeychainQuery{"svc", "acc"}, nullptr), Keychain::kItemNotFound);
    EXPECT_EQ(k->update(KeychainQuery{"svc", std::nullopt}, KeychainChanges{{}, {}, "v"}), Keychain::kItemNotFound);
    EXPECT_EQ(k->remove(KeychainQuery{"svc", std::nullopt}), Keychain::kItemNotFound);
    EXPECT_EQ(Keychain::kItemNotFound, -25300);

    EXPECT_EQ(k->add("svc", "acc", "one"), Keychain::kSuccess);
    EXPECT_EQ(k->add("svc", "acc", "two"), Keychain::kDuplicateItem);
    EXPECT_EQ(k->add("svc", "other", "two"), Keychain::kSuccess);

    std::vector<KeychainItem> found;
    ASSERT_EQ(k->copyMatching(KeychainQuery{"svc", "acc"}, &found), Keychain::kSuccess);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].value, "one");
    ASSERT_EQ(k->copyMatching(KeychainQuery{"svc", std::nullopt}, &found), Keychain::kSuccess);
    EXPECT_EQ(found.size(), 2u);

    EXPECT_EQ(k->remove(KeychainQuery{"svc", std::nullopt}), Keychain::kSuccess);
    EXPECT_TRUE(all(*k).empty());
}

TEST(KeychainTest, ItemsKeepTheirInsertionOrder) {
    auto k = Keychain::inMemory();
    for (const char* s : {"zeta", "alpha", "mid", "beta"}) k->add(s, "a", "v");
    k->remove(KeychainQuery{"mid", "a"});
    k->add("omega", "a", "v");
    k->update(KeychainQuery{"alpha", std::nullopt}, KeychainChanges{{}, {}, "new"});
    std::vector<std::string> services;
    for (const auto& it : all(*k)) services.push_back(it.service);
    EXPECT_EQ(services, (std::vector<std::string>{"zeta", "alpha", "beta", "omega"}));
}

TEST(KeychainTest, UpdateRenewsTheModificationDateAndRefusesCollisions) {
    sys::Date::setNowSource(fakeNow);
    gNow = 1000;
    auto k = Keychain::inMemory();
    k->add("svc", "a", "1");
    k->add("svc", "b", "2");
    gNow = 2000;
    ASSERT_EQ(k->update(KeychainQuery{"svc", "a"}, KeychainChanges{{}, {}, "new"}), Keychain::kSuccess);
    auto items = all(*k);
    EXPECT_EQ(items[0].value, "new");
    EXPECT_EQ(items[0].creationDate, 1000);
    EXPECT_EQ(items[0].modificationDate, 2000);
    EXPECT_EQ(items[1].modificationDate, 1000);

    // Renaming both accounts of the service to one would make two equal keys.
    EXPECT_EQ(k->update(KeychainQuery{"svc", std::nullopt}, KeychainChanges{{}, "same", "x"}),
              Keychain::kDuplicateItem);
    items = all(*k);
    EXPECT_EQ(items[0].account, "a");
    EXPECT_EQ(items[1].account, "b");
    EXPECT_EQ(items[1].value, "2");
    sys::Date::setNowSource(nullptr);
}

TEST(KeychainTest, FileStoreIsPrivateAndSurvivesAwkwardValues) {
    test::TempDir dir("keychain");
    std::string file = dir.file("sub/keychain.txt");
    mode_t old = ::umask(0);
    {
        auto k = Keychain::atPath(file);
        ASSERT_EQ(k->add("http://h:80/a b", "user\tname", "pa\\ss\nword\r"), Keychain::kSuccess);
        ASSERT_EQ(k->add("second", "", ""), Keychain::kSuccess);
    }
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    auto again = Keychain::atPath(file);
    auto items = all(*again);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].service, "http://h:80/a b");
    EXPECT_EQ(items[0].account, "user\tname");
    EXPECT_EQ(items[0].value, "pa\\ss\nword\r");
    EXPECT_EQ(items[1].service, "second");
    EXPECT_EQ(items[1].value, "");
}

TEST(KeychainTest, NulInsideAValueRoundTrips) {
    test::TempDir dir("keychain");
    std::string file = dir.file("k.txt");
    std::string value("a\0b", 3);
    Keychain::atPath(file)->add("s", "a", value);
    auto items = all(*Keychain::atPath(file));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].value, value);
}

TEST(KeychainTest, DamagedLinesAreDroppedAndTheRestKept) {
    test::TempDir dir("keychain");
    std::string file = dir.file("k.txt");
    {
        std::ofstream out(file);
        out << "# header\n"
            << "item\tgood\tacc\tvalue\t1.000\t2.000\n"
            << "item\tbroken\tno dates\n"
            << "item\tbad\\q\tacc\tvalue\t1\t2\n"
            << "garbage line\n"
            << "item\tgood2\tacc\tv2\t3\t4";  // no final newline
    }
    auto items = all(*Keychain::atPath(file));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].service, "good");
    EXPECT_EQ(items[0].creationDate, 1.0);
    EXPECT_EQ(items[0].modificationDate, 2.0);
    EXPECT_EQ(items[1].service, "good2");
}

TEST(KeychainTest, UnreadableFileFailsEveryOperationAndIsNotReplaced) {
    test::TempDir dir("keychain");
    // A folder where the file should be: it exists but cannot be read as items.
    std::string file = dir.file("k.txt");
    ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((file + "/keep").c_str(), 0700), 0);
    auto k = Keychain::atPath(file);
    EXPECT_EQ(k->copyMatching(KeychainQuery{}, nullptr), Keychain::kIO);
    EXPECT_EQ(k->add("s", "a", "v"), Keychain::kIO);
    EXPECT_EQ(k->remove(KeychainQuery{}), Keychain::kIO);
    struct stat st {};
    ASSERT_EQ(::stat((file + "/keep").c_str(), &st), 0);
}

TEST(KeychainTest, FailedWriteLeavesTheStoreAsItWas) {
    test::TempDir dir("keychain");
    std::string folder = dir.file("ro");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    std::string file = folder + "/k.txt";
    auto k = Keychain::atPath(file);
    ASSERT_EQ(k->add("s", "a", "v"), Keychain::kSuccess);
    // Block the temporary file's name so that the next save cannot be made.
    std::string tmp = file + ".tmp" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
    EXPECT_EQ(k->add("s2", "a", "v"), Keychain::kIO);
    EXPECT_EQ(all(*k).size(), 1u);
    EXPECT_NE(readFile(file).find("item\ts\ta\tv"), std::string::npos);
}

TEST(KeychainTest, SharedStoreCanBeReplacedForTests) {
    auto mem = Keychain::inMemory();
    Keychain::setShared(mem);
    EXPECT_EQ(Keychain::shared(), mem);
    EXPECT_TRUE(Keychain::shared()->path().empty());
    Keychain::setShared(nullptr);
    // The default store is a file in the application's Library.
    EXPECT_NE(Keychain::shared()->path().find("/Library/keychain.txt"), std::string::npos);
    Keychain::setShared(nullptr);
}

}  // namespace
