#include <gtest/gtest.h>

#include "foundation/BookCommon.h"
#include "foundation/DeviceCommon.h"
#include "foundation/DeviceScreenState.h"
#include "foundation/GlobalRotationEventNofityObject.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"

namespace {

using sys::DeviceProfile;

class BookCommonDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = DeviceProfile::current();
        sys::AppPaths::setHome(home_.path());
        BookCommon::resetDeviceStateForTesting();
        DeviceScreenState::setShared(nullptr);
    }
    void TearDown() override {
        DeviceProfile::setCurrent(saved_);
        DeviceScreenState::setShared(nullptr);
        BookCommon::resetDeviceStateForTesting();
        sys::AppPaths::setHome("");
    }
    // The preset, upright, one full-screen window.
    void use(const char* preset, int orientation = 1) {
        DeviceProfile::setCurrent(*DeviceProfile::named(preset));
        DeviceScreenState::setShared(nullptr);
        DeviceScreenState::shared()->setInterfaceOrientation(orientation);
    }
    void useVersion(const std::string& version) {
        auto p = DeviceProfile::current();
        p.systemVersion = version;
        DeviceProfile::setCurrent(p);
    }
    std::shared_ptr<DeviceScreenState> screen() { return DeviceScreenState::shared(); }

    test::TempDir home_{"device-home"};
    DeviceProfile saved_;
};

TEST_F(BookCommonDeviceTest, NotchedPhoneFacts) {
    use("phone");
    EXPECT_EQ(BookCommon::getDeviceDisplayType(), 0);
    EXPECT_EQ(BookCommon::getScreenHeight(), 844);
    EXPECT_EQ(BookCommon::getScreenWidth(), 390);
    EXPECT_TRUE(BookCommon::isDeviceType12());
    EXPECT_TRUE(BookCommon::isDeviceType4inchOrBigger());
    EXPECT_FALSE(BookCommon::isDeviceTypeX());
    EXPECT_TRUE(BookCommon::isDeviceType_Notch());
    EXPECT_FALSE(BookCommon::isDeviceHomeCanRotateLandscape());
    EXPECT_EQ(BookCommon::getDefaultTapMargin(), 73);  // 390 / 320 * 60, cut
    EXPECT_EQ(BookCommon::getScreenScale(), 3);
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 47);
    EXPECT_EQ(BookCommon::getStatusbarHeightNew(), 47);
    // A bar as tall as a notch reads as the double-height bar of old phones.
    EXPECT_TRUE(BookCommon::isStatusbarExtended());
    EXPECT_EQ(BookCommon::getScreenRect(), gfx::Rect(0, 0, 390, 844));
    EXPECT_EQ(BookCommon::getWindowRect(), gfx::Rect(0, 0, 390, 844));
    EXPECT_EQ(BookCommon::getScreenHeightWithoutStatusbar(), 797);
    EXPECT_EQ(BookCommon::getScreenRectWithoutStatusbarWithRotation(false), gfx::Rect(0, 47, 390, 797));
    EXPECT_EQ(BookCommon::getScreentSafeRect(gfx::Rect(0, 0, 390, 844)), gfx::Rect(0, 47, 390, 797));
    EXPECT_EQ(BookCommon::getSafeAreaNew().bottom, 34);
    EXPECT_FALSE(BookCommon::isLandscapeSwitchOSVersionWithViewController());

    // Turned: the sizes stay the same way round, the phone hides its bar.
    screen()->setInterfaceOrientation(4);
    EXPECT_EQ(BookCommon::getScreenHeight(), 844);
    EXPECT_EQ(BookCommon::getScreenWidth(), 390);
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 0);
    EXPECT_TRUE(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    EXPECT_EQ(BookCommon::getScreenRectNew(), gfx::Rect(0, 0, 844, 390));
    EXPECT_TRUE(BookCommon::isDeviceType_Notch());
}

