// DFS: an smbd namespace root whose links lead to a share of the same
// server, to a folder inside one, and to a second smbd at another address
// (127.0.0.2, in a network namespace the test makes, where that address can
// be given to the loopback); links that lead nowhere say so. The referral
// parser is also held to the bytes it is given.

#include <gtest/gtest.h>

#include "platform/core/UserDefaults.h"
#include "remote/protocols/SmbDfsCredentials.h"
#include "remote/protocols/SmbServerAddress.h"
#include "remote/protocols/SmbWire.h"
#include "smb/CIFSStackClient.h"
#include "smb/DfsReferral.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NetNamespacePair.h"
#include "tests/support/net/SambaServer.h"
#include "tests/support/net/SmbPeer.h"

#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;
using test::SmbPeer;
using Bytes = std::vector<uint8_t>;

bool hasName(const std::vector<SmbStackClient::FileInfo>& list, const std::string& name, bool folder) {
    for (const auto& f : list) {
        if (f.name == name) return bool(f.attributes & 0x10) == folder;
    }
    return false;
}

class DfsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        pair_ = new test::NetNamespacePair;
        if (!pair_->create()) {
            skip_ = pair_->lastError();
            return;
        }
        // Inside the namespace the loopback has a second address of its own.
        if (pair_->run(1, "ip addr add 127.0.0.2/8 dev lo") != 0) {
            error_ = "could not give the namespace's loopback 127.0.0.2";
            return;
        }
        test::NetNamespacePair::Enter inside(*pair_, 1);
        root_ = new test::TempDir("dfs");
        const std::string r = root_->path();
        SmbPeer::writeFile(r + "/books", "Comics/a.cbz", SmbPeer::noise(200'000, 1));
        SmbPeer::writeFile(r + "/far", "Far Folder/b.cbz", SmbPeer::noise(150'000, 2));
        SmbPeer::writeFile(r + "/open", "Open Folder/d.cbz", SmbPeer::noise(1000, 4));
        SmbPeer::writeFile(r + "/dfs", "Real/c.cbz", SmbPeer::noise(1000, 3));
        for (const auto& [link, target] : std::vector<std::pair<std::string, std::string>>{
                 {"near", "127.0.0.1\\books"},
                 {"deep", "127.0.0.1\\books\\Comics"},
                 {"far", "127.0.0.2\\far"},
                 {"open", "127.0.0.2\\open"},
                 {"gone", "127.0.0.3\\nothing"},
                 {"loop", "127.0.0.1\\dfs\\loop"}}) {
            fs::create_symlink("msdfs:" + target, r + "/dfs/" + link);
        }
        test::shell("chmod -R a+rX '" + r + "'");
        for (fs::path p = r; p.has_relative_path() && p != p.root_path(); p = p.parent_path()) {
            fs::permissions(p, fs::perms::others_exec, fs::perm_options::add);
        }
        const std::vector<test::SambaServer::User> users = {{SmbPeer::kUser, SmbPeer::kPassword}};
        root_server_ = new test::SambaServer;
        if (!root_server_->startSmbd("", 0,
                                     {{"dfs", r + "/dfs", false, false, "  msdfs root = yes\n"},
                                      {"books", r + "/books", false, false, ""}},
                                     users)) {
            error_ = root_server_->lastError();
            return;
        }
        // The other server answers at the same port: a referral names no port.
        far_server_ = new test::SambaServer;
        far_server_->setAddress("127.0.0.2");
        if (!far_server_->startSmbd("", root_server_->port(),
                                    {{"far", r + "/far", false, false, ""}, {"open", r + "/open", false, true, ""}},
                                    users)) {
            error_ = far_server_->lastError();
        }
    }
    static void TearDownTestSuite() {
        delete far_server_;
        delete root_server_;
        delete root_;
        delete pair_;
        far_server_ = root_server_ = nullptr;
        root_ = nullptr;
        pair_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
        inside_ = std::make_unique<test::NetNamespacePair::Enter>(*pair_, 1);
        ASSERT_TRUE(inside_->ok());
        // No answer about the other server from an earlier test.
        sys::UserDefaults::standard().removeObjectForKey("SmbDfsCredentials");
    }
    void TearDown() override { inside_.reset(); }

    static std::string server() { return "127.0.0.1:" + std::to_string(root_server_->port()); }
    static std::string farServer() { return "127.0.0.2:" + std::to_string(root_server_->port()); }
    static std::shared_ptr<CIFSStackClient> user() {
        auto c = std::make_shared<CIFSStackClient>(0);
        c->setUsername(SmbPeer::kUser);
        c->setPassword(SmbPeer::kPassword);
        return c;
    }
    static Bytes readAll(CIFSStackClient& c, const std::string& share, const std::string& path) {
        auto h = c.openFileForRead(server(), share, path, true);
        if (!h) return {};
        auto data = c.readFile(h, share, 1 << 20);
        c.closeFile(h);
        return data ? *data : Bytes();
    }

    std::unique_ptr<test::NetNamespacePair::Enter> inside_;
    static inline test::NetNamespacePair* pair_ = nullptr;
    static inline test::TempDir* root_ = nullptr;
    static inline test::SambaServer *root_server_ = nullptr, *far_server_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(DfsTest, LinksListAsFoldersAndLeadWhereTheyPoint) {
    auto c = user();
    auto root = c->getFilelist(server(), "dfs", "");
    ASSERT_TRUE(root) << std::hex << c->lastError() << " " << c->lastMessage();
    for (const char* link : {"near", "deep", "far", "gone", "Real"}) EXPECT_TRUE(hasName(*root, link, true)) << link;

    // A share of the same server, and a folder inside one.
    auto near = c->getFilelist(server(), "dfs", "near");
    ASSERT_TRUE(near) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_TRUE(hasName(*near, "Comics", true));
    auto deep = c->getFilelist(server(), "dfs", "\\near\\Comics");
    ASSERT_TRUE(deep) << c->lastMessage();
    EXPECT_TRUE(hasName(*deep, "a.cbz", false));
    auto deeper = c->getFilelist(server(), "dfs", "deep");
    ASSERT_TRUE(deeper) << c->lastMessage();
    EXPECT_TRUE(hasName(*deeper, "a.cbz", false));
    EXPECT_EQ(readAll(*c, "dfs", "deep\\a.cbz"), SmbPeer::noise(200'000, 1));

    // Another server that lets a guest in is listed as a guest, unasked.
    auto open = c->getFilelist(server(), "dfs", "open");
    ASSERT_TRUE(open) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_TRUE(hasName(*open, "Open Folder", true));
    EXPECT_EQ(SmbDfsCredentials::answer(server(), farServer()), SmbDfsCredentials::Answer::Unasked);

    // One that does not gets the site's credentials only once the user has
    // said so for the site and that server: until then the call fails,
    // naming the server, and every way through the link does.
    EXPECT_FALSE(c->getFilelist(server(), "dfs", "far"));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorDfsCredentials) << c->lastMessage();
    EXPECT_EQ(c->lastDfsServer(), farServer());
    EXPECT_EQ(c->lastMessage(), "The DFS link \\\\127.0.0.1\\dfs\\far leads to another server, " + farServer() +
                                    ", which does not let a guest in.");
    EXPECT_FALSE(c->getFilelistPattern(server(), "dfs", "far\\Far Folder\\b.cbz"));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorDfsCredentials);
    EXPECT_FALSE(c->openFileForRead(server(), "dfs", "far\\Far Folder\\b.cbz", true));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorDfsCredentials);
    // Not let through; another site (the same server under another name)
    // has its own answer.
    SmbDfsCredentials::remember(server(), farServer(), false);
    SmbDfsCredentials::remember("localhost:" + std::to_string(root_server_->port()), farServer(), true);
    auto refused = user();
    EXPECT_FALSE(refused->getFilelist(server(), "dfs", "far"));
    EXPECT_NE(refused->lastMessage().find("not sent there"), std::string::npos) << refused->lastMessage();

    // Let through: the other server is reached with the same credentials.
    SmbDfsCredentials::remember(server(), farServer(), true);
    auto far = c->getFilelist(server(), "dfs", "far");
    ASSERT_TRUE(far) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_TRUE(hasName(*far, "Far Folder", true));
    auto one = c->getFilelistPattern(server(), "dfs", "far\\Far Folder\\b.cbz");
    ASSERT_TRUE(one) << c->lastMessage();
    EXPECT_EQ(one->front().size, 150'000u);
    EXPECT_EQ(readAll(*c, "dfs", "far\\Far Folder\\b.cbz"), SmbPeer::noise(150'000, 2));

    // A plain folder of the namespace root is no link.
    auto real = c->getFilelist(server(), "dfs", "Real");
    ASSERT_TRUE(real);
    EXPECT_TRUE(hasName(*real, "c.cbz", false));
}

TEST_F(DfsTest, LinksThatCannotBeFollowedSaySo) {
    auto c = user();
    EXPECT_FALSE(c->getFilelist(server(), "dfs", "gone"));
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorConnect);
    EXPECT_EQ(c->lastMessage(),
              "The DFS link \\\\127.0.0.1\\dfs\\gone leads to \\\\127.0.0.3:" + std::to_string(root_server_->port()) +
                  "\\nothing, which could not be reached: The server could not be reached.");
    EXPECT_FALSE(c->getFilelist(server(), "dfs", "loop\\more"));
    EXPECT_NE(c->lastMessage().find("round in a circle"), std::string::npos) << c->lastMessage();
    // The client is still good for the links that work.
    SmbDfsCredentials::remember(server(), farServer(), true);
    EXPECT_TRUE(c->getFilelist(server(), "dfs", "far"));
}

// The answers are kept per server: another port is another server, while
// a host in capitals or written with the default port is the same one.
TEST(DfsCredentialsTest, AnswersAreKeptPerHostAndPort) {
    sys::UserDefaults::standard().removeObjectForKey("SmbDfsCredentials");
    const std::string site = "nas:445";
    SmbDfsCredentials::remember(site, "fs:1445", true);
    EXPECT_EQ(SmbDfsCredentials::answer(site, "fs:1445"), SmbDfsCredentials::Answer::Send);
    EXPECT_EQ(SmbDfsCredentials::answer(site, "fs:445"), SmbDfsCredentials::Answer::Unasked);
    EXPECT_EQ(SmbDfsCredentials::answer(site, "fs"), SmbDfsCredentials::Answer::Unasked);
    EXPECT_EQ(SmbDfsCredentials::answer(site, "fs:144"), SmbDfsCredentials::Answer::Unasked);
    SmbDfsCredentials::remember(site, "FS:445", false);
    EXPECT_EQ(SmbDfsCredentials::answer(site, "fs"), SmbDfsCredentials::Answer::DontSend);
    EXPECT_EQ(SmbDfsCredentials::answer("NAS", "fs:445"), SmbDfsCredentials::Answer::DontSend);
    EXPECT_EQ(SmbDfsCredentials::answer(site, "fs:1445"), SmbDfsCredentials::Answer::Send);
    EXPECT_TRUE(SmbDfsCredentials::sameServer("FS:445", "fs"));
    EXPECT_FALSE(SmbDfsCredentials::sameServer("fs:1445", "fs:445"));
    EXPECT_FALSE(SmbDfsCredentials::sameServer("fs:1445", "fs"));
    std::string host;
    int port = 0;
    ASSERT_TRUE(SmbServerAddress::split("fs", host, port));
    EXPECT_EQ(host, "fs");
    EXPECT_EQ(port, 445);
    ASSERT_TRUE(SmbServerAddress::split("fs:1445", host, port));
    EXPECT_EQ(port, 1445);
    sys::UserDefaults::standard().removeObjectForKey("SmbDfsCredentials");
}

// A referral as a server sends it: header, entries, then their strings.
Bytes referral(uint16_t version, const std::vector<std::string>& targets, uint16_t consumed = 38,
               uint16_t flags = 0) {
    Bytes b(8, 0);
    SmbWire::put16(b, 0, consumed);
    SmbWire::put16(b, 2, uint16_t(targets.size()));
    const size_t entrySize = version == 2 ? 22 : 34;
    const size_t stringsAt = 8 + entrySize * targets.size();
    Bytes strings;
    for (size_t i = 0; i < targets.size(); ++i) {
        const size_t at = 8 + entrySize * i;
        Bytes entry(entrySize, 0);
        SmbWire::put16(entry, 0, version);
        SmbWire::put16(entry, 2, uint16_t(entrySize));
        SmbWire::put16(entry, 6, flags);
        const size_t target = stringsAt + strings.size() - at;
        SmbWire::put16(entry, version == 2 ? 16 : 12, uint16_t(target));  // the DFS path
        SmbWire::put16(entry, version == 2 ? 20 : 16, uint16_t(target));  // the place
        SmbWire::append(b, entry);
        SmbWire::append(strings, SmbWire::utf16le(targets[i]));
        SmbWire::append(strings, {0, 0});
    }
    SmbWire::append(b, strings);
    return b;
}

TEST(DfsReferralTest, ReferralsAreReadWithinTheirBytes) {
    for (uint16_t version : {2, 3, 4}) {
        auto r = DfsReferral::parse(referral(version, {"\\127.0.0.2\\far", "\\\\other\\share\\in\\here\\"}));
        ASSERT_TRUE(r) << version;
        EXPECT_EQ(r->pathConsumed, 38u);
        ASSERT_EQ(r->targets.size(), 2u);
        EXPECT_EQ(r->targets[0].server, "127.0.0.2");
        EXPECT_EQ(r->targets[0].share, "far");
        EXPECT_EQ(r->targets[0].path, "");
        EXPECT_EQ(r->targets[1].server, "other");
        EXPECT_EQ(r->targets[1].share, "share");
        EXPECT_EQ(r->targets[1].path, "in\\here");
    }
    // Domain referrals name no share: no target.
    auto domains = DfsReferral::parse(referral(3, {"\\example.com"}, 38, 0x0002));
    ASSERT_TRUE(domains);
    EXPECT_TRUE(domains->targets.empty());
    // Every cut of an answer is refused, never read past.
    const Bytes whole = referral(3, {"\\server\\share"});
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_FALSE(DfsReferral::parse(Bytes(whole.begin(), whole.begin() + long(cut)))) << cut;
    }
    // A string offset beyond the answer, an entry size beyond it, an unknown version.
    Bytes far = whole;
    SmbWire::put16(far, 8 + 16, 0xFFF0);
    EXPECT_FALSE(DfsReferral::parse(far));
    Bytes big = whole;
    SmbWire::put16(big, 8 + 2, 0x4000);
    EXPECT_FALSE(DfsReferral::parse(big));
    Bytes unknown = whole;
    SmbWire::put16(unknown, 8, 9);
    EXPECT_FALSE(DfsReferral::parse(unknown));
    // A place without a share is no target.
    EXPECT_FALSE(DfsReferral::splitTarget("\\serveronly"));
    EXPECT_FALSE(DfsReferral::splitTarget("noslash\\share"));
}

TEST(DfsReferralTest, TheRestOfThePathFollowsTheCoveredPart) {
    const std::string asked = "\\127.0.0.1\\dfs\\link\\Sub\\本棚";
    EXPECT_EQ(DfsReferral::remainder(asked, 38), "Sub\\本棚");
    EXPECT_EQ(DfsReferral::remainder("\\127.0.0.1\\dfs\\link", 38), "");
    EXPECT_FALSE(DfsReferral::remainder(asked, 37));        // half a character
    EXPECT_FALSE(DfsReferral::remainder(asked, 36));        // half a name
    EXPECT_FALSE(DfsReferral::remainder(asked, 1000));      // beyond the path
}

}  // namespace
