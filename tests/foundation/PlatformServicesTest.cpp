#include <gtest/gtest.h>

#include "foundation/FileDelayCloser.h"
#include "foundation/NSObjectExtension.h"
#include "foundation/NetworkIndicatorWithKey.h"
#include "foundation/QNNetworkInfo.h"
#include "foundation/VolumeButtonCheck.h"
#include "platform/core/NetworkActivityIndicator.h"
#include "platform/core/OutputVolume.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// ---- Volume buttons ----

struct Presses : VolumeButtonCheckDelegate {
    std::vector<int> seen;
    void onVolumeButton(int direction) override { seen.push_back(direction); }
};

class VolumeButtonCheckTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        volume_ = std::make_shared<sys::OutputVolume>();
        sys::OutputVolume::setShared(volume_);
        check_ = VolumeButtonCheck::sharedInstance();
        check_->setDelegate(&presses_);
    }
    void TearDown() override {
        check_->stopCheckingVolumeButton();
        check_->setDelegate(nullptr);
        sys::OutputVolume::setShared(nullptr);
        VirtualClockTest::TearDown();
    }
    void startAt(float v) {
        volume_->setVolume(v);
        check_->startCheckingVolumeButton();
        advance(0.6);  // the start-up reset lands, presses count from here
    }
    std::shared_ptr<sys::OutputVolume> volume_;
    std::shared_ptr<VolumeButtonCheck> check_;
    Presses presses_;
};

TEST_F(VolumeButtonCheckTest, TheVolumeIsHeldAwayFromBothEnds) {
    startAt(1.0f);
    EXPECT_FLOAT_EQ(check_->initialVolume(), 0.9f);
    EXPECT_FLOAT_EQ(volume_->volume(), 0.9f);
    check_->stopCheckingVolumeButton();
    startAt(0.05f);
    EXPECT_FLOAT_EQ(volume_->volume(), 0.15f);
    check_->stopCheckingVolumeButton();
    startAt(0.5f);
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5f);
    EXPECT_TRUE(presses_.seen.empty());
}

TEST_F(VolumeButtonCheckTest, APressIsReportedAndTheVolumePutBack) {
    startAt(0.5f);
    volume_->pressVolumeButton(true);  // 0.5 -> 0.5625
    EXPECT_EQ(presses_.seen, (std::vector<int>{0}));
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5625f);
    advance(0.05);
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5625f);
    advance(0.06);
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5f);  // back, and that change sends nothing
    EXPECT_EQ(presses_.seen.size(), 1u);

    volume_->pressVolumeButton(false);
    advance(0.2);
    volume_->pressVolumeButton(false);
    advance(0.2);
    EXPECT_EQ(presses_.seen, (std::vector<int>{0, 1, 1}));
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5f);
}

TEST_F(VolumeButtonCheckTest, PressesBeforeTheStartUpResetAndAfterStoppingAreIgnored) {
    volume_->setVolume(0.5f);
    check_->startCheckingVolumeButton();
    volume_->pressVolumeButton(true);  // within the first half second
    EXPECT_TRUE(presses_.seen.empty());
    advance(0.6);
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5f);
    check_->stopCheckingVolumeButton();
    volume_->pressVolumeButton(true);
    advance(1);
    EXPECT_TRUE(presses_.seen.empty());
    EXPECT_FLOAT_EQ(volume_->volume(), 0.5625f);
}

TEST_F(VolumeButtonCheckTest, ADelegateMayStopTheCheckFromItsCallback) {
    struct Stopper : VolumeButtonCheckDelegate {
        int calls = 0;
        void onVolumeButton(int) override {
            ++calls;
            VolumeButtonCheck::sharedInstance()->stopCheckingVolumeButton();
        }
    } stopper;
    check_->setDelegate(&stopper);
    startAt(0.5f);
    volume_->pressVolumeButton(false);
    advance(1);
    volume_->pressVolumeButton(false);
    EXPECT_EQ(stopper.calls, 1);
    EXPECT_FALSE(check_->isChecking());
}

TEST_F(VolumeButtonCheckTest, NoCheckWithoutAnAudioOutput) {
    volume_->setUnavailable(true);
    check_->startCheckingVolumeButton();
    EXPECT_FALSE(check_->isChecking());
    volume_->pressVolumeButton(true);
    advance(1);
    EXPECT_TRUE(presses_.seen.empty());
}

