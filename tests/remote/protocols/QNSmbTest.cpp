// Our SMB1 client against smbd speaking NT LM 0.12: shares through srvsvc
// (RAP where srvsvc is refused),
// folders through FIND_FIRST2 and FIND_NEXT2, files read with 64-bit
// offsets, the server's refusals with their NT status, and a cancel from
// another thread while the client waits.

#include "remote/protocols/QNSmb.h"

#include "tests/support/net/OneReplyPeer.h"
#include "tests/support/net/ReservedPort.h"
#include "tests/support/net/ServerProcess.h"
#include "tests/support/net/SmbPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using test::SmbPeer;
constexpr size_t kBookSize = 3 * 1024 * 1024 + 77;
constexpr int kManyFiles = 1500;

class QNSmbTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        peer_ = new SmbPeer;
        SmbPeer::writeFile(peer_->booksDir(), "Comics/a.cbz", SmbPeer::noise(kBookSize, 7));
        SmbPeer::writeFile(peer_->booksDir(), "Comics/Sub Folder/b.zip", {'x'});
        SmbPeer::writeFile(peer_->booksDir(), "Comics/日本.zip", {'y'});
        for (int i = 0; i < kManyFiles; ++i) {
            SmbPeer::writeFile(peer_->booksDir(), "Many/book " + std::to_string(i) + ".cbz", {});
        }
        SmbPeer::writeFile(peer_->publicDir(), "free.cbz", {'z'});
        SmbPeer::writeFile(peer_->shelfDir(), "棚の本.cbz", {'s'});
        if (!peer_->start("  server min protocol = NT1\n  server max protocol = NT1\n  raw NTLMv2 auth = yes\n")) {
            error_ = peer_->error();
        }
    }
    static void TearDownTestSuite() {
        delete peer_;
        peer_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }
    static std::unique_ptr<QNSmb> logOn(const std::string& user = SmbPeer::kUser,
                                        const std::string& password = SmbPeer::kPassword) {
        auto smb = std::make_unique<QNSmb>();
        smb->setNativeLanManager("LeafbrightLM");
        smb->setWorkStationName("Leafbright");
        EXPECT_TRUE(smb->connect(peer_->server(), "", user, password))
            << smb->lastError() << " " << std::hex << smb->lastNtStatus() << peer_->log();
        return smb;
    }

    static inline SmbPeer* peer_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(QNSmbTest, ListsSharesAndFoldersAndReadsFiles) {
    auto smb = logOn();
    auto shares = smb->getTreeList();
    ASSERT_TRUE(shares) << smb->lastError() << " " << std::hex << smb->lastNtStatus();
    bool books = false, ipc = false;
    for (const auto& s : *shares) {
        if (s.name == "books") books = s.type == 0;
        if (s.name == "IPC$") ipc = (s.type & 3) == 3;
    }
    EXPECT_TRUE(books);
    EXPECT_TRUE(ipc);

    const uint16_t tree = smb->connectTree("books");
    ASSERT_NE(tree, 0);
    auto list = smb->getFileList(tree, "\\Comics\\*");
    ASSERT_TRUE(list) << smb->lastError() << " " << std::hex << smb->lastNtStatus();
    bool book = false, folder = false, unicode = false;
    for (const auto& f : *list) {
        if (f.name == "a.cbz") book = f.size == kBookSize && !(f.attributes & 0x10) && f.lastWriteTime > 1'600'000'000;
        if (f.name == "Sub Folder") folder = f.attributes & 0x10;
        if (f.name == "日本.zip") unicode = f.size == 1;
    }
    EXPECT_TRUE(book);
    EXPECT_TRUE(folder);
    EXPECT_TRUE(unicode);

    // A folder longer than one answer continues with FIND_NEXT2.
    auto many = smb->getFileList(tree, "\\Many\\*");
    ASSERT_TRUE(many);
    EXPECT_EQ(many->size(), size_t(kManyFiles) + 2);  // with "." and ".."

    uint64_t size = 0;
    const uint16_t file = smb->openFile(tree, "\\Comics\\a.cbz", &size);
    ASSERT_NE(file, 0);
    EXPECT_EQ(size, kBookSize);
    std::vector<uint8_t> all;
    while (all.size() < kBookSize) {
        auto part = smb->readFile(file, tree, all.size(), (2 << 20) + 5);  // three reads at once
        ASSERT_TRUE(part);
        ASSERT_FALSE(part->empty());
        all.insert(all.end(), part->begin(), part->end());
    }
    EXPECT_EQ(all, SmbPeer::noise(kBookSize, 7));
    auto past = smb->readFile(file, tree, (uint64_t(1) << 33) + 5, 100);
    ASSERT_TRUE(past);
    EXPECT_TRUE(past->empty());
    smb->closeFile(file, tree);
    smb->disconnectTree(tree);
    smb->disconnect();

    auto guest = logOn("", "");
    const uint16_t pub = guest->connectTree("public");
    ASSERT_NE(pub, 0);
    auto free = guest->getFileList(pub, "\\*");
    ASSERT_TRUE(free);
    EXPECT_EQ(free->size(), 3u);
}

