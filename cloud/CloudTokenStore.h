#pragma once

#include "cloud/CloudService.h"
#include "cloud/HttpRequest.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// One account's OAuth tokens.
struct CloudToken {
    std::string access;
    std::string refresh;
    // Seconds since 1970; 0 when the service named no lifetime.
    int64_t expiresAt = 0;
};

// The tokens of every signed-in account, in the key chain: service
// "<name>.auth" (googledrive, onedrive, dropbox, box), account = the account
// key, the value a small JSON object. Any thread.
class CloudTokenStore {
public:
    // An access token is not handed out this close to its expiry.
    static constexpr int kExpiryMargin = 300;
    // Token answers and listing pages larger than this are refused.
    static constexpr size_t kMaxAnswerBytes = 8 * 1024 * 1024;

    static std::string keychainService(CloudService service);
    static std::optional<CloudToken> load(CloudService service, const std::string& key);
    static bool save(CloudService service, const std::string& key, const CloudToken& token);
    static void remove(CloudService service, const std::string& key);

    // The stored access token when it stays valid for at least `margin`
    // seconds. An expired one is forgotten, its refresh token kept.
    static std::optional<std::string> validAccessToken(CloudService service, const std::string& key,
                                                       int margin = kExpiryMargin);

    // The token endpoint's answer read into a token; a missing refresh token
    // keeps `previousRefresh`. Nothing (and *error set) when it is no token.
    static std::optional<CloudToken> fromTokenAnswer(const std::string& body, const std::string& previousRefresh,
                                                     std::string* error);
    // A form POST to the service's token endpoint.
    static HttpRequest tokenRequest(CloudService service, const std::string& form);
    static std::string formEncode(const std::string& text);

    // Trades the stored refresh token for a new access token and stores it.
    // `done` runs on the main thread with the token or nothing and a reason.
    using RefreshDone = std::function<void(std::optional<std::string> token, std::string error)>;
    static void refresh(CloudService service, const std::string& key, RefreshDone done);
    // The same, on the calling (worker) thread. A token another thread
    // stored meanwhile is taken instead, unless it is `refused`.
    static std::optional<std::string> refreshNow(CloudService service, const std::string& key,
                                                 const std::atomic<bool>* stop = nullptr,
                                                 const std::string& refused = {});
};
