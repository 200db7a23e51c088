// The SMB2/3 client behind a relay that alters smbd's replies on their way:
// a signed reply with one byte changed, a read that brings more than was
// asked, a folder entry whose name runs past the reply, a reply to a request
// never sent, and a server that grants no credits. Each is refused, and
// nothing of the altered reply reaches the caller or a downloaded file.
// Servers that grant few credits are waited for, never overdrawn.

#include <gtest/gtest.h>

#include "foundation/Settings.h"
#include "platform/core/PlistValue.h"
#include "remote/transfer/HttpDownload.h"
#include "remote/transfer/SMBDownload.h"
#include "smb/CIFSStackClient.h"
#include "remote/protocols/SmbWire.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/SmbPeer.h"
#include "tests/support/net/SmbRelay.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>

namespace {

namespace fs = std::filesystem;
using test::SmbPeer;
using test::SmbRelay;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kSessionSetup = 1, kTreeConnect = 3, kRead = 8, kQueryDirectory = 0x0E;
constexpr size_t kBookSize = 300'000;
constexpr size_t kBigSize = 2'000'000;

enum Peer { kSigned, kPlain, kOld, kStingy };
const char* const kPeerLines[] = {
    "  server signing = mandatory\n",
    "  server max protocol = SMB3_02\n",
    "  server max protocol = SMB2_02\n",
    "  server max protocol = SMB2_02\n  smb2 max credits = 4\n",
};

// Counts requests and, as a server would, every request that uses a message
// id beyond the credits granted so far.
struct CreditLedger {
    void reply(const Bytes& m) {
        std::lock_guard lock(mutex);
        granted += SmbRelay::credits(m);
    }
    void request(const Bytes& m) {
        std::lock_guard lock(mutex);
        ++requests;
        const uint64_t cost = std::max<uint16_t>(SmbRelay::creditCharge(m), 1);
        if (SmbRelay::messageId(m) + cost > granted) ++overdrawn;
    }
    std::mutex mutex;
    uint64_t granted = 1;  // the negotiate request's
    int requests = 0, overdrawn = 0;
};

class TamperedRepliesTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() { skip_ = SmbPeer::skipReason(); }
    static void TearDownTestSuite() { peers_.clear(); }
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
    }
    void TearDown() override {
        // What smbd said, when a case failed: a dropped connection is
        // explained there.
        if (HasFailure()) {
            for (const auto& p : peers_) {
                if (p) std::cout << "smbd on port " << p->port() << ":\n" << p->log() << "\n";
            }
        }
        VirtualClockTest::TearDown();
    }
    // The server of kPeerLines[p], started when a test first asks for it.
    static SmbPeer& peer(Peer p) {
        if (peers_.empty()) peers_.resize(std::size(kPeerLines));
        auto& slot = peers_[size_t(p)];
        if (!slot) {
            slot = std::make_unique<SmbPeer>();
            SmbPeer::writeFile(slot->booksDir(), "a.cbz", SmbPeer::noise(kBookSize, 1));
            SmbPeer::writeFile(slot->publicDir(), "big.cbz", SmbPeer::noise(kBigSize, 4));
            for (const char* name : {"one.cbz", "two.cbz", "three.cbz"}) {
                SmbPeer::writeFile(slot->booksDir(), std::string("Comics/") + name, SmbPeer::noise(100, 2));
            }
            EXPECT_TRUE(slot->start(kPeerLines[p])) << slot->error();
        }
        return *slot;
    }

    static std::unique_ptr<SmbRelay> relay(Peer p) {
        return std::make_unique<SmbRelay>("127.0.0.1", peer(p).port());
    }
    static std::shared_ptr<CIFSStackClient> user(int slot = 0) {
        auto c = std::make_shared<CIFSStackClient>(slot);
        c->setUsername(SmbPeer::kUser);
        c->setPassword(SmbPeer::kPassword);
        return c;
    }
    // The whole of a.cbz read in blocks of `block` through `server`.
    static std::optional<Bytes> readBook(CIFSStackClient& c, const std::string& server, size_t block) {
        auto h = c.openFileForRead(server, "books", "a.cbz", true);
        if (!h) return std::nullopt;
        Bytes all;
        for (;;) {
            auto part = c.readFile(h, "books", block);
            if (!part) return std::nullopt;
            if (part->empty()) return all;
            all.insert(all.end(), part->begin(), part->end());
        }
    }

    static inline std::vector<std::unique_ptr<SmbPeer>> peers_;
    static inline std::string skip_;
};