TEST_F(BookCommonDeviceTest, SmallPhoneAndLayoutScaling) {
    use("phone-se");
    EXPECT_TRUE(BookCommon::isDeviceType4_7inch());
    EXPECT_FALSE(BookCommon::isDeviceType4inch());
    EXPECT_FALSE(BookCommon::isDeviceType_Notch());
    EXPECT_FALSE(BookCommon::isStatusbarExtended());

    gfx::Size none{0, 0};
    EXPECT_DOUBLE_EQ(BookCommon::getRatioOf_iPhone5WithExclusionSize(none), (375.0 / 320 + 667.0 / 568) / 2);
    EXPECT_EQ(BookCommon::convertPointFrom_iPhone5({100, 100}, none), (gfx::Point{117, 117}));
    EXPECT_EQ(BookCommon::convertRectFrom_iPhone5(gfx::Rect(10, 20, 320, 568), none),
              gfx::Rect(11, 23, 375, 667));
    gfx::Size bars{0, 100};
    // The vertical factor is (667 - 100) / (568 - 100) = 567 / 468.
    EXPECT_EQ(BookCommon::convertSizeFrom_iPhone5({320, 468}, bars), (gfx::Size{375, 567}));
    EXPECT_EQ(BookCommon::convertSizeFrom_iPhone5({10, 100}, bars), (gfx::Size{11, 121}));
}

TEST_F(BookCommonDeviceTest, PadFacts) {
    use("pad");
    EXPECT_EQ(BookCommon::getDeviceDisplayType(), 1);
    EXPECT_TRUE(BookCommon::isDeviceType_iPadPro12_9());
    EXPECT_FALSE(BookCommon::isDeviceType_iPadPro11());
    EXPECT_TRUE(BookCommon::isDeviceLargeiPad());
    EXPECT_TRUE(BookCommon::isDeviceHomeCanRotateLandscape());
    EXPECT_FALSE(BookCommon::isDeviceType_Notch());
    EXPECT_FALSE(BookCommon::isDeviceType12());
    EXPECT_EQ(BookCommon::getDefaultTapMargin(), 120);  // 1024 / 320 * 60 is above the cap
    EXPECT_FALSE(BookCommon::isScreenSplit());

    // Sharing the screen: a narrow window is split, and it is not full screen,
    // so there is no status bar.
    screen()->setWindowSize(gfx::Size{507, 1366});
    EXPECT_TRUE(BookCommon::isScreenSplit());
    screen()->setWindowSize(gfx::Size{1024, 1356});
    EXPECT_FALSE(BookCommon::isLeafbrightFullScreen());
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 0);
    EXPECT_EQ(BookCommon::getStatusbarHeightNew(), 0);
    screen()->setWindowSize(gfx::Size{1024, 1357});
    EXPECT_TRUE(BookCommon::isLeafbrightFullScreen());

    screen()->setHasWindow(false);
    EXPECT_EQ(BookCommon::getScreenRectNew(), gfx::Rect());
    EXPECT_TRUE(BookCommon::getSafeAreaNew().isZero());
}

TEST_F(BookCommonDeviceTest, DesktopStartsInLandscape) {
    use("desktop");
    DeviceScreenState::setShared(nullptr);  // the profile's own orientation
    EXPECT_EQ(screen()->interfaceOrientation(), 3);
    EXPECT_EQ(BookCommon::getScreenHeight(), 1024);
    EXPECT_EQ(BookCommon::getScreenWidth(), 768);
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 0);
    EXPECT_TRUE(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    EXPECT_EQ(BookCommon::getScreenRectWithoutStatusbarWithRotation(true), gfx::Rect(0, 0, 1024, 768));
    EXPECT_EQ(BookCommon::getRotationSizeForUnder_iOS7(true), (gfx::Size{1024, 768}));
}

