#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/FilelistItem.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/QNKeyChain.h"
#include "foundation/RemoteFileListState.h"
#include "foundation/Settings.h"
#include "foundation/StatisticsStore.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Date.h"
#include "platform/core/FileManager.h"
#include "platform/core/Keychain.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;

std::atomic<double> gNow{1765000000.0};
double fakeNow() { return gNow.load(); }

class FakeAppDelegate : public AppDelegateServices {
public:
    explicit FakeAppDelegate(std::shared_ptr<Settings> s) : settings_(std::move(s)) {}
    std::shared_ptr<Settings> settings() override { return settings_; }
    bool isAppGotoBackgroundProcess() override { return false; }

private:
    std::shared_ptr<Settings> settings_;
};

// Each test starts with no records on disk or in memory and a clock it sets.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gNow = 1765000000.0;
        sys::Date::setNowSource(fakeNow);
        settings = std::make_shared<Settings>(settingsDir.path(), &defaults);
        settings->setValueForKey("maximumNumberOfHistories", PlistValue("10"));
        AppDelegateServices::install(std::make_shared<FakeAppDelegate>(settings));
        sys::Keychain::setShared(sys::Keychain::inMemory());
        clearRecords();
    }
    void TearDown() override {
        clearRecords();
        AppDelegateServices::install(nullptr);
        sys::Keychain::setShared(nullptr);
        sys::Date::setNowSource(nullptr);
    }
    static void clearRecords() {
        HistoryCollector::relaseHistory();
        StatisticsStore::releaseSharedStatisticsStore();
        sys::FileManager::removeItem(BookCommon::getHistoryFilePath());
        sys::FileManager::removeItem(StatisticsStore::filePath());
        sys::FileManager::removeItem(BookCommon::getLastBookSettingFilePath());
        LastStatusRestore::removeAllLastStatus();
        LastStatusRestore::setJumpMode(false);
        LastStatusRestore::releaseObjects();
    }
    static void tick(double seconds) { gNow = gNow.load() + seconds; }

    test::TempDir settingsDir{"settings"};
    sys::UserDefaults defaults{settingsDir.file("defaults.plist")};
    std::shared_ptr<Settings> settings;
};

BookHistory local(const std::string& path) {
    BookHistory h;
    h.setPathFromBooks(path);
    h.setBookTitle(path);
    return h;
}

BookHistory remote(const std::string& url) {
    BookHistory h;
    h.setIsRemote(true);
    h.setBookUrl(url);
    h.setFolderUrl("smb://nas/share/");
    h.setRemoteFolderTitle("share");
    h.setBookTitle(url);
    return h;
}

std::vector<std::string> titles() {
    std::vector<std::string> out;
    for (const auto& h : HistoryCollector::getHistory().value_or(std::vector<BookHistory>{})) {
        out.push_back(h.bookTitle().value_or("?"));
    }
    return out;
}

// ---- Reading history --------------------------------------------------------

using HistoryTest = RecordsTest;

TEST_F(HistoryTest, ReopeningABookMovesItToTheFrontWithANewDate) {
    EXPECT_EQ(HistoryCollector::getHistory(), std::nullopt) << "no history was ever stored";
    HistoryCollector::addHistory(local("A.zip"));
    tick(10);
    HistoryCollector::addHistory(local("B.zip"));
    tick(10);
    HistoryCollector::addHistory(local("A.zip"));
    EXPECT_EQ(titles(), (std::vector<std::string>{"A.zip", "B.zip"}));
    EXPECT_EQ(HistoryCollector::getHistory()->front().date()->timeIntervalSince1970(), 1765000020.0);

    // A remote book of the same name is another book.
    HistoryCollector::addHistory(remote("A.zip"));
    EXPECT_EQ(titles(), (std::vector<std::string>{"A.zip", "A.zip", "B.zip"}));
    EXPECT_TRUE(HistoryCollector::getHistory()->front().isRemote());

    // What was written is what the next run reads.
    HistoryCollector::relaseHistory();
    auto again = HistoryCollector::getHistory();
    ASSERT_TRUE(again);
    ASSERT_EQ(again->size(), 3u);
    EXPECT_EQ((*again)[0].bookUrl(), "A.zip");
    EXPECT_EQ((*again)[0].folderUrl(), "smb://nas/share/");
    EXPECT_EQ((*again)[0].remoteFolderTitle(), "share");
    EXPECT_EQ((*again)[1].pathFromBooks(), "A.zip");
    EXPECT_FALSE((*again)[1].isRemote());
    EXPECT_EQ((*again)[2].date()->timeIntervalSince1970(), 1765000010.0);
}

