#include "cloud/CloudService.h"

#include "foundation/QNKeyChain.h"
#include "platform/core/UserDefaults.h"

#include <strings.h>

namespace {

struct Defaults {
    const char* apiBase;
    const char* contentBase;
    const char* authURL;
    const char* tokenURL;
    const char* scope;
};

Defaults defaultsFor(CloudService s) {
    switch (s) {
    case CloudService::GoogleDrive:
        return {"https://www.googleapis.com", "https://www.googleapis.com",
                "https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
                "https://www.googleapis.com/auth/drive.readonly email"};
    case CloudService::OneDrive:
        return {"https://graph.microsoft.com", "https://graph.microsoft.com",
                "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
                "https://login.microsoftonline.com/common/oauth2/v2.0/token", "Files.Read User.Read offline_access"};
    case CloudService::Dropbox:
        return {"https://api.dropboxapi.com", "https://content.dropboxapi.com",
                "https://www.dropbox.com/oauth2/authorize", "https://api.dropboxapi.com/oauth2/token", ""};
    case CloudService::Box:
        return {"https://api.box.com", "https://api.box.com", "https://account.box.com/api/oauth2/authorize",
                "https://api.box.com/oauth2/token", ""};
    }
    return {"", "", "", "", ""};
}

std::string setting(CloudService s, const char* field, const char* fallback) {
    const std::string key = std::string("cloud.") + CloudEndpoints::name(s) + "." + field;
    auto v = sys::UserDefaults::standard().stringForKey(key);
    std::string value = v && !v->empty() ? *v : std::string(fallback);
    while (!value.empty() && value.back() == '/' && std::string(field) != "scope") value.pop_back();
    return value;
}

// A client secret found in the defaults goes to the key chain and out of
// the defaults. The secret when the key chain cannot take it now (it is then
// used from the defaults), else nothing.
std::optional<std::string> moveClientSecret(CloudService s) {
    const std::string account = CloudEndpoints::name(s);
    const std::string key = "cloud." + account + ".clientSecret";
    auto& defaults = sys::UserDefaults::standard();
    auto inDefaults = defaults.stringForKey(key);
    if (!inDefaults || inDefaults->empty()) return std::nullopt;
    if (!QNKeyChain::addOrUpdatePassword(*inDefaults, account, CloudEndpoints::kClientSecretService)) return inDefaults;
    defaults.removeObjectForKey(key);
    defaults.synchronize();
    return std::nullopt;
}

std::string storedClientSecret(CloudService s) {
    if (auto stillThere = moveClientSecret(s)) return *stillThere;
    return QNKeyChain::getPasswordWithAccount(std::string(CloudEndpoints::name(s)),
                                              std::string(CloudEndpoints::kClientSecretService))
        .value_or("");
}

}  // namespace

void CloudEndpoints::moveClientSecretsToKeyChain() {
    for (CloudService s : {CloudService::GoogleDrive, CloudService::OneDrive, CloudService::Dropbox, CloudService::Box})
        moveClientSecret(s);
}

const char* CloudEndpoints::name(CloudService s) {
    switch (s) {
    case CloudService::GoogleDrive: return "googledrive";
    case CloudService::OneDrive: return "onedrive";
    case CloudService::Dropbox: return "dropbox";
    case CloudService::Box: return "box";
    }
    return "";
}

CloudEndpoints CloudEndpoints::forService(CloudService s) {
    const Defaults d = defaultsFor(s);
    CloudEndpoints e;
    e.apiBase = setting(s, "apiBase", d.apiBase);
    e.contentBase = setting(s, "contentBase", d.contentBase);
    e.authURL = setting(s, "authURL", d.authURL);
    e.tokenURL = setting(s, "tokenURL", d.tokenURL);
    e.clientID = setting(s, "clientID", "");
    e.scope = setting(s, "scope", d.scope);
    return e;
}

std::string CloudEndpoints::clientSecret(CloudService s) { return storedClientSecret(s); }

std::optional<CloudService> CloudEndpoints::fromURL(const std::string& url) {
    for (CloudService s : {CloudService::GoogleDrive, CloudService::OneDrive, CloudService::Dropbox,
                           CloudService::Box}) {
        const std::string prefix = std::string(name(s)) + "://";
        if (url.size() >= prefix.size() && strncasecmp(url.c_str(), prefix.c_str(), prefix.size()) == 0) return s;
    }
    return std::nullopt;
}
