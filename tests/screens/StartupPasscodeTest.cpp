#include "tests/library/LibraryTestSupport.h"

#include "foundation/QNKeyChain.h"
#include "platform/core/Keychain.h"
#include "platform/ui/NavigationController.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "tests/support/TestHome.h"

#include <filesystem>

using librarytest::LibraryTest;

namespace {

class StartupPasscodeTest : public LibraryTest {
protected:
    void TearDown() override {
        sys::Keychain::setShared(nullptr);
        LibraryTest::TearDown();
    }
    std::shared_ptr<StartupPasscodeInputViewController> showLock() {
        auto nav = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
        window->setRootViewController(nav);
        auto lock = std::make_shared<StartupPasscodeInputViewController>();
        nav->present(lock, false);
        driver->advance(0.5);
        return lock;
    }
    static void storePassphrase(const std::string& phrase) {
        ASSERT_TRUE(QNKeyChain::addOrUpdatePassword(BookCommon::passcodeToHash(phrase),
                                                    StartupPasscodeInputViewController::kKeychainAccount,
                                                    StartupPasscodeInputViewController::kKeychainService));
    }
};

TEST_F(StartupPasscodeTest, OnlyTheStoredPassphraseOpensTheLock) {
    sys::Keychain::setShared(sys::Keychain::inMemory());
    EXPECT_FALSE(StartupPasscodeInputViewController::isPassphraseStored());
    storePassphrase("open sesame");
    EXPECT_TRUE(StartupPasscodeInputViewController::isPassphraseStored());
    auto lock = showLock();
    EXPECT_FALSE(lock->submit("open sesam"));
    EXPECT_EQ(lock->messageLabel()->text(), "Incorrect passphrase.");
    // Escape leaves the keys with the field: nothing else on the lock takes them.
    driver->type("open sesame");
    driver->key(ui::KeyInput::escape);
    driver->pressReturn();
    driver->advance(0.5);
    EXPECT_FALSE(window->rootViewController()->presentedViewController()) << "the lock stays up";
}

// A store that cannot answer (a locked secret store, an unreadable file) may
// hold the pass-phrase: the lock stays up and says why it cannot open.
TEST_F(StartupPasscodeTest, AStoreThatCannotAnswerKeepsTheLockUp) {
    test::TempDir dir("keys");
    std::filesystem::create_directories(dir.file("keychain.txt"));  // not a readable file
    sys::Keychain::setShared(sys::Keychain::atPath(dir.file("keychain.txt")));
    std::string value;
    EXPECT_EQ(QNKeyChain::lookupPasswordWithAccount(StartupPasscodeInputViewController::kKeychainAccount,
                                                    StartupPasscodeInputViewController::kKeychainService, &value),
              QNKeyChain::Lookup::Unavailable);
    EXPECT_TRUE(StartupPasscodeInputViewController::isPassphraseStored());
    auto lock = showLock();
    EXPECT_FALSE(lock->submit("anything"));
    EXPECT_EQ(lock->messageLabel()->text(), "The password store is locked. Unlock it and try again.");
}

}  // namespace
