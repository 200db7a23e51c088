// Name look-ups that a cancel does not wait for: a look-up that hangs is
// left behind at once, its late answer dropped; numeric addresses are
// answered on the spot.

#include "platform/net/HostLookup.h"

#include "tests/support/net/StuckNameLookup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>

namespace {

using net::HostLookup;

int portOf(const HostLookup::Address& a) {
    return ntohs(reinterpret_cast<const sockaddr_in*>(&a.address)->sin_port);
}

TEST(HostLookupTest, AddressesAndNamesAreAnswered) {
    std::atomic<bool> cancelled{false};
    std::vector<HostLookup::Address> out;
    ASSERT_EQ(HostLookup::resolve("127.0.0.1", 4455, cancelled, &out), HostLookup::Status::Found);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].family, AF_INET);
    EXPECT_EQ(portOf(out[0]), 4455);
    ASSERT_EQ(HostLookup::resolve("::1", 80, cancelled, &out), HostLookup::Status::Found);
    EXPECT_EQ(out[0].family, AF_INET6);
    // A name (from the hosts file: nothing leaves the machine).
    ASSERT_EQ(HostLookup::resolve("localhost", 139, cancelled, &out), HostLookup::Status::Found);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(portOf(out[0]), 139);
    // Nonsense is refused before any look-up.
    EXPECT_EQ(HostLookup::resolve("", 80, cancelled, &out), HostLookup::Status::NotFound);
    EXPECT_EQ(HostLookup::resolve("127.0.0.1", 0, cancelled, &out), HostLookup::Status::NotFound);
}

TEST(HostLookupTest, ACancelLeavesAHangingLookUpBehindAtOnce) {
    test::StuckNameLookup stuck;
    std::atomic<bool> cancelled{false};
    std::vector<HostLookup::Address> out;
    auto lookup = std::async(std::launch::async, [&] {
        return HostLookup::resolve(test::StuckNameLookup::kName, 445, cancelled, &out);
    });
    ASSERT_TRUE(stuck.waitForLookup(10));
    cancelled = true;
    // The look-up hangs on: the answer must come without it.
    if (lookup.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        stuck.release();
        FAIL() << "the cancel waited for the look-up";
    }
    EXPECT_EQ(lookup.get(), HostLookup::Status::Cancelled);
    EXPECT_EQ(stuck.blocked(), 1);
    EXPECT_TRUE(out.empty());
    // A cancel that came first starts none.
    EXPECT_EQ(HostLookup::resolve(test::StuckNameLookup::kName, 445, cancelled, &out), HostLookup::Status::Cancelled);
    EXPECT_EQ(stuck.blocked(), 1);
}

}  // namespace
