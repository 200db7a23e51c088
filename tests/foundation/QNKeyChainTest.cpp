#include <gtest/gtest.h>

#include "foundation/QNKeyChain.h"
#include "platform/core/Keychain.h"
#include "tests/support/SecretSession.h"
#include "tests/support/TestHome.h"

namespace {

class QNKeyChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = sys::Keychain::inMemory();
        sys::Keychain::setShared(store_);
    }
    void TearDown() override { sys::Keychain::setShared(nullptr); }
    std::vector<sys::KeychainItem> items() {
        std::vector<sys::KeychainItem> out;
        store_->copyMatching(sys::KeychainQuery{}, &out);
        return out;
    }
    std::shared_ptr<sys::Keychain> store_;
};

TEST_F(QNKeyChainTest, FolderKeysDefaultThePortAndDropTheTrailingSlash) {
    EXPECT_EQ(QNKeyChain::formatURL("http://srv/books/vol1.zip"), "http://srv:80/books/vol1.zip");
    EXPECT_EQ(QNKeyChain::formatURL("https://h/a/"), "https://h:0/a");
    EXPECT_EQ(QNKeyChain::formatURL("http://srv:8080/a"), "http://srv:8080/a");
    EXPECT_EQ(QNKeyChain::formatURL("http://srv:0/a"), "http://srv:80/a");
    EXPECT_EQ(QNKeyChain::formatURL("ftp://srv/a"), "ftp://srv:0/a");
    EXPECT_EQ(QNKeyChain::formatURL("smb://srv:445/share/x"), "smb://srv:0/share/x");
    EXPECT_EQ(QNKeyChain::formatURL("smb://srv/share/x"), "smb://srv:0/share/x");
    // Another SMB server on the same host is never handed the first one's.
    EXPECT_EQ(QNKeyChain::formatURL("smb://srv:4445/share/x"), "smb://srv:4445/share/x");
    EXPECT_EQ(QNKeyChain::formatURL("http://user:pw@srv/a?x=1#f"), "http://srv:80/a");
    EXPECT_EQ(QNKeyChain::formatURL("http://srv"), "http://srv:80");
    EXPECT_EQ(QNKeyChain::formatURL("http://srv/"), "http://srv:80/");
}

TEST_F(QNKeyChainTest, UnescapedAndEscapedNamesGiveStableKeys) {
    // A space and non-Latin letters are escaped for parsing and come back as given.
    EXPECT_EQ(QNKeyChain::formatURL("http://srv/漫画 本/a.zip"), "http://srv:80/漫画 本/a.zip");
    // An escape in the address is part of its text: the key keeps it, and
    // formatting a key again gives the same key.
    auto key = QNKeyChain::formatURL("http://srv/a%20b/c");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "http://srv:80/a%20b/c");
    EXPECT_EQ(QNKeyChain::formatURL(*key), key);
}

TEST_F(QNKeyChainTest, AddressesThatDoNotParseHaveNoKey) {
    EXPECT_FALSE(QNKeyChain::formatURL(""));
    EXPECT_FALSE(QNKeyChain::formatURL("/local/path/book.zip"));
    EXPECT_FALSE(QNKeyChain::formatURL("http:/srv/a"));
    EXPECT_FALSE(QNKeyChain::formatURL("http://srv:port/a"));
    EXPECT_FALSE(QNKeyChain::formatURL("http://:80/a"));
    EXPECT_FALSE(QNKeyChain::addOrUpdateAccountWithURL("no address", "u", "p"));
    EXPECT_FALSE(QNKeyChain::deleteAccountWithURL("no address"));
    EXPECT_TRUE(items().empty());
}

TEST_F(QNKeyChainTest, ParentKeysUseTheOwnPort) {
    EXPECT_EQ(QNKeyChain::urlDeleteLastPathCompornent("http://srv:80/books/vol1.zip"), "http://srv:80/books");
    EXPECT_EQ(QNKeyChain::urlDeleteLastPathCompornent("http://srv:80/books"), "http://srv:80/");
    EXPECT_EQ(QNKeyChain::urlDeleteLastPathCompornent("http://srv/books"), "http://srv:0/");
    EXPECT_FALSE(QNKeyChain::urlDeleteLastPathCompornent("http://srv:80/"));
    EXPECT_FALSE(QNKeyChain::urlDeleteLastPathCompornent("http://srv:80"));
    EXPECT_EQ(QNKeyChain::removeLastPathChar("a//"), "a/");
    EXPECT_EQ(QNKeyChain::removeLastPathChar(""), "");
}

