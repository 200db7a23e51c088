#include "cloud/CloudJson.h"
#include "cloud/CloudService.h"
#include "cloud/CloudSignIn.h"
#include "cloud/CloudTokenStore.h"
#include "cloud/DropboxCommon.h"
#include "cloud/GoogleDriveAPI.h"
#include "cloud/GoogleDriveAPIFile.h"
#include "cloud/OneDriveCommon.h"
#include "cloud/OneDriveTokenKeeper.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/Keychain.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

class CloudTokenStoreTest : public ::testing::Test {
protected:
    void SetUp() override { sys::Keychain::setShared(sys::Keychain::inMemory()); }
    void TearDown() override { sys::Keychain::setShared(nullptr); }
};

TEST_F(CloudTokenStoreTest, ExpiryMarginAndAnExpiredTokenKeepsItsRefreshToken) {
    const int64_t now = std::time(nullptr);
    CloudTokenStore::save(CloudService::OneDrive, "k", {"fresh", "r", now + 3600});
    EXPECT_EQ(OneDriveTokenKeeper::getStoredTokenWithKey("k"), "fresh");
    // Within 300 s of expiry: not handed out, but still stored.
    CloudTokenStore::save(CloudService::OneDrive, "k", {"soon", "r", now + 100});
    EXPECT_FALSE(OneDriveTokenKeeper::getStoredTokenWithKey("k"));
    EXPECT_EQ(CloudTokenStore::load(CloudService::OneDrive, "k")->access, "soon");
    // Expired: the access token goes, the refresh token stays for renewal.
    CloudTokenStore::save(CloudService::OneDrive, "k", {"old", "r", now - 10});
    EXPECT_FALSE(OneDriveTokenKeeper::getStoredTokenWithKey("k"));
    auto t = CloudTokenStore::load(CloudService::OneDrive, "k");
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->access.empty());
    EXPECT_EQ(t->refresh, "r");
    // Without a refresh token nothing is left to keep.
    CloudTokenStore::save(CloudService::GoogleDrive, "g", {"old", "", now - 10});
    EXPECT_FALSE(GoogleDriveAPI::getTokenWithKeychainItemName("g"));
    EXPECT_FALSE(CloudTokenStore::load(CloudService::GoogleDrive, "g"));
    // No lifetime named: good until refused. Accounts are kept apart.
    CloudTokenStore::save(CloudService::Dropbox, "d", {"forever", "", 0});
    EXPECT_EQ(DropboxCommon::getAccesToken("d"), "forever");
    EXPECT_FALSE(DropboxCommon::getAccesToken("other"));
    EXPECT_EQ(CloudTokenStore::keychainService(CloudService::Dropbox), "dropbox.auth");
}

TEST_F(CloudTokenStoreTest, TokenAnswers) {
    std::string error;
    auto t = CloudTokenStore::fromTokenAnswer(R"({"access_token":"a","expires_in":3600,"token_type":"bearer"})",
                                              "kept", &error);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->refresh, "kept") << "an answer without a new refresh token keeps the old one";
    EXPECT_NEAR(double(t->expiresAt), double(std::time(nullptr) + 3600), 5);
    EXPECT_FALSE(CloudTokenStore::fromTokenAnswer(R"({"error":"invalid_grant"})", "", &error));
    EXPECT_EQ(error, "invalid_grant");
    EXPECT_FALSE(CloudTokenStore::fromTokenAnswer("<html>", "", &error));
    EXPECT_FALSE(CloudTokenStore::fromTokenAnswer(R"({"access_token":""})", "", &error));
}