TEST_F(TamperedRepliesTest, ASignedReplyWithOneByteChangedIsRefused) {
    // One byte of a file's data in a read reply.
    {
        auto r = relay(kSigned);
        std::atomic<int> changed{0};
        r->onReply([&](Bytes& m, std::vector<Bytes>&) {
            if (SmbRelay::command(m) != kRead || SmbRelay::status(m) != 0 || changed) return;
            m[m[64 + 2] + 100] ^= 0x01;
            ++changed;
        });
        auto c = user();
        EXPECT_FALSE(readBook(*c, r->server(), 65536));
        EXPECT_EQ(changed, 1);
        EXPECT_EQ(c->lastError(), SmbStackClient::kErrorSignature);
        EXPECT_EQ(c->lastNtStatus(), 0xC000A000u);
    }
    // The last session set-up reply, the first the server signs: an unused
    // byte of its header.
    {
        auto r = relay(kSigned);
        r->onReply([](Bytes& m, std::vector<Bytes>&) {
            if (SmbRelay::command(m) == kSessionSetup && SmbRelay::status(m) == 0) m[32] ^= 0x80;
        });
        auto c = user();
        EXPECT_FALSE(c->getTreeList(r->server(), false));
        EXPECT_EQ(c->lastError(), SmbStackClient::kErrorSignature);
    }
    // Untouched, the same relay passes everything.
    auto r = relay(kSigned);
    auto c = user();
    EXPECT_EQ(readBook(*c, r->server(), 65536), SmbPeer::noise(kBookSize, 1));
}

// Every read reply carries 16 bytes more than the request asked for.
void growReads(SmbRelay& relay) {
    relay.onReply([](Bytes& m, std::vector<Bytes>&) {
        if (SmbRelay::command(m) != kRead || SmbRelay::status(m) != 0) return;
        SmbWire::put32(m, 64 + 4, SmbWire::get32(&m[64 + 4]) + 16);
        m.insert(m.end(), 16, 0xEE);
    });
}

TEST_F(TamperedRepliesTest, AReadReplyLongerThanAskedIsRefused) {
    auto r = relay(kPlain);
    growReads(*r);
    auto c = user();
    auto h = c->openFileForRead(r->server(), "books", "a.cbz", true);
    ASSERT_TRUE(h) << std::hex << c->lastError();
    EXPECT_FALSE(c->readFile(h, "books", 1000));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorProtocol);
    EXPECT_EQ(h->position, 0u);
}

TEST_F(TamperedRepliesTest, AReadReplyLongerThanAskedNeverReachesADownload) {
    CIFSStackClient::registerWithRemote();
    auto r = relay(kPlain);
    growReads(*r);
    test::TempDir out("tampered"), settingsDir("tamperedsettings");
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
    d->downloadFile("smb://" + r->server() + "/books/a.cbz", out.path(), "a.cbz", SmbPeer::kUser, SmbPeer::kPassword);
    ASSERT_TRUE(loop().runUntil([&] { return !result->results.empty(); }, 60));
    EXPECT_EQ(result->results.front(), SMBDownload::kSmbFailed);
    EXPECT_FALSE(fs::exists(out.file("a.cbz")));
}

TEST_F(TamperedRepliesTest, AFolderEntryWhoseNameRunsPastTheReplyIsRefused) {
    // The last entry's name runs 200 bytes past the end; in the second
    // case the first entry's name runs into the next entry.
    for (const bool last : {true, false}) {
        SCOPED_TRACE(last ? "last entry" : "first entry");
        auto r = relay(kPlain);
        std::atomic<int> changed{0};
        r->onReply([&](Bytes& m, std::vector<Bytes>&) {
            if (SmbRelay::command(m) != kQueryDirectory || SmbRelay::status(m) != 0) return;
            const size_t offset = SmbWire::get16(&m[64 + 2]), end = offset + SmbWire::get32(&m[64 + 4]);
            size_t at = offset;
            if (last) {
                while (SmbWire::get32(&m[at]) != 0) at += SmbWire::get32(&m[at]);
                SmbWire::put32(m, at + 60, uint32_t(end - at - 64 + 200));
            } else {
                SmbWire::put32(m, at + 60, SmbWire::get32(&m[at]) - 64 + 2);
            }
            ++changed;
        });
        auto c = user();
        EXPECT_FALSE(c->getFilelist(r->server(), "books", "Comics"));
        EXPECT_EQ(changed, 1);
        EXPECT_EQ(c->lastError(), SmbStackClient::kErrorProtocol);
    }
}

