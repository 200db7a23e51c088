#include "tests/support/TestHome.h"
#include "UITestSupport.h"

#include "platform/core/NotificationCenter.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/ProgressView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"

#include <filesystem>

using namespace ui;
using uitest::UITest;

namespace {

// A small settings-like screen: a title, a name field with a greeting label,
// a brightness slider with its read-out, a switch, a segmented choice, a
// button that fades a notice in and out, and a tool bar. Key commands on the
// screen's root view move the slider.
class DemoScreen : public View {
public:
    std::shared_ptr<NavigationBar> bar = std::make_shared<NavigationBar>();
    std::shared_ptr<Label> greeting = std::make_shared<Label>();
    std::shared_ptr<TextField> name = std::make_shared<TextField>();
    std::shared_ptr<Slider> slider = std::make_shared<Slider>();
    std::shared_ptr<Label> readout = std::make_shared<Label>();
    std::shared_ptr<Switch> toggle = std::make_shared<Switch>();
    std::shared_ptr<Label> toggleLabel = std::make_shared<Label>();
    std::shared_ptr<SegmentedControl> mode = std::make_shared<SegmentedControl>(
        std::vector<std::string>{"List", "Bookshelf", "Grid"});
    std::shared_ptr<Button> show = std::make_shared<Button>(ButtonType::System);
    std::shared_ptr<Button> reset = std::make_shared<Button>(ButtonType::Custom);
    std::shared_ptr<Label> notice = std::make_shared<Label>();
    std::shared_ptr<ProgressView> progress = std::make_shared<ProgressView>();
    std::shared_ptr<ActivityIndicatorView> spinner =
        std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::Large);
    std::shared_ptr<Toolbar> toolbar = std::make_shared<Toolbar>();
    int returns = 0;
    int toolbarTaps = 0;
    bool noticeFinished = false;

    DemoScreen() {
        setBackgroundColor(Color::systemGroupedBackground());
        auto item = NavigationItem::make("Settings");
        item->setRightBarButtonItem(BarButtonItem::withSystemItem(BarButtonSystemItem::Done));
        bar->pushItem(item);
        addSubview(bar);

        name->setBorderStyle(TextBorderStyle::RoundedRect);
        name->setPlaceholder("Your name");
        name->setClearButtonMode(TextFieldViewMode::WhileEditing);
        name->addAction(ControlEventEditingChanged, [this](Control&) { updateGreeting(); });
        name->addAction(ControlEventEditingDidEndOnExit, [this](Control&) { ++returns; });
        addSubview(name);
        greeting->setTextColor(Color::secondaryLabel());
        greeting->setFont(gfx::Font::system(15));
        addSubview(greeting);
        updateGreeting();

        slider->setMinimumValue(0);
        slider->setMaximumValue(100);
        slider->setValue(40);
        slider->addAction(ControlEventValueChanged, [this](Control&) { updateReadout(); });
        addSubview(slider);
        readout->setTextAlignment(TextAlignment::Right);
        readout->setFont(gfx::Font::system(15, gfx::Font::Weight::Medium));
        addSubview(readout);
        updateReadout();

        toggleLabel->setText("Keep screen on");
        addSubview(toggleLabel);
        addSubview(toggle);

        mode->setSelectedSegmentIndex(0);
        addSubview(mode);

        show->setTitle("Show notice");
        show->addAction(ControlEventTouchUpInside, [this](Control&) { flashNotice(); });
        addSubview(show);

        reset->setTitle("Reset");
        reset->setBackgroundImage(Image::named("demo_button")->resizableImage({8, 8, 8, 8}));
        reset->setContentEdgeInsets({6, 20, 6, 20});
        reset->addAction(ControlEventTouchUpInside, [this](Control&) {
            slider->setValue(40, true);
            updateReadout();
            name->setText("");
            updateGreeting();
        });
        addSubview(reset);

        notice->setText("Saved. This notice fades in, waits and fades out again on the run loop's clock.");
        notice->setNumberOfLines(2);
        notice->setTextAlignment(TextAlignment::Center);
        notice->setTextColor(Color::whiteColor());
        notice->setBackgroundColor(Color::black().withAlpha(0.75));
        notice->setCornerRadius(10);
        notice->setClipsToBounds(true);
        notice->setAlpha(0);
        addSubview(notice);

        progress->setProgress(0.6);
        addSubview(progress);
        spinner->setColor(Color::systemGray());
        spinner->startAnimating();
        addSubview(spinner);

        toolbar->setItems({BarButtonItem::withSystemItem(BarButtonSystemItem::Bookmarks,
                                                         [this](BarButtonItem&) { ++toolbarTaps; }),
                           BarButtonItem::flexibleSpace(),
                           BarButtonItem::withSystemItem(BarButtonSystemItem::Add),
                           BarButtonItem::fixedSpace(20),
                           BarButtonItem::withSystemItem(BarButtonSystemItem::Trash)});
        addSubview(toolbar);
    }