TEST_F(QNKeyChainTest, PasswordGivenForAFolderIsFoundBelowIt) {
    ASSERT_TRUE(QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/vol1.zip", "alice", "secret"));
    ASSERT_EQ(items().size(), 1u);
    EXPECT_EQ(items()[0].service, "http://srv:80/books");

    std::optional<std::string> user, password;
    auto found = QNKeyChain::getAccountWithURL("http://srv/books/sub/vol2.zip", &user, &password);
    EXPECT_EQ(found, "http://srv:80/books");
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "secret");

    // Another host, or a folder beside it, does not match; both outputs are cleared.
    user = "x";
    password = "y";
    EXPECT_FALSE(QNKeyChain::getAccountWithURL("http://other/books/a.zip", &user, &password));
    EXPECT_FALSE(user);
    EXPECT_FALSE(password);
    EXPECT_FALSE(QNKeyChain::getAccountWithURL("http://srv/books2/a.zip", &user, &password));
    // The port is part of the folder.
    EXPECT_FALSE(QNKeyChain::getAccountWithURL("http://srv:8080/books/a.zip", &user, &password));
}

TEST_F(QNKeyChainTest, AFolderAddressRemembersItsParent) {
    ASSERT_TRUE(QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/", "bob", "pw"));
    ASSERT_EQ(items().size(), 1u);
    EXPECT_EQ(items()[0].service, "http://srv:80");
    std::optional<std::string> user, password;
    EXPECT_EQ(QNKeyChain::getAccountWithURL("http://srv/elsewhere/x.zip", &user, &password), "http://srv:80");
    EXPECT_EQ(user, "bob");
}

TEST_F(QNKeyChainTest, OneItemPerFolderANewUserReplacesTheOld) {
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/a.zip", "alice", "1");
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/b.zip", "bob", "2");
    ASSERT_EQ(items().size(), 1u);
    EXPECT_EQ(items()[0].account, "bob");
    EXPECT_EQ(items()[0].value, "2");

    // Even when something else left two accounts under the folder's key.
    store_->add("http://srv:80/books", "carol", "3");
    EXPECT_TRUE(QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/c.zip", "dave", "4"));
    ASSERT_EQ(items().size(), 1u);
    EXPECT_EQ(items()[0].account, "dave");
}

TEST_F(QNKeyChainTest, TheFirstStoredItemThatMatchesWins) {
    // Stored first: the outer folder; the inner one is deeper but later.
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/x.zip", "outer", "o");
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/inner/x.zip", "inner", "i");
    std::optional<std::string> user, password;
    EXPECT_EQ(QNKeyChain::getAccountWithURL("http://srv/books/inner/deep/y.zip", &user, &password),
              "http://srv:80/books");
    EXPECT_EQ(user, "outer");
}

TEST_F(QNKeyChainTest, AnEmptyKeyChainLeavesTheOutputsAlone) {
    std::optional<std::string> user = "keep", password = "keep";
    EXPECT_FALSE(QNKeyChain::getAccountWithURL("http://srv/a.zip", &user, &password));
    EXPECT_EQ(user, "keep");
    EXPECT_EQ(password, "keep");
}

TEST_F(QNKeyChainTest, PlainPasswordsByAccountAndService) {
    EXPECT_FALSE(QNKeyChain::getPasswordWithAccount(std::nullopt, "MediaServer"));
    EXPECT_FALSE(QNKeyChain::getPasswordWithAccount("id", std::nullopt));
    EXPECT_FALSE(QNKeyChain::getPasswordWithAccount("id", "MediaServer"));

    EXPECT_TRUE(QNKeyChain::addOrUpdatePassword("first", "id", "MediaServer"));
    EXPECT_TRUE(QNKeyChain::addOrUpdatePassword("second", "id", "MediaServer"));
    EXPECT_TRUE(QNKeyChain::addOrUpdatePassword("other", "id2", "MediaServer"));
    ASSERT_EQ(items().size(), 2u);
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("id", "MediaServer"), "second");
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("", "MediaServer"), std::nullopt);

    EXPECT_TRUE(QNKeyChain::deletePasswordWithAccount("id", "MediaServer"));
    EXPECT_FALSE(QNKeyChain::deletePasswordWithAccount("id", "MediaServer"));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("id2", "MediaServer"), "other");
}

TEST_F(QNKeyChainTest, DeletingByServiceByAddressAndEverything) {
    QNKeyChain::addOrUpdatePassword("a", "u1", "svc");
    QNKeyChain::addOrUpdatePassword("b", "u2", "svc");
    QNKeyChain::addOrUpdatePassword("c", "startupPassphrase", "Leafbright");
    QNKeyChain::addOrUpdateAccountWithURL("ftp://srv/dir/file.zip", "u", "p");
    EXPECT_EQ(QNKeyChain::listAllURL(),
              (std::vector<std::string>{"svc", "svc", "Leafbright", "ftp://srv:0/dir"}));

    EXPECT_TRUE(QNKeyChain::deletePassword("svc"));
    EXPECT_FALSE(QNKeyChain::deletePassword("svc"));
    EXPECT_TRUE(QNKeyChain::deleteAccountWithURL("ftp://srv/dir"));
    EXPECT_EQ(QNKeyChain::listAllURL(), (std::vector<std::string>{"Leafbright"}));

    QNKeyChain::deleteAll();
    EXPECT_TRUE(QNKeyChain::listAllURL().empty());
}

