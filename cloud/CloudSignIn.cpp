#include "cloud/CloudSignIn.h"

#include "cloud/CloudClient.h"
#include "cloud/CloudJson.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/RunLoop.h"
#include "foundation/BookCommonText.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

static_assert(CloudSignIn::kTimeout == 5 * 60, "the timed-out text names the time");

std::shared_ptr<CloudSignIn>& pending() {
    static std::shared_ptr<CloudSignIn> p;
    return p;
}

std::string base64url(const unsigned char* data, size_t n) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    for (size_t i = 0; i < n; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (i + 1 < n) v |= uint32_t(data[i + 1]) << 8;
        if (i + 2 < n) v |= data[i + 2];
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        if (i + 1 < n) out += a[(v >> 6) & 63];
        if (i + 2 < n) out += a[v & 63];
    }
    return out;
}

std::string randomToken(size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), int(bytes)) != 1) return {};
    return base64url(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

// The value of one query parameter, decoded; nothing when absent.
std::optional<std::string> queryValue(const std::string& url, const std::string& name) {
    size_t q = url.find('?');
    if (q == std::string::npos) return std::nullopt;
    std::string query = url.substr(q + 1);
    if (size_t h = query.find('#'); h != std::string::npos) query.resize(h);
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t amp = query.find('&', pos);
        if (amp == std::string::npos) amp = query.size();
        std::string pair = query.substr(pos, amp - pos);
        size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) {
            std::string v = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
            for (char& c : v) {
                if (c == '+') c = ' ';
            }
            return sys::PercentEncoding::decode(v);
        }
        pos = amp + 1;
    }
    return std::nullopt;
}

constexpr const char* kPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Leafbright</title></head>"
    "<body><p>Leafbright has the answer. This window can be closed.</p></body></html>";

}  // namespace

CloudSignIn::CloudSignIn(std::shared_ptr<CloudClient> client) : client_(std::move(client)) {}

CloudSignIn::~CloudSignIn() {
    stopListener();
    if (op_) op_->cancel();
}

std::string CloudSignIn::makeVerifier() { return randomToken(32); }

std::string CloudSignIn::challengeFor(const std::string& verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return base64url(digest, sizeof digest);
}

std::string CloudSignIn::pendingAuthorizationURL() { return pending() ? pending()->authorizationURL_ : std::string(); }
std::string CloudSignIn::pendingRedirectURI() { return pending() ? pending()->redirectURI_ : std::string(); }

ui::AlertController* CloudSignIn::pendingNotice() { return pending() ? pending()->notice_.get() : nullptr; }

void CloudSignIn::begin(const std::shared_ptr<CloudClient>& client, ui::NavigationController* navigationController) {
    cancelPending();
    std::shared_ptr<CloudSignIn> s(new CloudSignIn(client));
    pending() = s;
    if (!s->start()) {
        s->finish(std::string(kNotStarted), "");
        return;
    }
    if (navigationController && pending() == s) {
        ui::ViewController* top = navigationController->visibleViewController();
        if (!top) top = navigationController;
        s->notice_ = ui::AlertController::make(
            std::nullopt, BookCommonText::localizedStringWithOnOff("Continue signing in in your web browser."),
            ui::AlertControllerStyle::Alert);
        std::weak_ptr<CloudSignIn> weak = s;
        s->notice_->addAction(ui::AlertAction::make(
            BookCommonText::localizedStringWithOnOff("Cancel"), ui::AlertActionStyle::Cancel, [weak](ui::AlertAction&) {
                if (auto self = weak.lock()) {
                    self->notice_.reset();  // the alert goes away by itself
                    self->finish(std::string(kCancelled), "");
                }
            }));
        top->present(s->notice_, true);
    }
}

void CloudSignIn::cancelPending() {
    if (auto p = pending()) p->finish(std::string(kCancelled), "");
}

bool CloudSignIn::start() {
    verifier_ = makeVerifier();
    state_ = randomToken(16);
    if (verifier_.empty() || state_.empty()) return false;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::pipe2(wakeFd_, O_CLOEXEC) != 0) {
        return false;
    }
    redirectURI_ = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";
    const CloudEndpoints e = CloudEndpoints::forService(client_->service());
    authorizationURL_ = e.authURL + (e.authURL.find('?') == std::string::npos ? "?" : "&") +
                        "response_type=code&client_id=" + CloudTokenStore::formEncode(e.clientID) +
                        "&redirect_uri=" + CloudTokenStore::formEncode(redirectURI_) +
                        "&code_challenge=" + challengeFor(verifier_) + "&code_challenge_method=S256&state=" + state_;
    if (!e.scope.empty()) authorizationURL_ += "&scope=" + CloudTokenStore::formEncode(e.scope);
    authorizationURL_ += client_->extraAuthorizeParameters();

    listener_ = std::thread([this] { listen(); });
    std::weak_ptr<CloudSignIn> weak = weak_from_this();
    sys::RunLoop::main().schedule(kTimeout, [weak] {
        if (auto self = weak.lock()) self->finish(std::string(kTimedOut), "");
    });
    ui::Application::shared().openURL(authorizationURL_, [weak](bool opened) {
        auto self = weak.lock();
        if (self && !opened) self->finish(std::string(kNoBrowser), "");
    });
    return true;
}