    std::vector<KeyCommand> keyCommands() const override {
        auto* self = const_cast<DemoScreen*>(this);
        return {KeyCommand::make(KeyInput::rightArrow, 0, [self](const KeyCommand&) { self->step(10); }),
                KeyCommand::make(KeyInput::leftArrow, 0, [self](const KeyCommand&) { self->step(-10); }),
                KeyCommand::make("s", KeyModifierCommand, [self](const KeyCommand&) { self->flashNotice(); })};
    }

    void step(double d) {
        slider->setValue(slider->value() + d);
        updateReadout();
    }

    void updateGreeting() {
        greeting->setText(name->text().empty() ? "Nobody is reading." : "Hello, " + name->text() + "!");
    }

    void updateReadout() { readout->setText(std::to_string(int(slider->value() + 0.5)) + "%"); }

    void flashNotice() {
        // The completions may come after the screen is gone (the test ends,
        // the window goes): they look first.
        std::weak_ptr<View> weak = weak_from_this();
        View::animate(0.3, [this] { notice->setAlpha(1); }, [this, weak](bool) {
            if (weak.expired()) return;
            View::animate(0.5, 1.5, AnimationOptionNone, [this] { notice->setAlpha(0); },
                          [this, weak](bool f) {
                              if (!weak.expired()) noticeFinished = f;
                          });
        });
    }

    void layoutSubviews() override {
        Rect b = bounds();
        EdgeInsets safe = safeAreaInsets();
        double w = b.width() - 32;
        bar->setFrame(Rect(0, safe.top, b.width(), NavigationBar::kHeight));
        double y = bar->frame().maxY() + 24;
        name->setFrame(Rect(16, y, w, 36));
        greeting->setFrame(Rect(16, y + 44, w, 20));
        y += 88;
        slider->setFrame(Rect(16, y, w - 60, 31));
        readout->setFrame(Rect(b.width() - 16 - 52, y + 5, 52, 21));
        y += 55;
        toggleLabel->setFrame(Rect(16, y + 5, 200, 21));
        toggle->setFrame(Rect(b.width() - 16 - Switch::kWidth, y, Switch::kWidth, Switch::kHeight));
        y += 55;
        mode->setFrame(Rect(16, y, w, 32));
        y += 56;
        show->sizeToFit();
        show->setFrame(Rect(16, y, show->frame().width() + 16, 36));
        Size rs = reset->sizeThatFits({0, 0});
        reset->setFrame(Rect(b.width() - 16 - rs.width, y + 2, rs.width, 32));
        y += 60;
        progress->setFrame(Rect(16, y, w, 4));
        spinner->setCenter({b.width() / 2, y + 50});
        notice->setFrame(Rect(40, y + 90, b.width() - 80, 64));
        toolbar->setFrame(Rect(0, b.height() - safe.bottom - Toolbar::kHeight, b.width(),
                               Toolbar::kHeight + safe.bottom));
    }
};

class ScreenTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        Keyboard::shared().reset();
        Image::setResourceDirectory(::test::sourceDir() + "/tests/data/ui");
        driver = std::make_unique<ui::test::Driver>(*window);
        build();
    }
    // Builds the screen afresh (after a change of text engine, sizes differ).
    void build() {
        if (screen) screen->removeFromSuperview();
        screen = std::make_shared<DemoScreen>();
        screen->setFrame(window->bounds());
        window->addSubview(screen);
        driver->settle();
    }
    void TearDown() override {
        driver.reset();
        screen.reset();
        Image::setResourceDirectory("");
        UITest::TearDown();
    }
    std::shared_ptr<DemoScreen> screen;
    std::unique_ptr<ui::test::Driver> driver;
};

std::string snapshotPath(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(::test::workDir()) / "snapshots";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

}  // namespace