// A refused password is forgotten through the book's address: what goes is
// the folder's password that address was given, and nothing else.
TEST_F(QNKeyChainTest, ForgettingAnAddressRemovesThePasswordItWasGiven) {
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/mags/a.zip", "bob", "magsPW");
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/vol1.zip", "alice", "booksPW");
    QNKeyChain::addOrUpdateAccountWithURL("http://srv/books/sub/deep/x.zip", "carol", "deepPW");
    EXPECT_TRUE(QNKeyChain::deleteAccountWithURL("http://srv/books/sub/vol2.zip"));
    QNKeyChain::OptString user, password;
    EXPECT_EQ(QNKeyChain::getAccountWithURL("http://srv/books/sub/vol2.zip", &user, &password), std::nullopt);
    EXPECT_EQ(password, std::nullopt);
    EXPECT_EQ(QNKeyChain::listAllURL(),
              (std::vector<std::string>{"http://srv:80/mags", "http://srv:80/books/sub/deep"}));
    // Nothing remembered for the address: nothing goes.
    EXPECT_TRUE(QNKeyChain::deleteAccountWithURL("http://other/books/a.zip"));
    EXPECT_EQ(QNKeyChain::listAllURL().size(), 2u);
}

TEST_F(QNKeyChainTest, APasswordSavedWhileTheSecretStoreIsAwayIsKeptInTheFile) {
    if (auto why = test::SecretSession::unavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::SecretSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    ASSERT_TRUE(session.startFailingProvider(test::SecretSession::Failure::LeavesTheBus));
    test::TempDir dir("away");
    auto store = sys::Keychain::preferringSecretService(dir.file("keychain.txt"), session.address());
    ASSERT_TRUE(store->usesSecretService());
    sys::Keychain::setShared(store);
    // The store leaves while the password is stored; it cannot tell whether
    // it held one, and the password goes to the file.
    EXPECT_TRUE(QNKeyChain::addOrUpdatePassword("pw", "site", "MediaServer"));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("site", std::string("MediaServer")), "pw");
    EXPECT_TRUE(QNKeyChain::addOrUpdatePassword("pw2", "site", "MediaServer"));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("site", std::string("MediaServer")), "pw2");
    // Away from now on: another site's password, which the store might
    // hold, goes to the file too.
    EXPECT_TRUE(QNKeyChain::addOrUpdatePassword("pw3", "site3", "MediaServer"));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("site3", std::string("MediaServer")), "pw3");
    std::vector<sys::KeychainItem> inFile;
    ASSERT_EQ(sys::Keychain::atPath(dir.file("keychain.txt"))->copyMatching(sys::KeychainQuery{}, &inFile),
              sys::Keychain::kSuccess);
    ASSERT_EQ(inFile.size(), 2u);
    EXPECT_EQ(inFile[0].value, "pw2");
    EXPECT_EQ(inFile[1].value, "pw3");
}

// A server refused the remembered password while the keyring was locked:
// the copy the file kept (saved while the keyring did not answer) goes at
// once, and is not moved into the keyring once it is unlocked.
TEST_F(QNKeyChainTest, APasswordForgottenWhileTheKeyringIsLockedLeavesTheFileAndNeverComesBack) {
    if (auto why = test::SecretSession::unavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::SecretSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    ASSERT_TRUE(session.startKeyring()) << session.error();
    test::TempDir dir("locked");
    const std::string file = dir.file("keychain.txt");
    ASSERT_EQ(sys::Keychain::atPath(file)->add("http://srv:80/books", "alice", "refusedPW"), sys::Keychain::kSuccess);
    ASSERT_EQ(sys::Keychain::atPath(file)->add("http://srv:80/mags", "bob", "refusedToo"), sys::Keychain::kSuccess);
    ASSERT_EQ(sys::Keychain::atPath(file)->add("http://other:80/mags", "eve", "otherPW"), sys::Keychain::kSuccess);
    ASSERT_TRUE(session.lockDefaultCollection()) << session.error();
    sys::Keychain::setShared(sys::Keychain::preferringSecretService(file, session.address()));
    ASSERT_TRUE(sys::Keychain::shared()->usesSecretService());
    EXPECT_TRUE(QNKeyChain::deleteAccountWithURL("http://srv/books/"));
    EXPECT_EQ(test::readFile(file).find("refusedPW"), std::string::npos);
    // Forgotten through a book's address, below the folder it was given for.
    EXPECT_TRUE(QNKeyChain::deleteAccountWithURL("http://srv/mags/2024/issue1.zip"));
    EXPECT_EQ(test::readFile(file).find("refusedToo"), std::string::npos);
    EXPECT_NE(test::readFile(file).find("otherPW"), std::string::npos);

    ASSERT_TRUE(session.stopKeyring());
    ASSERT_TRUE(session.startKeyring()) << session.error();
    sys::Keychain::setShared(sys::Keychain::preferringSecretService(file, session.address()));
    QNKeyChain::OptString user, password;
    EXPECT_EQ(QNKeyChain::getAccountWithURL("http://srv/books/vol1.zip", &user, &password), std::nullopt);
    EXPECT_EQ(password, std::nullopt);
}

}  // namespace
