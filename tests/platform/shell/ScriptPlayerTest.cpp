#include "platform/shell/ScriptPlayer.h"
#include "tests/platform/ui/UITestSupport.h"

#include "platform/core/OutputVolume.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TableViewController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextField.h"
#include "tests/support/TestHome.h"

#include <filesystem>

using uitest::UITest;

namespace {

struct RecordingHost : shell::ScriptHost {
    std::vector<std::string> calls;
    bool pressAlertButton(int index, std::string*) override {
        calls.push_back("alert " + std::to_string(index));
        return true;
    }
    bool pressSheetButton(int index, std::string* error) override {
        *error = "no action sheet is shown";
        (void)index;
        return false;
    }
    bool goBack(std::string*) override {
        calls.push_back("back");
        return true;
    }
    void enterBackground() override { calls.push_back("background"); }
    void enterForeground() override { calls.push_back("foreground"); }
    bool openURL(const std::string& url, std::string*) override {
        calls.push_back("open " + url);
        return true;
    }
};

// A long table whose first row holds a segmented control.
class LongList : public ui::TableViewController {
public:
    std::shared_ptr<ui::SegmentedControl> seg = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"List", "Shelf"});
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return 60; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override {
        auto c = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "");
        if (onCell) onCell();
        if (ip.row == 0) {
            seg->setFrame({20, 5, 200, 30});
            seg->removeFromSuperview();
            c->contentView()->addSubview(seg);
        } else {
            c->textLabel()->setText("Row " + std::to_string(ip.row));
        }
        return c;
    }
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override {
        if (didSelect) didSelect(ip.row);
    }
    std::function<void(int)> didSelect;
    std::function<void()> onCell;
};

class ScriptPlayerTest : public UITest {
protected:
    std::optional<std::vector<shell::ScriptStep>> parse(const std::string& text, std::string* error = nullptr) {
        return shell::ScriptPlayer::parse(text, error);
    }
    bool run(const std::string& text, std::string* error) {
        auto steps = parse(text, error);
        if (!steps) return false;
        shell::ScriptPlayer player(*window, &host, shots.path());
        bool ok = player.run(*steps, error);
        written = player.shotsWritten();
        return ok;
    }
    RecordingHost host;
    test::TempDir shots{"shots"};
    std::vector<std::string> written;
};