TEST(CloudFormatsTest, DatesPkceDriveRecordsAndHeaders) {
    EXPECT_EQ(CloudJson::parseDate("2024-05-01T10:20:30Z"), 1714558830);
    EXPECT_EQ(CloudJson::parseDate("2024-05-01T10:20:30.1234567Z"), 1714558830);
    EXPECT_EQ(CloudJson::parseDate("2024-05-01T12:20:30+02:00"), 1714558830);
    EXPECT_EQ(CloudJson::parseDate("2024-05-01T03:20:30-07:00"), 1714558830);
    EXPECT_FALSE(CloudJson::parseDate("2024-05-01"));
    EXPECT_FALSE(CloudJson::parseDate("2024-13-01T00:00:00Z"));
    EXPECT_FALSE(CloudJson::parseDate("yesterday at noon, roughly"));

    // RFC 7636's example pair.
    EXPECT_EQ(CloudSignIn::challengeFor("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const std::string v = CloudSignIn::makeVerifier();
    EXPECT_GE(v.size(), 43u);
    EXPECT_EQ(v.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"),
              std::string::npos);
    EXPECT_NE(v, CloudSignIn::makeVerifier());

    // Drive's v3 item in the record's older names; sizes come as strings.
    auto item = CloudJson::parseObject(R"({"id":"x1","name":"Title","originalFilename":"a.cbz","size":"9007199254740993",
        "modifiedTime":"2024-05-01T10:20:30.000Z","mimeType":"application/zip","explicitlyTrashed":false})");
    ASSERT_TRUE(item);
    auto f = GoogleDriveAPIFile::fromItem(*item, "https://api.example");
    EXPECT_EQ(f.title, "Title");
    EXPECT_EQ(f.fileSize, 9007199254740993LL);
    EXPECT_EQ(f.modifiedDate, 1714558830);
    EXPECT_EQ(f.explicitlyTrashed, false);
    EXPECT_EQ(f.downloadUrl, "https://api.example/drive/v3/files/x1?alt=media");
    EXPECT_FALSE(GoogleDriveAPIFile::fromItem(*CloudJson::parseObject(R"({"id":"x","size":"12abc"})"), "").fileSize);

    // Dropbox names the file in a header: ASCII only, JSON escapes beyond.
    HttpRequest d = DropboxCommon::downloadRequest("/漫画/\"q\".cbz");
    EXPECT_EQ(d.header("Dropbox-API-Arg"), R"({"path": "/\u6f2b\u753b/\"q\".cbz"})");
    EXPECT_EQ(d.method, "POST");
    EXPECT_EQ(DropboxCommon::downloadRequest("/\xF0\x9F\x93\x9A").header("Dropbox-API-Arg"),
              R"({"path": "/\ud83d\udcda"})");

    HttpRequest r;
    r.setHeader("Authorization", "Bearer t");
    r.setHeader("Range", "bytes=0-9");
    HttpRequest copy = OneDriveCommon::getMutableURLRequestWithoutAuthorization(r);
    EXPECT_EQ(copy.header("Authorization"), "");
    EXPECT_EQ(copy.header("Range"), "bytes=0-9");
}

}  // namespace

TEST_F(CloudTokenStoreTest, AClientSecretSetInTheDefaultsGoesToTheKeyChainAndOutOfTheirFile) {
    auto& defaults = sys::UserDefaults::standard();
    const std::string key = "cloud.box.clientSecret";
    defaults.setObject(sys::PlistValue(std::string("s3cret-of-box")), key);
    ASSERT_TRUE(defaults.synchronize());
    ASSERT_NE(test::readFile(defaults.path()).find("s3cret-of-box"), std::string::npos);

    // At start-up: moved, and the file no longer holds it.
    CloudEndpoints::moveClientSecretsToKeyChain();
    EXPECT_FALSE(defaults.stringForKey(key));
    EXPECT_EQ(test::readFile(defaults.path()).find("s3cret-of-box"), std::string::npos);
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(std::string("box"), std::string(CloudEndpoints::kClientSecretService)),
              "s3cret-of-box");
    EXPECT_EQ(CloudEndpoints::clientSecret(CloudService::Box), "s3cret-of-box");

    // Set again later: the new one replaces it, by the first read of the
    // secret. The endpoints every request asks for leave the key chain alone.
    defaults.setObject(sys::PlistValue(std::string("newer")), key);
    defaults.synchronize();
    CloudEndpoints::forService(CloudService::Box);
    EXPECT_TRUE(defaults.stringForKey(key)) << "the endpoints read the secret";
    EXPECT_EQ(CloudEndpoints::clientSecret(CloudService::Box), "newer");
    EXPECT_FALSE(defaults.stringForKey(key));
    EXPECT_EQ(test::readFile(defaults.path()).find("newer"), std::string::npos);
    EXPECT_EQ(CloudEndpoints::clientSecret(CloudService::OneDrive), "");
    QNKeyChain::deletePasswordWithAccount("box", CloudEndpoints::kClientSecretService);
}
