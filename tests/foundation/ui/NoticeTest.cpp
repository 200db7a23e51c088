#include "ToolkitTestSupport.h"

#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNNoticeView.h"
#include "platform/ui/ViewController.h"

#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

// Writes every callback of an alert to a list.
class Recorder : public QNAlertViewDelegate {
public:
    void alertViewClickedButtonAtIndex(QNAlertView& a, int64_t i) override {
        log.push_back("clicked " + std::to_string(i) + " tag " + std::to_string(a.userTag()));
    }
    void alertViewDidDismissWithButtonIndex(QNAlertView&, int64_t i) override {
        log.push_back("dismissed " + std::to_string(i));
    }
    void willPresentAlertView(QNAlertView&) override { log.push_back("willPresent"); }
    void didPresentAlertView(QNAlertView&) override { log.push_back("didPresent"); }
    std::vector<std::string> log;
};

class NoticeTest : public ToolkitTest {
protected:
    void TearDown() override {
        QNAlertView::clearOneInstanceFlag();
        ToolkitTest::TearDown();
    }
    std::shared_ptr<QNAlertView> alert(const std::string& title, const std::string& message,
                                       std::optional<std::string> cancel, std::vector<std::string> others) {
        return std::make_shared<QNAlertView>(title, message, recorder, cancel, others);
    }
    QNNoticeView* shownNotice() { return driver->findFirst<QNNoticeView>(); }

    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

}  // namespace

// Text in tests is 8 points a glyph and 20 points a line at 16 points.

TEST_F(NoticeTest, BoxWithTitleAndOneButtonIsSizedFromItsTextAndCentred) {
    auto a = alert("Notice", "Hello", std::string("OK"), {});
    a->show();
    QNNoticeView* n = shownNotice();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->frame(), Rect(0, 0, 844, 844));  // the window's longer side, square
    // Title 20 + 20, message 20, margins 20: 80; one row of 45 makes 125, evened to 126.
    EXPECT_EQ(n->contentHeight(), 80);
    EXPECT_EQ(n->baseView()->frame().size, (Size{310, 126}));
    EXPECT_EQ(n->baseView()->center(), (Point{195, 422}));
    EXPECT_EQ(n->titleLabel()->frame(), Rect(10, 10, 290, 40));
    EXPECT_EQ(n->messageLabel()->frame(), Rect(10, 50, 290, 20));
    ASSERT_EQ(n->buttons().size(), 1u);
    EXPECT_EQ(n->buttons()[0]->frame(), Rect(10, 80, 290, 45));
    EXPECT_TRUE(n->buttons()[0]->titleLabel()->font().isBold());  // the cancel button
    EXPECT_EQ(n->baseView()->buttonHeight(), 79);
    EXPECT_EQ(n->baseView()->separators().size(), 1u);
    EXPECT_EQ(n->backgroundColor().resolve(false).a, 0.3);
    EXPECT_EQ(n->baseView()->cornerRadius(), 5.0);
}

TEST_F(NoticeTest, ShortMessageWithoutTitleStillReservesFiftyPoints) {
    auto a = alert("", "Hi", std::nullopt, {"A", "B", "C"});
    a->show();
    QNNoticeView* n = shownNotice();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->titleLabel(), nullptr);
    EXPECT_EQ(n->messageLabel()->frame(), Rect(10, 10, 290, 50));
    EXPECT_EQ(n->contentHeight(), 70);
    EXPECT_EQ(n->baseView()->frame().height(), 206);
    ASSERT_EQ(n->buttons().size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(n->buttons()[i]->frame(), Rect(10, 70 + 45 * i, 290, 45));
    // No cancel title: button 0 takes the cancel role and the bold font.
    EXPECT_TRUE(n->buttons()[0]->titleLabel()->font().isBold());
    EXPECT_FALSE(n->buttons()[1]->titleLabel()->font().isBold());
    auto lines = n->baseView()->separators();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].from.y, 69 + 45);
    EXPECT_EQ(lines[2].from.y, 69 + 90);
}

