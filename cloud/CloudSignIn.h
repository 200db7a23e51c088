#pragma once

#include "cloud/CloudTokenStore.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class CloudClient;
class QNHTTPRequestOperation;
namespace ui {
class AlertController;
class NavigationController;
}  // namespace ui

// Signing in to a cloud account as desktop programs do: the service's page
// opens in the system browser (the application's URL opener), asking for an
// authorization code with a PKCE challenge; the browser comes back to a
// listener on 127.0.0.1 at a port chosen for this sign-in, whose request
// hands over the code; the code and the verifier are traded for tokens,
// which go to the key chain, and the account's name is asked for. The
// client's delegate hears the outcome (finishAuthorization), on the main
// thread. One sign-in is pending at a time; a new one ends the old one with
// an error. Given a navigation controller, a notice over it says where the
// sign-in goes on, with a button that cancels it; it goes away at the end.
// Main thread only.
class CloudSignIn : public std::enable_shared_from_this<CloudSignIn> {
public:
    // A sign-in nobody finishes in the browser (a browser that never came
    // up, a page left open) is given up after this long, with kTimedOut.
    static constexpr double kTimeout = 300;

    // Why a sign-in ended without an account (keys of the language tables);
    // a service's refusal is said in its own words instead.
    static constexpr const char* kNotStarted = "The sign-in could not be started.";
    static constexpr const char* kCancelled = "The sign-in was cancelled.";
    static constexpr const char* kTimedOut = "The sign-in was not finished in the web browser within 5 minutes.";
    static constexpr const char* kNoBrowser = "The web browser could not be opened.";
    static constexpr const char* kTokensNotKept = "The key chain did not take the account's tokens.";

    static void begin(const std::shared_ptr<CloudClient>& client, ui::NavigationController* navigationController);
    // Hands a redirect to the pending sign-in: true when it was its redirect
    // (the sign-in then goes on or ends), false for any other URL.
    static bool handleRedirect(const std::string& url);
    // Ends the pending sign-in with an error.
    static void cancelPending();
    // The pending sign-in's browser address and redirect address ("" when none).
    static std::string pendingAuthorizationURL();
    static std::string pendingRedirectURI();

    // The notice of the pending sign-in (null when none is shown).
    static ui::AlertController* pendingNotice();

    // PKCE: a verifier of 43 unreserved characters and its S256 challenge.
    static std::string makeVerifier();
    static std::string challengeFor(const std::string& verifier);

    ~CloudSignIn();

private:
    explicit CloudSignIn(std::shared_ptr<CloudClient> client);
    bool start();
    void listen();
    void exchangeCode(const std::string& code);
    void askAccount(const std::string& token);
    void finish(const std::optional<std::string>& error, const std::string& name);
    void stopListener();

    std::shared_ptr<CloudClient> client_;
    std::string verifier_, state_, redirectURI_, authorizationURL_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    std::thread listener_;
    std::shared_ptr<QNHTTPRequestOperation> op_;
    std::shared_ptr<ui::AlertController> notice_;
    bool codeTaken_ = false;
    bool finished_ = false;
};
