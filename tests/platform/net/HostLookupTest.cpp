// Name look-ups that a cancel does not wait for: a look-up that hangs is
// left behind at once, its late answer dropped; numeric addresses never
// start one.

#include "platform/net/HostLookup.h"

#include "tests/support/StuckLookup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>

namespace {

using net::HostLookup;

int portOf(const HostLookup::Address& a) {
    return ntohs(reinterpret_cast<const sockaddr_in*>(&a.address)->sin_port);
}

TEST(HostLookupTest, NumericAddressesAreAnsweredWithoutALookUp) {
    test::StuckLookup stuck(0.5);
    std::atomic<bool> cancelled{false};
    std::vector<HostLookup::Address> out;
    ASSERT_EQ(HostLookup::resolve("127.0.0.1", 4455, cancelled, &out), HostLookup::Status::Found);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].family, AF_INET);
    EXPECT_EQ(portOf(out[0]), 4455);
    ASSERT_EQ(HostLookup::resolve("::1", 80, cancelled, &out), HostLookup::Status::Found);
    EXPECT_EQ(out[0].family, AF_INET6);
    EXPECT_EQ(stuck.finished(), 0) << "no look-up was started";
    // Nonsense is refused before any look-up too.
    EXPECT_EQ(HostLookup::resolve("", 80, cancelled, &out), HostLookup::Status::NotFound);
    EXPECT_EQ(HostLookup::resolve("127.0.0.1", 0, cancelled, &out), HostLookup::Status::NotFound);
}

TEST(HostLookupTest, ACancelLeavesAHangingLookUpBehindAtOnce) {
    test::StuckLookup stuck;
    std::atomic<bool> cancelled{false};
    std::vector<HostLookup::Address> out;
    auto lookup = std::async(std::launch::async, [&] { return HostLookup::resolve("nas.local", 445, cancelled, &out); });
    ASSERT_TRUE(stuck.waitEntered());
    cancelled = true;
    // The look-up still hangs (the watchdog would free it after 10 s): the
    // answer must come before it.
    ASSERT_EQ(lookup.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(lookup.get(), HostLookup::Status::Cancelled);
    EXPECT_EQ(stuck.finished(), 0);
    EXPECT_TRUE(out.empty());
    // A cancel that came first starts nothing.
    EXPECT_EQ(HostLookup::resolve("nas.local", 445, cancelled, &out), HostLookup::Status::Cancelled);
    EXPECT_EQ(stuck.entered(), 1);
}

TEST(HostLookupTest, AnAnswerThatComesIsHandedOver) {
    test::StuckLookup stuck;
    stuck.release();
    std::atomic<bool> cancelled{false};
    std::vector<HostLookup::Address> out;
    ASSERT_EQ(HostLookup::resolve("nas.local", 139, cancelled, &out), HostLookup::Status::Found);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(portOf(out[0]), 139);
}

}  // namespace
