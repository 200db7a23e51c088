#include "remote/screens/ShowHttpAuth.h"

#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Button.h"
#include "platform/ui/Pasteboard.h"
#include "tests/foundation/ui/ToolkitTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct Answer : ShowHttpAuthDelegate {
    void onFinishInput(const std::string& u, const std::optional<std::string>& user,
                       const std::optional<std::string>& password, bool stored) override {
        ++count;
        url = u;
        userName = user;
        this->password = password;
        isStored = stored;
    }
    int count = 0;
    std::string url;
    std::optional<std::string> userName, password;
    bool isStored = false;
};

constexpr const char* kURL = "http://books.example:8080/shelf/";

class ShowHttpAuthTest : public toolkittest::ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        QNKeyChain::deleteAll();
        sys::UserDefaults::standard().removeObjectForKey(ShowHttpAuth::kRememberPasswordKey);
        answer = std::make_shared<Answer>();
        panel = std::make_shared<ShowHttpAuth>();
    }
    void TearDown() override {
        panel.reset();
        QNKeyChain::deleteAll();
        ToolkitTest::TearDown();
    }
    void ask(bool prevStored = false, bool dontUseStored = false, std::optional<std::string> user = std::nullopt) {
        panel->getUserAuth(kURL, user, prevStored, dontUseStored, answer);
        driver->advance(0.5);
    }
    ui::View* button(const char* title) { return driver->findByText(title); }

    std::shared_ptr<Answer> answer;
    std::shared_ptr<ShowHttpAuth> panel;
};

TEST_F(ShowHttpAuthTest, RememberedCredentialsAnswerWithoutAPanelUntilRefused) {
    QNKeyChain::addOrUpdateAccountWithURL(kURL, "reader", "pw");
    ask();
    EXPECT_FALSE(panel->isShown());
    EXPECT_EQ(answer->count, 1);
    EXPECT_EQ(answer->userName, "reader");
    EXPECT_EQ(answer->password, "pw");
    EXPECT_TRUE(answer->isStored);

    // Not asked to use them: the key chain is neither read nor cleared.
    answer = std::make_shared<Answer>();
    panel = std::make_shared<ShowHttpAuth>();
    ask(false, true);
    EXPECT_TRUE(panel->isShown());
    QNKeyChain::OptString u, p;
    QNKeyChain::getAccountWithURL(kURL, &u, &p);
    EXPECT_EQ(u, "reader");

    // The server refused what the key chain keeps (the client did not know
    // they came from there): forgotten, and the panel asks.
    panel = std::make_shared<ShowHttpAuth>();
    panel->setRefusedCredentials(std::string("reader"), std::string("pw"));
    ask();
    EXPECT_TRUE(panel->isShown());
    u.reset();
    QNKeyChain::getAccountWithURL(kURL, &u, &p);
    EXPECT_FALSE(u);
    EXPECT_EQ(answer->count, 0);

    // The server refused them: they are forgotten and the panel asks.
    QNKeyChain::addOrUpdateAccountWithURL(kURL, "reader", "pw");
    panel = std::make_shared<ShowHttpAuth>();
    ask(true);
    EXPECT_TRUE(panel->isShown());
    u.reset();
    QNKeyChain::getAccountWithURL(kURL, &u, &p);
    EXPECT_FALSE(u);
    EXPECT_EQ(answer->count, 0);
}

TEST_F(ShowHttpAuthTest, EnteredCredentialsAreAnsweredAndRemembered) {
    const size_t observers = BookCommon::globalRotationNotifyObjectCount();
    ask();
    ASSERT_TRUE(panel->isShown());
    EXPECT_EQ(BookCommon::globalRotationNotifyObjectCount(), observers + 1);
    // Centred on the phone's width, 200 points down.
    EXPECT_EQ(panel->inputArea()->frame(), ui::Rect(35, 200, 320, 190));
    ASSERT_TRUE(driver->snapshot(snapshotPath("auth_panel_ask.png")));
    // The window is dimmed around the panel, the panel itself is light.
    EXPECT_LT(pixelAt(10, 10).r + pixelAt(10, 10).g, 60);
    EXPECT_GT(pixelAt(45, 210).r, 200);
    ASSERT_TRUE(button("Enter Password"));
    driver->tap(*button("Enter Password"));
    ASSERT_TRUE(panel->userNameField());
    EXPECT_TRUE(panel->userNameField()->isFirstResponder());
    EXPECT_TRUE(panel->isRememberPassword());
    driver->type("reader");
    driver->pressReturn();
    EXPECT_TRUE(panel->passwordField()->isFirstResponder());
    ASSERT_TRUE(driver->snapshot(snapshotPath("auth_panel_input.png")));
    // A click on a field's name gives it the keyboard; Tab goes on to the
    // password, where the password is typed.
    ASSERT_TRUE(driver->findByText("Username"));
    driver->tap(*driver->findByText("Username"));
    EXPECT_TRUE(panel->userNameField()->isFirstResponder());
    driver->key(ui::KeyInput::tab);
    EXPECT_TRUE(panel->passwordField()->isFirstResponder());
    driver->type("s3cret");
    driver->pressReturn();
    driver->settle();

    EXPECT_FALSE(panel->isShown());
    EXPECT_EQ(BookCommon::globalRotationNotifyObjectCount(), observers);
    EXPECT_EQ(answer->count, 1);
    EXPECT_EQ(answer->url, kURL);
    EXPECT_EQ(answer->userName, "reader");
    EXPECT_EQ(answer->password, "s3cret");
    EXPECT_FALSE(answer->isStored);
    // Not kept before the server has taken it; then for the folder and below.
    QNKeyChain::OptString u, p;
    QNKeyChain::getAccountWithURL(std::string(kURL) + "sub/", &u, &p);
    EXPECT_FALSE(u);
    EXPECT_TRUE(panel->rememberAnswer());
    ShowHttpAuth::rememberAccepted(answer->url, *answer->userName, *answer->password);
    QNKeyChain::getAccountWithURL(std::string(kURL) + "sub/", &u, &p);
    EXPECT_EQ(u, "reader");
    EXPECT_EQ(p, "s3cret");
}

