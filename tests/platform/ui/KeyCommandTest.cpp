#include "UITestSupport.h"

#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

using namespace ui;
using uitest::UITest;

namespace {

class KeyCommandTest : public UITest {};

// A view that answers a set of commands and may take the first responder.
class Commanded : public View {
public:
    std::vector<KeyCommand> commands;
    bool focusable = true;
    std::vector<KeyCommand> keyCommands() const override { return commands; }
    bool canBecomeFirstResponder() const override { return focusable; }
};

// A view controller stand-in: a responder between its view and the superview.
class Controller : public Responder {
public:
    View* view = nullptr;
    std::vector<KeyCommand> commands;
    Responder* nextResponder() const override { return view ? view->superview() : nullptr; }
    std::vector<KeyCommand> keyCommands() const override { return commands; }
};

}  // namespace

TEST_F(KeyCommandTest, KeysClimbFromTheFirstResponderThroughControllers) {
    std::vector<std::string> log;
    auto outer = std::make_shared<Commanded>();
    auto screen = std::make_shared<Commanded>();
    auto inner = std::make_shared<Commanded>();
    window->addSubview(outer);
    outer->addSubview(screen);
    screen->addSubview(inner);
    Controller controller;
    controller.view = screen.get();
    screen->setOwnerController(&controller);

    outer->commands = {KeyCommand::make("q", 0, [&](const KeyCommand&) { log.push_back("outer q"); }),
                       KeyCommand::make("n", 0, [&](const KeyCommand&) { log.push_back("outer n"); })};
    controller.commands = {KeyCommand::make("n", 0, [&](const KeyCommand&) { log.push_back("controller n"); })};
    inner->commands = {KeyCommand::make(KeyInput::leftArrow, KeyModifierShift,
                                        [&](const KeyCommand& k) { log.push_back("inner shift-left " + k.input); })};
    ui::test::Driver driver(*window);

    EXPECT_FALSE(driver.key("n"));  // no first responder: the window's chain has no such command
    ASSERT_TRUE(inner->becomeFirstResponder());
    EXPECT_TRUE(driver.key("n"));
    EXPECT_TRUE(driver.key("q"));
    EXPECT_FALSE(driver.key(KeyInput::leftArrow));                                 // modifiers must match
    EXPECT_TRUE(driver.key(KeyInput::leftArrow, KeyModifierShift | KeyModifierAlphaShift));  // caps lock ignored
    EXPECT_EQ(log, (std::vector<std::string>{"controller n", "outer q", "inner shift-left LeftArrow"}));

    // A command whose action removes the responders it came from is safe.
    inner->commands = {KeyCommand::make("x", 0, [&](const KeyCommand&) { outer->removeFromSuperview(); })};
    EXPECT_TRUE(driver.key("x"));
    EXPECT_EQ(Responder::firstResponder(), nullptr);
    screen->setOwnerController(nullptr);
}

TEST_F(KeyCommandTest, AnEditingTextFieldTypesBeforeCommandsButLetsOthersThrough) {
    std::vector<std::string> log;
    auto screen = std::make_shared<Commanded>();
    screen->setFrame(window->bounds());
    window->addSubview(screen);
    auto field = std::make_shared<TextField>(Rect(10, 10, 200, 30));
    screen->addSubview(field);
    screen->commands = {KeyCommand::make("a", 0, [&](const KeyCommand&) { log.push_back("a"); }),
                        KeyCommand::make(KeyInput::upArrow, 0, [&](const KeyCommand&) { log.push_back("up"); }),
                        KeyCommand::make(KeyInput::escape, 0, [&](const KeyCommand&) { log.push_back("esc"); })};
    ui::test::Driver driver(*window);
    ASSERT_TRUE(screen->becomeFirstResponder());
    driver.key("a");
    EXPECT_EQ(log, (std::vector<std::string>{"a"}));
    driver.tap(*field);
    driver.key("a");
    driver.key(KeyInput::upArrow);
    // Escape first leaves a field holding text, which it keeps; from an
    // empty one it goes on to the screen at once.
    driver.key(KeyInput::escape);
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(field->text(), "a");
    EXPECT_EQ(log, (std::vector<std::string>{"a", "up"}));
    field->setText("");
    driver.tap(*field);
    driver.key(KeyInput::escape);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "up", "esc"}));
}