TEST_F(BookCommonDeviceTest, OlderSystemsMeasureTheUprightScreen) {
    use("phone-se", 3);
    useVersion("7.1.2");
    EXPECT_TRUE(BookCommon::isOS7());
    EXPECT_FALSE(BookCommon::isOS8());
    EXPECT_EQ(BookCommon::getDefaultTapMargin(), 60);
    // Below 8 the bounds do not turn, and the height is the height itself.
    EXPECT_EQ(BookCommon::getScreenHeight(), 667);
    EXPECT_EQ(BookCommon::getScreenRect(), gfx::Rect(0, 0, 375, 667));
    EXPECT_TRUE(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    EXPECT_EQ(BookCommon::getScreenScale(), 2);
    useVersion("3.1");
    EXPECT_EQ(BookCommon::getScreenScale(), 1.0);
}

TEST_F(BookCommonDeviceTest, VersionComparisons) {
    use("phone");
    useVersion("9.0");
    EXPECT_TRUE(BookCommon::checkOSVersionWithString("9.0"));
    EXPECT_TRUE(BookCommon::checkOSVersionWithString("9"));
    EXPECT_TRUE(BookCommon::checkOSVersionWithString("5.0.1"));
    EXPECT_FALSE(BookCommon::checkOSVersionWithString("9.0.1"));
    EXPECT_FALSE(BookCommon::checkOSVersionWithString("10.0"));
    useVersion("10.3");
    EXPECT_TRUE(BookCommon::checkOSVersionWithString("10.2"));
    EXPECT_FALSE(BookCommon::checkOSVersionWithString("10.10"));  // numeric, not text
    EXPECT_TRUE(BookCommon::isOS9());
    EXPECT_FALSE(BookCommon::isOS11());
    useVersion("26.0");
    EXPECT_TRUE(BookCommon::isOS15());
}

TEST_F(BookCommonDeviceTest, ModelTable) {
    EXPECT_EQ(DeviceCommon::getDeviceTypeWithName("iPad4,2"), 15);
    EXPECT_EQ(DeviceCommon::getDeviceDisplayNameWithType(15, "iPad4,2"), "iPad 4th-gen");
    EXPECT_EQ(DeviceCommon::getDeviceTypeWithName("iPhone7,1"), 10);
    EXPECT_EQ(DeviceCommon::getDeviceTypeWithName("iPod5,1"), 22);
    EXPECT_EQ(DeviceCommon::getDeviceDisplayNameWithType(22, "iPod5,1"), "iPod touch 5th-gen");
    EXPECT_EQ(DeviceCommon::getDeviceTypeWithName("iPad2,7"), 13);
    EXPECT_EQ(DeviceCommon::getDeviceTypeWithName("iPhone14,7"), 0);
    EXPECT_EQ(DeviceCommon::getDeviceDisplayNameWithType(0, "iPhone14,7"), "iPhone14,7");

    use("phone");
    EXPECT_EQ(DeviceCommon::getDeviceName(), "iPhone14,7");
    EXPECT_EQ(DeviceCommon::getDeviceType(), 0);
    EXPECT_EQ(DeviceCommon::getDeviceDisplayName(), "iPhone14,7");
}

TEST_F(BookCommonDeviceTest, IdleTimerIsACountedSwitch) {
    BookCommon::globalIdleTimerDisabled(false);  // a NO without a YES
    EXPECT_EQ(BookCommon::idleTimerHolders(), 0);
    EXPECT_FALSE(screen()->isIdleTimerDisabled());
    BookCommon::globalIdleTimerDisabled(true);
    BookCommon::globalIdleTimerDisabled(true);
    BookCommon::globalIdleTimerDisabled(false);
    EXPECT_TRUE(screen()->isIdleTimerDisabled());
    BookCommon::globalIdleTimerDisabled(false);
    EXPECT_FALSE(screen()->isIdleTimerDisabled());
    BookCommon::globalIdleTimerDisabled(false);
    EXPECT_EQ(BookCommon::idleTimerHolders(), 0);
}

TEST_F(BookCommonDeviceTest, RotationLockMasks) {
    use("phone", 4);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 30);
    BookCommon::setSoftwareRotationLock(true);
    EXPECT_TRUE(BookCommon::isSoftwareRotationLock());
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 16);
    EXPECT_FALSE(BookCommon::isRotationLockWithInterfaceOrientation(4));
    EXPECT_TRUE(BookCommon::isRotationLockWithInterfaceOrientation(1));
    EXPECT_EQ(screen()->rotationAttempts(), 1);

    BookCommon::setRotationTempUnlock(true);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 30);
    BookCommon::setRotationTempUnlock(false);

    // A temporary lock wins over the stored orientation.
    screen()->setInterfaceOrientation(2);
    BookCommon::setRotationTempLock(true);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 4);
    BookCommon::setRotationTempLock(false);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 16);

    use("pad", 4);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 24);
    BookCommon::onLoadSoftwareRotationLockSetting(true, 2);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 6);
    BookCommon::onLoadSoftwareRotationLockSetting(false, 2);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 30);
}

TEST_F(BookCommonDeviceTest, RotationLockIsRecordedInTheSettingsFolder) {
    use("phone", 3);
    BookCommon::setSoftwareRotationLock(true);
    std::string file = BookCommon::getSettingsFolder() + "/.orientation.lbs";
    auto record = sys::PropertyList::readArray(file);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), 2u);
    EXPECT_EQ((*record)[0], sys::PlistValue(int64_t{3}));
    EXPECT_EQ((*record)[1], sys::PlistValue(true));
    bool locked = false;
    int orientation = 0;
    EXPECT_TRUE(BookCommon::readSoftwareRotationLockSetting(&locked, &orientation));
    EXPECT_TRUE(locked);
    EXPECT_EQ(orientation, 3);

    BookCommon::setSoftwareRotationLock(false);
    record = sys::PropertyList::readArray(file);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)[0], sys::PlistValue(int64_t{1}));
    EXPECT_EQ((*record)[1], sys::PlistValue(false));
}