TEST_F(TamperedRepliesTest, AReplyToARequestNeverSentIsRefused) {
    // A message id far ahead of any sent.
    {
        auto r = relay(kPlain);
        r->onReply([](Bytes& m, std::vector<Bytes>&) {
            if (SmbRelay::command(m) == kTreeConnect) SmbRelay::setMessageId(m, SmbRelay::messageId(m) + 1000);
        });
        auto c = user();
        EXPECT_FALSE(c->getFilelist(r->server(), "books", ""));
        EXPECT_EQ(c->lastError(), SmbStackClient::kErrorProtocol);
        EXPECT_EQ(c->lastMessage(), "The server answered a request that was not sent.");
    }
    // An old reply sent again: its request was answered already.
    {
        auto r = relay(kPlain);
        r->onReply([](Bytes& m, std::vector<Bytes>& after) {
            if (SmbRelay::command(m) == kTreeConnect) after.push_back(m);
        });
        auto c = user();
        EXPECT_FALSE(c->getFilelist(r->server(), "books", ""));
        EXPECT_EQ(c->lastMessage(), "The server answered a request that was not sent.");
    }
}

TEST_F(TamperedRepliesTest, NoRequestGoesOutWithoutACredit) {
    // A server that grants nothing after the negotiate: nothing more is sent.
    auto r = relay(kPlain);
    CreditLedger ledger;
    r->onRequest([&](Bytes& m, std::vector<Bytes>&) { ledger.request(m); });
    r->onReply([&](Bytes& m, std::vector<Bytes>&) {
        SmbRelay::setCredits(m, 0);
        ledger.reply(m);
    });
    auto c = user();
    EXPECT_FALSE(c->getTreeList(r->server(), false));
    EXPECT_EQ(c->lastMessage(), "The server granted no credits.");
    EXPECT_EQ(ledger.requests, 1);
    EXPECT_EQ(ledger.overdrawn, 0);
}

// Reads many at a time ask for more credits than a stingy server grants:
// the client waits for replies rather than overdraw (or give up).
TEST_F(TamperedRepliesTest, ReadsWaitForCreditsInsteadOfOverdrawing) {
    // One credit per reply, on 2.0.2 (no multi-credit reads) and on 3.0.2,
    // as a guest (whose replies are not signed, so the relay may change them).
    for (const Peer p : {kOld, kPlain}) {
        SCOPED_TRACE(kPeerLines[p]);
        auto r = relay(p);
        CreditLedger ledger;
        r->onRequest([&](Bytes& m, std::vector<Bytes>&) { ledger.request(m); });
        r->onReply([&](Bytes& m, std::vector<Bytes>&) {
            SmbRelay::setCredits(m, std::min<uint16_t>(SmbRelay::credits(m), 1));
            ledger.reply(m);
        });
        CIFSStackClient c(1);
        auto h = c.openFileForRead(r->server(), "public", "big.cbz", true);
        ASSERT_TRUE(h) << c.lastMessage();
        auto all = c.readFile(h, "public", kBigSize + 1000);
        ASSERT_TRUE(all) << c.lastMessage();
        EXPECT_EQ(*all, SmbPeer::noise(kBigSize, 4));
        EXPECT_EQ(ledger.overdrawn, 0);
    }
    // smbd itself holding the client to four credits.
    auto c = user(1);
    auto h = c->openFileForRead(peer(kStingy).server(), "public", "big.cbz", true);
    ASSERT_TRUE(h) << c->lastMessage();
    auto all = c->readFile(h, "public", kBigSize);
    ASSERT_TRUE(all) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_EQ(*all, SmbPeer::noise(kBigSize, 4));
}

// What the relay sees of the log-on: an NTLM authenticate message with the
// signing and key-exchange flags and the name of the service it is for.
TEST_F(TamperedRepliesTest, TheLogOnSignsExchangesAKeyAndNamesTheService) {
    auto r = relay(kSigned);
    std::mutex mutex;
    Bytes authenticate;
    r->onRequest([&](Bytes& m, std::vector<Bytes>&) {
        static const uint8_t kType3[] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 3, 0, 0, 0};
        auto at = std::search(m.begin(), m.end(), std::begin(kType3), std::end(kType3));
        std::lock_guard lock(mutex);
        if (SmbRelay::command(m) == kSessionSetup && at != m.end()) authenticate.assign(at, m.end());
    });
    auto c = user();
    ASSERT_TRUE(c->getFilelist(r->server(), "books", "")) << c->lastMessage();
    std::lock_guard lock(mutex);
    ASSERT_GE(authenticate.size(), 64u);
    const uint32_t flags = SmbWire::get32(&authenticate[60]);
    EXPECT_EQ(flags & 0x40008010u, 0x40008010u);  // key exchange, always sign, sign
    EXPECT_EQ(SmbWire::get16(&authenticate[52]), 16);  // the encrypted session key
    const Bytes name = SmbWire::utf16le("cifs/127.0.0.1");
    EXPECT_NE(std::search(authenticate.begin(), authenticate.end(), name.begin(), name.end()), authenticate.end());
}

}  // namespace