TEST_F(ScriptPlayerTest, ParsingNamesTheLineOfEveryMistake) {
    auto ok = parse("# comment\n\nshot first\ntap 10 20\ntap \"Two words\"\ntype hello world\nwait 0.5\n");
    ASSERT_TRUE(ok);
    ASSERT_EQ(ok->size(), 5u);
    EXPECT_EQ((*ok)[1].line, 4);
    EXPECT_TRUE((*ok)[2].quoted);
    EXPECT_EQ((*ok)[2].args, std::vector<std::string>{"Two words"});
    EXPECT_EQ((*ok)[3].rest, "hello world");
    std::string error;
    EXPECT_FALSE(parse("shot a\nfly away\n", &error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(parse("tap \"open\n", &error));
    EXPECT_NE(error.find("not closed"), std::string::npos);
    EXPECT_FALSE(parse("back now\n", &error));
    EXPECT_FALSE(parse("shot\n", &error));
    EXPECT_FALSE(parse("tap \"a\" b\n", &error));
}

TEST_F(ScriptPlayerTest, StepsThatCannotBeDoneStopTheRun) {
    std::string error;
    EXPECT_FALSE(run("tap 5000 10\n", &error));
    EXPECT_NE(error.find("outside"), std::string::npos);
    EXPECT_FALSE(run("wait -1\n", &error));
    EXPECT_FALSE(run("wait 99999\n", &error));
    EXPECT_FALSE(run("wait soon\n", &error));
    EXPECT_FALSE(run("key f1\n", &error));
    EXPECT_FALSE(run("type abc\n", &error));  // nothing is being edited
    EXPECT_FALSE(run("volume loud\n", &error));
    EXPECT_FALSE(run("sheet 1\n", &error));
    EXPECT_NE(error.find("no action sheet"), std::string::npos);
    EXPECT_FALSE(run("rotate sideways\n", &error));
    // A picture's name never leaves the shots folder.
    EXPECT_FALSE(run("shot ../outside\n", &error));
    EXPECT_FALSE(run("shot a/b\n", &error));
    EXPECT_FALSE(std::filesystem::exists(shots.path() + "/../outside.png"));
    EXPECT_TRUE(written.empty());
}

TEST_F(ScriptPlayerTest, HostStepsClockAndVolume) {
    std::string error;
    const double before = sys::Clock::now();
    auto volume = sys::OutputVolume::shared();
    volume->setVolume(0.5f);
    ASSERT_TRUE(run("alert 2\nback\nbackground\nforeground\nopen file:///x.cbz\nwait 2.5\nvolume up\nshot done\n", &error))
        << error;
    EXPECT_EQ(host.calls, (std::vector<std::string>{"alert 2", "back", "background", "foreground", "open file:///x.cbz"}));
    EXPECT_GE(sys::Clock::now() - before, 2.5);
    EXPECT_GT(volume->volume(), 0.5f);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(shots.path() + "/done.png"));
}

TEST_F(ScriptPlayerTest, BackClosesAMenuInFrontAsEscapeDoesBeforeGoingBack) {
    // A screen whose menu, while open, closes on Escape.
    struct Screen : ui::ViewController {
        bool menuOpen = true;
        std::vector<ui::KeyCommand> keyCommands() const override {
            if (!menuOpen) return {};
            auto* self = const_cast<Screen*>(this);
            return {ui::KeyCommand::make(ui::KeyInput::escape, 0, [self](const ui::KeyCommand&) { self->menuOpen = false; })};
        }
    };
    auto screen = std::make_shared<Screen>();
    window->setRootViewController(screen);
    std::string error;
    ASSERT_TRUE(run("back\n", &error)) << error;
    EXPECT_FALSE(screen->menuOpen);
    EXPECT_TRUE(host.calls.empty());
    ASSERT_TRUE(run("back\n", &error)) << error;
    EXPECT_EQ(host.calls, (std::vector<std::string>{"back"}));
    window->setRootViewController(nullptr);
}

TEST_F(ScriptPlayerTest, TappingTextFindsSegmentsAndPullsAListBackToItsTop) {
    auto list = std::make_shared<LongList>();
    auto nav = std::make_shared<ui::NavigationController>(list);
    window->setRootViewController(nav);
    ui::test::Driver driver(*window);
    driver.advance(0.5);
    auto* tv = list->tableView();
    tv->setContentOffset({0, 1500}, false);
    driver.advance(0.5);
    EXPECT_FALSE(driver.findByText("Shelf"));  // its row is not even made
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "Shelf"));
    EXPECT_EQ(list->seg->selectedSegmentIndex(), 1);
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "List"));
    EXPECT_EQ(list->seg->selectedSegmentIndex(), 0);
    EXPECT_FALSE(shell::ScriptPlayer::tapText(driver, "Nothing shows this"));
    // A row below the fold: the list goes down to it, from the top or from
    // further down.
    std::optional<int> tapped;
    list->didSelect = [&](int row) { tapped = row; };
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "Row 55"));
    EXPECT_EQ(tapped, 55);
    tv->setContentOffset({0, 1800}, false);
    driver.advance(0.5);
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "Row 3"));
    EXPECT_EQ(tapped, 3);

    // A screen still sliding in lets touches pass: the tap waits for it to
    // come to rest instead of falling through.
    auto next = std::make_shared<LongList>();
    next->seg = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"Near", "Far"});
    nav->pushViewController(next, true);
    driver.settle();
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "Far"));
    EXPECT_EQ(next->seg->selectedSegmentIndex(), 1);

    // A question over the screen: the text is looked for from the front, and
    // only where a finger reaches it. The screen's own "Row 1" and segment
    // lie behind the question's dimming: the step fails and nothing behind is
    // touched; the question's button of the same text is the one tapped.
    next->didSelect = [&](int row) { tapped = row; };
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "Row 1"));
    EXPECT_EQ(tapped, 1);
    tapped.reset();
    auto question = ui::AlertController::make(std::nullopt, "Which row?", ui::AlertControllerStyle::Alert);
    bool answered = false;
    question->addAction(ui::AlertAction::make("Row 1", ui::AlertActionStyle::Default, [&](ui::AlertAction&) { answered = true; }));
    question->addAction(ui::AlertAction::make("Cancel", ui::AlertActionStyle::Cancel));
    nav->present(question, true);
    driver.advance(0.5);
    EXPECT_FALSE(shell::ScriptPlayer::tapText(driver, "Near"));
    EXPECT_EQ(next->seg->selectedSegmentIndex(), 1);
    std::string error;
    shell::ScriptPlayer player(*window, &host, shots.path());
    EXPECT_FALSE(player.run(*parse("tap \"Row 2\"\n"), &error));
    EXPECT_NE(error.find("\"Row 2\" is covered"), std::string::npos) << error;
    // A row the list behind has not made is not looked for there either.
    EXPECT_FALSE(shell::ScriptPlayer::tapText(driver, "Row 50"));
    EXPECT_EQ(next->tableView()->contentOffset().y, next->tableView()->minimumContentOffset().y) << "the list behind was scrolled";
    ASSERT_TRUE(shell::ScriptPlayer::tapText(driver, "Row 1"));
    driver.advance(0.5);
    EXPECT_TRUE(answered);
    EXPECT_FALSE(tapped);
}