TEST_F(HistoryTest, TheListKeepsToTheLimitAndALowerLimitDoesNotRewrite) {
    for (int i = 0; i < 11; ++i) HistoryCollector::addHistory(local("book" + std::to_string(i) + ".zip"));
    auto list = titles();
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list.front(), "book10.zip");
    EXPECT_EQ(list.back(), "book1.zip") << "the oldest one went";

    settings->setValueForKey("maximumNumberOfHistories", PlistValue("3"));
    EXPECT_EQ(titles(), (std::vector<std::string>{"book10.zip", "book9.zip", "book8.zip"}));
    EXPECT_EQ(sys::PropertyList::readArray(BookCommon::getHistoryFilePath())->size(), 10u);
}

TEST_F(HistoryTest, EntriesKeepEveryValueTheyHave) {
    BookHistory h = remote("http://h/x.zip");
    h.setFolderUrl(std::nullopt);
    HistoryCollector::addHistory(h);
    BookHistory l = local("dir/y.zip");
    l.setIsLockedFolder(true);
    HistoryCollector::addHistory(l);

    auto onFile = sys::PropertyList::readArray(BookCommon::getHistoryFilePath());
    ASSERT_TRUE(onFile);
    ASSERT_EQ(onFile->size(), 2u);
    const auto& localEntry = (*onFile)[0].asDictionary();
    EXPECT_EQ(localEntry.keys(), (std::vector<std::string>{"bookTitle", "date", "isLockedFolder", "isRemote",
                                                           "pathFromBooks"}));
    EXPECT_TRUE(localEntry.getBool("isLockedFolder"));
    const auto& remoteEntry = (*onFile)[1].asDictionary();
    // No folder URL: the title and date are still kept.
    EXPECT_EQ(remoteEntry.keys(),
              (std::vector<std::string>{"bookTitle", "bookUrl", "date", "isRemote", "remoteFolderTitle"}));
    EXPECT_TRUE(remoteEntry.getBool("isRemote"));
}

TEST_F(HistoryTest, AHandMadeFileIsReadAsFarAsItMakesSense) {
    PlistArray entries{
        PlistValue(PlistDictionary{{"isRemote", PlistValue(false)}, {"pathFromBooks", PlistValue("a.zip")}}),
        PlistValue("not an entry"),
        PlistValue(PlistDictionary{{"isRemote", PlistValue(true)},
                                   {"bookUrl", PlistValue(int64_t(5))},
                                   {"date", PlistValue("yesterday")},
                                   {"bookTitle", PlistValue("t")}}),
    };
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(entries), BookCommon::getHistoryFilePath()));
    auto list = HistoryCollector::getHistory();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].pathFromBooks(), "a.zip");
    EXPECT_FALSE((*list)[0].date());
    EXPECT_TRUE((*list)[1].isRemote());
    EXPECT_FALSE((*list)[1].bookUrl()) << "a URL that is not text is absent";
    EXPECT_FALSE((*list)[1].date());
    EXPECT_EQ((*list)[1].bookTitle(), "t");

    // An unreadable file later does not wipe the list in memory.
    ASSERT_TRUE(sys::FileManager::writeFile(BookCommon::getHistoryFilePath(), "broken"));
    HistoryCollector::loadFromFile();
    EXPECT_EQ(HistoryCollector::getHistory()->size(), 2u);
}