TEST_F(NoticeTest, LongTextIsCutToTheBoxLimits) {
    std::string para;
    for (int i = 0; i < 60; ++i) para += "word word ";
    auto a = alert(para, para, std::string("OK"), {});
    a->show();
    QNNoticeView* n = shownNotice();
    ASSERT_NE(n, nullptr);
    // Title: at most 220 points of whole 20-point lines (11 lines), plus 20.
    EXPECT_EQ(n->titleLabel()->frame().height(), 240);
    // Message: at most 320 - 240 - 20 = 60 points, three lines.
    EXPECT_EQ(n->messageLabel()->frame().height(), 60);
    EXPECT_EQ(n->baseView()->frame().height(), 240 + 60 + 20 + 45 + 1);
}

TEST_F(NoticeTest, TwoButtonsPutTheFirstOnTheRightAndReportAfterTheFade) {
    auto a = alert("Delete?", "Sure?", std::string("Cancel"), {"Delete"});
    a->setUserTag(7);
    a->show();
    QNNoticeView* n = shownNotice();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->buttons()[0]->frame(), Rect(155, 80, 145, 45));
    EXPECT_EQ(n->buttons()[1]->frame(), Rect(10, 80, 145, 45));
    auto lines = n->baseView()->separators();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].from, (Point{155, 79}));
    EXPECT_EQ(lines[1].to, (Point{155, 126}));

    // The box fades in over a tenth of a second.
    EXPECT_LT(n->presentationAlpha(), 0.1);
    driver->advance(0.05);
    EXPECT_GT(n->presentationAlpha(), 0.2);
    driver->advance(0.1);
    EXPECT_EQ(n->presentationAlpha(), 1.0);

    driver->tap(*driver->findByText("Delete"));
    EXPECT_TRUE(recorder->log.empty());  // the box is still fading out
    driver->advance(0.2);
    EXPECT_TRUE(recorder->log.empty());
    driver->advance(0.15);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 1 tag 7", "dismissed 1"}));
    EXPECT_EQ(shownNotice(), nullptr);
    EXPECT_EQ(a->noticeView(), nullptr);
    EXPECT_FALSE(a->isRetainSelf());
}

TEST_F(NoticeTest, EscapeAnswersTheTopBoxWithItsCancelButtonBeforeTheScreenHearsIt) {
    int screenKeys = 0;
    class KeyScreen : public ViewController {
    public:
        explicit KeyScreen(int* n) : n_(n) {}
        std::vector<KeyCommand> keyCommands() const override {
            int* n = n_;
            return {KeyCommand::make(KeyInput::escape, 0, [n](const KeyCommand&) { ++*n; })};
        }
        int* n_;
    };
    window->setRootViewController(std::make_shared<KeyScreen>(&screenKeys));
    driver->settle();
    auto question = alert("Delete?", "Sure?", std::string("Keep"), {"Delete"});
    question->setUserTag(1);
    question->show();
    auto info = alert("", "Saved.", std::nullopt, {"OK"});
    info->setUserTag(2);
    info->show();
    driver->advance(0.2);
    EXPECT_TRUE(driver->key(KeyInput::escape));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 0 tag 2", "dismissed 0"}));
    EXPECT_TRUE(driver->key(KeyInput::escape));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 0 tag 2", "dismissed 0", "clicked 0 tag 1", "dismissed 0"}));
    EXPECT_EQ(screenKeys, 0);
    EXPECT_EQ(shownNotice(), nullptr);
    // With no box left the screen has the key.
    EXPECT_TRUE(driver->key(KeyInput::escape));
    EXPECT_EQ(screenKeys, 1);
}

TEST_F(NoticeTest, ReturnAnswersTheDefaultButtonAndNoKeyReachesTheScreenBeneath) {
    std::vector<std::string> screenKeys;
    class KeyScreen : public ViewController {
    public:
        explicit KeyScreen(std::vector<std::string>* log) : log_(log) {}
        std::vector<KeyCommand> keyCommands() const override {
            std::vector<KeyCommand> keys;
            for (const char* k : {" ", "a", KeyInput::returnKey, KeyInput::escape})
                keys.push_back(KeyCommand::make(k, 0, [this, k](const KeyCommand&) { log_->push_back(k); }));
            return keys;
        }
        std::vector<std::string>* log_;
    };
    window->setRootViewController(std::make_shared<KeyScreen>(&screenKeys));
    driver->settle();
    auto question = alert("Delete?", "Sure?", std::string("Keep"), {"Delete"});
    question->setUserTag(1);
    question->show();
    driver->advance(0.2);
    // Keys the box has no use for stop at it.
    EXPECT_TRUE(driver->key(" "));
    EXPECT_TRUE(driver->key("a"));
    EXPECT_TRUE(screenKeys.empty());
    // The default button is the one in bold, "Keep": return never deletes.
    EXPECT_TRUE(driver->key(KeyInput::returnKey));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 0 tag 1", "dismissed 0"}));
    // A lone button is the default one too.
    auto info = alert("", "Saved.", std::nullopt, {"OK"});
    info->setUserTag(2);
    info->show();
    driver->advance(0.2);
    EXPECT_TRUE(driver->key(KeyInput::returnKey));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log.back(), "dismissed 0");
    EXPECT_EQ(recorder->log[recorder->log.size() - 2], "clicked 0 tag 2");
    EXPECT_TRUE(screenKeys.empty());
    EXPECT_TRUE(driver->key(" "));
    EXPECT_EQ(screenKeys, (std::vector<std::string>{" "}));
}

