#include "UITestSupport.h"

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ProgressView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TestDriver.h"

#include <cmath>

using namespace ui;
using uitest::UITest;

namespace {

class ControlsTest : public uitest::DrivenUITest {
protected:
    // Records the events a control sends, by name.
    std::vector<std::string> record(Control& c) {
        auto log = std::make_shared<std::vector<std::string>>();
        logs.push_back(log);
        const std::pair<unsigned, const char*> names[] = {
            {ControlEventTouchDown, "down"},           {ControlEventTouchDownRepeat, "repeat"},
            {ControlEventTouchDragInside, "in"},       {ControlEventTouchDragOutside, "out"},
            {ControlEventTouchDragEnter, "enter"},     {ControlEventTouchDragExit, "exit"},
            {ControlEventTouchUpInside, "upInside"},   {ControlEventTouchUpOutside, "upOutside"},
            {ControlEventTouchCancel, "cancel"},       {ControlEventValueChanged, "value"},
            {ControlEventPrimaryActionTriggered, "primary"}};
        for (auto& [ev, name] : names) {
            std::string n = name;
            c.addAction(ev, [log, n](Control&) { log->push_back(n); });
        }
        return {};
    }
    std::vector<std::string>& lastLog() { return *logs.back(); }

    std::vector<std::shared_ptr<std::vector<std::string>>> logs;
};

}  // namespace

TEST_F(ControlsTest, ButtonTracksInsideWithSlackAndSendsTouchUpEvents) {
    auto b = std::make_shared<Button>(ButtonType::System, Rect(100, 100, 100, 40));
    b->setTitle("Go");
    window->addSubview(b);
    record(*b);
    driver->touchDown({150, 120});
    EXPECT_TRUE(b->isHighlighted());
    driver->touchMove({150, 200});  // 60 points below: still inside the slack
    EXPECT_TRUE(b->isHighlighted());
    driver->touchMove({150, 300});  // beyond 70 points
    EXPECT_FALSE(b->isHighlighted());
    driver->touchUp({150, 300});
    EXPECT_EQ(lastLog(), (std::vector<std::string>{"down", "in", "out", "exit", "upOutside"}));

    lastLog().clear();
    driver->tap({150, 120});
    EXPECT_EQ(lastLog(), (std::vector<std::string>{"down", "upInside", "primary"}));
    lastLog().clear();
    driver->advance(0.1);
    driver->tap({150, 120});  // second tap of a double tap
    EXPECT_EQ(lastLog(), (std::vector<std::string>{"down", "repeat", "upInside", "primary"}));

    // A disabled button passes its touches on and sends nothing.
    struct Catcher : View {
        int began = 0;
        void touchesBegan(const TouchSet&, const Event&) override { ++began; }
    };
    auto catcher = std::make_shared<Catcher>();
    catcher->setFrame(window->bounds());
    window->insertSubview(catcher, 0);
    window->bringSubviewToFront(b.get());
    b->removeFromSuperview();
    catcher->addSubview(b);
    b->setEnabled(false);
    lastLog().clear();
    driver->tap({150, 120});
    EXPECT_TRUE(lastLog().empty());
    EXPECT_EQ(catcher->began, 1);
}

TEST_F(ControlsTest, ButtonStateValuesFallBackToNormal) {
    auto b = std::make_shared<Button>(ButtonType::Custom, Rect(0, 0, 100, 40));
    b->setTitle("Normal");
    b->setTitle("Pressed", ControlStateHighlighted);
    b->setTitle("On", ControlStateSelected);
    b->setTitleColor(Color::red(), ControlStateDisabled);
    EXPECT_EQ(b->currentTitle(), "Normal");
    b->setHighlighted(true);
    EXPECT_EQ(b->currentTitle(), "Pressed");
    EXPECT_EQ(b->titleLabel()->text(), "Pressed");
    b->setSelected(true);  // highlighted and selected: the selected value
    EXPECT_EQ(b->currentTitle(), "On");
    b->setHighlighted(false);
    b->setSelected(false);
    b->setEnabled(false);
    EXPECT_EQ(b->currentTitle(), "Normal");
    EXPECT_EQ(b->currentTitleColor(), Color::red());
    // System buttons draw in the tint colour, which follows the superview.
    auto s = std::make_shared<Button>(ButtonType::System);
    auto holder = std::make_shared<View>();
    holder->addSubview(s);
    holder->setTintColor(Color::systemOrange());
    EXPECT_EQ(s->currentTitleColor(), Color::systemOrange());
    EXPECT_EQ(s->titleLabel()->textColor(), Color::systemOrange());
}