TEST_F(QNSmbTest, ShareNamesKeepEveryCharacterAndRapStandsInWhereSrvsvcIsRefused) {
    auto typeOf = [](const std::vector<QNSmb::ShareInfo>& shares, const std::string& name) -> int {
        for (const auto& s : shares)
            if (s.name == name) return int(s.type);
        return -1;
    };
    // Through srvsvc the names come in UTF-16: a name no single-byte code
    // page holds arrives whole.
    auto smb = logOn();
    auto shares = smb->getTreeList();
    ASSERT_TRUE(shares) << smb->lastError() << " " << std::hex << smb->lastNtStatus();
    EXPECT_EQ(typeOf(*shares, SmbPeer::kShelfShare), 0);
    EXPECT_EQ(typeOf(*shares, "books"), 0);
    EXPECT_EQ(typeOf(*shares, "IPC$") & 3, 3);
    const uint16_t shelf = smb->connectTree(SmbPeer::kShelfShare);
    ASSERT_NE(shelf, 0);
    auto books = smb->getFileList(shelf, "\\*");
    ASSERT_TRUE(books);
    EXPECT_EQ(books->size(), 3u);

    // A server without the RPC services refuses srvsvc: the shares still
    // come, through RAP (single-byte names only).
    SmbPeer bare;
    bare.setRpcServices(false);
    ASSERT_TRUE(bare.start("  server min protocol = NT1\n  server max protocol = NT1\n")) << bare.error();
    QNSmb old;
    ASSERT_TRUE(old.connect(bare.server(), "", SmbPeer::kUser, SmbPeer::kPassword));
    auto rap = old.getTreeList();
    ASSERT_TRUE(rap) << old.lastError() << " " << std::hex << old.lastNtStatus();
    EXPECT_EQ(typeOf(*rap, "books"), 0);
    EXPECT_EQ(typeOf(*rap, "public"), 0);
    EXPECT_EQ(typeOf(*rap, SmbPeer::kShelfShare), -1);
}

TEST_F(QNSmbTest, RefusalsCarryTheirStatus) {
    QNSmb wrong;
    EXPECT_FALSE(wrong.connect(peer_->server(), "", SmbPeer::kUser, "wrong"));
    EXPECT_EQ(wrong.lastError(), QNSmb::kErrorNtStatus);
    EXPECT_EQ(wrong.lastNtStatus(), QNSmb::kStatusLogonFailure);

    auto smb = logOn();
    EXPECT_EQ(smb->connectTree("locked"), 0);
    EXPECT_EQ(smb->lastError(), QNSmb::kErrorNtStatus);
    EXPECT_EQ(smb->lastNtStatus(), QNSmb::kStatusAccessDenied);
    EXPECT_EQ(smb->connectTree("nosuchshare"), 0);
    const uint16_t tree = smb->connectTree("books");
    ASSERT_NE(tree, 0);
    EXPECT_EQ(smb->openFile(tree, "\\Comics\\missing.cbz"), 0);
    EXPECT_EQ(smb->lastNtStatus(), 0xC0000034u);
    EXPECT_FALSE(smb->getFileList(tree, "\\NoSuchFolder\\*"));
    EXPECT_EQ(smb->lastError(), QNSmb::kErrorNtStatus);
    // Still usable afterwards.
    EXPECT_TRUE(smb->getFileList(tree, "\\*"));
}

