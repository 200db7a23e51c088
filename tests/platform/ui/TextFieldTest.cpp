#include "UITestSupport.h"

#include "platform/core/NotificationCenter.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/PointerShape.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

using namespace ui;
using uitest::UITest;

namespace {

struct Recorder : TextFieldDelegate {
    std::vector<std::string> log;
    bool allowBegin = true, allowEnd = true, allowReturn = true, allowClear = true;
    std::string refuse;  // replacement text refused
    bool textFieldShouldBeginEditing(TextField&) override {
        log.push_back("shouldBegin");
        return allowBegin;
    }
    void textFieldDidBeginEditing(TextField&) override { log.push_back("didBegin"); }
    bool textFieldShouldEndEditing(TextField&) override {
        log.push_back("shouldEnd");
        return allowEnd;
    }
    void textFieldDidEndEditing(TextField&) override { log.push_back("didEnd"); }
    bool textFieldShouldChangeCharacters(TextField&, TextRange r, const std::string& s) override {
        log.push_back("change " + std::to_string(r.location) + "," + std::to_string(r.length) + " " + s);
        return s != refuse || refuse.empty();
    }
    bool textFieldShouldClear(TextField&) override {
        log.push_back("shouldClear");
        return allowClear;
    }
    bool textFieldShouldReturn(TextField&) override {
        log.push_back("shouldReturn");
        return allowReturn;
    }
};


class TextFieldTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        Keyboard::shared().reset();
        Pasteboard::reset();
        driver = std::make_unique<ui::test::Driver>(*window);
        field = std::make_shared<TextField>(Rect(20, 100, 300, 36));
        field->setBorderStyle(TextBorderStyle::RoundedRect);
        window->addSubview(field);
        for (const char* n : {Keyboard::willShowNotification, Keyboard::didShowNotification,
                              Keyboard::willHideNotification, Keyboard::didHideNotification}) {
            std::string name = n;
            tokens.push_back(sys::NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const sys::Notification& note) {
                    keyboard.push_back(name);
                    lastFrame = std::any_cast<Rect>(note.userInfo.at(Keyboard::frameEndKey));
                }));
        }
    }
    void TearDown() override {
        for (auto t : tokens) sys::NotificationCenter::defaultCenter().removeObserver(t);
        field.reset();
        driver.reset();
        Pasteboard::reset();
        UITest::TearDown();
    }
    // A point on the field's text line before the character at `index`
    // (left-aligned text of the fixed engine: 8.5 points a character).
    Point atChar(size_t index) const {
        Rect tr = field->convertRectTo(field->textRect(), nullptr);
        return {tr.x() + 8.5 * double(index) + 1, tr.y() + tr.height() / 2};
    }
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<TextField> field;
    std::vector<sys::NotificationCenter::Token> tokens;
    Recorder d;  // outlives the field's first-responder role (TearDown resigns it)
    std::vector<std::string> keyboard;
    Rect lastFrame;
};

}  // namespace

TEST_F(TextFieldTest, ATapBeginsEditingAndAnnouncesTheKeyboard) {
    field->setDelegate(&d);
    int began = 0, ended = 0;
    field->addAction(ControlEventEditingDidBegin, [&](Control&) { ++began; });
    field->addAction(ControlEventEditingDidEnd, [&](Control&) { ++ended; });
    driver->tap(*field);
    EXPECT_TRUE(field->isEditing());
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_EQ(began, 1);
    EXPECT_EQ(d.log, (std::vector<std::string>{"shouldBegin", "didBegin"}));
    EXPECT_EQ(keyboard, (std::vector<std::string>{Keyboard::willShowNotification, Keyboard::didShowNotification}));
    // The phone keyboard: 291 points plus the 34-point home strip, at the bottom.
    EXPECT_EQ(lastFrame, Rect(0, 844 - 325, 390, 325));

    // Moving to a second field keeps the keyboard up.
    auto other = std::make_shared<TextField>(Rect(20, 200, 300, 36));
    window->addSubview(other);
    driver->tap(*other);
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(keyboard.size(), 2u);
    other->resignFirstResponder();
    driver->settle();
    EXPECT_EQ(keyboard.back(), Keyboard::didHideNotification);
    EXPECT_EQ(lastFrame.y(), 844);  // ends below the window

    // A delegate can refuse to begin, and to end.
    d.allowBegin = false;
    driver->tap(*field);
    EXPECT_FALSE(field->isEditing());
    d.allowBegin = true;
    driver->tap(*field);
    d.allowEnd = false;
    EXPECT_FALSE(field->resignFirstResponder());
    EXPECT_TRUE(field->isEditing());
    d.allowEnd = true;
}

