#include <gtest/gtest.h>

#include "smb/CIFSStackClient.h"
#include "tests/support/net/OneReplyPeer.h"
#include "tests/support/net/SmbPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using test::SmbPeer;
using Bytes = std::vector<uint8_t>;

constexpr size_t kBookSize = 3 * 1024 * 1024 + 123;

struct PeerSpec {
    const char* lines;
    uint16_t dialect;
    bool signing;
};

// Each dialect the client speaks; signed where the server demands it (and
// always on 3.1.1, whose servers take nothing unsigned from a named user).
const PeerSpec kPeers[] = {
    {"  server max protocol = SMB2_02\n", 0x0202, false},
    {"  server max protocol = SMB2_10\n  server signing = mandatory\n", 0x0210, true},
    {"  server max protocol = SMB3_00\n  server signing = mandatory\n", 0x0300, true},
    {"  server max protocol = SMB3_02\n", 0x0302, false},
    {"  server signing = mandatory\n", 0x0311, true},
};
constexpr size_t kMain = 4;

bool hasName(const std::vector<SmbStackClient::FileInfo>& list, const std::string& name, uint32_t* attributes = nullptr,
             uint64_t* size = nullptr) {
    for (const auto& f : list) {
        if (f.name != name) continue;
        if (attributes) *attributes = f.attributes;
        if (size) *size = f.size;
        return true;
    }
    return false;
}

class CIFSStackClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        for (const auto& setup : kPeers) {
            auto peer = std::make_unique<SmbPeer>();
            SmbPeer::writeFile(peer->booksDir(), "Comics/a.cbz", SmbPeer::noise(kBookSize, 1));
            SmbPeer::writeFile(peer->booksDir(), "Comics/100% #1.cbz", SmbPeer::noise(1000, 2));
            SmbPeer::writeFile(peer->booksDir(), "Comics/notes.txt", {'h', 'i'});
            SmbPeer::writeFile(peer->booksDir(), "Comics/Sub Folder/b.zip", SmbPeer::noise(10, 3));
            SmbPeer::writeFile(peer->publicDir(), "free.cbz", SmbPeer::noise(5000, 4));
            if (!peer->start(setup.lines)) error_ += peer->error() + "\n";
            peers_.push_back(std::move(peer));
        }
    }
    static void TearDownTestSuite() { peers_.clear(); }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }

    static std::shared_ptr<CIFSStackClient> user(int slot = 0) {
        auto c = std::make_shared<CIFSStackClient>(slot);
        c->setUsername(SmbPeer::kUser);
        c->setPassword(SmbPeer::kPassword);
        return c;
    }

    static Bytes readAll(CIFSStackClient& c, const std::string& server, const std::string& path, size_t block) {
        auto h = c.openFileForRead(server, "books", path, true);
        EXPECT_TRUE(h) << std::hex << c.lastError() << " " << c.lastMessage();
        if (!h) return {};
        Bytes all;
        for (;;) {
            auto part = c.readFile(h, "books", block);
            EXPECT_TRUE(part) << std::hex << c.lastError();
            if (!part || part->empty()) break;
            all.insert(all.end(), part->begin(), part->end());
        }
        c.closeFile(h);
        return all;
    }

    static inline std::vector<std::unique_ptr<SmbPeer>> peers_;
    static inline std::string skip_, error_;
};

TEST_F(CIFSStackClientTest, EveryDialectListsSharesAndFoldersAndReadsFiles) {
    for (size_t i = 0; i < std::size(kPeers); ++i) {
        SCOPED_TRACE("dialect " + std::to_string(kPeers[i].dialect));
        auto c = user();
        const std::string server = peers_[i]->server();
        auto shares = c->getTreeList(server, true);
        ASSERT_TRUE(shares) << std::hex << c->lastError() << " " << c->lastMessage() << peers_[i]->log();
        EXPECT_EQ(c->dialect(), kPeers[i].dialect);
        EXPECT_EQ(c->isSigning(), kPeers[i].signing);
        bool books = false, ipc = false;
        for (const auto& s : *shares) {
            if (s.name == "books") books = s.type == 0u;
            if (s.name == "IPC$") ipc = s.type && (*s.type & 3) == 3;
        }
        EXPECT_TRUE(books);
        EXPECT_TRUE(ipc);
        auto names = c->getTreeList(server, false);
        ASSERT_TRUE(names);
        EXPECT_FALSE(names->empty() || names->front().type);

        auto root = c->getFilelist(server, "books", "");
        ASSERT_TRUE(root) << std::hex << c->lastError();
        uint32_t attributes = 0;
        EXPECT_TRUE(hasName(*root, "Comics", &attributes));
        EXPECT_TRUE(attributes & 0x10);
        auto comics = c->getFilelist(server, "books", "\\Comics");
        ASSERT_TRUE(comics);
        uint64_t size = 0;
        EXPECT_TRUE(hasName(*comics, "a.cbz", &attributes, &size));
        EXPECT_EQ(size, kBookSize);
        EXPECT_FALSE(attributes & 0x10);
        EXPECT_TRUE(hasName(*comics, "100% #1.cbz"));
        EXPECT_TRUE(hasName(*comics, "Sub Folder", &attributes));
        EXPECT_TRUE(attributes & 0x10);

        EXPECT_EQ(readAll(*c, server, "\\Comics\\a.cbz", 1 << 20), SmbPeer::noise(kBookSize, 1));
    }
}