// ---- Network activity mark ----

class NetworkIndicatorTest : public test::VirtualClockTest {
protected:
    void TearDown() override {
        NetworkIndicatorWithKey::releaseNetworkIndicatorWithKey();
        VirtualClockTest::TearDown();
    }
};

TEST_F(NetworkIndicatorTest, ShownWhileAnyKeyIsHeld) {
    auto indicator = NetworkIndicatorWithKey::networkIndicatorWithKey();
    EXPECT_EQ(indicator, NetworkIndicatorWithKey::networkIndicatorWithKey());
    indicator->visible(true, "download");
    EXPECT_FALSE(sys::NetworkActivityIndicator::isVisible());  // on the main loop, later
    advance(0);
    EXPECT_TRUE(sys::NetworkActivityIndicator::isVisible());
    indicator->visible(true, "listing");
    indicator->visible(true, "listing");
    indicator->visible(false, "download");
    advance(0);
    EXPECT_TRUE(sys::NetworkActivityIndicator::isVisible());
    indicator->visible(false, "listing");
    advance(0);
    EXPECT_FALSE(sys::NetworkActivityIndicator::isVisible());
    indicator->visible(false, "never shown");
    advance(0);
    EXPECT_FALSE(sys::NetworkActivityIndicator::isVisible());
}

TEST_F(NetworkIndicatorTest, WorkersMayCallAndReleaseHidesIt) {
    auto indicator = NetworkIndicatorWithKey::networkIndicatorWithKey();
    std::thread worker([&] { indicator->visible(true, "worker"); });
    worker.join();
    advance(0);
    EXPECT_TRUE(sys::NetworkActivityIndicator::isVisible());
    NetworkIndicatorWithKey::releaseNetworkIndicatorWithKey();
    EXPECT_FALSE(sys::NetworkActivityIndicator::isVisible());
    // The released instance no longer drives the mark; a new one starts empty.
    indicator->visible(true, "late");
    advance(0);
    EXPECT_FALSE(sys::NetworkActivityIndicator::isVisible());
    EXPECT_EQ(NetworkIndicatorWithKey::networkIndicatorWithKey()->keyCount(), 0u);
}

// ---- Delayed blocks ----

class PerformBlockTest : public test::VirtualClockTest {};

TEST_F(PerformBlockTest, RunsAfterTheDelayUnlessItsOwnerIsGone) {
    int ran = 0;
    NSObjectExtension::performBlock([&] { ++ran; }, 0.5);
    auto owner = std::make_shared<int>(0);
    NSObjectExtension::performBlock([&] { ran += 10; }, 0.5, sys::RunLoop::Owner(owner));
    owner.reset();
    advance(0.4);
    EXPECT_EQ(ran, 0);
    advance(0.2);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(NSObjectExtension::performBlock(nullptr, 1), nullptr);
}

// ---- Closing files elsewhere ----

