// Our SMB1 client against peers that answer wrongly: negotiate answers that
// lie about their lengths or leave out the challenge, and the answers of smbd
// altered on their way (reads longer than asked, entry names running past
// the answer, answers under an id that was never sent).

#include "remote/protocols/QNSmb.h"
#include "remote/protocols/SmbWire.h"
#include "tests/support/net/OneReplyPeer.h"
#include "tests/support/net/SmbPeer.h"
#include "tests/support/net/SmbRelay.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

using test::OneReplyPeer;

// A negotiate answer with 17 parameter words, `extended` security or not.
Bytes negotiateAnswer(bool extended, size_t claimed = 0) {
    Bytes m(32, 0);
    m[0] = 0xFF;
    m[1] = 'S';
    m[2] = 'M';
    m[3] = 'B';
    m[4] = 0x72;
    m[9] = 0x98;
    m.push_back(17);
    Bytes words(34, 0);
    words[3] = 50;
    words[7] = 0;
    words[8] = 0;
    words[9] = 1;  // buffer of 65536
    const uint32_t caps = extended ? 0x8000405C : 0x0000405C;
    std::memcpy(&words[19], &caps, 4);
    m.insert(m.end(), words.begin(), words.end());
    m.insert(m.end(), {16, 0});
    m.insert(m.end(), 16, 0);
    return OneReplyPeer::frame(m, claimed);
}

int errorAgainst(const Bytes& reply) {
    OneReplyPeer peer(reply);
    QNSmb smb;
    EXPECT_FALSE(smb.connect(peer.server(), "", "u", "p"));
    return smb.lastError();
}

TEST(QNSmbHostileTest, WrongNegotiateAnswersAreProtocolErrors) {
    // A server without extended security that sends no challenge.
    EXPECT_EQ(errorAgainst(negotiateAnswer(false)), QNSmb::kErrorProtocol);
    // A length far beyond a negotiate answer: refused before it is read.
    EXPECT_EQ(errorAgainst(negotiateAnswer(true, 0xFFFFFF)), QNSmb::kErrorProtocol);
    // Parameter words running past the answer.
    Bytes cut = negotiateAnswer(true);
    cut.resize(4 + 40);
    cut[3] = 40;
    EXPECT_EQ(errorAgainst(cut), QNSmb::kErrorProtocol);
}

}  // namespace

// Answers of a real server (smbd speaking NT LM 0.12) altered on their way by
// a relay: each check of the client holds against the one lie it is for.
class QNSmbTamperedTest : public ::testing::Test {
protected:
    static constexpr size_t kBookSize = 3 * 1024 * 1024 + 99;

    static void SetUpTestSuite() {
        skip_ = test::SmbPeer::skipReason();
        if (!skip_.empty()) return;
        peer_ = new test::SmbPeer;
        test::SmbPeer::writeFile(peer_->booksDir(), "a.cbz", test::SmbPeer::noise(kBookSize, 5));
        for (int i = 0; i < 5; ++i) test::SmbPeer::writeFile(peer_->booksDir(), "Few/" + std::to_string(i) + ".cbz", {'x'});
        if (!peer_->start("  server min protocol = NT1\n  server max protocol = NT1\n")) error_ = peer_->error();
    }
    static void TearDownTestSuite() {
        delete peer_;
        peer_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }

    // A relay in front of the server whose replies go through `alter`.
    static std::unique_ptr<test::SmbRelay> relayed(std::function<void(Bytes&)> alter) {
        auto relay = std::make_unique<test::SmbRelay>("127.0.0.1", peer_->port());
        relay->onReply([alter](Bytes& m, std::vector<Bytes>&) { alter(m); });
        return relay;
    }
    // The first answer to `command` (status 0) passed to `alter`, the rest as they are.
    static std::function<void(Bytes&)> first(uint8_t command, std::function<void(Bytes&)> alter) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        return [command, alter, done](Bytes& m) {
            if (m.size() < 35 || m[0] != 0xFF || m[4] != command || m[5] || m[6] || m[7] || m[8] || *done) return;
            *done = true;
            alter(m);
        };
    }
    // Runs `call` against a client logged on through `relay`, under a
    // watchdog: a client that waits for an answer that never comes is
    // cancelled after 10 s and the test fails.
    template <typename Call>
    static auto withWatchdog(QNSmb& smb, Call call) {
        auto running = std::async(std::launch::async, call);
        if (running.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the client waited on";
            smb.cancel();
        }
        return running.get();
    }
    static bool logOn(QNSmb& smb, const std::unique_ptr<test::SmbRelay>& relay) {
        return smb.connect(relay->server(), "", test::SmbPeer::kUser, test::SmbPeer::kPassword);
    }

    static inline test::SmbPeer* peer_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(QNSmbTamperedTest, AReadAnswerLongerThanAskedIsRefused) {
    // Sixteen bytes more than asked, the lengths made to agree with them.
    auto relay = relayed(first(0x2E, [](Bytes& m) {
        const size_t w = 33;
        SmbWire::put16(m, w + 10, uint16_t(SmbWire::get16(&m[w + 10]) + 16));
        SmbWire::put16(m, w + 24, uint16_t(SmbWire::get16(&m[w + 24]) + 16));
        m.insert(m.end(), 16, 'X');
    }));
    QNSmb smb;
    ASSERT_TRUE(logOn(smb, relay));
    const uint16_t tree = smb.connectTree("books");
    const uint16_t file = smb.openFile(tree, "\\a.cbz");
    ASSERT_NE(file, 0);
    auto read = smb.readFile(file, tree, 0, 4096);
    EXPECT_FALSE(read) << "got " << read->size() << " bytes";
    EXPECT_EQ(smb.lastError(), QNSmb::kErrorProtocol);
}