TEST_F(TextFieldTest, KeysEditAtTheCaretAndReportEachChange) {
    field->setDelegate(&d);
    int changes = 0;
    field->addAction(ControlEventEditingChanged, [&](Control&) { ++changes; });
    driver->tap(*field);
    driver->type("héllo");
    EXPECT_EQ(field->text(), "héllo");
    EXPECT_EQ(changes, 5);
    driver->key(KeyInput::leftArrow);
    driver->key(KeyInput::leftArrow);
    driver->key(KeyInput::leftArrow);
    driver->key(KeyInput::leftArrow);  // after "h"
    EXPECT_EQ(field->caret(), 1u);
    driver->pressBackspace();
    EXPECT_EQ(field->text(), "éllo");
    driver->key(KeyInput::deleteForward);  // "é" is two bytes, deleted whole
    EXPECT_EQ(field->text(), "llo");
    driver->key(KeyInput::end);
    driver->type("!");
    EXPECT_EQ(field->text(), "llo!");
    // A refused change leaves the text and sends nothing.
    d.refuse = "x";
    int before = changes;
    driver->type("x");
    EXPECT_EQ(field->text(), "llo!");
    EXPECT_EQ(changes, before);
    EXPECT_EQ(d.log.back(), "change 4,0 x");
    // Command keys are not typing.
    EXPECT_FALSE(driver->key("c", KeyModifierCommand));
    EXPECT_EQ(field->text(), "llo!");
    // Setting the text sends nothing and moves the caret to the end.
    field->setText("abc");
    EXPECT_EQ(field->caret(), 3u);
    EXPECT_EQ(changes, before);
}

TEST_F(TextFieldTest, ReturnResignsOnlyWhenSomeoneListensToIt) {
    field->setDelegate(&d);
    driver->tap(*field);
    driver->pressReturn();
    EXPECT_TRUE(field->isEditing());  // nobody listens: the field stays
    EXPECT_EQ(d.log.back(), "shouldReturn");
    int exits = 0;
    field->addAction(ControlEventEditingDidEndOnExit, [&](Control&) { ++exits; });
    d.allowReturn = false;
    driver->pressReturn();
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(field->isEditing());
    d.allowReturn = true;
    driver->pressReturn();
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(field->isEditing());
}

// Return may close the screen that holds the field: the field is let go
// only once it has resigned.
TEST_F(TextFieldTest, ReturnThatClosesTheFieldsScreenEndsEditingFirst) {
    field->setDelegate(&d);
    driver->tap(*field);
    std::weak_ptr<View> gone = field;
    field->addAction(ControlEventEditingDidEndOnExit, [this](Control&) {
        field->removeFromSuperview();
        field.reset();
    });
    driver->pressReturn();
    EXPECT_TRUE(gone.expired());
    ASSERT_FALSE(d.log.empty());
    EXPECT_EQ(d.log.back(), "didEnd");
}

TEST_F(TextFieldTest, ClearButtonSecureEntryAndPlaceholder) {
    field->setClearButtonMode(TextFieldViewMode::WhileEditing);
    field->setPlaceholder("Name");
    EXPECT_EQ(ui::test::Driver::textOf(*field), "Name");
    field->setText("secret");
    EXPECT_FALSE(field->isClearButtonShown());  // not editing
    driver->tap(*field);
    EXPECT_TRUE(field->isClearButtonShown());
    Rect before = field->textRect();
    field->setClearButtonMode(TextFieldViewMode::Never);
    EXPECT_GT(field->textRect().width(), before.width());  // the text gets the room back
    field->setClearButtonMode(TextFieldViewMode::WhileEditing);
    int changes = 0;
    field->addAction(ControlEventEditingChanged, [&](Control&) { ++changes; });
    driver->tap(rectCenter(field->convertRectTo(field->clearButtonRect(), nullptr)));
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(field->isEditing());

    field->setSecureTextEntry(true);
    field->setText("pässword");
    EXPECT_EQ(field->displayText(), "\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022");
}