TEST(FileDelayCloserTest, ClosesOnAnotherThread) {
    FileDelayCloser::waitForCloseAll();  // nothing under way: returns at once
    EXPECT_EQ(FileDelayCloser::closesInProgress(), 0);

    test::TempDir dir("closer");
    std::vector<int> fds;
    for (int i = 0; i < 20; ++i) {
        int fd = ::open(dir.file("f" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        fds.push_back(fd);
        FileDelayCloser::closeFileDelay(fd);
    }
    FILE* f = std::fopen(dir.file("stream").c_str(), "w");
    ASSERT_TRUE(f);
    FileDelayCloser::closeFileDelay(f);

    std::thread::id closedOn;
    struct Handle {
        // Built in place: a temporary copy would record its own destruction here.
        explicit Handle(std::thread::id* w) : where(w) {}
        ~Handle() { *where = std::this_thread::get_id(); }
        std::thread::id* where;
    };
    FileDelayCloser::closeFileDelay(std::shared_ptr<void>(std::make_shared<Handle>(&closedOn)));

    FileDelayCloser::waitForCloseAll();
    EXPECT_EQ(FileDelayCloser::closesInProgress(), 0);
    for (int fd : fds) EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << fd;
    EXPECT_NE(closedOn, std::thread::id());
    EXPECT_NE(closedOn, std::this_thread::get_id());
}

// ---- Network interfaces ----

uint32_t ip(const char* text) {
    in_addr a{};
    ::inet_pton(AF_INET, text, &a);
    return a.s_addr;
}

class QNNetworkInfoTest : public ::testing::Test {
protected:
    void TearDown() override { QNNetworkInfo::setInterfaceRoles({}); }
};

TEST_F(QNNetworkInfoTest, TheFirstInterfaceThatIsNotALoopbackPlaysWifi) {
    std::vector<QNNetworkInfo::RawAddress> list{
        {"lo", ip("127.0.0.1"), ip("255.0.0.0"), true},
        {"eth0", ip("192.168.1.20"), ip("255.255.255.0"), false},
        {"wlan0", ip("10.0.0.5"), ip("255.255.0.0"), false},
    };
    QNNetworkInfo info(list);
    EXPECT_EQ(info.ipAddressWifi(), "192.168.1.20");
    EXPECT_FALSE(info.ipAddress3G());
    ASSERT_TRUE(info.info());
    ASSERT_EQ(info.info()->size(), 3u);
    const auto& eth = (*info.info())[1];
    EXPECT_EQ(eth.at("interface"), "en0");
    EXPECT_EQ(eth.at("ipv4addr"), "192.168.1.20");
    EXPECT_EQ(eth.at("ipv4mask"), "255.255.255.0");
    EXPECT_EQ(eth.at("ipv4broadcast"), "192.168.1.255");
    EXPECT_EQ((*info.info())[0].at("interface"), "lo");
    EXPECT_EQ((*info.info())[0].at("ipv4broadcast"), "127.255.255.255");
    EXPECT_EQ((*info.info())[2].at("ipv4broadcast"), "10.0.255.255");
}

TEST_F(QNNetworkInfoTest, RolesFromTheTableAndTheLastAddressOfAnInterface) {
    QNNetworkInfo::setInterfaceRoles(
        {{"wlan0", "en0"}, {"wwan0", "pdp_ip0"}, {"tun0", "ppp0"}, {"br0", "bridge0"}});
    std::vector<QNNetworkInfo::RawAddress> list{
        {"eth0", ip("192.168.1.20"), ip("255.255.255.0"), false},
        {"wlan0", ip("10.0.0.5"), ip("255.255.255.0"), false},
        {"wlan0", ip("10.0.0.6"), ip("255.255.255.0"), false},
        {"wwan0", ip("100.64.0.1"), ip("255.255.255.255"), false},
        {"tun0", ip("172.16.0.2"), ip("255.255.255.252"), false},
        {"br0", ip("192.168.50.1"), ip("255.255.255.0"), false},
    };
    QNNetworkInfo info(list);
    EXPECT_EQ(info.ipAddressWifi(), "10.0.0.6");
    EXPECT_EQ(info.ipAddress3G(), "100.64.0.1");
    EXPECT_EQ(info.ipAddressVPN(), "172.16.0.2");
    EXPECT_EQ(info.ipAddressBridge(), "192.168.50.1");
    EXPECT_EQ((*info.info())[0].at("interface"), "eth0");
    EXPECT_EQ((*info.info())[4].at("ipv4broadcast"), "172.16.0.3");
}

TEST_F(QNNetworkInfoTest, AnUnreadableListLeavesEverythingEmpty) {
    QNNetworkInfo info(std::nullopt);
    EXPECT_FALSE(info.info());
    EXPECT_FALSE(info.ipAddressWifi());
    QNNetworkInfo only(std::vector<QNNetworkInfo::RawAddress>{{"lo", ip("127.0.0.1"), ip("255.0.0.0"), true}});
    ASSERT_TRUE(only.info());
    EXPECT_FALSE(only.ipAddressWifi());
}

TEST_F(QNNetworkInfoTest, TheSystemListHasTheLoopback) {
    auto list = QNNetworkInfo::systemAddresses();
    ASSERT_TRUE(list);
    bool loopback = false;
    for (const auto& a : *list) loopback = loopback || (a.loopback && a.address == ip("127.0.0.1"));
    EXPECT_TRUE(loopback);
    QNNetworkInfo info;
    ASSERT_TRUE(info.info());
    EXPECT_EQ(info.info()->size(), list->size());
}

}  // namespace
