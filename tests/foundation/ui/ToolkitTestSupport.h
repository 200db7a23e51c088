#pragma once

#include "tests/support/TestHome.h"
#include "platform/core/DeviceProfile.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TestDriver.h"
#include "tests/platform/ui/UITestSupport.h"

#include <filesystem>
#include <memory>
#include <string>

namespace toolkittest {

// A phone window with the fixed-metrics text engine and a driver, on the
// virtual clock; the system version (and so the look) can be chosen.
class ToolkitTest : public uitest::UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    void TearDown() override {
        window->setRootViewController(nullptr);
        driver.reset();
        UITest::TearDown();
    }
    // Re-makes the window on a profile with this system version.
    void useProfile(const std::string& preset, const std::string& systemVersion, bool dark = false) {
        window->setRootViewController(nullptr);
        driver.reset();
        window.reset();
        sys::DeviceProfile p = *sys::DeviceProfile::named(preset);
        p.darkMode = dark;
        p.systemVersion = systemVersion;
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    void useNewerLook(bool newer, bool dark = false) { useProfile("phone", newer ? "26.0" : "18.0", dark); }

    static std::string snapshotPath(const std::string& name) {
        std::filesystem::path dir = std::filesystem::path(::test::workDir()) / "snapshots";
        std::filesystem::create_directories(dir);
        return (dir / name).string();
    }

    std::unique_ptr<ui::test::Driver> driver;
};

}  // namespace toolkittest