TEST_F(NoticeTest, ArrowsAndTabHighlightAButtonThatReturnAnswers) {
    auto question = alert("Delete?", "Sure?", std::string("Keep"), {"Delete"});
    question->setUserTag(1);
    question->show();
    driver->advance(0.2);
    QNNoticeView* n = shownNotice();
    ASSERT_NE(n, nullptr);
    // Left to right: "Delete" (index 1) on the left, "Keep" on the right;
    // the highlight goes round.
    EXPECT_TRUE(driver->key(KeyInput::rightArrow));
    EXPECT_EQ(n->keyHighlightedButton(), n->buttons()[1].get());
    EXPECT_EQ(n->buttons()[1]->backgroundColor(), Color::systemGray4());
    driver->key(KeyInput::tab);
    EXPECT_EQ(n->keyHighlightedButton(), n->buttons()[0].get());
    EXPECT_EQ(n->buttons()[1]->backgroundColor(), Color::clear());
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(n->keyHighlightedButton(), n->buttons()[1].get());
    EXPECT_TRUE(recorder->log.empty());
    driver->key(KeyInput::returnKey);
    driver->advance(0.4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 1 tag 1", "dismissed 1"}));
    // Three stacked buttons: up from nothing starts at the bottom one;
    // Escape still answers with the cancel button.
    recorder->log.clear();
    auto three = alert("Open", "Which?", std::string("Cancel"), {"First", "Second"});
    three->setUserTag(2);
    three->show();
    driver->advance(0.2);
    n = shownNotice();
    driver->key(KeyInput::upArrow);
    EXPECT_EQ(n->keyHighlightedButton(), n->buttons()[2].get());
    driver->key(KeyInput::tab, KeyModifierShift);
    EXPECT_EQ(n->keyHighlightedButton(), n->buttons()[1].get());
    driver->key(KeyInput::escape);
    driver->advance(0.4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 0 tag 2", "dismissed 0"}));
}

TEST_F(NoticeTest, AlertWithoutButtonsGetsOKAndLivesUntilAnswered) {
    {
        auto a = std::make_shared<QNAlertView>();
        a->setMessage("Saved.");
        a->setDelegate(recorder);
        a->show();
        EXPECT_EQ(a->buttonList(), (std::vector<std::string>{"OK"}));
        EXPECT_TRUE(a->isRetainSelf());
    }  // the caller lets go at once
    driver->advance(0.15);  // a box takes no touches while it fades in
    ASSERT_NE(driver->findByText("OK"), nullptr);
    driver->tap(*driver->findByText("OK"));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"clicked 0 tag 0", "dismissed 0"}));
    EXPECT_EQ(shownNotice(), nullptr);
}

TEST_F(NoticeTest, OnlyOneOneInstanceAlertAtATime) {
    auto first = alert("", "First", std::string("OK"), {});
    first->setIsShowOnlyOneInstance(true);
    auto second = alert("", "Second", std::string("OK"), {});
    second->setIsShowOnlyOneInstance(true);
    first->show();
    second->show();
    EXPECT_EQ(driver->findAllOf<QNNoticeView>().size(), 1u);
    EXPECT_NE(driver->findByText("First"), nullptr);
    EXPECT_EQ(driver->findByText("Second"), nullptr);
    EXPECT_FALSE(second->isRetainSelf());
    EXPECT_TRUE(QNAlertView::isOneInstanceShown());

    // An ordinary alert is not held back by the flag.
    auto plain = alert("", "Plain", std::string("OK"), {});
    plain->show();
    EXPECT_EQ(driver->findAllOf<QNNoticeView>().size(), 2u);
    driver->advance(0.15);
    driver->tap(*plain->noticeView()->buttons()[0]);
    driver->advance(0.4);
    EXPECT_EQ(driver->findAllOf<QNNoticeView>().size(), 1u);

    driver->tap(*driver->findByText("OK"));
    driver->advance(0.4);
    EXPECT_FALSE(QNAlertView::isOneInstanceShown());
    auto third = alert("", "Third", std::string("OK"), {});
    third->setIsShowOnlyOneInstance(true);
    third->show();
    EXPECT_NE(driver->findByText("Third"), nullptr);
}

