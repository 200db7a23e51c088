#include "cloud/CloudSignIn.h"

#include "cloud/GoogleDriveAPI.h"
#include "cloud/HttpEasy.h"
#include "cloud/CloudTokenStore.h"
#include "cloud/OneDriveCommon.h"
#include "platform/core/Keychain.h"
#include "platform/core/PercentEncoding.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/RecordingURLOpener.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/CloudApiEmulator.h"
#include "tests/support/net/ServerProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Answers : CloudClientDelegate {
    void finishAuthorization(CloudClient&, const std::optional<std::string>& e, const std::string& n) override {
        ++count;
        error = e;
        name = n;
    }
    void didFinishRecieveFileList(CloudClient&, CloudTicket&, const std::optional<std::vector<sys::PlistDictionary>>&,
                                  bool, const std::optional<std::string>&) override {}
    int count = 0;
    std::optional<std::string> error;
    std::string name;
};

std::string param(const std::string& url, const std::string& name) {
    size_t p = url.find("&" + name + "=");
    if (p == std::string::npos) p = url.find("?" + name + "=");
    if (p == std::string::npos) return {};
    p += name.size() + 2;
    return sys::PercentEncoding::decode(url.substr(p, url.find('&', p) - p));
}

bool portOpen(int port) { return test::ServerProcess::canConnect(port); }

class CloudSignInTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        sys::Keychain::setShared(sys::Keychain::inMemory());
        opener_ = ui::RecordingURLOpener::install();
        ASSERT_TRUE(api_.start());
        api_.useForAllServices();
        api_.setAccountName("reader@example.com");
    }
    void TearDown() override {
        CloudSignIn::cancelPending();
        VirtualClockTest::TearDown();
        test::CloudApiEmulator::forgetServiceSettings();
        sys::Keychain::setShared(nullptr);
    }
    std::shared_ptr<GoogleDriveAPI> drive(const std::shared_ptr<Answers>& answers, const std::string& key = "g") {
        auto c = std::make_shared<GoogleDriveAPI>(key);
        c->setDelegate(answers);
        return c;
    }
    // The service's answer to the browser: where it sends it back.
    std::string serviceRedirect(const std::string& page) {
        HttpEasy easy;
        HttpRequest req;
        req.url = page;
        req.maxRedirects = 0;
        easy.prepare(req);
        HttpResponse r = easy.perform();
        EXPECT_EQ(r.status, 302);
        return r.header("location");
    }

    std::shared_ptr<ui::RecordingURLOpener> opener_;
    test::CloudApiEmulator api_;
};

TEST_F(CloudSignInTest, TheRedirectHandedInByTheApplicationCompletesTheSignIn) {
    auto answers = std::make_shared<Answers>();
    auto client = drive(answers);
    EXPECT_FALSE(client->checkForAuthorization(nullptr));
    ASSERT_EQ(opener_->opened.size(), 1u);
    const std::string page = opener_->opened[0];
    EXPECT_EQ(page, CloudSignIn::pendingAuthorizationURL());
    EXPECT_EQ(param(page, "client_id"), "leafbright-test");
    EXPECT_EQ(param(page, "code_challenge_method"), "S256");
    const std::string redirect = param(page, "redirect_uri");
    ASSERT_EQ(redirect, CloudSignIn::pendingRedirectURI());
    ASSERT_EQ(redirect.rfind("http://127.0.0.1:", 0), 0u);
    const int port = std::stoi(redirect.substr(17));
    EXPECT_TRUE(portOpen(port));

    // Other addresses, and this address without the sign-in's state, are
    // not its answer.
    EXPECT_FALSE(GoogleDriveAPI::checkGoogleRedirect("https://example.com/?code=1&state=" + param(page, "state")));
    EXPECT_TRUE(GoogleDriveAPI::checkGoogleRedirect(redirect + "?code=forged&state=guess"));
    advance(1);
    EXPECT_EQ(answers->count, 0);

    const std::string back = serviceRedirect(page);
    ASSERT_EQ(back.rfind(redirect, 0), 0u) << back;
    EXPECT_TRUE(GoogleDriveAPI::checkGoogleRedirect(back));
    ASSERT_TRUE(loop().runUntil([&] { return answers->count > 0; }, 30));
    EXPECT_FALSE(answers->error) << *answers->error;
    EXPECT_EQ(answers->name, "reader@example.com");
    EXPECT_TRUE(GoogleDriveAPI::getTokenWithKeychainItemName("g"));
    EXPECT_TRUE(client->checkForAuthorization(nullptr));
    EXPECT_FALSE(portOpen(port)) << "the listener is closed";
    EXPECT_FALSE(GoogleDriveAPI::checkGoogleRedirect(back)) << "nothing pending any more";
    advance(1);
    EXPECT_EQ(answers->count, 1);
}

