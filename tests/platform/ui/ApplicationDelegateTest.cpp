#include "UITestSupport.h"

#include "platform/core/NotificationCenter.h"
#include "platform/ui/Application.h"

using namespace ui;
using uitest::UITest;

namespace {

class ApplicationDelegateTest : public UITest {};

// Hears each step and what the notifications had said by then.
struct StepLog : ApplicationDelegate {
    explicit StepLog(std::vector<std::string>& log) : log(log) {}
    void applicationWillResignActive() override { log.push_back("delegate resign"); }
    void applicationDidEnterBackground() override { log.push_back("delegate background"); }
    void applicationWillEnterForeground() override { log.push_back("delegate foreground"); }
    void applicationDidBecomeActive() override { log.push_back("delegate active"); }
    std::vector<std::string>& log;
};

}  // namespace

TEST_F(ApplicationDelegateTest, TheDelegateHearsEachStepBeforeItsNotification) {
    auto& app = Application::shared();
    std::vector<std::string> log;
    auto listener = std::make_unique<uitest::LifeCycleListener>([&log, &app](const std::string& name) {
        // The state has moved by the time anyone hears of it.
        log.push_back(name + (app.applicationState() == Application::State::Background ? " (bg)" : ""));
    });
    auto delegate = std::make_shared<StepLog>(log);
    app.setDelegate(delegate);
    app.setApplicationState(Application::State::Background);
    app.setApplicationState(Application::State::Active);
    app.setApplicationState(Application::State::Inactive);
    app.setApplicationState(Application::State::Active);
    // A delegate that is gone is not called.
    delegate.reset();
    app.setApplicationState(Application::State::Inactive);
    listener.reset();
    EXPECT_EQ(log, (std::vector<std::string>{
                       "delegate resign", Application::willResignActiveNotification, "delegate background",
                       std::string(Application::didEnterBackgroundNotification) + " (bg)", "delegate foreground",
                       Application::willEnterForegroundNotification, "delegate active",
                       Application::didBecomeActiveNotification, "delegate resign",
                       Application::willResignActiveNotification, "delegate active",
                       Application::didBecomeActiveNotification, Application::willResignActiveNotification}));
    app.reset();
    EXPECT_FALSE(app.delegate());
}