// The plain NTLMv2 log-on of servers without extended security.
TEST_F(QNSmbTest, LogsOnWithoutExtendedSecurity) {
    QNSmb smb;
    smb.setUseExtendedSecurity(false);
    ASSERT_TRUE(smb.connect(peer_->server(), "", SmbPeer::kUser, SmbPeer::kPassword))
        << smb.lastError() << " " << std::hex << smb.lastNtStatus() << peer_->log();
    const uint16_t tree = smb.connectTree("books");
    ASSERT_NE(tree, 0);
    auto list = smb.getFileList(tree, "\\Comics\\*");
    ASSERT_TRUE(list);
    EXPECT_GE(list->size(), 4u);
    smb.disconnect();

    QNSmb wrong;
    wrong.setUseExtendedSecurity(false);
    EXPECT_FALSE(wrong.connect(peer_->server(), "", SmbPeer::kUser, "wrong"));
    EXPECT_EQ(wrong.lastNtStatus(), QNSmb::kStatusLogonFailure);
    QNSmb domain;
    domain.setUseExtendedSecurity(false);
    EXPECT_TRUE(domain.connect(peer_->server(), "", std::string("lbtestgroup\\") + SmbPeer::kUser, SmbPeer::kPassword))
        << std::hex << domain.lastNtStatus();
}

TEST_F(QNSmbTest, CancelEndsABlockedCall) {
    QNSmb smb;
    // The negotiate request gets no answer, only a cancel.
    test::OneReplyPeer canceller(std::function<void()>([&] { smb.cancel(); }));
    EXPECT_FALSE(smb.connect(canceller.server(), "", "u", "p"));
    canceller.join();
    EXPECT_EQ(smb.lastError(), QNSmb::kErrorCancelled);
}

TEST_F(QNSmbTest, WorksOverTheNetBiosSessionService) {
    // smbd on two ports: the second is where our client asks for a NetBIOS
    // session before speaking SMB, as on 139.
    test::TempDir root("smbnbss");
    SmbPeer::writeFile(root.path() + "/books", "n.cbz", SmbPeer::noise(300'000, 9));
    // Both ports are held until smbd listens on them: smbd keeps running on
    // one port when the other was taken meanwhile, and would never answer
    // there.
    const test::ReservedPort directPort, sessionPort;
    const int direct = directPort.port(), session = sessionPort.port();
    ASSERT_TRUE(direct && session);
    test::SambaServer smbd;
    ASSERT_TRUE(smbd.startSmbd("  server min protocol = NT1\n  server max protocol = NT1\n  smb ports = " +
                                   std::to_string(direct) + " " + std::to_string(session) + "\n",
                               direct, {{"books", root.path() + "/books", false, false, ""}},
                               {{SmbPeer::kUser, SmbPeer::kPassword}}))
        << smbd.lastError();

    QNSmb smb;
    smb.setWorkStationName("Leafbright");
    smb.setNetbiosSessionPort(session);
    ASSERT_TRUE(smb.connect("127.0.0.1:" + std::to_string(session), "LEAFSERVER", SmbPeer::kUser, SmbPeer::kPassword))
        << smb.lastError() << " " << std::hex << smb.lastNtStatus() << smbd.log();
    auto shares = smb.getTreeList();
    ASSERT_TRUE(shares) << smb.lastError();
    bool books = false;
    for (const auto& s : *shares) books = books || s.name == "books";
    EXPECT_TRUE(books);
    const uint16_t tree = smb.connectTree("books");
    ASSERT_NE(tree, 0);
    uint64_t size = 0;
    const uint16_t file = smb.openFile(tree, "\\n.cbz", &size);
    ASSERT_NE(file, 0);
    EXPECT_EQ(size, 300'000u);
    auto data = smb.readFile(file, tree, 0, 300'000);
    ASSERT_TRUE(data) << smb.lastError();
    EXPECT_EQ(*data, SmbPeer::noise(300'000, 9));
    smb.closeFile(file, tree);
    smb.disconnect();

    // The other port is spoken to directly, with no session request.
    QNSmb plain;
    plain.setWorkStationName("Leafbright");
    EXPECT_TRUE(plain.connect("127.0.0.1:" + std::to_string(direct), "", SmbPeer::kUser, SmbPeer::kPassword))
        << plain.lastError();

    // A session answer longer than the service ever gives is refused unread.
    std::vector<uint8_t> longAnswer = {0x82, 0, 0x01, 0x2C};
    longAnswer.resize(4 + 300);
    test::OneReplyPeer liar(longAnswer);
    QNSmb refused;
    refused.setNetbiosSessionPort(liar.port());
    EXPECT_FALSE(refused.connect(liar.server(), "LEAFSERVER", "u", "p"));
    liar.join();
    EXPECT_EQ(refused.lastError(), QNSmb::kErrorConnect);
}

}  // namespace