TEST_F(BookCommonDeviceTest, PadRotationLockOfferedOnlyOnOlderPads) {
    use("phone");
    EXPECT_TRUE(BookCommon::isIpadRotationLockEnable());
    use("pad");
    EXPECT_FALSE(BookCommon::isIpadRotationLockEnable());
    auto p = DeviceProfile::current();
    p.modelIdentifier = "iPad3,4";
    DeviceProfile::setCurrent(p);
    EXPECT_TRUE(BookCommon::isIpadRotationLockEnable());
    p.modelIdentifier = "iPad8,5";
    p.systemVersion = "8.4";
    DeviceProfile::setCurrent(p);
    EXPECT_TRUE(BookCommon::isIpadRotationLockEnable());
}

TEST_F(BookCommonDeviceTest, SafeAreaFlagIsSetForGood) {
    EXPECT_FALSE(BookCommon::hasSafeArea());
    BookCommon::checkSafeArea(gfx::EdgeInsets{20, 0, 0, 0});
    EXPECT_FALSE(BookCommon::hasSafeArea());
    BookCommon::checkSafeArea(gfx::EdgeInsets{0, 0, 34, 0});
    BookCommon::checkSafeArea(gfx::EdgeInsets{});
    EXPECT_TRUE(BookCommon::hasSafeArea());
}

struct CountingObserver : GlobalRotationEventNofityObjectDelegate {
    std::vector<int> rotations;
    int transitions = 0;
    std::function<void()> onRotate;
    void willRotationnotify(int o) override {
        rotations.push_back(o);
        if (onRotate) onRotate();
    }
    void willRotationnotify_iOS8() override { ++transitions; }
};

TEST_F(BookCommonDeviceTest, RotationObserversInRegistrationOrder) {
    auto a = std::make_shared<CountingObserver>();
    auto target = std::make_shared<CountingObserver>();
    auto forwarder = std::make_shared<GlobalRotationEventNofityObject>();
    forwarder->setDelegate(target.get());

    BookCommon::addGlobalRotationNotifyObject(a);
    BookCommon::addGlobalRotationNotifyObject(forwarder);
    BookCommon::addGlobalRotationNotifyObject(a);  // held twice, told twice
    EXPECT_EQ(BookCommon::globalRotationNotifyObjectCount(), 3u);
    BookCommon::onViewWillRotation(3);
    BookCommon::viewWillTransitionToSize({844, 390});
    EXPECT_EQ(a->rotations, (std::vector<int>{3, 3}));
    EXPECT_EQ(a->transitions, 2);
    EXPECT_EQ(target->rotations, (std::vector<int>{3}));
    EXPECT_EQ(target->transitions, 1);

    BookCommon::removeGlobalRotationNotifyObject(a);  // every occurrence
    EXPECT_EQ(BookCommon::globalRotationNotifyObjectCount(), 1u);
    BookCommon::removeGlobalRotationNotifyObject(forwarder);
    EXPECT_EQ(BookCommon::globalRotationNotifyObjectCount(), 0u);
    BookCommon::onViewWillRotation(1);  // nobody left: nothing happens
    EXPECT_EQ(a->rotations.size(), 2u);
}

TEST_F(BookCommonDeviceTest, AnObserverLeavingWhileTheListIsWalked) {
    auto first = std::make_shared<CountingObserver>();
    auto second = std::make_shared<CountingObserver>();
    std::weak_ptr<CountingObserver> weakFirst = first;
    first->onRotate = [weakFirst] {
        if (auto self = weakFirst.lock()) BookCommon::removeGlobalRotationNotifyObject(self);
    };
    BookCommon::addGlobalRotationNotifyObject(first);
    BookCommon::addGlobalRotationNotifyObject(second);
    BookCommon::onViewWillRotation(4);
    EXPECT_EQ(second->rotations, (std::vector<int>{4}));
    EXPECT_EQ(BookCommon::globalRotationNotifyObjectCount(), 1u);
}

}  // namespace