TEST_F(ControlsTest, ButtonLaysOutImageAndTitleWithInsetsAndPlacement) {
    // Fixed metrics: a 15-point glyph is 7.5 wide, lines are 18.75 high.
    auto b = std::make_shared<Button>(ButtonType::Custom);
    b->setTitle("abcd");                           // 30 x 18.75
    b->setImage(Image::systemNamed("checkmark"));  // 18 x 16
    b->setImagePadding(8);
    b->setContentEdgeInsets({2, 6, 2, 6});
    Size s = b->sizeThatFits({0, 0});
    EXPECT_EQ(s.width, 6 + 18 + 8 + 30 + 6);
    EXPECT_EQ(s.height, std::ceil(2 + 18.75 + 2));
    b->setFrame(Rect(0, 0, 100, 40));
    b->layoutIfNeeded();
    // Centred: content 56 wide starts at 22.
    EXPECT_DOUBLE_EQ(b->imageView()->frame().x(), 22);
    EXPECT_DOUBLE_EQ(b->titleLabel()->frame().x(), 48);
    b->setImagePlacement(ImagePlacement::Trailing);
    b->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(b->titleLabel()->frame().x(), 22);
    EXPECT_DOUBLE_EQ(b->imageView()->frame().x(), 60);
    b->setContentHorizontalAlignment(ContentHorizontalAlignment::Left);
    b->setTitleEdgeInsets({0, 5, 0, 0});
    b->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(b->titleLabel()->frame().x(), 6 + 5);
}

TEST_F(ControlsTest, SliderFollowsTheThumbOnlyAndRunsBackwardsWhenTurned) {
    auto s = std::make_shared<Slider>(Rect(20, 100, 228, 31));  // travel 200
    s->setMinimumValue(0);
    s->setMaximumValue(100);
    s->setValue(50);
    window->addSubview(s);
    record(*s);
    Point thumb = rectCenter(s->convertRectTo(s->thumbRect(), nullptr));
    EXPECT_DOUBLE_EQ(thumb.x, 20 + 14 + 100);

    // A touch on the track away from the thumb does nothing.
    driver->drag({40, 115}, {200, 115});
    EXPECT_EQ(s->value(), 50);
    EXPECT_TRUE(std::find(lastLog().begin(), lastLog().end(), "value") == lastLog().end());

    // Dragging the thumb 50 points right adds a quarter of the range; the
    // finger's vertical wander does not matter.
    lastLog().clear();
    driver->drag({thumb.x + 3, thumb.y}, {thumb.x + 53, thumb.y + 40});
    EXPECT_NEAR(s->value(), 75, 1e-9);
    EXPECT_GT(std::count(lastLog().begin(), lastLog().end(), "value"), 1);  // continuous
    // Past the end it stops at the maximum.
    thumb = rectCenter(s->convertRectTo(s->thumbRect(), nullptr));
    driver->drag(thumb, {thumb.x + 500, thumb.y});
    EXPECT_EQ(s->value(), 100);

    // Turned by half a turn (a right-to-left book), right means less.
    s->setValue(50);
    s->setTransform(AffineTransform::makeRotation(M_PI));
    thumb = rectCenter(s->convertRectTo(s->thumbRect(), nullptr));
    EXPECT_NEAR(thumb.x, 20 + 228 - 14 - 100, 1e-9);
    driver->drag(thumb, {thumb.x + 40, thumb.y});
    EXPECT_NEAR(s->value(), 30, 1e-9);

    // Not continuous: one value change when the finger lifts.
    s->setTransform(AffineTransform::identity());
    s->setContinuous(false);
    lastLog().clear();
    thumb = rectCenter(s->convertRectTo(s->thumbRect(), nullptr));
    driver->drag(thumb, {thumb.x - 20, thumb.y});
    EXPECT_EQ(std::count(lastLog().begin(), lastLog().end(), "value"), 1);
    EXPECT_NEAR(s->value(), 20, 1e-9);
    s->setValue(-5);
    EXPECT_EQ(s->value(), 0);
}

TEST_F(ControlsTest, SwitchFlipsOnTapAndDecidesByTheSideAfterADrag) {
    auto sw = std::make_shared<Switch>(Rect(100, 100, 0, 0));
    window->addSubview(sw);
    EXPECT_EQ(sw->frame().size, (Size{51, 31}));
    record(*sw);
    driver->tap(*sw);
    EXPECT_TRUE(sw->isOn());
    EXPECT_EQ(std::count(lastLog().begin(), lastLog().end(), "value"), 1);
    sw->setOn(false);  // programmatic: no event
    EXPECT_EQ(std::count(lastLog().begin(), lastLog().end(), "value"), 1);
    // Dragged right from off: on. Dragged right again from on: stays, no event.
    driver->drag({110, 115}, {145, 115});
    EXPECT_TRUE(sw->isOn());
    EXPECT_EQ(std::count(lastLog().begin(), lastLog().end(), "value"), 2);
    driver->drag({110, 115}, {145, 115});
    EXPECT_EQ(std::count(lastLog().begin(), lastLog().end(), "value"), 2);
    // Lifting far away changes nothing.
    driver->touchDown({120, 115});
    driver->touchUp({120, 400});
    EXPECT_TRUE(sw->isOn());
}