TEST_F(HistoryTest, RemovingEntries) {
    HistoryCollector::addHistory(local("a"));
    HistoryCollector::addHistory(local("b"));
    HistoryCollector::removeHistoryAtIndex(0);
    HistoryCollector::removeHistoryAtIndex(7);  // out of range: nothing
    EXPECT_EQ(titles(), (std::vector<std::string>{"a"}));
    EXPECT_EQ(sys::PropertyList::readArray(BookCommon::getHistoryFilePath())->size(), 2u) << "memory only";
    HistoryCollector::removeAllHistory();
    EXPECT_TRUE(HistoryCollector::getHistory()->empty());
    EXPECT_TRUE(sys::PropertyList::readArray(BookCommon::getHistoryFilePath())->empty());
}

// ---- Statistics ---------------------------------------------------------------

using StatisticsTest = RecordsTest;

TEST_F(StatisticsTest, AMissingFileStartsCountingFromNow) {
    auto stats = StatisticsStore::sharedStatisticsStore();
    EXPECT_EQ(stats->totalReadBooks(), 0);
    EXPECT_EQ(stats->totalReadPages(), 0);
    EXPECT_EQ(stats->staticticsStartDate(), sys::Date(1765000000.0));
    auto onFile = sys::PropertyList::readDictionary(StatisticsStore::filePath());
    ASSERT_TRUE(onFile) << "written at once";
    EXPECT_EQ(onFile->getDate("staticticsStartDate"), sys::Date(1765000000.0));
}

TEST_F(StatisticsTest, CountsSurviveARestart) {
    auto stats = StatisticsStore::sharedStatisticsStore();
    stats->incrementBookTotal();
    for (int i = 0; i < 5; ++i) stats->incrementPageTotal();
    StatisticsStore::releaseSharedStatisticsStore();
    tick(100);
    auto again = StatisticsStore::sharedStatisticsStore();
    EXPECT_EQ(again->totalReadBooks(), 1);
    EXPECT_EQ(again->totalReadPages(), 5);
    EXPECT_EQ(again->staticticsStartDate(), sys::Date(1765000000.0));
    again->resetStatistics();
    EXPECT_EQ(again->totalReadPages(), 0);
    EXPECT_EQ(sys::PropertyList::readDictionary(StatisticsStore::filePath())->getDate("staticticsStartDate"),
              sys::Date(1765000100.0));
}

TEST_F(StatisticsTest, AFileWithoutAStartDateIsReplaced) {
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    ASSERT_TRUE(sys::PropertyList::writeFile(
        PlistValue(PlistDictionary{{"totalReadPages", PlistValue(int64_t(70))},
                                   {"totalReadBooks", PlistValue(int64_t(3))},
                                   {"staticticsStartDate", PlistValue("2020-01-01")}}),
        StatisticsStore::filePath()));
    auto stats = StatisticsStore::sharedStatisticsStore();
    EXPECT_EQ(stats->totalReadPages(), 0);
    EXPECT_EQ(stats->totalReadBooks(), 0);
    EXPECT_EQ(sys::PropertyList::readDictionary(StatisticsStore::filePath())->getInteger("totalReadPages"), 0);
}

// ---- Last state -----------------------------------------------------------------

// A remote list screen as the last-state store sees it.
class FakeRemoteList : public RemoteFileListState {
public:
    std::optional<std::string> targetURL() const override { return url; }
    void setTargetURL(const std::optional<std::string>& v) override { url = v, order.push_back("url"); }
    std::optional<PlistArray> fileListArray() const override { return files; }
    void setFileListArray(const std::optional<PlistArray>& v) override { files = v, order.push_back("files"); }
    std::optional<PlistArray> infoListArray() const override { return infos; }
    void setInfoListArray(const std::optional<PlistArray>& v) override { infos = v, order.push_back("infos"); }
    std::optional<std::string> listTitle() const override { return title; }
    void setListTitle(const std::optional<std::string>& v) override { title = v, order.push_back("title"); }
    std::optional<PlistDictionary> otherSetting() const override { return other; }
    void setOtherSetting(const std::optional<PlistDictionary>& v) override { other = v, order.push_back("other"); }
    std::optional<std::string> fixUsername() const override { return fixUser; }
    void setFixUsername(const std::optional<std::string>& v) override { fixUser = v, order.push_back("fixUser"); }
    std::optional<std::string> fixID() const override { return fixId; }
    void setFixID(const std::optional<std::string>& v) override { fixId = v, order.push_back("fixID"); }
    std::optional<std::string> rawUsername() const override { return rawUser; }
    void setRawUsername(const std::optional<std::string>& v) override { rawUser = v, order.push_back("rawUser"); }
    bool useRawPassword() const override { return useRaw; }
    void setUseRawPassword(bool v) override { useRaw = v, order.push_back("useRaw"); }
    std::optional<std::string> rawPassword() const override { return rawPass; }
    void setRawPassword(const std::optional<std::string>& v) override { rawPass = v, order.push_back("rawPass"); }
    std::vector<const RemoteFileListState*> navigationStackForStatus() const override { return stack; }

