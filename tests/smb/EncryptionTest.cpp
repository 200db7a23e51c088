// SMB 3 encryption against smbd: servers that encrypt whole sessions
// (encryption "desired" on 3.0 and 3.1.1, "required" with each cipher 3.1.1
// negotiates), shares that demand it on signed and unsigned sessions, and
// encrypted replies altered on the way, which are refused.

#include <gtest/gtest.h>

#include "foundation/Settings.h"
#include "remote/protocols/SmbWire.h"
#include "remote/transfer/HttpDownload.h"
#include "remote/transfer/SMBDownload.h"
#include "smb/CIFSStackClient.h"
#include "smb/Smb2Connection.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/SmbPeer.h"
#include "tests/support/net/SmbRelay.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

using test::SmbPeer;
using test::SmbRelay;
using Bytes = std::vector<uint8_t>;
using C = Smb2Connection;

constexpr size_t kBookSize = 3 * 1024 * 1024 + 17;

struct PeerSpec {
    const char* lines;
    uint16_t dialect;
    C::Cipher cipher;
};
const PeerSpec kPeers[] = {
    {"  server smb encrypt = desired\n", 0x0311, C::kAes128Gcm},
    {"  server smb encrypt = required\n  server smb3 encryption algorithms = AES-128-CCM\n", 0x0311, C::kAes128Ccm},
    {"  server smb encrypt = required\n  server smb3 encryption algorithms = AES-256-GCM\n", 0x0311, C::kAes256Gcm},
    {"  server smb encrypt = required\n  server smb3 encryption algorithms = AES-256-CCM\n", 0x0311, C::kAes256Ccm},
    {"  server smb encrypt = desired\n  server max protocol = SMB3_00\n", 0x0300, C::kAes128Ccm},
    // Encryption on the "sealed" share only; signing required, then not.
    {"  server signing = mandatory\n", 0x0311, C::kAes128Gcm},
    {"  server signing = mandatory\n  server max protocol = SMB3_00\n", 0x0300, C::kAes128Ccm},
    {"  server max protocol = SMB3_02\n", 0x0302, C::kAes128Ccm},
};
constexpr size_t kWholeSessions = 5;
constexpr size_t kUnsignedSealed = 7;

class EncryptionTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() { skip_ = SmbPeer::skipReason(); }
    static void TearDownTestSuite() { peers_.clear(); }
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
    }
    // The server of kPeers[i], started when a test first asks for it (each
    // test runs in a process of its own and needs only some of them).
    static SmbPeer& peer(size_t i) {
        if (peers_.empty()) peers_.resize(std::size(kPeers));
        if (!peers_[i]) {
            peers_[i] = std::make_unique<SmbPeer>();
            SmbPeer::writeFile(peer(i).booksDir(), "Comics/a.cbz", SmbPeer::noise(kBookSize, 1));
            SmbPeer::writeFile(peer(i).booksDir() + "/../sealed", "Secret/s.cbz", SmbPeer::noise(kBookSize, 2));
            SmbPeer::writeFile(peer(i).publicDir(), "free.cbz", SmbPeer::noise(5000, 3));
            EXPECT_TRUE(peer(i).start(kPeers[i].lines)) << peer(i).error();
        }
        return *peers_[i];
    }
    static std::shared_ptr<CIFSStackClient> user() {
        auto c = std::make_shared<CIFSStackClient>(1);
        c->setUsername(SmbPeer::kUser);
        c->setPassword(SmbPeer::kPassword);
        return c;
    }
    static std::optional<Bytes> readAll(CIFSStackClient& c, const std::string& server, const std::string& share,
                                        const std::string& path) {
        auto h = c.openFileForRead(server, share, path, true);
        if (!h) return std::nullopt;
        Bytes all;
        for (;;) {
            auto part = c.readFile(h, share, 1 << 20);
            if (!part) return std::nullopt;
            if (part->empty()) break;
            all.insert(all.end(), part->begin(), part->end());
        }
        c.closeFile(h);
        return all;
    }

    static inline std::vector<std::unique_ptr<SmbPeer>> peers_;
    static inline std::string skip_;
};