TEST_F(CloudSignInTest, RefusalsReplacedSignInsTimeoutsAndABadVerifier) {
    // The user says no on the service's page.
    auto refused = std::make_shared<Answers>();
    drive(refused)->checkForAuthorization(nullptr);
    const std::string redirect = CloudSignIn::pendingRedirectURI();
    const std::string state = param(opener_->opened.back(), "state");
    EXPECT_TRUE(GoogleDriveAPI::checkGoogleRedirect(redirect + "?error=access_denied&state=" + state));
    EXPECT_EQ(refused->count, 1);
    EXPECT_EQ(refused->error, "access_denied");
    EXPECT_FALSE(CloudTokenStore::load(CloudService::GoogleDrive, "g"));

    // A second sign-in ends the first.
    auto first = std::make_shared<Answers>(), second = std::make_shared<Answers>();
    auto a = drive(first, "a");
    auto b = std::make_shared<OneDriveCommon>("b");
    b->setDelegate(second);
    a->checkForAuthorization(nullptr);
    b->checkForAuthorization(nullptr);
    EXPECT_EQ(first->count, 1);
    EXPECT_TRUE(first->error);
    EXPECT_EQ(second->count, 0);

    // A sign-in left open ends by itself.
    advance(CloudSignIn::kTimeout + 1);
    EXPECT_EQ(second->count, 1);
    EXPECT_TRUE(second->error);

    // A code whose verifier does not match (as when the redirect was
    // replayed into another sign-in) gets no tokens.
    auto replay = std::make_shared<Answers>();
    drive(replay, "r")->checkForAuthorization(nullptr);
    const std::string page = opener_->opened.back();
    std::string back = serviceRedirect(page);
    CloudSignIn::cancelPending();
    auto victim = std::make_shared<Answers>();
    drive(victim, "v")->checkForAuthorization(nullptr);
    const std::string newState = param(opener_->opened.back(), "state");
    const std::string code = param(back, "code");
    EXPECT_TRUE(GoogleDriveAPI::checkGoogleRedirect(CloudSignIn::pendingRedirectURI() + "?code=" + code +
                                                    "&state=" + newState));
    ASSERT_TRUE(loop().runUntil([&] { return victim->count > 0; }, 30));
    EXPECT_TRUE(victim->error);
    EXPECT_FALSE(CloudTokenStore::load(CloudService::GoogleDrive, "v"));
}

TEST_F(CloudSignInTest, TheNoticeOverTheListCancelsTheSignInAndGoesAwayAtTheEnd) {
    auto window = std::make_shared<ui::Window>();
    window->makeKeyAndVisible();
    auto driver = std::make_unique<ui::test::Driver>(*window);
    auto nav = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
    window->setRootViewController(nav);
    driver->settle();

    // Cancelled from the notice: the client hears an error, the listener closes.
    auto cancelled = std::make_shared<Answers>();
    drive(cancelled, "c")->checkForAuthorization(nav.get());
    driver->advance(1.0);
    auto* notice = dynamic_cast<ui::AlertController*>(nav->presentedViewController());
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice, CloudSignIn::pendingNotice());
    ASSERT_EQ(notice->actions().size(), 1u);
    notice->choose(notice->actions()[0]);
    driver->advance(1.0);
    EXPECT_EQ(cancelled->count, 1);
    EXPECT_TRUE(cancelled->error);
    EXPECT_FALSE(nav->presentedViewController());
    EXPECT_TRUE(CloudSignIn::pendingRedirectURI().empty());

    // Finished in the browser: the notice goes away by itself.
    auto done = std::make_shared<Answers>();
    drive(done, "d")->checkForAuthorization(nav.get());
    driver->advance(1.0);
    ASSERT_TRUE(nav->presentedViewController());
    EXPECT_TRUE(GoogleDriveAPI::checkGoogleRedirect(serviceRedirect(opener_->opened.back())));
    ASSERT_TRUE(loop().runUntil([&] { return done->count > 0; }, 30));
    EXPECT_FALSE(done->error);
    driver->advance(1.0);
    EXPECT_FALSE(nav->presentedViewController());

    // Ended while the notice still comes in (no browser to open): it goes
    // away with the sign-in, with no Cancel left to press.
    opener_->failOpen = true;
    auto noBrowser = std::make_shared<Answers>();
    drive(noBrowser, "n")->checkForAuthorization(nav.get());
    driver->advance(1.0);
    EXPECT_EQ(noBrowser->count, 1);
    EXPECT_TRUE(noBrowser->error);
    EXPECT_FALSE(nav->presentedViewController());
    EXPECT_FALSE(CloudSignIn::pendingNotice());

    window->setRootViewController(nullptr);
}

TEST_F(CloudSignInTest, TwoRefreshesAtOnceWithARotatingServiceKeepTheWinnersTokens) {
    // The service accepts each refresh token once; the refresh that loses
    // the race must not erase what the winner stored.
    for (int round = 0; round < 5; ++round) {
        const std::string refresh = "r" + std::to_string(round);
        api_.addTokens("unused", refresh);
        CloudTokenStore::save(CloudService::Box, "k", {"", refresh, 0});
        int answers = 0, tokens = 0;
        for (int i = 0; i < 2; ++i) {
            CloudTokenStore::refresh(CloudService::Box, "k", [&](std::optional<std::string> t, std::string) {
                ++answers;
                tokens += t ? 1 : 0;
            });
        }
        ASSERT_TRUE(loop().runUntil([&] { return answers == 2; }, 30));
        EXPECT_GE(tokens, 1);
        auto stored = CloudTokenStore::load(CloudService::Box, "k");
        ASSERT_TRUE(stored) << "round " << round;
        EXPECT_FALSE(stored->access.empty());
        EXPECT_NE(stored->refresh, refresh);
    }
}

}  // namespace