    std::optional<std::string> url, title, fixUser, fixId, rawUser, rawPass;
    std::optional<PlistArray> files, infos;
    std::optional<PlistDictionary> other;
    bool useRaw = false;
    std::vector<const RemoteFileListState*> stack;
    std::vector<std::string> order;
};

using LastStatusTest = RecordsTest;

TEST_F(LastStatusTest, TheWayBackToTheLastFolderGoesOneLevelAtATime) {
    LastStatusRestore::setLocalTargetPath("comics/vol1");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath(""), "comics");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath("comics"), "vol1");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath("comics/vol1"), std::nullopt);
    EXPECT_EQ(LastStatusRestore::getNextLocalPath("*"), "");

    LastStatusRestore::setLocalTargetPath("*/dl/new");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath("*"), "dl");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath(""), "*");

    // In jump mode the recorded folder stays as it is.
    LastStatusRestore::setJumpMode(true);
    LastStatusRestore::setLocalTargetPath("elsewhere");
    EXPECT_EQ(LastStatusRestore::getNextLocalPath(""), "*");
    LastStatusRestore::setJumpMode(false);

    FilelistItem item;
    item.setPathFromBooks("from/item");
    LastStatusRestore::updateLastStatusLocal(item);
    auto d = sys::PropertyList::readDictionary(LastStatusRestore::getSettingFile());
    ASSERT_TRUE(d);
    EXPECT_EQ(*d, (PlistDictionary{{"localPath", PlistValue("from/item")},
                                   {"status", PlistValue(int64_t(0))},
                                   {"remoteViewCount", PlistValue(int64_t(0))}}));
}

