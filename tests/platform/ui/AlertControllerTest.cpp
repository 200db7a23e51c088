#include "UITestSupport.h"

#include "platform/ui/AlertController.h"
#include "platform/ui/Log.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PopoverPresentationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"

#include <string>
#include <vector>

using namespace ui;
using uitest::UITest;

namespace {

class AlertControllerTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        start();
    }
    void start() {
        driver = std::make_unique<ui::test::Driver>(*window);
        root = std::make_shared<ViewController>();
        window->setRootViewController(root);
    }
    void usePad(const std::string& version = "18.0") {
        window->setRootViewController(nullptr);
        sys::DeviceProfile p = *sys::DeviceProfile::named("pad");
        p.systemVersion = version;
        sys::DeviceProfile::setCurrent(p);
        window = std::make_shared<Window>();
        window->makeKeyAndVisible();
        start();
    }
    void usePhone(const std::string& version) {
        window->setRootViewController(nullptr);
        sys::DeviceProfile p = *sys::DeviceProfile::named("phone");
        p.systemVersion = version;
        sys::DeviceProfile::setCurrent(p);
        window = std::make_shared<Window>();
        window->makeKeyAndVisible();
        start();
    }
    void TearDown() override {
        window->setRootViewController(nullptr);
        root.reset();
        driver.reset();
        UITest::TearDown();
    }
    void show(const AlertController::Ref& a) {
        root->present(a, true);
        driver->advance(0.5);
    }
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<ViewController> root;
    std::vector<std::string> log;
};

}  // namespace