TEST_F(ScreenTest, TouchesAndKeysDriveTheControls) {
    // Type a name: the tap starts editing and announces the keyboard.
    std::vector<Rect> keyboardFrames;
    auto token = sys::NotificationCenter::defaultCenter().addObserver(
        Keyboard::willShowNotification, [&](const sys::Notification& n) {
            keyboardFrames.push_back(std::any_cast<Rect>(n.userInfo.at(Keyboard::frameEndKey)));
        });
    driver->tap(*screen->name);
    EXPECT_TRUE(screen->name->isEditing());
    ASSERT_EQ(keyboardFrames.size(), 1u);
    EXPECT_EQ(keyboardFrames[0].maxY(), window->bounds().maxY());
    driver->type("Ann");
    driver->pressBackspace();
    driver->type("na");
    EXPECT_EQ(screen->name->text(), "Anna");
    EXPECT_EQ(screen->greeting->text(), "Hello, Anna!");
    // While the field edits, the arrows move its caret, not the slider.
    driver->key(KeyInput::leftArrow);
    EXPECT_EQ(screen->name->caret(), 3u);
    EXPECT_EQ(screen->slider->value(), 40);
    driver->pressReturn();
    EXPECT_EQ(screen->returns, 1);
    EXPECT_FALSE(screen->name->isEditing());  // someone listened to the return: the field resigned
    sys::NotificationCenter::defaultCenter().removeObserver(token);

    // With no first responder the keys go to the window's chain: nothing
    // takes them. Made first responder, the screen's commands move the slider.
    struct Focus : View {
        bool canBecomeFirstResponder() const override { return true; }
    };
    auto focus = std::make_shared<Focus>();
    screen->addSubview(focus);
    ASSERT_TRUE(focus->becomeFirstResponder());
    EXPECT_TRUE(driver->key(KeyInput::rightArrow));
    EXPECT_EQ(screen->slider->value(), 50);
    EXPECT_EQ(screen->readout->text(), "50%");
    EXPECT_FALSE(driver->key("s"));  // without the command modifier: no match
    EXPECT_TRUE(driver->key("s", KeyModifierCommand));
    EXPECT_DOUBLE_EQ(screen->notice->presentationAlpha(), 0.0);
    driver->advance(0.3);
    EXPECT_DOUBLE_EQ(screen->notice->presentationAlpha(), 1.0);
    driver->advance(2.0);
    EXPECT_TRUE(screen->noticeFinished);
    EXPECT_DOUBLE_EQ(screen->notice->presentationAlpha(), 0.0);

    // Drag the slider's thumb a quarter of its travel to the right.
    Rect thumb = screen->slider->convertRectTo(screen->slider->thumbRect(), nullptr);
    Rect track = screen->slider->trackRect();
    double travel = track.width() - thumb.width();
    Point from = rectCenter(thumb);
    driver->drag(from, {from.x + travel / 4, from.y + 30});
    EXPECT_NEAR(screen->slider->value(), 75, 1e-6);
    EXPECT_EQ(screen->readout->text(), "75%");

    // The switch and the segments.
    int switchChanges = 0;
    screen->toggle->addAction(ControlEventValueChanged, [&](Control&) { ++switchChanges; });
    driver->tap(*screen->toggle);
    EXPECT_TRUE(screen->toggle->isOn());
    EXPECT_EQ(switchChanges, 1);
    View* grid = driver->findByText("Grid");
    ASSERT_EQ(grid, screen->mode.get());
    driver->tap(rectCenter(screen->mode->convertRectTo(screen->mode->segmentRect(2), nullptr)));
    EXPECT_EQ(screen->mode->selectedSegmentIndex(), 2);

    // The tool bar's bookmarks item and the custom reset button.
    View* bookmarks = screen->toolbar->viewForItem(screen->toolbar->items()[0].get());
    ASSERT_NE(bookmarks, nullptr);
    driver->tap(*bookmarks);
    EXPECT_EQ(screen->toolbarTaps, 1);
    driver->tap(*driver->findByText("Reset"));
    EXPECT_EQ(screen->slider->value(), 40);
    EXPECT_EQ(screen->greeting->text(), "Nobody is reading.");
}

TEST_F(ScreenTest, SnapshotShowsTheScreen) {
    // The real fonts for a picture worth looking at.
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    build();
    driver->tap(*screen->name);
    driver->type("Anna");
    driver->tap(*screen->toggle);
    driver->advance(0.5);
    screen->show->sendActions(ControlEventTouchUpInside);
    driver->advance(0.35);  // the notice is fully shown
    std::string path = snapshotPath("demo-screen.png");
    ASSERT_TRUE(driver->snapshot(path));
    EXPECT_GT(std::filesystem::file_size(path), 10000u);
    // Spot checks: grouped background, the switch's green, the notice's dark box.
    auto bg = pixelAt(5, 400);
    EXPECT_TRUE(near(bg, 242, 242, 247)) << bg.r << "," << bg.g << "," << bg.b;
    Rect sw = screen->toggle->frame();
    auto green = pixelAt(sw.x() + 8, sw.y() + sw.height() / 2);
    EXPECT_TRUE(near(green, 52, 199, 89, 10)) << green.r << "," << green.g << "," << green.b;
    Rect n = screen->notice->frame();
    auto dark = pixelAt(n.x() + 4, n.y() + n.height() / 2);
    EXPECT_LT(dark.r, 90);

    // The same screen in the dark appearance, on a notch-less phone in landscape.
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    window->setOrientation(InterfaceOrientation::LandscapeLeft);
    screen->setFrame(window->bounds());
    driver->settle();
    ASSERT_TRUE(driver->snapshot(snapshotPath("demo-screen-dark.png")));
    auto black = pixelAt(5, 200);
    EXPECT_TRUE(near(black, 0, 0, 0)) << black.r << "," << black.g << "," << black.b;
}
