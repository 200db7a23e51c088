#pragma once

#include "platform/core/DeviceProfile.h"
#include "platform/graphics/FixedTextEngine.h"
#include "platform/ui/Application.h"
#include "platform/ui/Responder.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualClockTest.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace uitest {

// A key window on the "phone" profile (390 x 844 points at scale 3), the
// virtual clock, and the fixed-metrics text engine so sizes are exact.
class UITest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        setProfile("phone");
        textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::FixedTextEngine>());
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        if (ui::Responder::firstResponder()) ui::Responder::firstResponder()->resignFirstResponder();
        window.reset();
        textScope.reset();
        VirtualClockTest::TearDown();
    }
    static void setProfile(const std::string& name) {
        sys::DeviceProfile p = *sys::DeviceProfile::named(name);
        p.darkMode = false;
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
    }
    // Pixel of the last render at a point (window coordinates), as straight
    // 0-255 channels.
    struct RGB {
        int r, g, b, a;
    };
    RGB pixelAt(double x, double y) {
        auto& fb = window->framebuffer();
        uint32_t p = fb.pixel(int(x * fb.scale()), int(y * fb.scale()));
        int a = int(gfx::alphaOf(p));
        auto un = [a](uint32_t c) { return a ? int((c * 255 + a / 2) / uint32_t(a)) : 0; };
        return {un(gfx::redOf(p)), un(gfx::greenOf(p)), un(gfx::blueOf(p)), a};
    }
    static bool near(RGB p, int r, int g, int b, int tol = 6) {
        return std::abs(p.r - r) <= tol && std::abs(p.g - g) <= tol && std::abs(p.b - b) <= tol;
    }

    std::shared_ptr<ui::Window> window;
    std::unique_ptr<gfx::TextEngine::Scope> textScope;
};

// Hears the application's four life-cycle notifications by name, until it
// goes away.
class LifeCycleListener {
public:
    explicit LifeCycleListener(std::function<void(const std::string&)> heard) {
        for (const char* n : {ui::Application::willResignActiveNotification, ui::Application::didEnterBackgroundNotification,
                              ui::Application::willEnterForegroundNotification,
                              ui::Application::didBecomeActiveNotification}) {
            std::string name = n;
            tokens_.push_back(sys::NotificationCenter::defaultCenter().addObserver(
                name, [heard, name](const sys::Notification&) { heard(name); }));
        }
    }
    ~LifeCycleListener() {
        for (auto t : tokens_) sys::NotificationCenter::defaultCenter().removeObserver(t);
    }
    LifeCycleListener(const LifeCycleListener&) = delete;
    LifeCycleListener& operator=(const LifeCycleListener&) = delete;

private:
    std::vector<sys::NotificationCenter::Token> tokens_;
};

// `unit` written `times` times over (a large page from a small piece).
inline std::string repeat(const std::string& unit, size_t times) {
    std::string s;
    s.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i) s += unit;
    return s;
}

// A UITest with a driver for its window.
class DrivenUITest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    void TearDown() override {
        driver.reset();
        UITest::TearDown();
    }
    std::unique_ptr<ui::test::Driver> driver;
};

}  // namespace uitest