TEST_F(CIFSStackClientTest, LargeReadsSpanSeveralCreditsAndStopAtTheEnd) {
    auto c = user(1);
    const std::string server = peers_[kMain]->server();
    const Bytes expected = SmbPeer::noise(kBookSize, 1);
    // One call for more than the whole file: several reads in flight, the
    // tail cut at the end of the file.
    EXPECT_EQ(readAll(*c, server, "Comics/a.cbz", 8 << 20), expected);
    // On 2.0.2 no read may exceed 64 KiB: the client splits the call.
    auto old = user(1);
    EXPECT_EQ(readAll(*old, peers_[0]->server(), "Comics/a.cbz", 3 << 20), expected);

    auto h = c->openFileForRead(server, "books", "Comics\\a.cbz", false);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->size, kBookSize);
    auto middle = c->readFileAt(h, 1'500'000, 70'000);
    ASSERT_TRUE(middle);
    EXPECT_TRUE(std::equal(middle->begin(), middle->end(), expected.begin() + 1'500'000));
    EXPECT_EQ(middle->size(), 70'000u);
    auto tail = c->readFileAt(h, kBookSize - 10, 1 << 20);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->size(), 10u);
    auto past = c->readFileAt(h, kBookSize + 5, 100);
    ASSERT_TRUE(past);
    EXPECT_TRUE(past->empty());
    EXPECT_EQ(h->position, 0u);
    c->closeFile(h);

    auto one = c->getFilelistPattern(server, "books", "\\Comics\\a.cbz");
    ASSERT_TRUE(one);
    ASSERT_EQ(one->size(), 1u);
    EXPECT_EQ(one->front().size, kBookSize);
    EXPECT_EQ(one->front().name, "a.cbz");
}

TEST_F(CIFSStackClientTest, RefusalsCarryTheirCodes) {
    const std::string server = peers_[kMain]->server();
    {
        auto c = std::make_shared<CIFSStackClient>(0);
        c->setUsername(SmbPeer::kUser);
        c->setPassword("wrong");
        EXPECT_FALSE(c->getTreeList(server, false));
        EXPECT_EQ(c->lastError(), SmbStackClient::kErrorLogonFailure);
        EXPECT_EQ(c->lastNtStatus(), 0xC000006Du);
        EXPECT_FALSE(c->isRequireRetry());
    }
    auto c = user();
    EXPECT_FALSE(c->getFilelist(server, "nosuchshare", ""));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorNotFound);
    EXPECT_FALSE(c->getFilelist(server, "locked", ""));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorAccessDenied);
    EXPECT_FALSE(c->openFileForRead(server, "books", "Comics\\missing.cbz", true));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorNotFound);
    EXPECT_FALSE(c->getFilelistPattern(server, "books", "Comics\\missing.cbz"));
    EXPECT_FALSE(c->getFilelist(server, "books", "Comics\\a.cbz"));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorNotFound);
    // The connection stays usable after each refusal.
    EXPECT_TRUE(c->getFilelist(server, "books", "Comics"));

    EXPECT_FALSE(c->getTreeList("127.0.0.1:99999", false));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorBadParameter);
}

TEST_F(CIFSStackClientTest, GuestsListThePublicShare) {
    auto c = std::make_shared<CIFSStackClient>(0);
    const std::string server = peers_[kMain]->server();
    auto shares = c->getTreeList(server, false);
    ASSERT_TRUE(shares) << std::hex << c->lastError();
    auto list = c->getFilelist(server, "public", "");
    ASSERT_TRUE(list) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_TRUE(hasName(*list, "free.cbz"));
    EXPECT_FALSE(c->getFilelist(server, "books", ""));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorAccessDenied);
}

// A peer that takes the connection and never answers: the call waits until
// cancel() comes from another thread, then fails at once.
TEST_F(CIFSStackClientTest, CancelEndsABlockedCall) {
    auto c = user();
    test::OneReplyPeer canceller(std::function<void()>([&] { c->cancel(); }));
    const std::string server = canceller.server();
    EXPECT_FALSE(c->getTreeList(server, false));
    canceller.join();
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorCancelled);
    EXPECT_FALSE(c->isRequireRetry());
    EXPECT_FALSE(c->getFilelist(server, "books", ""));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorCancelled);
}

// The server goes away between two reads: the next one fails, asks for a
// fresh client, and a fresh client against a restarted server succeeds.
TEST_F(CIFSStackClientTest, AServerStoppedMidReadAsksForARetry) {
    SmbPeer peer;
    SmbPeer::writeFile(peer.booksDir(), "a.cbz", SmbPeer::noise(300'000, 9));
    ASSERT_TRUE(peer.start("")) << peer.error();
    auto c = user(1);
    auto h = c->openFileForRead(peer.server(), "books", "a.cbz", true);
    ASSERT_TRUE(h) << std::hex << c->lastError();
    ASSERT_TRUE(c->readFile(h, "books", 100'000));
    peer.stop();
    EXPECT_FALSE(c->readFile(h, "books", 100'000));
    EXPECT_TRUE(c->isRequireRetry());
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorDisconnected);
}

}  // namespace
