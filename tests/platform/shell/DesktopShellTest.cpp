#include "platform/shell/DesktopShell.h"
#include "platform/shell/X11Desktop.h"
#include "tests/platform/ui/UITestSupport.h"

#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/ViewController.h"
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

TEST_F(DesktopShellTest, KeysTypeTextAndTheVolumeKeysAreTheVolumeButtons) {
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
    key.key.keysym.sym = SDLK_VOLUMEUP;
    push(key);
    key.key.keysym.sym = SDLK_VOLUMEDOWN;
    push(key);
    // Page keys are keys, never the volume buttons.
    key.key.keysym.sym = SDLK_PAGEDOWN;
    push(key);
    EXPECT_EQ(presses, (std::vector<bool>{true, false}));
    EXPECT_EQ(field->text(), "Vol ");
}

TEST_F(DesktopShellTest, PageKeysAndArrowsNobodyTakesScrollTheListInFront) {
    auto small = std::make_shared<ui::ScrollView>(ui::Rect{0, 0, 390, 100});
    small->setContentSize({390, 1000});
    auto list = std::make_shared<ui::ScrollView>(ui::Rect{0, 100, 390, 600});
    list->setContentSize({390, 5000});
    small->setContentInsetAdjustmentBehavior(ui::ContentInsetAdjustmentBehavior::Never);
    list->setContentInsetAdjustmentBehavior(ui::ContentInsetAdjustmentBehavior::Never);
    window->addSubview(small);
    window->addSubview(list);
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_PAGEDOWN;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 560);  // a screen less a line, in the larger list
    EXPECT_EQ(small->contentOffset().y, 0);
    key.key.keysym.sym = SDLK_DOWN;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 600);
    key.key.keysym.sym = SDLK_UP;
    push(key);
    key.key.keysym.sym = SDLK_PAGEUP;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 0);
    key.key.keysym.sym = SDLK_END;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 5000 - 600);
    key.key.keysym.sym = SDLK_PAGEDOWN;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 5000 - 600);
    key.key.keysym.sym = SDLK_HOME;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 0);
    // A list hidden by a screen in front of it stays.
    auto cover = std::make_shared<ui::View>(window->bounds());
    window->addSubview(cover);
    key.key.keysym.sym = SDLK_PAGEDOWN;
    push(key);
    EXPECT_EQ(list->contentOffset().y, 0);
}

TEST_F(DesktopShellTest, CtrlWheelAwayZoomsInAroundThePointer) {
    auto scroll = std::make_shared<ui::ScrollView>(ui::Rect{0, 0, 390, 844});
    auto content = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    scroll->addSubview(content);
    scroll->setContentSize({390, 844});
    scroll->setContentInsetAdjustmentBehavior(ui::ContentInsetAdjustmentBehavior::Never);
    scroll->setMinimumZoomScale(0.5);
    scroll->setMaximumZoomScale(4);
    struct Zoom : ui::ScrollViewDelegate {
        ui::View* view = nullptr;
        ui::View* viewForZoomingInScrollView(ui::ScrollView&) override { return view; }
    } zoom;
    zoom.view = content.get();
    scroll->setDelegate(&zoom);
    window->addSubview(scroll);
    shell->pumpOnce(0);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.mouseX = 300;
    wheel.wheel.mouseY = 600;
    wheel.wheel.y = 1;  // away from the user
    wheel.wheel.preciseY = 1;
    wheel.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    SDL_SetModState(KMOD_LCTRL);
    push(wheel);
    const double in = scroll->zoomScale();
    EXPECT_GT(in, 1.0);
    // The point under the pointer stays under it.
    const ui::Point o = scroll->contentOffset();
    EXPECT_NEAR((300 + o.x) / in, 300, 1);
    EXPECT_NEAR((600 + o.y) / in, 600, 1);
    wheel.wheel.y = -1;
    wheel.wheel.preciseY = -1;
    push(wheel);
    push(wheel);
    EXPECT_LT(scroll->zoomScale(), in);
    SDL_SetModState(KMOD_NONE);
    scroll->setDelegate(nullptr);
}

TEST_F(DesktopShellTest, AResizedWindowTakesItsSizeAsASizeTransitionOfItsScreens) {
    struct Screen : ui::ViewController {
        std::vector<ui::Size> sizes;
        void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& c) override {
            sizes.push_back(size);
            ui::ViewController::viewWillTransitionToSize(size, c);
        }
    };
    auto screen = std::make_shared<Screen>();
    window->setRootViewController(screen);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    e.window.data1 = 1200;
    e.window.data2 = 800;
    push(e);
    EXPECT_EQ(window->bounds().size, (ui::Size{1200, 800}));
    EXPECT_EQ(screen->view()->frame().size, (ui::Size{1200, 800}));
    ASSERT_EQ(screen->sizes.size(), 1u);
    EXPECT_EQ(screen->sizes[0], (ui::Size{1200, 800}));
    // Wider than high reads as landscape; the screen follows the window.
    EXPECT_TRUE(ui::isLandscape(window->orientation()));
    EXPECT_EQ(ui::Screen::main().bounds().size, (ui::Size{1200, 800}));
    EXPECT_EQ(shell->windowedSize(), (ui::Size{1200, 800}));
    // The same size again is no transition; a tall window is portrait.
    push(e);
    EXPECT_EQ(screen->sizes.size(), 1u);
    e.window.data1 = 600;
    e.window.data2 = 900;
    push(e);
    EXPECT_FALSE(ui::isLandscape(window->orientation()));
    EXPECT_EQ(window->bounds().size, (ui::Size{600, 900}));
    window->setRootViewController(nullptr);
}

