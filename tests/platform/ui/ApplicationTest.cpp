#include "UITestSupport.h"

#include "platform/core/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

using namespace ui;
using uitest::UITest;

namespace {
class ApplicationTest : public UITest {};
}  // namespace

TEST_F(ApplicationTest, LifeCycleStepsPostTheirNotificationsInOrder) {
    auto& app = Application::shared();
    std::vector<std::string> log;
    {
        uitest::LifeCycleListener listener([&log](const std::string& name) { log.push_back(name); });
        app.setApplicationState(Application::State::Background);
        app.setApplicationState(Application::State::Active);
        app.setApplicationState(Application::State::Inactive);
        app.setApplicationState(Application::State::Active);
        app.setApplicationState(Application::State::Active);  // no step, no notice
    }
    EXPECT_EQ(log, (std::vector<std::string>{
                       Application::willResignActiveNotification, Application::didEnterBackgroundNotification,
                       Application::willEnterForegroundNotification, Application::didBecomeActiveNotification,
                       Application::willResignActiveNotification, Application::didBecomeActiveNotification}));
}

TEST_F(ApplicationTest, UrlsOpenThroughTheInstalledOpenerLater) {
    auto& app = Application::shared();
    std::vector<bool> results;
    EXPECT_FALSE(app.canOpenURL("https://example.org/"));
    app.openURL("https://example.org/", [&](bool ok) { results.push_back(ok); });
    EXPECT_TRUE(results.empty());  // answered on a later turn
    loop().drain();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]);

    std::vector<std::string> opened;
    app.setURLOpener({[](const std::string& u) { return u.rfind("https://", 0) == 0; },
                      [&](const std::string& u) {
                          opened.push_back(u);
                          return true;
                      },
                      {}});
    EXPECT_TRUE(app.canOpenURL("https://example.org/"));
    EXPECT_FALSE(app.canOpenURL("mailto:x@example.org"));
    app.openURL("https://example.org/a");
    app.openURL("https://example.org/b", [&](bool ok) { results.push_back(ok); });
    loop().drain();
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/a", "https://example.org/b"}));
    EXPECT_TRUE(results.back());
}

TEST_F(ApplicationTest, BarsTimerBadgeAndBrightnessKeepTheirState) {
    auto& app = Application::shared();
    EXPECT_EQ(app.keyWindow(), window.get());
    EXPECT_EQ(app.statusBarFrame(), Rect(0, 0, 390, 47));
    app.setStatusBarHidden(true);
    EXPECT_EQ(app.statusBarFrame(), Rect());
    EXPECT_EQ(window->statusBarHeight(), 0);
    window->setOrientation(InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(app.statusBarOrientation(), InterfaceOrientation::LandscapeRight);

    app.setIdleTimerDisabled(true);
    EXPECT_TRUE(app.isIdleTimerDisabled());
    app.setApplicationIconBadgeNumber(5);
    EXPECT_EQ(app.applicationIconBadgeNumber(), 5);
    app.setApplicationIconBadgeNumber(-2);
    EXPECT_EQ(app.applicationIconBadgeNumber(), 0);

    int changes = 0;
    auto token = sys::NotificationCenter::defaultCenter().addObserver(
        Screen::brightnessDidChangeNotification, [&](const sys::Notification&) { ++changes; });
    Screen::main().setBrightness(0.4);
    Screen::main().setBrightness(0.4);
    Screen::main().setBrightness(7);
    sys::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(Screen::main().brightness(), 1.0);
    EXPECT_EQ(Screen::main().scale(), 3.0);
    EXPECT_EQ(Screen::main().nativeBounds(), Rect(0, 0, 1170, 2532));

    // A second window is not key until made so.
    auto other = std::make_shared<Window>();
    EXPECT_FALSE(other->isKeyWindow());
    other->makeKeyWindow();
    EXPECT_TRUE(other->isKeyWindow());
    other.reset();
    EXPECT_EQ(app.keyWindow(), nullptr);
}
