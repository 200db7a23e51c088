// The FTP client's socket and its cancel: a cancel is never undone by a later
// connect, and one made while the host name is being looked up returns at
// once, the look-up left to end on its own.

#include "foundation/QNSocketSync.h"

#include "tests/support/net/LoopbackListener.h"
#include "tests/support/net/StuckNameLookup.h"

#include <gtest/gtest.h>

#include <future>

namespace {

TEST(QNSocketSyncTest, ACancelIsNeverUndoneByAConnect) {
    test::LoopbackListener peer(8);  // accepts nothing: the kernel completes connects
    QNSocketSync open;
    ASSERT_TRUE(open.connect("127.0.0.1", peer.port()));
    EXPECT_EQ(open.peerAddress(), "127.0.0.1");

    // A cancel that reached the socket before its connect began.
    QNSocketSync early;
    early.cancel();
    EXPECT_FALSE(early.connect("127.0.0.1", peer.port()));
    EXPECT_FALSE(early.active());
    // And a connection cancelled once stays cancelled.
    open.cancel();
    EXPECT_FALSE(open.connect("127.0.0.1", peer.port()));
}

TEST(QNSocketSyncTest, ACancelDuringAHangingLookUpReturnsAtOnce) {
    test::LoopbackListener peer(8);  // accepts nothing: the kernel completes connects
    test::StuckNameLookup stuck;
    QNSocketSync socket;
    auto connecting =
        std::async(std::launch::async, [&] { return socket.connect(test::StuckNameLookup::kName, peer.port()); });
    ASSERT_TRUE(stuck.waitForLookup(10));
    socket.cancel();
    if (connecting.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        stuck.release();
        FAIL() << "the connect waited for the look-up";
    }
    EXPECT_FALSE(connecting.get());
    EXPECT_EQ(stuck.blocked(), 1) << "the look-up is left to end on its own";
}

}  // namespace