TEST_F(DesktopShellTest, AWindowOpensWithinTheDisplayAtTheLargestSizeThatFits) {
    SDL_Rect usable{};
    ASSERT_EQ(SDL_GetDisplayUsableBounds(0, &usable), 0);
    ASSERT_LT(usable.h, 1366);
    // A tablet's window is taller than the display: it opens as high as
    // the display, as wide as asked.
    shell.reset();
    window.reset();
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("pad"));
    ui::Screen::main().reset();
    window = std::make_shared<ui::Window>();
    window->makeKeyAndVisible();
    ASSERT_EQ(window->bounds().size, (ui::Size{1024, 1366}));
    shell = std::make_unique<shell::DesktopShell>(*window);
    std::string error;
    ASSERT_TRUE(shell->open("test", &error)) << error;
    const ui::Size fits{std::min(1024.0, double(usable.w)), double(usable.h)};
    EXPECT_EQ(window->bounds().size, fits);
    EXPECT_EQ(shell->windowedSize(), fits);
    // A size that fits (a stored one) opens unchanged; at two pixels a
    // point the display holds half as many points.
    shell.reset();
    window->resize({600, 500});
    shell = std::make_unique<shell::DesktopShell>(*window);
    ASSERT_TRUE(shell->open("test", &error)) << error;
    EXPECT_EQ(window->bounds().size, (ui::Size{600, 500}));
    shell.reset();
    shell = std::make_unique<shell::DesktopShell>(*window, 2.0);
    ASSERT_TRUE(shell->open("test", &error)) << error;
    EXPECT_EQ(window->bounds().size, (ui::Size{std::min(600.0, usable.w / 2.0), usable.h / 2.0}));
}

TEST_F(DesktopShellTest, ClosingTheWindowAsksToQuitAndAPictureCanBeTaken) {
    window->setBackgroundColor(ui::Color::rgb(0, 0.5, 0));
    test::TempDir dir;
    ASSERT_TRUE(shell->screenshot(dir.file("w.png")));
    auto image = gfx::ImageDecoder::decodeFile(dir.file("w.png"));
    ASSERT_TRUE(image);
    // The phone's size, as high as the display lets it be.
    SDL_Rect usable{};
    ASSERT_EQ(SDL_GetDisplayUsableBounds(0, &usable), 0);
    EXPECT_EQ(image->width(), 390);
    EXPECT_EQ(image->height(), std::min(844, usable.h));
    EXPECT_FALSE(shell->closeRequested());
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    push(quit);
    EXPECT_TRUE(shell->closeRequested());
    std::atomic<bool> stop{false};
    shell->run(stop);  // returns at once: the window was closed
}

// A phone's frame is drawn at three pixels a point and shown at one: a line
// one device pixel thin (a list's row line) is averaged into the window's
// pixel, not left out as every other row but the middle one of three was.
TEST_F(DesktopShellTest, ALineOneDevicePixelThinShowsInAWindowOfFewerPixels) {
    window->setBackgroundColor(ui::Color::whiteColor());
    auto line = std::make_shared<ui::View>();
    line->setBackgroundColor(ui::Color::black());
    line->setFrame({0, 100 + 2.0 / 3, 390, 1.0 / 3});
    window->addSubview(line);
    test::TempDir dir;
    ASSERT_TRUE(shell->screenshot(dir.file("w.png")));
    auto image = gfx::ImageDecoder::decodeFile(dir.file("w.png"));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width(), 390);
    auto green = [&](int y) { return (image->pixels()[size_t(y) * size_t(image->width()) + 200] >> 8) & 0xff; };
    EXPECT_LT(green(100), 0xe0u);
    EXPECT_GT(green(100), 0x80u);  // a third of the pixel, not all of it
    EXPECT_EQ(green(99), 0xffu);
    EXPECT_EQ(green(101), 0xffu);
}

// The delegate hears the steps as the window loses its focus, is
// minimised and comes back.
struct LifeLog : ui::ApplicationDelegate {
    void applicationWillResignActive() override { steps.push_back("resign"); }
    void applicationDidEnterBackground() override { steps.push_back("background"); }
    void applicationWillEnterForeground() override { steps.push_back("foreground"); }
    void applicationDidBecomeActive() override { steps.push_back("active"); }
    std::vector<std::string> steps;
};