TEST_F(TextFieldTest, SearchBarReportsTypingSearchAndCancel) {
    struct D : SearchBarDelegate {
        std::vector<std::string> log;
        void searchBarTextDidBeginEditing(SearchBar&) override { log.push_back("begin"); }
        void searchBarTextDidChange(SearchBar&, const std::string& t) override { log.push_back("text " + t); }
        void searchBarSearchButtonClicked(SearchBar&) override { log.push_back("search"); }
        void searchBarCancelButtonClicked(SearchBar& b) override {
            log.push_back("cancel");
            b.resignFirstResponder();
        }
        void searchBarTextDidEndEditing(SearchBar&) override { log.push_back("end"); }
    } d;
    auto bar = std::make_shared<SearchBar>(Rect(0, 300, 390, SearchBar::kHeight));
    bar->setDelegate(&d);
    bar->setShowsCancelButton(true);
    window->addSubview(bar);
    driver->tap(*bar->searchTextField());
    driver->type("ab");
    driver->pressReturn();
    EXPECT_TRUE(bar->searchTextField()->isEditing());  // search does not end editing by itself
    driver->tap(*driver->findByText("Cancel"));
    EXPECT_EQ(d.log, (std::vector<std::string>{"begin", "text a", "text ab", "search", "cancel", "end"}));
    bar->setText("zz");  // programmatic: no report
    EXPECT_EQ(d.log.size(), 6u);
    EXPECT_EQ(ui::test::Driver::textOf(*bar), "zz");
}

TEST_F(TextFieldTest, ClipboardPastesCopiesAndCutsAsOneLine) {
    field->setDelegate(&d);
    driver->tap(*field);
    Pasteboard::setText("http://192.168.1.20:8080/\r\ncomics/\t\n");
    EXPECT_TRUE(driver->key("v", KeyModifierControl));
    EXPECT_EQ(field->text(), "http://192.168.1.20:8080/comics/");
    EXPECT_EQ(d.log.back(), "change 0,0 http://192.168.1.20:8080/comics/");  // one change the delegate may refuse
    Pasteboard::setText("x");
    driver->key(KeyInput::insert, KeyModifierShift);
    EXPECT_EQ(field->text(), "http://192.168.1.20:8080/comics/x");

    // Control A selects all, C copies, X cuts; typing replaces a selection.
    driver->key("a", KeyModifierControl);
    EXPECT_EQ(field->selectedText(), field->text());
    driver->key("c", KeyModifierControl);
    EXPECT_EQ(Pasteboard::text(), "http://192.168.1.20:8080/comics/x");
    driver->key(KeyInput::leftArrow, KeyModifierShift);
    driver->key("x", KeyModifierControl);
    EXPECT_EQ(field->text(), "x");
    EXPECT_EQ(Pasteboard::text(), "http://192.168.1.20:8080/comics/");
    // The selection is the primary selection the middle button pastes.
    EXPECT_EQ(Pasteboard::text(Pasteboard::Kind::PrimarySelection), "http://192.168.1.20:8080/comics/");
    field->setText("ab");
    field->resignFirstResponder();
    EXPECT_EQ(PointerShape::at(*window, atChar(1)), PointerShape::Kind::IBeam);
    EXPECT_EQ(PointerShape::at(*window, {10, 10}), PointerShape::Kind::Arrow);
    EXPECT_TRUE(PointerShape::middleClick(*window, atChar(1)));
    EXPECT_EQ(field->text(), "ahttp://192.168.1.20:8080/comics/b");
    EXPECT_TRUE(field->isEditing());

    // A secure field gives nothing away, by copy, cut or selection.
    field->setSecureTextEntry(true);
    field->setText("secret");
    Pasteboard::setText("kept");
    Pasteboard::setText("kept too", Pasteboard::Kind::PrimarySelection);
    driver->key("a", KeyModifierControl);
    driver->key("c", KeyModifierControl);
    driver->key("x", KeyModifierControl);
    EXPECT_EQ(Pasteboard::text(), "kept");
    EXPECT_EQ(Pasteboard::text(Pasteboard::Kind::PrimarySelection), "kept too");
    EXPECT_EQ(field->text(), "secret");
}

TEST_F(TextFieldTest, ShiftSelectsAndControlMovesAndDeletesByWords) {
    driver->tap(*field);
    driver->type("hello wide world");
    driver->key(KeyInput::leftArrow, KeyModifierControl);
    EXPECT_EQ(field->caret(), 11u);
    driver->key(KeyInput::backspace, KeyModifierControl);
    EXPECT_EQ(field->text(), "hello world");
    driver->key(KeyInput::rightArrow, KeyModifierControl);
    EXPECT_EQ(field->caret(), 11u);
    driver->key(KeyInput::leftArrow, KeyModifierControl | KeyModifierShift);
    EXPECT_EQ(field->selectedText(), "world");
    driver->type("there");
    EXPECT_EQ(field->text(), "hello there");
    driver->key(KeyInput::home, KeyModifierShift);
    driver->key(KeyInput::rightArrow, KeyModifierShift);
    EXPECT_EQ(field->selectedText(), "ello there");
    driver->pressBackspace();
    EXPECT_EQ(field->text(), "h");
    driver->key(KeyInput::end, KeyModifierShift);  // caret already at the end: nothing selected
    driver->type("i");
    EXPECT_EQ(field->text(), "hi");
    // A screen laying its rows out again gives the field the text it holds:
    // the selection stays; other text puts the caret at its end.
    driver->key(KeyInput::home, KeyModifierShift);
    field->setText("hi");
    EXPECT_EQ(field->selectedText(), "hi");
    field->setText("hello");
    EXPECT_EQ(field->selectedText(), "");
    EXPECT_EQ(field->caret(), 5u);
}

