#include "platform/shell/DesktopShell.h"
#include "tests/platform/ui/UITestSupport.h"

#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "tests/support/TestHome.h"

#include <SDL.h>

#include <cstdlib>

namespace {

// The window's own events, pushed as SDL delivers them; SDL's dummy video
// driver stands in for a display.
class DesktopShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        sys::RunLoop::main().clear();
        sys::DeviceProfile p = *sys::DeviceProfile::named("phone");
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        shell = std::make_unique<shell::DesktopShell>(*window);
        std::string error;
        ASSERT_TRUE(shell->open("test", &error)) << error;
    }
    void TearDown() override {
        shell.reset();
        window.reset();
        sys::RunLoop::main().clear();
        ui::Application::shared().reset();
    }
    void push(SDL_Event e) {
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        shell->pumpOnce(0);
    }
    void click(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEBUTTONDOWN;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.x = x, e.button.y = y;
        push(e);
        e.type = SDL_MOUSEBUTTONUP;
        push(e);
    }
    std::shared_ptr<ui::Window> window;
    std::unique_ptr<shell::DesktopShell> shell;
};

TEST_F(DesktopShellTest, TheMouseIsAFingerAndTheWheelScrolls) {
    auto button = std::make_shared<ui::Button>(ui::ButtonType::System, ui::Rect{20, 100, 200, 50});
    int taps = 0;
    button->addAction(ui::ControlEventTouchUpInside, [&](ui::Control&) { ++taps; });
    window->addSubview(button);
    auto scroll = std::make_shared<ui::ScrollView>(ui::Rect{0, 300, 390, 300});
    scroll->setContentSize({390, 3000});
    window->addSubview(scroll);
    shell->pumpOnce(0);
    click(100, 120);
    EXPECT_EQ(taps, 1);
    click(100, 250);  // beside the button
    EXPECT_EQ(taps, 1);

    SDL_Event wheel{};
    wheel.wheel.mouseX = 100;
    wheel.wheel.mouseY = 400;
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = -2;  // two notches toward the user: the content moves up
    wheel.wheel.preciseY = -2;
    wheel.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    push(wheel);
    EXPECT_GT(scroll->contentOffset().y, 0);
}

TEST_F(DesktopShellTest, KeysTypeTextAndPageKeysAreTheVolumeButtons) {
    auto field = std::make_shared<ui::TextField>(ui::Rect{20, 100, 300, 40});
    window->addSubview(field);
    field->becomeFirstResponder();
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    std::snprintf(text.text.text, sizeof text.text.text, "%s", "Vol é");
    push(text);
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_BACKSPACE;
    push(key);
    EXPECT_EQ(field->text(), "Vol ");

    std::vector<bool> presses;
    shell->setVolumeHandler([&](bool up) { presses.push_back(up); });
    key.key.keysym.sym = SDLK_PAGEUP;
    push(key);
    key.key.keysym.sym = SDLK_PAGEDOWN;
    push(key);
    EXPECT_EQ(presses, (std::vector<bool>{true, false}));
    EXPECT_EQ(field->text(), "Vol ");
}

TEST_F(DesktopShellTest, ClosingTheWindowAsksToQuitAndAPictureCanBeTaken) {
    window->setBackgroundColor(ui::Color::rgb(0, 0.5, 0));
    test::TempDir dir;
    ASSERT_TRUE(shell->screenshot(dir.file("w.png")));
    auto image = gfx::ImageDecoder::decodeFile(dir.file("w.png"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 390);
    EXPECT_EQ(image->height(), 844);
    EXPECT_FALSE(shell->closeRequested());
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    push(quit);
    EXPECT_TRUE(shell->closeRequested());
    std::atomic<bool> stop{false};
    shell->run(stop);  // returns at once: the window was closed
}

}  // namespace