TEST_F(EncryptionTest, EncryptedSessionsListAndReadWithEveryCipher) {
    for (size_t i = 0; i < kWholeSessions; ++i) {
        SCOPED_TRACE(kPeers[i].lines);
        auto c = user();
        const std::string server = peer(i).server();
        // The share list through the server's pipe once (a fresh smbd
        // takes a second to start its RPC service).
        if (i == 0) {
            EXPECT_TRUE(c->getTreeList(server, false)) << std::hex << c->lastError() << c->lastMessage();
        }
        auto comics = c->getFilelist(server, "books", "Comics");
        ASSERT_TRUE(comics) << std::hex << c->lastError() << " " << c->lastMessage();
        EXPECT_EQ(c->dialect(), kPeers[i].dialect);
        EXPECT_EQ(c->cipher(), kPeers[i].cipher);
        EXPECT_TRUE(c->isEncryptingSession());
        ASSERT_EQ(comics->size(), 3u);  // ".", ".." and the book
        EXPECT_EQ(readAll(*c, server, "books", "Comics\\a.cbz"), SmbPeer::noise(kBookSize, 1));
        EXPECT_EQ(readAll(*c, server, "sealed", "Secret\\s.cbz"), SmbPeer::noise(kBookSize, 2));
        // Reads at an offset, as a book read in place asks for its blocks.
        auto h = c->openFileForRead(server, "books", "Comics\\a.cbz", false);
        ASSERT_TRUE(h);
        auto middle = c->readFileAt(h, 1'000'003, 300'000);
        ASSERT_TRUE(middle);
        const Bytes expected = SmbPeer::noise(kBookSize, 1);
        EXPECT_TRUE(std::equal(middle->begin(), middle->end(), expected.begin() + 1'000'003));
    }
}

TEST_F(EncryptionTest, AnonymousVisitorsOfAServerThatPrefersEncryptionStayInTheClear) {
    // A guest has no key to encrypt with: offered no cipher, the server lets
    // it in unencrypted.
    auto c = std::make_shared<CIFSStackClient>(0);
    const std::string server = peer(0).server();
    auto list = c->getFilelist(server, "public", "");
    ASSERT_TRUE(list) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_EQ(c->cipher(), 0);
    EXPECT_FALSE(c->isEncryptingSession());
}

TEST_F(EncryptionTest, ASealedShareIsEncryptedBesideSignedOnes) {
    for (size_t i = kWholeSessions; i < std::size(kPeers); ++i) {
        SCOPED_TRACE(kPeers[i].lines);
        auto c = user();
        const std::string server = peer(i).server();
        ASSERT_TRUE(c->getFilelist(server, "books", "Comics")) << c->lastMessage();
        EXPECT_FALSE(c->isEncryptingSession());
        EXPECT_EQ(c->cipher(), kPeers[i].cipher);
        auto secret = c->getFilelist(server, "sealed", "Secret");
        ASSERT_TRUE(secret) << std::hex << c->lastError() << " " << c->lastMessage();
        EXPECT_EQ(secret->size(), 3u);
        EXPECT_EQ(readAll(*c, server, "sealed", "Secret\\s.cbz"), SmbPeer::noise(kBookSize, 2));
        // The unsealed share goes on as before on the same connection.
        EXPECT_EQ(readAll(*c, server, "books", "Comics\\a.cbz"), SmbPeer::noise(kBookSize, 1));
    }
}

TEST_F(EncryptionTest, AnEncryptedShareDownloadsLikeAnyOther) {
    CIFSStackClient::registerWithRemote();
    test::TempDir out("sealedout"), settingsDir("sealedsettings");
    Settings settings(settingsDir.path());
    struct Result : HttpDownloadDelegate {
        void onChangeHttpDownloadStatus(int, int64_t) override {}
        void onConnected(const std::string&, int64_t) override {}
        void onFinishConnection(int result) override { results.push_back(result); }
        std::vector<int> results;
    };
    auto result = std::make_shared<Result>();
    auto d = std::make_shared<SMBDownload>();
    d->setDelegate(result);
    d->setSettings(&settings);
    d->downloadFile("smb://" + peer(1).server() + "/sealed/Secret/s.cbz", out.path(), "s.cbz", SmbPeer::kUser,
                    SmbPeer::kPassword);
    ASSERT_TRUE(loop().runUntil([&] { return !result->results.empty(); }, 60));
    EXPECT_EQ(result->results.front(), SMBDownload::kSaved);
    const auto expected = SmbPeer::noise(kBookSize, 2);
    EXPECT_EQ(test::readFile(out.file("s.cbz")), std::string(expected.begin(), expected.end()));
}

TEST_F(EncryptionTest, AnEncryptedReplyChangedOnTheWayIsRefused) {
    SmbRelay relay("127.0.0.1", peer(0).port());
    std::atomic<int> changed{0};
    // One byte of a large encrypted reply: a read's data.
    relay.onReply([&](Bytes& m, std::vector<Bytes>&) {
        if (m.size() > 100'000 && m[0] == 0xFD && !changed++) m[m.size() - 1000] ^= 0x04;
    });
    auto c = user();
    EXPECT_FALSE(readAll(*c, relay.server(), "books", "Comics\\a.cbz"));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorSignature);
    EXPECT_EQ(c->lastMessage(), "The server's encrypted reply does not decrypt: it was changed on the way.");
}

TEST_F(EncryptionTest, AClearReplyToAnEncryptedRequestIsRefused) {
    // On an unsigned session, someone on the way answers the first request
    // on the sealed share (the folder's open) in the clear: "not found".
    SmbRelay relay("127.0.0.1", peer(kUnsignedSealed).port());
    std::mutex mutex;
    Bytes treeReply;
    relay.onReply([&](Bytes& m, std::vector<Bytes>&) {
        std::lock_guard lock(mutex);
        if (SmbRelay::command(m) == 3 && SmbRelay::status(m) == 0 && (SmbWire::get32(&m[64 + 4]) & 0x8000)) {
            treeReply = m;
        } else if (!treeReply.empty() && !m.empty() && m[0] == 0xFD) {
            Bytes forged(treeReply.begin(), treeReply.begin() + 64);
            SmbWire::put32(forged, 8, 0xC0000034);
            SmbWire::put16(forged, 12, 5);
            SmbRelay::setMessageId(forged, SmbRelay::messageId(treeReply) + 1);
            SmbWire::append(forged, {9, 0, 0, 0, 0, 0, 0, 0, 0});
            m = forged;
            treeReply.clear();
        }
    });
    auto c = user();
    EXPECT_FALSE(c->getFilelist(relay.server(), "sealed", "Secret"));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorProtocol);
    EXPECT_EQ(c->lastMessage(), "The server answered an encrypted request in the clear.");
}

}  // namespace
