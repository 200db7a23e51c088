#include "remote/screens/BrowserSelectViewController.h"

#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Switch.h"
#include "remote/ServerListOtherSettingViewController.h"
#include "tests/foundation/ui/ToolkitTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const char* const kKeys[] = {BrowserSelectViewController::kDisableLBSyncKey,
                             BrowserSelectViewController::kDisableMSBrowsingKey,
                             BrowserSelectViewController::kDisableBonjourKey,
                             BrowserSelectViewController::kDisableSSDPKey};

class BrowserSelectViewControllerTest : public toolkittest::ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        for (auto* k : kKeys) sys::UserDefaults::standard().removeObjectForKey(k);
    }
    void TearDown() override {
        for (auto* k : kKeys) sys::UserDefaults::standard().removeObjectForKey(k);
        ToolkitTest::TearDown();
    }
    void show() {
        screen = std::make_shared<BrowserSelectViewController>();
        window->setRootViewController(std::make_shared<ui::NavigationController>(screen));
        driver->advance(0.5);
    }
    // The switch on the row titled `title`.
    ui::Switch* switchOf(const char* title) {
        auto* label = driver->findByText(title);
        if (!label) return nullptr;
        const double y = driver->centerOf(*label).y;
        ui::Switch* best = nullptr;
        double bestDistance = 1e9;
        for (auto* v : driver->findAll([](ui::View& v) { return dynamic_cast<ui::Switch*>(&v) != nullptr; })) {
            const double d = std::fabs(driver->centerOf(*v).y - y);
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<ui::Switch*>(v);
            }
        }
        return bestDistance < 22 ? best : nullptr;
    }

    std::shared_ptr<BrowserSelectViewController> screen;
};

TEST_F(BrowserSelectViewControllerTest, FirstUseShowsEveryMethodOnUnderItsTitle) {
    show();
    EXPECT_EQ(screen->title(), "Browser Types");
    for (const char* title : {"Leafbright MediaServer", "Browser Service(Windows)", "Bonjour", "SSDP(UPnP)"}) {
        auto* sw = switchOf(title);
        ASSERT_TRUE(sw) << title;
        EXPECT_TRUE(sw->isOn()) << title;
    }
    EXPECT_FALSE(screen->isDisableSSDP());
    EXPECT_TRUE(driver->snapshot(snapshotPath("browser_types.png")));
}

TEST_F(BrowserSelectViewControllerTest, TurningASwitchOffStoresItsKeyAtOnceAndOnlyItsFlag) {
    show();
    auto* ssdp = switchOf("SSDP(UPnP)");
    ASSERT_TRUE(ssdp);
    driver->tap(*ssdp);
    driver->advance(0.5);
    EXPECT_FALSE(ssdp->isOn());
    auto& d = sys::UserDefaults::standard();
    ASSERT_TRUE(d.objectForKey(BrowserSelectViewController::kDisableSSDPKey).isBool());
    EXPECT_TRUE(d.boolForKey(BrowserSelectViewController::kDisableSSDPKey));
    EXPECT_FALSE(d.boolForKey(BrowserSelectViewController::kDisableBonjourKey));
    EXPECT_FALSE(d.boolForKey(BrowserSelectViewController::kDisableLBSyncKey));
    EXPECT_TRUE(screen->isDisableSSDP());

    // Written through: the next screen reads what this one stored, and
    // turning it back on clears the flag.
    d.reload();
    show();
    auto* again = switchOf("SSDP(UPnP)");
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->isOn());
    EXPECT_TRUE(switchOf("Bonjour")->isOn());
    driver->tap(*again);
    driver->advance(0.5);
    EXPECT_FALSE(d.boolForKey(BrowserSelectViewController::kDisableSSDPKey));
}

TEST_F(BrowserSelectViewControllerTest, StoredFlagsTurnTheirSwitchesOff) {
    sys::UserDefaults::standard().setBool(true, BrowserSelectViewController::kDisableMSBrowsingKey);
    sys::UserDefaults::standard().setBool(true, BrowserSelectViewController::kDisableLBSyncKey);
    show();
    EXPECT_FALSE(switchOf("Leafbright MediaServer")->isOn());
    EXPECT_FALSE(switchOf("Browser Service(Windows)")->isOn());
    EXPECT_TRUE(switchOf("Bonjour")->isOn());
    driver->tap(*switchOf("Browser Service(Windows)"));
    driver->advance(0.5);
    EXPECT_FALSE(sys::UserDefaults::standard().boolForKey(BrowserSelectViewController::kDisableMSBrowsingKey));
    EXPECT_TRUE(sys::UserDefaults::standard().boolForKey(BrowserSelectViewController::kDisableLBSyncKey));
}

}  // namespace

namespace {

TEST_F(BrowserSelectViewControllerTest, TheSiteListSettingsOpenIt) {
    auto settings = std::make_shared<ServerListOtherSettingViewController>(1);
    auto nav = std::make_shared<ui::NavigationController>(settings);
    settings->setQnNavigationController(nav);
    window->setRootViewController(nav);
    driver->advance(0.5);
    auto* row = driver->findByText("Browser Types");
    ASSERT_TRUE(row);
    driver->tap(*row);
    driver->advance(1);
    EXPECT_TRUE(dynamic_cast<BrowserSelectViewController*>(nav->topViewController()));
    EXPECT_TRUE(switchOf("SSDP(UPnP)"));
}

}  // namespace