TEST_F(TextFieldTest, AClickPlacesTheCaretAndDragsAndDoubleClicksSelect) {
    field->setText("hello world");
    driver->tap(atChar(3));  // not yet editing: the click both begins and places
    EXPECT_TRUE(field->isEditing());
    EXPECT_EQ(field->caret(), 3u);
    driver->tap(atChar(8));
    EXPECT_EQ(field->caret(), 8u);
    driver->type("!");
    EXPECT_EQ(field->text(), "hello wo!rld");
    driver->advance(1);
    driver->doubleTap(atChar(1));
    EXPECT_EQ(field->selectedText(), "hello");
    driver->advance(1);
    driver->drag(atChar(6), atChar(9));
    EXPECT_EQ(field->selectedText(), "wo!");
}

TEST_F(TextFieldTest, ALongTextKeepsTheCaretInViewAndStaysInItsBox) {
    auto label = std::make_shared<View>(Rect(0, 100, 20, 36));
    label->setBackgroundColor(Color::rgb(1, 0, 0));
    window->addSubview(label);
    field->setTextAlignment(TextAlignment::Right);
    field->setText(std::string(110, 'u'));
    driver->tap(*field);
    driver->key(KeyInput::home);
    window->render();
    Rect tr = field->convertRectTo(field->textRect(), nullptr);
    // The caret at the start shows at the box's left edge.
    EXPECT_TRUE(near(pixelAt(tr.x() + 1, tr.y() + tr.height() / 2), 0, 122, 255, 40));
    // Nothing of the text is drawn outside the box.
    EXPECT_TRUE(near(pixelAt(10, tr.y() + tr.height() / 2), 255, 0, 0));
    field->resignFirstResponder();
    window->render();
    EXPECT_TRUE(near(pixelAt(10, tr.y() + tr.height() / 2), 255, 0, 0));
    // A short right-aligned text shows its caret at its end, inside the box.
    field->setText("ab");
    driver->tap(*field);
    window->render();
    EXPECT_TRUE(near(pixelAt(tr.maxX() - 1, tr.y() + tr.height() / 2), 0, 122, 255, 40));
}

TEST_F(TextFieldTest, TabAndShiftTabMoveBetweenTheFieldsOfTheScreen) {
    auto panel = std::make_shared<View>(Rect(0, 300, 390, 200));
    window->addSubview(panel);
    auto password = std::make_shared<TextField>(Rect(20, 80, 300, 36));
    password->setSecureTextEntry(true);
    auto user = std::make_shared<TextField>(Rect(20, 20, 300, 36));
    panel->addSubview(password);
    panel->addSubview(user);
    driver->tap(*user);
    driver->type("me");
    driver->key(KeyInput::tab);
    driver->type("pw");
    EXPECT_EQ(user->text(), "me");
    EXPECT_EQ(password->text(), "pw");
    driver->key(KeyInput::tab, KeyModifierShift);
    EXPECT_TRUE(user->isEditing());
    // The field on another part of the window is not on the panel's round.
    driver->key(KeyInput::tab);
    driver->key(KeyInput::tab);
    EXPECT_TRUE(user->isEditing());
    EXPECT_FALSE(field->isEditing());
}

TEST_F(TextFieldTest, TabWithNoFieldEditingEntersTheFirstFieldOfTheScreenInFront) {
    auto screen = std::make_shared<ViewController>();
    auto url = std::make_shared<TextField>(Rect(20, 20, 300, 36));
    auto name = std::make_shared<TextField>(Rect(20, 80, 300, 36));
    screen->view()->addSubview(name);
    screen->view()->addSubview(url);
    window->setRootViewController(screen);
    driver->advance(0.1);
    driver->key(KeyInput::tab);
    driver->type("u");
    EXPECT_EQ(url->text(), "u");
    url->resignFirstResponder();
    driver->key(KeyInput::tab, KeyModifierShift);
    EXPECT_TRUE(name->isEditing());
    name->resignFirstResponder();
    window->setRootViewController(nullptr);
}
