// How long the SMB2 connection waits: a request the server says is pending
// is waited for past the reply time-out as long as the server answers an
// echo; a server that goes quiet ends the wait after a time-out (or two,
// when it had said "pending"; a quarter of one while logging on), and a
// cancel ends any wait at once. The server is a scripted one; the
// connection's time-out is shortened to half a second once the file is
// open, so the waits are real but short.

#include <gtest/gtest.h>

#include "smb/Smb2Connection.h"
#include "tests/support/net/FakeSmb2Server.h"

#include <atomic>
#include <chrono>

namespace {

using test::FakeSmb2Server;
using Bytes = std::vector<uint8_t>;
using Request = FakeSmb2Server::Request;
// The waits under test; the log-on before them has the usual time-out, so a
// busy machine that is slow to schedule the server's thread does not end it.
constexpr int kTimeoutMs = 500;

struct Opened {
    uint32_t tree = 0;
    Smb2Connection::FileId file;
};

// Logged on as a guest, the share connected and a file open.
Opened openFile(Smb2Connection& c, const FakeSmb2Server& server) {
    Opened o;
    c.setReplyTimeout(Smb2Connection::kReplyTimeoutMs);
    EXPECT_TRUE(c.open("127.0.0.1", server.port(), "", "", "")) << c.message();
    o.tree = c.treeConnect("books");
    EXPECT_NE(o.tree, 0u) << c.message();
    auto f = c.create(o.tree, "a.cbz", Smb2Connection::kAccessReadFile, 0);
    EXPECT_TRUE(f) << c.message();
    if (f) o.file = f->id;
    c.setReplyTimeout(kTimeoutMs);
    return o;
}

TEST(PendingRepliesTest, APendingReadIsWaitedForWhileTheServerAnswersEchoes) {
    FakeSmb2Server server;
    Request read;
    // The read is pending; the answer comes after the second echo, more
    // than two time-outs later.
    server.on(FakeSmb2Server::kRead, [&](const Request& r, FakeSmb2Server& s) {
        read = r;
        s.replyPending(r);
    });
    server.on(FakeSmb2Server::kEcho, [&](const Request& r, FakeSmb2Server& s) {
        s.reply(r, 0, FakeSmb2Server::echoBody());
        if (s.count(FakeSmb2Server::kEcho) == 2) s.reply(read, 0, FakeSmb2Server::readBody(Bytes(100, 0x5A)), 1);
    });
    Smb2Connection c;
    const Opened o = openFile(c, server);
    auto data = c.read(o.tree, o.file, 0, 100);
    ASSERT_TRUE(data) << c.message();
    EXPECT_EQ(*data, Bytes(100, 0x5A));
    EXPECT_EQ(server.count(FakeSmb2Server::kEcho), 2);
    EXPECT_FALSE(c.isBroken());
}

TEST(PendingRepliesTest, AServerThatStopsAnsweringEndsTheWait) {
    // Pending, then nothing, not even to the echo: two time-outs.
    {
        FakeSmb2Server server;
        server.on(FakeSmb2Server::kRead, [](const Request& r, FakeSmb2Server& s) { s.replyPending(r); });
        server.on(FakeSmb2Server::kEcho, [](const Request&, FakeSmb2Server&) {});
        Smb2Connection c;
        const Opened o = openFile(c, server);
        EXPECT_FALSE(c.read(o.tree, o.file, 0, 100));
        EXPECT_EQ(c.error(), SmbStackClient::kErrorDisconnected);
        EXPECT_EQ(c.message(), "The server stopped answering.");
        EXPECT_EQ(server.count(FakeSmb2Server::kEcho), 1);
        EXPECT_TRUE(c.isBroken());
    }
    // Nothing at all: one time-out, and no echo (the server never said it
    // was working on the request).
    {
        FakeSmb2Server server;
        server.on(FakeSmb2Server::kRead, [](const Request&, FakeSmb2Server&) {});
        Smb2Connection c;
        const Opened o = openFile(c, server);
        EXPECT_FALSE(c.read(o.tree, o.file, 0, 100));
        EXPECT_EQ(c.message(), "The server did not answer in time.");
        EXPECT_EQ(server.count(FakeSmb2Server::kEcho), 0);
    }
}

TEST(PendingRepliesTest, AServerSilentAtTheLogOnIsGivenUpSooner) {
    FakeSmb2Server server;
    server.on(FakeSmb2Server::kNegotiate, [](const Request&, FakeSmb2Server&) {});
    Smb2Connection c;
    c.setReplyTimeout(4000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.open("127.0.0.1", server.port(), "", "", ""));
    EXPECT_EQ(c.message(), "The server did not answer the log-on in time.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
}

TEST(PendingRepliesTest, ACancelEndsAPendingWaitAtOnce) {
    // The reply time-out is the full minute here: only the cancel can end
    // the wait before the test's own limit.
    FakeSmb2Server server;
    Smb2Connection c;
    server.on(FakeSmb2Server::kRead, [&](const Request& r, FakeSmb2Server& s) {
        s.replyPending(r);
        c.cancel();
    });
    c.setReplyTimeout(Smb2Connection::kReplyTimeoutMs);
    ASSERT_TRUE(c.open("127.0.0.1", server.port(), "", "", "")) << c.message();
    const uint32_t tree = c.treeConnect("books");
    auto f = c.create(tree, "a.cbz", Smb2Connection::kAccessReadFile, 0);
    ASSERT_TRUE(f);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.read(tree, f->id, 0, 100));
    EXPECT_EQ(c.error(), SmbStackClient::kErrorCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