TEST_F(LastStatusTest, RemoteListsAreSavedAndRestoredLevelByLevel) {
    LastStatusRestore::setLocalTargetPath("comics");
    FakeRemoteList first, second;
    first.url = "smb://nas/share/";
    first.files = PlistArray{PlistValue("smb://nas/share/a.zip")};
    first.infos = PlistArray{PlistValue(PlistDictionary{{"name", PlistValue("a.zip")}, {"isBook", PlistValue(true)}})};
    second = first;
    second.url = "smb://nas/share/sub/";
    second.title = "sub";
    second.other = PlistDictionary{{"smbLibrary", PlistValue(int64_t(1))}};
    second.fixUser = "guest";
    second.fixId = "site-7";
    second.rawUser = "reader";
    second.useRaw = true;
    second.rawPass = "secret";
    // Screens of other kinds between them count for nothing.
    first.stack = second.stack = {nullptr, &first, nullptr, &second};

    // Typed with "Remember My Password" on and taken by the server: kept
    // for its site, and only there.
    QNKeyChain::addOrUpdateAccountWithURL("smb://nas/share/", "reader", "secret");
    QNKeyChain::addOrUpdatePassword("older", "rawPassword", "ServerFileListRestore");
    LastStatusRestore::updateLastStatusRemote(first);
    LastStatusRestore::updateLastStatusRemote(second);
    auto state = sys::PropertyList::readDictionary(LastStatusRestore::getSettingFile());
    EXPECT_EQ(state->getInteger("status"), 1);
    EXPECT_EQ(state->getInteger("remoteViewCount"), 2);
    EXPECT_EQ(state->getString("localPath"), "comics");
    EXPECT_TRUE(LastStatusRestore::isRestoreRemoteFileList());

    auto level2 = sys::PropertyList::readDictionary(LastStatusRestore::getRemoteSettingFile(2));
    ASSERT_TRUE(level2);
    EXPECT_FALSE(level2->contains("rawPassword")) << "the password stays in the key chain";
    EXPECT_EQ(QNKeyChain::listAllURL(), std::vector<std::string>{"smb://nas:0"}) << "kept once, for its site";

    FakeRemoteList restored;
    ASSERT_TRUE(LastStatusRestore::restoreRemoteViewController(restored, 2));
    EXPECT_EQ(restored.order, (std::vector<std::string>{"url", "files", "infos", "title", "other", "fixUser",
                                                        "rawUser", "useRaw", "rawPass", "fixID"}));
    EXPECT_EQ(restored.url, second.url);
    EXPECT_EQ(restored.files, second.files);
    EXPECT_EQ(restored.infos, second.infos);
    EXPECT_EQ(restored.title, "sub");
    EXPECT_EQ(restored.other, second.other);
    EXPECT_EQ(restored.fixUser, "guest");
    EXPECT_EQ(restored.fixId, "site-7");
    EXPECT_EQ(restored.rawUser, "reader");
    EXPECT_TRUE(restored.useRaw);
    EXPECT_EQ(restored.rawPass, "secret");

    // An earlier version kept the password apart from its site: still read,
    // and moved under the site.
    QNKeyChain::deleteAll();
    QNKeyChain::addOrUpdatePassword("secret", "rawPassword", "ServerFileListRestore");
    FakeRemoteList old;
    ASSERT_TRUE(LastStatusRestore::restoreRemoteViewController(old, 2));
    EXPECT_EQ(old.rawPass, "secret");
    QNKeyChain::OptString user, password;
    QNKeyChain::getAccountWithURL(*second.url, &user, &password);
    EXPECT_EQ(user, "reader");
    EXPECT_EQ(password, "secret");
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(std::string("rawPassword"), std::string("ServerFileListRestore")),
              std::nullopt);

    FakeRemoteList beyond;
    EXPECT_FALSE(LastStatusRestore::restoreRemoteViewController(beyond, 3));
    EXPECT_TRUE(beyond.order.empty());

    LastStatusRestore::removeAllLastStatus();
    EXPECT_FALSE(sys::FileManager::fileExists(LastStatusRestore::getRemoteSettingFile(1)));
    EXPECT_FALSE(sys::FileManager::fileExists(LastStatusRestore::getSettingFile()));
}

TEST_F(LastStatusTest, RemoteStateIsOnlyKeptBesideALocalOne) {
    FakeRemoteList list;
    list.url = "ftp://h/";
    list.files = PlistArray{};
    list.infos = PlistArray{};
    list.stack = {&list};
    LastStatusRestore::updateLastStatusRemote(list);
    EXPECT_FALSE(sys::FileManager::fileExists(LastStatusRestore::getSettingFile()));
    EXPECT_FALSE(sys::FileManager::fileExists(LastStatusRestore::getRemoteSettingFile(1)));

    // A screen that is not on its own stack saves nothing.
    LastStatusRestore::setLocalTargetPath("");
    list.stack = {};
    LastStatusRestore::updateLastStatusRemote(list);
    EXPECT_FALSE(LastStatusRestore::isRestoreRemoteFileList());

    // Without an info list the level is counted but has no file; without a
    // password the key-chain item goes.
    QNKeyChain::addOrUpdatePassword("old", "rawPassword", "ServerFileListRestore");
    list.stack = {&list};
    list.infos.reset();
    LastStatusRestore::updateLastStatusRemote(list);
    EXPECT_TRUE(LastStatusRestore::isRestoreRemoteFileList());
    EXPECT_FALSE(sys::FileManager::fileExists(LastStatusRestore::getRemoteSettingFile(1)));
    FakeRemoteList restored;
    EXPECT_FALSE(LastStatusRestore::restoreRemoteViewController(restored, 1));
    list.infos = PlistArray{};
    LastStatusRestore::updateLastStatusRemote(list);
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(std::string("rawPassword"), std::string("ServerFileListRestore")),
              std::nullopt);

    // A level file without its lists cannot be restored.
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(PlistDictionary{{"remoteUrl", PlistValue("x")}}),
                                             LastStatusRestore::getRemoteSettingFile(1)));
    EXPECT_FALSE(LastStatusRestore::restoreRemoteViewController(restored, 1));
}