TEST_F(ScriptPlayerTest, TypingGoesToTheFieldBeingEdited) {
    auto field = std::make_shared<ui::TextField>(ui::Rect{20, 200, 300, 40});
    window->addSubview(field);
    ui::test::Driver driver(*window);
    driver.settle();
    field->becomeFirstResponder();
    std::string error;
    ASSERT_TRUE(run("type Vol 2\nkey backspace\nkey 3\n", &error)) << error;
    EXPECT_EQ(field->text(), "Vol 3");
}

}  // namespace

namespace {

// On the real clock (a window: the script's clock has a wait of its own), a
// step that looks for a text, an alert or a sheet waits for it to show, a
// bounded while; on the virtual clock it fails at once, as the script's own
// time only passes in its waits.
TEST_F(ScriptPlayerTest, OnTheRealClockAStepWaitsForWhatItLooksFor) {
    auto label = std::make_shared<ui::Label>(ui::Rect(20, 100, 200, 40));
    label->setText("Later");
    sys::RunLoop::main().schedule(2.0, [&] { window->addSubview(label); });
    double waited = 0;
    shell::ScriptPlayer::Clock clock;
    clock.wait = [&](double s) {
        waited += s;
        sys::RunLoop::main().advance(s);
    };
    auto play = [&](const std::string& text, std::string* error) {
        auto steps = parse(text, error);
        shell::ScriptPlayer player(*window, &host, shots.path(), clock);
        return steps && player.run(*steps, error);
    };
    std::string error;
    {
        // Headless: not there yet, a failure at once.
        auto steps = parse("tap \"Later\"\n");
        shell::ScriptPlayer player(*window, &host, shots.path());
        EXPECT_FALSE(player.run(*steps, &error));
    }
    EXPECT_TRUE(play("tap \"Later\"\n", &error)) << error;
    EXPECT_GE(waited, 1.9);
    EXPECT_LT(waited, 2.5) << "it waited on after the text showed";
    // What never shows fails after the patience, with the step's own reason.
    waited = 0;
    EXPECT_FALSE(play("tap \"Never\"\n", &error));
    EXPECT_NE(error.find("nothing on screen shows"), std::string::npos) << error;
    EXPECT_GE(waited, shell::ScriptPlayer::kPatienceSeconds - 0.1);
    EXPECT_LT(waited, shell::ScriptPlayer::kPatienceSeconds + 1);
    waited = 0;
    EXPECT_FALSE(play("sheet 0\n", &error));
    EXPECT_NE(error.find("no action sheet"), std::string::npos) << error;
    EXPECT_GE(waited, shell::ScriptPlayer::kPatienceSeconds - 0.1);

    // The looking counts as much as the pauses: through a list whose rows
    // are slow to make, a text that never shows fails within the patience,
    // and a stop asked for ends the step at once.
    auto list = std::make_shared<LongList>();
    window->setRootViewController(std::make_shared<ui::NavigationController>(list));
    sys::RunLoop::main().advance(0.5);
    double now = 100;
    list->onCell = [&] { now += 0.25; };
    clock.now = [&] { return now; };
    clock.wait = [&](double s) {
        now += s;
        sys::RunLoop::main().advance(s);
    };
    double start = now;
    EXPECT_FALSE(play("tap \"Never\"\n", &error));
    EXPECT_NE(error.find("nothing on screen shows"), std::string::npos) << error;
    EXPECT_GE(now - start, shell::ScriptPlayer::kPatienceSeconds);
    EXPECT_LT(now - start, shell::ScriptPlayer::kPatienceSeconds + 5) << "the scrolling was not counted";
    start = now;
    clock.stopped = [&] { return now - start > 3; };
    EXPECT_FALSE(play("tap \"Never\"\nshot late\n", &error));
    EXPECT_NE(error.find("stopped"), std::string::npos) << error;
    EXPECT_LT(now - start, 3 + 5) << "the stop was not heeded";
}

}  // namespace
