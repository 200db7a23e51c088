#include "UITestSupport.h"

#include "platform/core/Clock.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"

using namespace ui;
using uitest::UITest;

namespace {

class DriverTest : public uitest::DrivenUITest {};

// Keeps every touch event with its time and place, as a scroll view would
// to estimate speed.
class Pad : public View {
public:
    struct Sample {
        std::string phase;
        Point p;
        double t;
        int taps;
    };
    std::vector<Sample> samples;
    void note(const char* ph, const TouchSet& ts) {
        samples.push_back({ph, ts[0]->locationInView(this), ts[0]->timestamp(), ts[0]->tapCount()});
    }
    void touchesBegan(const TouchSet& t, const Event&) override { note("began", t); }
    void touchesMoved(const TouchSet& t, const Event&) override { note("moved", t); }
    void touchesEnded(const TouchSet& t, const Event&) override { note("ended", t); }
    void touchesCancelled(const TouchSet& t, const Event&) override { note("cancelled", t); }
};

}  // namespace

TEST_F(DriverTest, GesturesAreRawTouchesOnTheClock) {
    auto pad = std::make_shared<Pad>();
    pad->setFrame(window->bounds());
    window->addSubview(pad);
    double t0 = sys::Clock::now();

    driver->doubleTap({100, 100});
    ASSERT_EQ(pad->samples.size(), 4u);
    EXPECT_EQ(pad->samples[0].taps, 1);
    EXPECT_EQ(pad->samples[2].taps, 2);
    EXPECT_NEAR(pad->samples[3].t - t0, 0.2, 1e-9);  // 0.05 down, 0.1 apart, 0.05 down

    pad->samples.clear();
    driver->longPress({50, 50}, 0.8);
    ASSERT_EQ(pad->samples.size(), 2u);
    EXPECT_NEAR(pad->samples[1].t - pad->samples[0].t, 0.8, 1e-9);

    // A flick: the last sixtieth of a second moves at the release speed.
    pad->samples.clear();
    driver->drag({200, 600}, {200, 300}, 0.3, {0, -1200});
    ASSERT_GE(pad->samples.size(), 4u);
    // The finger lifts where and when the last move left it.
    EXPECT_EQ(pad->samples.back().phase, "ended");
    auto& last = pad->samples[pad->samples.size() - 2];
    auto& before = pad->samples[pad->samples.size() - 3];
    EXPECT_EQ(pad->samples.back().t, last.t);
    EXPECT_NEAR((last.p.y - before.p.y) / (last.t - before.t), -1200, 1e-6);
    EXPECT_EQ(pad->samples.front().phase, "began");
    // Without a release speed the finger rests before lifting.
    pad->samples.clear();
    driver->drag({10, 10}, {10, 110}, 0.2);
    auto& rest = pad->samples.back();
    auto& move = pad->samples[pad->samples.size() - 2];
    EXPECT_EQ(rest.p.y, move.p.y);
    EXPECT_NEAR(rest.t - move.t, 0.1, 1e-9);

    // A second finger is its own touch; cancelling ends it.
    pad->setMultipleTouchEnabled(true);
    pad->samples.clear();
    driver->touchDown({10, 10}, 0);
    driver->touchDown({300, 300}, 1);
    driver->touchMove({310, 300}, 1);
    driver->touchCancel(1);
    driver->touchUp({10, 10}, 0);
    std::vector<std::string> phases;
    for (auto& s : pad->samples) phases.push_back(s.phase);
    EXPECT_EQ(phases, (std::vector<std::string>{"began", "began", "moved", "cancelled", "ended"}));
    EXPECT_TRUE(window->activeTouches().empty());
    // Without multi-touch the second finger does not reach the view.
    pad->setMultipleTouchEnabled(false);
    pad->samples.clear();
    driver->touchDown({10, 10}, 0);
    driver->touchDown({300, 300}, 1);
    driver->touchUp({300, 300}, 1);
    driver->touchUp({10, 10}, 0);
    EXPECT_EQ(pad->samples.size(), 2u);
}

TEST_F(DriverTest, FindsViewsByTypeTagAndText) {
    auto holder = std::make_shared<View>(Rect(0, 0, 390, 400));
    window->addSubview(holder);
    auto label = std::make_shared<Label>(Rect(0, 0, 100, 20));
    label->setText("Title");
    auto button = std::make_shared<Button>(ButtonType::System, Rect(0, 50, 100, 40));
    button->setTitle("Title");  // the same text: the control wins
    auto hiddenLabel = std::make_shared<Label>(Rect(0, 100, 100, 20));
    hiddenLabel->setText("Secret");
    hiddenLabel->setHidden(true);
    auto field = std::make_shared<TextField>(Rect(0, 150, 200, 30));
    field->setPlaceholder("Search books");
    field->setTag(42);
    auto seg = std::make_shared<SegmentedControl>(std::vector<std::string>{"One", "Two"});
    holder->addSubview(label);
    holder->addSubview(button);
    holder->addSubview(hiddenLabel);
    holder->addSubview(field);
    holder->addSubview(seg);

    EXPECT_EQ(driver->findByText("Title"), button.get());
    EXPECT_EQ(driver->findByText("Secret"), nullptr);  // hidden views are not found
    EXPECT_EQ(driver->findByText("Search books"), field.get());
    EXPECT_EQ(driver->findByText("Two"), seg.get());
    EXPECT_EQ(driver->findByTag(42), field.get());
    EXPECT_EQ(driver->findFirst<TextField>(), field.get());
    EXPECT_EQ(driver->findAllOf<Label>().size(), 2u);  // the label and the button's title
    EXPECT_EQ(driver->findAllOf<Label>(false).size(), 3u);
    // The button's inner label is found through its text as well.
    EXPECT_EQ(ui::test::Driver::textOf(*button->titleLabel()), "Title");
    holder->setAlpha(0);
    EXPECT_EQ(driver->findByText("Title"), nullptr);
    EXPECT_FALSE(ui::test::Driver::isVisible(*button));
}