TEST_F(AlertControllerTest, AnAlertIsAnsweredWithWhatWasTypedInItsFields) {
    auto a = AlertController::make("Rename", "Enter a new name.", AlertControllerStyle::Alert);
    a->addTextField([](TextField& f) { f.setText("old"); });
    a->addTextField([](TextField& f) { f.setSecureTextEntry(true); });
    std::string got;
    a->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    a->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) {
        log.push_back("ok");
        got = a->textFields()[0]->text() + "/" + a->textFields()[1]->text();
    }));
    show(a);
    ASSERT_EQ(a->textFields().size(), 2u);
    // The first field has the keyboard.
    EXPECT_TRUE(a->textFields()[0]->isFirstResponder());
    driver->type("er");
    driver->tap(*a->textFields()[1]);
    driver->type("pw");
    EXPECT_EQ(a->textFields()[1]->displayText(), "\u2022\u2022");
    // Two buttons side by side, the cancel one on the left.
    Button* ok = a->buttonForAction(a->actions()[1].get());
    Button* cancel = a->buttonForAction(a->actions()[0].get());
    EXPECT_EQ(ok->frame().y(), cancel->frame().y());
    EXPECT_LT(cancel->frame().x(), ok->frame().x());
    // The box is centred and as wide as alerts are.
    EXPECT_EQ(a->contentBox()->frame().width(), AlertController::kAlertWidth);
    driver->tap(*ok);
    EXPECT_TRUE(log.empty());  // the handler runs once the alert has gone
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"ok"}));
    EXPECT_EQ(got, "older/pw");
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(a->view()->window(), nullptr);

    // Tab goes from field to field; Escape in a field holding text cancels
    // the panel at once, as a desktop dialog does.
    log.clear();
    auto b = AlertController::make("Sign in", std::nullopt, AlertControllerStyle::Alert);
    b->addTextField();
    b->addTextField([](TextField& f) { f.setSecureTextEntry(true); });
    b->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    b->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("ok"); }));
    show(b);
    driver->type("me");
    driver->key(KeyInput::tab);
    EXPECT_TRUE(b->textFields()[1]->isFirstResponder());
    EXPECT_FALSE(b->keyHighlightedAction());
    driver->type("pw");
    driver->key(KeyInput::escape);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(AlertControllerTest, ButtonsStackWithCancelLastAndKeysChoose) {
    auto a = AlertController::make("Title", std::nullopt, AlertControllerStyle::Alert);
    auto cancel = AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); });
    a->addAction(cancel);
    a->addAction(AlertAction::make("One", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("one"); }));
    a->addAction(AlertAction::make("Delete", AlertActionStyle::Destructive, [&](AlertAction&) { log.push_back("del"); }));
    std::vector<std::string> warnings;
    auto old = setWarningSink([&](const std::string& w) { warnings.push_back(w); });
    a->addAction(AlertAction::make("Again", AlertActionStyle::Cancel));
    setWarningSink(old);
    EXPECT_EQ(a->actions().size(), 3u);
    EXPECT_EQ(warnings.size(), 1u);
    show(a);
    double yCancel = a->buttonForAction(cancel.get())->frame().y();
    EXPECT_GT(yCancel, a->buttonForAction(a->actions()[1].get())->frame().y());
    EXPECT_GT(yCancel, a->buttonForAction(a->actions()[2].get())->frame().y());
    // No preferred action: the bold button is "Cancel", and return answers
    // it as escape does (never "Delete"), in an alert and in a sheet.
    driver->key(KeyInput::returnKey);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
    log.clear();
    auto sheet = AlertController::make(std::nullopt, std::nullopt, AlertControllerStyle::ActionSheet);
    sheet->addAction(AlertAction::make("Delete", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("del"); }));
    sheet->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    show(sheet);
    driver->key(KeyInput::returnKey);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
    log.clear();
    a = AlertController::make("Title", std::nullopt, AlertControllerStyle::Alert);
    a->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    a->addAction(AlertAction::make("Delete", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("del"); }));
    show(a);
    driver->key(KeyInput::returnKey);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
    log.clear();

    // A preferred action answers return; a disabled one cannot be chosen.
    auto b = AlertController::make("T", "M", AlertControllerStyle::Alert);
    auto go = AlertAction::make("Go", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("go"); });
    auto off = AlertAction::make("Off", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("off"); });
    off->setEnabled(false);
    b->addAction(off);
    b->addAction(go);
    b->setPreferredAction(go);
    show(b);
    driver->tap(*b->buttonForAction(off.get()));
    driver->advance(0.5);
    EXPECT_EQ(root->presentedViewController(), b.get());
    driver->key(KeyInput::returnKey);
    driver->advance(0.5);
    EXPECT_EQ(log.back(), "go");
    EXPECT_EQ(root->presentedViewController(), nullptr);
    log.clear();

    // A button pressed while the sheet still slides in is taken once it is
    // in; pressed again while it goes, it is refused and said so.
    auto early = AlertController::make(std::nullopt, std::nullopt, AlertControllerStyle::ActionSheet);
    auto now = AlertAction::make("Now", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("now"); });
    early->addAction(now);
    early->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    root->present(early, true);
    driver->advance(0.1);
    ASSERT_TRUE(early->isBeingPresented());
    EXPECT_TRUE(early->choose(now));
    EXPECT_FALSE(early->choose(early->actions()[1]));
    driver->advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"now"}));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    // So is a finger on it; one beside the sheet (the end of a double tap on
    // what opened it) does not cancel it.
    log.clear();
    auto pressed = AlertController::make(std::nullopt, std::nullopt, AlertControllerStyle::ActionSheet);
    pressed->addAction(AlertAction::make("Now", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("now"); }));
    pressed->addAction(
        AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    for (bool onButton : {false, true}) {
        root->present(pressed, true);
        driver->advance(0.1);
        ASSERT_TRUE(pressed->isBeingPresented());
        View* button = driver->findByText("Now");
        ASSERT_TRUE(button);
        driver->tap(onButton ? driver->centerOf(*button) : Point{10, 10});
        driver->advance(1.0);
        if (!onButton) {
            EXPECT_TRUE(log.empty());
            ASSERT_EQ(root->presentedViewController(), pressed.get());
            root->dismiss(false);
        }
    }
    EXPECT_EQ(log, (std::vector<std::string>{"now"}));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    log = {"now"};
    auto going = AlertController::make("T", std::nullopt, AlertControllerStyle::Alert);
    going->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("ok"); }));
    show(going);
    going->dismiss(true);
    EXPECT_FALSE(going->choose(going->actions()[0]));
    driver->advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"now"}));
}

namespace {
// A screen that turns pages on keys, as the reading screen does, and holds
// the first responder.
class KeyedScreen : public ViewController {
public:
    std::vector<std::string>* log = nullptr;
    std::vector<KeyCommand> keyCommands() const override {
        std::vector<KeyCommand> keys;
        for (const char* k : {" ", "a", KeyInput::escape, KeyInput::returnKey, KeyInput::downArrow})
            keys.push_back(KeyCommand::make(k, 0, [this, k](const KeyCommand&) { log->push_back(std::string("under ") + k); }));
        return keys;
    }
    bool canBecomeFirstResponder() const override { return true; }
};
}  // namespace

