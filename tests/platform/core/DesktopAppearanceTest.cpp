// The desktop's light or dark preference and its contrast preference
// through the XDG desktop portal's Settings, against a stand-in portal on a
// session bus of the test's own: read at start, followed when they change,
// light at the usual contrast where nothing says otherwise, and a bus that
// says nothing costs a bounded wait.
#include "platform/core/DesktopAppearance.h"

#include "platform/core/RunLoop.h"
#include "tests/support/FakePortal.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <vector>

namespace {

class DesktopAppearanceTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        test::VirtualClockTest::SetUp();
        if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
        ASSERT_TRUE(bus.start());
    }
    // Starts following, recording what reaches the main thread.
    void follow(sys::DesktopAppearance& appearance) {
        appearance.start([this](sys::DesktopAppearance::Preferences p) {
            told.push_back(p.dark);
            toldContrast.push_back(p.highContrast);
        });
    }
    bool toldAtLeast(size_t n) {
        return test::drainUntil([&] { return told.size() >= n; }, 10);
    }
    test::PrivateSessionBus bus;
    std::vector<bool> told;          // dark, at each answer
    std::vector<bool> toldContrast;  // higher contrast, at each answer
};

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

TEST_F(DesktopAppearanceTest, ThePreferenceIsReadAtStartAndFollowedAsItChanges) {
    test::FakePortal portal(bus.address);
    ASSERT_TRUE(portal.owned());
    portal.setColorScheme(1);
    sys::DesktopAppearance appearance(bus.address);
    follow(appearance);
    ASSERT_TRUE(appearance.waitForFirstAnswer(10));
    EXPECT_TRUE(appearance.prefersDark());
    ASSERT_TRUE(toldAtLeast(1));
    EXPECT_EQ(told, std::vector<bool>{true});
    EXPECT_EQ(portal.colorSchemeReads(), 1);

    // "Prefer light", then dark again, then no preference.
    portal.setColorScheme(2);
    ASSERT_TRUE(toldAtLeast(2));
    EXPECT_FALSE(told.back());
    EXPECT_FALSE(appearance.prefersDark());
    portal.setColorScheme(1);
    ASSERT_TRUE(toldAtLeast(3));
    EXPECT_TRUE(told.back());
    portal.setColorScheme(0);
    ASSERT_TRUE(toldAtLeast(4));
    EXPECT_FALSE(told.back());

    // Other settings that change say nothing about the colours.
    told.clear();
    portal.announce("org.gnome.desktop.interface", "color-scheme", 1);
    portal.announce("org.freedesktop.appearance", "accent-color", 1);
    portal.announce("org.freedesktop.appearance", "color-scheme", 0);
    ASSERT_TRUE(toldAtLeast(1));
    EXPECT_EQ(told, std::vector<bool>{false});
    EXPECT_FALSE(appearance.prefersHighContrast());
}

TEST_F(DesktopAppearanceTest, TheContrastIsReadWithTheColoursAndFollowedAsItChanges) {
    test::FakePortal portal(bus.address);
    ASSERT_TRUE(portal.owned());
    portal.setColorScheme(1);
    portal.setContrast(1);
    sys::DesktopAppearance appearance(bus.address);
    follow(appearance);
    ASSERT_TRUE(appearance.waitForFirstAnswer(10));
    EXPECT_EQ(appearance.preferences(), (sys::DesktopAppearance::Preferences{true, true}));
    ASSERT_TRUE(toldAtLeast(1));
    EXPECT_EQ(toldContrast, std::vector<bool>{true});
    EXPECT_EQ(told, std::vector<bool>{true});

    // Back to the usual contrast, and higher again; the colours stay as they are.
    portal.setContrast(0);
    ASSERT_TRUE(toldAtLeast(2));
    EXPECT_FALSE(toldContrast.back());
    EXPECT_TRUE(told.back());
    EXPECT_EQ(appearance.preferences(), (sys::DesktopAppearance::Preferences{true, false}));
    portal.setContrast(1);
    ASSERT_TRUE(toldAtLeast(3));
    EXPECT_TRUE(toldContrast.back());
    // A change of the colours keeps the contrast.
    portal.setColorScheme(2);
    ASSERT_TRUE(toldAtLeast(4));
    EXPECT_FALSE(told.back());
    EXPECT_TRUE(toldContrast.back());

    // Another namespace's contrast says nothing about ours.
    told.clear();
    toldContrast.clear();
    portal.announce("org.gnome.desktop.a11y.interface", "contrast", 0);
    portal.announce("org.freedesktop.appearance", "contrast", 0);
    ASSERT_TRUE(toldAtLeast(1));
    EXPECT_EQ(toldContrast, std::vector<bool>{false});
}

TEST_F(DesktopAppearanceTest, NoPreferenceNoPortalOrNoBusIsLight) {
    {
        // The portal without the setting.
        test::FakePortal portal(bus.address);
        sys::DesktopAppearance appearance(bus.address);
        follow(appearance);
        ASSERT_TRUE(appearance.waitForFirstAnswer(10));
        EXPECT_FALSE(appearance.prefersDark());
        ASSERT_TRUE(toldAtLeast(1));
        EXPECT_EQ(told, std::vector<bool>{false});
        EXPECT_EQ(toldContrast, std::vector<bool>{false});
        EXPECT_EQ(portal.colorSchemeReads(), 1);
    }
    for (const std::string& address : {bus.address, std::string("unix:path=/nonexistent/leafbright-bus")}) {
        // No portal on the bus; no bus there at all.
        told.clear();
        toldContrast.clear();
        sys::DesktopAppearance appearance(address);
        follow(appearance);
        ASSERT_TRUE(appearance.waitForFirstAnswer(10)) << address;
        EXPECT_FALSE(appearance.prefersDark());
        ASSERT_TRUE(toldAtLeast(1));
        EXPECT_EQ(told, std::vector<bool>{false});
        EXPECT_EQ(toldContrast, std::vector<bool>{false});
    }
}

TEST_F(DesktopAppearanceTest, ABusThatSaysNothingCostsABoundedWait) {
    ASSERT_EQ(::kill(pid_t(bus.pid), SIGSTOP), 0);
    struct Resume {
        long pid;
        ~Resume() { ::kill(pid_t(pid), SIGCONT); }
    } resume{bus.pid};
    auto began = std::chrono::steady_clock::now();
    {
        sys::DesktopAppearance appearance(bus.address);
        follow(appearance);
        EXPECT_FALSE(appearance.waitForFirstAnswer(0.3));
        EXPECT_FALSE(appearance.prefersDark());
        EXPECT_LT(secondsSince(began), 2.0);
        began = std::chrono::steady_clock::now();
    }
    EXPECT_LT(secondsSince(began), 1.0) << "going away waited for the bus";
    sys::RunLoop::main().drain();
    EXPECT_TRUE(told.empty());
}

}  // namespace