TEST_F(ControlsTest, SegmentedControlSelectsOnLiftOverAnEnabledSegment) {
    auto seg = std::make_shared<SegmentedControl>(std::vector<std::string>{"A", "B", "C"});
    seg->setFrame(Rect(0, 100, 300, 32));
    window->addSubview(seg);
    record(*seg);
    EXPECT_EQ(seg->selectedSegmentIndex(), SegmentedControl::kNoSegment);
    driver->tap({150, 116});
    EXPECT_EQ(seg->selectedSegmentIndex(), 1);
    driver->tap({150, 116});  // again: no change, no event
    EXPECT_EQ(std::count(lastLog().begin(), lastLog().end(), "value"), 1);
    seg->setEnabled(false, 2);
    driver->tap({250, 116});
    EXPECT_EQ(seg->selectedSegmentIndex(), 1);
    // Down on one segment, up on another: the one under the finger at the end.
    driver->touchDown({50, 116});
    driver->touchMove({120, 116});
    driver->touchUp({120, 116});
    EXPECT_EQ(seg->selectedSegmentIndex(), 1);
    driver->touchDown({150, 116});
    driver->touchUp({40, 116});
    EXPECT_EQ(seg->selectedSegmentIndex(), 0);
    // Inserting before the selection keeps the same segment selected.
    seg->insertSegment("Z", 0);
    EXPECT_EQ(seg->selectedSegmentIndex(), 1);
    EXPECT_EQ(seg->titleForSegment(1), "A");
    seg->removeSegment(1);
    EXPECT_EQ(seg->selectedSegmentIndex(), SegmentedControl::kNoSegment);
    // Momentary: the action sees the tapped index, then nothing stays selected.
    seg->setMomentary(true);
    int seen = -2;
    seg->addAction(ControlEventValueChanged, [&](Control& c) {
        seen = static_cast<SegmentedControl&>(c).selectedSegmentIndex();
    });
    driver->tap({50, 116});
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(seg->selectedSegmentIndex(), SegmentedControl::kNoSegment);
}

TEST_F(ControlsTest, ProgressAndActivityMoveOnTheClock) {
    auto p = std::make_shared<ProgressView>();
    p->setFrame(Rect(0, 0, 200, 4));
    window->addSubview(p);
    p->setProgress(0.5);
    EXPECT_EQ(p->fillFrame().width(), 100);
    p->setProgress(1.0, true);
    EXPECT_EQ(p->fillFrame().width(), 200);
    window->layoutIfNeeded();
    p->setProgress(1.5);  // clamped
    EXPECT_EQ(p->progress(), 1.0);

    auto a = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::Large);
    window->addSubview(a);
    EXPECT_TRUE(a->isHidden());
    EXPECT_EQ(a->bounds().size, (Size{37, 37}));
    a->startAnimating();
    EXPECT_FALSE(a->isHidden());
    int first = a->leadingSpoke();
    driver->advance(0.25);
    EXPECT_EQ(a->leadingSpoke(), (first + 3) % 12);
    a->stopAnimating();
    EXPECT_TRUE(a->isHidden());
    a->setHidesWhenStopped(false);
    EXPECT_FALSE(a->isHidden());
}

TEST_F(ControlsTest, AnActionMayRemoveItsOwnControlOrOutliveItsOwner) {
    auto b = std::make_shared<Button>(ButtonType::System, Rect(0, 100, 100, 40));
    window->addSubview(b);
    int later = 0;
    b->addAction(ControlEventTouchUpInside, [](Control& c) { c.removeFromSuperview(); });
    b->addAction(ControlEventTouchUpInside, [&](Control&) { ++later; });
    // An action tied to an owner stops with it.
    auto owner = std::make_shared<int>(0);
    int ownerCalls = 0;
    b->addAction(ControlEventTouchUpInside, [&](Control&) { ++ownerCalls; }, owner);
    std::weak_ptr<View> weak = b;
    b.reset();
    std::weak_ptr<int> weakOwner = owner;
    owner.reset();
    EXPECT_TRUE(weakOwner.expired());
    driver->tap({50, 120});
    EXPECT_EQ(later, 1);  // the rest of the actions still ran
    EXPECT_EQ(ownerCalls, 0);
    EXPECT_TRUE(weak.expired());
}