TEST_F(AlertControllerTest, ArrowsAndTabMoveAHighlightThroughTheButtonsThatReturnAnswers) {
    auto lit = [](const AlertController::Ref& x) {
        AlertAction::Ref k = x->keyHighlightedAction();
        return k ? k->title() : std::string("none");
    };
    auto a = AlertController::make("Title", std::nullopt, AlertControllerStyle::Alert);
    a->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    auto one = AlertAction::make("One", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("one"); });
    auto off = AlertAction::make("Off", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("off"); });
    off->setEnabled(false);
    a->addAction(one);
    a->addAction(off);
    a->addAction(AlertAction::make("Delete", AlertActionStyle::Destructive, [&](AlertAction&) { log.push_back("del"); }));
    show(a);
    // Down starts at the top button, passes the disabled one and goes round
    // past "Cancel" (last); up and shift+tab go back.
    EXPECT_TRUE(driver->key(KeyInput::downArrow));
    EXPECT_EQ(lit(a), "One");
    EXPECT_EQ(a->buttonForAction(one.get())->backgroundColor(), Color::systemGray4());
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(lit(a), "Delete");
    EXPECT_EQ(a->buttonForAction(one.get())->backgroundColor(), Color::clear());
    driver->key(KeyInput::tab);
    EXPECT_EQ(lit(a), "Cancel");
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(lit(a), "One");
    driver->key(KeyInput::upArrow);
    driver->key(KeyInput::tab, KeyModifierShift);
    EXPECT_EQ(lit(a), "Delete");
    EXPECT_TRUE(log.empty());
    driver->key(KeyInput::returnKey);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"del"}));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    log.clear();

    // Two buttons side by side: left to right, the cancel one first; up
    // from nothing starts at the last.
    auto b = AlertController::make("Title", std::nullopt, AlertControllerStyle::Alert);
    b->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("ok"); }));
    b->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    show(b);
    driver->key(KeyInput::rightArrow);
    EXPECT_EQ(lit(b), "Cancel");
    driver->key(KeyInput::rightArrow);
    EXPECT_EQ(lit(b), "OK");
    driver->key(KeyInput::returnKey);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"ok"}));
    log.clear();
    auto c = AlertController::make("Title", std::nullopt, AlertControllerStyle::Alert);
    c->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("ok"); }));
    c->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    show(c);
    driver->key(KeyInput::upArrow);
    EXPECT_EQ(lit(c), "OK");
    // Escape still cancels, whatever is highlighted.
    driver->key(KeyInput::escape);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
}

TEST_F(AlertControllerTest, WhileSomethingIsPresentedKeysGoToItAlone) {
    auto screen = std::make_shared<KeyedScreen>();
    screen->log = &log;
    window->setRootViewController(screen);
    root = screen;
    driver->advance(0.1);
    ASSERT_TRUE(screen->becomeFirstResponder());
    driver->key(" ");
    EXPECT_EQ(log, (std::vector<std::string>{"under  "}));
    log.clear();

    // An alert with a lone "OK": no key reaches the screen beneath; return
    // and escape both answer it.
    for (const char* answer : {KeyInput::returnKey, KeyInput::escape}) {
        auto a = AlertController::make("Error opening URL.", std::nullopt, AlertControllerStyle::Alert);
        a->addAction(AlertAction::make("OK", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("ok"); }));
        show(a);
        EXPECT_TRUE(screen->isFirstResponder()) << "the screen beneath still holds the first responder";
        EXPECT_TRUE(driver->key(" "));
        EXPECT_TRUE(driver->key("a"));
        EXPECT_TRUE(driver->key(KeyInput::downArrow));
        EXPECT_TRUE(log.empty()) << log.front();
        driver->key(answer);
        driver->advance(0.5);
        EXPECT_EQ(log, (std::vector<std::string>{"ok"}));
        EXPECT_FALSE(screen->presentedViewController());
        log.clear();
    }
    // A screen of its own presented over it: the keys stop there too.
    auto over = std::make_shared<ViewController>();
    screen->present(over, false);
    driver->advance(0.5);
    for (const char* k : {" ", "a", KeyInput::escape, KeyInput::returnKey}) driver->key(k);
    EXPECT_TRUE(log.empty()) << log.front();
    // A box laid on the window in front of it (a sign-in panel) types into
    // its field.
    auto box = std::make_shared<View>(Rect(20, 20, 200, 60));
    auto field = std::make_shared<TextField>();
    field->setFrame(Rect(10, 10, 180, 30));
    box->addSubview(field);
    window->addSubview(box);
    ASSERT_TRUE(field->becomeFirstResponder());
    driver->type("ab");
    EXPECT_EQ(field->text(), "ab");
    EXPECT_TRUE(log.empty()) << log.front();
    field->resignFirstResponder();
    box->removeFromSuperview();
    over->dismiss(false);
    driver->advance(0.5);
    driver->key("a");
    EXPECT_EQ(log, (std::vector<std::string>{"under a"})) << "back in front, the screen takes its keys again";
}