TEST_F(LastStatusTest, ReadingTargetAndJumpBook) {
    LastStatusRestore::setBookReading(PlistValue("a.zip"));
    EXPECT_FALSE(sys::FileManager::fileExists(LastStatusRestore::getSettingFile())) << "only beside a saved state";
    LastStatusRestore::setLocalTargetPath("x");
    LastStatusRestore::setBookReading(PlistValue("a.zip"));
    EXPECT_EQ(sys::PropertyList::readDictionary(LastStatusRestore::getSettingFile())->getString("readingTarget"),
              "a.zip");
    LastStatusRestore::setBookReading(PlistValue());
    EXPECT_FALSE(sys::PropertyList::readDictionary(LastStatusRestore::getSettingFile())->contains("readingTarget"));

    EXPECT_FALSE(LastStatusRestore::isBookReading());
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(PlistArray{}), BookCommon::getLastBookSettingFilePath()));
    EXPECT_FALSE(LastStatusRestore::isBookReading());
    ASSERT_TRUE(sys::PropertyList::writeFile(PlistValue(PlistArray{PlistValue("a.zip")}),
                                             BookCommon::getLastBookSettingFilePath()));
    EXPECT_TRUE(LastStatusRestore::isBookReading());

    LastStatusRestore::setTryRemoteDoneFlag(true);
    LastStatusRestore::setJumpBook("Cafe\xCC\x81.zip", std::nullopt, "title");
    EXPECT_EQ(LastStatusRestore::getJumpBook(), "Cafe\xCC\x81.zip");
    LastStatusRestore::setJumpBook("Caf\xC3\xA9.zip", "smb://h/", "t");
    EXPECT_EQ(LastStatusRestore::getJumpBook(), "Cafe\xCC\x81.zip") << "kept decomposed";
    EXPECT_EQ(LastStatusRestore::getRemoteFolder(), "smb://h/");
    EXPECT_FALSE(LastStatusRestore::getTryRemoteDoneFlag());
    LastStatusRestore::setJumpBook(std::nullopt, "ignored", "ignored");
    EXPECT_EQ(LastStatusRestore::getJumpBook(), std::nullopt);
    EXPECT_EQ(LastStatusRestore::getRemoteFolder(), std::nullopt);
}

TEST_F(LastStatusTest, CleanUpsRemoveOnlyTheirOwnFiles) {
    const std::string lib = sys::AppPaths::library();
    const std::string cfg = BookCommon::getSettingsFolder();
    sys::FileManager::createDirectory(cfg, true);
    for (const auto& f : {lib + "/r_1.remotestatus", lib + "/r_2.remotestatus", lib + "/keep.plist",
                          cfg + "/a.listcache", cfg + "/.globalsettings.lbs"}) {
        ASSERT_TRUE(sys::FileManager::writeFile(f, "x"));
    }
    LastStatusRestore::removeOldConfigFile();
    LastStatusRestore::removeRemoteStackFile();
    EXPECT_FALSE(sys::FileManager::fileExists(lib + "/r_1.remotestatus"));
    EXPECT_FALSE(sys::FileManager::fileExists(lib + "/r_2.remotestatus"));
    EXPECT_FALSE(sys::FileManager::fileExists(cfg + "/a.listcache"));
    EXPECT_TRUE(sys::FileManager::fileExists(lib + "/keep.plist"));
    EXPECT_TRUE(sys::FileManager::fileExists(cfg + "/.globalsettings.lbs"));
    sys::FileManager::removeItem(lib + "/keep.plist");
    sys::FileManager::removeItem(cfg + "/.globalsettings.lbs");
}

}  // namespace