TEST_F(QNSmbTamperedTest, AnEntryNameRunningPastTheAnswerIsRefused) {
    // The directory entries of a FIND_FIRST2 answer, by the data block's
    // place in the message; `pick` chooses the entry whose name length lies.
    auto lyingName = [](bool last) {
        return [last](Bytes& m) {
            const size_t w = 33;
            const size_t count = SmbWire::get16(&m[w + 12]), offset = SmbWire::get16(&m[w + 14]);
            size_t at = offset;
            while (last && SmbWire::get32(&m[at]) != 0 && at + SmbWire::get32(&m[at]) < offset + count) {
                at += SmbWire::get32(&m[at]);
            }
            // The last entry (marked as last) with a name running past the
            // whole answer; otherwise the first, its name running into the next.
            if (last) SmbWire::put32(m, at, 0);
            SmbWire::put32(m, at + 60, last ? uint32_t(count + 4000) : SmbWire::get32(&m[at]));
        };
    };
    for (bool last : {true, false}) {
        auto relay = relayed(first(0x32, lyingName(last)));
        QNSmb smb;
        ASSERT_TRUE(logOn(smb, relay));
        const uint16_t tree = smb.connectTree("books");
        ASSERT_NE(tree, 0);
        auto list = smb.getFileList(tree, "\\Few\\*");
        EXPECT_FALSE(list) << (last ? "last entry" : "first entry") << ": " << list->size() << " entries";
        EXPECT_EQ(smb.lastError(), QNSmb::kErrorProtocol);
    }
}

TEST_F(QNSmbTamperedTest, AnAnswerToARequestNeverSentIsRefused) {
    // The tree connect's answer under another id.
    {
        auto relay = relayed(first(0x75, [](Bytes& m) { SmbWire::put16(m, 30, uint16_t(SmbWire::get16(&m[30]) + 300)); }));
        QNSmb smb;
        ASSERT_TRUE(logOn(smb, relay));
        EXPECT_EQ(withWatchdog(smb, [&] { return smb.connectTree("books"); }), 0);
        EXPECT_EQ(smb.lastError(), QNSmb::kErrorProtocol);
    }
    // Of several reads in flight, the second answered under the first's id.
    {
        auto reads = std::make_shared<std::atomic<int>>(0);
        auto firstId = std::make_shared<std::atomic<int>>(0);
        auto relay = relayed([reads, firstId](Bytes& m) {
            if (m.size() < 35 || m[4] != 0x2E) return;
            const int n = ++*reads;
            if (n == 1) *firstId = SmbWire::get16(&m[30]);
            if (n == 2) SmbWire::put16(m, 30, uint16_t(firstId->load()));
        });
        QNSmb smb;
        ASSERT_TRUE(logOn(smb, relay));
        const uint16_t tree = smb.connectTree("books");
        const uint16_t file = smb.openFile(tree, "\\a.cbz");
        ASSERT_NE(file, 0);
        auto read = withWatchdog(smb, [&] { return smb.readFile(file, tree, 0, 3 * QNSmb::kMaxRead); });
        EXPECT_FALSE(read);
        EXPECT_EQ(smb.lastError(), QNSmb::kErrorProtocol);
        // (The third answer may be lost with the connection the client broke.)
        EXPECT_GE(reads->load(), 2) << "the lie was told";
    }
}