TEST_F(DesktopShellTest, FocusAndMinimisingMoveTheApplicationThroughItsLife) {
    using State = ui::Application::State;
    auto& app = ui::Application::shared();
    // What the window said of itself on opening is past.
    for (int i = 0; i < 5; ++i) shell->pumpOnce(0);
    ASSERT_EQ(app.applicationState(), State::Active);
    auto log = std::make_shared<LifeLog>();
    app.setDelegate(log);
    auto windowEvent = [&](Uint8 id) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = id;
        push(e);
    };
    windowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(app.applicationState(), State::Inactive);
    windowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(app.applicationState(), State::Active);
    windowEvent(SDL_WINDOWEVENT_MINIMIZED);
    EXPECT_EQ(app.applicationState(), State::Background);
    windowEvent(SDL_WINDOWEVENT_MINIMIZED);  // no second step
    windowEvent(SDL_WINDOWEVENT_RESTORED);
    windowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(app.applicationState(), State::Active);
    EXPECT_EQ(log->steps, (std::vector<std::string>{"resign", "active", "resign", "background", "foreground",
                                                    "active"}));

    // Restored with the focus: active at once; shown while active: nothing.
    EXPECT_EQ(shell::DesktopShell::stateAfterWindowEvent(State::Background, SDL_WINDOWEVENT_RESTORED, true),
              State::Active);
    EXPECT_EQ(shell::DesktopShell::stateAfterWindowEvent(State::Background, SDL_WINDOWEVENT_RESTORED, false),
              State::Inactive);
    EXPECT_EQ(shell::DesktopShell::stateAfterWindowEvent(State::Active, SDL_WINDOWEVENT_SHOWN, true), State::Active);
    EXPECT_EQ(shell::DesktopShell::stateAfterWindowEvent(State::Background, SDL_WINDOWEVENT_FOCUS_LOST, false),
              State::Background);
    // The window is hidden and shown while it is made: that is no trip away.
    EXPECT_EQ(shell::DesktopShell::stateAfterWindowEvent(State::Active, SDL_WINDOWEVENT_HIDDEN, false),
              State::Active);
}

// Files dropped on the window reach the drop handler together, in order;
// a lone file without a begin and an end comes by itself. Dropped text is
// not a file.
TEST_F(DesktopShellTest, DroppedFilesReachTheHandlerTogether) {
    std::vector<std::vector<std::string>> drops;
    shell->setDropHandler([&](const std::vector<std::string>& paths) { drops.push_back(paths); });
    auto event = [](Uint32 type, const char* file) {
        SDL_Event e{};
        e.type = type;
        e.drop.file = file ? SDL_strdup(file) : nullptr;
        return e;
    };
    push(event(SDL_DROPBEGIN, nullptr));
    push(event(SDL_DROPFILE, "/books/a.cbz"));
    push(event(SDL_DROPTEXT, "some words"));
    push(event(SDL_DROPFILE, "/books/b c.cbr"));
    EXPECT_TRUE(drops.empty()) << "not before the drop is complete";
    push(event(SDL_DROPCOMPLETE, nullptr));
    push(event(SDL_DROPFILE, "/books/alone.pdf"));
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[0], (std::vector<std::string>{"/books/a.cbz", "/books/b c.cbr"}));
    EXPECT_EQ(drops[1], (std::vector<std::string>{"/books/alone.pdf"}));
}

}  // namespace

TEST(X11DesktopTest, TheScaleComesFromGdkScaleElseTheXResourcesDpi) {
    using shell::X11Desktop;
    EXPECT_EQ(X11Desktop::scaleFrom(nullptr, "Xft.antialias:\t1\nXft.dpi:\t192\n"), std::optional<double>(2.0));
    EXPECT_EQ(X11Desktop::scaleFrom(nullptr, "Xft.dpi: 144\n"), std::optional<double>(1.5));
    EXPECT_EQ(X11Desktop::scaleFrom(nullptr, "Xft.dpi: 96\n"), std::optional<double>(1.0));
    EXPECT_EQ(X11Desktop::scaleFrom(nullptr, "Xft.dpi: 72\n"), std::optional<double>(1.0)) << "never below one";
    EXPECT_EQ(X11Desktop::scaleFrom("2", "Xft.dpi: 96\n"), std::optional<double>(2.0)) << "GDK_SCALE first";
    EXPECT_EQ(X11Desktop::scaleFrom("", ""), std::nullopt);
    // Nonsense says nothing.
    EXPECT_EQ(X11Desktop::scaleFrom("two", "Xft.dpi: lots\n"), std::nullopt);
    EXPECT_EQ(X11Desktop::scaleFrom("0", "Xft.dpi: 100000\n"), std::nullopt);
}