TEST_F(ShowHttpAuthTest, RememberSwitchPersistsAndKeepsTheKeyChainUntouched) {
    ask(false, false, std::string("guest"));
    driver->tap(*button("Enter Password"));
    EXPECT_EQ(panel->userNameField()->text(), "guest");
    EXPECT_TRUE(panel->passwordField()->isFirstResponder()) << "a given user name goes straight to the password";
    driver->tap(*panel->rememberButton());
    EXPECT_FALSE(panel->isRememberPassword());
    driver->type("pw");
    driver->pressReturn();
    driver->settle();
    EXPECT_EQ(answer->userName, "guest");
    EXPECT_FALSE(panel->rememberAnswer());
    QNKeyChain::OptString u, p;
    QNKeyChain::getAccountWithURL(kURL, &u, &p);
    EXPECT_FALSE(u);

    // The next panel starts with the switch as it was left.
    panel = std::make_shared<ShowHttpAuth>();
    ask();
    EXPECT_FALSE(panel->isRememberPassword());
}

TEST_F(ShowHttpAuthTest, CancelByButtonOrByTappingOutsideThePanel) {
    ask();
    // Inside the panel, away from its buttons: nothing.
    ui::Rect area = panel->inputArea()->frame();
    driver->tap(ui::Point{area.x() + 5, area.y() + 5});
    EXPECT_TRUE(panel->isShown());
    EXPECT_EQ(answer->count, 0);
    driver->tap(ui::Point{10, 10});
    EXPECT_FALSE(panel->isShown());
    EXPECT_EQ(answer->count, 1);
    EXPECT_FALSE(answer->userName);
    EXPECT_FALSE(answer->password);

    answer = std::make_shared<Answer>();
    panel = std::make_shared<ShowHttpAuth>();
    ask();
    driver->tap(*button("Cancel"));
    EXPECT_EQ(answer->count, 1);
    EXPECT_FALSE(answer->userName);
    EXPECT_FALSE(panel->isShown());
}

TEST_F(ShowHttpAuthTest, TheKeysAloneAnswerThePanel) {
    // Return asks for the fields; a pasted name, Tab to the password;
    // Escape then cancels, typed text and all.
    ask();
    driver->key(ui::KeyInput::returnKey);
    ASSERT_TRUE(panel->userNameField());
    ui::Pasteboard::setText("reader");
    driver->key("v", ui::KeyModifierControl);
    EXPECT_EQ(panel->userNameField()->text(), "reader");
    driver->key(ui::KeyInput::tab);
    driver->type("pw");
    EXPECT_EQ(panel->passwordField()->text(), "pw");
    driver->key(ui::KeyInput::escape);
    driver->settle();
    EXPECT_FALSE(panel->isShown());
    EXPECT_EQ(answer->count, 1);
    EXPECT_FALSE(answer->userName);

    // The arrows move the highlight to Cancel, which Return presses.
    answer = std::make_shared<Answer>();
    panel = std::make_shared<ShowHttpAuth>();
    ask();
    driver->key(ui::KeyInput::downArrow);
    driver->key(ui::KeyInput::downArrow);
    driver->key(ui::KeyInput::returnKey);
    driver->settle();
    EXPECT_FALSE(panel->isShown());
    EXPECT_EQ(answer->count, 1);
}

TEST_F(ShowHttpAuthTest, ThePanelStaysWholeInTheSmallestWindow) {
    ASSERT_TRUE(window->resize({320, 320}));
    driver->settle();
    ask();
    auto inWindow = [&](const char* title) {
        ui::View* v = button(title);
        const ui::Rect r = v ? v->convertRectTo(v->bounds(), nullptr) : ui::Rect();
        return v && ui::rectUnion(r, window->bounds()) == window->bounds();
    };
    EXPECT_TRUE(inWindow("Cancel"));
    driver->key(ui::KeyInput::returnKey);
    EXPECT_TRUE(inWindow("Remember My Password"));
}

}  // namespace