TEST_F(AlertControllerTest, ReturnInTheOnlyFieldChoosesTheOnlyAction) {
    auto a = AlertController::make("Passcode", std::nullopt, AlertControllerStyle::Alert);
    a->addTextField();
    a->addAction(AlertAction::make("OK", AlertActionStyle::Default,
                                   [&](AlertAction&) { log.push_back("ok " + a->textFields()[0]->text()); }));
    show(a);
    driver->type("1234");
    driver->pressReturn();
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"ok 1234"}));
    // A button the keys highlighted is what Return in the field answers.
    log.clear();
    auto b = AlertController::make("Passcode", std::nullopt, AlertControllerStyle::Alert);
    b->addTextField();
    b->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    auto go = AlertAction::make("Go", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("go"); });
    b->addAction(go);
    b->setPreferredAction(go);
    show(b);
    driver->type("12");
    driver->key(KeyInput::downArrow);
    ASSERT_TRUE(b->keyHighlightedAction());
    EXPECT_EQ(b->keyHighlightedAction()->title(), "Cancel");
    driver->pressReturn();
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
}

TEST_F(AlertControllerTest, APhoneSheetSitsAtTheBottomAndATapBesideItCancels) {
    auto s = AlertController::make("Sort", std::nullopt, AlertControllerStyle::ActionSheet);
    s->addAction(AlertAction::make("Name", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("name"); }));
    s->addAction(AlertAction::make("Date", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("date"); }));
    s->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    auto anchor = std::make_shared<View>(Rect(10, 100, 40, 40));
    root->view()->addSubview(anchor);
    s->popoverPresentationController()->setSourceView(anchor);
    EXPECT_FALSE(s->showsAsPopover());  // phones before 26 never pop over
    show(s);
    Rect box = s->contentBox()->frame();
    Button* cancel = s->buttonForAction(s->actions()[2].get());
    Rect c = cancel->convertRectTo(cancel->bounds(), nullptr);
    EXPECT_GT(c.y(), box.maxY());  // the cancel button in its own box below
    EXPECT_NEAR(c.maxY(), 844 - window->windowSafeAreaInsets().bottom, 1e-9);
    EXPECT_EQ(box.height(), 14 + s->buttonForAction(s->actions()[0].get())->frame().y() - 14 + 2 * 57);
    driver->tap({195, 200});
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
}

TEST_F(AlertControllerTest, OnPadsASheetPointsFromItsAnchor) {
    usePad();
    auto item = BarButtonItem::withTitle("Sort");
    auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>());
    nav->topViewController()->navigationItem()->setRightBarButtonItem(item);
    window->setRootViewController(nav);
    driver->settle();
    auto s = AlertController::make(std::nullopt, std::nullopt, AlertControllerStyle::ActionSheet);
    s->addAction(AlertAction::make("Name", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("name"); }));
    s->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { log.push_back("cancel"); }));
    s->popoverPresentationController()->setBarButtonItem(item);
    EXPECT_TRUE(s->showsAsPopover());
    nav->topViewController()->present(s, true);
    driver->advance(0.5);
    EXPECT_EQ(nav->presentedViewController(), s.get());
    // Below the bar item, no cancel button, nothing dimmed.
    Rect anchor = item->view()->convertRectTo(item->view()->bounds(), nullptr);
    Rect box = s->contentBox()->frame();
    EXPECT_GT(box.y(), anchor.maxY());
    EXPECT_LT(std::fabs(box.x() + box.width() / 2 - (anchor.x() + anchor.width() / 2)), box.width());
    EXPECT_EQ(s->buttonForAction(s->actions()[1].get()), nullptr);
    EXPECT_TRUE(s->view()->backgroundColor().isClear());
    driver->tap({30, 900});
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
    EXPECT_EQ(nav->presentedViewController(), nullptr);

    // Without an anchor it stays a sheet.
    auto plain = AlertController::make("T", std::nullopt, AlertControllerStyle::ActionSheet);
    EXPECT_FALSE(plain->showsAsPopover());
}