// Listener thread: answers every request with a short page and hands each
// request's address to the main thread until the sign-in has its code.
void CloudSignIn::listen() {
    std::weak_ptr<CloudSignIn> weak = weak_from_this();
    const std::string base = redirectURI_.substr(0, redirectURI_.size() - 1);
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // A browser sends the request line at once; a peer that sends
        // nothing within a few seconds or too much is dropped.
        std::string request;
        char buf[2048];
        while (request.find("\r\n") == std::string::npos && request.size() < 16384) {
            pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
            if (::poll(p, 2, 5000) <= 0 || p[1].revents) break;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, size_t(n));
        }
        std::string target;
        if (request.compare(0, 4, "GET ") == 0) {
            size_t end = request.find(' ', 4);
            if (end != std::string::npos && end < request.find("\r\n")) target = request.substr(4, end - 4);
        }
        const std::string body = target.empty() ? std::string() : kPage;
        const std::string answer = (target.empty() ? std::string("HTTP/1.1 400 Bad Request\r\n")
                                                   : std::string("HTTP/1.1 200 OK\r\n")) +
                                   "Content-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        // The redirect is handed on before the browser hears back, so whoever
        // waits for the page (a test playing the browser) finds it queued.
        if (!target.empty() && target[0] == '/') {
            const std::string url = base + target;
            sys::RunLoop::main().post([url] { CloudSignIn::handleRedirect(url); });
        }
        (void)!::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(fd);
    }
}

void CloudSignIn::stopListener() {
    if (wakeFd_[1] >= 0) (void)!::write(wakeFd_[1], "x", 1);
    if (listener_.joinable()) listener_.join();
    for (int* fd : {&listenFd_, &wakeFd_[0], &wakeFd_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

bool CloudSignIn::handleRedirect(const std::string& url) {
    auto self = pending();
    if (!self || self->redirectURI_.empty() || url.compare(0, self->redirectURI_.size(), self->redirectURI_) != 0) {
        return false;
    }
    // Requests without this sign-in's state (a favicon, another page) are
    // not its answer.
    if (queryValue(url, "state") != self->state_ || self->codeTaken_) return true;
    if (auto error = queryValue(url, "error")) {
        auto description = queryValue(url, "error_description");
        self->finish(description && !description->empty() ? *description : *error, "");
        return true;
    }
    auto code = queryValue(url, "code");
    if (!code || code->empty()) return true;
    self->codeTaken_ = true;
    self->exchangeCode(*code);
    return true;
}

void CloudSignIn::exchangeCode(const std::string& code) {
    const CloudService service = client_->service();
    const CloudEndpoints e = CloudEndpoints::forService(service);
    std::string form = "grant_type=authorization_code&code=" + CloudTokenStore::formEncode(code) +
                       "&redirect_uri=" + CloudTokenStore::formEncode(redirectURI_) +
                       "&client_id=" + CloudTokenStore::formEncode(e.clientID) +
                       "&code_verifier=" + CloudTokenStore::formEncode(verifier_);
    if (const std::string secret = CloudEndpoints::clientSecret(service); !secret.empty())
        form += "&client_secret=" + CloudTokenStore::formEncode(secret);
    op_ = std::make_shared<QNHTTPRequestOperation>(CloudTokenStore::tokenRequest(service, form));
    op_->setCollectBody(CloudTokenStore::kMaxAnswerBytes);
    std::weak_ptr<CloudSignIn> weak = weak_from_this();
    op_->setCompletion([weak, service](const HttpResponse& r) {
        auto self = weak.lock();
        if (!self) return;
        self->op_.reset();
        std::string error;
        auto token = r.ok() ? CloudTokenStore::fromTokenAnswer(r.body, "", &error) : std::nullopt;
        if (!token) {
            self->finish(r.ok() ? error : r.errorMessage, "");
            return;
        }
        if (!CloudTokenStore::save(service, self->client_->keychainItemName(), *token)) {
            self->finish(std::string(kTokensNotKept), "");
            return;
        }
        self->askAccount(token->access);
    });
    op_->start();
}

void CloudSignIn::askAccount(const std::string& token) {
    HttpRequest req = client_->accountRequest();
    req.setHeader("Authorization", "Bearer " + token);
    op_ = std::make_shared<QNHTTPRequestOperation>(req);
    op_->setCollectBody(CloudTokenStore::kMaxAnswerBytes);
    std::weak_ptr<CloudSignIn> weak = weak_from_this();
    op_->setCompletion([weak](const HttpResponse& r) {
        auto self = weak.lock();
        if (!self) return;
        self->op_.reset();
        // The tokens work without a name; a failed question leaves it empty.
        std::string name;
        if (r.ok() && r.status == 200) {
            if (auto answer = CloudJson::parseObject(r.body)) name = self->client_->accountName(*answer);
        }
        self->finish(std::nullopt, name);
    });
    op_->start();
}

void CloudSignIn::finish(const std::optional<std::string>& error, const std::string& name) {
    if (finished_) return;
    finished_ = true;
    auto keep = shared_from_this();
    if (pending() == keep) pending().reset();
    stopListener();
    if (op_) op_->cancel();
    op_.reset();
    if (notice_) {
        if (notice_->presentingViewController()) notice_->dismiss(true);
        notice_.reset();
    }
    auto client = client_;
    if (auto d = client->delegate()) d->finishAuthorization(*client, error, name);
}