TEST_F(NoticeTest, ABoxFreedWithoutClosingDoesNotBlockLaterAlerts) {
    {
        auto a = std::make_shared<QNAlertView>();
        a->setIsShowOnlyOneInstance(true);
        a->setMessage("Going away");
        a->show();
        EXPECT_TRUE(QNAlertView::isOneInstanceShown());
        shownNotice()->removeFromSuperview();
        a->didCloseNoticeView(0);  // the box's owner lets it go without a button
    }
    driver->settle();
    EXPECT_FALSE(QNAlertView::isOneInstanceShown());
}

TEST_F(NoticeTest, ShowingTwiceKeepsOneBox) {
    auto a = alert("", "Once", std::string("OK"), {});
    a->show();
    a->show();
    EXPECT_EQ(driver->findAllOf<QNNoticeView>().size(), 1u);
    driver->advance(0.15);
    driver->tap(*driver->findByText("OK"));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log.size(), 2u);
}

TEST_F(NoticeTest, BoxFollowsTheWindowWhenTheDeviceTurns) {
    auto root = std::make_shared<ViewController>();
    window->setRootViewController(root);
    driver->settle();
    auto a = alert("", "Turn me", std::string("OK"), {});
    a->show();
    QNNoticeView* n = shownNotice();
    driver->advance(0.15);
    ASSERT_TRUE(window->rotate(InterfaceOrientation::LandscapeLeft));
    driver->advance(1.0);
    EXPECT_EQ(n->frame(), Rect(0, 0, 844, 844));
    EXPECT_EQ(n->baseView()->center(), (Point{422, 195}));
    // A window made larger or smaller without turning (still wider than
    // high, then square): the box keeps to its middle and the dimming
    // covers it.
    ASSERT_TRUE(window->resize({1400, 900}));
    driver->advance(0.5);
    EXPECT_EQ(n->baseView()->center(), (Point{700, 450}));
    EXPECT_EQ(n->frame(), Rect(0, 0, 1400, 1400));
    ASSERT_TRUE(window->resize({320, 320}));
    driver->advance(0.5);
    EXPECT_EQ(n->baseView()->center(), (Point{160, 160}));
    EXPECT_EQ(n->frame(), Rect(0, 0, 320, 320));
    // The box stays reachable: its button lies inside the window.
    driver->tap(*driver->findByText("OK"));
    driver->advance(0.4);
    EXPECT_EQ(recorder->log.size(), 2u);
}

TEST_F(NoticeTest, SnapshotOfANoticeInBothAppearances) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    auto page = std::make_shared<View>(window->bounds());
    page->setBackgroundColor(Color::systemBackground());
    auto text = std::make_shared<Label>(Rect(20, 120, 350, 30));
    text->setText("Chapter 3: The Long Road");
    page->addSubview(text);
    window->addSubview(page);
    auto a = alert("Notice", "Loading may take time because this archive is solid.", std::string("Cancel"),
                   {"Open"});
    a->show();
    driver->advance(0.2);
    ASSERT_TRUE(driver->snapshot(snapshotPath("notice-light.png")));
    QNNoticeView* n = shownNotice();
    Rect box = n->baseView()->frame();
    auto inside = pixelAt(box.x() + 4, box.y() + box.height() / 2);
    EXPECT_TRUE(near(inside, 242, 242, 242, 8)) << inside.r;
    auto outside = pixelAt(5, 5);  // white dimmed by black at 0.3
    EXPECT_TRUE(near(outside, 178, 178, 178, 8)) << outside.r;
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    ASSERT_TRUE(driver->snapshot(snapshotPath("notice-dark.png")));
    inside = pixelAt(box.x() + 4, box.y() + box.height() / 2);
    EXPECT_TRUE(near(inside, 44, 44, 46, 8)) << inside.r;
}
