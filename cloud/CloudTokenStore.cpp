#include "cloud/CloudTokenStore.h"

#include "cloud/HttpEasy.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <cctype>

#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

// Refreshes of one store are one at a time: services that rotate refresh
// tokens (Box) refuse the second of two refreshes with the same token.
std::mutex& refreshMutex() {
    static std::mutex m;
    return m;
}

std::optional<std::string> storedRefreshToken(CloudService s, const std::string& key) {
    auto t = CloudTokenStore::load(s, key);
    if (!t || t->refresh.empty()) return std::nullopt;
    return t->refresh;
}

// Forgets the account's tokens only while `refresh` is still the stored
// refresh token: a refresh that lost a race must not erase the winner's.
void removeIfRefresh(CloudService s, const std::string& key, const std::string& refresh) {
    if (storedRefreshToken(s, key) == refresh) CloudTokenStore::remove(s, key);
}

std::string refreshForm(CloudService s, const std::string& refresh) {
    const CloudEndpoints e = CloudEndpoints::forService(s);
    std::string form = "grant_type=refresh_token&refresh_token=" + CloudTokenStore::formEncode(refresh) +
                       "&client_id=" + CloudTokenStore::formEncode(e.clientID);
    if (const std::string secret = CloudEndpoints::clientSecret(s); !secret.empty())
        form += "&client_secret=" + CloudTokenStore::formEncode(secret);
    return form;
}

}  // namespace

std::string CloudTokenStore::keychainService(CloudService s) { return std::string(CloudEndpoints::name(s)) + ".auth"; }

std::optional<CloudToken> CloudTokenStore::load(CloudService s, const std::string& key) {
    auto v = QNKeyChain::getPasswordWithAccount(key, keychainService(s));
    if (!v || v->empty()) return std::nullopt;
    CloudToken t;
    json j = json::parse(*v, nullptr, false);
    if (!j.is_object()) {
        // A bare token, as an older sign-in stored it.
        t.access = *v;
        return t;
    }
    if (auto it = j.find("access_token"); it != j.end() && it->is_string()) t.access = *it;
    if (auto it = j.find("refresh_token"); it != j.end() && it->is_string()) t.refresh = *it;
    if (auto it = j.find("expires_at"); it != j.end() && it->is_number_integer()) t.expiresAt = *it;
    if (t.access.empty() && t.refresh.empty()) return std::nullopt;
    return t;
}

bool CloudTokenStore::save(CloudService s, const std::string& key, const CloudToken& t) {
    json j = {{"access_token", t.access}, {"refresh_token", t.refresh}, {"expires_at", t.expiresAt}};
    return QNKeyChain::addOrUpdatePassword(j.dump(), key, keychainService(s));
}

void CloudTokenStore::remove(CloudService s, const std::string& key) {
    QNKeyChain::deletePasswordWithAccount(key, keychainService(s));
}

std::optional<std::string> CloudTokenStore::validAccessToken(CloudService s, const std::string& key, int margin) {
    auto t = load(s, key);
    if (!t || t->access.empty()) return std::nullopt;
    if (t->expiresAt != 0 && t->expiresAt - margin <= int64_t(std::time(nullptr))) {
        if (t->expiresAt <= int64_t(std::time(nullptr))) {
            t->access.clear();
            if (t->refresh.empty()) {
                remove(s, key);
            } else {
                save(s, key, *t);
            }
        }
        return std::nullopt;
    }
    return t->access;
}

std::optional<CloudToken> CloudTokenStore::fromTokenAnswer(const std::string& body, const std::string& previousRefresh,
                                                           std::string* error) {
    json j = json::parse(body, nullptr, false);
    if (!j.is_object()) {
        *error = "The token answer is not JSON.";
        return std::nullopt;
    }
    auto at = j.find("access_token");
    if (at == j.end() || !at->is_string() || at->get<std::string>().empty()) {
        auto e = j.find("error_description");
        if (e == j.end() || !e->is_string()) e = j.find("error");
        *error = e != j.end() && e->is_string() ? e->get<std::string>() : "No access token was given.";
        return std::nullopt;
    }
    CloudToken t;
    t.access = *at;
    auto rt = j.find("refresh_token");
    t.refresh = rt != j.end() && rt->is_string() ? rt->get<std::string>() : previousRefresh;
    if (auto ex = j.find("expires_in"); ex != j.end() && ex->is_number() && ex->get<double>() > 0) {
        // A lifetime beyond ten years (or beyond any number) is taken as ten years.
        const double lifetime = std::min(ex->get<double>(), 10.0 * 365 * 24 * 3600);
        t.expiresAt = int64_t(std::time(nullptr)) + int64_t(lifetime);
    }
    return t;
}

std::string CloudTokenStore::formEncode(const std::string& text) { return sys::PercentEncoding::encode(text); }

HttpRequest CloudTokenStore::tokenRequest(CloudService s, const std::string& form) {
    HttpRequest req;
    req.method = "POST";
    req.url = CloudEndpoints::forService(s).tokenURL;
    req.body = form;
    req.setHeader("Content-Type", "application/x-www-form-urlencoded");
    req.setHeader("Accept", "application/json");
    req.maxRedirects = 0;
    return req;
}

void CloudTokenStore::refresh(CloudService s, const std::string& key, RefreshDone done) {
    auto refresh = storedRefreshToken(s, key);
    if (!refresh) {
        sys::RunLoop::main().post([done] { done(std::nullopt, "No refresh token is stored."); });
        return;
    }
    auto op = std::make_shared<QNHTTPRequestOperation>(tokenRequest(s, refreshForm(s, *refresh)));
    op->setCollectBody(kMaxAnswerBytes);
    const std::string old = *refresh;
    // The operation keeps itself alive through its own completion.
    op->setCompletion([s, key, old, done, op](const HttpResponse& r) mutable {
        op.reset();
        std::string error;
        std::optional<CloudToken> t;
        if (!r.ok()) {
            error = r.errorMessage;
        } else {
            t = fromTokenAnswer(r.body, old, &error);
        }
        if (!t) {
            // Another refresh may have rotated the token meanwhile: its
            // result stands.
            if (auto renewed = validAccessToken(s, key); renewed && storedRefreshToken(s, key) != old) {
                done(renewed, "");
                return;
            }
            // A refused refresh token is of no further use; a network
            // failure leaves it for the next try.
            if (r.ok() && r.status >= 400 && r.status < 500) removeIfRefresh(s, key, old);
            done(std::nullopt, error);
            return;
        }
        save(s, key, *t);
        done(t->access, "");
    });
    op->start();
}

std::optional<std::string> CloudTokenStore::refreshNow(CloudService s, const std::string& key,
                                                       const std::atomic<bool>* stop, const std::string& refused) {
    std::lock_guard lock(refreshMutex());
    // Another thread may have refreshed while this one waited.
    if (auto fresh = validAccessToken(s, key); fresh && *fresh != refused) return fresh;
    auto refresh = storedRefreshToken(s, key);
    if (!refresh) return std::nullopt;
    HttpEasy easy;
    easy.prepare(tokenRequest(s, refreshForm(s, *refresh)), {}, {}, {}, kMaxAnswerBytes);
    HttpResponse r = easy.perform(stop);
    if (!r.ok()) return std::nullopt;
    std::string error;
    auto t = fromTokenAnswer(r.body, *refresh, &error);
    if (!t) {
        if (r.status >= 400 && r.status < 500) removeIfRefresh(s, key, *refresh);
        return std::nullopt;
    }
    save(s, key, *t);
    return t->access;
}