TEST_F(AlertControllerTest, OnTheDesktopAPopoverSheetKeepsItsCancelButtonAndEscapeLeavesAnything) {
    window->setRootViewController(nullptr);
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("desktop"));
    window = std::make_shared<Window>();
    window->makeKeyAndVisible();
    start();
    auto anchor = std::make_shared<View>(Rect(100, 300, 100, 30));
    root->view()->addSubview(anchor);
    auto question = [&](const std::string& tag, bool withCancel) {
        auto s = AlertController::make("Resume reading book?", std::nullopt, AlertControllerStyle::ActionSheet);
        s->addAction(AlertAction::make("Yes", AlertActionStyle::Default, [&, tag](AlertAction&) { log.push_back(tag + " yes"); }));
        if (withCancel)
            s->addAction(AlertAction::make("No", AlertActionStyle::Cancel, [&, tag](AlertAction&) { log.push_back(tag + " no"); }));
        s->popoverPresentationController()->setSourceView(anchor);
        s->popoverPresentationController()->setSourceRect(anchor->bounds());
        return s;
    };
    // The answer No can be seen and tapped.
    auto s = question("tap", true);
    ASSERT_TRUE(s->showsAsPopover());
    show(s);
    Button* no = s->buttonForAction(s->actions()[1].get());
    ASSERT_NE(no, nullptr);
    EXPECT_FALSE(no->isHidden());
    EXPECT_GT(no->frame().height(), 0);
    EXPECT_LE(no->frame().maxY(), s->contentBox()->bounds().maxY()) << "inside the popover";
    driver->tap(*no);
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"tap no"}));

    // Escape answers No, and leaves a popover sheet without a No unanswered.
    show(question("key", true));
    EXPECT_TRUE(driver->key(KeyInput::escape));
    driver->advance(0.5);
    show(question("bare", false));
    EXPECT_TRUE(driver->key(KeyInput::escape));
    driver->advance(0.5);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    // An alert with one button is closed by it; any other screen shown as a popover goes.
    auto notice = AlertController::make("Done", std::nullopt, AlertControllerStyle::Alert);
    notice->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("ok"); }));
    show(notice);
    EXPECT_TRUE(driver->key(KeyInput::escape));
    driver->advance(0.5);
    auto menu = std::make_shared<ViewController>();
    menu->setModalPresentationStyle(ModalPresentationStyle::Popover);
    menu->popoverPresentationController()->setSourceView(anchor);
    root->present(menu, true);
    driver->advance(0.5);
    ASSERT_EQ(root->presentedViewController(), menu.get());
    EXPECT_TRUE(driver->key(KeyInput::escape));
    driver->advance(0.5);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"tap no", "key no", "ok"}));
    EXPECT_FALSE(driver->key(KeyInput::escape)) << "nothing left to cancel";
}

TEST_F(AlertControllerTest, FromSystemVersion26PhonesPointFromTheAnchorToo) {
    usePhone("26.0");
    auto anchor = std::make_shared<View>(Rect(100, 300, 100, 30));
    root->view()->addSubview(anchor);
    auto s = AlertController::make("Pick", std::nullopt, AlertControllerStyle::ActionSheet);
    s->addAction(AlertAction::make("A", AlertActionStyle::Default, [&](AlertAction&) { log.push_back("a"); }));
    s->popoverPresentationController()->setSourceView(anchor);
    s->popoverPresentationController()->setSourceRect(anchor->bounds());
    EXPECT_TRUE(s->showsAsPopover());
    show(s);
    EXPECT_EQ(s->contentBox()->frame().y(), 338);
    driver->tap(*s->buttonForAction(s->actions()[0].get()));
    driver->advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"a"}));
}

TEST_F(AlertControllerTest, TheScreenUnderneathKeepsTheStatusBarAndRotation) {
    class NoBar : public ViewController {
    public:
        bool prefersStatusBarHidden() const override { return true; }
        unsigned supportedInterfaceOrientations() const override { return InterfaceOrientationMaskPortrait; }
    };
    auto nb = std::make_shared<NoBar>();
    window->setRootViewController(nb);
    EXPECT_TRUE(Application::shared().isStatusBarHidden());
    auto a = AlertController::make("Hi", std::nullopt, AlertControllerStyle::Alert);
    a->addAction(AlertAction::make("OK", AlertActionStyle::Default));
    nb->present(a, false);
    EXPECT_TRUE(Application::shared().isStatusBarHidden());
    EXPECT_FALSE(window->rotate(InterfaceOrientation::LandscapeLeft));
    a->choose(a->actions()[0]);
    driver->advance(0.5);
    EXPECT_EQ(nb->presentedViewController(), nullptr);
}
